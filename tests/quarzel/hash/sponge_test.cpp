// The Keccak sponge: continued squeezing and the SHAKE paths.
#include <gtest/gtest.h>

#include <numeric>

#include "hash_test_util.h"

namespace {

using zt::Bytes;

// SHAKE output read through the core final in pieces.
Bytes shake_pieces(hash_type_t type, const Bytes& msg, const std::vector<uint32_t>& pieces) {
  sha3_ctx_t c;
  const bool is128 = type == HASH_TYPE_SHAKE128;
  EXPECT_EQ(is128 ? hash_shake128_init(&c) : hash_shake256_init(&c), 0);
  EXPECT_EQ(is128 ? hash_shake128_update(&c, static_cast<uint32_t>(msg.size()), msg.data())
                  : hash_shake256_update(&c, static_cast<uint32_t>(msg.size()), msg.data()),
            0);
  Bytes out;
  for (uint32_t p : pieces) {
    Bytes part(p);
    EXPECT_EQ(is128 ? hash_shake128_final(&c, p, part.data()) : hash_shake256_final(&c, p, part.data()), 0);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

TEST(Shake, SqueezeContinuesAcrossCalls) {
  const Bytes msg = zt::ascii("squeeze me");
  for (hash_type_t type : {HASH_TYPE_SHAKE128, HASH_TYPE_SHAKE256}) {
    const uint32_t total = 1 + 167 + 168 + 169 + 10 + 200;
    const Bytes once = shake_pieces(type, msg, {total});
    EXPECT_EQ(shake_pieces(type, msg, {1, 167, 168, 169, 10, 200}), once) << type;
    EXPECT_EQ(shake_pieces(type, msg, {10, 200, 0, 345, 0, 160}), once) << type;
    EXPECT_EQ(shake_pieces(type, msg, std::vector<uint32_t>(total, 1)), once) << type;
    EXPECT_EQ(hash_test::digest_onestep(type, msg, total), once) << type;
  }
}

TEST(Shake, ContextApiAndOnestepShareThePrefix) {
  const Bytes msg = zt::ascii("abc");
  const Bytes api = hash_test::digest_ctx(HASH_TYPE_SHAKE256, msg);
  ASSERT_EQ(api.size(), 64u);
  const Bytes one = hash_test::digest_onestep(HASH_TYPE_SHAKE256, msg, 100);
  ASSERT_EQ(one.size(), 100u);
  EXPECT_EQ(Bytes(one.begin(), one.begin() + 64), api);
  EXPECT_EQ(zt::hex(api),
            "483366601360a8771c6863080cc4114d8db44530f8f1e1ee4f94ea37e78b5739"
            "d5a15bef186a5386c75744c0527e1faa9f8726e462a12a4feb06bd8801e751e4");
}

TEST(Shake, ZeroLengthFinalLeavesSpongeAbsorbing) {
  const Bytes a = zt::ascii("first part, "), b = zt::ascii("second part");
  sha3_ctx_t c;
  ASSERT_EQ(hash_shake128_init(&c), 0);
  ASSERT_EQ(hash_shake128_update(&c, static_cast<uint32_t>(a.size()), a.data()), 0);
  ASSERT_EQ(hash_shake128_final(&c, 0, nullptr), 0);
  EXPECT_EQ(c.flag, 0);
  ASSERT_EQ(hash_shake128_update(&c, static_cast<uint32_t>(b.size()), b.data()), 0);
  uint8_t out[40];
  ASSERT_EQ(hash_shake128_final(&c, sizeof out, out), 0);
  Bytes ab = a;
  ab.insert(ab.end(), b.begin(), b.end());
  EXPECT_EQ(Bytes(out, out + sizeof out), hash_test::digest_onestep(HASH_TYPE_SHAKE128, ab, 40));
}

TEST(Sponge, OneShotMatchesIncremental) {
  Bytes msg(1000);
  std::iota(msg.begin(), msg.end(), 0);
  for (uint32_t rate : {72u, 104u, 136u, 144u, 168u}) {
    for (uint8_t sfx : {uint8_t{0x01}, uint8_t{0x06}, uint8_t{0x1F}}) {
      uint8_t a[300], b[300];
      ASSERT_EQ(keccak(rate, msg.data(), msg.size(), sfx, a, sizeof a), 0);
      sha3_ctx_t c;
      sha3_init(&c, rate, sfx);
      sha3_update(&c, 1, msg.data());
      sha3_update(&c, rate, msg.data() + 1);
      sha3_update(&c, msg.size() - 1 - rate, msg.data() + 1 + rate);
      sha3_final(&c, b, 7);
      sha3_final(&c, b + 7, sizeof b - 7);
      EXPECT_EQ(Bytes(a, a + sizeof a), Bytes(b, b + sizeof b)) << rate << " " << int(sfx);
    }
  }
}

}  // namespace
