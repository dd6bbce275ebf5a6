// Test seams of the software store (see swhsm/testing.h).
#include "store/sto_internal.h"
#include "swhsm/testing.h"

namespace swhsm::testing {

void set_store_step_hook(StoreStepHook hook) { sto::g_step_hook = hook; }

void clear_store_cache() { sto::cache_clear(); }

}  // namespace swhsm::testing
