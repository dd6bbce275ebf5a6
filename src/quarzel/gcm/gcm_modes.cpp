// GCM processing shared by the AES form (SP 800-38D) and the 64-bit-block
// form for DES and TDES. The two differ in the field (chosen by ghash()), in
// the short-IV rule for J0 and in the tag lengths; their length blocks are
// the same 16 bytes (one 128-bit block, or two 64-bit blocks).
#include <cstring>

#include "blockcipher/cipher_info.h"
#include "gcm/gcm_internal.h"
#include "quarzel/aes.h"
#include "quarzel/secure.h"

namespace quarzel::gcm {
namespace {

constexpr uint8_t kReasonIvLen = 0x37, kReasonAadLen = 0x38, kReasonDataLen = 0x39, kReasonTagLen = 0x3C;

// The last four bytes of the counter block as a 32-bit big-endian counter.
void inc32(uint8_t* block, uint32_t b) {
  uint8_t* c = block + b - 4;
  uint32_t v = uint32_t{c[0]} << 24 | uint32_t{c[1]} << 16 | uint32_t{c[2]} << 8 | c[3];
  ++v;
  c[0] = static_cast<uint8_t>(v >> 24);
  c[1] = static_cast<uint8_t>(v >> 16);
  c[2] = static_cast<uint8_t>(v >> 8);
  c[3] = static_cast<uint8_t>(v);
}

void block_encrypt(const gcm_ctx_t* ctx, const uint8_t* in, uint8_t* out) {
  ctx->fp_algo_calc(0, ctx->key_len, in, ctx->round_key, out);
}

// The length block of the context's family.
void absorb_lengths(const gcm_ctx_t* ctx, uint8_t* acc, uint64_t first_bytes, uint64_t second_bytes) {
  if (ctx->block_size == 16) {
    ghash_final(ctx, acc, first_bytes, second_bytes);
  } else {
    ghash64_final(ctx, acc, first_bytes, second_bytes);
  }
}

// Counter blocks beyond 2^32 - 2 per message would repeat the key stream.
uint64_t max_data_len(uint32_t b) { return (uint64_t{0xFFFFFFFF} - 1) * b; }

quarzel_ret_t iv_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* iv) {
  const uint32_t b = ctx->block_size;
  const bool final = flag == CIPHER_FLAG_IS_FINAL;
  const uint32_t short_len = b == 16 ? 12 : 4;
  if (!final && len % b != 0) return gcm_err(kFnIv, kReasonIvLen);
  if (len > UINT32_MAX - ctx->iv_len) return gcm_err(kFnIv, kReasonIvLen);
  // SP 800-38D 5.2.1.1: the IV has at least one bit. An empty IV would leave
  // J0 at zero, turn the first key-stream block into H and the tag into a
  // bare GHASH value.
  if (final && ctx->iv_len == 0 && len == 0) return gcm_err(kFnIv, kReasonIvLen);
  if (final && ctx->iv_len == 0 && len == short_len) {
    std::memset(ctx->iv, 0, sizeof ctx->iv);
    if (b == 16) {
      std::memcpy(ctx->iv, iv, 12);  // IV || 00 00 00 01
      ctx->iv[15] = 1;
    } else {
      ctx->iv[3] = 1;  // 00 00 00 01 || IV
      std::memcpy(ctx->iv + 4, iv, 4);
    }
    ctx->iv_len = len;
  } else {
    if (len != 0) {
      ghash(ctx, ctx->iv, iv, len);
      ctx->iv_len += len;
    }
    if (!final) return 0;
    // A final call without bytes completes J0 from the chunks absorbed.
    absorb_lengths(ctx, ctx->iv, 0, ctx->iv_len);
  }
  block_encrypt(ctx, ctx->iv, ctx->e0_val);
  inc32(ctx->iv, b);
  return 0;
}

quarzel_ret_t aad_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* aad) {
  if (flag != CIPHER_FLAG_IS_FINAL && len % ctx->block_size != 0) return gcm_err(kFnAad, kReasonAadLen);
  if (len != 0) {
    ghash(ctx, ctx->x_val, aad, len);
    ctx->aad_len += len;
  }
  return 0;
}

quarzel_ret_t data_process(gcm_ctx_t* ctx, cipher_dir_t dir, cipher_flag_t flag, uint32_t len, const uint8_t* in,
                           uint8_t* out) {
  const uint32_t b = ctx->block_size;
  if (flag != CIPHER_FLAG_IS_FINAL && len % b != 0) return gcm_err(kFnData, kReasonDataLen);
  if (len > max_data_len(b) - ctx->data_len) return gcm_err(kFnData, kReasonDataLen);
  const bool enc = dir == CIPHER_DIR_ENC;
  const uint32_t whole = len - len % b;
  const uint32_t tail = len % b;
#if QZ_HAVE_AESNI
  if (b == 16 && ctx->accel == static_cast<uint32_t>(CipherAccel::kAesNi)) {
    if (ctx->wide != 0) {
      vaes::crypt_blocks(ctx, enc, in, out, whole / b);
    } else {
      clmul::crypt_blocks(ctx, enc, in, out, whole / b);
    }
  } else
#endif
  {
    // Decryption hashes the ciphertext before it can be overwritten in place.
    if (!enc) ghash(ctx, ctx->x_val, in, whole);
    SecretArray<16> ks;
    for (uint32_t off = 0; off < whole; off += b) {
      block_encrypt(ctx, ctx->iv, ks.data());
      inc32(ctx->iv, b);
      bc::mixup_bytes(out + off, in + off, ks.data(), b);
    }
    if (enc) ghash(ctx, ctx->x_val, out, whole);
  }
  if (tail != 0) {
    SecretArray<16> ks;
    block_encrypt(ctx, ctx->iv, ks.data());
    inc32(ctx->iv, b);
    if (!enc) ghash(ctx, ctx->x_val, in + whole, tail);
    bc::mixup_bytes(out + whole, in + whole, ks.data(), tail);
    if (enc) ghash(ctx, ctx->x_val, out + whole, tail);
  }
  ctx->data_len += len;
  return 0;
}

void make_tag(gcm_ctx_t* ctx, uint32_t tag_len, uint8_t* tag) {
  absorb_lengths(ctx, ctx->x_val, ctx->aad_len, ctx->data_len);
  SecretArray<16> s;
  bc::mixup_bytes(s.data(), ctx->x_val, ctx->e0_val, ctx->block_size);
  std::memcpy(tag, s.data(), tag_len);
}

}  // namespace

quarzel_ret_t mode_gcm_iv_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* iv) {
  return iv_process(ctx, flag, len, iv);
}
quarzel_ret_t mode_gcm64_iv_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* iv) {
  return iv_process(ctx, flag, len, iv);
}
quarzel_ret_t mode_gcm_aad_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* aad) {
  return aad_process(ctx, flag, len, aad);
}
quarzel_ret_t mode_gcm64_aad_process(gcm_ctx_t* ctx, cipher_flag_t flag, uint32_t len, const uint8_t* aad) {
  return aad_process(ctx, flag, len, aad);
}
quarzel_ret_t mode_gcm_data_process(gcm_ctx_t* ctx, cipher_dir_t dir, cipher_flag_t flag, uint32_t len,
                                    const uint8_t* in, uint8_t* out) {
  return data_process(ctx, dir, flag, len, in, out);
}
quarzel_ret_t mode_gcm64_data_process(gcm_ctx_t* ctx, cipher_dir_t dir, cipher_flag_t flag, uint32_t len,
                                      const uint8_t* in, uint8_t* out) {
  return data_process(ctx, dir, flag, len, in, out);
}

quarzel_ret_t mode_gcm_final(gcm_ctx_t* ctx, uint32_t tag_len, uint8_t* tag) {
  if (!aes_tag_len_ok(tag_len)) return gcm_err(kFnFinal, kReasonTagLen);
  make_tag(ctx, tag_len, tag);
  return 0;
}

quarzel_ret_t mode_gcm64_final(gcm_ctx_t* ctx, uint32_t tag_len, uint8_t* tag) {
  if (tag_len > 8) return gcm_err(kFnFinal, kReasonTagLen);
  make_tag(ctx, tag_len, tag);
  return 0;
}

}  // namespace quarzel::gcm
