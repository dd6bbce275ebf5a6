// Replaceable global operator new and delete over malloc and free, failing on
// demand and looking at a watched block before it is freed (see fail_alloc.h).
#include "support/fail_alloc.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_budget{-1};  // -1: disarmed
std::atomic<bool> g_fired{false};
thread_local int t_allowed = 0;

bool should_fail() noexcept {
  if (t_allowed > 0) return false;
  long b = g_budget.load();
  while (b >= 0) {
    if (b == 0) {
      g_fired.store(true);
      return true;
    }
    if (g_budget.compare_exchange_weak(b, b - 1)) return false;
  }
  return false;
}

void* allocate(std::size_t n) noexcept { return should_fail() ? nullptr : std::malloc(n == 0 ? 1 : n); }

std::atomic<const void*> g_watched{nullptr};
std::size_t g_watched_len = 0;
std::atomic<bool> g_watched_freed{false};
bool g_watched_zero = false;

void release(void* p) noexcept {
  if (p != nullptr && p == g_watched.load()) {
    const auto* b = static_cast<const unsigned char*>(p);
    bool zero = true;
    for (std::size_t i = 0; i < g_watched_len; ++i) zero = zero && b[i] == 0;
    g_watched_zero = zero;
    g_watched_freed.store(true);
    g_watched.store(nullptr);
  }
  std::free(p);
}

}  // namespace

namespace zt {
FailAllocations::FailAllocations(long after) {
  g_fired.store(false);
  g_budget.store(after);
}
FailAllocations::~FailAllocations() { g_budget.store(-1); }
bool FailAllocations::fired() const { return g_fired.load(); }
AllowAllocations::AllowAllocations() { ++t_allowed; }
AllowAllocations::~AllowAllocations() { --t_allowed; }
WatchFree::WatchFree(const void* block, std::size_t n) {
  g_watched_len = n;
  g_watched_zero = false;
  g_watched_freed.store(false);
  g_watched.store(block);
}
WatchFree::~WatchFree() { g_watched.store(nullptr); }
bool WatchFree::freed() const { return g_watched_freed.load(); }
bool WatchFree::was_zero() const { return g_watched_zero; }
}  // namespace zt

void* operator new(std::size_t n) {
  void* p = allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) {
  void* p = allocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
