// DES / TDEA block core (FIPS 46-3, SP 800-67 keying options) over a
// caller-owned 480-byte schedule buffer.
//
// Keying: a 24-byte key gives K1, K2, K3; a 16-byte key K1, K2 and K3 = K1;
// any other length uses the first 8 bytes as K1 = K2 = K3 (single DES).
// Parity bits are ignored. The schedule holds 48 subkeys of 6 bytes (most
// significant first): 16 for K1, K2, K3 each, ordered for the direction given
// at expansion. `tdes_encrypt` needs a schedule expanded for CIPHER_DIR_ENC,
// `tdes_decrypt` one expanded for decryption. One block per call;
// `flag_final` and `key_len` are accepted for the block-routine signature and
// ignored (the schedule holds the keying option); `in` and `out` may alias.
// Always 0.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

inline constexpr uint32_t DES_BLOCK_SIZE = 8;

extern "C" {

core_ret_t tdes_key_expansion(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key);
core_ret_t tdes_encrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in, const uint8_t* round_key,
                        uint8_t* out);
core_ret_t tdes_decrypt(uint32_t flag_final, uint32_t key_len, const uint8_t* in, const uint8_t* round_key,
                        uint8_t* out);

}  // extern "C"
