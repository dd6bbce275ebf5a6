// Start-up and shutdown of the core service, HSM listing and HSM information.
#include <cstring>

#include "core_internal.h"
#include "oxlu/file.h"
#include "quarzel/port.h"
#include "zeb/se_services.h"
#include "zeb/swhsm_services.h"

using namespace zeb::core;

namespace {

constexpr uint32_t kMaxSoftwareHsms = 4;
constexpr uint32_t kMaxSeHsms = 10;

// Selects the device, storage and crypto tables for an HSM type.
uint32_t select_tables(uint8_t hsm_type) {
  uint32_t rv;
  switch (hsm_type) {
    case VRK_HSM_TYPE_SOFTWARE:
      if ((rv = DA_SetFunctionList(SWD_FUNCTIONS)) != VRK_OK) return rv;
      if ((rv = SA_SetFunctionList(SWStore_FUNCTIONS)) != VRK_OK) return rv;
      return static_cast<uint32_t>(CA_SetFunctionList(hsm_type));
    case VRK_HSM_TYPE_QUILLSTAR:
    case VRK_HSM_TYPE_TALON:
    case VRK_HSM_TYPE_TESTBED:
      if ((rv = DA_SetFunctionList(FWD_FUNCTIONS)) != VRK_OK) return rv;
      if ((rv = SA_SetFunctionList(FWStore_FUNCTIONS)) != VRK_OK) return rv;
      return static_cast<uint32_t>(CA_SetFunctionList(hsm_type));
    default:
      return VRK_ERR_FAILED;
  }
}

}  // namespace

extern "C" {

VRK_RV VRK_ListHSMs(VRK_UCHAR* pHsmType, VRK_UCHAR** ppHsmSnList, VRK_UCHAR** ppHsmLabelList,
                    VRK_UINT32_PTR pulCount) {
  if (pHsmType == nullptr || ppHsmSnList == nullptr || ppHsmLabelList == nullptr || pulCount == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  // The list arguments are flat arrays of 16-byte and 32-byte entries.
  oxlu_clear_file_error();  // what a failure names is this listing's
  auto* snOut = reinterpret_cast<uint8_t*>(ppHsmSnList);
  auto* labelOut = reinterpret_cast<uint8_t*>(ppHsmLabelList);
  uint32_t count = 0;

  uint8_t types[kMaxSeHsms] = {};
  uint8_t sns[kMaxSeHsms][VRK_SN_LEN] = {};
  uint8_t labels[kMaxSeHsms][VRK_LABEL_LEN] = {};
  uint32_t n = 0;
  const uint32_t rv = SWD_ListHSMs(types, &sns[0][0], &labels[0][0], &n);
  if (rv != VRK_OK) return rv;
  for (uint32_t i = 0; i < n && i < kMaxSoftwareHsms; ++i) {
    if (types[i] != VRK_HSM_TYPE_SOFTWARE) continue;
    pHsmType[count] = types[i];
    std::memcpy(snOut + count * VRK_SN_LEN, sns[i], VRK_SN_LEN);
    std::memcpy(labelOut + count * VRK_LABEL_LEN, labels[i], VRK_LABEL_LEN);
    ++count;
  }

  n = 0;
  std::memset(types, 0, sizeof types);
  FWD_ListHSMs(types, &sns[0][0], &labels[0][0], kMaxSeHsms, &n);
  for (uint32_t i = 0; i < n && i < kMaxSeHsms; ++i) {
    pHsmType[count] = types[i];
    std::memcpy(snOut + count * VRK_SN_LEN, sns[i], VRK_SN_LEN);
    std::memcpy(labelOut + count * VRK_LABEL_LEN, labels[i], VRK_LABEL_LEN);
    ++count;
  }
  *pulCount = count;
  return VRK_OK;
}

VRK_RV VRK_Initialize(VRK_HANDLE_PTR phHsm) {
  if (phHsm == nullptr) return VRK_ERR_ARGUMENTS;
  if (g_pHsmMutex == nullptr && Sync_CreateMtx(&g_pHsmMutex) != VRK_OK) {
    g_pHsmMutex = nullptr;
    return VRK_ERR_MUTEX_BAD;
  }
  oxlu_clear_file_error();  // what a failure names is this start-up's
  // Every random draw of the core comes from the OS source; nothing to seed.
  HSM_LOGIN_CONFIG cfg{};
  uint32_t rv = SwHsm_LoadConfig(&cfg);
  if (rv == VRK_OK) rv = select_tables(cfg.HsmType);
  if (rv == VRK_OK) rv = DA_Initialize(cfg.Sn, phHsm);
  quarzel::secure_wipe(&cfg, sizeof cfg);
  if (rv != VRK_OK) return rv;
  STO_TKN_OBJECT_CONFIG_PATH path{};
  return SA_Initialize(&path);
}

VRK_RV VRK_Finalize(VRK_HANDLE hHsm) {
  // The core's sessions end first, while the device is still reachable: a
  // secure element keeps its device and crypto sessions after the link
  // closes, so a later start-up would find them taken. A later start-up also
  // begins with a free table and no provider session left over.
  end_all_sessions();
  const uint32_t rv = DA_Finalize(hHsm);
  if (rv != VRK_OK) return rv;
  const uint32_t destroyed = Sync_DestroyMtx(g_pHsmMutex);
  g_pHsmMutex = nullptr;
  return destroyed;
}

VRK_RV VRK_GetHsmInfo(VRK_HANDLE hHsm, VRK_HSM_INFO_PTR pHSMInfo) {
  if (pHSMInfo == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  return DA_GetHsmInfo(hHsm, pHSMInfo);
}

}  // extern "C"
