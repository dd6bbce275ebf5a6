// RSA key objects, their raw blobs and their DER encodings (PKCS#1, PKCS#8,
// X.509 SubjectPublicKeyInfo).
//
// A key object holds a state word (a magic number with flag bits recording
// which components are present and whether e is 65537), the key size in bits
// and one length and buffer per component: big-endian, right-aligned, n/e/d of
// size/8 bytes, the CRT components of size/16 bytes. Buffers are allocated by
// the library (value_alloc) or mapped onto caller memory (value_mapping);
// which ones the library owns is kept in `owned`, apart from the state word,
// so that freeing never touches caller memory.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

enum rsa_keytype_t : uint32_t {
  RSA_KEYTYPE_UNDEFINED = 0,
  RSA_KEYTYPE_NONCRT = 1,   // n, e, d
  RSA_KEYTYPE_CRT = 2,      // n, e, d, p, q
  RSA_KEYTYPE_CRTFAST = 3,  // n, e, d, p, q, dp, dq, qinv
};

enum rsa_size_t : uint32_t {
  RSA_SIZE_512 = 512,
  RSA_SIZE_1024 = 1024,
  RSA_SIZE_2048 = 2048,
  RSA_SIZE_3072 = 3072,
  RSA_SIZE_4096 = 4096,
  RSA_SIZE_8192 = 8192,    // named, refused
  RSA_SIZE_16384 = 16384,  // named, refused
};

struct rsa_prikey_t {
  uint32_t state;
  rsa_size_t rsa_size;
  uint32_t n_modulus_len;
  uint8_t* n_modulus;
  uint32_t e_exponent_len;
  uint8_t* e_exponent;
  uint32_t d_exponent_len;
  uint8_t* d_exponent;
  uint32_t p_prime_len;
  uint8_t* p_prime;
  uint32_t q_prime_len;
  uint8_t* q_prime;
  uint32_t dp_exponent_len;
  uint8_t* dp_exponent;
  uint32_t dq_exponent_len;
  uint8_t* dq_exponent;
  uint32_t crt_coefficient_len;
  uint8_t* crt_coefficient;
  uint32_t owned;  // presence-style bit per component whose buffer the library allocated
};

struct rsa_pubkey_t {
  uint32_t state;
  rsa_size_t rsa_size;
  uint32_t n_modulus_len;
  uint8_t* n_modulus;
  uint32_t e_exponent_len;
  uint8_t* e_exponent;
  uint32_t owned;
};

// State words and flag bits.
inline constexpr uint32_t RSA_PRIKEY_STATE_INIT = 0x47581363u;
inline constexpr uint32_t RSA_PRIKEY_STATE_ACTIVE = 0x5D1C4800u;
inline constexpr uint32_t RSA_PRIKEY_FLAG_MASK = 0x7FFu;
inline constexpr uint32_t RSA_PRIKEY_STATE_INVALID = 0x62A16F07u;
inline constexpr uint32_t RSA_PUBKEY_STATE_INIT = 0xA5673C7Eu;
inline constexpr uint32_t RSA_PUBKEY_STATE_ACTIVE = 0xFBC940BCu;
inline constexpr uint32_t RSA_PUBKEY_FLAG_MASK = 0x703u;
inline constexpr uint32_t RSA_PUBKEY_STATE_INVALID = 0x655284FFu;

inline constexpr uint32_t RSA_HAS_N = 0x01;
inline constexpr uint32_t RSA_HAS_E = 0x02;
inline constexpr uint32_t RSA_HAS_D = 0x04;
inline constexpr uint32_t RSA_HAS_P = 0x08;
inline constexpr uint32_t RSA_HAS_Q = 0x10;
inline constexpr uint32_t RSA_HAS_DP = 0x20;
inline constexpr uint32_t RSA_HAS_DQ = 0x40;
inline constexpr uint32_t RSA_HAS_QINV = 0x80;
inline constexpr uint32_t RSA_FLAG_E65537 = 0x100;
inline constexpr uint32_t RSA_FLAG_ALLOCATED = 0x200;
inline constexpr uint32_t RSA_FLAG_MAPPED = 0x400;

// Usable private component sets.
inline constexpr uint32_t RSA_SET_N_D = RSA_HAS_N | RSA_HAS_D;
inline constexpr uint32_t RSA_SET_D_P_Q = RSA_HAS_D | RSA_HAS_P | RSA_HAS_Q;
inline constexpr uint32_t RSA_SET_CRT = RSA_HAS_P | RSA_HAS_Q | RSA_HAS_DP | RSA_HAS_DQ | RSA_HAS_QINV;

// Reason bytes of the RSA module.
inline constexpr uint8_t RSA_R_ALLOC = 0x03;
inline constexpr uint8_t RSA_R_NULL = 0x05;
inline constexpr uint8_t RSA_R_OUT_SMALL = 0x06;
inline constexpr uint8_t RSA_R_STATE = 0x09;
inline constexpr uint8_t RSA_R_KEYTYPE = 0x58;
inline constexpr uint8_t RSA_R_MR_ROUNDS = 0x59;
inline constexpr uint8_t RSA_R_SIZE = 0x5B;
inline constexpr uint8_t RSA_R_LENGTH = 0x5C;
inline constexpr uint8_t RSA_R_EXPONENT = 0x5D;
inline constexpr uint8_t RSA_R_PRIME_SEARCH = 0x5E;
inline constexpr uint8_t RSA_R_RANGE = 0x61;
inline constexpr uint8_t RSA_R_DIGEST = 0x63;
inline constexpr uint8_t RSA_R_LHASH = 0x64;
inline constexpr uint8_t RSA_R_MSG_LONG = 0x66;
inline constexpr uint8_t RSA_R_EM_SHORT = 0x69;
inline constexpr uint8_t RSA_R_HASH_TYPE = 0x6A;
inline constexpr uint8_t RSA_R_DIGEST_LEN = 0x6B;
inline constexpr uint8_t RSA_R_EVEN = 0x6C;
inline constexpr uint8_t RSA_R_SALT = 0x6D;
inline constexpr uint8_t RSA_R_CHECK = 0x6E;
inline constexpr uint8_t RSA_R_TAG = 0x70;
inline constexpr uint8_t RSA_R_LEN = 0x71;
inline constexpr uint8_t RSA_R_MODLEN = 0x73;

// Error word of an RSA routine: `fn` is its 16-bit function number (0x04xx).
[[nodiscard]] constexpr quarzel_ret_t rsa_err(uint32_t fn, uint8_t reason) {
  return (fn << 16) | 0xFF00u | reason;
}
[[nodiscard]] constexpr quarzel_ret_t rsa_err_core(uint32_t fn, core_ret_t core) {
  return (fn << 16) | core;
}

extern "C" {

// Key objects.
[[nodiscard]] quarzel_ret_t rsa_prikey_alloc(rsa_prikey_t** prikey);
[[nodiscard]] quarzel_ret_t rsa_pubkey_alloc(rsa_pubkey_t** pubkey);
quarzel_ret_t rsa_prikey_free(rsa_prikey_t** prikey);
quarzel_ret_t rsa_pubkey_free(rsa_pubkey_t** pubkey);
quarzel_ret_t rsa_prikey_init(rsa_prikey_t* prikey, rsa_size_t rsa_size);
quarzel_ret_t rsa_pubkey_init(rsa_pubkey_t* pubkey, rsa_size_t rsa_size);
[[nodiscard]] quarzel_ret_t rsa_prikey_value_alloc(rsa_prikey_t* prikey, rsa_keytype_t rsa_keytype);
[[nodiscard]] quarzel_ret_t rsa_pubkey_value_alloc(rsa_pubkey_t* pubkey);
[[nodiscard]] quarzel_ret_t rsa_prikey_value_mapping(
    rsa_prikey_t* prikey, uint32_t n_modulus_len, uint8_t* n_modulus, uint32_t e_exponent_len,
    uint8_t* e_exponent, uint32_t d_exponent_len, uint8_t* d_exponent, uint32_t p_prime_len,
    uint8_t* p_prime, uint32_t q_prime_len, uint8_t* q_prime, uint32_t dp_exponent_len,
    uint8_t* dp_exponent, uint32_t dq_exponent_len, uint8_t* dq_exponent,
    uint32_t crt_coefficient_len, uint8_t* crt_coefficient);
[[nodiscard]] quarzel_ret_t rsa_pubkey_value_mapping(rsa_pubkey_t* pubkey, uint32_t n_modulus_len,
                                                     uint8_t* n_modulus, uint32_t e_exponent_len,
                                                     uint8_t* e_exponent);
[[nodiscard]] quarzel_ret_t rsa_prikey_value_set(
    rsa_prikey_t* prikey, uint32_t n_modulus_len, const uint8_t* n_modulus,
    uint32_t e_exponent_len, const uint8_t* e_exponent, uint32_t d_exponent_len,
    const uint8_t* d_exponent, uint32_t p_prime_len, const uint8_t* p_prime, uint32_t q_prime_len,
    const uint8_t* q_prime, uint32_t dp_exponent_len, const uint8_t* dp_exponent,
    uint32_t dq_exponent_len, const uint8_t* dq_exponent, uint32_t crt_coefficient_len,
    const uint8_t* crt_coefficient);
[[nodiscard]] quarzel_ret_t rsa_pubkey_value_set(rsa_pubkey_t* pubkey, uint32_t n_modulus_len,
                                                 const uint8_t* n_modulus, uint32_t e_exponent_len,
                                                 const uint8_t* e_exponent);
quarzel_ret_t rsa_prikey_value_free(rsa_prikey_t* prikey);
quarzel_ret_t rsa_pubkey_value_free(rsa_pubkey_t* pubkey);
[[nodiscard]] quarzel_ret_t rsa_prikey_value_get_length(
    const rsa_prikey_t* prikey, rsa_size_t* rsa_size, uint32_t* n_modulus_len,
    uint32_t* e_exponent_len, uint32_t* d_exponent_len, uint32_t* p_prime_len,
    uint32_t* q_prime_len, uint32_t* dp_exponent_len, uint32_t* dq_exponent_len,
    uint32_t* crt_coefficient_len);
[[nodiscard]] quarzel_ret_t rsa_pubkey_value_get_length(const rsa_pubkey_t* pubkey,
                                                        rsa_size_t* rsa_size,
                                                        uint32_t* n_modulus_len,
                                                        uint32_t* e_exponent_len);
[[nodiscard]] quarzel_ret_t rsa_prikey_value_get(
    const rsa_prikey_t* prikey, rsa_size_t* rsa_size, uint32_t* n_modulus_len, uint8_t* n_modulus,
    uint32_t* e_exponent_len, uint8_t* e_exponent, uint32_t* d_exponent_len, uint8_t* d_exponent,
    uint32_t* p_prime_len, uint8_t* p_prime, uint32_t* q_prime_len, uint8_t* q_prime,
    uint32_t* dp_exponent_len, uint8_t* dp_exponent, uint32_t* dq_exponent_len,
    uint8_t* dq_exponent, uint32_t* crt_coefficient_len, uint8_t* crt_coefficient);
[[nodiscard]] quarzel_ret_t rsa_pubkey_value_get(const rsa_pubkey_t* pubkey, rsa_size_t* rsa_size,
                                                 uint32_t* n_modulus_len, uint8_t* n_modulus,
                                                 uint32_t* e_exponent_len, uint8_t* e_exponent);
// True when e (big-endian) is 65537: at least 3 bytes, zeros, then 01 00 01.
[[nodiscard]] bool rsa_check_e_is_65537(uint32_t e_exponent_len, const uint8_t* e_exponent);

// Raw blobs: u16 size, u16 mask (little-endian), then the present components.
[[nodiscard]] quarzel_ret_t rsa_prikey_to_raw(const rsa_prikey_t* prikey, uint32_t* raw_len,
                                              uint8_t* raw);
[[nodiscard]] quarzel_ret_t rsa_pubkey_to_raw(const rsa_pubkey_t* pubkey, uint32_t* raw_len,
                                              uint8_t* raw);
[[nodiscard]] quarzel_ret_t rsa_raw_prikey_get_length(uint32_t raw_len, const uint8_t* raw,
                                                      rsa_size_t* rsa_size,
                                                      rsa_keytype_t* rsa_keytype);
[[nodiscard]] quarzel_ret_t rsa_raw_pubkey_get_length(uint32_t raw_len, const uint8_t* raw,
                                                      rsa_size_t* rsa_size);
[[nodiscard]] quarzel_ret_t rsa_raw_to_prikey(uint32_t raw_len, const uint8_t* raw,
                                              rsa_prikey_t* prikey);
[[nodiscard]] quarzel_ret_t rsa_raw_to_pubkey(uint32_t raw_len, const uint8_t* raw,
                                              rsa_pubkey_t* pubkey);

// DER readers: the key object must be active with buffers for every component
// it receives (a private key allocated as RSA_KEYTYPE_CRTFAST) and of the
// modulus's size; the size queries give that size in bits. Only DER is read:
// lengths and INTEGERs in their minimal form (X.690 8.3.2, 10.1).
[[nodiscard]] quarzel_ret_t rsa_pkcs1_prikey_der_get_length(uint32_t der_len, const uint8_t* der,
                                                            uint32_t* rsa_len);
[[nodiscard]] quarzel_ret_t rsa_pkcs1_der_to_prikey(uint32_t der_len, const uint8_t* der,
                                                    rsa_prikey_t* prikey);
[[nodiscard]] quarzel_ret_t rsa_pkcs1_pubkey_der_get_length(uint32_t der_len, const uint8_t* der,
                                                            uint32_t* rsa_len);
[[nodiscard]] quarzel_ret_t rsa_pkcs1_der_to_pubkey(uint32_t der_len, const uint8_t* der,
                                                    rsa_pubkey_t* pubkey);
[[nodiscard]] quarzel_ret_t rsa_pkcs8_prikey_der_get_length(uint32_t der_len, const uint8_t* der,
                                                            uint32_t* rsa_len);
[[nodiscard]] quarzel_ret_t rsa_pkcs8_der_to_prikey(uint32_t der_len, const uint8_t* der,
                                                    rsa_prikey_t* prikey, uint32_t* oid_len,
                                                    uint8_t* oid);
[[nodiscard]] quarzel_ret_t rsa_x509_pubkey_der_get_length(uint32_t der_len, const uint8_t* der,
                                                           uint32_t* rsa_len);
[[nodiscard]] quarzel_ret_t rsa_x509_der_to_pubkey(uint32_t der_len, const uint8_t* der,
                                                   rsa_pubkey_t* pubkey, uint32_t* oid_len,
                                                   uint8_t* oid);

// DER writers: *der_len is the capacity in and the length written (or needed) out.
// A modulus shorter than the key's size (leading zero bytes) is refused with
// the reason RSA_R_MODLEN: it would read back as a key of another size.
[[nodiscard]] quarzel_ret_t rsa_prikey_to_pkcs1_der(const rsa_prikey_t* prikey, uint32_t* der_len,
                                                    uint8_t* der);
[[nodiscard]] quarzel_ret_t rsa_pubkey_to_pkcs1_der(const rsa_pubkey_t* pubkey, uint32_t* der_len,
                                                    uint8_t* der);
[[nodiscard]] quarzel_ret_t rsa_prikey_to_pkcs8_der(const rsa_prikey_t* prikey, uint32_t oid_len,
                                                    const uint8_t* oid, uint32_t* der_len,
                                                    uint8_t* der);
[[nodiscard]] quarzel_ret_t rsa_pubkey_to_x509_der(const rsa_pubkey_t* pubkey, uint32_t oid_len,
                                                   const uint8_t* oid, uint32_t* der_len,
                                                   uint8_t* der);

}  // extern "C"
