// Minimal DER (ITU-T X.690) reader and length encoder used by the RSA key
// encodings. Tags are single bytes; lengths use the short form or the long
// form with 1 to 4 length bytes, the fewest that hold the length. Every read
// is checked against the bytes left.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

// Core function ids of the ASN.1 routines.
inline constexpr uint32_t ASN1_FN_PARSE_TLV = 0xF1;
inline constexpr uint32_t ASN1_FN_CAL_LEN_BYTE = 0xF2;
inline constexpr uint32_t ASN1_FN_INT_TO_OCT = 0xF3;
inline constexpr uint32_t ASN1_FN_BIT_TO_OCT = 0xF4;
inline constexpr uint32_t ASN1_FN_OCT_TO_INT = 0xF5;

// Core reasons of the ASN.1 routines.
inline constexpr uint8_t ASN1_R_NULL = 0x05;
inline constexpr uint8_t ASN1_R_LEN_FORM = 0x07;  // length form not allowed in DER here
inline constexpr uint8_t ASN1_R_SMALL = 0x08;     // output array too small
inline constexpr uint8_t ASN1_R_EMPTY = 0xA1;     // nothing (or too little) left to read

extern "C" {

// Reads one element header at `tlv` (the caller's buffer at offset *value).
// On success *tag and *length are set, *tlv_len (bytes left) drops by the
// header size and *value (a running offset) grows by it. The header must fit
// in *tlv_len and the content must fit in what is left after it (0xF1A1);
// a long-form count of 0 or above 4, or a length not in its minimal form
// (81 47, 82 00 80), gives 0xF107.
[[nodiscard]] core_ret_t asn1_parse_tlv(uint32_t* tlv_len, const uint8_t* tlv, uint8_t* tag,
                                        uint32_t* length, uint32_t* value);

// Size of the DER length field for `len` (1 to 5 bytes). With len_array null
// (and *len_array_len 0) only the size is written; with a buffer the field is
// written when *len_array_len is large enough, else the size is written and
// 0xF208 returned.
[[nodiscard]] core_ret_t asn1_cal_len_byte(uint32_t len, uint32_t* len_array_len,
                                           uint8_t* len_array);

// Drops the leading 0x00 of an INTEGER content when `condition` (its first
// byte) is 0: *value_len shrinks and the offset *value grows by one.
[[nodiscard]] core_ret_t asn1_int_to_oct(uint8_t condition, uint32_t* value_len, uint32_t* value);

// Drops the unused-bits byte of a BIT STRING, which must be 0 (else 0xF4A1).
[[nodiscard]] core_ret_t asn1_bit_to_oct(uint8_t condition, uint32_t* value_len, uint32_t* value);

// For a big-endian byte string: *int_offset = its count of leading zero bytes,
// *int_len = the DER INTEGER content length (one more when a 0x00 must go in
// front, then *int_flag = 1). An all-zero string encodes as the single byte 00
// (offset at its last byte, length 1).
[[nodiscard]] core_ret_t asn1_oct_to_int(uint32_t oct_len, const uint8_t* oct, uint32_t* int_len,
                                         uint32_t* int_offset, uint8_t* int_flag);

}  // extern "C"
