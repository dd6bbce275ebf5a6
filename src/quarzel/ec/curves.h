// Catalogue of the elliptic curves the library knows: identifiers, sizes and
// the constant domain-parameter tables (all short Weierstrass curves over a
// prime field, cofactor 1).
#pragma once

#include <cstdint>

#include "quarzel/port.h"

namespace quarzel::ec {

// Word-level domain record: sizes and pointers to the constant tables (32-bit
// words, most significant first). Nothing is copied.
struct ecpbn_dp_t {
  char name[12];
  uint32_t dp_endian;  // always 2 (most significant word first)
  uint32_t good_crv;   // 1 for the NIST curves
  uint32_t crv_nw;     // words of a field element and of a scalar
  uint32_t crv_nbits;
  uint32_t nw_zdn_p;   // working width of the scalar multiplication, in words
  const uint32_t* crv_p;
  const uint32_t* crv_a;
  const uint32_t* crv_b;
  const uint32_t* crv_Gx;
  const uint32_t* crv_Gy;
  const uint32_t* crv_n;
  const uint32_t* crv_zdnp;
  const uint32_t* checksum;
  const uint32_t* crv_h_n;
};

// Input and output of the word-level point operations. Coordinates are w
// words (crv_nw), most significant first; base_ax, base_ay only for addition.
struct ecpbn_in_t {
  uint32_t scalar_nw;
  const uint32_t* base_x;
  const uint32_t* base_y;
  const uint32_t* base_ax;
  const uint32_t* base_ay;
  const uint32_t* scalar;
};
struct ecpbn_out_t {
  uint32_t infinity;  // 1 for the point at infinity (result_x, result_y then untouched)
  uint32_t* result_x;
  uint32_t* result_y;
};

// Core codes of the group interface.
inline constexpr core_ret_t ECPI_ERR_DP_MAPPING = 0x8181;
inline constexpr core_ret_t ECPI_ERR_GROUP_LOAD = 0x8281;
inline constexpr core_ret_t ECPI_ERR_GET_SIZE = 0x8481;
inline constexpr core_ret_t ECPI_ERR_PUBKEY_INFINITY = 0x8D82;
inline constexpr core_ret_t ECPI_ERR_PUBKEY_BASE_INFINITY = 0x8E82;

// Core codes of the point engine.
inline constexpr core_ret_t ECPBN_ERR_INTEGRITY_SIZE = 0x7174;
inline constexpr core_ret_t ECPBN_ERR_MUL_SIZE = 0x7974;
inline constexpr core_ret_t ECPBN_ERR_MUL_CHECKSUM = 0x7975;
inline constexpr core_ret_t ECPBN_ERR_MUL_NOT_ON_CURVE = 0x7976;
inline constexpr core_ret_t ECPBN_ERR_ADD_SIZE = 0x7A74;
inline constexpr core_ret_t ECPBN_ERR_CURVE = 0x7981;

// Byte length L of a curve id, including the length-only curves; 0x8481 and
// *size = 0 for any other id.
core_ret_t ecpi_group_get_size(uint32_t crv_id, uint32_t* size);

// Fills the domain record of a curve with tables; 0x8181 otherwise (the record
// is then untouched).
core_ret_t ecpi_dp_mapping(ecpbn_dp_t* dp, uint32_t crv_id);

// SHA3-256 check of a domain record's tables against its stored checksum.
// Computes, never caches. *no_error = 1 when they match.
core_ret_t ecpbn_zdn_proj_curve_integrity_check(const ecpbn_dp_t* dp, uint32_t* no_error);

// output = scalar * (base_x, base_y): the blinded ladder of the curve's
// engine (the record must be one of ecpi_dp_mapping's). The scalar, at most
// nw_zdn_p words, is read as an integer of crv_nw words (higher words must be
// zero); any such value, also beyond n, is multiplied exactly. 0x7974 when
// crv_nw exceeds 20 or the scalar is too long, 0x7975 on a table checksum
// mismatch, 0x7976 when the base point or the result fails the curve
// equation, 0x7981 for a record of no known curve.
core_ret_t ecpbn_zdn_mul(const ecpbn_dp_t* dp, const ecpbn_in_t* in, ecpbn_out_t* out);
// output = (base_x, base_y) + (base_ax, base_ay), two finite points (equal
// points are doubled). 0x7A74 when crv_nw exceeds 20; 0x7981 as above.
core_ret_t ecpbn_zdn_add(const ecpbn_dp_t* dp, const ecpbn_in_t* in, ecpbn_out_t* out);

// The same check for a known curve, done once per process and remembered.
// Returns the check's own error code, or 0 with *ok set.
core_ret_t curve_integrity_once(uint32_t crv_id, bool* ok);

}  // namespace quarzel::ec
