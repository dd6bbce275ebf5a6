// Montgomery products modulo the P-521 prime p = 2^521 - 1 (FIPS 186-4
// D.1.2.5), using its form. With R = 2^576 the Montgomery product is
// a b 2^-576 = a b 2^-55 mod p (2^521 = 1), and multiplying by a power of two
// modulo a Mersenne prime rotates the 521-bit value: no quotient words, no
// products by p. The results are the general Montgomery product's, bit for
// bit (same R, same fully reduced elements), so the engine, its tables and
// its conversions are the same on both.
//
// Constant time: no branch or index depends on the values.
#pragma once

#include "ec/limbs.h"

namespace quarzel::ec {

constexpr u64 kP521[9] = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, 0x1FF};

// The same products with MULX/ADX (field_p521_adx.cpp), called straight.
extern "C" void quarzel_ec_p521_mul_adx(u64 r[9], const u64 a[9], const u64 b[9]);
extern "C" void quarzel_ec_p521_sqr_adx(u64 r[9], const u64 a[9]);
QZ_EC_INLINE void p521_mul_adx(u64 r[9], const u64 a[9], const u64 b[9]) { quarzel_ec_p521_mul_adx(r, a, b); }
QZ_EC_INLINE void p521_sqr_adx(u64 r[9], const u64 a[9]) { quarzel_ec_p521_sqr_adx(r, a); }

// r = t 2^-576 mod p, fully reduced, for an 18-limb t < 2^1097 (a < 2^576
// times b < p). Bit i of t lands on bit (i - 55) mod 521: bits 55..575 are
// the low 521 bits, bits 576 and up (below 2^521) add on as they stand, and
// bits 0..54 move to 466..520.
QZ_EC_INLINE void p521_reduce(u64 r[9], const u64 t[18]) {
  u64 s[9];
  unsigned char c = 0;
  for (int i = 0; i < 8; ++i) c = addc(c, (t[i] >> 55) | (t[i + 1] << 9), t[i + 9], &s[i]);
  (void)addc(c, t[8] >> 55, t[17], &s[8]);  // below 2^522: no carry out
  c = addc(0, s[7], t[0] << 18, &s[7]);
  (void)addc(c, s[8], (t[0] >> 46) & 0x1FF, &s[8]);  // below 3 * 2^521
  // Fold the bits from 521 up (h <= 2) into the bottom: s <= 2^521 + 1.
  const u64 h = s[8] >> 9;
  s[8] &= 0x1FF;
  c = addc(0, s[0], h, &s[0]);
  for (int i = 1; i < 9; ++i) c = addc(c, s[i], 0, &s[i]);
  // s mod p: s - p = s + 1 - 2^521 when s >= p (bit 521 set, or all 521
  // bits ones), else s.
  u64 ones = s[0];
  for (int i = 1; i < 8; ++i) ones &= s[i];
  const u64 ge = (s[8] >> 9) | (ct::is_zero<u64>(~ones | (s[8] ^ 0x1FF)) & 1);
  c = addc(0, s[0], ge, &r[0]);
  for (int i = 1; i < 9; ++i) c = addc(c, s[i], 0, &r[i]);
  r[8] &= 0x1FF;
}

// r = a + b, a - b and 2a mod p for a, b < p, each below p again. The sum
// carries 1 in, so that bit 521 tells a + b >= p: then the masked sum is
// a + b - p, else one is taken back. A difference that borrows is too low by
// 2^576: less one, cut to 521 bits, it is a - b + p. Doubling rotates the
// 521 bits by one (2^521 = 1), which never makes all ones from less.
QZ_EC_INLINE void p521_add(u64 r[9], const u64 a[9], const u64 b[9]) {
  u64 s[9];
  unsigned char c = 1;
  for (int i = 0; i < 9; ++i) c = addc(c, a[i], b[i], &s[i]);
  const u64 less_one = (s[8] >> 9) - 1;  // all ones when a + b < p
  c = 0;
  for (int i = 0; i < 9; ++i) c = addc(c, s[i], less_one, &r[i]);
  r[8] &= 0x1FF;
}
QZ_EC_INLINE void p521_sub(u64 r[9], const u64 a[9], const u64 b[9]) {
  u64 d[9];
  unsigned char borrow = 0;
  for (int i = 0; i < 9; ++i) borrow = subb(borrow, a[i], b[i], &d[i]);
  for (int i = 0; i < 9; ++i) borrow = subb(borrow, d[i], 0, &r[i]);
  r[8] &= 0x1FF;
}
QZ_EC_INLINE void p521_dbl(u64 r[9], const u64 a[9]) {
  const u64 top = a[8];
  for (int i = 8; i > 0; --i) r[i] = (a[i] << 1) | (a[i - 1] >> 63);
  r[0] = (a[0] << 1) | (top >> 8);
  r[8] &= 0x1FF;
}

// r = 2^k a mod p for a < p and 1 <= k <= 9: the 521 bits rotated up by k.
QZ_EC_INLINE void p521_shl(u64 r[9], const u64 a[9], unsigned k) {
  const u64 top = a[8];
  for (int i = 8; i > 0; --i) r[i] = (a[i] << k) | (a[i - 1] >> (64 - k));
  r[0] = (a[0] << k) | (top >> (9 - k));
  r[8] &= 0x1FF;
}

// Unreduced sums and differences for the point formulas, where the result
// only feeds a product or a square: these take any 9 limbs whose product
// stays below 2^1097 (p521_reduce), so operands below 2^523 are fine.
// a + b for a, b < 2^522 (below 2^523); a - b + 2p for a < 2^522 and
// b <= 2p (below 2^523, never negative).
QZ_EC_INLINE void p521_add_lazy(u64 r[9], const u64 a[9], const u64 b[9]) {
  unsigned char c = 0;
  for (int i = 0; i < 9; ++i) c = addc(c, a[i], b[i], &r[i]);
}
QZ_EC_INLINE void p521_sub_lazy(u64 r[9], const u64 a[9], const u64 b[9]) {
  constexpr u64 kTwiceP[9] = {~0ull - 1, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, 0x3FF};
  u64 d[9];
  unsigned char borrow = 0;
  for (int i = 0; i < 9; ++i) borrow = subb(borrow, kTwiceP[i], b[i], &d[i]);
  unsigned char c = 0;
  for (int i = 0; i < 9; ++i) c = addc(c, a[i], d[i], &r[i]);
}
// a / 2 mod p for a < p: the 521 bits rotated down by one (2^521 = 1).
QZ_EC_INLINE void p521_half(u64 r[9], const u64 a[9]) {
  const u64 low = a[0] & 1;
  for (int i = 0; i < 8; ++i) r[i] = (a[i] >> 1) | (a[i + 1] << 63);
  r[8] = ((a[8] >> 1) | (low << 8)) & 0x1FF;
}

// The portable products stay out of line, so that the field's dispatch,
// inlined into the point formulas, claims no registers for them.
//
// Product scanning: column k of a b summed in a three-word accumulator.
__attribute__((noinline)) inline void p521_mul_portable(u64 r[9], const u64 a[9], const u64 b[9]) {
  u64 t[18];
  u64 lo = 0, mid = 0, hi = 0;
  auto mac = [&](u64 x, u64 y) {
    const u128 p = static_cast<u128>(x) * y;
    unsigned char c = addc(0, lo, static_cast<u64>(p), &lo);
    c = addc(c, mid, static_cast<u64>(p >> 64), &mid);
    hi += c;
  };
  for (int k = 0; k < 17; ++k) {
    const int i0 = k < 9 ? 0 : k - 8, i1 = k < 9 ? k : 8;
    for (int i = i0; i <= i1; ++i) mac(a[i], b[k - i]);
    t[k] = lo;
    lo = mid;
    mid = hi;
    hi = 0;
  }
  t[17] = lo;
  p521_reduce(r, t);
}

// Squaring: the cross products of each column once, doubled, then the square.
__attribute__((noinline)) inline void p521_sqr_portable(u64 r[9], const u64 a[9]) {
  u64 t[18];
  u64 lo = 0, mid = 0, hi = 0;
  for (int k = 0; k < 17; ++k) {
    u64 clo = 0, cmid = 0, chi = 0;
    const int i0 = k < 9 ? 0 : k - 8;
    for (int i = i0; 2 * i < k; ++i) {
      const u128 p = static_cast<u128>(a[i]) * a[k - i];
      unsigned char c = addc(0, clo, static_cast<u64>(p), &clo);
      c = addc(c, cmid, static_cast<u64>(p >> 64), &cmid);
      chi += c;
    }
    chi = (chi << 1) | (cmid >> 63);
    cmid = (cmid << 1) | (clo >> 63);
    clo <<= 1;
    if (k % 2 == 0) {
      const u128 p = static_cast<u128>(a[k / 2]) * a[k / 2];
      unsigned char c = addc(0, clo, static_cast<u64>(p), &clo);
      c = addc(c, cmid, static_cast<u64>(p >> 64), &cmid);
      chi += c;
    }
    unsigned char c = addc(0, lo, clo, &lo);
    c = addc(c, mid, cmid, &mid);
    hi += chi + c;
    t[k] = lo;
    lo = mid;
    mid = hi;
    hi = 0;
  }
  t[17] = lo;
  p521_reduce(r, t);
}

}  // namespace quarzel::ec
