// PBKDF2 (RFC 8018 5.2) with HMAC as the pseudo-random function (module 0x07).
//
// Refusals: a zero password length, salt length or requested length (0x73), a
// zero iteration count (0x72), a digest longer than 64 bytes (0x71). Errors of
// the hash and HMAC modules pass through unchanged (0x0604FF53 for a hash that
// HMAC does not allow).
#pragma once

#include <cstdint>

#include "quarzel/hash.h"
#include "quarzel/port.h"

inline constexpr uint32_t KDF_FN_PBKDF2 = 0x08;
inline constexpr uint32_t KDF_FN_PBKDF2_ITER = 0x09;

extern "C" {

// Derives *dk_len bytes (read only) into dk.
[[nodiscard]] quarzel_ret_t pbkdf2(hash_type_t type, uint32_t iterations, uint32_t password_len,
                                   const uint8_t* password, uint32_t salt_len, const uint8_t* salt,
                                   const uint32_t* dk_len, uint8_t* dk);
// One block T_counter (counter from 1); *out_len (read only) must equal the
// digest length.
[[nodiscard]] quarzel_ret_t pbkdf2_iter(hash_type_t type, uint32_t counter, uint32_t iterations,
                                        uint32_t password_len, const uint8_t* password, uint32_t salt_len,
                                        const uint8_t* salt, const uint32_t* out_len, uint8_t* out);
// The function F of RFC 8018 without the refusals above: writes
// min(*block_len, digest length) bytes of block `counter` and stores the count.
// Its errors are HMAC words.
[[nodiscard]] quarzel_ret_t pbkdf2_iter_calc(hash_type_t type, uint32_t counter, uint32_t iterations,
                                             uint32_t password_len, const uint8_t* password, uint32_t salt_len,
                                             const uint8_t* salt, uint32_t* block_len, uint8_t* block);

}  // extern "C"
