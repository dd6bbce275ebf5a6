#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "oxlu/copy.h"
#include "oxlu/scan.h"
#include "oxlu/utils.h"

namespace {

std::string field(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(ScanChar, ValueIsCutAtLineFeedAndZeroPadded) {
  uint8_t sn[16];
  std::memset(sn, 0xEE, sizeof sn);
  ASSERT_EQ(scan_char("HSMSn=ABC\n", "HSMSn=", sn, sizeof sn), 0);
  EXPECT_EQ(field(sn, 16), std::string("ABC") + std::string(13, '\0'));
}

TEST(ScanChar, LongValueFillsFieldWithoutTerminator) {
  uint8_t sn[16];
  ASSERT_EQ(scan_char("HSMSn=0123456789abcdefGHIJ", "HSMSn=", sn, sizeof sn), 0);
  EXPECT_EQ(field(sn, 16), "0123456789abcdef");
}

TEST(ScanChar, CarriageReturnAndBlanksStay) {
  uint8_t v[8];
  ASSERT_EQ(scan_char("L= a b\r\n", "L=", v, sizeof v), 0);
  EXPECT_EQ(field(v, 8), std::string(" a b\r") + std::string(3, '\0'));
}

TEST(ScanChar, KeyMatchesOnlyAtLineStart) {
  // A label that carries another key must not set that key.
  uint8_t mk[32];
  std::memset(mk, 0x5A, sizeof mk);
  EXPECT_EQ(sw_scan_char("Label=MK=evil", "MK=", mk, sizeof mk), 1);
  EXPECT_EQ(scan_char("Label=MK=evil", "MK=", mk, sizeof mk), 1);
  EXPECT_EQ(scan_char(" MK=evil", "MK=", mk, sizeof mk), 1);
  for (uint8_t b : mk) EXPECT_EQ(b, 0x5A);
  // And a key never matches inside a longer key that ends with it.
  uint32_t n = 7;
  EXPECT_EQ(scan_uint32("u32LabelLen=9", "LabelLen=", &n), 1);
  EXPECT_EQ(n, 7u);
}

TEST(ScanChar, NullArgumentsReturnOne) {
  uint8_t v[4] = {1, 2, 3, 4};
  EXPECT_EQ(scan_char(nullptr, "A=", v, 4), 1);
  EXPECT_EQ(scan_char("A=1", nullptr, v, 4), 1);
  EXPECT_EQ(scan_char("A=1", "A=", nullptr, 4), 1);
  EXPECT_EQ(sw_scan_char("A=1", "", v, 4), 1);
  EXPECT_EQ(v[0], 1);
}

struct NumCase {
  const char* line;
  uint8_t u8;
  uint32_t u32;
  int i;
};

TEST(ScanNumbers, AtoiSemanticsTruncatedToWidth) {
  const NumCase cases[] = {
      {"N=300", 44, 300, 300},
      {"N=abc", 0, 0, 0},
      {"N=", 0, 0, 0},
      {"N=  42xyz", 42, 42, 42},
      {"N=+7", 7, 7, 7},
      {"N=-1", 255, 0xFFFFFFFFu, -1},
      {"N=4294967297", 1, 1, 1},
      {"N=99999999999999999999999", 0xFF, 0xFFFFFFFFu, -1},
  };
  for (const auto& c : cases) {
    uint8_t a = 9;
    uint32_t b = 9;
    int d = 9;
    ASSERT_EQ(scan_uint8(c.line, "N=", &a), 0) << c.line;
    ASSERT_EQ(sw_scan_uint8(c.line, "N=", &a), 0);
    ASSERT_EQ(scan_uint32(c.line, "N=", &b), 0);
    ASSERT_EQ(sw_scan_int(c.line, "N=", &d), 0);
    EXPECT_EQ(a, c.u8) << c.line;
    EXPECT_EQ(b, c.u32) << c.line;
    EXPECT_EQ(d, c.i) << c.line;
  }
  uint8_t a = 9;
  EXPECT_EQ(scan_uint8("M=5", "N=", &a), 1);
  EXPECT_EQ(a, 9);
  EXPECT_EQ(sw_scan_uint32("N=5", "N=", nullptr), 1);
}

TEST(ForEachLine, SplitsAndSkipsRemainderOfLongLines) {
  std::string text = "A=1\n\nB=" + std::string(30, 'x') + "MK=bad\nC=3";
  std::vector<std::string> seen;
  char line[16];
  oxlu::for_each_line(text.data(), text.size(), line, sizeof line,
                      [&](const char* l) { seen.emplace_back(l); });
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], "A=1");
  EXPECT_EQ(seen[1], "");
  EXPECT_EQ(seen[2], "B=" + std::string(13, 'x'));
  EXPECT_EQ(seen[3], "C=3");
}

TEST(BoundedCopy, RefusesOverflowAndKeepsDestination) {
  uint8_t dst[4] = {9, 9, 9, 9};
  const uint8_t src[5] = {1, 2, 3, 4, 5};
  testing::internal::CaptureStderr();
  EXPECT_EQ(OXLU_BOUNDED_COPY(dst, sizeof dst, src, 5), -1);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("\033[1;31m[scan_test, "), std::string::npos) << out;
  EXPECT_NE(out.find("tarvin: abort memcpy due to buffer overflow!\033[m\n"), std::string::npos);
  EXPECT_EQ(field(dst, 4), std::string(4, '\x09'));
  EXPECT_EQ(OXLU_BOUNDED_COPY(dst, sizeof dst, src, 4), 0);
  EXPECT_EQ(field(dst, 4), field(src, 4));
  EXPECT_EQ(OXLU_BOUNDED_COPY(dst, sizeof dst, nullptr, 0), 0);
}

TEST(Utils, IdLabelChecker) {
  const uint8_t id[16] = {0, 'a', 'b'};
  const uint8_t ok[16] = {'T', 'k', 'n'};
  EXPECT_EQ(id_label_checker(id, 16), 0x20);
  EXPECT_EQ(id_label_checker(nullptr, 16), 0x20);
  EXPECT_EQ(id_label_checker(ok, 0), 0x20);
  EXPECT_EQ(id_label_checker(ok, 16), 0);
}

TEST(Utils, Dumps) {
  const uint8_t d[5] = {0x00, 0xAB, 0x10, 0xFF, 0x01};
  testing::internal::CaptureStderr();
  dumpdata_withmsg("m", d, 5, 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[m], length = 5\n00 AB \n10 FF \n01 \n");
  testing::internal::CaptureStderr();
  dumpdata(d, 4, 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "00 AB \n10 FF \n");
}

TEST(Utils, StopwatchMeasuresConsecutiveIntervals) {
  EXPECT_EQ(vrk_measureTimeStart(3), 0.0);
  const double a = vrk_measureTimeEnd(nullptr, 3);
  const double b = vrk_measureTime(nullptr, 3, 0);
  EXPECT_GE(a, 0.0);
  EXPECT_GE(b, 0.0);
  EXPECT_LT(a, 60.0);
  EXPECT_EQ(vrk_measureTimeEnd(nullptr, 10), 0.0);
  const int us = vrk_getMiliSecond();
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
}

}  // namespace
