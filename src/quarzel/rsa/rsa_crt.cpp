// Constant-time private exponentiation on 64-bit limbs over the big-number
// layer's Montgomery engine. Key sizes are multiples of 128 bits, so p and q
// fill H/8 limbs and n twice as many.
#include "rsa/rsa_crt.h"

#include <algorithm>
#include <utility>

#include "mpbn/mpbn_internal.h"
#include "quarzel/ct.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_limbs.h"

namespace quarzel::rsa {
namespace {

using mpbn_detail::Scratch;
using mpbn_detail::u128;
using mpbn_detail::u64;
namespace md = mpbn_detail;

// r = (a - b) mod m for a, b < m: n added back under the borrow.
void mod_sub(size_t L, u64* r, const u64* a, const u64* b, const u64* m) {
  u64 br = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 x = static_cast<u128>(a[j]) - b[j] - br;
    r[j] = static_cast<u64>(x);
    br = static_cast<u64>(x >> 64) & 1u;
  }
  const u64 mask = ct::mask_from_bit<u64>(br);
  u64 c = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 x = static_cast<u128>(r[j]) + (m[j] & mask) + c;
    r[j] = static_cast<u64>(x);
    c = static_cast<u64>(x >> 64);
  }
}

// One prime's Montgomery context.
struct Prime {
  const u64* m;
  u64 ninv;
  u64* rr;
};

// r = c mod p for any c of 2L limbs: c = hi R + lo, hi R mod p by one
// product with R^2, lo reduced apart, the two added mod p.
void reduce_wide(size_t L, u64* r, const u64* c, const Prime& p, u64* w) {
  u64* hi = w;
  u64* t = w + L + 1;
  md::mont_mul_limbs(L, hi, c + L, p.rr, p.m, p.ninv, t);
  md::mod_reduce_ct(L, r, c, L, p.m, p.ninv, p.rr, t);
  u64 carry = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 x = static_cast<u128>(r[j]) + hi[j] + carry;
    hi[j] = static_cast<u64>(x);
    carry = static_cast<u64>(x >> 64);
  }
  hi[L] = carry;
  md::mont_final_subtract(L, r, hi, p.m);
}

quarzel_ret_t even_modulus(uint32_t fn) {
  return rsa_err_core(fn, core_err(MPBN_FID_MOD_EXP, MPBN_R_EVEN_MODULUS));
}

}  // namespace

quarzel_ret_t power_crt_ct(uint32_t fn, uint32_t bits, const uint8_t* base, const CrtKey& key,
                           uint8_t* result) {
  const size_t H = half_len(bits), L = full_len(bits), Lp = H / 8, Ln = L / 8;
  const size_t exp_work = md::mont_exp_work_limbs(Lp, 64 * Lp);
  const md::MontExp2Kernel pair = md::mont_exp2_kernel(Lp);
  const size_t work_len =
      std::max({exp_work, pair.work, md::mont_rr_work_limbs(Lp), Lp + 1 + md::mod_reduce_work_limbs(Lp)});
  Scratch<u64, 2048> s;
  if (!s.reserve(12 * Lp + 3 * Ln + work_len)) return rsa_err(fn, RSA_R_ALLOC);
  u64* P = s.data();
  u64* Q = P + Lp;
  u64* DP = Q + Lp;
  u64* DQ = DP + Lp;
  u64* QI = DQ + Lp;
  u64* RRp = QI + Lp;
  u64* RRq = RRp + Lp;
  u64* M1 = RRq + Lp;
  u64* M2 = M1 + Lp;
  u64* T = M2 + Lp;   // 2 Lp
  u64* C = T + 2 * Lp;  // Ln
  u64* D = C + Ln;      // Ln (d, or 2^(192 Lp) mod n)
  u64* X = D + Ln;      // Ln
  u64* W = X + Ln;
  be_to_limbs(P, key.p, H);
  be_to_limbs(Q, key.q, H);
  be_to_limbs(C, base, L);
  // Oddness of a prime is public for any valid key; an even one is refused.
  if (ct::declassify<u64>(P[0] & Q[0] & 1) == 0) return even_modulus(fn);
  Prime pp{P, md::neg_inv64(P[0]), RRp}, pq{Q, md::neg_inv64(Q[0]), RRq};

  // R^2 mod p and mod q.
  md::mont_rr_ct(Lp, RRp, P, pp.ninv, W);
  md::mont_rr_ct(Lp, RRq, Q, pq.ninv, W);

  // Exponents: given, or d mod (p-1) and d mod (q-1).
  if (key.dp != nullptr && key.dq != nullptr) {
    be_to_limbs(DP, key.dp, H);
    be_to_limbs(DQ, key.dq, H);
  } else {
    be_to_limbs(D, key.d, L);
    P[0] ^= 1;  // p - 1 (p odd)
    mod_bitserial_ct(Lp, DP, D, Ln, P, W);
    P[0] ^= 1;
    Q[0] ^= 1;
    mod_bitserial_ct(Lp, DQ, D, Ln, Q, W);
    Q[0] ^= 1;
  }

  // m1 = c^dp mod p, m2 = c^dq mod q: side by side where a kernel pairs
  // them, else one after the other.
  reduce_wide(Lp, M1, C, pp, W);
  reduce_wide(Lp, M2, C, pq, W);
  if (pair.run != nullptr) {
    const md::ExpOperand ops[2] = {{M1, M1, DP, P, pp.ninv, RRp}, {M2, M2, DQ, Q, pq.ninv, RRq}};
    pair.run(ops, W);
  } else {
    md::mont_exp_ct(Lp, M1, M1, DP, Lp, P, pp.ninv, RRp, W);
    md::mont_exp_ct(Lp, M2, M2, DQ, Lp, Q, pq.ninv, RRq, W);
  }

  // q^-1 mod p: given (reduced, in case it is not below p), or by Fermat.
  if (key.qinv != nullptr) {
    be_to_limbs(T, key.qinv, H);
    md::mod_reduce_ct(Lp, QI, T, Lp, P, pp.ninv, RRp, W);
  } else {
    md::mod_reduce_ct(Lp, QI, Q, Lp, P, pp.ninv, RRp, W);
    u64 br = 2;  // T = p - 2
    for (size_t j = 0; j < Lp; ++j) {
      const u128 x = static_cast<u128>(P[j]) - br;
      T[j] = static_cast<u64>(x);
      br = static_cast<u64>(x >> 64) & 1u;
    }
    md::mont_exp_ct(Lp, QI, QI, T, Lp, P, pp.ninv, RRp, W);
  }

  // Garner: h = (m1 - m2) qinv mod p, result = m2 + q h.
  md::mod_reduce_ct(Lp, T, M2, Lp, P, pp.ninv, RRp, W);  // m2 mod p (q may exceed p)
  mod_sub(Lp, T, M1, T, P);
  md::mont_mul_limbs(Lp, T, T, QI, P, pp.ninv, W);   // (m1 - m2) qinv / R
  md::mont_mul_limbs(Lp, T, T, RRp, P, pp.ninv, W);  // (m1 - m2) qinv
  mul_add(Lp, X, Q, T, M2);
  limbs_to_be(result, X, L);
  return 0;
}

quarzel_ret_t crt_components_ct(uint32_t fn, uint32_t bits, const uint8_t* d, const uint8_t* p, const uint8_t* q,
                                uint8_t* dp, uint8_t* dq, uint8_t* qinv) {
  const size_t H = half_len(bits), L = full_len(bits), Lp = H / 8, Ln = L / 8;
  const size_t work_len = std::max({md::mont_exp_work_limbs(Lp, 64 * Lp), md::mont_rr_work_limbs(Lp),
                                    md::mod_reduce_work_limbs(Lp)});
  Scratch<u64, 2048> s;
  if (!s.reserve(6 * Lp + Ln + work_len)) return rsa_err(fn, RSA_R_ALLOC);
  u64* P = s.data();
  u64* Q = P + Lp;
  u64* X = Q + Lp;
  u64* RR = X + Lp;
  u64* E = RR + Lp;
  u64* M = E + Lp;
  u64* D = M + Lp;
  u64* W = D + Ln;
  be_to_limbs(P, p, H);
  be_to_limbs(Q, q, H);
  be_to_limbs(D, d, L);
  if (ct::declassify<u64>(P[0] & Q[0] & 1) == 0) return even_modulus(fn);
  for (const auto& [prime, out] : {std::pair{P, dp}, std::pair{Q, dq}}) {
    for (size_t j = 0; j < Lp; ++j) M[j] = prime[j];
    M[0] &= ~u64{1};  // p - 1 for an odd p
    mod_bitserial_ct(Lp, X, D, Ln, M, W);
    limbs_to_be(out, X, H);
  }
  // q^(p-2) mod p.
  const u64 ninv = md::neg_inv64(P[0]);
  md::mont_rr_ct(Lp, RR, P, ninv, W);
  md::mod_reduce_ct(Lp, X, Q, Lp, P, ninv, RR, W);
  u64 br = 2;
  for (size_t j = 0; j < Lp; ++j) {
    const u128 x = static_cast<u128>(P[j]) - br;
    E[j] = static_cast<u64>(x);
    br = static_cast<u64>(x >> 64) & 1u;
  }
  md::mont_exp_ct(Lp, X, X, E, Lp, P, ninv, RR, W);
  limbs_to_be(qinv, X, H);
  return 0;
}

quarzel_ret_t power_public_vartime(uint32_t fn, uint32_t bits, const uint8_t* base, const uint8_t* n,
                                   const uint8_t* e, uint32_t e_len, uint8_t* result) {
  const size_t L = full_len(bits), Ln = L / 8, nw = L / 4;
  Scratch<u64, 1024> s;
  Scratch<mpbn_word_t, 512> words;
  if (!s.reserve(4 * Ln + md::mont_work_limbs(Ln)) || !words.reserve(2 * nw + 1 + nw))
    return rsa_err(fn, RSA_R_ALLOC);
  u64* N = s.data();
  u64* RR = N + Ln;
  u64* A = RR + Ln;
  u64* X = A + Ln;
  u64* T = X + Ln;
  be_to_limbs(N, n, L);
  if ((N[0] & 1) == 0) return even_modulus(fn);
  // R^2 mod n by a division: n is public.
  mpbn_word_t* pow2 = words.data();  // 2^(64 Ln * 2), MSW first
  mpbn_word_t* nwords = pow2 + 2 * nw + 1;
  pow2[0] = 1;
  md::limbs_to_msw(nwords, N, nw);
  if (const core_ret_t c = mpbn_mod(static_cast<uint32_t>(2 * nw + 1), pow2, static_cast<uint32_t>(nw), nwords,
                                    pow2 + nw + 1);
      c != 0) {
    return rsa_err_core(fn, c);
  }
  md::msw_to_limbs(RR, pow2 + nw + 1, nw);
  be_to_limbs(A, base, L);
  const u64 ninv = md::neg_inv64(N[0]);
  const md::MontKernel k = md::mont_kernel(Ln);
  // Left to right over the bits of e below its top one (e is public: the
  // sequence of squarings and products follows it; the base meets masks only).
  size_t top = 8 * static_cast<size_t>(e_len);
  while (top > 0 && ((e[e_len - 1 - (top - 1) / 8] >> ((top - 1) % 8)) & 1) == 0) --top;
  k.mul(Ln, A, A, RR, N, ninv, T);  // a R
  if (top == 0) {                   // a^0 = 1
    for (size_t j = 0; j < Ln; ++j) X[j] = j == 0;
    k.mul(Ln, X, X, RR, N, ninv, T);
  } else {
    for (size_t j = 0; j < Ln; ++j) X[j] = A[j];
  }
  for (size_t bit = top > 0 ? top - 1 : 0; bit-- > 0;) {
    k.sqr(Ln, X, X, N, ninv, T);
    if ((e[e_len - 1 - bit / 8] >> (bit % 8)) & 1) k.mul(Ln, X, X, A, N, ninv, T);
  }
  for (size_t j = 0; j < Ln; ++j) A[j] = j == 0;
  k.mul(Ln, X, X, A, N, ninv, T);  // out of Montgomery form
  limbs_to_be(result, X, L);
  return 0;
}

quarzel_ret_t power_65537_limbs(uint32_t fn, uint32_t bits, const uint8_t* base, const uint8_t* n,
                                uint8_t* result) {
  static constexpr uint8_t kE[3] = {0x01, 0x00, 0x01};
  return power_public_vartime(fn, bits, base, n, kE, 3, result);
}

quarzel_ret_t power_ct(uint32_t fn, uint32_t bits, const uint8_t* base, const uint8_t* n, const uint8_t* d,
                       uint8_t* result) {
  const size_t L = full_len(bits), Ln = L / 8;
  const size_t work_len =
      std::max({md::mont_exp_work_limbs(Ln, 64 * Ln), md::mont_rr_work_limbs(Ln), md::mod_reduce_work_limbs(Ln)});
  Scratch<u64, 2048> s;
  if (!s.reserve(5 * Ln + work_len)) return rsa_err(fn, RSA_R_ALLOC);
  u64* N = s.data();
  u64* RR = N + Ln;
  u64* C = RR + Ln;
  u64* D = C + Ln;
  u64* X = D + Ln;
  u64* W = X + Ln;
  be_to_limbs(N, n, L);
  if (ct::declassify<u64>(N[0] & 1) == 0) return even_modulus(fn);
  be_to_limbs(C, base, L);
  be_to_limbs(D, d, L);
  const u64 ninv = md::neg_inv64(N[0]);
  md::mont_rr_ct(Ln, RR, N, ninv, W);
  md::mod_reduce_ct(Ln, X, C, Ln, N, ninv, RR, W);
  md::mont_exp_ct(Ln, X, X, D, Ln, N, ninv, RR, W);
  limbs_to_be(result, X, L);
  return 0;
}

}  // namespace quarzel::rsa
