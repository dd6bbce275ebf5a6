// Calendar time against Python's datetime and calendar.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "se/time.h"
#include "support/oracle.h"

namespace {

constexpr uint64_t kEnd = 253402300800ull;  // 10000-01-01 00:00:00

// Runs f with standard output captured (the time functions print every step).
template <class F>
std::string quietly(F&& f) {
  testing::internal::CaptureStderr();
  f();
  return testing::internal::GetCapturedStderr();
}

asn1_time make(uint16_t y, uint8_t mo, uint8_t d, uint8_t h = 0, uint8_t mi = 0, uint8_t s = 0) {
  return asn1_time{y, mo, d, h, mi, s, 0};
}

TEST(CalendarTime, SecondsAgainstPython) {
  std::vector<uint64_t> secs = {0, 1, 59, 86399, 86400, 31535999, 31536000, 68169600, 951782400, 951868799,
                                951868800, 4102444800, 4107542400, kEnd - 86400, kEnd - 1};
  std::mt19937_64 rng(0x5EC0DE);
  for (int i = 0; i < 3000; ++i) secs.push_back(rng() % kEnd);
  std::ostringstream in;
  for (uint64_t s : secs) in << s << "\n";
  const std::string out = zt::run_python(
      "import sys, datetime\n"
      "e = datetime.datetime(1970, 1, 1)\n"
      "for line in sys.stdin:\n"
      "    t = e + datetime.timedelta(seconds=int(line))\n"
      "    print(t.year, t.month, t.day, t.hour, t.minute, t.second)\n",
      in.str());
  std::istringstream expect(out);
  for (uint64_t s : secs) {
    SCOPED_TRACE(s);
    int y, mo, d, h, mi, se;
    ASSERT_TRUE(expect >> y >> mo >> d >> h >> mi >> se);
    asn1_time t{};
    int rv = 0;
    (void)quietly([&] { rv = unix_to_asn1_time(s, &t); });
    ASSERT_EQ(static_cast<uint32_t>(rv), TIME_SUCCESS);
    EXPECT_EQ(t.year, y);
    EXPECT_EQ(t.month, mo);
    EXPECT_EQ(t.day, d);
    EXPECT_EQ(t.hour, h);
    EXPECT_EQ(t.minute, mi);
    EXPECT_EQ(t.second, se);
    hal_hardware_time_t back = 1;
    (void)quietly([&] { rv = asn1_to_unix_time(&t, &back); });
    ASSERT_EQ(static_cast<uint32_t>(rv), TIME_SUCCESS);
    EXPECT_EQ(back, s);
  }
}

// Which days exist, month by month, against calendar.monthrange.
TEST(CalendarTime, ValidationAgainstPython) {
  std::vector<int> years = {1970, 1971, 1972, 1999, 2000, 2023, 2024, 2100, 2400, 2401, 9996, 9999};
  std::mt19937 rng(17);
  for (int i = 0; i < 20; ++i) years.push_back(1970 + static_cast<int>(rng() % 8030));
  std::ostringstream in;
  for (int y : years) in << y << "\n";
  const std::string out = zt::run_python(
      "import sys, calendar\n"
      "for line in sys.stdin:\n"
      "    y = int(line)\n"
      "    print(' '.join(str(calendar.monthrange(y, m)[1]) for m in range(1, 13)))\n",
      in.str());
  std::istringstream expect(out);
  for (int y : years) {
    for (int m = 1; m <= 12; ++m) {
      int days = 0;
      ASSERT_TRUE(expect >> days);
      for (int d = 0; d <= 32; ++d) {
        const asn1_time t = make(static_cast<uint16_t>(y), static_cast<uint8_t>(m), static_cast<uint8_t>(d), 23, 59, 59);
        const uint32_t want = d >= 1 && d <= days ? TIME_SUCCESS : TIME_ILLEGAL_ASN1_TIME;
        EXPECT_EQ(static_cast<uint32_t>(check_asn1_time(&t)), want) << y << "-" << m << "-" << d;
      }
    }
  }
}

TEST(CalendarTime, Refusals) {
  struct Case {
    asn1_time t;
    uint32_t rv;
  } cases[] = {
      {make(1900, 1, 1), TIME_NOT_SUPPORT_BEFORE_1970}, {make(1969, 12, 31, 23, 59, 59), TIME_NOT_SUPPORT_BEFORE_1970},
      {make(10000, 1, 1), TIME_NOT_SUPPORT_AFTER_9999},  {make(2100, 2, 29), TIME_ILLEGAL_ASN1_TIME},
      {make(2024, 2, 30), TIME_ILLEGAL_ASN1_TIME},       {make(2024, 0, 1), TIME_ILLEGAL_ASN1_TIME},
      {make(2024, 13, 1), TIME_ILLEGAL_ASN1_TIME},       {make(2024, 1, 0), TIME_ILLEGAL_ASN1_TIME},
      {make(2024, 1, 1, 24), TIME_ILLEGAL_ASN1_TIME},    {make(2024, 1, 1, 0, 60), TIME_ILLEGAL_ASN1_TIME},
      {make(2024, 1, 1, 0, 0, 60), TIME_ILLEGAL_ASN1_TIME}, {make(2000, 2, 29), TIME_SUCCESS},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<uint32_t>(check_asn1_time(&c.t)), c.rv) << c.t.year << "-" << int{c.t.month};
    hal_hardware_time_t s = 99;
    int rv = 0;
    (void)quietly([&] { rv = asn1_to_unix_time(&c.t, &s); });
    EXPECT_EQ(static_cast<uint32_t>(rv), c.rv);
    if (c.rv != TIME_SUCCESS) {
      EXPECT_EQ(s, 0u) << "the output is cleared on failure";
    }
  }
  asn1_time t{};
  int rv = 0;
  const std::string printed = quietly([&] { rv = unix_to_asn1_time(kEnd, &t); });
  EXPECT_EQ(static_cast<uint32_t>(rv), TIME_NOT_SUPPORT_AFTER_9999);
  EXPECT_NE(printed.find("time function failed! error code = 00600007"), std::string::npos) << printed;
  (void)quietly([&] { rv = unix_to_asn1_time(UINT64_MAX, &t); });
  EXPECT_EQ(static_cast<uint32_t>(rv), TIME_NOT_SUPPORT_AFTER_9999);
}

TEST(CalendarTime, Compare) {
  const asn1_time base = make(2024, 6, 15, 12, 30, 30);
  asn1_time other = base;
  other.resv = 0x7F;
  EXPECT_EQ(static_cast<uint32_t>(date_compare(&other, &base)), TIME_EQUAL);
  const asn1_time later[] = {make(2025, 1, 1), make(2024, 7, 1), make(2024, 6, 16), make(2024, 6, 15, 13),
                             make(2024, 6, 15, 12, 31), make(2024, 6, 15, 12, 30, 31)};
  for (const asn1_time& l : later) {
    EXPECT_EQ(static_cast<uint32_t>(date_compare(&l, &base)), TIME_LATER);
    EXPECT_EQ(static_cast<uint32_t>(date_compare(&base, &l)), TIME_EARLIER);
  }
}

// The host has no clock: now is the epoch, so no period is valid.
TEST(SystemTime, NowIsTheEpoch) {
  asn1_time now{};
  uint32_t rv = 0;
  const std::string printed = quietly([&] { rv = systime_get_asn_time(&now); });
  EXPECT_EQ(rv, TIME_SUCCESS);
  EXPECT_EQ(now.year, 1970);
  EXPECT_EQ(now.month, 1);
  EXPECT_EQ(now.day, 1);
  EXPECT_EQ(now.hour + now.minute + now.second, 0);
  EXPECT_NE(printed.find("\033[1;32m[systime,unix_to_asn1_time,"), std::string::npos) << printed;
  EXPECT_NE(printed.find("time function passed!\n"), std::string::npos);
  hal_hardware_time_t secs = 5;
  EXPECT_EQ(systime_get_sec_since1970(&secs), TIME_SUCCESS);
  EXPECT_EQ(secs, 0u);
  EXPECT_EQ(systime_set_sec_since1970(12345), TIME_SUCCESS);

  const asn1_time start = make(1970, 1, 1), end = make(9999, 12, 31, 23, 59, 59);
  (void)quietly([&] { rv = systime_verify_validity(&start, &end); });
  EXPECT_EQ(rv, TIME_PERIOD_INVALID);
  const asn1_time bad = make(2024, 2, 30);
  (void)quietly([&] { rv = systime_verify_validity(&bad, &end); });
  EXPECT_EQ(rv, TIME_ILLEGAL_ASN1_TIME);
  (void)quietly([&] { rv = systime_verify_validity(&start, &bad); });
  EXPECT_EQ(rv, TIME_ILLEGAL_ASN1_TIME);
  (void)quietly([&] { rv = systime_set_asn_time(make(2024, 2, 29)); });
  EXPECT_EQ(rv, TIME_SUCCESS);
  (void)quietly([&] { rv = systime_set_asn_time(make(1969, 2, 1)); });
  EXPECT_EQ(rv, TIME_NOT_SUPPORT_BEFORE_1970);
}

}  // namespace
