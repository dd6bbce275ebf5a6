// Test seams of the core service, in the test-only library zebcore_testing:
// the product never links them.
#pragma once

#include <cstddef>

#include "zeb/device.h"
#include "zeb/storage.h"

namespace zeb::core::testing {

// Creates the HSM mutex if needed and installs the tables (null: none
// selected), instead of selecting them by HSM type. The crypto tables are the
// software provider's.
void start_with_tables(const DA_Functions_t* device, const SA_Functions_t* store);

// Object buffers: `fail_after` allocations succeed, then every one fails;
// -1 restores normal allocation.
void set_object_alloc_failure(long fail_after) noexcept;
// Called with every object buffer just before it goes back to the heap
// (after it was wiped); null removes the observer.
using FreeObserver = void (*)(const void* p, size_t n);
void set_free_observer(FreeObserver fn) noexcept;

}  // namespace zeb::core::testing
