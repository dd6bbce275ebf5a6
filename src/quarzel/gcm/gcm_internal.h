// Internals of GCM: GHASH in its portable and carry-less-multiply forms and
// the per-family processing routines bound in the context.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aes/aes_internal.h"
#include "quarzel/gcm.h"

namespace quarzel::gcm {

inline constexpr uint32_t kFnIv = 0x60, kFnAad = 0x61, kFnData = 0x62, kFnFinal = 0x63;

constexpr quarzel_ret_t gcm_err(uint32_t fn, uint8_t reason) { return quarzel_err(QZ_MOD_BLOCKCIPHER, fn, reason); }

// acc = (acc XOR X) * H for every block X of data, the last one zero-padded
// (SP 800-38D Algorithm 1 order: bit 0 is the most significant bit of byte 0).
// Constant time in H and the data.
void ghash_update(const uint8_t* h, uint8_t* acc, const uint8_t* data, size_t len);
// The same over GF(2^64) with x^64 + x^4 + x^3 + x + 1 and 8-byte blocks.
void ghash64_update(const uint8_t* h, uint8_t* acc, const uint8_t* data, size_t len);

#if QZ_HAVE_AESNI
namespace clmul {
// Fills ctx->h_pow from ctx->h_val.
void init_powers(gcm_ctx_t* ctx);
void ghash(const gcm_ctx_t* ctx, uint8_t* acc, const uint8_t* data, size_t len);
// Whole blocks of GCTR with the 32-bit counter in ctx->iv, GHASH of the
// ciphertext into ctx->x_val; `in` and `out` may be the same buffer.
void crypt_blocks(gcm_ctx_t* ctx, bool encrypt, const uint8_t* in, uint8_t* out, size_t blocks);
}  // namespace clmul
namespace vaes {
// The CPU can run the 512-bit path (read once).
bool cpu_supported() noexcept;
// As clmul::crypt_blocks, sixteen blocks per step; needs H^1 .. H^16.
void crypt_blocks(gcm_ctx_t* ctx, bool encrypt, const uint8_t* in, uint8_t* out, size_t blocks);
}  // namespace vaes
#endif

// GHASH of the context's family and path.
void ghash(const gcm_ctx_t* ctx, uint8_t* acc, const uint8_t* data, size_t len);

// A 64-bit count as 8 big-endian bytes.
void len_to_array(uint64_t len, uint8_t* out);
// Absorb the length block BE64(8 x first_bytes) || BE64(8 x second_bytes): one
// 128-bit block (AES), or two 64-bit blocks (DES and TDES).
void ghash_final(const gcm_ctx_t* ctx, uint8_t* acc, uint64_t first_bytes, uint64_t second_bytes);
void ghash64_final(const gcm_ctx_t* ctx, uint8_t* acc, uint64_t first_bytes, uint64_t second_bytes);

// Routines bound per family; the IV routine is chosen per call.
quarzel_ret_t mode_gcm_iv_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* iv);
quarzel_ret_t mode_gcm_aad_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* aad);
quarzel_ret_t mode_gcm_data_process(gcm_ctx_t* ctx, cipher_dir_t dir, cipher_flag_t flag, uint32_t len,
                                    const uint8_t* in, uint8_t* out);
quarzel_ret_t mode_gcm_final(gcm_ctx_t* ctx, uint32_t tag_len, uint8_t* tag);
quarzel_ret_t mode_gcm64_iv_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* iv);
quarzel_ret_t mode_gcm64_aad_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* aad);
quarzel_ret_t mode_gcm64_data_process(gcm_ctx_t* ctx, cipher_dir_t dir, cipher_flag_t flag, uint32_t len,
                                      const uint8_t* in, uint8_t* out);
quarzel_ret_t mode_gcm64_final(gcm_ctx_t* ctx, uint32_t tag_len, uint8_t* tag);

// Allowed AES tag lengths.
constexpr bool aes_tag_len_ok(uint32_t n) { return n == 4 || n == 8 || (n >= 12 && n <= 16); }

}  // namespace quarzel::gcm
