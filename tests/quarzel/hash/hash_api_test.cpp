// The hash API's contract: result words, state words, sticky errors and
// lengths by pointer.
#include <gtest/gtest.h>

#include <cstring>

#include "hash_test_util.h"

namespace {

constexpr auto kNoHashType = static_cast<hash_type_t>(255);  // the core callers' "no hashing"


using zt::Bytes;

hash_ctx_t zeroed_ctx() {
  hash_ctx_t ctx;
  std::memset(&ctx, 0, sizeof ctx);
  return ctx;
}

TEST(HashGetLength, TableAndRefusals) {
  for (const auto& t : hash_test::all_types()) {
    uint32_t len = 999;
    EXPECT_EQ(hash_get_length(t.type, &len), 0u) << t.name;
    EXPECT_EQ(len, t.digest) << t.name;
  }
  uint32_t len = 999;
  EXPECT_EQ(hash_get_length(HASH_TYPE_RIPEMD, &len), 0x0502FF32u);
  EXPECT_EQ(len, 0u);
  for (uint32_t bad : {0u, 1u, 5u, 14u, 20u, 28u, 34u, 63u, 65u, 255u, 0xFFFFFFFFu}) {
    len = 999;
    EXPECT_EQ(hash_get_length(static_cast<hash_type_t>(bad), &len), 0x0502FF33u) << bad;
    EXPECT_EQ(len, 0u);
  }
  EXPECT_EQ(hash_get_length(HASH_TYPE_SHA2_256, nullptr), 0x0502FF05u);
}

TEST(HashInit, RefusedTypesLeaveErrorState) {
  struct Case {
    uint32_t type;
    quarzel_ret_t word;
  } cases[] = {{kNoHashType, 0x0503FF33}, {0, 0x0503FF33}, {3, 0x0503FF33},     {15, 0x0503FF33},
               {64, 0x0503FF32},          {65, 0x0503FF33}, {0x109, 0x0503FF33}};
  for (const auto& c : cases) {
    hash_ctx_t ctx = zeroed_ctx();
    EXPECT_EQ(hash_init(&ctx, static_cast<hash_type_t>(c.type)), c.word) << c.type;
    EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
    EXPECT_EQ(ctx.hash_type, c.type);  // stored before validation
    EXPECT_EQ(hash_update(&ctx, 0, nullptr), 0x0504FF08u);
  }
  EXPECT_EQ(hash_init(nullptr, HASH_TYPE_SHA2_256), 0x0503FF05u);
}

TEST(HashInit, FillsSizesForEveryType) {
  for (const auto& t : hash_test::all_types()) {
    hash_ctx_t ctx = zeroed_ctx();
    ASSERT_EQ(hash_init(&ctx, t.type), 0u) << t.name;
    EXPECT_EQ(ctx.state, HASH_STATE_INITIALISED);
    EXPECT_EQ(ctx.digest_size, t.digest) << t.name;
    EXPECT_EQ(ctx.block_size, t.block) << t.name;
  }
}

TEST(HashState, WordsFollowTheLifecycle) {
  hash_ctx_t ctx = zeroed_ctx();
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA2_256), 0u);
  EXPECT_EQ(ctx.state, HASH_STATE_INITIALISED);
  ASSERT_EQ(hash_update(&ctx, 3, zt::ascii("abc").data()), 0u);
  EXPECT_EQ(ctx.state, HASH_STATE_UPDATING);
  ASSERT_EQ(hash_update(&ctx, 0, nullptr), 0u);  // empty update allowed, null with length 0
  EXPECT_EQ(ctx.state, HASH_STATE_UPDATING);
  uint8_t d[32];
  uint32_t n = 32;
  ASSERT_EQ(hash_final(&ctx, &n, d), 0u);
  EXPECT_EQ(ctx.state, HASH_STATE_FINAL);
  EXPECT_EQ(zt::hex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(HashState, NeverInitialisedContextIsRefused) {
  hash_ctx_t ctx = zeroed_ctx();
  EXPECT_EQ(hash_update(&ctx, 1, zt::ascii("a").data()), 0x0504FF08u);
  EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
  ctx = zeroed_ctx();
  uint8_t d[64];
  uint32_t n = 64;
  EXPECT_EQ(hash_final(&ctx, &n, d), 0x0505FF08u);
  EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
}

TEST(HashState, UpdateAfterFinalIsStickyUntilInit) {
  hash_ctx_t ctx;
  uint8_t d[64];
  uint32_t n = 64;
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA2_512), 0u);
  ASSERT_EQ(hash_final(&ctx, &n, d), 0u);
  EXPECT_EQ(hash_update(&ctx, 1, d), 0x0504FF08u);
  EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
  n = 64;
  EXPECT_EQ(hash_final(&ctx, &n, d), 0x0505FF08u);  // still failed
  EXPECT_EQ(hash_update(&ctx, 1, d), 0x0504FF08u);
  // A second final after a good one is refused as well.
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA2_512), 0u);
  n = 64;
  ASSERT_EQ(hash_final(&ctx, &n, d), 0u);
  n = 64;
  EXPECT_EQ(hash_final(&ctx, &n, d), 0x0505FF08u);
  // Init starts over and yields a correct digest.
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA2_512), 0u);
  n = 64;
  ASSERT_EQ(hash_final(&ctx, &n, d), 0u);
  EXPECT_EQ(zt::hex(d, 4), "cf83e135");
}

TEST(HashFinal, ShortBufferReportsSizeAndFailsContext) {
  hash_ctx_t ctx;
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA2_256), 0u);
  ASSERT_EQ(hash_update(&ctx, 3, zt::ascii("abc").data()), 0u);
  uint8_t d[64];
  std::memset(d, 0xEE, sizeof d);
  uint32_t n = 31;
  EXPECT_EQ(hash_final(&ctx, &n, d), 0x0505FF34u);
  EXPECT_EQ(n, 32u);
  EXPECT_EQ(d[0], 0xEE);  // nothing written
  EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
  EXPECT_EQ(hash_update(&ctx, 3, zt::ascii("abc").data()), 0x0504FF08u);
  n = 32;
  EXPECT_EQ(hash_final(&ctx, &n, d), 0x0505FF08u);
}

TEST(HashFinal, LargerBufferGetsDigestSize) {
  for (const auto& t : hash_test::all_types()) {
    hash_ctx_t ctx;
    ASSERT_EQ(hash_init(&ctx, t.type), 0u);
    uint8_t d[80];
    std::memset(d, 0xEE, sizeof d);
    uint32_t n = sizeof d;
    ASSERT_EQ(hash_final(&ctx, &n, d), 0u) << t.name;
    EXPECT_EQ(n, t.digest) << t.name;
    for (size_t i = t.digest; i < sizeof d; ++i) EXPECT_EQ(d[i], 0xEE) << t.name << " byte " << i;
  }
}

TEST(HashNullArguments, GiveReasonFiveAndFailTheContext) {
  hash_ctx_t ctx;
  uint8_t d[32];
  uint32_t n = 32;
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA1), 0u);
  EXPECT_EQ(hash_update(&ctx, 1, nullptr), 0x0504FF05u);
  EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA1), 0u);
  EXPECT_EQ(hash_final(&ctx, nullptr, d), 0x0505FF05u);
  EXPECT_EQ(ctx.state, HASH_STATE_ERROR);
  ASSERT_EQ(hash_init(&ctx, HASH_TYPE_SHA1), 0u);
  EXPECT_EQ(hash_final(&ctx, &n, nullptr), 0x0505FF05u);
  EXPECT_EQ(hash_update(nullptr, 0, nullptr), 0x0504FF05u);
  EXPECT_EQ(hash_final(nullptr, &n, d), 0x0505FF05u);
  EXPECT_EQ(hash_onestep(HASH_TYPE_SHA1, 0, nullptr, nullptr, d), 0x0506FF05u);
  EXPECT_EQ(hash_onestep(HASH_TYPE_SHA1, 4, nullptr, &n, d), 0x0506FF05u);
  n = 32;
  EXPECT_EQ(hash_onestep(HASH_TYPE_SHA1, 0, nullptr, &n, nullptr), 0x0506FF05u);
}

TEST(HashOnestep, LengthsAndRefusals) {
  uint8_t d[128];
  uint32_t n = 19;
  EXPECT_EQ(hash_onestep(HASH_TYPE_SHA1, 0, nullptr, &n, d), 0x0506FF34u);
  EXPECT_EQ(n, 20u);
  n = 100;
  ASSERT_EQ(hash_onestep(HASH_TYPE_SHA1, 0, nullptr, &n, d), 0u);
  EXPECT_EQ(n, 20u);
  EXPECT_EQ(zt::hex(d, 20), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  n = 64;
  EXPECT_EQ(hash_onestep(HASH_TYPE_RIPEMD, 0, nullptr, &n, d), 0x0506FF32u);
  EXPECT_EQ(hash_onestep(kNoHashType, 0, nullptr, &n, d), 0x0506FF33u);
  EXPECT_EQ(hash_onestep(HASH_TYPE_UNDEFINED, 0, nullptr, &n, d), 0x0506FF33u);
  EXPECT_EQ(n, 64u);
}

TEST(HashOnestep, ShakeLengthIsTheRequest) {
  uint8_t d[128];
  std::memset(d, 0xEE, sizeof d);
  uint32_t n = 100;
  ASSERT_EQ(hash_onestep(HASH_TYPE_SHAKE128, 0, nullptr, &n, d), 0u);
  EXPECT_EQ(n, 100u);
  EXPECT_EQ(zt::hex(d, 32), "7f9c2ba4e88f827d616045507605853ed73b8093f6efbc88eb1a6eacfa66ef26");
  EXPECT_NE(d[99], 0xEE);
  EXPECT_EQ(d[100], 0xEE);
  n = 0;
  EXPECT_EQ(hash_onestep(HASH_TYPE_SHAKE256, 3, zt::ascii("abc").data(), &n, nullptr), 0u);
  EXPECT_EQ(n, 0u);
  n = 5;
  EXPECT_EQ(hash_onestep(HASH_TYPE_SHAKE256, 0, nullptr, &n, nullptr), 0x0506FF05u);
}

TEST(HashContext, CopyContinuesIndependently) {
  const Bytes a = zt::ascii("The quick brown fox "), b1 = zt::ascii("jumps"), b2 = zt::ascii("sleeps");
  for (const auto& t : hash_test::all_types()) {
    hash_ctx_t ctx;
    ASSERT_EQ(hash_init(&ctx, t.type), 0u);
    ASSERT_EQ(hash_update(&ctx, static_cast<uint32_t>(a.size()), a.data()), 0u);
    hash_ctx_t copy = ctx;
    ASSERT_EQ(hash_update(&ctx, static_cast<uint32_t>(b1.size()), b1.data()), 0u);
    ASSERT_EQ(hash_update(&copy, static_cast<uint32_t>(b2.size()), b2.data()), 0u);
    uint8_t d1[64], d2[64];
    uint32_t n1 = 64, n2 = 64;
    ASSERT_EQ(hash_final(&ctx, &n1, d1), 0u);
    ASSERT_EQ(hash_final(&copy, &n2, d2), 0u);
    Bytes m1 = a, m2 = a;
    m1.insert(m1.end(), b1.begin(), b1.end());
    m2.insert(m2.end(), b2.begin(), b2.end());
    EXPECT_EQ(Bytes(d1, d1 + n1), hash_test::digest_onestep(t.type, m1, t.digest)) << t.name;
    EXPECT_EQ(Bytes(d2, d2 + n2), hash_test::digest_onestep(t.type, m2, t.digest)) << t.name;
  }
}

// Core routines: null arguments give (core id << 8) | 0x05.
TEST(HashCore, NullArgumentCodes) {
  uint8_t d[64] = {};
  sha1_ctx_t c1;
  sha2_256_ctx_t c256;
  sha2_512_ctx_t c512;
  sha3_ctx_t c3;
  EXPECT_EQ(hash_sha1_init(nullptr), 0xA105);
  EXPECT_EQ(hash_sha1_update(&c1, 1, nullptr), 0xAC05);
  EXPECT_EQ(hash_sha1_final(nullptr, 20, d), 0xB705);
  EXPECT_EQ(hash_sha2_224_init(nullptr), 0xA205);
  EXPECT_EQ(hash_sha2_256_update(nullptr, 0, d), 0xAE05);
  EXPECT_EQ(hash_sha2_256_final(&c256, 32, nullptr), 0xB905);
  EXPECT_EQ(hash_sha2_384_update(&c512, 2, nullptr), 0xAF05);
  EXPECT_EQ(hash_sha2_512_init(nullptr), 0xA505);
  EXPECT_EQ(hash_sha2_512_224_final(&c512, 28, nullptr), 0xBC05);
  EXPECT_EQ(hash_sha2_512_256_init(nullptr), 0xA705);
  EXPECT_EQ(hash_sha3_224_init(nullptr), 0xA805);
  EXPECT_EQ(hash_sha3_256_update(&c3, 1, nullptr), 0xB405);
  EXPECT_EQ(hash_sha3_512_final(&c3, 64, nullptr), 0xC105);
  EXPECT_EQ(hash_keccak_224_init(nullptr), 0xD105);
  EXPECT_EQ(hash_keccak_384_update(nullptr, 0, nullptr), 0xDB05);
  EXPECT_EQ(hash_keccak_512_final(&c3, 0, nullptr), 0xE405);  // fixed length: digest always needed
  EXPECT_EQ(hash_shake128_init(nullptr), 0xD505);
  EXPECT_EQ(hash_shake256_update(nullptr, 0, nullptr), 0xDE05);
  EXPECT_EQ(hash_shake128_final(&c3, 1, nullptr), 0xE505);
  ASSERT_EQ(hash_shake128_init(&c3), 0);
  EXPECT_EQ(hash_shake128_final(&c3, 0, nullptr), 0);  // zero output, null digest
  ASSERT_EQ(hash_sha1_init(&c1), 0);
  EXPECT_EQ(hash_sha1_update(&c1, 0, nullptr), 0);     // no message, no pointer needed
}

TEST(HashCore, ShaFinalStartsOver) {
  sha2_256_ctx_t c;
  uint8_t d[32];
  ASSERT_EQ(hash_sha2_256_init(&c), 0);
  ASSERT_EQ(hash_sha2_256_update(&c, 5, zt::ascii("hello").data()), 0);
  ASSERT_EQ(hash_sha2_256_final(&c, 32, d), 0);
  ASSERT_EQ(hash_sha2_256_update(&c, 3, zt::ascii("abc").data()), 0);
  ASSERT_EQ(hash_sha2_256_final(&c, 32, d), 0);
  EXPECT_EQ(zt::hex(d, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  sha2_512_ctx_t c5;
  uint8_t d5[48];
  ASSERT_EQ(hash_sha2_384_init(&c5), 0);
  ASSERT_EQ(hash_sha2_384_update(&c5, 5, zt::ascii("hello").data()), 0);
  ASSERT_EQ(hash_sha2_384_final(&c5, 48, d5), 0);
  ASSERT_EQ(hash_sha2_384_final(&c5, 48, d5), 0);
  EXPECT_EQ(zt::hex(d5, 8), "38b060a751ac9638");  // SHA-384 of the empty message
}

}  // namespace
