// Contract of the block-cipher API: argument checks, states, lengths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cipher_util.h"
#include "quarzel/secure.h"
#include "quarzel/testing.h"

namespace {

using zt::Bytes;

const Bytes kKey16 = zt::unhex("000102030405060708090a0b0c0d0e0f");
const Bytes kIv16 = zt::unhex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");

blockcipher_ctx_t make_ctx(cipher_mode_t mode, cipher_dir_t dir = CIPHER_DIR_ENC) {
  blockcipher_ctx_t ctx;
  EXPECT_EQ(blockcipher_init(&ctx, CIPHER_TYPE_AES128, mode, dir, 16, kKey16.data(), 16, kIv16.data()), 0u);
  return ctx;
}

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

TEST(BlockcipherInit, ChecksInOrder) {
  blockcipher_ctx_t ctx;
  const Bytes iv8(8, 0), key8(8, 1), key24(24, 1);
  struct Case {
    cipher_type_t type;
    cipher_mode_t mode;
    cipher_dir_t dir;
    const Bytes& key;
    uint32_t iv_len;
    quarzel_ret_t want;
  } cases[] = {
      {CIPHER_TYPE_AES128, CIPHER_MODE_CBC, CIPHER_DIR_UNDEFINED, kKey16, 16, 0x0133FF34},
      {CIPHER_TYPE_AES128, CIPHER_MODE_CBC, static_cast<cipher_dir_t>(3), kKey16, 16, 0x0133FF34},
      {CIPHER_TYPE_AES128, CIPHER_MODE_CBC, CIPHER_DIR_ENC, kKey16, 8, 0x0133FF37},
      {CIPHER_TYPE_TDES3, CIPHER_MODE_CBC, CIPHER_DIR_ENC, key24, 16, 0x0133FF37},
      {CIPHER_TYPE_DES, CIPHER_MODE_PCBC, CIPHER_DIR_ENC, key8, 8, 0x0133FF31},
      {CIPHER_TYPE_DES, CIPHER_MODE_CFB128, CIPHER_DIR_ENC, key8, 8, 0x0133FF31},
      {CIPHER_TYPE_DES, CIPHER_MODE_CFB1, CIPHER_DIR_ENC, key8, 8, 0x0133FF31},
      {CIPHER_TYPE_AES128, CIPHER_MODE_CFB1, CIPHER_DIR_ENC, kKey16, 16, 0x0133FF33},
      {CIPHER_TYPE_AES128, CIPHER_MODE_UNDEFINED, CIPHER_DIR_ENC, kKey16, 16, 0x0133FF33},
      {CIPHER_TYPE_AES192, CIPHER_MODE_CBC, CIPHER_DIR_ENC, kKey16, 16, 0x0130FF36},
      {CIPHER_TYPE_SERPENT, CIPHER_MODE_CBC, CIPHER_DIR_ENC, kKey16, 16, 0x0130FF32},
      {CIPHER_TYPE_UNDEFINED, CIPHER_MODE_ECB, CIPHER_DIR_ENC, kKey16, 0, 0x0130FF32},
  };
  for (const auto& c : cases) {
    const Bytes iv(c.iv_len, 0);
    EXPECT_EQ(blockcipher_init(&ctx, c.type, c.mode, c.dir, static_cast<uint32_t>(c.key.size()), c.key.data(),
                               c.iv_len, iv.data()),
              c.want);
    EXPECT_EQ(ctx.state, BLOCKCIPHER_STATE_ERROR);
  }
  EXPECT_EQ(blockcipher_init(&ctx, CIPHER_TYPE_DES, CIPHER_MODE_CFB, CIPHER_DIR_ENC, 8, key8.data(), 8, iv8.data()),
            0u);
  EXPECT_EQ(ctx.block_size, 8u);
}

TEST(BlockcipherInit, NullPointersAreRefused) {
  blockcipher_ctx_t ctx;
  EXPECT_EQ(blockcipher_init(nullptr, CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 16, kKey16.data(), 0,
                             nullptr),
            0x0133FF05u);
  EXPECT_EQ(blockcipher_init(&ctx, CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 16, nullptr, 0, nullptr),
            0x0133FF05u);
  EXPECT_EQ(blockcipher_init(&ctx, CIPHER_TYPE_AES128, CIPHER_MODE_CBC, CIPHER_DIR_ENC, 16, kKey16.data(), 16,
                             nullptr),
            0x0133FF05u);
  // ECB needs no IV.
  EXPECT_EQ(blockcipher_init(&ctx, CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 16, kKey16.data(), 16,
                             nullptr),
            0u);
}

// ECB ignores its IV; an oversized one used to be copied past the 16-byte
// field into the key length and schedule.
TEST(BlockcipherInit, EcbLongIvStaysInsideTheContext) {
  struct Guarded {
    blockcipher_ctx_t ctx;
    uint8_t after[64];
  } g;
  std::memset(&g, 0xA5, sizeof g);
  const Bytes iv(200, 0x77);
  ASSERT_EQ(blockcipher_init(&g.ctx, CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, 16, kKey16.data(),
                             static_cast<uint32_t>(iv.size()), iv.data()),
            0u);
  EXPECT_EQ(g.ctx.key_len, 16u);
  EXPECT_LE(g.ctx.iv_len, 16u);
  for (uint8_t b : g.after) ASSERT_EQ(b, 0xA5);
  // The cipher still matches FIPS 197.
  const Bytes pt = zt::unhex("00112233445566778899aabbccddeeff");
  uint8_t out[16];
  uint32_t out_len = 16;
  ASSERT_EQ(blockcipher_final(&g.ctx, 16, pt.data(), &out_len, out), 0u);
  EXPECT_EQ(zt::hex(out, 16), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

TEST(BlockcipherCalc, ZeroLengthChangesNothing) {
  auto ctx = make_ctx(CIPHER_MODE_CBC);
  uint32_t out_len = 99;
  EXPECT_EQ(blockcipher_update(&ctx, 0, nullptr, &out_len, nullptr), 0u);
  EXPECT_EQ(out_len, 0u);
  EXPECT_EQ(blockcipher_final(&ctx, 0, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(ctx.state, BLOCKCIPHER_STATE_INIT);  // a zero-length final does not end the operation
}

TEST(BlockcipherCalc, LengthRulesPerMode) {
  uint8_t in[64] = {}, out[64];
  uint32_t out_len = sizeof out;
  struct Case {
    cipher_mode_t mode;
    cipher_dir_t dir;
    bool final;
    uint32_t len;
    quarzel_ret_t want;
  } cases[] = {
      {CIPHER_MODE_ECB, CIPHER_DIR_ENC, true, 8, 0x0113FF39},   {CIPHER_MODE_ECB, CIPHER_DIR_ENC, false, 20, 0x0113FF39},
      {CIPHER_MODE_CBC, CIPHER_DIR_ENC, true, 8, 0x0114FF39},   {CIPHER_MODE_CBC, CIPHER_DIR_ENC, false, 17, 0x0114FF39},
      {CIPHER_MODE_CBC, CIPHER_DIR_DEC, true, 15, 0x0115FF39},  {CIPHER_MODE_PCBC, CIPHER_DIR_ENC, true, 20, 0x011BFF39},
      {CIPHER_MODE_PCBC, CIPHER_DIR_DEC, false, 5, 0x011CFF39}, {CIPHER_MODE_CFB128, CIPHER_DIR_ENC, true, 20, 0x0118FF39},
      {CIPHER_MODE_CFB64, CIPHER_DIR_DEC, false, 12, 0x0119FF39},
  };
  for (const auto& c : cases) {
    auto ctx = make_ctx(c.mode, c.dir);
    out_len = sizeof out;
    EXPECT_EQ(c.final ? blockcipher_final(&ctx, c.len, in, &out_len, out)
                      : blockcipher_update(&ctx, c.len, in, &out_len, out),
              c.want)
        << c.mode << " " << c.len;
    EXPECT_EQ(ctx.state, BLOCKCIPHER_STATE_ERROR);
    EXPECT_TRUE(all_zero(ctx.round_key, sizeof ctx.round_key)) << "schedule wiped on failure";
  }
  // CFB8 takes any length; ECB/CBC final of 20 bytes steals.
  for (cipher_mode_t mode : {CIPHER_MODE_CFB8, CIPHER_MODE_OFB, CIPHER_MODE_CTR, CIPHER_MODE_ECB, CIPHER_MODE_CBC}) {
    auto ctx = make_ctx(mode);
    out_len = sizeof out;
    EXPECT_EQ(blockcipher_final(&ctx, 21, in, &out_len, out), 0u) << mode;
    EXPECT_EQ(out_len, 21u);
  }
}

TEST(BlockcipherCalc, CfbWritesWholeSegmentsBeforeBadTail) {
  auto ctx = make_ctx(CIPHER_MODE_CFB128);
  uint8_t in[20] = {}, out[20];
  std::memset(out, 0xEE, sizeof out);
  uint32_t out_len = sizeof out;
  EXPECT_EQ(blockcipher_final(&ctx, 20, in, &out_len, out), 0x0118FF39u);
  auto ref = make_ctx(CIPHER_MODE_CFB128);
  uint8_t ref_out[16];
  out_len = 16;
  ASSERT_EQ(blockcipher_final(&ref, 16, in, &out_len, ref_out), 0u);
  EXPECT_EQ(std::memcmp(out, ref_out, 16), 0);
}

TEST(BlockcipherCalc, StatesAndOutputCapacity) {
  auto ctx = make_ctx(CIPHER_MODE_CBC);
  uint8_t in[32] = {}, out[32];
  uint32_t out_len = 31;
  EXPECT_EQ(blockcipher_update(&ctx, 32, in, &out_len, out), 0x0134FF06u);
  EXPECT_EQ(out_len, 32u);
  EXPECT_EQ(blockcipher_update(&ctx, 32, in, &out_len, out), 0x0134FF08u);

  ctx = make_ctx(CIPHER_MODE_CBC);
  EXPECT_EQ(blockcipher_calc(&ctx, static_cast<cipher_flag_t>(2), 16, in, &out_len, out), 0x0134FF3Cu);

  ctx = make_ctx(CIPHER_MODE_CBC);
  out_len = 32;
  ASSERT_EQ(blockcipher_update(&ctx, 16, in, &out_len, out), 0u);
  EXPECT_EQ(ctx.state, BLOCKCIPHER_STATE_UPDATE);
  ASSERT_EQ(blockcipher_final(&ctx, 16, in, &out_len, out + 16), 0u);
  EXPECT_EQ(ctx.state, BLOCKCIPHER_STATE_FINAL);
  EXPECT_EQ(blockcipher_reset_iv(&ctx, 16, kIv16.data()), 0u);
  EXPECT_EQ(ctx.state, BLOCKCIPHER_STATE_INIT);
  uint8_t again[32];
  out_len = 32;
  ASSERT_EQ(blockcipher_final(&ctx, 32, in, &out_len, again), 0u);
  EXPECT_EQ(std::memcmp(out, again, 32), 0) << "reset restores the chaining value";
  ASSERT_EQ(blockcipher_update(&ctx, 16, in, &out_len, out), 0x0134FF08u);

  EXPECT_EQ(blockcipher_calc(nullptr, CIPHER_FLAG_IS_FINAL, 0, nullptr, nullptr, nullptr), 0x0134FF05u);
  ctx = make_ctx(CIPHER_MODE_CBC);
  EXPECT_EQ(blockcipher_update(&ctx, 16, in, nullptr, out), 0x0134FF05u);
}

TEST(BlockcipherResetIv, Checks) {
  EXPECT_EQ(blockcipher_reset_iv(nullptr, 16, kIv16.data()), 0x0138FF05u);
  auto ctx = make_ctx(CIPHER_MODE_CTR);
  EXPECT_EQ(blockcipher_reset_iv(&ctx, 16, nullptr), 0x0138FF05u);
  ctx = make_ctx(CIPHER_MODE_CTR);
  EXPECT_EQ(blockcipher_reset_iv(&ctx, 8, kIv16.data()), 0x0138FF37u);
  EXPECT_EQ(blockcipher_reset_iv(&ctx, 16, kIv16.data()), 0x0138FF08u);  // error state
  // CTR: the residue is dropped, so the stream restarts.
  ctx = make_ctx(CIPHER_MODE_CTR);
  uint8_t in[5] = {}, a[5], b[5];
  uint32_t out_len = 5;
  ASSERT_EQ(blockcipher_update(&ctx, 5, in, &out_len, a), 0u);
  ASSERT_EQ(blockcipher_reset_iv(&ctx, 16, kIv16.data()), 0u);
  ASSERT_EQ(blockcipher_update(&ctx, 5, in, &out_len, b), 0u);
  EXPECT_EQ(std::memcmp(a, b, 5), 0);
}

TEST(BlockcipherCtr, CounterWrapsToZero) {
  const Bytes iv(16, 0xFF);
  zt::CipherSetup s{CIPHER_TYPE_AES128, CIPHER_MODE_CTR, CIPHER_DIR_ENC, kKey16, iv};
  const Bytes ks = zt::run_onestep(s, Bytes(32, 0));
  zt::CipherSetup e{CIPHER_TYPE_AES128, CIPHER_MODE_ECB, CIPHER_DIR_ENC, kKey16, {}};
  Bytes blocks(32, 0);
  std::fill(blocks.begin(), blocks.begin() + 16, 0xFF);
  EXPECT_EQ(ks, zt::run_onestep(e, blocks));
}

TEST(BlockcipherKeygen, LengthsAndParity) {
  uint8_t key[32];
  uint32_t len = 16;
  EXPECT_EQ(blockcipher_keygen(CIPHER_TYPE_TDES3, &len, key), 0x0131FF06u);
  EXPECT_EQ(len, 24u);
  ASSERT_EQ(blockcipher_keygen(CIPHER_TYPE_TDES3, &len, key), 0u);
  EXPECT_EQ(len, 24u);
  for (uint32_t i = 0; i < len; ++i) EXPECT_EQ(__builtin_popcount(key[i]) % 2, 1) << i;
  len = 32;
  ASSERT_EQ(blockcipher_keygen(CIPHER_TYPE_AES256, &len, key), 0u);
  EXPECT_EQ(len, 32u);
  EXPECT_EQ(blockcipher_keygen(CIPHER_TYPE_SERPENT, &len, key), 0x0131FF32u);
  EXPECT_EQ(blockcipher_keygen(CIPHER_TYPE_AES128, nullptr, key), 0x0131FF05u);
  quarzel::testing::set_random_source([](uint8_t*, uint32_t) -> uint32_t { return 1; });
  len = 16;
  EXPECT_EQ(blockcipher_keygen(CIPHER_TYPE_AES128, &len, key), 0x0131FF04u);
  quarzel::testing::set_random_source(nullptr);
}

}  // namespace
