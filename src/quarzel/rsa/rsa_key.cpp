// RSA key objects: state words, presence flags, owned and mapped buffers.
#include <cstring>

#include "quarzel/rsa_key.h"
#include "rsa/rsa_internal.h"

namespace quarzel::rsa {

void copy_right_aligned(uint8_t* field, uint32_t cap, const uint8_t* src, uint32_t len) {
  const uint32_t pad = cap - len;
  if (pad != 0) std::memset(field, 0, pad);
  if (len != 0) std::memmove(field + pad, src, len);
}

namespace {

// Frees the buffers the library allocated (wiped first: they may hold key
// material) and forgets every reference, mapped ones included.
void release_prikey_buffers(rsa_prikey_t* k) {
  for (int i = 7; i >= 0; --i) {
    const PriComponent& c = kPriComponents[i];
    uint8_t*& buf = k->*c.buf;
    if ((k->owned & c.bit) != 0 && buf != nullptr) {
      secure_wipe(buf, k->*c.len);
      void* p = buf;
      quarzel_mem_dealloc(&p);
    }
    buf = nullptr;
    k->*c.len = 0;
  }
  k->owned = 0;
}

void release_pubkey_buffers(rsa_pubkey_t* k) {
  for (int i = 1; i >= 0; --i) {
    const PubComponent& c = kPubComponents[i];
    uint8_t*& buf = k->*c.buf;
    if ((k->owned & c.bit) != 0 && buf != nullptr) {
      secure_wipe(buf, k->*c.len);
      void* p = buf;
      quarzel_mem_dealloc(&p);
    }
    buf = nullptr;
    k->*c.len = 0;
  }
  k->owned = 0;
}

quarzel_ret_t fail_pri(rsa_prikey_t* k, uint32_t fn, uint8_t reason) {
  k->state = RSA_PRIKEY_STATE_INVALID;
  return rsa_err(fn, reason);
}
quarzel_ret_t fail_pub(rsa_pubkey_t* k, uint32_t fn, uint8_t reason) {
  k->state = RSA_PUBKEY_STATE_INVALID;
  return rsa_err(fn, reason);
}

// The 65537 flag always follows the bytes of e just written.
uint32_t with_e_flag(uint32_t state, uint32_t e_len, const uint8_t* e) {
  return rsa_check_e_is_65537(e_len, e) ? (state | RSA_FLAG_E65537) : (state & ~RSA_FLAG_E65537);
}

}  // namespace
}  // namespace quarzel::rsa

using namespace quarzel::rsa;

extern "C" {

bool rsa_check_e_is_65537(uint32_t e_exponent_len, const uint8_t* e_exponent) {
  if (e_exponent == nullptr || e_exponent_len < 3) return false;
  uint8_t acc = 0;
  for (uint32_t i = 0; i + 3 < e_exponent_len; ++i) acc |= e_exponent[i];
  const uint8_t* t = e_exponent + e_exponent_len - 3;
  acc |= static_cast<uint8_t>(t[0] ^ 0x01) | t[1] | static_cast<uint8_t>(t[2] ^ 0x01);
  return acc == 0;
}

quarzel_ret_t rsa_prikey_alloc(rsa_prikey_t** prikey) {
  if (prikey == nullptr) return rsa_err(FN_PRIKEY_ALLOC, RSA_R_NULL);
  void* p = nullptr;
  if (quarzel_mem_alloc(&p, sizeof(rsa_prikey_t)) != 0) {
    *prikey = nullptr;
    return rsa_err(FN_PRIKEY_ALLOC, RSA_R_ALLOC);
  }
  *prikey = static_cast<rsa_prikey_t*>(p);
  return 0;
}

quarzel_ret_t rsa_pubkey_alloc(rsa_pubkey_t** pubkey) {
  if (pubkey == nullptr) return rsa_err(FN_PUBKEY_ALLOC, RSA_R_NULL);
  void* p = nullptr;
  if (quarzel_mem_alloc(&p, sizeof(rsa_pubkey_t)) != 0) {
    *pubkey = nullptr;
    return rsa_err(FN_PUBKEY_ALLOC, RSA_R_ALLOC);
  }
  *pubkey = static_cast<rsa_pubkey_t*>(p);
  return 0;
}

// Releasing the object also releases the buffers the library allocated for it,
// so that key material is never left behind in freed memory.
quarzel_ret_t rsa_prikey_free(rsa_prikey_t** prikey) {
  if (prikey == nullptr || *prikey == nullptr) return 0;
  release_prikey_buffers(*prikey);
  quarzel::secure_wipe(*prikey, sizeof(rsa_prikey_t));
  void* p = *prikey;
  quarzel_mem_dealloc(&p);
  *prikey = nullptr;
  return 0;
}

quarzel_ret_t rsa_pubkey_free(rsa_pubkey_t** pubkey) {
  if (pubkey == nullptr || *pubkey == nullptr) return 0;
  release_pubkey_buffers(*pubkey);
  void* p = *pubkey;
  quarzel_mem_dealloc(&p);
  *pubkey = nullptr;
  return 0;
}

quarzel_ret_t rsa_prikey_init(rsa_prikey_t* prikey, rsa_size_t rsa_size) {
  if (prikey == nullptr) return rsa_err(0x0426, RSA_R_NULL);
  std::memset(prikey, 0, sizeof(*prikey));
  prikey->state = RSA_PRIKEY_STATE_INIT;
  prikey->rsa_size = rsa_size;
  return 0;
}

quarzel_ret_t rsa_pubkey_init(rsa_pubkey_t* pubkey, rsa_size_t rsa_size) {
  if (pubkey == nullptr) return rsa_err(0x0427, RSA_R_NULL);
  std::memset(pubkey, 0, sizeof(*pubkey));
  pubkey->state = RSA_PUBKEY_STATE_INIT;
  pubkey->rsa_size = rsa_size;
  return 0;
}

quarzel_ret_t rsa_prikey_value_alloc(rsa_prikey_t* prikey, rsa_keytype_t rsa_keytype) {
  constexpr uint32_t fn = FN_PRIKEY_VALUE_ALLOC;
  if (prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (prikey->state != RSA_PRIKEY_STATE_INIT) return fail_pri(prikey, fn, RSA_R_STATE);
  if (!size_accepted(prikey->rsa_size)) return fail_pri(prikey, fn, RSA_R_SIZE);
  uint32_t wanted;
  switch (rsa_keytype) {
    case RSA_KEYTYPE_NONCRT: wanted = RSA_HAS_N | RSA_HAS_E | RSA_HAS_D; break;
    case RSA_KEYTYPE_CRT: wanted = RSA_HAS_N | RSA_HAS_E | RSA_HAS_D | RSA_HAS_P | RSA_HAS_Q; break;
    case RSA_KEYTYPE_CRTFAST: wanted = 0xFF; break;
    default: return fail_pri(prikey, fn, RSA_R_KEYTYPE);
  }
  for (const PriComponent& c : kPriComponents) {
    if ((wanted & c.bit) == 0 || prikey->*c.buf != nullptr) continue;
    const uint32_t len = component_len(c, prikey->rsa_size);
    void* p = nullptr;
    if (quarzel_mem_alloc(&p, len) != 0) return fail_pri(prikey, fn, RSA_R_ALLOC);
    prikey->*c.buf = static_cast<uint8_t*>(p);
    prikey->*c.len = len;
    prikey->owned |= c.bit;
  }
  prikey->state = RSA_PRIKEY_STATE_ACTIVE | RSA_FLAG_ALLOCATED;
  return 0;
}

quarzel_ret_t rsa_pubkey_value_alloc(rsa_pubkey_t* pubkey) {
  constexpr uint32_t fn = FN_PUBKEY_VALUE_ALLOC;
  if (pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (pubkey->state != RSA_PUBKEY_STATE_INIT) return fail_pub(pubkey, fn, RSA_R_STATE);
  if (!size_accepted(pubkey->rsa_size)) return fail_pub(pubkey, fn, RSA_R_SIZE);
  for (const PubComponent& c : kPubComponents) {
    if (pubkey->*c.buf != nullptr) continue;
    const uint32_t len = full_len(pubkey->rsa_size);
    void* p = nullptr;
    if (quarzel_mem_alloc(&p, len) != 0) return fail_pub(pubkey, fn, RSA_R_ALLOC);
    pubkey->*c.buf = static_cast<uint8_t*>(p);
    pubkey->*c.len = len;
    pubkey->owned |= c.bit;
  }
  pubkey->state = RSA_PUBKEY_STATE_ACTIVE | RSA_FLAG_ALLOCATED;
  return 0;
}

quarzel_ret_t rsa_prikey_value_mapping(rsa_prikey_t* prikey, uint32_t n_modulus_len,
                                       uint8_t* n_modulus, uint32_t e_exponent_len,
                                       uint8_t* e_exponent, uint32_t d_exponent_len,
                                       uint8_t* d_exponent, uint32_t p_prime_len, uint8_t* p_prime,
                                       uint32_t q_prime_len, uint8_t* q_prime,
                                       uint32_t dp_exponent_len, uint8_t* dp_exponent,
                                       uint32_t dq_exponent_len, uint8_t* dq_exponent,
                                       uint32_t crt_coefficient_len, uint8_t* crt_coefficient) {
  constexpr uint32_t fn = FN_PRIKEY_VALUE_MAPPING;
  if (prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  const uint32_t lens[8] = {n_modulus_len, e_exponent_len, d_exponent_len, p_prime_len,
                            q_prime_len, dp_exponent_len, dq_exponent_len, crt_coefficient_len};
  uint8_t* const bufs[8] = {n_modulus, e_exponent, d_exponent, p_prime,
                            q_prime, dp_exponent, dq_exponent, crt_coefficient};
  for (int i = 0; i < 8; ++i) {
    if (lens[i] != 0 && bufs[i] == nullptr) return fail_pri(prikey, fn, RSA_R_NULL);
  }
  const bool init = prikey->state == RSA_PRIKEY_STATE_INIT;
  if (!init && !(prikey_active(prikey) && (prikey->state & RSA_FLAG_ALLOCATED) == 0)) {
    return fail_pri(prikey, fn, RSA_R_STATE);
  }
  for (int i = 0; i < 8; ++i) {
    if (lens[i] != 0 && lens[i] != component_len(kPriComponents[i], prikey->rsa_size)) {
      return fail_pri(prikey, fn, RSA_R_LENGTH);
    }
  }
  uint32_t state = init ? (RSA_PRIKEY_STATE_ACTIVE | RSA_FLAG_MAPPED) : prikey->state;
  for (int i = 0; i < 8; ++i) {
    if (lens[i] == 0) continue;
    const PriComponent& c = kPriComponents[i];
    prikey->*c.buf = bufs[i];
    prikey->*c.len = lens[i];  // recorded so that mapped keys can be read and used
    state |= c.bit;
  }
  if (e_exponent_len != 0) state = with_e_flag(state, e_exponent_len, e_exponent);
  prikey->state = state;
  return 0;
}

quarzel_ret_t rsa_pubkey_value_mapping(rsa_pubkey_t* pubkey, uint32_t n_modulus_len,
                                       uint8_t* n_modulus, uint32_t e_exponent_len,
                                       uint8_t* e_exponent) {
  constexpr uint32_t fn = FN_PUBKEY_VALUE_MAPPING;
  if (pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if ((n_modulus_len != 0 && n_modulus == nullptr) || (e_exponent_len != 0 && e_exponent == nullptr)) {
    return fail_pub(pubkey, fn, RSA_R_NULL);
  }
  const bool init = pubkey->state == RSA_PUBKEY_STATE_INIT;
  if (!init && !(pubkey_active(pubkey) && (pubkey->state & RSA_FLAG_ALLOCATED) == 0)) {
    return fail_pub(pubkey, fn, RSA_R_STATE);
  }
  const uint32_t len = full_len(pubkey->rsa_size);
  if ((n_modulus_len != 0 && n_modulus_len != len) || (e_exponent_len != 0 && e_exponent_len != len)) {
    return fail_pub(pubkey, fn, RSA_R_LENGTH);
  }
  uint32_t state = init ? (RSA_PUBKEY_STATE_ACTIVE | RSA_FLAG_MAPPED) : pubkey->state;
  if (n_modulus_len != 0) {
    pubkey->n_modulus = n_modulus;
    pubkey->n_modulus_len = n_modulus_len;
    state |= RSA_HAS_N;
  }
  if (e_exponent_len != 0) {
    pubkey->e_exponent = e_exponent;
    pubkey->e_exponent_len = e_exponent_len;
    state = with_e_flag(state | RSA_HAS_E, e_exponent_len, e_exponent);
  }
  pubkey->state = state;
  return 0;
}

quarzel_ret_t rsa_prikey_value_set(rsa_prikey_t* prikey, uint32_t n_modulus_len,
                                   const uint8_t* n_modulus, uint32_t e_exponent_len,
                                   const uint8_t* e_exponent, uint32_t d_exponent_len,
                                   const uint8_t* d_exponent, uint32_t p_prime_len,
                                   const uint8_t* p_prime, uint32_t q_prime_len,
                                   const uint8_t* q_prime, uint32_t dp_exponent_len,
                                   const uint8_t* dp_exponent, uint32_t dq_exponent_len,
                                   const uint8_t* dq_exponent, uint32_t crt_coefficient_len,
                                   const uint8_t* crt_coefficient) {
  constexpr uint32_t fn = FN_PRIKEY_VALUE_SET;
  if (prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  const Part parts[8] = {{n_modulus_len, n_modulus},     {e_exponent_len, e_exponent},
                         {d_exponent_len, d_exponent},   {p_prime_len, p_prime},
                         {q_prime_len, q_prime},         {dp_exponent_len, dp_exponent},
                         {dq_exponent_len, dq_exponent}, {crt_coefficient_len, crt_coefficient}};
  for (int i = 0; i < 8; ++i) {
    if (parts[i].len != 0 && (parts[i].ptr == nullptr || prikey->*kPriComponents[i].buf == nullptr)) {
      return fail_pri(prikey, fn, RSA_R_NULL);
    }
  }
  if (!prikey_active(prikey)) return fail_pri(prikey, fn, RSA_R_STATE);
  for (int i = 0; i < 8; ++i) {
    const PriComponent& c = kPriComponents[i];
    if (parts[i].len != 0 &&
        (parts[i].len > component_len(c, prikey->rsa_size) || prikey->*c.len != component_len(c, prikey->rsa_size))) {
      return fail_pri(prikey, fn, RSA_R_LENGTH);
    }
  }
  uint32_t state = prikey->state;
  for (int i = 0; i < 8; ++i) {
    if (parts[i].len == 0) continue;
    const PriComponent& c = kPriComponents[i];
    copy_right_aligned(prikey->*c.buf, prikey->*c.len, parts[i].ptr, parts[i].len);
    state |= c.bit;
  }
  if (e_exponent_len != 0) state = with_e_flag(state, prikey->e_exponent_len, prikey->e_exponent);
  prikey->state = state;
  return 0;
}

quarzel_ret_t rsa_pubkey_value_set(rsa_pubkey_t* pubkey, uint32_t n_modulus_len,
                                   const uint8_t* n_modulus, uint32_t e_exponent_len,
                                   const uint8_t* e_exponent) {
  constexpr uint32_t fn = FN_PUBKEY_VALUE_SET;
  if (pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if ((n_modulus_len != 0 && (n_modulus == nullptr || pubkey->n_modulus == nullptr)) ||
      (e_exponent_len != 0 && (e_exponent == nullptr || pubkey->e_exponent == nullptr))) {
    return fail_pub(pubkey, fn, RSA_R_NULL);
  }
  if (!pubkey_active(pubkey)) return fail_pub(pubkey, fn, RSA_R_STATE);
  const uint32_t len = full_len(pubkey->rsa_size);
  if ((n_modulus_len != 0 && (n_modulus_len > len || pubkey->n_modulus_len != len)) ||
      (e_exponent_len != 0 && (e_exponent_len > len || pubkey->e_exponent_len != len))) {
    return fail_pub(pubkey, fn, RSA_R_LENGTH);
  }
  uint32_t state = pubkey->state;
  if (n_modulus_len != 0) {
    copy_right_aligned(pubkey->n_modulus, len, n_modulus, n_modulus_len);
    state |= RSA_HAS_N;
  }
  if (e_exponent_len != 0) {
    copy_right_aligned(pubkey->e_exponent, len, e_exponent, e_exponent_len);
    state = with_e_flag(state | RSA_HAS_E, len, pubkey->e_exponent);
  }
  pubkey->state = state;
  return 0;
}

quarzel_ret_t rsa_prikey_value_free(rsa_prikey_t* prikey) {
  constexpr uint32_t fn = FN_PRIKEY_VALUE_FREE;
  if (prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  const bool invalid = prikey->state == RSA_PRIKEY_STATE_INVALID;
  const bool allocated = prikey_active(prikey) && (prikey->state & RSA_FLAG_ALLOCATED) != 0;
  if (!invalid && !allocated) return fail_pri(prikey, fn, RSA_R_STATE);
  release_prikey_buffers(prikey);
  prikey->state = invalid ? RSA_PRIKEY_STATE_INVALID : RSA_PRIKEY_STATE_INIT;
  return 0;
}

quarzel_ret_t rsa_pubkey_value_free(rsa_pubkey_t* pubkey) {
  constexpr uint32_t fn = FN_PUBKEY_VALUE_FREE;
  if (pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  const bool invalid = pubkey->state == RSA_PUBKEY_STATE_INVALID;
  const bool allocated = pubkey_active(pubkey) && (pubkey->state & RSA_FLAG_ALLOCATED) != 0;
  if (!invalid && !allocated) return fail_pub(pubkey, fn, RSA_R_STATE);
  release_pubkey_buffers(pubkey);
  pubkey->state = invalid ? RSA_PUBKEY_STATE_INVALID : RSA_PUBKEY_STATE_INIT;
  return 0;
}

quarzel_ret_t rsa_prikey_value_get_length(const rsa_prikey_t* prikey, rsa_size_t* rsa_size,
                                          uint32_t* n_modulus_len, uint32_t* e_exponent_len,
                                          uint32_t* d_exponent_len, uint32_t* p_prime_len,
                                          uint32_t* q_prime_len, uint32_t* dp_exponent_len,
                                          uint32_t* dq_exponent_len, uint32_t* crt_coefficient_len) {
  constexpr uint32_t fn = FN_PRIKEY_GET_LENGTH;
  if (prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (prikey->state != RSA_PRIKEY_STATE_INIT && !prikey_active(prikey)) return rsa_err(fn, RSA_R_STATE);
  if (rsa_size != nullptr) *rsa_size = prikey->rsa_size;
  uint32_t* const outs[8] = {n_modulus_len, e_exponent_len, d_exponent_len, p_prime_len,
                             q_prime_len, dp_exponent_len, dq_exponent_len, crt_coefficient_len};
  for (int i = 0; i < 8; ++i) {
    if (outs[i] != nullptr) *outs[i] = prikey->*kPriComponents[i].len;
  }
  return 0;
}

quarzel_ret_t rsa_pubkey_value_get_length(const rsa_pubkey_t* pubkey, rsa_size_t* rsa_size,
                                          uint32_t* n_modulus_len, uint32_t* e_exponent_len) {
  constexpr uint32_t fn = FN_PUBKEY_GET_LENGTH;
  if (pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (pubkey->state != RSA_PUBKEY_STATE_INIT && !pubkey_active(pubkey)) return rsa_err(fn, RSA_R_STATE);
  if (rsa_size != nullptr) *rsa_size = pubkey->rsa_size;
  if (n_modulus_len != nullptr) *n_modulus_len = pubkey->n_modulus_len;
  if (e_exponent_len != nullptr) *e_exponent_len = pubkey->e_exponent_len;
  return 0;
}

quarzel_ret_t rsa_prikey_value_get(const rsa_prikey_t* prikey, rsa_size_t* rsa_size,
                                   uint32_t* n_modulus_len, uint8_t* n_modulus,
                                   uint32_t* e_exponent_len, uint8_t* e_exponent,
                                   uint32_t* d_exponent_len, uint8_t* d_exponent,
                                   uint32_t* p_prime_len, uint8_t* p_prime, uint32_t* q_prime_len,
                                   uint8_t* q_prime, uint32_t* dp_exponent_len,
                                   uint8_t* dp_exponent, uint32_t* dq_exponent_len,
                                   uint8_t* dq_exponent, uint32_t* crt_coefficient_len,
                                   uint8_t* crt_coefficient) {
  constexpr uint32_t fn = FN_PRIKEY_VALUE_GET;
  if (prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!prikey_usable(prikey)) return rsa_err(fn, RSA_R_STATE);
  uint32_t* const lens[8] = {n_modulus_len, e_exponent_len, d_exponent_len, p_prime_len,
                             q_prime_len, dp_exponent_len, dq_exponent_len, crt_coefficient_len};
  uint8_t* const outs[8] = {n_modulus, e_exponent, d_exponent, p_prime,
                            q_prime, dp_exponent, dq_exponent, crt_coefficient};
  if (rsa_size != nullptr) *rsa_size = prikey->rsa_size;
  for (int i = 0; i < 8; ++i) {
    const PriComponent& c = kPriComponents[i];
    const uint32_t have = prikey->*c.len;
    if (outs[i] != nullptr) {
      if (prikey->*c.buf == nullptr || lens[i] == nullptr) return rsa_err(fn, RSA_R_NULL);
      if (*lens[i] < have) {
        *lens[i] = have;
        return rsa_err(fn, RSA_R_OUT_SMALL);
      }
      std::memcpy(outs[i], prikey->*c.buf, have);
    }
    if (lens[i] != nullptr) *lens[i] = have;
  }
  return 0;
}

quarzel_ret_t rsa_pubkey_value_get(const rsa_pubkey_t* pubkey, rsa_size_t* rsa_size,
                                   uint32_t* n_modulus_len, uint8_t* n_modulus,
                                   uint32_t* e_exponent_len, uint8_t* e_exponent) {
  constexpr uint32_t fn = FN_PUBKEY_VALUE_GET;
  if (pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!pubkey_usable(pubkey)) return rsa_err(fn, RSA_R_STATE);
  uint32_t* const lens[2] = {n_modulus_len, e_exponent_len};
  uint8_t* const outs[2] = {n_modulus, e_exponent};
  if (rsa_size != nullptr) *rsa_size = pubkey->rsa_size;
  for (int i = 0; i < 2; ++i) {
    const PubComponent& c = kPubComponents[i];
    const uint32_t have = pubkey->*c.len;
    if (outs[i] != nullptr) {
      if (pubkey->*c.buf == nullptr || lens[i] == nullptr) return rsa_err(fn, RSA_R_NULL);
      if (*lens[i] < have) {
        *lens[i] = have;
        return rsa_err(fn, RSA_R_OUT_SMALL);
      }
      std::memcpy(outs[i], pubkey->*c.buf, have);
    }
    if (lens[i] != nullptr) *lens[i] = have;
  }
  return 0;
}

}  // extern "C"
