// Switches under the library's choices of code path and random source. The
// product only reads them; the test-only library quarzel_testing sets them
// (quarzel/testing.h). Not exported from any shared library.
#pragma once

#include <atomic>

#include "quarzel/port.h"

namespace quarzel::seams {

extern std::atomic<bool> aes_portable;    // key set-ups and the one-block AES routines take the portable code
extern std::atomic<bool> gcm_narrow;      // GCM key set-ups take the 128-bit CLMUL path, not VAES
extern std::atomic<bool> sha_portable;    // hash contexts take the portable SHA code
extern std::atomic<bool> mpbn_portable;   // Montgomery products take the portable code
extern std::atomic<bool> mpbn_exp2_model;  // RSA's paired exponentiations run on their portable model
extern std::atomic<bool> mpbn_exp2_off;    // RSA's paired exponentiations off: the 64-bit limb path runs
extern std::atomic<RandomSource> random_source;  // null: the OS source

}  // namespace quarzel::seams
