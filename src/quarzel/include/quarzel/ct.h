// Constant-time masks: a secret-dependent decision becomes a word of all ones
// (true) or all zeros (false) that selects by AND/OR, never a jump.
//
// Every mask passes through value_barrier, an empty asm statement that makes
// the value opaque to the optimiser: without it a compiler may notice that a
// mask is 0 or ~0 and turn the selection back into a conditional branch.
// The helpers work on 32- and 64-bit unsigned words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(QUARZEL_CT_VALIDATION)
#include <valgrind/memcheck.h>
#endif

namespace quarzel::ct {

template <class W>
concept Word = std::is_same_v<W, uint32_t> || std::is_same_v<W, uint64_t>;

template <Word W>
inline constexpr unsigned kTopBit = sizeof(W) * 8 - 1;

// The value itself, hidden from the optimiser.
template <Word W>
[[nodiscard]] inline W value_barrier(W v) {
  __asm__("" : "+r"(v));
  return v;
}

// All ones when the top bit of v is set.
template <Word W>
[[nodiscard]] inline W msb_mask(W v) {
  return value_barrier<W>(W{0} - (v >> kTopBit<W>));
}
// All ones when bit 0 of v is set (other bits ignored).
template <Word W>
[[nodiscard]] inline W mask_from_bit(W v) {
  return value_barrier<W>(W{0} - (v & 1u));
}
template <Word W>
[[nodiscard]] inline W mask_from_bool(bool b) {
  return mask_from_bit<W>(static_cast<W>(b));
}
template <Word W>
[[nodiscard]] inline W is_zero(W v) {
  return msb_mask<W>(~v & (v - 1));
}
template <Word W>
[[nodiscard]] inline W is_nonzero(W v) {
  return ~is_zero<W>(v);
}
template <Word W>
[[nodiscard]] inline W eq(W a, std::type_identity_t<W> b) {
  return is_zero<W>(a ^ b);
}
// a < b over the whole range of W.
template <Word W>
[[nodiscard]] inline W lt(W a, std::type_identity_t<W> b) {
  return msb_mask<W>(a ^ ((a ^ b) | ((a - b) ^ a)));
}
template <Word W>
[[nodiscard]] inline W ge(W a, std::type_identity_t<W> b) {
  return ~lt<W>(a, b);
}
// mask ? a : b.
template <Word W>
[[nodiscard]] inline W select(W mask, std::type_identity_t<W> a, std::type_identity_t<W> b) {
  return (mask & a) | (~mask & b);
}

// r[i] = mask ? a[i] : b[i] for n words; r may alias a or b.
template <Word W>
inline void select_words(W* r, W mask, const W* a, const W* b, size_t n) {
  for (size_t i = 0; i < n; ++i) r[i] = select<W>(mask, a[i], b[i]);
}
// Conditional swap of two n-word arrays under mask.
template <Word W>
inline void swap_words(W mask, W* a, W* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const W t = mask & (a[i] ^ b[i]);
    a[i] ^= t;
    b[i] ^= t;
  }
}

// Marks a value derived from secrets as public from here on: a validity
// flag or a length the caller receives anyway, the oddness of a prime. Only
// the constant-time test build (QUARZEL_CT_VALIDATION, run under Valgrind
// with the secrets marked undefined) does anything with it; every call is a
// statement that the value may leak.
inline void declassify(const void* p, size_t n) {
#if defined(QUARZEL_CT_VALIDATION)
  (void)VALGRIND_MAKE_MEM_DEFINED(p, n);
#else
  (void)p;
  (void)n;
#endif
}
template <class T>
[[nodiscard]] inline T declassify(T v) {
  declassify(&v, sizeof v);
  return v;
}

}  // namespace quarzel::ct
