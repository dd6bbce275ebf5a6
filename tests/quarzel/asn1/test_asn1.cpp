// DER header reader and length encoder.
#include <gtest/gtest.h>

#include <vector>

#include "quarzel/asn1.h"
#include "support/hex.h"

using zt::Bytes;

TEST(Asn1LenByte, SizesAndBytes) {
  struct Case {
    uint32_t len;
    Bytes want;
  } cases[] = {{0, {0x00}},
               {127, {0x7F}},
               {128, {0x81, 0x80}},
               {255, {0x81, 0xFF}},
               {256, {0x82, 0x01, 0x00}},
               {0xFFFF, {0x82, 0xFF, 0xFF}},
               {0x10000, {0x83, 0x01, 0x00, 0x00}},
               {0x1000000, {0x84, 0x01, 0x00, 0x00, 0x00}},
               {0xFFFFFFFF, {0x84, 0xFF, 0xFF, 0xFF, 0xFF}}};
  for (const auto& c : cases) {
    uint32_t size = 0;
    ASSERT_EQ(0, asn1_cal_len_byte(c.len, &size, nullptr));
    EXPECT_EQ(c.want.size(), size);
    Bytes out(5, 0xEE);
    uint32_t cap = 5;
    ASSERT_EQ(0, asn1_cal_len_byte(c.len, &cap, out.data()));
    EXPECT_EQ(c.want, Bytes(out.begin(), out.begin() + cap));
  }
  Bytes out(1);
  uint32_t cap = 1;
  EXPECT_EQ(0xF208, asn1_cal_len_byte(256, &cap, out.data()));
  EXPECT_EQ(3u, cap);
  cap = 2;
  EXPECT_EQ(0xF205, asn1_cal_len_byte(256, &cap, nullptr));
  EXPECT_EQ(0xF205, asn1_cal_len_byte(256, nullptr, out.data()));
}

TEST(Asn1ParseTlv, ReadsShortAndLongForms) {
  const Bytes der = zt::unhex("3003020100");
  uint32_t left = 5, off = 0, len = 0;
  uint8_t tag = 0;
  ASSERT_EQ(0, asn1_parse_tlv(&left, der.data(), &tag, &len, &off));
  EXPECT_EQ(0x30, tag);
  EXPECT_EQ(3u, len);
  EXPECT_EQ(2u, off);
  EXPECT_EQ(3u, left);

  Bytes longer = zt::unhex("0482010a");
  longer.resize(4 + 0x10a, 0x55);
  left = static_cast<uint32_t>(longer.size());
  off = 0;
  ASSERT_EQ(0, asn1_parse_tlv(&left, longer.data(), &tag, &len, &off));
  EXPECT_EQ(0x10Au, len);
  EXPECT_EQ(4u, off);
  EXPECT_EQ(0x10Au, left);
}

// Each case sits in a buffer of exactly its size, so ASan flags any over-read.
TEST(Asn1ParseTlv, RefusesWhatDoesNotFit) {
  struct Case {
    const char* hex;
    uint16_t want;
  } cases[] = {
      {"", 0xF1A1},                  // nothing left
      {"30", 0xF1A1},                // tag without length
      {"3082", 0xF1A1},              // length bytes missing
      {"308201", 0xF1A1},            // one length byte missing
      {"3004020100", 0xF1A1},        // content longer than what is left
      {"3084ffffffff00", 0xF1A1},    // a length that would wrap a 32-bit offset
      {"3084fffffffa00", 0xF1A1},
      {"3085000000000100", 0xF107},  // five length bytes
      {"3080020100", 0xF107},        // indefinite form
  };
  for (const auto& c : cases) {
    const Bytes raw = zt::unhex(c.hex);
    std::vector<uint8_t> buf(raw.begin(), raw.end());
    uint8_t dummy = 0;
    uint32_t left = static_cast<uint32_t>(buf.size()), off = 0, len = 0;
    uint8_t tag = 0;
    EXPECT_EQ(c.want, asn1_parse_tlv(&left, buf.empty() ? &dummy : buf.data(), &tag, &len, &off))
        << c.hex;
    EXPECT_EQ(0u, off) << c.hex;
  }
  uint32_t left = 2, off = 0, len = 0;
  uint8_t tag = 0;
  EXPECT_EQ(0xF105, asn1_parse_tlv(&left, nullptr, &tag, &len, &off));
}

// DER lengths take the fewest bytes (X.690 10.1); each header is followed by
// the content it announces, so only the form is at fault.
TEST(Asn1ParseTlv, RefusesLengthsNotInMinimalForm) {
  struct Case {
    const char* header;
    uint32_t content;
    uint16_t want;
  } cases[] = {
      {"028147", 0x47, 0xF107},        // 81 47: fits the short form
      {"028400000047", 0x47, 0xF107},  // 84 00 00 00 47
      {"02820005", 0x05, 0xF107},
      {"02817f", 0x7F, 0xF107},        // the largest short length
      {"02820080", 0x80, 0xF107},      // 82 00 80: one byte holds it
      {"0283000100", 0x100, 0xF107},
      {"028180", 0x80, 0},             // the smallest one-byte long form
      {"02820100", 0x100, 0},
  };
  for (const auto& c : cases) {
    Bytes der = zt::unhex(c.header);
    der.resize(der.size() + c.content, 0x5A);
    uint32_t left = static_cast<uint32_t>(der.size()), off = 0, len = 0;
    uint8_t tag = 0;
    EXPECT_EQ(c.want, asn1_parse_tlv(&left, der.data(), &tag, &len, &off)) << c.header << " " << c.content;
    if (c.want == 0) {
      EXPECT_EQ(c.content, len);
    }
  }
}

TEST(Asn1Integers, OctToIntAndBack) {
  struct Case {
    const char* oct;
    uint32_t len, offset;
    uint8_t flag;
  } cases[] = {{"000001", 1, 2, 0},  {"0080", 2, 1, 1},  {"7f", 1, 0, 0},
               {"ff00", 3, 0, 1},    {"000000", 1, 2, 0}, {"00", 1, 0, 0}};
  for (const auto& c : cases) {
    const Bytes o = zt::unhex(c.oct);
    uint32_t len = 0, offset = 0;
    uint8_t flag = 9;
    ASSERT_EQ(0, asn1_oct_to_int(static_cast<uint32_t>(o.size()), o.data(), &len, &offset, &flag));
    EXPECT_EQ(c.len, len) << c.oct;
    EXPECT_EQ(c.offset, offset) << c.oct;
    EXPECT_EQ(c.flag, flag) << c.oct;
  }
  uint32_t len = 0, offset = 0;
  uint8_t flag = 0;
  const uint8_t b = 0;
  EXPECT_EQ(0xF5A1, asn1_oct_to_int(0, &b, &len, &offset, &flag));

  uint32_t vlen = 3, voff = 10;
  ASSERT_EQ(0, asn1_int_to_oct(0x00, &vlen, &voff));
  EXPECT_EQ(2u, vlen);
  EXPECT_EQ(11u, voff);
  ASSERT_EQ(0, asn1_int_to_oct(0x12, &vlen, &voff));
  EXPECT_EQ(2u, vlen);
  vlen = 0;
  EXPECT_EQ(0xF3A1, asn1_int_to_oct(0, &vlen, &voff));
  vlen = 3;
  EXPECT_EQ(0xF4A1, asn1_bit_to_oct(0x01, &vlen, &voff));
  ASSERT_EQ(0, asn1_bit_to_oct(0x00, &vlen, &voff));
  EXPECT_EQ(2u, vlen);
}
