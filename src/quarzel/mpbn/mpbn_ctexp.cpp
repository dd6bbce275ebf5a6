// Constant-time Montgomery set-up, reduction and exponentiation on 64-bit
// limbs. Nothing here divides or branches on the modulus, the base or the
// exponent: loop counts depend on limb counts only, and every choice is a
// mask. The RSA private operations and the big-number exponentiation use it
// with secret primes as moduli.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {
namespace {

// r = 2r mod n for r < n: the doubled value (with its carry limb) loses n
// under a mask when it is not below n.
void double_mod(size_t L, u64* r, const u64* n, u64* d) {
  u64 top = 0;
  for (size_t j = 0; j < L; ++j) {
    const u64 v = r[j];
    r[j] = (v << 1) | top;
    top = v >> 63;
  }
  u64 br = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 x = static_cast<u128>(r[j]) - n[j] - br;
    d[j] = static_cast<u64>(x);
    br = static_cast<u64>(x >> 64) & 1u;
  }
  // Keep the doubled value only when it had no carry limb and was below n.
  const u64 keep = ct::mask_from_bit<u64>(~top & br);
  ct::select_words<u64>(r, keep, r, d, L);
}

// Bits [pos, pos + w) of the exponent e (Le limbs); bits past the end read 0.
// Positions and widths are public; only the bits are secret.
u64 window_bits(const u64* e, size_t Le, size_t pos, unsigned w) {
  const size_t limb = pos / 64, shift = pos % 64;
  u64 v = limb < Le ? e[limb] >> shift : 0;
  if (shift + w > 64 && limb + 1 < Le) v |= e[limb + 1] << (64 - shift);
  return v & ((u64{1} << w) - 1);
}

}  // namespace

void mont_rr_ct(size_t L, u64* rr, const u64* n, u64 ninv, u64* t) {
  // 2^(65*64L/64) = 2^(64L + L) by doubling 1, then six Montgomery squarings
  // take R*2^L to R*2^(64L) = R^2 (each squaring doubles the exponent of the
  // factor beside R).
  u64* d = t + 2 * L + 2;
  for (size_t j = 0; j < L; ++j) rr[j] = 0;
  rr[0] = 1;
  for (size_t i = 0; i < 64 * L + L; ++i) double_mod(L, rr, n, d);
  for (int i = 0; i < 6; ++i) mont_sqr_limbs(L, rr, rr, n, ninv, t);
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
  mont_mul_limbs(L, table, rr, unit, n, ninv, t);          // R mod n
  mont_mul_limbs(L, table + L, base, rr, n, ninv, t);      // b R mod n
  for (size_t i = 2; i < entries; ++i) {
    u64* dst = table + i * L;
    if ((i & 1) == 0) {
      mont_sqr_limbs(L, dst, table + (i / 2) * L, n, ninv, t);
    } else {
      mont_mul_limbs(L, dst, table + (i - 1) * L, table + L, n, ninv, t);
    }
  }
  // Left to right over windows of w bits, the top window possibly partial;
  // each window is looked up by reading every entry under a mask.
  const size_t windows = (ebits + w - 1) / w;
  for (size_t j = 0; j < L; ++j) acc[j] = table[j];
  for (size_t k = windows; k-- > 0;) {
    for (unsigned s = 0; s < w; ++s) mont_sqr_limbs(L, acc, acc, n, ninv, t);
    const u64 idx = window_bits(e, Le, k * w, w);
    for (size_t j = 0; j < L; ++j) sel[j] = 0;
    for (size_t i = 0; i < entries; ++i) {
      const u64 m = ct::eq<u64>(static_cast<u64>(i), idx);
      const u64* row = table + i * L;
      for (size_t j = 0; j < L; ++j) sel[j] |= row[j] & m;
    }
    mont_mul_limbs(L, acc, acc, sel, n, ninv, t);
  }
  mont_mul_limbs(L, r, acc, unit, n, ninv, t);  // leave Montgomery form
}

}  // namespace quarzel::mpbn_detail
