// Mode routines of the block-cipher API (SP 800-38A and PCBC). Each walks one
// call's data; only the chaining value (and the OFB/CTR key-stream residue)
// is carried in the context between calls.
#pragma once

#include "quarzel/blockcipher.h"

namespace quarzel::bc {

quarzel_ret_t mode_ecb(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cbc_enc(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cbc_dec(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_pcbc_enc(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_pcbc_dec(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
// CFB with segments of `seg` bytes (1, 8 or 16); the fixed-segment routines
// below run them.
quarzel_ret_t mode_cfb_enc(blockcipher_ctx_t*, uint32_t seg, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb_dec(blockcipher_ctx_t*, uint32_t seg, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb8_enc(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb8_dec(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb64_enc(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb64_dec(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb128_enc(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_cfb128_dec(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_ofb(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);
quarzel_ret_t mode_ctr(blockcipher_ctx_t*, cipher_flag_t, uint32_t, const uint8_t*, uint8_t*, fp_algo_calc_t);

}  // namespace quarzel::bc
