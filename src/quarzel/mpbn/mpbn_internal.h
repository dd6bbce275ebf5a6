// Shared helpers of the big-number layer: masks, work space, limb layouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "quarzel/ct.h"
#include "quarzel/mpbn.h"
#include "quarzel/port.h"

namespace quarzel::mpbn_detail {

__extension__ typedef unsigned __int128 u128;
using u64 = uint64_t;
using u32 = uint32_t;
namespace ct = ::quarzel::ct;

[[nodiscard]] constexpr core_ret_t err(uint8_t fid, uint8_t reason) { return core_err(fid, reason); }

// Work space of T elements: on the stack up to Inline elements, on the heap
// above. Zero-filled on reserve; wiped (it may hold key-dependent values)
// and released on destruction.
template <class T, size_t Inline>
class Scratch {
 public:
  Scratch() = default;
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    if (p_ != nullptr) secure_wipe(p_, n_ * sizeof(T));
    if (heap_) {
      void* v = p_;
      quarzel_mem_dealloc(&v);
    }
  }
  // False when the heap refuses (or the request cannot be expressed).
  [[nodiscard]] bool reserve(size_t n) {
    if (n <= Inline) {
      p_ = inline_;
    } else {
      if (n > (0x7FFFFFFFu / sizeof(T))) return false;
      void* v = nullptr;
      if (quarzel_mem_alloc(&v, static_cast<uint32_t>(n * sizeof(T))) != 0 || v == nullptr) return false;
      p_ = static_cast<T*>(v);
      heap_ = true;
    }
    n_ = n;
    std::memset(p_, 0, n * sizeof(T));
    return true;
  }
  T* data() noexcept { return p_; }

 private:
  T inline_[Inline];
  T* p_ = nullptr;
  size_t n_ = 0;
  bool heap_ = false;
};

// ---- Layout conversions ---------------------------------------------------
// The public arrays are most-significant-word first; the inner loops run on
// least-significant-first arrays of 32- or 64-bit limbs.

// dst[i] = src[nw-1-i].
inline void msw_to_lsw(u32* dst, const u32* src, size_t nw) {
  for (size_t i = 0; i < nw; ++i) dst[i] = src[nw - 1 - i];
}
inline void lsw_to_msw(u32* dst, const u32* src, size_t nw) {
  for (size_t i = 0; i < nw; ++i) dst[nw - 1 - i] = src[i];
}
// 64-bit limbs (L = ceil(nw/2)) from an MSW-first word array; the top half
// of the last limb is zero when nw is odd.
inline void msw_to_limbs(u64* dst, const u32* src, size_t nw) {
  const size_t limbs = (nw + 1) / 2;
  for (size_t i = 0; i < limbs; ++i) {
    const size_t lo = 2 * i;  // index from the least significant word
    u64 v = src[nw - 1 - lo];
    if (lo + 1 < nw) v |= static_cast<u64>(src[nw - 2 - lo]) << 32;
    dst[i] = v;
  }
}
inline void limbs_to_msw(u32* dst, const u64* src, size_t nw) {
  for (size_t i = 0; i < nw; ++i) {
    const u64 limb = src[i / 2];
    dst[nw - 1 - i] = static_cast<u32>((i & 1) ? (limb >> 32) : limb);
  }
}

// ---- Masked addition and subtraction on MSW-first word arrays -------------
// r = a + (b & mask) and r = a - (b & mask), mask all ones or zero: the
// bodies of mpbn_add_ctl and mpbn_sub_ctl without their argument checks, for
// callers whose selector is secret.
inline void add_masked(u32 mask, size_t nw, const u32* a, const u32* b, u32* r) {
  u64 c = 0;
  for (size_t i = nw; i-- > 0;) {
    const u64 s = static_cast<u64>(a[i]) + (b[i] & mask) + c;
    r[i] = static_cast<u32>(s);
    c = s >> 32;
  }
}
inline void sub_masked(u32 mask, size_t nw, const u32* a, const u32* b, u32* r) {
  u64 br = 0;
  for (size_t i = nw; i-- > 0;) {
    const u64 d = static_cast<u64>(a[i]) - (b[i] & mask) - br;
    r[i] = static_cast<u32>(d);
    br = (d >> 32) & 1u;
  }
}

// dest (nw_dest words) = src (nw_src words) right-aligned: leading words
// zero when src is shorter, only src's last nw_dest words when it is longer.
// dest may overlap src: the words are moved before the leading ones clear.
void mpbn_word_copy_trunc(u32* dest, size_t nw_dest, const u32* src, size_t nw_src);

// Index (0..63) of the highest set bit of w, all ones for w = 0. Six masked
// halving steps whatever w: the RSA set-up feeds it a secret prime's top limb.
inline u64 mpbn_highest_bit_in_word(u64 w) {
  u64 z = 0;  // leading zero bits
  for (unsigned s = 32; s != 0; s /= 2) {
    const u64 high_clear = ct::is_zero<u64>(w >> (64 - s));
    z += s & high_clear;
    w = ct::select<u64>(high_clear, w << s, w);
  }
  return ct::select<u64>(ct::is_zero<u64>(w), ~u64{0}, 63 - z);
}

// ---- Word-level helpers on LSW-first arrays -------------------------------

// Number of significant words of an LSW-first array (variable time).
inline size_t sig_words_lsw(const u32* a, size_t nw) {
  while (nw > 0 && a[nw - 1] == 0) --nw;
  return nw;
}
// Index of the first non-zero word of an MSW-first array, nw when zero.
inline size_t lead_index_vartime(const u32* a, size_t nw) {
  size_t i = 0;
  while (i < nw && a[i] == 0) ++i;
  return i;
}

// Truncated schoolbook product on LSW-first words: t (nr words) =
// a*b mod 2^(32 nr). t must not overlap a or b.
void mul_lsw(u32* t, size_t nr, const u32* a, size_t na, const u32* b, size_t nb);

// Long division (Knuth's algorithm D) of LSW-first 32-bit digit arrays:
// u of m digits by v of n >= 1 digits with v[n-1] != 0, m >= n. Writes the
// m-n+1 quotient digits to q and the n remainder digits to r (each when not
// null; neither may overlap u or v). False when work space cannot be had.
[[nodiscard]] bool divmod_lsw(const u32* u, size_t m, const u32* v, size_t n, u32* q, u32* r);

// ---- Montgomery product on 64-bit limbs -------------------------------------

// r = t - n when t (L+1 limbs, t[L] in {0, 1}) is not below n, else t;
// chosen by mask, the subtraction always runs.
inline void mont_final_subtract(size_t L, u64* r, const u64* t, const u64* n) {
  u64 br = 0;
  for (size_t j = 0; j < L; ++j) {
    const u128 d = static_cast<u128>(t[j]) - n[j] - br;
    r[j] = static_cast<u64>(d);
    br = static_cast<u64>(d >> 64) & 1u;
  }
  // Keep t only when it had no top limb and the subtraction borrowed.
  const u64 keep_t = ct::mask_from_bit<u64>(~t[L] & br);
  for (size_t j = 0; j < L; ++j) r[j] = (t[j] & keep_t) | (r[j] & ~keep_t);
}

// r = a*b*2^(-64L) mod n, for n odd, a*b < n*2^(64L); t: mont_work_limbs(L)
// limbs of work space. r may alias a or b. ninv = -n^-1 mod 2^64.
void mont_mul_limbs(size_t L, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* t);
// r = a^2*2^(-64L) mod n; t: mont_work_limbs(L) limbs.
void mont_sqr_limbs(size_t L, u64* r, const u64* a, const u64* n, u64 ninv, u64* t);
// The same on the BMI2/ADX path (mpbn_mont_adx.cpp); T: 2L+2 limbs for both.
void mont_mul_limbs_adx(size_t L, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* T);
void mont_sqr_limbs_adx(size_t L, u64* r, const u64* a, const u64* n, u64 ninv, u64* T);
// Unrolled for the limb counts of RSA's CRT halves and moduli (16, 24, 32,
// 48, 64); L is ignored.
template <size_t L>
void mont_mul_adx_fixed(size_t, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* T);
template <size_t L>
void mont_sqr_adx_fixed(size_t, u64* r, const u64* a, const u64* n, u64 ninv, u64* T);
// Work space (limbs) that mont_mul_limbs and mont_sqr_limbs need.
constexpr size_t mont_work_limbs(size_t L) { return 2 * L + 2; }

// The product and squaring for one limb count on this CPU, picked once by a
// caller that runs many of them (an exponentiation keeps it for its whole
// run). Same contracts as mont_mul_limbs and mont_sqr_limbs.
struct MontKernel {
  void (*mul)(size_t L, u64* r, const u64* a, const u64* b, const u64* n, u64 ninv, u64* t);
  void (*sqr)(size_t L, u64* r, const u64* a, const u64* n, u64 ninv, u64* t);
  const char* name;  // "adx16", "adx", "portable32", ...: for tests
};
[[nodiscard]] MontKernel mont_kernel(size_t L);
// ---- Constant-time set-up, reduction and exponentiation (mpbn_ctexp.cpp) ----
// For an odd modulus n of L limbs, R = 2^(64L), ninv = -n^-1 mod 2^64. None
// of them divides or branches on a value: they serve secret moduli.

// rr = R^2 mod n by doublings and squarings. t: mont_rr_work_limbs(L).
void mont_rr_ct(size_t L, u64* rr, const u64* n, u64 ninv, u64* t);
constexpr size_t mont_rr_work_limbs(size_t L) { return 3 * L + 2; }
// r = t / R mod n for t of 2L+1 limbs (top limb 0) below n*R; t is destroyed.
void mont_redc_ct(size_t L, u64* r, u64* t, const u64* n, u64 ninv);
// r = a mod n for a of La <= 2L limbs below n*R (any a of L limbs, any
// product of two values below n). t: mod_reduce_work_limbs(L).
void mod_reduce_ct(size_t L, u64* r, const u64* a, size_t La, const u64* n, u64 ninv, const u64* rr, u64* t);
constexpr size_t mod_reduce_work_limbs(size_t L) { return mont_work_limbs(L) + 2 * L + 1; }
// r = base^e mod n for base < n and e of Le limbs, by fixed windows with a
// masked table look-up: the same operations for every e of Le limbs.
// work: mont_exp_work_limbs(L, 64 * Le) limbs. r may alias base.
void mont_exp_ct(size_t L, u64* r, const u64* base, const u64* e, size_t Le, const u64* n, u64 ninv,
                 const u64* rr, u64* work);
size_t mont_exp_work_limbs(size_t L, size_t ebits);
// r = r * 2^times mod n for r < n, by masked doublings. t: 2L limbs.
void mod_double_ct(size_t L, u64* r, const u64* n, size_t times, u64* t);
// Window width of the fixed-window exponentiations for exponents of ebits.
unsigned exp_window(size_t ebits);
// Bits [pos, pos + w) of the exponent e (Le limbs); bits past the end read 0.
// Positions and widths are public; only the bits are secret.
inline u64 window_bits(const u64* e, size_t Le, size_t pos, unsigned w) {
  const size_t limb = pos / 64, shift = pos % 64;
  u64 v = limb < Le ? e[limb] >> shift : 0;
  if (shift + w > 64 && limb + 1 < Le) v |= e[limb + 1] << (64 - shift);
  return v & ((u64{1} << w) - 1);
}

// ---- Two exponentiations side by side (mpbn_exp2*.cpp) ---------------------
// RSA's CRT halves run together on 52-bit digits, each hiding the other's
// latency: with AVX-512 IFMA where the CPU has it, or on a portable model of
// the same vector operations that tests run anywhere (under Valgrind too).

// One exponentiation: r = base^e mod n for an odd n of L limbs, base < n, e
// of L limbs; rr = 2^(128L) mod n (mont_rr_ct), ninv = -n^-1 mod 2^64. r may
// alias base. Constant time like mont_exp_ct.
struct ExpOperand {
  u64* r;
  const u64* base;
  const u64* e;
  const u64* n;
  u64 ninv;
  const u64* rr;
};
struct MontExp2Kernel {
  // Both exponentiations, on `work` limbs of work space.
  void (*run)(const ExpOperand (&ops)[2], u64* work);
  size_t work;
  const char* name;  // "ifma16", "model32", ...; run is null for "none"
};
// For the limb counts of RSA's CRT halves (8, 16, 24, 32) on this CPU; run is
// null where mont_exp_ct serves each half alone.
[[nodiscard]] MontExp2Kernel mont_exp2_kernel(size_t L);
[[nodiscard]] MontExp2Kernel mont_exp2_ifma(size_t L);   // the IFMA kernels
[[nodiscard]] MontExp2Kernel mont_exp2_model(size_t L);  // their portable model

// -n^-1 mod 2^64 for an odd n.
inline u64 neg_inv64(u64 n) {
  u64 x = n;                               // n*n == 1 mod 8: 3 valid bits
  for (int i = 0; i < 5; ++i) x *= 2 - n * x;  // 6, 12, 24, 48, 96 bits
  return static_cast<u64>(0) - x;
}

}  // namespace quarzel::mpbn_detail
