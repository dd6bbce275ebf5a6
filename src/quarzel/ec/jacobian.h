// Jacobian point formulas over a Montgomery field: x = X/Z^2, y = Y/Z^3, and
// the point at infinity (1, 1, 0). Doubling is dbl-2007-bl and addition
// add-1998-cmo-2 of the Explicit-Formulas Database, both for general a. The
// curve coefficients a and b are in Montgomery form. Nothing branches on
// coordinates: the infinity cases of the addition are chosen by masks.
#pragma once

#include <cstring>

#include "ec/field.h"

namespace quarzel::ec {

template <size_t N>
struct ecpbn_proj_t {
  u64 x[N], y[N], z[N];
};

// r = mask ? a : b.
template <size_t N>
inline void ecpbn_zdn_proj_select(ecpbn_proj_t<N>& r, u64 mask, const ecpbn_proj_t<N>& a, const ecpbn_proj_t<N>& b) {
  fe_select<N>(r.x, mask, a.x, b.x);
  fe_select<N>(r.y, mask, a.y, b.y);
  fe_select<N>(r.z, mask, a.z, b.z);
}

template <size_t N>
inline void ecpbn_zdn_proj_set_infinity(const Mont<N>& fp, ecpbn_proj_t<N>& r) {
  std::memcpy(r.x, fp.one, sizeof r.x);
  std::memcpy(r.y, fp.one, sizeof r.y);
  std::memset(r.z, 0, sizeof r.z);
}

// dbl-2007-bl: XX = X1^2, YY = Y1^2, YYYY = YY^2, ZZ = Z1^2,
// S = 2((X1+YY)^2 - XX - YYYY), M = 3XX + a ZZ^2, X3 = M^2 - 2S,
// Z3 = (Y1+Z1)^2 - YY - ZZ, Y3 = M(S - X3) - 8 YYYY. Z1 = 0 gives Z3 = 0.
//
// With a null a the curve has a = -3, and dbl-2001-b applies, in an order
// that needs few additions: S = (2 Y1)^2 = 4 Y1^2, Z3 = 2 Y1 Z1,
// M = 3 (X1 - Z1^2)(X1 + Z1^2), T = S X1, X3 = M^2 - 2T,
// Y3 = M (T - X3) - S^2 / 2 (which is 8 Y1^4).
template <size_t N>
void ecpbn_zdn_proj_double(const Mont<N>& fp, const u64* a, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p);

// dbl-2001-b as above on P-521 by its prime's form: the sums and
// differences that only feed a product stay unreduced (field_p521.h), the
// halving and the doublings are rotations. Outputs fully reduced.
inline void ecpbn_zdn_proj_double_p521(const Mont<9>& fp, ecpbn_proj_t<9>& r, const ecpbn_proj_t<9>& p) {
  u64 s[9], zz[9], m[9], t[9], u[9];
  p521_dbl(s, p.y);
  fp.sqr(zz, p.z);
  fp.mul(t, p.y, p.z);
  p521_dbl(r.z, t);  // r may share p's storage: Y1 and Z1 are read no more
  fp.sqr(s, s);
  p521_add_lazy(m, p.x, zz);
  p521_sub_lazy(zz, p.x, zz);
  fp.mul(m, m, zz);
  p521_dbl(t, m);
  p521_add_lazy(m, m, t);  // 3M, below 2^522
  fp.mul(t, s, p.x);  // the last read of X1
  fp.sqr(s, s);
  p521_half(s, s);
  fp.sqr(u, m);
  p521_dbl(zz, t);
  p521_sub(r.x, u, zz);
  p521_sub_lazy(t, t, r.x);
  fp.mul(t, t, m);
  p521_sub(r.y, t, s);
}

template <size_t N>
void ecpbn_zdn_proj_double(const Mont<N>& fp, const u64* a, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p) {
  if constexpr (N == 9) {
    if (a == nullptr && fp.p521) return ecpbn_zdn_proj_double_p521(fp, r, p);
  }
  if (a == nullptr) {
    u64 s[N], zz[N], m[N], t[N], u[N];
    fp.dbl(s, p.y);
    fp.sqr(zz, p.z);
    fp.mul(t, p.y, p.z);
    fp.dbl(r.z, t);  // r may share p's storage: Y1 and Z1 are read no more
    fp.sqr(s, s);
    fp.add(m, p.x, zz);
    fp.sub(zz, p.x, zz);
    fp.mul(m, m, zz);
    fp.dbl(t, m);
    fp.add(m, m, t);
    fp.mul(t, s, p.x);  // the last read of X1
    fp.sqr(s, s);
    fp.half(s, s);
    fp.sqr(u, m);
    fp.sub(u, u, t);
    fp.sub(r.x, u, t);
    fp.sub(t, t, r.x);
    fp.mul(t, t, m);
    fp.sub(r.y, t, s);
    return;
  }
  u64 xx[N], yy[N], yyyy[N], zz[N], s[N], m[N], t[N];
  fp.sqr(xx, p.x);
  fp.sqr(yy, p.y);
  fp.sqr(yyyy, yy);
  fp.sqr(zz, p.z);
  fp.add(t, p.x, yy);
  fp.sqr(t, t);
  fp.sub(t, t, xx);
  fp.sub(t, t, yyyy);
  fp.dbl(s, t);
  fp.sqr(t, zz);
  fp.mul(t, t, a);
  fp.dbl(m, xx);
  fp.add(m, m, xx);
  fp.add(m, m, t);
  // Z3 first: it reads Y1 and Z1, which r may share.
  fp.add(t, p.y, p.z);
  fp.sqr(t, t);
  fp.sub(t, t, yy);
  fp.sub(r.z, t, zz);
  fp.sqr(t, m);
  fp.sub(t, t, s);
  fp.sub(r.x, t, s);
  fp.sub(t, s, r.x);
  fp.mul(t, m, t);
  fp.dbl(yyyy, yyyy);
  fp.dbl(yyyy, yyyy);
  fp.dbl(yyyy, yyyy);
  fp.sub(r.y, t, yyyy);
}

// add-1998-cmo-2: U1 = X1 Z2^2, U2 = X2 Z1^2, S1 = Y1 Z2^3, S2 = Y2 Z1^3,
// H = U2 - U1, r = S2 - S1, Z3 = Z1 Z2 H, X3 = r^2 - H^3 - 2 U1 H^2,
// Y3 = r (U1 H^2 - X3) - S1 H^3. An operand at infinity yields the other
// operand, chosen by masks. r may share storage with either operand.
template <size_t N>
void ecpbn_zdn_proj_add(const Mont<N>& fp, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p1, const ecpbn_proj_t<N>& p2,
                        u64* same = nullptr) {
  u64 z1z1[N], z2z2[N], u1[N], u2[N], s1[N], s2[N], h[N], rr[N], t[N];
  ecpbn_proj_t<N> sum;
  fp.sqr(z1z1, p1.z);
  fp.sqr(z2z2, p2.z);
  fp.mul(u1, p1.x, z2z2);
  fp.mul(u2, p2.x, z1z1);
  fp.mul(s1, p1.y, p2.z);
  fp.mul(s1, s1, z2z2);
  fp.mul(s2, p2.y, p1.z);
  fp.mul(s2, s2, z1z1);
  fp.sub(h, u2, u1);
  fp.sub(rr, s2, s1);
  // Equal finite operands give H = r = 0 (and a wrong sum): reported by mask.
  if (same != nullptr) *same = fe_is_zero_mask<N>(h) & fe_is_zero_mask<N>(rr);
  fp.mul(sum.z, p1.z, p2.z);
  fp.mul(sum.z, sum.z, h);
  fp.sqr(t, h);           // H^2
  fp.mul(u1, u1, t);      // U1 H^2
  fp.mul(h, h, t);        // H^3
  fp.sqr(sum.x, rr);
  fp.sub(sum.x, sum.x, h);
  fp.sub(sum.x, sum.x, u1);
  fp.sub(sum.x, sum.x, u1);
  fp.sub(t, u1, sum.x);
  fp.mul(t, rr, t);
  fp.mul(s1, s1, h);
  fp.sub(sum.y, t, s1);
  const u64 z1_zero = fe_is_zero_mask<N>(p1.z);
  const u64 z2_zero = fe_is_zero_mask<N>(p2.z);
  ecpbn_proj_t<N> tmp;
  ecpbn_zdn_proj_select(tmp, z2_zero, p1, sum);
  ecpbn_zdn_proj_select(r, z1_zero, p2, tmp);
  if (same != nullptr) *same &= ~z1_zero & ~z2_zero;
}

// p1 + p2 for any two points: the sum, or the double of p1 chosen by mask
// when they are the same point. Constant time; r may share storage with p1.
template <size_t N>
void ecpbn_zdn_proj_add_complete(const Mont<N>& fp, const u64* a, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p1,
                                 const ecpbn_proj_t<N>& p2) {
  ecpbn_proj_t<N> twice;
  ecpbn_zdn_proj_double<N>(fp, a, twice, p1);
  u64 same = 0;
  ecpbn_zdn_proj_add<N>(fp, r, p1, p2, &same);
  ecpbn_zdn_proj_select(r, same, twice, r);
}

// Rescaling: (l^2 X, l^3 Y, l Z) for a non-zero l (Montgomery form), the
// same affine point under another Z. r may share p's storage.
template <size_t N>
void ecpbn_zdn_proj_rand_proj(const Mont<N>& fp, const u64* l, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p) {
  u64 ll[N];
  fp.sqr(ll, l);
  fp.mul(r.x, p.x, ll);
  fp.mul(r.y, p.y, l);
  fp.mul(r.y, r.y, ll);
  fp.mul(r.z, p.z, l);
}

// Y^2 == X^3 + a X Z^4 + b Z^6; the point at infinity (1, 1, 0) passes.
template <size_t N>
bool ecpbn_zdn_proj_on_curve(const Mont<N>& fp, const u64* a, const u64* b, const ecpbn_proj_t<N>& p) {
  u64 t[N], u[N], v[N];
  fp.sqr(t, p.z);
  fp.sqr(u, t);
  fp.mul(t, b, t);
  fp.mul(v, a, p.x);
  fp.add(t, t, v);
  fp.mul(t, t, u);
  fp.sqr(u, p.x);
  fp.mul(u, u, p.x);
  fp.add(t, t, u);
  fp.sqr(u, p.y);
  return fe_eq_mask<N>(t, u) != 0;
}

// Affine (X/Z^2, Y/Z^3), out of Montgomery form, for Z != 0.
template <size_t N>
void ecpbn_zdn_proj_normalize(const Mont<N>& fp, u64* x, u64* y, const ecpbn_proj_t<N>& p) {
  u64 zi[N], zi2[N];
  fp.inv_prime(zi, p.z);
  fp.sqr(zi2, zi);
  fp.mul(x, p.x, zi2);
  fp.mul(y, p.y, zi);
  fp.mul(y, y, zi2);
  fp.from_mont(x, x);
  fp.from_mont(y, y);
}

}  // namespace quarzel::ec
