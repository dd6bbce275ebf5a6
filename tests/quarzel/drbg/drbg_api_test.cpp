// The generic DRBG interface: states, limits, the reseed counter and the
// result words of refused calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quarzel/drbg.h"
#include "support/hex.h"

namespace {

using zt::Bytes;

const Bytes kEntropy64 = Bytes(64, 0x5A);
const Bytes kOther64 = Bytes(64, 0xA5);

quarzel_ret_t instantiate(drbg_ctx_t& ctx, drbg_type_t type, uint32_t entropy_len, uint32_t nonce_len = 0,
                          uint32_t perso_len = 0) {
  static const Bytes perso(64, 0x11);
  return drbg_instantiate(&ctx, type, entropy_len, kEntropy64.data(), nonce_len,
                          nonce_len ? kOther64.data() : nullptr, perso_len, perso_len ? perso.data() : nullptr);
}

quarzel_ret_t generate(drbg_ctx_t& ctx, uint32_t n, Bytes* out = nullptr, uint32_t addin_len = 0,
                       const uint8_t* addin = nullptr) {
  Bytes buf(n == 0 ? 1 : n);
  quarzel_ret_t r = drbg_generate(&ctx, addin_len, addin, &n, buf.data());
  if (out) *out = buf;
  return r;
}

bool all_zero(const void* p, size_t n) {
  auto* b = static_cast<const uint8_t*>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != 0) return false;
  return true;
}

// One type per mechanism with a valid seeding and the mechanism's words.
struct Mech {
  drbg_type_t type;
  uint32_t entropy_len;
  uint32_t max_request;
  quarzel_ret_t too_long, gen_counter, reseed_counter;
};
const Mech kMechs[] = {
    {DRBG_TYPE_HASH_SHA_2_256, 16, 65536, 0x0822FF71, 0x0822FF72, 0x0823FF72},
    {DRBG_TYPE_HMAC_SHA_2_256, 16, 65536, 0x0832FF71, 0x0832FF72, 0x0833FF72},
    {DRBG_TYPE_CTR_AES_128_WITH_DF, 32, 1024, 0x0842FF71, 0x0842FF72, 0x0843FF72},
    {DRBG_TYPE_CTR_AES_256_NO_DF, 48, 1024, 0x0842FF71, 0x0842FF72, 0x0843FF72},
};

uint32_t& reseed_counter(drbg_ctx_t& ctx) {
  if (ctx.type >= DRBG_TYPE_CTR_TDES_NO_DF) return ctx.subctx.ctr.reseed_ctr;
  if (ctx.type >= DRBG_TYPE_HMAC_SHA_1) return ctx.subctx.hmac.reseed_ctr;
  return ctx.subctx.hash.reseed_ctr;
}

TEST(Drbg, GenerateOnZeroedContextIsRefusedThenInstantiateWorks) {
  drbg_ctx_t ctx;
  std::memset(&ctx, 0, sizeof ctx);
  EXPECT_EQ(generate(ctx, 16), 0x0802FF08u);
  EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  EXPECT_EQ(drbg_reseed(&ctx, 16, kEntropy64.data(), 0, nullptr), 0x0803FF08u);
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HASH_SHA_2_256, 16), 0u);
  EXPECT_EQ(ctx.state, DRBG_STATE_INSTANTIATED);
  EXPECT_EQ(ctx.type, DRBG_TYPE_HASH_SHA_2_256);
  EXPECT_EQ(generate(ctx, 16), 0u);
}

TEST(Drbg, ZeroLengthRequestIsRefusedIntoErrorState) {
  drbg_ctx_t ctx;
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HMAC_SHA_2_256, 16), 0u);
  EXPECT_EQ(generate(ctx, 0), 0x0802FF32u);
  EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  EXPECT_EQ(generate(ctx, 16), 0x0802FF08u);
}

TEST(Drbg, EntropyAndNonceMinimums) {
  struct Case {
    drbg_type_t type;
    uint32_t entropy, nonce;
    quarzel_ret_t want;
  };
  const Case cases[] = {
      {DRBG_TYPE_HASH_SHA_2_256, 15, 0, 0x0821FF71}, {DRBG_TYPE_HASH_SHA_2_256, 16, 0, 0},
      {DRBG_TYPE_HASH_SHA_2_256, 16, 7, 0x0821FF71}, {DRBG_TYPE_HASH_SHA_2_256, 16, 8, 0},
      {DRBG_TYPE_HASH_SHA_1, 9, 0, 0x0821FF71},      {DRBG_TYPE_HASH_SHA_1, 10, 5, 0},
      {DRBG_TYPE_HASH_SHA_2_512, 31, 0, 0x0821FF71}, {DRBG_TYPE_HASH_SHA_2_512, 32, 15, 0x0821FF71},
      {DRBG_TYPE_HMAC_SHA_2_384, 23, 0, 0x0831FF71}, {DRBG_TYPE_HMAC_SHA_2_384, 24, 12, 0},
      {DRBG_TYPE_HMAC_SHA_3_256, 16, 7, 0x0831FF71}, {DRBG_TYPE_CTR_AES_128_WITH_DF, 15, 0, 0x0841FF71},
      {DRBG_TYPE_CTR_AES_128_WITH_DF, 32, 8, 0},     {DRBG_TYPE_CTR_AES_128_WITH_DF, 16, 7, 0x0841FF71},
      {DRBG_TYPE_CTR_TDES_WITH_DF, 14, 7, 0},        {DRBG_TYPE_CTR_TDES_WITH_DF, 13, 0, 0x0841FF71},
      // Without df: exactly seedlen bytes of entropy, whatever the nonce.
      {DRBG_TYPE_CTR_AES_256_NO_DF, 47, 0, 0x0841FF71}, {DRBG_TYPE_CTR_AES_256_NO_DF, 49, 0, 0x0841FF71},
      {DRBG_TYPE_CTR_AES_256_NO_DF, 48, 3, 0},          {DRBG_TYPE_CTR_AES_128_NO_DF, 32, 0, 0},
      {DRBG_TYPE_CTR_AES_192_NO_DF, 40, 0, 0},          {DRBG_TYPE_CTR_TDES_NO_DF, 28, 0, 0x0841FF71},
      {DRBG_TYPE_CTR_TDES_NO_DF, 29, 0, 0},
  };
  for (const Case& c : cases) {
    drbg_ctx_t ctx;
    EXPECT_EQ(instantiate(ctx, c.type, c.entropy, c.nonce), c.want) << c.type << "/" << c.entropy << "/" << c.nonce;
    EXPECT_EQ(ctx.state, c.want == 0 ? DRBG_STATE_INSTANTIATED : DRBG_STATE_ERROR);
    if (c.want != 0) {
      EXPECT_EQ(ctx.type, DRBG_TYPE_UNDEFINED);
    }
  }
}

TEST(Drbg, UnknownTypesAreRefused) {
  for (uint32_t t : {0u, 15u, 27u, 47u, 59u, 84u, 95u, 100u, 255u}) {
    drbg_ctx_t ctx;
    EXPECT_EQ(instantiate(ctx, static_cast<drbg_type_t>(t), 64, 32), 0x0801FF3Cu) << t;
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  }
}

TEST(Drbg, RequestLimitsPerMechanism) {
  for (const Mech& m : kMechs) {
    drbg_ctx_t ctx;
    ASSERT_EQ(instantiate(ctx, m.type, m.entropy_len), 0u);
    EXPECT_EQ(generate(ctx, m.max_request), 0u) << m.type;
    EXPECT_EQ(generate(ctx, m.max_request + 1), m.too_long) << m.type;
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  }
}

// Byte counts whose bit count wraps 32 bits were once converted first: a
// request of 2^29 bytes became 0 bits, 2^29 + 1 bytes 8 bits, and one byte
// was written with success reported. They must be refused, nothing written.
TEST(Drbg, HugeRequestsAreRefusedBeforeBitConversion) {
  for (const Mech& m : kMechs) {
    for (uint32_t n : {0x20000000u, 0x20000001u, 0x40000004u, 0xFFFFFFFFu}) {
      drbg_ctx_t ctx;
      ASSERT_EQ(instantiate(ctx, m.type, m.entropy_len), 0u);
      uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
      EXPECT_EQ(drbg_generate(&ctx, 0, nullptr, &n, out), m.too_long) << m.type << "/" << n;
      EXPECT_EQ(zt::hex(out, 4), "aaaaaaaa");
      EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
    }
  }
}

TEST(Drbg, HugeSeedAndInputLengthsAreRefused) {
  // 0x20000002 bytes would become 16 bits, 0x20000010 bytes 128 bits: a short
  // buffer would pass as 2 or 16 bytes. The lengths are refused unread.
  for (uint32_t len : {0x20000002u, 0x20000010u, 0xFFFFFFFFu}) {
    drbg_ctx_t ctx;
    EXPECT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_HASH_SHA_2_256, len, kEntropy64.data(), 0, nullptr, 0, nullptr),
              0x0801FF71u);
    EXPECT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_HASH_SHA_2_256, 16, kEntropy64.data(), len, kOther64.data(), 0,
                               nullptr),
              0x0801FF71u);
    EXPECT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_CTR_AES_128_WITH_DF, 32, kEntropy64.data(), 0, nullptr, len,
                               kOther64.data()),
              0x0801FF71u);
    ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HMAC_SHA_2_256, 16), 0u);
    uint32_t n = 4;
    uint8_t out[4];
    EXPECT_EQ(drbg_generate(&ctx, len, kOther64.data(), &n, out), 0x0802FF71u);
    ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HMAC_SHA_2_256, 16), 0u);
    EXPECT_EQ(drbg_reseed(&ctx, len, kEntropy64.data(), 0, nullptr), 0x0803FF71u);
    ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HMAC_SHA_2_256, 16), 0u);
    EXPECT_EQ(drbg_reseed(&ctx, 16, kEntropy64.data(), len, kOther64.data()), 0x0803FF71u);
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  }
}

TEST(Drbg, ReseedCounterLimit) {
  for (const Mech& m : kMechs) {
    SCOPED_TRACE(m.type);
    drbg_ctx_t ctx;
    ASSERT_EQ(instantiate(ctx, m.type, m.entropy_len), 0u);
    EXPECT_EQ(reseed_counter(ctx), 1u);
    ASSERT_EQ(generate(ctx, 8), 0u);
    EXPECT_EQ(reseed_counter(ctx), 2u);
    // The 2^30-th generate since seeding is the last one allowed.
    reseed_counter(ctx) = DRBG_RESEED_INTERVAL;
    EXPECT_EQ(generate(ctx, 8), 0u);
    EXPECT_EQ(reseed_counter(ctx), DRBG_RESEED_INTERVAL + 1);
    EXPECT_EQ(generate(ctx, 8), m.gen_counter);
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);

    // A reseed at that point starts the count again.
    ASSERT_EQ(instantiate(ctx, m.type, m.entropy_len), 0u);
    reseed_counter(ctx) = DRBG_RESEED_INTERVAL + 1;
    EXPECT_EQ(generate(ctx, 8), m.gen_counter);
    ASSERT_EQ(instantiate(ctx, m.type, m.entropy_len), 0u);
    reseed_counter(ctx) = DRBG_RESEED_INTERVAL + 1;
    EXPECT_EQ(drbg_reseed(&ctx, m.entropy_len, kEntropy64.data(), 0, nullptr), 0u);
    EXPECT_EQ(reseed_counter(ctx), 1u);
    EXPECT_EQ(generate(ctx, 8), 0u);

    reseed_counter(ctx) = DRBG_RESEED_INTERVAL + 2;
    EXPECT_EQ(drbg_reseed(&ctx, m.entropy_len, kEntropy64.data(), 0, nullptr), m.reseed_counter);
  }
}

TEST(Drbg, ReseedChangesTheStream) {
  for (const Mech& m : kMechs) {
    drbg_ctx_t a, b;
    ASSERT_EQ(instantiate(a, m.type, m.entropy_len), 0u);
    ASSERT_EQ(instantiate(b, m.type, m.entropy_len), 0u);
    Bytes x, y;
    ASSERT_EQ(generate(a, 32, &x), 0u);
    ASSERT_EQ(generate(b, 32, &y), 0u);
    EXPECT_EQ(x, y);
    ASSERT_EQ(drbg_reseed(&b, m.entropy_len, kOther64.data(), 0, nullptr), 0u);
    ASSERT_EQ(generate(a, 32, &x), 0u);
    ASSERT_EQ(generate(b, 32, &y), 0u);
    EXPECT_NE(x, y) << m.type;
  }
}

TEST(Drbg, UninstantiateWipesAndTwiceIsRefused) {
  for (const Mech& m : kMechs) {
    drbg_ctx_t ctx;
    ASSERT_EQ(instantiate(ctx, m.type, m.entropy_len), 0u);
    ASSERT_EQ(generate(ctx, 32), 0u);
    EXPECT_EQ(drbg_uninstantiate(&ctx), 0u);
    EXPECT_EQ(ctx.state, DRBG_STATE_UNINSTANTIATED);
    EXPECT_EQ(ctx.type, DRBG_TYPE_UNDEFINED);
    EXPECT_TRUE(all_zero(&ctx.subctx, sizeof ctx.subctx));
    EXPECT_EQ(generate(ctx, 8), 0x0802FF08u);
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  }
  drbg_ctx_t ctx;
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HASH_SHA_2_256, 16), 0u);
  EXPECT_EQ(drbg_uninstantiate(&ctx), 0u);
  EXPECT_EQ(drbg_uninstantiate(&ctx), 0x0804FF3Cu);
  EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
}

// A context in its error state must still be zeroisable (it used to answer
// 0x0804FF08 and keep its working state).
TEST(Drbg, UninstantiateFromErrorStateZeroises) {
  drbg_ctx_t ctx;
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_CTR_AES_256_WITH_DF, 32), 0u);
  ASSERT_EQ(generate(ctx, 2000), 0x0842FF71u);
  ASSERT_EQ(ctx.state, DRBG_STATE_ERROR);
  // Even with working-state bytes left in the context (as a failure half-way
  // through an operation could leave them), uninstantiation wipes them.
  std::memset(&ctx.subctx, 0x5A, sizeof ctx.subctx);
  ctx.type = DRBG_TYPE_CTR_AES_256_WITH_DF;
  EXPECT_EQ(drbg_uninstantiate(&ctx), 0u);
  EXPECT_EQ(ctx.state, DRBG_STATE_UNINSTANTIATED);
  EXPECT_EQ(ctx.type, DRBG_TYPE_UNDEFINED);
  EXPECT_TRUE(all_zero(&ctx.subctx, sizeof ctx.subctx));
  // And a new instantiation works afterwards.
  EXPECT_EQ(instantiate(ctx, DRBG_TYPE_CTR_AES_256_WITH_DF, 32), 0u);
}

TEST(Drbg, NullArgumentsAreRefused) {
  drbg_ctx_t ctx;
  EXPECT_EQ(drbg_instantiate(nullptr, DRBG_TYPE_HASH_SHA_2_256, 16, kEntropy64.data(), 0, nullptr, 0, nullptr),
            0x0801FF05u);
  EXPECT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_HASH_SHA_2_256, 16, kEntropy64.data(), 8, nullptr, 0, nullptr),
            0x0801FF05u);
  EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
  EXPECT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_HASH_SHA_2_256, 16, kEntropy64.data(), 0, nullptr, 4, nullptr),
            0x0801FF05u);
  EXPECT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_HASH_SHA_2_256, 16, nullptr, 0, nullptr, 0, nullptr), 0x0801FF05u);

  uint32_t n = 8;
  uint8_t out[8];
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HASH_SHA_2_256, 16), 0u);
  EXPECT_EQ(drbg_generate(&ctx, 4, nullptr, &n, out), 0x0802FF05u);
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HASH_SHA_2_256, 16), 0u);
  EXPECT_EQ(drbg_generate(&ctx, 0, nullptr, nullptr, out), 0x0802FF05u);
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HASH_SHA_2_256, 16), 0u);
  EXPECT_EQ(drbg_generate(&ctx, 0, nullptr, &n, nullptr), 0x0802FF05u);
  EXPECT_EQ(drbg_generate(nullptr, 0, nullptr, &n, out), 0x0802FF05u);
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_HASH_SHA_2_256, 16), 0u);
  EXPECT_EQ(drbg_reseed(&ctx, 16, kEntropy64.data(), 4, nullptr), 0x0803FF05u);
  EXPECT_EQ(drbg_reseed(&ctx, 16, nullptr, 0, nullptr), 0x0803FF05u);
  EXPECT_EQ(drbg_reseed(nullptr, 16, kEntropy64.data(), 0, nullptr), 0x0803FF05u);
  EXPECT_EQ(drbg_uninstantiate(nullptr), 0x0804FF05u);
}

TEST(Drbg, RequestedLengthIsReadOnly) {
  drbg_ctx_t ctx;
  ASSERT_EQ(instantiate(ctx, DRBG_TYPE_CTR_AES_128_WITH_DF, 32, 8), 0u);
  uint32_t n = 20;
  uint8_t out[32];
  std::memset(out, 0xAA, sizeof out);
  ASSERT_EQ(drbg_generate(&ctx, 0, nullptr, &n, out), 0u);
  EXPECT_EQ(n, 20u);
  EXPECT_EQ(out[20], 0xAA);  // exactly the requested bytes
}

TEST(HashDrbgMechanism, BitLengthsAndHashTypes) {
  hash_drbg_ctx_t st{};
  const uint8_t* e = kEntropy64.data();
  EXPECT_EQ(hash_drbg_instantiate(&st, HASH_TYPE_SHA2_256, 129, e, 0, nullptr, 0, nullptr), 0x0821FF70u);
  EXPECT_EQ(hash_drbg_instantiate(&st, HASH_TYPE_SHAKE128, 256, e, 0, nullptr, 0, nullptr), 0x0821FF75u);
  EXPECT_EQ(hash_drbg_instantiate(&st, HASH_TYPE_KECCAK_256, 256, e, 0, nullptr, 0, nullptr), 0x0821FF75u);
  ASSERT_EQ(hash_drbg_instantiate(&st, HASH_TYPE_SHA2_384, 192, e, 0, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(st.seed_len, 888u);
  uint8_t out[16];
  EXPECT_EQ(hash_drbg_generate(&st, 0, nullptr, 12, out), 0x0822FF70u);
  EXPECT_EQ(hash_drbg_reseed(&st, 191, e, 0, nullptr), 0x0823FF70u);
  EXPECT_EQ(hash_drbg_reseed(&st, 184, e, 0, nullptr), 0x0823FF71u);
  EXPECT_EQ(hash_drbg_uninstantiate(&st), 0u);
  EXPECT_TRUE(all_zero(&st, sizeof st));
  EXPECT_EQ(hash_drbg_generate(&st, 0, nullptr, 128, out), 0x0822FF72u);
  EXPECT_EQ(hash_drbg_reseed(&st, 256, e, 0, nullptr), 0x0823FF72u);

  hmac_drbg_ctx_t hst{};
  EXPECT_EQ(hmac_drbg_instantiate(&hst, HASH_TYPE_RIPEMD, 256, e, 0, nullptr, 0, nullptr), 0x0502FF32u);
  EXPECT_EQ(hmac_drbg_instantiate(&hst, static_cast<hash_type_t>(200), 256, e, 0, nullptr, 0, nullptr),
            0x0502FF33u);
  EXPECT_EQ(hmac_drbg_instantiate(&hst, HASH_TYPE_SHAKE256, 256, e, 0, nullptr, 0, nullptr), 0x0831FF75u);
  EXPECT_EQ(hmac_drbg_instantiate(&hst, HASH_TYPE_SHA2_256, 100, e, 0, nullptr, 0, nullptr), 0x0831FF70u);
  ASSERT_EQ(hmac_drbg_instantiate(&hst, HASH_TYPE_SHA2_512, 256, e, 0, nullptr, 0, nullptr), 0u);
  EXPECT_EQ(hst.out_len, 512u);
  EXPECT_EQ(hmac_drbg_uninstantiate(&hst), 0u);
  EXPECT_TRUE(all_zero(&hst, sizeof hst));
  EXPECT_EQ(hmac_drbg_generate(&hst, 0, nullptr, 128, out), 0x0832FF72u);
}

TEST(HashDrbgMechanism, HashDfOutputLimit) {
  const uint8_t in[4] = {1, 2, 3, 4};
  std::vector<uint8_t> out(255 * 32 + 1);
  EXPECT_EQ(hash_df(HASH_TYPE_SHA2_256, 32, in, 0, nullptr, 0, nullptr, 0, nullptr, 255 * 256, out.data()), 0u);
  EXPECT_EQ(hash_df(HASH_TYPE_SHA2_256, 32, in, 0, nullptr, 0, nullptr, 0, nullptr, 255 * 256 + 8, out.data()),
            0x082AFF32u);
  EXPECT_EQ(hash_df(HASH_TYPE_SHA2_256, 31, in, 0, nullptr, 0, nullptr, 0, nullptr, 256, out.data()), 0x082AFF70u);
}

}  // namespace
