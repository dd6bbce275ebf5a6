// Limb helpers of the constant-time RSA arithmetic: conversions between
// big-endian byte strings and 64-bit limbs (least significant first), and
// the few operations on secret values that the Montgomery engine lacks. No
// branch or memory address depends on a value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mpbn/mpbn_internal.h"
#include "quarzel/ct.h"

namespace quarzel::rsa {

using mpbn_detail::u128;
using mpbn_detail::u64;

inline void be_to_limbs(u64* dst, const uint8_t* src, size_t len) {
  const size_t limbs = len / 8;
  for (size_t i = 0; i < limbs; ++i) {
    const uint8_t* b = src + len - 8 * (i + 1);
    u64 v = 0;
    for (int k = 0; k < 8; ++k) v = (v << 8) | b[k];
    dst[i] = v;
  }
}
inline void limbs_to_be(uint8_t* dst, const u64* src, size_t len) {
  const size_t limbs = len / 8;
  for (size_t i = 0; i < limbs; ++i) {
    uint8_t* b = dst + len - 8 * (i + 1);
    for (int k = 0; k < 8; ++k) b[k] = static_cast<uint8_t>(src[i] >> (56 - 8 * k));
  }
}

// r (Lm limbs) = a mod m for a of La limbs and any m > 0, bit by bit: shift
// a bit in, subtract m under a mask. For the even moduli p-1 and q-1.
inline void mod_bitserial_ct(size_t Lm, u64* r, const u64* a, size_t La, const u64* m, u64* d) {
  for (size_t j = 0; j < Lm; ++j) r[j] = 0;
  for (size_t bit = 64 * La; bit-- > 0;) {
    u64 top = (a[bit / 64] >> (bit % 64)) & 1;
    for (size_t j = 0; j < Lm; ++j) {
      const u64 v = r[j];
      r[j] = (v << 1) | top;
      top = v >> 63;
    }
    u64 br = 0;
    for (size_t j = 0; j < Lm; ++j) {
      const u128 x = static_cast<u128>(r[j]) - m[j] - br;
      d[j] = static_cast<u64>(x);
      br = static_cast<u64>(x >> 64) & 1u;
    }
    ct::select_words<u64>(r, ct::mask_from_bit<u64>(~top & br), r, d, Lm);
  }
}

// r (2L limbs) = a * b + c for a, b, c of L limbs; fixed loops.
inline void mul_add(size_t L, u64* r, const u64* a, const u64* b, const u64* c) {
  for (size_t j = 0; j < 2 * L; ++j) r[j] = j < L ? c[j] : 0;
  for (size_t i = 0; i < L; ++i) {
    u64 carry = 0;
    for (size_t j = 0; j < L; ++j) {
      const u128 x = static_cast<u128>(a[i]) * b[j] + r[i + j] + carry;
      r[i + j] = static_cast<u64>(x);
      carry = static_cast<u64>(x >> 64);
    }
    for (size_t j = i + L; j < 2 * L; ++j) {  // a*b + c < 2^(128L): the carry dies out
      const u128 x = static_cast<u128>(r[j]) + carry;
      r[j] = static_cast<u64>(x);
      carry = static_cast<u64>(x >> 64);
    }
  }
}

// dst (limbs limbs) from a big-endian string of any length that fits,
// zero-padded at the top.
inline void be_to_limbs_padded(u64* dst, size_t limbs, const uint8_t* src, size_t len) {
  for (size_t i = 0; i < limbs; ++i) dst[i] = 0;
  for (size_t k = 0; k < len; ++k) dst[k / 8] |= static_cast<u64>(src[len - 1 - k]) << (8 * (k % 8));
}

}  // namespace quarzel::rsa
