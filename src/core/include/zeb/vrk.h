// The core service API (VRK_*): HSMs, tokens, sessions, logins, digests and
// random numbers over whichever back end start-up selected.
#pragma once

#include "zeb/vrk_records.h"
#include "zeb/vrk_types.h"

typedef ZEB_DEVICE_HSM_INFO VRK_HSM_INFO;
typedef VRK_HSM_INFO* VRK_HSM_INFO_PTR;
typedef ZEB_DEVICE_TOKEN_INFO VRK_TOKEN_INFO;
typedef VRK_TOKEN_INFO* VRK_TOKEN_INFO_PTR;
typedef ZEB_DEVICE_TOKEN_POLICY VRK_TOKEN_POLICY;
typedef VRK_TOKEN_POLICY* VRK_TOKEN_POLICY_PTR;
typedef ZEB_DEVICE_TOKEN_SESSION_INFO VRK_SESSION_INFO;
typedef VRK_SESSION_INFO* VRK_SESSION_INFO_PTR;
typedef ZEB_DEVICE_TKN_USER_LIST VRK_TKN_USER_LIST;
typedef VRK_TKN_USER_LIST* VRK_TKN_USER_LIST_PTR;

// The core's HSM policy: the device record with its FIPS byte kept reserved.
typedef struct VRK_HSM_POLICY {
  uint8_t LoginFailCount;
  uint8_t MaxLoginFailCount;
  uint8_t Res[6];
} VRK_HSM_POLICY;
typedef VRK_HSM_POLICY* VRK_HSM_POLICY_PTR;

// One session object: a private heap copy of a complete device object.
typedef struct VRK_SESS_OBJECT {
  uint32_t u32DataLen;
  uint8_t* pObj;  // malloc'd copy owned by the slot; null: free slot
} VRK_SESS_OBJECT;
static_assert(sizeof(VRK_SESS_OBJECT) == 16);

// "QPX-0326" and its terminator.
inline constexpr size_t VRK_VERSION_LEN = 9;

extern "C" {

// Start-up, listing and login configuration.
VRK_RV VRK_GetVersion(char* vrk_version);
void ZEBVRK_set_log_level(int level);
// The arrays must hold 14 entries: 14 type bytes, 14 x 16 and 14 x 32 bytes
// (the list arguments are flat byte arrays).
VRK_RV VRK_ListHSMs(VRK_UCHAR* pHsmType, VRK_UCHAR** ppHsmSnList, VRK_UCHAR** ppHsmLabelList,
                    VRK_UINT32_PTR pulCount);
VRK_RV VRK_SetHsmSnToLoginConfig(VRK_HSM_SN* sn, VRK_UCHAR hsmtype);
// Why this thread's last file access failed, when the system gave a reason:
// one line naming the file ("cannot read ./HSM.cfg: Permission denied"), cut
// to `u32TextLen` bytes with its terminator; an empty text when there was none.
VRK_RV VRK_GetFileError(char* pText, VRK_UINT32 u32TextLen);
VRK_RV VRK_Initialize(VRK_HANDLE_PTR phHsm);
VRK_RV VRK_Finalize(VRK_HANDLE hHsm);
VRK_RV VRK_GetHsmInfo(VRK_HANDLE hHsm, VRK_HSM_INFO_PTR pHSMInfo);

// Sessions and logins.
VRK_RV VRK_OpenHsmSession(VRK_HANDLE hHsm, VRK_HANDLE_PTR phHsmSession);
VRK_RV VRK_CloseHsmSession(VRK_HANDLE hHsmSession);
VRK_RV VRK_GetHsmSessionInfo(VRK_HANDLE hHsmSession, VRK_SESSION_INFO_PTR pHsmSessionInfo);
VRK_RV VRK_OpenTokenSession(VRK_HANDLE hHsm, VRK_TOKEN_ID* pTokenID, VRK_HANDLE_PTR phSession);
VRK_RV VRK_CloseTokenSession(VRK_HANDLE hSession);
VRK_RV VRK_GetTokenSessionInfo(VRK_HANDLE hSession, VRK_SESSION_INFO_PTR pSessionInfo);
VRK_RV VRK_LoginHsmByPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen);
// The administrator login under the name the administration tool uses.
VRK_RV VRK_LoginHsmAdminByPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen);
VRK_RV VRK_LoginHsm(VRK_HANDLE hHsmSession);
VRK_RV VRK_LoginTokenNormalUserByPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen);
VRK_RV VRK_LoginTokenSuperUserByPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pPin, VRK_UINT32 u32PinLen);
VRK_RV VRK_Login(VRK_HANDLE hSession);
VRK_RV VRK_LogoutHsm(VRK_HANDLE hHsmSession);
VRK_RV VRK_LogoutTokenNormalUser(VRK_HANDLE hSession);
VRK_RV VRK_LogoutTokenSuperUser(VRK_HANDLE hSession);
VRK_RV VRK_GetMutexState(VRK_UINT32_PTR pMtxState);

// HSM administration and token management.
VRK_RV VRK_SetHsmLabel(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pHsmLabel, VRK_UINT32 u32HsmLabelLen);
VRK_RV VRK_SetHsmPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pNewPin, VRK_UINT32 u32NewPinLen);
VRK_RV VRK_GetHsmPolicy(VRK_HANDLE hHsm, VRK_HSM_POLICY_PTR pHsmPolicy);
VRK_RV VRK_SetHsmPolicy(VRK_HANDLE hHsmSession, VRK_HSM_POLICY_PTR pHsmPolicy);
VRK_RV VRK_CreateTknByPin(VRK_HANDLE hHsmSession, VRK_UCHAR_PTR pTknPin, VRK_UINT32 u32TknPinLen,
                          VRK_TOKEN_ID* pTknId);
VRK_RV VRK_DeleteToken(VRK_HANDLE hHsmSession, VRK_TOKEN_ID* pTknId);
VRK_RV VRK_ResetVrk(VRK_HANDLE hHsmSession);
VRK_RV VRK_ResetVrkBySn(VRK_HANDLE hHsm, VRK_HSM_SN* Sn);
VRK_RV VRK_ListTokens(VRK_HANDLE hHsm, VRK_TKN_USER_LIST_PTR ptkn_user_list);
VRK_RV VRK_GetTokenInfo(VRK_HANDLE hHsm, VRK_TOKEN_ID* pTokenID, VRK_TOKEN_INFO_PTR pTokenInfo);
VRK_RV VRK_SetTokenLabel(VRK_HANDLE hSession, VRK_UCHAR_PTR pTknLabel, VRK_UINT32 u32TknLabelLen);
VRK_RV VRK_SetTokenNormalUserPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pNewPin, VRK_UINT32 u32NewPinLen);
VRK_RV VRK_SetTokenSuperUserPin(VRK_HANDLE hSession, VRK_UCHAR_PTR pNewPin, VRK_UINT32 u32NewPinLen);
VRK_RV VRK_GetTokenPolicy(VRK_HANDLE hSession, VRK_TOKEN_POLICY_PTR pTknPolicy);
VRK_RV VRK_SetTokenPolicy(VRK_HANDLE hSession, VRK_TOKEN_POLICY_PTR pTknPolicy);
VRK_RV VRK_UnlockTokenNormalUser(VRK_HANDLE hSession, VRK_TOKEN_ID* pTknId);
VRK_RV VRK_ResetToken(VRK_HANDLE hSession);
// The backup image is the device image plus 24 bytes (IV field and salt).
VRK_RV VRK_BackupToken(VRK_HANDLE hSession, VRK_UCHAR_PTR pBackupPin, VRK_UINT32 u32BackupPinLen,
                       VRK_UCHAR_PTR pBackupData, VRK_UINT32_PTR pu32BackupDataLen);
VRK_RV VRK_RestoreToken(VRK_HANDLE hSession, VRK_UCHAR_PTR pBackupPin, VRK_UINT32 u32BackupPinLen,
                        VRK_UCHAR_PTR pBackupData, VRK_UINT32 u32BackupDataLen);
VRK_RV VRK_SetTknKey2Sw(VRK_HANDLE hSession, VRK_UCHAR_PTR pTknKey, VRK_UINT32 u32TknKeyLen, VRK_UCHAR_PTR pSwKey,
                        VRK_UINT32_PTR pu32SwKeyLen);
VRK_RV VRK_SetSwKey2Tkn(VRK_HANDLE hSession, VRK_UCHAR_PTR pSwKey, VRK_UINT32 u32SwKeyLen, VRK_UCHAR_PTR pTknKey,
                        VRK_UINT32_PTR pu32TknKeyLen);
VRK_RV VRK_SetPlainKey2Sw(VRK_HANDLE hSession, VRK_UCHAR_PTR pPlainKey, VRK_UINT32 u32PlainKeyLen,
                          VRK_UCHAR_PTR pSwKey, VRK_UINT32_PTR pu32SwKeyLen);
VRK_RV VRK_SetSwKey2Plain(VRK_HANDLE hSession, VRK_UCHAR_PTR pSwKey, VRK_UINT32 u32SwKeyLen,
                          VRK_UCHAR_PTR pPlainKey, VRK_UINT32_PTR pu32PlainKeyLen);
VRK_RV VRK_GetMechanismList(VRK_UINT32_PTR pMechanismList, VRK_UINT32_PTR pu32Count);
VRK_RV VRK_GetMechanismInfo(VRK_UINT32 ulType, VRK_VOID_PTR pInfo);

// Digest and random numbers (no login needed).
VRK_RV VRK_DigestInit(VRK_HANDLE hSession, VRK_UCHAR HashType);
VRK_RV VRK_DigestUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength);
VRK_RV VRK_DigestFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDigest, VRK_UINT32_PTR pu32DigestLength);
VRK_RV VRK_Digest(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDigest,
                  VRK_UINT32_PTR pu32DigestLength);
VRK_RV VRK_GenerateRandom(VRK_HANDLE hSession, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pData);

// One caller's operation made of several core calls on this thread: a
// session's token keys checked at their first use in the scope serve the
// rest of it, as within a single core call. Scopes nest; each begin is ended
// on the thread that began it.
void VRK_BeginCallScope(void);
void VRK_EndCallScope(void);

}  // extern "C"
