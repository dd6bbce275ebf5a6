// Line scanners for "key=value" text files.
//
// `buffer` is one text line (zero-terminated). A keyword matches only at the
// start of the line, so a value that happens to contain another key ("Label=
// MK=...") never sets that key. Each scanner returns 0 when the keyword was
// found and the target written, 1 when the line does not start with it or an
// argument is null (the target is then untouched).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Text value: the bytes after the keyword up to the first line feed, the end
// of the text or `targetSize` bytes; the rest of the target is zero-filled. A
// value of `targetSize` bytes or more fills the field with no terminator.
int scan_char(const char* buffer, const char* keyword, uint8_t* target, size_t targetSize);
// Decimal values in the manner of atoi (blanks and a sign accepted, reading
// stops at the first non-digit, no digits gives 0), truncated to the width.
int scan_uint8(const char* buffer, const char* keyword, uint8_t* target);
int scan_uint32(const char* buffer, const char* keyword, uint32_t* target);

// The software back end's variants: identical results.
int sw_scan_char(const char* buffer, const char* keyword, uint8_t* target, size_t targetSize);
int sw_scan_uint8(const char* buffer, const char* keyword, uint8_t* target);
int sw_scan_uint32(const char* buffer, const char* keyword, uint32_t* target);
int sw_scan_int(const char* buffer, const char* keyword, int* target);

}  // extern "C"

namespace oxlu {

// The pieces every scanner family is built from.
// Start of the value when `buffer` starts with `keyword`, else null (also for
// a null or empty argument).
const char* value_after(const char* buffer, const char* keyword);
// atoi-style decimal: blanks, an optional sign, digits. Saturates at the
// 64-bit range instead of overflowing; callers truncate to their width.
int64_t parse_decimal(const char* s);

// Calls fn(line) for every line of `text` (`len` bytes), each copied into a
// zero-terminated buffer of `max_line` bytes without its line feed. A line
// longer than `max_line` - 1 bytes is cut there and its remainder skipped, so
// that no piece of a long value is ever taken for the start of a line.
template <class Fn>
void for_each_line(const char* text, size_t len, char* line, size_t max_line, Fn&& fn) {
  if (max_line == 0) return;
  size_t i = 0;
  while (i < len) {
    size_t n = 0;
    while (i < len && text[i] != '\n') {
      if (n + 1 < max_line) line[n++] = text[i];
      ++i;
    }
    line[n] = '\0';
    fn(static_cast<const char*>(line));
    for (size_t k = 0; k < n; ++k) line[k] = '\0';  // lines may hold PINs
    ++i;                                            // the line feed
  }
}

}  // namespace oxlu
