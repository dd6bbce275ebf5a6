// Bounded copy (see oxlu/copy.h).
#include "oxlu/copy.h"

#include <cstdio>
#include <cstring>

namespace {
// "src/swhsm/swc_common.cpp" -> "swc_common": the source file's own name.
void print_base_name(const char* file, char* out, size_t cap) {
  const char* base = file != nullptr ? std::strrchr(file, '/') : nullptr;
  base = base != nullptr ? base + 1 : (file != nullptr ? file : "");
  size_t n = 0;
  while (base[n] != '\0' && base[n] != '.' && n + 1 < cap) {
    out[n] = base[n];
    ++n;
  }
  out[n] = '\0';
}
}  // namespace

extern "C" int oxlu_bounded_copy(void* dst, size_t dst_size, const void* src, size_t n,
                                 const char* file, const char* func, int line) {
  if (n <= dst_size && (n == 0 || (dst != nullptr && src != nullptr))) {
    if (n != 0) std::memmove(dst, src, n);
    return 0;
  }
  char name[128];
  print_base_name(file, name, sizeof name);
  std::fprintf(stderr, "\033[1;31m[%s, %s, Line %d] tarvin: abort memcpy due to buffer overflow!\033[m\n",
              name, func != nullptr ? func : "", line);
  std::fflush(stdout);
  return -1;
}
