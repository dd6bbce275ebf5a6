// Names and meanings of the result codes an administrator may meet, for the
// one line the tool writes on standard error when a command fails.
#pragma once

#include <cstdint>

namespace velm {

struct RvName {
  uint32_t code;
  const char* name;
  const char* meaning;
};

// The entry of `code`, or nullptr when it has none.
const RvName* find_rv_name(uint32_t code);

}  // namespace velm
