// Key generation arithmetic on the secret primes, in constant time: the
// Miller-Rabin rounds, gcd(p-1, q-1), the lcm and d = e^-1 mod lcm. Loop
// counts follow lengths only, every choice is a mask; what is made public
// is a verdict (a candidate accepted or rejected) or a fault of the input.
#include "rsa/rsa_keygen_ct.h"

#include <algorithm>

#include "rsa/rsa_internal.h"
#include "rsa/rsa_limbs.h"

namespace quarzel::rsa {
namespace {

using mpbn_detail::Scratch;
namespace md = mpbn_detail;

constexpr u64 kE = 65537;

// r = r - b over L limbs; returns the borrow.
u64 sub_limbs(size_t L, u64* r, const u64* b) {
  u64 br = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 x = static_cast<u128>(r[j]) - b[j] - br;
    r[j] = static_cast<u64>(x);
    br = static_cast<u64>(x >> 64) & 1u;
  }
  return br;
}

// All ones when a == b (L limbs).
u64 eq_limbs(size_t L, const u64* a, const u64* b) {
  u64 diff = 0;
  for (size_t j = 0; j < L; ++j) diff |= a[j] ^ b[j];
  return ct::is_zero<u64>(diff);
}

u64 is_zero_limbs(size_t L, const u64* a) {
  u64 acc = 0;
  for (size_t j = 0; j < L; ++j) acc |= a[j];
  return ct::is_zero<u64>(acc);
}

// x >>= 1 (mask all ones) or unchanged (mask zero).
void maybe_shr1(size_t L, u64* x, u64 mask) {
  for (size_t j = 0; j < L; ++j) {
    const u64 hi = j + 1 < L ? x[j + 1] << 63 : 0;
    x[j] = ct::select<u64>(mask, (x[j] >> 1) | hi, x[j]);
  }
}

// x shifted by s bits (s public, below 64L) toward the top (left) or the
// bottom, into r; r must not overlap x.
void shift_bits(size_t L, u64* r, const u64* x, size_t s, bool left) {
  const size_t limbs = s / 64, bits = s % 64;
  for (size_t j = 0; j < L; ++j) {
    u64 v = 0;
    if (left) {
      if (j >= limbs) v = x[j - limbs] << bits;
      if (bits != 0 && j >= limbs + 1) v |= x[j - limbs - 1] >> (64 - bits);
    } else {
      if (j + limbs < L) v = x[j + limbs] >> bits;
      if (bits != 0 && j + limbs + 1 < L) v |= x[j + limbs + 1] << (64 - bits);
    }
    r[j] = v;
  }
}

// x shifted by a secret count s < 64L: one masked shift per bit of s.
void shift_secret(size_t L, u64* x, u64 s, bool left, u64* tmp) {
  for (size_t k = 0; (size_t{1} << k) < 64 * L; ++k) {
    shift_bits(L, tmp, x, size_t{1} << k, left);
    ct::select_words<u64>(x, ct::mask_from_bit<u64>(s >> k), tmp, x, L);
  }
}

// The largest a with 2^a dividing x (L limbs): its trailing zero bits, 64 L
// for zero.
u64 find_max_2_divisor_power(size_t L, const u64* x) {
  u64 count = 0, seen = 0;  // seen: all ones once a set bit was passed
  for (size_t j = 0; j < L; ++j) {
    for (unsigned b = 0; b < 64; ++b) {
      seen |= ct::mask_from_bit<u64>(x[j] >> b);
      count += 1 & ~seen;
    }
  }
  return count;
}

// g = gcd(u, v) by the binary algorithm with a fixed number of steps (as
// BoringSSL's bn_gcd_consttime); u and v (L limbs) are destroyed.
void gcd_ct(size_t L, u64* g, u64* u, u64* v, u64* tmp) {
  u64 shift = 0;
  for (size_t i = 0; i < 2 * 64 * L; ++i) {
    // Both odd: the larger loses the smaller.
    const u64 both_odd = ct::mask_from_bit<u64>(u[0] & v[0] & 1);
    for (size_t j = 0; j < L; ++j) tmp[j] = u[j];
    const u64 u_lt_v = ct::mask_from_bit<u64>(sub_limbs(L, tmp, v));
    ct::select_words<u64>(u, both_odd & ~u_lt_v, tmp, u, L);
    for (size_t j = 0; j < L; ++j) tmp[j] = v[j];
    sub_limbs(L, tmp, u);
    ct::select_words<u64>(v, both_odd & u_lt_v, tmp, v, L);
    // Now one of them is even; both even gives the gcd a factor of two.
    const u64 u_even = ~ct::mask_from_bit<u64>(u[0]);
    const u64 v_even = ~ct::mask_from_bit<u64>(v[0]);
    shift += 1 & u_even & v_even;
    maybe_shr1(L, u, u_even);
    maybe_shr1(L, v, v_even);
  }
  // One of them is zero.
  for (size_t j = 0; j < L; ++j) g[j] = u[j] | v[j];
  shift_secret(L, g, shift, true, tmp);
}

// q (La limbs) = a / m, m of Lm limbs, m > 0 (exact or not), bit by bit;
// r: Lm limbs of remainder, d: Lm limbs of work.
void div_bitserial_ct(size_t La, u64* q, const u64* a, size_t Lm, const u64* m, u64* r, u64* d) {
  for (size_t j = 0; j < Lm; ++j) r[j] = 0;
  for (size_t j = 0; j < La; ++j) q[j] = 0;
  for (size_t bit = 64 * La; bit-- > 0;) {
    u64 top = (a[bit / 64] >> (bit % 64)) & 1;
    for (size_t j = 0; j < Lm; ++j) {
      const u64 v = r[j];
      r[j] = (v << 1) | top;
      top = v >> 63;
    }
    for (size_t j = 0; j < Lm; ++j) d[j] = r[j];
    const u64 br = sub_limbs(Lm, d, m);
    const u64 keep = ct::mask_from_bit<u64>(~top & br);  // r < m: no quotient bit
    ct::select_words<u64>(r, keep, r, d, Lm);
    q[bit / 64] |= (~keep & 1) << (bit % 64);
  }
}

// x mod 65537 and x / 65537 over 32-bit halves from the top: the divisor is
// a constant, so the compiler multiplies by its reciprocal; no divide
// instruction meets the secret.
u64 mod_e(size_t L, const u64* x) {
  u64 r = 0;
  for (size_t j = L; j-- > 0;) {
    r = ((r << 32) | (x[j] >> 32)) % kE;
    r = ((r << 32) | (x[j] & 0xFFFFFFFFu)) % kE;
  }
  return r;
}
void div_e(size_t L, u64* q, const u64* x) {
  u64 r = 0;
  for (size_t j = L; j-- > 0;) {
    u64 v = (r << 32) | (x[j] >> 32);
    const u64 hi = v / kE;
    r = v - hi * kE;
    v = (r << 32) | (x[j] & 0xFFFFFFFFu);
    const u64 lo = v / kE;
    r = v - lo * kE;
    q[j] = (hi << 32) | lo;
  }
}

// x^-1 mod 65537 for x in [1, 65536], as x^65535 (Fermat): 15 squarings and
// 15 products, the exponent public.
u64 inv_mod_e(u64 x) {
  u64 r = x;
  for (int i = 0; i < 15; ++i) r = (r * r % kE) * x % kE;
  return r;
}

}  // namespace

quarzel_ret_t key_from_primes_ct(uint32_t fn, uint32_t bits, const uint8_t* p, const uint8_t* q, uint8_t* n,
                                 uint8_t* d) {
  const size_t H = half_len(bits), L = full_len(bits), Lp = H / 8, Ln = L / 8;
  Scratch<u64, 1024> s;
  if (!s.reserve(9 * Lp + 5 * Ln + 2)) return rsa_err(fn, RSA_R_ALLOC);
  u64* P = s.data();
  u64* Q = P + Lp;
  u64* U = Q + Lp;      // p - 1, then work
  u64* V = U + Lp;      // q - 1, then work
  u64* G = V + Lp;      // gcd(p - 1, q - 1)
  u64* R = G + Lp;      // remainder
  u64* T = R + Lp;      // 2 Lp of work
  u64* Z = T + 2 * Lp;  // Lp zeros
  u64* N = Z + Lp;      // Ln
  u64* Phi = N + Ln;    // Ln
  u64* Lam = Phi + Ln;  // Ln
  u64* X = Lam + Ln;    // Ln + 1
  u64* D = X + Ln + 1;  // Ln + 1
  be_to_limbs(P, p, H);
  be_to_limbs(Q, q, H);
  mul_add(Lp, N, P, Q, Z);  // n = p q
  limbs_to_be(n, N, L);
  ct::declassify(n, L);  // the modulus is public

  // p - 1 and q - 1 (p and q odd); a zero one has no gcd with the other
  // (a reduction modulo zero, as the division-based path reported it).
  for (size_t j = 0; j < Lp; ++j) {
    U[j] = P[j];
    V[j] = Q[j];
  }
  U[0] &= ~u64{1};
  V[0] &= ~u64{1};
  if (ct::declassify<u64>(is_zero_limbs(Lp, U) | is_zero_limbs(Lp, V)) != 0) {
    return rsa_err_core(fn, core_err(MPBN_FID_MOD, MPBN_R_ZERO_DIVISOR));
  }
  mul_add(Lp, Phi, U, V, Z);  // phi = (p - 1)(q - 1)
  gcd_ct(Lp, G, U, V, T);
  div_bitserial_ct(Ln, Lam, Phi, Lp, G, R, T);  // lambda = phi / g, exact

  // d = e^-1 mod lambda = (1 + lambda k) / e for k = -lambda^-1 mod e: e d =
  // 1 + lambda k, and k < e keeps d below lambda. Without an inverse (e
  // divides lambda) there is no key.
  const u64 lam_mod_e = mod_e(Ln, Lam);
  if (ct::declassify<u64>(ct::is_zero<u64>(lam_mod_e)) != 0) {
    return rsa_err_core(fn, core_err(MPBN_FID_MOD_INV_SLOW, MPBN_R_NO_INVERSE));
  }
  const u64 k = kE - inv_mod_e(lam_mod_e);
  u64 carry = 1;
  for (size_t j = 0; j < Ln; ++j) {
    const u128 x = static_cast<u128>(Lam[j]) * k + carry;
    X[j] = static_cast<u64>(x);
    carry = static_cast<u64>(x >> 64);
  }
  X[Ln] = carry;
  div_e(Ln + 1, D, X);
  limbs_to_be(d, D, L);
  return 0;
}

quarzel_ret_t miller_rabin_ct(uint32_t fn, uint32_t len, const uint8_t* w, uint32_t iterations, uint8_t* is_prime) {
  *is_prime = 0;
  const size_t Lw = (len + 7) / 8, Lr = Lw + 1;  // Lr: a random draw, 64 bits longer than w
  const size_t exp_work = md::mont_exp_work_limbs(Lw, 64 * Lw);
  const size_t work_len = std::max({exp_work, md::mont_rr_work_limbs(Lw), md::mont_work_limbs(Lw)});
  Scratch<u64, 2048> s;
  Scratch<uint8_t, 512> draw;
  if (!s.reserve(9 * Lw + Lr + work_len) || !draw.reserve(8 * Lr)) return rsa_err(fn, RSA_R_ALLOC);
  u64* W = s.data();
  u64* W1 = W + Lw;     // w - 1
  u64* M = W1 + Lw;     // (w - 1) / 2^a
  u64* W3 = M + Lw;     // w - 3
  u64* RR = W3 + Lw;    // R^2 mod w
  u64* One = RR + Lw;   // R mod w (1 in Montgomery form)
  u64* Mone = One + Lw; // w - R mod w (-1)
  u64* B = Mone + Lw;   // base
  u64* Z = B + Lw;
  u64* Rnd = Z + Lw;    // Lr
  u64* Wk = Rnd + Lr;
  be_to_limbs_padded(W, Lw, w, len);
  for (size_t j = 0; j < Lw; ++j) W1[j] = W3[j] = W[j];
  W1[0] &= ~u64{1};  // w odd
  for (size_t j = 0; j < Lw; ++j) B[j] = j == 0 ? 3 : 0;
  sub_limbs(Lw, W3, B);  // w >= 5
  const u64 a = find_max_2_divisor_power(Lw, W1);
  for (size_t j = 0; j < Lw; ++j) M[j] = W1[j];
  shift_secret(Lw, M, a, false, Z);
  const u64 ninv = md::neg_inv64(W[0]);
  md::mont_rr_ct(Lw, RR, W, ninv, Wk);
  const md::MontKernel k = md::mont_kernel(Lw);
  for (size_t j = 0; j < Lw; ++j) B[j] = j == 0;
  k.mul(Lw, One, B, RR, W, ninv, Wk);
  for (size_t j = 0; j < Lw; ++j) Mone[j] = W[j];
  sub_limbs(Lw, Mone, One);

  // A Fermat test to base 2 first: a composite almost always fails it, and
  // so is rejected at the cost of one exponentiation. Whatever fails it
  // fails the base-2 round below too, so the verdicts are those of the
  // rounds alone.
  if (iterations > 0) {
    for (size_t j = 0; j < Lw; ++j) B[j] = j == 0 ? 2 : 0;
    md::mont_exp_ct(Lw, Z, B, W1, Lw, W, ninv, RR, Wk);
    for (size_t j = 0; j < Lw; ++j) B[j] = j == 0;
    if (ct::declassify<u64>(eq_limbs(Lw, Z, B)) == 0) return 0;
  }
  for (uint32_t round = 0; round < iterations; ++round) {
    if (round == 0) {
      for (size_t j = 0; j < Lw; ++j) B[j] = j == 0 ? 2 : 0;
    } else {
      // 1 < b < w - 1: 2 + (a draw 64 bits longer than w) mod (w - 3); the
      // bias is below 2^-64 and nothing is redrawn.
      if (quarzel_get_random(draw.data(), static_cast<uint32_t>(8 * Lr)) != 0) return rsa_err(fn, QZ_R_RANDOM);
      be_to_limbs(Rnd, draw.data(), 8 * Lr);
      mod_bitserial_ct(Lw, B, Rnd, Lr, W3, Z);
      u64 c = 2;
      for (size_t j = 0; j < Lw; ++j) {
        const u128 x = static_cast<u128>(B[j]) + c;
        B[j] = static_cast<u64>(x);
        c = static_cast<u64>(x >> 64);
      }
    }
    md::mont_exp_ct(Lw, Z, B, M, Lw, W, ninv, RR, Wk);  // b^m
    k.mul(Lw, Z, Z, RR, W, ninv, Wk);                     // in Montgomery form
    u64 pass = eq_limbs(Lw, Z, One) | eq_limbs(Lw, Z, Mone);
    // b^(2^j m) for j < a, every step run for every possible a and masked.
    // A 1 met before -1 stays 1, so such a base never passes.
    for (size_t j = 1; j < 8 * static_cast<size_t>(len); ++j) {
      const u64 active = ct::lt<u64>(ct::value_barrier<u64>(j), a);  // j kept apart from a
      k.sqr(Lw, B, Z, W, ninv, Wk);
      ct::select_words<u64>(Z, active, B, Z, Lw);
      pass |= active & eq_limbs(Lw, Z, Mone);
    }
    if (ct::declassify<u64>(pass) == 0) return 0;
  }
  *is_prime = 1;
  return 0;
}

}  // namespace quarzel::rsa
