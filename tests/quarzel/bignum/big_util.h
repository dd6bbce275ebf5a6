// Test helpers: random big values as MSW-first word vectors, mpi handles in
// either byte order over owned or mapped buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quarzel/mpi.h"

namespace bt {

using Big = std::vector<uint32_t>;  // most significant word first

inline std::string hex(const Big& v) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint32_t w : v)
    for (int i = 7; i >= 0; --i) s += d[(w >> (4 * i)) & 0xF];
  const size_t nz = s.find_first_not_of('0');
  return nz == std::string::npos ? "0" : s.substr(nz);
}

// Operand shapes that reach the edge paths.
enum class Shape { kRandom, kZero, kOne, kAllOnes, kLeadingZeros, kSparse, kSmall, kTopBitOnly };

class Rng {
 public:
  explicit Rng(uint64_t seed) : g_(seed) {}
  uint32_t word() { return static_cast<uint32_t>(g_()); }
  size_t range(size_t lo, size_t hi) { return lo + static_cast<size_t>(g_() % (hi - lo + 1)); }
  bool coin() { return (g_() & 1) != 0; }
  Big random(size_t nw) {
    Big v(nw);
    for (auto& w : v) w = word();
    return v;
  }
  Big shaped(size_t nw, Shape s) {
    Big v(nw, 0);
    switch (s) {
      case Shape::kRandom: return random(nw);
      case Shape::kZero: return v;
      case Shape::kOne: v.back() = 1; return v;
      case Shape::kAllOnes: return Big(nw, 0xFFFFFFFFu);
      case Shape::kLeadingZeros: {
        v = random(nw);
        const size_t z = range(1, nw);
        for (size_t i = 0; i < z && i + 1 < nw; ++i) v[i] = 0;
        return v;
      }
      case Shape::kSparse:
        for (auto& w : v) w = (g_() % 4 == 0) ? word() : 0;
        return v;
      case Shape::kSmall: v.back() = word() % 1000; return v;
      case Shape::kTopBitOnly: v.front() = 0x80000000u; return v;
    }
    return v;
  }
  // Mostly random, sometimes an edge shape.
  Big operand(size_t nw) {
    const uint64_t pick = g_() % 16;
    if (pick < 9) return random(nw);
    return shaped(nw, static_cast<Shape>(pick - 8));
  }

 private:
  std::mt19937_64 g_;
};

// Big-endian bytes of a value, right-aligned in `size` bytes (top dropped).
inline std::vector<uint8_t> to_bytes(const Big& v, size_t size) {
  std::vector<uint8_t> out(size, 0);
  for (size_t k = 0; k < size && k / 4 < v.size(); ++k)
    out[size - 1 - k] = static_cast<uint8_t>(v[v.size() - 1 - k / 4] >> (8 * (k % 4)));
  return out;
}

// A handle holding v in `size` bytes with the given tag, over a buffer it
// owns (mpi_alloc) or over a mapped vector.
class Handle {
 public:
  Handle(const Big& v, size_t size, mpi_endian_t tag, bool owned) : owned_(owned) {
    const auto bytes = to_bytes(v, size);
    if (owned) {
      if (mpi_alloc(&h_, static_cast<uint32_t>(size)) != 0) throw std::bad_alloc();
      (void)mpi_set_value(&h_, MPI_ENDIAN_MF_U8, static_cast<uint32_t>(size), bytes.data());
    } else {
      buf_ = bytes;
      buf_.resize(size + 1);  // never empty, so size 0 maps a real pointer
      (void)mpi_mapping(&h_, MPI_ENDIAN_MF_U8, static_cast<uint32_t>(size), buf_.data());
    }
    if (tag == MPI_ENDIAN_MF_U32) (void)mpi_change_endian(&h_, MPI_ENDIAN_MF_U32);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (owned_) mpi_free(&h_);
  }
  mpi_t* get() { return &h_; }
  // The value, read in the handle's current tag, as size/4 rounded-up words.
  Big value() const {
    const size_t nw = (h_.size + 3) / 4;
    Big v(nw, 0);
    if (h_.endian == MPI_ENDIAN_MF_U32) {
      std::memcpy(v.data(), h_.ptr_value, h_.size);
    } else {
      for (size_t i = 0; i < h_.size; ++i) {
        const size_t k = h_.size - 1 - i;
        v[nw - 1 - k / 4] |= static_cast<uint32_t>(h_.ptr_value[i]) << (8 * (k % 4));
      }
    }
    return v;
  }
  std::vector<uint8_t> raw() const { return {h_.ptr_value, h_.ptr_value + h_.size}; }

 private:
  mpi_t h_ = mpi_default;
  std::vector<uint8_t> buf_;
  bool owned_;
};

}  // namespace bt
