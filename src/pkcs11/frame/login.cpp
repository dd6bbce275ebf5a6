// Login and logout. A login belongs to one session: it is made on that
// session's core session alone, and the session's state follows it. A
// session where one user is logged in takes no login of the other
// (CKR_USER_ANOTHER_ALREADY_LOGGED_IN) until it logs out.
#include "frame/frame_internal.h"

namespace {

bool is_user(CK_STATE s) noexcept { return s == CKS_RO_USER_FUNCTIONS || s == CKS_RW_USER_FUNCTIONS; }

CK_STATE user_state(const CK_SESSION_INFO& info) noexcept {
  return (info.flags & CKF_RW_SESSION) ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
}

CK_STATE public_state(const CK_SESSION_INFO& info) noexcept {
  return (info.flags & CKF_RW_SESSION) ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
}

}  // namespace

CK_RV P11_LoginSO(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) noexcept {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  P11_TRY(VRK_LoginTokenSuperUserByPin(hVRK, pPin, static_cast<VRK_UINT32>(ulPinLen)));
  return CKR_OK;
}

CK_RV P11_LoginUser(CK_SESSION_HANDLE hSession, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) noexcept {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  P11_TRY(VRK_LoginTokenNormalUserByPin(hVRK, pPin, static_cast<VRK_UINT32>(ulPinLen)));
  return CKR_OK;
}

CK_RV P11_Logout(CK_SESSION_HANDLE hSession) noexcept {
  VRK_HANDLE hVRK = 0;
  P11_TRY(P11_GetVRKSessionHdle(hSession, &hVRK));
  CK_SESSION_INFO info{};
  P11_TRY(P11_GetSessionInfo(hSession, &info));
  if (info.state == CKS_RW_SO_FUNCTIONS) {
    P11_TRY_CORE(VRK_LogoutTokenSuperUser(hVRK));
  } else if (is_user(info.state)) {
    P11_TRY_CORE(VRK_LogoutTokenNormalUser(hVRK));
  }
  return P11_SetSessionState(hSession, public_state(info));
}

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) try {
  P11_ENTRY_CHECKS(.required = {pPin});
  if (!zebp11::pin_length_ok(ulPinLen)) return CKR_PIN_LEN_RANGE;
  CK_SESSION_INFO info{};
  if (userType == CKU_SO) {
    if (P11_CheckROSessionExists()) return CKR_SESSION_READ_ONLY_EXISTS;
    P11_TRY(P11_GetSessionInfo(hSession, &info));
    if (info.state == CKS_RW_SO_FUNCTIONS) return CKR_USER_ALREADY_LOGGED_IN;
    if (is_user(info.state)) return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    P11_TRY(P11_LoginSO(hSession, pPin, ulPinLen));
    P11_TRY(P11_SetSessionState(hSession, CKS_RW_SO_FUNCTIONS));
    return CKR_OK;
  }
  if (userType == CKU_USER) {
    P11_TRY(P11_GetSessionInfo(hSession, &info));
    if (is_user(info.state)) return CKR_USER_ALREADY_LOGGED_IN;
    if (info.state == CKS_RW_SO_FUNCTIONS) return CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    P11_TRY(P11_LoginUser(hSession, pPin, ulPinLen));
    P11_TRY(P11_SetSessionState(hSession, user_state(info)));
    return CKR_OK;
  }
  return CKR_USER_TYPE_INVALID;
}
P11_CATCH_ALL

CK_RV C_Logout(CK_SESSION_HANDLE hSession) try {
  P11_ENTRY_CHECKS(.session = hSession);
  P11_TRY(P11_Logout(hSession));
  return CKR_OK;
}
P11_CATCH_ALL

// Logins by user name are not offered: a token has one user and one SO.
CK_RV C_LoginUser(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  zebp11::not_ready("C_LoginUser");
  return CKR_FUNCTION_NOT_SUPPORTED;
}
