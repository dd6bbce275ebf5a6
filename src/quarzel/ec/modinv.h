// Modular inversion without exponentiation: the divsteps of Bernstein and
// Yang ("Fast constant-time gcd computation and modular inversion", 2019),
// in the half-delta form, on signed 62-bit limbs. For any odd modulus below
// 2^256 (the 4-limb fields and group orders): 590 divsteps, in ten batches of
// 59 applied as one 2x2 matrix each, always reach the gcd. Every batch runs
// the same instructions whatever the values: choices are masks.
#pragma once

#include <cstdint>

#include "ec/limbs.h"

namespace quarzel::ec {

// The constants of one odd modulus m < 2^256.
struct ModInv4 {
  int64_t m[5] = {};  // m in five signed 62-bit limbs
  u64 minv62 = 0;     // m^-1 mod 2^62

  void init(const u64 mod[4]);
};

// r = a^-1 mod m for a < m, and 0 for a = 0 (a plain integer, not in
// Montgomery form). r may alias a.
void modinv4(u64 r[4], const u64 a[4], const ModInv4& mi);

}  // namespace quarzel::ec
