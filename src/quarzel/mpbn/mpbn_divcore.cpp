// Knuth's algorithm D (TAOCP vol. 2, 4.3.1) on 64-bit digits, with the
// digit estimates taken from a reciprocal of the divisor's top digit
// (N. Moller, T. Granlund, "Improved division by invariant integers", IEEE
// Trans. Computers 60(2), 2011) instead of a hardware division per digit.
// Variable time: the estimates, corrections and add-back branch on values.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {
namespace {

// Division of a two-digit number by a normalised digit d (top bit set).
class Reciprocal {
 public:
  explicit Reciprocal(u64 d) : d_(d), v_(static_cast<u64>(((static_cast<u128>(~d) << 64) | ~0ull) / d)) {}
  // (u1, u0) = q*d + r for u1 < d.
  void divide(u64 u1, u64 u0, u64& q, u64& r) const {
    const u128 qq = static_cast<u128>(v_) * u1 + ((static_cast<u128>(u1 + 1) << 64) | u0);  // mod 2^128
    u64 qh = static_cast<u64>(qq >> 64);
    u64 rr = u0 - qh * d_;
    if (rr > static_cast<u64>(qq)) {
      --qh;
      rr += d_;
    }
    if (rr >= d_) {
      rr -= d_;
      ++qh;
    }
    q = qh;
    r = rr;
  }

 private:
  u64 d_, v_;
};

// 32-bit words (LSW first) packed into 64-bit limbs, and back.
void pack(u64* dst, const u32* src, size_t nw) {
  for (size_t i = 0; i < (nw + 1) / 2; ++i) {
    u64 v = src[2 * i];
    if (2 * i + 1 < nw) v |= static_cast<u64>(src[2 * i + 1]) << 32;
    dst[i] = v;
  }
}
void unpack(u32* dst, const u64* src, size_t nw) {
  for (size_t i = 0; i < nw; ++i) dst[i] = static_cast<u32>(src[i / 2] >> (32 * (i & 1)));
}

// x (len limbs) shifted left by s (0..63) into out (len+1 limbs).
void shift_left_into(u64* out, const u64* x, size_t len, unsigned s) {
  out[len] = s ? x[len - 1] >> (64 - s) : 0;
  for (size_t i = len - 1; i > 0; --i) out[i] = s ? (x[i] << s) | (x[i - 1] >> (64 - s)) : x[i];
  out[0] = x[0] << s;
}

}  // namespace

bool divmod_lsw(const u32* u, size_t m, const u32* v, size_t n, u32* q, u32* r) {
  const size_t mL = (m + 1) / 2, nL = (n + 1) / 2, qL = mL - nL + 1;
  // un (mL+1), vn (nL+1), raw u (mL), raw v (nL), quotient (qL), remainder (nL).
  Scratch<u64, 1100> work;
  if (!work.reserve(2 * mL + 3 * nL + qL + 2)) return false;
  u64* un = work.data();
  u64* vn = un + mL + 1;
  u64* ru = vn + nL + 1;
  u64* rv = ru + mL;
  u64* qd = rv + nL;
  u64* rd = qd + qL;
  pack(ru, u, m);
  pack(rv, v, n);
  // D1: normalise so that the divisor's top digit has its top bit set.
  const unsigned s = static_cast<unsigned>(__builtin_clzll(rv[nL - 1]));
  shift_left_into(vn, rv, nL, s);  // vn[nL] is zero
  shift_left_into(un, ru, mL, s);
  const Reciprocal recip(vn[nL - 1]);

  if (nL == 1) {
    // One divisor digit: schoolbook short division.
    u64 rem = un[mL];
    for (size_t j = mL; j-- > 0;) recip.divide(rem, un[j], qd[j], rem);
    rd[0] = rem >> s;
  } else {
    const u64 vtop = vn[nL - 1], vnext = vn[nL - 2];
    for (size_t j = mL - nL + 1; j-- > 0;) {
      // D3: estimate the digit from the top two dividend digits and correct
      // it with the next one (at most twice).
      const u64 u1 = un[j + nL], u0 = un[j + nL - 1];
      u64 qhat, rhat;
      bool rhat_big = false;  // rhat >= 2^64: the correction test is false
      if (u1 >= vtop) {       // u1 == vtop: the estimate is the largest digit
        qhat = ~0ull;
        rhat = u0 + u1;
        rhat_big = rhat < u0;
      } else {
        recip.divide(u1, u0, qhat, rhat);
      }
      while (!rhat_big && static_cast<u128>(qhat) * vnext > ((static_cast<u128>(rhat) << 64) | un[j + nL - 2])) {
        --qhat;
        const u64 old = rhat;
        rhat += vtop;
        rhat_big = rhat < old;
      }
      // D4: multiply and subtract.
      u64 borrow = 0, carry = 0;
      for (size_t i = 0; i < nL; ++i) {
        const u128 p = static_cast<u128>(qhat) * vn[i] + carry;
        carry = static_cast<u64>(p >> 64);
        const u64 lo = static_cast<u64>(p);
        const u128 t = static_cast<u128>(un[i + j]) - lo - borrow;
        un[i + j] = static_cast<u64>(t);
        borrow = static_cast<u64>(t >> 64) & 1u;
      }
      const u128 t = static_cast<u128>(un[j + nL]) - carry - borrow;
      un[j + nL] = static_cast<u64>(t);
      // D5/D6: the estimate was one too large: add the divisor back.
      if (static_cast<u64>(t >> 64) != 0) {
        --qhat;
        u64 c = 0;
        for (size_t i = 0; i < nL; ++i) {
          const u128 sum = static_cast<u128>(un[i + j]) + vn[i] + c;
          un[i + j] = static_cast<u64>(sum);
          c = static_cast<u64>(sum >> 64);
        }
        un[j + nL] += c;
      }
      qd[j] = qhat;
    }
    // D8: unnormalise the remainder.
    for (size_t i = 0; i < nL; ++i) rd[i] = s ? (un[i] >> s) | (un[i + 1] << (64 - s)) : un[i];
  }
  if (q) unpack(q, qd, m - n + 1);
  if (r) unpack(r, rd, n);
  return true;
}

}  // namespace quarzel::mpbn_detail
