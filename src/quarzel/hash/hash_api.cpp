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

// Binds a core routine family to the generic shapes.
#define QZ_ALG(type, digest, block, member, ctx_t, name)                                                  \
  HashAlg {                                                                                                \
    type, digest, block, [](hash_subctx_t* s) { return hash_##name##_init(&s->member); },                  \
        [](void* c, uint32_t n, const uint8_t* m) { return hash_##name##_update(static_cast<ctx_t*>(c), n, m); }, \
        [](void* c, uint32_t n, uint8_t* d) { return hash_##name##_final(static_cast<ctx_t*>(c), n, d); },  \
        QZ_ONESTEP_##name                                                                                  \
  }
#define QZ_FIXED(name) &hash_##name##_onestep, nullptr
#define QZ_XOF(name) nullptr, &hash_##name##_onestep
#define QZ_ONESTEP_sha1 QZ_FIXED(sha1)
#define QZ_ONESTEP_sha2_224 QZ_FIXED(sha2_224)
#define QZ_ONESTEP_sha2_256 QZ_FIXED(sha2_256)
#define QZ_ONESTEP_sha2_384 QZ_FIXED(sha2_384)
#define QZ_ONESTEP_sha2_512 QZ_FIXED(sha2_512)
#define QZ_ONESTEP_sha2_512_224 QZ_FIXED(sha2_512_224)
#define QZ_ONESTEP_sha2_512_256 QZ_FIXED(sha2_512_256)
#define QZ_ONESTEP_sha3_224 QZ_FIXED(sha3_224)
#define QZ_ONESTEP_sha3_256 QZ_FIXED(sha3_256)
#define QZ_ONESTEP_sha3_384 QZ_FIXED(sha3_384)
#define QZ_ONESTEP_sha3_512 QZ_FIXED(sha3_512)
#define QZ_ONESTEP_keccak_224 QZ_FIXED(keccak_224)
#define QZ_ONESTEP_keccak_256 QZ_FIXED(keccak_256)
#define QZ_ONESTEP_keccak_384 QZ_FIXED(keccak_384)
#define QZ_ONESTEP_keccak_512 QZ_FIXED(keccak_512)
#define QZ_ONESTEP_shake128 QZ_XOF(shake128)
#define QZ_ONESTEP_shake256 QZ_XOF(shake256)

constexpr HashAlg kAlgs[] = {
    QZ_ALG(HASH_TYPE_SHA1, 20, 64, sha1, sha1_ctx_t, sha1),
    QZ_ALG(HASH_TYPE_SHA2_224, 28, 64, sha256, sha2_256_ctx_t, sha2_224),
    QZ_ALG(HASH_TYPE_SHA2_256, 32, 64, sha256, sha2_256_ctx_t, sha2_256),
    QZ_ALG(HASH_TYPE_SHA2_384, 48, 128, sha512, sha2_512_ctx_t, sha2_384),
    QZ_ALG(HASH_TYPE_SHA2_512, 64, 128, sha512, sha2_512_ctx_t, sha2_512),
    QZ_ALG(HASH_TYPE_SHA2_512_224, 28, 128, sha512, sha2_512_ctx_t, sha2_512_224),
    QZ_ALG(HASH_TYPE_SHA2_512_256, 32, 128, sha512, sha2_512_ctx_t, sha2_512_256),
    QZ_ALG(HASH_TYPE_SHA3_224, 28, 144, sha3, sha3_ctx_t, sha3_224),
    QZ_ALG(HASH_TYPE_SHA3_256, 32, 136, sha3, sha3_ctx_t, sha3_256),
    QZ_ALG(HASH_TYPE_SHA3_384, 48, 104, sha3, sha3_ctx_t, sha3_384),
    QZ_ALG(HASH_TYPE_SHA3_512, 64, 72, sha3, sha3_ctx_t, sha3_512),
    QZ_ALG(HASH_TYPE_KECCAK_224, 28, 144, sha3, sha3_ctx_t, keccak_224),
    QZ_ALG(HASH_TYPE_KECCAK_256, 32, 136, sha3, sha3_ctx_t, keccak_256),
    QZ_ALG(HASH_TYPE_KECCAK_384, 48, 104, sha3, sha3_ctx_t, keccak_384),
    QZ_ALG(HASH_TYPE_KECCAK_512, 64, 72, sha3, sha3_ctx_t, keccak_512),
    QZ_ALG(HASH_TYPE_SHAKE128, 32, 168, sha3, sha3_ctx_t, shake128),
    QZ_ALG(HASH_TYPE_SHAKE256, 64, 136, sha3, sha3_ctx_t, shake256),
};

#undef QZ_ALG
#undef QZ_FIXED
#undef QZ_XOF

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
