// Common helpers of the core service: ID/label check, hex dumps, stopwatch.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// 32 (CKR_DATA_INVALID) when `array` is null, `size` is 0 or the first byte
// is zero (an ID or label is present when its first byte is not zero); else 0.
[[nodiscard]] int id_label_checker(const uint8_t* array, size_t size);

// Prints each byte as "%02X " with a line feed after every `lineWidth` bytes
// and after an incomplete last line. A `lineWidth` of 0 prints one line.
void dumpdata(const uint8_t* data, size_t dataLength, size_t lineWidth);
// As dumpdata, preceded by "[msg], length = N" when `msg` is not null.
void dumpdata_withmsg(const char* msg, const uint8_t* data, size_t dataLength, size_t lineWidth);

// Stopwatch with 10 slots (`level` 0 to 9; others are ignored and give 0.0).
double vrk_measureTimeStart(int level);
// Seconds since the slot's last start or end; restarts the slot.
double vrk_measureTimeEnd(const char* msg, int level);
double vrk_measureTime(const char* msg, int level, int isStart);
// Prints "msg - [minute:second]" of the local time.
void vrk_showTime(const char* msg);
// Microsecond part (0 to 999999) of the current time of day.
[[nodiscard]] int vrk_getMiliSecond(void);

}  // extern "C"
