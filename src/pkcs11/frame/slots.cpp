// The slot table and the token information: one slot per token of the HSM
// that start-up selected, slot ID i for the i-th listed token (a token that
// start-up could not read has no slot; the others keep their IDs). The table is
// written only at start-up and shutdown and read under its lock.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

#include "frame/frame_internal.h"
#include "frame/tables.h"

namespace {

constexpr char kManufacturer[] = "Valdoren Technologies";

// The token slot with this ID; the caller holds the lock. Only the first
// token-count entries are token slots.
const ZEBP11_SLOT_INFO* find_slot_locked(CK_SLOT_ID slotID) noexcept {
  for (const auto& s : p11_slot_table.entries) {
    if (!(s.ck_slot_info.flags & CKF_TOKEN_PRESENT)) break;
    if (s.slotID == slotID) return &s;
  }
  return nullptr;
}

size_t token_count(const VRK_TKN_USER_LIST& list) noexcept { return std::min<size_t>(list.TknNum, VRK_MAX_TOKENS); }

// Token flags from the device's status and failure counters.
CK_FLAGS token_flags(const VRK_TOKEN_INFO& t) noexcept {
  struct StatusFlags {
    uint8_t status;
    CK_FLAGS flags;
  };
  static constexpr StatusFlags kByStatus[] = {
      {ZEB_DEVICE_TKN_UNINIT, CKF_SO_PIN_TO_BE_CHANGED},
      {ZEB_DEVICE_TKN_SUPERUSER_INIT, CKF_TOKEN_INITIALIZED | CKF_USER_PIN_TO_BE_CHANGED},
      {ZEB_DEVICE_TKN_NORMALUSER_INIT, CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED},
      {ZEB_DEVICE_TKN_NORMALUSER_LOCKED, CKF_USER_PIN_LOCKED},
      {ZEB_DEVICE_TKN_TERMINATED, CKF_SO_PIN_LOCKED},
  };
  CK_FLAGS flags = CKF_RNG | CKF_LOGIN_REQUIRED;
  for (const auto& s : kByStatus) {
    if (s.status == t.TknStatus) flags |= s.flags;
  }
  if (t.NormalUserLoginFailCount != 0) flags |= CKF_USER_PIN_COUNT_LOW;
  if (static_cast<uint32_t>(t.MaxNormalUserLoginFailCount - t.NormalUserLoginFailCount) == 1) {
    flags |= CKF_USER_PIN_FINAL_TRY;
  }
  if (t.SuperUserLoginFailCount != 0) flags |= CKF_SO_PIN_COUNT_LOW;
  if (static_cast<uint32_t>(t.MaxSuperUserLoginFailCount - t.SuperUserLoginFailCount) == 1) {
    flags |= CKF_SO_PIN_FINAL_TRY;
  }
  return flags;
}

}  // namespace

void reset_p11_token_info(CK_TOKEN_INFO* info) noexcept {
  *info = CK_TOKEN_INFO{};
  std::memset(info->label, ' ', sizeof info->label);
  std::memset(info->manufacturerID, ' ', sizeof info->manufacturerID);
  std::memset(info->model, ' ', sizeof info->model);
  std::memset(info->serialNumber, ' ', sizeof info->serialNumber);
}

void P11_SlotInfoInit(size_t entry, CK_SLOT_ID slotID, const VRK_UCHAR* tknId, const CK_TOKEN_INFO* info) noexcept {
  static constexpr char kDescription[] = "software simulated slot";
  std::lock_guard lock(p11_slot_table.mutex);
  ZEBP11_SLOT_INFO& s = p11_slot_table.entries[entry];
  s.slotID = slotID;
  std::memset(s.TknId, 0, sizeof s.TknId);
  std::memcpy(s.TknId, tknId, p11_text_len(tknId, sizeof s.TknId));
  if (info == nullptr) {
    s.ck_slot_info.flags = 0;
    return;
  }
  p11_pad_copy(s.ck_slot_info.slotDescription, sizeof s.ck_slot_info.slotDescription, kDescription,
               sizeof kDescription - 1);
  std::memcpy(s.ck_slot_info.manufacturerID, info->manufacturerID, sizeof s.ck_slot_info.manufacturerID);
  s.ck_slot_info.flags = CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE;
  s.ck_slot_info.hardwareVersion = info->hardwareVersion;
  s.ck_slot_info.firmwareVersion = info->firmwareVersion;
}

CK_RV P11_TokenInfoInit(VRK_HANDLE hHsm, const VRK_UCHAR* tknId, const VRK_UCHAR* label, CK_TOKEN_INFO* info) noexcept {
  reset_p11_token_info(info);
  p11_pad_copy(info->label, sizeof info->label, label, P11_LABEL_LEN);
  p11_pad_copy(info->manufacturerID, sizeof info->manufacturerID, kManufacturer, sizeof kManufacturer - 1);
  VRK_HSM_INFO hsm{};
  P11_TRY(VRK_GetHsmInfo(hHsm, &hsm));
  VRK_UCHAR id[P11_TOKEN_ID_LEN];
  std::memcpy(id, tknId, sizeof id);
  VRK_TOKEN_INFO tkn{};
  P11_TRY(VRK_GetTokenInfo(hHsm, id, &tkn));
  std::memcpy(info->serialNumber, hsm.HsmSn, sizeof info->serialNumber);
  info->flags = token_flags(tkn);
  info->ulMaxSessionCount = tkn.MaxSessionCount;
  info->ulMaxRwSessionCount = tkn.MaxSessionCount;
  info->ulSessionCount = tkn.SessionCount;
  info->ulRwSessionCount = tkn.SessionCount;
  info->ulMaxPinLen = P11_MAX_PIN_LEN;
  info->ulMinPinLen = P11_MIN_PIN_LEN;
  info->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
  info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
  return CKR_OK;
}

CK_RV P11_CheckSlotIDValid(CK_SLOT_ID slotID) noexcept {
  std::lock_guard lock(p11_slot_table.mutex);
  return find_slot_locked(slotID) != nullptr ? CKR_OK : CKR_SLOT_ID_INVALID;
}

CK_RV P11_SlotIDtoVRKTokenID(CK_SLOT_ID slotID, VRK_UCHAR* tknId) noexcept {
  if (tknId == nullptr) return CKR_ARGUMENTS_BAD;
  std::lock_guard lock(p11_slot_table.mutex);
  const ZEBP11_SLOT_INFO* s = find_slot_locked(slotID);
  if (s == nullptr) return CKR_SLOT_ID_INVALID;
  std::memcpy(tknId, s->TknId, sizeof s->TknId);
  return CKR_OK;
}

CK_ULONG P11_GetTokenCounts() noexcept {
  std::lock_guard lock(p11_slot_table.mutex);
  CK_ULONG n = 0;
  for (const auto& s : p11_slot_table.entries) {
    if (s.ck_slot_info.flags & CKF_TOKEN_PRESENT) ++n;
  }
  return n;
}

CK_RV P11_GetSlotList(CK_SLOT_ID* list, CK_ULONG* count) noexcept {
  std::lock_guard lock(p11_slot_table.mutex);
  CK_ULONG n = 0;
  for (const auto& s : p11_slot_table.entries) {
    if (s.ck_slot_info.flags & CKF_TOKEN_PRESENT) ++n;
  }
  // PKCS#11 v3.0 §5.2: a list too short for the slots gets the count and
  // CKR_BUFFER_TOO_SMALL, and nothing is written into it.
  if (list != nullptr && *count < n) {
    *count = n;
    return CKR_BUFFER_TOO_SMALL;
  }
  if (list != nullptr) {
    for (CK_ULONG i = 0; i < n; ++i) list[i] = p11_slot_table.entries[i].slotID;
  }
  *count = n;
  return CKR_OK;
}

CK_RV P11_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO* info) noexcept {
  std::lock_guard lock(p11_slot_table.mutex);
  const ZEBP11_SLOT_INFO* s = find_slot_locked(slotID);
  if (s == nullptr) return CKR_SLOT_ID_INVALID;
  *info = s->ck_slot_info;
  return CKR_OK;
}

CK_RV P11_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO* info) noexcept {
  if (info == nullptr) return CKR_ARGUMENTS_BAD;
  const VRK_HANDLE hsm = P11_GetHsmHandle();
  VRK_TKN_USER_LIST list{};
  P11_TRY_CORE(VRK_ListTokens(hsm, &list));
  reset_p11_token_info(info);
  VRK_UCHAR tknId[P11_TOKEN_ID_LEN];
  if (P11_SlotIDtoVRKTokenID(slotID, tknId) != CKR_OK) return CKR_SLOT_ID_INVALID;
  const size_t n = token_count(list);
  size_t j = 0;
  while (j < n && std::memcmp(list.TknId[j], tknId, sizeof tknId) != 0) ++j;
  if (j == n) return CKR_SLOT_ID_INVALID;
  P11_TRY(P11_TokenInfoInit(hsm, list.TknId[j], list.TknLabel[j], info));
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char utc[17] = {};
  std::strftime(utc, sizeof utc, "%Y%m%d%H%M%S", &tm);
  std::memcpy(info->utcTime, utc, sizeof info->utcTime);
  return CKR_OK;
}
