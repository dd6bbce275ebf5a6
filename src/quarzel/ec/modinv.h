// Modular inversion without exponentiation: the divsteps of Bernstein and
// Yang ("Fast constant-time gcd computation and modular inversion", 2019) on
// signed 62-bit limbs, applied in batches as one 2x2 matrix each. Every
// batch runs the same instructions whatever the values: choices are masks.
//
// - Moduli below 2^256 (the 4-limb fields and group orders): the half-delta
//   form, 590 divsteps in ten batches of 59, the bound computed for 256-bit
//   inputs.
// - Moduli below 2^521 (P-521's field and order): the original form (delta
//   starting at 1), 1550 divsteps in 25 batches of 62, above the paper's
//   proven bound floor((49 d + 57) / 17) = 1505 for d = 521 (its Theorem
//   11.2: f odd, f^2 + 4 g^2 <= 5 2^(2d)).
#pragma once

#include <cstddef>
#include <cstdint>

#include "ec/limbs.h"

namespace quarzel::ec {

// The constants of one odd modulus m of N 64-bit limbs (N = 4: m < 2^256;
// N = 9: m < 2^521), in K signed 62-bit limbs.
template <size_t N>
struct ModInv {
  static_assert(N == 4 || N == 9, "the widths with a divsteps bound");
  static constexpr size_t K = N == 4 ? 5 : 9;
  int64_t m[K] = {};
  u64 minv62 = 0;  // m^-1 mod 2^62

  void init(const u64 mod[N]);
};
using ModInv4 = ModInv<4>;
using ModInv9 = ModInv<9>;

// r = a^-1 mod m for a < m, and 0 for a = 0 (a plain integer, not in
// Montgomery form). r may alias a.
void modinv4(u64 r[4], const u64 a[4], const ModInv4& mi);
void modinv9(u64 r[9], const u64 a[9], const ModInv9& mi);

}  // namespace quarzel::ec
