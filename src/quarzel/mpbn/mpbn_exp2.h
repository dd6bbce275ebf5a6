// Two constant-time exponentiations side by side on 52-bit digits, over a
// policy V of 8-lane vector operations: AVX-512 IFMA (mpbn_exp2_ifma.cpp) or
// its portable model (mpbn_exp2_model.cpp). The including file defines
// EXP2_TARGET as the target attribute its policy needs before including this.
//
// Products are "almost Montgomery" (Gueron and Krasnov, "Software
// implementation of modular exponentiation, using advanced vector
// instructions architectures", 2012): with R = 2^(52 D) > 4n, inputs below
// 2n give an output below 2n, so no step subtracts n until the very end.
// Each digit of b costs one pass of fused 52-bit multiply-adds over a and n
// whose lanes take their carries only once per product, by masks.
#pragma once

#include "mpbn/mpbn_internal.h"

#ifndef EXP2_TARGET
#define EXP2_TARGET
#endif

namespace quarzel::mpbn_detail::exp2 {

constexpr u64 kMask52 = (u64{1} << 52) - 1;

// Numbers of L 64-bit limbs as D 52-bit digits, in NV vectors of 8 lanes.
template <size_t L>
struct Shape {
  static constexpr size_t D = (64 * L + 51) / 52;
  static constexpr size_t NV = (D + 7) / 8;
  static constexpr size_t W = 8 * NV;  // u64 per number, lanes past D zero
  static_assert(52 * D >= 64 * L + 2, "R must exceed 4n");
  static_assert(NV <= 8, "one carry bit per lane in a 64-bit word");
};

// Layout changes between 64-bit limbs and 52-bit digits (public sizes only).
void limbs_to_digits(u64* d, size_t W, const u64* x, size_t L);
void digits_to_limbs(u64* x, size_t L, const u64* d, size_t W);

template <class V, size_t L>
struct Engine {
  using vec = typename V::vec;
  static constexpr size_t D = Shape<L>::D, NV = Shape<L>::NV, W = Shape<L>::W;

  // One modulus: its digits and k0 = -n^-1 mod 2^52.
  struct Mod {
    const u64* n;
    u64 k0;
  };

  // R += a*b_i, then the multiple of n that clears the low digit, then one
  // digit down. Lane 0 lives in t0, a scalar: y and the carry come from it
  // without a trip through the vector unit, and the lane that moves into
  // place is read before the high halves land on it (those of lane 0 are in
  // the carry already). The vector's own lane 0 is shifted out unread.
  // Lanes stay far below 2^64: each gains under 2^54 per step.
  EXP2_TARGET static inline void step(vec (&R)[NV], u64& t0, const vec (&A)[NV], const vec (&N)[NV], u64 b,
                                      u64 a0, u64 n0, u64 k0) {
    const vec bv = V::set1(b);
    const u128 ab = static_cast<u128>(a0) * b;
    const u64 y = ((t0 + static_cast<u64>(ab)) * k0) & kMask52;
    const vec yv = V::set1(y);
    // t0 + a0 b + n0 y is a multiple of 2^52; what lies above moves down.
    const u64 carry = static_cast<u64>((t0 + ab + static_cast<u128>(n0) * y) >> 52);
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) R[v] = V::madd_lo(V::madd_lo(R[v], A[v], bv), N[v], yv);
    t0 = V::lane1(R[0]) + carry;
#pragma GCC unroll 8
    for (size_t v = 0; v + 1 < NV; ++v) R[v] = V::shift_down(R[v], R[v + 1]);
    R[NV - 1] = V::shift_down(R[NV - 1], V::zero());
    // The high halves belong one digit up, which the shift has made digit j.
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) R[v] = V::madd_hi(V::madd_hi(R[v], A[v], bv), N[v], yv);
  }

  // Lanes back to 52-bit digits. One pass moves every lane's excess up one
  // lane, leaving each below 2^53; the carries that remain ripple through
  // lanes of all ones, found at once by one integer addition on per-lane
  // bits (generate + propagate, as in a carry-lookahead adder). The value is
  // below R, so nothing leaves the top digit.
  EXP2_TARGET static inline void normalize(vec (&R)[NV]) {
    vec C[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
      C[v] = V::srl52(R[v]);
      R[v] = V::and52(R[v]);
    }
    R[0] = V::add(R[0], V::shift_up(V::zero(), C[0]));
#pragma GCC unroll 8
    for (size_t v = 1; v < NV; ++v) R[v] = V::add(R[v], V::shift_up(C[v - 1], C[v]));
    u64 gen = 0, prop = 0;
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
      gen |= static_cast<u64>(V::above52(R[v])) << (8 * v);
      prop |= static_cast<u64>(V::all_ones52(R[v])) << (8 * v);
    }
    const u64 carry_in = ((gen << 1) + prop) ^ prop;
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) R[v] = V::and52(V::add_one(R[v], static_cast<uint8_t>(carry_in >> (8 * v))));
  }

  // r_h = a_h b_h / R mod n_h (almost: below 2 n_h) for both moduli, the
  // two products interleaved. r_h may alias a_h or b_h.
  EXP2_TARGET static void mul2(u64* r0, const u64* a0, const u64* b0, const Mod& m0, u64* r1, const u64* a1,
                               const u64* b1, const Mod& m1) {
    vec A0[NV], N0[NV], R0[NV], A1[NV], N1[NV], R1[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
      A0[v] = V::load(a0 + 8 * v);
      N0[v] = V::load(m0.n + 8 * v);
      A1[v] = V::load(a1 + 8 * v);
      N1[v] = V::load(m1.n + 8 * v);
      R0[v] = R1[v] = V::zero();
    }
    const u64 a00 = a0[0], a10 = a1[0], n00 = m0.n[0], n10 = m1.n[0];
    u64 t00 = 0, t10 = 0;
    for (size_t i = 0; i < D; ++i) {
      const u64 b0i = b0[i], b1i = b1[i];
      step(R0, t00, A0, N0, b0i, a00, n00, m0.k0);
      step(R1, t10, A1, N1, b1i, a10, n10, m1.k0);
    }
    R0[0] = V::set_lane0(R0[0], t00);
    R1[0] = V::set_lane0(R1[0], t10);
    normalize(R0);
    normalize(R1);
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) {
      V::store(r0 + 8 * v, R0[v]);
      V::store(r1 + 8 * v, R1[v]);
    }
  }

  // sel = entry idx of the table, every entry read under a mask.
  EXP2_TARGET static void gather(u64* sel, const u64* table, size_t entries, u64 idx) {
    vec acc[NV];
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) acc[v] = V::zero();
    for (size_t i = 0; i < entries; ++i) {
      const vec m = V::set1(ct::eq<u64>(static_cast<u64>(i), idx));
#pragma GCC unroll 8
      for (size_t v = 0; v < NV; ++v) acc[v] = V::or_(acc[v], V::and_(V::load(table + i * W + 8 * v), m));
    }
#pragma GCC unroll 8
    for (size_t v = 0; v < NV; ++v) V::store(sel + 8 * v, acc[v]);
  }

  // Per modulus the table, then acc, sel, rr, n and one (W u64 each); then
  // 2L limbs for the doublings and L+1 for the way out.
  static size_t work_limbs() { return 2 * ((size_t{1} << exp_window(64 * L)) + 5) * W + 3 * L + 1; }

  EXP2_TARGET static void run(const ExpOperand (&ops)[2], u64* work) {
    const unsigned w = exp_window(64 * L);
    const size_t entries = size_t{1} << w;
    u64* table[2];
    u64 *acc[2], *sel[2], *rr[2], *n[2], *one[2];
    Mod mod[2];
    u64* p = work;
    for (size_t h = 0; h < 2; ++h) {
      table[h] = p;
      acc[h] = table[h] + entries * W;
      sel[h] = acc[h] + W;
      rr[h] = sel[h] + W;
      n[h] = rr[h] + W;
      one[h] = n[h] + W;
      p = one[h] + W;
    }
    u64* t = p;          // 2L limbs for the doublings
    u64* out = t + 2 * L;  // L+1 limbs
    for (size_t h = 0; h < 2; ++h) {
      const ExpOperand& op = ops[h];
      // 2^(2 52 D) mod n from 2^(128 L) mod n.
      for (size_t j = 0; j < L; ++j) out[j] = op.rr[j];
      mod_double_ct(L, out, op.n, 2 * 52 * D - 128 * L, t);
      limbs_to_digits(rr[h], W, out, L);
      limbs_to_digits(n[h], W, op.n, L);
      limbs_to_digits(sel[h], W, op.base, L);
      for (size_t j = 0; j < W; ++j) one[h][j] = j == 0;
      mod[h] = Mod{n[h], op.ninv & kMask52};
    }
    mul2(table[0], rr[0], one[0], mod[0], table[1], rr[1], one[1], mod[1]);  // R mod n
    mul2(table[0] + W, sel[0], rr[0], mod[0], table[1] + W, sel[1], rr[1], mod[1]);  // b R mod n
    for (size_t i = 2; i < entries; ++i) {
      const size_t x = (i & 1) == 0 ? i / 2 : i - 1, y = (i & 1) == 0 ? i / 2 : 1;
      mul2(table[0] + i * W, table[0] + x * W, table[0] + y * W, mod[0], table[1] + i * W, table[1] + x * W,
           table[1] + y * W, mod[1]);
    }
    // Left to right over windows of w bits, the top one possibly partial;
    // its entry is the accumulator's first value.
    const size_t windows = (64 * L + w - 1) / w;
    for (size_t h = 0; h < 2; ++h) gather(acc[h], table[h], entries, window_bits(ops[h].e, L, (windows - 1) * w, w));
    for (size_t k = windows - 1; k-- > 0;) {
      for (unsigned b = 0; b < w; ++b) mul2(acc[0], acc[0], acc[0], mod[0], acc[1], acc[1], acc[1], mod[1]);
      for (size_t h = 0; h < 2; ++h) gather(sel[h], table[h], entries, window_bits(ops[h].e, L, k * w, w));
      mul2(acc[0], acc[0], sel[0], mod[0], acc[1], acc[1], sel[1], mod[1]);
    }
    // Out of Montgomery form: acc/R mod n lies in [0, n]; n itself (a zero
    // result) loses n under a mask.
    mul2(acc[0], acc[0], one[0], mod[0], acc[1], acc[1], one[1], mod[1]);
    for (size_t h = 0; h < 2; ++h) {
      digits_to_limbs(out, L, acc[h], W);
      out[L] = 0;
      mont_final_subtract(L, ops[h].r, out, ops[h].n);
    }
  }
};

// The kernels of policy V for the limb counts of RSA's CRT halves, named
// names[0..3] for 8, 16, 24 and 32 limbs.
template <class V>
MontExp2Kernel kernel_for(size_t L, const char* const (&names)[4]) {
  switch (L) {
    case 8: return {Engine<V, 8>::run, Engine<V, 8>::work_limbs(), names[0]};
    case 16: return {Engine<V, 16>::run, Engine<V, 16>::work_limbs(), names[1]};
    case 24: return {Engine<V, 24>::run, Engine<V, 24>::work_limbs(), names[2]};
    case 32: return {Engine<V, 32>::run, Engine<V, 32>::work_limbs(), names[3]};
    default: return {nullptr, 0, "none"};
  }
}

}  // namespace quarzel::mpbn_detail::exp2
