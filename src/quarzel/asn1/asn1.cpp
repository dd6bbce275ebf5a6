#include "quarzel/asn1.h"

extern "C" {

core_ret_t asn1_parse_tlv(uint32_t* tlv_len, const uint8_t* tlv, uint8_t* tag, uint32_t* length,
                          uint32_t* value) {
  if (tlv_len == nullptr || tlv == nullptr || tag == nullptr || length == nullptr ||
      value == nullptr) {
    return core_err(ASN1_FN_PARSE_TLV, ASN1_R_NULL);
  }
  const uint32_t left = *tlv_len;
  if (left < 2) return core_err(ASN1_FN_PARSE_TLV, ASN1_R_EMPTY);
  uint32_t header = 2;
  uint32_t len = tlv[1];
  if (len >= 0x80) {
    const uint32_t count = len & 0x7F;
    // A count of 0 is BER's indefinite form; more than 4 bytes cannot be a 32-bit length.
    if (count == 0 || count > 4) return core_err(ASN1_FN_PARSE_TLV, ASN1_R_LEN_FORM);
    if (left - 2 < count) return core_err(ASN1_FN_PARSE_TLV, ASN1_R_EMPTY);
    len = 0;
    for (uint32_t i = 0; i < count; ++i) len = (len << 8) | tlv[2 + i];
    // DER takes the fewest length bytes (X.690 10.1): no short length in the
    // long form, no leading zero byte.
    if (len < 0x80 || tlv[2] == 0) return core_err(ASN1_FN_PARSE_TLV, ASN1_R_LEN_FORM);
    header += count;
  }
  if (len > left - header) return core_err(ASN1_FN_PARSE_TLV, ASN1_R_EMPTY);
  *tag = tlv[0];
  *length = len;
  *tlv_len = left - header;
  *value += header;
  return 0;
}

core_ret_t asn1_cal_len_byte(uint32_t len, uint32_t* len_array_len, uint8_t* len_array) {
  if (len_array_len == nullptr || (len_array == nullptr && *len_array_len != 0)) {
    return core_err(ASN1_FN_CAL_LEN_BYTE, ASN1_R_NULL);
  }
  uint32_t count = 0;  // bytes after the first
  if (len >= 0x80) count = len < 0x100 ? 1 : len < 0x10000 ? 2 : len < 0x1000000 ? 3 : 4;
  const uint32_t size = 1 + count;
  if (len_array == nullptr) {
    *len_array_len = size;
    return 0;
  }
  if (*len_array_len < size) {
    *len_array_len = size;
    return core_err(ASN1_FN_CAL_LEN_BYTE, ASN1_R_SMALL);
  }
  if (count == 0) {
    len_array[0] = static_cast<uint8_t>(len);
  } else {
    len_array[0] = static_cast<uint8_t>(0x80 | count);
    for (uint32_t i = 0; i < count; ++i) {
      len_array[1 + i] = static_cast<uint8_t>(len >> (8 * (count - 1 - i)));
    }
  }
  *len_array_len = size;
  return 0;
}

core_ret_t asn1_int_to_oct(uint8_t condition, uint32_t* value_len, uint32_t* value) {
  if (value_len == nullptr || value == nullptr) return core_err(ASN1_FN_INT_TO_OCT, ASN1_R_NULL);
  if (*value_len == 0) return core_err(ASN1_FN_INT_TO_OCT, ASN1_R_EMPTY);
  if (condition == 0) {
    *value_len -= 1;
    *value += 1;
  }
  return 0;
}

core_ret_t asn1_bit_to_oct(uint8_t condition, uint32_t* value_len, uint32_t* value) {
  if (value_len == nullptr || value == nullptr) return core_err(ASN1_FN_BIT_TO_OCT, ASN1_R_NULL);
  if (*value_len == 0 || condition != 0) return core_err(ASN1_FN_BIT_TO_OCT, ASN1_R_EMPTY);
  *value_len -= 1;
  *value += 1;
  return 0;
}

core_ret_t asn1_oct_to_int(uint32_t oct_len, const uint8_t* oct, uint32_t* int_len,
                           uint32_t* int_offset, uint8_t* int_flag) {
  if (oct == nullptr || int_len == nullptr || int_offset == nullptr || int_flag == nullptr) {
    return core_err(ASN1_FN_OCT_TO_INT, ASN1_R_NULL);
  }
  if (oct_len == 0) return core_err(ASN1_FN_OCT_TO_INT, ASN1_R_EMPTY);
  uint32_t zeros = 0;
  while (zeros < oct_len && oct[zeros] == 0) ++zeros;
  if (zeros == oct_len) {  // zero: DER writes the single content byte 00
    *int_offset = oct_len - 1;
    *int_len = 1;
    *int_flag = 0;
    return 0;
  }
  const uint8_t flag = oct[zeros] >= 0x80 ? 1 : 0;
  *int_offset = zeros;
  *int_len = oct_len - zeros + flag;
  *int_flag = flag;
  return 0;
}

}  // extern "C"
