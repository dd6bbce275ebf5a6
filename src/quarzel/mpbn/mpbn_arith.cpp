// Addition, subtraction and multiplication of word arrays.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {

// Truncated schoolbook product on LSW-first words: t (nr words) = a*b mod 2^(32 nr).
void mul_lsw(u32* t, size_t nr, const u32* a, size_t na, const u32* b, size_t nb) {
  std::memset(t, 0, nr * sizeof(u32));
  for (size_t i = 0; i < na && i < nr; ++i) {
    const u64 ai = a[i];
    u64 c = 0;
    const size_t jmax = (nb < nr - i) ? nb : nr - i;
    for (size_t j = 0; j < jmax; ++j) {
      const u64 p = ai * b[j] + t[i + j] + c;
      t[i + j] = static_cast<u32>(p);
      c = p >> 32;
    }
    if (i + jmax < nr) t[i + jmax] = static_cast<u32>(c);
  }
}

}  // namespace quarzel::mpbn_detail

using namespace quarzel::mpbn_detail;

namespace {

// Digits are read from the least significant end (index n-1 of an MSW-first
// array). Carries are formed in a wider type: no branch on the values.
template <class D>
u32 add_digits(size_t na, const D* a, size_t nb, const D* b, D* r) {
  constexpr unsigned kBits = sizeof(D) * 8;
  u64 c = 0;
  for (size_t i = 0; i < na; ++i) {
    const u64 bd = i < nb ? b[nb - 1 - i] : 0;  // branch on the index only
    const u64 s = static_cast<u64>(a[na - 1 - i]) + bd + c;
    r[na - 1 - i] = static_cast<D>(s);
    c = s >> kBits;
  }
  return static_cast<u32>(c);
}

template <class D>
u32 sub_digits(size_t n, const D* a, const D* b, D* r) {
  constexpr unsigned kBits = sizeof(D) * 8;
  u64 br = 0;
  for (size_t i = n; i-- > 0;) {
    const u64 d = static_cast<u64>(a[i]) - b[i] - br;
    r[i] = static_cast<D>(d);
    br = (d >> kBits) & 1u;
  }
  return static_cast<u32>(br);
}

bool layout_ok(mpbn_endian_t endian, uint32_t len) {
  return endian == MPBN_ENDIAN_MF_U8 || (endian == MPBN_ENDIAN_MF_U32 && len % 4 == 0);
}

// Byte string (big-endian, nb bytes) into LSW-first words.
void bytes_to_lsw(u32* w, const uint8_t* p, size_t nb) {
  for (size_t i = 0; i < nb; ++i) w[i / 4] |= static_cast<u32>(p[nb - 1 - i]) << (8 * (i % 4));
}

}  // namespace

extern "C" {

core_ret_t mpbn_add_mf32(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b, uint32_t nw_r,
                         mpbn_word_t* r, mpbn_word_t* carry) {
  if ((nw_a && !a) || (nw_b && !b) || (nw_r && !r)) return err(MPBN_FID_ADD, MPBN_R_NULL);
  if (nw_a < nw_b || nw_a != nw_r) return err(MPBN_FID_ADD, MPBN_R_ARG);
  const u32 c = add_digits<u32>(nw_a, a, nw_b, b, r);
  if (carry) *carry = c;
  return 0;
}

core_ret_t mpbn_add_mf8(uint32_t nb_a, const uint8_t* a, uint32_t nb_b, const uint8_t* b, uint32_t nb_r, uint8_t* r,
                        mpbn_word_t* carry) {
  if ((nb_a && !a) || (nb_b && !b) || (nb_r && !r)) return err(MPBN_FID_ADD, MPBN_R_NULL);
  if (nb_a < nb_b || nb_a != nb_r) return err(MPBN_FID_ADD, MPBN_R_ARG);
  const u32 c = add_digits<uint8_t>(nb_a, a, nb_b, b, r);
  if (carry) *carry = c;
  return 0;
}

core_ret_t mpbn_sub_mf32(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b, uint32_t nw_r,
                         mpbn_word_t* r, mpbn_word_t* borrow) {
  if ((nw_a && !a) || (nw_b && !b) || (nw_r && !r)) return err(MPBN_FID_SUB, MPBN_R_NULL);
  if (nw_a != nw_b || nw_a != nw_r) return err(MPBN_FID_SUB, MPBN_R_ARG);
  const u32 br = sub_digits<u32>(nw_a, a, b, r);
  if (borrow) *borrow = br;
  return 0;
}

core_ret_t mpbn_sub_mf8(uint32_t nb_a, const uint8_t* a, uint32_t nb_b, const uint8_t* b, uint32_t nb_r, uint8_t* r,
                        mpbn_word_t* borrow) {
  if ((nb_a && !a) || (nb_b && !b) || (nb_r && !r)) return err(MPBN_FID_SUB, MPBN_R_NULL);
  if (nb_a != nb_b || nb_a != nb_r) return err(MPBN_FID_SUB, MPBN_R_ARG);
  const u32 br = sub_digits<uint8_t>(nb_a, a, b, r);
  if (borrow) *borrow = br;
  return 0;
}

core_ret_t mpbn_add(mpbn_endian_t endian, uint32_t len_a, const void* a, uint32_t len_b, const void* b,
                    uint32_t len_r, void* r, mpbn_word_t* carry) {
  if (endian == MPBN_ENDIAN_MF_U8)
    return mpbn_add_mf8(len_a, static_cast<const uint8_t*>(a), len_b, static_cast<const uint8_t*>(b), len_r,
                        static_cast<uint8_t*>(r), carry);
  if (!layout_ok(endian, len_a) || !layout_ok(endian, len_b) || !layout_ok(endian, len_r))
    return err(MPBN_FID_ADD, MPBN_R_ARG);
  return mpbn_add_mf32(len_a / 4, static_cast<const u32*>(a), len_b / 4, static_cast<const u32*>(b), len_r / 4,
                       static_cast<u32*>(r), carry);
}

core_ret_t mpbn_sub(mpbn_endian_t endian, uint32_t len_a, const void* a, uint32_t len_b, const void* b,
                    uint32_t len_r, void* r, mpbn_word_t* borrow) {
  if (endian == MPBN_ENDIAN_MF_U8)
    return mpbn_sub_mf8(len_a, static_cast<const uint8_t*>(a), len_b, static_cast<const uint8_t*>(b), len_r,
                        static_cast<uint8_t*>(r), borrow);
  if (!layout_ok(endian, len_a) || !layout_ok(endian, len_b) || !layout_ok(endian, len_r))
    return err(MPBN_FID_SUB, MPBN_R_ARG);
  return mpbn_sub_mf32(len_a / 4, static_cast<const u32*>(a), len_b / 4, static_cast<const u32*>(b), len_r / 4,
                       static_cast<u32*>(r), borrow);
}

core_ret_t mpbn_add_ctl(mpbn_word_t sel, uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, mpbn_word_t* r) {
  if (nw && (!a || !b || !r)) return err(MPBN_FID_ADD_CTL, MPBN_R_NULL);
  if (sel > 1) return err(MPBN_FID_ADD_CTL, MPBN_R_ARG);
  add_masked(ct::mask_from_bit<u32>(sel), nw, a, b, r);
  return 0;
}

core_ret_t mpbn_sub_ctl(mpbn_word_t sel, uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, mpbn_word_t* r) {
  if (nw && (!a || !b || !r)) return err(MPBN_FID_SUB_CTL, MPBN_R_NULL);
  if (sel > 1) return err(MPBN_FID_SUB_CTL, MPBN_R_ARG);
  sub_masked(ct::mask_from_bit<u32>(sel), nw, a, b, r);
  return 0;
}

core_ret_t mpbn_mul(mpbn_endian_t endian, uint32_t len_a, const void* a, uint32_t len_b, const void* b,
                    uint32_t len_r, void* r) {
  if ((len_a && !a) || (len_b && !b) || (len_r && !r)) return err(MPBN_FID_MUL, MPBN_R_NULL);
  if (!layout_ok(endian, len_a) || !layout_ok(endian, len_b) || !layout_ok(endian, len_r) || len_a < len_b ||
      len_r < len_a)
    return err(MPBN_FID_MUL, MPBN_R_ARG);
  // Words of each operand in LSW order; bytes are packed four to a word.
  const size_t na = (len_a + 3) / 4, nb = (len_b + 3) / 4, nr = (len_r + 3) / 4;
  Scratch<u32, 1024> work;
  if (!work.reserve(na + nb + nr)) return err(MPBN_FID_MUL, MPBN_R_ALLOC);
  u32* wa = work.data();
  u32* wb = wa + na;
  u32* wr = wb + nb;
  if (endian == MPBN_ENDIAN_MF_U32) {
    msw_to_lsw(wa, static_cast<const u32*>(a), na);
    msw_to_lsw(wb, static_cast<const u32*>(b), nb);
    mul_lsw(wr, nr, wa, na, wb, nb);
    lsw_to_msw(static_cast<u32*>(r), wr, nr);
  } else {
    bytes_to_lsw(wa, static_cast<const uint8_t*>(a), len_a);
    bytes_to_lsw(wb, static_cast<const uint8_t*>(b), len_b);
    mul_lsw(wr, nr, wa, na, wb, nb);
    auto* out = static_cast<uint8_t*>(r);
    for (size_t i = 0; i < len_r; ++i) out[len_r - 1 - i] = static_cast<uint8_t>(wr[i / 4] >> (8 * (i % 4)));
  }
  return 0;
}

core_ret_t mpbn_inner_prod(mpbn_endian_t endian, mpbn_word_t a, mpbn_word_t b, mpbn_word_t x, mpbn_word_t y,
                           mpbn_word_t* r_h, mpbn_word_t* r_l) {
  if (!r_h || !r_l) return err(MPBN_FID_INNER_PROD, MPBN_R_NULL);
  if (endian == MPBN_ENDIAN_MF_U8) {
    const u32 v = (a & 0xFF) * (b & 0xFF) + (x & 0xFF) + (y & 0xFF);
    *r_h = v >> 8;
    *r_l = v & 0xFF;
    return 0;
  }
  if (endian != MPBN_ENDIAN_MF_U32) return err(MPBN_FID_INNER_PROD, MPBN_R_ARG);
  const u64 v = static_cast<u64>(a) * b + x + y;  // < 2^64: no overflow
  *r_h = static_cast<u32>(v >> 32);
  *r_l = static_cast<u32>(v);
  return 0;
}

core_ret_t mpbn_u4mul(mpbn_word_t a, mpbn_word_t b, mpbn_word_t* r_h, mpbn_word_t* r_l) {
  if (!r_h || !r_l) return err(MPBN_FID_U4MUL, MPBN_R_NULL);
  const u64 v = static_cast<u64>(a) * b;
  *r_h = static_cast<u32>(v >> 32);
  *r_l = static_cast<u32>(v);
  return 0;
}

}  // extern "C"
