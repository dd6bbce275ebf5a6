// Raw EC key blobs, the storage form of keys: the curve id byte, three
// reserved bytes written as zero, then d (L bytes) or x and y (L bytes each).
#include <cstring>

#include "ec/ecc_internal.h"
#include "quarzel/ecc.h"

namespace {

using quarzel::ec::ecc_err;
using quarzel::ec::ecc_err_core;
using quarzel::ec::prikey_active;
using quarzel::ec::pubkey_active;

// Function numbers of the blob routines (module 0x02).
enum : uint32_t {
  F_RAW_PRI_GET_LENGTH = 0x60,
  F_PRI_TO_RAW = 0x61,
  F_RAW_TO_PRI = 0x62,
  F_RAW_PUB_GET_LENGTH = 0x63,
  F_PUB_TO_RAW = 0x64,
  F_RAW_TO_PUB = 0x65,
};

quarzel_ret_t raw_get_length(uint32_t func, uint32_t raw_len, const uint8_t* raw,
                             ecc_crv_t* crv_id, uint32_t* crv_len) {
  if (raw == nullptr || (crv_len != nullptr && crv_id == nullptr)) return ecc_err(func, ECC_R_NULL);
  if (raw_len < 4) return ecc_err(func, ECC_R_BLOB_LEN);
  if (crv_id != nullptr) *crv_id = static_cast<ecc_crv_t>(raw[0]);
  if (crv_len != nullptr) {
    const core_ret_t ret = quarzel::ec::ecpi_group_get_size(raw[0], crv_len);
    if (ret != 0) return ecc_err_core(func, ret);
  }
  return 0;
}

}  // namespace

extern "C" {

quarzel_ret_t ecc_raw_prikey_get_length(uint32_t raw_len, const uint8_t* raw, ecc_crv_t* crv_id,
                                        uint32_t* crv_len) {
  return raw_get_length(F_RAW_PRI_GET_LENGTH, raw_len, raw, crv_id, crv_len);
}

quarzel_ret_t ecc_raw_pubkey_get_length(uint32_t raw_len, const uint8_t* raw, ecc_crv_t* crv_id,
                                        uint32_t* crv_len) {
  return raw_get_length(F_RAW_PUB_GET_LENGTH, raw_len, raw, crv_id, crv_len);
}

quarzel_ret_t ecc_prikey_to_raw(const ecc_prikey_t* prikey, uint32_t* raw_len, uint8_t* raw) {
  if (prikey == nullptr || raw_len == nullptr || raw == nullptr) return ecc_err(F_PRI_TO_RAW, ECC_R_NULL);
  if (!prikey_active(prikey) || (prikey->state & ECC_PRIKEY_D_SET) == 0 || prikey->d_value == nullptr)
    return ecc_err(F_PRI_TO_RAW, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) return ret;
  const uint32_t need = L + 4;
  if (*raw_len < need) {
    *raw_len = need;
    return ecc_err(F_PRI_TO_RAW, ECC_R_BLOB_LEN);
  }
  *raw_len = need;
  raw[0] = static_cast<uint8_t>(prikey->crv_id);
  raw[1] = raw[2] = raw[3] = 0;  // reserved, written so no stale caller bytes reach storage
  std::memcpy(raw + 4, prikey->d_value, L);
  return 0;
}

quarzel_ret_t ecc_pubkey_to_raw(const ecc_pubkey_t* pubkey, uint32_t* raw_len, uint8_t* raw) {
  if (pubkey == nullptr || raw_len == nullptr || raw == nullptr) return ecc_err(F_PUB_TO_RAW, ECC_R_NULL);
  const uint32_t both = ECC_PUBKEY_X_SET | ECC_PUBKEY_Y_SET;
  if (!pubkey_active(pubkey) || (pubkey->state & both) != both || pubkey->q_point_x == nullptr ||
      pubkey->q_point_y == nullptr)
    return ecc_err(F_PUB_TO_RAW, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) return ret;
  const uint32_t need = 2 * L + 4;
  if (*raw_len < need) {
    *raw_len = need;
    return ecc_err(F_PUB_TO_RAW, ECC_R_BLOB_LEN);
  }
  *raw_len = need;
  raw[0] = static_cast<uint8_t>(pubkey->crv_id);
  raw[1] = raw[2] = raw[3] = 0;
  std::memcpy(raw + 4, pubkey->q_point_x, L);
  std::memcpy(raw + 4 + L, pubkey->q_point_y, L);
  return 0;
}

quarzel_ret_t ecc_raw_to_prikey(uint32_t raw_len, const uint8_t* raw, ecc_prikey_t* prikey) {
  if (raw == nullptr || prikey == nullptr) return ecc_err(F_RAW_TO_PRI, ECC_R_NULL);
  if (!prikey_active(prikey)) return ecc_err(F_RAW_TO_PRI, ECC_R_STATE);
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_raw_prikey_get_length(raw_len, raw, &crv, &L); ret != 0)
    return ret;
  // A blob of another curve would load as a different key: refuse it.
  if (crv != prikey->crv_id) return ecc_err(F_RAW_TO_PRI, ECC_R_CURVE_MISMATCH);
  // Exactly one value: a longer blob (a public key's x || y) would load its
  // leading bytes as d.
  if (raw_len != L + 4) return ecc_err(F_RAW_TO_PRI, ECC_R_BLOB_LEN);
  return ecc_prikey_value_set(prikey, L, raw + 4);
}

quarzel_ret_t ecc_raw_to_pubkey(uint32_t raw_len, const uint8_t* raw, ecc_pubkey_t* pubkey) {
  if (raw == nullptr || pubkey == nullptr) return ecc_err(F_RAW_TO_PUB, ECC_R_NULL);
  if (!pubkey_active(pubkey)) return ecc_err(F_RAW_TO_PUB, ECC_R_STATE);
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_raw_pubkey_get_length(raw_len, raw, &crv, &L); ret != 0)
    return ret;
  if (crv != pubkey->crv_id) return ecc_err(F_RAW_TO_PUB, ECC_R_CURVE_MISMATCH);
  if (raw_len != 2 * L + 4) return ecc_err(F_RAW_TO_PUB, ECC_R_BLOB_LEN);
  return ecc_pubkey_value_set(pubkey, L, raw + 4, L, raw + 4 + L);
}

}  // extern "C"
