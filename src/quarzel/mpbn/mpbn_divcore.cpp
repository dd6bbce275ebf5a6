// Knuth's algorithm D (TAOCP vol. 2, 4.3.1) on 64-bit digits, with the
// digit estimates taken from a reciprocal of the divisor's top digit
// (N. Moller, T. Granlund, "Improved division by invariant integers", IEEE
// Trans. Computers 60(2), 2011) instead of a hardware division per digit.
// Variable time: the estimates, corrections and add-back branch on values.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {
namespace {

// A normalised divisor digit d (top bit set) with its reciprocal
// v = floor((2^128 - 1) / d) - 2^64.
struct Reciprocal {
  explicit Reciprocal(u64 digit) : d(digit), v(static_cast<u64>(((static_cast<u128>(~digit) << 64) | ~0ull) / digit)) {}
  u64 d, v;
};

// (a_h, a_l) = q*b + r for a_h < b: one multiplication by the reciprocal
// and at most two corrections.
inline void mpbn_div2w(u64 a_h, u64 a_l, const Reciprocal& b, u64& q, u64& r) {
  const u128 qq = static_cast<u128>(b.v) * a_h + ((static_cast<u128>(a_h + 1) << 64) | a_l);  // mod 2^128
  u64 qh = static_cast<u64>(qq >> 64);
  u64 rr = a_l - qh * b.d;
  if (rr > static_cast<u64>(qq)) {
    --qh;
    rr += b.d;
  }
  if (rr >= b.d) {
    rr -= b.d;
    ++qh;
  }
  q = qh;
  r = rr;
}

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

// D1: b (nb digits, top digit non-zero) and a (na digits) shifted left
// until b's top digit has its top bit set, into bn (nb+1 digits, the top one
// zero) and an (na+1 digits, the top one taking the bits shifted out of a).
// Returns the shift, 0 to 63: the count of leading zero bits, taken from
// the CPU's own count (the division is variable time anyway; the masked
// mpbn_highest_bit_in_word is for secret words).
inline unsigned mpbn_normalize_div_op(size_t na, const u64* a, size_t nb, const u64* b, u64* an, u64* bn) {
  const auto s = static_cast<unsigned>(__builtin_clzll(b[nb - 1]));
  shift_left_into(bn, b, nb, s);
  shift_left_into(an, a, na, s);
  return s;
}

// D3's test: q (estimated from the window's top two digits, with rem =
// those digits minus q*vtop, rem_big when that reached 2^64) is at most two
// too large; it is decreased while q*vnext exceeds rem*2^64 + u2, u2 being
// the window's third digit and vtop, vnext the divisor's top two digits.
inline u64 mpbn_adj_q(u64 u2, u64 vtop, u64 vnext, u64 q, u64 rem, bool rem_big) {
  while (!rem_big && static_cast<u128>(q) * vnext > ((static_cast<u128>(rem) << 64) | u2)) {
    --q;
    const u64 old = rem;
    rem += vtop;
    rem_big = rem < old;
  }
  return q;
}

// D4-D6: the window a (nb+1 digits) loses q*b (b of nb digits). When that
// borrows, q was one too large: b is added back. Returns the digit.
inline u64 mpbn_sub_bq_in_a(size_t nb, u64* a, const u64* b, u64 q) {
  u64 borrow = 0, carry = 0;
  for (size_t i = 0; i < nb; ++i) {
    const u128 p = static_cast<u128>(q) * b[i] + carry;
    carry = static_cast<u64>(p >> 64);
    const u64 lo = static_cast<u64>(p);
    const u128 t = static_cast<u128>(a[i]) - lo - borrow;
    a[i] = static_cast<u64>(t);
    borrow = static_cast<u64>(t >> 64) & 1u;
  }
  const u128 t = static_cast<u128>(a[nb]) - carry - borrow;
  a[nb] = static_cast<u64>(t);
  if (static_cast<u64>(t >> 64) != 0) {
    --q;
    u64 c = 0;
    for (size_t i = 0; i < nb; ++i) {
      const u128 sum = static_cast<u128>(a[i]) + b[i] + c;
      a[i] = static_cast<u64>(sum);
      c = static_cast<u64>(sum >> 64);
    }
    a[nb] += c;
  }
  return q;
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
  const unsigned s = mpbn_normalize_div_op(mL, ru, nL, rv, un, vn);
  const Reciprocal recip(vn[nL - 1]);

  if (nL == 1) {
    // One divisor digit: schoolbook short division.
    u64 rem = un[mL];
    for (size_t j = mL; j-- > 0;) mpbn_div2w(rem, un[j], recip, qd[j], rem);
    rd[0] = rem >> s;
  } else {
    const u64 vtop = vn[nL - 1], vnext = vn[nL - 2];
    for (size_t j = mL - nL + 1; j-- > 0;) {
      // D3: estimate the digit from the window's top two digits; the
      // largest digit when the top one equals the divisor's.
      const u64 u1 = un[j + nL], u0 = un[j + nL - 1];
      u64 qhat, rhat;
      bool rhat_big = false;  // rhat >= 2^64
      if (u1 >= vtop) {       // u1 == vtop
        qhat = ~0ull;
        rhat = u0 + u1;
        rhat_big = rhat < u0;
      } else {
        mpbn_div2w(u1, u0, recip, qhat, rhat);
      }
      qhat = mpbn_adj_q(un[j + nL - 2], vtop, vnext, qhat, rhat, rhat_big);
      qd[j] = mpbn_sub_bq_in_a(nL, un + j, vn, qhat);
    }
    // D8: unnormalise the remainder.
    for (size_t i = 0; i < nL; ++i) rd[i] = s ? (un[i] >> s) | (un[i + 1] << (64 - s)) : un[i];
  }
  if (q) unpack(q, qd, m - n + 1);
  if (r) unpack(r, rd, n);
  return true;
}

}  // namespace quarzel::mpbn_detail
