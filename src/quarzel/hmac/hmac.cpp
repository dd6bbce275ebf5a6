// HMAC (RFC 2104, FIPS 198-1).
#include <algorithm>
#include <cstring>

#include "hmac/hmac_internal.h"
#include "quarzel/secure.h"

namespace quarzel::hmac {

bool hash_allowed(hash_type_t type) noexcept {
  constexpr hash_type_t kAllowed[] = {
      HASH_TYPE_SHA1,         HASH_TYPE_SHA2_224,   HASH_TYPE_SHA2_256,   HASH_TYPE_SHA2_384,
      HASH_TYPE_SHA2_512,     HASH_TYPE_SHA2_512_224, HASH_TYPE_SHA2_512_256, HASH_TYPE_SHA3_224,
      HASH_TYPE_SHA3_256,     HASH_TYPE_SHA3_384,   HASH_TYPE_SHA3_512,   HASH_TYPE_KECCAK_224,
      HASH_TYPE_KECCAK_256,   HASH_TYPE_KECCAK_384, HASH_TYPE_KECCAK_512,
  };
  return std::find(std::begin(kAllowed), std::end(kAllowed), type) != std::end(kAllowed);
}

quarzel_ret_t prepare_key(hash_ctx_t* scratch, hash_type_t type, uint32_t key_len, const uint8_t* key,
                          uint8_t (&hotkey)[HMAC_MAX_BLOCK_SIZE]) {
  if (quarzel_ret_t r = hash_init(scratch, type); r != 0) return r;
  std::memset(hotkey, 0, sizeof hotkey);
  if (key_len <= scratch->block_size) {
    if (key_len != 0) std::memcpy(hotkey, key, key_len);
    return 0;
  }
  uint32_t n = sizeof hotkey;
  if (quarzel_ret_t r = hash_update(scratch, key_len, key); r != 0) return r;
  return hash_final(scratch, &n, hotkey);
}

quarzel_ret_t start_padded(hash_ctx_t* h, hash_type_t type, const uint8_t (&hotkey)[HMAC_MAX_BLOCK_SIZE],
                           uint8_t pad) {
  if (quarzel_ret_t r = hash_init(h, type); r != 0) return r;
  SecretArray<HMAC_MAX_BLOCK_SIZE> block;
  const uint32_t b = h->block_size;
  for (uint32_t i = 0; i < b; ++i) block[i] = hotkey[i] ^ pad;
  return hash_update(h, b, block.data());
}

}  // namespace quarzel::hmac

namespace {

using namespace quarzel::hmac;

constexpr quarzel_ret_t err(uint32_t fn, uint8_t reason) { return quarzel_err(QZ_MOD_HMAC, fn, reason); }

quarzel_ret_t fail(hmac_ctx_t* ctx, quarzel_ret_t ret) {
  ctx->state = HMAC_STATE_ERROR;
  return ret;
}

bool in_progress(const hmac_ctx_t* ctx) {
  return ctx->state == HMAC_STATE_INITIALISED || ctx->state == HMAC_STATE_UPDATING;
}

}  // namespace

extern "C" {

quarzel_ret_t hmac_keygen(const uint32_t* key_len, uint8_t* key) {
  if (key_len == nullptr || (key == nullptr && *key_len != 0)) return err(HMAC_FN_KEYGEN, QZ_R_NULL);
  if (quarzel_get_random(key, *key_len) != 0) return err(HMAC_FN_KEYGEN, QZ_R_RANDOM);
  return 0;
}

quarzel_ret_t hmac_init(hmac_ctx_t* ctx, hash_type_t type, uint32_t key_len, const uint8_t* key) {
  if (ctx == nullptr) return err(HMAC_FN_INIT, QZ_R_NULL);
  if (key == nullptr && key_len != 0) return fail(ctx, err(HMAC_FN_INIT, QZ_R_NULL));
  if (!hash_allowed(type)) return fail(ctx, err(HMAC_FN_INIT, QZ_R_HMAC_HASH));
  ctx->state = 0;  // while the key is prepared
  if (quarzel_ret_t r = prepare_key(&ctx->hash_ctx, type, key_len, key, ctx->hotkey); r != 0) return fail(ctx, r);
  if (quarzel_ret_t r = start_padded(&ctx->hash_ctx, type, ctx->hotkey, kInnerPad); r != 0) return fail(ctx, r);
  ctx->state = HMAC_STATE_INITIALISED;
  return 0;
}

quarzel_ret_t hmac_update(hmac_ctx_t* ctx, uint32_t data_len, const uint8_t* data) {
  if (ctx == nullptr) return err(HMAC_FN_UPDATE, QZ_R_NULL);
  if (data == nullptr && data_len != 0) return fail(ctx, err(HMAC_FN_UPDATE, QZ_R_NULL));
  if (!in_progress(ctx)) return fail(ctx, err(HMAC_FN_UPDATE, QZ_R_STATE));
  if (quarzel_ret_t r = hash_update(&ctx->hash_ctx, data_len, data); r != 0) return fail(ctx, r);
  ctx->state = HMAC_STATE_UPDATING;
  return 0;
}

quarzel_ret_t hmac_final(hmac_ctx_t* ctx, uint32_t* mac_len, uint8_t* mac) {
  if (ctx == nullptr) return err(HMAC_FN_FINAL, QZ_R_NULL);
  if (mac_len == nullptr || mac == nullptr) return fail(ctx, err(HMAC_FN_FINAL, QZ_R_NULL));
  if (!in_progress(ctx)) return fail(ctx, err(HMAC_FN_FINAL, QZ_R_STATE));
  const hash_type_t type = ctx->hash_ctx.hash_type;
  quarzel::SecretArray<HASH_MAX_DIGEST_SIZE> inner, outer;
  uint32_t l = HASH_MAX_DIGEST_SIZE;
  if (quarzel_ret_t r = hash_final(&ctx->hash_ctx, &l, inner.data()); r != 0) return fail(ctx, r);
  if (quarzel_ret_t r = start_padded(&ctx->hash_ctx, type, ctx->hotkey, kOuterPad); r != 0) return fail(ctx, r);
  if (quarzel_ret_t r = hash_update(&ctx->hash_ctx, l, inner.data()); r != 0) return fail(ctx, r);
  uint32_t n = HASH_MAX_DIGEST_SIZE;
  if (quarzel_ret_t r = hash_final(&ctx->hash_ctx, &n, outer.data()); r != 0) return fail(ctx, r);
  n = std::min(*mac_len, n);
  if (n != 0) std::memcpy(mac, outer.data(), n);
  *mac_len = n;
  ctx->state = HMAC_STATE_FINAL;
  return 0;
}

quarzel_ret_t hmac_onestep(hash_type_t type, uint32_t key_len, const uint8_t* key, uint32_t data_len,
                           const uint8_t* data, uint32_t* mac_len, uint8_t* mac) {
  hmac_ctx_t ctx;
  quarzel::WipeOnExit<hmac_ctx_t> wipe(ctx);
  if (quarzel_ret_t r = hmac_init(&ctx, type, key_len, key); r != 0) return r;
  if (quarzel_ret_t r = hmac_update(&ctx, data_len, data); r != 0) return r;
  return hmac_final(&ctx, mac_len, mac);
}

}  // extern "C"
