// mul_window_ct on P-521 with the BMI2/ADX kernels of field_p521_adx.cpp,
// called straight (no choice of path per product). The same signed 5-bit
// windows as the template in scalar_mul.h, over a table made affine: its
// sixteen multiples 1P .. 16P of the base get Z = 1 by one inversion
// (Montgomery's trick), and each window then costs a mixed addition (8M + 3S)
// instead of a general one (12M + 4S). The template is the reference the
// tests hold it to.
//
// Constant time as the template: the digits are masks, every table entry is
// read under a mask, and which formulas run depends on public positions only.
//
// As in engine.cpp: vectorised, the sums and rotations would load two limbs
// at once just after the kernels stored them one by one, and wait for a
// failed store forwarding on every such load.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-vectorize")
#endif

#include <cstring>

#include "ec/scalar_mul.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace quarzel::ec {

#if defined(__x86_64__)

namespace {

using P = ecpbn_proj_t<9>;
using A = Aff<9>;

QZ_EC_INLINE void mul(u64 r[9], const u64 a[9], const u64 b[9]) { p521_mul_adx(r, a, b); }
QZ_EC_INLINE void sqr(u64 r[9], const u64 a[9]) { p521_sqr_adx(r, a); }

// The a = -3 doubling, dbl-2001-b in its 3M + 5S form: delta = Z1^2,
// gamma = Y1^2, beta = X1 gamma, alpha = 3 (X1 - delta)(X1 + delta),
// X3 = alpha^2 - 8 beta, Z3 = (Y1 + Z1)^2 - gamma - delta,
// Y3 = alpha (4 beta - X3) - 8 gamma^2. Here a square costs two thirds of a
// product, so the squares replace the product Y1 Z1 of the 4M + 4S form.
// The sums and differences that only feed a product stay unreduced, the
// multiples by 2^k are rotations. Ordered so that the chain through delta,
// alpha, alpha^2 and X3 starts first and the independent squares and
// products fill the gaps between its steps. r may share p's storage. A call
// of its own: the same code and registers wherever it is used.
__attribute__((noinline)) void ecpbn_zdn_proj_double_p521_adx(P& r, const P& p) {
  u64 delta[9], gamma[9], beta[9], alpha[9], t[9], u[9], yz[9], g4[9];
  sqr(delta, p.z);
  sqr(gamma, p.y);
  p521_add_lazy(t, p.x, delta);
  p521_sub_lazy(u, p.x, delta);
  mul(alpha, t, u);
  p521_add_lazy(yz, p.y, p.z);
  sqr(yz, yz);
  mul(beta, p.x, gamma);  // the last read of X1, Y1 and Z1
  p521_dbl(t, alpha);
  p521_add_lazy(alpha, alpha, t);  // 3 (X1^2 - delta^2), below 2^522
  sqr(t, alpha);
  sqr(g4, gamma);
  p521_sub(yz, yz, gamma);
  p521_sub(r.z, yz, delta);
  p521_shl(u, beta, 3);
  p521_sub(r.x, t, u);
  p521_shl(u, beta, 2);
  p521_sub_lazy(u, u, r.x);
  mul(t, alpha, u);
  p521_shl(g4, g4, 3);
  p521_sub(r.y, t, g4);
}

// r = p + (q.x, q.y, 1), madd-2004-hmv: Z1Z1 = Z1^2, U2 = X2 Z1Z1,
// S2 = Y2 Z1 Z1Z1, H = U2 - X1, rr = S2 - Y1, Z3 = Z1 H, HH = H^2,
// HHH = H HH, V = X1 HH, X3 = rr^2 - HHH - 2V, Y3 = rr (V - X3) - Y1 HHH.
// p at infinity yields q (one = 1 in Montgomery form), chosen by mask; p = -q
// yields Z3 = 0, infinity. p = q is outside the formula: `same` (when given)
// receives a mask of that case. r may share storage with p.
__attribute__((noinline)) void ecpbn_zdn_proj_add_affine_p521_adx(P& r, const P& p, const A& q, const u64* one,
                                                                  u64* same) {
  u64 z1z1[9], t[9], u2[9], s2[9], h[9], rr[9], hh[9], hhh[9], v[9];
  P sum;
  sqr(z1z1, p.z);
  mul(t, p.z, z1z1);
  mul(u2, q.x, z1z1);
  mul(s2, q.y, t);
  p521_sub(h, u2, p.x);
  p521_sub(rr, s2, p.y);
  if (same != nullptr) *same = fe_is_zero_mask<9>(h) & fe_is_zero_mask<9>(rr) & ~fe_is_zero_mask<9>(p.z);
  mul(sum.z, p.z, h);
  sqr(hh, h);
  mul(hhh, hh, h);
  mul(v, p.x, hh);
  sqr(t, rr);
  p521_sub(t, t, hhh);
  p521_dbl(u2, v);
  p521_sub(sum.x, t, u2);
  p521_sub_lazy(t, v, sum.x);
  mul(t, rr, t);
  mul(hhh, p.y, hhh);
  p521_sub(sum.y, t, hhh);
  P lifted;
  std::memcpy(lifted.x, q.x, sizeof lifted.x);
  std::memcpy(lifted.y, q.y, sizeof lifted.y);
  std::memcpy(lifted.z, one, sizeof lifted.z);
  ecpbn_zdn_proj_select<9>(r, fe_is_zero_mask<9>(p.z), lifted, sum);
}

// out[i] = the affine form of in[i], for n points with Z != 0: one
// inversion of the product of the Z, then two products per point back to
// each inverse (Montgomery's trick). No branch on the values.
void batch_to_affine(const Mont<9>& fp, A* out, const P* in, size_t n, u64 (*prefix)[9]) {
  std::memcpy(prefix[0], in[0].z, sizeof prefix[0]);
  for (size_t i = 1; i < n; ++i) mul(prefix[i], prefix[i - 1], in[i].z);
  u64 inv[9], zi[9], zi2[9];
  fp.inv_prime(inv, prefix[n - 1]);
  for (size_t i = n; i-- > 0;) {
    if (i > 0) {
      mul(zi, inv, prefix[i - 1]);
      mul(inv, inv, in[i].z);
    } else {
      std::memcpy(zi, inv, sizeof zi);
    }
    sqr(zi2, zi);
    mul(out[i].x, in[i].x, zi2);
    mul(out[i].y, in[i].y, zi2);
    mul(out[i].y, out[i].y, zi);
  }
}

// sel = table[idx - 1] for idx in 1..count, all zero for idx = 0: every
// entry read under a mask, 16 bytes at a time.
QZ_EC_INLINE void scan_p521(A& sel, const A* table, size_t count, u64 idx) {
  static_assert(sizeof(A) == 144, "two coordinates of nine limbs");
  __m128i acc[9];
  for (auto& v : acc) v = _mm_setzero_si128();
  for (size_t i = 0; i < count; ++i) {
    const __m128i m = _mm_set1_epi64x(static_cast<long long>(ct::eq<u64>(static_cast<u64>(i + 1), idx)));
    const auto* e = reinterpret_cast<const __m128i*>(&table[i]);
    for (int j = 0; j < 9; ++j) acc[j] = _mm_or_si128(acc[j], _mm_and_si128(_mm_loadu_si128(e + j), m));
  }
  auto* out = reinterpret_cast<__m128i*>(&sel);
  for (int j = 0; j < 9; ++j) _mm_storeu_si128(out + j, acc[j]);
}

}  // namespace

// The template's steps: from the top signed digit down, kBoothBits
// doublings and one addition of the multiple |d| P chosen under masks,
// negated by mask; a digit 0 keeps the sum by mask. The bounds of
// mul_window_ct tell where the sum can meet its own addend (public
// positions): there the addition also doubles, by mask.
void mul_window_ct_p521_adx(const Mont<9>& fp, P& r, const P& p, const u64* k, size_t limbs, size_t kbits,
                            size_t nbits, P* table) {
  // table[i - 1] = i P, Jacobian; P is affine (Z = 1), as the engine loads it.
  const A base = [&] {
    A b;
    std::memcpy(b.x, p.x, sizeof b.x);
    std::memcpy(b.y, p.y, sizeof b.y);
    return b;
  }();
  table[0] = p;
  for (size_t i = 2; i <= kBoothEntries; ++i) {
    if (i % 2 == 0)
      ecpbn_zdn_proj_double_p521_adx(table[i - 1], table[i / 2 - 1]);
    else
      ecpbn_zdn_proj_add_affine_p521_adx(table[i - 1], table[i - 2], base, fp.one, nullptr);
  }
  struct Work {
    A affine[kBoothEntries];
    u64 prefix[kBoothEntries][9];
    A sel;
    P sum, twice;
    u64 neg_y[9];
  } s;
  batch_to_affine(fp, s.affine, table, kBoothEntries, s.prefix);

  const size_t digits = kbits / kBoothBits + 1;
  const u64 zero[9] = {};
  ecpbn_zdn_proj_set_infinity<9>(fp, r);
  for (size_t w = digits; w-- > 0;) {
    if (w + 1 < digits)
      for (unsigned d = 0; d < kBoothBits; ++d) ecpbn_zdn_proj_double_p521_adx(r, r);
    u64 neg = 0;
    const u64 idx = booth_digit(k, limbs, w, kBoothBits, &neg);
    scan_p521(s.sel, s.affine, kBoothEntries, idx);
    p521_sub(s.neg_y, zero, s.sel.y);
    fe_select<9>(s.sel.y, neg, s.neg_y, s.sel.y);
    if (kBoothBits * w + nbits < kbits + 2) {
      u64 same = 0;
      ecpbn_zdn_proj_double_p521_adx(s.twice, r);
      ecpbn_zdn_proj_add_affine_p521_adx(s.sum, r, s.sel, fp.one, &same);
      ecpbn_zdn_proj_select<9>(s.sum, same, s.twice, s.sum);
    } else {
      ecpbn_zdn_proj_add_affine_p521_adx(s.sum, r, s.sel, fp.one, nullptr);
    }
    ecpbn_zdn_proj_select<9>(r, ct::is_zero<u64>(idx), r, s.sum);
  }
  secure_wipe(&s, sizeof s);
}

#else

void mul_window_ct_p521_adx(const Mont<9>&, ecpbn_proj_t<9>&, const ecpbn_proj_t<9>&, const u64*, size_t, size_t,
                            size_t, ecpbn_proj_t<9>*) {}

#endif

}  // namespace quarzel::ec
