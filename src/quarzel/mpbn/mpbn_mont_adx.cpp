// Montgomery product and squaring with MULX/ADCX/ADOX (BMI2 + ADX): each
// row runs two independent carry chains (CF for the accumulator, OF for the
// high halves). Chosen at run time when the CPU has both extensions. The
// sizes of RSA's CRT halves and moduli get rows unrolled by the assembler;
// any other size runs the looped row.
#include <utility>

#include "mpbn/mpbn_internal.h"

#if defined(__x86_64__)

namespace quarzel::mpbn_detail {
namespace {

// t[0..L-1] += ai * b[0..L-1]; returns the limb carried out of t[L-1]
// (the exact sum fits in L+1 limbs, so this cannot overflow). L >= 1.
// Four limbs per loop turn while L allows, then one at a time; lea and
// jrcxz leave CF and OF alone between turns.
__attribute__((target("bmi2,adx"))) inline u64 mac_row(u64* t, const u64* b, u64 ai, size_t L) {
  u64 lo, hi, hp = 0;
  size_t quads = L / 4, rest = L % 4;
  asm volatile(
      "xor %k[lo], %k[lo]\n\t"  // clears CF and OF
      "jrcxz 2f\n\t"
      "1:\n\t"
      "mulx 0(%[b]), %[lo], %[hi]\n\t"
      "adcx 0(%[t]), %[lo]\n\t"
      "adox %[hp], %[lo]\n\t"
      "mov %[lo], 0(%[t])\n\t"
      "mov %[hi], %[hp]\n\t"
      "mulx 8(%[b]), %[lo], %[hi]\n\t"
      "adcx 8(%[t]), %[lo]\n\t"
      "adox %[hp], %[lo]\n\t"
      "mov %[lo], 8(%[t])\n\t"
      "mov %[hi], %[hp]\n\t"
      "mulx 16(%[b]), %[lo], %[hi]\n\t"
      "adcx 16(%[t]), %[lo]\n\t"
      "adox %[hp], %[lo]\n\t"
      "mov %[lo], 16(%[t])\n\t"
      "mov %[hi], %[hp]\n\t"
      "mulx 24(%[b]), %[lo], %[hi]\n\t"
      "adcx 24(%[t]), %[lo]\n\t"
      "adox %[hp], %[lo]\n\t"
      "mov %[lo], 24(%[t])\n\t"
      "mov %[hi], %[hp]\n\t"
      "lea 32(%[b]), %[b]\n\t"
      "lea 32(%[t]), %[t]\n\t"
      "lea -1(%[cnt]), %[cnt]\n\t"
      "jrcxz 2f\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "mov %[rest], %[cnt]\n\t"
      "jrcxz 4f\n\t"
      "3:\n\t"
      "mulx 0(%[b]), %[lo], %[hi]\n\t"
      "adcx 0(%[t]), %[lo]\n\t"
      "adox %[hp], %[lo]\n\t"
      "mov %[lo], 0(%[t])\n\t"
      "mov %[hi], %[hp]\n\t"
      "lea 8(%[b]), %[b]\n\t"
      "lea 8(%[t]), %[t]\n\t"
      "lea -1(%[cnt]), %[cnt]\n\t"
      "jrcxz 4f\n\t"
      "jmp 3b\n\t"
      "4:\n\t"
      "mov $0, %[lo]\n\t"
      "adcx %[lo], %[hp]\n\t"
      "adox %[lo], %[hp]\n\t"
      : [lo] "=&r"(lo), [hi] "=&r"(hi), [hp] "+&r"(hp), [b] "+&r"(b), [t] "+&r"(t), [cnt] "+&c"(quads)
      : "d"(ai), [rest] "r"(rest)
      : "cc", "memory");
  return hp;
}

// The same row for a length K known when compiling, unrolled by `.rept`:
// two limbs per repetition, the high halves alternating between h0 and h1
// so that no move sits on the carry chains.
template <size_t K>
__attribute__((always_inline)) inline u64 row(u64* t, const u64* b, u64 ai) {
  static_assert(K >= 1);
  u64 lo, h0 = 0, h1;
#define ZEB_ROW_PAIR                               \
  "mulx zeb_off(%[b]), %[lo], %[h1]\n\t"           \
  "adcx zeb_off(%[t]), %[lo]\n\t"                  \
  "adox %[h0], %[lo]\n\t"                          \
  "mov %[lo], zeb_off(%[t])\n\t"                   \
  "mulx zeb_off+8(%[b]), %[lo], %[h0]\n\t"         \
  "adcx zeb_off+8(%[t]), %[lo]\n\t"                \
  "adox %[h1], %[lo]\n\t"                          \
  "mov %[lo], zeb_off+8(%[t])\n\t"                 \
  ".set zeb_off, zeb_off+16\n\t"
  if constexpr (K % 2 == 0) {
    asm volatile(
        "xor %k[lo], %k[lo]\n\t"  // clears CF and OF
        ".set zeb_off, 0\n\t"
        ".rept %c[pairs]\n\t" ZEB_ROW_PAIR
        ".endr\n\t"
        "mov $0, %[lo]\n\t"
        "adcx %[lo], %[h0]\n\t"
        "adox %[lo], %[h0]\n\t"
        : [lo] "=&r"(lo), [h0] "+&r"(h0), [h1] "=&r"(h1)
        : [t] "r"(t), [b] "r"(b), "d"(ai), [pairs] "i"(K / 2)
        : "cc", "memory");
    return h0;
  } else {
    asm volatile(
        "xor %k[lo], %k[lo]\n\t"
        ".set zeb_off, 0\n\t"
        ".rept %c[pairs]\n\t" ZEB_ROW_PAIR
        ".endr\n\t"
        "mulx zeb_off(%[b]), %[lo], %[h1]\n\t"
        "adcx zeb_off(%[t]), %[lo]\n\t"
        "adox %[h0], %[lo]\n\t"
        "mov %[lo], zeb_off(%[t])\n\t"
        "mov $0, %[lo]\n\t"
        "adcx %[lo], %[h1]\n\t"
        "adox %[lo], %[h1]\n\t"
        : [lo] "=&r"(lo), [h0] "+&r"(h0), [h1] "=&r"(h1)
        : [t] "r"(t), [b] "r"(b), "d"(ai), [pairs] "i"(K / 2)
        : "cc", "memory");
    return h1;
  }
}

// t[0..K) += ai*b[0..K), then t[K] += the carry limb + extra; returns the
// carry out of t[K]. With QLimb 0 or 1, also *next_q = (new t[QLimb]) *
// ninv: the multiple of the next reduction step, taken from a register
// rather than after a store (QLimb -1: none). K even.
template <size_t K, int QLimb>
__attribute__((always_inline)) inline u64 row_top(u64* t, const u64* b, u64 ai, u64 extra, u64 ninv = 0,
                                                  u64* next_q = nullptr) {
  static_assert(K >= 2 && K % 2 == 0);
  u64 lo, h0 = 0, h1, q = ninv, t1;
#define ZEB_ROW_TAIL                      \
  "mov $0, %[lo]\n\t"                     \
  "adcx %[lo], %[h0]\n\t"                 \
  "adox %[lo], %[h0]\n\t"                 \
  "xor %k[lo], %k[lo]\n\t"                \
  "add %[h0], %c[top](%[t])\n\t"          \
  "adc $0, %[lo]\n\t"                     \
  "add %[extra], %c[top](%[t])\n\t"       \
  "adc $0, %[lo]\n\t"
#define ZEB_FIRST_PAIR(AFTER0, AFTER1)  \
  "xor %k[lo], %k[lo]\n\t"               \
  "mulx 0(%[b]), %[lo], %[h1]\n\t"       \
  "adcx 0(%[t]), %[lo]\n\t"              \
  "adox %[h0], %[lo]\n\t"                \
  "mov %[lo], 0(%[t])\n\t" AFTER0        \
  "mulx 8(%[b]), %[lo], %[h0]\n\t"       \
  "adcx 8(%[t]), %[lo]\n\t"              \
  "adox %[h1], %[lo]\n\t"                \
  "mov %[lo], 8(%[t])\n\t" AFTER1        \
  ".set zeb_off, 16\n\t"                 \
  ".rept %c[pairs]\n\t" ZEB_ROW_PAIR ".endr\n\t" ZEB_ROW_TAIL
  if constexpr (QLimb >= 0) {
    if constexpr (QLimb == 0) {
      asm volatile(ZEB_FIRST_PAIR("mov %[lo], %[t1]\n\t", "")
                   "imul %[t1], %[q]\n\t"  // after the chains: imul writes CF and OF
                   : [lo] "=&r"(lo), [h0] "+&r"(h0), [h1] "=&r"(h1), [q] "+&r"(q), [t1] "=&r"(t1)
                   : [t] "r"(t), [b] "r"(b), "d"(ai), [pairs] "i"(K / 2 - 1), [top] "i"(8 * K),
                     [extra] "r"(extra)
                   : "cc", "memory");
    } else {
      static_assert(QLimb == 1);
      asm volatile(ZEB_FIRST_PAIR("", "mov %[lo], %[t1]\n\t")
                   "imul %[t1], %[q]\n\t"
                   : [lo] "=&r"(lo), [h0] "+&r"(h0), [h1] "=&r"(h1), [q] "+&r"(q), [t1] "=&r"(t1)
                   : [t] "r"(t), [b] "r"(b), "d"(ai), [pairs] "i"(K / 2 - 1), [top] "i"(8 * K),
                     [extra] "r"(extra)
                   : "cc", "memory");
    }
    *next_q = q;
  } else {
    asm volatile(
        "xor %k[lo], %k[lo]\n\t"
        ".set zeb_off, 0\n\t"
        ".rept %c[pairs]\n\t" ZEB_ROW_PAIR
        ".endr\n\t" ZEB_ROW_TAIL
        : [lo] "=&r"(lo), [h0] "+&r"(h0), [h1] "=&r"(h1)
        : [t] "r"(t), [b] "r"(b), "d"(ai), [pairs] "i"(K / 2), [top] "i"(8 * K), [extra] "r"(extra)
        : "cc", "memory");
  }
  return lo;
#undef ZEB_FIRST_PAIR
#undef ZEB_ROW_TAIL
#undef ZEB_ROW_PAIR
}

// Cross products a_i*a_j (i < j) of the squaring, every row unrolled.
template <size_t L, size_t... I>
__attribute__((always_inline)) inline void triangle(u64* T, const u64* a, std::index_sequence<I...>) {
  ((T[I + L] = row<L - 1 - I>(T + 2 * I + 1, a + I + 1, a[I])), ...);
}

// T = 2*T + the squares a_i^2 (T of 2L limbs holding the cross products):
// the doubling rides the CF chain (adcx x, x), the squares the OF chain.
// Neither carries out: the result is a^2 < 2^(128L).
template <size_t L>
__attribute__((always_inline)) inline void double_add_squares(u64* T, const u64* a) {
  u64 lo, hi, x;
  asm volatile(
      "xor %k[lo], %k[lo]\n\t"
      ".set zeb_off, 0\n\t"
      ".rept %c[limbs]\n\t"
      "mov zeb_off(%[a]), %%rdx\n\t"
      "mulx %%rdx, %[lo], %[hi]\n\t"
      "mov 2*zeb_off(%[T]), %[x]\n\t"
      "adcx %[x], %[x]\n\t"
      "adox %[lo], %[x]\n\t"
      "mov %[x], 2*zeb_off(%[T])\n\t"
      "mov 2*zeb_off+8(%[T]), %[x]\n\t"
      "adcx %[x], %[x]\n\t"
      "adox %[hi], %[x]\n\t"
      "mov %[x], 2*zeb_off+8(%[T])\n\t"
      ".set zeb_off, zeb_off+8\n\t"
      ".endr\n\t"
      : [lo] "=&r"(lo), [hi] "=&r"(hi), [x] "=&r"(x)
      : [T] "r"(T), [a] "r"(a), [limbs] "i"(L)
      : "rdx", "cc", "memory");
}

// r = t - n when t (L+1 limbs, t[L] in {0, 1}) is not below n, else t: the
// subtraction always runs, the choice is a cmov per limb on its borrow.
// r must not overlap t.
template <size_t L>
__attribute__((always_inline)) inline void final_subtract(u64* r, const u64* t, const u64* n) {
  u64 x;
  asm volatile(
      "clc\n\t"
      ".set zeb_off, 0\n\t"
      ".rept %c[limbs]\n\t"
      "mov zeb_off(%[t]), %[x]\n\t"
      "sbb zeb_off(%[n]), %[x]\n\t"
      "mov %[x], zeb_off(%[r])\n\t"
      ".set zeb_off, zeb_off+8\n\t"
      ".endr\n\t"
      "mov %c[top](%[t]), %[x]\n\t"
      "sbb $0, %[x]\n\t"  // borrow out: t < n, keep t
      ".set zeb_off, 0\n\t"
      ".rept %c[limbs]\n\t"
      "mov zeb_off(%[r]), %[x]\n\t"
      "cmovc zeb_off(%[t]), %[x]\n\t"
      "mov %[x], zeb_off(%[r])\n\t"
      ".set zeb_off, zeb_off+8\n\t"
      ".endr\n\t"
      : [x] "=&r"(x)
      : [r] "r"(r), [t] "r"(t), [n] "r"(n), [limbs] "i"(L), [top] "i"(8 * L)
      : "cc", "memory");
}

}  // namespace

// The instructions are in the assembly text, so no target attribute is needed
// here; callers reach these only when the CPU has BMI2 and ADX.
template <size_t L>
void mont_mul_adx_fixed(size_t, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* T) {
  for (size_t j = 0; j < L + 2; ++j) T[j] = 0;
  for (size_t i = 0; i < L; ++i) {
    u64* t = T + i;
    u64 q;
    t[L + 1] = row_top<L, 0>(t, b, a[i], 0, ninv, &q);  // q = (new t[0]) * ninv
    t[L + 1] += row_top<L, -1>(t, n, q, 0);             // t[0] becomes zero
  }
  final_subtract<L>(r, T + L, n);
}

template <size_t L>
void mont_sqr_adx_fixed(size_t, u64* r, const u64* a, const u64* n, u64 ninv, u64* T) {
  // Each row of the triangle sets the limb above its last; only the limbs
  // below the first carry, and the top one, start at zero.
  for (size_t j = 0; j < L; ++j) T[j] = 0;
  T[2 * L - 1] = 0;
  if constexpr (L <= 32) {
    triangle<L>(T, a, std::make_index_sequence<L - 1>{});
  } else {  // the unrolled triangle would outgrow the instruction cache
    for (size_t i = 0; i + 1 < L; ++i) T[i + L] = mac_row(T + 2 * i + 1, a + i + 1, a[i], L - 1 - i);
  }
  double_add_squares<L>(T, a);
  // Reduction, one limb per step; the carry out of T[i+L] joins the next
  // step's top limb.
  u64 hi = 0, q = T[0] * ninv;
  for (size_t i = 0; i < L; ++i) hi = row_top<L, 1>(T + i, n, q, hi, ninv, &q);
  T[2 * L] = hi;
  final_subtract<L>(r, T + L, n);
}

#define ZEB_MONT_ADX_SIZE(L)                                                                            \
  template void mont_mul_adx_fixed<L>(size_t, u64*, const u64*, const u64*, const u64*, u64, u64*); \
  template void mont_sqr_adx_fixed<L>(size_t, u64*, const u64*, const u64*, u64, u64*);
ZEB_MONT_ADX_SIZE(16)
ZEB_MONT_ADX_SIZE(24)
ZEB_MONT_ADX_SIZE(32)
ZEB_MONT_ADX_SIZE(48)
ZEB_MONT_ADX_SIZE(64)
#undef ZEB_MONT_ADX_SIZE

// T: 2L+2 limbs. The window T+i holds the accumulator of step i, so the
// division by 2^64 of each step is a pointer move, not a copy.
__attribute__((target("bmi2,adx"))) void mont_mul_limbs_adx(size_t L, u64* r, const u64* a, const u64* b,
                                                            const u64* n, u64 ninv, u64* T) {
  for (size_t j = 0; j < 2 * L + 2; ++j) T[j] = 0;
  for (size_t i = 0; i < L; ++i) {
    u64* t = T + i;
    u64 c = mac_row(t, b, a[i], L);
    u128 s = static_cast<u128>(t[L]) + c;
    t[L] = static_cast<u64>(s);
    t[L + 1] = static_cast<u64>(s >> 64);
    const u64 q = t[0] * ninv;
    c = mac_row(t, n, q, L);  // t[0] becomes zero
    s = static_cast<u128>(t[L]) + c;
    t[L] = static_cast<u64>(s);
    t[L + 1] += static_cast<u64>(s >> 64);
  }
  mont_final_subtract(L, r, T + L, n);
}

// T: 2L+2 limbs.
__attribute__((target("bmi2,adx"))) void mont_sqr_limbs_adx(size_t L, u64* r, const u64* a, const u64* n, u64 ninv,
                                                            u64* T) {
  for (size_t j = 0; j < 2 * L + 2; ++j) T[j] = 0;
  // Cross products a_i*a_j, i < j, row by row.
  for (size_t i = 0; i + 1 < L; ++i) T[i + L] = mac_row(T + 2 * i + 1, a + i + 1, a[i], L - 1 - i);
  // Double, then add the squares.
  u64 top = 0;
  for (size_t k = 0; k < 2 * L; ++k) {
    const u64 v = T[k];
    T[k] = (v << 1) | top;
    top = v >> 63;
  }
  u64 c = 0;
  for (size_t i = 0; i < L; ++i) {
    const u128 sq = static_cast<u128>(a[i]) * a[i];
    u128 x = static_cast<u128>(T[2 * i]) + static_cast<u64>(sq) + c;
    T[2 * i] = static_cast<u64>(x);
    x = static_cast<u128>(T[2 * i + 1]) + static_cast<u64>(sq >> 64) + static_cast<u64>(x >> 64);
    T[2 * i + 1] = static_cast<u64>(x);
    c = static_cast<u64>(x >> 64);
  }
  // Reduction, one limb per step; the carry out of T[i+L] joins the next
  // step's top limb.
  u64 hi = 0;
  for (size_t i = 0; i < L; ++i) {
    const u64 q = T[i] * ninv;
    const u64 cc = mac_row(T + i, n, q, L);
    const u128 s = static_cast<u128>(T[i + L]) + cc + hi;
    T[i + L] = static_cast<u64>(s);
    hi = static_cast<u64>(s >> 64);
  }
  T[2 * L] = hi;
  mont_final_subtract(L, r, T + L, n);
}

}  // namespace quarzel::mpbn_detail

#endif  // __x86_64__
