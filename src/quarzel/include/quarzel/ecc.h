// Elliptic-curve keys, ECDSA and ECDH of quarzel.
//
// Every EC value (private scalar, coordinate, nonce, signature half, shared
// secret) is a big-endian string of exactly the curve's length L: 28, 32, 48
// and 68 bytes for P-224 to P-521 (P-521 values carry two leading zero bytes),
// 32 for secp256k1 and brainpoolP256r1, 48 for brainpoolP384r1 and 64 for
// brainpoolP512r1.
//
// Results are quarzel_ret_t words of module 0x02. Verifications and curve tests
// write QZ_TRUE or QZ_FALSE and return 0 when only the content is at fault.
#pragma once

#include <cstdint>

#include "quarzel/mpi.h"
#include "quarzel/port.h"

// Curve identifiers. P-192, secp192k1 and secp224k1 have a length but no
// arithmetic; the other brainpool sizes are not supported.
enum ecc_crv_t : uint32_t {
  ECC_CRV_UNDEFINED = 0,
  ECC_CRV_NIST_P192 = 16,
  ECC_CRV_NIST_P224 = 17,
  ECC_CRV_NIST_P256 = 18,
  ECC_CRV_NIST_P384 = 19,
  ECC_CRV_NIST_P521 = 20,
  ECC_CRV_SECP192K1 = 32,
  ECC_CRV_SECP224K1 = 33,
  ECC_CRV_SECP256K1 = 34,
  ECC_CRV_BP160R1 = 64,
  ECC_CRV_BP192R1 = 65,
  ECC_CRV_BP224R1 = 66,
  ECC_CRV_BP256R1 = 67,
  ECC_CRV_BP320R1 = 68,
  ECC_CRV_BP384R1 = 69,
  ECC_CRV_BP512R1 = 70,
};
using ecpi_crv_id_t = ecc_crv_t;

// Largest L of any curve.
inline constexpr uint32_t ECC_MAX_LEN = 68;

// Key objects: a state word, the curve, and references to L-byte big-endian
// value buffers, allocated by the library or mapped onto caller memory.
struct ecc_prikey_t {
  uint32_t state;
  ecc_crv_t crv_id;
  uint8_t* d_value;
};
struct ecc_pubkey_t {
  uint32_t state;
  ecc_crv_t crv_id;
  uint8_t* q_point_x;
  uint8_t* q_point_y;
};

// State words.
inline constexpr uint32_t ECC_PRIKEY_INITIALISED = 0xB403E030u;
inline constexpr uint32_t ECC_PRIKEY_ACTIVE = 0x1C5C2E48u;  // flags in the low 3 bits
inline constexpr uint32_t ECC_PRIKEY_D_SET = 0x1u;
inline constexpr uint32_t ECC_PRIKEY_ALLOCATED = 0x2u;
inline constexpr uint32_t ECC_PRIKEY_MAPPED = 0x4u;
inline constexpr uint32_t ECC_PRIKEY_INVALID = 0xEF0B5652u;
inline constexpr uint32_t ECC_PUBKEY_INITIALISED = 0x2F74E186u;
inline constexpr uint32_t ECC_PUBKEY_ACTIVE = 0xB3E0EA90u;  // flags in the low 4 bits
inline constexpr uint32_t ECC_PUBKEY_X_SET = 0x1u;
inline constexpr uint32_t ECC_PUBKEY_Y_SET = 0x2u;
inline constexpr uint32_t ECC_PUBKEY_ALLOCATED = 0x4u;
inline constexpr uint32_t ECC_PUBKEY_MAPPED = 0x8u;
inline constexpr uint32_t ECC_PUBKEY_INVALID = 0x2979BEF9u;

// Reasons of this module (bits 7-0 under 0xFF00).
inline constexpr uint8_t ECC_R_ALLOC = 0x03;
inline constexpr uint8_t ECC_R_NULL = 0x05;
inline constexpr uint8_t ECC_R_OUT_SMALL = 0x06;
inline constexpr uint8_t ECC_R_STATE = 0x09;
inline constexpr uint8_t ECC_R_PRI_LEN = 0x31;
inline constexpr uint8_t ECC_R_NONCE = 0x32;
inline constexpr uint8_t ECC_R_PRI_RANGE = 0x33;
inline constexpr uint8_t ECC_R_PUB_LEN = 0x34;
inline constexpr uint8_t ECC_R_NOT_ON_CURVE = 0x35;
inline constexpr uint8_t ECC_R_CURVE_MISMATCH = 0x38;
inline constexpr uint8_t ECC_R_KEYGEN_METHOD = 0x39;
inline constexpr uint8_t ECC_R_EMPTY_DIGEST = 0x73;
inline constexpr uint8_t ECC_R_BLOB_LEN = 0x71;

enum ecc_keygen_t : uint32_t {
  ECC_KEYGEN_UNDEFINED = 0,
  ECC_KEYGEN_EXTRA_RND_BITS = 1,
  ECC_KEYGEN_REJECT_SAMPLING = 2,
};

extern "C" {

// ---- Key objects ----
[[nodiscard]] quarzel_ret_t ecc_prikey_alloc(ecc_prikey_t** prikey);
[[nodiscard]] quarzel_ret_t ecc_pubkey_alloc(ecc_pubkey_t** pubkey);
// Releases the object (and, wiped, any value buffer the library allocated for
// it); *key becomes null. Always 0.
quarzel_ret_t ecc_prikey_free(ecc_prikey_t** prikey);
quarzel_ret_t ecc_pubkey_free(ecc_pubkey_t** pubkey);

quarzel_ret_t ecc_prikey_init(ecc_prikey_t* prikey, ecc_crv_t crv_id);
quarzel_ret_t ecc_pubkey_init(ecc_pubkey_t* pubkey, ecc_crv_t crv_id);

[[nodiscard]] quarzel_ret_t ecc_prikey_value_alloc(ecc_prikey_t* prikey);
[[nodiscard]] quarzel_ret_t ecc_pubkey_value_alloc(ecc_pubkey_t* pubkey);
[[nodiscard]] quarzel_ret_t ecc_prikey_value_mapping(ecc_prikey_t* prikey, uint32_t d_value_len,
                                                     uint8_t* d_value);
[[nodiscard]] quarzel_ret_t ecc_pubkey_value_mapping(ecc_pubkey_t* pubkey, uint32_t q_point_x_len,
                                                     uint8_t* q_point_x, uint32_t q_point_y_len,
                                                     uint8_t* q_point_y);
[[nodiscard]] quarzel_ret_t ecc_prikey_value_set(ecc_prikey_t* prikey, uint32_t d_value_len,
                                                 const uint8_t* d_value);
[[nodiscard]] quarzel_ret_t ecc_pubkey_value_set(ecc_pubkey_t* pubkey, uint32_t q_point_x_len,
                                                 const uint8_t* q_point_x, uint32_t q_point_y_len,
                                                 const uint8_t* q_point_y);
[[nodiscard]] quarzel_ret_t ecc_prikey_value_get_length(const ecc_prikey_t* prikey,
                                                        ecc_crv_t* crv_id, uint32_t* d_value_len);
[[nodiscard]] quarzel_ret_t ecc_pubkey_value_get_length(const ecc_pubkey_t* pubkey,
                                                        ecc_crv_t* crv_id, uint32_t* q_point_x_len,
                                                        uint32_t* q_point_y_len);
[[nodiscard]] quarzel_ret_t ecc_prikey_value_get(const ecc_prikey_t* prikey, ecc_crv_t* crv_id,
                                                 uint32_t* d_value_len, uint8_t* d_value);
[[nodiscard]] quarzel_ret_t ecc_pubkey_value_get(const ecc_pubkey_t* pubkey, ecc_crv_t* crv_id,
                                                 uint32_t* q_point_x_len, uint8_t* q_point_x,
                                                 uint32_t* q_point_y_len, uint8_t* q_point_y);
// Frees library-allocated value buffers (the private value is wiped first).
[[nodiscard]] quarzel_ret_t ecc_prikey_value_free(ecc_prikey_t* prikey);
[[nodiscard]] quarzel_ret_t ecc_pubkey_value_free(ecc_pubkey_t* pubkey);

// L of a curve id; unknown ids give 0 and 0x02148481.
[[nodiscard]] quarzel_ret_t ecc_get_length(ecc_crv_t crv_id, uint32_t* crv_len);

// ---- Raw key blobs: curve id byte, three zero bytes, then d (or x, y) ----
[[nodiscard]] quarzel_ret_t ecc_prikey_to_raw(const ecc_prikey_t* prikey, uint32_t* raw_len,
                                              uint8_t* raw);
[[nodiscard]] quarzel_ret_t ecc_pubkey_to_raw(const ecc_pubkey_t* pubkey, uint32_t* raw_len,
                                              uint8_t* raw);
[[nodiscard]] quarzel_ret_t ecc_raw_prikey_get_length(uint32_t raw_len, const uint8_t* raw,
                                                      ecc_crv_t* crv_id, uint32_t* crv_len);
[[nodiscard]] quarzel_ret_t ecc_raw_pubkey_get_length(uint32_t raw_len, const uint8_t* raw,
                                                      ecc_crv_t* crv_id, uint32_t* crv_len);
// Loads a blob into an active key of the same curve (another curve: 0x38).
[[nodiscard]] quarzel_ret_t ecc_raw_to_prikey(uint32_t raw_len, const uint8_t* raw,
                                              ecc_prikey_t* prikey);
[[nodiscard]] quarzel_ret_t ecc_raw_to_pubkey(uint32_t raw_len, const uint8_t* raw,
                                              ecc_pubkey_t* pubkey);

// ---- Key pairs (FIPS 186-4 B.4.1 and B.4.2) ----
[[nodiscard]] quarzel_ret_t ecc_gen_keypair(ecc_crv_t crv_id, ecc_keygen_t method, ecc_prikey_t* d,
                                            ecc_pubkey_t* Q);
[[nodiscard]] quarzel_ret_t ecc_gen_keypair_w_extra_bits(ecc_crv_t crv_id, ecc_prikey_t* d,
                                                         ecc_pubkey_t* Q);
[[nodiscard]] quarzel_ret_t ecc_gen_keypair_by_reject_sampling(ecc_crv_t crv_id, ecc_prikey_t* d,
                                                               ecc_pubkey_t* Q);
// A uniformly random value below n by rejection sampling (FIPS 186-4 B.4.2):
// each draw of n_len bytes is cut to nbits bits; at most 128 draws, then
// 0x0213FF32 (ecdsa_gen_k: 0x0223FF32). n and the result are mpi values of
// n_len bytes, big-endian (MPI_ENDIAN_MF_U8) or in 32-bit words
// (MPI_ENDIAN_MF_U32, n_len a multiple of 4). A result of 0 is possible and
// refused later by key derivation or signing.
[[nodiscard]] quarzel_ret_t ecc_gen_d(uint32_t nbits, uint32_t n_len, const mpi_t* n, mpi_t* d);
[[nodiscard]] quarzel_ret_t ecdsa_gen_k(uint32_t nbits, uint32_t n_len, const mpi_t* n, mpi_t* k);

// Q = d*G, and Q = d*G for a caller's point G.
[[nodiscard]] quarzel_ret_t ecc_gen_puk_from_prk(const ecc_prikey_t* d, ecc_pubkey_t* Q);
[[nodiscard]] quarzel_ret_t ecc_gen_puk_from_prk_custom_base(const ecc_prikey_t* d,
                                                             const ecc_pubkey_t* G,
                                                             ecc_pubkey_t* Q);
[[nodiscard]] quarzel_ret_t ecc_check_point_on_curve(const ecc_pubkey_t* Q, uint32_t* result);

// ---- ECDH: shared secret x(dA * QB), L bytes; unified model: Ze || Zs ----
[[nodiscard]] quarzel_ret_t ecdh_derive_shared_secret(const ecc_prikey_t* dA,
                                                      const ecc_pubkey_t* QB, uint32_t* ss_len,
                                                      uint8_t* ss);
[[nodiscard]] quarzel_ret_t ecdh_unified_one_pass_party_u(const ecc_prikey_t* dA,
                                                          const ecc_prikey_t* dU,
                                                          const ecc_pubkey_t* QB,
                                                          uint32_t* ss_len, uint8_t* ss);
[[nodiscard]] quarzel_ret_t ecdh_unified_one_pass_party_v(const ecc_prikey_t* dB,
                                                          const ecc_pubkey_t* QA,
                                                          const ecc_pubkey_t* QU,
                                                          uint32_t* ss_len, uint8_t* ss);
[[nodiscard]] quarzel_ret_t ecdh_unified_full(const ecc_prikey_t* dA, const ecc_pubkey_t* QB,
                                              const ecc_prikey_t* dU, const ecc_pubkey_t* QV,
                                              uint32_t* ss_len, uint8_t* ss);

// ---- ECDSA over a caller's digest ----
// k: an L-byte nonce below n, or null to draw one. sig_r, sig_s: L bytes each.
[[nodiscard]] quarzel_ret_t ecdsa_sign(const ecc_prikey_t* d, uint32_t digest_len,
                                       const uint8_t* digest, const uint8_t* k, uint8_t* sig_r,
                                       uint8_t* sig_s);
// Writes QZ_TRUE or QZ_FALSE; an empty digest gives 0x0222FF73.
[[nodiscard]] quarzel_ret_t ecdsa_verify(const ecc_pubkey_t* Q, uint32_t digest_len,
                                         const uint8_t* digest, const uint8_t* sig_r,
                                         const uint8_t* sig_s, uint32_t* verify_result);

}  // extern "C"
