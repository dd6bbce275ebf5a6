// The software device's state: the administration directory, the handle of
// the started device and its cached HSM information. The HSM, token and
// session operations and the file layer all read it from here.
#include <mutex>

#include "swd_internal.h"

namespace swd {

char g_hsmAdminPath[SWD_PATH_LEN + 1] = "./";
ZEB_DEVICE_HANDLE g_hHsm = 0;
namespace {
ZEB_DEVICE_HSM_INFO g_HsmInfo{};
std::mutex g_hsm_info_mutex;
}  // namespace

ZEB_DEVICE_HSM_INFO hsm_info() {
  std::lock_guard<std::mutex> guard(g_hsm_info_mutex);
  return g_HsmInfo;
}

bool hsm_handle_ok(ZEB_DEVICE_HANDLE h) { return h != 0 && h == g_hHsm; }

StepHook g_step_hook = nullptr;

void step(const char* name) {
  if (g_step_hook != nullptr) g_step_hook(name);
}

}  // namespace swd

using swd::g_HsmInfo;
using swd::g_hsm_info_mutex;

extern "C" uint32_t _swdev_SetHsmInfo(const HSM_ADMIN_CFG* pHsmAdminCFG) {
  if (pHsmAdminCFG == nullptr) return SWD_ERR_ARGUMENTS;
  const HSM_ADMIN_CFG& cfg = *pHsmAdminCFG;
  ZEB_DEVICE_HSM_INFO info{};
  info.HsmType = cfg.HsmType;
  info.HsmStatus = cfg.HsmStatus;
  std::memcpy(info.HsmSn, cfg.HsmSn, 16);
  std::memcpy(info.HsmLabel, cfg.HsmLabel, 32);
  std::memcpy(info.FwVersion, cfg.FwVersion, 16);
  info.u32TokenCount = cfg.TokenCount;
  info.u32MaxTokenCount = cfg.MaxTokenCount;
  std::lock_guard<std::mutex> guard(g_hsm_info_mutex);
  g_HsmInfo = info;
  return 0;
}
