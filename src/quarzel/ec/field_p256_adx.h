// The P-256 product and square as inline assembly with MULX/ADX, for the
// translation units of the BMI2/ADX path only (field_adx.cpp,
// p256_window_adx.cpp): inlined into the point formulas, no call, no test of
// the path per product. The sum, difference and half that go with them are
// plain x86-64 (field_p256.h).
//
// Elements are four limbs in Montgomery form (R = 2^256), fully reduced
// (< p) on output. Limbs enter and leave as register-or-memory operands, not
// through pointers: the compiler may keep a value in registers from one
// operation to the next instead of a store and a reload. Inputs: below p,
// except that the product accepts any a < 2^256 with b < p (a b < p R).
// Every routine runs the same instructions whatever the values: the final
// corrections are cmov.
#pragma once

#include "ec/field_p256.h"

namespace quarzel::ec {

#if defined(__x86_64__)

// The reduction both routines end with: the 512-bit t7..t0 reduced word by
// word into four limbs with the high half added, then less p unless that
// borrows; the result in t4..t7. Its operands are the routines' own.
#define QZ_P256X_REDUCE \
  "movq %[t0], %[lo]\n\t" \
  "shlq $32, %[lo]\n\t" \
  "movq %[t0], %[hi]\n\t" \
  "shrq $32, %[hi]\n\t" \
  "movq %[t0], %%rdx\n\t" \
  "subq %[lo], %%rdx\n\t" \
  "sbbq %[hi], %[t0]\n\t" \
  "addq %[lo], %[t1]\n\t" \
  "adcq %[hi], %[t2]\n\t" \
  "adcq %%rdx, %[t3]\n\t" \
  "adcq $0, %[t0]\n\t" \
  "movq %[t1], %[lo]\n\t" \
  "shlq $32, %[lo]\n\t" \
  "movq %[t1], %[hi]\n\t" \
  "shrq $32, %[hi]\n\t" \
  "movq %[t1], %%rdx\n\t" \
  "subq %[lo], %%rdx\n\t" \
  "sbbq %[hi], %[t1]\n\t" \
  "addq %[lo], %[t2]\n\t" \
  "adcq %[hi], %[t3]\n\t" \
  "adcq %%rdx, %[t0]\n\t" \
  "adcq $0, %[t1]\n\t" \
  "movq %[t2], %[lo]\n\t" \
  "shlq $32, %[lo]\n\t" \
  "movq %[t2], %[hi]\n\t" \
  "shrq $32, %[hi]\n\t" \
  "movq %[t2], %%rdx\n\t" \
  "subq %[lo], %%rdx\n\t" \
  "sbbq %[hi], %[t2]\n\t" \
  "addq %[lo], %[t3]\n\t" \
  "adcq %[hi], %[t0]\n\t" \
  "adcq %%rdx, %[t1]\n\t" \
  "adcq $0, %[t2]\n\t" \
  "movq %[t3], %[lo]\n\t" \
  "shlq $32, %[lo]\n\t" \
  "movq %[t3], %[hi]\n\t" \
  "shrq $32, %[hi]\n\t" \
  "movq %[t3], %%rdx\n\t" \
  "subq %[lo], %%rdx\n\t" \
  "sbbq %[hi], %[t3]\n\t" \
  "addq %[lo], %[t0]\n\t" \
  "adcq %[hi], %[t1]\n\t" \
  "adcq %%rdx, %[t2]\n\t" \
  "adcq $0, %[t3]\n\t" \
  "addq %[t4], %[t0]\n\t" \
  "adcq %[t5], %[t1]\n\t" \
  "adcq %[t6], %[t2]\n\t" \
  "adcq %[t7], %[t3]\n\t" \
  "movq $0, %[lo]\n\t" \
  "adcq $0, %[lo]\n\t" \
  "movq %[t0], %[t4]\n\t" \
  "movq %[t1], %[t5]\n\t" \
  "movq %[t2], %[t6]\n\t" \
  "movq %[t3], %[t7]\n\t" \
  "subq $-1, %[t4]\n\t" \
  "sbbq %[p1], %[t5]\n\t" \
  "sbbq $0, %[t6]\n\t" \
  "sbbq %[p3], %[t7]\n\t" \
  "sbbq $0, %[lo]\n\t" \
  "cmovcq %[t0], %[t4]\n\t" \
  "cmovcq %[t1], %[t5]\n\t" \
  "cmovcq %[t2], %[t6]\n\t" \
  "cmovcq %[t3], %[t7]\n\t"

// r = a b 2^-256 mod p. The full product a b row by row (mulx, with the low
// and the high halves of each row in the two carry chains of adcx and adox),
// then the low half reduced word by word into four limbs (q p for the low
// word q is q 2^96 + q p3 2^192 once q (2^64 - 1) clears it) and the high
// half added; less p, unless that borrows. Both parts of a step come from the
// words of q 2^32, by shifts: q p3 = q 2^64 + q - q 2^32. The multiplier has
// the sixteen products to itself (a mulx per step cost 2% of an ECDH).
QZ_EC_INLINE void p256x_mul(u64 r[4], const u64 a[4], const u64 b[4]) {
  u64 t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
  asm(
      "movq %[b0], %%rdx\n\t"
      "mulxq %[a0], %[t0], %[t1]\n\t"
      "mulxq %[a1], %[lo], %[t2]\n\t"
      "addq %[lo], %[t1]\n\t"
      "mulxq %[a2], %[lo], %[t3]\n\t"
      "adcq %[lo], %[t2]\n\t"
      "mulxq %[a3], %[lo], %[t4]\n\t"
      "adcq %[lo], %[t3]\n\t"
      "adcq $0, %[t4]\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "movq %[b1], %%rdx\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t1]\n\t"
      "adoxq %[hi], %[t2]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t2]\n\t"
      "adoxq %[hi], %[t3]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t3]\n\t"
      "adoxq %[hi], %[t4]\n\t"
      "mulxq %[a3], %[lo], %[t5]\n\t"
      "adcxq %[lo], %[t4]\n\t"
      "movl $0, %k[lo]\n\t"
      "adoxq %[lo], %[t5]\n\t"
      "adcxq %[lo], %[t5]\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "movq %[b2], %%rdx\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t2]\n\t"
      "adoxq %[hi], %[t3]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t3]\n\t"
      "adoxq %[hi], %[t4]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t4]\n\t"
      "adoxq %[hi], %[t5]\n\t"
      "mulxq %[a3], %[lo], %[t6]\n\t"
      "adcxq %[lo], %[t5]\n\t"
      "movl $0, %k[lo]\n\t"
      "adoxq %[lo], %[t6]\n\t"
      "adcxq %[lo], %[t6]\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "movq %[b3], %%rdx\n\t"
      "mulxq %[a0], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t3]\n\t"
      "adoxq %[hi], %[t4]\n\t"
      "mulxq %[a1], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t4]\n\t"
      "adoxq %[hi], %[t5]\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "adcxq %[lo], %[t5]\n\t"
      "adoxq %[hi], %[t6]\n\t"
      "mulxq %[a3], %[lo], %[t7]\n\t"
      "adcxq %[lo], %[t6]\n\t"
      "movl $0, %k[lo]\n\t"
      "adoxq %[lo], %[t7]\n\t"
      "adcxq %[lo], %[t7]\n\t"
      QZ_P256X_REDUCE
      : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
        [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [a0] "rm"(a[0]), [a1] "rm"(a[1]), [a2] "rm"(a[2]), [a3] "rm"(a[3]),
        [b0] "rm"(b[0]), [b1] "rm"(b[1]), [b2] "rm"(b[2]), [b3] "rm"(b[3]), [p1] "m"(kP256[1]), [p3] "m"(kP256[3])
      : "rdx", "cc");
  r[0] = t4;
  r[1] = t5;
  r[2] = t6;
  r[3] = t7;
}

// r = a^2 2^-256 mod p: the six cross products once, doubled, plus the four
// squares, then the reduction of p256x_mul.
QZ_EC_INLINE void p256x_sqr(u64 r[4], const u64 a[4]) {
  u64 t0, t1, t2, t3, t4, t5, t6, t7, lo, hi;
  asm(
      "movq %[a0], %%rdx\n\t"
      "mulxq %[a1], %[t1], %[t2]\n\t"
      "mulxq %[a2], %[lo], %[t3]\n\t"
      "addq %[lo], %[t2]\n\t"
      "mulxq %[a3], %[lo], %[t4]\n\t"
      "adcq %[lo], %[t3]\n\t"
      "adcq $0, %[t4]\n\t"
      "movq %[a1], %%rdx\n\t"
      "mulxq %[a2], %[lo], %[hi]\n\t"
      "mulxq %[a3], %[t6], %[t5]\n\t"
      "addq %[lo], %[t3]\n\t"
      "adcq %[hi], %[t4]\n\t"
      "adcq $0, %[t5]\n\t"
      "addq %[t6], %[t4]\n\t"
      "adcq $0, %[t5]\n\t"
      "movq %[a2], %%rdx\n\t"
      "mulxq %[a3], %[lo], %[t6]\n\t"
      "addq %[lo], %[t5]\n\t"
      "adcq $0, %[t6]\n\t"
      "xorl %k[t7], %k[t7]\n\t"
      "addq %[t1], %[t1]\n\t"
      "adcq %[t2], %[t2]\n\t"
      "adcq %[t3], %[t3]\n\t"
      "adcq %[t4], %[t4]\n\t"
      "adcq %[t5], %[t5]\n\t"
      "adcq %[t6], %[t6]\n\t"
      "adcq $0, %[t7]\n\t"
      "movq %[a0], %%rdx\n\t"
      "mulxq %%rdx, %[t0], %[hi]\n\t"
      "addq %[hi], %[t1]\n\t"
      "movq %[a1], %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcq %[lo], %[t2]\n\t"
      "adcq %[hi], %[t3]\n\t"
      "movq %[a2], %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcq %[lo], %[t4]\n\t"
      "adcq %[hi], %[t5]\n\t"
      "movq %[a3], %%rdx\n\t"
      "mulxq %%rdx, %[lo], %[hi]\n\t"
      "adcq %[lo], %[t6]\n\t"
      "adcq %[hi], %[t7]\n\t"
      QZ_P256X_REDUCE
      : [t0] "=&r"(t0), [t1] "=&r"(t1), [t2] "=&r"(t2), [t3] "=&r"(t3), [t4] "=&r"(t4), [t5] "=&r"(t5),
        [t6] "=&r"(t6), [t7] "=&r"(t7), [lo] "=&r"(lo), [hi] "=&r"(hi)
      : [a0] "rm"(a[0]), [a1] "rm"(a[1]), [a2] "rm"(a[2]), [a3] "rm"(a[3]), [p1] "m"(kP256[1]), [p3] "m"(kP256[3])
      : "rdx", "cc");
  r[0] = t4;
  r[1] = t5;
  r[2] = t6;
  r[3] = t7;
}

#undef QZ_P256X_REDUCE

#endif

}  // namespace quarzel::ec
