// The loaded group of a curve, for the EC tests.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "ec/engine.h"

namespace ect {

// The group of a curve with arithmetic (the process stops on any other id).
inline const quarzel::ec::ecpi_group_t& group(uint32_t crv_id) {
  const quarzel::ec::ecpi_group_t* grp = nullptr;
  if (quarzel::ec::ecpi_group_load_and_alloc(&grp, crv_id) != 0) std::abort();
  return *grp;
}

}  // namespace ect
