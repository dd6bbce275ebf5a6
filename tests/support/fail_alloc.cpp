// Replaceable global operator new and delete over malloc and free, failing on
// demand (see fail_alloc.h).
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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
