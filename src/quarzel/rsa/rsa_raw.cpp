// Raw RSA key blobs: u16 key size in bits, u16 component mask (both
// little-endian), then each present component at its full field size.
#include <cstring>

#include "quarzel/rsa_key.h"
#include "rsa/rsa_internal.h"

using namespace quarzel::rsa;

namespace {

constexpr uint32_t kPriMaskAllowed = 0x1FF;
constexpr uint32_t kPubMaskAllowed = 0x103;

uint16_t get_u16le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void put_u16le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t prikey_blob_len(uint32_t mask, uint32_t bits) {
  uint32_t n = 4;
  for (const PriComponent& c : kPriComponents) {
    if ((mask & c.bit) != 0) n += component_len(c, bits);
  }
  return n;
}

}  // namespace

extern "C" {

quarzel_ret_t rsa_prikey_to_raw(const rsa_prikey_t* prikey, uint32_t* raw_len, uint8_t* raw) {
  constexpr uint32_t fn = FN_PRIKEY_TO_RAW;
  if (prikey == nullptr || raw_len == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!prikey_usable(prikey) || !size_accepted(prikey->rsa_size)) return rsa_err(fn, RSA_R_STATE);
  const uint32_t bits = prikey->rsa_size;
  const uint32_t mask = prikey->state & kPriMaskAllowed;
  for (const PriComponent& c : kPriComponents) {
    if ((mask & c.bit) != 0 &&
        (prikey->*c.buf == nullptr || prikey->*c.len != component_len(c, bits))) {
      return rsa_err(fn, RSA_R_STATE);
    }
  }
  const uint32_t need = prikey_blob_len(mask, bits);
  if (raw == nullptr || *raw_len < need) {
    *raw_len = need;
    return raw == nullptr ? rsa_err(fn, RSA_R_NULL) : rsa_err(fn, RSA_R_LEN);
  }
  *raw_len = need;
  put_u16le(raw, bits);
  put_u16le(raw + 2, mask);
  uint32_t off = 4;
  for (const PriComponent& c : kPriComponents) {
    if ((mask & c.bit) == 0) continue;
    std::memcpy(raw + off, prikey->*c.buf, prikey->*c.len);
    off += prikey->*c.len;
  }
  return 0;
}

quarzel_ret_t rsa_pubkey_to_raw(const rsa_pubkey_t* pubkey, uint32_t* raw_len, uint8_t* raw) {
  constexpr uint32_t fn = FN_PUBKEY_TO_RAW;
  if (pubkey == nullptr || raw_len == nullptr) return rsa_err(fn, RSA_R_NULL);
  const uint32_t bits = pubkey->rsa_size;
  const uint32_t len = full_len(bits);
  if (!pubkey_usable(pubkey) || !size_accepted(bits) || pubkey->n_modulus_len != len ||
      pubkey->e_exponent_len != len) {
    return rsa_err(fn, RSA_R_STATE);
  }
  const uint32_t need = 2 * len + 4;
  if (raw == nullptr || *raw_len < need) {
    *raw_len = need;
    return raw == nullptr ? rsa_err(fn, RSA_R_NULL) : rsa_err(fn, RSA_R_LEN);
  }
  *raw_len = need;
  put_u16le(raw, bits);
  put_u16le(raw + 2, pubkey->state & kPubMaskAllowed);
  std::memcpy(raw + 4, pubkey->n_modulus, len);
  std::memcpy(raw + 4 + len, pubkey->e_exponent, len);
  return 0;
}

quarzel_ret_t rsa_raw_prikey_get_length(uint32_t raw_len, const uint8_t* raw, rsa_size_t* rsa_size,
                                        rsa_keytype_t* rsa_keytype) {
  constexpr uint32_t fn = FN_RAW_PRIKEY_GET_LENGTH;
  if (raw == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (raw_len < 4) return rsa_err(fn, RSA_R_LEN);
  const uint32_t mask = get_u16le(raw + 2);
  if ((mask & ~kPriMaskAllowed) != 0) return rsa_err(fn, RSA_R_TAG);
  if (rsa_size != nullptr) *rsa_size = static_cast<rsa_size_t>(get_u16le(raw));
  if (rsa_keytype != nullptr) {
    if (has_all(mask, RSA_SET_CRT)) {
      *rsa_keytype = RSA_KEYTYPE_CRTFAST;
    } else if (has_all(mask, RSA_SET_D_P_Q)) {
      *rsa_keytype = RSA_KEYTYPE_CRT;
    } else if (has_all(mask, RSA_SET_N_D)) {
      *rsa_keytype = RSA_KEYTYPE_NONCRT;
    } else {
      return rsa_err(fn, RSA_R_TAG);
    }
  } else if (!prikey_has_usable_set(mask)) {
    return rsa_err(fn, RSA_R_TAG);
  }
  return 0;
}

quarzel_ret_t rsa_raw_pubkey_get_length(uint32_t raw_len, const uint8_t* raw, rsa_size_t* rsa_size) {
  constexpr uint32_t fn = FN_RAW_PUBKEY_GET_LENGTH;
  if (raw == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (raw_len < 4) return rsa_err(fn, RSA_R_LEN);
  const uint32_t mask = get_u16le(raw + 2);
  // The public blob always carries n and e; any other mask is outside the format.
  if ((mask & ~kPubMaskAllowed) != 0 || !has_all(mask, RSA_HAS_N | RSA_HAS_E)) {
    return rsa_err(fn, RSA_R_TAG);
  }
  if (rsa_size != nullptr) *rsa_size = static_cast<rsa_size_t>(get_u16le(raw));
  return 0;
}

quarzel_ret_t rsa_raw_to_prikey(uint32_t raw_len, const uint8_t* raw, rsa_prikey_t* prikey) {
  constexpr uint32_t fn = FN_RAW_TO_PRIKEY;
  if (raw == nullptr || prikey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!prikey_active(prikey)) return rsa_err(fn, RSA_R_STATE);
  rsa_size_t blob_bits{};
  rsa_keytype_t type{};
  if (const quarzel_ret_t r = rsa_raw_prikey_get_length(raw_len, raw, &blob_bits, &type); r != 0) {
    return r;
  }
  const uint32_t bits = prikey->rsa_size;
  // A blob of another size would be read with the wrong component offsets.
  if (blob_bits != bits) return rsa_err(fn, RSA_R_LENGTH);
  const uint32_t mask = get_u16le(raw + 2);
  if (raw_len < prikey_blob_len(mask, bits)) return rsa_err(fn, RSA_R_LEN);
  for (const PriComponent& c : kPriComponents) {
    if ((mask & c.bit) != 0 && prikey->*c.len != component_len(c, bits)) {
      return rsa_err(fn, RSA_R_STATE);
    }
  }
  uint32_t off = 4;
  Part parts[8]{};
  for (int i = 0; i < 8; ++i) {
    const PriComponent& c = kPriComponents[i];
    if ((mask & c.bit) == 0) continue;
    parts[i] = {component_len(c, bits), raw + off};
    off += parts[i].len;
  }
  // One set call: it derives the 65537 flag from e's bytes, never from the blob.
  const quarzel_ret_t r = rsa_prikey_value_set(
      prikey, parts[0].len, parts[0].ptr, parts[1].len, parts[1].ptr, parts[2].len, parts[2].ptr,
      parts[3].len, parts[3].ptr, parts[4].len, parts[4].ptr, parts[5].len, parts[5].ptr,
      parts[6].len, parts[6].ptr, parts[7].len, parts[7].ptr);
  if (r != 0) return r;
  prikey->state |= mask & 0xFF;
  return 0;
}

quarzel_ret_t rsa_raw_to_pubkey(uint32_t raw_len, const uint8_t* raw, rsa_pubkey_t* pubkey) {
  constexpr uint32_t fn = FN_RAW_TO_PUBKEY;
  if (raw == nullptr || pubkey == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!pubkey_active(pubkey)) return rsa_err(fn, RSA_R_STATE);
  rsa_size_t blob_bits{};
  if (const quarzel_ret_t r = rsa_raw_pubkey_get_length(raw_len, raw, &blob_bits); r != 0) return r;
  const uint32_t bits = pubkey->rsa_size;
  if (blob_bits != bits) return rsa_err(fn, RSA_R_LENGTH);
  const uint32_t len = full_len(bits);
  if (raw_len < 2 * len + 4) return rsa_err(fn, RSA_R_LEN);
  if (const quarzel_ret_t r = rsa_pubkey_value_set(pubkey, len, raw + 4, len, raw + 4 + len); r != 0) {
    return r;
  }
  pubkey->state |= RSA_HAS_N | RSA_HAS_E;
  return 0;
}

}  // extern "C"
