// Greatest common divisor and the e = 65537 coprimality test.
#include <utility>

#include "mpbn/mpbn_internal.h"

using namespace quarzel::mpbn_detail;

extern "C" {

core_ret_t mpbn_gcd(uint32_t max_nw, uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b,
                    uint32_t nw_r, mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_GCD;
  if (!a || !b || !r) return err(fid, MPBN_R_NULL);
  if (max_nw == 0 || nw_a == 0 || nw_b == 0 || nw_r == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  // The work arrays follow the operands (not a fixed size): any key size.
  const size_t w = nw_a > nw_b ? nw_a : nw_b;
  Scratch<u32, 1024> work;
  if (!work.reserve(3 * w)) return err(fid, MPBN_R_ALLOC);
  u32* x = work.data();
  u32* y = x + w;
  u32* g = y + w;
  mpbn_word_copy_trunc(x, w, a, nw_a);
  mpbn_word_copy_trunc(y, w, b, nw_b);
  int cmp = 0;
  if (const core_ret_t rc = mpbn_comp(MPBN_ENDIAN_MF_U32, static_cast<uint32_t>(4 * w), x, y, &cmp); rc != 0)
    return rc;
  if (cmp < 0) std::swap(x, y);
  if (const core_ret_t rc = mpbn_gcd_primitive(static_cast<uint32_t>(w), x, y, g); rc != 0) return rc;
  // Right-aligned into r, its top dropped if r is shorter.
  mpbn_word_copy_trunc(r, nw_r, g, w);
  return 0;
}

core_ret_t mpbn_gcd_primitive(uint32_t nw, mpbn_word_t* a, mpbn_word_t* b, mpbn_word_t* r) {
  constexpr uint8_t fid = MPBN_FID_GCD;
  if (!a || !b || !r) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  Scratch<u32, 512> rem;
  if (!rem.reserve(nw)) return err(fid, MPBN_R_ALLOC);
  // Euclid by remainders (variable time: public values and the primes' p-1,
  // q-1 of key generation only). A zero b is a reduction modulo zero.
  for (;;) {
    if (const core_ret_t rc = mpbn_mod(nw, a, nw, b, rem.data()); rc != 0) return rc;
    if (lead_index_vartime(rem.data(), nw) == nw) break;
    std::memcpy(a, b, nw * sizeof(u32));
    std::memcpy(b, rem.data(), nw * sizeof(u32));
  }
  std::memcpy(r, b, nw * sizeof(u32));
  return 0;
}

core_ret_t mpbn_coprime_a_minus_1_with_0x10001(uint32_t nw, const mpbn_word_t* a, uint32_t* is_coprime) {
  constexpr uint8_t fid = MPBN_FID_COPRIME_0X10001;
  if (!a || !is_coprime) return err(fid, MPBN_R_NULL);
  if (nw == 0) return err(fid, MPBN_R_ZERO_LENGTH);
  // A constant divisor: the compiler multiplies by its reciprocal, so a
  // secret a (an RSA prime candidate) meets no divide instruction.
  u64 rem = 0;
  for (size_t i = 0; i < nw; ++i) rem = ((rem << 32) | a[i]) % 0x10001u;
  *is_coprime = static_cast<uint32_t>(~ct::eq<u64>(rem, 1) & 1);
  return 0;
}

}  // extern "C"
