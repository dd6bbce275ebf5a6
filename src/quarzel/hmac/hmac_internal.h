// Key handling shared by HMAC and PBKDF2.
#pragma once

#include "quarzel/hash.h"
#include "quarzel/hmac.h"

namespace quarzel::hmac {

// SHA-1, SHA-2, SHA-3 and Keccak: the hashes HMAC accepts.
[[nodiscard]] bool hash_allowed(hash_type_t type) noexcept;

// Forms the HMAC key block K0 in `hotkey` (the key, or its digest when longer
// than the block, zero-filled to HMAC_MAX_BLOCK_SIZE bytes), using `scratch`
// as the hash context. The type must be allowed.
[[nodiscard]] quarzel_ret_t prepare_key(hash_ctx_t* scratch, hash_type_t type, uint32_t key_len,
                                        const uint8_t* key, uint8_t (&hotkey)[HMAC_MAX_BLOCK_SIZE]);

// Starts `h` with `type` and absorbs the block (K0 ^ pad), pad 0x36 or 0x5C.
[[nodiscard]] quarzel_ret_t start_padded(hash_ctx_t* h, hash_type_t type,
                                         const uint8_t (&hotkey)[HMAC_MAX_BLOCK_SIZE], uint8_t pad);

inline constexpr uint8_t kInnerPad = 0x36;
inline constexpr uint8_t kOuterPad = 0x5C;

}  // namespace quarzel::hmac
