// Software HSM device: records, files, sessions and the device operations.
//
// All persistent state lives in small "key=value" text files under the
// administration directory P (from "./device_filepath.cfg", default "./"):
//   P "SwHsm/HsmAdmin.cfg"          the HSM record (administrator PIN)
//   P "SwHsm/TknUser.list"          the token list
//   P "SwHsm/" id "/TknUser.cfg"    one token's PINs, keys and counters
// and "./sw_hsm_list.txt" lists the software HSMs. Files holding PINs or keys
// are created owner-only; every rewrite is atomic (see oxlu/file.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "zeb/device.h"
#include "zeb/swhsm_services.h"

// Result codes of the software device besides the PKCS#11 ones it shares.
inline constexpr uint32_t SWD_OK = 0;
inline constexpr uint32_t SWD_ERR_HOST_MEMORY = 0x002;     // CKR_HOST_MEMORY
inline constexpr uint32_t SWD_ERR_PATH_FILE = 0x005;       // "./device_filepath.cfg" missing or busy
inline constexpr uint32_t SWD_ERR_FAILED = 0x006;
inline constexpr uint32_t SWD_ERR_ARGUMENTS = 0x007;
inline constexpr uint32_t SWD_ERR_HSM_CFG = 0x050;         // HsmAdmin.cfg missing or busy; no token dir
inline constexpr uint32_t SWD_ERR_PIN_INCORRECT = 0x0A1;   // wrong PIN (counted); also a PIN the files cannot hold
inline constexpr uint32_t SWD_ERR_PIN_LEN_RANGE = 0x0A2;
inline constexpr uint32_t SWD_ERR_PIN_LOCKED = 0x0A4;
inline constexpr uint32_t SWD_ERR_SESSION_HANDLE = 0x0B3;
inline constexpr uint32_t SWD_ERR_TKN_LIST = 0x0E0;        // TknUser.list missing or busy
inline constexpr uint32_t SWD_ERR_NOT_IDLE = 0x100;
inline constexpr uint32_t SWD_ERR_NOT_LOGGED_IN = 0x101;
inline constexpr uint32_t SWD_ERR_KEY_WRAP = 0x110;
inline constexpr uint32_t SWD_ERR_PATH_LONG = 0x150;
inline constexpr uint32_t SWD_ERR_NULL = 0x500;
inline constexpr uint32_t SWD_ERR_SN_MISMATCH = 0x501;
inline constexpr uint32_t SWD_ERR_TKN_CFG = 0x520;         // TknUser.cfg missing, busy or not writable
inline constexpr uint32_t SWD_ERR_USER_NOT_IDLE = 0x521;
inline constexpr uint32_t SWD_ERR_HSM_SESS_FULL = 0x580;

inline constexpr size_t SWD_PATH_LEN = 128;
inline constexpr size_t SWD_PIN_MAX = 32;
inline constexpr size_t SWD_LABEL_MAX = 32;
inline constexpr size_t SWD_KEY_LEN = 32;
inline constexpr size_t SWD_MAX_SESSIONS = 20;
inline constexpr size_t SWD_MAX_TOKENS = 4;
inline constexpr size_t SWD_MAX_HSMS = 4;
inline constexpr uint8_t SWD_DEFAULT_MAX_FAILS = 10;
inline constexpr size_t SWD_BACKUP_CFG_LEN = 196;

// The HSM record (HsmAdmin.cfg).
typedef struct HSM_ADMIN_CFG {
  uint8_t Pin[32];  // administrator PIN, in plain
  uint32_t u32PinLen;
  ZEB_DEVICE_HSM_SN HsmSn[16];
  uint8_t HsmLabel[32];
  uint32_t u32LabelLen;
  uint8_t FwVersion[16];
  uint32_t u32FwVerLen;
  uint8_t HsmType;
  ZEB_DEVICE_HSM_STATUS HsmStatus;
  uint8_t fipsMode;   // not stored
  uint8_t Res;
  uint8_t TokenCount;
  uint8_t MaxTokenCount;
  uint8_t LoginFailCount;
  uint8_t MaxLoginFailCount;
  uint8_t Default[32];
  uint32_t u32DefLen;
} HSM_ADMIN_CFG;
static_assert(sizeof(HSM_ADMIN_CFG) == 152);
static_assert(offsetof(HSM_ADMIN_CFG, HsmType) == 108);
static_assert(offsetof(HSM_ADMIN_CFG, Default) == 116);

// One token's configuration (TknUser.cfg); its raw form is also the body of
// a token backup.
typedef struct TKN_USER_CFG {
  ZEB_DEVICE_TOKEN_SN Sn[16];
  uint8_t NormalUserPin[32];
  uint32_t u32NormalUserPinLen;
  uint8_t SuperUserPin[32];
  uint32_t u32SuperUserPinLen;
  uint8_t MK[32];    // token master key: wraps stored keys
  uint8_t MacK[32];  // object MAC key
  uint8_t Label[32];
  uint32_t u32LabelLen;
  uint8_t TknStatus;  // ZEB_DEVICE_TKN_*
  uint8_t Res[3];
  uint8_t SuperUserLoginFailCount;
  uint8_t MaxSuperUserLoginFailCount;
  uint8_t NormalUserLoginFailCount;
  uint8_t MaxNormalUserLoginFailCount;
} TKN_USER_CFG;
static_assert(sizeof(TKN_USER_CFG) == SWD_BACKUP_CFG_LEN);
static_assert(offsetof(TKN_USER_CFG, MK) == 88);
static_assert(offsetof(TKN_USER_CFG, Label) == 152);
static_assert(offsetof(TKN_USER_CFG, TknStatus) == 188);
static_assert(offsetof(TKN_USER_CFG, SuperUserLoginFailCount) == 192);

typedef struct HSM_LIST_INFO {
  uint8_t hsm_sn[16];
  uint8_t hsm_label[32];
  uint8_t hsm_type;
} HSM_LIST_INFO;
static_assert(sizeof(HSM_LIST_INFO) == 49);

typedef struct SW_HSM_LIST {
  HSM_LIST_INFO hsminfo[4];
} SW_HSM_LIST;
static_assert(sizeof(SW_HSM_LIST) == 196);

extern "C" {

// ---- Files (configuration readers and writers) -------------------------
[[nodiscard]] uint32_t SWD_LoadHsmAdminFilePathConfig(uint8_t* pfilepathConf);
[[nodiscard]] uint32_t _swdev_LoadHsmSNList(SW_HSM_LIST* phsm_sn_list, uint8_t* hsm_count);
[[nodiscard]] uint32_t GetHsmAdminCFG(HSM_ADMIN_CFG* pHsmAdminCFG);
[[nodiscard]] uint32_t SetHsmAdminCFG(const HSM_ADMIN_CFG* pHsmAdminCFG);
[[nodiscard]] uint32_t _swdev_GetTokenUsrList(ZEB_DEVICE_TKN_USER_LIST* pTknUsrList);
[[nodiscard]] uint32_t _swdev_SetTokenUserList(const ZEB_DEVICE_TKN_USER_LIST* pTknUsrList);
uint32_t _swdev_addTokenInTokenUserList(ZEB_DEVICE_TKN_USER_LIST* tknusrlist, const ZEB_DEVICE_TOKEN_SN* tokenSN,
                                        ZEB_DEVICE_TOKEN_ID* pTknId);
[[nodiscard]] uint32_t _swdev_GetTokenUserCFG(const char* TknID, TKN_USER_CFG* pTknUsrCFG);
[[nodiscard]] uint32_t _swdev_SetTokenUserCFG(const char* pTknID, const TKN_USER_CFG* pTknUsrCFG);
[[nodiscard]] uint32_t _swdev_setup_token_user_cfg(TKN_USER_CFG* tknusrcfg, const ZEB_DEVICE_TOKEN_SN* tkn_sn,
                                                   const ZEB_DEVICE_HSM_SN* hsm_sn);

// ---- Line scanners of the device's files --------------------------------
// The keyword must open the line (see oxlu/scan.h); 0 when found and the
// target written, 1 when absent (target untouched).
int _swdev_scan_char(const char* buffer, const char* keyword, uint8_t* target, size_t targetSize);
int _swdev_scan_uint8(const char* buffer, const char* keyword, uint8_t* target);
int _swdev_scan_uint32(const char* buffer, const char* keyword, uint32_t* target);

// ---- HSM record ------------------------------------------------------------
// Sets the cached HSM information from a record (zeros: cleared); 0.
[[nodiscard]] uint32_t _swdev_SetHsmInfo(const HSM_ADMIN_CFG* pHsmAdminCFG);

// ---- Small routines -----------------------------------------------------
// ASCII digits from the OS random source.
[[nodiscard]] uint32_t _swdev_fill_random_digits(uint8_t* input_str, uint32_t input_str_len);
// Random bytes from the OS random source, none of them 0x00, 0x0A or 0x0D, so
// that a key written as a text line is read back whole.
[[nodiscard]] uint32_t _swdev_fill_random(uint8_t* input_str, uint32_t input_str_len);
const char* hsmStatusToString(ZEB_DEVICE_HSM_STATUS status);
const char* tokenStatusToString(uint8_t status);
[[nodiscard]] int _swdev_getMiliSecond(void);

// ---- Device session slots ----------------------------------------------
[[nodiscard]] uint32_t _swdev_SetHsmSessInfo(uint8_t slot, uint8_t status, const ZEB_DEVICE_HSM_SN* HsmSn,
                                             const uint8_t* HsmLabel);
[[nodiscard]] uint32_t _swdev_GetHsmSessInfo(uint8_t slot, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
[[nodiscard]] uint32_t _swdev_SetHsmSessStatus(uint8_t slot, uint8_t status);
[[nodiscard]] uint32_t _swdev_GetHsmSessStatus(uint8_t slot, uint8_t* pStatus);
[[nodiscard]] int _swdev_GetHsmSessionIndex(ZEB_DEVICE_HANDLE handle);
[[nodiscard]] uint32_t _swdev_SetTokenSessInfo(uint8_t slot, uint8_t status, const char* TknId, const char* TknLabel);
[[nodiscard]] uint32_t _swdev_GetTokenSessInfo(uint8_t slot, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
[[nodiscard]] uint32_t _swdev_SetTokenSessStatus(uint8_t slot, uint8_t status);
[[nodiscard]] uint32_t _swdev_GetTokenSessStatus(uint8_t slot, uint8_t* pStatus);
[[nodiscard]] int _swdev_GetTokenSessionIndex(ZEB_DEVICE_HANDLE handle);
[[nodiscard]] uint32_t _swdev_getSessionCount(uint8_t* pCount);
[[nodiscard]] uint32_t _swdev_checkHSMAdminLoggedIn(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t _swdev_checkTokenSuperUserLoggedIn(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t _swdev_checkTokenNormalUserLoggedIn(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t _swdev_checkSessionIdle(ZEB_DEVICE_HANDLE hSession);

// ---- Device operations (the slots of swd_functions) ---------------------
[[nodiscard]] uint32_t SWD_GetVersion(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_VERSION* pVersion);
[[nodiscard]] uint32_t SWD_Initialize(ZEB_DEVICE_HSM_SN* Sn, ZEB_DEVICE_HANDLE_PTR phHsm);
[[nodiscard]] uint32_t SWD_Finalize(ZEB_DEVICE_HANDLE hHsm);
[[nodiscard]] uint32_t SWD_GetHsmInfo(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pHSMInfo);
[[nodiscard]] uint32_t SWD_LoginHsmByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t SWD_SetHsmLabel(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pHsmLabel, uint32_t u32HsmLabelLen);
[[nodiscard]] uint32_t SWD_SetHsmPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32NewPinLen);
[[nodiscard]] uint32_t SWD_GetHsmPolicy(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_POLICY* pHsmPolicy);
[[nodiscard]] uint32_t SWD_SetHsmPolicy(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pHsmPolicy);
[[nodiscard]] uint32_t SWD_CreateToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                       ZEB_DEVICE_TOKEN_SN* token_sn);
[[nodiscard]] uint32_t SWD_CreateDefaultToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                              ZEB_DEVICE_TOKEN_SN* token_sn);
uint32_t SWD_CreateTokenByPin(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32TknPinLen,
                              ZEB_DEVICE_TOKEN_ID* pTknId);
[[nodiscard]] uint32_t SWD_DeleteToken(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* TknId);
[[nodiscard]] uint32_t SWD_UnlockTokenNormalUser(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_ID* TknId);
[[nodiscard]] uint32_t SWD_ResetVrk(ZEB_DEVICE_HANDLE hHsmSession);
[[nodiscard]] uint32_t SWD_ResetVrkBySn(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_SN* sn);
[[nodiscard]] uint32_t SWD_LogoutHsm(ZEB_DEVICE_HANDLE hHsmSession);
[[nodiscard]] uint32_t SWD_ListTokens(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* ptknuserlist);
[[nodiscard]] uint32_t SWD_GetTokenStatus(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* TknID, uint8_t* pTokenStatus);
[[nodiscard]] uint32_t SWD_GetTokenInfo(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* TknID,
                                        ZEB_DEVICE_TOKEN_INFO* pTokenInfo);
[[nodiscard]] uint32_t SWD_LoginTokenByPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t SWD_LoginTokenSuperUserByPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t SWD_SetTokenLabel(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknLabel, uint32_t u32TknLabelLen);
[[nodiscard]] uint32_t SWD_SetTokenPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t SWD_SetTokenSuperUserPin(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
[[nodiscard]] uint32_t SWD_GetTokenSn(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SN* tkn_sn);
[[nodiscard]] uint32_t SWD_GetTokenPolicy(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pTknPolicy);
[[nodiscard]] uint32_t SWD_SetTokenPolicy(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pTknPolicy);
uint32_t SWD_BackupToken(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32VerifyPinLen,
                         uint8_t* pBackupData, uint32_t* pu32BackupDataLen);
uint32_t SWD_RestoreToken(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32VerifyPinLen,
                          uint8_t* pBackupData, uint32_t u32BackupDataLen);
[[nodiscard]] uint32_t SWD_LogoutToken(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t SWD_LogoutTokenSuperUser(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t SWD_OpenHsmSession(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HANDLE_PTR phHsmSession);
[[nodiscard]] uint32_t SWD_CloseHsmSession(ZEB_DEVICE_HANDLE hHsmSession);
[[nodiscard]] uint32_t SWD_GetHsmSessInfo(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pHsmSessionInfo);
[[nodiscard]] uint32_t SWD_OpenTokenSession(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* TknID,
                                            ZEB_DEVICE_HANDLE_PTR phSession);
[[nodiscard]] uint32_t SWD_CloseTokenSession(ZEB_DEVICE_HANDLE hSession);
[[nodiscard]] uint32_t SWD_GetTokenSessionInfo(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pSessionInfo);
uint32_t SWD_SetTknKey2Sw(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknKey, uint32_t u32TknKeyLen, uint8_t* pSwKey,
                          uint32_t* pu32SwKeyLen);
uint32_t SWD_SetSwKey2Tkn(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen, uint8_t* pTknKey,
                          uint32_t* pu32TknKeyLen);
[[nodiscard]] uint32_t SWD_GenSwKey(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t* pu32SwKeyLen);

}  // extern "C"
