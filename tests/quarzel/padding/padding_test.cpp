#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quarzel/padding.h"
#include "quarzel/testing.h"
#include "support/hex.h"

namespace {

using zt::Bytes;

constexpr quarzel_ret_t kPadShape = 0x0101FF3C, kPadMethod = 0x0101FF3E, kPadSmall = 0x0101FF39,
                        kPadNull = 0x0101FF05, kPadRandom = 0x0101FF04;
constexpr quarzel_ret_t kUnShape = 0x0102FF3C, kUnMethod = 0x0102FF3E, kUnSmall = 0x0102FF39,
                        kUnNull = 0x0102FF05, kUnBad = 0x0102FF3F;

constexpr cipher_padding_t kAllMethods[] = {
    CIPHER_PADDING_NONE,        CIPHER_PADDING_ZERO_BYTES,  CIPHER_PADDING_PKCS_7,
    CIPHER_PADDING_PKCS_5,      CIPHER_PADDING_ANSI_X9_23,  CIPHER_PADDING_ISO_78164,
    CIPHER_PADDING_ISO_97971_1, CIPHER_PADDING_ISO_97971_2, CIPHER_PADDING_ISO_97971_3,
    CIPHER_PADDING_ISO_10126,   CIPHER_PADDING_TBC};

// Pads into an exactly sized heap buffer (so ASan sees any overrun).
quarzel_ret_t pad(cipher_padding_t m, uint32_t b, const Bytes& in, Bytes& out) {
  uint32_t len = 0;
  quarzel_ret_t r = blockcipher_padding(m, b, static_cast<uint32_t>(in.size()), in.data(), &len, nullptr);
  if (r != kPadSmall && r != 0) return r;
  out.assign(len, 0xAA);
  uint8_t dummy = 0;
  return blockcipher_padding(m, b, static_cast<uint32_t>(in.size()), in.data(), &len,
                             out.empty() ? &dummy : out.data());
}

// Unpads from an exactly sized heap copy of the input.
quarzel_ret_t unpad(cipher_padding_t m, uint32_t b, const Bytes& in, Bytes& out) {
  auto* copy = new uint8_t[in.size() == 0 ? 1 : in.size()];
  if (!in.empty()) std::memcpy(copy, in.data(), in.size());
  out.assign(in.size(), 0xAA);
  uint32_t len = static_cast<uint32_t>(out.size());
  uint8_t dummy = 0;
  quarzel_ret_t r = blockcipher_unpadding(m, b, static_cast<uint32_t>(in.size()), copy, &len,
                                          out.empty() ? &dummy : out.data());
  delete[] copy;
  if (r == 0) out.resize(len);
  return r;
}

struct Known {
  cipher_padding_t method;
  uint32_t block;
  const char* data;
  const char* padded;
};

TEST(Padding, KnownPaddedBytes) {
  const Known cases[] = {
      {CIPHER_PADDING_PKCS_7, 16, "", "10101010101010101010101010101010"},
      {CIPHER_PADDING_PKCS_7, 16, "00112233445566778899aabbccddeeff",
       "00112233445566778899aabbccddeeff10101010101010101010101010101010"},
      {CIPHER_PADDING_PKCS_7, 8, "0102030405", "0102030405030303"},
      {CIPHER_PADDING_PKCS_5, 8, "01020304050607", "0102030405060701"},
      {CIPHER_PADDING_ZERO_BYTES, 8, "010203", "0102030000000000"},
      {CIPHER_PADDING_ZERO_BYTES, 4, "01020304", "0102030400000000"},
      {CIPHER_PADDING_ANSI_X9_23, 8, "010203", "0102030000000005"},
      {CIPHER_PADDING_ANSI_X9_23, 8, "", "0000000000000008"},
      {CIPHER_PADDING_ISO_78164, 8, "010203", "0102038000000000"},
      {CIPHER_PADDING_ISO_78164, 4, "01020304", "0102030480000000"},
      {CIPHER_PADDING_ISO_97971_2, 8, "01020304050607", "0102030405060780"},
      {CIPHER_PADDING_ISO_97971_1, 16, "00112233445566778899aabbccddeeff",
       "00112233445566778899aabbccddeeff"},
      {CIPHER_PADDING_ISO_97971_1, 8, "0102", "0102000000000000"},
      {CIPHER_PADDING_ISO_97971_1, 8, "", ""},
      {CIPHER_PADDING_ISO_97971_3, 16, "010203",
       "0000000000000000000000000000001801020300000000000000000000000000"},
      {CIPHER_PADDING_ISO_97971_3, 8, "", "0000000000000000"},
      {CIPHER_PADDING_ISO_97971_3, 5, "0102030405", "00000000280102030405"},
      {CIPHER_PADDING_TBC, 8, "0102", "0102ffffffffffff"},
      {CIPHER_PADDING_TBC, 8, "0103", "0103000000000000"},
      {CIPHER_PADDING_TBC, 4, "02020202", "02020202ffffffff"},
      {CIPHER_PADDING_TBC, 4, "", "ffffffff"},  // empty data: as after a clear bit
      {CIPHER_PADDING_NONE, 8, "0102030405", "0102030405"},
      {CIPHER_PADDING_NONE, 8, "", ""},
  };
  for (const Known& c : cases) {
    SCOPED_TRACE(std::to_string(c.method) + "/" + std::to_string(c.block) + "/" + c.data);
    Bytes out;
    ASSERT_EQ(pad(c.method, c.block, zt::unhex(c.data), out), 0u);
    EXPECT_EQ(zt::hex(out), c.padded);
    if (out.empty() || out.size() % c.block != 0) continue;  // nothing unpaddable
    Bytes back;
    ASSERT_EQ(unpad(c.method, c.block, out, back), 0u);
    EXPECT_EQ(zt::hex(back), c.data);
  }
}

TEST(Padding, Iso10126HasRandomFillAndLengthByte) {
  const Bytes data = zt::unhex("010203");
  Bytes a, b;
  ASSERT_EQ(pad(CIPHER_PADDING_ISO_10126, 16, data, a), 0u);
  ASSERT_EQ(pad(CIPHER_PADDING_ISO_10126, 16, data, b), 0u);
  ASSERT_EQ(a.size(), 16u);
  EXPECT_EQ(a[15], 13);
  EXPECT_EQ(zt::hex(a.data(), 3), "010203");
  EXPECT_NE(zt::hex(a), zt::hex(b));  // 12 random bytes differ with certainty in practice
}

// Every method, several block sizes and every length up to two blocks and a
// bit: pad, check the shape, unpad back.
TEST(Padding, RoundTripsEveryMethod) {
  std::mt19937 rng(7);
  for (cipher_padding_t m : kAllMethods) {
    for (uint32_t b : {2u, 3u, 5u, 8u, 16u, 255u}) {
      if (m == CIPHER_PADDING_PKCS_5 && b != 8) continue;
      if (m == CIPHER_PADDING_ISO_97971_3 && b < 5) continue;
      for (uint32_t len = 0; len <= 2 * b + 1; ++len) {
        SCOPED_TRACE(std::to_string(m) + "/" + std::to_string(b) + "/" + std::to_string(len));
        Bytes data(len);
        for (auto& x : data) x = static_cast<uint8_t>(rng());
        // Zero-fill methods cannot tell data zeros from fill zeros.
        if ((m == CIPHER_PADDING_ZERO_BYTES || m == CIPHER_PADDING_ISO_97971_1) && len > 0)
          data.back() |= 1;
        Bytes padded;
        ASSERT_EQ(pad(m, b, data, padded), 0u);
        if (m == CIPHER_PADDING_NONE) {
          EXPECT_EQ(padded, data);
          continue;
        }
        ASSERT_EQ(padded.size() % b, 0u);
        if (padded.empty()) continue;  // ISO 9797-1 method 1 of empty data
        Bytes back;
        ASSERT_EQ(unpad(m, b, padded, back), 0u);
        EXPECT_EQ(back, data);
      }
    }
  }
}

TEST(Padding, PadsAndUnpadsInPlace) {
  for (cipher_padding_t m : {CIPHER_PADDING_PKCS_7, CIPHER_PADDING_ISO_97971_3, CIPHER_PADDING_TBC}) {
    Bytes buf(48, 0);
    const Bytes data = zt::unhex("0102030405060708090a");
    std::copy(data.begin(), data.end(), buf.begin());
    uint32_t len = 48;
    ASSERT_EQ(blockcipher_padding(m, 16, 10, buf.data(), &len, buf.data()), 0u);
    uint32_t out_len = 48;
    ASSERT_EQ(blockcipher_unpadding(m, 16, len, buf.data(), &out_len, buf.data()), 0u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + out_len), data);
  }
}

struct Bad {
  cipher_padding_t method;
  uint32_t block;
  const char* padded;
};

TEST(Unpadding, RefusesBadFill) {
  const Bad cases[] = {
      {CIPHER_PADDING_PKCS_7, 16, "00000000000000000000000000000000"},
      {CIPHER_PADDING_PKCS_7, 16, "11111111111111111111111111111111"},
      {CIPHER_PADDING_PKCS_7, 16, "00000000000000000000000000030203"},
      {CIPHER_PADDING_PKCS_7, 8, "0808080808080807"},
      {CIPHER_PADDING_PKCS_7, 8, "0708080808080808"},
      {CIPHER_PADDING_PKCS_7, 8, "0000000000000009"},
      {CIPHER_PADDING_PKCS_5, 8, "0102030405060700"},
      {CIPHER_PADDING_ANSI_X9_23, 8, "0000000001000005"},
      {CIPHER_PADDING_ANSI_X9_23, 8, "0000000000000009"},
      {CIPHER_PADDING_ANSI_X9_23, 8, "0000000000000000"},
      {CIPHER_PADDING_ISO_78164, 8, "0102030405060700"},
      {CIPHER_PADDING_ISO_78164, 8, "0000000000000000"},
      {CIPHER_PADDING_ISO_78164, 8, "8000000000000000" "0000000000000000"},  // 0x80 a block back
      {CIPHER_PADDING_ISO_78164, 8, "0102038000000001"},
      {CIPHER_PADDING_ISO_97971_2, 4, "01020381"},
      {CIPHER_PADDING_ZERO_BYTES, 4, "01020304"},
      {CIPHER_PADDING_ISO_10126, 8, "0102030405060700"},
      {CIPHER_PADDING_ISO_10126, 8, "0102030405060709"},
      {CIPHER_PADDING_TBC, 4, "01020304"},
      {CIPHER_PADDING_TBC, 4, "0103ffff"},        // fill 0xFF after a set bit
      {CIPHER_PADDING_TBC, 4, "01ffffff" "ffffffff"},  // the same across a block
      {CIPHER_PADDING_TBC, 4, "00000000"},        // all 0x00: no data byte with a set bit
      // ISO/IEC 9797-1 method 3: length beyond the data, non-zero tail, bits in
      // the reserved places of the length field.
      {CIPHER_PADDING_ISO_97971_3, 8, "0000000000000048" "0102030405060708"},
      {CIPHER_PADDING_ISO_97971_3, 8, "0000000000000018" "0102030405060708"},
      {CIPHER_PADDING_ISO_97971_3, 8, "0000000000000019" "0102030000000000"},
      {CIPHER_PADDING_ISO_97971_3, 8, "0000000800000018" "0102030000000000"},
      {CIPHER_PADDING_ISO_97971_3, 8, "0001000000000018" "0102030000000000"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(std::to_string(c.method) + "/" + c.padded);
    Bytes out;
    EXPECT_EQ(unpad(c.method, c.block, zt::unhex(c.padded), out), kUnBad);
  }
}

TEST(Unpadding, AcceptsEdgeFills) {
  Bytes out;
  ASSERT_EQ(unpad(CIPHER_PADDING_ANSI_X9_23, 8, zt::unhex("0000000000000008"), out), 0u);
  EXPECT_TRUE(out.empty());
  // Zero-fill methods lose data zeros; method 1 of ISO 9797-1 accepts no fill.
  ASSERT_EQ(unpad(CIPHER_PADDING_ZERO_BYTES, 4, zt::unhex("01000000"), out), 0u);
  EXPECT_EQ(zt::hex(out), "01");
  ASSERT_EQ(unpad(CIPHER_PADDING_ISO_97971_1, 4, zt::unhex("01020304"), out), 0u);
  EXPECT_EQ(zt::hex(out), "01020304");
  ASSERT_EQ(unpad(CIPHER_PADDING_ISO_97971_1, 4, zt::unhex("00000000"), out), 0u);
  EXPECT_TRUE(out.empty());
  // ISO 10126 examines only the length byte.
  ASSERT_EQ(unpad(CIPHER_PADDING_ISO_10126, 8, zt::unhex("01029a7b3c4d5e06"), out), 0u);
  EXPECT_EQ(zt::hex(out), "0102");
  // TBC: a whole block of 0x00 after a data block ending in a set bit, and a
  // one-block input of 0xFF (the padding of empty data).
  ASSERT_EQ(unpad(CIPHER_PADDING_TBC, 4, zt::unhex("0102030500000000"), out), 0u);
  EXPECT_EQ(zt::hex(out), "01020305");
  ASSERT_EQ(unpad(CIPHER_PADDING_TBC, 4, zt::unhex("ffffffff"), out), 0u);
  EXPECT_TRUE(out.empty());
  // ISO/IEC 9797-1 method 3 with a length of zero bits.
  ASSERT_EQ(unpad(CIPHER_PADDING_ISO_97971_3, 8, zt::unhex("0000000000000000"), out), 0u);
  EXPECT_TRUE(out.empty());
}

TEST(Padding, RefusesBlockSizesAndMethods) {
  const Bytes data = zt::unhex("0102030405060708");
  Bytes out;
  for (uint32_t b : {0u, 1u, 256u, 1000u}) {
    EXPECT_EQ(pad(CIPHER_PADDING_PKCS_7, b, data, out), kPadShape) << b;
    EXPECT_EQ(unpad(CIPHER_PADDING_PKCS_7, b, data, out), kUnShape) << b;
  }
  EXPECT_EQ(pad(CIPHER_PADDING_PKCS_5, 16, data, out), kPadShape);
  EXPECT_EQ(unpad(CIPHER_PADDING_PKCS_5, 16, zt::unhex("10101010101010101010101010101010"), out),
            kUnShape);
  for (auto m : {CIPHER_PADDING_UNDEFINED, static_cast<cipher_padding_t>(12),
                 static_cast<cipher_padding_t>(0xFFFFFFFF)}) {
    EXPECT_EQ(pad(m, 8, data, out), kPadMethod);
    EXPECT_EQ(unpad(m, 8, data, out), kUnMethod);
  }
  // The 40-bit length field of ISO/IEC 9797-1 method 3 needs five bytes.
  for (uint32_t b : {2u, 3u, 4u}) {
    EXPECT_EQ(pad(CIPHER_PADDING_ISO_97971_3, b, data, out), kPadShape) << b;
    EXPECT_EQ(unpad(CIPHER_PADDING_ISO_97971_3, b, data, out), kUnShape) << b;
  }
}

TEST(Unpadding, RefusesInputShape) {
  Bytes out;
  EXPECT_EQ(unpad(CIPHER_PADDING_NONE, 8, zt::unhex("0102030405"), out), kUnShape);
  EXPECT_EQ(unpad(CIPHER_PADDING_PKCS_7, 8, zt::unhex("01020304050607080101"), out), kUnShape);
  uint32_t len = 8;
  uint8_t buf[8] = {};
  EXPECT_EQ(blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 8, 0, buf, &len, buf), kUnShape);
}

TEST(Padding, OutputTooSmallReportsNeededLengthAndWritesNothing) {
  const Bytes data = zt::unhex("0102030405");
  uint8_t out[16];
  std::memset(out, 0xAA, sizeof out);
  uint32_t len = 7;
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 8, 5, data.data(), &len, out), kPadSmall);
  EXPECT_EQ(len, 8u);
  EXPECT_EQ(out[0], 0xAA);

  const Bytes padded = zt::unhex("0102030405030303");
  len = 4;
  EXPECT_EQ(blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 8, 8, padded.data(), &len, out), kUnSmall);
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(out[0], 0xAA);
}

// Output pointers are needed whenever output is produced, also for empty data
// (which still gets a fill).
TEST(Padding, RefusesNullPointers) {
  const Bytes data = zt::unhex("01");
  uint8_t out[16];
  uint32_t len = 16;
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 8, 1, nullptr, &len, out), kPadNull);
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 8, 1, data.data(), nullptr, out), kPadNull);
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 8, 1, data.data(), &len, nullptr), kPadNull);
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 8, 0, nullptr, &len, nullptr), kPadNull);
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 8, 0, nullptr, nullptr, out), kPadNull);
  // Nothing to write: no output pointer needed.
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_NONE, 8, 0, nullptr, nullptr, nullptr), 0u);
  len = 5;
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_ISO_97971_1, 8, 0, nullptr, &len, nullptr), 0u);
  EXPECT_EQ(len, 0u);

  const Bytes padded = zt::unhex("0102030405030303");
  EXPECT_EQ(blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 8, 8, nullptr, &len, out), kUnNull);
  EXPECT_EQ(blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 8, 8, padded.data(), nullptr, out), kUnNull);
  len = 16;
  EXPECT_EQ(blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 8, 8, padded.data(), &len, nullptr), kUnNull);
  // An all-fill block yields no data, so no output buffer is needed.
  const Bytes fill = zt::unhex("0808080808080808");
  EXPECT_EQ(blockcipher_unpadding(CIPHER_PADDING_PKCS_7, 8, 8, fill.data(), &len, nullptr), 0u);
  EXPECT_EQ(len, 0u);
}

TEST(Padding, RefusesOutputLongerThan32Bits) {
  // Refused before the data is read, so a one-byte buffer is enough.
  uint8_t in[1] = {0};
  uint8_t out[1];
  uint32_t len = 1;
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_PKCS_7, 16, 0xFFFFFFFFu, in, &len, out), kPadShape);
  EXPECT_EQ(blockcipher_padding(CIPHER_PADDING_ISO_97971_3, 16, 0xFFFFFFF0u, in, &len, out), kPadShape);
}

uint32_t failing_source(uint8_t*, uint32_t) { return 1; }

TEST(Padding, Iso10126ReportsRandomSourceFailure) {
  quarzel::testing::set_random_source(failing_source);
  const Bytes data = zt::unhex("0102");
  uint8_t out[8];
  std::memset(out, 0xAA, sizeof out);
  uint32_t len = 8;
  const quarzel_ret_t r = blockcipher_padding(CIPHER_PADDING_ISO_10126, 8, 2, data.data(), &len, out);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_EQ(r, kPadRandom);
  EXPECT_EQ(out[0], 0xAA);
  // A fill of one byte needs no random bytes.
  quarzel::testing::set_random_source(failing_source);
  const Bytes seven = zt::unhex("01020304050607");
  const quarzel_ret_t r2 = blockcipher_padding(CIPHER_PADDING_ISO_10126, 8, 7, seven.data(), &len, out);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_EQ(r2, 0u);
  EXPECT_EQ(zt::hex(out, 8), "0102030405060701");
}

}  // namespace
