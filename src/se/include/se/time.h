// Calendar time (UTC): validation, conversion to and from seconds since
// 1970-01-01 00:00:00, comparison, validity periods. This host has no clock
// source for the secure channel: the current time is always the epoch.
#pragma once

#include <cstdint>

inline constexpr uint32_t TIME_SUCCESS = 0x60CEED;
inline constexpr uint32_t TIME_NOT_SET = 0x600001;
inline constexpr uint32_t TIME_NEED_RESET_TIME = 0x600002;
inline constexpr uint32_t TIME_UNKNOWN_ERR = 0x600003;
inline constexpr uint32_t TIME_PERIOD_INVALID = 0x600004;
inline constexpr uint32_t TIME_ILLEGAL_ASN1_TIME = 0x600005;
inline constexpr uint32_t TIME_NOT_SUPPORT_BEFORE_1970 = 0x600006;
inline constexpr uint32_t TIME_NOT_SUPPORT_AFTER_9999 = 0x600007;

inline constexpr uint32_t TIME_LATER = 0x6099AA;
inline constexpr uint32_t TIME_EARLIER = 0x605678;
inline constexpr uint32_t TIME_EQUAL = 0x606677;

extern "C" {

typedef struct asn1_time {
  uint16_t year;
  uint8_t month;   // 1-12
  uint8_t day;     // 1-31
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
  uint8_t resv;    // ignored
} asn1_time;
typedef asn1_time asn1_time_t;
static_assert(sizeof(asn1_time) == 8);

typedef uint64_t hal_hardware_time_t;

extern const uint8_t nornal_days_in_month[12];

int check_asn1_time(const asn1_time* time);
// TIME_LATER, TIME_EARLIER or TIME_EQUAL for target against standard.
int date_compare(const asn1_time* target, const asn1_time* standard);
int asn1_to_unix_time(const asn1_time* asn1, hal_hardware_time_t* unix_time);
int unix_to_asn1_time(hal_hardware_time_t unix_time, asn1_time* asn1);

uint32_t systime_get_asn_time(asn1_time* now);
uint32_t systime_get_sec_since1970(hal_hardware_time_t* secs);
uint32_t systime_set_asn_time(asn1_time now);
uint32_t systime_set_sec_since1970(hal_hardware_time_t time);
uint32_t systime_verify_validity(const asn1_time* start, const asn1_time* end);

}  // extern "C"
