// Bounded copy into fixed-size fields.
#pragma once

#include <cstddef>

extern "C" {
// Copies `n` bytes only when they fit the `dst_size`-byte destination; else
// copies nothing, prints the overflow line naming the caller's file, function
// and line, and returns -1. 0 when copied.
int oxlu_bounded_copy(void* dst, size_t dst_size, const void* src, size_t n,
                      const char* file, const char* func, int line);
}

#define OXLU_BOUNDED_COPY(dst, dst_size, src, n) \
  oxlu_bounded_copy((dst), (dst_size), (src), (n), __FILE__, __func__, __LINE__)
