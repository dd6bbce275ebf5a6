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

#if defined(__x86_64__)

// The sum, difference and half of the BMI2/ADX path (field_p256_adx.h) in
// x86-64 assembly: inputs below p, outputs below p, limbs as register or
// memory operands. Mont<4> uses them whenever it runs on that path.

// r = a + b mod p: the sum (carry in c), less p unless that borrows.
QZ_EC_INLINE void p256x_add(u64 r[4], const u64 a[4], const u64 b[4]) {
  u64 t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3], u0, u1, u2, u3, c;
  asm(
      "xorl %k[c], %k[c]\n\t"
      "addq %[b0], %[t0]\n\t"
      "adcq %[b1], %[t1]\n\t"
      "adcq %[b2], %[t2]\n\t"
      "adcq %[b3], %[t3]\n\t"
      "adcq $0, %[c]\n\t"
      "movq %[t0], %[u0]\n\t"
      "movq %[t1], %[u1]\n\t"
      "movq %[t2], %[u2]\n\t"
      "movq %[t3], %[u3]\n\t"
      "subq $-1, %[u0]\n\t"
      "sbbq %[p1], %[u1]\n\t"
      "sbbq $0, %[u2]\n\t"
      "sbbq %[p3], %[u3]\n\t"
      "sbbq $0, %[c]\n\t"
      "cmovcq %[t0], %[u0]\n\t"
      "cmovcq %[t1], %[u1]\n\t"
      "cmovcq %[t2], %[u2]\n\t"
      "cmovcq %[t3], %[u3]\n\t"
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [u0] "=&r"(u0), [u1] "=&r"(u1),
        [u2] "=&r"(u2), [u3] "=&r"(u3), [c] "=&r"(c)
      : [b0] "rm"(b[0]), [b1] "rm"(b[1]), [b2] "rm"(b[2]), [b3] "rm"(b[3]), [p1] "m"(kP256[1]), [p3] "m"(kP256[3])
      : "cc");
  r[0] = u0;
  r[1] = u1;
  r[2] = u2;
  r[3] = u3;
}

// r = a - b mod p: the difference, plus p under the mask of its borrow.
QZ_EC_INLINE void p256x_sub(u64 r[4], const u64 a[4], const u64 b[4]) {
  u64 t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3], m, m1, m3;
  asm(
      "xorl %k[m], %k[m]\n\t"
      "subq %[b0], %[t0]\n\t"
      "sbbq %[b1], %[t1]\n\t"
      "sbbq %[b2], %[t2]\n\t"
      "sbbq %[b3], %[t3]\n\t"
      "sbbq %[m], %[m]\n\t"
      "movl %k[m], %k[m1]\n\t"
      "movq %[p3], %[m3]\n\t"
      "andq %[m], %[m3]\n\t"
      "addq %[m], %[t0]\n\t"
      "adcq %[m1], %[t1]\n\t"
      "adcq $0, %[t2]\n\t"
      "adcq %[m3], %[t3]\n\t"
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [m] "=&r"(m), [m1] "=&r"(m1),
        [m3] "=&r"(m3)
      : [b0] "rm"(b[0]), [b1] "rm"(b[1]), [b2] "rm"(b[2]), [b3] "rm"(b[3]), [p3] "m"(kP256[3])
      : "cc");
  r[0] = t0;
  r[1] = t1;
  r[2] = t2;
  r[3] = t3;
}

// r = a / 2 mod p: a + p under the mask of a's low bit (p is odd), then the
// five words shifted down a bit.
QZ_EC_INLINE void p256x_half(u64 r[4], const u64 a[4]) {
  u64 t0 = a[0], t1 = a[1], t2 = a[2], t3 = a[3], m, m1, m3, c;
  asm(
      "xorl %k[c], %k[c]\n\t"
      "movq %[t0], %[m]\n\t"
      "andq $1, %[m]\n\t"
      "negq %[m]\n\t"
      "movl %k[m], %k[m1]\n\t"
      "movq %[p3], %[m3]\n\t"
      "andq %[m], %[m3]\n\t"
      "addq %[m], %[t0]\n\t"
      "adcq %[m1], %[t1]\n\t"
      "adcq $0, %[t2]\n\t"
      "adcq %[m3], %[t3]\n\t"
      "adcq $0, %[c]\n\t"
      "shrdq $1, %[t1], %[t0]\n\t"
      "shrdq $1, %[t2], %[t1]\n\t"
      "shrdq $1, %[t3], %[t2]\n\t"
      "shrdq $1, %[c], %[t3]\n\t"
      : [t0] "+&r"(t0), [t1] "+&r"(t1), [t2] "+&r"(t2), [t3] "+&r"(t3), [m] "=&r"(m), [m1] "=&r"(m1),
        [m3] "=&r"(m3), [c] "=&r"(c)
      : [p3] "m"(kP256[3])
      : "cc");
  r[0] = t0;
  r[1] = t1;
  r[2] = t2;
  r[3] = t3;
}

#endif

}  // namespace quarzel::ec
