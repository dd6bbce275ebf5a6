// Long division and reduction of word arrays. These branch on the values
// (digit estimates, corrections, add-back); see mpbn_divcore.cpp.
#include "mpbn/mpbn_internal.h"

using namespace quarzel::mpbn_detail;

namespace {

// Division when a < b: q (when given) = 0, r (when given) = a right-aligned
// in nw_r words. r is written first: q may share a's words.
void mpbn_div_a_less_than_b(uint32_t nw_a, const u32* a, uint32_t nw_r, u32* r, uint32_t nw_q, u32* q) {
  if (r) mpbn_word_copy_trunc(r, nw_r, a, nw_a);
  if (q) mpbn_word_clear(q, nw_q);
}

// (a_h*2^32 + a_l) = q*b + r for a_h < b: one step of short division.
inline void mpbn_2w_div_1w(u32 a_h, u32 a_l, u32 b, u32& q, u32& r) {
  const u64 cur = (static_cast<u64>(a_h) << 32) | a_l;
  q = static_cast<u32>(cur / b);
  r = static_cast<u32>(cur % b);
}

// Shared body of mpbn_div and mpbn_mod. The quotient goes right-aligned into
// nw_q words of q (when q is not null), the remainder right-aligned into
// nw_r words of r (when r is not null); both are written only on success.
core_ret_t divide(uint8_t fid, uint32_t nw_a, const u32* a, uint32_t nw_b, const u32* b, uint32_t nw_q, u32* q,
                  uint32_t nw_r, u32* r) {
  const size_t lb = lead_index_vartime(b, nw_b);
  if (lb == nw_b) return err(fid, MPBN_R_ZERO_DIVISOR);
  const size_t n = nw_b - lb;  // significant divisor words
  const size_t la = lead_index_vartime(a, nw_a);
  const size_t m = nw_a - la;  // significant dividend words
  const size_t k = m >= n ? m - n + 1 : 0;
  // The quotient of m by n significant words may need k words.
  if (q && nw_q < k) return err(fid, MPBN_R_QUOTIENT_SHORT);
  if (m < n) {
    mpbn_div_a_less_than_b(nw_a, a, nw_r, r, nw_q, q);
    return 0;
  }
  // Work: u (m), v (n), quotient (k), remainder (n) as LSW-first words.
  Scratch<u32, 2048> work;
  if (!work.reserve(m + 2 * n + k)) return err(fid, MPBN_R_ALLOC);
  u32* u = work.data();
  u32* v = u + m;
  u32* qq = v + n;
  u32* rr = qq + k;
  msw_to_lsw(u, a + la, m);
  msw_to_lsw(v, b + lb, n);
  if (!divmod_lsw(u, m, v, n, q ? qq : nullptr, r ? rr : nullptr)) return err(fid, MPBN_R_ALLOC);
  if (q) {
    mpbn_word_clear(q, nw_q);
    for (size_t i = 0; i < k; ++i) q[nw_q - 1 - i] = qq[i];
  }
  if (r) {
    mpbn_word_clear(r, nw_r);
    const size_t kr = n < nw_r ? n : nw_r;
    for (size_t i = 0; i < kr; ++i) r[nw_r - 1 - i] = rr[i];
  }
  return 0;
}

}  // namespace

extern "C" {

core_ret_t mpbn_div(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b, uint32_t nw_q,
                    mpbn_word_t* q, mpbn_word_t* r) {
  if (!a || !b || !q) return err(MPBN_FID_DIV, MPBN_R_NULL);
  if (nw_a == 0 || nw_b == 0) return err(MPBN_FID_DIV, MPBN_R_ZERO_LENGTH);
  return divide(MPBN_FID_DIV, nw_a, a, nw_b, b, nw_q, q, r ? nw_b : 0, r);
}

core_ret_t mpbn_div_1word(uint32_t nw_a, const mpbn_word_t* a, mpbn_word_t b, uint32_t nw_q, mpbn_word_t* q,
                          uint32_t nw_r, mpbn_word_t* r) {
  if (!a || !q || (nw_r && !r)) return err(MPBN_FID_DIV_1WORD, MPBN_R_NULL);
  if (nw_a == 0) return err(MPBN_FID_DIV_1WORD, MPBN_R_ZERO_LENGTH);
  if (b == 0) return err(MPBN_FID_DIV_1WORD, MPBN_R_ZERO_DIVISOR);
  if (nw_a > nw_q) return err(MPBN_FID_DIV_1WORD, MPBN_R_QUOTIENT_SHORT);
  // The dividend is moved into q's last nw_a words first (a may overlap q),
  // then divided in place from the most significant word.
  const size_t off = nw_q - nw_a;
  std::memmove(q + off, a, nw_a * sizeof(u32));
  for (size_t i = 0; i < off; ++i) q[i] = 0;
  u32 rem = 0;
  for (size_t i = off; i < nw_q; ++i) mpbn_2w_div_1w(rem, q[i], b, q[i], rem);
  if (nw_r) {
    mpbn_word_clear(r, nw_r);
    r[nw_r - 1] = rem;
  }
  return 0;
}

core_ret_t mpbn_mod(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_n, const mpbn_word_t* n, mpbn_word_t* r) {
  if (!a || !n || !r) return err(MPBN_FID_MOD, MPBN_R_NULL);
  if (nw_a == 0 || nw_n == 0) return err(MPBN_FID_MOD, MPBN_R_ZERO_LENGTH);
  return divide(MPBN_FID_MOD, nw_a, a, nw_n, n, 0, nullptr, nw_n, r);
}

}  // extern "C"
