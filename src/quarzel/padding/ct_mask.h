// Branch-free helpers on 32-bit words: each returns all ones for true and 0
// for false, so a secret-dependent decision becomes a mask, not a jump.
#pragma once

#include <cstdint>

namespace quarzel::ct {

// Hides a value from the optimiser so that mask arithmetic is not turned back
// into a conditional jump.
inline uint32_t barrier(uint32_t v) {
  __asm__("" : "+r"(v));
  return v;
}

inline uint32_t msb_mask(uint32_t v) { return barrier(0u - (v >> 31)); }
inline uint32_t is_zero(uint32_t v) { return msb_mask(~v & (v - 1)); }
inline uint32_t eq(uint32_t a, uint32_t b) { return is_zero(a ^ b); }
// a < b for any 32-bit a, b.
inline uint32_t lt(uint32_t a, uint32_t b) { return msb_mask(a ^ ((a ^ b) | ((a - b) ^ a))); }
inline uint32_t ge(uint32_t a, uint32_t b) { return ~lt(a, b); }
inline uint32_t select(uint32_t mask, uint32_t a, uint32_t b) { return (mask & a) | (~mask & b); }

}  // namespace quarzel::ct
