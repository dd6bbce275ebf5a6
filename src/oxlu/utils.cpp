// Common helpers (see oxlu/utils.h).
#include "oxlu/utils.h"

#include <sys/time.h>

#include <cstdio>
#include <ctime>

namespace {
constexpr int kSlots = 10;
struct timeval g_watch[kSlots];
}  // namespace

extern "C" int id_label_checker(const uint8_t* array, size_t size) {
  constexpr int kDataInvalid = 0x20;
  if (array == nullptr || size == 0 || array[0] == 0) return kDataInvalid;
  return 0;
}

extern "C" void dumpdata(const uint8_t* data, size_t dataLength, size_t lineWidth) {
  if (data == nullptr) return;
  for (size_t i = 0; i < dataLength; ++i) {
    std::fprintf(stderr, "%02X ", data[i]);
    if (lineWidth != 0 && (i + 1) % lineWidth == 0) std::fprintf(stderr, "\n");
  }
  if (lineWidth == 0 || dataLength % lineWidth != 0) std::fprintf(stderr, "\n");
}

extern "C" void dumpdata_withmsg(const char* msg, const uint8_t* data, size_t dataLength, size_t lineWidth) {
  if (msg != nullptr) std::fprintf(stderr, "[%s], length = %d\n", msg, static_cast<int>(dataLength));
  dumpdata(data, dataLength, lineWidth);
}

extern "C" double vrk_measureTimeStart(int level) {
  if (level < 0 || level >= kSlots) return 0.0;
  gettimeofday(&g_watch[level], nullptr);
  return 0.0;
}

extern "C" double vrk_measureTimeEnd(const char* /*msg*/, int level) {
  if (level < 0 || level >= kSlots) return 0.0;
  struct timeval now;
  gettimeofday(&now, nullptr);
  const double s = static_cast<double>(now.tv_sec - g_watch[level].tv_sec) +
                   static_cast<double>(now.tv_usec - g_watch[level].tv_usec) / 1000000.0;
  g_watch[level] = now;
  return s;
}

extern "C" double vrk_measureTime(const char* msg, int level, int isStart) {
  return isStart != 0 ? vrk_measureTimeStart(level) : vrk_measureTimeEnd(msg, level);
}

extern "C" void vrk_showTime(const char* msg) {
  const time_t t = time(nullptr);
  struct tm lt;
  localtime_r(&t, &lt);
  std::fprintf(stderr, "%s - [%d:%d]\n", msg != nullptr ? msg : "", lt.tm_min, lt.tm_sec);
}

extern "C" int vrk_getMiliSecond(void) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<int>(now.tv_usec);
}
