// The core's EC calls: key pairs returned as objects, ECDSA and ECDH with
// keys taken from objects through the device.
#include "crypto/vrk_crypto_common.h"

using namespace zeb::core;

namespace {

// Largest EC key contexts: the raw blobs of P-521 (L = 68) and a margin.
constexpr uint32_t kPrivContextCap = 76;
constexpr uint32_t kPubContextCap = 144;

// Loads a key object for an EC call; a refused object is 6.
template <class Fn>
int with_key(VRK_HANDLE hSession, const uint8_t* obj, uint32_t len, KeyKind kind, Fn fn) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  KeyContext key;
  if (int rv = key.load(*s, obj, len, kind); rv != VRK_OK) return object_failure(rv, VRK_ERR_FAILED);
  return fn(s->CaCtx, key);
}

}  // namespace

extern "C" {

VRK_RV VRK_ECGenerateKeyPair(VRK_HANDLE hSession, VRK_UCHAR EccCurveType, VRK_UCHAR_PTR pID, VRK_UCHAR_PTR pLabel,
                             VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32_PTR pu32PrivKeyObjectLength,
                             VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32_PTR pu32PubKeyObjectLength) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  if (pPrivKeyObject == nullptr || pu32PrivKeyObjectLength == nullptr || pPubKeyObject == nullptr ||
      pu32PubKeyObjectLength == nullptr) {
    return VRK_ERR_ARGUMENTS;
  }
  // A curve without a key algorithm is refused before any key is made.
  const uint8_t algo = key_algo_in(EccCurveType, VRK_KEY_EC_NIST256, VRK_KEY_EC_BP512R1);
  if (algo == VRK_KEY_NONE) return VRK_ERR_KEY_ALGO;
  quarzel::SecretBuffer priv(kPrivContextCap);
  quarzel::SecretBuffer pub(kPubContextCap);
  if (!priv.ok() || !pub.ok()) return VRK_ERR_HOST_MEMORY;
  uint32_t priv_len = kPrivContextCap;  // capacities in, context lengths out
  uint32_t pub_len = kPubContextCap;
  int rv = CA_ECGenerateKeyPair(&s->CaCtx, EccCurveType, priv.data(), &priv_len, pub.data(), &pub_len);
  if (rv != VRK_OK) return rv;
  rv = build_object(*s, {VRK_OBJ_PRIVATEKEY, algo, VRK_MAC_SHA_256, VRK_ENC_CTR}, pID, pLabel, priv.data(), priv_len,
                    pPrivKeyObject, pu32PrivKeyObjectLength);
  if (rv == VRK_OK) {
    rv = build_object(*s, {VRK_OBJ_PUBLICKEY, algo, VRK_MAC_SHA_256, VRK_ENC_NONE}, pID, pLabel, pub.data(), pub_len,
                      pPubKeyObject, pu32PubKeyObjectLength);
  }
  return rv;
}

VRK_RV VRK_ECDSASignInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPrivKeyObject,
                         VRK_UINT32 u32PrivKeyObjectLength) {
  return with_key(
      hSession, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kEcPrivate,
      [&](CryptoAdapterCtx& c, KeyContext& k) { return CA_ECDSASignInit(&c, HashType, k.data(), k.size()); });
}

VRK_RV VRK_ECDSASignUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_ECDSASignUpdate(&c, pData, u32DataLength); });
}

VRK_RV VRK_ECDSASignFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32_PTR pu32SignatureLength) {
  return with_user(hSession,
                   [&](CryptoAdapterCtx& c) { return CA_ECDSASignFinal(&c, pSignature, pu32SignatureLength); });
}

VRK_RV VRK_ECDSASign(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pSignature,
                     VRK_UINT32_PTR pu32SignatureLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_ECDSASign(&c, pData, u32DataLength, pSignature, pu32SignatureLength);
  });
}

VRK_RV VRK_ECDSASignSingle(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                           VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DigestLength, VRK_UCHAR_PTR pSignature,
                           VRK_UINT32_PTR pu32SignatureLength) {
  return with_key(
      hSession, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kEcPrivate, [&](CryptoAdapterCtx& c, KeyContext& k) {
        return CA_ECDSASignSingle(&c, k.data(), k.size(), pDigest, u32DigestLength, pSignature, pu32SignatureLength);
      });
}

VRK_RV VRK_ECDSAVerifyInit(VRK_HANDLE hSession, VRK_UCHAR HashType, VRK_UCHAR_PTR pPubKeyObject,
                           VRK_UINT32 u32PubKeyObjectLength) {
  return with_key(
      hSession, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kEcPublic,
      [&](CryptoAdapterCtx& c, KeyContext& k) { return CA_ECDSAVerifyInit(&c, HashType, k.data(), k.size()); });
}

VRK_RV VRK_ECDSAVerifyUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_ECDSAVerifyUpdate(&c, pData, u32DataLength); });
}

VRK_RV VRK_ECDSAVerifyFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pSignature, VRK_UINT32 u32SignatureLength) {
  return with_user(hSession,
                   [&](CryptoAdapterCtx& c) { return CA_ECDSAVerifyFinal(&c, pSignature, u32SignatureLength); });
}

VRK_RV VRK_ECDSAVerify(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 u32DataLength, VRK_UCHAR_PTR pSignature,
                       VRK_UINT32 u32SignatureLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_ECDSAVerify(&c, pData, u32DataLength, pSignature, u32SignatureLength);
  });
}

VRK_RV VRK_ECDSAVerifySingle(VRK_HANDLE hSession, VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength,
                             VRK_UCHAR_PTR pDigest, VRK_UINT32 u32DigestLength, VRK_UCHAR_PTR pSignature,
                             VRK_UINT32 u32SignatureLength) {
  return with_key(
      hSession, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kEcPublic, [&](CryptoAdapterCtx& c, KeyContext& k) {
        return CA_ECDSAVerifySingle(&c, k.data(), k.size(), pDigest, u32DigestLength, pSignature, u32SignatureLength);
      });
}

VRK_RV VRK_ECDH(VRK_HANDLE hSession, VRK_UCHAR_PTR pPrivKeyObject, VRK_UINT32 u32PrivKeyObjectLength,
                VRK_UCHAR_PTR pPubKeyObject, VRK_UINT32 u32PubKeyObjectLength, VRK_UCHAR_PTR pShareSecret,
                VRK_UINT32_PTR pu32ShareSecretLength) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  KeyContext priv;
  KeyContext pub;
  if (int rv = priv.load(*s, pPrivKeyObject, u32PrivKeyObjectLength, KeyKind::kEcPrivate); rv != VRK_OK) {
    return object_failure(rv, VRK_ERR_FAILED);
  }
  if (int rv = pub.load(*s, pPubKeyObject, u32PubKeyObjectLength, KeyKind::kEcPublic); rv != VRK_OK) {
    return object_failure(rv, VRK_ERR_FAILED);
  }
  return CA_ECDH(&s->CaCtx, priv.data(), priv.size(), pub.data(), pub.size(), pShareSecret, pu32ShareSecretLength);
}

}  // extern "C"
