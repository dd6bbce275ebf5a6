// Constant-time modular inversion by divsteps (see modinv.h).
//
// State: f = m, g = a, and d, e with d a = f, e a = g (mod m), all as
// signed 62-bit limbs. Each batch of divsteps reads only the low 62 bits of
// f and g and yields a matrix T (entries scaled by 2^62); then
// (f, g) <- T (f, g) / 2^62 exactly, and (d, e) <- T (d, e) / 2^62 mod m, the
// division made exact by adding the multiple of m that clears the low 62
// bits. At the end g = 0 and f = +-1, so +-d is the inverse.
#if !defined(__OPTIMIZE__) && defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O2")  // as engine.cpp: debug builds run the curve vectors too
#endif

#include "ec/modinv.h"

#include "quarzel/ct.h"

namespace quarzel::ec {
namespace {

using i128 = __int128;
using i64 = int64_t;
constexpr u64 kM62 = ~u64{0} >> 2;

struct Trans {
  i64 u, v, q, r;
};
template <size_t K>
struct S62 {
  i64 v[K];
};

// One batch of divsteps on the low bits of f and g, in one of two forms.
// kHalfDelta: 59 steps of the half-delta form, the variable being
// zeta = -(delta + 1/2); the matrix starts as 8 I (2^3). Otherwise 62 steps
// of the original form with eta = -delta; the matrix starts as I. Either way
// its top row doubles at each step, so that it ends scaled by 2^62, its
// entries within [-2^62, 2^62]. The arithmetic is unsigned (mod 2^64) so
// that shifts of negative values are defined.
template <bool kHalfDelta>
i64 divsteps(i64 eta, u64 f0, u64 g0, Trans& t) {
  constexpr int kFirst = kHalfDelta ? 3 : 0;
  u64 u = u64{1} << kFirst, v = 0, q = 0, r = u64{1} << kFirst, f = f0, g = g0;
  for (int i = kFirst; i < 62; ++i) {
    // c1: eta < 0; c2: g odd.
    u64 c1 = ct::value_barrier(static_cast<u64>(eta >> 63));
    const u64 c2 = ct::value_barrier(0 - (g & 1));
    // g += (c1 ? -f : f) when g is odd; the same on the matrix rows.
    const u64 x = (f ^ c1) - c1, y = (u ^ c1) - c1, z = (v ^ c1) - c1;
    g += x & c2;
    q += y & c2;
    r += z & c2;
    // When both held, the rows swap: f += g (the new g is g - f). The swap
    // makes zeta -zeta - 2 (delta -> -delta) or eta -eta - 1
    // (delta -> 1 - delta); otherwise each goes down by one.
    c1 &= c2;
    eta = (eta ^ static_cast<i64>(c1)) - 1 - (kHalfDelta ? 0 : static_cast<i64>(c1));
    f += g & c1;
    u += q & c1;
    v += r & c1;
    g >>= 1;
    u <<= 1;
    v <<= 1;
  }
  t.u = static_cast<i64>(u);
  t.v = static_cast<i64>(v);
  t.q = static_cast<i64>(q);
  t.r = static_cast<i64>(r);
  return eta;
}

// (d, e) <- (T (d, e) + m (md, me)) / 2^62, with md and me chosen to make
// the division exact and to keep d and e within (-2m, m).
template <size_t K>
void update_de(S62<K>& d, S62<K>& e, const Trans& t, const i64* m, u64 minv62) {
  const i64 u = t.u, v = t.v, q = t.q, r = t.r;
  // Start from u or q when d < 0, plus v or r when e < 0.
  const i64 sd = d.v[K - 1] >> 63, se = e.v[K - 1] >> 63;
  i64 md = (u & sd) + (v & se);
  i64 me = (q & sd) + (r & se);
  i128 cd = static_cast<i128>(u) * d.v[0] + static_cast<i128>(v) * e.v[0];
  i128 ce = static_cast<i128>(q) * d.v[0] + static_cast<i128>(r) * e.v[0];
  md -= static_cast<i64>((minv62 * static_cast<u64>(cd) + static_cast<u64>(md)) & kM62);
  me -= static_cast<i64>((minv62 * static_cast<u64>(ce) + static_cast<u64>(me)) & kM62);
  cd += static_cast<i128>(m[0]) * md;
  ce += static_cast<i128>(m[0]) * me;
  cd >>= 62;  // the low 62 bits are zero now
  ce >>= 62;
  for (size_t i = 1; i < K; ++i) {
    cd += static_cast<i128>(u) * d.v[i] + static_cast<i128>(v) * e.v[i] + static_cast<i128>(m[i]) * md;
    ce += static_cast<i128>(q) * d.v[i] + static_cast<i128>(r) * e.v[i] + static_cast<i128>(m[i]) * me;
    d.v[i - 1] = static_cast<i64>(static_cast<u64>(cd) & kM62);
    e.v[i - 1] = static_cast<i64>(static_cast<u64>(ce) & kM62);
    cd >>= 62;
    ce >>= 62;
  }
  d.v[K - 1] = static_cast<i64>(cd);
  e.v[K - 1] = static_cast<i64>(ce);
}

// (f, g) <- T (f, g) / 2^62, exact by construction of T.
template <size_t K>
void update_fg(S62<K>& f, S62<K>& g, const Trans& t) {
  const i64 u = t.u, v = t.v, q = t.q, r = t.r;
  i128 cf = static_cast<i128>(u) * f.v[0] + static_cast<i128>(v) * g.v[0];
  i128 cg = static_cast<i128>(q) * f.v[0] + static_cast<i128>(r) * g.v[0];
  cf >>= 62;
  cg >>= 62;
  for (size_t i = 1; i < K; ++i) {
    cf += static_cast<i128>(u) * f.v[i] + static_cast<i128>(v) * g.v[i];
    cg += static_cast<i128>(q) * f.v[i] + static_cast<i128>(r) * g.v[i];
    f.v[i - 1] = static_cast<i64>(static_cast<u64>(cf) & kM62);
    g.v[i - 1] = static_cast<i64>(static_cast<u64>(cg) & kM62);
    cf >>= 62;
    cg >>= 62;
  }
  f.v[K - 1] = static_cast<i64>(cf);
  g.v[K - 1] = static_cast<i64>(cg);
}

// Carries of signed limbs, leaving limbs 0..K-2 in [0, 2^62).
template <size_t K>
void carry(S62<K>& x) {
  for (size_t i = 0; i + 1 < K; ++i) {
    x.v[i + 1] += x.v[i] >> 62;
    x.v[i] &= static_cast<i64>(kM62);
  }
}

// x in (-2m, m), negated when sign < 0, brought into [0, m).
template <size_t K>
void normalize(S62<K>& x, i64 sign, const i64* m) {
  i64 add = x.v[K - 1] >> 63;  // x < 0: add m, into (-m, m)
  for (size_t i = 0; i < K; ++i) x.v[i] += m[i] & add;
  const i64 neg = sign >> 63;
  for (size_t i = 0; i < K; ++i) x.v[i] = (x.v[i] ^ neg) - neg;
  carry(x);
  add = x.v[K - 1] >> 63;  // still negative: add m again, into [0, m)
  for (size_t i = 0; i < K; ++i) x.v[i] += m[i] & add;
  carry(x);
}

// N 64-bit limbs (a value below 2^(62 K - 2)) to K signed 62-bit limbs, and
// a non-negative value back.
template <size_t K, size_t N>
S62<K> to_s62(const u64* a) {
  S62<K> s{};
  for (size_t i = 0; i < K; ++i) {
    const size_t bit = 62 * i, w = bit / 64, sh = bit % 64;
    u64 x = w < N ? a[w] >> sh : 0;
    if (sh > 2 && w + 1 < N) x |= a[w + 1] << (64 - sh);
    s.v[i] = static_cast<i64>(i + 1 < K ? x & kM62 : x);
  }
  return s;
}
template <size_t K, size_t N>
void from_s62(u64* r, const S62<K>& s) {
  for (size_t j = 0; j < N; ++j) r[j] = 0;
  for (size_t i = 0; i < K; ++i) {
    const size_t bit = 62 * i, w = bit / 64, sh = bit % 64;
    const u64 x = static_cast<u64>(s.v[i]);
    if (w < N) r[w] |= x << sh;
    if (sh > 2 && w + 1 < N) r[w + 1] |= x >> (64 - sh);
  }
}

// f = m, g = a, d = 0, e = 1; batches of divsteps; then +-d by the sign of
// f = +-1 (or +-m when a = 0, with d = 0).
template <size_t N, class Steps>
void invert(u64* r, const u64* a, const ModInv<N>& mi, int batches, i64 delta_state, Steps steps) {
  constexpr size_t K = ModInv<N>::K;
  S62<K> d{}, e{}, f{}, g = to_s62<K, N>(a);
  e.v[0] = 1;
  for (size_t i = 0; i < K; ++i) f.v[i] = mi.m[i];
  for (int i = 0; i < batches; ++i) {
    Trans t;
    delta_state = steps(delta_state, static_cast<u64>(f.v[0]), static_cast<u64>(g.v[0]), t);
    update_de<K>(d, e, t, mi.m, mi.minv62);
    update_fg<K>(f, g, t);
  }
  normalize<K>(d, f.v[K - 1], mi.m);
  from_s62<K, N>(r, d);
}

}  // namespace

template <size_t N>
void ModInv<N>::init(const u64 mod[N]) {
  const S62<K> s = to_s62<K, N>(mod);
  for (size_t i = 0; i < K; ++i) m[i] = s.v[i];
  u64 inv = mod[0];  // Newton: each step doubles the correct low bits
  for (int i = 0; i < 6; ++i) inv *= 2 - mod[0] * inv;
  minv62 = inv & kM62;
}
template struct ModInv<4>;
template struct ModInv<6>;
template struct ModInv<9>;

template <size_t N>
void modinv(u64 r[N], const u64 a[N], const ModInv<N>& mi) {
  if constexpr (N == 4)
    invert<4>(r, a, mi, 10, -1 /* zeta: delta = 1/2 */, divsteps<true>);
  else
    invert<N>(r, a, mi, N == 6 ? 18 : 25, -1 /* eta: delta = 1 */, divsteps<false>);
}
template void modinv<4>(u64*, const u64*, const ModInv<4>&);
template void modinv<6>(u64*, const u64*, const ModInv<6>&);
template void modinv<9>(u64*, const u64*, const ModInv<9>&);

}  // namespace quarzel::ec
