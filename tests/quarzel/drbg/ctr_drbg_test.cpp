// CTR_DRBG specifics: inputs without the derivation function, additional
// input presence, TDES key parity, mechanism-level refusals.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "quarzel/drbg.h"
#include "support/hex.h"

namespace {

using zt::Bytes;

const Bytes kSeed = [] {
  Bytes b(64);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(7 * i + 3);
  return b;
}();
const Bytes kInput = Bytes(80, 0x3C);

Bytes gen(drbg_ctx_t& ctx, uint32_t n, uint32_t addin_len, const uint8_t* addin, quarzel_ret_t want = 0) {
  Bytes out(n);
  EXPECT_EQ(drbg_generate(&ctx, addin_len, addin, &n, out.data()), want);
  return out;
}

struct NoDf {
  drbg_type_t type;
  uint32_t seed_len;
};
const NoDf kNoDf[] = {{DRBG_TYPE_CTR_AES_128_NO_DF, 32},
                      {DRBG_TYPE_CTR_AES_192_NO_DF, 40},
                      {DRBG_TYPE_CTR_AES_256_NO_DF, 48},
                      {DRBG_TYPE_CTR_TDES_NO_DF, 29}};

// Without df the personalisation string and additional input are XORed into
// seedlen bytes; longer ones used to overflow the seed buffer.
TEST(CtrDrbg, NoDfRefusesInputsLongerThanSeedLength) {
  for (const NoDf& t : kNoDf) {
    SCOPED_TRACE(t.type);
    drbg_ctx_t ctx;
    EXPECT_EQ(drbg_instantiate(&ctx, t.type, t.seed_len, kSeed.data(), 0, nullptr, t.seed_len + 1, kInput.data()),
              0x0841FF71u);
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);
    EXPECT_EQ(drbg_instantiate(&ctx, t.type, t.seed_len, kSeed.data(), 0, nullptr, 80, kInput.data()),
              0x0841FF71u);
    ASSERT_EQ(drbg_instantiate(&ctx, t.type, t.seed_len, kSeed.data(), 0, nullptr, t.seed_len, kInput.data()), 0u);
    gen(ctx, 16, t.seed_len, kInput.data());
    gen(ctx, 16, t.seed_len + 1, kInput.data(), 0x0842FF71u);
    EXPECT_EQ(ctx.state, DRBG_STATE_ERROR);

    ASSERT_EQ(drbg_instantiate(&ctx, t.type, t.seed_len, kSeed.data(), 0, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(drbg_reseed(&ctx, t.seed_len, kSeed.data(), t.seed_len, kInput.data()), 0u);
    EXPECT_EQ(drbg_reseed(&ctx, t.seed_len, kSeed.data(), t.seed_len + 1, kInput.data()), 0x0843FF71u);
    ASSERT_EQ(drbg_instantiate(&ctx, t.type, t.seed_len, kSeed.data(), 0, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(drbg_reseed(&ctx, t.seed_len - 1, kSeed.data(), 0, nullptr), 0x0843FF71u);
  }
}

// With df the inputs go through Block_Cipher_df and may be long.
TEST(CtrDrbg, WithDfTakesLongInputs) {
  drbg_ctx_t ctx;
  const Bytes perso(1000, 0x42);
  ASSERT_EQ(drbg_instantiate(&ctx, DRBG_TYPE_CTR_AES_256_WITH_DF, 32, kSeed.data(), 16, kSeed.data(),
                             static_cast<uint32_t>(perso.size()), perso.data()),
            0u);
  gen(ctx, 64, static_cast<uint32_t>(perso.size()), perso.data());
}

// SP 800-90A treats an empty additional input as Null: a non-null pointer with
// length 0 must not run an extra update.
TEST(CtrDrbg, AdditionalInputPresenceGoesByLength) {
  const uint8_t some = 0x77;
  for (drbg_type_t type : {DRBG_TYPE_CTR_AES_256_NO_DF, DRBG_TYPE_CTR_AES_128_WITH_DF, DRBG_TYPE_CTR_TDES_NO_DF,
                           DRBG_TYPE_CTR_TDES_WITH_DF}) {
    SCOPED_TRACE(type);
    const uint32_t entropy = type == DRBG_TYPE_CTR_AES_256_NO_DF ? 48 : type == DRBG_TYPE_CTR_TDES_NO_DF ? 29 : 32;
    drbg_ctx_t a, b;
    ASSERT_EQ(drbg_instantiate(&a, type, entropy, kSeed.data(), 0, nullptr, 0, nullptr), 0u);
    ASSERT_EQ(drbg_instantiate(&b, type, entropy, kSeed.data(), 0, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(gen(a, 40, 0, nullptr), gen(b, 40, 0, &some));
    ASSERT_EQ(drbg_reseed(&a, entropy, kSeed.data(), 0, nullptr), 0u);
    ASSERT_EQ(drbg_reseed(&b, entropy, kSeed.data(), 0, &some), 0u);
    EXPECT_EQ(gen(a, 40, 0, nullptr), gen(b, 40, 0, &some));
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    // Real additional input does change the stream.
    EXPECT_NE(gen(a, 40, 1, &some), gen(b, 40, 0, &some));
  }
}

bool odd_parity(const uint8_t* key, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (std::popcount(static_cast<unsigned>(key[i])) % 2 != 1) return false;
  return true;
}

TEST(CtrDrbg, TdesKeyHasOddParityAfterEveryUpdate) {
  for (drbg_type_t type : {DRBG_TYPE_CTR_TDES_WITH_DF, DRBG_TYPE_CTR_TDES_NO_DF}) {
    drbg_ctx_t ctx;
    const uint32_t entropy = type == DRBG_TYPE_CTR_TDES_NO_DF ? 29 : 14;
    ASSERT_EQ(drbg_instantiate(&ctx, type, entropy, kSeed.data(), 0, nullptr, 0, nullptr), 0u);
    const ctr_drbg_ctx_t& st = ctx.subctx.ctr;
    EXPECT_EQ(st.key_len, 24u);
    EXPECT_EQ(st.v_len, 8u);
    EXPECT_EQ(st.seed_len, 29u);
    EXPECT_EQ(st.ctr_bit_len, 64u);
    EXPECT_TRUE(odd_parity(st.key, 24));
    for (int i = 0; i < 8; ++i) {
      gen(ctx, 20 + i, i % 2, kInput.data());
      EXPECT_TRUE(odd_parity(st.key, 24)) << i;
    }
    ASSERT_EQ(drbg_reseed(&ctx, entropy, kSeed.data() + 1, 3, kInput.data()), 0u);
    EXPECT_TRUE(odd_parity(st.key, 24));
  }
}

TEST(CtrDrbg, ParametersPerCipher) {
  struct P {
    drbg_type_t type;
    uint32_t entropy, v_len, key_len, seed_len;
  };
  for (const P& p : {P{DRBG_TYPE_CTR_AES_128_WITH_DF, 16, 16, 16, 32}, P{DRBG_TYPE_CTR_AES_192_WITH_DF, 24, 16, 24, 40},
                     P{DRBG_TYPE_CTR_AES_256_WITH_DF, 32, 16, 32, 48}}) {
    drbg_ctx_t ctx;
    ASSERT_EQ(drbg_instantiate(&ctx, p.type, p.entropy, kSeed.data(), 0, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(ctx.subctx.ctr.v_len, p.v_len);
    EXPECT_EQ(ctx.subctx.ctr.key_len, p.key_len);
    EXPECT_EQ(ctx.subctx.ctr.seed_len, p.seed_len);
    EXPECT_EQ(ctx.subctx.ctr.ctr_bit_len, 128u);
    EXPECT_EQ(ctx.subctx.ctr.df, CTR_DRBG_WITH_DF);
  }
}

TEST(CtrDrbgMechanism, RefusalsAndUninstantiate) {
  ctr_drbg_ctx_t st{};
  const uint8_t* e = kSeed.data();
  EXPECT_EQ(ctr_drbg_instantiate(&st, CIPHER_TYPE_AES128, static_cast<ctr_drbg_df_t>(2), 256, e, 0, nullptr, 0,
                                 nullptr),
            0x0841FF32u);
  EXPECT_EQ(ctr_drbg_instantiate(&st, CIPHER_TYPE_DES, CTR_DRBG_WITH_DF, 256, e, 0, nullptr, 0, nullptr),
            0x0841FF76u);
  EXPECT_EQ(ctr_drbg_instantiate(&st, CIPHER_TYPE_TDES2, CTR_DRBG_WITH_DF, 256, e, 0, nullptr, 0, nullptr),
            0x0841FF76u);
  EXPECT_EQ(ctr_drbg_instantiate(&st, CIPHER_TYPE_AES128, CTR_DRBG_WITH_DF, 255, e, 0, nullptr, 0, nullptr),
            0x0841FF70u);
  EXPECT_EQ(ctr_drbg_instantiate(&st, CIPHER_TYPE_AES128, CTR_DRBG_WITH_DF, 256, nullptr, 0, nullptr, 0, nullptr),
            0x0841FF05u);
  // Without df the nonce is ignored, so a null one is fine.
  ASSERT_EQ(ctr_drbg_instantiate(&st, CIPHER_TYPE_AES128, CTR_DRBG_NO_DF, 256, e, 64, nullptr, 0, nullptr), 0u);
  uint8_t out[32];
  EXPECT_EQ(ctr_drbg_generate(&st, 0, nullptr, 100, out), 0x0842FF70u);
  EXPECT_EQ(ctr_drbg_generate(&st, 0, nullptr, 8200, out), 0x0842FF71u);
  EXPECT_EQ(ctr_drbg_generate(&st, 0, nullptr, 0, out), 0x0842FF71u);
  EXPECT_EQ(ctr_drbg_generate(&st, 0, nullptr, 256, nullptr), 0x0842FF05u);
  EXPECT_EQ(ctr_drbg_generate(&st, 8, nullptr, 256, out), 0x0842FF05u);
  EXPECT_EQ(ctr_drbg_generate(&st, 0, nullptr, 256, out), 0u);
  uint8_t seed[32] = {};
  EXPECT_EQ(block_cipher_df(&st, 8, seed, 0, nullptr, 0, nullptr, 31, out), 0x084AFF71u);
  EXPECT_EQ(block_cipher_df(&st, 7, seed, 0, nullptr, 0, nullptr, 32, out), 0x084AFF70u);
  EXPECT_EQ(ctr_drbg_uninstantiate(&st), 0u);
  for (size_t i = 0; i < sizeof st; ++i) ASSERT_EQ(reinterpret_cast<const uint8_t*>(&st)[i], 0) << i;
  EXPECT_EQ(ctr_drbg_generate(&st, 0, nullptr, 256, out), 0x0842FF72u);
  EXPECT_EQ(ctr_drbg_reseed(&st, 256, e, 0, nullptr), 0x0843FF72u);
}

}  // namespace
