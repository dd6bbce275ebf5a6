// SHA-3, Keccak-n and SHAKE on the Keccak sponge: parameters and core routines.
#include "hash/internal.h"

namespace quarzel::hash {
namespace {

struct SpongeAlg {
  uint32_t rate;
  uint8_t sfx;
  uint32_t out_bytes;  // 0 for SHAKE: the caller's length
  uint32_t id_init, id_update, id_final;
};

// FIPS 202 6.1, 6.2; Keccak-n is the same sponge with the bare padding bit.
constexpr SpongeAlg kSha3_224{144, 0x06, 28, 0xA8, 0xB3, 0xBE};
constexpr SpongeAlg kSha3_256{136, 0x06, 32, 0xA9, 0xB4, 0xBF};
constexpr SpongeAlg kSha3_384{104, 0x06, 48, 0xAA, 0xB5, 0xC0};
constexpr SpongeAlg kSha3_512{72, 0x06, 64, 0xAB, 0xB6, 0xC1};
constexpr SpongeAlg kKeccak224{144, 0x01, 28, 0xD1, 0xD9, 0xE1};
constexpr SpongeAlg kKeccak256{136, 0x01, 32, 0xD2, 0xDA, 0xE2};
constexpr SpongeAlg kKeccak384{104, 0x01, 48, 0xD3, 0xDB, 0xE3};
constexpr SpongeAlg kKeccak512{72, 0x01, 64, 0xD4, 0xDC, 0xE4};
constexpr SpongeAlg kShake128{168, 0x1F, 0, 0xD5, 0xDD, 0xE5};
constexpr SpongeAlg kShake256{136, 0x1F, 0, 0xD6, 0xDE, 0xE6};

core_ret_t init(sha3_ctx_t* ctx, const SpongeAlg& a) {
  if (ctx == nullptr) return core_err(a.id_init, QZ_CORE_R_NULL);
  sha3_init(ctx, a.rate, a.sfx);
  return 0;
}

core_ret_t update(sha3_ctx_t* ctx, uint32_t len, const uint8_t* msg, const SpongeAlg& a) {
  if (ctx == nullptr || (msg == nullptr && len != 0)) return core_err(a.id_update, QZ_CORE_R_NULL);
  sha3_update(ctx, len, msg);
  return 0;
}

// Fixed-length algorithms squeeze their digest size; SHAKE squeezes `len`.
core_ret_t final(sha3_ctx_t* ctx, uint32_t len, uint8_t* digest, const SpongeAlg& a) {
  const uint32_t n = a.out_bytes != 0 ? a.out_bytes : len;
  if (ctx == nullptr || (digest == nullptr && n != 0)) return core_err(a.id_final, QZ_CORE_R_NULL);
  sha3_final(ctx, digest, n);
  return 0;
}

core_ret_t onestep(uint32_t len, const uint8_t* msg, uint32_t out_len, uint8_t* digest, const SpongeAlg& a) {
  return keccak(a.rate, msg, len, a.sfx, digest, a.out_bytes != 0 ? a.out_bytes : out_len);
}

}  // namespace
}  // namespace quarzel::hash

namespace qh = quarzel::hash;

#define QZ_SPONGE_COMMON(name, alg)                                                           \
  core_ret_t hash_##name##_init(sha3_ctx_t* ctx) { return qh::init(ctx, alg); }                \
  core_ret_t hash_##name##_update(sha3_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg) {     \
    return qh::update(ctx, msg_len, msg, alg);                                                 \
  }                                                                                            \
  core_ret_t hash_##name##_final(sha3_ctx_t* ctx, uint32_t digest_len, uint8_t* digest) {      \
    return qh::final(ctx, digest_len, digest, alg);                                            \
  }
#define QZ_SPONGE_FIXED(name, alg)                                                             \
  QZ_SPONGE_COMMON(name, alg)                                                                  \
  core_ret_t hash_##name##_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest) {    \
    return qh::onestep(msg_len, msg, 0, digest, alg);                                          \
  }
#define QZ_SPONGE_XOF(name, alg)                                                               \
  QZ_SPONGE_COMMON(name, alg)                                                                  \
  core_ret_t hash_##name##_onestep(uint32_t msg_len, const uint8_t* msg, uint32_t digest_len, \
                                   uint8_t* digest) {                                          \
    return qh::onestep(msg_len, msg, digest_len, digest, alg);                                 \
  }

extern "C" {
QZ_SPONGE_FIXED(sha3_224, qh::kSha3_224)
QZ_SPONGE_FIXED(sha3_256, qh::kSha3_256)
QZ_SPONGE_FIXED(sha3_384, qh::kSha3_384)
QZ_SPONGE_FIXED(sha3_512, qh::kSha3_512)
QZ_SPONGE_FIXED(keccak_224, qh::kKeccak224)
QZ_SPONGE_FIXED(keccak_256, qh::kKeccak256)
QZ_SPONGE_FIXED(keccak_384, qh::kKeccak384)
QZ_SPONGE_FIXED(keccak_512, qh::kKeccak512)
QZ_SPONGE_XOF(shake128, qh::kShake128)
QZ_SPONGE_XOF(shake256, qh::kShake256)
}  // extern "C"

#undef QZ_SPONGE_XOF
#undef QZ_SPONGE_FIXED
#undef QZ_SPONGE_COMMON
