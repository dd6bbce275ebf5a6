// Multi-call runs: the same data in random splits (whole blocks or segments
// per non-final call) gives the output of one call, for every mode, cipher
// family and path, in place or not.
#include <gtest/gtest.h>

#include <random>

#include "cipher_util.h"
#include "quarzel/aes/path_fixture.h"

namespace {

using zt::Bytes;

struct ModeCase {
  cipher_mode_t mode;
  size_t aes_unit, des_unit;  // 0: mode not offered for DES/TDES
  bool any_final_len;         // OFB, CTR, CFB8: any length; ECB/CBC: at least a block
};

constexpr ModeCase kModes[] = {
    {CIPHER_MODE_ECB, 16, 8, false},    {CIPHER_MODE_CBC, 16, 8, false},   {CIPHER_MODE_PCBC, 16, 0, false},
    {CIPHER_MODE_CFB, 16, 8, false},    {CIPHER_MODE_CFB8, 1, 1, true},    {CIPHER_MODE_CFB64, 8, 8, false},
    {CIPHER_MODE_CFB128, 16, 0, false}, {CIPHER_MODE_OFB, 1, 1, true},     {CIPHER_MODE_CTR, 1, 1, true},
};

class Splits : public zt::PathTest {};

TEST_P(Splits, RandomSplitsEqualOneCall) {
  std::mt19937 rng(53);
  for (const auto& m : kModes) {
    for (cipher_type_t type : {CIPHER_TYPE_AES128, CIPHER_TYPE_AES256, CIPHER_TYPE_TDES3}) {
      const bool des = type == CIPHER_TYPE_TDES3;
      const size_t unit = des ? m.des_unit : m.aes_unit;
      if (unit == 0) continue;
      const size_t b = des ? 8 : 16;
      const Bytes key = zt::random_bytes(rng, type == CIPHER_TYPE_AES128 ? 16 : type == CIPHER_TYPE_AES256 ? 32 : 24);
      const Bytes iv = zt::random_bytes(rng, b);
      for (int trial = 0; trial < 12; ++trial) {
        // Final lengths: whole units, or (ECB/CBC) a stolen tail.
        size_t len = unit * (1 + rng() % 40);
        if (m.mode == CIPHER_MODE_ECB || m.mode == CIPHER_MODE_CBC) len = b * (1 + rng() % 20) + rng() % b;
        const Bytes pt = zt::random_bytes(rng, len);
        // Key-stream modes take any update length; the others whole units.
        const size_t split_unit = m.any_final_len ? 1 : (m.mode == CIPHER_MODE_ECB || m.mode == CIPHER_MODE_CBC ? b : unit);
        const auto chunks = zt::random_chunks(rng, len, split_unit, m.any_final_len ? 37 : 5);
        for (cipher_dir_t dir : {CIPHER_DIR_ENC, CIPHER_DIR_DEC}) {
          zt::CipherSetup s{type, m.mode, dir, key, iv};
          const Bytes one = zt::run_onestep(s, pt);
          EXPECT_EQ(zt::run_split(s, pt, chunks), one) << m.mode << " type " << type << " len " << len;
          EXPECT_EQ(zt::run_split(s, pt, chunks, true), one) << "in place";
        }
      }
    }
  }
}

// OFB and CTR over 5 + 30 + 1 bytes equal one call of 36 bytes.
TEST_P(Splits, KeyStreamResidueCarries) {
  std::mt19937 rng(59);
  for (cipher_mode_t mode : {CIPHER_MODE_OFB, CIPHER_MODE_CTR}) {
    const Bytes key = zt::random_bytes(rng, 16), iv = zt::random_bytes(rng, 16), pt = zt::random_bytes(rng, 36);
    zt::CipherSetup s{CIPHER_TYPE_AES128, mode, CIPHER_DIR_ENC, key, iv};
    EXPECT_EQ(zt::run_split(s, pt, {5, 30}), zt::run_onestep(s, pt));
    EXPECT_EQ(zt::run_split(s, pt, {1, 1, 14, 16}), zt::run_onestep(s, pt));
  }
}

ZT_INSTANTIATE_PATHS(Splits);

}  // namespace
