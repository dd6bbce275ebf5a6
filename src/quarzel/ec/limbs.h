// 64-bit limbs and the carry primitives of the field code.
#pragma once

#include <cstdint>

#include "quarzel/ct.h"

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace quarzel::ec {

using u64 = uint64_t;
using u128 = unsigned __int128;
namespace ct = ::quarzel::ct;

#define QZ_EC_INLINE inline __attribute__((always_inline))

// Add and subtract with carry: the carry chains that the compiler turns into
// adc/sbb sequences.
QZ_EC_INLINE unsigned char addc(unsigned char c, u64 a, u64 b, u64* out) {
#if defined(__x86_64__)
  unsigned long long o;
  c = _addcarry_u64(c, a, b, &o);
  *out = o;
  return c;
#else
  const u128 x = static_cast<u128>(a) + b + c;
  *out = static_cast<u64>(x);
  return static_cast<unsigned char>(x >> 64);
#endif
}
QZ_EC_INLINE unsigned char subb(unsigned char c, u64 a, u64 b, u64* out) {
#if defined(__x86_64__)
  unsigned long long o;
  c = _subborrow_u64(c, a, b, &o);
  *out = o;
  return c;
#else
  const u128 x = static_cast<u128>(a) - b - c;
  *out = static_cast<u64>(x);
  return static_cast<unsigned char>((x >> 64) & 1);
#endif
}

}  // namespace quarzel::ec
