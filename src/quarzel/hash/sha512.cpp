// SHA-384, SHA-512, SHA-512/224 and SHA-512/256 (FIPS 180-4 6.4-6.7).
#include <bit>
#include <cstring>

#include "hash/internal.h"

namespace quarzel::hash {
namespace {

// FIPS 180-4 4.2.3.
constexpr uint64_t kK[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

// Initial values, FIPS 180-4 5.3.4-5.3.6.
constexpr uint64_t kIv384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
                                0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
constexpr uint64_t kIv512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                                0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
constexpr uint64_t kIv512_224[8] = {0x8C3D37C819544DA2, 0x73E1996689DCD4D6, 0x1DFAB7AE32FF9C82, 0x679DD514582F9FCF,
                                    0x0F6D2B697BD44DA8, 0x77E36F7304C48942, 0x3F9D85A86A1D36C8, 0x1112E6AD91D692A1};
constexpr uint64_t kIv512_256[8] = {0x22312194FC2BF72C, 0x9F555FA3C84C64C2, 0x2393B86B6F53B151, 0x963877195940EABD,
                                    0x96283EE2A88EFFE3, 0xBE5E1E2553863992, 0x2B0199FC2C85B8AA, 0x0EB72DDC81C52CA2};

struct Variant {
  const uint64_t* iv;
  size_t out_bytes;
  uint32_t id_init, id_update, id_final;
};
constexpr Variant kSha384{kIv384, 48, 0xA4, 0xAF, 0xBA};
constexpr Variant kSha512{kIv512, 64, 0xA5, 0xB0, 0xBB};
constexpr Variant kSha512_224{kIv512_224, 28, 0xA6, 0xB1, 0xBC};
constexpr Variant kSha512_256{kIv512_256, 32, 0xA7, 0xB2, 0xBD};

}  // namespace

void sha512_compress(uint64_t h[8], const uint8_t* p, size_t n) {
  using std::rotr;
  for (; n != 0; --n, p += 128) {
    uint64_t w[16];
    uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    // Maj(a, b, c) = ((a ^ b) & (b ^ c)) ^ b, and b ^ c of one round is a ^ b
    // of the round before: x and y carry it.
    uint64_t x, y = b ^ c;

    // Nested forms of the sigmas: fewer register copies than independent
    // rotations.
#define QZ_S0(v) rotr(rotr(rotr(v, 5) ^ (v), 6) ^ (v), 28)
#define QZ_S1(v) rotr(rotr(rotr(v, 23) ^ (v), 4) ^ (v), 14)
#define QZ_s0(v) (rotr(rotr(v, 7) ^ (v), 1) ^ ((v) >> 7))
#define QZ_s1(v) (rotr(rotr(v, 42) ^ (v), 19) ^ ((v) >> 6))
    // One round; the eight working variables rotate by renaming.
#define QZ_R(a, b, c, d, e, f, g, h, ab, bc, kw) \
  do {                                           \
    h += QZ_S1(e) + (g ^ (e & (f ^ g))) + (kw);  \
    ab = a ^ b;                                  \
    d += h;                                      \
    h += QZ_S0(a) + ((ab & bc) ^ b);             \
  } while (0)
#define QZ_W(j) \
  (w[(j) & 15] += QZ_s1(w[((j) + 14) & 15]) + w[((j) + 9) & 15] + QZ_s0(w[((j) + 1) & 15]))
#define QZ_WLOAD(j) (w[(j)] = load_be64(p + 8 * (j)))
#define QZ_8(i, W)                                              \
  QZ_R(a, b, c, d, e, f, g, hh, x, y, kK[(i) + 0] + W((i) + 0)); \
  QZ_R(hh, a, b, c, d, e, f, g, y, x, kK[(i) + 1] + W((i) + 1)); \
  QZ_R(g, hh, a, b, c, d, e, f, x, y, kK[(i) + 2] + W((i) + 2)); \
  QZ_R(f, g, hh, a, b, c, d, e, y, x, kK[(i) + 3] + W((i) + 3)); \
  QZ_R(e, f, g, hh, a, b, c, d, x, y, kK[(i) + 4] + W((i) + 4)); \
  QZ_R(d, e, f, g, hh, a, b, c, y, x, kK[(i) + 5] + W((i) + 5)); \
  QZ_R(c, d, e, f, g, hh, a, b, x, y, kK[(i) + 6] + W((i) + 6)); \
  QZ_R(b, c, d, e, f, g, hh, a, y, x, kK[(i) + 7] + W((i) + 7))

    // Fully unrolled: every schedule index is a constant.
    QZ_8(0, QZ_WLOAD);
    QZ_8(8, QZ_WLOAD);
    QZ_8(16, QZ_W);
    QZ_8(24, QZ_W);
    QZ_8(32, QZ_W);
    QZ_8(40, QZ_W);
    QZ_8(48, QZ_W);
    QZ_8(56, QZ_W);
    QZ_8(64, QZ_W);
    QZ_8(72, QZ_W);
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

void start(sha2_512_ctx_t& c, const Variant& v) {
  std::memcpy(c.h, v.iv, sizeof c.h);
  c.totalSize = 0;
  c.size = 0;
  c.reserved = 0;
}

void absorb(sha2_512_ctx_t& c, const uint8_t* msg, size_t len) {
  if (len == 0) return;
  c.totalSize += len;
  if (c.size != 0) {
    size_t take = 128 - c.size;
    if (take > len) take = len;
    std::memcpy(c.w + c.size, msg, take);
    c.size += static_cast<uint32_t>(take);
    msg += take;
    len -= take;
    if (c.size < 128) return;
    sha512_compress(c.h, c.w, 1);
    c.size = 0;
  }
  if (len >= 128) {
    sha512_compress(c.h, msg, len / 128);
    msg += len & ~size_t{127};
    len &= 127;
  }
  if (len != 0) {
    std::memcpy(c.w, msg, len);
    c.size = static_cast<uint32_t>(len);
  }
}

// FIPS 180-4 5.1.2: 0x80, zeros, and a 128-bit bit length whose high 64 bits
// are zero (the byte count is 64 bits wide).
void finish(sha2_512_ctx_t& c, uint8_t* out, size_t out_bytes) {
  size_t used = c.size;
  c.w[used++] = 0x80;
  if (used > 112) {
    std::memset(c.w + used, 0, 128 - used);
    sha512_compress(c.h, c.w, 1);
    used = 0;
  }
  std::memset(c.w + used, 0, 120 - used);
  store_be64(c.w + 120, c.totalSize << 3);
  sha512_compress(c.h, c.w, 1);
  uint8_t full[64];
  for (size_t i = 0; i < 8; ++i) store_be64(full + 8 * i, c.h[i]);
  std::memcpy(out, full, out_bytes);
  secure_wipe(full, sizeof full);
  secure_wipe(c.w, sizeof c.w);
}

core_ret_t init(sha2_512_ctx_t* ctx, const Variant& v) {
  if (ctx == nullptr) return core_err(v.id_init, QZ_CORE_R_NULL);
  start(*ctx, v);
  return 0;
}

core_ret_t update(sha2_512_ctx_t* ctx, uint32_t len, const uint8_t* msg, const Variant& v) {
  if (ctx == nullptr || (msg == nullptr && len != 0)) return core_err(v.id_update, QZ_CORE_R_NULL);
  absorb(*ctx, msg, len);
  return 0;
}

core_ret_t final(sha2_512_ctx_t* ctx, uint8_t* digest, const Variant& v) {
  if (ctx == nullptr || digest == nullptr) return core_err(v.id_final, QZ_CORE_R_NULL);
  finish(*ctx, digest, v.out_bytes);
  start(*ctx, v);
  return 0;
}

core_ret_t onestep(uint32_t len, const uint8_t* msg, uint8_t* digest, const Variant& v) {
  sha2_512_ctx_t c;
  start(c, v);
  absorb(c, msg, len);
  finish(c, digest, v.out_bytes);
  secure_wipe(&c, sizeof c);
  return 0;
}

}  // namespace
}  // namespace quarzel::hash

namespace qh = quarzel::hash;

#define QZ_SHA512_FAMILY(name, variant)                                                  \
  core_ret_t hash_##name##_init(sha2_512_ctx_t* ctx) { return qh::init(ctx, variant); }   \
  core_ret_t hash_##name##_update(sha2_512_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg) { \
    return qh::update(ctx, msg_len, msg, variant);                                       \
  }                                                                                      \
  core_ret_t hash_##name##_final(sha2_512_ctx_t* ctx, uint32_t, uint8_t* digest) {       \
    return qh::final(ctx, digest, variant);                                              \
  }                                                                                      \
  core_ret_t hash_##name##_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest) { \
    return qh::onestep(msg_len, msg, digest, variant);                                   \
  }

extern "C" {
QZ_SHA512_FAMILY(sha2_384, qh::kSha384)
QZ_SHA512_FAMILY(sha2_512, qh::kSha512)
QZ_SHA512_FAMILY(sha2_512_224, qh::kSha512_224)
QZ_SHA512_FAMILY(sha2_512_256, qh::kSha512_256)
}  // extern "C"
#undef QZ_SHA512_FAMILY
