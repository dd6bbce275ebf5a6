// mul_window_ct on P-256 with the BMI2/ADX kernels of field_p256_adx.h: the
// same windows, table, formulas and masks as the template in scalar_mul.h,
// with every field operation inlined (no call, no choice of path per
// product). Chosen by mul_window_ct when the field runs on BMI2/ADX; the
// template is the reference the tests hold it to.
#include "ec/field_p256_adx.h"
#include "ec/scalar_mul.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace quarzel::ec {

#if defined(__x86_64__)

namespace {

using P = ecpbn_proj_t<4>;

// The doubling and the addition are calls of their own: each keeps the same
// registers and code whatever the loop around it (inlined, their code shifted
// with every change of the caller, by up to 7% of the time).

// The a = -3 doubling of ecpbn_zdn_proj_double (dbl-2001-b). r may share
// p's storage.
__attribute__((noinline, target("bmi2,adx"))) void ecpbn_zdn_proj_double_p256(P& r, const P& p) {
  // Ordered so that the chain through Z1^2, M and M^2 starts first and the
  // independent products fill the gaps between its steps. T - X3 is taken
  // as 3T - M^2, beside X3 = M^2 - 2T rather than after it.
  u64 s[4], zz[4], m[4], t[4], u[4], yz[4], t2[4];
  p256x_sqr(zz, p.z);
  p256x_add(s, p.y, p.y);
  p256x_add(m, p.x, zz);
  p256x_sub(zz, p.x, zz);
  p256x_sqr(s, s);
  p256x_mul(m, m, zz);
  p256x_mul(t, s, p.x);
  p256x_add(u, m, m);
  p256x_add(m, m, u);
  p256x_add(t2, t, t);
  p256x_add(t, t2, t);
  p256x_sqr(u, m);
  p256x_mul(yz, p.y, p.z);
  p256x_sqr(s, s);
  p256x_sub(r.x, u, t2);
  p256x_sub(t, t, u);
  p256x_half(s, s);
  p256x_add(r.z, yz, yz);
  p256x_mul(t, t, m);
  p256x_sub(r.y, t, s);
}

// ecpbn_zdn_proj_add (add-1998-cmo-2) with its masks for an operand at
// infinity and, when asked, for equal finite operands. r may share storage
// with either operand.
__attribute__((noinline, target("bmi2,adx"))) void ecpbn_zdn_proj_add_p256(P& r, const P& p1, const P& p2, u64* same) {
  u64 z1z1[4], z2z2[4], u1[4], u2[4], s1[4], s2[4], h[4], rr[4], t[4];
  P sum;
  p256x_sqr(z1z1, p1.z);
  p256x_sqr(z2z2, p2.z);
  p256x_mul(u1, p1.x, z2z2);
  p256x_mul(u2, p2.x, z1z1);
  p256x_mul(s1, p1.y, p2.z);
  p256x_mul(s1, s1, z2z2);
  p256x_mul(s2, p2.y, p1.z);
  p256x_mul(s2, s2, z1z1);
  p256x_sub(h, u2, u1);
  p256x_sub(rr, s2, s1);
  if (same != nullptr) *same = fe_is_zero_mask<4>(h) & fe_is_zero_mask<4>(rr);
  p256x_mul(sum.z, p1.z, p2.z);
  p256x_mul(sum.z, sum.z, h);
  p256x_sqr(t, h);
  p256x_mul(u1, u1, t);
  p256x_mul(h, h, t);
  p256x_sqr(sum.x, rr);
  p256x_sub(sum.x, sum.x, h);
  p256x_sub(sum.x, sum.x, u1);
  p256x_sub(sum.x, sum.x, u1);
  p256x_sub(t, u1, sum.x);
  p256x_mul(t, rr, t);
  p256x_mul(s1, s1, h);
  p256x_sub(sum.y, t, s1);
  const u64 z1_zero = fe_is_zero_mask<4>(p1.z);
  const u64 z2_zero = fe_is_zero_mask<4>(p2.z);
  P tmp;
  ecpbn_zdn_proj_select<4>(tmp, z2_zero, p1, sum);
  ecpbn_zdn_proj_select<4>(r, z1_zero, p2, tmp);
  if (same != nullptr) *same &= ~z1_zero & ~z2_zero;
}

// r = p1 + p2 for an affine p2 (Z2 = 1 in Montgomery form, never at
// infinity) and p1 != +-p2 (madd-2004-hmv): 8M + 3S against 12M + 4S. Only
// the table uses it: p1 = (i-1) P and p2 = P, distinct multiples of a point
// of order n > 16. p1 at infinity gives p2, by mask. r may share p1's
// storage.
QZ_EC_INLINE void ecpbn_zdn_proj_add_affine_p256(P& r, const P& p1, const P& p2) {
  u64 z1z1[4], u2[4], s2[4], h[4], rr[4], hh[4], hhh[4], v[4];
  P sum;
  p256x_sqr(z1z1, p1.z);
  p256x_mul(u2, p2.x, z1z1);
  p256x_mul(s2, p2.y, p1.z);
  p256x_mul(s2, s2, z1z1);
  p256x_sub(h, u2, p1.x);
  p256x_sub(rr, s2, p1.y);
  p256x_sqr(hh, h);
  p256x_mul(hhh, h, hh);
  p256x_mul(v, p1.x, hh);
  p256x_mul(sum.z, p1.z, h);
  p256x_sqr(sum.x, rr);
  p256x_sub(sum.x, sum.x, hhh);
  p256x_sub(sum.x, sum.x, v);
  p256x_sub(sum.x, sum.x, v);
  p256x_sub(v, v, sum.x);
  p256x_mul(v, rr, v);
  p256x_mul(hhh, p1.y, hhh);
  p256x_sub(sum.y, v, hhh);
  ecpbn_zdn_proj_select<4>(r, fe_is_zero_mask<4>(p1.z), p2, sum);
}

// sel = table[idx], reading every entry under a mask, 16 bytes at a time.
QZ_EC_INLINE void scan_p256(P& sel, const P* table, size_t count, u64 idx) {
  static_assert(sizeof(P) == 96, "three coordinates of four limbs");
  __m128i acc[6];
  for (auto& v : acc) v = _mm_setzero_si128();
  for (size_t i = 0; i < count; ++i) {
    const __m128i m = _mm_set1_epi64x(static_cast<long long>(ct::eq<u64>(static_cast<u64>(i), idx)));
    const auto* e = reinterpret_cast<const __m128i*>(&table[i]);
    for (int j = 0; j < 6; ++j) acc[j] = _mm_or_si128(acc[j], _mm_and_si128(_mm_loadu_si128(e + j), m));
  }
  auto* out = reinterpret_cast<__m128i*>(&sel);
  for (int j = 0; j < 6; ++j) _mm_storeu_si128(out + j, acc[j]);
}

}  // namespace

__attribute__((target("bmi2,adx"))) void mul_window_ct_p256_adx(const Mont<4>& fp, P& r, const P& p, const u64* k,
                                                                size_t limbs, size_t kbits, size_t nbits,
                                                                P* table) {
  ecpbn_zdn_proj_set_infinity<4>(fp, table[0]);
  table[1] = p;
  for (size_t i = 2; i <= kBoothEntries; ++i) {
    if (i % 2 == 0)
      ecpbn_zdn_proj_double_p256(table[i], table[i / 2]);
    else
      ecpbn_zdn_proj_add_affine_p256(table[i], table[i - 1], p);
  }
  const size_t digits = kbits / kBoothBits + 1;
  const u64 zero[4] = {};
  u64 neg_y[4];
  P sel, twice;
  ecpbn_zdn_proj_set_infinity<4>(fp, r);
  for (size_t w = digits; w-- > 0;) {
    if (w + 1 < digits)
      for (unsigned d = 0; d < kBoothBits; ++d) ecpbn_zdn_proj_double_p256(r, r);
    u64 neg = 0;
    const u64 idx = booth_digit(k, limbs, w, kBoothBits, &neg);
    scan_p256(sel, table, kBoothEntries + 1, idx);
    p256x_sub(neg_y, zero, sel.y);
    fe_select<4>(sel.y, neg, neg_y, sel.y);
    // The bounds of mul_window_ct: only the low digits can meet their own
    // addend (public positions).
    if (kBoothBits * w + nbits < kbits + 2) {
      u64 same = 0;
      ecpbn_zdn_proj_double_p256(twice, r);
      ecpbn_zdn_proj_add_p256(r, r, sel, &same);
      ecpbn_zdn_proj_select<4>(r, same, twice, r);
    } else {
      ecpbn_zdn_proj_add_p256(r, r, sel, nullptr);
    }
  }
  secure_wipe(&sel, sizeof sel);
  secure_wipe(&twice, sizeof twice);
  secure_wipe(neg_y, sizeof neg_y);
}

#else

void mul_window_ct_p256_adx(const Mont<4>&, ecpbn_proj_t<4>&, const ecpbn_proj_t<4>&, const u64*, size_t, size_t,
                            size_t, ecpbn_proj_t<4>*) {}

#endif

}  // namespace quarzel::ec
