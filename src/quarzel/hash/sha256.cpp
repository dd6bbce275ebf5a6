// SHA-224 and SHA-256 (FIPS 180-4 6.2, 6.3): portable block function and core
// routines.
#include <bit>

#include "hash/internal.h"
#include "hash/md32.h"

namespace quarzel::hash {

// FIPS 180-4 4.2.2.
alignas(16) constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

constexpr uint32_t kIv224[8] = {0xc1059ed8, 0x367cd507, 0x3070dd17, 0xf70e5939,
                                0xffc00b31, 0x68581511, 0x64f98fa7, 0xbefa4fa4};
constexpr uint32_t kIv256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

struct Variant {
  const uint32_t* iv;
  size_t words;  // digest words
  uint32_t id_init, id_update, id_final;
};
constexpr Variant kSha224{kIv224, 7, 0xA2, 0xAD, 0xB8};
constexpr Variant kSha256{kIv256, 8, 0xA3, 0xAE, 0xB9};

}  // namespace

void sha256_compress_portable(uint32_t h[8], const uint8_t* p, size_t n) {
  using std::rotr;
  for (; n != 0; --n, p += 64) {
    uint32_t w[16];
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    // Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and b ^ c of one round is a ^ b
    // of the round before: x and y carry it.
    uint32_t x, y = b ^ c;

    // Nested forms of the sigmas: fewer register copies than independent
    // rotations.
#define QZ_S0(v) rotr(rotr(rotr(v, 9) ^ (v), 11) ^ (v), 2)
#define QZ_S1(v) rotr(rotr(rotr(v, 14) ^ (v), 5) ^ (v), 6)
#define QZ_s0(v) (rotr(rotr(v, 11) ^ (v), 7) ^ ((v) >> 3))
#define QZ_s1(v) (rotr(rotr(v, 2) ^ (v), 17) ^ ((v) >> 10))
    // One round; the eight working variables rotate by renaming.
#define QZ_R(a, b, c, d, e, f, g, h, ab, bc, kw)          \
  do {                                                    \
    h += QZ_S1(e) + (g ^ (e & (f ^ g))) + (kw);           \
    ab = a ^ b;                                           \
    d += h;                                               \
    h += QZ_S0(a) + ((ab & bc) ^ b);                      \
  } while (0)
#define QZ_W(j) \
  (w[(j) & 15] += QZ_s1(w[((j) + 14) & 15]) + w[((j) + 9) & 15] + QZ_s0(w[((j) + 1) & 15]))
#define QZ_WLOAD(j) (w[(j)] = load_be32(p + 4 * (j)))
#define QZ_8(i, W)                                                   \
  QZ_R(a, b, c, d, e, f, g, hh, x, y, kSha256K[(i) + 0] + W((i) + 0)); \
  QZ_R(hh, a, b, c, d, e, f, g, y, x, kSha256K[(i) + 1] + W((i) + 1)); \
  QZ_R(g, hh, a, b, c, d, e, f, x, y, kSha256K[(i) + 2] + W((i) + 2)); \
  QZ_R(f, g, hh, a, b, c, d, e, y, x, kSha256K[(i) + 3] + W((i) + 3)); \
  QZ_R(e, f, g, hh, a, b, c, d, x, y, kSha256K[(i) + 4] + W((i) + 4)); \
  QZ_R(d, e, f, g, hh, a, b, c, y, x, kSha256K[(i) + 5] + W((i) + 5)); \
  QZ_R(c, d, e, f, g, hh, a, b, x, y, kSha256K[(i) + 6] + W((i) + 6)); \
  QZ_R(b, c, d, e, f, g, hh, a, y, x, kSha256K[(i) + 7] + W((i) + 7))

    // Fully unrolled: every schedule index is a constant.
    QZ_8(0, QZ_WLOAD);
    QZ_8(8, QZ_WLOAD);
    QZ_8(16, QZ_W);
    QZ_8(24, QZ_W);
    QZ_8(32, QZ_W);
    QZ_8(40, QZ_W);
    QZ_8(48, QZ_W);
    QZ_8(56, QZ_W);
#undef QZ_8
#undef QZ_WLOAD
#undef QZ_W
#undef QZ_R
#undef QZ_s1
#undef QZ_s0
#undef QZ_S1
#undef QZ_S0

    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
  }
}

namespace {

void start(sha2_256_ctx_t& c, const Variant& v) {
  md32_reset(c);
  std::memcpy(c.digest, v.iv, sizeof c.digest);
  c.compress = select_sha256_compress();
}

core_ret_t init(sha2_256_ctx_t* ctx, const Variant& v) {
  if (ctx == nullptr) return core_err(v.id_init, QZ_CORE_R_NULL);
  start(*ctx, v);
  return 0;
}

core_ret_t update(sha2_256_ctx_t* ctx, uint32_t len, const uint8_t* msg, const Variant& v) {
  if (ctx == nullptr || (msg == nullptr && len != 0)) return core_err(v.id_update, QZ_CORE_R_NULL);
  md32_update(*ctx, msg, len);
  return 0;
}

core_ret_t final(sha2_256_ctx_t* ctx, uint8_t* digest, const Variant& v) {
  if (ctx == nullptr || digest == nullptr) return core_err(v.id_final, QZ_CORE_R_NULL);
  md32_finish(*ctx, digest, v.words);
  start(*ctx, v);
  return 0;
}

core_ret_t onestep(uint32_t len, const uint8_t* msg, uint8_t* digest, const Variant& v) {
  sha2_256_ctx_t c;
  start(c, v);
  md32_update(c, msg, len);
  md32_finish(c, digest, v.words);
  secure_wipe(&c, sizeof c);
  return 0;
}

}  // namespace
}  // namespace quarzel::hash

namespace qh = quarzel::hash;

extern "C" {

core_ret_t hash_sha2_224_init(sha2_224_ctx_t* ctx) { return qh::init(ctx, qh::kSha224); }
core_ret_t hash_sha2_224_update(sha2_224_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg) {
  return qh::update(ctx, msg_len, msg, qh::kSha224);
}
core_ret_t hash_sha2_224_final(sha2_224_ctx_t* ctx, uint32_t, uint8_t* digest) {
  return qh::final(ctx, digest, qh::kSha224);
}
core_ret_t hash_sha2_224_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest) {
  return qh::onestep(msg_len, msg, digest, qh::kSha224);
}

core_ret_t hash_sha2_256_init(sha2_256_ctx_t* ctx) { return qh::init(ctx, qh::kSha256); }
core_ret_t hash_sha2_256_update(sha2_256_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg) {
  return qh::update(ctx, msg_len, msg, qh::kSha256);
}
core_ret_t hash_sha2_256_final(sha2_256_ctx_t* ctx, uint32_t, uint8_t* digest) {
  return qh::final(ctx, digest, qh::kSha256);
}
core_ret_t hash_sha2_256_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest) {
  return qh::onestep(msg_len, msg, digest, qh::kSha256);
}

}  // extern "C"
