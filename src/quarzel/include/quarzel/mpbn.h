// Word-array arithmetic: unsigned integers in caller-supplied arrays.
//
// Layouts (`mpbn_endian_t`):
//   MPBN_ENDIAN_MF_U8   big-endian byte string; lengths are byte counts.
//   MPBN_ENDIAN_MF_U32  array of native 32-bit words, most significant word
//                       first; `len` arguments are byte counts (multiples of
//                       4), `nw` arguments word counts.
// Numbers have exactly the length given; leading zero words are part of them.
//
// Results are `core_ret_t`: 0, or function id << 8 | reason. Reasons:
//   0x02 a work buffer could not be allocated   0x05 a required pointer is null
//   0x07 a length relation or layout is invalid  0x36 zero divisor or modulus
//   0x37 quotient array too short                0x3A zero length
//   0x3B even modulus                            0x41 no inverse
// Routines that take work space keep it on the stack up to a few thousand
// bits and fall back to the heap above that; scratch holding operand values
// is wiped before it is released.
//
// Additions, subtractions, comparisons, tests, increments, shifts, word
// selection, modular addition and subtraction, the Montgomery product and the
// exponentiation do not branch on operand values. Division, reduction, the
// inversions and the gcd do (they are `_vartime` in effect).
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarzel/port.h"

using mpbn_word_t = uint32_t;

enum mpbn_endian_t : uint32_t {
  MPBN_ENDIAN_UNDEFINED = 0,
  MPBN_ENDIAN_MF_U8 = 1,
  MPBN_ENDIAN_MF_U32 = 2,
  MPBN_ENDIAN_LF_U8 = 3,
  MPBN_ENDIAN_LF_U32 = 4,
};

// Montgomery context: -m^-1 mod 2^32 for the modulus' least significant word.
struct mpbn_mont_ctx_t {
  mpbn_word_t m_inv;
};

// Core reasons of the big-number layer.
inline constexpr uint8_t MPBN_R_ALLOC = 0x02;
inline constexpr uint8_t MPBN_R_NULL = 0x05;
inline constexpr uint8_t MPBN_R_ARG = 0x07;
inline constexpr uint8_t MPBN_R_ZERO_DIVISOR = 0x36;
inline constexpr uint8_t MPBN_R_QUOTIENT_SHORT = 0x37;
inline constexpr uint8_t MPBN_R_ZERO_LENGTH = 0x3A;
inline constexpr uint8_t MPBN_R_EVEN_MODULUS = 0x3B;
inline constexpr uint8_t MPBN_R_NO_INVERSE = 0x41;

// Core function ids (bits 15-8 of a core_ret_t).
inline constexpr uint8_t MPBN_FID_ADD = 0x20;
inline constexpr uint8_t MPBN_FID_SUB = 0x21;
inline constexpr uint8_t MPBN_FID_ADD_CTL = 0x22;
inline constexpr uint8_t MPBN_FID_SUB_CTL = 0x23;
inline constexpr uint8_t MPBN_FID_INNER_PROD = 0x24;
inline constexpr uint8_t MPBN_FID_REVERSE_BYTE_ORDER = 0x25;
inline constexpr uint8_t MPBN_FID_INCREMENT = 0x26;
inline constexpr uint8_t MPBN_FID_INCREMENT_CTL = 0x27;
inline constexpr uint8_t MPBN_FID_DECREMENT = 0x28;
inline constexpr uint8_t MPBN_FID_COMP = 0x29;
inline constexpr uint8_t MPBN_FID_IS_ZERO = 0x2A;
inline constexpr uint8_t MPBN_FID_IS_ONE = 0x2B;
inline constexpr uint8_t MPBN_FID_SHIFT_LEFT = 0x2C;
inline constexpr uint8_t MPBN_FID_SHIFT_RIGHT = 0x2D;
inline constexpr uint8_t MPBN_FID_LEAD_WORD_INDEX = 0x2E;
inline constexpr uint8_t MPBN_FID_U4MUL = 0x2F;
inline constexpr uint8_t MPBN_FID_WORD_CLEAR = 0x30;
inline constexpr uint8_t MPBN_FID_WORD_COPY = 0x31;
inline constexpr uint8_t MPBN_FID_WORD_COPY_CTL = 0x32;
inline constexpr uint8_t MPBN_FID_WORD_SET_WORD = 0x33;
inline constexpr uint8_t MPBN_FID_MUL_INV_WORD = 0x34;
inline constexpr uint8_t MPBN_FID_MONT_INIT = 0x39;
inline constexpr uint8_t MPBN_FID_MONT_MULT = 0x3A;
inline constexpr uint8_t MPBN_FID_MOD = 0x3B;
inline constexpr uint8_t MPBN_FID_MOD_ADD = 0x3C;
inline constexpr uint8_t MPBN_FID_MOD_SUB = 0x3D;
inline constexpr uint8_t MPBN_FID_MOD_MUL = 0x3E;
inline constexpr uint8_t MPBN_FID_MONT_MOD_MUL = 0x3F;
inline constexpr uint8_t MPBN_FID_MOD_EXP = 0x40;
inline constexpr uint8_t MPBN_FID_MOD_INV = 0x41;
inline constexpr uint8_t MPBN_FID_MOD_INV_SLOW = 0x42;
inline constexpr uint8_t MPBN_FID_MUL = 0x46;
inline constexpr uint8_t MPBN_FID_DIV = 0x47;
inline constexpr uint8_t MPBN_FID_DIV_1WORD = 0x48;
inline constexpr uint8_t MPBN_FID_GCD = 0x4A;
inline constexpr uint8_t MPBN_FID_COPRIME_0X10001 = 0x4B;
inline constexpr uint8_t MPBN_FID_MOD_INV_FAST = 0x4D;

extern "C" {

// ---- Addition, subtraction, multiplication -------------------------------

// r = a + b; len_a >= len_b, len_r == len_a (bytes). carry (optional) gets the
// carry out. r may be a.
core_ret_t mpbn_add(mpbn_endian_t endian, uint32_t len_a, const void* a, uint32_t len_b, const void* b,
                    uint32_t len_r, void* r, mpbn_word_t* carry);
// r = a - b mod 2^(8*len); all lengths equal. borrow (optional) is 1 when b > a.
core_ret_t mpbn_sub(mpbn_endian_t endian, uint32_t len_a, const void* a, uint32_t len_b, const void* b,
                    uint32_t len_r, void* r, mpbn_word_t* borrow);
// Digit-count forms of the above (words, or bytes for _mf8).
core_ret_t mpbn_add_mf32(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b, uint32_t nw_r,
                         mpbn_word_t* r, mpbn_word_t* carry);
core_ret_t mpbn_add_mf8(uint32_t nb_a, const uint8_t* a, uint32_t nb_b, const uint8_t* b, uint32_t nb_r, uint8_t* r,
                        mpbn_word_t* carry);
core_ret_t mpbn_sub_mf32(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b, uint32_t nw_r,
                         mpbn_word_t* r, mpbn_word_t* borrow);
core_ret_t mpbn_sub_mf8(uint32_t nb_a, const uint8_t* a, uint32_t nb_b, const uint8_t* b, uint32_t nb_r, uint8_t* r,
                        mpbn_word_t* borrow);
// r = a + sel*b (resp. a - sel*b) mod 2^(32*nw), sel 0 or 1; same work for
// both values of sel. r may be a.
core_ret_t mpbn_add_ctl(mpbn_word_t sel, uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, mpbn_word_t* r);
core_ret_t mpbn_sub_ctl(mpbn_word_t sel, uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, mpbn_word_t* r);
// r = a*b mod 2^(8*len_r); len_a >= len_b, len_r >= len_a. r may overlap a or b.
[[nodiscard]] core_ret_t mpbn_mul(mpbn_endian_t endian, uint32_t len_a, const void* a, uint32_t len_b, const void* b,
                                  uint32_t len_r, void* r);
// (r_h, r_l) = a*b + x + y on 8-bit (MF_U8) or 32-bit (MF_U32) digits.
core_ret_t mpbn_inner_prod(mpbn_endian_t endian, mpbn_word_t a, mpbn_word_t b, mpbn_word_t x, mpbn_word_t y,
                           mpbn_word_t* r_h, mpbn_word_t* r_l);

// ---- Utilities -------------------------------------------------------------

// Reverses the four bytes of each of nw words in place.
core_ret_t mpbn_reverse_byte_order(uint32_t nw, void* a);
// a + 1 (resp. a - 1) mod 2^(8*len), in place.
core_ret_t mpbn_increment(mpbn_endian_t endian, uint32_t len, void* a);
core_ret_t mpbn_decrement(mpbn_endian_t endian, uint32_t len, void* a);
// a + sel over len/4 words in place; carry (optional) gets the carry out.
core_ret_t mpbn_increment_ctl(mpbn_word_t sel, uint32_t len, mpbn_word_t* a, mpbn_word_t* carry);
// cmp = 1 (a > b), -1 (a < b) or 0; both len bytes.
core_ret_t mpbn_comp(mpbn_endian_t endian, uint32_t len, const void* a, const void* b, int32_t* cmp);
// is_zero = 1 when all len/4 words are zero; len a non-zero multiple of 4.
core_ret_t mpbn_is_zero(uint32_t len, const mpbn_word_t* a, uint32_t* is_zero);
// is_one = 1 when the value is 1; len non-zero.
core_ret_t mpbn_is_one(mpbn_endian_t endian, uint32_t len, const void* a, uint32_t* is_one);
// In-place shifts of a len-byte value; bits leaving the value are lost.
core_ret_t mpbn_shift_left(mpbn_endian_t endian, uint32_t nbits, uint32_t len, void* a);
core_ret_t mpbn_shift_right(mpbn_endian_t endian, uint32_t nbits, uint32_t len, void* a);
// Index of the first non-zero word from the most significant end; nw when zero.
core_ret_t mpbn_get_lead_word_index(uint32_t nw, const mpbn_word_t* a, uint32_t* lead_word_idx);
// Full 64-bit product of two words.
core_ret_t mpbn_u4mul(mpbn_word_t a, mpbn_word_t b, mpbn_word_t* r_h, mpbn_word_t* r_l);

// ---- Word moves ------------------------------------------------------------

core_ret_t mpbn_word_clear(mpbn_word_t* dest, uint32_t nw);
core_ret_t mpbn_word_copy(mpbn_word_t* dest, const mpbn_word_t* src, uint32_t nw);
// dest = sel ? src1 : src2 (sel 0 or 1), reading every word of both.
core_ret_t mpbn_word_copy_ctl(mpbn_word_t* dest, const mpbn_word_t* src1, const mpbn_word_t* src2, uint32_t nw,
                              mpbn_word_t sel);
core_ret_t mpbn_word_set_word(mpbn_word_t* dest, mpbn_word_t wval, uint32_t nw);

// ---- Division, reduction, modular arithmetic, inverses (word arrays) -------

// q = a div b right-aligned in nw_q words, r (optional, nw_b words) = a mod b.
// Zero divisor: 0x4736, nothing written. nw_q shorter than the quotient's
// significant words: 0x4737, nothing written. q and r may overlap a or b.
[[nodiscard]] core_ret_t mpbn_div(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b, const mpbn_word_t* b,
                                  uint32_t nw_q, mpbn_word_t* q, mpbn_word_t* r);
// Short division by one non-zero word; nw_a <= nw_q. r (when nw_r > 0) gets
// the remainder in its last word, other words zero.
[[nodiscard]] core_ret_t mpbn_div_1word(uint32_t nw_a, const mpbn_word_t* a, mpbn_word_t b, uint32_t nw_q,
                                        mpbn_word_t* q, uint32_t nw_r, mpbn_word_t* r);
// r = a mod n (nw_n words). Zero modulus: 0x3B36, nothing written.
[[nodiscard]] core_ret_t mpbn_mod(uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_n, const mpbn_word_t* n,
                                  mpbn_word_t* r);
// r = (a + b) mod n, (a - b) mod n for a, b < n; constant time.
core_ret_t mpbn_mod_add(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n, mpbn_word_t* r);
core_ret_t mpbn_mod_sub(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n, mpbn_word_t* r);
// r = a*b mod n for any a, b of nw words.
[[nodiscard]] core_ret_t mpbn_mod_mul(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b, const mpbn_word_t* n,
                                      mpbn_word_t* r);
// r = a^-1 mod n: odd n by binary inversion (0x4D41 when none), even n by the
// binary extended Euclid (0x4241 when none, also for even a). Variable time
// (`_vartime` in effect, like the division): all three loop and branch on the
// values of a and n, so they are for public values only; no secret reaches
// them.
[[nodiscard]] core_ret_t mpbn_mod_inv(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, mpbn_word_t* r);
[[nodiscard]] core_ret_t mpbn_mod_inv_fast(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, mpbn_word_t* r);
[[nodiscard]] core_ret_t mpbn_mod_inv_slow(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, mpbn_word_t* r);

// ---- Montgomery arithmetic, exponentiation, gcd ------------------------------

// -m^-1 mod 2^32 for an odd word m.
core_ret_t mpbn_mul_inv_word(mpbn_word_t m, mpbn_word_t* mns_m_inv);
// With R = 2^(32*nw_m): sets ctx, r2modm = R^2 mod m and, when rmodm is not
// null, rmodm = R mod m. m must be odd (0x393B); leading zero words in m
// (a modulus shorter than its buffer) are fine here and in the products.
[[nodiscard]] core_ret_t mpbn_mont_init(mpbn_mont_ctx_t* ctx, uint32_t nw_m, const mpbn_word_t* m, mpbn_word_t* rmodm,
                                        mpbn_word_t* r2modm);
// r = a*b*R^-1 mod m for a*b < m*R; r may be a or b.
[[nodiscard]] core_ret_t mpbn_mont_mult(const mpbn_mont_ctx_t* ctx, uint32_t nw, const mpbn_word_t* m,
                                        const mpbn_word_t* a, const mpbn_word_t* b, mpbn_word_t* r);
// r = a*b mod n through Montgomery form; n odd.
[[nodiscard]] core_ret_t mpbn_mont_mod_mul(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* b,
                                           const mpbn_word_t* n, mpbn_word_t* r);
// r = a^e mod n for odd n of nw words, a of nw words, e of nw_e words. Every
// exponent of nw_e words costs the same: a squaring and a multiplication per
// bit, the multiplier chosen by a masked copy. r may overlap a.
[[nodiscard]] core_ret_t mpbn_mod_exp(uint32_t nw, const mpbn_word_t* a, const mpbn_word_t* n, uint32_t nw_e,
                                      const mpbn_word_t* e, mpbn_word_t* r);
// r = gcd(a, b) right-aligned in nw_r words. Counts non-zero; the work arrays
// are sized from the operands. A zero operand gives 0x3B36.
// gcd(a, b) by Euclid's remainders: r = a mod b until it is zero; the last
// non-zero remainder (nw words) goes to r. a and b (nw words each) are
// overwritten. A zero b gives mpbn_mod's 0x3B36. Variable time.
[[nodiscard]] core_ret_t mpbn_gcd_primitive(uint32_t nw, mpbn_word_t* a, mpbn_word_t* b, mpbn_word_t* r);
[[nodiscard]] core_ret_t mpbn_gcd(uint32_t max_nw, uint32_t nw_a, const mpbn_word_t* a, uint32_t nw_b,
                                  const mpbn_word_t* b, uint32_t nw_r, mpbn_word_t* r);
// is_coprime = 0 when a mod 65537 == 1, else 1; written only on success.
[[nodiscard]] core_ret_t mpbn_coprime_a_minus_1_with_0x10001(uint32_t nw, const mpbn_word_t* a,
                                                             uint32_t* is_coprime);

}  // extern "C"

namespace quarzel {
// True when Montgomery products run on the BMI2/ADX path.
[[nodiscard]] bool mpbn_mont_uses_adx();
// Name of the Montgomery kernel that serves moduli of `limbs` 64-bit limbs
// ("adx16", "portable32", "adx" for an unlisted size...).
[[nodiscard]] const char* mpbn_mont_kernel_name(size_t limbs);
// Name of the kernel that runs RSA's two CRT exponentiations side by side
// for primes of `limbs` 64-bit limbs ("ifma16", "model32"), "none" where
// each half runs alone on the Montgomery kernel.
[[nodiscard]] const char* mpbn_exp2_kernel_name(size_t limbs);
}  // namespace quarzel
