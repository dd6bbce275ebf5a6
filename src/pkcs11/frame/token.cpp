// Token initialisation and PINs. Each worker proves a PIN on a temporary core
// session of the token, which it always closes again.
#include <algorithm>
#include <cstring>

#include "frame/frame_internal.h"

namespace {

// A core session on one token for the length of one worker call.
class TempSession {
 public:
  TempSession() = default;
  TempSession(const TempSession&) = delete;
  TempSession& operator=(const TempSession&) = delete;
  ~TempSession() {
    if (handle != 0) (void)VRK_CloseTokenSession(handle);
  }
  VRK_HANDLE handle = 0;
};

// The new label conflicts with any listed label that begins with it (the
// token's own included); so the empty label always conflicts.
CK_RV check_token_label_conflict(const CK_UTF8CHAR* pLabel) noexcept {
  VRK_TKN_USER_LIST list{};
  (void)VRK_ListTokens(P11_GetHsmHandle(), &list);
  const size_t n = p11_text_len(pLabel, P11_LABEL_LEN);
  const size_t tokens = std::min<size_t>(list.TknNum, VRK_MAX_TOKENS);
  for (size_t i = 0; i < tokens; ++i) {
    if (std::memcmp(list.TknLabel[i], pLabel, n) == 0) return CKR_ARGUMENTS_BAD;
  }
  return CKR_OK;
}

CK_RV P11_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel,
                    CK_BBOOL reInitToken) noexcept {
  VRK_UCHAR tknId[P11_TOKEN_ID_LEN] = {};
  P11_TRY(P11_SlotIDtoVRKTokenID(slotID, tknId));
  P11_TRY(check_token_label_conflict(pLabel));
  const VRK_HANDLE hsm = P11_GetHsmHandle();
  const auto pinLen = static_cast<VRK_UINT32>(ulPinLen);
  TempSession temp;
  if (reInitToken) {
    // The caller's PIN must be the current SO PIN; the core then wipes the
    // token's objects and sets the user PIN to the token's serial number.
    P11_TRY(VRK_OpenTokenSession(hsm, tknId, &temp.handle));
    P11_TRY(VRK_LoginTokenSuperUserByPin(temp.handle, pPin, pinLen));
    P11_TRY(VRK_ResetToken(temp.handle));
  } else {
    // A token never initialised has the HSM's serial number as its SO PIN.
    VRK_HSM_INFO info{};
    P11_TRY(VRK_GetHsmInfo(hsm, &info));
    P11_TRY(VRK_OpenTokenSession(hsm, tknId, &temp.handle));
    P11_TRY(VRK_LoginTokenSuperUserByPin(temp.handle, info.HsmSn, sizeof info.HsmSn));
    P11_TRY(VRK_SetTokenSuperUserPin(temp.handle, pPin, pinLen));
  }
  const auto labelLen = static_cast<VRK_UINT32>(p11_text_len(pLabel, P11_LABEL_LEN));
  P11_TRY(VRK_SetTokenLabel(temp.handle, pLabel, labelLen));
  return CKR_OK;
}

CK_RV P11_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen,
                  CK_BBOOL unlockNormalUser) noexcept {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  if (unlockNormalUser) {
    VRK_UCHAR tknId[P11_TOKEN_ID_LEN] = {};
    P11_TRY(P11_GetVRKTokenId(hSession, tknId));
    P11_TRY(VRK_UnlockTokenNormalUser(hVRK, tknId));
  }
  P11_TRY(VRK_SetTokenNormalUserPin(hVRK, pPin, static_cast<VRK_UINT32>(ulPinLen)));
  return CKR_OK;
}

// The two core sessions of a PIN change: a temporary session of the caller's
// token, on which the old PIN is proven, and the session on which the new PIN
// is set. That is the caller's core session, which carries its login; a
// read/write public session has no login of its own, so there it is the
// temporary session that proved the old PIN.
struct PinChange {
  TempSession temp;
  VRK_HANDLE target = 0;
};

CK_RV open_pin_change(CK_SESSION_HANDLE hSession, PinChange& change) noexcept {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  CK_SESSION_INFO info{};
  P11_TRY(P11_GetSessionInfo(hSession, &info));
  VRK_UCHAR tknId[P11_TOKEN_ID_LEN] = {};
  P11_TRY(P11_SlotIDtoVRKTokenID(info.slotID, tknId));
  P11_TRY(VRK_OpenTokenSession(P11_GetHsmHandle(), tknId, &change.temp.handle));
  change.target = info.state == CKS_RW_PUBLIC_SESSION ? change.temp.handle : hVRK;
  return CKR_OK;
}

CK_RV P11_ChangeSOPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
                      CK_ULONG ulNewLen) noexcept {
  PinChange change;
  P11_TRY(open_pin_change(hSession, change));
  P11_TRY(VRK_LoginTokenSuperUserByPin(change.temp.handle, pOldPin, static_cast<VRK_UINT32>(ulOldLen)));
  P11_TRY(VRK_SetTokenSuperUserPin(change.target, pNewPin, static_cast<VRK_UINT32>(ulNewLen)));
  return CKR_OK;
}

CK_RV P11_ChangeUserPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen,
                        CK_UTF8CHAR_PTR pNewPin, CK_ULONG ulNewLen) noexcept {
  PinChange change;
  P11_TRY(open_pin_change(hSession, change));
  P11_TRY(VRK_LoginTokenNormalUserByPin(change.temp.handle, pOldPin, static_cast<VRK_UINT32>(ulOldLen)));
  P11_TRY(VRK_SetTokenNormalUserPin(change.target, pNewPin, static_cast<VRK_UINT32>(ulNewLen)));
  return CKR_OK;
}

}  // namespace

CK_RV C_InitToken(CK_SLOT_ID slotID, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen, CK_UTF8CHAR_PTR pLabel) try {
  P11_ENTRY_CHECKS(.required = {pPin, pLabel});
  if (!zebp11::pin_length_ok(ulPinLen)) return CKR_PIN_LEN_RANGE;
  P11_TRY(P11_CheckSlotIDValid(slotID));
  CK_TOKEN_INFO info{};
  P11_TRY(P11_GetTokenInfo(slotID, &info));
  if (info.ulSessionCount != 0) return CKR_SESSION_EXISTS;
  const CK_BBOOL reInit = (info.flags & CKF_TOKEN_INITIALIZED) ? CK_TRUE : CK_FALSE;
  P11_TRY(P11_InitToken(slotID, pPin, ulPinLen, pLabel, reInit));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_InitPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) try {
  P11_ENTRY_CHECKS(.required = {pPin});
  if (!zebp11::pin_length_ok(ulPinLen)) return CKR_PIN_LEN_RANGE;
  P11_TRY(P11_CheckSessionExists(hSession));
  CK_SESSION_INFO session{};
  P11_TRY(P11_GetSessionInfo(hSession, &session));
  if (session.state != CKS_RW_SO_FUNCTIONS) return CKR_USER_NOT_LOGGED_IN;
  CK_TOKEN_INFO info{};
  P11_TRY(P11_GetTokenInfo(session.slotID, &info));
  const CK_BBOOL unlock = (info.flags & CKF_USER_PIN_LOCKED) ? CK_TRUE : CK_FALSE;
  P11_TRY(P11_InitPIN(hSession, pPin, ulPinLen, unlock));
  return CKR_OK;
}
P11_CATCH_ALL

CK_RV C_SetPIN(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pOldPin, CK_ULONG ulOldLen, CK_UTF8CHAR_PTR pNewPin,
               CK_ULONG ulNewLen) try {
  P11_ENTRY_CHECKS(.required = {pOldPin, pNewPin});
  if (!zebp11::pin_length_ok(ulOldLen) || !zebp11::pin_length_ok(ulNewLen)) return CKR_PIN_LEN_RANGE;
  CK_SESSION_INFO session{};
  P11_TRY(P11_GetSessionInfo(hSession, &session));
  switch (session.state) {
    case CKS_RW_SO_FUNCTIONS:
      P11_TRY(P11_ChangeSOPIN(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen));
      return CKR_OK;
    case CKS_RW_PUBLIC_SESSION:
    case CKS_RW_USER_FUNCTIONS:
      P11_TRY(P11_ChangeUserPIN(hSession, pOldPin, ulOldLen, pNewPin, ulNewLen));
      return CKR_OK;
    default:
      return CKR_SESSION_READ_ONLY;
  }
}
P11_CATCH_ALL
