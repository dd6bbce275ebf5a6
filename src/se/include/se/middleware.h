// The secure-element middleware: the device, store and crypto operations that
// fill the core's tables (fwd_functions, fwstore_functions, FWC_*Func), HSM
// discovery, and the calls the core makes directly. Each command operation
// sends one command of the command set (se/commands.h) through the channel's
// current device; the object-blob operations work on the host, and the AES
// Init keeps the operation's parameters there for the Update and Final, which
// send their data as AES commands of at most one request each.
//
// Lengths are in/out where a buffer is filled: the value on entry is the
// buffer's room, a reply that does not fit is refused (SE_ERR_SERIALIZER) and
// nothing is written; on success the value is the byte count written.
#pragma once

#include <cstdint>

#include "zeb/se_services.h"

// A mechanism's key sizes and flags as the secure element reports them; the
// reply carries the record's 12-byte image.
typedef struct FWC_MECHANISM_INFO {
  uint32_t MinKeySize;
  uint32_t MaxKeySize;
  uint32_t Flags;
} FWC_MECHANISM_INFO;
static_assert(sizeof(FWC_MECHANISM_INFO) == 12);

extern "C" {

// ---- Device: HSM and tokens ----
uint32_t FWD_GetVersion_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_VERSION* pVersion);
// Sends nothing; writes the device's HSM handle.
uint32_t FWD_Initialize_mw(ZEB_DEVICE_HSM_SN* pSn, ZEB_DEVICE_HANDLE_PTR phHsm);
uint32_t FWD_Finalize_mw(ZEB_DEVICE_HANDLE hHsm);
uint32_t FWD_GetHsmInfo_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_INFO* pInfo);
uint32_t FWD_LoginHsmByPin_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pPin, uint32_t u32PinLen);
uint32_t FWD_SetHsmLabel_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pLabel, uint32_t u32LabelLen);
uint32_t FWD_SetHsmPin_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pNewPin, uint32_t u32PinLen);
uint32_t FWD_GetHsmPolicy_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy);
uint32_t FWD_SetHsmPolicy_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_HSM_POLICY* pPolicy);
uint32_t FWD_CreateToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_TOKEN_SN* pTknSn);
uint32_t FWD_CreateDefaultToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId,
                                   ZEB_DEVICE_TOKEN_SN* pTknSn);
uint32_t FWD_CreateTokenByPin_mw(ZEB_DEVICE_HANDLE hHsmSession, uint8_t* pTknPin, uint32_t u32PinLen,
                                 ZEB_DEVICE_TOKEN_ID* pTknId);
uint32_t FWD_DeleteToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId);
uint32_t FWD_UnlockToken_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_ID* pTknId);
uint32_t FWD_ResetVrk_mw(ZEB_DEVICE_HANDLE hHsmSession);
uint32_t FWD_ResetVrkBySn_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HSM_SN* pSn);
uint32_t FWD_LogoutHsm_mw(ZEB_DEVICE_HANDLE hHsmSession);
uint32_t FWD_ListTokens_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TKN_USER_LIST* pList);
uint32_t FWD_GetTokenStatus_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, uint8_t* pStatus);
uint32_t FWD_GetTokenInfo_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_TOKEN_INFO* pInfo);
uint32_t FWD_LoginTokenByPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
uint32_t FWD_LoginTokenSuperUserByPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
uint32_t FWD_SetTokenLabel_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pLabel, uint32_t u32LabelLen);
uint32_t FWD_SetTokenPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
uint32_t FWD_SetTokenSuperUserPin_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pPin, uint32_t u32PinLen);
uint32_t FWD_GetTokenSn_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SN* pTknSn);
uint32_t FWD_GetTokenPolicy_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy);
uint32_t FWD_SetTokenPolicy_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_POLICY* pPolicy);
uint32_t FWD_BackupToken_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen, uint8_t* pData,
                            uint32_t* pu32DataLen);
uint32_t FWD_RestoreToken_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pVerifyPin, uint32_t u32PinLen, uint8_t* pData,
                             uint32_t u32DataLen);
uint32_t FWD_LogoutToken_mw(ZEB_DEVICE_HANDLE hSession);
uint32_t FWD_LogoutTokenSuperUser_mw(ZEB_DEVICE_HANDLE hSession);

// ---- Device: sessions, key transfer, object blobs ----
uint32_t FWD_OpenHsmSession_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_HANDLE_PTR phHsmSession);
uint32_t FWD_CloseHsmSession_mw(ZEB_DEVICE_HANDLE hHsmSession);
uint32_t FWD_GetHsmSessInfo_mw(ZEB_DEVICE_HANDLE hHsmSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
uint32_t FWD_OpenTokenSession_mw(ZEB_DEVICE_HANDLE hHsm, ZEB_DEVICE_TOKEN_ID* pTknId, ZEB_DEVICE_HANDLE_PTR phSession);
uint32_t FWD_CloseTokenSession_mw(ZEB_DEVICE_HANDLE hSession);
uint32_t FWD_GetTokenSessionInfo_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_TOKEN_SESSION_INFO* pInfo);
uint32_t FWD_SetTknKey2Sw_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pTknKey, uint32_t u32TknKeyLen, uint8_t* pSwKey,
                             uint32_t* pu32SwKeyLen);
uint32_t FWD_SetSwKey2Tkn_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t u32SwKeyLen, uint8_t* pTknKey,
                             uint32_t* pu32TknKeyLen);
// The session's master key, from the device.
uint32_t FWD_GenSwKey_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pSwKey, uint32_t* pu32SwKeyLen);
uint32_t FWD_SetObject_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext,
                          uint32_t u32ContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen);
uint32_t FWD_GetObjMetaPtr_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                              ZEB_DEVICE_OBJECT_META* pMeta);
uint32_t FWD_GetObjCxtPtr_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen, uint8_t* pContext,
                             uint32_t* pu32ContextLen);
uint32_t FWD_DivideObj_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                          ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext, uint32_t* pu32ContextLen);
uint32_t FWD_CheckObjMAC_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen);
uint32_t FWD_UpdateObjectMeta_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                 ZEB_DEVICE_OBJECT_META* pMeta);

// ---- Discovery ----
uint32_t Tem44hid_Hsm_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t maxCount,
                               uint32_t* pulCount);
uint32_t Testbed_Hsm_ListHSMs(uint8_t* pHsmType, uint8_t* pHsmSnList, uint8_t* pHsmLabelList, uint32_t maxCount,
                              uint32_t* pulCount);
int FWD_Testbed_set_sn(void);
int FWD_Testbed_get_sn(uint8_t* hsmsn);

// ---- Store ----
uint32_t FWSto_GetStorageInfo_mw(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pStorageStatus, STO_LAYOUT* pTotalLayout,
                                 STO_LAYOUT* pFreeLayout);
uint32_t FWSto_SetLayout_mw(PERSISTENCY_INPUT_PTR pStoInput, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout);
uint32_t FWSto_Initialize_mw(STO_TKN_OBJECT_CONFIG_PATH* pfilepathConf);
uint32_t FWSto_CreateTokenStorage_mw(PERSISTENCY_INPUT_PTR pStoInput);
uint32_t FWSto_CreateObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjectIndex, uint8_t* pObject,
                               uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta);
uint32_t FWSto_UpdateObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                               uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta);
uint32_t FWSto_DeleteObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex);
uint32_t FWSto_DeleteObjList_mw(PERSISTENCY_INPUT_PTR pStoInput);
uint32_t FWSto_DeleteObjDir_mw(PERSISTENCY_INPUT_PTR pStoInput);
uint32_t FWSto_GetObjectSize_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint32_t* outObjectLen);
// *pObjectLen: the buffer's room on entry.
uint32_t FWSto_GetObject_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                            uint32_t* pObjectLen);
uint32_t FWSto_SaveObjectList_mw(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData);
uint32_t FWSto_LoadObjectList_mw(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData);
// One command per part or page. Indexes here are device slots (the core's
// index - 1); the in/out lengths give the room on entry.
uint32_t FWSto_CreateObject_Sub_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjectIndex, uint8_t* pObject,
                                   uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta, uint8_t part);
uint32_t FWSto_UpdateObject_Sub_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                                   uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta, uint8_t part);
uint32_t FWSto_GetObject_Sub_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t part,
                                uint8_t* pObject, uint32_t* pObjectLen);
uint32_t Internal_FWSto_get_object_bit_list_page_mw(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pPage,
                                                    uint32_t* pPageLen);
uint32_t Internal_FWSto_get_object_tag_mw(PERSISTENCY_INPUT_PTR pStoInput, uint32_t startIndex, uint32_t endIndex,
                                          uint8_t* pSto_objmeta, uint32_t* pSto_objmeta_len);
// 1 when slot `index` of the 256-byte occupancy page is set; 0 when clear or
// beyond the page.
int check_object_tag_list(const uint8_t* obj_bit_list, uint32_t index);

// ---- Crypto: sessions, master key, mechanisms, random, digest, HMAC ----
uint32_t FWC_OpenSession_mw(ZEB_CRYPTO_HANDLE* phSession);
uint32_t FWC_CloseAllSessions_mw(void);
uint32_t FWC_GetMK_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pSwMK, uint32_t* pSwMKLen);
uint32_t FWC_GetMechanismList_mw(uint32_t* pMechanismList, uint32_t* pCount);
uint32_t FWC_GetMechanismInfo_mw(uint32_t ulType, FWC_MECHANISM_INFO* pInfo);
uint32_t FWC_Drng_SEED_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pData, uint32_t DataLen);
uint32_t FWC_DigestInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType);
uint32_t FWC_DigestUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen);
uint32_t FWC_DigestFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pDigest, uint32_t* pDigestLen);
uint32_t FWC_HmacGenerateKey_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pSwKey, uint32_t* pSwKeyLen);
uint32_t FWC_HmacInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType, uint8_t* SwKey, uint32_t SwKeyLen);
uint32_t FWC_HmacUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen);
uint32_t FWC_HmacFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pMac, uint32_t* pMacLen);

// ---- Crypto: AES ----
uint32_t FWC_AesInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t AESCipherMode, uint8_t AESCipherDir,
                        uint8_t AESCipherPadding, uint8_t* IV, uint32_t IVLen, uint8_t* SwKey, uint32_t SwKeyLen);
uint32_t FWC_AesUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* DataOut,
                          uint32_t* pDataOutLen);
uint32_t FWC_AesFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* DataOut,
                         uint32_t* pDataOutLen);
uint32_t FWC_AesCrypt_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t AESCipherMode, uint8_t AESCipherDir,
                         uint8_t AESCipherPadding, uint8_t* IV, uint32_t IVLen, uint8_t* SwKey, uint32_t SwKeyLen,
                         uint8_t* Data, uint32_t DataLen, uint8_t* DataOut, uint32_t* pDataOutLen);
uint32_t FWC_AesWrapKey_mw(ZEB_CRYPTO_HANDLE hSession, uint32_t KeyWrapType, uint8_t* SwWrappingKey,
                           uint32_t SwWrappingKeyLen, uint8_t* SwTargetKey, uint32_t SwTargetKeyLen,
                           uint8_t* WrappedKey, uint32_t* pWrappedKeyLen);
uint32_t FWC_AesUnwrapKey_mw(ZEB_CRYPTO_HANDLE hSession, uint32_t KeyWrapType, uint8_t* SwUnwrappingKey,
                             uint32_t SwUnwrappingKeyLen, uint8_t* WrappedKey, uint32_t WrappedKeyLen,
                             uint8_t* SwTargetKey, uint32_t* pSwTargetKeyLen);
uint32_t FWC_AesGcmInit_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* AAD, uint32_t AADLen, uint8_t* IV, uint32_t IVLen,
                           uint8_t* SwKey, uint32_t SwKeyLen);
uint32_t FWC_AesGcmEncryptUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* pDataOut,
                                    uint32_t* pDataOutLen);
uint32_t FWC_AesGcmEncryptFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t TagLen, uint8_t* Data, uint32_t DataLen,
                                   uint8_t* pDataOut, uint32_t* pDataOutLen);
uint32_t FWC_AesGcmDecryptUpdate_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* pDataOut,
                                    uint32_t* pDataOutLen);
uint32_t FWC_AesGcmDecryptFinal_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* Data, uint32_t DataLen, uint8_t* Tag,
                                   uint8_t TagLen, uint8_t* pDataOut, uint32_t* pDataOutLen);

// ---- Crypto: ECC, RSA, KDF, key generation, key blobs, padding ----
uint32_t FWC_ECDSASignSingle_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* FWPrivKey, uint32_t FWPrivKeyLen, uint8_t* Digest,
                                uint32_t DigestLen, uint8_t* pSignature, uint32_t* pSignatureLen);
uint32_t FWC_ECDSAVerifySingle_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* pPubKeyDer, uint32_t PubKeyDerLen,
                                  uint8_t* Digest, uint32_t DigestLen, uint8_t* Signature, uint32_t SignatureLen);
uint32_t FWC_ECDH_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwPrivKeyA, uint32_t SwPrivKeyALen, uint8_t* PubKeyDerB,
                     uint32_t PubKeyDerBLen, uint8_t* ShareSercet, uint32_t* ShareSercetLen);
uint32_t FWC_RSASign_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType, uint8_t* SwPrivKey, uint32_t SwPrivKeyLen,
                              uint8_t* Data, uint32_t DataLen, uint8_t* Signature, uint32_t* pSignatureLen);
uint32_t FWC_RSAVerify_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t HashType, uint8_t* PubKey, uint32_t PubKeyLen,
                                uint8_t* Data, uint32_t DataLen, uint8_t* Signature, uint32_t SignatureLen);
uint32_t FWC_RSAEncrypt_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* PubKey, uint32_t PubKeyLen, uint8_t* Data,
                                 uint32_t DataLen, uint8_t* Cipher, uint32_t* pCipherLen);
uint32_t FWC_RSADecrypt_PKCS1_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwPrivKey, uint32_t SwPrivKeyLen, uint8_t* Cihper,
                                 uint32_t CihperLen, uint8_t* pPlain, uint32_t* pPlainLen);
uint32_t FWC_Pbkdf_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* password, uint32_t password_len, uint8_t* salt,
                      uint32_t salt_len, uint8_t* dk, uint32_t* dk_len);
uint32_t FWC_Key_Encrypt_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* PlainKey, uint32_t PlainKeyLen, uint8_t* SwKey,
                            uint32_t* pSwKeyLen);
uint32_t FWC_Key_Decrypt_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t* SwKey, uint32_t SwKeyLen, uint8_t* PlainKey,
                            uint32_t* pPlainKeyLen);
uint32_t FWC_AESGenerateKey_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t AESCipherType, uint8_t* SwKey, uint32_t* pSwKeyLen);
uint32_t FWC_ECGenerateKeyPair_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t EccCurveType, uint8_t* pSwPrivKey,
                                  uint32_t* pSwPrivKeyLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen);
uint32_t FWC_ECGenerateKeyPair_EXTRA_B_mw(ZEB_CRYPTO_HANDLE hSession, uint8_t EccCurveType, uint8_t* pSwPrivKey,
                                          uint32_t* pSwPrivKeyLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen);
uint32_t FWC_RSAGenerateKeyPair_mw(ZEB_CRYPTO_HANDLE hSession, uint32_t RsaModeSize, uint32_t Exponent,
                                   uint8_t* pSwPrivKey, uint32_t* pSwPrivKeyLen, uint8_t* pPubKey,
                                   uint32_t* pPubKeyLen);
uint32_t FWC_Padding_mw(uint32_t PaddingType, uint32_t BlockSize, uint8_t* Data, uint32_t DataLen, uint8_t* pDataOut,
                        uint32_t* pDataOutLen);
uint32_t FWC_Unpadding_mw(uint32_t PaddingType, uint32_t BlockSize, uint8_t* Data, uint32_t DataLen,
                          uint8_t* pDataOut, uint32_t* pDataOutLen);

}  // extern "C"
