// Containers for key material: their bytes are wiped when they are released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "quarzel/port.h"

namespace quarzel {

// Allocator that wipes every block before handing it back to the heap.
template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() noexcept = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    std::allocator<T>{}.deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
};

// Byte string for secrets (keys, seeds, intermediate key stream).
using SecretBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;

// Fixed-size secret array on the stack, wiped on scope exit.
template <size_t N>
struct SecretArray {
  uint8_t bytes[N]{};
  SecretArray() = default;
  SecretArray(const SecretArray&) = delete;
  SecretArray& operator=(const SecretArray&) = delete;
  ~SecretArray() { secure_wipe(bytes, N); }
  uint8_t* data() noexcept { return bytes; }
  const uint8_t* data() const noexcept { return bytes; }
  static constexpr size_t size() noexcept { return N; }
  uint8_t& operator[](size_t i) noexcept { return bytes[i]; }
};

// A record that holds PINs or keys: zeroed on creation, wiped when it leaves
// scope.
template <class T>
struct Wiped : T {
  Wiped() : T{} {}
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  ~Wiped() { secure_wipe(static_cast<T*>(this), sizeof(T)); }
  T* get() noexcept { return this; }
};

// Heap buffer of a fixed capacity for secrets whose size is known only at
// run time (key contexts, unwrapped key objects): allocated zeroed without
// throwing (check ok()), wiped and freed with the holder, moved, never copied.
class SecretBuffer {
 public:
  SecretBuffer() noexcept = default;
  explicit SecretBuffer(size_t capacity) noexcept
      : buf_(new (std::nothrow) uint8_t[capacity]()), cap_(buf_ != nullptr ? capacity : 0) {}
  SecretBuffer(SecretBuffer&& other) noexcept : buf_(other.buf_), cap_(other.cap_) {
    other.buf_ = nullptr;
    other.cap_ = 0;
  }
  SecretBuffer& operator=(SecretBuffer&& other) noexcept {
    if (this != &other) {
      reset();
      buf_ = other.buf_;
      cap_ = other.cap_;
      other.buf_ = nullptr;
      other.cap_ = 0;
    }
    return *this;
  }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;
  ~SecretBuffer() { reset(); }

  // False when the allocation failed (or the holder is empty or moved from).
  [[nodiscard]] bool ok() const noexcept { return buf_ != nullptr; }
  uint8_t* data() noexcept { return buf_; }
  const uint8_t* data() const noexcept { return buf_; }
  [[nodiscard]] size_t capacity() const noexcept { return cap_; }
  // Wipes and frees the buffer now; the holder is left empty.
  void reset() noexcept {
    if (buf_ != nullptr) {
      secure_wipe(buf_, cap_);
      delete[] buf_;
    }
    buf_ = nullptr;
    cap_ = 0;
  }

 private:
  uint8_t* buf_ = nullptr;
  size_t cap_ = 0;
};

// Wipes an object (e.g. a cipher context) when the guard leaves scope.
template <class T>
class WipeOnExit {
 public:
  explicit WipeOnExit(T& obj) noexcept : obj_(obj) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { secure_wipe(&obj_, sizeof(T)); }

 private:
  T& obj_;
};

// No exception may cross a C entry point of the system, so code under one
// allocates in these no-throw forms and reports a failed allocation as the
// host-memory code (CKR_HOST_MEMORY) of its layer.
template <class T>
[[nodiscard]] std::unique_ptr<T> make_unique_nothrow() noexcept {
  return std::unique_ptr<T>(new (std::nothrow) T());
}
// n value-initialised elements; false (v emptied) when memory runs out.
template <class V>
[[nodiscard]] bool try_assign(V& v, size_t n) noexcept {
  try {
    v.assign(n, typename V::value_type{});
    return true;
  } catch (const std::exception&) {
    v.clear();
    return false;
  }
}
template <class V, class It>
[[nodiscard]] bool try_assign(V& v, It first, It last) noexcept {
  try {
    v.assign(first, last);
    return true;
  } catch (const std::exception&) {
    v.clear();
    return false;
  }
}

}  // namespace quarzel
