// Block padding methods: pad a byte string to whole blocks before the last
// encryption call, strip the fill after the last decryption call. The cipher
// modes never pad; these routines are the separate step.
//
// Block sizes 2 to 255 are accepted (ISO/IEC 9797-1 method 3 needs at least 5
// for its 40-bit length field). Result words are module 0x01:
//   function 0x01 blockcipher_padding, 0x02 blockcipher_unpadding;
//   reason 0x05 a required pointer is null, 0x3C block size or input shape not
//   accepted, 0x3E unknown method, 0x39 output buffer too small (the needed
//   length is written back), 0x3F bad padding, 0x04 random source failed.
// A failing call writes nothing to data_out.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

enum cipher_padding_t : uint32_t {
  CIPHER_PADDING_UNDEFINED = 0,
  CIPHER_PADDING_NONE = 1,         // data copied as it is
  CIPHER_PADDING_ZERO_BYTES = 2,   // B - r zero bytes (a whole block when r = 0)
  CIPHER_PADDING_PKCS_7 = 3,       // RFC 5652
  CIPHER_PADDING_PKCS_5 = 4,       // PKCS #7 with B = 8 only
  CIPHER_PADDING_ANSI_X9_23 = 5,   // zeros, then the fill length
  CIPHER_PADDING_ISO_78164 = 6,    // 0x80, then zeros (ISO/IEC 7816-4)
  CIPHER_PADDING_ISO_97971_1 = 7,  // zeros to the boundary, none when aligned
  CIPHER_PADDING_ISO_97971_2 = 8,  // as ISO/IEC 7816-4
  CIPHER_PADDING_ISO_97971_3 = 9,  // length block, data, zeros to the boundary
  CIPHER_PADDING_ISO_10126 = 10,   // random bytes, then the fill length
  CIPHER_PADDING_TBC = 11,         // trailing bit complement
};

inline constexpr uint32_t QZ_PAD_FN_PADDING = 0x01;
inline constexpr uint32_t QZ_PAD_FN_UNPADDING = 0x02;

inline constexpr uint8_t QZ_PAD_R_NULL = 0x05;
inline constexpr uint8_t QZ_PAD_R_RANDOM = 0x04;
inline constexpr uint8_t QZ_PAD_R_OUT_SMALL = 0x39;
inline constexpr uint8_t QZ_PAD_R_SHAPE = 0x3C;
inline constexpr uint8_t QZ_PAD_R_METHOD = 0x3E;
inline constexpr uint8_t QZ_PAD_R_BAD = 0x3F;

extern "C" {

// Writes data_in followed by the method's fill (method 3 of ISO/IEC 9797-1:
// length block, data, zeros). *data_out_len is the capacity in and the length
// written (or needed) out. data_in may be null only when data_in_len is 0;
// data_out_len and data_out may be null only when the output is empty.
[[nodiscard]] quarzel_ret_t blockcipher_padding(cipher_padding_t padding, uint32_t block_size,
                                                uint32_t data_in_len, const uint8_t* data_in,
                                                uint32_t* data_out_len, uint8_t* data_out);

// Checks the fill of data_in (a whole, non-zero number of blocks) and writes
// the data without it. Content checks run without branches on the fill bytes.
[[nodiscard]] quarzel_ret_t blockcipher_unpadding(cipher_padding_t padding, uint32_t block_size,
                                                  uint32_t data_in_len, const uint8_t* data_in,
                                                  uint32_t* data_out_len, uint8_t* data_out);

}  // extern "C"
