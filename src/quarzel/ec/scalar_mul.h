// Scalar multiplication methods beside the ladder: a fixed-base table of
// multiples of the generator read with masked selection (secret scalars),
// and a variable-time double-scalar product for verification (public
// scalars and points only).
#pragma once

#include <cstring>
#include <memory>

#include "ec/jacobian.h"

namespace quarzel::ec {

// An affine point in Montgomery form (a table entry; never at infinity).
template <size_t N>
struct Aff {
  u64 x[N], y[N];
};

// madd-2007-bl: r = p + (q.x, q.y, 1). Z1Z1 = Z1^2, U2 = X2 Z1Z1,
// S2 = Y2 Z1 Z1Z1, H = U2 - X1, I = 4H^2, J = H I, rr = 2(S2 - Y1), V = X1 I,
// X3 = rr^2 - J - 2V, Y3 = rr(V - X3) - 2 Y1 J, Z3 = (Z1 + H)^2 - Z1Z1 - H^2.
// p at infinity yields q, chosen by mask. p == q is outside the formula:
// `same` (when given) receives a mask of that case. r may share storage with p.
template <size_t N>
void jac_add_affine(const Mont<N>& fp, Jac<N>& r, const Jac<N>& p, const Aff<N>& q, u64* same = nullptr) {
  u64 z1z1[N], u2[N], s2[N], h[N], hh[N], i[N], j[N], rr[N], v[N], t[N];
  Jac<N> sum;
  fp.sqr(z1z1, p.z);
  fp.mul(u2, q.x, z1z1);
  fp.mul(s2, q.y, p.z);
  fp.mul(s2, s2, z1z1);
  fp.sub(h, u2, p.x);
  fp.sqr(hh, h);
  fp.dbl(i, hh);
  fp.dbl(i, i);
  fp.mul(j, h, i);
  fp.sub(rr, s2, p.y);
  if (same != nullptr) *same = fe_is_zero_mask<N>(h) & fe_is_zero_mask<N>(rr) & ~fe_is_zero_mask<N>(p.z);
  fp.dbl(rr, rr);
  fp.mul(v, p.x, i);
  fp.sqr(sum.x, rr);
  fp.sub(sum.x, sum.x, j);
  fp.sub(sum.x, sum.x, v);
  fp.sub(sum.x, sum.x, v);
  fp.add(t, p.z, h);
  fp.sqr(t, t);
  fp.sub(t, t, z1z1);
  fp.sub(sum.z, t, hh);
  fp.sub(t, v, sum.x);
  fp.mul(t, rr, t);
  fp.mul(j, p.y, j);
  fp.dbl(j, j);
  fp.sub(sum.y, t, j);
  Jac<N> lifted;
  std::memcpy(lifted.x, q.x, sizeof lifted.x);
  std::memcpy(lifted.y, q.y, sizeof lifted.y);
  std::memcpy(lifted.z, fp.one, sizeof lifted.z);
  jac_select(r, fe_is_zero_mask<N>(p.z), lifted, sum);
}

// Affine form (Montgomery) of n Jacobian points with non-zero Z, with one
// inversion (Montgomery's trick). Public values only: used on multiples of
// the generator and of a public key.
template <size_t N>
void jac_batch_to_affine_vartime(const Mont<N>& fp, Aff<N>* out, const Jac<N>* in, size_t n, u64 (*prefix)[N]) {
  std::memcpy(prefix[0], in[0].z, sizeof prefix[0]);
  for (size_t i = 1; i < n; ++i) fp.mul(prefix[i], prefix[i - 1], in[i].z);
  u64 inv[N], zi[N], zi2[N];
  fp.inv_prime(inv, prefix[n - 1]);
  for (size_t i = n; i-- > 0;) {
    if (i > 0) {
      fp.mul(zi, inv, prefix[i - 1]);
      fp.mul(inv, inv, in[i].z);
    } else {
      std::memcpy(zi, inv, sizeof zi);
    }
    fp.sqr(zi2, zi);
    fp.mul(out[i].x, in[i].x, zi2);
    fp.mul(out[i].y, in[i].y, zi2);
    fp.mul(out[i].y, out[i].y, zi);
  }
}

// Multiples of the generator for windows of kWindowBits bits: entry
// (w, i) = (i + 1) 2^(kWindowBits w) G, i < kWindowEntries.
constexpr unsigned kWindowBits = 4;
constexpr size_t kWindowEntries = (size_t{1} << kWindowBits) - 1;

template <size_t N>
class BaseTable {
 public:
  // Tables for scalars of up to `bits` bits. G in Montgomery form.
  void build(const Mont<N>& fp, const u64* a, const Aff<N>& g, size_t bits) {
    windows_ = (bits + kWindowBits - 1) / kWindowBits;
    entries_.reset(new Aff<N>[windows_ * kWindowEntries]);
    Jac<N> row[kWindowEntries], base;
    u64 prefix[kWindowEntries][N];
    std::memcpy(base.x, g.x, sizeof base.x);
    std::memcpy(base.y, g.y, sizeof base.y);
    std::memcpy(base.z, fp.one, sizeof base.z);
    for (size_t w = 0; w < windows_; ++w) {
      row[0] = base;
      jac_double<N>(fp, a, row[1], base);
      for (size_t i = 2; i < kWindowEntries; ++i) jac_add<N>(fp, row[i], row[i - 1], base);
      jac_batch_to_affine_vartime<N>(fp, entries_.get() + w * kWindowEntries, row, kWindowEntries, prefix);
      for (unsigned d = 0; d < kWindowBits; ++d) jac_double<N>(fp, a, base, base);
    }
  }
  size_t windows() const { return windows_; }
  const Aff<N>* row(size_t w) const { return entries_.get() + w * kWindowEntries; }

 private:
  std::unique_ptr<Aff<N>[]> entries_;
  size_t windows_ = 0;
};

// Window w (kWindowBits bits) of a scalar of little-endian limbs.
inline u64 scalar_window(const u64* k, size_t limbs, size_t w) {
  const size_t pos = w * kWindowBits, limb = pos / 64, shift = pos % 64;
  u64 v = limb < limbs ? k[limb] >> shift : 0;
  if (shift + kWindowBits > 64 && limb + 1 < limbs) v |= k[limb + 1] << (64 - shift);
  return v & ((u64{1} << kWindowBits) - 1);
}

// r = k G for a secret k (limbs, at most windows() windows): one mixed
// addition per window of an entry chosen by reading the whole row under
// masks; window value 0 keeps the sum by mask. Before window w the sum is
// m G with m = k mod 2^(4w), and the entry idx 2^(4w) G: below n both are
// distinct integers, so the points differ. Only in the top windows, where
// 2^(4w + 4) > n (nbits), can they meet mod n; there the addition also
// computes the double and keeps it by mask when they do.
template <size_t N>
void mul_base_ct(const Mont<N>& fp, const u64* a, const BaseTable<N>& table, Jac<N>& r, const u64* k,
                 size_t limbs, size_t nbits) {
  jac_set_infinity<N>(fp, r);
  Aff<N> sel;
  Jac<N> sum, twice;
  for (size_t w = 0; w < table.windows(); ++w) {
    const u64 idx = scalar_window(k, limbs, w);
    std::memset(&sel, 0, sizeof sel);
    const Aff<N>* row = table.row(w);
    for (size_t i = 0; i < kWindowEntries; ++i) {
      const u64 m = ct::eq<u64>(static_cast<u64>(i + 1), idx);
      for (size_t j = 0; j < N; ++j) {
        sel.x[j] |= row[i].x[j] & m;
        sel.y[j] |= row[i].y[j] & m;
      }
    }
    if (kWindowBits * (w + 1) >= nbits) {
      u64 same = 0;
      jac_double<N>(fp, a, twice, r);
      jac_add_affine<N>(fp, sum, r, sel, &same);
      jac_select(sum, same, twice, sum);
    } else {
      jac_add_affine<N>(fp, sum, r, sel);
    }
    jac_select(r, ct::is_zero<u64>(idx), r, sum);
  }
  secure_wipe(&sel, sizeof sel);
  secure_wipe(&sum, sizeof sum);
  secure_wipe(&twice, sizeof twice);
}

// r = k P for a secret k (limbs, `windows` windows of kWindowBits bits) and
// a point P on the curve, of prime order n: from the top window down, four
// doublings and one addition of the multiple chosen by reading all sixteen
// (0P = infinity included) under masks. The running sum 16 m P equals the
// chosen idx P when 16 m = idx mod n, which small scalars reach after
// blinding (k = 2 idx): that addition doubles, by mask.
template <size_t N>
void mul_window_ct(const Mont<N>& fp, const u64* a, Jac<N>& r, const Jac<N>& p, const u64* k, size_t limbs,
                   size_t windows, Jac<N>* table /* kWindowEntries + 1 */) {
  jac_set_infinity<N>(fp, table[0]);
  table[1] = p;
  jac_double<N>(fp, a, table[2], p);
  for (size_t i = 3; i <= kWindowEntries; ++i) jac_add<N>(fp, table[i], table[i - 1], p);
  jac_set_infinity<N>(fp, r);
  Jac<N> sel;
  for (size_t w = windows; w-- > 0;) {
    for (unsigned d = 0; d < kWindowBits; ++d) jac_double<N>(fp, a, r, r);
    const u64 idx = scalar_window(k, limbs, w);
    std::memset(&sel, 0, sizeof sel);
    for (size_t i = 0; i <= kWindowEntries; ++i) {
      const u64 m = ct::eq<u64>(static_cast<u64>(i), idx);
      for (size_t j = 0; j < N; ++j) {
        sel.x[j] |= table[i].x[j] & m;
        sel.y[j] |= table[i].y[j] & m;
        sel.z[j] |= table[i].z[j] & m;
      }
    }
    jac_add_complete<N>(fp, a, r, r, sel);
  }
  secure_wipe(&sel, sizeof sel);
}

// Whether two Jacobian points with non-zero Z are the same point.
template <size_t N>
bool jac_equal_vartime(const Mont<N>& fp, const Jac<N>& p, const Jac<N>& q) {
  u64 z1z1[N], z2z2[N], a[N], b[N];
  fp.sqr(z1z1, p.z);
  fp.sqr(z2z2, q.z);
  fp.mul(a, p.x, z2z2);
  fp.mul(b, q.x, z1z1);
  if (fe_eq_mask<N>(a, b) == 0) return false;
  fp.mul(a, p.y, z2z2);
  fp.mul(a, a, q.z);
  fp.mul(b, q.y, z1z1);
  fp.mul(b, b, p.z);
  return fe_eq_mask<N>(a, b) != 0;
}

// r = u1 G + u2 Q for public scalars below n and a public point Q (Montgomery
// affine, on the curve): u1 G from the table, u2 Q by 4-bit windows over a
// table of 1Q .. 15Q, then one addition that doubles when the halves agree.
// Variable time: verification only.
template <size_t N>
void mul_dual_vartime(const Mont<N>& fp, const u64* a, const BaseTable<N>& table, Jac<N>& r, const u64* u1,
                      const u64* u2, const Aff<N>& q) {
  Jac<N> g_part, q_part;
  jac_set_infinity<N>(fp, g_part);
  for (size_t w = 0; w < table.windows(); ++w) {
    const u64 idx = scalar_window(u1, N, w);
    if (idx != 0) jac_add_affine<N>(fp, g_part, g_part, table.row(w)[idx - 1]);
  }
  Jac<N> multiples[kWindowEntries];
  std::memcpy(multiples[0].x, q.x, sizeof q.x);
  std::memcpy(multiples[0].y, q.y, sizeof q.y);
  std::memcpy(multiples[0].z, fp.one, sizeof multiples[0].z);
  jac_double<N>(fp, a, multiples[1], multiples[0]);
  for (size_t i = 2; i < kWindowEntries; ++i) jac_add<N>(fp, multiples[i], multiples[i - 1], multiples[0]);
  jac_set_infinity<N>(fp, q_part);
  const size_t windows = (64 * N + kWindowBits - 1) / kWindowBits;
  bool started = false;
  for (size_t w = windows; w-- > 0;) {
    if (started) {
      for (unsigned d = 0; d < kWindowBits; ++d) jac_double<N>(fp, a, q_part, q_part);
    }
    const u64 idx = scalar_window(u2, N, w);
    if (idx == 0) continue;
    // q_part is 16 m Q with m < u2 < n and idx < 16: never equal to idx Q.
    jac_add<N>(fp, q_part, q_part, multiples[idx - 1]);
    started = true;
  }
  const bool g_inf = fe_is_zero_mask<N>(g_part.z) != 0, q_inf = fe_is_zero_mask<N>(q_part.z) != 0;
  if (!g_inf && !q_inf && jac_equal_vartime<N>(fp, g_part, q_part)) {
    jac_double<N>(fp, a, r, g_part);
  } else {
    jac_add<N>(fp, r, g_part, q_part);
  }
}

}  // namespace quarzel::ec
