// Device operations table and the records that cross it.
//
// The core service reaches an HSM only through DA_Functions_t, which a back
// end fills (the software device, or the secure-element middleware). The
// records are plain, fixed-layout structures; ZEB_DEVICE_OBJECT_META is stored
// in device objects and so is a storage format.
#pragma once

#include "zeb/vrk_types.h"

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

// ZEB_DEVICE_HSM_STATUS
enum : uint8_t {
  ZEB_DEVICE_HSM_UNINIT = 1,
  ZEB_DEVICE_HSM_CONTEXT_GENERATING = 2,
  ZEB_DEVICE_HSM_INITED = 3,
  ZEB_DEVICE_HSM_TAMPERED = 4,
  ZEB_DEVICE_HSM_ERASING = 5,
  ZEB_DEVICE_HSM_ERROR = 6,
};

// Token states.
enum : uint8_t {
  ZEB_DEVICE_TKN_UNINIT = 1,
  ZEB_DEVICE_TKN_SUPERUSER_INIT = 2,
  ZEB_DEVICE_TKN_NORMALUSER_INIT = 3,
  ZEB_DEVICE_TKN_NORMALUSER_LOCKED = 4,
  ZEB_DEVICE_TKN_TERMINATED = 5,
  ZEB_DEVICE_TKN_ERROR = 6,
  ZEB_DEVICE_TKN_IDLE = 7,
  ZEB_DEVICE_TKN_SUSPEND = 8,
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

typedef struct ZEB_DEVICE_HSM_INFO {
  uint8_t HsmType;
  uint8_t HsmStatus;
  uint8_t Reserved[2];
  uint8_t HsmSn[16];
  uint8_t HsmLabel[32];
  uint8_t FwVersion[16];
  uint32_t u32TokenCount;
  uint32_t u32MaxTokenCount;
} ZEB_DEVICE_HSM_INFO;

typedef struct ZEB_DEVICE_HSM_POLICY {
  uint8_t LoginFailCount;
  uint8_t MaxLoginFailCount;
  uint8_t fipsMode;
  uint8_t Res[5];
} ZEB_DEVICE_HSM_POLICY;

typedef struct ZEB_DEVICE_TOKEN_INFO {
  uint8_t TknSn[16];
  uint8_t TknStatus;
  uint8_t Reserved[3];
  uint8_t TknId[16];
  uint8_t TknLabel[32];
  uint8_t SuperUserLoginFailCount;
  uint8_t MaxSuperUserLoginFailCount;
  uint8_t NormalUserLoginFailCount;
  uint8_t MaxNormalUserLoginFailCount;
  uint8_t SessionCount;
  uint8_t MaxSessionCount;
  uint8_t Reserved2[2];
} ZEB_DEVICE_TOKEN_INFO;

typedef struct ZEB_DEVICE_TOKEN_POLICY {
  uint8_t SuperUserLoginFailCount;
  uint8_t MaxSuperUserLoginFailCount;
  uint8_t NormalUserLoginFailCount;
  uint8_t MaxNormalUserLoginFailCount;
  uint8_t Reserved[4];
} ZEB_DEVICE_TOKEN_POLICY;

typedef struct ZEB_DEVICE_TOKEN_SESSION_INFO {
  uint8_t SessStatus;
  uint8_t Res[3];
  uint8_t HsmSn[16];
  uint8_t HsmLabel[32];
  uint8_t TknId[16];
  uint8_t TknLabel[32];
} ZEB_DEVICE_TOKEN_SESSION_INFO;

typedef struct ZEB_DEVICE_TKN_USER_LIST {
  uint8_t TknId[4][16];
  uint8_t TknLabel[4][32];
  uint8_t TknSn[4][16];
  uint8_t TknNum;  // entries in use, at most 4
  uint8_t TknSeq;  // change counter
  uint8_t Res[2];
} ZEB_DEVICE_TKN_USER_LIST;

// The 96-byte header at the start of every device object. Host byte order.
typedef struct ZEB_DEVICE_OBJECT_META {
  uint8_t Version[2];  // 1, 0
  uint8_t ObjMac;      // VRK_MAC_*
  uint8_t ObjEnc;      // VRK_ENC_*
  uint8_t TknId[16];
  uint8_t ObjId[16];
  uint8_t ObjLabel[32];
  uint8_t ObjType;     // VRK_OBJ_*
  uint8_t ObjKeyAlgo;  // VRK_KEY_*
  uint8_t Res[2];
  uint32_t Res2;
  uint32_t u32ObjExtIndex;  // 0xFFFFFFFF: no extension object
  uint64_t u64ObjKeyUsage;
  uint32_t u32DataLen;      // context length
  uint8_t Pad[4];           // zero
} ZEB_DEVICE_OBJECT_META;

inline constexpr uint32_t ZEB_OBJ_NO_EXTENSION = 0xFFFFFFFFu;

static_assert(sizeof(ZEB_DEVICE_VERSION) == 3);
static_assert(sizeof(ZEB_DEVICE_HSM_INFO) == 76);
static_assert(offsetof(ZEB_DEVICE_HSM_INFO, u32TokenCount) == 68);
static_assert(sizeof(ZEB_DEVICE_HSM_POLICY) == 8);
static_assert(sizeof(ZEB_DEVICE_TOKEN_INFO) == 76);
static_assert(offsetof(ZEB_DEVICE_TOKEN_INFO, SuperUserLoginFailCount) == 68);
static_assert(sizeof(ZEB_DEVICE_TOKEN_POLICY) == 8);
static_assert(sizeof(ZEB_DEVICE_TOKEN_SESSION_INFO) == 100);
static_assert(sizeof(ZEB_DEVICE_TKN_USER_LIST) == 260);
static_assert(offsetof(ZEB_DEVICE_TKN_USER_LIST, TknNum) == 256);
static_assert(sizeof(ZEB_DEVICE_OBJECT_META) == 96);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, ObjId) == 20);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, ObjLabel) == 36);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, ObjType) == 68);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, Res2) == 72);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, u32ObjExtIndex) == 76);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, u64ObjKeyUsage) == 80);
static_assert(offsetof(ZEB_DEVICE_OBJECT_META, u32DataLen) == 88);

// The device operations table: a type word, then 47 operations in this order.
typedef struct DA_Functions_t {
  zeb_device_function_type func_type;
  uint32_t (*D_GetVersion)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_VERSION* pVersion);
  uint32_t (*D_Initialize)(uint8_t* pSn, ZEB_DEVICE_HANDLE_PTR phHsm);
  uint32_t (*D_Finalize)(ZEB_DEVICE_HANDLE hHsm);
  uint32_t (*D_GetHsmInfo)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pInfo);
  uint32_t (*D_LoginHsmByPin)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_SetHsmLabel)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pLabel, uint32_t u32LabelLen);
  uint32_t (*D_SetHsmPin)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32PinLen);
  uint32_t (*D_GetHsmPolicy)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_POLICY* pPolicy);
  uint32_t (*D_SetHsmPolicy)(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy);
  uint32_t (*D_CreateToken)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknId, uint8_t* pTknSn);
  uint32_t (*D_CreateDefaultToken)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknId, uint8_t* pTknSn);
  uint32_t (*D_CreateTokenByPin)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32PinLen,
                                 uint8_t* pTknId);
  uint32_t (*D_DeleteToken)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknId);
  uint32_t (*D_UnlockTokenNormalUser)(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknId);
  uint32_t (*D_ResetVrk)(ZEB_DEVICE_HANDLE hHsmSession);
  uint32_t (*D_ResetVrkBySn)(ZEB_DEVICE_HANDLE hHsm, uint8_t* pSn);
  uint32_t (*D_LogoutHsm)(ZEB_DEVICE_HANDLE hHsmSession);
  uint32_t (*D_ListTokens)(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* pList);
  uint32_t (*D_GetTokenStatus)(ZEB_DEVICE_HANDLE hHsm, uint8_t* pTknId, uint8_t* pStatus);
  uint32_t (*D_GetTokenInfo)(ZEB_DEVICE_HANDLE hHsm, uint8_t* pTknId, ZEB_DEVICE_TOKEN_INFO* pInfo);
  uint32_t (*D_LoginTokenByPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_LoginTokenSuperUserByPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_SetTokenLabel)(ZEB_DEVICE_HANDLE hSession, uint8_t* pLabel, uint32_t u32LabelLen);
  uint32_t (*D_SetTokenPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_SetTokenSuperUserPin)(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
  uint32_t (*D_GetTokenSn)(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknSn);
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
  uint32_t (*D_OpenTokenSession)(ZEB_DEVICE_HANDLE hHsm, uint8_t* pTknId, ZEB_DEVICE_HANDLE_PTR phSession);
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
