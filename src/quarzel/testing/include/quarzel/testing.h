// Test seams of the primitive library, in the test-only library
// quarzel_testing: the product never links them. Not for concurrent use with
// the operations they affect.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

namespace quarzel::testing {

// The code paths with an instruction-set variant.
enum class Path : uint8_t {
  aes,   // AES and GHASH (AES-NI, PCLMULQDQ): key set-ups made afterwards
  gcm_vaes,  // GCM's 16-block VAES/VPCLMULQDQ path (the 8-block CLMUL one runs): key set-ups made afterwards
  sha,   // SHA-1 and SHA-256 (SHA extensions): contexts initialised afterwards
  mpbn,  // Montgomery products (BMI2/ADX); RSA's paired exponentiations (IFMA) off
  mpbn_exp2,  // RSA's paired CRT exponentiations (AVX-512 IFMA) on their portable model
  mpbn_ifma,  // RSA's paired CRT exponentiations (AVX-512 IFMA) off: BMI2/ADX products run as without IFMA
  ec,    // EC field products of every curve engine (ADX)
  ec_general,  // P-521's field products by the general Montgomery reduction, not the prime's form
};

// While on, `path` runs its portable code even where the CPU offers more.
void force_portable(Path path, bool on);

// Replaces the OS random source for the whole process; nullptr restores it.
void set_random_source(RandomSource source);

}  // namespace quarzel::testing
