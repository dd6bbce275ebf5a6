// Inline AES-NI building blocks shared by the AES and GCM fast paths. Only
// for files compiled on x86-64; every function carries its target attribute.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "aes/aes_internal.h"
#include "quarzel/port.h"

#define QZ_AESNI __attribute__((target("aes,sse4.1")))

namespace quarzel::aesni {

using aes_detail::rounds_for;

constexpr size_t kLanes = 8;

struct Keys {
  __m128i k[15];
  uint32_t nr;
};

QZ_AESNI inline void load_keys(Keys& keys, const uint8_t* rk, uint32_t key_len) {
  keys.nr = rounds_for(key_len);
  for (uint32_t i = 0; i <= keys.nr; ++i) keys.k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk + 16 * i));
}

inline void wipe_keys(Keys& keys) { secure_wipe(keys.k, sizeof keys.k); }

QZ_AESNI inline __m128i enc1(const Keys& keys, __m128i b) {
  b = _mm_xor_si128(b, keys.k[0]);
  for (uint32_t r = 1; r < keys.nr; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
  return _mm_aesenclast_si128(b, keys.k[keys.nr]);
}

QZ_AESNI inline __m128i dec1(const Keys& keys, __m128i b) {
  b = _mm_xor_si128(b, keys.k[keys.nr]);
  for (uint32_t r = keys.nr - 1; r > 0; --r) b = _mm_aesdec_si128(b, keys.k[r]);
  return _mm_aesdeclast_si128(b, keys.k[0]);
}

QZ_AESNI inline void enc8(const Keys& keys, __m128i* b) {
  for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_xor_si128(b[j], keys.k[0]);
  for (uint32_t r = 1; r < keys.nr; ++r) {
    const __m128i k = keys.k[r];
    for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_aesenc_si128(b[j], k);
  }
  for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_aesenclast_si128(b[j], keys.k[keys.nr]);
}

QZ_AESNI inline void dec8(const Keys& keys, __m128i* b) {
  for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_xor_si128(b[j], keys.k[keys.nr]);
  for (uint32_t r = keys.nr - 1; r > 0; --r) {
    const __m128i k = keys.k[r];
    for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_aesdec_si128(b[j], k);
  }
  for (size_t j = 0; j < kLanes; ++j) b[j] = _mm_aesdeclast_si128(b[j], keys.k[0]);
}

QZ_AESNI inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
QZ_AESNI inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

}  // namespace quarzel::aesni
