// Unpadding: check the fill and strip it. The fill of decrypted data is
// attacker-influenced and its check must not become a padding oracle through
// timing, so every content check reads the same bytes whatever their values and
// folds the verdict into a mask; only the final verdict is branched on.
#include <cstring>

#include "quarzel/ct.h"
#include "padding/padding_common.h"

namespace quarzel::padding {
namespace {

constexpr uint32_t kFn = QZ_PAD_FN_UNPADDING;

// Verdict of a fill check: `good` is all ones when the fill is valid; the data
// are `len` bytes starting at `offset` of the input.
struct Verdict {
  uint32_t good;
  uint32_t offset;
  uint32_t len;
};

// Number of trailing bytes of `blk` (B bytes, scanned from the end, at most
// `limit` of them) that equal `value`.
uint32_t trailing_run(const uint8_t* blk, uint32_t block, uint32_t limit, uint32_t value) {
  uint32_t run = ~0u;
  uint32_t count = 0;
  for (uint32_t d = 0; d < limit; ++d) {
    run &= ct::eq<uint32_t>(blk[block - 1 - d], value);
    count += run & 1u;
  }
  return count;
}

// blk[index] for a secret index, reading every byte of the block; 0 when the
// index is outside it.
uint32_t byte_at(const uint8_t* blk, uint32_t block, uint32_t index) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < block; ++i) v |= blk[i] & ct::eq<uint32_t>(i, index);
  return v;
}

// PKCS #7 / PKCS #5 (k bytes of value k), ANSI X9.23 (k - 1 zeros, then k) and
// ISO 10126 (k - 1 unchecked bytes, then k): k is the last byte, 1 to B.
Verdict check_length_byte(cipher_padding_t padding, const uint8_t* blk, uint32_t block, uint32_t n) {
  const uint32_t k = blk[block - 1];
  uint32_t good = ~ct::is_zero<uint32_t>(k) & ~ct::lt<uint32_t>(block, k);
  for (uint32_t d = 1; d < block; ++d) {
    const uint32_t in_fill = ct::lt<uint32_t>(d, k);
    const uint32_t b = blk[block - 1 - d];
    if (padding == CIPHER_PADDING_PKCS_7)
      good &= ~in_fill | ct::eq<uint32_t>(b, k);
    else if (padding == CIPHER_PADDING_ANSI_X9_23)
      good &= ~in_fill | ct::is_zero<uint32_t>(b);
  }
  return {good, 0, n - (k & good)};
}

// ISO/IEC 7816-4 and ISO/IEC 9797-1 method 2: 0x80, then at most B - 1 zeros.
Verdict check_80_zeros(const uint8_t* blk, uint32_t block, uint32_t n) {
  const uint32_t zeros = trailing_run(blk, block, block - 1, 0);
  const uint32_t marker = byte_at(blk, block, block - 1 - zeros);
  const uint32_t good = ct::eq<uint32_t>(marker, 0x80);
  return {good, 0, n - ((zeros + 1) & good)};
}

// Trailing bit complement: a run of 0xFF after a byte with bit 0 clear, or of
// 0x00 after a byte with bit 0 set, ending the input. The run is counted
// within the last block, so it is 1 to B bytes.
Verdict check_tbc(const uint8_t* data, uint32_t block, uint32_t n) {
  const uint8_t* blk = data + n - block;
  const uint32_t f = blk[block - 1];
  const uint32_t is_ff = ct::eq<uint32_t>(f, 0xFF);
  uint32_t good = is_ff | ct::is_zero<uint32_t>(f);
  const uint32_t k = trailing_run(blk, block, block, f);
  // The byte before the fill: inside the last block, or the last byte of the
  // block before it when the fill covers a whole block. With a one-block input
  // filled entirely there is none: that is the padding of empty data (0xFF
  // fill); a 0x00 fill needs a data byte with bit 0 set and is refused.
  const uint32_t whole = ct::eq<uint32_t>(k, block);
  const uint32_t outside = n > block ? data[n - block - 1] : 0u;
  const uint32_t has_outside = n > block ? ~0u : 0u;
  const uint32_t before = byte_at(blk, block, block - 1 - k) | (whole & outside);
  const uint32_t has_before = ~whole | has_outside;
  good &= ~(is_ff & has_before & (0u - (before & 1u)));
  good &= ~(~is_ff & ~has_before);
  return {good, 0, n - (k & good)};
}

// Zero fill (ZERO_BYTES needs at least one fill byte, ISO/IEC 9797-1 method 1
// none): the trailing zeros of the last block.
Verdict check_zeros(cipher_padding_t padding, const uint8_t* blk, uint32_t block, uint32_t n) {
  const uint32_t k = trailing_run(blk, block, block, 0);
  const uint32_t good = padding == CIPHER_PADDING_ZERO_BYTES ? ~ct::is_zero<uint32_t>(k) : ~0u;
  return {good, 0, n - (k & good)};
}

// ISO/IEC 9797-1 method 3: a length block (L x 8 as a 40-bit big-endian number
// in its last five bytes, zeros before), L data bytes, zeros to the end.
Verdict check_iso97971_3(const uint8_t* data, uint32_t block, uint32_t n) {
  const uint32_t head = block - kIso97971_3LengthBytes;
  uint32_t acc = 0;
  for (uint32_t i = 0; i < head; ++i) acc |= data[i];
  // L x 8 < 2^35, so the top five bits of the field and the low three bits
  // (a whole number of bytes) must be clear.
  acc |= data[head] & 0xF8u;
  acc |= data[block - 1] & 0x07u;
  uint64_t bits = 0;
  for (uint32_t i = head; i < block; ++i) bits = (bits << 8) | data[i];
  const auto len = static_cast<uint32_t>(bits >> 3);
  uint32_t good = ct::is_zero<uint32_t>(acc) & ~ct::lt<uint32_t>(n - block, len);
  uint32_t tail = 0;
  for (uint32_t i = 0; i < n - block; ++i) tail |= data[block + i] & ct::ge<uint32_t>(i, len);
  good &= ct::is_zero<uint32_t>(tail);
  return {good, block, len & good};
}

Verdict check_fill(cipher_padding_t padding, const uint8_t* data, uint32_t block, uint32_t n) {
  const uint8_t* last = data + n - block;
  switch (padding) {
    case CIPHER_PADDING_NONE:
      return {~0u, 0, n};
    case CIPHER_PADDING_ZERO_BYTES:
    case CIPHER_PADDING_ISO_97971_1:
      return check_zeros(padding, last, block, n);
    case CIPHER_PADDING_ISO_78164:
    case CIPHER_PADDING_ISO_97971_2:
      return check_80_zeros(last, block, n);
    case CIPHER_PADDING_ISO_97971_3:
      return check_iso97971_3(data, block, n);
    case CIPHER_PADDING_TBC:
      return check_tbc(data, block, n);
    default:  // ANSI_X9_23, ISO_10126
      return check_length_byte(padding, last, block, n);
  }
}

// Writes the data that a verdict names, or fails: bad padding, or the needed
// length written back when the capacity is short.
quarzel_ret_t deliver(const Verdict& v, const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out) {
  if (v.good != ~0u) return pad_err(kFn, QZ_PAD_R_BAD);
  if (*data_out_len < v.len) {
    *data_out_len = v.len;
    return pad_err(kFn, QZ_PAD_R_OUT_SMALL);
  }
  if (v.len != 0) {
    if (data_out == nullptr) return pad_err(kFn, QZ_PAD_R_NULL);
    std::memmove(data_out, data_in + v.offset, v.len);  // in place allowed
  }
  *data_out_len = v.len;
  return 0;
}

// PKCS #7 (RFC 5652 6.3): the last byte k is 1 to B and the last k bytes all
// equal k. The input is whole blocks, at least one.
quarzel_ret_t blockcipher_unpadding_pkcs_7(uint32_t block_size, uint32_t data_in_len, const uint8_t* data_in,
                                           uint32_t* data_out_len, uint8_t* data_out) {
  const Verdict v =
      check_length_byte(CIPHER_PADDING_PKCS_7, data_in + data_in_len - block_size, block_size, data_in_len);
  return deliver(v, data_in, data_out_len, data_out);
}

// PKCS #5 (RFC 8018 6.1.2): the PKCS #7 check, for 8-byte blocks only.
quarzel_ret_t blockcipher_unpadding_pkcs_5(uint32_t block_size, uint32_t data_in_len, const uint8_t* data_in,
                                           uint32_t* data_out_len, uint8_t* data_out) {
  if (block_size != 8) return pad_err(kFn, QZ_PAD_R_SHAPE);
  return blockcipher_unpadding_pkcs_7(block_size, data_in_len, data_in, data_out_len, data_out);
}

// Every method but the PKCS ones.
quarzel_ret_t blockcipher_unpadding_general(cipher_padding_t padding, uint32_t block_size, uint32_t data_in_len,
                                            const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out) {
  return deliver(check_fill(padding, data_in, block_size, data_in_len), data_in, data_out_len, data_out);
}

}  // namespace
}  // namespace quarzel::padding

extern "C" quarzel_ret_t blockcipher_unpadding(cipher_padding_t padding, uint32_t block_size,
                                               uint32_t data_in_len, const uint8_t* data_in,
                                               uint32_t* data_out_len, uint8_t* data_out) {
  using namespace quarzel::padding;
  if (data_in == nullptr || data_out_len == nullptr) return pad_err(kFn, QZ_PAD_R_NULL);
  if (quarzel_ret_t ret = check_method(kFn, padding, block_size); ret != 0) return ret;
  if (data_in_len < block_size || data_in_len % block_size != 0)
    return pad_err(kFn, QZ_PAD_R_SHAPE);

  switch (padding) {
    case CIPHER_PADDING_PKCS_7:
      return blockcipher_unpadding_pkcs_7(block_size, data_in_len, data_in, data_out_len, data_out);
    case CIPHER_PADDING_PKCS_5:
      return blockcipher_unpadding_pkcs_5(block_size, data_in_len, data_in, data_out_len, data_out);
    default:
      return blockcipher_unpadding_general(padding, block_size, data_in_len, data_in, data_out_len, data_out);
  }
}
