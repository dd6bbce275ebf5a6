// The initialised flag and the core HSM handle.
#include "frame/module_state.h"

#include <atomic>

namespace {

std::atomic<bool> g_initialised{false};
std::atomic<VRK_HANDLE> gl_Hsm{0};

}  // namespace

bool isInitialised() noexcept { return g_initialised.load(std::memory_order_acquire); }

void P11_SetInitialised(bool on) noexcept { g_initialised.store(on, std::memory_order_release); }

VRK_HANDLE P11_GetHsmHandle() noexcept { return gl_Hsm.load(std::memory_order_acquire); }

void P11_SetHsmHandle(VRK_HANDLE hsm) noexcept { gl_Hsm.store(hsm, std::memory_order_release); }
