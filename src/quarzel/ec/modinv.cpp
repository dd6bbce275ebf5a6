// Constant-time modular inversion by divsteps (see modinv.h).
//
// State: f = m, g = a, and d, e with d a = f, e a = g (mod m), all as five
// signed 62-bit limbs. Each batch of 59 divsteps reads only the low 62 bits
// of f and g and yields a matrix T (entries scaled by 2^62); then
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
struct S62 {
  i64 v[5];
};

// 59 divsteps on the low bits of f and g. zeta = -(delta + 1/2). The matrix
// starts as 8 I (2^3) and its top row doubles at each step, so that it ends
// scaled by 2^62. Entries stay within [-2^62, 2^62]; the arithmetic is
// unsigned (mod 2^64) so that shifts of negative values are defined.
i64 divsteps_59(i64 zeta, u64 f0, u64 g0, Trans& t) {
  u64 u = 8, v = 0, q = 0, r = 8, f = f0, g = g0;
  for (int i = 3; i < 62; ++i) {
    // c1: zeta < 0; c2: g odd.
    u64 c1 = ct::value_barrier(static_cast<u64>(zeta >> 63));
    const u64 c2 = ct::value_barrier(0 - (g & 1));
    // g += (c1 ? -f : f) when g is odd; the same on the matrix rows.
    const u64 x = (f ^ c1) - c1, y = (u ^ c1) - c1, z = (v ^ c1) - c1;
    g += x & c2;
    q += y & c2;
    r += z & c2;
    // When both held, the rows swap: f += g (the new g is g - f), and
    // zeta becomes -zeta - 2; otherwise zeta - 1.
    c1 &= c2;
    zeta = (zeta ^ static_cast<i64>(c1)) - 1;
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
  return zeta;
}

// (d, e) <- (T (d, e) + m (md, me)) / 2^62, with md and me chosen to make
// the division exact and to keep d and e within (-2m, m).
void update_de(S62& d, S62& e, const Trans& t, const ModInv4& mi) {
  const i64 u = t.u, v = t.v, q = t.q, r = t.r;
  // Start from u or q when d < 0, plus v or r when e < 0.
  const i64 sd = d.v[4] >> 63, se = e.v[4] >> 63;
  i64 md = (u & sd) + (v & se);
  i64 me = (q & sd) + (r & se);
  i128 cd = static_cast<i128>(u) * d.v[0] + static_cast<i128>(v) * e.v[0];
  i128 ce = static_cast<i128>(q) * d.v[0] + static_cast<i128>(r) * e.v[0];
  md -= static_cast<i64>((mi.minv62 * static_cast<u64>(cd) + static_cast<u64>(md)) & kM62);
  me -= static_cast<i64>((mi.minv62 * static_cast<u64>(ce) + static_cast<u64>(me)) & kM62);
  cd += static_cast<i128>(mi.m[0]) * md;
  ce += static_cast<i128>(mi.m[0]) * me;
  cd >>= 62;  // the low 62 bits are zero now
  ce >>= 62;
  for (int i = 1; i < 5; ++i) {
    cd += static_cast<i128>(u) * d.v[i] + static_cast<i128>(v) * e.v[i] + static_cast<i128>(mi.m[i]) * md;
    ce += static_cast<i128>(q) * d.v[i] + static_cast<i128>(r) * e.v[i] + static_cast<i128>(mi.m[i]) * me;
    d.v[i - 1] = static_cast<i64>(static_cast<u64>(cd) & kM62);
    e.v[i - 1] = static_cast<i64>(static_cast<u64>(ce) & kM62);
    cd >>= 62;
    ce >>= 62;
  }
  d.v[4] = static_cast<i64>(cd);
  e.v[4] = static_cast<i64>(ce);
}

// (f, g) <- T (f, g) / 2^62, exact by construction of T.
void update_fg(S62& f, S62& g, const Trans& t) {
  const i64 u = t.u, v = t.v, q = t.q, r = t.r;
  i128 cf = static_cast<i128>(u) * f.v[0] + static_cast<i128>(v) * g.v[0];
  i128 cg = static_cast<i128>(q) * f.v[0] + static_cast<i128>(r) * g.v[0];
  cf >>= 62;
  cg >>= 62;
  for (int i = 1; i < 5; ++i) {
    cf += static_cast<i128>(u) * f.v[i] + static_cast<i128>(v) * g.v[i];
    cg += static_cast<i128>(q) * f.v[i] + static_cast<i128>(r) * g.v[i];
    f.v[i - 1] = static_cast<i64>(static_cast<u64>(cf) & kM62);
    g.v[i - 1] = static_cast<i64>(static_cast<u64>(cg) & kM62);
    cf >>= 62;
    cg >>= 62;
  }
  f.v[4] = static_cast<i64>(cf);
  g.v[4] = static_cast<i64>(cg);
}

// Carries of signed limbs, leaving limbs 0..3 in [0, 2^62).
void carry(S62& x) {
  for (int i = 0; i < 4; ++i) {
    x.v[i + 1] += x.v[i] >> 62;
    x.v[i] &= static_cast<i64>(kM62);
  }
}

// x in (-2m, m), negated when sign < 0, brought into [0, m).
void normalize(S62& x, i64 sign, const ModInv4& mi) {
  i64 add = x.v[4] >> 63;  // x < 0: add m, into (-m, m)
  for (int i = 0; i < 5; ++i) x.v[i] += mi.m[i] & add;
  const i64 neg = sign >> 63;
  for (int i = 0; i < 5; ++i) x.v[i] = (x.v[i] ^ neg) - neg;
  carry(x);
  add = x.v[4] >> 63;  // still negative: add m again, into [0, m)
  for (int i = 0; i < 5; ++i) x.v[i] += mi.m[i] & add;
  carry(x);
}

S62 to_s62(const u64 a[4]) {
  return {{static_cast<i64>(a[0] & kM62), static_cast<i64>(((a[0] >> 62) | (a[1] << 2)) & kM62),
           static_cast<i64>(((a[1] >> 60) | (a[2] << 4)) & kM62),
           static_cast<i64>(((a[2] >> 58) | (a[3] << 6)) & kM62), static_cast<i64>(a[3] >> 56)}};
}

}  // namespace

void ModInv4::init(const u64 mod[4]) {
  const S62 s = to_s62(mod);
  for (int i = 0; i < 5; ++i) m[i] = s.v[i];
  u64 inv = mod[0];  // Newton: each step doubles the correct low bits
  for (int i = 0; i < 6; ++i) inv *= 2 - mod[0] * inv;
  minv62 = inv & kM62;
}

void modinv4(u64 r[4], const u64 a[4], const ModInv4& mi) {
  S62 d{{0, 0, 0, 0, 0}}, e{{1, 0, 0, 0, 0}}, f{}, g = to_s62(a);
  for (int i = 0; i < 5; ++i) f.v[i] = mi.m[i];
  i64 zeta = -1;  // delta = 1/2
  for (int i = 0; i < 10; ++i) {
    Trans t;
    zeta = divsteps_59(zeta, static_cast<u64>(f.v[0]), static_cast<u64>(g.v[0]), t);
    update_de(d, e, t, mi);
    update_fg(f, g, t);
  }
  // f = +-1 (or +-m when a = 0, with d = 0): d times the sign of f.
  normalize(d, f.v[4], mi);
  const u64 v0 = static_cast<u64>(d.v[0]), v1 = static_cast<u64>(d.v[1]), v2 = static_cast<u64>(d.v[2]),
            v3 = static_cast<u64>(d.v[3]), v4 = static_cast<u64>(d.v[4]);
  r[0] = v0 | (v1 << 62);
  r[1] = (v1 >> 2) | (v2 << 60);
  r[2] = (v2 >> 4) | (v3 << 58);
  r[3] = (v3 >> 6) | (v4 << 56);
}

}  // namespace quarzel::ec
