// Block-cipher API: one cipher (AES-128/192/256, DES, two- or three-key TDES),
// one mode of operation and one direction bound in a caller-owned context.
//
// Calls never pad and never buffer: what a call is given is processed in that
// call, and output length equals input length. Non-final calls carry whole
// blocks (ECB, CBC, PCBC) or whole segments (CFB); OFB and CTR take any length
// and carry their key-stream residue across calls. A final ECB or CBC call
// that ends in a partial block is completed by ciphertext stealing (CBC in
// the CS2 order of the SP 800-38A addendum).
//
// Calling order: blockcipher_init, any number of update calls, at most one
// final call; blockcipher_reset_iv restarts the operation with the same key.
// Any failure puts the context in its error state (and wipes its key
// schedule); only blockcipher_init leaves it.
#pragma once

#include <cstdint>

#include "quarzel/port.h"

enum cipher_type_t : uint32_t {
  CIPHER_TYPE_UNDEFINED = 0,
  CIPHER_TYPE_AES128 = 1,
  CIPHER_TYPE_AES192 = 2,
  CIPHER_TYPE_AES256 = 3,
  CIPHER_TYPE_DES = 16,
  CIPHER_TYPE_TDES2 = 17,
  CIPHER_TYPE_TDES3 = 18,
  CIPHER_TYPE_SERPENT = 32,  // declared only; refused everywhere
};

enum cipher_mode_t : uint32_t {
  CIPHER_MODE_UNDEFINED = 0,
  CIPHER_MODE_ECB = 1,
  CIPHER_MODE_CBC = 2,
  CIPHER_MODE_CFB = 3,  // 128-bit segments for AES, 64-bit for DES/TDES
  CIPHER_MODE_OFB = 4,
  CIPHER_MODE_CTR = 5,
  CIPHER_MODE_PCBC = 6,
  CIPHER_MODE_CFB1 = 16,  // declared only; refused
  CIPHER_MODE_CFB8 = 17,
  CIPHER_MODE_CFB64 = 18,
  CIPHER_MODE_CFB128 = 19,
};

enum cipher_dir_t : uint32_t {
  CIPHER_DIR_UNDEFINED = 0,
  CIPHER_DIR_DEC = 1,
  CIPHER_DIR_ENC = 2,
};

enum cipher_flag_t : uint32_t {
  CIPHER_FLAG_NOT_FINAL = 0,
  CIPHER_FLAG_IS_FINAL = 1,
};

// Context state words.
inline constexpr uint32_t BLOCKCIPHER_STATE_INIT = 0xE531B9BBu;
inline constexpr uint32_t BLOCKCIPHER_STATE_UPDATE = 0x751A4C7Au;
inline constexpr uint32_t BLOCKCIPHER_STATE_FINAL = 0xD9B55F73u;
inline constexpr uint32_t BLOCKCIPHER_STATE_ERROR = 0xB44D591Au;

struct blockcipher_ctx_s;

// One block through a core; in place allowed. Always 0.
typedef core_ret_t (*fp_algo_calc_t)(uint32_t flag_final, uint32_t key_len, const uint8_t* in,
                                     const uint8_t* round_key, uint8_t* out);
// One mode routine over a call's data.
typedef quarzel_ret_t (*fp_mode_calc_t)(blockcipher_ctx_s* ctx, cipher_flag_t flag_final, uint32_t data_len,
                                        const uint8_t* data_in, uint8_t* data_out, fp_algo_calc_t fp_algo_calc);
// Per-block register update of the key-stream modes.
typedef void (*fp_ksm_iv_calc_t)(uint8_t* iv, const uint8_t* ks, uint32_t block_size);

typedef struct blockcipher_ctx_s {
  uint32_t state;
  cipher_mode_t mode;
  cipher_dir_t dir;
  uint32_t block_size;  // 16 for AES, 8 for DES/TDES
  uint32_t iv_len;
  uint8_t iv[16];  // chaining value, CFB shift register, OFB output or next CTR block
  uint32_t key_len;
  uint8_t round_key[480];
  uint32_t res_kslen;  // OFB/CTR: unused key-stream bytes, the last res_kslen of res_ks
  uint8_t res_ks[16];
  uint32_t remain_len;  // unused
  uint8_t remain_buf[16];
  fp_algo_calc_t fp_algo_calc;
  fp_mode_calc_t fp_mode_calc;
  // Cipher bound by the key set-up and the instruction-set path chosen there
  // (a quarzel::CipherAccel value).
  cipher_type_t type;
  uint32_t accel;
} blockcipher_ctx_t;

extern "C" {

[[nodiscard]] quarzel_ret_t blockcipher_init(blockcipher_ctx_t* ctx, cipher_type_t type, cipher_mode_t mode,
                                             cipher_dir_t dir, uint32_t key_len, const uint8_t* key,
                                             uint32_t iv_len, const uint8_t* iv);
[[nodiscard]] quarzel_ret_t blockcipher_key_setup(blockcipher_ctx_t* ctx, cipher_type_t type, cipher_dir_t dir,
                                                  uint32_t key_len, const uint8_t* key);
quarzel_ret_t blockcipher_ksmctx_setup(blockcipher_ctx_t* ctx);
[[nodiscard]] quarzel_ret_t blockcipher_calc(blockcipher_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_in_len,
                                             const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out);
[[nodiscard]] quarzel_ret_t blockcipher_update(blockcipher_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                               uint32_t* data_out_len, uint8_t* data_out);
[[nodiscard]] quarzel_ret_t blockcipher_final(blockcipher_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                              uint32_t* data_out_len, uint8_t* data_out);
// Init and one final call on a context of its own, wiped before returning.
[[nodiscard]] quarzel_ret_t blockcipher_onestep(cipher_type_t type, cipher_mode_t mode, cipher_dir_t dir,
                                                uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                                                const uint8_t* iv, uint32_t data_in_len, const uint8_t* data_in,
                                                uint32_t* data_out_len, uint8_t* data_out);
[[nodiscard]] quarzel_ret_t blockcipher_reset_iv(blockcipher_ctx_t* ctx, uint32_t iv_len, const uint8_t* iv);
// Random key of the type's length from quarzel_get_random; DES and TDES keys
// get odd parity in every byte.
[[nodiscard]] quarzel_ret_t blockcipher_keygen(cipher_type_t type, uint32_t* key_len, uint8_t* key);

}  // extern "C"
