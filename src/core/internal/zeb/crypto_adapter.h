// The crypto adapter's operations (CA_*) under the core's AES, EC and RSA
// calls: each takes the session's adapter context and dispatches to the
// provider's table. Lengths and results as for the VRK_* calls.
#pragma once

#include "zeb/crypto.h"
#include "zeb/vrk_crypto.h"

extern "C" {

[[nodiscard]] int CA_AESGenerateKey(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherType, uint8_t* pKey, uint32_t* pu32KeyLength);
int CA_AesInit(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV,
               uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength);
int CA_AesUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                 uint32_t* pDataOutLength);
[[nodiscard]] int CA_AesFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength);
int CA_AesCrypt(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherMode, uint8_t AESCipherDir, uint8_t AESCipherPadding,
                uint8_t* IV, uint32_t IVLen, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* Data, uint32_t DataLen,
                uint8_t* DataOut, uint32_t* pDataOutLen);
int CA_AesGcmInit(CryptoAdapterCtx* pCaCtx, uint8_t TagLen, uint8_t* pAAD, uint32_t AADLength, uint8_t* pIV,
                  uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength);
int CA_AesGcmEncryptUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                           uint32_t* pDataOutLength);
[[nodiscard]] int CA_AesGcmEncryptFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength);
int CA_AesGcmDecryptUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                           uint32_t* pDataOutLength);
[[nodiscard]] int CA_AesGcmDecryptFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength);
int CA_ECGenerateKeyPair(CryptoAdapterCtx* pCaCtx, uint8_t EccCurveType, uint8_t* pPrivKey, uint32_t* pPrivKeyLength,
                         uint8_t* pPubKey, uint32_t* pPubKeyLength);
[[nodiscard]] int CA_ECDSASignInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength);
[[nodiscard]] int CA_ECDSASignUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] int CA_ECDSASignFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t* pSignatureLength);
int CA_ECDSASign(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                 uint32_t* pSignatureLength);
int CA_ECDSASignSingle(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pDigest,
                       uint32_t DigestLength, uint8_t* pSignature, uint32_t* pSignatureLength);
[[nodiscard]] int CA_ECDSAVerifyInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength);
[[nodiscard]] int CA_ECDSAVerifyUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] int CA_ECDSAVerifyFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t SignatureLength);
int CA_ECDSAVerify(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                   uint32_t SignatureLength);
int CA_ECDSAVerifySingle(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest,
                         uint32_t DigestLength, uint8_t* pSignature, uint32_t SignatureLength);
int CA_ECDH(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKeyA, uint32_t u32PrivKeyALength, uint8_t* pPubKeyB,
            uint32_t u32PubKeyBLength, uint8_t* pShareSecret, uint32_t* pShareSecretLength);
int CA_RSAGenerateKeyPair(CryptoAdapterCtx* pCaCtx, uint32_t ulRsaModuleSize, uint32_t ulExponent, uint8_t* pPrivKey,
                          uint32_t* pPrivKeyLength, uint8_t* pPubKey, uint32_t* pPubKeyLength);
[[nodiscard]] int CA_RSASignInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength);
[[nodiscard]] int CA_RSASignUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] int CA_RSASignFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t* pSignatureLength);
int CA_RSASign(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
               uint32_t* pSignatureLength);
int CA_RSASign_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength,
                     uint8_t* pData, uint32_t DataLength, uint8_t* pSignature, uint32_t* pSignatureLength);
[[nodiscard]] int CA_RSAVerifyInit(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength);
[[nodiscard]] int CA_RSAVerifyUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength);
[[nodiscard]] int CA_RSAVerifyFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pSignature, uint32_t SignatureLength);
int CA_RSAVerify(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pSignature,
                 uint32_t SignatureLength);
int CA_RSAVerify_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength,
                       uint8_t* pData, uint32_t DataLength, uint8_t* pSignature, uint32_t SignatureLength);
[[nodiscard]] int CA_RSAEncryptInit(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength);
int CA_RSAEncrypt(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pCipher,
                  uint32_t* pCipherLength);
int CA_RSAEncrypt_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pData,
                        uint32_t DataLength, uint8_t* pCipher, uint32_t* pCipherLength);
[[nodiscard]] int CA_RSADecryptInit(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength);
int CA_RSADecrypt(CryptoAdapterCtx* pCaCtx, uint8_t* pCipher, uint32_t CipherLength, uint8_t* pPlain,
                  uint32_t* pPlainLength);
int CA_RSADecrypt_PKCS1(CryptoAdapterCtx* pCaCtx, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pCipher,
                        uint32_t CipherLength, uint8_t* pPlain, uint32_t* pPlainLength);

}  // extern "C"
