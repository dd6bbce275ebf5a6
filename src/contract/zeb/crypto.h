// Crypto function tables and the per-session crypto adapter context.
//
// Every table operation takes the adapter's crypto handle first. Secret and
// private keys cross every operation as key blobs wrapped under the provider
// session's master key; public keys cross in plain raw form.
#pragma once

#include "zeb/vrk_types.h"

// A crypto session of a provider: the handle every table operation takes first.
typedef uint32_t ZEB_CRYPTO_HANDLE;

// zeb_crypto_function_type: which provider filled a table.
typedef uint32_t zeb_crypto_function_type;
enum : uint32_t { FWC_FUNCTIONS = 0, SWC_FUNCTIONS = 1 };

typedef struct C_AESFunc_t {
  zeb_crypto_function_type func_type;
  uint32_t (*C_AesInit)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV,
                        uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength);
  uint32_t (*C_AesUpdate)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                          uint32_t* pDataOutLength);
  uint32_t (*C_AesFinal)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                         uint32_t* pDataOutLength);
  uint32_t (*C_AesCrypt)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV,
                         uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pData,
                         uint32_t DataLength, uint8_t* pDataOut, uint32_t* pDataOutLength);
  uint32_t (*C_AESGenerateKey)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t AESCipherType, uint8_t* pKey,
                               uint32_t* pu32KeyLength);
  uint32_t (*C_AesGcmInit)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pAAD, uint32_t AADLength, uint8_t* pIV,
                           uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength);
  uint32_t (*C_AesGcmEncryptUpdate)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                                    uint32_t* pDataOutLength);
  uint32_t (*C_AesGcmEncryptFinal)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t TagLen, uint8_t* pData, uint32_t DataLength,
                                   uint8_t* pDataOut, uint32_t* pDataOutLength);
  uint32_t (*C_AesGcmDecryptUpdate)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                                    uint32_t* pDataOutLength);
  uint32_t (*C_AesGcmDecryptFinal)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pData, uint32_t DataLength, uint8_t* pTag,
                                   uint8_t TagLen, uint8_t* pDataOut, uint32_t* pDataOutLength);
} C_AESFunc_t;

typedef struct C_RSAFunc_t {
  zeb_crypto_function_type func_type;
  uint32_t (*C_RSASign_PKCS1)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t HashType, uint8_t* pPrivKey, uint32_t PrivKeyLength,
                              uint8_t* pDigest, uint32_t DigestLength, uint8_t* pSignature,
                              uint32_t* pSignatureLength);
  uint32_t (*C_RSAVerify_PKCS1)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t HashType, uint8_t* pPubKey, uint32_t PubKeyLength,
                                uint8_t* pDigest, uint32_t DigestLength, uint8_t* pSignature,
                                uint32_t SignatureLength);
  uint32_t (*C_RSAEncrypt_PKCS1)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pData,
                                 uint32_t DataLength, uint8_t* pCipher, uint32_t* pCipherLength);
  uint32_t (*C_RSADecrypt_PKCS1)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pCipher,
                                 uint32_t CipherLength, uint8_t* pPlain, uint32_t* pPlainLength);
  uint32_t (*C_RSAGenerateKeyPair)(ZEB_CRYPTO_HANDLE hCrypto, uint32_t ulRsaKeySize, uint32_t ulExponent,
                                   uint8_t* pPrivKey, uint32_t* pPrivKeyLength, uint8_t* pPubKey,
                                   uint32_t* pPubKeyLength);
} C_RSAFunc_t;

typedef struct C_ECCFunc_t {
  zeb_crypto_function_type func_type;
  uint32_t (*C_ECDSASignSingle)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pDigest,
                                uint32_t DigestLength, uint8_t* pSignature, uint32_t* pSignatureLength);
  uint32_t (*C_ECDSAVerifySingle)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pPubKey, uint32_t PubKeyLength, uint8_t* pDigest,
                                  uint32_t DigestLength, uint8_t* pSignature, uint32_t SignatureLength);
  uint32_t (*C_ECGenerateKeyPair)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t EccCurveType, uint8_t* pPrivKey,
                                  uint32_t* pPrivKeyLength, uint8_t* pPubKey, uint32_t* pPubKeyLength);
  uint32_t (*C_ECDH)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pPrivKey, uint32_t PrivKeyLength, uint8_t* pPubKey,
                     uint32_t PubKeyLength, uint8_t* pShareSecret, uint32_t* pShareSecretLength);
} C_ECCFunc_t;

typedef struct C_KeyBlobFunc_t {
  zeb_crypto_function_type func_type;
  uint32_t (*C_KeyEncrypt)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pPlainKey, uint32_t u32PlainKeyLength, uint8_t* pKey,
                           uint32_t* pu32KeyLength);
  uint32_t (*C_KeyDecrypt)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* pPlainKey,
                           uint32_t* pu32PlainKeyLength);
} C_KeyBlobFunc_t;

typedef struct C_KdfFunc_t {
  zeb_crypto_function_type func_type;
  uint32_t (*C_Pbkdf)(ZEB_CRYPTO_HANDLE hCrypto, uint8_t* password, uint32_t password_len, uint8_t* salt,
                      uint32_t salt_len, uint8_t* dk, uint32_t* dk_len);
} C_KdfFunc_t;

inline constexpr size_t CA_PUBKEY_MAX = 2048;
inline constexpr size_t CA_PRIVKEY_MAX = 4096;
inline constexpr size_t CA_DIGEST_CTX_SIZE = 1024;

// Per-session crypto state (the CaCtx field of every VRK_SESSION_CTX).
typedef struct CryptoAdapterCtx {
  uint32_t Crypto_State;
  ZEB_CRYPTO_HANDLE hCrypto;  // handle given to every table operation
  ZEB_CRYPTO_HANDLE hSW;      // software provider session
  ZEB_CRYPTO_HANDLE hSE;      // secure-element session: the device token session
  uint8_t Hsm_Type;
  uint8_t Dir;       // 1 decrypt, 2 encrypt
  uint8_t Padding;
  uint8_t KeyAlgo;
  uint8_t HashType;
  uint8_t TagLen;
  uint8_t Crypto_Operation;  // VRK_OP_*
  uint8_t Res;
  uint8_t PubKey[2048];
  uint32_t PubKeyLength;
  uint8_t PrivKey[4096];
  uint32_t PrivKeyLength;
  uint8_t RemainData[32];
  uint8_t RemainDataLength;
  uint8_t Res2[3];
  // Hash state of a multi-part sign or verify; aligned so a hash context can
  // live in it.
  alignas(8) uint8_t DigestCtx[1024];
} CryptoAdapterCtx;

static_assert(offsetof(CryptoAdapterCtx, Hsm_Type) == 16);
static_assert(offsetof(CryptoAdapterCtx, PubKey) == 24);
static_assert(offsetof(CryptoAdapterCtx, PubKeyLength) == 2072);
static_assert(offsetof(CryptoAdapterCtx, PrivKey) == 2076);
static_assert(offsetof(CryptoAdapterCtx, PrivKeyLength) == 6172);
static_assert(offsetof(CryptoAdapterCtx, RemainData) == 6176);
static_assert(offsetof(CryptoAdapterCtx, RemainDataLength) == 6208);
static_assert(offsetof(CryptoAdapterCtx, DigestCtx) == 6216);
static_assert(sizeof(CryptoAdapterCtx) == 7240);
