// Shared pieces of the DRBG mechanisms: result words, the per-hash parameter
// table of Hash_DRBG and HMAC_DRBG, and big-endian seed arithmetic.
#pragma once

#include <cstdint>
#include <cstring>

#include "quarzel/drbg.h"

namespace quarzel::drbg {

[[nodiscard]] constexpr quarzel_ret_t err(uint32_t func, uint8_t reason) {
  return quarzel_err(QZ_MOD_DRBG, func, reason);
}

// True when a (bits, pointer) input is unusable: a null pointer with data.
[[nodiscard]] constexpr bool null_with_data(uint32_t bits, const void* p) { return bits != 0 && p == nullptr; }

// Hash parameters of both hash-based mechanisms (lengths in bits). The minimum
// entropy is half the digest, the minimum nonce (when one is given) a quarter.
struct HashParams {
  hash_type_t hash;
  uint32_t digest_bits;
  uint32_t seed_bits;  // Hash_DRBG seedlen
  uint32_t min_entropy_bits;
  uint32_t min_nonce_bits;
};

inline constexpr HashParams kHashParams[] = {
    {HASH_TYPE_SHA1, 160, 440, 80, 40},
    {HASH_TYPE_SHA2_224, 224, 440, 112, 56},
    {HASH_TYPE_SHA2_256, 256, 440, 128, 64},
    {HASH_TYPE_SHA2_384, 384, 888, 192, 96},
    {HASH_TYPE_SHA2_512, 512, 888, 256, 128},
    {HASH_TYPE_SHA2_512_224, 224, 440, 112, 56},
    {HASH_TYPE_SHA2_512_256, 256, 440, 128, 64},
    {HASH_TYPE_SHA3_224, 224, 440, 112, 56},
    {HASH_TYPE_SHA3_256, 256, 440, 128, 64},
    {HASH_TYPE_SHA3_384, 384, 888, 192, 96},
    {HASH_TYPE_SHA3_512, 512, 888, 256, 128},
};

[[nodiscard]] constexpr const HashParams* hash_params(hash_type_t hash) {
  for (const HashParams& p : kHashParams)
    if (p.hash == hash) return &p;
  return nullptr;
}

// Entropy and nonce lengths against the minimums; an empty nonce is allowed.
[[nodiscard]] constexpr bool seed_lengths_ok(uint32_t entropy_bits, uint32_t nonce_bits, uint32_t min_entropy,
                                             uint32_t min_nonce) {
  return entropy_bits >= min_entropy && (nonce_bits == 0 || nonce_bits >= min_nonce);
}

// acc = acc + b modulo 2^(8 * acc_len), b right-aligned (bytes of b above
// acc_len are dropped); both big-endian. The carry chain runs over every byte whatever the values.
inline void seed_add(uint8_t* acc, uint32_t acc_len, const uint8_t* b, uint32_t b_len) {
  uint32_t carry = 0;
  for (uint32_t i = 0; i < acc_len; ++i) {
    const uint32_t a_idx = acc_len - 1 - i;
    const uint32_t addend = i < b_len ? b[b_len - 1 - i] : 0u;
    const uint32_t sum = acc[a_idx] + addend + carry;
    acc[a_idx] = static_cast<uint8_t>(sum);
    carry = sum >> 8;
  }
}

// n as 4 big-endian bytes.
inline void u32_to_be(uint32_t n, uint8_t* out) {
  for (uint32_t i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
}

// acc = acc + n modulo 2^(8 * acc_len) (CTR_DRBG's counter steps); four
// bytes of n are enough, since seed_add right-aligns the shorter operand.
inline void seed_add_u32(uint8_t* acc, uint32_t acc_len, uint32_t n) {
  uint8_t be[4];
  u32_to_be(n, be);
  seed_add(acc, acc_len, be, sizeof be);
}

// n as a big-endian string of seed_bits bits (a multiple of 8): Hash_DRBG's
// operand form of an integer, added to V modulo 2^seedlen.
inline void int2seedvec(uint32_t n, uint32_t seed_bits, vec_seedlen_t& out) {
  const uint32_t len = seed_bits / 8;
  std::memset(out, 0, len);
  for (uint32_t i = 0; i < 4 && i < len; ++i) out[len - 1 - i] = static_cast<uint8_t>(n >> (8 * i));
}

}  // namespace quarzel::drbg
