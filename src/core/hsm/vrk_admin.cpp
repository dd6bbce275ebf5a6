// HSM administration: label, PIN and policy of the HSM, token creation and
// deletion, HSM reset, token listing and information.
#include <cstring>
#include <memory>

#include "core_internal.h"
#include "oxlu/file.h"

using namespace zeb::core;

namespace {

// CKR_TOKEN_NOT_PRESENT, as the devices answer when they hold no token list.
constexpr uint32_t kNoSuchToken = 0x0E0;

// Opening checks of the operations that need the administrator: the session
// and its login. 0 when the caller may go on, else the code to return.
uint32_t admin_session(VRK_HANDLE h, VRK_SESSION_CTX** out) {
  const SessionRef ctx(h);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  const uint32_t rv = SwSess_checkHSMAdminLoggedIn(ctx->SessStatus);
  if (rv != VRK_OK) return rv;
  *out = ctx;
  return VRK_OK;
}

}  // namespace

extern "C" {

VRK_RV VRK_SetHsmLabel(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pHsmLabel, VRK_UINT32 u32HsmLabelLen) {
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  VRK_SESSION_CTX* ctx = nullptr;
  uint32_t rv = admin_session(hHsmSession, &ctx);
  if (rv == VRK_OK) rv = check_label(pHsmLabel, u32HsmLabelLen);
  if (rv == VRK_OK) rv = DA_SetHsmLabel(ctx->hSe, pHsmLabel, u32HsmLabelLen);
  return rv;
}

VRK_RV VRK_SetHsmPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pNewPin, VRK_UINT32 u32NewPinLen) {
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  VRK_SESSION_CTX* ctx = nullptr;
  uint32_t rv = admin_session(hHsmSession, &ctx);
  if (rv == VRK_OK) rv = check_new_pin(pNewPin, u32NewPinLen);
  if (rv == VRK_OK) rv = DA_SetHsmPin(ctx->hSe, pNewPin, u32NewPinLen);
  return rv;
}

VRK_RV VRK_GetHsmPolicy(VRK_HANDLE hHsm, VRK_HSM_POLICY_PTR pHsmPolicy) {
  if (pHsmPolicy == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  return DA_GetHsmPolicy(hHsm, reinterpret_cast<ZEB_DEVICE_HSM_POLICY*>(pHsmPolicy));
}

VRK_RV VRK_SetHsmPolicy(VRK_HANDLE hHsmSession, VRK_HSM_POLICY_PTR pHsmPolicy) {
  if (pHsmPolicy == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  VRK_SESSION_CTX* ctx = nullptr;
  const uint32_t rv = admin_session(hHsmSession, &ctx);
  if (rv != VRK_OK) return rv;
  return DA_SetHsmPolicy(ctx->hSe, reinterpret_cast<ZEB_DEVICE_HSM_POLICY*>(pHsmPolicy)) == VRK_OK
             ? VRK_OK
             : VRK_ERR_FAILED;
}

VRK_RV VRK_CreateTknByPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pTknPin, VRK_UINT32 u32TknPinLen,
                          VRK_TOKEN_ID* pTknId) {
  if (pTknId == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  VRK_SESSION_CTX* ctx = nullptr;
  uint32_t rv = admin_session(hHsmSession, &ctx);
  if (rv == VRK_OK) rv = check_new_pin(pTknPin, u32TknPinLen);
  if (rv == VRK_OK) rv = DA_CreateTokenByPin(ctx->hSe, pTknPin, u32TknPinLen, pTknId);
  if (rv != VRK_OK) return rv;
  PERSISTENCY_INPUT input;
  SwStore_SetStoInput(ctx->hSe, ctx->HsmSn, pTknId, &input);
  return SA_CreateTokenStorage(&input);
}

VRK_RV VRK_DeleteToken(VRK_HANDLE hHsmSession, VRK_TOKEN_ID* pTknId) {
  if (pTknId == nullptr) return VRK_ERR_ARGUMENTS;
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  VRK_SESSION_CTX* ctx = nullptr;
  uint32_t rv = admin_session(hHsmSession, &ctx);
  if (rv != VRK_OK) return rv;
  // The devices answer success for a token they do not hold: a token that is
  // not listed is refused here, whatever else the HSM holds. The device lists
  // tokens by its HSM handle, not by the administrator's session.
  ZEB_DEVICE_TKN_USER_LIST list{};
  rv = DA_ListTokens(ctx->hHsm, &list);
  if (rv != VRK_OK) return rv;
  static constexpr uint8_t kEmpty[VRK_ID_LEN] = {};
  bool listed = false;
  for (const auto& id : list.TknId) {
    listed = listed || (std::memcmp(id, kEmpty, VRK_ID_LEN) != 0 && std::memcmp(pTknId, id, VRK_ID_LEN) == 0);
  }
  if (!listed) return kNoSuchToken;
  // A secure element's first token cannot be deleted.
  const DA_Functions_t* table = DA_GetFunctionList();
  if (table != nullptr && table->func_type == FWD_FUNCTIONS && std::memcmp(pTknId, list.TknId[0], VRK_ID_LEN) == 0) {
    return VRK_ERR_FIRST_TOKEN;
  }
  return DA_DeleteToken(ctx->hSe, pTknId);
}

VRK_RV VRK_ResetVrk(VRK_HANDLE hHsmSession) {
  HsmLock lock;
  if (!lock.ok()) return lock.error();
  VRK_SESSION_CTX* ctx = nullptr;
  uint32_t rv = admin_session(hHsmSession, &ctx);
  if (rv != VRK_OK) return rv;
  if ((rv = DA_ResetVrk(ctx->hSe)) != VRK_OK) return rv;
  uint8_t tokenId[VRK_ID_LEN] = {};
  uint8_t tokenSn[VRK_SN_LEN] = {};
  if ((rv = DA_CreateDefaultToken(ctx->hSe, tokenId, tokenSn)) != VRK_OK) return rv;
  ZEB_DEVICE_TKN_USER_LIST list{};
  if ((rv = DA_ListTokens(ctx->hHsm, &list)) != VRK_OK) return rv;
  PERSISTENCY_INPUT input;
  SwStore_SetStoInput(ctx->hSe, ctx->HsmSn, list.TknId[0], &input);
  if ((rv = SA_CreateTokenStorage(&input)) != VRK_OK) return rv;
  if ((rv = DA_LogoutHsm(ctx->hSe)) != VRK_OK) return rv;
  ctx->SessStatus = VRK_SESS_IDLE;
  if ((rv = DA_CloseHsmSession(ctx->hSe)) != VRK_OK) return rv;
  // The reset ends the calling session.
  release_slot(ctx);
  return VRK_OK;
}

VRK_RV VRK_ResetVrkBySn(VRK_HANDLE hHsm, VRK_HSM_SN* Sn) {
  if (Sn == nullptr) return VRK_ERR_ARGUMENTS;
  ZEB_DEVICE_HSM_INFO info{};
  uint32_t rv = DA_GetHsmInfo(hHsm, &info);
  if (rv != VRK_OK) return rv;
  if (info.HsmStatus == VRK_HSM_FACTORY) return VRK_OK;
  if ((rv = DA_ResetVrkBySn(hHsm, Sn)) != VRK_OK) return rv;
  uint8_t tokenId[VRK_ID_LEN] = {};
  uint8_t tokenSn[VRK_SN_LEN] = {};
  if ((rv = DA_CreateDefaultToken(hHsm, tokenId, tokenSn)) != VRK_OK) return rv;
  ZEB_DEVICE_TKN_USER_LIST list{};
  if ((rv = DA_ListTokens(hHsm, &list)) != VRK_OK) return rv;
  PERSISTENCY_INPUT input;
  SwStore_SetStoInput(hHsm, Sn, list.TknId[0], &input);
  if ((rv = SA_CreateTokenStorage(&input)) != VRK_OK) return rv;
  STO_LAYOUT out{};
  return SA_SetLayout(&input, nullptr, &out);
}

VRK_RV VRK_ListTokens(VRK_HANDLE hHsm, VRK_TKN_USER_LIST_PTR ptkn_user_list) {
  if (ptkn_user_list == nullptr) return VRK_ERR_ARGUMENTS;
  oxlu_clear_file_error();  // what a failure names is this listing's
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  ZEB_DEVICE_TKN_USER_LIST list{};
  if (DA_ListTokens(hHsm, &list) != VRK_OK) return VRK_ERR_FAILED;
  *ptkn_user_list = list;
  return VRK_OK;
}

VRK_RV VRK_GetTokenInfo(VRK_HANDLE hHsm, VRK_TOKEN_ID* pTokenID, VRK_TOKEN_INFO_PTR pTokenInfo) {
  if (pTokenID == nullptr || pTokenInfo == nullptr) return VRK_ERR_ARGUMENTS;
  oxlu_clear_file_error();  // what a failure names is this token's
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  return DA_GetTokenInfo(hHsm, pTokenID, pTokenInfo) == VRK_OK ? VRK_OK : VRK_ERR_FAILED;
}

VRK_RV VRK_GetMechanismList(VRK_UINT32_PTR pMechanismList, VRK_UINT32_PTR pu32Count) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  return static_cast<VRK_RV>(CA_GetMechanismList(pMechanismList, pu32Count));
}

VRK_RV VRK_GetMechanismInfo(VRK_UINT32 ulType, VRK_VOID_PTR pInfo) {
  HsmLock lock;
  if (!lock.ok()) return VRK_ERR_MUTEX_BAD;
  return static_cast<VRK_RV>(CA_GetMechanismInfo(ulType, pInfo));
}

}  // extern "C"
