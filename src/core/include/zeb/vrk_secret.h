// Containers for key material in the core's callers: their bytes are wiped
// before their memory is released.
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

// A fixed-size secret array, wiped when it goes out of scope.
template <size_t N>
struct SecretArray {
  uint8_t bytes[N]{};
  SecretArray() = default;
  SecretArray(const SecretArray&) = delete;
  SecretArray& operator=(const SecretArray&) = delete;
  ~SecretArray() { explicit_bzero(bytes, N); }
  uint8_t* data() noexcept { return bytes; }
  const uint8_t* data() const noexcept { return bytes; }
  static constexpr size_t size() noexcept { return N; }
};

}  // namespace zeb
