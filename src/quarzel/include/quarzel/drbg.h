// Deterministic random bit generators after NIST SP 800-90A: Hash_DRBG,
// HMAC_DRBG and CTR_DRBG (AES-128/192/256 or three-key TDES, with or without
// the derivation function) behind one interface over a caller-owned context.
//
//   drbg_ctx_t ctx;
//   drbg_instantiate(&ctx, DRBG_TYPE_HASH_SHA_2_256, 32, entropy, 16, nonce, 0, nullptr);
//   uint32_t n = 64;
//   drbg_generate(&ctx, 0, nullptr, &n, out);   // n is read only
//   drbg_uninstantiate(&ctx);                   // wipes the working state
//
// Lengths at the generic interface are bytes; the mechanism routines below it
// take bit lengths (multiples of 8). There is no automatic reseeding: fresh
// entropy enters only through drbg_reseed or a new instantiation. After 2^30
// generate calls since the last (re)seeding, generate is refused until a reseed.
// Any failure puts the context in its error state; from there only
// drbg_instantiate leads on, and drbg_uninstantiate still wipes it.
//
// Result words are module 0x08 (reasons in quarzel/port.h); hash, HMAC and
// block-cipher words of the routines called pass through unchanged.
#pragma once

#include <cstdint>

#include "quarzel/blockcipher.h"
#include "quarzel/hash.h"
#include "quarzel/port.h"

enum drbg_type_t : uint32_t {
  DRBG_TYPE_UNDEFINED = 0,
  DRBG_TYPE_HASH_SHA_1 = 16,
  DRBG_TYPE_HASH_SHA_2_224 = 17,
  DRBG_TYPE_HASH_SHA_2_256 = 18,
  DRBG_TYPE_HASH_SHA_2_384 = 19,
  DRBG_TYPE_HASH_SHA_2_512 = 20,
  DRBG_TYPE_HASH_SHA_2_512_224 = 21,
  DRBG_TYPE_HASH_SHA_2_512_256 = 22,
  DRBG_TYPE_HASH_SHA_3_224 = 23,
  DRBG_TYPE_HASH_SHA_3_256 = 24,
  DRBG_TYPE_HASH_SHA_3_384 = 25,
  DRBG_TYPE_HASH_SHA_3_512 = 26,
  DRBG_TYPE_HMAC_SHA_1 = 48,
  DRBG_TYPE_HMAC_SHA_2_224 = 49,
  DRBG_TYPE_HMAC_SHA_2_256 = 50,
  DRBG_TYPE_HMAC_SHA_2_384 = 51,
  DRBG_TYPE_HMAC_SHA_2_512 = 52,
  DRBG_TYPE_HMAC_SHA_2_512_224 = 53,
  DRBG_TYPE_HMAC_SHA_2_512_256 = 54,
  DRBG_TYPE_HMAC_SHA_3_224 = 55,
  DRBG_TYPE_HMAC_SHA_3_256 = 56,
  DRBG_TYPE_HMAC_SHA_3_384 = 57,
  DRBG_TYPE_HMAC_SHA_3_512 = 58,
  DRBG_TYPE_CTR_TDES_NO_DF = 80,
  DRBG_TYPE_CTR_AES_128_NO_DF = 81,
  DRBG_TYPE_CTR_AES_192_NO_DF = 82,
  DRBG_TYPE_CTR_AES_256_NO_DF = 83,
  DRBG_TYPE_CTR_TDES_WITH_DF = 96,
  DRBG_TYPE_CTR_AES_128_WITH_DF = 97,
  DRBG_TYPE_CTR_AES_192_WITH_DF = 98,
  DRBG_TYPE_CTR_AES_256_WITH_DF = 99,
};

enum ctr_drbg_df_t : uint32_t {
  CTR_DRBG_NO_DF = 0,
  CTR_DRBG_WITH_DF = 1,
};

// State words of drbg_ctx_t.
inline constexpr uint32_t DRBG_STATE_INSTANTIATED = 0xE9D521F0u;
inline constexpr uint32_t DRBG_STATE_ERROR = 0x1D5389FFu;
inline constexpr uint32_t DRBG_STATE_UNINSTANTIATED = 0x76F9F607u;

// Function ids (bits 23-16 of the result words).
inline constexpr uint32_t DRBG_FN_INSTANTIATE = 0x01;
inline constexpr uint32_t DRBG_FN_GENERATE = 0x02;
inline constexpr uint32_t DRBG_FN_RESEED = 0x03;
inline constexpr uint32_t DRBG_FN_UNINSTANTIATE = 0x04;
inline constexpr uint32_t DRBG_FN_HASH_INSTANTIATE = 0x21;
inline constexpr uint32_t DRBG_FN_HASH_GENERATE = 0x22;
inline constexpr uint32_t DRBG_FN_HASH_RESEED = 0x23;
inline constexpr uint32_t DRBG_FN_HASH_DF = 0x2A;
inline constexpr uint32_t DRBG_FN_HMAC_INSTANTIATE = 0x31;
inline constexpr uint32_t DRBG_FN_HMAC_GENERATE = 0x32;
inline constexpr uint32_t DRBG_FN_HMAC_RESEED = 0x33;
inline constexpr uint32_t DRBG_FN_CTR_INSTANTIATE = 0x41;
inline constexpr uint32_t DRBG_FN_CTR_GENERATE = 0x42;
inline constexpr uint32_t DRBG_FN_CTR_RESEED = 0x43;
inline constexpr uint32_t DRBG_FN_BLOCK_CIPHER_DF = 0x4A;
inline constexpr uint32_t DRBG_FN_CTR_UPDATE = 0x4B;

// Limits of this library (they are tighter than SP 800-90A's).
inline constexpr uint32_t DRBG_HASH_MAX_REQUEST_BITS = 1u << 19;  // 65,536 bytes
inline constexpr uint32_t DRBG_CTR_MAX_REQUEST_BITS = 8192;       // 1,024 bytes
inline constexpr uint32_t DRBG_RESEED_INTERVAL = 1u << 30;         // generate calls

// A big-endian string of Hash_DRBG's seedlen bits (440 or 888) in its first
// seedlen/8 bytes.
typedef uint8_t vec_seedlen_t[112];
// A big-endian string of HMAC_DRBG's outlen bits (the digest length) in its
// first outlen/8 bytes.
typedef uint8_t vec_outlen_t[64];

// Hash_DRBG working state.
struct hash_drbg_ctx_t {
  uint32_t state;  // not used by the mechanism
  hash_type_t hash_type;
  uint32_t seed_len;  // bits
  vec_seedlen_t V;
  vec_seedlen_t C;
  uint32_t reseed_ctr;
};

// HMAC_DRBG working state.
struct hmac_drbg_ctx_t {
  uint32_t state;  // not used by the mechanism
  hash_type_t hash_type;
  uint32_t out_len;  // bits
  vec_outlen_t V;
  vec_outlen_t Key;
  uint32_t reseed_ctr;
};

// CTR_DRBG working state. The counter field is the whole block of V.
struct ctr_drbg_ctx_t {
  uint32_t state;  // not used by the mechanism
  cipher_type_t type;
  ctr_drbg_df_t df;
  uint32_t ctr_bit_len;
  uint32_t v_len;  // block bytes
  uint8_t v[16];
  uint32_t key_len;  // bytes (TDES: 24, odd parity in every byte)
  uint8_t key[32];
  uint32_t seed_len;  // BYTES: key bytes (TDES: 21) + block bytes
  uint32_t reseed_ctr;
};

union drbg_subctx_t {
  uint8_t raw[240];
  hash_drbg_ctx_t hash;
  hmac_drbg_ctx_t hmac;
  ctr_drbg_ctx_t ctr;
};

struct drbg_ctx_t {
  uint32_t state;
  drbg_type_t type;  // set only by a successful instantiation
  drbg_subctx_t subctx;
};

static_assert(sizeof(hash_drbg_ctx_t) == 240);
static_assert(sizeof(hmac_drbg_ctx_t) == 144);
static_assert(sizeof(ctr_drbg_ctx_t) == 80);
static_assert(sizeof(drbg_subctx_t) == 240);

extern "C" {

// ---- Generic interface (lengths in bytes) ----

// Fresh instantiation on any memory. nonce and perso may be null when their
// length is 0. Without the derivation function CTR_DRBG takes exactly seedlen
// bytes of entropy and ignores the nonce.
[[nodiscard]] quarzel_ret_t drbg_instantiate(drbg_ctx_t* drbg_ctx, drbg_type_t type, uint32_t entropy_len,
                                             const uint8_t* entropy, uint32_t nonce_len, const uint8_t* nonce,
                                             uint32_t perso_len, const uint8_t* perso_str);
// Writes exactly *rand_len bytes (1 to 65,536 for Hash and HMAC, 1 to 1,024
// for CTR); *rand_len is read only.
[[nodiscard]] quarzel_ret_t drbg_generate(drbg_ctx_t* drbg_ctx, uint32_t add_in_len, const uint8_t* add_in,
                                          const uint32_t* rand_len, uint8_t* rand);
[[nodiscard]] quarzel_ret_t drbg_reseed(drbg_ctx_t* drbg_ctx, uint32_t entropy_len, const uint8_t* entropy,
                                        uint32_t add_in_len, const uint8_t* add_in);
// Wipes the working state (also from the error state) and leaves the context
// uninstantiated. A context that holds no instantiation and is not in error
// gives 0x0804FF3C and the error state.
[[nodiscard]] quarzel_ret_t drbg_uninstantiate(drbg_ctx_t* drbg_ctx);

// ---- Hash_DRBG (lengths in bits) ----

[[nodiscard]] quarzel_ret_t hash_drbg_instantiate(hash_drbg_ctx_t* st, hash_type_t hash_type,
                                                  uint32_t entropy_bits, const uint8_t* entropy,
                                                  uint32_t nonce_bits, const uint8_t* nonce,
                                                  uint32_t perso_bits, const uint8_t* perso);
[[nodiscard]] quarzel_ret_t hash_drbg_generate(hash_drbg_ctx_t* st, uint32_t addin_bits, const uint8_t* addin,
                                               uint32_t out_bits, uint8_t* out);
[[nodiscard]] quarzel_ret_t hash_drbg_reseed(hash_drbg_ctx_t* st, uint32_t entropy_bits, const uint8_t* entropy,
                                             uint32_t addin_bits, const uint8_t* addin);
quarzel_ret_t hash_drbg_uninstantiate(hash_drbg_ctx_t* st);
// Hash_df of SP 800-90A over in1 || in2 || in3 || in4 (any of them empty).
[[nodiscard]] quarzel_ret_t hash_df(hash_type_t hash_type, uint32_t in1_bits, const uint8_t* in1,
                                    uint32_t in2_bits, const uint8_t* in2, uint32_t in3_bits,
                                    const uint8_t* in3, uint32_t in4_bits, const uint8_t* in4,
                                    uint32_t out_bits, uint8_t* out);

// ---- HMAC_DRBG (lengths in bits) ----

[[nodiscard]] quarzel_ret_t hmac_drbg_instantiate(hmac_drbg_ctx_t* st, hash_type_t hash_type,
                                                  uint32_t entropy_bits, const uint8_t* entropy,
                                                  uint32_t nonce_bits, const uint8_t* nonce,
                                                  uint32_t perso_bits, const uint8_t* perso);
[[nodiscard]] quarzel_ret_t hmac_drbg_generate(hmac_drbg_ctx_t* st, uint32_t addin_bits, const uint8_t* addin,
                                               uint32_t out_bits, uint8_t* out);
[[nodiscard]] quarzel_ret_t hmac_drbg_reseed(hmac_drbg_ctx_t* st, uint32_t entropy_bits, const uint8_t* entropy,
                                             uint32_t addin_bits, const uint8_t* addin);
quarzel_ret_t hmac_drbg_uninstantiate(hmac_drbg_ctx_t* st);

// ---- CTR_DRBG (lengths in bits unless marked) ----

// Without the derivation function the personalisation string and additional
// input may not be longer than seedlen (0x08xxFF71).
[[nodiscard]] quarzel_ret_t ctr_drbg_instantiate(ctr_drbg_ctx_t* st, cipher_type_t type, ctr_drbg_df_t df,
                                                 uint32_t entropy_bits, const uint8_t* entropy,
                                                 uint32_t nonce_bits, const uint8_t* nonce,
                                                 uint32_t perso_bits, const uint8_t* perso);
[[nodiscard]] quarzel_ret_t ctr_drbg_generate(ctr_drbg_ctx_t* st, uint32_t addin_bits, const uint8_t* addin,
                                              uint32_t out_bits, uint8_t* out);
[[nodiscard]] quarzel_ret_t ctr_drbg_reseed(ctr_drbg_ctx_t* st, uint32_t entropy_bits, const uint8_t* entropy,
                                            uint32_t addin_bits, const uint8_t* addin);
quarzel_ret_t ctr_drbg_uninstantiate(ctr_drbg_ctx_t* st);
// Block_Cipher_df of SP 800-90A over in1 || in2 || in3; out_len (BYTES) must
// equal the state's seed_len.
[[nodiscard]] quarzel_ret_t block_cipher_df(const ctr_drbg_ctx_t* st, uint32_t in1_bits, const uint8_t* in1,
                                            uint32_t in2_bits, const uint8_t* in2, uint32_t in3_bits,
                                            const uint8_t* in3, uint32_t out_len, uint8_t* out);
// CTR_DRBG_Update with seed_len bytes of provided data.
[[nodiscard]] quarzel_ret_t ctr_drbg_update(ctr_drbg_ctx_t* st, const uint8_t* provided);

}  // extern "C"
