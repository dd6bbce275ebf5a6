// The side-by-side exponentiation on a portable model of the AVX-512 IFMA
// operations it uses, lane by lane in plain C++. The product never picks it
// (the 64-bit limb path is faster without the vector unit); tests run it on
// any CPU and under Valgrind, where AVX-512 cannot execute, so that the
// algorithm's results and its constant time are checked everywhere.
#include <cstring>

#include "mpbn/mpbn_exp2.h"

namespace quarzel::mpbn_detail {
namespace {

using exp2::kMask52;

struct Model {
  struct vec {
    u64 l[8];
  };
  static vec zero() { return vec{}; }
  static vec load(const u64* p) {
    vec v;
    std::memcpy(v.l, p, sizeof v.l);
    return v;
  }
  static void store(u64* p, const vec& v) { std::memcpy(p, v.l, sizeof v.l); }
  static vec set1(u64 x) {
    vec v;
    for (u64& l : v.l) l = x;
    return v;
  }
  // VPMADD52LUQ / VPMADD52HUQ: the low 52 bits of each operand multiplied,
  // the low or high 52 bits of the 104-bit product added.
  static vec madd_lo(vec acc, const vec& a, const vec& b) {
    for (size_t i = 0; i < 8; ++i) acc.l[i] += static_cast<u64>(product(a.l[i], b.l[i])) & kMask52;
    return acc;
  }
  static vec madd_hi(vec acc, const vec& a, const vec& b) {
    for (size_t i = 0; i < 8; ++i) acc.l[i] += static_cast<u64>(product(a.l[i], b.l[i]) >> 52);
    return acc;
  }
  static u64 lane1(const vec& v) { return v.l[1]; }
  static vec set_lane0(vec v, u64 x) {
    v.l[0] = x;
    return v;
  }
  // Lanes 1..7 of lo, then lane 0 of hi (VALIGNQ by one).
  static vec shift_down(const vec& lo, const vec& hi) {
    vec r;
    for (size_t i = 0; i < 7; ++i) r.l[i] = lo.l[i + 1];
    r.l[7] = hi.l[0];
    return r;
  }
  // Lane 7 of prev, then lanes 0..6 of cur (VALIGNQ by seven).
  static vec shift_up(const vec& prev, const vec& cur) {
    vec r;
    r.l[0] = prev.l[7];
    for (size_t i = 1; i < 8; ++i) r.l[i] = cur.l[i - 1];
    return r;
  }
  static vec add(vec a, const vec& b) {
    for (size_t i = 0; i < 8; ++i) a.l[i] += b.l[i];
    return a;
  }
  static vec srl52(vec v) {
    for (u64& l : v.l) l >>= 52;
    return v;
  }
  static vec and52(vec v) {
    for (u64& l : v.l) l &= kMask52;
    return v;
  }
  static vec and_(vec a, const vec& b) {
    for (size_t i = 0; i < 8; ++i) a.l[i] &= b.l[i];
    return a;
  }
  static vec or_(vec a, const vec& b) {
    for (size_t i = 0; i < 8; ++i) a.l[i] |= b.l[i];
    return a;
  }
  // One bit per lane, as a compare into a mask register would give.
  static uint8_t above52(const vec& v) {
    unsigned k = 0;
    for (size_t i = 0; i < 8; ++i) k |= static_cast<unsigned>((0 - (v.l[i] >> 52)) >> 63) << i;
    return static_cast<uint8_t>(k);
  }
  static uint8_t all_ones52(const vec& v) {
    unsigned k = 0;
    for (size_t i = 0; i < 8; ++i) {
      const u64 x = v.l[i] ^ kMask52;
      k |= static_cast<unsigned>(((x - 1) & ~x) >> 63) << i;
    }
    return static_cast<uint8_t>(k);
  }
  static vec add_one(vec v, uint8_t k) {
    for (size_t i = 0; i < 8; ++i) v.l[i] += (k >> i) & 1u;
    return v;
  }

 private:
  static u128 product(u64 a, u64 b) { return static_cast<u128>(a & kMask52) * (b & kMask52); }
};

}  // namespace

MontExp2Kernel mont_exp2_model(size_t L) {
  return exp2::kernel_for<Model>(L, {"model8", "model16", "model24", "model32"});
}

}  // namespace quarzel::mpbn_detail
