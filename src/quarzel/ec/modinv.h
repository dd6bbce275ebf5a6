// Modular inversion without exponentiation: the divsteps of Bernstein and
// Yang ("Fast constant-time gcd computation and modular inversion", 2019) on
// signed 62-bit limbs, applied in batches as one 2x2 matrix each. Every
// batch runs the same instructions whatever the values: choices are masks.
//
// - Moduli below 2^256 (the 4-limb fields and group orders): the half-delta
//   form, 590 divsteps in ten batches of 59, the bound computed for 256-bit
//   inputs.
// - Moduli below 2^384 (the 6-limb fields and orders) and below 2^521
//   (P-521's): the original form (delta starting at 1) in batches of 62,
//   above the paper's proven bound floor((49 d + 57) / 17) for d-bit inputs
//   (its Theorem 11.2: f odd, f^2 + 4 g^2 <= 5 2^(2d)): 1116 divsteps for
//   d = 384 (bound 1110), 1550 for d = 521 (bound 1505).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ec/limbs.h"

namespace quarzel::ec {

// The widths with a divsteps inversion, in 64-bit limbs.
template <size_t N>
constexpr bool kHasModInv = N == 4 || N == 6 || N == 9;

// The constants of one odd modulus m of N 64-bit limbs (N = 4: m < 2^256;
// N = 6: m < 2^384; N = 9: m < 2^521), in K signed 62-bit limbs.
template <size_t N>
struct ModInv {
  static_assert(kHasModInv<N>, "the widths with a divsteps bound");
  static constexpr size_t K = N == 4 ? 5 : N == 6 ? 7 : 9;
  int64_t m[K] = {};
  u64 minv62 = 0;  // m^-1 mod 2^62

  void init(const u64 mod[N]);
};

// r = a^-1 mod m for a < m, and 0 for a = 0 (a plain integer, not in
// Montgomery form). r may alias a.
template <size_t N>
void modinv(u64 r[N], const u64 a[N], const ModInv<N>& mi);

}  // namespace quarzel::ec
