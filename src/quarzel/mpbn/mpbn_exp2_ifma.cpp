// The side-by-side exponentiation on AVX-512 IFMA (VPMADD52LUQ/HUQ): eight
// 52-bit digits per ZMM register. Chosen at run time where the CPU has
// AVX-512F and IFMA and the OS saves their state.
#if defined(__x86_64__)
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's intrinsics seed their unused pass-through operand with a
// self-initialised variable, which its own -Wuninitialized then reports
// wherever they are inlined (GCC bug 105593, fixed in 12.3).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#endif

#include "mpbn/mpbn_internal.h"

#if defined(__x86_64__)
#define EXP2_TARGET __attribute__((target("avx512f,avx512ifma")))
#include "mpbn/mpbn_exp2.h"

namespace quarzel::mpbn_detail {
namespace {

using exp2::kMask52;

struct Ifma {
  using vec = __m512i;
  EXP2_TARGET static vec zero() { return _mm512_setzero_si512(); }
  EXP2_TARGET static vec load(const u64* p) { return _mm512_loadu_si512(p); }
  EXP2_TARGET static void store(u64* p, vec v) { _mm512_storeu_si512(p, v); }
  EXP2_TARGET static vec set1(u64 x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
  EXP2_TARGET static vec madd_lo(vec acc, vec a, vec b) { return _mm512_madd52lo_epu64(acc, a, b); }
  EXP2_TARGET static vec madd_hi(vec acc, vec a, vec b) { return _mm512_madd52hi_epu64(acc, a, b); }
  EXP2_TARGET static u64 lane1(vec v) { return static_cast<u64>(_mm_extract_epi64(_mm512_castsi512_si128(v), 1)); }
  EXP2_TARGET static vec set_lane0(vec v, u64 x) { return _mm512_mask_set1_epi64(v, 1, static_cast<long long>(x)); }
  EXP2_TARGET static vec shift_down(vec lo, vec hi) { return _mm512_alignr_epi64(hi, lo, 1); }
  EXP2_TARGET static vec shift_up(vec prev, vec cur) { return _mm512_alignr_epi64(cur, prev, 7); }
  EXP2_TARGET static vec add(vec a, vec b) { return _mm512_add_epi64(a, b); }
  EXP2_TARGET static vec srl52(vec v) { return _mm512_srli_epi64(v, 52); }
  EXP2_TARGET static vec and52(vec v) { return _mm512_and_si512(v, set1(kMask52)); }
  EXP2_TARGET static vec and_(vec a, vec b) { return _mm512_and_si512(a, b); }
  EXP2_TARGET static vec or_(vec a, vec b) { return _mm512_or_si512(a, b); }
  EXP2_TARGET static uint8_t above52(vec v) { return _mm512_cmpgt_epu64_mask(v, set1(kMask52)); }
  EXP2_TARGET static uint8_t all_ones52(vec v) { return _mm512_cmpeq_epu64_mask(v, set1(kMask52)); }
  EXP2_TARGET static vec add_one(vec v, uint8_t k) { return _mm512_mask_add_epi64(v, k, v, set1(1)); }
};

}  // namespace

MontExp2Kernel mont_exp2_ifma(size_t L) {
  return exp2::kernel_for<Ifma>(L, {"ifma8", "ifma16", "ifma24", "ifma32"});
}

}  // namespace quarzel::mpbn_detail

#else

namespace quarzel::mpbn_detail {
MontExp2Kernel mont_exp2_ifma(size_t) { return {nullptr, 0, "none"}; }
}  // namespace quarzel::mpbn_detail

#endif
