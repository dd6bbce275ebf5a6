// The core's AES calls: token-user sessions, key objects turned into key
// blobs through the device, and the adapter's AES operations.
#include "crypto/vrk_crypto_common.h"

using namespace zeb::core;

namespace {

constexpr uint32_t kWrappedKeyArea = 256;

}  // namespace

extern "C" {

VRK_RV VRK_GenerateKey(VRK_HANDLE hSession, VRK_UCHAR AESCipherType, VRK_UCHAR_PTR pID, VRK_UCHAR_PTR pLabel,
                       VRK_UCHAR_PTR pKeyObject, VRK_UINT32_PTR pKeyObjectLength) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  if (pKeyObject == nullptr || pKeyObjectLength == nullptr) return VRK_ERR_ARGUMENTS;
  const uint8_t algo = key_algo_in(AESCipherType, VRK_KEY_AES128, VRK_KEY_AES256);
  if (algo == VRK_KEY_NONE) return VRK_ERR_ARGUMENTS;
  quarzel::SecretBuffer key(kWrappedKeyArea);
  uint32_t key_len = kWrappedKeyArea;  // capacity in, context length out
  if (!key.ok()) return VRK_ERR_HOST_MEMORY;
  if (int rv = CA_AESGenerateKey(&s->CaCtx, AESCipherType, key.data(), &key_len); rv != VRK_OK) return rv;
  const int rv = build_object(*s, {VRK_OBJ_SECRETKEY, algo, VRK_MAC_SHA_256, VRK_ENC_CTR}, pID, pLabel, key.data(),
                              key_len, pKeyObject, pKeyObjectLength);
  return rv == VRK_OK || rv == static_cast<int>(VRK_ERR_BUFFER_TOO_SMALL) ? rv : static_cast<int>(VRK_ERR_FAILED);
}

VRK_RV VRK_AesInit(VRK_HANDLE hSession, VRK_UCHAR AESCipherMode, VRK_UCHAR Dir, VRK_UCHAR Padding, VRK_UCHAR_PTR pIV,
                   VRK_UINT32 IVLength, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  KeyContext key;
  if (int rv = key.load(*s, pKeyObject, KeyObjectLength, KeyKind::kAesSecret); rv != VRK_OK) {
    return object_failure(rv, VRK_ERR_FAILED);
  }
  return CA_AesInit(&s->CaCtx, AESCipherMode, Dir, Padding, pIV, IVLength, key.data(), key.size());
}

VRK_RV VRK_AesUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                     VRK_UINT32_PTR pDataOutLength) {
  return with_user(hSession,
                   [&](CryptoAdapterCtx& c) { return CA_AesUpdate(&c, pData, DataLength, pDataOut, pDataOutLength); });
}

VRK_RV VRK_AesFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_AesFinal(&c, pDataOut, pDataOutLength); });
}

VRK_RV VRK_AesCrypt(VRK_HANDLE hSession, VRK_UCHAR AESCipherMode, VRK_UCHAR AESCipherDir, VRK_UCHAR AESCipherPadding,
                    VRK_UCHAR_PTR IV, VRK_UINT32 IVLen, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength,
                    VRK_UCHAR_PTR Data, VRK_UINT32 DataLen, VRK_UCHAR_PTR DataOut, VRK_UINT32_PTR pDataOutLen) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  KeyContext key;
  if (int rv = key.load(*s, pKeyObject, KeyObjectLength, KeyKind::kAesSecret); rv != VRK_OK) return rv;
  return CA_AesCrypt(&s->CaCtx, AESCipherMode, AESCipherDir, AESCipherPadding, IV, IVLen, key.data(), key.size(), Data,
                     DataLen, DataOut, pDataOutLen);
}

VRK_RV VRK_AesGcmInit(VRK_HANDLE hSession, VRK_UCHAR TagLen, VRK_UCHAR_PTR pAAD, VRK_UINT32 AADLength, VRK_UCHAR_PTR pIV,
                      VRK_UINT32 IVLength, VRK_UCHAR_PTR pKeyObject, VRK_UINT32 KeyObjectLength) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  KeyContext key;
  if (int rv = key.load(*s, pKeyObject, KeyObjectLength, KeyKind::kAesSecret); rv != VRK_OK) {
    return object_failure(rv, VRK_ERR_FAILED);
  }
  return CA_AesGcmInit(&s->CaCtx, TagLen, pAAD, AADLength, pIV, IVLength, key.data(), key.size());
}

VRK_RV VRK_AesGcmEncryptUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                               VRK_UINT32_PTR pDataOutLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_AesGcmEncryptUpdate(&c, pData, DataLength, pDataOut, pDataOutLength);
  });
}

VRK_RV VRK_AesGcmEncryptFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_AesGcmEncryptFinal(&c, pDataOut, pDataOutLength); });
}

VRK_RV VRK_AesGcmDecryptUpdate(VRK_HANDLE hSession, VRK_UCHAR_PTR pData, VRK_UINT32 DataLength, VRK_UCHAR_PTR pDataOut,
                               VRK_UINT32_PTR pDataOutLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) {
    return CA_AesGcmDecryptUpdate(&c, pData, DataLength, pDataOut, pDataOutLength);
  });
}

VRK_RV VRK_AesGcmDecryptFinal(VRK_HANDLE hSession, VRK_UCHAR_PTR pDataOut, VRK_UINT32_PTR pDataOutLength) {
  return with_user(hSession, [&](CryptoAdapterCtx& c) { return CA_AesGcmDecryptFinal(&c, pDataOut, pDataOutLength); });
}

}  // extern "C"
