// Every mode against OpenSSL's EVP ciphers on random data, long enough to run
// the multi-block fast paths, on every instruction-set path.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "cipher_util.h"
#include "quarzel/aes/path_fixture.h"
#include "quarzel/testing.h"

namespace {

using zt::Bytes;

Bytes evp_crypt(const EVP_CIPHER* cipher, bool enc, const Bytes& key, const Bytes& iv, const Bytes& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  EXPECT_EQ(EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc ? 1 : 0), 1);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())), 1);
  EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + n1, &n2), 1);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

struct OracleCase {
  cipher_type_t type;
  cipher_mode_t mode;
  const char* evp_name;
  size_t unit;  // data length granularity
};

constexpr OracleCase kCases[] = {
    {CIPHER_TYPE_AES128, CIPHER_MODE_ECB, "aes-128-ecb", 16},
    {CIPHER_TYPE_AES192, CIPHER_MODE_ECB, "aes-192-ecb", 16},
    {CIPHER_TYPE_AES256, CIPHER_MODE_ECB, "aes-256-ecb", 16},
    {CIPHER_TYPE_AES128, CIPHER_MODE_CBC, "aes-128-cbc", 16},
    {CIPHER_TYPE_AES192, CIPHER_MODE_CBC, "aes-192-cbc", 16},
    {CIPHER_TYPE_AES256, CIPHER_MODE_CBC, "aes-256-cbc", 16},
    {CIPHER_TYPE_AES256, CIPHER_MODE_CFB8, "aes-256-cfb8", 1},
    {CIPHER_TYPE_AES192, CIPHER_MODE_CFB128, "aes-192-cfb", 16},
    {CIPHER_TYPE_AES256, CIPHER_MODE_CFB, "aes-256-cfb", 16},
    {CIPHER_TYPE_AES128, CIPHER_MODE_OFB, "aes-128-ofb", 1},
    {CIPHER_TYPE_AES256, CIPHER_MODE_OFB, "aes-256-ofb", 1},
    {CIPHER_TYPE_AES128, CIPHER_MODE_CTR, "aes-128-ctr", 1},
    {CIPHER_TYPE_AES192, CIPHER_MODE_CTR, "aes-192-ctr", 1},
    {CIPHER_TYPE_AES256, CIPHER_MODE_CTR, "aes-256-ctr", 1},
    {CIPHER_TYPE_TDES3, CIPHER_MODE_ECB, "des-ede3-ecb", 8},
    {CIPHER_TYPE_TDES3, CIPHER_MODE_CBC, "des-ede3-cbc", 8},
    {CIPHER_TYPE_TDES3, CIPHER_MODE_CFB8, "des-ede3-cfb8", 1},
    {CIPHER_TYPE_TDES3, CIPHER_MODE_CFB, "des-ede3-cfb", 8},
    {CIPHER_TYPE_TDES3, CIPHER_MODE_CFB64, "des-ede3-cfb", 8},
    {CIPHER_TYPE_TDES3, CIPHER_MODE_OFB, "des-ede3-ofb", 1},
    {CIPHER_TYPE_TDES2, CIPHER_MODE_ECB, "des-ede-ecb", 8},
    {CIPHER_TYPE_TDES2, CIPHER_MODE_CBC, "des-ede-cbc", 8},
    {CIPHER_TYPE_TDES2, CIPHER_MODE_CFB, "des-ede-cfb", 8},
    {CIPHER_TYPE_TDES2, CIPHER_MODE_OFB, "des-ede-ofb", 1},
};

size_t key_len_of(cipher_type_t t) {
  switch (t) {
    case CIPHER_TYPE_AES128: return 16;
    case CIPHER_TYPE_AES192: return 24;
    case CIPHER_TYPE_AES256: return 32;
    case CIPHER_TYPE_DES: return 8;
    case CIPHER_TYPE_TDES2: return 16;
    default: return 24;
  }
}

class Oracle : public zt::PathTest {};

TEST_P(Oracle, ModesMatchOpenSsl) {
  std::mt19937 rng(17);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.evp_name);
    EVP_CIPHER* evp = EVP_CIPHER_fetch(nullptr, c.evp_name, nullptr);
    ASSERT_NE(evp, nullptr);
    const bool des = c.type >= CIPHER_TYPE_DES;
    const size_t b = des ? 8 : 16;
    for (size_t blocks : {1, 7, 8, 9, 17, 40}) {
      const size_t len = blocks * b + (c.unit == 1 ? rng() % b : 0);
      const Bytes key = zt::random_bytes(rng, key_len_of(c.type));
      const Bytes iv = c.mode == CIPHER_MODE_ECB ? Bytes{} : zt::random_bytes(rng, b);
      const Bytes pt = zt::random_bytes(rng, len);
      const Bytes ct = evp_crypt(evp, true, key, iv, pt);
      zt::CipherSetup s{c.type, c.mode, CIPHER_DIR_ENC, key, iv};
      EXPECT_EQ(zt::run_onestep(s, pt), ct) << len;
      s.dir = CIPHER_DIR_DEC;
      EXPECT_EQ(zt::run_onestep(s, ct), pt) << len;
    }
    EVP_CIPHER_free(evp);
  }
}

// DES and TDES CTR (not offered by OpenSSL): the key stream is ECB of the
// counter blocks; also the counter carries across bytes.
TEST_P(Oracle, DesCtrIsEcbOfCounters) {
  std::mt19937 rng(19);
  for (cipher_type_t type : {CIPHER_TYPE_DES, CIPHER_TYPE_TDES2, CIPHER_TYPE_TDES3}) {
    const Bytes key = zt::random_bytes(rng, key_len_of(type));
    Bytes iv = zt::unhex("00000000fffffffe");
    Bytes counters;
    Bytes c = iv;
    for (int i = 0; i < 5; ++i) {
      counters.insert(counters.end(), c.begin(), c.end());
      for (int j = 7; j >= 0 && ++c[j] == 0; --j) {
      }
    }
    zt::CipherSetup ecb{type, CIPHER_MODE_ECB, CIPHER_DIR_ENC, key, {}};
    const Bytes ks = zt::run_onestep(ecb, counters);
    zt::CipherSetup ctr{type, CIPHER_MODE_CTR, CIPHER_DIR_ENC, key, iv};
    EXPECT_EQ(zt::run_onestep(ctr, Bytes(37, 0)), Bytes(ks.begin(), ks.begin() + 37));
  }
}

// PCBC (no OpenSSL mode): C(i) = E(P(i) XOR P(i-1) XOR C(i-1)), from ECB.
TEST_P(Oracle, PcbcFromEcb) {
  std::mt19937 rng(23);
  const Bytes key = zt::random_bytes(rng, 32), iv = zt::random_bytes(rng, 16), pt = zt::random_bytes(rng, 80);
  Bytes expect;
  Bytes chain = iv;
  zt::CipherSetup ecb{CIPHER_TYPE_AES256, CIPHER_MODE_ECB, CIPHER_DIR_ENC, key, {}};
  for (size_t off = 0; off < pt.size(); off += 16) {
    Bytes x(16);
    for (int i = 0; i < 16; ++i) x[i] = pt[off + i] ^ chain[i];
    const Bytes c = zt::run_onestep(ecb, x);
    for (int i = 0; i < 16; ++i) chain[i] = pt[off + i] ^ c[i];
    expect.insert(expect.end(), c.begin(), c.end());
  }
  zt::CipherSetup s{CIPHER_TYPE_AES256, CIPHER_MODE_PCBC, CIPHER_DIR_ENC, key, iv};
  EXPECT_EQ(zt::run_onestep(s, pt), expect);
  s.dir = CIPHER_DIR_DEC;
  EXPECT_EQ(zt::run_onestep(s, expect), pt);
}

ZT_INSTANTIATE_PATHS(Oracle);

// The round keys of both paths are byte-identical.
TEST(OraclePaths, SchedulesAgree) {
  if (!quarzel::cipher_accel_cpu_supported()) GTEST_SKIP() << "no AES-NI";
  std::mt19937 rng(29);
  for (cipher_type_t type : {CIPHER_TYPE_AES128, CIPHER_TYPE_AES192, CIPHER_TYPE_AES256}) {
    for (cipher_dir_t dir : {CIPHER_DIR_ENC, CIPHER_DIR_DEC}) {
      const Bytes key = zt::random_bytes(rng, key_len_of(type));
      blockcipher_ctx_t a, b;
      quarzel::testing::force_portable(quarzel::testing::Path::aes, true);
      ASSERT_EQ(blockcipher_init(&a, type, CIPHER_MODE_ECB, dir, static_cast<uint32_t>(key.size()), key.data(), 0,
                                 nullptr),
                0u);
      quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
      ASSERT_EQ(blockcipher_init(&b, type, CIPHER_MODE_ECB, dir, static_cast<uint32_t>(key.size()), key.data(), 0,
                                 nullptr),
                0u);
      EXPECT_EQ(a.accel, 0u);
      EXPECT_EQ(b.accel, 1u);
      EXPECT_EQ(Bytes(a.round_key, a.round_key + 480), Bytes(b.round_key, b.round_key + 480));
    }
  }
}

}  // namespace
