// PBKDF2 (RFC 8018 5.2) with HMAC.
#include <algorithm>
#include <cstring>

#include "hmac/hmac_internal.h"
#include "quarzel/kdf.h"
#include "quarzel/secure.h"

namespace {

using namespace quarzel::hmac;

// HMAC keyed once with the password: the hash states after the inner and the
// outer padded key block. Each HMAC of an iteration starts from copies, which
// gives the same result as keying a fresh HMAC and saves two block functions
// per iteration.
class KeyedPrf {
 public:
  KeyedPrf() = default;
  KeyedPrf(const KeyedPrf&) = delete;
  KeyedPrf& operator=(const KeyedPrf&) = delete;
  ~KeyedPrf() { quarzel::secure_wipe(this, sizeof *this); }

  // Errors are HMAC (0x0604FF53 for a refused hash) or hash words.
  quarzel_ret_t key(hash_type_t type, uint32_t password_len, const uint8_t* password) {
    if (!hash_allowed(type)) return quarzel_err(QZ_MOD_HMAC, HMAC_FN_INIT, QZ_R_HMAC_HASH);
    if (password == nullptr && password_len != 0) return quarzel_err(QZ_MOD_HMAC, HMAC_FN_INIT, QZ_R_NULL);
    uint8_t hotkey[HMAC_MAX_BLOCK_SIZE];
    quarzel::WipeOnExit<uint8_t[HMAC_MAX_BLOCK_SIZE]> wipe(hotkey);
    if (quarzel_ret_t r = prepare_key(&inner_, type, password_len, password, hotkey); r != 0) return r;
    if (quarzel_ret_t r = start_padded(&inner_, type, hotkey, kInnerPad); r != 0) return r;
    if (quarzel_ret_t r = start_padded(&outer_, type, hotkey, kOuterPad); r != 0) return r;
    hlen_ = inner_.digest_size;
    return 0;
  }

  uint32_t hlen() const { return hlen_; }

  // F(P, S, c, i) of RFC 8018 into out (hlen bytes).
  quarzel_ret_t block(uint32_t counter, uint32_t iterations, uint32_t salt_len, const uint8_t* salt, uint8_t* out) {
    const uint8_t ctr[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                            static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    quarzel::SecretArray<HASH_MAX_DIGEST_SIZE> u;
    hash_ctx_t h = inner_;
    quarzel::WipeOnExit<hash_ctx_t> wipe(h);
    if (quarzel_ret_t r = hash_update(&h, salt_len, salt); r != 0) return r;
    if (quarzel_ret_t r = hash_update(&h, sizeof ctr, ctr); r != 0) return r;
    if (quarzel_ret_t r = finish(h, u.data()); r != 0) return r;
    std::memcpy(out, u.data(), hlen_);
    for (uint32_t i = 1; i < iterations; ++i) {
      h = inner_;
      if (quarzel_ret_t r = hash_update(&h, hlen_, u.data()); r != 0) return r;
      if (quarzel_ret_t r = finish(h, u.data()); r != 0) return r;
      for (uint32_t j = 0; j < hlen_; ++j) out[j] ^= u[j];
    }
    return 0;
  }

 private:
  // Completes the inner hash in h and writes HMAC = H(K0 ^ opad || inner) to mac.
  quarzel_ret_t finish(hash_ctx_t& h, uint8_t* mac) {
    uint32_t n = HASH_MAX_DIGEST_SIZE;
    if (quarzel_ret_t r = hash_final(&h, &n, mac); r != 0) return r;
    h = outer_;
    if (quarzel_ret_t r = hash_update(&h, hlen_, mac); r != 0) return r;
    n = HASH_MAX_DIGEST_SIZE;
    return hash_final(&h, &n, mac);
  }

  hash_ctx_t inner_{};
  hash_ctx_t outer_{};
  uint32_t hlen_ = 0;
};

// Refusals shared by pbkdf2 and pbkdf2_iter, in their order; on success
// *hlen is the digest length.
quarzel_ret_t check_common(uint32_t fn, hash_type_t type, uint32_t counter, uint32_t iterations,
                           uint32_t password_len, uint32_t salt_len, uint32_t* hlen) {
  if (password_len == 0 || salt_len == 0) return quarzel_err(QZ_MOD_KDF, fn, QZ_R_LEN_ZERO);
  if (iterations == 0 || counter == 0) return quarzel_err(QZ_MOD_KDF, fn, QZ_R_COUNTER);
  if (quarzel_ret_t r = hash_get_length(type, hlen); r != 0) return r;
  if (*hlen > HASH_MAX_DIGEST_SIZE) return quarzel_err(QZ_MOD_KDF, fn, QZ_R_LEN_RANGE);
  return 0;
}

}  // namespace

extern "C" {

quarzel_ret_t pbkdf2(hash_type_t type, uint32_t iterations, uint32_t password_len, const uint8_t* password,
                     uint32_t salt_len, const uint8_t* salt, const uint32_t* dk_len, uint8_t* dk) {
  constexpr uint32_t fn = KDF_FN_PBKDF2;
  if (password == nullptr || salt == nullptr || dk_len == nullptr || dk == nullptr)
    return quarzel_err(QZ_MOD_KDF, fn, QZ_R_NULL);
  if (*dk_len == 0) return quarzel_err(QZ_MOD_KDF, fn, QZ_R_LEN_ZERO);
  uint32_t hlen = 0;
  if (quarzel_ret_t r = check_common(fn, type, 1, iterations, password_len, salt_len, &hlen); r != 0) return r;

  KeyedPrf prf;
  if (quarzel_ret_t r = prf.key(type, password_len, password); r != 0) return r;
  uint32_t remaining = *dk_len;
  uint32_t counter = 1;
  for (; remaining > hlen; remaining -= hlen, dk += hlen, ++counter) {
    if (quarzel_ret_t r = prf.block(counter, iterations, salt_len, salt, dk); r != 0) return r;
  }
  quarzel::SecretArray<HASH_MAX_DIGEST_SIZE> last;
  if (quarzel_ret_t r = prf.block(counter, iterations, salt_len, salt, last.data()); r != 0) return r;
  std::memcpy(dk, last.data(), remaining);
  return 0;
}

quarzel_ret_t pbkdf2_iter(hash_type_t type, uint32_t counter, uint32_t iterations, uint32_t password_len,
                          const uint8_t* password, uint32_t salt_len, const uint8_t* salt, const uint32_t* out_len,
                          uint8_t* out) {
  constexpr uint32_t fn = KDF_FN_PBKDF2_ITER;
  if (password == nullptr || salt == nullptr || out_len == nullptr || out == nullptr)
    return quarzel_err(QZ_MOD_KDF, fn, QZ_R_NULL);
  uint32_t hlen = 0;
  if (quarzel_ret_t r = check_common(fn, type, counter, iterations, password_len, salt_len, &hlen); r != 0)
    return r;
  if (*out_len != hlen) return quarzel_err(QZ_MOD_KDF, fn, QZ_R_LEN_ZERO);
  uint32_t n = hlen;
  return pbkdf2_iter_calc(type, counter, iterations, password_len, password, salt_len, salt, &n, out);
}

quarzel_ret_t pbkdf2_iter_calc(hash_type_t type, uint32_t counter, uint32_t iterations, uint32_t password_len,
                               const uint8_t* password, uint32_t salt_len, const uint8_t* salt, uint32_t* block_len,
                               uint8_t* block) {
  if (block_len == nullptr || block == nullptr) return quarzel_err(QZ_MOD_HMAC, HMAC_FN_FINAL, QZ_R_NULL);
  if (salt == nullptr && salt_len != 0) return quarzel_err(QZ_MOD_HMAC, HMAC_FN_UPDATE, QZ_R_NULL);
  KeyedPrf prf;
  if (quarzel_ret_t r = prf.key(type, password_len, password); r != 0) return r;
  quarzel::SecretArray<HASH_MAX_DIGEST_SIZE> t;
  if (quarzel_ret_t r = prf.block(counter, iterations, salt_len, salt, t.data()); r != 0) return r;
  const uint32_t n = std::min(*block_len, prf.hlen());
  std::memcpy(block, t.data(), n);
  *block_len = n;
  return 0;
}

}  // extern "C"
