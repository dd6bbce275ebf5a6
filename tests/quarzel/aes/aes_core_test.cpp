#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>

#include "path_fixture.h"
#include "quarzel/aes.h"
#include "quarzel/blockcipher.h"
#include "quarzel/testing.h"
#include "support/hex.h"

namespace {

struct Fips197Case {
  const char* key;
  const char* ct;
};

// FIPS 197 appendix C: plaintext 00112233..ff, keys 000102.. of each length.
constexpr Fips197Case kAppendixC[] = {
    {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
};
constexpr char kAppendixCPlain[] = "00112233445566778899aabbccddeeff";

TEST(AesCore, Fips197AppendixC) {
  for (const auto& c : kAppendixC) {
    const auto key = zt::unhex(c.key);
    const auto pt = zt::unhex(kAppendixCPlain);
    uint8_t rk[CIPHER_ROUND_KEY_SIZE];
    uint8_t out[16];
    ASSERT_EQ(aes_algo_key_expansion(2, static_cast<uint32_t>(key.size()), key.data(), rk), 0);
    ASSERT_EQ(aes_algo_encrypt(0, static_cast<uint32_t>(key.size()), pt.data(), rk, out), 0);
    EXPECT_EQ(zt::hex(out, 16), c.ct) << c.key;
    ASSERT_EQ(aes_algo_decrypt(1, static_cast<uint32_t>(key.size()), out, rk, out), 0);  // in place
    EXPECT_EQ(zt::hex(out, 16), kAppendixCPlain);
  }
}

// FIPS 197 appendix A.1: the last round key of the AES-128 example key.
TEST(AesCore, KeyExpansionMatchesAppendixA) {
  const auto key = zt::unhex("2b7e151628aed2a6abf7158809cf4f3c");
  uint8_t rk[CIPHER_ROUND_KEY_SIZE];
  aes_algo_key_expansion(2, 16, key.data(), rk);
  EXPECT_EQ(zt::hex(rk + 160, 16), "d014f9a8c9ee2589e13f0cc8b6630ca6");
  // Round keys 0 and Nr of the inverse schedule are the forward ones.
  EXPECT_EQ(std::memcmp(rk + 240, rk, 16), 0);
  EXPECT_EQ(std::memcmp(rk + 240 + 160, rk + 160, 16), 0);
}


// Random keys and blocks against OpenSSL's AES-ECB.
TEST(AesCore, MatchesOpenSsl) {
  std::mt19937 rng(11);
  for (uint32_t key_len : {16u, 24u, 32u}) {
    const EVP_CIPHER* cipher = key_len == 16 ? EVP_aes_128_ecb() : key_len == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    for (int trial = 0; trial < 100; ++trial) {
      uint8_t key[32], block[16], ours[16], theirs[32];
      for (auto& b : key) b = static_cast<uint8_t>(rng());
      for (auto& b : block) b = static_cast<uint8_t>(rng());
      uint8_t rk[CIPHER_ROUND_KEY_SIZE];
      aes_algo_key_expansion(2, key_len, key, rk);
      aes_algo_encrypt(0, key_len, block, rk, ours);
      EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
      int n = 0;
      ASSERT_EQ(EVP_EncryptInit_ex(ctx, cipher, nullptr, key, nullptr), 1);
      EVP_CIPHER_CTX_set_padding(ctx, 0);
      ASSERT_EQ(EVP_EncryptUpdate(ctx, theirs, &n, block, 16), 1);
      EVP_CIPHER_CTX_free(ctx);
      ASSERT_EQ(std::memcmp(ours, theirs, 16), 0) << zt::hex(key, key_len);
    }
  }
}

TEST(AesDispatch, AcceleratedPathIsTheDefaultOnCapableCpus) {
  if (!quarzel::cipher_accel_cpu_supported()) GTEST_SKIP() << "no AES-NI";
  EXPECT_EQ(quarzel::cipher_accel_default(), quarzel::CipherAccel::kAesNi);
  quarzel::testing::force_portable(quarzel::testing::Path::aes, true);
  EXPECT_EQ(quarzel::cipher_accel_default(), quarzel::CipherAccel::kPortable);
  quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
}

}  // namespace

namespace {

// The same appendix C examples through the block-cipher API, whose key set-up
// picks the instruction-set path.
class Fips197Paths : public zt::PathTest {};

TEST_P(Fips197Paths, AppendixCThroughTheApi) {
  for (const auto& c : kAppendixC) {
    const auto key = zt::unhex(c.key);
    const auto pt = zt::unhex(kAppendixCPlain);
    const cipher_type_t type =
        key.size() == 16 ? CIPHER_TYPE_AES128 : key.size() == 24 ? CIPHER_TYPE_AES192 : CIPHER_TYPE_AES256;
    blockcipher_ctx_t ctx;
    ASSERT_EQ(blockcipher_init(&ctx, type, CIPHER_MODE_ECB, CIPHER_DIR_ENC, static_cast<uint32_t>(key.size()),
                               key.data(), 0, nullptr),
              0u);
    EXPECT_EQ(ctx.accel, static_cast<uint32_t>(expected_accel()));
    uint8_t out[16];
    uint32_t out_len = 16;
    ASSERT_EQ(blockcipher_final(&ctx, 16, pt.data(), &out_len, out), 0u);
    EXPECT_EQ(zt::hex(out, 16), c.ct);
    ASSERT_EQ(blockcipher_init(&ctx, type, CIPHER_MODE_ECB, CIPHER_DIR_DEC, static_cast<uint32_t>(key.size()),
                               key.data(), 0, nullptr),
              0u);
    ASSERT_EQ(blockcipher_final(&ctx, 16, out, &out_len, out), 0u);
    EXPECT_EQ(zt::hex(out, 16), kAppendixCPlain);
  }
}

ZT_INSTANTIATE_PATHS(Fips197Paths);

}  // namespace
