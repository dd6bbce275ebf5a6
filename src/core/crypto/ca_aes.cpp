// Crypto adapter, AES: the operation state in the session's context, input
// held back so that the provider sees whole blocks with the last block kept
// for the final call, and block padding around the final call.
#include <algorithm>
#include <cstring>
#include <new>

#include "crypto/ca_internal.h"
#include "quarzel/aes.h"
#include "quarzel/port.h"
#include "zeb/swhsm_services.h"

using namespace zeb::core;

namespace {

constexpr uint32_t kBlock = AES_BLOCK_SIZE;
constexpr uint32_t kHeldMax = 2 * kBlock;  // held bytes stay below this
constexpr uint32_t kFinalArea = 64;        // padded or tagged final data

// Padding methods under which the adapter pads nothing.
bool pads(uint8_t padding) { return padding != 0 && padding != 1 && padding != 96; }

const C_AESFunc_t* aes_table() { return CA_GetAESFunctionList(); }

using StepFn = uint32_t (*)(ZEB_CRYPTO_HANDLE, uint8_t*, uint32_t, uint8_t*, uint32_t*);

bool overlaps(const uint8_t* a, size_t an, const uint8_t* b, size_t bn) {
  const auto x = reinterpret_cast<uintptr_t>(a);
  const auto y = reinterpret_cast<uintptr_t>(b);
  return x < y + bn && y < x + an;
}

// One provider step over n bytes into out; out_len receives its output.
uint32_t step(StepFn fn, ZEB_CRYPTO_HANDLE h, const uint8_t* in, uint32_t n, uint8_t* out, uint32_t* out_len) {
  *out_len = n;
  return fn(h, const_cast<uint8_t*>(in), n, out, out_len);
}

// The held-back update shared by AES and both GCM directions. Of the h held
// and n new bytes (t in all), the first (t/16 - 1) * 16 go to the provider and
// the last 16 to 31 are held, so the final call always has a block to work
// on.
int held_update(CryptoAdapterCtx& c, StepFn fn, const uint8_t* in, uint32_t n, uint8_t* out, uint32_t* out_len) {
  const uint32_t h = c.RemainDataLength;
  const uint64_t t = uint64_t{h} + n;
  if (t < kHeldMax) {
    if (n != 0) std::memcpy(c.RemainData + h, in, n);
    c.RemainDataLength = static_cast<uint8_t>(t);
    *out_len = 0;
    return VRK_OK;
  }
  if (t > UINT32_MAX) return VRK_ERR_ARGUMENTS;
  const uint32_t send = static_cast<uint32_t>((t / kBlock - 1) * kBlock);
  const uint32_t keep = static_cast<uint32_t>(t) - send;
  if (out == nullptr) return VRK_ERR_ARGUMENTS;
  // A short output buffer leaves the operation as it was, for a retry.
  if (!fits(out_len, send)) return VRK_ERR_BUFFER_TOO_SMALL;

  uint8_t next_held[kHeldMax];
  uint32_t rv = VRK_OK;
  uint32_t done = 0;
  uint32_t got = 0;
  if (overlaps(in, n, out, send) && !(h == 0 && in == out)) {
    // Overlapping buffers other than plain in-place: the output would overrun
    // unread input, so the data to send is gathered first.
    uint8_t* work = new (std::nothrow) uint8_t[send];
    if (work == nullptr) return VRK_ERR_HOST_MEMORY;
    const uint32_t from_held = std::min(h, send);
    std::memcpy(work, c.RemainData, from_held);
    std::memcpy(work + from_held, in, send - from_held);
    // The kept bytes: the tail of held || new.
    const uint32_t held_left = h - from_held;
    std::memcpy(next_held, c.RemainData + from_held, held_left);
    std::memcpy(next_held + held_left, in + (send - from_held), keep - held_left);
    rv = step(fn, c.hCrypto, work, send, out, &got);
    done = got;
    quarzel::secure_wipe(work, send);
    delete[] work;
  } else {
    // Held bytes completed to whole blocks go first; the rest of the data to
    // send comes straight from the caller's buffer.
    const uint32_t head = h == 0 ? 0 : std::min(send, (h + kBlock - 1) / kBlock * kBlock);
    uint8_t head_buf[kHeldMax];
    if (head >= h) {
      std::memcpy(head_buf, c.RemainData, h);
      std::memcpy(head_buf + h, in, head - h);
      std::memcpy(next_held, in + (n - keep), keep);
    } else {
      std::memcpy(head_buf, c.RemainData, head);
      std::memcpy(next_held, c.RemainData + head, h - head);
      std::memcpy(next_held + (h - head), in, n);
    }
    if (head != 0) {
      rv = step(fn, c.hCrypto, head_buf, head, out, &got);
      done = got;
    }
    const uint32_t body = send - head;
    if (rv == VRK_OK && body != 0) {
      rv = step(fn, c.hCrypto, in + (head - h), body, out + done, &got);
      done += got;
    }
    quarzel::secure_wipe(head_buf, sizeof head_buf);
  }
  if (rv != VRK_OK) {
    quarzel::secure_wipe(next_held, sizeof next_held);
    end_op(c);
    return static_cast<int>(rv);
  }
  std::memcpy(c.RemainData, next_held, keep);
  quarzel::secure_wipe(c.RemainData + keep, sizeof c.RemainData - keep);
  c.RemainDataLength = static_cast<uint8_t>(keep);
  quarzel::secure_wipe(next_held, sizeof next_held);
  *out_len = done;
  return VRK_OK;
}

// Opening checks of a step: arguments, and that its operation runs.
int step_checks(const CryptoAdapterCtx* c, const uint8_t* in, uint32_t n, const uint32_t* out_len) {
  if (c == nullptr || out_len == nullptr || (in == nullptr && n != 0)) return VRK_ERR_ARGUMENTS;
  if (c->Crypto_Operation != VRK_OP_ENCRYPT) return VRK_ERR_NOT_INITIALIZED;
  return VRK_OK;
}

// GCM steps fix the direction at the first one.
int gcm_direction(CryptoAdapterCtx& c, CaRunning dir) {
  if (c.Crypto_State == kRunGcm) c.Crypto_State = dir;
  return c.Crypto_State == dir ? VRK_OK : VRK_ERR_NOT_INITIALIZED;
}

bool valid_gcm_tag_len(uint8_t n) { return n == 4 || n == 8 || (n >= 12 && n <= 16); }

}  // namespace

void zeb::core::end_op(CryptoAdapterCtx& c) noexcept {
  c.Crypto_Operation = VRK_OP_NONE;
  c.Crypto_State = kRunNone;
  quarzel::secure_wipe(c.RemainData, sizeof c.RemainData);
  c.RemainDataLength = 0;
}

extern "C" {

int CA_AESGenerateKey(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherType, uint8_t* pKey, uint32_t* pu32KeyLength) {
  if (pCaCtx == nullptr || pKey == nullptr || pu32KeyLength == nullptr) return VRK_ERR_ARGUMENTS;
  const C_AESFunc_t* t = aes_table();
  if (t == nullptr || t->C_AESGenerateKey == nullptr) return kNotSupported;
  return static_cast<int>(t->C_AESGenerateKey(pCaCtx->hCrypto, AESCipherType, pKey, pu32KeyLength));
}

int CA_AesInit(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV,
               uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength) {
  if (pCaCtx == nullptr || pKey == nullptr) return VRK_ERR_ARGUMENTS;
  CryptoAdapterCtx& c = *pCaCtx;
  if (!idle(c)) return VRK_ERR_OPERATION_ACTIVE;
  if (Dir != VRK_AES_DIR_DECRYPT && Dir != VRK_AES_DIR_ENCRYPT) return VRK_ERR_ARGUMENTS;
  const C_AESFunc_t* t = aes_table();
  if (t == nullptr || t->C_AesInit == nullptr) return kNotSupported;
  end_op(c);
  start_op(c, VRK_OP_ENCRYPT, kRunAes);
  c.Padding = Padding;
  c.Dir = Dir;
  const uint32_t rv = t->C_AesInit(c.hCrypto, AESCipherMode, Dir, Padding, pIV, IVLength, pKey, u32KeyLength);
  if (rv != VRK_OK) end_op(c);
  return static_cast<int>(rv);
}

int CA_AesUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                 uint32_t* pDataOutLength) {
  if (int rv = step_checks(pCaCtx, pData, DataLength, pDataOutLength); rv != VRK_OK) return rv;
  if (pCaCtx->Crypto_State != kRunAes) return VRK_ERR_NOT_INITIALIZED;
  return held_update(*pCaCtx, aes_table()->C_AesUpdate, pData, DataLength, pDataOut, pDataOutLength);
}

int CA_AesFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength) {
  if (int rv = step_checks(pCaCtx, nullptr, 0, pDataOutLength); rv != VRK_OK) return rv;
  CryptoAdapterCtx& c = *pCaCtx;
  if (c.Crypto_State != kRunAes) return VRK_ERR_NOT_INITIALIZED;
  const bool padded = pads(c.Padding);
  uint8_t in[kFinalArea] = {};
  uint8_t res[kFinalArea] = {};
  uint32_t in_len = kFinalArea;
  uint32_t rv = VRK_OK;
  if (padded && c.Dir == VRK_AES_DIR_ENCRYPT) {
    rv = SWC_Padding(c.Padding, kBlock, c.RemainData, c.RemainDataLength, in, &in_len);
  } else {
    in_len = c.RemainDataLength;
    std::memcpy(in, c.RemainData, in_len);
  }
  if (rv != VRK_OK) {
    end_op(c);
    return static_cast<int>(rv);
  }
  // Every provider answers each step's data in that step (unpadding never
  // lengthens), so the final gives at most the bytes handed to it.
  if (!fits(pDataOutLength, in_len)) {
    quarzel::secure_wipe(in, sizeof in);
    return VRK_ERR_BUFFER_TOO_SMALL;
  }
  if (pDataOut == nullptr && in_len != 0) return VRK_ERR_ARGUMENTS;
  uint32_t res_len = kFinalArea;
  rv = aes_table()->C_AesFinal(c.hCrypto, in, in_len, res, &res_len);
  if (rv == VRK_OK) {
    if (padded && c.Dir == VRK_AES_DIR_DECRYPT) {
      rv = SWC_Unpadding(c.Padding, kBlock, res, res_len, pDataOut, pDataOutLength);
    } else if (!fits(pDataOutLength, res_len)) {
      rv = VRK_ERR_BUFFER_TOO_SMALL;
    } else {
      if (res_len != 0) std::memcpy(pDataOut, res, res_len);
      *pDataOutLength = res_len;
    }
  }
  quarzel::secure_wipe(in, sizeof in);
  quarzel::secure_wipe(res, sizeof res);
  end_op(c);
  return static_cast<int>(rv);
}

int CA_AesCrypt(CryptoAdapterCtx* pCaCtx, uint8_t AESCipherMode, uint8_t AESCipherDir, uint8_t AESCipherPadding,
                uint8_t* IV, uint32_t IVLen, uint8_t* pKey, uint32_t u32KeyLength, uint8_t* Data, uint32_t DataLen,
                uint8_t* DataOut, uint32_t* pDataOutLen) {
  if (pCaCtx == nullptr || Data == nullptr || DataOut == nullptr || pDataOutLen == nullptr) return VRK_ERR_ARGUMENTS;
  CryptoAdapterCtx& c = *pCaCtx;
  if (!idle(c)) return VRK_ERR_OPERATION_ACTIVE;
  const C_AESFunc_t* t = aes_table();
  // The software provider has no one-call AES: the session stays idle.
  if (t == nullptr || t->C_AesCrypt == nullptr) return kNotSupported;
  start_op(c, VRK_OP_ENCRYPT, kRunAes);
  const uint32_t rv = t->C_AesCrypt(c.hCrypto, AESCipherMode, AESCipherDir, AESCipherPadding, IV, IVLen, pKey,
                                    u32KeyLength, Data, DataLen, DataOut, pDataOutLen);
  end_op(c);
  return static_cast<int>(rv);
}

int CA_AesGcmInit(CryptoAdapterCtx* pCaCtx, uint8_t TagLen, uint8_t* pAAD, uint32_t AADLength, uint8_t* pIV,
                  uint32_t IVLength, uint8_t* pKey, uint32_t u32KeyLength) {
  if (pCaCtx == nullptr || pKey == nullptr) return VRK_ERR_ARGUMENTS;
  CryptoAdapterCtx& c = *pCaCtx;
  if (!idle(c)) return VRK_ERR_OPERATION_ACTIVE;
  // Tag lengths of SP 800-38D 5.2.1.2, refused before any data is processed.
  if (!valid_gcm_tag_len(TagLen)) return VRK_ERR_ARGUMENTS;
  const C_AESFunc_t* t = aes_table();
  if (t == nullptr || t->C_AesGcmInit == nullptr) return kNotSupported;
  end_op(c);
  start_op(c, VRK_OP_ENCRYPT, kRunGcm);
  c.TagLen = TagLen;
  const uint32_t rv = t->C_AesGcmInit(c.hCrypto, pAAD, AADLength, pIV, IVLength, pKey, u32KeyLength);
  if (rv != VRK_OK) end_op(c);
  return static_cast<int>(rv);
}

int CA_AesGcmEncryptUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                           uint32_t* pDataOutLength) {
  if (int rv = step_checks(pCaCtx, pData, DataLength, pDataOutLength); rv != VRK_OK) return rv;
  if (int rv = gcm_direction(*pCaCtx, kRunGcmEnc); rv != VRK_OK) return rv;
  return held_update(*pCaCtx, aes_table()->C_AesGcmEncryptUpdate, pData, DataLength, pDataOut, pDataOutLength);
}

int CA_AesGcmDecryptUpdate(CryptoAdapterCtx* pCaCtx, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut,
                           uint32_t* pDataOutLength) {
  if (int rv = step_checks(pCaCtx, pData, DataLength, pDataOutLength); rv != VRK_OK) return rv;
  if (int rv = gcm_direction(*pCaCtx, kRunGcmDec); rv != VRK_OK) return rv;
  return held_update(*pCaCtx, aes_table()->C_AesGcmDecryptUpdate, pData, DataLength, pDataOut, pDataOutLength);
}

int CA_AesGcmEncryptFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength) {
  if (int rv = step_checks(pCaCtx, nullptr, 0, pDataOutLength); rv != VRK_OK) return rv;
  CryptoAdapterCtx& c = *pCaCtx;
  if (int rv = gcm_direction(c, kRunGcmEnc); rv != VRK_OK) return rv;
  const uint32_t needed = uint32_t{c.RemainDataLength} + c.TagLen;
  if (!fits(pDataOutLength, needed)) return VRK_ERR_BUFFER_TOO_SMALL;
  if (pDataOut == nullptr) return VRK_ERR_ARGUMENTS;
  uint8_t res[kFinalArea] = {};
  uint32_t res_len = kFinalArea;
  const uint32_t rv =
      aes_table()->C_AesGcmEncryptFinal(c.hCrypto, c.TagLen, c.RemainData, c.RemainDataLength, res, &res_len);
  if (rv == VRK_OK) {
    std::memcpy(pDataOut, res, res_len);
    *pDataOutLength = res_len;
  }
  quarzel::secure_wipe(res, sizeof res);
  end_op(c);
  return static_cast<int>(rv);
}

int CA_AesGcmDecryptFinal(CryptoAdapterCtx* pCaCtx, uint8_t* pDataOut, uint32_t* pDataOutLength) {
  if (int rv = step_checks(pCaCtx, nullptr, 0, pDataOutLength); rv != VRK_OK) return rv;
  CryptoAdapterCtx& c = *pCaCtx;
  if (int rv = gcm_direction(c, kRunGcmDec); rv != VRK_OK) return rv;
  // The last TagLen bytes seen are the tag.
  if (c.RemainDataLength < c.TagLen) {
    end_op(c);
    return kEncryptedDataLen;
  }
  const uint32_t data_len = c.RemainDataLength - c.TagLen;
  if (!fits(pDataOutLength, data_len)) return VRK_ERR_BUFFER_TOO_SMALL;
  if (pDataOut == nullptr && data_len != 0) return VRK_ERR_ARGUMENTS;
  uint8_t res[kFinalArea] = {};
  uint32_t res_len = kFinalArea;
  const uint32_t rv = aes_table()->C_AesGcmDecryptFinal(c.hCrypto, c.RemainData, data_len, c.RemainData + data_len,
                                                        c.TagLen, res, &res_len);
  if (rv == VRK_OK) {
    if (res_len != 0) std::memcpy(pDataOut, res, res_len);
    *pDataOutLength = res_len;
  } else {
    *pDataOutLength = 0;
  }
  quarzel::secure_wipe(res, sizeof res);
  end_op(c);
  return static_cast<int>(rv);
}

}  // extern "C"
