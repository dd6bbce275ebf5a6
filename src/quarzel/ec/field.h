// Fixed-width Montgomery arithmetic modulo an odd number m < 2^(64N).
//
// Elements are N little-endian 64-bit limbs, always fully reduced (< m), so
// zero has one representation. Every routine runs the same instructions for
// every value: carries and choices are masks, never branches. The width is a
// template parameter so that the compiler unrolls the limb loops; nothing
// allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "ec/field_p256.h"
#include "ec/field_p521.h"
#include "ec/limbs.h"
#include "ec/modinv.h"

namespace quarzel::ec {

// The 4-limb product on BMI2/ADX (field_adx.cpp): r = a*b*R^-1 mod m, r < m.
void mont_mul4_adx(u64 r[4], const u64 a[4], const u64 b[4], const u64 m[4], u64 minv);
bool cpu_has_adx();

struct NoModInv {};

template <size_t N>
struct Mont {
  u64 m[N];
  u64 minv;   // -m^-1 mod 2^64
  u64 r2[N];  // R^2 mod m, R = 2^(64N)
  u64 one[N]; // R mod m
  u64 r3[N];  // R^3 mod m
  // Divsteps inversion (modinv.h) for the widths it serves.
  [[no_unique_address]] std::conditional_t<kHasModInv<N>, ModInv<(kHasModInv<N> ? N : 4)>, NoModInv> divsteps{};
  bool adx = false;   // 4-limb (and P-521) products on BMI2/ADX, chosen at set-up
  bool p256 = false;  // m is the P-256 prime: products use its form
  bool p521 = false;  // m is the P-521 prime: products use its form

  // r = a*b*R^-1 mod m, for a*b < m*R (so a < R and b < m suffices). r may alias.
  void mul(u64* r, const u64* a, const u64* b) const {
    if constexpr (N == 4) {
      if (p256) {
        if (adx) return p256_mul_adx(r, a, b);
        u64 t[4];
        final_sub(r, t, p256_mul_portable(t, a, b));
        return;
      }
      if (adx) return mont_mul4_adx(r, a, b, m, minv);
    }
    if constexpr (N == 9) {
      if (p521) return adx ? p521_mul_adx(r, a, b) : p521_mul_portable(r, a, b);
    }
    // Row by row suits the compiler up to six limbs; wider, the column sums
    // keep the working set in registers.
    if constexpr (N <= 6)
      mul_rows(r, a, b);
    else
      mul_columns(r, a, b);
  }

  // Operand scanning: the full product a*b, then a word-by-word reduction.
  void mul_rows(u64* r, const u64* a, const u64* b) const {
    u64 t[2 * N] = {};
    for (size_t i = 0; i < N; ++i) {
      u64 c = 0;
      for (size_t j = 0; j < N; ++j) {
        const u128 x = static_cast<u128>(a[j]) * b[i] + t[i + j] + c;
        t[i + j] = static_cast<u64>(x);
        c = static_cast<u64>(x >> 64);
      }
      t[i + N] = c;
    }
    reduce(r, t);
  }

  // Product scanning with the reduction folded in: column k of a*b + q*m is
  // summed in a three-word accumulator; the low columns choose the words of q
  // that clear them, the high columns are the result. Out of line: inlined,
  // its registers were saved on every product, P-521's kernels' too.
  __attribute__((noinline)) void mul_columns(u64* r, const u64* a, const u64* b) const {
    u64 q[N], t[N];
    u128 acc = 0;
    u64 acc2 = 0;
    auto mac = [&](u64 x, u64 y) {
      const u128 p = static_cast<u128>(x) * y;
      acc += p;
      acc2 += acc < p;
    };
    auto shift = [&] {
      acc = (acc >> 64) | (static_cast<u128>(acc2) << 64);
      acc2 = 0;
    };
    for (size_t i = 0; i < N; ++i) {
      for (size_t j = 0; j < i; ++j) {
        mac(a[j], b[i - j]);
        mac(q[j], m[i - j]);
      }
      mac(a[i], b[0]);
      q[i] = static_cast<u64>(acc) * minv;
      mac(q[i], m[0]);
      shift();
    }
    for (size_t i = N; i < 2 * N - 1; ++i) {
      for (size_t j = i - N + 1; j < N; ++j) {
        mac(a[j], b[i - j]);
        mac(q[j], m[i - j]);
      }
      t[i - N] = static_cast<u64>(acc);
      shift();
    }
    t[N - 1] = static_cast<u64>(acc);
    final_sub(r, t, static_cast<u64>(acc >> 64));
  }

  // r = a^2 R^-1 mod m for a < m. A dedicated squaring (each cross product
  // once) pays with the P-256 reduction; with the general one it measured no
  // faster than the product, and slower for six limbs.
  void sqr(u64* r, const u64* a) const {
    if constexpr (N == 4) {
      if (p256) {
        if (adx) return p256_sqr_adx(r, a);
        u64 t[4];
        final_sub(r, t, p256_sqr_portable(t, a));
        return;
      }
    }
    if constexpr (N == 9) {
      if (p521) return adx ? p521_sqr_adx(r, a) : p521_sqr_portable(r, a);
    }
    mul(r, a, a);
  }
  // r = t * R^-1 mod m for a 2N-limb t < m*R.
  void reduce(u64* r, u64* t) const {
    u64 hi = 0;  // carry above limb N + i
    for (size_t i = 0; i < N; ++i) {
      const u64 q = t[i] * minv;
      u64 c = 0;
      for (size_t j = 0; j < N; ++j) {
        const u128 x = static_cast<u128>(q) * m[j] + t[i + j] + c;
        t[i + j] = static_cast<u64>(x);
        c = static_cast<u64>(x >> 64);
      }
      const u128 x = static_cast<u128>(t[i + N]) + c + hi;
      t[i + N] = static_cast<u64>(x);
      hi = static_cast<u64>(x >> 64);
    }
    final_sub(r, t + N, hi);
  }

  // r = (hi:t) - m when that is non-negative, else t. Needs (hi:t) < 2m.
  QZ_EC_INLINE void final_sub(u64* r, const u64* t, u64 hi) const {
    u64 d[N];
    unsigned char borrow = 0;
    for (size_t j = 0; j < N; ++j) borrow = subb(borrow, t[j], m[j], &d[j]);
    // Keep t only when the subtraction borrowed past the high word.
    const u64 keep = ct::mask_from_bit<u64>(static_cast<u64>(borrow) & (hi ^ 1) & 1);
    for (size_t j = 0; j < N; ++j) r[j] = (t[j] & keep) | (d[j] & ~keep);
  }

  QZ_EC_INLINE void add(u64* r, const u64* a, const u64* b) const {
#if defined(__x86_64__)
    if constexpr (N == 4) {
      if (p256 && adx) return p256x_add(r, a, b);
    }
#endif
    if constexpr (N == 9) {
      if (p521) return p521_add(r, a, b);
    }
    u64 t[N];
    unsigned char c = 0;
    for (size_t j = 0; j < N; ++j) c = addc(c, a[j], b[j], &t[j]);
    final_sub(r, t, c);
  }
  QZ_EC_INLINE void sub(u64* r, const u64* a, const u64* b) const {
#if defined(__x86_64__)
    if constexpr (N == 4) {
      if (p256 && adx) return p256x_sub(r, a, b);
    }
#endif
    if constexpr (N == 9) {
      if (p521) return p521_sub(r, a, b);
    }
    u64 t[N];
    unsigned char borrow = 0;
    for (size_t j = 0; j < N; ++j) borrow = subb(borrow, a[j], b[j], &t[j]);
    const u64 mask = ct::mask_from_bit<u64>(borrow);
    unsigned char c = 0;
    for (size_t j = 0; j < N; ++j) c = addc(c, t[j], m[j] & mask, &r[j]);
  }
  QZ_EC_INLINE void dbl(u64* r, const u64* a) const {
    if constexpr (N == 9) {
      if (p521) return p521_dbl(r, a);
    }
    add(r, a, a);
  }

  // r = a / 2: a + m when a is odd (m is odd), then shifted down a bit.
  QZ_EC_INLINE void half(u64* r, const u64* a) const {
#if defined(__x86_64__)
    if constexpr (N == 4) {
      if (p256 && adx) return p256x_half(r, a);
    }
#endif
    const u64 odd = 0 - (a[0] & 1);
    u64 t[N];
    unsigned char c = 0;
    for (size_t j = 0; j < N; ++j) c = addc(c, a[j], m[j] & odd, &t[j]);
    for (size_t j = 0; j + 1 < N; ++j) r[j] = (t[j] >> 1) | (t[j + 1] << 63);
    r[N - 1] = (t[N - 1] >> 1) | (static_cast<u64>(c) << 63);
  }

  // Montgomery form of an integer a < R (not necessarily below m).
  void to_mont(u64* r, const u64* a) const { mul(r, a, r2); }
  void from_mont(u64* r, const u64* a) const {
    u64 unit[N] = {1};
    mul(r, a, unit);
  }

  // r = a^e for a public exponent e (N limbs, plain integer) by sliding
  // windows of up to five bits over the odd powers a, a^3, .. a^31: which
  // products run, and on which table entries, depends on e alone, never on a.
  void pow_public(u64* r, const u64* a, const u64* e) const {
    constexpr int kW = 5;
    u64 odd[1 << (kW - 1)][N], a2[N], acc[N];
    std::memcpy(odd[0], a, sizeof odd[0]);
    sqr(a2, a);
    for (size_t i = 1; i < (1 << (kW - 1)); ++i) mul(odd[i], odd[i - 1], a2);
    auto bit = [e](int i) { return static_cast<int>((e[i / 64] >> (i % 64)) & 1); };
    std::memcpy(acc, one, sizeof acc);
    bool started = false;
    for (int i = static_cast<int>(64 * N) - 1; i >= 0;) {
      if (bit(i) == 0) {
        if (started) sqr(acc, acc);
        --i;
        continue;
      }
      int j = i - kW + 1 < 0 ? 0 : i - kW + 1;
      while (bit(j) == 0) ++j;
      int v = 0;
      for (int k = i; k >= j; --k) v = 2 * v + bit(k);
      if (started) {
        for (int k = i; k >= j; --k) sqr(acc, acc);
        mul(acc, acc, odd[v >> 1]);
      } else {
        std::memcpy(acc, odd[v >> 1], sizeof acc);
        started = true;
      }
      i = j - 1;
    }
    std::memcpy(r, acc, sizeof acc);
  }
  // r = a^-1 for a prime modulus; 0 maps to 0. Four, six and nine limbs
  // (the moduli of the curves' fields and orders, below 2^256, 2^384 and
  // 2^521): divsteps on the plain value, (a R)^-1 = a^-1 R^-1, brought back
  // by R^3. Others: Fermat.
  void inv_prime(u64* r, const u64* a) const {
    if constexpr (kHasModInv<N>) {
      u64 t[N];
      modinv<N>(t, a, divsteps);
      mul(r, t, r3);
      return;
    }
    inv_fermat(r, a);
  }

  // r = a^(m-2) (m public, prime): the sliding windows of pow_public.
  void inv_fermat(u64* r, const u64* a) const {
    u64 e[N];
    std::memcpy(e, m, sizeof e);
    // m - 2: m is odd and greater than 2, so only the low limb can borrow once.
    u128 x = static_cast<u128>(e[0]) - 2;
    e[0] = static_cast<u64>(x);
    u64 borrow = static_cast<u64>(x >> 64) & 1;
    for (size_t j = 1; j < N; ++j) {
      x = static_cast<u128>(e[j]) - borrow;
      e[j] = static_cast<u64>(x);
      borrow = static_cast<u64>(x >> 64) & 1;
    }
    pow_public(r, a, e);
  }

  // Products by the P-521 prime's form (on) or by the general reduction
  // (off, a test seam): the same results either way.
  void use_special_form(bool on) {
    if constexpr (N == 9) p521 = on && std::memcmp(m, kP521, sizeof kP521) == 0;
  }

  // Sets up the constants for an odd modulus given as N limbs.
  void init(const u64* mod) {
    if constexpr (N == 4) p256 = std::memcmp(mod, kP256, sizeof kP256) == 0;
    std::memcpy(m, mod, sizeof m);
    use_special_form(true);
    adx = (N == 4 || p521) && cpu_has_adx();
    // Newton iteration for m^-1 mod 2^64.
    u64 inv = mod[0];
    for (int i = 0; i < 6; ++i) inv *= 2 - mod[0] * inv;
    minv = 0 - inv;
    // R mod m and R^2 mod m by doubling 1 (public values; speed is irrelevant).
    u64 v[N] = {1};
    for (size_t i = 0; i < 64 * N; ++i) add(v, v, v);
    std::memcpy(one, v, sizeof v);
    for (size_t i = 0; i < 64 * N; ++i) add(v, v, v);
    std::memcpy(r2, v, sizeof v);
    mul(r3, r2, r2);
    if constexpr (kHasModInv<N>) divsteps.init(mod);
  }
};

template <size_t N>
inline u64 fe_is_zero_mask(const u64* a) {
  u64 acc = 0;
  for (size_t j = 0; j < N; ++j) acc |= a[j];
  return ct::is_zero<u64>(acc);
}
template <size_t N>
inline u64 fe_eq_mask(const u64* a, const u64* b) {
  u64 acc = 0;
  for (size_t j = 0; j < N; ++j) acc |= a[j] ^ b[j];
  return ct::is_zero<u64>(acc);
}
// r = mask ? a : b, by masks.
template <size_t N>
inline void fe_select(u64* r, u64 mask, const u64* a, const u64* b) {
  for (size_t j = 0; j < N; ++j) r[j] = (a[j] & mask) | (b[j] & ~mask);
}

// Big-endian bytes (len <= 8N) to limbs and back.
template <size_t N>
inline void fe_from_bytes(u64* r, const uint8_t* in, size_t len) {
  for (size_t j = 0; j < N; ++j) r[j] = 0;
  for (size_t i = 0; i < len; ++i) {
    const size_t pos = len - 1 - i;  // byte significance
    r[pos / 8] |= static_cast<u64>(in[i]) << (8 * (pos % 8));
  }
}
template <size_t N>
inline void fe_to_bytes(uint8_t* out, size_t len, const u64* a) {
  for (size_t i = 0; i < len; ++i) {
    const size_t pos = len - 1 - i;
    out[i] = pos / 8 < N ? static_cast<uint8_t>(a[pos / 8] >> (8 * (pos % 8))) : 0;
  }
}
// Constant-time a < b over N limbs: 1 or 0.
template <size_t N>
inline u64 fe_lt(const u64* a, const u64* b) {
  u64 borrow = 0;
  for (size_t j = 0; j < N; ++j) {
    u128 x = static_cast<u128>(a[j]) - b[j] - borrow;
    borrow = static_cast<u64>(x >> 64) & 1;
  }
  return borrow;
}

}  // namespace quarzel::ec
