// SHA-1 (FIPS 180-4 6.1): portable block function and core routines.
#include <bit>

#include "hash/internal.h"
#include "hash/md32.h"

namespace quarzel::hash {
namespace {

constexpr uint32_t kIv[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
constexpr uint32_t kK[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

// Core function ids.
constexpr uint32_t kIdInit = 0xA1, kIdUpdate = 0xAC, kIdFinal = 0xB7;

inline uint32_t f_ch(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t f_parity(uint32_t b, uint32_t c, uint32_t d) { return b ^ c ^ d; }
inline uint32_t f_maj(uint32_t b, uint32_t c, uint32_t d) { return (b & c) | (d & (b | c)); }

}  // namespace

void sha1_compress_portable(uint32_t h[5], const uint8_t* p, size_t n) {
  using std::rotl;
  for (; n != 0; --n, p += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = load_be32(p + 4 * i);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];

    // Five-round groups rename the variables instead of moving them.
#define QZ_SHA1_W(t) \
  (w[(t) & 15] = rotl(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1))
#define QZ_SHA1_R(a, b, c, d, e, f, k, wt)      \
  do {                                          \
    e += rotl(a, 5) + f(b, c, d) + (k) + (wt);  \
    b = rotl(b, 30);                            \
  } while (0)
#define QZ_SHA1_5(t, f, k, W)            \
  QZ_SHA1_R(a, b, c, d, e, f, k, W(t));     \
  QZ_SHA1_R(e, a, b, c, d, f, k, W(t + 1)); \
  QZ_SHA1_R(d, e, a, b, c, f, k, W(t + 2)); \
  QZ_SHA1_R(c, d, e, a, b, f, k, W(t + 3)); \
  QZ_SHA1_R(b, c, d, e, a, f, k, W(t + 4))
#define QZ_SHA1_WIN(t) w[(t) & 15]

    QZ_SHA1_5(0, f_ch, kK[0], QZ_SHA1_WIN);
    QZ_SHA1_5(5, f_ch, kK[0], QZ_SHA1_WIN);
    QZ_SHA1_5(10, f_ch, kK[0], QZ_SHA1_WIN);
    QZ_SHA1_R(a, b, c, d, e, f_ch, kK[0], w[15]);
    QZ_SHA1_R(e, a, b, c, d, f_ch, kK[0], QZ_SHA1_W(16));
    QZ_SHA1_R(d, e, a, b, c, f_ch, kK[0], QZ_SHA1_W(17));
    QZ_SHA1_R(c, d, e, a, b, f_ch, kK[0], QZ_SHA1_W(18));
    QZ_SHA1_R(b, c, d, e, a, f_ch, kK[0], QZ_SHA1_W(19));
    QZ_SHA1_5(20, f_parity, kK[1], QZ_SHA1_W);
    QZ_SHA1_5(25, f_parity, kK[1], QZ_SHA1_W);
    QZ_SHA1_5(30, f_parity, kK[1], QZ_SHA1_W);
    QZ_SHA1_5(35, f_parity, kK[1], QZ_SHA1_W);
    QZ_SHA1_5(40, f_maj, kK[2], QZ_SHA1_W);
    QZ_SHA1_5(45, f_maj, kK[2], QZ_SHA1_W);
    QZ_SHA1_5(50, f_maj, kK[2], QZ_SHA1_W);
    QZ_SHA1_5(55, f_maj, kK[2], QZ_SHA1_W);
    QZ_SHA1_5(60, f_parity, kK[3], QZ_SHA1_W);
    QZ_SHA1_5(65, f_parity, kK[3], QZ_SHA1_W);
    QZ_SHA1_5(70, f_parity, kK[3], QZ_SHA1_W);
    QZ_SHA1_5(75, f_parity, kK[3], QZ_SHA1_W);
#undef QZ_SHA1_WIN
#undef QZ_SHA1_5
#undef QZ_SHA1_R
#undef QZ_SHA1_W

    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
}

namespace {

void sha1_start(sha1_ctx_t& c) {
  md32_reset(c);
  std::memcpy(c.digest, kIv, sizeof kIv);
  c.compress = select_sha1_compress();
}

}  // namespace
}  // namespace quarzel::hash

using namespace quarzel::hash;

extern "C" {

core_ret_t hash_sha1_init(sha1_ctx_t* ctx) {
  if (ctx == nullptr) return core_err(kIdInit, QZ_CORE_R_NULL);
  sha1_start(*ctx);
  return 0;
}

core_ret_t hash_sha1_update(sha1_ctx_t* ctx, uint32_t msg_len, const uint8_t* msg) {
  if (ctx == nullptr || (msg == nullptr && msg_len != 0)) return core_err(kIdUpdate, QZ_CORE_R_NULL);
  md32_update(*ctx, msg, msg_len);
  return 0;
}

core_ret_t hash_sha1_final(sha1_ctx_t* ctx, uint32_t /*digest_len*/, uint8_t* digest) {
  if (ctx == nullptr || digest == nullptr) return core_err(kIdFinal, QZ_CORE_R_NULL);
  md32_finish(*ctx, digest, 5);
  sha1_start(*ctx);
  return 0;
}

core_ret_t hash_sha1_onestep(uint32_t msg_len, const uint8_t* msg, uint8_t* digest) {
  sha1_ctx_t c;
  sha1_start(c);
  md32_update(c, msg, msg_len);
  md32_finish(c, digest, 5);
  quarzel::secure_wipe(&c, sizeof c);
  return 0;
}

}  // extern "C"
