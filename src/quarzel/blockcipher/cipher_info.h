// Properties of the cipher types, shared by the block-cipher API and GCM.
#pragma once

#include <cstdint>

#include "quarzel/aes.h"
#include "quarzel/blockcipher.h"
#include "quarzel/des.h"

namespace quarzel::bc {

using KeyExpansionFn = core_ret_t (*)(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key);

// A cipher type and the core routines of its family, which the key set-ups
// of the block-cipher API and GCM bind.
struct CipherInfo {
  cipher_type_t type;
  uint32_t key_len;
  uint32_t block_size;
  bool is_des;  // DES / TDES family (8-byte block)
  KeyExpansionFn key_expansion;
  fp_algo_calc_t encrypt;
  fp_algo_calc_t decrypt;
};

inline constexpr CipherInfo kCipherInfo[] = {
    {CIPHER_TYPE_AES128, 16, 16, false, aes_key_expansion, aes_encrypt, aes_decrypt},
    {CIPHER_TYPE_AES192, 24, 16, false, aes_key_expansion, aes_encrypt, aes_decrypt},
    {CIPHER_TYPE_AES256, 32, 16, false, aes_key_expansion, aes_encrypt, aes_decrypt},
    {CIPHER_TYPE_DES, 8, 8, true, tdes_key_expansion, tdes_encrypt, tdes_decrypt},
    {CIPHER_TYPE_TDES2, 16, 8, true, tdes_key_expansion, tdes_encrypt, tdes_decrypt},
    {CIPHER_TYPE_TDES3, 24, 8, true, tdes_key_expansion, tdes_encrypt, tdes_decrypt},
};

// Null for an unknown or refused type.
constexpr const CipherInfo* find_cipher(cipher_type_t type) {
  for (const auto& c : kCipherInfo) {
    if (c.type == type) return &c;
  }
  return nullptr;
}

// The instruction-set path a key set-up records (a CipherAccel value): the
// AES core's current one, while DES and TDES have the portable code only.
inline uint32_t accel_for(const CipherInfo& c) {
  return static_cast<uint32_t>(c.is_des ? CipherAccel::kPortable : cipher_accel_default());
}

// r = a XOR b over n bytes; any aliasing of r with a or b is allowed.
inline void mixup_bytes(uint8_t* r, const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) r[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

// The whole block as one big-endian integer plus 1, wrapping to zero.
inline void counter_increments_one(uint8_t* block, uint32_t size) {
  uint32_t carry = 1;
  for (uint32_t i = size; i-- > 0;) {
    carry += block[i];
    block[i] = static_cast<uint8_t>(carry);
    carry >>= 8;
  }
}

}  // namespace quarzel::bc
