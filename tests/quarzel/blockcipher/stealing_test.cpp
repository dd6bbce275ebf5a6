// Ciphertext stealing of final ECB and CBC calls.
#include <gtest/gtest.h>

#include <random>

#include "cipher_util.h"
#include "quarzel/aes/path_fixture.h"

namespace {

using zt::Bytes;

// RFC 3962 appendix B (AES-128, key "chicken teriyaki", zero IV). Its CS3
// order equals CS2 whenever the last block is partial.
struct Rfc3962Case {
  const char* pt;
  const char* ct;
};
constexpr Rfc3962Case kRfc3962[] = {
    {"4920776f756c64206c696b652074686520", "c6353568f2bf8cb4d8a580362da7ff7f97"},
    {"4920776f756c64206c696b65207468652047656e6572616c20476175277320",
     "fc00783e0efdb2c1d445d4c8eff7ed2297687268d6ecccc0c07b25e25ecfe5"},
    {"4920776f756c64206c696b65207468652047656e6572616c20476175277320436869636b656e2c20706c656173652c",
     "97687268d6ecccc0c07b25e25ecfe584b3fffd940c16a18c1b5549d2f838029e39312523a78662d5be7fcbcc98ebf5"},
};

class Stealing : public zt::PathTest {};

TEST_P(Stealing, CbcMatchesRfc3962) {
  for (const auto& c : kRfc3962) {
    const Bytes pt = zt::unhex(c.pt);
    zt::CipherSetup s{CIPHER_TYPE_AES128, CIPHER_MODE_CBC, CIPHER_DIR_ENC, zt::ascii("chicken teriyaki"),
                      Bytes(16, 0)};
    EXPECT_EQ(zt::hex(zt::run_onestep(s, pt)), c.ct);
    // The same with the whole blocks in an update call first.
    const std::vector<size_t> chunks = pt.size() > 32 ? std::vector<size_t>{16} : std::vector<size_t>{};
    EXPECT_EQ(zt::hex(zt::run_split(s, pt, chunks)), c.ct);
    s.dir = CIPHER_DIR_DEC;
    EXPECT_EQ(zt::run_onestep(s, zt::unhex(c.ct)), pt);
    EXPECT_EQ(zt::run_split(s, zt::unhex(c.ct), chunks, true), pt);
  }
}

// ECB: C(n-1) = E(P(n) || tail of E(P(n-1))), then the head of E(P(n-1)).
TEST_P(Stealing, EcbLayoutAndRoundTrip) {
  std::mt19937 rng(3);
  for (cipher_type_t type : {CIPHER_TYPE_AES256, CIPHER_TYPE_TDES3}) {
    const size_t b = type == CIPHER_TYPE_AES256 ? 16 : 8;
    const Bytes key = zt::random_bytes(rng, type == CIPHER_TYPE_AES256 ? 32 : 24);
    for (size_t len = b + 1; len < 4 * b; ++len) {
      if (len % b == 0) continue;
      const Bytes pt = zt::random_bytes(rng, len);
      zt::CipherSetup s{type, CIPHER_MODE_ECB, CIPHER_DIR_ENC, key, {}};
      const Bytes ct = zt::run_onestep(s, pt);
      const size_t t = len % b, off = len - t - b;
      // Expected layout from plain one-block ECB calls.
      const Bytes x = zt::run_onestep(s, Bytes(pt.begin() + off, pt.begin() + off + b));
      Bytes last(pt.begin() + off + b, pt.end());
      last.insert(last.end(), x.begin() + t, x.end());
      const Bytes c_full = zt::run_onestep(s, last);
      EXPECT_EQ(Bytes(ct.begin() + off, ct.begin() + off + b), c_full);
      EXPECT_EQ(Bytes(ct.begin() + off + b, ct.end()), Bytes(x.begin(), x.begin() + t));
      s.dir = CIPHER_DIR_DEC;
      EXPECT_EQ(zt::run_onestep(s, ct), pt) << len;
    }
  }
}

// CS2 layout for every tail length, against plain CBC of the zero-padded data.
TEST_P(Stealing, CbcCs2LayoutAllTails) {
  std::mt19937 rng(5);
  for (cipher_type_t type : {CIPHER_TYPE_AES128, CIPHER_TYPE_TDES2}) {
    const size_t b = type == CIPHER_TYPE_AES128 ? 16 : 8;
    const Bytes key = zt::random_bytes(rng, 16), iv = zt::random_bytes(rng, b);
    for (size_t len = b + 1; len < 4 * b; ++len) {
      if (len % b == 0) continue;
      const Bytes pt = zt::random_bytes(rng, len);
      zt::CipherSetup s{type, CIPHER_MODE_CBC, CIPHER_DIR_ENC, key, iv};
      Bytes padded = pt;
      padded.resize((len / b + 1) * b, 0);
      const Bytes full = zt::run_onestep(s, padded);
      const size_t t = len % b, off = len - t - b;
      Bytes expect(full.begin(), full.begin() + off);
      expect.insert(expect.end(), full.begin() + off + b, full.end());             // last block, whole
      expect.insert(expect.end(), full.begin() + off, full.begin() + off + t);     // head of the one before
      EXPECT_EQ(zt::run_onestep(s, pt), expect) << len;
      s.dir = CIPHER_DIR_DEC;
      EXPECT_EQ(zt::run_onestep(s, expect), pt) << len;
    }
  }
}

ZT_INSTANTIATE_PATHS(Stealing);

}  // namespace
