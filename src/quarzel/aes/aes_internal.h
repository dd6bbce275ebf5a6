// Internal interface of the AES core: the key-expansion frame shared by both
// paths and the AES-NI routines (aes_ni.cpp), which exist only on x86-64.
#pragma once

#include <cstddef>
#include <cstdint>

#include "quarzel/port.h"

namespace quarzel::aes_detail {

inline constexpr uint32_t kDecScheduleOffset = 240;

constexpr uint32_t rounds_for(uint32_t key_len) { return key_len / 4 + 6; }

// SubWord of a key-expansion word and InvMixColumns of a round-key word; the
// portable versions use the tables, the AES-NI ones the instructions.
using SubWordFn = uint32_t (*)(uint32_t);
using InvMixWordFn = void (*)(uint8_t* round_key16);

// FIPS 197 KeyExpansion into bytes 0-239 and the equivalent-inverse schedule
// into bytes 240-479 (the rest of each half is zeroed).
void expand_key(uint32_t key_len, const uint8_t* key, uint8_t* round_key, SubWordFn sub_word,
                InvMixWordFn inv_mix);

uint32_t sub_word_table(uint32_t w);
void inv_mix_table(uint8_t* round_key16);

}  // namespace quarzel::aes_detail

#if defined(__x86_64__)
#define QZ_HAVE_AESNI 1
#else
#define QZ_HAVE_AESNI 0
#endif

#if QZ_HAVE_AESNI
namespace quarzel::aesni {

// Schedules are those of aes_algo_key_expansion; `rk` is the start of the 480-byte
// buffer for every routine (decryption reads its second half). Only for CPUs
// with AES-NI (aes_key_expansion, aes_encrypt and aes_decrypt choose them).
void key_expansion(uint32_t key_len, const uint8_t* key, uint8_t* round_key);
core_ret_t encrypt_block(uint32_t key_len, const uint8_t* in, const uint8_t* rk, uint8_t* out);
core_ret_t decrypt_block(uint32_t key_len, const uint8_t* in, const uint8_t* rk, uint8_t* out);

void ecb_encrypt(uint32_t key_len, const uint8_t* rk, const uint8_t* in, uint8_t* out, size_t blocks);
void ecb_decrypt(uint32_t key_len, const uint8_t* rk, const uint8_t* in, uint8_t* out, size_t blocks);
// `iv` is the chaining value, updated to the last ciphertext block.
void cbc_encrypt(uint32_t key_len, const uint8_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void cbc_decrypt(uint32_t key_len, const uint8_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
// Counter mode with the whole 16-byte block as a big-endian counter (wrapping);
// `ctr` is advanced by `blocks`.
void ctr_xor(uint32_t key_len, const uint8_t* rk, uint8_t* ctr, const uint8_t* in, uint8_t* out, size_t blocks);

}  // namespace quarzel::aesni
#endif  // QZ_HAVE_AESNI
