// Line scanners of the software device's files (HsmAdmin.cfg, TknUser.list,
// TknUser.cfg, device_filepath.cfg, sw_hsm_list.txt).
#include <cstring>

#include "oxlu/scan.h"
#include "swhsm/swd.h"

extern "C" int _swdev_scan_char(const char* buffer, const char* keyword, uint8_t* target, size_t targetSize) {
  const char* v = oxlu::value_after(buffer, keyword);
  if (v == nullptr || target == nullptr) return 1;
  size_t n = 0;
  while (n < targetSize && v[n] != '\0' && v[n] != '\n') ++n;
  std::memcpy(target, v, n);
  std::memset(target + n, 0, targetSize - n);
  return 0;
}

extern "C" int _swdev_scan_uint8(const char* buffer, const char* keyword, uint8_t* target) {
  const char* v = oxlu::value_after(buffer, keyword);
  if (v == nullptr || target == nullptr) return 1;
  *target = static_cast<uint8_t>(static_cast<uint64_t>(oxlu::parse_decimal(v)));
  return 0;
}

extern "C" int _swdev_scan_uint32(const char* buffer, const char* keyword, uint32_t* target) {
  const char* v = oxlu::value_after(buffer, keyword);
  if (v == nullptr || target == nullptr) return 1;
  *target = static_cast<uint32_t>(static_cast<uint64_t>(oxlu::parse_decimal(v)));
  return 0;
}
