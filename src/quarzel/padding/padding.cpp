// Padding: data_in followed by the method's fill, a whole number of blocks
// (NONE passes any length through).
#include <cstring>

#include "padding/padding_common.h"

namespace quarzel::padding {
namespace {

constexpr uint32_t kFn = QZ_PAD_FN_PADDING;

// Fill bytes added to L bytes of data (r = L mod B).
constexpr uint32_t fill_length(cipher_padding_t padding, uint32_t block, uint32_t r) {
  switch (padding) {
    case CIPHER_PADDING_NONE:
      return 0;
    case CIPHER_PADDING_ISO_97971_1:
      return r == 0 ? 0 : block - r;
    case CIPHER_PADDING_ISO_97971_3:
      return block + (r == 0 ? 0 : block - r);
    default:
      return block - r;
  }
}

// Writes the fill of `fill` bytes at `out` for every method but ISO/IEC
// 9797-1 method 3. `last` is the last data byte (0 when there is none) and
// `random` holds fill - 1 random bytes for ISO 10126.
void write_fill(cipher_padding_t padding, uint8_t* out, uint32_t fill, uint8_t last,
                const uint8_t* random) {
  if (fill == 0) return;
  switch (padding) {
    case CIPHER_PADDING_ANSI_X9_23:
      std::memset(out, 0, fill - 1);
      out[fill - 1] = static_cast<uint8_t>(fill);
      break;
    case CIPHER_PADDING_ISO_78164:
    case CIPHER_PADDING_ISO_97971_2:
      out[0] = 0x80;
      std::memset(out + 1, 0, fill - 1);
      break;
    case CIPHER_PADDING_ISO_10126:
      if (fill > 1) std::memcpy(out, random, fill - 1);
      out[fill - 1] = static_cast<uint8_t>(fill);
      break;
    case CIPHER_PADDING_TBC:
      // The complement of bit 0 of the last data byte, without a branch on
      // that (secret) byte: bit 0 clear gives 0xFF, set gives 0x00.
      std::memset(out, static_cast<uint8_t>((last & 1u) - 1u), fill);
      break;
    default:  // ZERO_BYTES, ISO_97971_1
      std::memset(out, 0, fill);
      break;
  }
}

// Room for out_len output bytes: 0 when data_out can take them; otherwise the
// failure, with the needed length written back when the capacity is short.
quarzel_ret_t claim_output(uint32_t out_len, uint32_t* data_out_len, const uint8_t* data_out) {
  if (data_out_len == nullptr) return pad_err(kFn, QZ_PAD_R_NULL);
  if (*data_out_len < out_len) {  // also the length query with no buffer
    *data_out_len = out_len;
    return pad_err(kFn, QZ_PAD_R_OUT_SMALL);
  }
  if (data_out == nullptr) return pad_err(kFn, QZ_PAD_R_NULL);
  return 0;
}

// PKCS #7 (RFC 5652 6.3): 1 to B bytes, each of the fill length.
quarzel_ret_t blockcipher_padding_pkcs_7(uint32_t block_size, uint32_t data_in_len, const uint8_t* data_in,
                                         uint32_t* data_out_len, uint8_t* data_out) {
  const uint32_t fill = block_size - data_in_len % block_size;
  if (data_in_len > UINT32_MAX - fill) return pad_err(kFn, QZ_PAD_R_SHAPE);
  const uint32_t out_len = data_in_len + fill;
  if (quarzel_ret_t ret = claim_output(out_len, data_out_len, data_out); ret != 0) return ret;
  // memmove: padding in place (data_out == data_in) is allowed.
  if (data_in_len != 0 && data_out != data_in) std::memmove(data_out, data_in, data_in_len);
  std::memset(data_out + data_in_len, static_cast<int>(fill), fill);
  *data_out_len = out_len;
  return 0;
}

// PKCS #5 (RFC 8018 6.1.1): the PKCS #7 fill, defined for 8-byte blocks only.
quarzel_ret_t blockcipher_padding_pkcs_5(uint32_t block_size, uint32_t data_in_len, const uint8_t* data_in,
                                         uint32_t* data_out_len, uint8_t* data_out) {
  if (block_size != 8) return pad_err(kFn, QZ_PAD_R_SHAPE);
  return blockcipher_padding_pkcs_7(block_size, data_in_len, data_in, data_out_len, data_out);
}

// Every method but the PKCS ones.
quarzel_ret_t blockcipher_padding_general(cipher_padding_t padding, uint32_t block_size, uint32_t data_in_len,
                                          const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out) {
  const uint32_t fill = fill_length(padding, block_size, data_in_len % block_size);
  const uint64_t total = uint64_t{data_in_len} + fill;
  if (total > UINT32_MAX) return pad_err(kFn, QZ_PAD_R_SHAPE);
  const auto out_len = static_cast<uint32_t>(total);
  if (out_len == 0) {
    if (data_out_len != nullptr) *data_out_len = 0;
    return 0;
  }
  if (quarzel_ret_t ret = claim_output(out_len, data_out_len, data_out); ret != 0) return ret;

  // Draw the random fill before anything is written, so that a failing source
  // leaves the output untouched.
  uint8_t random[kMaxBlock] = {};
  if (padding == CIPHER_PADDING_ISO_10126 && fill > 1 &&
      quarzel_get_random(random, fill - 1) != 0)
    return pad_err(kFn, QZ_PAD_R_RANDOM);

  // memmove: padding in place (data_out == data_in) is allowed.
  if (padding == CIPHER_PADDING_ISO_97971_3) {
    if (data_in_len != 0) std::memmove(data_out + block_size, data_in, data_in_len);
    std::memset(data_out, 0, block_size);
    const uint64_t bits = uint64_t{data_in_len} * 8;
    for (uint32_t i = 0; i < kIso97971_3LengthBytes; ++i)
      data_out[block_size - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    std::memset(data_out + block_size + data_in_len, 0, fill - block_size);
  } else {
    if (data_in_len != 0 && data_out != data_in) std::memmove(data_out, data_in, data_in_len);
    const uint8_t last = data_in_len != 0 ? data_out[data_in_len - 1] : 0;
    write_fill(padding, data_out + data_in_len, fill, last, random);
  }
  *data_out_len = out_len;
  return 0;
}

}  // namespace
}  // namespace quarzel::padding

extern "C" quarzel_ret_t blockcipher_padding(cipher_padding_t padding, uint32_t block_size,
                                             uint32_t data_in_len, const uint8_t* data_in,
                                             uint32_t* data_out_len, uint8_t* data_out) {
  using namespace quarzel::padding;
  if (data_in_len != 0 && data_in == nullptr) return pad_err(kFn, QZ_PAD_R_NULL);
  if (quarzel_ret_t ret = check_method(kFn, padding, block_size); ret != 0) return ret;
  switch (padding) {
    case CIPHER_PADDING_PKCS_7:
      return blockcipher_padding_pkcs_7(block_size, data_in_len, data_in, data_out_len, data_out);
    case CIPHER_PADDING_PKCS_5:
      return blockcipher_padding_pkcs_5(block_size, data_in_len, data_in, data_out_len, data_out);
    default:
      return blockcipher_padding_general(padding, block_size, data_in_len, data_in, data_out_len, data_out);
  }
}
