// Constant-time Montgomery set-up, reduction and exponentiation on 64-bit
// limbs. Nothing here divides or branches on the modulus, the base or the
// exponent: loop counts depend on limb counts only, and every choice is a
// mask. The RSA private operations and the big-number exponentiation use it
// with secret primes as moduli.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {
namespace {

// r = 2r mod n for r < n when `active` is all ones, r unchanged when it is
// zero: the doubled value (with its carry limb) loses n under a mask when it
// is not below n. d and e: L limbs each.
void double_mod(size_t L, u64* r, const u64* n, u64 active, u64* d, u64* e) {
  u64 top = 0;
  for (size_t j = 0; j < L; ++j) {
    const u64 v = r[j];
    d[j] = (v << 1) | top;
    top = v >> 63;
  }
  u64 br = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 x = static_cast<u128>(d[j]) - n[j] - br;
    e[j] = static_cast<u64>(x);
    br = static_cast<u64>(x >> 64) & 1u;
  }
  // Keep the doubled value only when it had no carry limb and was below n.
  const u64 keep = ct::mask_from_bit<u64>(~top & br);
  ct::select_words<u64>(d, keep, d, e, L);
  ct::select_words<u64>(r, active, d, r, L);
}

typedef u64 v2 __attribute__((vector_size(16), aligned(8), may_alias));

// C limbs (C even) of the selected entry, collected in C/2 128-bit
// registers across all the entries: one pass over the table, no stores.
template <size_t C>
inline void gather_chunk(u64* sel, const u64* table, size_t entries, size_t L, const u64* masks) {
  v2 acc[C / 2] = {};
  for (size_t i = 0; i < entries; ++i) {
    const v2 m = {masks[i], masks[i]};
    const u64* row = table + i * L;
#pragma GCC unroll 8
    for (size_t c = 0; c < C / 2; ++c) acc[c] |= *reinterpret_cast<const v2*>(row + 2 * c) & m;
  }
  std::memcpy(sel, acc, sizeof acc);
}

// sel (L limbs) = entry idx of the table, every entry read under a mask.
void gather(u64* sel, const u64* table, size_t entries, size_t L, u64 idx) {
  u64 masks[64];
  for (size_t i = 0; i < entries; ++i) masks[i] = ct::eq<u64>(static_cast<u64>(i), idx);
  size_t j = 0;
  for (; j + 16 <= L; j += 16) gather_chunk<16>(sel + j, table + j, entries, L, masks);
  for (; j + 2 <= L; j += 2) gather_chunk<2>(sel + j, table + j, entries, L, masks);
  for (; j < L; ++j) {
    u64 acc = 0;
    for (size_t i = 0; i < entries; ++i) acc |= table[i * L + j] & masks[i];
    sel[j] = acc;
  }
}

}  // namespace

void mod_double_ct(size_t L, u64* r, const u64* n, size_t times, u64* t) {
  for (size_t i = 0; i < times; ++i) double_mod(L, r, n, ~u64{0}, t, t + L);
}

void mont_rr_ct(size_t L, u64* rr, const u64* n, u64 ninv, u64* t) {
  // R*2^L mod n = 2^(64L + L) by doublings, then six Montgomery squarings
  // take it to R*2^(64L) = R^2 (each squaring doubles the exponent of the
  // factor beside R). The doublings start from the largest power of two not
  // above n, 2^(64(L-1)+h) for h the highest set bit of its top limb, so
  // L+64-h of them are needed: a fixed L+64 steps, those past the count
  // masked off. A modulus with an empty top limb (no key has one; its size
  // is public) starts from 1.
  const MontKernel k = mont_kernel(L);
  u64* d = t + 2 * L + 2;
  u64* e = t;
  for (size_t j = 0; j < L; ++j) rr[j] = 0;
  if (ct::declassify<u64>(ct::is_zero<u64>(n[L - 1])) != 0) {
    rr[0] = 1;
    for (size_t i = 0; i < 64 * L + L; ++i) double_mod(L, rr, n, ~u64{0}, d, e);
  } else {
    const u64 h = mpbn_highest_bit_in_word(n[L - 1]);
    rr[L - 1] = u64{1} << h;
    for (size_t i = 0; i < L + 64; ++i) {
      // The barrier keeps the compiler from folding the secret h into the
      // loop counter.
      double_mod(L, rr, n, ct::lt<u64>(ct::value_barrier<u64>(i), L + 64 - h), d, e);
    }
  }
  for (int i = 0; i < 6; ++i) k.sqr(L, rr, rr, n, ninv, t);
}

void mont_redc_ct(size_t L, u64* r, u64* t, const u64* n, u64 ninv) {
  u64 hi = 0;
  for (size_t i = 0; i < L; ++i) {
    const u64 q = t[i] * ninv;
    u64 c = 0;
    for (size_t j = 0; j < L; ++j) {
      const u128 x = static_cast<u128>(q) * n[j] + t[i + j] + c;
      t[i + j] = static_cast<u64>(x);
      c = static_cast<u64>(x >> 64);
    }
    const u128 s = static_cast<u128>(t[i + L]) + c + hi;
    t[i + L] = static_cast<u64>(s);
    hi = static_cast<u64>(s >> 64);
  }
  t[2 * L] = hi;
  mont_final_subtract(L, r, t + L, n);
}

void mod_reduce_ct(size_t L, u64* r, const u64* a, size_t La, const u64* n, u64 ninv, const u64* rr,
                   u64* t) {
  u64* wide = t + mont_work_limbs(L);  // 2L+1 limbs
  for (size_t j = 0; j < 2 * L + 1; ++j) wide[j] = j < La ? a[j] : 0;
  mont_redc_ct(L, r, wide, n, ninv);       // a / R mod n
  mont_mul_limbs(L, r, r, rr, n, ninv, t);  // a mod n
}

unsigned exp_window(size_t ebits) { return ebits > 1536 ? 6 : ebits > 160 ? 5 : ebits > 32 ? 4 : 1; }

size_t mont_exp_work_limbs(size_t L, size_t ebits) {
  return (size_t{1} << exp_window(ebits)) * L + 3 * L + mont_work_limbs(L);
}

void mont_exp_ct(size_t L, u64* r, const u64* base, const u64* e, size_t Le, const u64* n, u64 ninv,
                 const u64* rr, u64* work) {
  const MontKernel kern = mont_kernel(L);
  const size_t ebits = 64 * Le;
  const unsigned w = exp_window(ebits);
  const size_t entries = size_t{1} << w;
  u64* table = work;                 // entries x L: b^i R mod n
  u64* acc = table + entries * L;    // L
  u64* sel = acc + L;                // L
  u64* unit = sel + L;               // L
  u64* t = unit + L;                 // mont_work_limbs(L)
  for (size_t j = 0; j < L; ++j) unit[j] = 0;
  unit[0] = 1;
  kern.mul(L, table, rr, unit, n, ninv, t);          // R mod n
  kern.mul(L, table + L, base, rr, n, ninv, t);      // b R mod n
  for (size_t i = 2; i < entries; ++i) {
    u64* dst = table + i * L;
    if ((i & 1) == 0) {
      kern.sqr(L, dst, table + (i / 2) * L, n, ninv, t);
    } else {
      kern.mul(L, dst, table + (i - 1) * L, table + L, n, ninv, t);
    }
  }
  // Left to right over windows of w bits, the top window possibly partial;
  // each window is looked up by reading every entry under a mask. The top
  // window's entry is the accumulator's first value (squaring R first
  // would change nothing).
  const size_t windows = (ebits + w - 1) / w;
  gather(acc, table, entries, L, window_bits(e, Le, (windows - 1) * w, w));
  for (size_t k = windows - 1; k-- > 0;) {
    for (unsigned s = 0; s < w; ++s) kern.sqr(L, acc, acc, n, ninv, t);
    gather(sel, table, entries, L, window_bits(e, Le, k * w, w));
    kern.mul(L, acc, acc, sel, n, ninv, t);
  }
  kern.mul(L, r, acc, unit, n, ninv, t);  // leave Montgomery form
}

}  // namespace quarzel::mpbn_detail
