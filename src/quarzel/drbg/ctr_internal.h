// CTR_DRBG parameters and key handling shared by the mechanism and its
// derivation function.
#pragma once

#include <cstdint>

#include "quarzel/drbg.h"

namespace quarzel::drbg {

// Per cipher (bytes unless marked). The counter field is the whole block.
struct CtrParams {
  cipher_type_t type;
  uint32_t v_len;           // block
  uint32_t key_len;         // key handed to the block cipher
  uint32_t seed_key_len;    // key bytes in the seed material (TDES: 168 bits)
  uint32_t seed_len;        // seed_key_len + v_len
  uint32_t min_entropy_bits;  // with df
  uint32_t min_nonce_bits;    // with df, when a nonce is given
  uint32_t df_blocks;       // BCC outputs needed for K || X
};

inline constexpr CtrParams kCtrParams[] = {
    {CIPHER_TYPE_AES128, 16, 16, 16, 32, 128, 64, 2},
    {CIPHER_TYPE_AES192, 16, 24, 24, 40, 192, 96, 3},
    {CIPHER_TYPE_AES256, 16, 32, 32, 48, 256, 128, 3},
    {CIPHER_TYPE_TDES3, 8, 24, 21, 29, 112, 56, 4},
};

inline constexpr uint32_t kCtrMaxSeedLen = 48;
inline constexpr uint32_t kCtrMaxBlock = 16;
inline constexpr uint32_t kTdesSeedKeyLen = 21;

[[nodiscard]] constexpr const CtrParams* ctr_params(cipher_type_t type) {
  for (const CtrParams& p : kCtrParams)
    if (p.type == type) return &p;
  return nullptr;
}

// The 24-byte TDES key of 168 key bits: 24 groups of 7 bits, most significant
// first, each the high bits of a byte whose low bit gives it odd parity.
// Computed rather than looked up, since the bits are secret.
inline void tdes_key_from_168_bits(const uint8_t in[kTdesSeedKeyLen], uint8_t out[24]) {
  for (uint32_t i = 0; i < 24; ++i) {
    const uint32_t bit = 7 * i;
    const uint32_t idx = bit / 8;
    const uint32_t pair = (uint32_t{in[idx]} << 8) | (idx + 1 < kTdesSeedKeyLen ? in[idx + 1] : 0u);
    const uint32_t group = (pair >> (9 - bit % 8)) & 0x7Fu;
    uint32_t parity = group ^ (group >> 4);
    parity ^= parity >> 2;
    parity ^= parity >> 1;
    out[i] = static_cast<uint8_t>((group << 1) | ((parity & 1u) ^ 1u));
  }
}

// Key and block-cipher key bytes from seed_key_len bytes of seed material.
inline void set_cipher_key(const CtrParams& p, const uint8_t* seed_key, uint8_t* key) {
  if (p.type == CIPHER_TYPE_TDES3) {
    tdes_key_from_168_bits(seed_key, key);
  } else {
    for (uint32_t i = 0; i < p.key_len; ++i) key[i] = seed_key[i];
  }
}

}  // namespace quarzel::drbg
