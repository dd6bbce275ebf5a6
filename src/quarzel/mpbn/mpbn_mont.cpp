// Montgomery set-up and product, modular exponentiation.
#include <algorithm>

#include "mpbn/mpbn_internal.h"

using namespace quarzel::mpbn_detail;

namespace {

// Limbs of x * 2^(32*shift) for shift 0 or 1 (x of nw words, MSW first):
// the word array is read as if it had `shift` zero words appended.
void to_limbs_shifted(u64* dst, const u32* src, size_t nw, size_t shift) {
  const size_t total = nw + shift;
  const size_t limbs = (total + 1) / 2;
  auto word = [&](size_t k) -> u64 {  // k-th least significant word of the shifted value
    if (k < shift || k >= total) return 0;
    return src[nw - 1 - (k - shift)];
  };
  for (size_t i = 0; i < limbs; ++i) dst[i] = word(2 * i) | (word(2 * i + 1) << 32);
}

// r (nw words) = 2^(32*exp_words) mod m.
core_ret_t pow2_mod(size_t exp_words, uint32_t nw, const u32* m, u32* r, uint8_t fid) {
  Scratch<u32, 1024> p;
  if (!p.reserve(exp_words + 1)) return err(fid, MPBN_R_ALLOC);
  p.data()[0] = 1;
  return mpbn_mod(static_cast<uint32_t>(exp_words + 1), p.data(), nw, m, r);
}

// Every modulus here is odd when valid, an RSA prime included: its parity is
// public.
bool odd(uint32_t nw, const u32* m) { return ct::declassify<u32>(m[nw - 1] & 1u) != 0; }

}  // namespace

extern "C" {

core_ret_t mpbn_mul_inv_word(mpbn_word_t m, mpbn_word_t* mns_m_inv) {
  if (!mns_m_inv) return err(MPBN_FID_MUL_INV_WORD, MPBN_R_NULL);
  if ((m & 1u) == 0) return err(MPBN_FID_MUL_INV_WORD, MPBN_R_EVEN_MODULUS);
  u32 x = m;                                   // valid to 3 bits
  for (int i = 0; i < 4; ++i) x *= 2u - m * x;  // 6, 12, 24, 48 bits
  *mns_m_inv = 0u - x;
  return 0;
}

core_ret_t mpbn_mont_init(mpbn_mont_ctx_t* ctx, uint32_t nw_m, const mpbn_word_t* m, mpbn_word_t* rmodm,
                          mpbn_word_t* r2modm) {
  constexpr uint8_t fid = MPBN_FID_MONT_INIT;
  if (!ctx || !m || !r2modm) return err(fid, MPBN_R_NULL);
  if (nw_m == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  if (!odd(nw_m, m)) return err(fid, MPBN_R_EVEN_MODULUS);
  // Leading zero words in m are fine: R = 2^(32 nw_m) still exceeds m.
  core_ret_t rc = pow2_mod(2 * static_cast<size_t>(nw_m), nw_m, m, r2modm, fid);
  if (rc == 0 && rmodm) rc = pow2_mod(nw_m, nw_m, m, rmodm, fid);
  if (rc != 0) return rc;
  return mpbn_mul_inv_word(m[nw_m - 1], &ctx->m_inv);
}

core_ret_t mpbn_mont_mult(const mpbn_mont_ctx_t* ctx, uint32_t nw, const mpbn_word_t* m, const mpbn_word_t* a,
                          const mpbn_word_t* b, mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_MONT_MULT;
  if (!ctx || !m || !a || !b || !r) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  if (!odd(nw, m)) return err(fid, MPBN_R_EVEN_MODULUS);
  // On L = ceil(nw/2) limbs the product divides by 2^(64L); for odd nw that
  // is 2^32 more than R, so a enters multiplied by 2^32.
  const size_t L = (static_cast<size_t>(nw) + 1) / 2;
  const size_t shift = nw & 1u;
  Scratch<u64, 1024> work;
  if (!work.reserve(3 * L + mont_work_limbs(L))) return err(fid, MPBN_R_ALLOC);
  u64* A = work.data();
  u64* B = A + L;
  u64* M = B + L;
  u64* T = M + L;  // L+2
  to_limbs_shifted(A, a, nw, shift);
  msw_to_limbs(B, b, nw);
  msw_to_limbs(M, m, nw);
  // Lift the context's -m^-1 mod 2^32 to 64 bits with one Newton step.
  const u64 y = ctx->m_inv;
  const u64 ninv = y * (2 + M[0] * y);
  mont_mul_limbs(L, A, A, B, M, ninv, T);
  limbs_to_msw(r, A, nw);
  return 0;
}

core_ret_t mpbn_mont_mod_mul(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n,
                             mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_MONT_MOD_MUL;
  if (!a || !b || !n || !r) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  if (!odd(nw, n)) return err(fid, MPBN_R_EVEN_MODULUS);
  const size_t L = (static_cast<size_t>(nw) + 1) / 2;
  Scratch<u32, 512> words;
  Scratch<u64, 1024> work;
  if (!words.reserve(2 * static_cast<size_t>(nw)) || !work.reserve(4 * L + mont_work_limbs(L))) return err(fid, MPBN_R_ALLOC);
  u32* r2 = words.data();     // 2^(128L) mod n
  u32* bred = r2 + nw;        // b mod n
  core_ret_t rc = pow2_mod(4 * L, nw, n, r2, fid);
  if (rc == 0) rc = mpbn_mod(nw, b, nw, n, bred);
  if (rc != 0) return rc;
  u64* A = work.data();
  u64* B = A + L;
  u64* N = B + L;
  u64* S = N + L;
  u64* T = S + L;
  msw_to_limbs(A, a, nw);
  msw_to_limbs(B, bred, nw);
  msw_to_limbs(N, n, nw);
  msw_to_limbs(S, r2, nw);
  const u64 ninv = neg_inv64(N[0]);
  mont_mul_limbs(L, A, A, B, N, ninv, T);  // a*b / R'
  mont_mul_limbs(L, A, A, S, N, ninv, T);  // a*b
  limbs_to_msw(r, A, nw);
  return 0;
}

core_ret_t mpbn_mod_exp(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, uint32_t nw_e, const mpbn_word_t* e,
                        mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_MOD_EXP;
  if (!a || !n || !r || (nw_e && !e)) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  if (!odd(nw, n)) return err(fid, MPBN_R_EVEN_MODULUS);
  // Everything runs on L limbs with R' = 2^(64L); the result does not
  // depend on the choice of R. The modulus may be secret (a prime under
  // test, an RSA factor): the set-up divides nothing.
  const size_t L = (static_cast<size_t>(nw) + 1) / 2, Le = (static_cast<size_t>(nw_e) + 1) / 2;
  Scratch<u64, 1024> work;
  const size_t exp_work = mont_exp_work_limbs(L, 64 * Le);
  if (!work.reserve(3 * L + Le + std::max(exp_work, mont_rr_work_limbs(L)))) return err(fid, MPBN_R_ALLOC);
  u64* N = work.data();
  u64* RR = N + L;
  u64* X = RR + L;
  u64* E = X + L;
  u64* W = E + Le;
  msw_to_limbs(N, n, nw);
  msw_to_limbs(X, a, nw);
  if (nw_e != 0) msw_to_limbs(E, e, nw_e);
  const u64 ninv = neg_inv64(N[0]);
  mont_rr_ct(L, RR, N, ninv, W);
  mont_exp_ct(L, X, X, E, Le, N, ninv, RR, W);
  limbs_to_msw(r, X, nw);
  return 0;
}

}  // extern "C"
