// AES block core (FIPS 197): key expansion and one-block encryption and
// decryption over a caller-owned 480-byte schedule buffer.
//
// Schedule layout: bytes 0-239 hold the encryption round keys, 4 x (Nr + 1)
// words, each round key in FIPS 197 byte order; bytes 240-479 hold the round
// keys of the equivalent inverse cipher (same forward order, InvMixColumns
// applied to round keys 1 .. Nr-1). The portable table code and the AES-NI
// code read the same layout, so a schedule serves both.
//
// The portable path looks up tables indexed by key and data bytes: it is
// variable-time (cache timing) and chosen only where the CPU lacks AES-NI.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

inline constexpr uint32_t AES_BLOCK_SIZE = 16;
inline constexpr uint32_t CIPHER_ROUND_KEY_SIZE = 480;

extern "C" {

// The AES core as the block-cipher layer and GCM bind it, for all three key
// lengths. Each runs the AES-NI code when the process may
// (cipher_accel_default() below), else the portable routines under them;
// both paths read and write the same schedule. One block per call;
// `flag_final` is accepted for the block-routine signature and ignored; `in`
// and `out` may alias. Always 0.
//
// aes_key_expansion builds both schedules whatever `dir`; aes_decrypt reads
// the second one.
core_ret_t aes_key_expansion(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key);
core_ret_t aes_encrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in, const uint8_t* round_key,
                       uint8_t* out);
core_ret_t aes_decrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in, const uint8_t* round_key,
                       uint8_t* out);

// The portable table routines (same contract), which the ones above run on
// CPUs without AES-NI or under the test switch.
core_ret_t aes_algo_key_expansion(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key);
core_ret_t aes_algo_encrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in,
                            const uint8_t* round_key, uint8_t* out);
core_ret_t aes_algo_decrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in,
                            const uint8_t* round_key, uint8_t* out);

}  // extern "C"

namespace quarzel {

// Instruction-set paths of the AES and GHASH code. Contexts record the path
// of their key set-up, which their multi-block routines (ECB, CBC, CTR, GCM)
// follow.
enum class CipherAccel : uint32_t {
  kPortable = 0,  // table-based AES, bit-serial GHASH
  kAesNi = 1,     // AES-NI for AES, PCLMULQDQ for GHASH
};

// The path the AES core and a key set-up take now: AES-NI when the CPU has
// AES-NI, PCLMULQDQ and SSE4.1 and the test seam does not forbid it.
[[nodiscard]] CipherAccel cipher_accel_default() noexcept;
// Whether the CPU itself offers the accelerated path.
[[nodiscard]] bool cipher_accel_cpu_supported() noexcept;

}  // namespace quarzel
