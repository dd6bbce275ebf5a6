// EC key objects and raw EC key blobs.
#include <cstring>
#include <initializer_list>

#include "ec/ecc_internal.h"
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
};

constexpr quarzel_ret_t err(uint32_t func, uint8_t reason) {
  return quarzel_err(QZ_MOD_ECC, func, reason);
}

using quarzel::ec::invalidate;
using quarzel::ec::prikey_active;
using quarzel::ec::pubkey_active;

void free_buffer(uint8_t** p, uint32_t len, bool secret) {
  if (*p != nullptr && secret) quarzel::secure_wipe(*p, len);
  quarzel_mem_dealloc(reinterpret_cast<void**>(p));
}

// Length of a key's value buffers: L of its curve (0 for an unknown curve,
// which never has buffers).
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
  if ((prikey_active(k) && (k->state & ECC_PRIKEY_ALLOCATED) != 0) || k->state == ECC_PRIKEY_INVALID)
    free_buffer(&k->d_value, wipe_len(k->crv_id), true);
  quarzel::secure_wipe(k, sizeof *k);
  quarzel_mem_dealloc(reinterpret_cast<void**>(prikey));
  return 0;
}

quarzel_ret_t ecc_pubkey_free(ecc_pubkey_t** pubkey) {
  if (pubkey == nullptr || *pubkey == nullptr) return 0;
  ecc_pubkey_t* k = *pubkey;
  if ((pubkey_active(k) && (k->state & ECC_PUBKEY_ALLOCATED) != 0) || k->state == ECC_PUBKEY_INVALID) {
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
    invalidate(prikey);
    return err(F_PRI_VALUE_ALLOC, ECC_R_STATE);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) {
    invalidate(prikey);
    return ret;
  }
  if (prikey->d_value == nullptr &&
      quarzel_mem_alloc(reinterpret_cast<void**>(&prikey->d_value), L) != 0) {
    invalidate(prikey);
    return err(F_PRI_VALUE_ALLOC, ECC_R_ALLOC);
  }
  prikey->state = ECC_PRIKEY_ACTIVE | ECC_PRIKEY_ALLOCATED;
  return 0;
}

quarzel_ret_t ecc_pubkey_value_alloc(ecc_pubkey_t* pubkey) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_ALLOC, ECC_R_NULL);
  if (pubkey->state != ECC_PUBKEY_INITIALISED) {
    invalidate(pubkey);
    return err(F_PUB_VALUE_ALLOC, ECC_R_STATE);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) {
    invalidate(pubkey);
    return ret;
  }
  for (uint8_t** p : {&pubkey->q_point_x, &pubkey->q_point_y}) {
    if (*p == nullptr && quarzel_mem_alloc(reinterpret_cast<void**>(p), L) != 0) {
      invalidate(pubkey);
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
  if (!initialised && !(prikey_active(prikey) && (prikey->state & ECC_PRIKEY_ALLOCATED) == 0)) {
    invalidate(prikey);
    return err(F_PRI_VALUE_MAPPING, ECC_R_STATE);
  }
  if (d_value_len != 0 && d_value == nullptr) {
    invalidate(prikey);
    return err(F_PRI_VALUE_MAPPING, ECC_R_NULL);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) {
    invalidate(prikey);
    return ret;
  }
  prikey->state = initialised ? (ECC_PRIKEY_ACTIVE | ECC_PRIKEY_MAPPED)
                              : (prikey->state | ECC_PRIKEY_MAPPED);
  if (d_value_len != 0) {
    if (d_value_len != L) {
      invalidate(prikey);
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
  if (!initialised && !(pubkey_active(pubkey) && (pubkey->state & ECC_PUBKEY_ALLOCATED) == 0)) {
    invalidate(pubkey);
    return err(F_PUB_VALUE_MAPPING, ECC_R_STATE);
  }
  if ((q_point_x_len != 0 && q_point_x == nullptr) || (q_point_y_len != 0 && q_point_y == nullptr)) {
    invalidate(pubkey);
    return err(F_PUB_VALUE_MAPPING, ECC_R_NULL);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) {
    invalidate(pubkey);
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
      invalidate(pubkey);
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
  if (!prikey_active(prikey)) {
    invalidate(prikey);
    return err(F_PRI_VALUE_SET, ECC_R_STATE);
  }
  if (d_value_len == 0) return 0;
  if (d_value == nullptr || prikey->d_value == nullptr) {
    invalidate(prikey);
    return err(F_PRI_VALUE_SET, ECC_R_NULL);
  }
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(prikey->crv_id, &L); ret != 0) {
    invalidate(prikey);
    return ret;
  }
  if (d_value_len > L) {
    invalidate(prikey);
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
  if (!pubkey_active(pubkey)) {
    invalidate(pubkey);
    return err(F_PUB_VALUE_SET, ECC_R_STATE);
  }
  if ((q_point_x_len != 0 && (q_point_x == nullptr || pubkey->q_point_x == nullptr)) ||
      (q_point_y_len != 0 && (q_point_y == nullptr || pubkey->q_point_y == nullptr))) {
    invalidate(pubkey);
    return err(F_PUB_VALUE_SET, ECC_R_NULL);
  }
  if (q_point_x_len == 0 && q_point_y_len == 0) return 0;
  uint32_t L = 0;
  if (const quarzel_ret_t ret = ecc_get_length(pubkey->crv_id, &L); ret != 0) {
    invalidate(pubkey);
    return ret;
  }
  if (q_point_x_len > L || q_point_y_len > L) {
    invalidate(pubkey);
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
  if (prikey->state != ECC_PRIKEY_INITIALISED && !prikey_active(prikey))
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
  if (pubkey->state != ECC_PUBKEY_INITIALISED && !pubkey_active(pubkey))
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

}  // namespace

extern "C" {

quarzel_ret_t ecc_prikey_value_get(const ecc_prikey_t* prikey, ecc_crv_t* crv_id,
                                   uint32_t* d_value_len, uint8_t* d_value) {
  if (prikey == nullptr) return err(F_VALUE_GET, ECC_R_NULL);
  if (!prikey_active(prikey) || (prikey->state & ECC_PRIKEY_D_SET) == 0)
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
  if (!pubkey_active(pubkey) || (pubkey->state & both) != both) return err(F_VALUE_GET, ECC_R_STATE);
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
  if (!invalid && !(prikey_active(prikey) && (prikey->state & ECC_PRIKEY_ALLOCATED) != 0)) {
    invalidate(prikey);
    return err(F_PRI_VALUE_FREE, ECC_R_STATE);
  }
  free_buffer(&prikey->d_value, wipe_len(prikey->crv_id), true);
  if (!invalid) prikey->state = ECC_PRIKEY_INITIALISED;
  return 0;
}

quarzel_ret_t ecc_pubkey_value_free(ecc_pubkey_t* pubkey) {
  if (pubkey == nullptr) return err(F_PUB_VALUE_FREE, ECC_R_NULL);
  const bool invalid = pubkey->state == ECC_PUBKEY_INVALID;
  if (!invalid && !(pubkey_active(pubkey) && (pubkey->state & ECC_PUBKEY_ALLOCATED) != 0)) {
    invalidate(pubkey);
    return err(F_PUB_VALUE_FREE, ECC_R_STATE);
  }
  free_buffer(&pubkey->q_point_y, 0, false);
  free_buffer(&pubkey->q_point_x, 0, false);
  if (!invalid) pubkey->state = ECC_PUBKEY_INITIALISED;
  return 0;
}

}  // extern "C"
