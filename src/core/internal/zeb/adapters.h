// The core's device, storage and crypto adapters: each forwards through the
// table that start-up selected. Also the core session record and the session
// table helpers that the core's layers share.
#pragma once

#include "zeb/crypto.h"
#include "zeb/device.h"
#include "zeb/storage.h"
#include "zeb/vrk.h"

static_assert(sizeof(VRK_HSM_POLICY) == sizeof(ZEB_DEVICE_HSM_POLICY));

// One core session.
typedef struct VRK_SESSION_CTX {
  VRK_HANDLE hVrk;  // 0: free slot
  uint32_t hHsm;
  uint32_t hSe;     // device session
  VRK_HSM_SN HsmSn[16];
  VRK_TOKEN_ID TknId[16];  // zero for an HSM session
  CryptoAdapterCtx CaCtx;
  VRK_TOKEN_STATUS TknStatus;
  VRK_SESSION_STATUS SessStatus;
  VRK_SESS_OBJECT s_objlist[256];
} VRK_SESSION_CTX;
static_assert(offsetof(VRK_SESSION_CTX, CaCtx) == 48);
static_assert(offsetof(VRK_SESSION_CTX, SessStatus) == 7292);
static_assert(offsetof(VRK_SESSION_CTX, s_objlist) == 7296);
static_assert(sizeof(VRK_SESSION_CTX) == 11392);

extern "C" {

// Device adapter. Every DA_* returns VRK_ERR_FAILED while no table is
// selected, else the table's result unchanged.
[[nodiscard]] uint32_t DA_SetFunctionList(zeb_device_function_type func_type);
const DA_Functions_t* DA_GetFunctionList(void);
[[nodiscard]] uint32_t DA_GetVersion(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_VERSION* pVersion);
[[nodiscard]] uint32_t DA_Initialize(ZEB_DEVICE_HSM_SN* pSn, ZEB_DEVICE_HANDLE_PTR phHsm);
[[nodiscard]] uint32_t DA_Finalize(ZEB_DEVICE_HANDLE hHsm);
[[nodiscard]] uint32_t DA_GetHsmInfo(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pInfo);
[[nodiscard]] uint32_t DA_LoginHsmByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t DA_SetHsmLabel(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pLabel, uint32_t u32LabelLen);
[[nodiscard]] uint32_t DA_SetHsmPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t DA_GetHsmPolicy(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_POLICY* pPolicy);
[[nodiscard]] uint32_t DA_SetHsmPolicy(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy);
[[nodiscard]] uint32_t DA_CreateToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                      ZEB_DEVICE_TOKEN_SN* pTknSn);
[[nodiscard]] uint32_t DA_CreateDefaultToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                             ZEB_DEVICE_TOKEN_SN* pTknSn);
[[nodiscard]] uint32_t DA_CreateTokenByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32PinLen,
                                           ZEB_DEVICE_TOKEN_ID* pTknId);
[[nodiscard]] uint32_t DA_DeleteToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId);
[[nodiscard]] uint32_t DA_UnlockTokenNormalUser(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId);
[[nodiscard]] uint32_t DA_ResetVrk(ZEB_DEVICE_HANDLE hHsmSession);
[[nodiscard]] uint32_t DA_ResetVrkBySn(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_SN* pSn);
[[nodiscard]] uint32_t DA_LogoutHsm(ZEB_DEVICE_HANDLE hHsmSession);
[[nodiscard]] uint32_t DA_ListTokens(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* pList);
[[nodiscard]] uint32_t DA_GetTokenStatus(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, uint8_t* pStatus);
[[nodiscard]] uint32_t DA_GetTokenInfo(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId,
                                       ZEB_DEVICE_TOKEN_INFO* pInfo);
[[nodiscard]] uint32_t DA_LoginTokenByPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t DA_LoginTokenSuperUserByPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t DA_SetTokenLabel(ZEB_DEVICE_HANDLE hSession, uint8_t* pLabel, uint32_t u32LabelLen);
[[nodiscard]] uint32_t DA_SetTokenPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t DA_SetTokenSuperUserPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t DA_GetTokenSn(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SN* pTknSn);
[[nodiscard]] uint32_t DA_GetTokenPolicy(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy);
[[nodiscard]] uint32_t DA_SetTokenPolicy(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy);
uint32_t DA_BackupToken(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen, uint8_t* pData,
                        uint32_t* pu32DataLen);
uint32_t DA_RestoreToken(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen, uint8_t* pData,
                         uint32_t u32DataLen);
[[nodiscard]] uint32_t DA_LogoutToken(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t DA_LogoutTokenSuperUser(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t DA_OpenHsmSession(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HANDLE_PTR phHsmSession);
[[nodiscard]] uint32_t DA_CloseHsmSession(ZEB_DEVICE_HANDLE hHsmSession);
[[nodiscard]] uint32_t DA_GetHsmSessInfo(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
[[nodiscard]] uint32_t DA_OpenTokenSession(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId,
                                           ZEB_DEVICE_HANDLE_PTR phSession);
[[nodiscard]] uint32_t DA_CloseTokenSession(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t DA_GetTokenSessionInfo(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
uint32_t DA_SetTknKey2Sw(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknKey, uint32_t u32TknKeyLen, uint8_t* pSwKey,
                         uint32_t* pu32SwKeyLen);
uint32_t DA_SetSwKey2Tkn(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen, uint8_t* pTknKey,
                         uint32_t* pu32TknKeyLen);
[[nodiscard]] uint32_t DA_GenSwKey(ZEB_DEVICE_HANDLE hSession, uint8_t* pKey, uint32_t* pu32KeyLen);
uint32_t DA_SetObject(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext,
                      uint32_t u32ContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen);
uint32_t DA_GetObjMetaPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                          ZEB_DEVICE_OBJECT_META* pMeta);
uint32_t DA_GetObjCxtPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen, uint8_t* pContext,
                         uint32_t* pu32ContextLen);
uint32_t DA_DivideObj(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                      ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext, uint32_t* pu32ContextLen);
[[nodiscard]] uint32_t DA_CheckObjMAC(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen);
uint32_t DA_UpdateObjectMeta(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                             ZEB_DEVICE_OBJECT_META* pMeta);

// Storage adapter. Failures are reported on standard output and returned.
[[nodiscard]] uint32_t SA_SetFunctionList(zeb_store_function_type func_type);
const SA_Functions_t* SA_GetFunctionList(void);
void SA_GetDefaultLayout(STO_LAYOUT* pLayout);
uint32_t SA_GetStorageInfo(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pStorageStatus, STO_LAYOUT* pTotalLayout,
                           STO_LAYOUT* pFreeLayout);
[[nodiscard]] uint32_t SA_SetLayout(PERSISTENCY_INPUT_PTR pStoInput, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout);
[[nodiscard]] uint32_t SA_Initialize(STO_TKN_OBJECT_CONFIG_PATH* pfilepathConf);
[[nodiscard]] uint32_t SA_CreateTokenStorage(PERSISTENCY_INPUT_PTR pStoInput);
uint32_t SA_CreateObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjIndex, uint8_t* pObject,
                         uint32_t u32ObjectLen, STO_SEOBJ* pEntry);
uint32_t SA_UpdateObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex, uint8_t* pObject,
                         uint32_t u32ObjectLen, STO_SEOBJ* pEntry);
[[nodiscard]] uint32_t SA_DeleteObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex);
[[nodiscard]] uint32_t SA_DeleteObjList(PERSISTENCY_INPUT_PTR pStoInput);
[[nodiscard]] uint32_t SA_DeleteObjDir(PERSISTENCY_INPUT_PTR pStoInput);
[[nodiscard]] uint32_t SA_GetObjectSize(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex, uint32_t* pu32ObjectLen);
uint32_t SA_GetObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjIndex, uint8_t* pObject,
                      uint32_t* pu32ObjectLen);
[[nodiscard]] uint32_t SA_SaveObjectList(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pList);
[[nodiscard]] uint32_t SA_LoadObjectList(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pList);

// Crypto adapter frame.
[[nodiscard]] int CA_SetFunctionList(uint8_t hsm_type);
[[nodiscard]] int CA_OpenSession(CryptoAdapterCtx* pCaCtx, ZEB_CRYPTO_HANDLE* phSW, ZEB_CRYPTO_HANDLE* phSE);
[[nodiscard]] int CA_CloseSession(CryptoAdapterCtx* pCaCtx, ZEB_CRYPTO_HANDLE* phSW, ZEB_CRYPTO_HANDLE* phSE);
[[nodiscard]] int CA_SetMK(CryptoAdapterCtx* pCaCtx, uint8_t* pSwMK, uint32_t u32SwMKLen);
[[nodiscard]] int CA_GetMK(CryptoAdapterCtx* pCaCtx, uint8_t* pSwMK, uint32_t* pu32SwMKLen);
[[nodiscard]] int CA_ClearMK(CryptoAdapterCtx* pCaCtx);
int CA_ExportValue(CryptoAdapterCtx* pCaCtx, uint8_t* pFakeAddress, uint32_t fakeAddressLen, uint8_t* pValue,
                   uint32_t* pValueLen);
int CA_Pbkdf(CryptoAdapterCtx* pCaCtx, uint8_t* password, uint32_t password_len, uint8_t* salt, uint32_t salt_len,
             uint8_t* dk, uint32_t* dk_len);
[[nodiscard]] int CA_GetMechanismList(uint32_t* pMechanismList, uint32_t* pu32Count);
[[nodiscard]] int CA_GetMechanismInfo(uint32_t ulType, void* pInfo);
int CA_WrapKey(CryptoAdapterCtx* pCaCtx, uint8_t* pPlainKey, uint32_t u32PlainKeyLength, uint8_t* pKey,
               uint32_t* pu32KeyLength);
int CA_UnwrapKey(CryptoAdapterCtx* pCaCtx, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pPlainKey,
                 uint32_t* pu32PlainKeyLength);
[[nodiscard]] int CA_DigestInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType);
[[nodiscard]] int CA_DigestUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] int CA_DigestFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDigest, uint32_t* pu32DigestLength);
[[nodiscard]] int CA_Drng(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t u32DataLength);

// The selected crypto tables (null until CA_SetFunctionList succeeds).
const C_AESFunc_t* CA_GetAESFunctionList(void);
const C_RSAFunc_t* CA_GetRSAFunctionList(void);
const C_ECCFunc_t* CA_GetECCFunctionList(void);
const C_KeyBlobFunc_t* CA_GetKeyBlobFunctionList(void);
const C_KdfFunc_t* CA_GetKdfFunctionList(void);

uint32_t SwTkn_PlainKey2Sw(VRK_HANDLE hSession, uint8_t* pPlainKey, uint32_t u32PlainKeyLen, uint8_t* pSwKey,
                           uint32_t* pu32SwKeyLen);
uint32_t SwTkn_SwKey2Plain(VRK_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen, uint8_t* pPlainKey,
                           uint32_t* pu32PlainKeyLen);

// Session table lookups (no lock).
VRK_SESSION_CTX* SwSess_GetCtx(VRK_HANDLE hSession);
uint8_t SwSess_GetIndex(VRK_HANDLE hSession);
[[nodiscard]] uint32_t SwSess_GetStatus(VRK_HANDLE hSession);
[[nodiscard]] uint32_t SwSess_checkHSMAdminLoggedIn(uint32_t status);
[[nodiscard]] uint32_t SwSess_checkTokenSuperUserLoggedIn(uint32_t status);
[[nodiscard]] uint32_t SwSess_checkTokenUserLoggedIn(uint32_t status);
[[nodiscard]] uint32_t SwSess_DeleteSessionObjects(VRK_HANDLE hSession);
void SwStore_SetStoInput(uint32_t hSession, const VRK_HSM_SN* pHsmSn, const VRK_TOKEN_ID* pTknId,
                         PERSISTENCY_INPUT* pInput);

}  // extern "C"
