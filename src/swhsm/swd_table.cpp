// The software device's instance of the device operations table.
#include "swd_internal.h"

namespace {
// Device objects (meta record, data and MAC) are not served by this build
// of the software device yet: every object operation fails cleanly.
constexpr uint32_t kNotSupported = 0x54;  // CKR_FUNCTION_NOT_SUPPORTED

uint32_t obj_set(ZEB_DEVICE_HANDLE, ZEB_DEVICE_OBJECT_META*, uint8_t*, uint32_t, uint8_t*, uint32_t*) {
  return kNotSupported;
}
uint32_t obj_meta(ZEB_DEVICE_HANDLE, uint8_t*, uint32_t, ZEB_DEVICE_OBJECT_META*) { return kNotSupported; }
uint32_t obj_cxt(ZEB_DEVICE_HANDLE, uint8_t*, uint32_t, uint8_t*, uint32_t*) { return kNotSupported; }
uint32_t obj_divide(ZEB_DEVICE_HANDLE, uint8_t*, uint32_t, ZEB_DEVICE_OBJECT_META*, uint8_t*, uint32_t*) {
  return kNotSupported;
}
uint32_t obj_mac(ZEB_DEVICE_HANDLE, uint8_t*, uint32_t) { return kNotSupported; }
}  // namespace

extern "C" const DA_Functions_t swd_functions = {
    SWD_FUNCTIONS,
    SWD_GetVersion,
    SWD_Initialize,
    SWD_Finalize,
    SWD_GetHsmInfo,
    SWD_LoginHsmByPin,
    SWD_SetHsmLabel,
    SWD_SetHsmPin,
    SWD_GetHsmPolicy,
    SWD_SetHsmPolicy,
    SWD_CreateToken,
    SWD_CreateDefaultToken,
    SWD_CreateTokenByPin,
    SWD_DeleteToken,
    SWD_UnlockTokenNormalUser,
    SWD_ResetVrk,
    SWD_ResetVrkBySn,
    SWD_LogoutHsm,
    SWD_ListTokens,
    SWD_GetTokenStatus,
    SWD_GetTokenInfo,
    SWD_LoginTokenByPin,
    SWD_LoginTokenSuperUserByPin,
    SWD_SetTokenLabel,
    SWD_SetTokenPin,
    SWD_SetTokenSuperUserPin,
    SWD_GetTokenSn,
    SWD_GetTokenPolicy,
    SWD_SetTokenPolicy,
    SWD_BackupToken,
    SWD_RestoreToken,
    SWD_LogoutToken,
    SWD_LogoutTokenSuperUser,
    SWD_OpenHsmSession,
    SWD_CloseHsmSession,
    SWD_GetHsmSessInfo,
    SWD_OpenTokenSession,
    SWD_CloseTokenSession,
    SWD_GetTokenSessionInfo,
    SWD_SetTknKey2Sw,
    SWD_SetSwKey2Tkn,
    SWD_GenSwKey,
    obj_set,
    obj_meta,
    obj_cxt,
    obj_divide,
    obj_mac,
    obj_meta,  // UpdateObjectMeta has the same shape
};
