// Galois/Counter Mode and GMAC. AES follows SP 800-38D; DES and TDES run a
// 64-bit-block variant (GHASH over GF(2^64) with x^64 + x^4 + x^3 + x + 1,
// 4-byte IV giving J0 = 00 00 00 01 || IV, 8-byte tag).
//
// Calling order: gcm_key_setup; gcm_iv_setup (non-final chunks of whole
// blocks, then one final call); gcm_aad_setup (optional, likewise); then
// gcm_auth_enc or gcm_auth_dec (update calls of whole blocks, then one final
// call), or gmac_calc for GMAC. A new message needs a new gcm_key_setup.
//
// An IV that is empty in total is refused (SP 800-38D requires at least one
// bit). Decryption output of update calls is unauthenticated until the final
// call reports the tag as valid; the final call compares the tag in constant
// time and clears its own output when the tag does not match. Key material
// is wiped when the context reaches a final or the error state.
#pragma once

#include <cstdint>

#include "quarzel/blockcipher.h"
#include "quarzel/port.h"

// Context state words.
inline constexpr uint32_t GCM_STATE_KEY_SET = 0x84F7AB02u;
inline constexpr uint32_t GCM_STATE_IV_PARTIAL = 0x1197C914u;
inline constexpr uint32_t GCM_STATE_IV_DONE = 0x8BAF4F92u;
inline constexpr uint32_t GCM_STATE_AAD_PARTIAL = 0xCDC66667u;
inline constexpr uint32_t GCM_STATE_AAD_DONE = 0x68214F34u;
inline constexpr uint32_t GCM_STATE_ENCRYPTING = 0x5824973Eu;
inline constexpr uint32_t GCM_STATE_ENC_FINAL = 0x3842C680u;
inline constexpr uint32_t GCM_STATE_DECRYPTING = 0x1B533781u;
inline constexpr uint32_t GCM_STATE_DEC_FINAL = 0x543B5B32u;
inline constexpr uint32_t GCM_STATE_GMAC_PARTIAL = 0x10FE7384u;
inline constexpr uint32_t GCM_STATE_GMAC_FINAL = 0x82744A76u;
inline constexpr uint32_t GCM_STATE_ERROR = 0x1016B415u;

// Tag-check results written to *valid.
inline constexpr uint32_t GCM_TAG_VALID = QZ_TRUE;
inline constexpr uint32_t GCM_TAG_INVALID = QZ_FALSE;

struct gcm_ctx_s;
typedef quarzel_ret_t (*fp_gcm_aad_t)(gcm_ctx_s* ctx, cipher_flag_t flag_final, uint32_t aad_len, const uint8_t* aad);
typedef quarzel_ret_t (*fp_gcm_data_t)(gcm_ctx_s* ctx, cipher_dir_t dir, cipher_flag_t flag_final, uint32_t data_len,
                                       const uint8_t* data_in, uint8_t* data_out);
typedef quarzel_ret_t (*fp_gcm_final_t)(gcm_ctx_s* ctx, uint32_t tag_len, uint8_t* tag);

typedef struct gcm_ctx_s {
  uint32_t state;
  cipher_type_t cipher;
  uint32_t block_size;  // 16 for AES, 8 for DES/TDES
  uint32_t iv_len;      // IV bytes absorbed so far
  uint8_t iv[16];       // IV GHASH accumulator, then the counter block
  uint32_t key_len;
  uint8_t round_key[480];
  uint64_t aad_len;
  uint64_t data_len;
  uint8_t h_val[16];   // H = E(K, 0)
  uint8_t x_val[16];   // GHASH accumulator over AAD and ciphertext
  uint8_t e0_val[16];  // E(K, J0)
  uint32_t remain_len;  // unused
  uint8_t remain_buf[16];
  fp_algo_calc_t fp_algo_calc;
  fp_gcm_aad_t fp_gcm_aad;
  fp_gcm_data_t fp_gcm_data;
  fp_gcm_final_t fp_gcm_final;
  // Instruction-set path chosen at key set-up (a quarzel::CipherAccel value)
  // and, for the carry-less-multiply path, H^1 .. H^8 in its bit-reflected
  // form for aggregated GHASH (H^1 .. H^16 when `wide`).
  uint32_t accel;
  uint8_t h_pow[16][16];
  // Nonzero: the data run on the 512-bit VAES/VPCLMULQDQ path, chosen at key
  // set-up with the carry-less-multiply path.
  uint32_t wide;
} gcm_ctx_t;

extern "C" {

[[nodiscard]] quarzel_ret_t gcm_key_setup(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key);
[[nodiscard]] quarzel_ret_t gcm_iv_setup(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t iv_len, const uint8_t* iv);
[[nodiscard]] quarzel_ret_t gcm_aad_setup(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t aad_len,
                                          const uint8_t* aad);
[[nodiscard]] quarzel_ret_t gcm_init(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key,
                                     uint32_t iv_len, const uint8_t* iv, uint32_t aad_len, const uint8_t* aad);

// Encryption: *tag_len in is the wanted tag length (AES 4, 8, 12..16; DES and
// TDES at least 8, always producing 8), out the length written.
[[nodiscard]] quarzel_ret_t gcm_auth_enc(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_in_len,
                                         const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out,
                                         uint32_t* tag_len, uint8_t* tag);
[[nodiscard]] quarzel_ret_t gcm_auth_enc_update(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                                uint32_t* data_out_len, uint8_t* data_out);
[[nodiscard]] quarzel_ret_t gcm_auth_enc_final(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                               uint32_t* data_out_len, uint8_t* data_out, uint32_t* tag_len,
                                               uint8_t* tag);

// Decryption: a tag mismatch is not a failure; the call returns 0, writes
// GCM_TAG_INVALID to *valid and clears the output it was given.
[[nodiscard]] quarzel_ret_t gcm_auth_dec(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_in_len,
                                         const uint8_t* data_in, uint32_t tag_len, const uint8_t* tag,
                                         uint32_t* data_out_len, uint8_t* data_out, uint32_t* valid);
[[nodiscard]] quarzel_ret_t gcm_auth_dec_update(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                                uint32_t* data_out_len, uint8_t* data_out);
[[nodiscard]] quarzel_ret_t gcm_auth_dec_final(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                               uint32_t tag_len, const uint8_t* tag, uint32_t* data_out_len,
                                               uint8_t* data_out, uint32_t* valid);

[[nodiscard]] quarzel_ret_t gcm_auth_enc_onestep(cipher_type_t type, uint32_t key_len, const uint8_t* key,
                                                 uint32_t iv_len, const uint8_t* iv, uint32_t aad_len,
                                                 const uint8_t* aad, uint32_t data_in_len, const uint8_t* data_in,
                                                 uint32_t* data_out_len, uint8_t* data_out, uint32_t* tag_len,
                                                 uint8_t* tag);
[[nodiscard]] quarzel_ret_t gcm_auth_dec_onestep(cipher_type_t type, uint32_t key_len, const uint8_t* key,
                                                 uint32_t iv_len, const uint8_t* iv, uint32_t aad_len,
                                                 const uint8_t* aad, uint32_t data_in_len, const uint8_t* data_in,
                                                 uint32_t tag_len, const uint8_t* tag, uint32_t* data_out_len,
                                                 uint8_t* data_out, uint32_t* valid);

[[nodiscard]] quarzel_ret_t gmac_key_setup(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key);
[[nodiscard]] quarzel_ret_t gmac_iv_setup(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t iv_len,
                                          const uint8_t* iv);
[[nodiscard]] quarzel_ret_t gmac_init(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key,
                                      uint32_t iv_len, const uint8_t* iv);
[[nodiscard]] quarzel_ret_t gmac_calc(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_len,
                                      const uint8_t* data, uint32_t* tag_len, uint8_t* tag);
[[nodiscard]] quarzel_ret_t gmac_onestep(cipher_type_t type, uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                                         const uint8_t* iv, uint32_t data_len, const uint8_t* data,
                                         uint32_t* tag_len, uint8_t* tag);

}  // extern "C"
