// Scalar multiplication methods beside the ladder: a fixed-base table of
// multiples of the generator read with masked selection (secret scalars),
// fixed windows over a variable base (secret scalars), and a variable-time
// double-scalar product for verification (public scalars and points only).
#pragma once

#include <cstring>
#include <memory>

#include "ec/jacobian.h"
#include "quarzel/port.h"

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
void ecpbn_zdn_proj_add_affine(const Mont<N>& fp, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p, const Aff<N>& q,
                               u64* same = nullptr) {
  u64 z1z1[N], u2[N], s2[N], h[N], hh[N], i[N], j[N], rr[N], v[N], t[N];
  ecpbn_proj_t<N> sum;
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
  ecpbn_proj_t<N> lifted;
  std::memcpy(lifted.x, q.x, sizeof lifted.x);
  std::memcpy(lifted.y, q.y, sizeof lifted.y);
  std::memcpy(lifted.z, fp.one, sizeof lifted.z);
  ecpbn_zdn_proj_select(r, fe_is_zero_mask<N>(p.z), lifted, sum);
}

// Affine form (Montgomery) of n Jacobian points with non-zero Z, with one
// inversion (Montgomery's trick). Public values only: used on multiples of
// the generator and of a public key.
template <size_t N>
void ecpbn_zdn_proj_batch_to_affine_vartime(const Mont<N>& fp, Aff<N>* out, const ecpbn_proj_t<N>* in, size_t n,
                                            u64 (*prefix)[N]) {
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

// Multiples of the generator for signed windows of kBaseBits bits: entry
// (w, i) = (i + 1) 2^(kBaseBits w) G, i < kBaseEntries.
constexpr unsigned kBaseBits = 6;
constexpr size_t kBaseEntries = size_t{1} << (kBaseBits - 1);

// Widths of the signed digits of verification: the generator's odd multiples
// 1G .. 63G are built once, a public key's 1Q .. 15Q on every call.
constexpr unsigned kWnafWidthG = 7;
constexpr unsigned kWnafWidthQ = 5;
constexpr size_t kWnafOddG = size_t{1} << (kWnafWidthG - 2);
constexpr size_t kWnafOddQ = size_t{1} << (kWnafWidthQ - 2);

// The odd multiples 1P, 3P, .. (2 count - 1)P of a point of prime order
// (far above 2 count), Jacobian.
template <size_t N>
void ecpbn_zdn_proj_odd_multiples(const Mont<N>& fp, const u64* a, ecpbn_proj_t<N>* out, const ecpbn_proj_t<N>& p,
                                  size_t count) {
  ecpbn_proj_t<N> twice;
  ecpbn_zdn_proj_double<N>(fp, a, twice, p);
  out[0] = p;
  for (size_t i = 1; i < count; ++i) ecpbn_zdn_proj_add<N>(fp, out[i], out[i - 1], twice);
}

template <size_t N>
class BaseTable {
 public:
  // Tables for the signed digits of scalars of up to `bits` bits. G in
  // Montgomery form.
  void build(const Mont<N>& fp, const u64* a, const Aff<N>& g, size_t bits) {
    windows_ = bits / kBaseBits + 1;  // bits + 1: the top carry
    entries_.reset(new Aff<N>[windows_ * kBaseEntries]);
    ecpbn_proj_t<N> row[kBaseEntries], base;
    u64 prefix[kBaseEntries][N];
    std::memcpy(base.x, g.x, sizeof base.x);
    std::memcpy(base.y, g.y, sizeof base.y);
    std::memcpy(base.z, fp.one, sizeof base.z);
    for (size_t w = 0; w < windows_; ++w) {
      row[0] = base;
      ecpbn_zdn_proj_double<N>(fp, a, row[1], base);
      for (size_t i = 2; i < kBaseEntries; ++i) ecpbn_zdn_proj_add<N>(fp, row[i], row[i - 1], base);
      ecpbn_zdn_proj_batch_to_affine_vartime<N>(fp, entries_.get() + w * kBaseEntries, row, kBaseEntries, prefix);
      ecpbn_zdn_proj_double<N>(fp, a, base, row[kBaseEntries - 1]);  // 2^kBaseBits base
    }
    ecpbn_proj_t<N> g1, odd[kWnafOddG];
    u64 odd_prefix[kWnafOddG][N];
    std::memcpy(g1.x, g.x, sizeof g1.x);
    std::memcpy(g1.y, g.y, sizeof g1.y);
    std::memcpy(g1.z, fp.one, sizeof g1.z);
    ecpbn_zdn_proj_odd_multiples<N>(fp, a, odd, g1, kWnafOddG);
    ecpbn_zdn_proj_batch_to_affine_vartime<N>(fp, odd_, odd, kWnafOddG, odd_prefix);
  }
  size_t windows() const { return windows_; }
  const Aff<N>* row(size_t w) const { return entries_.get() + w * kBaseEntries; }
  // (2 i + 1) G for i < kWnafOddG.
  const Aff<N>& odd(size_t i) const { return odd_[i]; }

 private:
  std::unique_ptr<Aff<N>[]> entries_;
  size_t windows_ = 0;
  Aff<N> odd_[kWnafOddG];
};

// Signed windows of kBoothBits bits over a variable base: digits in
// [-2^(kBoothBits-1), 2^(kBoothBits-1)], so the table holds 0P .. 16P and a
// negative digit negates y.
constexpr unsigned kBoothBits = 5;
constexpr size_t kBoothEntries = size_t{1} << (kBoothBits - 1);

// `width` bits of a scalar from bit `pos` up (public positions).
inline u64 scalar_bits(const u64* k, size_t limbs, size_t pos, unsigned width) {
  const size_t limb = pos / 64, shift = pos % 64;
  u64 v = limb < limbs ? k[limb] >> shift : 0;
  if (shift + width > 64 && limb + 1 < limbs) v |= k[limb + 1] << (64 - shift);
  return v & ((u64{1} << width) - 1);
}

// Digit i of the signed (Booth) recoding of k with windows of `bits` bits:
// the window plus the bit below it, less 2^bits when the window's top bit
// is set (which carries one into the next window). Returns |digit|; *neg
// receives a mask of digit < 0. No branch on the scalar.
inline u64 booth_digit(const u64* k, size_t limbs, size_t i, unsigned bits, u64* neg) {
  const u64 in = i == 0 ? (k[0] << 1) & ((u64{2} << bits) - 1) : scalar_bits(k, limbs, bits * i - 1, bits + 1);
  const u64 s = 0 - (in >> bits);
  const u64 d = ((((u64{2} << bits) - 1) - in) & s) | (in & ~s);
  *neg = s;
  return (d >> 1) + (d & 1);
}

// r = k G for a secret k (limbs, at most windows() signed digits): one
// mixed addition per digit of the entry |d| chosen by reading the whole row
// under masks, negated by mask; digit 0 keeps the sum by mask. Before digit
// w the sum is S G with S the digits below w, |S| < 2^(kBaseBits w - 1) +
// 1, and the entry d 2^(kBaseBits w) G, |d| <= 2^(kBaseBits - 1): both
// below 2^(kBaseBits (w + 1)) in size, so the points differ (or cancel,
// which the addition handles) while that is below 2^(nbits - 1) < n. Only
// in the top digits can they meet mod n; there the addition also computes
// the double and keeps it by mask when they do.
template <size_t N>
void mul_base_ct(const Mont<N>& fp, const u64* a, const BaseTable<N>& table, ecpbn_proj_t<N>& r, const u64* k,
                 size_t limbs, size_t nbits) {
  ecpbn_zdn_proj_set_infinity<N>(fp, r);
  const u64 zero[N] = {};
  u64 neg_y[N];
  Aff<N> sel;
  ecpbn_proj_t<N> sum, twice;
  for (size_t w = 0; w < table.windows(); ++w) {
    u64 neg = 0;
    const u64 idx = booth_digit(k, limbs, w, kBaseBits, &neg);
    std::memset(&sel, 0, sizeof sel);
    const Aff<N>* row = table.row(w);
    for (size_t i = 0; i < kBaseEntries; ++i) {
      const u64 m = ct::eq<u64>(static_cast<u64>(i + 1), idx);
      for (size_t j = 0; j < N; ++j) {
        sel.x[j] |= row[i].x[j] & m;
        sel.y[j] |= row[i].y[j] & m;
      }
    }
    fp.sub(neg_y, zero, sel.y);
    fe_select<N>(sel.y, neg, neg_y, sel.y);
    if (kBaseBits * (w + 1) >= nbits) {
      u64 same = 0;
      ecpbn_zdn_proj_double<N>(fp, a, twice, r);
      ecpbn_zdn_proj_add_affine<N>(fp, sum, r, sel, &same);
      ecpbn_zdn_proj_select(sum, same, twice, sum);
    } else {
      ecpbn_zdn_proj_add_affine<N>(fp, sum, r, sel);
    }
    ecpbn_zdn_proj_select(r, ct::is_zero<u64>(idx), r, sum);
  }
  secure_wipe(&sel, sizeof sel);
  secure_wipe(&sum, sizeof sum);
  secure_wipe(&twice, sizeof twice);
  secure_wipe(neg_y, sizeof neg_y);
}

// r = k P for a secret k < 2^kbits (limbs) and a point P on the curve, of
// prime order n (nbits bits): from the top signed digit down, kBoothBits
// doublings and one addition of the multiple chosen by reading all of
// 0P .. 16P (0P = infinity) under masks, negated by mask. Before digit i the
// sum is T P with T = 2^kBoothBits A, and T 2^(kBoothBits i) = k less the
// digits from i down, so |T| < k 2^-(kBoothBits i) + 17. T P equals the
// chosen d P (|d| <= 16) when T = d mod n; while |T - d| < n that means
// T = d, so both are zero (at infinity, which the addition handles). Only in
// the low digits, where 2^(kbits - kBoothBits i) comes near n, can they meet
// otherwise (small scalars reach it: k = 2 d); there the addition also
// doubles, by mask. Equal and opposite points sum to infinity correctly.
// On P-256 (a = -3) with BMI2/ADX, the same steps with the field operations
// inlined (p256_window_adx.cpp), chosen when p256_window_adx_applies; it
// takes P affine (Z = 1 in Montgomery form, as the engine loads it) and builds
// the table with mixed additions.
void mul_window_ct_p256_adx(const Mont<4>& fp, ecpbn_proj_t<4>& r, const ecpbn_proj_t<4>& p, const u64* k,
                            size_t limbs, size_t kbits, size_t nbits, ecpbn_proj_t<4>* table);
inline bool p256_window_adx_applies(const Mont<4>& fp, const u64* a) { return fp.p256 && fp.adx && a == nullptr; }
// On P-521 with BMI2/ADX, the same digits over a table made affine, by mixed
// additions (p521_window_adx.cpp), chosen when p521_window_adx_applies; it
// too takes P affine.
void mul_window_ct_p521_adx(const Mont<9>& fp, ecpbn_proj_t<9>& r, const ecpbn_proj_t<9>& p, const u64* k,
                            size_t limbs, size_t kbits, size_t nbits, ecpbn_proj_t<9>* table);
inline bool p521_window_adx_applies(const Mont<9>& fp, const u64* a) { return fp.p521 && fp.adx && a == nullptr; }

template <size_t N>
void mul_window_ct(const Mont<N>& fp, const u64* a, ecpbn_proj_t<N>& r, const ecpbn_proj_t<N>& p, const u64* k,
                   size_t limbs, size_t kbits, size_t nbits, ecpbn_proj_t<N>* table /* kBoothEntries + 1 */) {
  if constexpr (N == 4) {
    if (p256_window_adx_applies(fp, a)) return mul_window_ct_p256_adx(fp, r, p, k, limbs, kbits, nbits, table);
  }
  if constexpr (N == 9) {
    if (p521_window_adx_applies(fp, a)) return mul_window_ct_p521_adx(fp, r, p, k, limbs, kbits, nbits, table);
  }
  ecpbn_zdn_proj_set_infinity<N>(fp, table[0]);
  table[1] = p;
  for (size_t i = 2; i <= kBoothEntries; ++i) {
    if (i % 2 == 0)
      ecpbn_zdn_proj_double<N>(fp, a, table[i], table[i / 2]);
    else
      ecpbn_zdn_proj_add<N>(fp, table[i], table[i - 1], p);
  }
  const size_t digits = kbits / kBoothBits + 1;  // kbits + 1 bits: the top carry
  const u64 zero[N] = {};
  u64 neg_y[N];
  ecpbn_proj_t<N> sel;
  ecpbn_zdn_proj_set_infinity<N>(fp, r);
  for (size_t w = digits; w-- > 0;) {
    if (w + 1 < digits)
      for (unsigned d = 0; d < kBoothBits; ++d) ecpbn_zdn_proj_double<N>(fp, a, r, r);
    u64 neg = 0;
    const u64 idx = booth_digit(k, limbs, w, kBoothBits, &neg);
    std::memset(&sel, 0, sizeof sel);
    for (size_t i = 0; i <= kBoothEntries; ++i) {
      const u64 m = ct::eq<u64>(static_cast<u64>(i), idx);
      for (size_t j = 0; j < N; ++j) {
        sel.x[j] |= table[i].x[j] & m;
        sel.y[j] |= table[i].y[j] & m;
        sel.z[j] |= table[i].z[j] & m;
      }
    }
    fp.sub(neg_y, zero, sel.y);
    fe_select<N>(sel.y, neg, neg_y, sel.y);
    // |T - d| < 2^(kbits - kBoothBits w) + 34 <= 2^(nbits - 1) < n unless
    // kBoothBits w + nbits < kbits + 2: public bounds only.
    if (kBoothBits * w + nbits < kbits + 2)
      ecpbn_zdn_proj_add_complete<N>(fp, a, r, r, sel);
    else
      ecpbn_zdn_proj_add<N>(fp, r, r, sel);
  }
  secure_wipe(&sel, sizeof sel);
  secure_wipe(neg_y, sizeof neg_y);
}

// Width-w non-adjacent form of a public scalar of N limbs: 64N + 1 digits,
// least significant first, each zero or odd with |d| < 2^(w-1), any w
// consecutive holding at most one non-zero; the scalar is the sum d_i 2^i.
template <size_t N>
void wnaf_vartime(int8_t* out, const u64* k, unsigned w) {
  u64 v[N + 1];
  std::memcpy(v, k, N * sizeof(u64));
  v[N] = 0;
  const int full = 1 << w, half = full >> 1;
  for (size_t i = 0; i <= 64 * N; ++i) {
    int d = 0;
    if (v[0] & 1) {
      d = static_cast<int>(v[0] & static_cast<u64>(full - 1));
      if (d >= half) d -= full;
      // v -= d, which clears the low w bits.
      unsigned char c = 0;
      if (d > 0) {
        c = subb(0, v[0], static_cast<u64>(d), &v[0]);
        for (size_t j = 1; j <= N; ++j) c = subb(c, v[j], 0, &v[j]);
      } else {
        c = addc(0, v[0], static_cast<u64>(-d), &v[0]);
        for (size_t j = 1; j <= N; ++j) c = addc(c, v[j], 0, &v[j]);
      }
    }
    out[i] = static_cast<int8_t>(d);
    for (size_t j = 0; j < N; ++j) v[j] = (v[j] >> 1) | (v[j + 1] << 63);
    v[N] >>= 1;
  }
}

// r = u1 G + u2 Q for public scalars below 2^(64N) and a public point Q
// (Montgomery affine, on the curve, of prime order): Shamir's trick over
// signed digits, one chain of doublings shared by both halves, with width-7
// digits of u1 over the generator's precomputed odd multiples (mixed
// additions) and width-5 digits of u2 over 1Q .. 15Q. An addition that meets
// its own operand doubles instead. Variable time: verification only.
template <size_t N>
void mul_dual_vartime(const Mont<N>& fp, const u64* a, const BaseTable<N>& table, ecpbn_proj_t<N>& r, const u64* u1,
                      const u64* u2, const Aff<N>& q) {
  constexpr size_t kDigits = 64 * N + 1;
  int8_t d1[kDigits], d2[kDigits];
  wnaf_vartime<N>(d1, u1, kWnafWidthG);
  wnaf_vartime<N>(d2, u2, kWnafWidthQ);
  ecpbn_proj_t<N> q1, odd[kWnafOddQ], sum, addend;
  std::memcpy(q1.x, q.x, sizeof q1.x);
  std::memcpy(q1.y, q.y, sizeof q1.y);
  std::memcpy(q1.z, fp.one, sizeof q1.z);
  ecpbn_zdn_proj_odd_multiples<N>(fp, a, odd, q1, kWnafOddQ);
  const u64 zero[N] = {};
  ecpbn_zdn_proj_set_infinity<N>(fp, r);
  bool started = false;
  for (size_t i = kDigits; i-- > 0;) {
    if (started) ecpbn_zdn_proj_double<N>(fp, a, r, r);
    u64 same = 0;
    if (const int d = d1[i]; d != 0) {
      Aff<N> g = table.odd(static_cast<size_t>(d < 0 ? -d : d) >> 1);
      if (d < 0) fp.sub(g.y, zero, g.y);
      ecpbn_zdn_proj_add_affine<N>(fp, sum, r, g, &same);
      if (same != 0)
        ecpbn_zdn_proj_double<N>(fp, a, r, r);
      else
        r = sum;
      started = true;
    }
    if (const int d = d2[i]; d != 0) {
      addend = odd[static_cast<size_t>(d < 0 ? -d : d) >> 1];
      if (d < 0) fp.sub(addend.y, zero, addend.y);
      ecpbn_zdn_proj_add<N>(fp, sum, r, addend, &same);
      if (same != 0)
        ecpbn_zdn_proj_double<N>(fp, a, r, r);
      else
        r = sum;
      started = true;
    }
  }
}

}  // namespace quarzel::ec
