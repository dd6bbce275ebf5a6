// The core service's AES, EC and RSA calls (VRK_*) and the crypto adapter
// operations under them (CA_*). Every VRK_* call here needs a session logged
// in as token user (else 0x101; unknown session 0xB3); keys are passed as
// device objects. Output lengths are capacity in, bytes written out: a short
// buffer gives 0x150 with the needed length, and a multi-part operation then
// goes on. A start while another operation holds the session's crypto
// context gives 0x51; a step without its start gives 0x91.
#pragma once

#include "zeb/crypto.h"
#include "zeb/vrk_types.h"

// The digest buffer of sign and verify: a caller's raw digest (no hashing)
// may be at most this long. Key contexts must fit CA_PRIVKEY_MAX and
// CA_PUBKEY_MAX; larger ones are refused with 7.
inline constexpr uint32_t CA_DIGEST_BUFFER = 512;

// Directions of the AES calls (the block-cipher API's values).
enum : uint8_t { VRK_AES_DIR_DECRYPT = 1, VRK_AES_DIR_ENCRYPT = 2 };

extern "C" {

// ---- AES ----
int VRK_GenerateKey(VRK_HANDLE hSession, VRK_UCHAR AESCipherType, VRK_UCHAR_PTR pID, VRK_UCHAR_PTR pLabel,
                    VRK_UCHAR_PTR pKeyObject, VRK_UINT32_PTR pKeyObjectLength);
int VRK_AesInit(VRK_HANDLE hSession, VRK_UCHAR AESCipherMode, VRK_UCHAR Dir, VRK_UCHAR Padding, VRK_UCHAR_PTR pIV,
                VRK_UINT32 IVLength, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength);
int VRK_AesUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                  VRK_UINT32_PTR pDataOutLength);
int VRK_AesFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength);
int VRK_AesCrypt(VRK_HANDLE hSession, VRK_UCHAR AESCipherMode, VRK_UCHAR AESCipherDir, VRK_UCHAR AESCipherPadding,
                 VRK_UCHAR_PTR IV, VRK_UINT32 IVLen, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength,
                 VRK_UCHAR_PTR Data, VRK_UINT32 DataLen, VRK_UCHAR_PTR DataOut, VRK_UINT32_PTR pDataOutLen);
int VRK_AesGcmInit(VRK_HANDLE hSession, VRK_UCHAR TagLen, VRK_UCHAR_PTR pAAD, VRK_UINT32 AADLength, VRK_UCHAR_PTR pIV,
                   VRK_UINT32 IVLength, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength);
int VRK_AesGcmEncryptUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                            VRK_UINT32_PTR pDataOutLength);
int VRK_AesGcmEncryptFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength);
int VRK_AesGcmDecryptUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                            VRK_UINT32_PTR pDataOutLength);
int VRK_AesGcmDecryptFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength);

int CA_AESGenerateKey(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherType, uint8_t* pKey, uint32_t* pu32KeyLength);
int CA_AesInit(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV,
               uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength);
int CA_AesUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                 uint32_t* pDataOutLength);
int CA_AesFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength);
int CA_AesCrypt(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherMode, uint8_t AESCipherDir, uint8_t AESCipherPadding,
                uint8_t* IV, uint32_t IVLen, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* Data, uint32_t DataLen,
                uint8_t* DataOut, uint32_t* pDataOutLen);
int CA_AesGcmInit(CryptoAdapterCtx* pCaCtx, uint8_t TagLen, uint8_t* pAAD, uint32_t AADLength, uint8_t* pIV,
                  uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength);
int CA_AesGcmEncryptUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                           uint32_t* pDataOutLength);
int CA_AesGcmEncryptFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength);
int CA_AesGcmDecryptUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                           uint32_t* pDataOutLength);
int CA_AesGcmDecryptFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength);

// ---- ECDSA and ECDH (signatures r || s, the curve's length each) ----
int VRK_ECGenerateKeyPair(VRK_HANDLE hSession, VRK_UCHAR EccCurveType, VRK_UCHAR_PTR pID, VRK_UCHAR_PTR pLabel,
                          VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32_PTR pu32PrivKeyObjectLength,
                          VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32_PTR pu32PubKeyObjectLength);
int VRK_ECDSASignInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                      VRK_UINT32 u32PrivKeyObjectLength);
int VRK_ECDSASignUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
int VRK_ECDSASignFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength);
int VRK_ECDSASign(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pSignature,
                  VRK_UINT32_PTR pu32SignatureLength);
int VRK_ECDSASignSingle(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                        VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DigestLength, VRK_UCHAR_PTR pSignature,
                        VRK_UINT32_PTR pu32SignatureLength);
int VRK_ECDSAVerifyInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                        VRK_UINT32 u32PubKeyObjectLength);
int VRK_ECDSAVerifyUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
int VRK_ECDSAVerifyFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength);
int VRK_ECDSAVerify(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pSignature,
                    VRK_UINT32 u32SignatureLength);
int VRK_ECDSAVerifySingle(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength,
                          VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DigestLength, VRK_UCHAR_PTR pSignature,
                          VRK_UINT32 u32SignatureLength);
int VRK_ECDH(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
             VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength, VRK_UCHAR_PTR pShareSecret,
             VRK_UINT32_PTR pu32ShareSecretLength);

int CA_ECGenerateKeyPair(CryptoAdapterCtx* pCaCtx, uint8_t EccCurveType, uint8_t* pPrivKey, uint32_t* pPrivKeyLength,
                         uint8_t* pPubKey, uint32_t* pPubKeyLength);
int CA_ECDSASignInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength);
int CA_ECDSASignUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
int CA_ECDSASignFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t* pSignatureLength);
int CA_ECDSASign(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                 uint32_t* pSignatureLength);
int CA_ECDSASignSingle(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pDigest,
                       uint32_t DigestLength, uint8_t* pSignature, uint32_t* pSignatureLength);
int CA_ECDSAVerifyInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength);
int CA_ECDSAVerifyUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
int CA_ECDSAVerifyFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t SignatureLength);
int CA_ECDSAVerify(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                   uint32_t SignatureLength);
int CA_ECDSAVerifySingle(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest,
                         uint32_t DigestLength, uint8_t* pSignature, uint32_t SignatureLength);
int CA_ECDH(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKeyA, uint32_t u32PrivKeyALength, uint8_t* pPubKeyB,
            uint32_t u32PubKeyBLength, uint8_t* pShareSecret, uint32_t* pShareSecretLength);

// ---- RSA PKCS#1 v1.5 ----
int VRK_RSAGenerateKeyPair(VRK_HANDLE hSession, VRK_UINT32 ulRsaModuleSize, VRK_UINT32 ulExponent, VRK_UCHAR_PTR pID,
                           VRK_UCHAR_PTR pLabel, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32_PTR pu32PrivKeyObjectLength,
                           VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32_PTR pu32PubKeyObjectLength);
int VRK_RSASignInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                    VRK_UINT32 u32PrivKeyObjectLength);
int VRK_RSASignUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
int VRK_RSASignFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength);
int VRK_RSASign(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 ulDataLength, VRK_UCHAR_PTR pSignature,
                VRK_UINT32_PTR pulSignatureLength);
int VRK_RSASign_PKCS1(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                      VRK_UINT32 u32PrivKeyObjectLength, VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DataLength,
                      VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength);
int VRK_RSAVerifyInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                      VRK_UINT32 u32PubKeyObjectLength);
int VRK_RSAVerifyUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength);
int VRK_RSAVerifyFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength);
int VRK_RSAVerify(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 ulDataLength, VRK_UCHAR_PTR pSignature,
                  VRK_UINT32 ulSignatureLength);
int VRK_RSAVerify_PKCS1(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                        VRK_UINT32 u32PubKeyObjectLength, VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DataLength,
                        VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength);
int VRK_RSAEncryptInit(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength);
int VRK_RSAEncrypt(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pCipher,
                   VRK_UINT32_PTR pu32CipherLength);
int VRK_RSAEncrypt_PKCS1(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength,
                         VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pCipher,
                         VRK_UINT32_PTR pu32CipherLength);
int VRK_RSADecryptInit(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength);
int VRK_RSADecrypt(VRK_HANDLE hSession, VRK_UCHAR_PTR pCihper, VRK_UINT32 u32CihperLength, VRK_UCHAR_PTR pPlain,
                   VRK_UINT32_PTR pu32PlainLength);
int VRK_RSADecrypt_PKCS1(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                         VRK_UCHAR_PTR pCihper, VRK_UINT32 u32CihperLength, VRK_UCHAR_PTR pPlain,
                         VRK_UINT32_PTR pu32PlainLength);

int CA_RSAGenerateKeyPair(CryptoAdapterCtx* pCaCtx, uint32_t ulRsaModuleSize, uint32_t ulExponent, uint8_t* pPrivKey,
                          uint32_t* pPrivKeyLength, uint8_t* pPubKey, uint32_t* pPubKeyLength);
int CA_RSASignInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength);
int CA_RSASignUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
int CA_RSASignFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t* pSignatureLength);
int CA_RSASign(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
               uint32_t* pSignatureLength);
int CA_RSASign_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength,
                     uint8_t* pData, uint32_t DataLength, uint8_t* pSignature, uint32_t* pSignatureLength);
int CA_RSAVerifyInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength);
int CA_RSAVerifyUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
int CA_RSAVerifyFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t SignatureLength);
int CA_RSAVerify(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                 uint32_t SignatureLength);
int CA_RSAVerify_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength,
                       uint8_t* pData, uint32_t DataLength, uint8_t* pSignature, uint32_t SignatureLength);
int CA_RSAEncryptInit(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength);
int CA_RSAEncrypt(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pCipher,
                  uint32_t* pCipherLength);
int CA_RSAEncrypt_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pData,
                        uint32_t DataLength, uint8_t* pCipher, uint32_t* pCipherLength);
int CA_RSADecryptInit(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength);
int CA_RSADecrypt(CryptoAdapterCtx* pCaCtx, uint8_t* pCipher, uint32_t CipherLength, uint8_t* pPlain,
                  uint32_t* pPlainLength);
int CA_RSADecrypt_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pCipher,
                        uint32_t CipherLength, uint8_t* pPlain, uint32_t* pPlainLength);

}  // extern "C"
