// Signing and verifying operations: RSASSA-PKCS1-v1_5, RSASSA-PSS, ANSI X9.31,
// and signing variants that verify their own signature before returning it.
#include <cstring>

#include "quarzel/ct.h"
#include "quarzel/rsa.h"
#include "rsa/rsa_internal.h"
#include "rsa/rsa_num.h"
#include "rsa/rsa_sig_internal.h"

namespace quarzel::rsa {

quarzel_ret_t DerivedPubKey::derive(const rsa_prikey_t* prikey) {
  (void)rsa_pubkey_init(&k_, prikey->rsa_size);
  RSA_TRY(rsa_pubkey_value_alloc(&k_));
  return rsa_gen_puk_from_prk(prikey, &k_);
}

namespace {

constexpr uint32_t FN_PSS_SIGN = 0x0438;
constexpr uint32_t FN_PSS_VERIFY_OP = 0x0439;
constexpr uint32_t FN_PKCS1_SIGN = 0x043A;
constexpr uint32_t FN_PKCS1_VERIFY_OP = 0x043B;
constexpr uint32_t FN_X931_SIGN = 0x043C;
constexpr uint32_t FN_X931_VERIFY_OP = 0x043D;

constexpr uint8_t low_byte(quarzel_ret_t r) { return static_cast<uint8_t>(r & 0xFF); }

// A fault in the private operation must not release a wrong signature
// (RSA-CRT fault attacks): recover em from the signature with the public key.
quarzel_ret_t check_signature(uint32_t fn, const rsa_prikey_t* prikey, const uint8_t* signature,
                              const uint8_t* em) {
  const uint32_t k = prikey->rsa_size / 8;
  DerivedPubKey pub;
  RSA_TRY(pub.derive(prikey));
  Buf back;
  if (!back.alloc(k)) return rsa_err(fn, RSA_R_ALLOC);
  ct::declassify(signature, k);  // the output: public
  RSA_TRY(rsa_rsavp1(pub.get(), signature, back.data()));
  if (!ct::declassify(quarzel::ct_equal(back.data(), em, k))) return rsa_err(fn, RSA_R_CHECK);
  return 0;
}

bool key_ready(const rsa_prikey_t* k) { return k != nullptr && prikey_usable(k) && size_accepted(k->rsa_size); }

quarzel_ret_t pkcs1_sign(const rsa_prikey_t* prikey, hash_type_t hash_type, uint32_t digest_len,
                         const uint8_t* digest, uint8_t* signature, bool check) {
  constexpr uint32_t fn = FN_PKCS1_SIGN;
  if (prikey == nullptr || digest == nullptr || signature == nullptr) return rsa_err(fn, RSA_R_NULL);
  const uint32_t k = prikey->rsa_size / 8;
  Buf em;
  if (!em.alloc(k)) return rsa_err(fn, RSA_R_ALLOC);
  RSA_TRY(rsa_emsa_pkcs1_v1_5_encode(prikey->rsa_size, hash_type, digest_len, digest, em.data()));
  RSA_TRY(rsa_rsasp1(prikey, em.data(), signature));
  return check ? check_signature(fn, prikey, signature, em.data()) : 0;
}

quarzel_ret_t pss_sign(const rsa_prikey_t* prikey, hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
                       uint32_t mgf_digest_len, uint32_t digest_len, const uint8_t* digest,
                       uint32_t salt_len, const uint8_t* salt, uint8_t* signature, bool check) {
  constexpr uint32_t fn = FN_PSS_SIGN;
  if (prikey == nullptr || digest == nullptr || signature == nullptr) return rsa_err(fn, RSA_R_NULL);
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type_msg, &hlen));
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  // The encoding fills all 8k - 1 bits below the top one, so n must use all 8k bits.
  if (prikey_active(prikey) && has_all(prikey->state, RSA_HAS_N) && prikey->n_modulus != nullptr &&
      prikey->n_modulus_len != 0 && (prikey->n_modulus[0] & 0x80) == 0) {
    return rsa_err(fn, RSA_R_SIZE);
  }
  const uint32_t k = prikey->rsa_size / 8;
  Buf em;
  if (!em.alloc(k)) return rsa_err(fn, RSA_R_ALLOC);
  RSA_TRY(rsa_emsa_pss_encode(prikey->rsa_size, hash_type_msg, mgf_type, mgf_digest_len, digest_len,
                              digest, salt_len, salt, em.data()));
  RSA_TRY(rsa_rsasp1(prikey, em.data(), signature));
  return check ? check_signature(fn, prikey, signature, em.data()) : 0;
}

quarzel_ret_t x931_sign(const rsa_prikey_t* prikey, hash_type_t hash_type, uint32_t digest_len,
                        const uint8_t* digest, uint8_t* signature, bool check) {
  constexpr uint32_t fn = FN_X931_SIGN;
  if (prikey == nullptr || digest == nullptr || signature == nullptr) return rsa_err(fn, RSA_R_NULL);
  // The key is checked before d is read: it must hold d at its full size.
  if (!key_ready(prikey) || !has_all(prikey->state, RSA_HAS_D) || prikey->d_exponent == nullptr ||
      prikey->d_exponent_len != prikey->rsa_size / 8) {
    return rsa_err(fn, RSA_R_STATE);
  }
  if (digest_len != 20 && digest_len != 28 && digest_len != 32 && digest_len != 48 && digest_len != 64) {
    return rsa_err(fn, RSA_R_DIGEST);
  }
  const X931Id* id = x931_by_type(hash_type);
  if (id == nullptr) return rsa_err(fn, RSA_R_HASH_TYPE);
  if (digest_len != id->digest_len) return rsa_err(fn, RSA_R_DIGEST_LEN);
  const uint32_t k = prikey->rsa_size / 8;
  if ((prikey->d_exponent[k - 1] & 1) == 0) return rsa_err(fn, RSA_R_EVEN);
  Buf em;
  if (!em.alloc(k)) return rsa_err(fn, RSA_R_ALLOC);
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type, &hlen));
  if (hlen != digest_len) return rsa_err(fn, RSA_R_DIGEST_LEN);
  RSA_TRY(ansi_x9_31_encode(prikey->rsa_size, hash_type, digest_len, digest, em.data()));
  RSA_TRY(rsa_rsasp1(prikey, em.data(), signature));
  if (check) RSA_TRY(check_signature(fn, prikey, signature, em.data()));
  // The signature is min(s, n - s).
  Num work;
  const uint8_t* n = nullptr;
  RSA_TRY(prikey_modulus(prikey, fn, work, &n));
  const mpi_t N = view(k, n);
  mpi_t S = view(k, signature);
  uint32_t cmp = 0;
  RSA_TRY_CORE(fn, mpi_c_cmp_n_div_2(&S, &N, &cmp));
  if (cmp == QZ_CMP_GREATER) RSA_TRY_CORE(fn, mpi_sub(&S, &N, &S));
  return 0;
}

bool pubkey_ready(const rsa_pubkey_t* k) {
  return pubkey_usable(k) && size_accepted(k->rsa_size) && k->n_modulus != nullptr &&
         k->e_exponent != nullptr && k->n_modulus_len == k->rsa_size / 8 &&
         k->e_exponent_len == k->rsa_size / 8;
}

// s^e mod n into `out`; an out-of-range signature is a verdict, not an error.
quarzel_ret_t recover(uint32_t fn, const rsa_pubkey_t* pubkey, const uint8_t* signature, uint8_t* out,
                      bool* in_range, bool keep_error) {
  const quarzel_ret_t r = rsa_rsavp1(pubkey, signature, out);
  *in_range = r == 0;
  if (r == 0 || low_byte(r) == RSA_R_RANGE) return 0;
  return keep_error ? r : rsa_err(fn, low_byte(r));
}

}  // namespace
}  // namespace quarzel::rsa

using namespace quarzel::rsa;

extern "C" {

quarzel_ret_t rsa_rsassa_pkcs1_v1_5_sign(const rsa_prikey_t* prikey, hash_type_t hash_type,
                                         uint32_t digest_len, const uint8_t* digest,
                                         uint8_t* signature) {
  return pkcs1_sign(prikey, hash_type, digest_len, digest, signature, false);
}

quarzel_ret_t rsa_rsassa_pkcs1_v1_5_sign_with_checking(const rsa_prikey_t* prikey,
                                                       hash_type_t hash_type, uint32_t digest_len,
                                                       const uint8_t* digest, uint8_t* signature) {
  return pkcs1_sign(prikey, hash_type, digest_len, digest, signature, true);
}

quarzel_ret_t rsa_rsassa_pkcs1_v1_5_verify(const rsa_pubkey_t* pubkey, hash_type_t hash_type,
                                           uint32_t digest_len, const uint8_t* digest,
                                           const uint8_t* signature, uint32_t* verify_result) {
  constexpr uint32_t fn = FN_PKCS1_VERIFY_OP;
  if (verify_result == nullptr) return rsa_err(fn, RSA_R_NULL);
  *verify_result = QZ_FALSE;
  if (pubkey == nullptr || digest == nullptr || signature == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!pubkey_ready(pubkey)) return rsa_err(fn, RSA_R_STATE);
  Buf em;
  if (!em.alloc(pubkey->rsa_size / 8)) return rsa_err(fn, RSA_R_ALLOC);
  bool in_range = false;
  RSA_TRY(recover(fn, pubkey, signature, em.data(), &in_range, false));
  if (!in_range) return 0;
  return rsa_emsa_pkcs1_v1_5_verify(pubkey->rsa_size, hash_type, digest_len, digest, em.data(),
                                    verify_result);
}

quarzel_ret_t rsa_rsassa_pss_sign(const rsa_prikey_t* prikey, hash_type_t hash_type_msg,
                                  rsa_mgf_t mgf_type, uint32_t mgf_digest_len, uint32_t digest_len,
                                  const uint8_t* digest, uint32_t salt_len, const uint8_t* salt,
                                  uint8_t* signature) {
  return pss_sign(prikey, hash_type_msg, mgf_type, mgf_digest_len, digest_len, digest, salt_len,
                  salt, signature, false);
}

quarzel_ret_t rsa_rsassa_pss_sign_with_checking(const rsa_prikey_t* prikey,
                                                hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
                                                uint32_t mgf_digest_len, uint32_t digest_len,
                                                const uint8_t* digest, uint32_t salt_len,
                                                const uint8_t* salt, uint8_t* signature) {
  return pss_sign(prikey, hash_type_msg, mgf_type, mgf_digest_len, digest_len, digest, salt_len,
                  salt, signature, true);
}

quarzel_ret_t rsa_rsassa_pss_verify(const rsa_pubkey_t* pubkey, hash_type_t hash_type_msg,
                                    rsa_mgf_t mgf_type, uint32_t mgf_digest_len,
                                    uint32_t digest_len, const uint8_t* digest, uint32_t salt_len,
                                    const uint8_t* salt, const uint8_t* signature,
                                    uint32_t* verify_result) {
  constexpr uint32_t fn = FN_PSS_VERIFY_OP;
  if (verify_result == nullptr) return rsa_err(fn, RSA_R_NULL);
  *verify_result = QZ_FALSE;
  if (pubkey == nullptr || digest == nullptr || signature == nullptr) return rsa_err(fn, RSA_R_NULL);
  if (!pubkey_ready(pubkey)) return rsa_err(fn, RSA_R_STATE);
  uint32_t hlen = 0;
  RSA_TRY(hash_get_length(hash_type_msg, &hlen));
  if (digest_len != hlen) return rsa_err(fn, RSA_R_DIGEST_LEN);
  Buf em;
  if (!em.alloc(pubkey->rsa_size / 8)) return rsa_err(fn, RSA_R_ALLOC);
  bool in_range = false;
  RSA_TRY(recover(fn, pubkey, signature, em.data(), &in_range, true));
  if (!in_range) return 0;
  return rsa_emsa_pss_verify(pubkey->rsa_size, hash_type_msg, mgf_type, mgf_digest_len, digest_len,
                             digest, salt_len, salt, em.data(), verify_result);
}

quarzel_ret_t rsa_ansi_x9_31_sign(const rsa_prikey_t* prikey, hash_type_t hash_type,
                                  uint32_t digest_len, const uint8_t* digest, uint8_t* signature) {
  return x931_sign(prikey, hash_type, digest_len, digest, signature, false);
}

quarzel_ret_t rsa_ansi_x9_31_sign_with_checking(const rsa_prikey_t* prikey, hash_type_t hash_type,
                                                uint32_t digest_len, const uint8_t* digest,
                                                uint8_t* signature) {
  return x931_sign(prikey, hash_type, digest_len, digest, signature, true);
}

quarzel_ret_t rsa_ansi_x9_31_verify(const rsa_pubkey_t* pubkey, hash_type_t hash_type,
                                    uint32_t digest_len, const uint8_t* digest,
                                    const uint8_t* signature, uint32_t* verify_result) {
  constexpr uint32_t fn = FN_X931_VERIFY_OP;
  if (verify_result == nullptr) return rsa_err(fn, RSA_R_NULL);
  *verify_result = QZ_FALSE;
  if (pubkey == nullptr || digest == nullptr || signature == nullptr) return rsa_err(fn, RSA_R_NULL);
  // The key is checked before e and n are read.
  if (!pubkey_ready(pubkey)) return rsa_err(fn, RSA_R_STATE);
  if (digest_len != 20 && digest_len != 28 && digest_len != 32 && digest_len != 48 && digest_len != 64) {
    return rsa_err(fn, RSA_R_DIGEST);
  }
  if (hash_type != HASH_TYPE_UNDEFINED) {
    const X931Id* id = x931_by_type(hash_type);
    if (id == nullptr) return rsa_err(fn, RSA_R_HASH_TYPE);
    if (id->digest_len != digest_len) return rsa_err(fn, RSA_R_DIGEST_LEN);
  }
  const uint32_t k = pubkey->rsa_size / 8;
  if ((pubkey->e_exponent[k - 1] & 1) == 0) return rsa_err(fn, RSA_R_EVEN);
  const mpi_t S = view(k, signature), N = view(k, pubkey->n_modulus);
  uint32_t cmp = 0;
  RSA_TRY_CORE(fn, mpi_c_cmp_n_div_2(&S, &N, &cmp));
  if (cmp == QZ_CMP_GREATER) return 0;
  Buf em;
  if (!em.alloc(k)) return rsa_err(fn, RSA_R_ALLOC);
  bool in_range = false;
  RSA_TRY(recover(fn, pubkey, signature, em.data(), &in_range, false));
  if (!in_range) return 0;
  return ansi_x9_31_verify(pubkey->rsa_size, pubkey->n_modulus, digest_len, digest, em.data(),
                           verify_result);
}

}  // extern "C"
