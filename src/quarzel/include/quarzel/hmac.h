// HMAC (RFC 2104, FIPS 198-1) over every fixed-length hash of the hash API
// (module 0x06).
//
//   hmac_ctx_t ctx;
//   hmac_init(&ctx, HASH_TYPE_SHA2_256, key_len, key);
//   hmac_update(&ctx, len, data);           // any number of times
//   uint32_t n = 32;                        // wanted MAC bytes in ...
//   hmac_final(&ctx, &n, mac);              // ... bytes written out
//
// `hmac_final` truncates: it writes min(requested, digest size) bytes and
// stores that count. A new MAC needs `hmac_init` again (with the key).
#pragma once

#include <cstdint>

#include "quarzel/hash.h"
#include "quarzel/port.h"

// State words of `hmac_ctx_t`.
inline constexpr uint32_t HMAC_STATE_INITIALISED = 0x8E7C4BDBu;
inline constexpr uint32_t HMAC_STATE_UPDATING = 0x9E8F84C1u;
inline constexpr uint32_t HMAC_STATE_FINAL = 0x393AC599u;
inline constexpr uint32_t HMAC_STATE_ERROR = 0x0F044F71u;

// Function ids (bits 23-16 of the result words).
inline constexpr uint32_t HMAC_FN_KEYGEN = 0x01;
inline constexpr uint32_t HMAC_FN_INIT = 0x04;
inline constexpr uint32_t HMAC_FN_UPDATE = 0x05;
inline constexpr uint32_t HMAC_FN_FINAL = 0x06;

// Largest block among the allowed hashes (SHA3-224 / Keccak-224 rate).
inline constexpr uint32_t HMAC_MAX_BLOCK_SIZE = 144;

struct hmac_ctx_t {
  uint32_t state;
  hash_ctx_t hash_ctx;  // inner hash; the outer one during hmac_final
  uint8_t hotkey[HMAC_MAX_BLOCK_SIZE];  // the key as HMAC uses it, zero-filled
};

extern "C" {

// Fills *key_len random bytes from the library's random source. 0x0601FF04
// when the source fails.
[[nodiscard]] quarzel_ret_t hmac_keygen(const uint32_t* key_len, uint8_t* key);
// Hash types allowed: SHA-1, SHA-2, SHA-3 and Keccak (not SHAKE, not RIPEMD);
// others give 0x0604FF53. `key` may be null when key_len is 0.
[[nodiscard]] quarzel_ret_t hmac_init(hmac_ctx_t* ctx, hash_type_t type, uint32_t key_len, const uint8_t* key);
[[nodiscard]] quarzel_ret_t hmac_update(hmac_ctx_t* ctx, uint32_t data_len, const uint8_t* data);
// *mac_len: wanted bytes in, bytes written out.
[[nodiscard]] quarzel_ret_t hmac_final(hmac_ctx_t* ctx, uint32_t* mac_len, uint8_t* mac);
// init, update and final on a context of its own; returns the first failure.
[[nodiscard]] quarzel_ret_t hmac_onestep(hash_type_t type, uint32_t key_len, const uint8_t* key, uint32_t data_len,
                                         const uint8_t* data, uint32_t* mac_len, uint8_t* mac);

}  // extern "C"
