// Modular addition, subtraction, multiplication and inversion.
#include "mpbn/mpbn_internal.h"

using namespace quarzel::mpbn_detail;

namespace {

// ---- LSW-first helpers for the inversions (variable time) ------------------

bool is_even(const u32* x) { return (x[0] & 1u) == 0; }
bool is_zero_lsw(const u32* x, size_t n) { return sig_words_lsw(x, n) == 0; }
bool is_one_lsw(const u32* x, size_t n) { return x[0] == 1 && sig_words_lsw(x + 1, n - 1) == 0; }

// x (n words) shifted right by one bit, top_in (0 or 1) entering the top.
void shr1(size_t n, u32* x, u32 top_in) {
  for (size_t i = 0; i + 1 < n; ++i) x[i] = (x[i] >> 1) | (x[i + 1] << 31);
  x[n - 1] = (x[n - 1] >> 1) | (top_in << 31);
}
// x += y (y has ny <= n words, zero-extended); returns the carry.
u32 add_lsw(size_t n, u32* x, const u32* y, size_t ny) {
  u64 c = 0;
  for (size_t i = 0; i < n; ++i) {
    const u64 s = static_cast<u64>(x[i]) + (i < ny ? y[i] : 0) + c;
    x[i] = static_cast<u32>(s);
    c = s >> 32;
  }
  return static_cast<u32>(c);
}
// a -= b (b has nb <= n words, zero-extended); returns the borrow. In two's
// complement the same words serve the signed coefficients and the unsigned
// u and v.
u32 mpbn_sign_sub(size_t n, u32* a, const u32* b, size_t nb) {
  u64 br = 0;
  for (size_t i = 0; i < n; ++i) {
    const u64 d = static_cast<u64>(a[i]) - (i < nb ? b[i] : 0) - br;
    a[i] = static_cast<u32>(d);
    br = (d >> 32) & 1u;
  }
  return static_cast<u32>(br);
}
int cmp_lsw(const u32* x, const u32* y, size_t n) {
  for (size_t i = n; i-- > 0;)
    if (x[i] != y[i]) return x[i] > y[i] ? 1 : -1;
  return 0;
}

// a = (a + b) / 2 over n words, the carry of the sum entering the top bit.
void mpbn_add_div_two(size_t n, u32* a, const u32* b) { shr1(n, a, add_lsw(n, a, b, n)); }
// a = a - b mod m for a, b in [0, m), n words each.
void mpbn_sub_mod(size_t n, u32* a, const u32* b, const u32* m) {
  if (mpbn_sign_sub(n, a, b, n)) add_lsw(n, a, m, n);
}
// Signed (two's complement) a of n words halved, rounding towards minus
// infinity: an arithmetic shift.
void mpbn_sign_div_two(size_t n, u32* a) { shr1(n, a, a[n - 1] >> 31); }
// a = (a + b) / 2 and a = (a - b) / 2 for a signed a of n words and an
// unsigned b of nb < n words; a + b and a - b must be even and fit.
void mpbn_sign_add_div_two(size_t n, u32* a, const u32* b, size_t nb) {
  add_lsw(n, a, b, nb);
  mpbn_sign_div_two(n, a);
}
void mpbn_sign_sub_div_two(size_t n, u32* a, const u32* b, size_t nb) {
  mpbn_sign_sub(n, a, b, nb);
  mpbn_sign_div_two(n, a);
}

// out (nn words, LSW) = x mod n for a non-negative x of nx words; n != 0.
[[nodiscard]] bool reduce_lsw(const u32* x, size_t nx, const u32* n, size_t nn, u32* out) {
  const size_t sx = sig_words_lsw(x, nx), sn = sig_words_lsw(n, nn);
  std::memset(out, 0, nn * sizeof(u32));
  if (sx < sn) {
    std::memcpy(out, x, sx * sizeof(u32));
    return true;
  }
  return divmod_lsw(x, sx, n, sn, nullptr, out);
}

// out (nn words) = a mod n in [0, n) for a signed (two's complement) a of
// na words; a is destroyed. False when work space cannot be had.
[[nodiscard]] bool mpbn_sign_mod(size_t na, u32* a, const u32* n, size_t nn, u32* out) {
  const bool negative = (a[na - 1] >> 31) != 0;
  if (negative) {  // a = -|a|
    for (size_t i = 0; i < na; ++i) a[i] = ~a[i];
    const u32 one = 1;
    add_lsw(na, a, &one, 1);
  }
  if (!reduce_lsw(a, na, n, nn, out)) return false;
  if (negative && !is_zero_lsw(out, nn)) {
    // n - (|a| mod n)
    for (size_t i = 0; i < nn; ++i) a[i] = n[i];
    mpbn_sign_sub(nn, a, out, nn);
    std::memcpy(out, a, nn * sizeof(u32));
  }
  return true;
}

}  // namespace

extern "C" {

core_ret_t mpbn_mod_add(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n,
                        mpbn_word_t* r) {
  if (!a || !b || !n || !r) return err(MPBN_FID_MOD_ADD, MPBN_R_NULL);
  if (nw == 0) return err(MPBN_FID_MOD_ADD, MPBN_R_ZERO_LENGTH);
  // r = a + b, then n subtracted under a mask when the sum carried or is
  // not below n.
  u64 c = 0;
  for (size_t i = nw; i-- > 0;) {
    const u64 s = static_cast<u64>(a[i]) + b[i] + c;
    r[i] = static_cast<u32>(s);
    c = s >> 32;
  }
  u64 br = 0;
  for (size_t i = nw; i-- > 0;) br = ((static_cast<u64>(r[i]) - n[i] - br) >> 32) & 1u;
  sub_masked(ct::mask_from_bit<u32>(static_cast<u32>(c | (br ^ 1u))), nw, r, n, r);
  return 0;
}

core_ret_t mpbn_mod_sub(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n,
                        mpbn_word_t* r) {
  if (!a || !b || !n || !r) return err(MPBN_FID_MOD_SUB, MPBN_R_NULL);
  if (nw == 0) return err(MPBN_FID_MOD_SUB, MPBN_R_ZERO_LENGTH);
  u64 br = 0;
  for (size_t i = nw; i-- > 0;) {
    const u64 d = static_cast<u64>(a[i]) - b[i] - br;
    r[i] = static_cast<u32>(d);
    br = (d >> 32) & 1u;
  }
  add_masked(ct::mask_from_bit<u32>(static_cast<u32>(br)), nw, r, n, r);
  return 0;
}

core_ret_t mpbn_mod_mul(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n,
                        mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_MOD_MUL;
  if (!a || !b || !n || !r) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  // Product and reduction in one work area, least significant word first:
  // a, b, n, product (2nw), remainder.
  const size_t w = nw;
  Scratch<u32, 1024> work;
  if (!work.reserve(6 * w)) return err(fid, MPBN_R_ALLOC);
  u32* wa = work.data();
  u32* wb = wa + w;
  u32* wn = wb + w;
  u32* prod = wn + w;
  u32* rem = prod + 2 * w;
  msw_to_lsw(wn, n, w);
  const size_t sn = sig_words_lsw(wn, w);
  if (sn == 0) return core_err(MPBN_FID_MOD, MPBN_R_ZERO_DIVISOR);  // as the reduction reports it
  msw_to_lsw(wa, a, w);
  msw_to_lsw(wb, b, w);
  mul_lsw(prod, 2 * w, wa, w, wb, w);
  const size_t sp = sig_words_lsw(prod, 2 * w);
  if (sp < sn) {
    std::memcpy(rem, prod, sp * sizeof(u32));
  } else {
    if (!divmod_lsw(prod, sp, wn, sn, nullptr, rem)) return err(fid, MPBN_R_ALLOC);
  }
  lsw_to_msw(r, rem, w);
  return 0;
}

core_ret_t mpbn_mod_inv_fast(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_MOD_INV_FAST;
  if (!a || !n || !r) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  if ((n[nw - 1] & 1u) == 0) return err(fid, MPBN_R_EVEN_MODULUS);
  const size_t w = static_cast<size_t>(nw) + 1;
  Scratch<u32, 1024> work;
  if (!work.reserve(5 * w)) return err(fid, MPBN_R_ALLOC);
  u32* u = work.data();
  u32* v = u + w;
  u32* x1 = v + w;
  u32* x2 = x1 + w;
  u32* nn = x2 + w;
  msw_to_lsw(u, n, nw);
  msw_to_lsw(nn, n, nw);
  msw_to_lsw(v, a, nw);
  if (is_one_lsw(nn, w)) {  // everything is congruent modulo 1
    mpbn_word_clear(r, nw);
    return 0;
  }
  if (is_zero_lsw(v, w)) return err(fid, MPBN_R_NO_INVERSE);
  x2[0] = 1;
  // Invariants: x1*a == u and x2*a == v (mod n); x1, x2 in [0, n).
  const u64 bound = 64ull * nw + 2;
  for (u64 it = 0; it < bound; ++it) {
    while (is_even(u)) {
      shr1(w, u, 0);
      if (is_even(x1))
        shr1(w, x1, 0);
      else
        mpbn_add_div_two(w, x1, nn);
    }
    while (is_even(v)) {
      shr1(w, v, 0);
      if (is_even(x2))
        shr1(w, x2, 0);
      else
        mpbn_add_div_two(w, x2, nn);
    }
    const int c = cmp_lsw(u, v, w);
    if (c == 0) return err(fid, MPBN_R_NO_INVERSE);  // u = v = gcd > 1
    if (c > 0) {
      mpbn_sign_sub(w, u, v, w);
      mpbn_sub_mod(w, x1, x2, nn);
    } else {
      mpbn_sign_sub(w, v, u, w);
      mpbn_sub_mod(w, x2, x1, nn);
    }
    if (is_one_lsw(v, w)) {
      lsw_to_msw(r, x2, nw);
      return 0;
    }
    if (is_one_lsw(u, w)) {
      lsw_to_msw(r, x1, nw);
      return 0;
    }
  }
  return err(fid, MPBN_R_NO_INVERSE);
}

core_ret_t mpbn_mod_inv_slow(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_MOD_INV_SLOW;
  if (!a || !n || !r) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  const size_t w = nw;      // u, v
  const size_t sw = w + 2;  // signed A, B, C, D with room for the sign and carries
  Scratch<u32, 2048> work;
  if (!work.reserve(2 * w + 4 * sw + 2 * w + w)) return err(fid, MPBN_R_ALLOC);
  u32* u = work.data();
  u32* v = u + w;
  u32* A = v + w;
  u32* B = A + sw;
  u32* C = B + sw;
  u32* D = C + sw;
  u32* nn = D + sw;
  u32* aa = nn + w;
  u32* out = aa + w;  // the result, LSW first
  msw_to_lsw(u, n, nw);
  msw_to_lsw(nn, n, nw);
  msw_to_lsw(v, a, nw);
  msw_to_lsw(aa, a, nw);
  if (is_zero_lsw(nn, w)) return err(fid, MPBN_R_ZERO_DIVISOR);
  if (is_one_lsw(nn, w)) {
    mpbn_word_clear(r, nw);
    return 0;
  }
  // Zero has no inverse; with both a and n even, 2 divides their gcd.
  if (is_zero_lsw(v, w) || (is_even(u) && is_even(v))) return err(fid, MPBN_R_NO_INVERSE);
  A[0] = 1;
  D[0] = 1;
  // Binary extended Euclid (HAC 14.61) with x = n, y = a:
  // A*n + B*a = u and C*n + D*a = v. Halving u (or v) halves its pair of
  // coefficients, made even first by adding a to one and taking n from the
  // other, which keeps the sum.
  auto halve_pair = [&](u32* X, u32* Y) {
    if (is_even(X) && is_even(Y)) {
      mpbn_sign_div_two(sw, X);
      mpbn_sign_div_two(sw, Y);
    } else {
      mpbn_sign_add_div_two(sw, X, aa, w);
      mpbn_sign_sub_div_two(sw, Y, nn, w);
    }
  };
  const u64 bound = 64ull * nw + 2;
  for (u64 it = 0; it < bound; ++it) {
    while (is_even(u)) {
      shr1(w, u, 0);
      halve_pair(A, B);
    }
    while (is_even(v)) {
      shr1(w, v, 0);
      halve_pair(C, D);
    }
    const int c = cmp_lsw(u, v, w);
    if (c == 0) return err(fid, MPBN_R_NO_INVERSE);
    if (c > 0) {
      mpbn_sign_sub(w, u, v, w);
      mpbn_sign_sub(sw, A, C, sw);
      mpbn_sign_sub(sw, B, D, sw);
    } else {
      mpbn_sign_sub(w, v, u, w);
      mpbn_sign_sub(sw, C, A, sw);
      mpbn_sign_sub(sw, D, B, sw);
    }
    u32* coef = is_one_lsw(v, w) ? D : (is_one_lsw(u, w) ? B : nullptr);
    if (coef) {
      if (!mpbn_sign_mod(sw, coef, nn, w, out)) return err(fid, MPBN_R_ALLOC);
      lsw_to_msw(r, out, nw);
      return 0;
    }
  }
  return err(fid, MPBN_R_NO_INVERSE);
}

core_ret_t mpbn_mod_inv(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, mpbn_word_t* r) {
  if (!a || !n || !r) return err(MPBN_FID_MOD_INV, MPBN_R_NULL);
  if (nw == 0) return err(MPBN_FID_MOD_INV, MPBN_R_ZERO_LENGTH);
  return (n[nw - 1] & 1u) ? mpbn_mod_inv_fast(nw, a, n, r) : mpbn_mod_inv_slow(nw, a, n, r);
}

}  // extern "C"
