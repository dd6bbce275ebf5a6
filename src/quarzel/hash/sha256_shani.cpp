// SHA-256 block function on the x86 SHA extensions. Selected at run time;
// only called when the CPU has SHA, SSSE3 and SSE4.1.
#include "hash/internal.h"

#if defined(QUARZEL_HAVE_SHA_NI)
#include <immintrin.h>

#include <utility>

#define QZ_SHANI_TARGET __attribute__((target("sha,ssse3,sse4.1")))

namespace quarzel::hash {
namespace {

// Four rounds 4g..4g+3. `w` holds the last four message groups; from group 4
// on, W[g] = msg2(msg1(W[g-4], W[g-3]) + W[g-2..g-1] shifted by one word, W[g-1]).
template <int G>
QZ_SHANI_TARGET inline void rounds4(__m128i& abef, __m128i& cdgh, __m128i (&w)[4], const uint8_t* p,
                                    __m128i bswap) {
  __m128i m;
  if constexpr (G < 4) {
    m = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * G)), bswap);
  } else {
    m = _mm_sha256msg1_epu32(w[G & 3], w[(G - 3) & 3]);
    m = _mm_add_epi32(m, _mm_alignr_epi8(w[(G - 1) & 3], w[(G - 2) & 3], 4));
    m = _mm_sha256msg2_epu32(m, w[(G - 1) & 3]);
  }
  w[G & 3] = m;
  const __m128i k = _mm_add_epi32(m, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256K + 4 * G)));
  cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
  abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
}

template <int... G>
QZ_SHANI_TARGET inline void all_rounds(__m128i& abef, __m128i& cdgh, const uint8_t* p, __m128i bswap,
                                       std::integer_sequence<int, G...>) {
  __m128i w[4];
  (rounds4<G>(abef, cdgh, w, p, bswap), ...);
}

}  // namespace

QZ_SHANI_TARGET void sha256_compress_shani(uint32_t h[8], const uint8_t* p, size_t n) {
  const __m128i bswap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  // The instructions keep the state as ABEF / CDGH.
  __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));         // DCBA
  __m128i cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));  // HGFE
  t = _mm_shuffle_epi32(t, 0xB1);                                            // CDAB
  cdgh = _mm_shuffle_epi32(cdgh, 0x1B);                                      // EFGH
  __m128i abef = _mm_alignr_epi8(t, cdgh, 8);                                // ABEF
  cdgh = _mm_blend_epi16(cdgh, t, 0xF0);                                     // CDGH

  for (; n != 0; --n, p += 64) {
    const __m128i abef_in = abef, cdgh_in = cdgh;
    all_rounds(abef, cdgh, p, bswap, std::make_integer_sequence<int, 16>{});
    abef = _mm_add_epi32(abef, abef_in);
    cdgh = _mm_add_epi32(cdgh, cdgh_in);
  }

  t = _mm_shuffle_epi32(abef, 0x1B);     // FEBA
  cdgh = _mm_shuffle_epi32(cdgh, 0xB1);  // DCHG
  abef = _mm_blend_epi16(t, cdgh, 0xF0); // DCBA
  cdgh = _mm_alignr_epi8(cdgh, t, 8);    // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h), abef);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), cdgh);
}

}  // namespace quarzel::hash
#endif
