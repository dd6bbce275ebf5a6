// PIV secure-session establishment, host steps H1 to H13 (NIST SP 800-73-4
// Part 2 §4.1, cipher suite 2).
#include "se/piv.h"

#include <cstdio>
#include <cstring>

#include "quarzel/ecc.h"
#include "quarzel/hash.h"
#include "quarzel/secure.h"
#include "se/secure_channel.h"

uint8_t CBH = 0;
uint8_t IDSH[PIV_HOST_ID_LEN] = {};
uint8_t deH[32] = {};
uint8_t QeH[64] = {};

namespace {

constexpr uint32_t kKeyLen = 16;

// Frees the value buffers of key objects on every path (the private value
// is wiped by the library).
struct EcKeys {
  ecc_prikey_t pri{};
  ecc_pubkey_t pub{};
  bool pri_alloc = false;
  bool pub_alloc = false;
  EcKeys() = default;
  EcKeys(const EcKeys&) = delete;
  EcKeys& operator=(const EcKeys&) = delete;
  ~EcKeys() {
    if (pri_alloc) (void)ecc_prikey_value_free(&pri);
    if (pub_alloc) (void)ecc_pubkey_value_free(&pub);
  }
  uint32_t alloc_private() {
    (void)ecc_prikey_init(&pri, ECC_CRV_NIST_P256);
    const uint32_t rv = ecc_prikey_value_alloc(&pri);
    pri_alloc = rv == 0;
    return rv;
  }
  uint32_t alloc_public() {
    (void)ecc_pubkey_init(&pub, ECC_CRV_NIST_P256);
    const uint32_t rv = ecc_pubkey_value_alloc(&pub);
    pub_alloc = rv == 0;
    return rv;
  }
};

uint32_t load_u32_le(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Compares 16 bytes in constant time.
bool equal16(const uint8_t* a, const uint8_t* b) {
  uint8_t d = 0;
  for (int i = 0; i < 16; ++i) d = static_cast<uint8_t>(d | (a[i] ^ b[i]));
  return d == 0;
}

// Stores the session keys under `handle`, replacing any session of that handle.
uint32_t store_session(uint32_t handle, const PIV_SESSION_KEY& keys) {
  if (sdb_check_session_exist(handle) == 0) (void)sdb_release_sess(handle);
  if (uint32_t rv = sdb_fill_sess_handle_and_appid(handle, load_u32_le(IDSH)); rv != 0) return rv;
  quarzel::SecretArray<2 * kKeyLen> mac;
  std::memcpy(mac.data(), keys.MAC_key, kKeyLen);
  std::memcpy(mac.data() + kKeyLen, keys.RMAC_key, kKeyLen);
  uint32_t rv = sdb_set_enckey(handle, kKeyLen, keys.ENC_key);
  if (rv == 0) rv = sdb_set_mackey(handle, 2 * kKeyLen, mac.data());
  if (rv == 0) rv = sdb_increment_counter(handle);
  if (rv != 0) (void)sdb_release_sess(handle);
  return rv;
}

}  // namespace

extern "C" {

uint32_t prepare_sess_internal_state(ZEB_TLV* tlv_cbh, ZEB_TLV* tlv_id, ZEB_TLV* tlv_key) {
  if (tlv_cbh == nullptr || tlv_id == nullptr || tlv_key == nullptr) return SE_ERR_SERIALIZER;
  // An identifier that does not fit is refused, not replaced by zeros.
  if (tlv_id->length > PIV_HOST_ID_LEN || (tlv_id->length > 0 && tlv_id->value == nullptr)) {
    std::fprintf(stderr, "\033[1;31m[%s, %s, Line %d] tarvin: abort memcpy due to buffer overflow!\033[m\n", "piv", __func__,
                __LINE__);
    return SE_ERR_SERIALIZER;
  }
  uint32_t len = 0;
  if (uint32_t rv = ecc_get_length(ECC_CRV_NIST_P256, &len); rv != 0) return rv;
  EcKeys k;
  if (uint32_t rv = k.alloc_private(); rv != 0) return rv;
  if (uint32_t rv = k.alloc_public(); rv != 0) return rv;
  CBH = 0;
  if (uint32_t rv = ecc_gen_keypair(ECC_CRV_NIST_P256, ECC_KEYGEN_REJECT_SAMPLING, &k.pri, &k.pub); rv != 0) return rv;
  ecc_crv_t crv{};
  uint32_t d_len = sizeof deH, x_len = 32, y_len = 32;
  if (uint32_t rv = ecc_prikey_value_get(&k.pri, &crv, &d_len, deH); rv != 0) return rv;
  if (uint32_t rv = ecc_pubkey_value_get(&k.pub, &crv, &x_len, QeH, &y_len, QeH + 32); rv != 0) {
    quarzel::secure_wipe(deH, sizeof deH);
    return rv;
  }
  std::memset(IDSH, 0, sizeof IDSH);
  if (tlv_id->length > 0) std::memcpy(IDSH, tlv_id->value, tlv_id->length);
  *tlv_cbh = ZEB_TLV{TAG_UINT8_T, 1, &CBH};
  *tlv_id = ZEB_TLV{TAG_SC2_HOST_ID_T, PIV_HOST_ID_LEN, IDSH};
  *tlv_key = ZEB_TLV{TAG_SC2_PUB_KEY_T, sizeof QeH, QeH};
  return 0;
}

uint32_t step_H4(uint8_t CBICC) { return CBICC == 0 ? 0 : PIV_ERR_REFUSED; }

uint32_t step_H5(const CVC_t* CICC) {
  if (CICC == nullptr) return PIV_ERR_REFUSED;
  EcKeys k;
  if (uint32_t rv = k.alloc_public(); rv != 0) return rv;
  const uint8_t* q = CICC->CHPK.publicKeyObject;
  if (uint32_t rv = ecc_pubkey_value_set(&k.pub, 32, q, 32, q + 32); rv != 0) return rv;
  uint32_t verdict = QZ_FALSE;
  if (uint32_t rv = ecc_check_point_on_curve(&k.pub, &verdict); rv != 0) return rv;
  return verdict == QZ_TRUE ? 0 : PIV_ERR_REFUSED;
}

uint32_t step_H6(const CVC_t* CICC, uint8_t IDsICC[8]) {
  uint8_t digest[32];
  uint32_t n = sizeof digest;
  if (uint32_t rv = hash_onestep(HASH_TYPE_SHA2_256, sizeof *CICC, reinterpret_cast<const uint8_t*>(CICC), &n, digest);
      rv != 0)
    return rv;
  std::memcpy(IDsICC, digest, 8);
  return 0;
}

uint32_t step_H8(const uint8_t* d, const uint8_t QsICC[64], uint8_t* Z, uint32_t* Z_len) {
  EcKeys k;
  if (uint32_t rv = k.alloc_private(); rv != 0) return rv;
  if (uint32_t rv = k.alloc_public(); rv != 0) return rv;
  if (uint32_t rv = ecc_prikey_value_set(&k.pri, 32, d); rv != 0) return rv;
  if (uint32_t rv = ecc_pubkey_value_set(&k.pub, 32, QsICC, 32, QsICC + 32); rv != 0) return rv;
  if (uint32_t rv = ecdh_derive_shared_secret(&k.pri, &k.pub, Z_len, Z); rv != 0) return rv;
  return *Z_len == 32 ? 0 : PIV_ERR_SECRET_LEN;
}

void step_H9(uint8_t* d) { quarzel::secure_wipe(d, 32); }

// SP 800-56A concatenation KDF with SHA-256: block i = H(i as u32 BE | Z |
// OtherInfo); the blocks in order give SKcfrm | SKmac | SKenc | SKrmac.
uint32_t step_H10(const uint8_t* Z, uint32_t key_len, const uint8_t other_info[PIV_OTHER_INFO_LEN],
                  PIV_SESSION_KEY* keys) {
  if (key_len != kKeyLen || Z == nullptr || other_info == nullptr || keys == nullptr) return PIV_ERR_SECRET_LEN;
  quarzel::SecretArray<64> out;
  for (uint32_t block = 0; block < 2; ++block) {
    const uint8_t counter[4] = {0, 0, 0, static_cast<uint8_t>(block + 1)};
    hash_ctx_t ctx;
    quarzel::WipeOnExit<hash_ctx_t> wipe(ctx);
    uint32_t n = 32;
    uint32_t rv = hash_init(&ctx, HASH_TYPE_SHA2_256);
    if (rv == 0) rv = hash_update(&ctx, sizeof counter, counter);
    if (rv == 0) rv = hash_update(&ctx, 32, Z);
    if (rv == 0) rv = hash_update(&ctx, PIV_OTHER_INFO_LEN, other_info);
    if (rv == 0) rv = hash_final(&ctx, &n, out.data() + 32 * block);
    if (rv != 0) return rv;
  }
  std::memcpy(keys->CFRM_key, out.data(), kKeyLen);
  std::memcpy(keys->MAC_key, out.data() + 16, kKeyLen);
  std::memcpy(keys->ENC_key, out.data() + 32, kKeyLen);
  std::memcpy(keys->RMAC_key, out.data() + 48, kKeyLen);
  return 0;
}

void step_H11(uint8_t* Z) { quarzel::secure_wipe(Z, 32); }

uint32_t step_H12(const uint8_t CFRM_key[16], const uint8_t IDsICC[8], const uint8_t IDsH[8], const uint8_t Q[64],
                  const uint8_t AuthCryptogramICC[16]) {
  uint8_t msg[PIV_CONFIRMATION_LEN];
  std::memcpy(msg, "KC_1_V", 6);
  std::memcpy(msg + 6, IDsICC, 8);
  std::memcpy(msg + 14, IDsH, 8);
  std::memcpy(msg + 22, Q, 64);
  quarzel::SecretArray<16> tag;
  if (uint32_t rv = aes128_cmac(CFRM_key, msg, sizeof msg, tag.data()); rv != 0) return rv;
  return equal16(tag.data(), AuthCryptogramICC) ? 0 : PIV_ERR_REFUSED;
}

void step_H13(uint8_t* CFRM_key) { quarzel::secure_wipe(CFRM_key, 16); }

void fill_other_info(const uint8_t IDsH[8], uint8_t cbh, const uint8_t Q[64], const uint8_t IDsICC[8],
                     const uint8_t NICC[16], uint8_t CBICC, uint8_t other_info[PIV_OTHER_INFO_LEN]) {
  uint8_t* p = other_info;
  const uint8_t algo[] = {0x04, 0x09, 0x09, 0x09, 0x09};
  std::memcpy(p, algo, sizeof algo);
  p += sizeof algo;
  *p++ = 0x08;
  std::memcpy(p, IDsH, 8);
  p += 8;
  *p++ = 0x01;
  *p++ = cbh;
  *p++ = 0x10;
  std::memcpy(p, Q, 16);
  p += 16;
  *p++ = 0x08;
  std::memcpy(p, IDsICC, 8);
  p += 8;
  *p++ = 0x10;
  std::memcpy(p, NICC, 16);
  p += 16;
  *p++ = 0x01;
  *p++ = CBICC;
}

uint32_t piv_open_session(uint8_t CBICC, const uint8_t NICC[16], const uint8_t AuthCryptogramICC[16],
                          const CVC_t* CICC, uint32_t sess_hdle) {
  // The ephemeral private key goes whatever the outcome.
  struct WipeHost {
    ~WipeHost() { step_H9(deH); }
  } wipe_host;
  if (NICC == nullptr || AuthCryptogramICC == nullptr) return PIV_ERR_REFUSED;
  if (uint32_t rv = step_H4(CBICC); rv != 0) return rv;
  if (uint32_t rv = step_H5(CICC); rv != 0) return rv;
  uint8_t IDsICC[8];
  if (uint32_t rv = step_H6(CICC, IDsICC); rv != 0) return rv;
  quarzel::SecretArray<32> Z;
  uint32_t z_len = Z.size();
  if (uint32_t rv = step_H8(deH, CICC->CHPK.publicKeyObject, Z.data(), &z_len); rv != 0) return rv;
  step_H9(deH);
  uint8_t other_info[PIV_OTHER_INFO_LEN];
  fill_other_info(IDSH, CBH, QeH, IDsICC, NICC, CBICC, other_info);
  PIV_SESSION_KEY keys;
  quarzel::WipeOnExit<PIV_SESSION_KEY> wipe_keys(keys);
  if (uint32_t rv = step_H10(Z.data(), kKeyLen, other_info, &keys); rv != 0) return rv;
  step_H11(Z.data());
  if (uint32_t rv = step_H12(keys.CFRM_key, IDsICC, IDSH, QeH, AuthCryptogramICC); rv != 0) return rv;
  step_H13(keys.CFRM_key);
  return store_session(sess_hdle, keys);
}

}  // extern "C"
