// RSA operations: modular exponentiation and the RFC 8017 primitives, key-pair
// generation (e = 65537), mask generation, RSASSA-PKCS1-v1_5, RSASSA-PSS,
// ANSI X9.31 signatures, RSAES-OAEP and RSAES-PKCS1-v1_5.
//
// Numbers are big-endian byte strings of fixed length: k = L = size/8 bytes
// for n, e, d, messages, representatives, signatures and ciphertexts;
// H = size/16 bytes for p, q, dp, dq and qinv. Signatures are made over a
// digest the caller computed. Verifications and decryptions that fail only on
// content return 0 and write QZ_FALSE to their verdict word.
#pragma once

#include <cstdint>

#include "quarzel/hash.h"
#include "quarzel/mpi.h"
#include "quarzel/rsa_key.h"

enum rsa_mgf_t : uint32_t {
  RSA_MGF_UNDEFINED = 0,
  RSA_MGF_MGF1_SHA1 = 4,
  RSA_MGF_MGF1_SHA2_224 = 8,
  RSA_MGF_MGF1_SHA2_256 = 9,
  RSA_MGF_MGF1_SHA2_384 = 10,
  RSA_MGF_MGF1_SHA2_512 = 11,
  RSA_MGF_MGF1_SHA2_512_224 = 12,
  RSA_MGF_MGF1_SHA2_512_256 = 13,
  RSA_MGF_MGF1_SHA3_224 = 16,
  RSA_MGF_MGF1_SHA3_256 = 17,
  RSA_MGF_MGF1_SHA3_384 = 18,
  RSA_MGF_MGF1_SHA3_512 = 19,
  RSA_MGF_MGF1_SHAKE128 = 32,
  RSA_MGF_MGF1_SHAKE256 = 33,
  RSA_MGF_SHAKE128 = 128,
  RSA_MGF_SHAKE256 = 129,
};

extern "C" {

// ---- exponentiation and primitives ----
[[nodiscard]] quarzel_ret_t rsa_power(uint32_t rsa_length, const uint8_t* base,
                                      const uint8_t* n_modulus, const uint8_t* d_exponent,
                                      uint8_t* result);
[[nodiscard]] quarzel_ret_t rsa_power_crt(uint32_t rsa_length, const uint8_t* base,
                                          const uint8_t* d_exponent, const uint8_t* p_prime,
                                          const uint8_t* q_prime, uint8_t* result);
[[nodiscard]] quarzel_ret_t rsa_power_crt_fast(uint32_t rsa_length, const uint8_t* base,
                                               const uint8_t* p_prime, const uint8_t* q_prime,
                                               const uint8_t* dp_exponent,
                                               const uint8_t* dq_exponent,
                                               const uint8_t* crt_coefficient, uint8_t* result);
[[nodiscard]] quarzel_ret_t rsa_power_65537(uint32_t rsa_length, const uint8_t* base,
                                            const uint8_t* n_modulus, uint8_t* result);
[[nodiscard]] quarzel_ret_t rsa_rsaep(const rsa_pubkey_t* pubkey, const uint8_t* message,
                                      uint8_t* ciphertext);
[[nodiscard]] quarzel_ret_t rsa_rsadp(const rsa_prikey_t* prikey, const uint8_t* ciphertext,
                                      uint8_t* message);
[[nodiscard]] quarzel_ret_t rsa_rsasp1(const rsa_prikey_t* prikey, const uint8_t* message,
                                       uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_rsavp1(const rsa_pubkey_t* pubkey, const uint8_t* signature,
                                       uint8_t* message);

// ---- key-pair generation ----
[[nodiscard]] quarzel_ret_t rsa_gen_keypair(rsa_prikey_t* prikey, rsa_pubkey_t* pubkey,
                                            rsa_keytype_t rsa_keytype, uint32_t e_exponent_len,
                                            const uint8_t* e_exponent);
[[nodiscard]] quarzel_ret_t rsa_gen_puk_from_prk(const rsa_prikey_t* prikey, rsa_pubkey_t* pubkey);
[[nodiscard]] quarzel_ret_t rsa_keygen(uint32_t rsa_length, uint8_t* p, uint8_t* q, uint8_t* N,
                                       uint8_t* d);
[[nodiscard]] quarzel_ret_t rsa_primegen(uint32_t rsa_length, uint8_t* p, uint8_t* q);
[[nodiscard]] quarzel_ret_t rsa_key_from_prime(uint32_t rsa_length, const uint8_t* p,
                                               const uint8_t* q, uint8_t* N, uint8_t* d);
[[nodiscard]] quarzel_ret_t rsa_gen_crt_component_from_prikey(
    uint32_t rsa_length, const uint8_t* d_exponent, const uint8_t* p_prime, const uint8_t* q_prime,
    uint8_t* dp_exponent, uint8_t* dq_exponent, uint8_t* crt_coefficient);
// Steps of the prime search, over big-endian handles (MPI_ENDIAN_MF_U8, size a
// multiple of 4). compos_result: 0 when p has a factor among the small primes
// screened (3..401; for 2048-bit candidates also 409..787 and 859..1231), else
// the number of prime ranges screened (1 or 3).
[[nodiscard]] quarzel_ret_t mpi_known_prime_test(const mpi_t* p, uint8_t* compos_result);
// is_prime: 1 when w passes `iterations` Miller-Rabin rounds (base 2 first).
[[nodiscard]] quarzel_ret_t mpi_miller_rabin_test(const mpi_t* prime_candidate, uint8_t* is_prime,
                                                  uint32_t iterations);
// check_result: 1 when the top 100 bits of p and q (equal sizes) differ.
void mpi_check_rsa_prime_distance(const mpi_t* p, const mpi_t* q, uint8_t* check_result);
// Miller-Rabin rounds by modulus size (0 for other sizes).
[[nodiscard]] uint32_t get_MR_iteration(uint32_t rsa_bitnum, uint32_t is_aux);

// ---- mask generation ----
[[nodiscard]] quarzel_ret_t rsa_mgf(rsa_mgf_t rsa_mgf_type, uint32_t digest_len, uint32_t seed_len,
                                    const uint8_t* seed, uint32_t mask_len, uint8_t* mask);
[[nodiscard]] quarzel_ret_t rsa_pkcs1_mgf1(hash_type_t hashtype, uint32_t digest_len,
                                           uint32_t seed_len, const uint8_t* seed,
                                           uint32_t mask_len, uint8_t* mask);

// ---- signature encodings ----
[[nodiscard]] quarzel_ret_t rsa_emsa_pss_encode(uint32_t rsa_size, hash_type_t hash_type_msg,
                                                rsa_mgf_t mgf_type, uint32_t mgf_digest_len,
                                                uint32_t digest_len, const uint8_t* digest,
                                                uint32_t salt_len, const uint8_t* salt,
                                                uint8_t* em);
[[nodiscard]] quarzel_ret_t rsa_emsa_pss_verify(uint32_t rsa_size, hash_type_t hash_type_msg,
                                                rsa_mgf_t mgf_type, uint32_t mgf_digest_len,
                                                uint32_t digest_len, const uint8_t* digest,
                                                uint32_t salt_len, const uint8_t* salt,
                                                const uint8_t* em, uint32_t* verify_result);
[[nodiscard]] quarzel_ret_t rsa_emsa_pkcs1_v1_5_encode(uint32_t rsa_size, hash_type_t hash_type,
                                                       uint32_t digest_len, const uint8_t* digest,
                                                       uint8_t* em);
[[nodiscard]] quarzel_ret_t rsa_emsa_pkcs1_v1_5_verify(uint32_t rsa_size, hash_type_t hash_type,
                                                       uint32_t digest_len, const uint8_t* digest,
                                                       const uint8_t* em, uint32_t* verify_result);
[[nodiscard]] quarzel_ret_t ansi_x9_31_encode(uint32_t rsa_size, hash_type_t hash_type,
                                              uint32_t digest_len, const uint8_t* digest,
                                              uint8_t* em);
[[nodiscard]] quarzel_ret_t ansi_x9_31_verify(uint32_t rsa_size, const uint8_t* N_modulus,
                                              uint32_t digest_len, const uint8_t* digest,
                                              const uint8_t* em, uint32_t* verify_result);

// ---- signatures ----
[[nodiscard]] quarzel_ret_t rsa_rsassa_pss_sign(const rsa_prikey_t* prikey,
                                                hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
                                                uint32_t mgf_digest_len, uint32_t digest_len,
                                                const uint8_t* digest, uint32_t salt_len,
                                                const uint8_t* salt, uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_rsassa_pss_sign_with_checking(
    const rsa_prikey_t* prikey, hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
    uint32_t mgf_digest_len, uint32_t digest_len, const uint8_t* digest, uint32_t salt_len,
    const uint8_t* salt, uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_rsassa_pss_verify(const rsa_pubkey_t* pubkey,
                                                  hash_type_t hash_type_msg, rsa_mgf_t mgf_type,
                                                  uint32_t mgf_digest_len, uint32_t digest_len,
                                                  const uint8_t* digest, uint32_t salt_len,
                                                  const uint8_t* salt, const uint8_t* signature,
                                                  uint32_t* verify_result);
[[nodiscard]] quarzel_ret_t rsa_rsassa_pkcs1_v1_5_sign(const rsa_prikey_t* prikey,
                                                       hash_type_t hash_type, uint32_t digest_len,
                                                       const uint8_t* digest, uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_rsassa_pkcs1_v1_5_sign_with_checking(
    const rsa_prikey_t* prikey, hash_type_t hash_type, uint32_t digest_len, const uint8_t* digest,
    uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_rsassa_pkcs1_v1_5_verify(const rsa_pubkey_t* pubkey,
                                                         hash_type_t hash_type,
                                                         uint32_t digest_len,
                                                         const uint8_t* digest,
                                                         const uint8_t* signature,
                                                         uint32_t* verify_result);
[[nodiscard]] quarzel_ret_t rsa_ansi_x9_31_sign(const rsa_prikey_t* prikey, hash_type_t hash_type,
                                                uint32_t digest_len, const uint8_t* digest,
                                                uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_ansi_x9_31_sign_with_checking(const rsa_prikey_t* prikey,
                                                              hash_type_t hash_type,
                                                              uint32_t digest_len,
                                                              const uint8_t* digest,
                                                              uint8_t* signature);
[[nodiscard]] quarzel_ret_t rsa_ansi_x9_31_verify(const rsa_pubkey_t* pubkey,
                                                  hash_type_t hash_type, uint32_t digest_len,
                                                  const uint8_t* digest, const uint8_t* signature,
                                                  uint32_t* verify_result);

// ---- encryption ----
// OAEP takes the label already hashed: `label` is lHash, label_len its length.
[[nodiscard]] quarzel_ret_t rsa_eme_oaep_encode(uint32_t rsa_size, rsa_mgf_t mgf_type,
                                                uint32_t mgf_digest_len, uint32_t message_len,
                                                const uint8_t* message, uint32_t label_len,
                                                const uint8_t* label, uint8_t* em);
[[nodiscard]] quarzel_ret_t rsa_eme_oaep_decode(uint32_t rsa_size, rsa_mgf_t mgf_type,
                                                uint32_t mgf_digest_len, const uint8_t* em,
                                                uint32_t label_len, const uint8_t* label,
                                                uint32_t* message_len, uint8_t* message,
                                                uint32_t* valid);
[[nodiscard]] quarzel_ret_t rsa_eme_pkcs1_v1_5_encode(uint32_t rsa_size, uint32_t message_len,
                                                      const uint8_t* message, uint8_t* em);
[[nodiscard]] quarzel_ret_t rsa_eme_pkcs1_v1_5_decode(uint32_t rsa_size, const uint8_t* em,
                                                      uint32_t* message_len, uint8_t* message,
                                                      uint32_t* valid);
[[nodiscard]] quarzel_ret_t rsa_rsaes_oaep_encrypt(const rsa_pubkey_t* pubkey, rsa_mgf_t mgf_type,
                                                   uint32_t mgf_digest_len, uint32_t message_len,
                                                   const uint8_t* message, uint32_t label_len,
                                                   const uint8_t* label, uint8_t* ciphertext);
[[nodiscard]] quarzel_ret_t rsa_rsaes_oaep_decrypt(const rsa_prikey_t* prikey, rsa_mgf_t mgf_type,
                                                   uint32_t mgf_digest_len,
                                                   const uint8_t* ciphertext, uint32_t label_len,
                                                   const uint8_t* label, uint32_t* message_len,
                                                   uint8_t* message, uint32_t* valid);
[[nodiscard]] quarzel_ret_t rsa_rsaes_oaep_decrypt_with_checking(
    const rsa_prikey_t* prikey, rsa_mgf_t mgf_type, uint32_t mgf_digest_len,
    const uint8_t* ciphertext, uint32_t label_len, const uint8_t* label, uint32_t* message_len,
    uint8_t* message, uint32_t* valid);
[[nodiscard]] quarzel_ret_t rsa_rsaes_pkcs1_v1_5_encrypt(const rsa_pubkey_t* pubkey,
                                                         uint32_t message_len,
                                                         const uint8_t* message,
                                                         uint8_t* ciphertext);
[[nodiscard]] quarzel_ret_t rsa_rsaes_pkcs1_v1_5_decrypt(const rsa_prikey_t* prikey,
                                                         const uint8_t* ciphertext,
                                                         uint32_t* message_len, uint8_t* message,
                                                         uint32_t* valid);
[[nodiscard]] quarzel_ret_t rsa_rsaes_pkcs1_v1_5_decrypt_with_checking(
    const rsa_prikey_t* prikey, const uint8_t* ciphertext, uint32_t* message_len,
    uint8_t* message, uint32_t* valid);

}  // extern "C"
