// Test seams of the object buffers (see zeb/core_testing.h).
#include "object/object_internal.h"
#include "zeb/core_testing.h"

namespace zeb::core::testing {

void set_object_alloc_failure(long fail_after) noexcept { seams::object_alloc_budget.store(fail_after); }

void set_free_observer(FreeObserver fn) noexcept { seams::object_free_observer.store(fn); }

}  // namespace zeb::core::testing
