// Greatest common divisor and the e = 65537 coprimality test.
#include "mpbn/mpbn_internal.h"

using namespace quarzel::mpbn_detail;

extern "C" {

core_ret_t mpbn_gcd(uint32_t max_nw, uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b,
                    uint32_t nw_r, mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_GCD;
  if (!a || !b || !r) return err(fid, MPBN_R_NULL);
  if (max_nw == 0 || nw_a == 0 || nw_b == 0 || nw_r == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  // The work arrays follow the operands (not a fixed size): any key size.
  const size_t w = nw_a > nw_b ? nw_a : nw_b;
  Scratch<u32, 2048> work;
  if (!work.reserve(3 * w)) return err(fid, MPBN_R_ALLOC);
  u32* x = work.data();
  u32* y = x + w;
  u32* rem = y + w;
  msw_to_lsw(x, a, nw_a);
  msw_to_lsw(y, b, nw_b);
  size_t sx = sig_words_lsw(x, w), sy = sig_words_lsw(y, w);
  // A zero operand means a reduction modulo zero.
  if (sx == 0 || sy == 0) return core_err(MPBN_FID_MOD, MPBN_R_ZERO_DIVISOR);
  // Euclid by remainders (variable time). The division needs at least as
  // many words in x as in y; for equal lengths x < y is fine (the first
  // remainder is x itself).
  for (;;) {
    if (sx < sy) {
      std::swap(x, y);
      std::swap(sx, sy);
    }
    std::memset(rem, 0, w * sizeof(u32));
    if (!divmod_lsw(x, sx, y, sy, nullptr, rem)) return err(fid, MPBN_R_ALLOC);
    const size_t sr = sig_words_lsw(rem, sy);
    if (sr == 0) break;
    // (x, y) = (y, rem)
    u32* old_x = x;
    x = y;
    sx = sy;
    y = rem;
    sy = sr;
    rem = old_x;
  }
  // The gcd is y; right-aligned into r, its top dropped if r is shorter.
  mpbn_word_clear(r, nw_r);
  const size_t keep = sy < nw_r ? sy : nw_r;
  for (size_t i = 0; i < keep; ++i) r[nw_r - 1 - i] = y[i];
  return 0;
}

core_ret_t mpbn_coprime_a_minus_1_with_0x10001(uint32_t nw, const mpbn_word_t* a, uint32_t* is_coprime) {
  constexpr uint8_t fid = MPBN_FID_COPRIME_0X10001;
  if (!a || !is_coprime) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  u64 rem = 0;
  for (size_t i = 0; i < nw; ++i) rem = ((rem << 32) | a[i]) % 0x10001u;
  *is_coprime = rem == 1 ? 0u : 1u;
  return 0;
}

}  // extern "C"
