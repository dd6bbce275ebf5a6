// Multi-precision integer handles over the word-array arithmetic.
//
// An `mpi_t` binds a byte-order tag and a size in bytes to a value buffer,
// either owned (`mpi_alloc`, released by `mpi_free`) or the caller's own
// (`mpi_mapping`, simply dropped). Values are unsigned and keep their length;
// leading zero bytes are part of them.
//
// Tags: MPI_ENDIAN_MF_U8 (big-endian bytes) or MPI_ENDIAN_MF_U32 (native
// 32-bit words, most significant first; size a multiple of 4). Operations
// accept these two; an operation's result comes back in the tag of its first
// operand. Operands are read, never rewritten, so a result may be the same
// handle as any of its operands.
//
// Results are `core_ret_t`: 0, or function id << 8 | reason, with the reasons
// of quarzel/mpbn.h (0x05 null pointer or missing buffer, 0x07 invalid size or
// tag, ...) and 0x5202 when work space cannot be allocated; codes of the word
// layer pass through unchanged (0x4736 division by zero, 0x3B36 reduction
// modulo zero, 0x403B even modulus, 0x4D41 / 0x4241 no inverse).
#pragma once

#include <cstdint>

#include "quarzel/mpbn.h"
#include "quarzel/port.h"

enum mpi_endian_t : uint32_t {
  MPI_ENDIAN_UNDEFINED = 0,
  MPI_ENDIAN_MF_U8 = 1,
  MPI_ENDIAN_MF_U32 = 2,
  MPI_ENDIAN_LF_U8 = 3,
  MPI_ENDIAN_LF_U32 = 4,
};

struct mpi_t {
  mpi_endian_t endian;
  uint32_t size;       // bytes
  uint8_t* ptr_value;  // value buffer
};

// Template for every local handle: big-endian, empty, no buffer.
inline constexpr mpi_t mpi_default{MPI_ENDIAN_MF_U8, 0, nullptr};

// Core function ids of this layer.
inline constexpr uint8_t MPI_FID_MAPPING = 0x50;
inline constexpr uint8_t MPI_FID_SET_VALUE = 0x51;
inline constexpr uint8_t MPI_FID_ALLOC = 0x52;
inline constexpr uint8_t MPI_FID_COPY = 0x53;
inline constexpr uint8_t MPI_FID_COPY_FITIN = 0x54;
inline constexpr uint8_t MPI_FID_READ_STRING = 0x55;
inline constexpr uint8_t MPI_FID_SET_ZERO = 0x56;
inline constexpr uint8_t MPI_FID_SET_ONE = 0x57;
inline constexpr uint8_t MPI_FID_SET_TWO = 0x58;
inline constexpr uint8_t MPI_FID_SET_RAND = 0x59;
inline constexpr uint8_t MPI_FID_CHANGE_ENDIAN = 0x5A;
inline constexpr uint8_t MPI_FID_SET_LSB = 0x5B;
inline constexpr uint8_t MPI_FID_SHIFT_L = 0x5C;
inline constexpr uint8_t MPI_FID_SHIFT_R = 0x5D;
inline constexpr uint8_t MPI_FID_INCREMENT = 0x5E;
inline constexpr uint8_t MPI_FID_DECREMENT = 0x5F;
inline constexpr uint8_t MPI_FID_CHECK_COPRIME = 0x60;
inline constexpr uint8_t MPI_FID_INCREMENT_EVEN = 0x61;
inline constexpr uint8_t MPI_FID_DECREMENT_ODD = 0x62;
inline constexpr uint8_t MPI_FID_DECREMENT_TWO_ODD = 0x63;
inline constexpr uint8_t MPI_FID_IS_ZERO = 0x64;
inline constexpr uint8_t MPI_FID_BITS2INT = 0x65;
inline constexpr uint8_t MPI_FID_BITS2OCTETS = 0x66;
inline constexpr uint8_t MPI_FID_IS_ONE = 0x67;
inline constexpr uint8_t MPI_FID_CMP_MPI = 0x68;
inline constexpr uint8_t MPI_FID_CMP_FAST = 0x69;
inline constexpr uint8_t MPI_FID_C_CMP_N_DIV_2 = 0x6A;
inline constexpr uint8_t MPI_FID_ADD = 0x6B;
inline constexpr uint8_t MPI_FID_SUB = 0x6C;
inline constexpr uint8_t MPI_FID_MUL = 0x6D;
inline constexpr uint8_t MPI_FID_DIV = 0x6E;
inline constexpr uint8_t MPI_FID_MOD = 0x6F;
inline constexpr uint8_t MPI_FID_MOD_ADD = 0x70;
inline constexpr uint8_t MPI_FID_MOD_SUB = 0x71;
inline constexpr uint8_t MPI_FID_MOD_MUL = 0x72;
inline constexpr uint8_t MPI_FID_MOD_EXP = 0x73;
inline constexpr uint8_t MPI_FID_MOD_INV = 0x74;
inline constexpr uint8_t MPI_FID_MOD_INV_PRIME = 0x75;
inline constexpr uint8_t MPI_FID_GCD = 0x76;
inline constexpr uint8_t MPI_FID_COPRIME_0X10001 = 0x77;

inline constexpr uint8_t MPI_R_RADIX = 0x07;      // mpi_read_string: radix not 16
inline constexpr uint8_t MPI_R_TEXT_LONG = 0x08;  // mpi_read_string: text longer than the handle
inline constexpr uint8_t MPI_R_RANDOM = 0x04;     // the random source failed

extern "C" {

// ---- Handles ---------------------------------------------------------------

// Allocates `size` zero bytes; tag MPI_ENDIAN_UNDEFINED. 0x5202 on failure
// (then X holds no buffer).
[[nodiscard]] core_ret_t mpi_alloc(mpi_t* X, uint32_t size);
// Wipes and releases an owned buffer (nothing when none); tag and size stay.
void mpi_free(mpi_t* X);
// Binds the caller's buffer without copying.
core_ret_t mpi_mapping(mpi_t* X, mpi_endian_t endian, uint32_t size, void* value);
// Sets the tag and, when value is not null, copies size (== X->size) bytes.
core_ret_t mpi_set_value(mpi_t* X, mpi_endian_t endian, uint32_t size, const void* value);
// Copies tag and bytes of Y into X (equal sizes).
core_ret_t mpi_copy(mpi_t* X, const mpi_t* Y);
// Copies Y into X right-aligned: truncated at the top, or zero-padded.
core_ret_t mpi_copy_fitin(mpi_t* X, const mpi_t* Y);
// Reads hexadecimal text (radix 16 only, up to a NUL or newline) into X as a
// big-endian value padded to a multiple of 4 bytes; X's size becomes that
// length. 0x5507 for another radix, 0x5508 when X is too small.
[[nodiscard]] core_ret_t mpi_read_string(mpi_t* X, mpi_endian_t endian, uint32_t radix, const char* s);
core_ret_t mpi_set_zero(mpi_t* X, mpi_endian_t endian);
core_ret_t mpi_set_one(mpi_t* X, mpi_endian_t endian);
core_ret_t mpi_set_two(mpi_t* X, mpi_endian_t endian);
[[nodiscard]] core_ret_t mpi_set_rand(mpi_t* X, mpi_endian_t endian);
// Converts X's buffer in place between the two tags.
core_ret_t mpi_change_endian(mpi_t* X, mpi_endian_t endian);
core_ret_t mpi_change_endian_impl(mpi_t* X, mpi_endian_t endian);
// Value of one hexadecimal digit; any other character gives 0.
uint8_t select_hex(char c);

// ---- Single-operand operations (in X's own tag) ----------------------------

core_ret_t mpi_set_lsb(mpi_t* X, uint32_t lsb);
core_ret_t mpi_shift_l(mpi_t* X, uint32_t count);
core_ret_t mpi_shift_r(mpi_t* X, uint32_t count);
core_ret_t mpi_increment(mpi_t* X);
core_ret_t mpi_decrement(mpi_t* X);
core_ret_t mpi_increment_even(mpi_t* X);
core_ret_t mpi_decrement_odd(mpi_t* X);
core_ret_t mpi_decrement_two_odd(mpi_t* X);
core_ret_t mpi_is_zero(const mpi_t* X, uint32_t* is_zero);
core_ret_t mpi_is_one(const mpi_t* X, uint32_t* is_one);

// ---- Comparisons: QZ_CMP_EQUAL, QZ_CMP_LESS or QZ_CMP_GREATER ----------------

// Constant time; equal sizes.
core_ret_t mpi_cmp_mpi(const mpi_t* X, const mpi_t* Y, uint32_t* cmp);
// Big-endian byte strings; stops at the first difference (variable time).
core_ret_t mpi_cmp_fast(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t* cmp);
// Compares C with floor(N / 2); equal non-zero sizes.
core_ret_t mpi_c_cmp_n_div_2(const mpi_t* C, const mpi_t* N, uint32_t* cmp);

// ---- Arithmetic (X the result, in A's tag) ----------------------------------

core_ret_t mpi_add(mpi_t* X, const mpi_t* A, const mpi_t* B);
core_ret_t mpi_sub(mpi_t* X, const mpi_t* A, const mpi_t* B);
[[nodiscard]] core_ret_t mpi_mul(mpi_t* X, const mpi_t* A, const mpi_t* B);
// Q = A div B, R (optional) = A mod B right-aligned in R's size.
[[nodiscard]] core_ret_t mpi_div(mpi_t* Q, mpi_t* R, const mpi_t* A, const mpi_t* B);
[[nodiscard]] core_ret_t mpi_mod(mpi_t* R, const mpi_t* A, const mpi_t* B);
[[nodiscard]] core_ret_t mpi_mod_add(mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M);
[[nodiscard]] core_ret_t mpi_mod_sub(mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M);
[[nodiscard]] core_ret_t mpi_mod_mul(mpi_t* X, const mpi_t* A, const mpi_t* B, const mpi_t* M);
// X = A^E mod N, N odd; constant time in A and E for a given E size.
[[nodiscard]] core_ret_t mpi_mod_exp(mpi_t* X, const mpi_t* A, const mpi_t* E, const mpi_t* N);
// X = A^-1 mod N by mpbn_mod_inv: variable time, for public values only.
[[nodiscard]] core_ret_t mpi_mod_inv(mpi_t* X, const mpi_t* A, const mpi_t* N);
// X = A^(N-2) mod N for an odd prime N.
[[nodiscard]] core_ret_t mpi_mod_inv_prime(mpi_t* X, const mpi_t* A, const mpi_t* N);
[[nodiscard]] core_ret_t mpi_gcd(mpi_t* G, const mpi_t* A, const mpi_t* B);
// is_coprime = 1 when gcd(A, B) == 1, else 0.
[[nodiscard]] core_ret_t mpi_check_coprime(const mpi_t* A, const mpi_t* B, uint32_t* is_coprime);
// is_coprime = 1 when A mod 65537 != 1, else 0.
[[nodiscard]] core_ret_t mpi_coprime_a_minus_1_with_0x10001(const mpi_t* A, uint32_t* is_coprime);

// ---- RFC 6979 conversions (big-endian bytes; qlen = ceil(q_bitlen / 8)) ------

// out_num (qlen bytes) = bits2int(in_num).
[[nodiscard]] core_ret_t mpi_bits2int(uint32_t in_len, const uint8_t* in_num, uint32_t q_bitlen, uint8_t* out_num);
// out_num (qlen bytes) = bits2int(in_num) mod q, q given as qlen bytes.
[[nodiscard]] core_ret_t mpi_bits2octets(uint32_t in_len, const uint8_t* in_num, uint32_t q_bitlen, const uint8_t* q,
                                         uint8_t* out_num);

}  // extern "C"
