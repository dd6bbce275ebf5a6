// Calendar time. Year and month lengths come from the Gregorian rule; the
// conversion walks whole years, so every value is exact to the second.
#include <cstdio>

#include "se/time.h"

const uint8_t nornal_days_in_month[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

constexpr uint64_t kDay = 86400;

constexpr bool is_leap(uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
constexpr uint64_t year_seconds(uint32_t y) { return (is_leap(y) ? 366 : 365) * kDay; }
constexpr uint64_t month_seconds(uint32_t y, uint32_t m) {  // m: 1-12
  return (m == 2 && is_leap(y) ? 29 : nornal_days_in_month[m - 1]) * kDay;
}

// Seconds from 1970-01-01 to the start of year y (1970 <= y <= 10000), by
// counting leap days rather than walking the years.
constexpr uint64_t year_start(uint32_t y) {
  auto leaps_before = [](uint32_t year) { return (year - 1) / 4 - (year - 1) / 100 + (year - 1) / 400; };
  return (uint64_t{y - 1970} * 365 + leaps_before(y) - leaps_before(1970)) * kDay;
}
static_assert(year_start(1971) == 31536000);
static_assert(year_start(2000) == 946684800);

// The message lines of a step.
void report(const char* fn, int line, uint32_t rv) {
  if (rv == TIME_SUCCESS) {
    std::fprintf(stderr, "\033[1;32m[%s,%s,%d]\033[m time function passed!\n", "systime", fn, line);
  } else {
    std::fprintf(stderr, "\033[1;31m[%s,%s,%d]\033[m time function failed! error code = %08x\n", "systime", fn, line, rv);
  }
}
#define REPORT(rv) report(__func__, __LINE__, static_cast<uint32_t>(rv))

}  // namespace

extern "C" {

int check_asn1_time(const asn1_time* t) {
  if (t == nullptr) return static_cast<int>(TIME_ILLEGAL_ASN1_TIME);
  if (t->year < 1970) return static_cast<int>(TIME_NOT_SUPPORT_BEFORE_1970);
  if (t->year > 9999) return static_cast<int>(TIME_NOT_SUPPORT_AFTER_9999);
  if (t->month == 0 || t->month > 12 || t->day == 0) return static_cast<int>(TIME_ILLEGAL_ASN1_TIME);
  if (uint64_t{t->day} * kDay > month_seconds(t->year, t->month)) return static_cast<int>(TIME_ILLEGAL_ASN1_TIME);
  if (t->hour > 23 || t->minute > 59 || t->second > 59) return static_cast<int>(TIME_ILLEGAL_ASN1_TIME);
  return static_cast<int>(TIME_SUCCESS);
}

int date_compare(const asn1_time* target, const asn1_time* standard) {
  const uint32_t a[] = {target->year, target->month, target->day, target->hour, target->minute, target->second};
  const uint32_t b[] = {standard->year, standard->month, standard->day,
                        standard->hour, standard->minute, standard->second};
  for (int i = 0; i < 6; ++i) {
    if (a[i] != b[i]) return static_cast<int>(a[i] > b[i] ? TIME_LATER : TIME_EARLIER);
  }
  return static_cast<int>(TIME_EQUAL);
}

int asn1_to_unix_time(const asn1_time* asn1, hal_hardware_time_t* unix_time) {
  if (unix_time == nullptr) return static_cast<int>(TIME_ILLEGAL_ASN1_TIME);
  *unix_time = 0;
  const int rv = check_asn1_time(asn1);
  REPORT(rv);
  if (static_cast<uint32_t>(rv) != TIME_SUCCESS) return rv;
  uint64_t s = year_start(asn1->year);
  for (uint32_t m = 1; m < asn1->month; ++m) s += month_seconds(asn1->year, m);
  s += (asn1->day - 1) * kDay + asn1->hour * 3600u + asn1->minute * 60u + asn1->second;
  *unix_time = s;
  return rv;
}

int unix_to_asn1_time(hal_hardware_time_t unix_time, asn1_time* asn1) {
  if (asn1 == nullptr) return static_cast<int>(TIME_ILLEGAL_ASN1_TIME);
  if (unix_time >= year_start(10000)) {
    REPORT(TIME_NOT_SUPPORT_AFTER_9999);
    return static_cast<int>(TIME_NOT_SUPPORT_AFTER_9999);
  }
  // The year holding the instant: an estimate from the mean year, then exact.
  uint32_t y = 1970 + static_cast<uint32_t>(unix_time / (kDay * 36524 / 100));
  if (y > 9999) y = 9999;
  while (year_start(y) > unix_time) --y;
  while (y < 9999 && year_start(y + 1) <= unix_time) ++y;
  uint64_t rem = unix_time - year_start(y);
  uint32_t m = 1;
  while (rem >= month_seconds(y, m)) rem -= month_seconds(y, m++);
  *asn1 = asn1_time{};
  asn1->year = static_cast<uint16_t>(y);
  asn1->month = static_cast<uint8_t>(m);
  asn1->day = static_cast<uint8_t>(rem / kDay + 1);
  rem %= kDay;
  asn1->hour = static_cast<uint8_t>(rem / 3600);
  asn1->minute = static_cast<uint8_t>(rem % 3600 / 60);
  asn1->second = static_cast<uint8_t>(rem % 60);
  const int rv = check_asn1_time(asn1);
  REPORT(rv);
  return rv;
}

uint32_t systime_get_sec_since1970(hal_hardware_time_t* secs) {
  if (secs != nullptr) *secs = 0;
  return TIME_SUCCESS;
}

uint32_t systime_get_asn_time(asn1_time* now) {
  hal_hardware_time_t secs = 0;
  (void)systime_get_sec_since1970(&secs);
  return static_cast<uint32_t>(unix_to_asn1_time(secs, now));
}

uint32_t systime_set_asn_time(asn1_time now) {
  hal_hardware_time_t secs = 0;
  const int rv = asn1_to_unix_time(&now, &secs);
  REPORT(rv);
  return static_cast<uint32_t>(rv);
}

uint32_t systime_set_sec_since1970(hal_hardware_time_t) { return TIME_SUCCESS; }

uint32_t systime_verify_validity(const asn1_time* start, const asn1_time* end) {
  int rv = check_asn1_time(start);
  REPORT(rv);
  if (static_cast<uint32_t>(rv) != TIME_SUCCESS) return static_cast<uint32_t>(rv);
  rv = check_asn1_time(end);
  REPORT(rv);
  if (static_cast<uint32_t>(rv) != TIME_SUCCESS) return static_cast<uint32_t>(rv);
  asn1_time now{};
  const uint32_t got = systime_get_asn_time(&now);
  REPORT(got);
  if (got != TIME_SUCCESS) return got;
  if (static_cast<uint32_t>(date_compare(start, &now)) == TIME_EARLIER &&
      static_cast<uint32_t>(date_compare(end, &now)) == TIME_LATER)
    return TIME_SUCCESS;
  return TIME_PERIOD_INVALID;
}

}  // extern "C"
