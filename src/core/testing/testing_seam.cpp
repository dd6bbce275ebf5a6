// Test seam: start the core on caller-supplied tables.
#include "core_internal.h"
#include "zeb/core_testing.h"

namespace zeb::core::testing {

void start_with_tables(const DA_Functions_t* device, const SA_Functions_t* store) {
  if (g_pHsmMutex == nullptr) Sync_CreateMtx(&g_pHsmMutex);
  set_device_table(device);
  set_store_table(store);
  CA_SetFunctionList(VRK_HSM_TYPE_SOFTWARE);
}

}  // namespace zeb::core::testing
