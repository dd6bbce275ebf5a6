// Block-cipher API: context set-up, update/final calls, IV reset, key generation.
#include "quarzel/blockcipher.h"

#include <cstring>

#include "blockcipher/cipher_info.h"
#include "blockcipher/modes.h"
#include "quarzel/secure.h"

using namespace quarzel::bc;

namespace {

constexpr uint32_t kFnKeySetup = 0x30, kFnKeygen = 0x31, kFnInit = 0x33, kFnCalc = 0x34, kFnResetIv = 0x38;
constexpr uint8_t kReasonNull = 0x05, kReasonRandom = 0x04, kReasonOutSmall = 0x06, kReasonState = 0x08,
                  kReasonDesMode = 0x31, kReasonType = 0x32, kReasonMode = 0x33, kReasonDir = 0x34,
                  kReasonKeyLen = 0x36, kReasonIvLen = 0x37, kReasonFlag = 0x3C;

constexpr quarzel_ret_t err(uint32_t fn, uint8_t reason) { return quarzel_err(QZ_MOD_BLOCKCIPHER, fn, reason); }

// Error state: the key schedule and every chaining or key-stream value are
// wiped, since only blockcipher_init leaves this state.
quarzel_ret_t fail(blockcipher_ctx_t* ctx, quarzel_ret_t word) {
  quarzel::secure_wipe(ctx->round_key, sizeof ctx->round_key);
  quarzel::secure_wipe(ctx->iv, sizeof ctx->iv);
  quarzel::secure_wipe(ctx->res_ks, sizeof ctx->res_ks);
  ctx->res_kslen = 0;
  ctx->state = BLOCKCIPHER_STATE_ERROR;
  return word;
}

// Mode routines by cipher family and direction (null: not allowed).
struct ModeEntry {
  cipher_mode_t mode;
  fp_mode_calc_t aes_enc, aes_dec, des_enc, des_dec;
  bool key_for_dir;  // the key is expanded for the caller's direction (else encryption)
  bool key_stream;   // OFB and CTR keep a key-stream residue
};

constexpr ModeEntry kModes[] = {
    {CIPHER_MODE_ECB, mode_ecb, mode_ecb, mode_ecb, mode_ecb, true, false},
    {CIPHER_MODE_CBC, mode_cbc_enc, mode_cbc_dec, mode_cbc_enc, mode_cbc_dec, true, false},
    {CIPHER_MODE_PCBC, mode_pcbc_enc, mode_pcbc_dec, nullptr, nullptr, true, false},
    {CIPHER_MODE_CFB, mode_cfb128_enc, mode_cfb128_dec, mode_cfb64_enc, mode_cfb64_dec, false, false},
    {CIPHER_MODE_CFB8, mode_cfb8_enc, mode_cfb8_dec, mode_cfb8_enc, mode_cfb8_dec, false, false},
    {CIPHER_MODE_CFB64, mode_cfb64_enc, mode_cfb64_dec, mode_cfb64_enc, mode_cfb64_dec, false, false},
    {CIPHER_MODE_CFB128, mode_cfb128_enc, mode_cfb128_dec, nullptr, nullptr, false, false},
    {CIPHER_MODE_OFB, mode_ofb, mode_ofb, mode_ofb, mode_ofb, false, true},
    {CIPHER_MODE_CTR, mode_ctr, mode_ctr, mode_ctr, mode_ctr, false, true},
};

const ModeEntry* find_mode(cipher_mode_t mode) {
  for (const auto& m : kModes) {
    if (m.mode == mode) return &m;
  }
  return nullptr;
}

bool is_key_stream_mode(cipher_mode_t mode) { return mode == CIPHER_MODE_OFB || mode == CIPHER_MODE_CTR; }

}  // namespace

extern "C" {

quarzel_ret_t blockcipher_key_setup(blockcipher_ctx_t* ctx, cipher_type_t type, cipher_dir_t dir, uint32_t key_len,
                                    const uint8_t* key) {
  if (ctx == nullptr) return err(kFnKeySetup, kReasonNull);
  if (key == nullptr) return fail(ctx, err(kFnKeySetup, kReasonNull));
  const CipherInfo* info = find_cipher(type);
  if (info == nullptr) return fail(ctx, err(kFnKeySetup, kReasonType));
  if (key_len != info->key_len) return fail(ctx, err(kFnKeySetup, kReasonKeyLen));
  std::memset(ctx->round_key, 0, sizeof ctx->round_key);
  ctx->key_len = key_len;
  ctx->block_size = info->block_size;
  ctx->type = type;
  ctx->accel = accel_for(*info);
  info->key_expansion(dir, key_len, key, ctx->round_key);
  return 0;
}

quarzel_ret_t blockcipher_ksmctx_setup(blockcipher_ctx_t* ctx) {
  if (ctx == nullptr) return err(kFnInit, kReasonNull);
  ctx->res_kslen = 0;
  quarzel::secure_wipe(ctx->res_ks, sizeof ctx->res_ks);
  return 0;
}

quarzel_ret_t blockcipher_init(blockcipher_ctx_t* ctx, cipher_type_t type, cipher_mode_t mode, cipher_dir_t dir,
                               uint32_t key_len, const uint8_t* key, uint32_t iv_len, const uint8_t* iv) {
  if (ctx == nullptr) return err(kFnInit, kReasonNull);
  if (key == nullptr || (mode != CIPHER_MODE_ECB && iv == nullptr)) return fail(ctx, err(kFnInit, kReasonNull));
  if (dir != CIPHER_DIR_DEC && dir != CIPHER_DIR_ENC) return fail(ctx, err(kFnInit, kReasonDir));
  const CipherInfo* info = find_cipher(type);
  if (mode != CIPHER_MODE_ECB && info != nullptr && iv_len != info->block_size) {
    return fail(ctx, err(kFnInit, kReasonIvLen));
  }
  const ModeEntry* entry = find_mode(mode);
  const bool des = info != nullptr && info->is_des;
  if (des && (entry == nullptr || entry->des_enc == nullptr)) return fail(ctx, err(kFnInit, kReasonDesMode));
  if (entry == nullptr) return fail(ctx, err(kFnInit, kReasonMode));

  const cipher_dir_t key_dir = entry->key_for_dir ? dir : CIPHER_DIR_ENC;
  const quarzel_ret_t ret = blockcipher_key_setup(ctx, type, key_dir, key_len, key);
  if (ret != 0) return ret;
  ctx->fp_algo_calc = key_dir == CIPHER_DIR_DEC ? info->decrypt : info->encrypt;
  if (entry->key_stream) blockcipher_ksmctx_setup(ctx);
  const bool enc = dir == CIPHER_DIR_ENC;
  ctx->fp_mode_calc = des ? (enc ? entry->des_enc : entry->des_dec) : (enc ? entry->aes_enc : entry->aes_dec);
  ctx->mode = mode;
  ctx->dir = dir;
  ctx->state = BLOCKCIPHER_STATE_INIT;
  ctx->remain_len = 0;
  std::memset(ctx->iv, 0, sizeof ctx->iv);
  // ECB uses no IV: whatever is passed is kept only up to the field's size.
  const uint32_t keep = iv == nullptr ? 0 : (iv_len < sizeof ctx->iv ? iv_len : uint32_t{sizeof ctx->iv});
  ctx->iv_len = keep;
  if (keep != 0) std::memcpy(ctx->iv, iv, keep);
  return 0;
}

quarzel_ret_t blockcipher_calc(blockcipher_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_in_len,
                               const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out) {
  if (ctx == nullptr) return err(kFnCalc, kReasonNull);
  if (data_in_len != 0 && (data_in == nullptr || data_out_len == nullptr || data_out == nullptr)) {
    return fail(ctx, err(kFnCalc, kReasonNull));
  }
  if (ctx->state != BLOCKCIPHER_STATE_INIT && ctx->state != BLOCKCIPHER_STATE_UPDATE) {
    return fail(ctx, err(kFnCalc, kReasonState));
  }
  if (flag_final != CIPHER_FLAG_NOT_FINAL && flag_final != CIPHER_FLAG_IS_FINAL) {
    return fail(ctx, err(kFnCalc, kReasonFlag));
  }
  if (data_out_len != nullptr) {
    const bool small = data_in_len > *data_out_len;
    *data_out_len = data_in_len;
    if (small) return fail(ctx, err(kFnCalc, kReasonOutSmall));
  }
  if ((ctx->block_size != 16 && ctx->block_size != 8) || ctx->fp_mode_calc == nullptr) {
    return fail(ctx, err(kFnCalc, kReasonFlag));
  }
  if (data_in_len == 0) return 0;
  const quarzel_ret_t ret = ctx->fp_mode_calc(ctx, flag_final, data_in_len, data_in, data_out, ctx->fp_algo_calc);
  if (ret != 0) return fail(ctx, ret);
  ctx->state = flag_final == CIPHER_FLAG_IS_FINAL ? BLOCKCIPHER_STATE_FINAL : BLOCKCIPHER_STATE_UPDATE;
  return 0;
}

quarzel_ret_t blockcipher_update(blockcipher_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                 uint32_t* data_out_len, uint8_t* data_out) {
  return blockcipher_calc(ctx, CIPHER_FLAG_NOT_FINAL, data_in_len, data_in, data_out_len, data_out);
}

quarzel_ret_t blockcipher_final(blockcipher_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                uint32_t* data_out_len, uint8_t* data_out) {
  return blockcipher_calc(ctx, CIPHER_FLAG_IS_FINAL, data_in_len, data_in, data_out_len, data_out);
}

quarzel_ret_t blockcipher_onestep(cipher_type_t type, cipher_mode_t mode, cipher_dir_t dir, uint32_t key_len,
                                  const uint8_t* key, uint32_t iv_len, const uint8_t* iv, uint32_t data_in_len,
                                  const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out) {
  blockcipher_ctx_t ctx;
  quarzel::WipeOnExit<blockcipher_ctx_t> wipe(ctx);
  const quarzel_ret_t ret = blockcipher_init(&ctx, type, mode, dir, key_len, key, iv_len, iv);
  if (ret != 0) return ret;
  return blockcipher_calc(&ctx, CIPHER_FLAG_IS_FINAL, data_in_len, data_in, data_out_len, data_out);
}

quarzel_ret_t blockcipher_reset_iv(blockcipher_ctx_t* ctx, uint32_t iv_len, const uint8_t* iv) {
  if (ctx == nullptr) return err(kFnResetIv, kReasonNull);
  if (ctx->state != BLOCKCIPHER_STATE_INIT && ctx->state != BLOCKCIPHER_STATE_UPDATE &&
      ctx->state != BLOCKCIPHER_STATE_FINAL) {
    return fail(ctx, err(kFnResetIv, kReasonState));
  }
  if (ctx->mode != CIPHER_MODE_ECB) {
    if (iv == nullptr) return fail(ctx, err(kFnResetIv, kReasonNull));
    if (iv_len != ctx->iv_len || iv_len > sizeof ctx->iv) return fail(ctx, err(kFnResetIv, kReasonIvLen));
    std::memcpy(ctx->iv, iv, iv_len);
    if (is_key_stream_mode(ctx->mode)) blockcipher_ksmctx_setup(ctx);
  }
  ctx->state = BLOCKCIPHER_STATE_INIT;
  return 0;
}

quarzel_ret_t blockcipher_keygen(cipher_type_t type, uint32_t* key_len, uint8_t* key) {
  if (key_len == nullptr || key == nullptr) return err(kFnKeygen, kReasonNull);
  const CipherInfo* info = find_cipher(type);
  if (info == nullptr) return err(kFnKeygen, kReasonType);
  const uint32_t needed = info->key_len;
  const bool small = *key_len < needed;
  *key_len = needed;
  if (small) return err(kFnKeygen, kReasonOutSmall);
  if (quarzel_get_random(key, needed) != 0) {
    quarzel::secure_wipe(key, needed);
    return err(kFnKeygen, kReasonRandom);
  }
  if (info->is_des) {
    // FIPS 46-3: bit 0 of each byte makes its number of one bits odd.
    for (uint32_t i = 0; i < needed; ++i) {
      const uint8_t high = key[i] & 0xFE;
      key[i] = static_cast<uint8_t>(high | ((__builtin_popcount(high) & 1) ^ 1));
    }
  }
  return 0;
}

}  // extern "C"
