// Euclid's remainders on word arrays, and the gcd built on them, against
// small cases and OpenSSL's BN_gcd.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/rand.h>

#include <vector>

#include "quarzel/mpbn.h"

namespace {

using Words = std::vector<mpbn_word_t>;

TEST(GcdPrimitive, SmallCases) {
  struct Case {
    Words a, b, want;
  };
  const Case cases[] = {
      {{0, 18}, {0, 12}, {0, 6}},
      {{0, 12}, {0, 18}, {0, 6}},  // a below b: the first remainder is a
      {{0, 17}, {0, 5}, {0, 1}},
      {{1, 0}, {0, 2}, {0, 2}},    // 2^32 and 2
      {{0, 7}, {0, 7}, {0, 7}},
  };
  for (const Case& c : cases) {
    Words a = c.a, b = c.b, r(2, 0xEEEEEEEE);
    ASSERT_EQ(0, mpbn_gcd_primitive(2, a.data(), b.data(), r.data()));
    EXPECT_EQ(c.want, r);
  }
  Words a{0, 5}, zero{0, 0}, r(2);
  EXPECT_EQ(0x3B36, mpbn_gcd_primitive(2, a.data(), zero.data(), r.data()));
  EXPECT_NE(0, mpbn_gcd_primitive(0, a.data(), zero.data(), r.data()));
}

TEST(GcdPrimitive, MatchesOpenSslOnLongOperands) {
  BN_CTX* ctx = BN_CTX_new();
  for (int round = 0; round < 20; ++round) {
    // A common factor of about 300 bits times two random cofactors.
    const size_t nw = 32;
    std::vector<uint8_t> g(40), x(80), y(80);
    RAND_bytes(g.data(), 40);
    RAND_bytes(x.data(), 80);
    RAND_bytes(y.data(), 80);
    BIGNUM *bg = BN_bin2bn(g.data(), 40, nullptr), *bx = BN_bin2bn(x.data(), 40 + round % 30, nullptr),
           *by = BN_bin2bn(y.data(), 40 + round % 7, nullptr), *want = BN_new();
    BN_mul(bx, bx, bg, ctx);
    BN_mul(by, by, bg, ctx);
    BN_gcd(want, bx, by, ctx);
    auto words = [nw](const BIGNUM* v) {
      std::vector<uint8_t> be(4 * nw);
      BN_bn2binpad(v, be.data(), static_cast<int>(be.size()));
      Words w(nw);
      for (size_t i = 0; i < nw; ++i)
        w[i] = (mpbn_word_t{be[4 * i]} << 24) | (mpbn_word_t{be[4 * i + 1]} << 16) | (mpbn_word_t{be[4 * i + 2]} << 8) |
               be[4 * i + 3];
      return w;
    };
    Words a = words(bx), b = words(by), r(nw);
    ASSERT_EQ(0, mpbn_gcd_primitive(static_cast<uint32_t>(nw), a.data(), b.data(), r.data()));
    EXPECT_EQ(words(want), r);
    // mpbn_gcd orders its operands itself.
    Words r2(nw);
    const Words a2 = words(bx), b2 = words(by);
    ASSERT_EQ(0, mpbn_gcd(static_cast<uint32_t>(nw), static_cast<uint32_t>(nw), b2.data(), static_cast<uint32_t>(nw),
                          a2.data(), static_cast<uint32_t>(nw), r2.data()));
    EXPECT_EQ(words(want), r2);
    BN_free(bg);
    BN_free(bx);
    BN_free(by);
    BN_free(want);
  }
  BN_CTX_free(ctx);
}

}  // namespace
