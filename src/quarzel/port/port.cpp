#include "quarzel/port.h"

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "quarzel/ct.h"
#include "seams.h"

extern "C" {

uint32_t quarzel_mem_alloc(void** ptr, uint32_t size) {
  if (ptr == nullptr) return 0xFFFFFFFFu;
  *ptr = std::calloc(size == 0 ? 1 : size, 1);
  return *ptr == nullptr ? 0xFFFFFFFFu : 0u;
}

uint32_t quarzel_mem_dealloc(void** ptr) {
  if (ptr != nullptr && *ptr != nullptr) {
    std::free(*ptr);
    *ptr = nullptr;
  }
  return 0;
}

uint32_t quarzel_mem_setv(void* dest, uint8_t value, uint32_t count) {
  if (count != 0) std::memset(dest, value, count);
  return 0;
}

uint32_t quarzel_mem_copy(void* dest, const void* src, uint32_t size) {
  if (size != 0) std::memcpy(dest, src, size);
  return 0;
}

int32_t quarzel_mem_cmpr(const void* p1, const void* p2, uint32_t size) {
  return size == 0 ? 0 : std::memcmp(p1, p2, size);
}

quarzel_ret_t quarzel_init(void) {
  (void)quarzel_init_impl();
  return 0;
}

// The OS source needs no seeding; kept so start-up code has one entry point.
uint32_t quarzel_init_impl(void) { return 0; }

}  // extern "C"

namespace quarzel {
namespace {

std::atomic<RandomSource>& g_random_source = seams::random_source;

uint32_t os_random(uint8_t* dest, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = getrandom(dest + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    done += static_cast<uint32_t>(n);
  }
  return 0;
}

}  // namespace

void secure_wipe(void* p, size_t n) noexcept {
  if (p == nullptr || n == 0) return;
  explicit_bzero(p, n);
}

bool ct_equal(const void* a, const void* b, size_t n) noexcept {
  // Eight bytes a step, then the tail; every byte is read whatever differs,
  // and only the folded difference, through a barrier, decides.
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  uint64_t diff = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t u, v;
    std::memcpy(&u, x + i, 8);
    std::memcpy(&v, y + i, 8);
    diff |= ct::value_barrier<uint64_t>(u ^ v);
  }
  for (; i < n; ++i) diff |= ct::value_barrier<uint64_t>(static_cast<uint64_t>(x[i] ^ y[i]));
  return ct::value_barrier<uint64_t>(diff) == 0;
}

}  // namespace quarzel

extern "C" uint32_t quarzel_get_random(uint8_t* dest, uint32_t size) {
  if (size == 0) return 0;
  if (dest == nullptr) return 1;
  quarzel::RandomSource src = quarzel::g_random_source.load();
  return src != nullptr ? src(dest, size) : quarzel::os_random(dest, size);
}

extern "C" {

void quarzel_debug_print_array(const char* name, const uint8_t* arr, uint32_t size, int enable) {
  if (enable <= 0) return;
  std::fprintf(stderr, "\n[%s]\n", name ? name : "");
  for (uint32_t i = 0; i < size; ++i) {
    std::fprintf(stderr, "%02X ", arr[i]);
    if ((i + 1) % 16 == 0) std::fprintf(stderr, "\n");
  }
  if (size % 16 != 0) std::fprintf(stderr, "\n");
}

void quarzel_debug_print_uint32(const char* name, uint32_t data, int enable) {
  if (enable > 0) std::fprintf(stderr, "\n%s = %x\n", name ? name : "", data);
}

void quarzel_debug_print_message(const char* func_name, int line_num, const char* msg, int enable) {
  if (enable > 0) std::fprintf(stderr, "[%s]:%d %s\n", func_name ? func_name : "", line_num, msg ? msg : "");
}

void quarzel_stdout_print_string(const char* s, int enable) {
  if (enable <= 0) return;
  std::fputs(s ? s : "", stdout);
  std::fflush(stdout);
}

void quarzel_stdout_print_message(const char* s, int num, int enable) {
  if (enable <= 0) return;
  std::fprintf(stderr, "%s %d\n", s ? s : "", num);
  std::fflush(stdout);
}

}  // extern "C"
