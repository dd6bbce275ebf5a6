// Montgomery products modulo the P-256 prime p = 2^256 - 2^224 + 2^192 +
// 2^96 - 1 (FIPS 186-4 D.1.2.3), using its form: -p^-1 = 1 mod 2^64, so each
// word q of the reduction is the current low word itself, and q p is
// q 2^256 - q 2^224 + q 2^192 + q 2^96 - q, which takes two shifts and one
// 64 x 64 product (q times the top limb 0xFFFFFFFF00000001) instead of four
// products and a multiply by -p^-1. Squaring computes each cross product once.
//
// Each routine writes the low four limbs of a b 2^-256 (below 2p, not yet
// reduced below p) and returns the fifth; the caller subtracts p by mask.
// Constant time: no branch or index depends on the values.
#pragma once

#include "ec/limbs.h"

namespace quarzel::ec {

constexpr u64 kP256[4] = {0xFFFFFFFFFFFFFFFFull, 0x00000000FFFFFFFFull, 0, 0xFFFFFFFF00000001ull};

// The same products with MULX/ADX (field_adx.cpp), fully reduced: r < p.
void p256_mul_adx(u64 r[4], const u64 a[4], const u64 b[4]);
void p256_sqr_adx(u64 r[4], const u64 a[4]);

// (t + q p) / 2^256 for the q < 2^256 that clears the low half of the 8-limb
// t. The low half is reduced on its own, one word at a time, into four new
// limbs (below p + 1); the high half is added at the end.
QZ_EC_INLINE u64 p256_reduce(u64 r[4], const u64 t[8]) {
  u64 l0 = t[0], l1 = t[1], l2 = t[2], l3 = t[3];
  for (int i = 0; i < 4; ++i) {
    const u64 q = l0;
    // l0 + q (2^64 - 1) = q 2^64, which joins q (2^32 - 1) 2^64: q 2^96.
    unsigned char c = addc(0, l1, q << 32, &l1);
    c = addc(c, l2, q >> 32, &l2);
    const u128 x = static_cast<u128>(q) * kP256[3];
    c = addc(c, l3, static_cast<u64>(x), &l3);
    const u64 l4 = static_cast<u64>(x >> 64) + c;  // the high word is below 2^64 - 1
    l0 = l1;
    l1 = l2;
    l2 = l3;
    l3 = l4;
  }
  unsigned char c = addc(0, l0, t[4], &r[0]);
  c = addc(c, l1, t[5], &r[1]);
  c = addc(c, l2, t[6], &r[2]);
  c = addc(c, l3, t[7], &r[3]);
  return c;
}

QZ_EC_INLINE u64 p256_mul_portable(u64 r[4], const u64 a[4], const u64 b[4]) {
  u64 t[8] = {};
  for (int i = 0; i < 4; ++i) {
    u64 c = 0;
    for (int j = 0; j < 4; ++j) {
      const u128 x = static_cast<u128>(a[j]) * b[i] + t[i + j] + c;
      t[i + j] = static_cast<u64>(x);
      c = static_cast<u64>(x >> 64);
    }
    t[i + 4] = c;
  }
  return p256_reduce(r, t);
}

QZ_EC_INLINE u64 p256_sqr_portable(u64 r[4], const u64 a[4]) {
  u64 t[8] = {};
  // The cross products a_i a_j (i < j) once, doubled, then the squares a_i^2.
  for (int i = 0; i < 3; ++i) {
    u64 c = 0;
    for (int j = i + 1; j < 4; ++j) {
      const u128 x = static_cast<u128>(a[i]) * a[j] + t[i + j] + c;
      t[i + j] = static_cast<u64>(x);
      c = static_cast<u64>(x >> 64);
    }
    t[i + 4] = c;
  }
  unsigned char c = 0;
  for (int k = 1; k < 8; ++k) c = addc(c, t[k], t[k], &t[k]);
  c = 0;
  for (int i = 0; i < 4; ++i) {
    const u128 x = static_cast<u128>(a[i]) * a[i];
    c = addc(c, t[2 * i], static_cast<u64>(x), &t[2 * i]);
    c = addc(c, t[2 * i + 1], static_cast<u64>(x >> 64), &t[2 * i + 1]);
  }
  return p256_reduce(r, t);
}

}  // namespace quarzel::ec
