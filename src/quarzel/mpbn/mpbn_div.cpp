// Long division and reduction (Knuth, TAOCP vol. 2, 4.3.1, algorithm D).
// These branch on the values: digit estimates, corrections, add-back.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {

void divmod_lsw(const u32* u, size_t m, const u32* v, size_t n, u32* q, u32* r, u32* un, u32* vn) {
  constexpr u64 kBase = 1ull << 32;
  if (n == 1) {
    // Short division: one divisor digit.
    const u64 d = v[0];
    u64 rem = 0;
    for (size_t j = m; j-- > 0;) {
      const u64 cur = (rem << 32) | u[j];
      if (q) q[j] = static_cast<u32>(cur / d);
      rem = cur % d;
    }
    if (r) r[0] = static_cast<u32>(rem);
    return;
  }
  // D1: normalise so that the divisor's top digit has its top bit set.
  const unsigned s = static_cast<unsigned>(__builtin_clz(v[n - 1]));
  for (size_t i = n - 1; i > 0; --i) vn[i] = s ? (v[i] << s) | (v[i - 1] >> (32 - s)) : v[i];
  vn[0] = v[0] << s;
  un[m] = s ? u[m - 1] >> (32 - s) : 0;
  for (size_t i = m - 1; i > 0; --i) un[i] = s ? (u[i] << s) | (u[i - 1] >> (32 - s)) : u[i];
  un[0] = u[0] << s;

  const u64 vtop = vn[n - 1], vnext = vn[n - 2];
  for (size_t j = m - n + 1; j-- > 0;) {
    // D3: estimate the digit from the top two dividend digits, then correct
    // it with the next digit (at most two corrections).
    const u64 num = (static_cast<u64>(un[j + n]) << 32) | un[j + n - 1];
    u64 qhat = num / vtop;
    u64 rhat = num % vtop;
    while (qhat >= kBase || qhat * vnext > ((rhat << 32) | un[j + n - 2])) {
      --qhat;
      rhat += vtop;
      if (rhat >= kBase) break;
    }
    // D4: multiply and subtract.
    u64 borrow = 0, carry = 0;
    for (size_t i = 0; i < n; ++i) {
      const u64 p = qhat * vn[i] + carry;
      carry = p >> 32;
      const u64 t = static_cast<u64>(un[i + j]) - static_cast<u32>(p) - borrow;
      un[i + j] = static_cast<u32>(t);
      borrow = (t >> 32) & 1u;
    }
    const u64 t = static_cast<u64>(un[j + n]) - carry - borrow;
    un[j + n] = static_cast<u32>(t);
    // D5/D6: the estimate was one too large: add the divisor back.
    if ((t >> 32) != 0) {
      --qhat;
      u64 c = 0;
      for (size_t i = 0; i < n; ++i) {
        const u64 sum = static_cast<u64>(un[i + j]) + vn[i] + c;
        un[i + j] = static_cast<u32>(sum);
        c = sum >> 32;
      }
      un[j + n] = static_cast<u32>(un[j + n] + c);
    }
    if (q) q[j] = static_cast<u32>(qhat);
  }
  // D8: unnormalise the remainder.
  if (r) {
    for (size_t i = 0; i + 1 < n; ++i) r[i] = s ? (un[i] >> s) | (un[i + 1] << (32 - s)) : un[i];
    r[n - 1] = s ? (un[n - 1] >> s) | (un[n] << (32 - s)) : un[n - 1];
  }
}

}  // namespace quarzel::mpbn_detail

using namespace quarzel::mpbn_detail;

namespace {

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
  if (q && nw_q < k) {
    // Only significant quotient words count: the top digit may be zero.
    bool fits = false;
    if (nw_q + 1 == k) {
      int32_t c = 0;
      (void)mpbn_comp(MPBN_ENDIAN_MF_U32, static_cast<uint32_t>(4 * n), a + la, b + lb, &c);
      fits = c < 0;
    }
    if (!fits) return err(fid, MPBN_R_QUOTIENT_SHORT);
  }
  if (m < n) {
    // a < b: q = 0, r = a.
    if (q) mpbn_word_clear(q, nw_q);
    if (r) {
      // a's significant words fit: m < n <= nw_r for the remainder callers.
      const size_t keep = m < nw_r ? m : nw_r;
      std::memmove(r + (nw_r - keep), a + (nw_a - keep), keep * sizeof(u32));
      mpbn_word_clear(r, static_cast<uint32_t>(nw_r - keep));
    }
    return 0;
  }
  // Work: u (m), v (n), un (m+1), vn (n), qq (k), rr (n) as LSW-first words.
  Scratch<u32, 2048> work;
  if (!work.reserve(3 * m + 3 * n + 2)) return err(fid, MPBN_R_ALLOC);
  u32* u = work.data();
  u32* v = u + m;
  u32* un = v + n;
  u32* vn = un + m + 1;
  u32* qq = vn + n;
  u32* rr = qq + (m - n + 1);
  msw_to_lsw(u, a + la, m);
  msw_to_lsw(v, b + lb, n);
  divmod_lsw(u, m, v, n, q ? qq : nullptr, r ? rr : nullptr, un, vn);
  if (q) {
    mpbn_word_clear(q, nw_q);
    const size_t kq = k < nw_q ? k : nw_q;  // a dropped top digit is zero here
    for (size_t i = 0; i < kq; ++i) q[nw_q - 1 - i] = qq[i];
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
  u64 rem = 0;
  for (size_t i = off; i < nw_q; ++i) {
    const u64 cur = (rem << 32) | q[i];
    rem = cur % b;
    q[i] = static_cast<u32>(cur / b);
  }
  if (nw_r) {
    mpbn_word_clear(r, nw_r);
    r[nw_r - 1] = static_cast<u32>(rem);
  }
  return 0;
}

core_ret_t mpbn_mod(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_n, const mpbn_word_t* n, mpbn_word_t* r) {
  if (!a || !n || !r) return err(MPBN_FID_MOD, MPBN_R_NULL);
  if (nw_a == 0 || nw_n == 0) return err(MPBN_FID_MOD, MPBN_R_ZERO_LENGTH);
  return divide(MPBN_FID_MOD, nw_a, a, nw_n, n, 0, nullptr, nw_n, r);
}

}  // extern "C"
