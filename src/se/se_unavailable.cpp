// Secure-element back end while no middleware is built in: listing finds no
// device, and every device, store and crypto operation fails with
// CKR_DEVICE_ERROR, so HSM types 5, 7 and 8 fail cleanly at start-up. The
// channel's own device open (channel/device_open.cpp) is left out of the
// build while this file stands in.
#include "zeb/se_services.h"

namespace {

template <class F>
struct Unavailable;
template <class... A>
struct Unavailable<uint32_t (*)(A...)> {
  static uint32_t call(A...) { return SE_ERR_NO_DEVICE; }
};

#define SE_FAIL(table, slot) .slot = Unavailable<decltype(table::slot)>::call

}  // namespace

extern "C" {

uint32_t FWD_ListHSMs(uint8_t*, uint8_t*, uint8_t*, uint32_t, uint32_t* pulCount) {
  if (pulCount != nullptr) *pulCount = 0;
  return 0;
}

// No device opens until the middleware can drive one.
uint32_t open_test_device(int, char**, SE_DEVICE*) { return SE_ERR_NO_DEVICE; }
uint32_t close_test_device(SE_DEVICE*) { return 0; }

uint32_t FWC_CloseSession_mw(uint32_t) { return SE_ERR_NO_DEVICE; }
uint32_t FWC_SetMK_mw(uint32_t, uint8_t*, uint32_t) { return SE_ERR_NO_DEVICE; }
uint32_t FWC_ClearMK_mw(uint32_t) { return SE_ERR_NO_DEVICE; }
uint32_t FWC_ExportValue_mw(uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t*) { return 0; }

const DA_Functions_t fwd_functions = {
    .func_type = FWD_FUNCTIONS,
    SE_FAIL(DA_Functions_t, D_GetVersion),
    SE_FAIL(DA_Functions_t, D_Initialize),
    SE_FAIL(DA_Functions_t, D_Finalize),
    SE_FAIL(DA_Functions_t, D_GetHsmInfo),
    SE_FAIL(DA_Functions_t, D_LoginHsmByPin),
    SE_FAIL(DA_Functions_t, D_SetHsmLabel),
    SE_FAIL(DA_Functions_t, D_SetHsmPin),
    SE_FAIL(DA_Functions_t, D_GetHsmPolicy),
    SE_FAIL(DA_Functions_t, D_SetHsmPolicy),
    SE_FAIL(DA_Functions_t, D_CreateToken),
    SE_FAIL(DA_Functions_t, D_CreateDefaultToken),
    SE_FAIL(DA_Functions_t, D_CreateTokenByPin),
    SE_FAIL(DA_Functions_t, D_DeleteToken),
    SE_FAIL(DA_Functions_t, D_UnlockTokenNormalUser),
    SE_FAIL(DA_Functions_t, D_ResetVrk),
    SE_FAIL(DA_Functions_t, D_ResetVrkBySn),
    SE_FAIL(DA_Functions_t, D_LogoutHsm),
    SE_FAIL(DA_Functions_t, D_ListTokens),
    SE_FAIL(DA_Functions_t, D_GetTokenStatus),
    SE_FAIL(DA_Functions_t, D_GetTokenInfo),
    SE_FAIL(DA_Functions_t, D_LoginTokenByPin),
    SE_FAIL(DA_Functions_t, D_LoginTokenSuperUserByPin),
    SE_FAIL(DA_Functions_t, D_SetTokenLabel),
    SE_FAIL(DA_Functions_t, D_SetTokenPin),
    SE_FAIL(DA_Functions_t, D_SetTokenSuperUserPin),
    SE_FAIL(DA_Functions_t, D_GetTokenSn),
    SE_FAIL(DA_Functions_t, D_GetTokenPolicy),
    SE_FAIL(DA_Functions_t, D_SetTokenPolicy),
    SE_FAIL(DA_Functions_t, D_BackupToken),
    SE_FAIL(DA_Functions_t, D_RestoreToken),
    SE_FAIL(DA_Functions_t, D_LogoutToken),
    SE_FAIL(DA_Functions_t, D_LogoutTokenSuperUser),
    SE_FAIL(DA_Functions_t, D_OpenHsmSession),
    SE_FAIL(DA_Functions_t, D_CloseHsmSession),
    SE_FAIL(DA_Functions_t, D_GetHsmSessInfo),
    SE_FAIL(DA_Functions_t, D_OpenTokenSession),
    SE_FAIL(DA_Functions_t, D_CloseTokenSession),
    SE_FAIL(DA_Functions_t, D_GetTokenSessionInfo),
    SE_FAIL(DA_Functions_t, D_SetTknKey2Sw),
    SE_FAIL(DA_Functions_t, D_SetSwKey2Tkn),
    SE_FAIL(DA_Functions_t, D_GenSwKey),
    SE_FAIL(DA_Functions_t, D_SetObject),
    SE_FAIL(DA_Functions_t, D_GetObjMetaPtr),
    SE_FAIL(DA_Functions_t, D_GetObjCxtPtr),
    SE_FAIL(DA_Functions_t, D_DivideObj),
    SE_FAIL(DA_Functions_t, D_CheckObjMAC),
    SE_FAIL(DA_Functions_t, D_UpdateObjectMeta),
};

const SA_Functions_t fwstore_functions = {
    .func_type = FWStore_FUNCTIONS,
    SE_FAIL(SA_Functions_t, S_GetStorageInfo),
    SE_FAIL(SA_Functions_t, S_SetLayout),
    SE_FAIL(SA_Functions_t, S_Initialize),
    SE_FAIL(SA_Functions_t, S_CreateTokenStorage),
    SE_FAIL(SA_Functions_t, S_CreateObject),
    SE_FAIL(SA_Functions_t, S_UpdateObject),
    SE_FAIL(SA_Functions_t, S_DeleteObject),
    SE_FAIL(SA_Functions_t, S_DeleteObjList),
    SE_FAIL(SA_Functions_t, S_DeleteObjDir),
    SE_FAIL(SA_Functions_t, S_GetObjectSize),
    SE_FAIL(SA_Functions_t, S_GetObject),
    SE_FAIL(SA_Functions_t, S_SaveObjectList),
    SE_FAIL(SA_Functions_t, S_LoadObjectList),
};

const C_AESFunc_t FWC_AESFunc = {
    .func_type = FWC_FUNCTIONS,
    SE_FAIL(C_AESFunc_t, C_AesInit),
    SE_FAIL(C_AESFunc_t, C_AesUpdate),
    SE_FAIL(C_AESFunc_t, C_AesFinal),
    SE_FAIL(C_AESFunc_t, C_AesCrypt),
    SE_FAIL(C_AESFunc_t, C_AESGenerateKey),
    SE_FAIL(C_AESFunc_t, C_AesGcmInit),
    SE_FAIL(C_AESFunc_t, C_AesGcmEncryptUpdate),
    SE_FAIL(C_AESFunc_t, C_AesGcmEncryptFinal),
    SE_FAIL(C_AESFunc_t, C_AesGcmDecryptUpdate),
    SE_FAIL(C_AESFunc_t, C_AesGcmDecryptFinal),
};

const C_RSAFunc_t FWC_RSAFunc = {
    .func_type = FWC_FUNCTIONS,
    SE_FAIL(C_RSAFunc_t, C_RSASign_PKCS1),
    SE_FAIL(C_RSAFunc_t, C_RSAVerify_PKCS1),
    SE_FAIL(C_RSAFunc_t, C_RSAEncrypt_PKCS1),
    SE_FAIL(C_RSAFunc_t, C_RSADecrypt_PKCS1),
    SE_FAIL(C_RSAFunc_t, C_RSAGenerateKeyPair),
};

const C_ECCFunc_t FWC_ECCFunc = {
    .func_type = FWC_FUNCTIONS,
    SE_FAIL(C_ECCFunc_t, C_ECDSASignSingle),
    SE_FAIL(C_ECCFunc_t, C_ECDSAVerifySingle),
    SE_FAIL(C_ECCFunc_t, C_ECGenerateKeyPair),
    SE_FAIL(C_ECCFunc_t, C_ECDH),
};

const C_KeyBlobFunc_t FWC_KeyBlobFunc = {
    .func_type = FWC_FUNCTIONS,
    SE_FAIL(C_KeyBlobFunc_t, C_KeyEncrypt),
    SE_FAIL(C_KeyBlobFunc_t, C_KeyDecrypt),
};

}  // extern "C"
