// GCM and GMAC API: argument and state checks around the processing routines.
#include <cstring>
#include <initializer_list>

#include "blockcipher/cipher_info.h"
#include "gcm/gcm_internal.h"
#include "quarzel/ct.h"
#include "quarzel/gcm.h"
#include "quarzel/secure.h"
#include "seams.h"

using namespace quarzel::gcm;

namespace {

constexpr uint32_t kFnKeySetup = 0x65, kFnIvSetup = 0x67, kFnAadSetup = 0x68, kFnEnc = 0x70, kFnDec = 0x74,
                   kFnGmac = 0x83;
constexpr uint8_t kReasonNull = 0x05, kReasonOutSmall = 0x06, kReasonState = 0x08, kReasonType = 0x32,
                  kReasonKeyLen = 0x36, kReasonFlag = 0x3C;

constexpr quarzel_ret_t err(uint32_t fn, uint8_t reason) { return quarzel_err(QZ_MOD_BLOCKCIPHER, fn, reason); }

void wipe_secrets(gcm_ctx_t* ctx) {
  quarzel::secure_wipe(ctx->round_key, sizeof ctx->round_key);
  quarzel::secure_wipe(ctx->h_val, sizeof ctx->h_val);
  quarzel::secure_wipe(ctx->h_pow, sizeof ctx->h_pow);
  quarzel::secure_wipe(ctx->x_val, sizeof ctx->x_val);
  quarzel::secure_wipe(ctx->e0_val, sizeof ctx->e0_val);
  quarzel::secure_wipe(ctx->iv, sizeof ctx->iv);
}

// Every failure ends in the error state, which only gcm_key_setup leaves, so
// the key material can go.
quarzel_ret_t fail(gcm_ctx_t* ctx, quarzel_ret_t word) {
  wipe_secrets(ctx);
  ctx->state = GCM_STATE_ERROR;
  return word;
}

// A final state likewise needs a new key set-up.
void finish(gcm_ctx_t* ctx, uint32_t state) {
  wipe_secrets(ctx);
  ctx->state = state;
}

bool state_in(const gcm_ctx_t* ctx, std::initializer_list<uint32_t> states) {
  for (uint32_t s : states) {
    if (ctx->state == s) return true;
  }
  return false;
}

bool valid_flag(cipher_flag_t f) { return f == CIPHER_FLAG_NOT_FINAL || f == CIPHER_FLAG_IS_FINAL; }

bool known_cipher(const gcm_ctx_t* ctx) {
  const quarzel::bc::CipherInfo* info = quarzel::bc::find_cipher(ctx->cipher);
  return info != nullptr && info->block_size == ctx->block_size;
}

bool is_des(const gcm_ctx_t* ctx) { return ctx->block_size == 8; }

// The tag-length rule of encryption and GMAC: AES lengths as SP 800-38D
// allows; DES and TDES always give 8 bytes and need room for them.
bool apply_enc_tag_len(const gcm_ctx_t* ctx, uint32_t* tag_len) {
  if (is_des(ctx)) {
    const bool ok = *tag_len >= 8;
    *tag_len = 8;
    return ok;
  }
  if (!aes_tag_len_ok(*tag_len)) {
    *tag_len = 16;
    return false;
  }
  return true;
}

// Common checks of the data calls; returns 0 or the failure word.
quarzel_ret_t check_data_call(gcm_ctx_t* ctx, uint32_t fn, std::initializer_list<uint32_t> states,
                              cipher_flag_t flag, uint32_t data_in_len, const uint8_t* data_in,
                              uint32_t* data_out_len, const uint8_t* data_out) {
  if (data_in_len != 0 && (data_in == nullptr || data_out_len == nullptr || data_out == nullptr)) {
    return err(fn, kReasonNull);
  }
  if (!state_in(ctx, states)) return err(fn, kReasonState);
  if (!valid_flag(flag)) return err(fn, kReasonFlag);
  if (!known_cipher(ctx)) return err(fn, kReasonType);
  if (data_out_len != nullptr) {
    const bool small = *data_out_len < data_in_len;
    *data_out_len = data_in_len;
    if (small) return err(fn, kReasonOutSmall);
  }
  return 0;
}

}  // namespace

extern "C" {

quarzel_ret_t gcm_key_setup(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key) {
  if (ctx == nullptr) return err(kFnKeySetup, kReasonNull);
  if (key == nullptr) return fail(ctx, err(kFnKeySetup, kReasonNull));
  const quarzel::bc::CipherInfo* info = quarzel::bc::find_cipher(type);
  if (info == nullptr) return fail(ctx, err(kFnKeySetup, kReasonType));
  if (key_len != info->key_len) return fail(ctx, err(kFnKeySetup, kReasonKeyLen));
  quarzel::secure_wipe(ctx, sizeof *ctx);
  ctx->block_size = info->block_size;
  ctx->accel = quarzel::bc::accel_for(*info);
  info->key_expansion(CIPHER_DIR_ENC, key_len, key, ctx->round_key);
  ctx->fp_algo_calc = info->encrypt;
  if (info->is_des) {
    ctx->fp_gcm_aad = mode_gcm64_aad_process;
    ctx->fp_gcm_data = mode_gcm64_data_process;
    ctx->fp_gcm_final = mode_gcm64_final;
  } else {
    ctx->fp_gcm_aad = mode_gcm_aad_process;
    ctx->fp_gcm_data = mode_gcm_data_process;
    ctx->fp_gcm_final = mode_gcm_final;
  }
  ctx->key_len = key_len;
  ctx->cipher = type;
  const uint8_t zero[16] = {};
  ctx->fp_algo_calc(0, key_len, zero, ctx->round_key, ctx->h_val);
#if QZ_HAVE_AESNI
  if (ctx->accel == static_cast<uint32_t>(quarzel::CipherAccel::kAesNi)) {
    ctx->wide = !quarzel::seams::gcm_narrow.load(std::memory_order_relaxed) && vaes::cpu_supported() ? 1 : 0;
    clmul::init_powers(ctx);
  }
#endif
  ctx->state = GCM_STATE_KEY_SET;
  return 0;
}

quarzel_ret_t gcm_iv_setup(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t iv_len, const uint8_t* iv) {
  if (ctx == nullptr) return err(kFnIvSetup, kReasonNull);
  if (iv == nullptr && iv_len != 0) return fail(ctx, err(kFnIvSetup, kReasonNull));
  if (!state_in(ctx, {GCM_STATE_KEY_SET, GCM_STATE_IV_PARTIAL})) return fail(ctx, err(kFnIvSetup, kReasonState));
  if (!valid_flag(flag_final)) return fail(ctx, err(kFnIvSetup, kReasonFlag));
  if (!known_cipher(ctx)) return fail(ctx, err(kFnIvSetup, kReasonType));
  const quarzel_ret_t ret = is_des(ctx) ? mode_gcm64_iv_process(ctx, flag_final, iv_len, iv)
                                        : mode_gcm_iv_process(ctx, flag_final, iv_len, iv);
  if (ret != 0) return fail(ctx, ret);
  ctx->state = flag_final == CIPHER_FLAG_IS_FINAL ? GCM_STATE_IV_DONE : GCM_STATE_IV_PARTIAL;
  return 0;
}

quarzel_ret_t gcm_aad_setup(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t aad_len, const uint8_t* aad) {
  if (ctx == nullptr) return err(kFnAadSetup, kReasonNull);
  if (aad == nullptr && aad_len != 0) return fail(ctx, err(kFnAadSetup, kReasonNull));
  if (!state_in(ctx, {GCM_STATE_IV_DONE, GCM_STATE_AAD_PARTIAL})) return fail(ctx, err(kFnAadSetup, kReasonState));
  if (!valid_flag(flag_final)) return fail(ctx, err(kFnAadSetup, kReasonFlag));
  const quarzel_ret_t ret = ctx->fp_gcm_aad(ctx, flag_final, aad_len, aad);
  if (ret != 0) return fail(ctx, ret);
  ctx->state = flag_final == CIPHER_FLAG_IS_FINAL ? GCM_STATE_AAD_DONE : GCM_STATE_AAD_PARTIAL;
  return 0;
}

quarzel_ret_t gcm_init(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                       const uint8_t* iv, uint32_t aad_len, const uint8_t* aad) {
  quarzel_ret_t ret = gcm_key_setup(ctx, type, key_len, key);
  if (ret == 0) ret = gcm_iv_setup(ctx, CIPHER_FLAG_IS_FINAL, iv_len, iv);
  if (ret == 0) ret = gcm_aad_setup(ctx, CIPHER_FLAG_IS_FINAL, aad_len, aad);
  return ret;
}

quarzel_ret_t gcm_auth_enc(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_in_len, const uint8_t* data_in,
                           uint32_t* data_out_len, uint8_t* data_out, uint32_t* tag_len, uint8_t* tag) {
  if (ctx == nullptr) return err(kFnEnc, kReasonNull);
  quarzel_ret_t ret = check_data_call(ctx, kFnEnc, {GCM_STATE_IV_DONE, GCM_STATE_AAD_DONE, GCM_STATE_ENCRYPTING},
                                      flag_final, data_in_len, data_in, data_out_len, data_out);
  if (ret != 0) return fail(ctx, ret);
  if (flag_final == CIPHER_FLAG_NOT_FINAL) {
    ret = ctx->fp_gcm_data(ctx, CIPHER_DIR_ENC, flag_final, data_in_len, data_in, data_out);
    if (ret != 0) return fail(ctx, ret);
    ctx->state = GCM_STATE_ENCRYPTING;
    return 0;
  }
  if (tag_len == nullptr || tag == nullptr) return fail(ctx, err(kFnEnc, kReasonNull));
  if (!apply_enc_tag_len(ctx, tag_len)) return fail(ctx, err(kFnEnc, kReasonFlag));
  ret = ctx->fp_gcm_data(ctx, CIPHER_DIR_ENC, flag_final, data_in_len, data_in, data_out);
  if (ret == 0) ret = ctx->fp_gcm_final(ctx, *tag_len, tag);
  if (ret != 0) return fail(ctx, ret);
  finish(ctx, GCM_STATE_ENC_FINAL);
  return 0;
}

quarzel_ret_t gcm_auth_enc_update(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                  uint32_t* data_out_len, uint8_t* data_out) {
  return gcm_auth_enc(ctx, CIPHER_FLAG_NOT_FINAL, data_in_len, data_in, data_out_len, data_out, nullptr, nullptr);
}

quarzel_ret_t gcm_auth_enc_final(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                 uint32_t* data_out_len, uint8_t* data_out, uint32_t* tag_len, uint8_t* tag) {
  return gcm_auth_enc(ctx, CIPHER_FLAG_IS_FINAL, data_in_len, data_in, data_out_len, data_out, tag_len, tag);
}

quarzel_ret_t gcm_auth_dec(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_in_len, const uint8_t* data_in,
                           uint32_t tag_len, const uint8_t* tag, uint32_t* data_out_len, uint8_t* data_out,
                           uint32_t* valid) {
  if (ctx == nullptr) return err(kFnDec, kReasonNull);
  quarzel_ret_t ret = check_data_call(ctx, kFnDec, {GCM_STATE_IV_DONE, GCM_STATE_AAD_DONE, GCM_STATE_DECRYPTING},
                                      flag_final, data_in_len, data_in, data_out_len, data_out);
  if (ret != 0) return fail(ctx, ret);
  if (flag_final == CIPHER_FLAG_NOT_FINAL) {
    ret = ctx->fp_gcm_data(ctx, CIPHER_DIR_DEC, flag_final, data_in_len, data_in, data_out);
    if (ret != 0) return fail(ctx, ret);
    ctx->state = GCM_STATE_DECRYPTING;
    return 0;
  }
  if (tag == nullptr || valid == nullptr) return fail(ctx, err(kFnDec, kReasonNull));
  if (is_des(ctx) ? tag_len != 8 : !aes_tag_len_ok(tag_len)) return fail(ctx, err(kFnDec, kReasonFlag));
  ret = ctx->fp_gcm_data(ctx, CIPHER_DIR_DEC, flag_final, data_in_len, data_in, data_out);
  quarzel::SecretArray<16> computed;
  if (ret == 0) ret = ctx->fp_gcm_final(ctx, tag_len, computed.data());
  if (ret != 0) {
    if (data_in_len != 0) quarzel::secure_wipe(data_out, data_in_len);
    return fail(ctx, ret);
  }
  const bool match = quarzel::ct::declassify(quarzel::ct_equal(computed.data(), tag, tag_len));  // the verdict is output
  *valid = match ? GCM_TAG_VALID : GCM_TAG_INVALID;
  // No unauthenticated plaintext from this call is left behind.
  if (!match && data_in_len != 0) quarzel::secure_wipe(data_out, data_in_len);
  finish(ctx, GCM_STATE_DEC_FINAL);
  return 0;
}

quarzel_ret_t gcm_auth_dec_update(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in,
                                  uint32_t* data_out_len, uint8_t* data_out) {
  return gcm_auth_dec(ctx, CIPHER_FLAG_NOT_FINAL, data_in_len, data_in, 0, nullptr, data_out_len, data_out, nullptr);
}

quarzel_ret_t gcm_auth_dec_final(gcm_ctx_t* ctx, uint32_t data_in_len, const uint8_t* data_in, uint32_t tag_len,
                                 const uint8_t* tag, uint32_t* data_out_len, uint8_t* data_out, uint32_t* valid) {
  return gcm_auth_dec(ctx, CIPHER_FLAG_IS_FINAL, data_in_len, data_in, tag_len, tag, data_out_len, data_out, valid);
}

quarzel_ret_t gcm_auth_enc_onestep(cipher_type_t type, uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                                   const uint8_t* iv, uint32_t aad_len, const uint8_t* aad, uint32_t data_in_len,
                                   const uint8_t* data_in, uint32_t* data_out_len, uint8_t* data_out,
                                   uint32_t* tag_len, uint8_t* tag) {
  gcm_ctx_t ctx;
  quarzel::WipeOnExit<gcm_ctx_t> wipe(ctx);
  const quarzel_ret_t ret = gcm_init(&ctx, type, key_len, key, iv_len, iv, aad_len, aad);
  if (ret != 0) return ret;
  return gcm_auth_enc(&ctx, CIPHER_FLAG_IS_FINAL, data_in_len, data_in, data_out_len, data_out, tag_len, tag);
}

quarzel_ret_t gcm_auth_dec_onestep(cipher_type_t type, uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                                   const uint8_t* iv, uint32_t aad_len, const uint8_t* aad, uint32_t data_in_len,
                                   const uint8_t* data_in, uint32_t tag_len, const uint8_t* tag,
                                   uint32_t* data_out_len, uint8_t* data_out, uint32_t* valid) {
  gcm_ctx_t ctx;
  quarzel::WipeOnExit<gcm_ctx_t> wipe(ctx);
  const quarzel_ret_t ret = gcm_init(&ctx, type, key_len, key, iv_len, iv, aad_len, aad);
  if (ret != 0) return ret;
  return gcm_auth_dec(&ctx, CIPHER_FLAG_IS_FINAL, data_in_len, data_in, tag_len, tag, data_out_len, data_out, valid);
}

quarzel_ret_t gmac_key_setup(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key) {
  return gcm_key_setup(ctx, type, key_len, key);
}

quarzel_ret_t gmac_iv_setup(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t iv_len, const uint8_t* iv) {
  return gcm_iv_setup(ctx, flag_final, iv_len, iv);
}

quarzel_ret_t gmac_init(gcm_ctx_t* ctx, cipher_type_t type, uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                        const uint8_t* iv) {
  quarzel_ret_t ret = gcm_key_setup(ctx, type, key_len, key);
  if (ret == 0) ret = gcm_iv_setup(ctx, CIPHER_FLAG_IS_FINAL, iv_len, iv);
  return ret;
}

quarzel_ret_t gmac_calc(gcm_ctx_t* ctx, cipher_flag_t flag_final, uint32_t data_len, const uint8_t* data,
                        uint32_t* tag_len, uint8_t* tag) {
  if (ctx == nullptr) return err(kFnGmac, kReasonNull);
  if (data == nullptr && data_len != 0) return fail(ctx, err(kFnGmac, kReasonNull));
  if (!state_in(ctx, {GCM_STATE_IV_DONE, GCM_STATE_GMAC_PARTIAL})) return fail(ctx, err(kFnGmac, kReasonState));
  if (!valid_flag(flag_final)) return fail(ctx, err(kFnGmac, kReasonFlag));
  if (!known_cipher(ctx)) return fail(ctx, err(kFnGmac, kReasonType));
  if (flag_final == CIPHER_FLAG_NOT_FINAL) {
    const quarzel_ret_t ret = ctx->fp_gcm_aad(ctx, flag_final, data_len, data);
    if (ret != 0) return fail(ctx, ret);
    ctx->state = GCM_STATE_GMAC_PARTIAL;
    return 0;
  }
  if (tag_len == nullptr || tag == nullptr) return fail(ctx, err(kFnGmac, kReasonNull));
  if (!apply_enc_tag_len(ctx, tag_len)) return fail(ctx, err(kFnGmac, kReasonFlag));
  quarzel_ret_t ret = ctx->fp_gcm_aad(ctx, flag_final, data_len, data);
  if (ret == 0) ret = ctx->fp_gcm_final(ctx, *tag_len, tag);
  if (ret != 0) return fail(ctx, ret);
  finish(ctx, GCM_STATE_GMAC_FINAL);
  return 0;
}

quarzel_ret_t gmac_onestep(cipher_type_t type, uint32_t key_len, const uint8_t* key, uint32_t iv_len,
                           const uint8_t* iv, uint32_t data_len, const uint8_t* data, uint32_t* tag_len,
                           uint8_t* tag) {
  gcm_ctx_t ctx;
  quarzel::WipeOnExit<gcm_ctx_t> wipe(ctx);
  const quarzel_ret_t ret = gmac_init(&ctx, type, key_len, key, iv_len, iv);
  if (ret != 0) return ret;
  return gmac_calc(&ctx, CIPHER_FLAG_IS_FINAL, data_len, data, tag_len, tag);
}

}  // extern "C"
