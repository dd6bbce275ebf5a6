// The generic DRBG interface: byte lengths, the context state word, dispatch
// by drbg_type_t to the mechanisms (which work in bit lengths).
#include "drbg/drbg_internal.h"
#include "quarzel/secure.h"

namespace quarzel::drbg {
namespace {

enum class Mechanism { hash, hmac, ctr };

struct TypeEntry {
  drbg_type_t type;
  Mechanism mech;
  hash_type_t hash;      // Hash_DRBG, HMAC_DRBG
  cipher_type_t cipher;  // CTR_DRBG
  ctr_drbg_df_t df;
};

constexpr TypeEntry hash_entry(drbg_type_t t, Mechanism m, hash_type_t h) {
  return {t, m, h, CIPHER_TYPE_UNDEFINED, CTR_DRBG_NO_DF};
}
constexpr TypeEntry ctr_entry(drbg_type_t t, cipher_type_t c, ctr_drbg_df_t df) {
  return {t, Mechanism::ctr, HASH_TYPE_UNDEFINED, c, df};
}

constexpr TypeEntry kTypes[] = {
    hash_entry(DRBG_TYPE_HASH_SHA_1, Mechanism::hash, HASH_TYPE_SHA1),
    hash_entry(DRBG_TYPE_HASH_SHA_2_224, Mechanism::hash, HASH_TYPE_SHA2_224),
    hash_entry(DRBG_TYPE_HASH_SHA_2_256, Mechanism::hash, HASH_TYPE_SHA2_256),
    hash_entry(DRBG_TYPE_HASH_SHA_2_384, Mechanism::hash, HASH_TYPE_SHA2_384),
    hash_entry(DRBG_TYPE_HASH_SHA_2_512, Mechanism::hash, HASH_TYPE_SHA2_512),
    hash_entry(DRBG_TYPE_HASH_SHA_2_512_224, Mechanism::hash, HASH_TYPE_SHA2_512_224),
    hash_entry(DRBG_TYPE_HASH_SHA_2_512_256, Mechanism::hash, HASH_TYPE_SHA2_512_256),
    hash_entry(DRBG_TYPE_HASH_SHA_3_224, Mechanism::hash, HASH_TYPE_SHA3_224),
    hash_entry(DRBG_TYPE_HASH_SHA_3_256, Mechanism::hash, HASH_TYPE_SHA3_256),
    hash_entry(DRBG_TYPE_HASH_SHA_3_384, Mechanism::hash, HASH_TYPE_SHA3_384),
    hash_entry(DRBG_TYPE_HASH_SHA_3_512, Mechanism::hash, HASH_TYPE_SHA3_512),
    hash_entry(DRBG_TYPE_HMAC_SHA_1, Mechanism::hmac, HASH_TYPE_SHA1),
    hash_entry(DRBG_TYPE_HMAC_SHA_2_224, Mechanism::hmac, HASH_TYPE_SHA2_224),
    hash_entry(DRBG_TYPE_HMAC_SHA_2_256, Mechanism::hmac, HASH_TYPE_SHA2_256),
    hash_entry(DRBG_TYPE_HMAC_SHA_2_384, Mechanism::hmac, HASH_TYPE_SHA2_384),
    hash_entry(DRBG_TYPE_HMAC_SHA_2_512, Mechanism::hmac, HASH_TYPE_SHA2_512),
    hash_entry(DRBG_TYPE_HMAC_SHA_2_512_224, Mechanism::hmac, HASH_TYPE_SHA2_512_224),
    hash_entry(DRBG_TYPE_HMAC_SHA_2_512_256, Mechanism::hmac, HASH_TYPE_SHA2_512_256),
    hash_entry(DRBG_TYPE_HMAC_SHA_3_224, Mechanism::hmac, HASH_TYPE_SHA3_224),
    hash_entry(DRBG_TYPE_HMAC_SHA_3_256, Mechanism::hmac, HASH_TYPE_SHA3_256),
    hash_entry(DRBG_TYPE_HMAC_SHA_3_384, Mechanism::hmac, HASH_TYPE_SHA3_384),
    hash_entry(DRBG_TYPE_HMAC_SHA_3_512, Mechanism::hmac, HASH_TYPE_SHA3_512),
    ctr_entry(DRBG_TYPE_CTR_TDES_NO_DF, CIPHER_TYPE_TDES3, CTR_DRBG_NO_DF),
    ctr_entry(DRBG_TYPE_CTR_AES_128_NO_DF, CIPHER_TYPE_AES128, CTR_DRBG_NO_DF),
    ctr_entry(DRBG_TYPE_CTR_AES_192_NO_DF, CIPHER_TYPE_AES192, CTR_DRBG_NO_DF),
    ctr_entry(DRBG_TYPE_CTR_AES_256_NO_DF, CIPHER_TYPE_AES256, CTR_DRBG_NO_DF),
    ctr_entry(DRBG_TYPE_CTR_TDES_WITH_DF, CIPHER_TYPE_TDES3, CTR_DRBG_WITH_DF),
    ctr_entry(DRBG_TYPE_CTR_AES_128_WITH_DF, CIPHER_TYPE_AES128, CTR_DRBG_WITH_DF),
    ctr_entry(DRBG_TYPE_CTR_AES_192_WITH_DF, CIPHER_TYPE_AES192, CTR_DRBG_WITH_DF),
    ctr_entry(DRBG_TYPE_CTR_AES_256_WITH_DF, CIPHER_TYPE_AES256, CTR_DRBG_WITH_DF),
};

constexpr const TypeEntry* find_type(drbg_type_t type) {
  for (const TypeEntry& e : kTypes)
    if (e.type == type) return &e;
  return nullptr;
}

// Byte lengths whose bit count does not fit the mechanisms' 32-bit fields are
// refused here, before the conversion could wrap.
constexpr uint32_t kMaxBytes = UINT32_MAX / 8;
constexpr bool fits_bits(uint32_t bytes) { return bytes <= kMaxBytes; }
constexpr uint32_t bits(uint32_t bytes) { return bytes * 8; }

// Largest request of a mechanism in bytes, and the mechanism's own word for a
// longer one (the word it gives for one byte too many).
constexpr uint32_t max_request_bytes(Mechanism m) {
  return (m == Mechanism::ctr ? DRBG_CTR_MAX_REQUEST_BITS : DRBG_HASH_MAX_REQUEST_BITS) / 8;
}
constexpr quarzel_ret_t request_too_long(Mechanism m) {
  const uint32_t fn = m == Mechanism::hash   ? DRBG_FN_HASH_GENERATE
                      : m == Mechanism::hmac ? DRBG_FN_HMAC_GENERATE
                                             : DRBG_FN_CTR_GENERATE;
  return err(fn, QZ_R_LEN_RANGE);
}

// Any failure leaves the context in its error state with nothing secret in it.
quarzel_ret_t fail(drbg_ctx_t* ctx, quarzel_ret_t ret) {
  secure_wipe(&ctx->subctx, sizeof ctx->subctx);
  ctx->type = DRBG_TYPE_UNDEFINED;
  ctx->state = DRBG_STATE_ERROR;
  return ret;
}

}  // namespace
}  // namespace quarzel::drbg

using namespace quarzel::drbg;

extern "C" {

quarzel_ret_t drbg_instantiate(drbg_ctx_t* drbg_ctx, drbg_type_t type, uint32_t entropy_len,
                               const uint8_t* entropy, uint32_t nonce_len, const uint8_t* nonce,
                               uint32_t perso_len, const uint8_t* perso_str) {
  constexpr uint32_t kFn = DRBG_FN_INSTANTIATE;
  if (drbg_ctx == nullptr) return err(kFn, QZ_R_NULL);
  if ((entropy_len != 0 && entropy == nullptr) || (nonce_len != 0 && nonce == nullptr) ||
      (perso_len != 0 && perso_str == nullptr))
    return fail(drbg_ctx, err(kFn, QZ_R_NULL));
  quarzel::secure_wipe(drbg_ctx, sizeof *drbg_ctx);
  const TypeEntry* e = find_type(type);
  if (e == nullptr) return fail(drbg_ctx, err(kFn, QZ_R_DRBG_TYPE));
  if (!fits_bits(entropy_len) || !fits_bits(nonce_len) || !fits_bits(perso_len))
    return fail(drbg_ctx, err(kFn, QZ_R_LEN_RANGE));

  drbg_subctx_t& sub = drbg_ctx->subctx;
  quarzel_ret_t ret = 0;
  switch (e->mech) {
    case Mechanism::hash:
      ret = hash_drbg_instantiate(&sub.hash, e->hash, bits(entropy_len), entropy, bits(nonce_len), nonce,
                                  bits(perso_len), perso_str);
      break;
    case Mechanism::hmac:
      ret = hmac_drbg_instantiate(&sub.hmac, e->hash, bits(entropy_len), entropy, bits(nonce_len), nonce,
                                  bits(perso_len), perso_str);
      break;
    case Mechanism::ctr:
      ret = ctr_drbg_instantiate(&sub.ctr, e->cipher, e->df, bits(entropy_len), entropy, bits(nonce_len), nonce,
                                 bits(perso_len), perso_str);
      break;
  }
  if (ret != 0) return fail(drbg_ctx, ret);
  drbg_ctx->type = type;
  drbg_ctx->state = DRBG_STATE_INSTANTIATED;
  return 0;
}

quarzel_ret_t drbg_generate(drbg_ctx_t* drbg_ctx, uint32_t add_in_len, const uint8_t* add_in,
                            const uint32_t* rand_len, uint8_t* rand) {
  constexpr uint32_t kFn = DRBG_FN_GENERATE;
  if (drbg_ctx == nullptr) return err(kFn, QZ_R_NULL);
  if ((add_in_len != 0 && add_in == nullptr) || rand_len == nullptr || rand == nullptr)
    return fail(drbg_ctx, err(kFn, QZ_R_NULL));
  if (drbg_ctx->state != DRBG_STATE_INSTANTIATED) return fail(drbg_ctx, err(kFn, QZ_R_STATE));
  const uint32_t n = *rand_len;
  if (n == 0) return fail(drbg_ctx, err(kFn, QZ_R_UNSUPPORTED));
  const TypeEntry* e = find_type(drbg_ctx->type);
  if (e == nullptr) return fail(drbg_ctx, err(kFn, QZ_R_DRBG_TYPE));
  if (n > max_request_bytes(e->mech)) return fail(drbg_ctx, request_too_long(e->mech));
  if (!fits_bits(add_in_len)) return fail(drbg_ctx, err(kFn, QZ_R_LEN_RANGE));

  drbg_subctx_t& sub = drbg_ctx->subctx;
  quarzel_ret_t ret = 0;
  switch (e->mech) {
    case Mechanism::hash:
      ret = hash_drbg_generate(&sub.hash, bits(add_in_len), add_in, bits(n), rand);
      break;
    case Mechanism::hmac:
      ret = hmac_drbg_generate(&sub.hmac, bits(add_in_len), add_in, bits(n), rand);
      break;
    case Mechanism::ctr:
      ret = ctr_drbg_generate(&sub.ctr, bits(add_in_len), add_in, bits(n), rand);
      break;
  }
  if (ret != 0) {
    // Bytes of a failed request are not handed out.
    quarzel::secure_wipe(rand, n);
    return fail(drbg_ctx, ret);
  }
  return 0;
}

quarzel_ret_t drbg_reseed(drbg_ctx_t* drbg_ctx, uint32_t entropy_len, const uint8_t* entropy,
                          uint32_t add_in_len, const uint8_t* add_in) {
  constexpr uint32_t kFn = DRBG_FN_RESEED;
  if (drbg_ctx == nullptr) return err(kFn, QZ_R_NULL);
  if ((entropy_len != 0 && entropy == nullptr) || (add_in_len != 0 && add_in == nullptr))
    return fail(drbg_ctx, err(kFn, QZ_R_NULL));
  if (drbg_ctx->state != DRBG_STATE_INSTANTIATED) return fail(drbg_ctx, err(kFn, QZ_R_STATE));
  const TypeEntry* e = find_type(drbg_ctx->type);
  if (e == nullptr) return fail(drbg_ctx, err(kFn, QZ_R_DRBG_TYPE));
  if (!fits_bits(entropy_len) || !fits_bits(add_in_len)) return fail(drbg_ctx, err(kFn, QZ_R_LEN_RANGE));

  drbg_subctx_t& sub = drbg_ctx->subctx;
  quarzel_ret_t ret = 0;
  switch (e->mech) {
    case Mechanism::hash:
      ret = hash_drbg_reseed(&sub.hash, bits(entropy_len), entropy, bits(add_in_len), add_in);
      break;
    case Mechanism::hmac:
      ret = hmac_drbg_reseed(&sub.hmac, bits(entropy_len), entropy, bits(add_in_len), add_in);
      break;
    case Mechanism::ctr:
      ret = ctr_drbg_reseed(&sub.ctr, bits(entropy_len), entropy, bits(add_in_len), add_in);
      break;
  }
  return ret != 0 ? fail(drbg_ctx, ret) : 0;
}

quarzel_ret_t drbg_uninstantiate(drbg_ctx_t* drbg_ctx) {
  constexpr uint32_t kFn = DRBG_FN_UNINSTANTIATE;
  if (drbg_ctx == nullptr) return err(kFn, QZ_R_NULL);
  // The error state may follow a failure half-way through an operation; it
  // must still be possible to zeroise the context.
  if (drbg_ctx->state != DRBG_STATE_ERROR && find_type(drbg_ctx->type) == nullptr)
    return fail(drbg_ctx, err(kFn, QZ_R_DRBG_TYPE));
  quarzel::secure_wipe(&drbg_ctx->subctx, sizeof drbg_ctx->subctx);
  drbg_ctx->type = DRBG_TYPE_UNDEFINED;
  drbg_ctx->state = DRBG_STATE_UNINSTANTIATED;
  return 0;
}

}  // extern "C"
