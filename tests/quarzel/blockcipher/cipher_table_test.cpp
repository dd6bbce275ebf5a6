// The one-block routine a key set-up binds, for every cipher type, direction
// and instruction-set path, run alone on a known answer. The AES-NI modes
// reach it only for partial blocks and CFB/OFB/PCBC, so a wrong binding could
// otherwise hide behind their multi-block routines.
#include <gtest/gtest.h>

#include "cipher_util.h"
#include "quarzel/aes.h"
#include "quarzel/aes/path_fixture.h"
#include "quarzel/gcm.h"

namespace {

using zt::Bytes;

struct Kat {
  cipher_type_t type;
  const char* key;
  const char* pt;
  const char* ct;
};

constexpr Kat kKats[] = {
    // FIPS 197 appendix C.
    {CIPHER_TYPE_AES128, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {CIPHER_TYPE_AES192, "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {CIPHER_TYPE_AES256, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    // The classic DES example ("Now is t").
    {CIPHER_TYPE_DES, "0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
    // SP 800-67's three-key example ("The qufc"); its first two keys under
    // OpenSSL's two-key des-ede.
    {CIPHER_TYPE_TDES2, "0123456789abcdef23456789abcdef01", "5468652071756663", "c44862f70cf2fbdc"},
    {CIPHER_TYPE_TDES3, "0123456789abcdef23456789abcdef01456789abcdef0123", "5468652071756663",
     "a826fd8ce53b855f"},
};

bool is_aes(cipher_type_t t) { return t == CIPHER_TYPE_AES128 || t == CIPHER_TYPE_AES192 || t == CIPHER_TYPE_AES256; }

class CipherTable : public zt::PathTest {
 protected:
  // DES and TDES have the portable code only.
  uint32_t accel_of(cipher_type_t t) const {
    return static_cast<uint32_t>(is_aes(t) ? expected_accel() : quarzel::CipherAccel::kPortable);
  }
};

// One block through the context's bound routine and schedule.
template <class Ctx>
std::string run_bound(const Ctx& ctx, const Bytes& in) {
  uint8_t out[16];
  EXPECT_EQ(ctx.fp_algo_calc(0, ctx.key_len, in.data(), ctx.round_key, out), 0u);
  return zt::hex(out, in.size());
}

TEST_P(CipherTable, BlockCipherKeySetupBindsTheFamilyRoutine) {
  struct Binding {
    cipher_mode_t mode;
    cipher_dir_t dir;
    bool decrypts;  // the bound routine is the decryption one
  };
  // ECB and CBC key for the caller's direction; CFB, OFB and CTR always
  // encrypt the register.
  constexpr Binding kBindings[] = {{CIPHER_MODE_ECB, CIPHER_DIR_ENC, false},
                                   {CIPHER_MODE_ECB, CIPHER_DIR_DEC, true},
                                   {CIPHER_MODE_CBC, CIPHER_DIR_DEC, true},
                                   {CIPHER_MODE_CFB8, CIPHER_DIR_DEC, false},
                                   {CIPHER_MODE_OFB, CIPHER_DIR_DEC, false},
                                   {CIPHER_MODE_CTR, CIPHER_DIR_ENC, false}};
  for (const Kat& k : kKats) {
    const Bytes key = zt::unhex(k.key), pt = zt::unhex(k.pt), ct = zt::unhex(k.ct);
    const Bytes iv(pt.size(), 0);
    for (const Binding& b : kBindings) {
      SCOPED_TRACE(testing::Message() << "type " << k.type << " mode " << b.mode << " dir " << b.dir);
      blockcipher_ctx_t ctx;
      ASSERT_EQ(blockcipher_init(&ctx, k.type, b.mode, b.dir, static_cast<uint32_t>(key.size()), key.data(),
                                 static_cast<uint32_t>(iv.size()), iv.data()),
                0u);
      EXPECT_EQ(ctx.accel, accel_of(k.type));
      EXPECT_EQ(run_bound(ctx, b.decrypts ? ct : pt), b.decrypts ? k.pt : k.ct);
    }
  }
}

TEST_P(CipherTable, GcmKeySetupBindsTheEncryptionRoutine) {
  for (const Kat& k : kKats) {
    SCOPED_TRACE(testing::Message() << "type " << k.type);
    const Bytes key = zt::unhex(k.key);
    gcm_ctx_t ctx;
    ASSERT_EQ(gcm_key_setup(&ctx, k.type, static_cast<uint32_t>(key.size()), key.data()), 0u);
    EXPECT_EQ(ctx.accel, accel_of(k.type));
    EXPECT_EQ(run_bound(ctx, zt::unhex(k.pt)), k.ct);
  }
}

ZT_INSTANTIATE_PATHS(CipherTable);

}  // namespace
