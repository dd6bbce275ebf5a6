// A byte string for key material in the core's callers: its bytes are wiped
// before its memory goes back to the heap.
#pragma once

#include <string.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zeb {

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    if (p != nullptr && n != 0) explicit_bzero(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

using SecretBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

}  // namespace zeb
