// PBKDF2: RFC 6070 vectors, block assembly and refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "quarzel/hmac.h"
#include "quarzel/kdf.h"
#include "support/hex.h"

namespace {

constexpr auto kNoHashType = static_cast<hash_type_t>(255);  // the core callers' "no hashing"


using zt::Bytes;

Bytes derive(hash_type_t type, const Bytes& pw, const Bytes& salt, uint32_t iter, uint32_t len) {
  Bytes dk(len);
  EXPECT_EQ(pbkdf2(type, iter, static_cast<uint32_t>(pw.size()), pw.data(), static_cast<uint32_t>(salt.size()),
                   salt.data(), &len, dk.data()),
            0u);
  return dk;
}

TEST(Pbkdf2, Rfc6070) {
  struct V {
    const char* pw;
    size_t pw_len;
    const char* salt;
    size_t salt_len;
    uint32_t iter;
    uint32_t len;
    const char* dk;
  } vs[] = {
      {"password", 8, "salt", 4, 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", 8, "salt", 4, 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", 8, "salt", 4, 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", 24, "saltSALTsaltSALTsaltSALTsaltSALTsalt", 36, 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {"pass\0word", 9, "sa\0lt", 5, 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const auto& v : vs) {
    const Bytes pw(v.pw, v.pw + v.pw_len), salt(v.salt, v.salt + v.salt_len);
    EXPECT_EQ(zt::hex(derive(HASH_TYPE_SHA1, pw, salt, v.iter, v.len)), v.dk) << v.pw << " " << v.iter;
  }
}

TEST(Pbkdf2, BlocksAreCutAtTheDigestLength) {
  const Bytes pw = zt::ascii("password"), salt = zt::ascii("salt");
  // HMAC-SHA-256, one iteration: T1 alone, then T1 and the first byte of T2.
  const Bytes t32 = derive(HASH_TYPE_SHA2_256, pw, salt, 1, 32);
  EXPECT_EQ(zt::hex(t32), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  const Bytes t33 = derive(HASH_TYPE_SHA2_256, pw, salt, 1, 33);
  EXPECT_EQ(zt::hex(t33), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b4d");
  // T1 = U1 = HMAC(P, S || INT(1)).
  Bytes msg = salt;
  msg.insert(msg.end(), {0, 0, 0, 1});
  uint8_t u1[32];
  uint32_t n = 32;
  ASSERT_EQ(hmac_onestep(HASH_TYPE_SHA2_256, 8, pw.data(), static_cast<uint32_t>(msg.size()), msg.data(), &n, u1), 0u);
  EXPECT_EQ(Bytes(u1, u1 + 32), t32);
}

TEST(Pbkdf2, IterMatchesTheDerivedKeyBlocks) {
  const Bytes pw = zt::ascii("pw"), salt = zt::ascii("NaCl");
  const Bytes dk = derive(HASH_TYPE_SHA2_384, pw, salt, 3, 48 * 3);
  for (uint32_t i = 1; i <= 3; ++i) {
    uint8_t block[48];
    const uint32_t len = 48;
    ASSERT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_384, i, 3, 2, pw.data(), 4, salt.data(), &len, block), 0u);
    EXPECT_EQ(Bytes(block, block + 48), Bytes(dk.begin() + 48 * (i - 1), dk.begin() + 48 * i)) << i;
    uint32_t blen = 100;
    uint8_t b2[64];
    ASSERT_EQ(pbkdf2_iter_calc(HASH_TYPE_SHA2_384, i, 3, 2, pw.data(), 4, salt.data(), &blen, b2), 0u);
    EXPECT_EQ(blen, 48u);
    EXPECT_EQ(Bytes(b2, b2 + 48), Bytes(block, block + 48));
  }
}

TEST(Pbkdf2, Refusals) {
  const Bytes pw = zt::ascii("password"), salt = zt::ascii("salt");
  uint8_t dk[64];
  std::memset(dk, 0xEE, sizeof dk);
  uint32_t len = 32;
  const uint32_t zero = 0;
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 0, pw.data(), 4, salt.data(), &len, dk), 0x0708FF73u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 8, pw.data(), 0, salt.data(), &len, dk), 0x0708FF73u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 8, pw.data(), 4, salt.data(), &zero, dk), 0x0708FF73u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 0, 8, pw.data(), 4, salt.data(), &len, dk), 0x0708FF72u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_RIPEMD, 1, 8, pw.data(), 4, salt.data(), &len, dk), 0x0502FF32u);
  EXPECT_EQ(pbkdf2(kNoHashType, 1, 8, pw.data(), 4, salt.data(), &len, dk), 0x0502FF33u);
  // SHAKE passes the length check (32 / 64) but HMAC refuses it; nothing is written.
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHAKE256, 1, 8, pw.data(), 4, salt.data(), &len, dk), 0x0604FF53u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHAKE128, 1, 8, pw.data(), 4, salt.data(), &len, dk), 0x0604FF53u);
  EXPECT_EQ(dk[0], 0xEE);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 8, nullptr, 4, salt.data(), &len, dk), 0x0708FF05u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 8, pw.data(), 4, nullptr, &len, dk), 0x0708FF05u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 8, pw.data(), 4, salt.data(), nullptr, dk), 0x0708FF05u);
  EXPECT_EQ(pbkdf2(HASH_TYPE_SHA2_256, 1, 8, pw.data(), 4, salt.data(), &len, nullptr), 0x0708FF05u);
}

TEST(Pbkdf2Iter, Refusals) {
  const Bytes pw = zt::ascii("password"), salt = zt::ascii("salt");
  uint8_t out[64];
  const uint32_t l32 = 32, l31 = 31, l64 = 64;
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 1, 0, pw.data(), 4, salt.data(), &l32, out), 0x0709FF73u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 1, 8, pw.data(), 0, salt.data(), &l32, out), 0x0709FF73u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 0, 8, pw.data(), 4, salt.data(), &l32, out), 0x0709FF72u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 0, 1, 8, pw.data(), 4, salt.data(), &l32, out), 0x0709FF72u);
  EXPECT_EQ(pbkdf2_iter(kNoHashType, 0, 1, 8, pw.data(), 4, salt.data(), &l32, out), 0x0709FF72u);  // before the type
  EXPECT_EQ(pbkdf2_iter(kNoHashType, 1, 1, 8, pw.data(), 4, salt.data(), &l32, out), 0x0502FF33u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 1, 8, pw.data(), 4, salt.data(), &l31, out), 0x0709FF73u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 1, 8, pw.data(), 4, salt.data(), &l64, out), 0x0709FF73u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 1, 8, nullptr, 4, salt.data(), &l32, out), 0x0709FF05u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHAKE128, 1, 1, 8, pw.data(), 4, salt.data(), &l32, out), 0x0604FF53u);
  EXPECT_EQ(pbkdf2_iter(HASH_TYPE_SHA2_256, 1, 1, 8, pw.data(), 4, salt.data(), &l32, out), 0u);
}

TEST(Pbkdf2IterCalc, ZeroIterationsDoNotRunAway) {
  // Without the refusals of its callers: zero iterations give U1 only.
  const Bytes pw = zt::ascii("password"), salt = zt::ascii("salt");
  uint8_t a[32], b[32];
  uint32_t na = 32, nb = 32;
  ASSERT_EQ(pbkdf2_iter_calc(HASH_TYPE_SHA2_256, 1, 0, 8, pw.data(), 4, salt.data(), &na, a), 0u);
  ASSERT_EQ(pbkdf2_iter_calc(HASH_TYPE_SHA2_256, 1, 1, 8, pw.data(), 4, salt.data(), &nb, b), 0u);
  EXPECT_EQ(Bytes(a, a + 32), Bytes(b, b + 32));
}

}  // namespace
