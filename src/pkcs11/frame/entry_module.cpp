// Entry points of the library as a whole: start-up, shutdown, information,
// and the opening checks every entry point shares.
#include <mutex>

#include "frame/frame_internal.h"

namespace {

// C_Initialize and C_Finalize run one at a time.
std::mutex g_lifecycle_mutex;

}  // namespace

namespace zebp11 {

CK_RV entry_checks(const Site& site, const EntryChecks& checks) noexcept {
  if (checks.initialised && !isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  for (const void* p : checks.required) {
    if (p == nullptr) return CKR_ARGUMENTS_BAD;
  }
  if (checks.session) {
    log_trace(site);
    const CK_RV rv = P11_CheckSessionExists(*checks.session);
    if (rv != CKR_OK) {
      log_failure(site, rv);
      return rv;
    }
  }
  return CKR_OK;
}

CK_RV exception_to_rv() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return CKR_HOST_MEMORY;
  } catch (...) {
    return CKR_GENERAL_ERROR;
  }
}

}  // namespace zebp11

CK_RV C_Initialize(CK_VOID_PTR pInitArgs) try {
  std::lock_guard lock(g_lifecycle_mutex);
  if (isInitialised()) {
    P11_LOG_W("ZEBP11 already initialized!");
    return CKR_CRYPTOKI_ALREADY_INITIALIZED;
  }
  // The locking callbacks are not needed: the module locks with the
  // operating system's primitives.
  const auto* args = static_cast<const CK_C_INITIALIZE_ARGS*>(pInitArgs);
  if (args != nullptr && args->pReserved != nullptr) {
    P11_LOG_E("pReserved must be set to NULL_PTR");
    return CKR_ARGUMENTS_BAD;
  }
  P11_TRY(P11_Initialize());
  P11_SetInitialised(true);
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_Finalize(CK_VOID_PTR pReserved) try {
  std::lock_guard lock(g_lifecycle_mutex);
  P11_ENTRY_CHECKS();
  if (pReserved != nullptr) return CKR_ARGUMENTS_BAD;
  P11_SetInitialised(false);
  P11_TRY(P11_Finalize());
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_GetInfo(CK_INFO_PTR pInfo) try {
  P11_ENTRY_CHECKS(.required = {pInfo});
  P11_TRY(P11_GetInfo(pInfo));
  return CKR_OK;
}
P11_CATCH_ALL
