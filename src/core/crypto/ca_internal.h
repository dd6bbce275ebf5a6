// Operation bookkeeping of the crypto adapter, shared by its AES, EC and RSA
// units.
#pragma once

#include "core_internal.h"
#include "zeb/crypto_adapter.h"

namespace zeb::core {

// Which operation holds the session's crypto context (kept in Crypto_State,
// beside the coarse Crypto_Operation value), so that no step runs over
// another operation's state.
enum CaRunning : uint32_t {
  kRunNone = 0,
  kRunAes = 1,
  kRunGcm = 2,  // GCM started, direction not chosen yet
  kRunGcmEnc = 3,
  kRunGcmDec = 4,
  kRunEcSign = 5,
  kRunEcVerify = 6,
  kRunRsaSign = 7,
  kRunRsaVerify = 8,
};

inline constexpr int kNotSupported = 0x054;  // CKR_FUNCTION_NOT_SUPPORTED
inline constexpr int kKeyTypeInconsistent = 0x063;
inline constexpr int kEncryptedDataLen = 0x041;

inline bool idle(const CryptoAdapterCtx& c) { return c.Crypto_Operation == VRK_OP_NONE; }

inline void start_op(CryptoAdapterCtx& c, uint8_t op, CaRunning run) {
  c.Crypto_Operation = op;
  c.Crypto_State = run;
}

// Ends the running operation and forgets its held input.
void end_op(CryptoAdapterCtx& c) noexcept;

// True when `needed` fits the in/out capacity; otherwise writes it there.
inline bool fits(uint32_t* capacity, uint32_t needed) {
  if (*capacity >= needed) return true;
  *capacity = needed;
  return false;
}

}  // namespace zeb::core

namespace zeb::core {

// Bits of KeyAlgo: which kept key an RSA encrypt or decrypt init left for
// the calls after it (a sign or verify init overwrites the buffer and clears
// its bit).
inline constexpr uint8_t kKeptEncryptKey = 0x01;
inline constexpr uint8_t kKeptDecryptKey = 0x02;

// Copies a key context into the session's buffer; 7 when it does not fit.
int keep_key(uint8_t* buf, uint32_t cap, uint32_t* kept_len, const uint8_t* key, uint32_t len) noexcept;

// Digest of a multi-part operation: hash the data (unless `no_hash`, where
// the data itself is the digest) and finish into `digest` (CA_DIGEST_BUFFER
// bytes). `data` may be null with n 0 (finish only).
int finish_digest(CryptoAdapterCtx& c, bool no_hash, const uint8_t* data, uint32_t n, bool update, uint8_t* digest,
                  uint32_t* digest_len) noexcept;

// Digest of a one-call operation, in a hash context of its own.
int digest_once(uint8_t hash_type, const uint8_t* data, uint32_t n, uint8_t* digest, uint32_t* digest_len) noexcept;

// The session's running hash state, saved so that a sign step that ran into a
// short signature buffer can be repeated.
struct DigestSnapshot {
  alignas(8) uint8_t bytes[CA_DIGEST_CTX_SIZE];
  void save(const CryptoAdapterCtx& c) noexcept;
  void restore(CryptoAdapterCtx& c) const noexcept;
  ~DigestSnapshot();
};

}  // namespace zeb::core
