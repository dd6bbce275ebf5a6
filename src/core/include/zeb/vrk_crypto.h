// The core service's AES, EC and RSA calls (VRK_*). Every call here needs a
// session logged in as token user (else VRK_ERR_USER_NOT_LOGGED_IN; unknown
// session VRK_ERR_SESSION_HANDLE); keys are passed as device objects. Output
// lengths are capacity in, bytes written out: a short buffer gives
// VRK_ERR_BUFFER_TOO_SMALL with the needed length, and a multi-part operation
// then goes on. A start while another operation holds the session's crypto
// context gives VRK_ERR_OPERATION_ACTIVE; a step without its start gives
// VRK_ERR_NOT_INITIALIZED.
#pragma once

#include "zeb/vrk_types.h"

// The digest buffer of sign and verify: a caller's raw digest (no hashing)
// may be at most this long. Key contexts must fit 4,096 bytes (private) and
// 2,048 bytes (public); larger ones are refused with VRK_ERR_ARGUMENTS.
inline constexpr uint32_t CA_DIGEST_BUFFER = 512;

// Directions of the AES calls (the block-cipher API's values).
enum : uint8_t { VRK_AES_DIR_DECRYPT = 1, VRK_AES_DIR_ENCRYPT = 2 };

extern "C" {

// ---- AES ----
VRK_RV VRK_GenerateKey(VRK_HANDLE hSession, VRK_UCHAR AESCipherType, VRK_UCHAR_PTR pID, VRK_UCHAR_PTR pLabel,
                       VRK_UCHAR_PTR pKeyObject, VRK_UINT32_PTR pKeyObjectLength);
VRK_RV VRK_AesInit(VRK_HANDLE hSession, VRK_UCHAR AESCipherMode, VRK_UCHAR Dir, VRK_UCHAR Padding, VRK_UCHAR_PTR pIV,
                   VRK_UINT32 IVLength, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength);
VRK_RV VRK_AesUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                     VRK_UINT32_PTR pDataOutLength);
VRK_RV VRK_AesFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength);
VRK_RV VRK_AesCrypt(VRK_HANDLE hSession, VRK_UCHAR AESCipherMode, VRK_UCHAR AESCipherDir, VRK_UCHAR AESCipherPadding,
                    VRK_UCHAR_PTR IV, VRK_UINT32 IVLen, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength,
                    VRK_UCHAR_PTR Data, VRK_UINT32 DataLen, VRK_UCHAR_PTR DataOut, VRK_UINT32_PTR pDataOutLen);
VRK_RV VRK_AesGcmInit(VRK_HANDLE hSession, VRK_UCHAR TagLen, VRK_UCHAR_PTR pAAD, VRK_UINT32 AADLength, VRK_UCHAR_PTR pIV,
                      VRK_UINT32 IVLength, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength);
VRK_RV VRK_AesGcmEncryptUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                               VRK_UINT32_PTR pDataOutLength);
VRK_RV VRK_AesGcmEncryptFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength);
VRK_RV VRK_AesGcmDecryptUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                               VRK_UINT32_PTR pDataOutLength);
VRK_RV VRK_AesGcmDecryptFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength);

// ---- ECDSA and ECDH (signatures r || s, the curve's length each) ----
VRK_RV VRK_ECGenerateKeyPair(VRK_HANDLE hSession, VRK_UCHAR EccCurveType, VRK_UCHAR_PTR pID, VRK_UCHAR_PTR pLabel,
                             VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32_PTR pu32PrivKeyObjectLength,
                             VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32_PTR pu32PubKeyObjectLength);
VRK_RV VRK_ECDSASignInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                         VRK_UINT32 u32PrivKeyObjectLength);
VRK_RV VRK_ECDSASignUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
VRK_RV VRK_ECDSASignFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength);
VRK_RV VRK_ECDSASign(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pSignature,
                     VRK_UINT32_PTR pu32SignatureLength);
VRK_RV VRK_ECDSASignSingle(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                           VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DigestLength, VRK_UCHAR_PTR pSignature,
                           VRK_UINT32_PTR pu32SignatureLength);
VRK_RV VRK_ECDSAVerifyInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                           VRK_UINT32 u32PubKeyObjectLength);
VRK_RV VRK_ECDSAVerifyUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
VRK_RV VRK_ECDSAVerifyFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength);
VRK_RV VRK_ECDSAVerify(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pSignature,
                       VRK_UINT32 u32SignatureLength);
VRK_RV VRK_ECDSAVerifySingle(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength,
                             VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DigestLength, VRK_UCHAR_PTR pSignature,
                             VRK_UINT32 u32SignatureLength);
VRK_RV VRK_ECDH(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength, VRK_UCHAR_PTR pShareSecret,
                VRK_UINT32_PTR pu32ShareSecretLength);

// ---- RSA PKCS#1 v1.5 ----
VRK_RV VRK_RSAGenerateKeyPair(VRK_HANDLE hSession, VRK_UINT32 ulRsaModuleSize, VRK_UINT32 ulExponent, VRK_UCHAR_PTR pID,
                              VRK_UCHAR_PTR pLabel, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32_PTR pu32PrivKeyObjectLength,
                              VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32_PTR pu32PubKeyObjectLength);
VRK_RV VRK_RSASignInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                       VRK_UINT32 u32PrivKeyObjectLength);
VRK_RV VRK_RSASignUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
VRK_RV VRK_RSASignFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength);
VRK_RV VRK_RSASign(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 ulDataLength, VRK_UCHAR_PTR pSignature,
                   VRK_UINT32_PTR pulSignatureLength);
VRK_RV VRK_RSASign_PKCS1(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                         VRK_UINT32 u32PrivKeyObjectLength, VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DataLength,
                         VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength);
VRK_RV VRK_RSAVerifyInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                         VRK_UINT32 u32PubKeyObjectLength);
VRK_RV VRK_RSAVerifyUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
VRK_RV VRK_RSAVerifyFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength);
VRK_RV VRK_RSAVerify(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 ulDataLength, VRK_UCHAR_PTR pSignature,
                     VRK_UINT32 ulSignatureLength);
VRK_RV VRK_RSAVerify_PKCS1(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                           VRK_UINT32 u32PubKeyObjectLength, VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DataLength,
                           VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength);
VRK_RV VRK_RSAEncryptInit(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength);
VRK_RV VRK_RSAEncrypt(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pCipher,
                      VRK_UINT32_PTR pu32CipherLength);
VRK_RV VRK_RSAEncrypt_PKCS1(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength,
                            VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pCipher,
                            VRK_UINT32_PTR pu32CipherLength);
VRK_RV VRK_RSADecryptInit(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength);
VRK_RV VRK_RSADecrypt(VRK_HANDLE hSession, VRK_UCHAR_PTR pCihper, VRK_UINT32 u32CihperLength, VRK_UCHAR_PTR pPlain,
                      VRK_UINT32_PTR pu32PlainLength);
VRK_RV VRK_RSADecrypt_PKCS1(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                            VRK_UCHAR_PTR pCihper, VRK_UINT32 u32CihperLength, VRK_UCHAR_PTR pPlain,
                            VRK_UINT32_PTR pu32PlainLength);

}  // extern "C"
