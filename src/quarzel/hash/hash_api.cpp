// The generic hash API (module 0x05): type table, state words, dispatch.
#include <cstring>

#include "hash/internal.h"

namespace {

using InitFn = core_ret_t (*)(hash_subctx_t* sub);
using FixedOnestepFn = core_ret_t (*)(uint32_t msg_len, const uint8_t* msg, uint8_t* digest);
using XofOnestepFn = core_ret_t (*)(uint32_t msg_len, const uint8_t* msg, uint32_t digest_len, uint8_t* digest);

struct HashAlg {
  hash_type_t type;
  uint32_t digest_size;  // of the context API (SHAKE: 32 / 64)
  uint32_t block_size;
  InitFn init;
  hash_core_update_fn update;
  hash_core_final_fn final;
  FixedOnestepFn onestep;    // fixed-length types
  XofOnestepFn xof_onestep;  // SHAKE
};

// Adapts a core routine family to the generic shapes. The core context lives
// at the start of the union, so the casts are exact.
template <class Ctx, core_ret_t (*Init)(Ctx*), core_ret_t (*Update)(Ctx*, uint32_t, const uint8_t*),
          core_ret_t (*Final)(Ctx*, uint32_t, uint8_t*)>
struct Core {
  static core_ret_t init(hash_subctx_t* s) { return Init(reinterpret_cast<Ctx*>(s)); }
  static core_ret_t update(void* c, uint32_t n, const uint8_t* m) { return Update(static_cast<Ctx*>(c), n, m); }
  static core_ret_t final(void* c, uint32_t n, uint8_t* d) { return Final(static_cast<Ctx*>(c), n, d); }
};

template <class C>
constexpr HashAlg fixed(hash_type_t type, uint32_t digest, uint32_t block, FixedOnestepFn onestep) {
  return {type, digest, block, &C::init, &C::update, &C::final, onestep, nullptr};
}
template <class C>
constexpr HashAlg xof(hash_type_t type, uint32_t digest, uint32_t block, XofOnestepFn onestep) {
  return {type, digest, block, &C::init, &C::update, &C::final, nullptr, onestep};
}

#define QZ_CORE(ctx_t, name) Core<ctx_t, &hash_##name##_init, &hash_##name##_update, &hash_##name##_final>

// Digest sizes and block sizes (sponge rates for the Keccak family).
constexpr HashAlg kAlgs[] = {
    fixed<QZ_CORE(sha1_ctx_t, sha1)>(HASH_TYPE_SHA1, 20, 64, &hash_sha1_onestep),
    fixed<QZ_CORE(sha2_224_ctx_t, sha2_224)>(HASH_TYPE_SHA2_224, 28, 64, &hash_sha2_224_onestep),
    fixed<QZ_CORE(sha2_256_ctx_t, sha2_256)>(HASH_TYPE_SHA2_256, 32, 64, &hash_sha2_256_onestep),
    fixed<QZ_CORE(sha2_384_ctx_t, sha2_384)>(HASH_TYPE_SHA2_384, 48, 128, &hash_sha2_384_onestep),
    fixed<QZ_CORE(sha2_512_ctx_t, sha2_512)>(HASH_TYPE_SHA2_512, 64, 128, &hash_sha2_512_onestep),
    fixed<QZ_CORE(sha2_512_224_ctx_t, sha2_512_224)>(HASH_TYPE_SHA2_512_224, 28, 128, &hash_sha2_512_224_onestep),
    fixed<QZ_CORE(sha2_512_256_ctx_t, sha2_512_256)>(HASH_TYPE_SHA2_512_256, 32, 128, &hash_sha2_512_256_onestep),
    fixed<QZ_CORE(sha3_ctx_t, sha3_224)>(HASH_TYPE_SHA3_224, 28, 144, &hash_sha3_224_onestep),
    fixed<QZ_CORE(sha3_ctx_t, sha3_256)>(HASH_TYPE_SHA3_256, 32, 136, &hash_sha3_256_onestep),
    fixed<QZ_CORE(sha3_ctx_t, sha3_384)>(HASH_TYPE_SHA3_384, 48, 104, &hash_sha3_384_onestep),
    fixed<QZ_CORE(sha3_ctx_t, sha3_512)>(HASH_TYPE_SHA3_512, 64, 72, &hash_sha3_512_onestep),
    fixed<QZ_CORE(sha3_ctx_t, keccak_224)>(HASH_TYPE_KECCAK_224, 28, 144, &hash_keccak_224_onestep),
    fixed<QZ_CORE(sha3_ctx_t, keccak_256)>(HASH_TYPE_KECCAK_256, 32, 136, &hash_keccak_256_onestep),
    fixed<QZ_CORE(sha3_ctx_t, keccak_384)>(HASH_TYPE_KECCAK_384, 48, 104, &hash_keccak_384_onestep),
    fixed<QZ_CORE(sha3_ctx_t, keccak_512)>(HASH_TYPE_KECCAK_512, 64, 72, &hash_keccak_512_onestep),
    // The context API gives SHAKE a fixed length; the one-shot any length.
    xof<QZ_CORE(sha3_ctx_t, shake128)>(HASH_TYPE_SHAKE128, 32, 168, &hash_shake128_onestep),
    xof<QZ_CORE(sha3_ctx_t, shake256)>(HASH_TYPE_SHAKE256, 64, 136, &hash_shake256_onestep),
};

#undef QZ_CORE

const HashAlg* find_alg(hash_type_t type) {
  for (const HashAlg& a : kAlgs)
    if (a.type == type) return &a;
  return nullptr;
}

// Reason for a type the table does not hold.
uint8_t type_reason(hash_type_t type) {
  return type == HASH_TYPE_RIPEMD ? QZ_R_UNSUPPORTED : QZ_R_HASH_TYPE;
}

constexpr quarzel_ret_t err(uint32_t fn, uint8_t reason) { return quarzel_err(QZ_MOD_HASH, fn, reason); }

bool in_progress(const hash_ctx_t* ctx) {
  return ctx->state == HASH_STATE_INITIALISED || ctx->state == HASH_STATE_UPDATING;
}

// Every failure on a context leaves it in error.
quarzel_ret_t fail(hash_ctx_t* ctx, quarzel_ret_t ret) {
  ctx->state = HASH_STATE_ERROR;
  return ret;
}

}  // namespace

extern "C" {

quarzel_ret_t hash_get_length(hash_type_t type, uint32_t* len) {
  if (len == nullptr) return err(HASH_FN_GET_LENGTH, QZ_R_NULL);
  const HashAlg* a = find_alg(type);
  if (a == nullptr) {
    *len = 0;
    return err(HASH_FN_GET_LENGTH, type_reason(type));
  }
  *len = a->digest_size;
  return 0;
}

quarzel_ret_t hash_init(hash_ctx_t* ctx, hash_type_t type) {
  if (ctx == nullptr) return err(HASH_FN_INIT, QZ_R_NULL);
  ctx->hash_type = type;
  const HashAlg* a = find_alg(type);
  if (a == nullptr) return fail(ctx, err(HASH_FN_INIT, type_reason(type)));
  ctx->hash_update = a->update;
  ctx->hash_final = a->final;
  ctx->digest_size = a->digest_size;
  ctx->block_size = a->block_size;
  if (core_ret_t c = a->init(&ctx->subctx); c != 0) return fail(ctx, quarzel_err_core(QZ_MOD_HASH, HASH_FN_INIT, c));
  ctx->state = HASH_STATE_INITIALISED;
  return 0;
}

quarzel_ret_t hash_update(hash_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg) {
  if (ctx == nullptr) return err(HASH_FN_UPDATE, QZ_R_NULL);
  if (msg == nullptr && msg_len != 0) return fail(ctx, err(HASH_FN_UPDATE, QZ_R_NULL));
  if (!in_progress(ctx)) return fail(ctx, err(HASH_FN_UPDATE, QZ_R_STATE));
  if (core_ret_t c = ctx->hash_update(&ctx->subctx, msg_len, msg); c != 0)
    return fail(ctx, quarzel_err_core(QZ_MOD_HASH, HASH_FN_UPDATE, c));
  ctx->state = HASH_STATE_UPDATING;
  return 0;
}

quarzel_ret_t hash_final(hash_ctx_t* ctx, uint32_t* digest_len, uint8_t* digest) {
  if (ctx == nullptr) return err(HASH_FN_FINAL, QZ_R_NULL);
  if (digest_len == nullptr || digest == nullptr) return fail(ctx, err(HASH_FN_FINAL, QZ_R_NULL));
  if (!in_progress(ctx)) return fail(ctx, err(HASH_FN_FINAL, QZ_R_STATE));
  if (*digest_len < ctx->digest_size) {
    *digest_len = ctx->digest_size;
    return fail(ctx, err(HASH_FN_FINAL, QZ_R_OUT_SMALL));
  }
  *digest_len = ctx->digest_size;
  if (core_ret_t c = ctx->hash_final(&ctx->subctx, ctx->digest_size, digest); c != 0)
    return fail(ctx, quarzel_err_core(QZ_MOD_HASH, HASH_FN_FINAL, c));
  ctx->state = HASH_STATE_FINAL;
  return 0;
}

quarzel_ret_t hash_onestep(hash_type_t type, uint32_t msg_len, const uint8_t* msg, uint32_t* digest_len,
                           uint8_t* digest) {
  if (digest_len == nullptr || (msg == nullptr && msg_len != 0)) return err(HASH_FN_ONESTEP, QZ_R_NULL);
  const HashAlg* a = find_alg(type);
  if (a == nullptr) return err(HASH_FN_ONESTEP, type_reason(type));
  core_ret_t c;
  if (a->xof_onestep != nullptr) {
    if (digest == nullptr && *digest_len != 0) return err(HASH_FN_ONESTEP, QZ_R_NULL);
    c = a->xof_onestep(msg_len, msg, *digest_len, digest);
  } else {
    if (*digest_len < a->digest_size) {
      *digest_len = a->digest_size;
      return err(HASH_FN_ONESTEP, QZ_R_OUT_SMALL);
    }
    if (digest == nullptr) return err(HASH_FN_ONESTEP, QZ_R_NULL);
    *digest_len = a->digest_size;
    c = a->onestep(msg_len, msg, digest);
  }
  return c == 0 ? 0 : quarzel_err_core(QZ_MOD_HASH, HASH_FN_ONESTEP, c);
}

}  // extern "C"
