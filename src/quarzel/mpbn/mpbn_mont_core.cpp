// Montgomery product and squaring on 64-bit limbs (least significant first).
// The external word arrays are 32-bit; processing word pairs as one limb
// gives the same results with a quarter of the multiplications. No branch
// depends on the operands: the final subtraction is selected by a mask.
#include <atomic>

#include "mpbn/mpbn_internal.h"
#include "quarzel/cpu.h"
#include "seams.h"

namespace quarzel::mpbn_detail {
namespace {

template <size_t N>
struct Fixed {
  constexpr operator size_t() const { return N; }
};

// (hi, lo) = a*b + c + d, which cannot overflow 128 bits.
inline u64 mac(u64 a, u64 b, u64 c, u64 d, u64& hi) {
  const u128 p = static_cast<u128>(a) * b + c + d;
  hi = static_cast<u64>(p >> 64);
  return static_cast<u64>(p);
}

// Carry out of the low limb of t0 + q*n0, whose low limb the reduction
// multiple q makes zero: all that is left of that limb.
__attribute__((always_inline)) inline u64 mpbn_find_carry(u64 t0, u64 q, u64 n0) {
  u64 c;
  mac(q, n0, t0, 0, c);
  return c;
}

// The extension limbs t[L], t[L+1] move down one place, the carry c of the
// limbs below added to them.
template <class Len>
__attribute__((always_inline)) inline void mpbn_shift_right_word_add_carry(Len len, u64* t, u64 c) {
  const size_t L = len;
  const u128 s = static_cast<u128>(t[L]) + c;
  t[L - 1] = static_cast<u64>(s);
  t[L] = t[L + 1] + static_cast<u64>(s >> 64);
}

// One reduction step: t (L+2 limbs) = (t + q*n) / 2^64, the division being
// a move down by one limb as the product is added.
template <class Len>
__attribute__((always_inline)) inline void mpbn_add_prod_shift(Len len, u64* t, u64 q, const u64* n) {
  const size_t L = len;
  u64 c = mpbn_find_carry(t[0], q, n[0]);
#pragma GCC unroll 16
  for (size_t j = 1; j < L; ++j) t[j - 1] = mac(q, n[j], t[j], c, c);
  mpbn_shift_right_word_add_carry(len, t, c);
}

// Coarsely integrated operand scanning (CIOS): per limb of a, add a_i*b to
// the accumulator, then the reduction multiple q*n, shifting down a limb.
template <class Len>
inline void mont_mul_impl(Len len, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* t) {
  const size_t L = len;
  for (size_t j = 0; j <= L + 1; ++j) t[j] = 0;
  for (size_t i = 0; i < L; ++i) {
    const u64 ai = a[i];
    u64 c = 0;
#pragma GCC unroll 16
    for (size_t j = 0; j < L; ++j) t[j] = mac(ai, b[j], t[j], c, c);
    const u128 s = static_cast<u128>(t[L]) + c;
    t[L] = static_cast<u64>(s);
    t[L + 1] = static_cast<u64>(s >> 64);
    mpbn_add_prod_shift(len, t, t[0] * ninv, n);
  }
  mont_final_subtract(len, r, t, n);
}

// Square by the symmetric schoolbook (each cross product once, doubled),
// then Montgomery reduction of the 2L-limb square. t: 2L+2 limbs.
template <class Len>
inline void mont_sqr_impl(Len len, u64* r, const u64* a, const u64* n, u64 ninv, u64* t) {
  const size_t L = len;
  for (size_t j = 0; j < 2 * L + 2; ++j) t[j] = 0;
  // Cross products a_i*a_j, i < j.
  for (size_t i = 0; i + 1 < L; ++i) {
    const u64 ai = a[i];
    u64 c = 0;
    for (size_t j = i + 1; j < L; ++j) {
      const u128 x = static_cast<u128>(ai) * a[j] + t[i + j] + c;
      t[i + j] = static_cast<u64>(x);
      c = static_cast<u64>(x >> 64);
    }
    t[i + L] = c;
  }
  // Double them and add the squares a_i^2.
  u64 top = 0;
  for (size_t k = 0; k < 2 * L; ++k) {
    const u64 v = t[k];
    t[k] = (v << 1) | top;
    top = v >> 63;
  }
  u64 c = 0;
  for (size_t i = 0; i < L; ++i) {
    const u128 sq = static_cast<u128>(a[i]) * a[i];
    u128 x = static_cast<u128>(t[2 * i]) + static_cast<u64>(sq) + c;
    t[2 * i] = static_cast<u64>(x);
    x = static_cast<u128>(t[2 * i + 1]) + static_cast<u64>(sq >> 64) + static_cast<u64>(x >> 64);
    t[2 * i + 1] = static_cast<u64>(x);
    c = static_cast<u64>(x >> 64);
  }
  // Reduction: clear one limb per step; carries run into t[i+L..].
  u64 hi = 0;  // carry out of the top limb of the previous steps
  for (size_t i = 0; i < L; ++i) {
    const u64 q = t[i] * ninv;
    u64 cc = 0;
#pragma GCC unroll 16
    for (size_t j = 0; j < L; ++j) {
      const u128 x = static_cast<u128>(q) * n[j] + t[i + j] + cc;
      t[i + j] = static_cast<u64>(x);
      cc = static_cast<u64>(x >> 64);
    }
    const u128 s = static_cast<u128>(t[i + L]) + cc + hi;
    t[i + L] = static_cast<u64>(s);
    hi = static_cast<u64>(s >> 64);
  }
  t[2 * L] = hi;
  mont_final_subtract(len, r, t + L, n);
}

template <size_t N>
void mul_fixed(size_t, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* t) {
  mont_mul_impl(Fixed<N>{}, r, a, b, n, ninv, t);
}
template <size_t N>
void sqr_fixed(size_t, u64* r, const u64* a, const u64* n, u64 ninv, u64* t) {
  mont_sqr_impl(Fixed<N>{}, r, a, n, ninv, t);
}
void mul_any(size_t L, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* t) {
  mont_mul_impl(L, r, a, b, n, ninv, t);
}
void sqr_any(size_t L, u64* r, const u64* a, const u64* n, u64 ninv, u64* t) {
  mont_sqr_impl(L, r, a, n, ninv, t);
}

// Kernels by limb count, one table per path.
struct SizedKernel {
  size_t limbs;
  MontKernel k;
};
constexpr SizedKernel kPortable[] = {
    {4, {mul_fixed<4>, sqr_fixed<4>, "portable4"}},     {8, {mul_fixed<8>, sqr_fixed<8>, "portable8"}},
    {16, {mul_fixed<16>, sqr_fixed<16>, "portable16"}}, {24, {mul_fixed<24>, sqr_fixed<24>, "portable24"}},
    {32, {mul_fixed<32>, sqr_fixed<32>, "portable32"}}, {48, {mul_fixed<48>, sqr_fixed<48>, "portable48"}},
    {64, {mul_fixed<64>, sqr_fixed<64>, "portable64"}},
};
constexpr MontKernel kPortableAny{mul_any, sqr_any, "portable"};
#if defined(__x86_64__)
constexpr SizedKernel kAdx[] = {
    {16, {mont_mul_adx_fixed<16>, mont_sqr_adx_fixed<16>, "adx16"}},
    {24, {mont_mul_adx_fixed<24>, mont_sqr_adx_fixed<24>, "adx24"}},
    {32, {mont_mul_adx_fixed<32>, mont_sqr_adx_fixed<32>, "adx32"}},
    {48, {mont_mul_adx_fixed<48>, mont_sqr_adx_fixed<48>, "adx48"}},
    {64, {mont_mul_adx_fixed<64>, mont_sqr_adx_fixed<64>, "adx64"}},
};
constexpr MontKernel kAdxAny{mont_mul_limbs_adx, mont_sqr_limbs_adx, "adx"};
#endif

template <size_t N>
MontKernel find(const SizedKernel (&table)[N], size_t L, const MontKernel& any) {
  for (const SizedKernel& s : table) {
    if (s.limbs == L) return s.k;
  }
  return any;
}

// The BMI2/ADX path, chosen from the CPU's features (read once, at the first
// use); a test can force the portable path.
std::atomic<bool>& g_force_portable = seams::mpbn_portable;

bool cpu_has_adx() {
#if defined(__x86_64__)
  static const bool has = cpu_features().bmi2 && cpu_features().adx;
  return has;
#else
  return false;
#endif
}

inline bool use_adx() { return cpu_has_adx() && !g_force_portable.load(std::memory_order_relaxed); }

}  // namespace

MontKernel mont_kernel(size_t L) {
#if defined(__x86_64__)
  if (use_adx()) return find(kAdx, L, kAdxAny);
#endif
  return find(kPortable, L, kPortableAny);
}

void mont_mul_limbs(size_t L, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* t) {
  mont_kernel(L).mul(L, r, a, b, n, ninv, t);
}

void mont_sqr_limbs(size_t L, u64* r, const u64* a, const u64* n, u64 ninv, u64* t) {
  mont_kernel(L).sqr(L, r, a, n, ninv, t);
}

}  // namespace quarzel::mpbn_detail

namespace quarzel {

bool mpbn_mont_uses_adx() { return mpbn_detail::use_adx(); }

const char* mpbn_mont_kernel_name(size_t limbs) { return mpbn_detail::mont_kernel(limbs).name; }

}  // namespace quarzel
