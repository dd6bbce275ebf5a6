// DES and TDES keying options and known answers.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

#include "cipher_util.h"
#include "quarzel/des.h"

namespace {

using zt::Bytes;

Bytes ecb(cipher_type_t type, const Bytes& key, const Bytes& in, cipher_dir_t dir = CIPHER_DIR_ENC) {
  return zt::run_onestep({type, CIPHER_MODE_ECB, dir, key, {}}, in);
}

// The classic DES example: key 0123456789ABCDEF, "Now is t".
TEST(Des, KnownAnswer) {
  EXPECT_EQ(zt::hex(ecb(CIPHER_TYPE_DES, zt::unhex("0123456789abcdef"), zt::unhex("4e6f772069732074"))),
            "3fa40e8a984d4815");
}

// Single DES equals three-key TDES with equal keys under OpenSSL.
TEST(Des, MatchesOpenSslEde3WithEqualKeys) {
  std::mt19937 rng(31);
  for (int i = 0; i < 20; ++i) {
    const Bytes k = zt::random_bytes(rng, 8), pt = zt::random_bytes(rng, 64);
    Bytes k3 = k;
    k3.insert(k3.end(), k.begin(), k.end());
    k3.insert(k3.end(), k.begin(), k.end());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(64 + 8);
    int n = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_des_ede3_ecb(), nullptr, k3.data(), nullptr), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    ASSERT_EQ(EVP_EncryptUpdate(ctx, out.data(), &n, pt.data(), 64), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(64);
    EXPECT_EQ(ecb(CIPHER_TYPE_DES, k, pt), out);
  }
}

TEST(Tdes, KeyingOptions) {
  std::mt19937 rng(37);
  const Bytes k = zt::random_bytes(rng, 24), pt = zt::random_bytes(rng, 32);
  const Bytes k1k2(k.begin(), k.begin() + 16);
  Bytes k1k2k1 = k1k2;
  k1k2k1.insert(k1k2k1.end(), k.begin(), k.begin() + 8);
  EXPECT_EQ(ecb(CIPHER_TYPE_TDES2, k1k2, pt), ecb(CIPHER_TYPE_TDES3, k1k2k1, pt));
  const Bytes single(k.begin(), k.begin() + 8);
  Bytes kkk = single;
  kkk.insert(kkk.end(), single.begin(), single.end());
  kkk.insert(kkk.end(), single.begin(), single.end());
  EXPECT_EQ(ecb(CIPHER_TYPE_DES, single, pt), ecb(CIPHER_TYPE_TDES3, kkk, pt));
}

TEST(Tdes, ParityBitsAreIgnored) {
  std::mt19937 rng(41);
  const Bytes k = zt::random_bytes(rng, 24), pt = zt::random_bytes(rng, 16);
  const Bytes ref = ecb(CIPHER_TYPE_TDES3, k, pt);
  for (size_t i = 0; i < k.size(); ++i) {
    Bytes flipped = k;
    flipped[i] ^= 1;
    EXPECT_EQ(ecb(CIPHER_TYPE_TDES3, flipped, pt), ref) << i;
  }
}

TEST(Tdes, CoreRoundTripForEveryKeyLength) {
  std::mt19937 rng(43);
  for (uint32_t key_len : {8u, 16u, 24u}) {
    const Bytes k = zt::random_bytes(rng, key_len), pt = zt::random_bytes(rng, 8);
    uint8_t enc_rk[480], dec_rk[480], ct[8], back[8];
    tdes_key_expansion(CIPHER_DIR_ENC, key_len, k.data(), enc_rk);
    tdes_key_expansion(CIPHER_DIR_DEC, key_len, k.data(), dec_rk);
    tdes_encrypt(0, key_len, pt.data(), enc_rk, ct);
    tdes_decrypt(1, key_len, ct, dec_rk, back);
    EXPECT_EQ(Bytes(back, back + 8), pt);
  }
}

}  // namespace
