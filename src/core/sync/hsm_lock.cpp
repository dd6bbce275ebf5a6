// The HSM mutex and its scope guard.
#include "core_internal.h"

namespace zeb::core {

VRK_VOID_PTR g_pHsmMutex = nullptr;

HsmLock::HsmLock() noexcept : rv_(Sync_Lock_Mtx(g_pHsmMutex)) { held_ = (rv_ == VRK_OK); }

HsmLock::~HsmLock() { (void)release(); }  // a destructor has no caller to report to

uint32_t HsmLock::release() noexcept {
  if (!held_) return VRK_OK;
  held_ = false;
  return Sync_Unlock_Mtx(g_pHsmMutex);
}

}  // namespace zeb::core
