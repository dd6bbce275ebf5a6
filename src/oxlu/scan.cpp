// Line scanners (see oxlu/scan.h).
#include "oxlu/scan.h"

#include <cstring>

namespace oxlu {

const char* value_after(const char* buffer, const char* keyword) {
  if (buffer == nullptr || keyword == nullptr || keyword[0] == '\0') return nullptr;
  const size_t k = std::strlen(keyword);
  return std::strncmp(buffer, keyword, k) == 0 ? buffer + k : nullptr;
}

int64_t parse_decimal(const char* s) {
  while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\v' || *s == '\f' || *s == '\r') ++s;
  bool neg = false;
  if (*s == '+' || *s == '-') neg = *s++ == '-';
  uint64_t v = 0;
  constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX);
  for (; *s >= '0' && *s <= '9'; ++s) {
    const unsigned d = static_cast<unsigned>(*s - '0');
    v = v > (kLimit - d) / 10 ? kLimit : v * 10 + d;
  }
  return neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

}  // namespace oxlu

using oxlu::parse_decimal;
using oxlu::value_after;

extern "C" int scan_char(const char* buffer, const char* keyword, uint8_t* target, size_t targetSize) {
  const char* v = value_after(buffer, keyword);
  if (v == nullptr || target == nullptr) return 1;
  size_t n = 0;
  while (n < targetSize && v[n] != '\0' && v[n] != '\n') ++n;
  std::memcpy(target, v, n);
  std::memset(target + n, 0, targetSize - n);
  return 0;
}

extern "C" int scan_uint8(const char* buffer, const char* keyword, uint8_t* target) {
  const char* v = value_after(buffer, keyword);
  if (v == nullptr || target == nullptr) return 1;
  *target = static_cast<uint8_t>(static_cast<uint64_t>(parse_decimal(v)));
  return 0;
}

extern "C" int scan_uint32(const char* buffer, const char* keyword, uint32_t* target) {
  const char* v = value_after(buffer, keyword);
  if (v == nullptr || target == nullptr) return 1;
  *target = static_cast<uint32_t>(static_cast<uint64_t>(parse_decimal(v)));
  return 0;
}

extern "C" int sw_scan_char(const char* buffer, const char* keyword, uint8_t* target, size_t targetSize) {
  return scan_char(buffer, keyword, target, targetSize);
}

extern "C" int sw_scan_uint8(const char* buffer, const char* keyword, uint8_t* target) {
  return scan_uint8(buffer, keyword, target);
}

extern "C" int sw_scan_uint32(const char* buffer, const char* keyword, uint32_t* target) {
  return scan_uint32(buffer, keyword, target);
}

extern "C" int sw_scan_int(const char* buffer, const char* keyword, int* target) {
  uint32_t v = 0;
  if (target == nullptr || scan_uint32(buffer, keyword, &v) != 0) return 1;
  *target = static_cast<int>(v);
  return 0;
}
