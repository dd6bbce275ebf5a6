// Replaceable global operator new and delete over malloc and free, failing on
// demand, looking at a watched block before it is freed and keeping the list
// of live blocks (see fail_alloc.h).
#include "support/fail_alloc.h"

#include <string.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
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

// The live blocks of a TrackLiveBlocks: a fixed table (operator new must not
// allocate to note a block), unordered, under a lock.
struct Block {
  const void* p;
  std::size_t n;
};
constexpr std::size_t kMaxLive = 1 << 14;
std::atomic<bool> g_tracking{false};
std::mutex g_live_mu;
Block g_live[kMaxLive];
std::size_t g_live_count = 0;
bool g_live_overflow = false;

void note_allocated(const void* p, std::size_t n) noexcept {
  if (p == nullptr || !g_tracking.load()) return;
  std::lock_guard lock(g_live_mu);
  if (g_live_count == kMaxLive) {
    g_live_overflow = true;
    return;
  }
  g_live[g_live_count++] = Block{p, n};
}

void note_freed(const void* p) noexcept {
  if (p == nullptr || !g_tracking.load()) return;
  std::lock_guard lock(g_live_mu);
  for (std::size_t i = 0; i < g_live_count; ++i) {
    if (g_live[i].p == p) {
      g_live[i] = g_live[--g_live_count];
      return;
    }
  }
}

void* allocate(std::size_t n) noexcept {
  void* p = should_fail() ? nullptr : std::malloc(n == 0 ? 1 : n);
  note_allocated(p, n);
  return p;
}

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
  note_freed(p);
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
TrackLiveBlocks::TrackLiveBlocks() {
  std::lock_guard lock(g_live_mu);
  g_live_count = 0;
  g_live_overflow = false;
  g_tracking.store(true);
}
TrackLiveBlocks::~TrackLiveBlocks() {
  g_tracking.store(false);
  std::lock_guard lock(g_live_mu);
  g_live_count = 0;
}
bool TrackLiveBlocks::holds(const void* needle, std::size_t n) const {
  std::lock_guard lock(g_live_mu);
  for (std::size_t i = 0; i < g_live_count; ++i) {
    if (n != 0 && g_live[i].n >= n && memmem(g_live[i].p, g_live[i].n, needle, n) != nullptr) return true;
  }
  return false;
}
bool TrackLiveBlocks::complete() const {
  std::lock_guard lock(g_live_mu);
  return !g_live_overflow;
}
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
