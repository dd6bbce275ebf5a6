// Byte-order reversal, increments, comparison, tests, shifts, lead word.
// Every digit is visited; outcomes are gathered with masks.
#include "mpbn/mpbn_internal.h"

namespace quarzel::mpbn_detail {

void mpbn_word_copy_trunc(u32* dest, size_t nw_dest, const u32* src, size_t nw_src) {
  const size_t keep = nw_src < nw_dest ? nw_src : nw_dest;
  if (keep) std::memmove(dest + (nw_dest - keep), src + (nw_src - keep), keep * sizeof(u32));
  for (size_t i = 0; i < nw_dest - keep; ++i) dest[i] = 0;
}

}  // namespace quarzel::mpbn_detail

using namespace quarzel::mpbn_detail;

namespace {

bool layout_ok(mpbn_endian_t endian, uint32_t len) {
  return endian == MPBN_ENDIAN_MF_U8 || (endian == MPBN_ENDIAN_MF_U32 && len % 4 == 0);
}

// Adds (dir = +1) or subtracts (dir = -1) c in {0, 1} at the least
// significant digit, running the carry or borrow through every digit.
template <class D>
u32 step_digits(size_t n, D* a, u32 c, bool subtract) {
  constexpr unsigned kBits = sizeof(D) * 8;
  u64 carry = c;
  for (size_t i = n; i-- > 0;) {
    const u64 v = subtract ? static_cast<u64>(a[i]) - carry : static_cast<u64>(a[i]) + carry;
    a[i] = static_cast<D>(v);
    carry = (v >> kBits) & 1u;
  }
  return static_cast<u32>(carry);
}

template <class D>
int32_t compare_digits(size_t n, const D* a, const D* b) {
  u32 res = 0;
  for (size_t i = 0; i < n; ++i) {
    const u32 gt = static_cast<u32>((static_cast<u64>(b[i]) - a[i]) >> 63);
    const u32 lt = static_cast<u32>((static_cast<u64>(a[i]) - b[i]) >> 63);
    const u32 d = gt - lt;
    const u32 keep = ct::is_nonzero<u32>(res);
    res = (res & keep) | (d & ~keep);
  }
  return static_cast<int32_t>(res);
}

template <class D>
u32 is_one_digits(size_t n, const D* a) {
  u32 acc = 0;
  for (size_t i = 0; i + 1 < n; ++i) acc |= a[i];
  acc |= static_cast<u32>(a[n - 1]) ^ 1u;
  return 1u & ~ct::is_nonzero<u32>(acc);
}

template <class D>
void shift_left_digits(size_t n, D* a, uint32_t nbits) {
  constexpr uint32_t W = sizeof(D) * 8;
  const size_t k = nbits / W;
  const uint32_t s = nbits % W;
  for (size_t i = 0; i < n; ++i) {
    // Source indexes depend only on the count and the length.
    const D hi = (i + k < n) ? static_cast<D>(a[i + k] << s) : D{0};
    const D lo = (s != 0 && i + k + 1 < n) ? static_cast<D>(a[i + k + 1] >> (W - s)) : D{0};
    a[i] = static_cast<D>(hi | lo);
  }
}

template <class D>
void shift_right_digits(size_t n, D* a, uint32_t nbits) {
  constexpr uint32_t W = sizeof(D) * 8;
  const size_t k = nbits / W;
  const uint32_t s = nbits % W;
  for (size_t i = n; i-- > 0;) {
    const D lo = (i >= k) ? static_cast<D>(a[i - k] >> s) : D{0};
    const D hi = (s != 0 && i >= k + 1) ? static_cast<D>(a[i - k - 1] << (W - s)) : D{0};
    a[i] = static_cast<D>(hi | lo);
  }
}

}  // namespace

extern "C" {

core_ret_t mpbn_reverse_byte_order(uint32_t nw, void* a) {
  if (nw && !a) return err(MPBN_FID_REVERSE_BYTE_ORDER, MPBN_R_NULL);
  auto* p = static_cast<uint8_t*>(a);
  for (size_t i = 0; i < nw; ++i) {
    u32 w;
    std::memcpy(&w, p + 4 * i, 4);
    w = __builtin_bswap32(w);
    std::memcpy(p + 4 * i, &w, 4);
  }
  return 0;
}

core_ret_t mpbn_increment(mpbn_endian_t endian, uint32_t len, void* a) {
  if (len && !a) return err(MPBN_FID_INCREMENT, MPBN_R_NULL);
  if (!layout_ok(endian, len)) return err(MPBN_FID_INCREMENT, MPBN_R_ARG);
  if (endian == MPBN_ENDIAN_MF_U8)
    step_digits<uint8_t>(len, static_cast<uint8_t*>(a), 1, false);
  else
    step_digits<u32>(len / 4, static_cast<u32*>(a), 1, false);
  return 0;
}

core_ret_t mpbn_decrement(mpbn_endian_t endian, uint32_t len, void* a) {
  if (len && !a) return err(MPBN_FID_DECREMENT, MPBN_R_NULL);
  if (!layout_ok(endian, len)) return err(MPBN_FID_DECREMENT, MPBN_R_ARG);
  if (endian == MPBN_ENDIAN_MF_U8)
    step_digits<uint8_t>(len, static_cast<uint8_t*>(a), 1, true);
  else
    step_digits<u32>(len / 4, static_cast<u32*>(a), 1, true);
  return 0;
}

core_ret_t mpbn_increment_ctl(mpbn_word_t sel, uint32_t len, mpbn_word_t* a, mpbn_word_t* carry) {
  if (len / 4 && !a) return err(MPBN_FID_INCREMENT_CTL, MPBN_R_NULL);
  if (sel > 1) return err(MPBN_FID_INCREMENT_CTL, MPBN_R_ARG);
  const u32 c = step_digits<u32>(len / 4, a, sel, false);
  if (carry) *carry = c;
  return 0;
}

core_ret_t mpbn_comp(mpbn_endian_t endian, uint32_t len, const void* a, const void* b, int32_t* cmp) {
  if (!cmp || (len && (!a || !b))) return err(MPBN_FID_COMP, MPBN_R_NULL);
  if (!layout_ok(endian, len)) return err(MPBN_FID_COMP, MPBN_R_ARG);
  *cmp = endian == MPBN_ENDIAN_MF_U8
             ? compare_digits<uint8_t>(len, static_cast<const uint8_t*>(a), static_cast<const uint8_t*>(b))
             : compare_digits<u32>(len / 4, static_cast<const u32*>(a), static_cast<const u32*>(b));
  return 0;
}

core_ret_t mpbn_is_zero(uint32_t len, const mpbn_word_t* a, uint32_t* is_zero) {
  if (!a || !is_zero) return err(MPBN_FID_IS_ZERO, MPBN_R_NULL);
  if (len == 0) return err(MPBN_FID_IS_ZERO, MPBN_R_ZERO_LENGTH);
  if (len % 4 != 0) return err(MPBN_FID_IS_ZERO, MPBN_R_ARG);
  u32 acc = 0;
  for (size_t i = 0; i < len / 4; ++i) acc |= a[i];
  *is_zero = 1u & ~ct::is_nonzero<u32>(acc);
  return 0;
}

core_ret_t mpbn_is_one(mpbn_endian_t endian, uint32_t len, const void* a, uint32_t* is_one) {
  if (!a || !is_one) return err(MPBN_FID_IS_ONE, MPBN_R_NULL);
  if (len == 0) return err(MPBN_FID_IS_ONE, MPBN_R_ZERO_LENGTH);
  if (!layout_ok(endian, len)) return err(MPBN_FID_IS_ONE, MPBN_R_ARG);
  *is_one = endian == MPBN_ENDIAN_MF_U8 ? is_one_digits<uint8_t>(len, static_cast<const uint8_t*>(a))
                                        : is_one_digits<u32>(len / 4, static_cast<const u32*>(a));
  return 0;
}

core_ret_t mpbn_shift_left(mpbn_endian_t endian, uint32_t nbits, uint32_t len, void* a) {
  if (!a) return err(MPBN_FID_SHIFT_LEFT, MPBN_R_NULL);
  if (len == 0) return err(MPBN_FID_SHIFT_LEFT, MPBN_R_ZERO_LENGTH);
  if (!layout_ok(endian, len)) return err(MPBN_FID_SHIFT_LEFT, MPBN_R_ARG);
  if (endian == MPBN_ENDIAN_MF_U8)
    shift_left_digits<uint8_t>(len, static_cast<uint8_t*>(a), nbits);
  else
    shift_left_digits<u32>(len / 4, static_cast<u32*>(a), nbits);
  return 0;
}

core_ret_t mpbn_shift_right(mpbn_endian_t endian, uint32_t nbits, uint32_t len, void* a) {
  if (!a) return err(MPBN_FID_SHIFT_RIGHT, MPBN_R_NULL);
  if (len == 0) return err(MPBN_FID_SHIFT_RIGHT, MPBN_R_ZERO_LENGTH);
  if (!layout_ok(endian, len)) return err(MPBN_FID_SHIFT_RIGHT, MPBN_R_ARG);
  if (endian == MPBN_ENDIAN_MF_U8)
    shift_right_digits<uint8_t>(len, static_cast<uint8_t*>(a), nbits);
  else
    shift_right_digits<u32>(len / 4, static_cast<u32*>(a), nbits);
  return 0;
}

core_ret_t mpbn_get_lead_word_index(uint32_t nw, const mpbn_word_t* a, uint32_t* lead_word_idx) {
  if (!lead_word_idx || (nw && !a)) return err(MPBN_FID_LEAD_WORD_INDEX, MPBN_R_NULL);
  u32 idx = nw;
  for (size_t i = nw; i-- > 0;) {
    const u32 m = ct::is_nonzero<u32>(a[i]);
    idx = (static_cast<u32>(i) & m) | (idx & ~m);
  }
  *lead_word_idx = idx;
  return 0;
}

core_ret_t mpbn_word_clear(mpbn_word_t* dest, uint32_t nw) {
  if (nw && !dest) return err(MPBN_FID_WORD_CLEAR, MPBN_R_NULL);
  for (size_t i = 0; i < nw; ++i) dest[i] = 0;
  return 0;
}

core_ret_t mpbn_word_copy(mpbn_word_t* dest, const mpbn_word_t* src, uint32_t nw) {
  if (nw && (!dest || !src)) return err(MPBN_FID_WORD_COPY, MPBN_R_NULL);
  if (nw) std::memmove(dest, src, nw * sizeof(u32));
  return 0;
}

core_ret_t mpbn_word_copy_ctl(mpbn_word_t* dest, const mpbn_word_t* src1, const mpbn_word_t* src2, uint32_t nw,
                              mpbn_word_t sel) {
  if (nw && (!dest || !src1 || !src2)) return err(MPBN_FID_WORD_COPY_CTL, MPBN_R_NULL);
  if (sel > 1) return err(MPBN_FID_WORD_COPY_CTL, MPBN_R_ARG);
  const u32 m = ct::mask_from_bit<u32>(sel);
  for (size_t i = 0; i < nw; ++i) dest[i] = src2[i] ^ (m & (src2[i] ^ src1[i]));
  return 0;
}

core_ret_t mpbn_word_set_word(mpbn_word_t* dest, mpbn_word_t wval, uint32_t nw) {
  if (nw && !dest) return err(MPBN_FID_WORD_SET_WORD, MPBN_R_NULL);
  for (size_t i = 0; i < nw; ++i) dest[i] = wval;
  return 0;
}

}  // extern "C"
