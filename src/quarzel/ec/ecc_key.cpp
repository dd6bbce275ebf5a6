// EC key objects and raw EC key blobs.
#include <cstring>
#include <initializer_list>

#include "ec/curves.h"
#include "quarzel/ecc.h"
#include "quarzel/port.h"

namespace {

// Function numbers of the key routines (module 0x02).
enum : uint32_t {
  F_PRI_VALUE_ALLOC = 0x03,
  F_PUB_VALUE_ALLOC = 0x04,
  F_PRI_VALUE_SET = 0x05,
  F_PUB_VALUE_SET = 0x06,
  F_PRI_VALUE_FREE = 0x07,
  F_PUB_VALUE_FREE = 0x08,
  F_PRI_VALUE_MAPPING = 0x09,
  F_PUB_VALUE_MAPPING = 0x0A,
  F_PRI_GET_LENGTH = 0x0B,
  F_PUB_GET_LENGTH = 0x0C,
  F_VALUE_GET = 0x0D,
  F_PRI_ALLOC = 0x0F,
  F_PUB_ALLOC = 0x10,
  F_GET_LENGTH = 0x14,
  F_RAW_PRI_GET_LENGTH = 0x60,
  F_PRI_TO_RAW = 0x61,
  F_RAW_TO_PRI = 0x62,
  F_RAW_PUB_GET_LENGTH = 0x63,
  F_PUB_TO_RAW = 0x64,
  F_RAW_TO_PUB = 0x65,
};

constexpr quarzel_ret_t err(uint32_t func, uint8_t reason) {
  return quarzel_err(QZ_MOD_ECC, func, reason);
}

constexpr uint32_t kPriFlags = 0x7;
constexpr uint32_t kPubFlags = 0xF;

bool pri_active(const ecc_prikey_t* k) { return (k->state & ~kPriFlags) == ECC_PRIKEY_ACTIVE; }
bool pub_active(const ecc_pubkey_t* k) { return (k->state & ~kPubFlags) == ECC_PUBKEY_ACTIVE; }

// Marks a key invalid. References to caller memory are dropped first, so that
// a later value_free cannot release memory the library does not own.
void pri_invalidate(ecc_prikey_t* k) {
  if (pri_active(k) && (k->state & ECC_PRIKEY_MAPPED) != 0) k->d_value = nullptr;
  k->state = ECC_PRIKEY_INVALID;
}
void pub_invalidate(ecc_pubkey_t* k) {
  if (pub_active(k) && (k->state & ECC_PUBKEY_MAPPED) != 0) {
    k->q_point_x = nullptr;
    k->q_point_y = nullptr;
  }
  k->state = ECC_PUBKEY_INVALID;
}

void free_buffer(uint8_t** p, uint32_t len, bool secret) {
  if (*p != nullptr && secret) quarzel::secure_wipe(*p, len);
  quarzel_mem_dealloc(reinterpret_cast<void**>(p));
}

// Length of the buffers of a key: L of its curve, or the largest L when the
// curve is unknown (only for wiping a buffer that was never fully allocated).
uint32_t wipe_len(ecc_crv_t crv) {
  uint32_t len = 0;
  return ecc_get_length(crv, &len) == 0 ? len : 0;
}

// Copies a value right-aligned into an L-byte buffer.
void copy_right_aligned(uint8_t* dst, uint32_t L, const uint8_t* src, uint32_t len) {
  std::memset(dst, 0, L - len);
  if (len != 0) std::memcpy(dst + (L - len), src, len);
}

}  // namespace

extern "C" {

quarzel_ret_t ecc_get_length(ecc_crv_t crv_id, uint32_t* crv_len) {
  if (crv_len == nullptr) return err(F_GET_LENGTH, ECC_R_NULL);
  const core_ret_t ret = quarzel::ec::ecpi_group_get_size(crv_id, crv_len);
  return ret == 0 ? 0 : quarzel_err_core(QZ_MOD_ECC, F_GET_LENGTH, ret);
}

quarzel_ret_t ecc_prikey_alloc(ecc_prikey_t** prikey) {
  if (prikey == nullptr) return err(F_PRI_ALLOC, ECC_R_NULL);
  void* p = nullptr;
  if (quarzel_mem_alloc(&p, sizeof(ecc_prikey_t)) != 0) return err(F_PRI_ALLOC, ECC_R_ALLOC);
  *prikey = static_cast<ecc_prikey_t*>(p);
  return 0;
}

quarzel_ret_t ecc_pubkey_alloc(ecc_pubkey_t** pubkey) {
  if (pubkey == nullptr) return err(F_PUB_ALLOC, ECC_R_NULL);
  void* p = nullptr;
  if (quarzel_mem_alloc(&p, sizeof(ecc_pubkey_t)) != 0) return err(F_PUB_ALLOC, ECC_R_ALLOC);
  *pubkey = static_cast<ecc_pubkey_t*>(p);
  return 0;
}

quarzel_ret_t ecc_prikey_free(ecc_prikey_t** prikey) {
  if (prikey == nullptr || *prikey == nullptr) return 0;
  ecc_prikey_t* k = *prikey;
  if ((pri_active(k) && (k->state & ECC_PRIKEY_ALLOCATED) != 0) || k->state == ECC_PRIKEY_INVALID)
    free_buffer(&k->d_value, wipe_len(k->crv_id), true);
  quarzel::secure_wipe(k, sizeof *k);
  quarzel_mem_dealloc(reinterpret_cast<void**>(prikey));
  return 0;
}

quarzel_ret_t ecc_pubkey_free(ecc_pubkey_t** pubkey) {
  if (pubkey == nullptr || *pubkey == nullptr) return 0;
  ecc_pubkey_t* k = *pubkey;
  if ((pub_active(k) && (k->state & ECC_PUBKEY_ALLOCATED) != 0) || k->state == ECC_PUBKEY_INVALID) {
    free_buffer(&k->q_point_y, 0, false);
    free_buffer(&k->q_point_x, 0, false);
  }
  quarzel_mem_dealloc(reinterpret_cast<void**>(pubkey));
  return 0;
}

quarzel_ret_t ecc_prikey_init(ecc_prikey_t* prikey, ecc_crv_t crv_id) {
  if (prikey == nullptr) return err(F_PRI_VALUE_ALLOC, ECC_R_NULL);
  prikey->state = ECC_PRIKEY_INITIALISED;
  prikey->crv_id = crv_id;
  prikey->d_value = nullptr;
  return 0;
}

quarzel_ret_t ecc_pubkey_init(ecc_pubkey_t* pubkey, ecc_crv_t crv_id) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_ALLOC, ECC_R_NULL);
  pubkey->state = ECC_PUBKEY_INITIALISED;
  pubkey->crv_id = crv_id;
  pubkey->q_point_x = nullptr;
  pubkey->q_point_y = nullptr;
  return 0;
}

quarzel_ret_t ecc_prikey_value_alloc(ecc_prikey_t* prikey) {
  if (prikey == nullptr) return err(F_PRI_VALUE_ALLOC, ECC_R_NULL);
  if (prikey->state != ECC_PRIKEY_INITIALISED) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_ALLOC, ECC_R_STATE);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) {
    pri_invalidate(prikey);
    return ret;
  }
  if (prikey->d_value == nullptr &&
      quarzel_mem_alloc(reinterpret_cast<void**>(&prikey->d_value), L) != 0) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_ALLOC, ECC_R_ALLOC);
  }
  prikey->state = ECC_PRIKEY_ACTIVE | ECC_PRIKEY_ALLOCATED;
  return 0;
}

quarzel_ret_t ecc_pubkey_value_alloc(ecc_pubkey_t* pubkey) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_ALLOC, ECC_R_NULL);
  if (pubkey->state != ECC_PUBKEY_INITIALISED) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_ALLOC, ECC_R_STATE);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) {
    pub_invalidate(pubkey);
    return ret;
  }
  for (uint8_t** p : {&pubkey->q_point_x, &pubkey->q_point_y}) {
    if (*p == nullptr && quarzel_mem_alloc(reinterpret_cast<void**>(p), L) != 0) {
      pub_invalidate(pubkey);
      return err(F_PUB_VALUE_ALLOC, ECC_R_ALLOC);
    }
  }
  pubkey->state = ECC_PUBKEY_ACTIVE | ECC_PUBKEY_ALLOCATED;
  return 0;
}

quarzel_ret_t ecc_prikey_value_mapping(ecc_prikey_t* prikey, uint32_t d_value_len,
                                       uint8_t* d_value) {
  if (prikey == nullptr) return err(F_PRI_VALUE_MAPPING, ECC_R_NULL);
  const bool initialised = prikey->state == ECC_PRIKEY_INITIALISED;
  if (!initialised && !(pri_active(prikey) && (prikey->state & ECC_PRIKEY_ALLOCATED) == 0)) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_MAPPING, ECC_R_STATE);
  }
  if (d_value_len != 0 && d_value == nullptr) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_MAPPING, ECC_R_NULL);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) {
    pri_invalidate(prikey);
    return ret;
  }
  prikey->state = initialised ? (ECC_PRIKEY_ACTIVE | ECC_PRIKEY_MAPPED)
                              : (prikey->state | ECC_PRIKEY_MAPPED);
  if (d_value_len != 0) {
    if (d_value_len != L) {
      pri_invalidate(prikey);
      return err(F_PRI_VALUE_MAPPING, ECC_R_PRI_LEN);
    }
    prikey->d_value = d_value;
    prikey->state |= ECC_PRIKEY_D_SET;
  }
  return 0;
}

quarzel_ret_t ecc_pubkey_value_mapping(ecc_pubkey_t* pubkey, uint32_t q_point_x_len,
                                       uint8_t* q_point_x, uint32_t q_point_y_len,
                                       uint8_t* q_point_y) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_MAPPING, ECC_R_NULL);
  const bool initialised = pubkey->state == ECC_PUBKEY_INITIALISED;
  if (!initialised && !(pub_active(pubkey) && (pubkey->state & ECC_PUBKEY_ALLOCATED) == 0)) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_MAPPING, ECC_R_STATE);
  }
  if ((q_point_x_len != 0 && q_point_x == nullptr) || (q_point_y_len != 0 && q_point_y == nullptr)) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_MAPPING, ECC_R_NULL);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) {
    pub_invalidate(pubkey);
    return ret;
  }
  pubkey->state = initialised ? (ECC_PUBKEY_ACTIVE | ECC_PUBKEY_MAPPED)
                              : (pubkey->state | ECC_PUBKEY_MAPPED);
  struct Item {
    uint32_t len;
    uint8_t* value;
    uint8_t** ref;
    uint32_t flag;
  };
  for (const Item& it : {Item{q_point_x_len, q_point_x, &pubkey->q_point_x, ECC_PUBKEY_X_SET},
                         Item{q_point_y_len, q_point_y, &pubkey->q_point_y, ECC_PUBKEY_Y_SET}}) {
    if (it.len == 0) continue;
    if (it.len != L) {
      pub_invalidate(pubkey);
      return err(F_PUB_VALUE_MAPPING, ECC_R_PUB_LEN);
    }
    *it.ref = it.value;
    pubkey->state |= it.flag;
  }
  return 0;
}

quarzel_ret_t ecc_prikey_value_set(ecc_prikey_t* prikey, uint32_t d_value_len,
                                   const uint8_t* d_value) {
  if (prikey == nullptr) return err(F_PRI_VALUE_SET, ECC_R_NULL);
  if (!pri_active(prikey)) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_SET, ECC_R_STATE);
  }
  if (d_value_len == 0) return 0;
  if (d_value == nullptr || prikey->d_value == nullptr) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_SET, ECC_R_NULL);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) {
    pri_invalidate(prikey);
    return ret;
  }
  if (d_value_len > L) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_SET, ECC_R_PRI_LEN);
  }
  copy_right_aligned(prikey->d_value, L, d_value, d_value_len);
  prikey->state |= ECC_PRIKEY_D_SET;
  return 0;
}

quarzel_ret_t ecc_pubkey_value_set(ecc_pubkey_t* pubkey, uint32_t q_point_x_len,
                                   const uint8_t* q_point_x, uint32_t q_point_y_len,
                                   const uint8_t* q_point_y) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_SET, ECC_R_NULL);
  if (!pub_active(pubkey)) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_SET, ECC_R_STATE);
  }
  if ((q_point_x_len != 0 && (q_point_x == nullptr || pubkey->q_point_x == nullptr)) ||
      (q_point_y_len != 0 && (q_point_y == nullptr || pubkey->q_point_y == nullptr))) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_SET, ECC_R_NULL);
  }
  if (q_point_x_len == 0 && q_point_y_len == 0) return 0;
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) {
    pub_invalidate(pubkey);
    return ret;
  }
  if (q_point_x_len > L || q_point_y_len > L) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_SET, ECC_R_PUB_LEN);
  }
  if (q_point_x_len != 0) {
    copy_right_aligned(pubkey->q_point_x, L, q_point_x, q_point_x_len);
    pubkey->state |= ECC_PUBKEY_X_SET;
  }
  if (q_point_y_len != 0) {
    copy_right_aligned(pubkey->q_point_y, L, q_point_y, q_point_y_len);
    pubkey->state |= ECC_PUBKEY_Y_SET;
  }
  return 0;
}

quarzel_ret_t ecc_prikey_value_get_length(const ecc_prikey_t* prikey, ecc_crv_t* crv_id,
                                          uint32_t* d_value_len) {
  if (prikey == nullptr) return err(F_PRI_GET_LENGTH, ECC_R_NULL);
  if (prikey->state != ECC_PRIKEY_INITIALISED && !pri_active(prikey))
    return err(F_PRI_GET_LENGTH, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) return ret;
  if (crv_id != nullptr) *crv_id = prikey->crv_id;
  if (d_value_len != nullptr) *d_value_len = L;
  return 0;
}

quarzel_ret_t ecc_pubkey_value_get_length(const ecc_pubkey_t* pubkey, ecc_crv_t* crv_id,
                                          uint32_t* q_point_x_len, uint32_t* q_point_y_len) {
  if (pubkey == nullptr) return err(F_PUB_GET_LENGTH, ECC_R_NULL);
  if (pubkey->state != ECC_PUBKEY_INITIALISED && !pub_active(pubkey))
    return err(F_PUB_GET_LENGTH, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) return ret;
  if (crv_id != nullptr) *crv_id = pubkey->crv_id;
  if (q_point_x_len != nullptr) *q_point_x_len = L;
  if (q_point_y_len != nullptr) *q_point_y_len = L;
  return 0;
}

}  // extern "C"

namespace {

// One output value of a get call: needs the key's buffer and a length pointer;
// a capacity below L reports L.
quarzel_ret_t get_one(const uint8_t* src, uint32_t L, uint32_t* len, uint8_t* out) {
  if (out == nullptr) {
    if (len != nullptr) *len = L;
    return 0;
  }
  if (src == nullptr || len == nullptr) return err(F_VALUE_GET, ECC_R_NULL);
  if (*len < L) {
    *len = L;
    return err(F_VALUE_GET, ECC_R_OUT_SMALL);
  }
  std::memcpy(out, src, L);
  *len = L;
  return 0;
}

quarzel_ret_t raw_get_length(uint32_t func, uint32_t raw_len, const uint8_t* raw,
                             ecc_crv_t* crv_id, uint32_t* crv_len) {
  if (raw == nullptr || (crv_len != nullptr && crv_id == nullptr)) return err(func, ECC_R_NULL);
  if (raw_len < 4) return err(func, ECC_R_BLOB_LEN);
  if (crv_id != nullptr) *crv_id = static_cast<ecc_crv_t>(raw[0]);
  if (crv_len != nullptr) {
    const core_ret_t ret = quarzel::ec::ecpi_group_get_size(raw[0], crv_len);
    if (ret != 0) return quarzel_err_core(QZ_MOD_ECC, func, ret);
  }
  return 0;
}

}  // namespace

extern "C" {

quarzel_ret_t ecc_prikey_value_get(const ecc_prikey_t* prikey, ecc_crv_t* crv_id,
                                   uint32_t* d_value_len, uint8_t* d_value) {
  if (prikey == nullptr) return err(F_VALUE_GET, ECC_R_NULL);
  if (!pri_active(prikey) || (prikey->state & ECC_PRIKEY_D_SET) == 0)
    return err(F_VALUE_GET, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) return ret;
  if (crv_id != nullptr) *crv_id = prikey->crv_id;
  return get_one(prikey->d_value, L, d_value_len, d_value);
}

quarzel_ret_t ecc_pubkey_value_get(const ecc_pubkey_t* pubkey, ecc_crv_t* crv_id,
                                   uint32_t* q_point_x_len, uint8_t* q_point_x,
                                   uint32_t* q_point_y_len, uint8_t* q_point_y) {
  if (pubkey == nullptr) return err(F_VALUE_GET, ECC_R_NULL);
  const uint32_t both = ECC_PUBKEY_X_SET | ECC_PUBKEY_Y_SET;
  if (!pub_active(pubkey) || (pubkey->state & both) != both) return err(F_VALUE_GET, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) return ret;
  if (crv_id != nullptr) *crv_id = pubkey->crv_id;
  if (const quarzel_ret_t ret = get_one(pubkey->q_point_x, L, q_point_x_len, q_point_x); ret != 0)
    return ret;
  return get_one(pubkey->q_point_y, L, q_point_y_len, q_point_y);
}

quarzel_ret_t ecc_prikey_value_free(ecc_prikey_t* prikey) {
  if (prikey == nullptr) return err(F_PRI_VALUE_FREE, ECC_R_NULL);
  const bool invalid = prikey->state == ECC_PRIKEY_INVALID;
  if (!invalid && !(pri_active(prikey) && (prikey->state & ECC_PRIKEY_ALLOCATED) != 0)) {
    pri_invalidate(prikey);
    return err(F_PRI_VALUE_FREE, ECC_R_STATE);
  }
  free_buffer(&prikey->d_value, wipe_len(prikey->crv_id), true);
  if (!invalid) prikey->state = ECC_PRIKEY_INITIALISED;
  return 0;
}

quarzel_ret_t ecc_pubkey_value_free(ecc_pubkey_t* pubkey) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_FREE, ECC_R_NULL);
  const bool invalid = pubkey->state == ECC_PUBKEY_INVALID;
  if (!invalid && !(pub_active(pubkey) && (pubkey->state & ECC_PUBKEY_ALLOCATED) != 0)) {
    pub_invalidate(pubkey);
    return err(F_PUB_VALUE_FREE, ECC_R_STATE);
  }
  free_buffer(&pubkey->q_point_y, 0, false);
  free_buffer(&pubkey->q_point_x, 0, false);
  if (!invalid) pubkey->state = ECC_PUBKEY_INITIALISED;
  return 0;
}

// ---- Raw blobs ----

quarzel_ret_t ecc_raw_prikey_get_length(uint32_t raw_len, const uint8_t* raw, ecc_crv_t* crv_id,
                                        uint32_t* crv_len) {
  return raw_get_length(F_RAW_PRI_GET_LENGTH, raw_len, raw, crv_id, crv_len);
}

quarzel_ret_t ecc_raw_pubkey_get_length(uint32_t raw_len, const uint8_t* raw, ecc_crv_t* crv_id,
                                        uint32_t* crv_len) {
  return raw_get_length(F_RAW_PUB_GET_LENGTH, raw_len, raw, crv_id, crv_len);
}

quarzel_ret_t ecc_prikey_to_raw(const ecc_prikey_t* prikey, uint32_t* raw_len, uint8_t* raw) {
  if (prikey == nullptr || raw_len == nullptr || raw == nullptr) return err(F_PRI_TO_RAW, ECC_R_NULL);
  if (!pri_active(prikey) || (prikey->state & ECC_PRIKEY_D_SET) == 0 || prikey->d_value == nullptr)
    return err(F_PRI_TO_RAW, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) return ret;
  const uint32_t need = L + 4;
  if (*raw_len < need) {
    *raw_len = need;
    return err(F_PRI_TO_RAW, ECC_R_BLOB_LEN);
  }
  *raw_len = need;
  raw[0] = static_cast<uint8_t>(prikey->crv_id);
  raw[1] = raw[2] = raw[3] = 0;  // reserved, written so no stale caller bytes reach storage
  std::memcpy(raw + 4, prikey->d_value, L);
  return 0;
}

quarzel_ret_t ecc_pubkey_to_raw(const ecc_pubkey_t* pubkey, uint32_t* raw_len, uint8_t* raw) {
  if (pubkey == nullptr || raw_len == nullptr || raw == nullptr) return err(F_PUB_TO_RAW, ECC_R_NULL);
  const uint32_t both = ECC_PUBKEY_X_SET | ECC_PUBKEY_Y_SET;
  if (!pub_active(pubkey) || (pubkey->state & both) != both || pubkey->q_point_x == nullptr ||
      pubkey->q_point_y == nullptr)
    return err(F_PUB_TO_RAW, ECC_R_STATE);
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) return ret;
  const uint32_t need = 2 * L + 4;
  if (*raw_len < need) {
    *raw_len = need;
    return err(F_PUB_TO_RAW, ECC_R_BLOB_LEN);
  }
  *raw_len = need;
  raw[0] = static_cast<uint8_t>(pubkey->crv_id);
  raw[1] = raw[2] = raw[3] = 0;
  std::memcpy(raw + 4, pubkey->q_point_x, L);
  std::memcpy(raw + 4 + L, pubkey->q_point_y, L);
  return 0;
}

quarzel_ret_t ecc_raw_to_prikey(uint32_t raw_len, const uint8_t* raw, ecc_prikey_t* prikey) {
  if (raw == nullptr || prikey == nullptr) return err(F_RAW_TO_PRI, ECC_R_NULL);
  if (!pri_active(prikey)) return err(F_RAW_TO_PRI, ECC_R_STATE);
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_raw_prikey_get_length(raw_len, raw, &crv, &L); ret != 0)
    return ret;
  // A blob of another curve would load as a different key: refuse it.
  if (crv != prikey->crv_id) return err(F_RAW_TO_PRI, ECC_R_CURVE_MISMATCH);
  if (raw_len < L + 4) return err(F_RAW_TO_PRI, ECC_R_BLOB_LEN);
  return ecc_prikey_value_set(prikey, L, raw + 4);
}

quarzel_ret_t ecc_raw_to_pubkey(uint32_t raw_len, const uint8_t* raw, ecc_pubkey_t* pubkey) {
  if (raw == nullptr || pubkey == nullptr) return err(F_RAW_TO_PUB, ECC_R_NULL);
  if (!pub_active(pubkey)) return err(F_RAW_TO_PUB, ECC_R_STATE);
  ecc_crv_t crv = ECC_CRV_UNDEFINED;
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_raw_pubkey_get_length(raw_len, raw, &crv, &L); ret != 0)
    return ret;
  if (crv != pubkey->crv_id) return err(F_RAW_TO_PUB, ECC_R_CURVE_MISMATCH);
  if (raw_len < 2 * L + 4) return err(F_RAW_TO_PUB, ECC_R_BLOB_LEN);
  return ecc_pubkey_value_set(pubkey, L, raw + 4, L, raw + 4 + L);
}

}  // extern "C"
