// Test seam of the core service: start it on tables that a test supplies
// (a fake device, a recording store) instead of selecting them by HSM type.
#pragma once

#include "zeb/device.h"
#include "zeb/storage.h"

namespace zeb::core::testing {

// Creates the HSM mutex if needed and installs the tables (null: none
// selected). The crypto tables are the software provider's.
void start_with_tables(const DA_Functions_t* device, const SA_Functions_t* store);

}  // namespace zeb::core::testing
