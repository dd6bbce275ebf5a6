// Internals shared by the hash cores: byte order, block functions and their
// run-time selection.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quarzel/hash.h"

namespace quarzel::hash {

inline uint32_t load_be32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
}
inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
}
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return std::endian::native == std::endian::little ? v : __builtin_bswap64(v);
}
inline void store_be32(uint8_t* p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}
inline void store_be64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}
inline void store_le64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// SHA-256 round constants (FIPS 180-4 4.2.2).
alignas(16) extern const uint32_t kSha256K[64];

// Block functions.
void sha1_compress_portable(uint32_t h[5], const uint8_t* blocks, size_t n);
void sha256_compress_portable(uint32_t h[8], const uint8_t* blocks, size_t n);
void sha512_compress(uint64_t h[8], const uint8_t* blocks, size_t n);
#if defined(__x86_64__) || defined(__i386__)
#define QUARZEL_HAVE_SHA_NI 1
void sha1_compress_shani(uint32_t h[5], const uint8_t* blocks, size_t n);
void sha256_compress_shani(uint32_t h[8], const uint8_t* blocks, size_t n);
#endif

// Chosen once per context by the core init.
sha1_compress_fn select_sha1_compress() noexcept;
sha256_compress_fn select_sha256_compress() noexcept;

}  // namespace quarzel::hash
