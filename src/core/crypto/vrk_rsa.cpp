// The core's RSA calls: key pairs returned as objects, PKCS#1 v1.5
// signatures and encryption with keys taken from objects through the device.
#include "crypto/vrk_crypto_common.h"

using namespace zeb::core;

namespace {

// Largest RSA key contexts: the raw CRT blob and the public blob of a
// 4096-bit key (2820 and 1028 bytes) with a margin.
constexpr uint32_t kPrivContextCap = 2856;
constexpr uint32_t kPubContextCap = 1040;

// Loads a key object for an RSA call; a refused object is `device_failure`
// (6, or the device's own code).
template <class Fn>
int with_key(VRK_HANDLE hSession, const uint8_t* obj, uint32_t len, KeyKind kind, bool device_code, Fn fn) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  KeyContext key;
  if (int rv = key.load(*s, obj, len, kind); rv != VRK_OK) {
    return device_code ? rv : object_failure(rv, VRK_ERR_FAILED);
  }
  return fn(s->CaCtx, key);
}

}  // namespace

extern "C" {

VRK_RV VRK_RSAGenerateKeyPair(VRK_HANDLE hSession, VRK_UINT32 ulRsaModuleSize, VRK_UINT32 ulExponent, VRK_UCHAR_PTR pID,
                              VRK_UCHAR_PTR pLabel, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32_PTR pu32PrivKeyObjectLength,
                              VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32_PTR pu32PubKeyObjectLength) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  if (pPrivKeyObject == nullptr || pu32PrivKeyObjectLength == nullptr || pPubKeyObject == nullptr ||
      pu32PubKeyObjectLength == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  const uint8_t algo = key_algo_in(ulRsaModuleSize, VRK_KEY_RSA1024, VRK_KEY_RSA4096);
  if (algo == VRK_KEY_NONE) return VRK_ERR_FAILED;
  quarzel::SecretBuffer priv(kPrivContextCap);
  quarzel::SecretBuffer pub(kPubContextCap);
  if (!priv.ok() || !pub.ok()) return VRK_ERR_HOST_MEMORY;
  uint32_t priv_len = kPrivContextCap;  // capacities in, context lengths out
  uint32_t pub_len = kPubContextCap;
  int rv = CA_RSAGenerateKeyPair(&s->CaCtx, ulRsaModuleSize, ulExponent, priv.data(), &priv_len, pub.data(), &pub_len);
  if (rv == VRK_OK) {
    rv = build_object(*s, {VRK_OBJ_PRIVATEKEY, algo, VRK_MAC_SHA_256, VRK_ENC_CTR}, pID, pLabel, priv.data(), priv_len,
                      pPrivKeyObject, pu32PrivKeyObjectLength);
  }
  if (rv == VRK_OK) {
    rv = build_object(*s, {VRK_OBJ_PUBLICKEY, algo, VRK_MAC_NONE, VRK_ENC_NONE}, pID, pLabel, pub.data(), pub_len,
                      pPubKeyObject, pu32PubKeyObjectLength);
  }
  // Failures are reported as 6, but a short object buffer says so.
  return rv == VRK_OK || rv == static_cast<int>(VRK_ERR_BUFFER_TOO_SMALL) ? rv : static_cast<int>(VRK_ERR_FAILED);
}

VRK_RV VRK_RSASignInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                       VRK_UINT32 u32PrivKeyObjectLength) {
  return with_key(hSession, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kRsaPrivate, true,
                  [&](CryptoAdapterCtx& c, KeyContext& k) { return CA_RSASignInit(&c, HashType, k.data(), k.size()); });
}

VRK_RV VRK_RSASignUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_RSASignUpdate(&c, pData, u32DataLength); });
}

VRK_RV VRK_RSASignFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_RSASignFinal(&c, pSignature, pu32SignatureLength); });
}

VRK_RV VRK_RSASign(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 ulDataLength, VRK_UCHAR_PTR pSignature,
                   VRK_UINT32_PTR pulSignatureLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_RSASign(&c, pData, ulDataLength, pSignature, pulSignatureLength);
  });
}

VRK_RV VRK_RSASign_PKCS1(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                         VRK_UINT32 u32PrivKeyObjectLength, VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DataLength,
                         VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength) {
  return with_key(hSession, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kRsaPrivate, false,
                  [&](CryptoAdapterCtx& c, KeyContext& k) {
                    return CA_RSASign_PKCS1(&c, HashType, k.data(), k.size(), pDigest, u32DataLength, pSignature,
                                            pu32SignatureLength);
                  });
}

VRK_RV VRK_RSAVerifyInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                         VRK_UINT32 u32PubKeyObjectLength) {
  return with_key(
      hSession, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kRsaPublic, false,
      [&](CryptoAdapterCtx& c, KeyContext& k) { return CA_RSAVerifyInit(&c, HashType, k.data(), k.size()); });
}

VRK_RV VRK_RSAVerifyUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_RSAVerifyUpdate(&c, pData, u32DataLength); });
}

VRK_RV VRK_RSAVerifyFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength) {
  return with_user(hSession,
                   [&](CryptoAdapterCtx& c) { return CA_RSAVerifyFinal(&c, pSignature, u32SignatureLength); });
}

VRK_RV VRK_RSAVerify(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 ulDataLength, VRK_UCHAR_PTR pSignature,
                     VRK_UINT32 ulSignatureLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_RSAVerify(&c, pData, ulDataLength, pSignature, ulSignatureLength);
  });
}

VRK_RV VRK_RSAVerify_PKCS1(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                           VRK_UINT32 u32PubKeyObjectLength, VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DataLength,
                           VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength) {
  return with_key(hSession, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kRsaPublic, false,
                  [&](CryptoAdapterCtx& c, KeyContext& k) {
                    return CA_RSAVerify_PKCS1(&c, HashType, k.data(), k.size(), pDigest, u32DataLength, pSignature,
                                              u32SignatureLength);
                  });
}

VRK_RV VRK_RSAEncryptInit(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength) {
  return with_key(hSession, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kRsaPublic, false,
                  [&](CryptoAdapterCtx& c, KeyContext& k) { return CA_RSAEncryptInit(&c, k.data(), k.size()); });
}

VRK_RV VRK_RSAEncrypt(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pCipher,
                      VRK_UINT32_PTR pu32CipherLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_RSAEncrypt(&c, pData, u32DataLength, pCipher, pu32CipherLength);
  });
}

VRK_RV VRK_RSAEncrypt_PKCS1(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength,
                            VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pCipher,
                            VRK_UINT32_PTR pu32CipherLength) {
  return with_key(hSession, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kRsaPublic, false,
                  [&](CryptoAdapterCtx& c, KeyContext& k) {
                    return CA_RSAEncrypt_PKCS1(&c, k.data(), k.size(), pData, u32DataLength, pCipher, pu32CipherLength);
                  });
}

VRK_RV VRK_RSADecryptInit(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength) {
  return with_key(hSession, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kRsaPrivate, false,
                  [&](CryptoAdapterCtx& c, KeyContext& k) { return CA_RSADecryptInit(&c, k.data(), k.size()); });
}

VRK_RV VRK_RSADecrypt(VRK_HANDLE hSession, VRK_UCHAR_PTR pCihper, VRK_UINT32 u32CihperLength, VRK_UCHAR_PTR pPlain,
                      VRK_UINT32_PTR pu32PlainLength) {
  // Like every crypto call, decryption needs the token user's login.
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_RSADecrypt(&c, pCihper, u32CihperLength, pPlain, pu32PlainLength);
  });
}

VRK_RV VRK_RSADecrypt_PKCS1(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                            VRK_UCHAR_PTR pCihper, VRK_UINT32 u32CihperLength, VRK_UCHAR_PTR pPlain,
                            VRK_UINT32_PTR pu32PlainLength) {
  return with_key(hSession, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kRsaPrivate, false,
                  [&](CryptoAdapterCtx& c, KeyContext& k) {
                    return CA_RSADecrypt_PKCS1(&c, k.data(), k.size(), pCihper, u32CihperLength, pPlain,
                                               pu32PlainLength);
                  });
}

}  // extern "C"
