// GHASH building blocks shared by the 8-block CLMUL path (ghash_clmul.cpp)
// and the 16-block VAES path (gcm_vaes.cpp): bit-reflected products of
// byte-reversed blocks, kept unreduced so that several can be summed before
// one reduction. Only for files compiled on x86-64.
#pragma once

#include <immintrin.h>

#include <cstdint>

#define QZ_CLMUL __attribute__((target("aes,pclmul,sse4.1,ssse3")))

namespace quarzel::gcm::clmul {

QZ_CLMUL inline __m128i bswap128(__m128i x) {
  return _mm_shuffle_epi8(x, _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
}
QZ_CLMUL inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
QZ_CLMUL inline void store(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Unreduced 256-bit product, kept as its three Karatsuba-free parts so that
// several products can be summed before one reduction.
struct Wide {
  __m128i lo, mid, hi;
};

QZ_CLMUL inline Wide wide_zero() { return {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()}; }

QZ_CLMUL inline void mul_acc(Wide& w, __m128i a, __m128i b) {
  w.lo = _mm_xor_si128(w.lo, _mm_clmulepi64_si128(a, b, 0x00));
  w.hi = _mm_xor_si128(w.hi, _mm_clmulepi64_si128(a, b, 0x11));
  w.mid = _mm_xor_si128(w.mid, _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01)));
}

QZ_CLMUL inline __m128i reduce(const Wide& w) {
  __m128i lo = _mm_xor_si128(w.lo, _mm_slli_si128(w.mid, 8));
  __m128i hi = _mm_xor_si128(w.hi, _mm_srli_si128(w.mid, 8));
  // Shift the 256-bit product left by one bit (reflected representation).
  __m128i c_lo = _mm_srli_epi32(lo, 31);
  __m128i c_hi = _mm_srli_epi32(hi, 31);
  lo = _mm_slli_epi32(lo, 1);
  hi = _mm_slli_epi32(hi, 1);
  const __m128i carry_mid = _mm_srli_si128(c_lo, 12);
  c_hi = _mm_slli_si128(c_hi, 4);
  c_lo = _mm_slli_si128(c_lo, 4);
  lo = _mm_or_si128(lo, c_lo);
  hi = _mm_or_si128(_mm_or_si128(hi, c_hi), carry_mid);
  // Reduction, first phase.
  __m128i t = _mm_xor_si128(_mm_xor_si128(_mm_slli_epi32(lo, 31), _mm_slli_epi32(lo, 30)), _mm_slli_epi32(lo, 25));
  const __m128i t_hi = _mm_srli_si128(t, 4);
  lo = _mm_xor_si128(lo, _mm_slli_si128(t, 12));
  // Second phase.
  __m128i u = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi32(lo, 1), _mm_srli_epi32(lo, 2)), _mm_srli_epi32(lo, 7));
  u = _mm_xor_si128(u, t_hi);
  lo = _mm_xor_si128(lo, u);
  return _mm_xor_si128(hi, lo);
}

QZ_CLMUL inline __m128i gfmul(__m128i a, __m128i b) {
  Wide w = wide_zero();
  mul_acc(w, a, b);
  return reduce(w);
}

}  // namespace quarzel::gcm::clmul
