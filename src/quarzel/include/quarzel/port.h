// quarzel port layer: result words, memory, randomness and debug printing.
//
// Status style. Every API routine returns a `quarzel_ret_t`: 0 on success,
// otherwise  module << 24 | function << 16 | low16, where low16 is either
// 0xFF00 | reason (the routine found the fault itself) or the 16-bit
// `core_ret_t` of a failing core routine, passed through unchanged. Errors of a
// called API routine are passed up unchanged. Core routines return
// `core_ret_t` = core function id << 8 | core reason.
//
// Pointer preconditions are checked like every other input: a null required
// pointer yields the routine's 0x05 word. The library never stops the process.
#pragma once

#include <cstddef>
#include <cstdint>

using quarzel_ret_t = uint32_t;
using core_ret_t = uint16_t;
using quarzel_id_t = uint32_t;
using core_id_t = uint16_t;

// Module ids (bits 31-24).
inline constexpr uint32_t QZ_MOD_BLOCKCIPHER = 0x01;
inline constexpr uint32_t QZ_MOD_ECC = 0x02;
inline constexpr uint32_t QZ_MOD_RSA = 0x04;
inline constexpr uint32_t QZ_MOD_HASH = 0x05;
inline constexpr uint32_t QZ_MOD_HMAC = 0x06;
inline constexpr uint32_t QZ_MOD_KDF = 0x07;
inline constexpr uint32_t QZ_MOD_DRBG = 0x08;

// Reason bytes shared by the hash, HMAC, KDF and DRBG modules.
inline constexpr uint8_t QZ_R_ALLOC = 0x03;
inline constexpr uint8_t QZ_R_RANDOM = 0x04;
inline constexpr uint8_t QZ_R_NULL = 0x05;
inline constexpr uint8_t QZ_R_STATE = 0x08;
inline constexpr uint8_t QZ_R_UNSUPPORTED = 0x32;
inline constexpr uint8_t QZ_R_HASH_TYPE = 0x33;
inline constexpr uint8_t QZ_R_OUT_SMALL = 0x34;
inline constexpr uint8_t QZ_R_DRBG_TYPE = 0x3C;
inline constexpr uint8_t QZ_R_HMAC_HASH = 0x53;
inline constexpr uint8_t QZ_R_BITLEN = 0x70;
inline constexpr uint8_t QZ_R_LEN_RANGE = 0x71;
inline constexpr uint8_t QZ_R_COUNTER = 0x72;
inline constexpr uint8_t QZ_R_LEN_ZERO = 0x73;
inline constexpr uint8_t QZ_R_DRBG_HASH = 0x75;
inline constexpr uint8_t QZ_R_DRBG_CIPHER = 0x76;

// Core reasons shared by every core routine.
inline constexpr uint8_t QZ_CORE_R_ALLOC = 0x02;
inline constexpr uint8_t QZ_CORE_R_NULL = 0x05;

// An error the API routine detected itself.
[[nodiscard]] constexpr quarzel_ret_t quarzel_err(uint32_t module, uint32_t func, uint8_t reason) {
  return (module << 24) | ((func & 0xFF) << 16) | 0xFF00u | reason;
}
// A failing core routine's status, passed through.
[[nodiscard]] constexpr quarzel_ret_t quarzel_err_core(uint32_t module, uint32_t func, core_ret_t core) {
  return (module << 24) | ((func & 0xFF) << 16) | core;
}
[[nodiscard]] constexpr core_ret_t core_err(uint32_t core_func, uint8_t reason) {
  return static_cast<core_ret_t>(((core_func & 0xFF) << 8) | reason);
}

// Verdict words.
inline constexpr uint32_t QZ_TRUE = 0x94875566u;
inline constexpr uint32_t QZ_FALSE = 0xFACEB00Cu;
inline constexpr uint32_t QZ_CMP_EQUAL = 0xA6AA69A5u;
inline constexpr uint32_t QZ_CMP_LESS = 0xFACEB00Cu;
inline constexpr uint32_t QZ_CMP_GREATER = 0x94875566u;

extern "C" {

// Heap block, zero-filled. Returns 0, or 0xFFFFFFFF (with *ptr = null) when the
// heap refuses. A zero-byte request allocates a one-byte block so that success
// always yields a pointer that can be freed.
[[nodiscard]] uint32_t quarzel_mem_alloc(void** ptr, uint32_t size);
// Frees *ptr if set and nulls it; always 0.
uint32_t quarzel_mem_dealloc(void** ptr);
uint32_t quarzel_mem_setv(void* dest, uint8_t value, uint32_t count);
uint32_t quarzel_mem_copy(void* dest, const void* src, uint32_t size);
// Ordinary memcmp semantics; not constant time.
int32_t quarzel_mem_cmpr(const void* p1, const void* p2, uint32_t size);

quarzel_ret_t quarzel_init(void);
uint32_t quarzel_init_impl(void);

// The library's single random source: the operating system's CSPRNG
// (getrandom). Non-zero when the source fails; then `dest` holds no usable
// bytes.
[[nodiscard]] uint32_t quarzel_get_random(uint8_t* dest, uint32_t size);

void quarzel_debug_print_array(const char* name, const uint8_t* arr, uint32_t size, int enable);
void quarzel_debug_print_uint32(const char* name, uint32_t data, int enable);
void quarzel_debug_print_message(const char* func_name, int line_num, const char* msg, int enable);
void quarzel_stdout_print_string(const char* s, int enable);
void quarzel_stdout_print_message(const char* s, int num, int enable);

}  // extern "C"

namespace quarzel {

// A replacement random source (test-only, see quarzel/testing.h): fills
// `size` bytes and returns 0, or non-zero to simulate failure.
using RandomSource = uint32_t (*)(uint8_t* dest, uint32_t size);

// Wipes memory in a way the compiler cannot elide.
void secure_wipe(void* p, size_t n) noexcept;

// Constant-time equality of two byte strings of equal length: true when equal.
[[nodiscard]] bool ct_equal(const void* a, const void* b, size_t n) noexcept;

}  // namespace quarzel
