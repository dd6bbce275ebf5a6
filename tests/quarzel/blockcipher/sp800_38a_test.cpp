// SP 800-38A appendix F vectors on every instruction-set path.
#include <gtest/gtest.h>

#include "cipher_util.h"
#include "quarzel/aes/path_fixture.h"

namespace {

using zt::Bytes;

constexpr char kPlain[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
constexpr char kKey128[] = "2b7e151628aed2a6abf7158809cf4f3c";
constexpr char kKey192[] = "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b";
constexpr char kKey256[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
constexpr char kIv[] = "000102030405060708090a0b0c0d0e0f";
constexpr char kCtr[] = "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";

struct Vector {
  const char* name;
  cipher_type_t type;
  cipher_mode_t mode;
  const char* key;
  const char* iv;
  const char* ct;  // the plaintext is the prefix of kPlain of the same length
};

constexpr Vector kVectors[] = {
    {"F.1.1 ECB-AES128", CIPHER_TYPE_AES128, CIPHER_MODE_ECB, kKey128, "",
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
    {"F.1.3 ECB-AES192", CIPHER_TYPE_AES192, CIPHER_MODE_ECB, kKey192, "",
     "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eefef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e"},
    {"F.1.5 ECB-AES256", CIPHER_TYPE_AES256, CIPHER_MODE_ECB, kKey256, "",
     "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
    {"F.2.1 CBC-AES128", CIPHER_TYPE_AES128, CIPHER_MODE_CBC, kKey128, kIv,
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"F.2.3 CBC-AES192", CIPHER_TYPE_AES192, CIPHER_MODE_CBC, kKey192, kIv,
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd"},
    {"F.2.5 CBC-AES256", CIPHER_TYPE_AES256, CIPHER_MODE_CBC, kKey256, kIv,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    {"F.3.7 CFB8-AES128", CIPHER_TYPE_AES128, CIPHER_MODE_CFB8, kKey128, kIv, "3b79424c9c0dd436bace9e0ed4586a4f32b9"},
    {"F.3.13 CFB128-AES128", CIPHER_TYPE_AES128, CIPHER_MODE_CFB128, kKey128, kIv,
     "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
    {"F.3.13 CFB-AES128 (128-bit segments)", CIPHER_TYPE_AES128, CIPHER_MODE_CFB, kKey128, kIv,
     "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
    {"F.4.1 OFB-AES128", CIPHER_TYPE_AES128, CIPHER_MODE_OFB, kKey128, kIv,
     "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed8259740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e"},
    {"F.5.1 CTR-AES128", CIPHER_TYPE_AES128, CIPHER_MODE_CTR, kKey128, kCtr,
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"},
    {"F.5.5 CTR-AES256", CIPHER_TYPE_AES256, CIPHER_MODE_CTR, kKey256, kCtr,
     "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c52b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6"},
};

class Sp80038a : public zt::PathTest {};

TEST_P(Sp80038a, EncryptAndDecryptInOneCall) {
  for (const auto& v : kVectors) {
    SCOPED_TRACE(v.name);
    const Bytes ct = zt::unhex(v.ct);
    const Bytes pt = zt::unhex(std::string(kPlain).substr(0, ct.size() * 2));
    zt::CipherSetup s{v.type, v.mode, CIPHER_DIR_ENC, zt::unhex(v.key), zt::unhex(v.iv)};
    EXPECT_EQ(zt::hex(zt::run_onestep(s, pt)), v.ct);
    s.dir = CIPHER_DIR_DEC;
    EXPECT_EQ(zt::run_onestep(s, ct), pt);
  }
}

TEST_P(Sp80038a, BlockByBlockInPlace) {
  for (const auto& v : kVectors) {
    SCOPED_TRACE(v.name);
    const Bytes ct = zt::unhex(v.ct);
    const Bytes pt = zt::unhex(std::string(kPlain).substr(0, ct.size() * 2));
    const size_t unit = v.mode == CIPHER_MODE_CFB8 ? 1 : 16;
    std::vector<size_t> chunks(ct.size() / unit - 1, unit);
    zt::CipherSetup s{v.type, v.mode, CIPHER_DIR_ENC, zt::unhex(v.key), zt::unhex(v.iv)};
    EXPECT_EQ(zt::hex(zt::run_split(s, pt, chunks, true)), v.ct);
    s.dir = CIPHER_DIR_DEC;
    EXPECT_EQ(zt::run_split(s, ct, chunks, true), pt);
  }
}

TEST_P(Sp80038a, ContextRecordsThePathChosen) {
  blockcipher_ctx_t ctx;
  const Bytes key = zt::unhex(kKey256), iv = zt::unhex(kIv);
  ASSERT_EQ(blockcipher_init(&ctx, CIPHER_TYPE_AES256, CIPHER_MODE_CBC, CIPHER_DIR_ENC, 32, key.data(), 16, iv.data()),
            0u);
  EXPECT_EQ(ctx.accel, static_cast<uint32_t>(expected_accel()));
  // Both paths bind the AES core's one-block routine, which takes the same
  // path as the key set-up.
  EXPECT_EQ(ctx.fp_algo_calc, &aes_encrypt);
  EXPECT_EQ(quarzel::cipher_accel_default(), expected_accel());
}

ZT_INSTANTIATE_PATHS(Sp80038a);

}  // namespace
