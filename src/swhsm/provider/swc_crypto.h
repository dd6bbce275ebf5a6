// The software provider's table operations and signature and public-key
// encodings, with plain integer types (see swc_work.h).
#pragma once

#include <cstdint>

extern "C" {

// AES (table C_AESFunc_t). Output lengths are capacity in, bytes written out.
uint32_t SWC_AesInit(uint32_t hSWCryptoSession, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV,
                     uint32_t IVLength, uint8_t* pSwKey, uint32_t u32SwKeyLength);
uint32_t SWC_AesUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                       uint32_t* pDataOutLength);
uint32_t SWC_AesFinal(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                      uint32_t* pDataOutLength);
uint32_t SWC_AESGenerateKey(uint32_t hSWCryptoSession, uint8_t AESCipherType, uint8_t* pSwKey,
                            uint32_t* pu32SwKeyLength);
uint32_t SWC_AesGcmInit(uint32_t hSWCryptoSession, uint8_t* pAAD, uint32_t AADLength, uint8_t* pIV, uint32_t IVLength,
                        uint8_t* pSwKey, uint32_t u32SwKeyLength);
uint32_t SWC_AesGcmEncryptUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                                 uint32_t* pDataOutLength);
uint32_t SWC_AesGcmEncryptFinal(uint32_t hSWCryptoSession, uint8_t TagLen, uint8_t* pData, uint32_t DataLength,
                                uint8_t* pDataOut, uint32_t* pDataOutLength);
uint32_t SWC_AesGcmDecryptUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                                 uint32_t* pDataOutLength);
// A tag that does not verify gives 6, length 0 and a cleared output.
uint32_t SWC_AesGcmDecryptFinal(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* Tag,
                                uint8_t TagLen, uint8_t* pDataOut, uint32_t* pDataOutLength);

// EC (table C_ECCFunc_t). Signatures are r || s, L bytes each.
uint32_t SWC_ECDSASignSingle(uint32_t hSWCryptoSession, uint8_t* pSwPrivKey, uint32_t SwPrivKeyLength, uint8_t* pDigest,
                             uint32_t DigestLength, uint8_t* pSignature, uint32_t* pSignatureLength);
uint32_t SWC_ECDSAVerifySingle(uint32_t hSWCryptoSession, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest,
                               uint32_t DigestLength, uint8_t* pSignature, uint32_t SignatureLength);
uint32_t SWC_ECGenerateKeyPair(uint32_t hSWCryptoSession, uint8_t EccCurveType, uint8_t* pSwPrivKey,
                               uint32_t* pSwPrivKeyLength, uint8_t* pPubKey, uint32_t* pPubKeyLength);
uint32_t SWC_ECDH(uint32_t hSWCryptoSession, uint8_t* pSwPrivKeyA, uint32_t SwPrivKeyALength, uint8_t* pPubKeyB,
                  uint32_t PubKeyBLength, uint8_t* ShareSecret, uint32_t* pShareSecretLength);

// RSA PKCS#1 v1.5 (table C_RSAFunc_t).
uint32_t SWC_RSASign_PKCS1(uint32_t hSWCryptoSession, uint8_t HashType, uint8_t* pSwPrivKey, uint32_t ulSwPrivKeyLength,
                           uint8_t* pData, uint32_t ulDataLength, uint8_t* pSignature, uint32_t* pulSignatureLength);
uint32_t SWC_RSAVerify_PKCS1(uint32_t hSWCryptoSession, uint8_t HashType, uint8_t* pPubKey, uint32_t ulPubKeyLength,
                             uint8_t* pData, uint32_t ulDataLength, uint8_t* pSignature, uint32_t ulSignatureLength);
uint32_t SWC_RSAEncrypt_PKCS1(uint32_t hSWCryptoSession, uint8_t* pPubKey, uint32_t ulPubKeyLength, uint8_t* pData,
                              uint32_t ulDataLength, uint8_t* pCipher, uint32_t* pulCipherLength);
uint32_t SWC_RSADecrypt_PKCS1(uint32_t hSWCryptoSession, uint8_t* pSwPrivKey, uint32_t ulSwPrivKeyLength,
                              uint8_t* pCihper, uint32_t ulCihperLength, uint8_t* pPlain, uint32_t* pulPlainLength);
uint32_t SWC_RSAGenerateKeyPair(uint32_t hSWCryptoSession, uint32_t ulRsaKeySize, uint32_t ulExponent,
                                uint8_t* pSwPrivKey, uint32_t* pulSwPrivKeyLength, uint8_t* pPubKey,
                                uint32_t* pulPubKeyLength);

// EC public point (x || y, no 0x04) to and from a DER SubjectPublicKeyInfo.
// *pPubKeyDerLen and *pQLen are capacity in, length out.
uint32_t ECCPubkeyToDER(uint8_t Curve, uint8_t* QKey, uint32_t QLen, uint8_t* pPubKeyDer, uint32_t* pPubKeyDerLen);
uint32_t ECCPubkeyDERToQ(uint8_t* pPubKeyDer, uint32_t PubkeyDerLen, uint8_t* pCurve, uint8_t* QKey, uint32_t* pQLen);

}  // extern "C"
