// Device operations table and the records that cross it.
//
// The core service reaches an HSM only through DA_Functions_t, which a back
// end fills (the software device, or the secure-element middleware). The
// records that the core's API hands on are in zeb/vrk_records.h.
#pragma once

#include "zeb/vrk_records.h"

typedef uint32_t ZEB_DEVICE_HANDLE;
typedef ZEB_DEVICE_HANDLE* ZEB_DEVICE_HANDLE_PTR;

enum : uint8_t {
  ZEB_DEVICE_HSM_TYPE_SOFTWARE = 1,
  ZEB_DEVICE_HSM_TYPE_ORBANE = 2,
  ZEB_DEVICE_HSM_TYPE_MIREFLANK = 3,
  ZEB_DEVICE_HSM_TYPE_FERROLUX = 4,
  ZEB_DEVICE_HSM_TYPE_QUILLSTAR = 5,
  ZEB_DEVICE_HSM_TYPE_BRAXO = 6,
  ZEB_DEVICE_HSM_TYPE_TALON = 7,
  ZEB_DEVICE_HSM_TYPE_TESTBED = 8,
};

// Device session status: the same bits as VRK_SESS_*.
enum : uint8_t {
  ZEB_DEVICE_SESS_IDLE = 1,
  ZEB_DEVICE_SESS_HSMADMIN_LOGIN = 2,
  ZEB_DEVICE_SESS_TOKENSUPERUSER_LOGIN = 4,
  ZEB_DEVICE_SESS_TOKENUSER_LOGIN = 8,
  ZEB_DEVICE_SESS_TIMEOUT = 16,
};

enum : uint8_t { ZEB_DEVICE_HSM_FIPS_MODE_OFF = 0, ZEB_DEVICE_HSM_FIPS_MODE_ON = 1 };

// zeb_device_function_type: which back end filled a device table.
typedef uint32_t zeb_device_function_type;
enum : uint32_t { FWD_FUNCTIONS = 0, SWD_FUNCTIONS = 1 };

typedef struct ZEB_DEVICE_VERSION {
  uint8_t major;
  uint8_t minor;
  uint8_t update;
} ZEB_DEVICE_VERSION;

typedef struct ZEB_DEVICE_HSM_POLICY {
  uint8_t LoginFailCount;
  uint8_t MaxLoginFailCount;
  uint8_t fipsMode;
  uint8_t Res[5];
} ZEB_DEVICE_HSM_POLICY;

static_assert(sizeof(ZEB_DEVICE_VERSION) == 3);
static_assert(sizeof(ZEB_DEVICE_HSM_POLICY) == 8);

// The device operations table: a type word, then 47 operations in this order.
typedef struct DA_Functions_t {
  zeb_device_function_type func_type;
  uint32_t (*D_GetVersion)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_VERSION* pVersion);
  uint32_t (*D_Initialize)(ZEB_DEVICE_HSM_SN* pSn, ZEB_DEVICE_HANDLE_PTR phHsm);
  uint32_t (*D_Finalize)(ZEB_DEVICE_HANDLE hHsm);
  uint32_t (*D_GetHsmInfo)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pInfo);
  uint32_t (*D_LoginHsmByPin)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_SetHsmLabel)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pLabel, uint32_t u32LabelLen);
  uint32_t (*D_SetHsmPin)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32PinLen);
  uint32_t (*D_GetHsmPolicy)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_POLICY* pPolicy);
  uint32_t (*D_SetHsmPolicy)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy);
  uint32_t (*D_CreateToken)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_TOKEN_SN* pTknSn);
  uint32_t (*D_CreateDefaultToken)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                   ZEB_DEVICE_TOKEN_SN* pTknSn);
  uint32_t (*D_CreateTokenByPin)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32PinLen,
                                 ZEB_DEVICE_TOKEN_ID* pTknId);
  uint32_t (*D_DeleteToken)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId);
  uint32_t (*D_UnlockTokenNormalUser)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId);
  uint32_t (*D_ResetVrk)(ZEB_DEVICE_HANDLE hHsmSession);
  uint32_t (*D_ResetVrkBySn)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_SN* pSn);
  uint32_t (*D_LogoutHsm)(ZEB_DEVICE_HANDLE hHsmSession);
  uint32_t (*D_ListTokens)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* pList);
  uint32_t (*D_GetTokenStatus)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, uint8_t* pStatus);
  uint32_t (*D_GetTokenInfo)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_TOKEN_INFO* pInfo);
  uint32_t (*D_LoginTokenByPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_LoginTokenSuperUserByPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_SetTokenLabel)(ZEB_DEVICE_HANDLE hSession, uint8_t* pLabel, uint32_t u32LabelLen);
  uint32_t (*D_SetTokenPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_SetTokenSuperUserPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_GetTokenSn)(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SN* pTknSn);
  uint32_t (*D_GetTokenPolicy)(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy);
  uint32_t (*D_SetTokenPolicy)(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy);
  uint32_t (*D_BackupToken)(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen,
                            uint8_t* pData, uint32_t* pu32DataLen);
  uint32_t (*D_RestoreToken)(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen,
                             uint8_t* pData, uint32_t u32DataLen);
  uint32_t (*D_LogoutToken)(ZEB_DEVICE_HANDLE hSession);
  uint32_t (*D_LogoutTokenSuperUser)(ZEB_DEVICE_HANDLE hSession);
  uint32_t (*D_OpenHsmSession)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HANDLE_PTR phHsmSession);
  uint32_t (*D_CloseHsmSession)(ZEB_DEVICE_HANDLE hHsmSession);
  uint32_t (*D_GetHsmSessInfo)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
  uint32_t (*D_OpenTokenSession)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_HANDLE_PTR phSession);
  uint32_t (*D_CloseTokenSession)(ZEB_DEVICE_HANDLE hSession);
  uint32_t (*D_GetTokenSessionInfo)(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
  uint32_t (*D_SetTknKey2Sw)(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknKey, uint32_t u32TknKeyLen,
                             uint8_t* pSwKey, uint32_t* pu32SwKeyLen);
  uint32_t (*D_SetSwKey2Tkn)(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen,
                             uint8_t* pTknKey, uint32_t* pu32TknKeyLen);
  uint32_t (*D_GenSwKey)(ZEB_DEVICE_HANDLE hSession, uint8_t* pKey, uint32_t* pu32KeyLen);
  uint32_t (*D_SetObject)(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext,
                          uint32_t u32ContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen);
  uint32_t (*D_GetObjMetaPtr)(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                              ZEB_DEVICE_OBJECT_META* pMeta);
  uint32_t (*D_GetObjCxtPtr)(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                             uint8_t* pContext, uint32_t* pu32ContextLen);
  uint32_t (*D_DivideObj)(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                          ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext, uint32_t* pu32ContextLen);
  uint32_t (*D_CheckObjMAC)(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen);
  uint32_t (*D_UpdateObjectMeta)(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                 ZEB_DEVICE_OBJECT_META* pMeta);
} DA_Functions_t;

static_assert(sizeof(DA_Functions_t) == 8 + 47 * sizeof(void*));
