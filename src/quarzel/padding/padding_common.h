// Shared argument checks of the padding and unpadding routines.
#pragma once

#include <cstdint>

#include "quarzel/padding.h"

namespace quarzel::padding {

inline constexpr uint32_t kMinBlock = 2;
inline constexpr uint32_t kMaxBlock = 255;
// ISO/IEC 9797-1 method 3 stores the data length in bits in the last five
// bytes of its length block.
inline constexpr uint32_t kIso97971_3LengthBytes = 5;

[[nodiscard]] constexpr quarzel_ret_t pad_err(uint32_t func, uint8_t reason) {
  return quarzel_err(QZ_MOD_BLOCKCIPHER, func, reason);
}

// Block size and method checks common to both directions; 0 when accepted.
// PKCS #5's own block size is checked by its routines.
[[nodiscard]] constexpr quarzel_ret_t check_method(uint32_t func, cipher_padding_t padding,
                                                   uint32_t block_size) {
  if (block_size < kMinBlock || block_size > kMaxBlock) return pad_err(func, QZ_PAD_R_SHAPE);
  if (padding == CIPHER_PADDING_UNDEFINED || padding > CIPHER_PADDING_TBC)
    return pad_err(func, QZ_PAD_R_METHOD);
  if (padding == CIPHER_PADDING_ISO_97971_3 && block_size < kIso97971_3LengthBytes)
    return pad_err(func, QZ_PAD_R_SHAPE);
  return 0;
}

}  // namespace quarzel::padding
