// Software provider: AES in the block modes and GCM on the session's working
// context, and AES key generation. Keys arrive and leave as key blobs under
// the session's master key.
#include "swc_crypto.h"
#include "swc_work.h"
#include "quarzel/blockcipher.h"
#include "quarzel/gcm.h"

using namespace swc;

namespace {

constexpr uint32_t kMaxAesKey = 32;

// Unwrapped key length to cipher type: 16, 24 or 32 bytes, else undefined.
cipher_type_t aes_type(uint32_t key_len) {
  switch (key_len) {
    case 16:
      return CIPHER_TYPE_AES128;
    case 24:
      return CIPHER_TYPE_AES192;
    case 32:
      return CIPHER_TYPE_AES256;
    default:
      return CIPHER_TYPE_UNDEFINED;
  }
}

// Unwraps an AES key blob into `plain` (32 bytes); the cipher type or an error.
uint32_t unwrap_aes(const SessionView& s, const uint8_t* blob, uint32_t len, uint8_t* plain, cipher_type_t* type) {
  if (blob == nullptr) return kArguments;
  *type = aes_type(len);
  if (*type == CIPHER_TYPE_UNDEFINED) return kKeySize;
  return unwrap(s, blob, len, plain);
}

// The held session's block-cipher or GCM context for a step of a running
// operation.
template <class T>
uint32_t running(const SessionView& s, T** ctx) {
  if (!s) return kSessionHandle;
  *ctx = work_as<T>(s);
  return *ctx == nullptr ? kFailed : 0;
}

// One step of a block-cipher operation; the final step ends it.
uint32_t aes_step(uint32_t h, cipher_flag_t flag, const uint8_t* in, uint32_t len, uint8_t* out, uint32_t* out_len) {
  const SessionView s = session_view(h);
  blockcipher_ctx_t* ctx = nullptr;
  uint32_t rc = running(s, &ctx);
  if (rc != 0) return rc;
  if (out_len == nullptr || (len != 0 && (in == nullptr || out == nullptr))) return kArguments;
  if (!fits(out_len, len)) return kBufferTooSmall;
  rc = blockcipher_calc(ctx, flag, len, in, out_len, out);
  if (rc != 0 || flag == CIPHER_FLAG_IS_FINAL) clear_work(s);
  return rc;
}

}  // namespace

extern "C" {

uint32_t SWC_AesInit(uint32_t hSWCryptoSession, uint8_t AESCipherMode, uint8_t Dir, uint8_t /*Padding*/, uint8_t* pIV,
                     uint32_t IVLength, uint8_t* pSwKey, uint32_t u32SwKeyLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  auto* ctx = work_as<blockcipher_ctx_t>(s);
  if (ctx == nullptr) return kFailed;
  clear_work(s);
  quarzel::SecretArray<kMaxAesKey> key;
  cipher_type_t type = CIPHER_TYPE_UNDEFINED;
  uint32_t rc = unwrap_aes(s, pSwKey, u32SwKeyLength, key.data(), &type);
  // Padding is the caller's business: the core pads around the final step.
  if (rc == 0) {
    rc = blockcipher_init(ctx, type, static_cast<cipher_mode_t>(AESCipherMode), static_cast<cipher_dir_t>(Dir),
                          u32SwKeyLength, key.data(), IVLength, pIV);
  }
  if (rc != 0) clear_work(s);
  return rc;
}

uint32_t SWC_AesUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                       uint32_t* pDataOutLength) {
  return aes_step(hSWCryptoSession, CIPHER_FLAG_NOT_FINAL, pData, DataLength, pDataOut, pDataOutLength);
}

uint32_t SWC_AesFinal(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                      uint32_t* pDataOutLength) {
  return aes_step(hSWCryptoSession, CIPHER_FLAG_IS_FINAL, pData, DataLength, pDataOut, pDataOutLength);
}

uint32_t SWC_AESGenerateKey(uint32_t hSWCryptoSession, uint8_t AESCipherType, uint8_t* pSwKey,
                            uint32_t* pu32SwKeyLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  if (pSwKey == nullptr || pu32SwKeyLength == nullptr) return kArguments;
  const auto type = static_cast<cipher_type_t>(AESCipherType);
  if (type != CIPHER_TYPE_AES128 && type != CIPHER_TYPE_AES192 && type != CIPHER_TYPE_AES256) return kArguments;
  quarzel::SecretArray<kMaxAesKey> key;
  uint32_t key_len = kMaxAesKey;
  uint32_t rc = blockcipher_keygen(type, &key_len, key.data());
  if (rc != 0) return rc;
  if (!fits(pu32SwKeyLength, key_len)) return kBufferTooSmall;
  rc = wrap(s, key.data(), key_len, pSwKey);
  if (rc == 0) *pu32SwKeyLength = key_len;
  return rc;
}

uint32_t SWC_AesGcmInit(uint32_t hSWCryptoSession, uint8_t* pAAD, uint32_t AADLength, uint8_t* pIV, uint32_t IVLength,
                        uint8_t* pSwKey, uint32_t u32SwKeyLength) {
  const SessionView s = session_view(hSWCryptoSession);
  if (!s) return kSessionHandle;
  auto* ctx = work_as<gcm_ctx_t>(s);
  if (ctx == nullptr) return kFailed;
  clear_work(s);
  quarzel::SecretArray<kMaxAesKey> key;
  cipher_type_t type = CIPHER_TYPE_UNDEFINED;
  uint32_t rc = unwrap_aes(s, pSwKey, u32SwKeyLength, key.data(), &type);
  // Key, then the whole IV, then the whole AAD, each in one final step.
  if (rc == 0) rc = gcm_key_setup(ctx, type, u32SwKeyLength, key.data());
  if (rc == 0) rc = gcm_iv_setup(ctx, CIPHER_FLAG_IS_FINAL, IVLength, pIV);
  if (rc == 0) rc = gcm_aad_setup(ctx, CIPHER_FLAG_IS_FINAL, AADLength, pAAD);
  if (rc != 0) clear_work(s);
  return rc;
}

uint32_t SWC_AesGcmEncryptUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                                 uint32_t* pDataOutLength) {
  const SessionView s = session_view(hSWCryptoSession);
  gcm_ctx_t* ctx = nullptr;
  uint32_t rc = running(s, &ctx);
  if (rc != 0) return rc;
  if (pDataOutLength == nullptr || (DataLength != 0 && (pData == nullptr || pDataOut == nullptr))) return kArguments;
  if (!fits(pDataOutLength, DataLength)) return kBufferTooSmall;
  rc = gcm_auth_enc_update(ctx, DataLength, pData, pDataOutLength, pDataOut);
  if (rc != 0) clear_work(s);
  return rc;
}

uint32_t SWC_AesGcmEncryptFinal(uint32_t hSWCryptoSession, uint8_t TagLen, uint8_t* pData, uint32_t DataLength,
                                uint8_t* pDataOut, uint32_t* pDataOutLength) {
  const SessionView s = session_view(hSWCryptoSession);
  gcm_ctx_t* ctx = nullptr;
  uint32_t rc = running(s, &ctx);
  if (rc != 0) return rc;
  if (pDataOutLength == nullptr || pDataOut == nullptr || (DataLength != 0 && pData == nullptr)) return kArguments;
  if (!fits(pDataOutLength, DataLength + TagLen)) return kBufferTooSmall;
  // The tag follows the last output bytes.
  uint32_t out_len = DataLength;
  uint32_t tag_len = TagLen;
  rc = gcm_auth_enc_final(ctx, DataLength, pData, &out_len, pDataOut, &tag_len, pDataOut + DataLength);
  if (rc == 0) *pDataOutLength = out_len + tag_len;
  clear_work(s);
  return rc;
}

uint32_t SWC_AesGcmDecryptUpdate(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                                 uint32_t* pDataOutLength) {
  const SessionView s = session_view(hSWCryptoSession);
  gcm_ctx_t* ctx = nullptr;
  uint32_t rc = running(s, &ctx);
  if (rc != 0) return rc;
  if (pDataOutLength == nullptr || (DataLength != 0 && (pData == nullptr || pDataOut == nullptr))) return kArguments;
  if (!fits(pDataOutLength, DataLength)) return kBufferTooSmall;
  rc = gcm_auth_dec_update(ctx, DataLength, pData, pDataOutLength, pDataOut);
  if (rc != 0) clear_work(s);
  return rc;
}

uint32_t SWC_AesGcmDecryptFinal(uint32_t hSWCryptoSession, uint8_t* pData, uint32_t DataLength, uint8_t* Tag,
                                uint8_t TagLen, uint8_t* pDataOut, uint32_t* pDataOutLength) {
  const SessionView s = session_view(hSWCryptoSession);
  gcm_ctx_t* ctx = nullptr;
  uint32_t rc = running(s, &ctx);
  if (rc != 0) return rc;
  if (pDataOutLength == nullptr || Tag == nullptr || (DataLength != 0 && (pData == nullptr || pDataOut == nullptr))) {
    return kArguments;
  }
  if (!fits(pDataOutLength, DataLength)) return kBufferTooSmall;
  uint32_t valid = GCM_TAG_INVALID;
  rc = gcm_auth_dec_final(ctx, DataLength, pData, TagLen, Tag, pDataOutLength, pDataOut, &valid);
  clear_work(s);
  if (rc == 0 && valid != GCM_TAG_VALID) rc = kFailed;
  if (rc != 0) {
    // Plaintext that failed authentication is never handed out.
    if (pDataOut != nullptr) quarzel::secure_wipe(pDataOut, DataLength);
    *pDataOutLength = 0;
  }
  return rc;
}

}  // extern "C"
