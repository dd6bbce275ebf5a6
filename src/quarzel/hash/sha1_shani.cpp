// SHA-1 block function on the x86 SHA extensions. Selected at run time; only
// called when the CPU has SHA, SSSE3 and SSE4.1.
#include "hash/internal.h"

#if defined(QUARZEL_HAVE_SHA_NI)
#include <immintrin.h>

#include <utility>

#define QZ_SHANI_TARGET __attribute__((target("sha,ssse3,sse4.1")))

namespace quarzel::hash {
namespace {

// Four rounds 4g..4g+3 (round function g / 5). From group 4 on,
// W[g] = msg2(msg1(W[g-4], W[g-3]) ^ W[g-2], W[g-1]). `e_src` is the A word
// before the previous four rounds, from which sha1nexte derives E.
template <int G>
QZ_SHANI_TARGET inline void rounds4(__m128i& abcd, __m128i& e_src, __m128i (&w)[4], const uint8_t* p,
                                    __m128i bswap) {
  __m128i m;
  if constexpr (G < 4) {
    m = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * G)), bswap);
  } else {
    m = _mm_sha1msg1_epu32(w[G & 3], w[(G - 3) & 3]);
    m = _mm_xor_si128(m, w[(G - 2) & 3]);
    m = _mm_sha1msg2_epu32(m, w[(G - 1) & 3]);
  }
  w[G & 3] = m;
  const __m128i e = G == 0 ? _mm_add_epi32(e_src, m) : _mm_sha1nexte_epu32(e_src, m);
  e_src = abcd;
  abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
}

template <int... G>
QZ_SHANI_TARGET inline void all_rounds(__m128i& abcd, __m128i& e_src, const uint8_t* p, __m128i bswap,
                                       std::integer_sequence<int, G...>) {
  __m128i w[4];
  (rounds4<G>(abcd, e_src, w, p, bswap), ...);
}

}  // namespace

QZ_SHANI_TARGET void sha1_compress_shani(uint32_t h[5], const uint8_t* p, size_t n) {
  // Whole-vector byte reversal: big-endian words with W0 in the top lane.
  const __m128i bswap = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);

  for (; n != 0; --n, p += 64) {
    const __m128i abcd_in = abcd, e_in = e0;
    __m128i e_src = e0;
    all_rounds(abcd, e_src, p, bswap, std::make_integer_sequence<int, 20>{});
    e0 = _mm_sha1nexte_epu32(e_src, e_in);
    abcd = _mm_add_epi32(abcd, abcd_in);
  }

  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
  h[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace quarzel::hash
#endif
