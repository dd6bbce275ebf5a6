// AES with the AES-NI instructions. Several independent blocks are kept in
// flight where the mode allows it (ECB, CBC decryption, CTR), since AESENC has
// a latency of several cycles but a throughput of one or more per cycle.
#include <cstring>

#include "aes/aes_internal.h"
#include "quarzel/aes.h"

#if QZ_HAVE_AESNI

#include "aes/aesni_inline.h"

namespace quarzel::aesni {
namespace {

using aes_detail::kDecScheduleOffset;

QZ_AESNI uint32_t sub_word_ni(uint32_t w) {
  // AESENCLAST with a zero round key applies ShiftRows and SubBytes; with the
  // word in every column ShiftRows has no effect.
  const __m128i v = _mm_set1_epi32(static_cast<int>(w));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_aesenclast_si128(v, _mm_setzero_si128())));
}

QZ_AESNI void inv_mix_ni(uint8_t* round_key16) { store(round_key16, _mm_aesimc_si128(load(round_key16))); }

// The counter block as two host-order halves of a 128-bit big-endian integer.
struct Counter {
  uint64_t hi, lo;
};

inline Counter load_counter(const uint8_t* p) {
  uint64_t hi, lo;
  std::memcpy(&hi, p, 8);
  std::memcpy(&lo, p + 8, 8);
  return {__builtin_bswap64(hi), __builtin_bswap64(lo)};
}

inline void store_counter(uint8_t* p, Counter c) {
  const uint64_t hi = __builtin_bswap64(c.hi), lo = __builtin_bswap64(c.lo);
  std::memcpy(p, &hi, 8);
  std::memcpy(p + 8, &lo, 8);
}

QZ_AESNI inline __m128i counter_block(Counter c) {
  return _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(c.lo)),
                        static_cast<long long>(__builtin_bswap64(c.hi)));
}

inline void counter_step(Counter& c) {
  c.lo += 1;
  c.hi += (c.lo == 0);
}

}  // namespace

void key_expansion(uint32_t key_len, const uint8_t* key, uint8_t* round_key) {
  aes_detail::expand_key(key_len, key, round_key, sub_word_ni, inv_mix_ni);
}

QZ_AESNI core_ret_t encrypt_block(uint32_t key_len, const uint8_t* in, const uint8_t* rk, uint8_t* out) {
  Keys keys;
  load_keys(keys, rk, key_len);
  store(out, enc1(keys, load(in)));
  wipe_keys(keys);
  return 0;
}

QZ_AESNI core_ret_t decrypt_block(uint32_t key_len, const uint8_t* in, const uint8_t* rk, uint8_t* out) {
  Keys keys;
  load_keys(keys, rk + kDecScheduleOffset, key_len);
  store(out, dec1(keys, load(in)));
  wipe_keys(keys);
  return 0;
}

QZ_AESNI void ecb_encrypt(uint32_t key_len, const uint8_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  Keys keys;
  load_keys(keys, rk, key_len);
  __m128i b[kLanes];
  for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
    for (size_t j = 0; j < kLanes; ++j) b[j] = load(in + 16 * j);
    enc8(keys, b);
    for (size_t j = 0; j < kLanes; ++j) store(out + 16 * j, b[j]);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) store(out, enc1(keys, load(in)));
  wipe_keys(keys);
}

QZ_AESNI void ecb_decrypt(uint32_t key_len, const uint8_t* rk, const uint8_t* in, uint8_t* out, size_t blocks) {
  Keys keys;
  load_keys(keys, rk + kDecScheduleOffset, key_len);
  __m128i b[kLanes];
  for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
    for (size_t j = 0; j < kLanes; ++j) b[j] = load(in + 16 * j);
    dec8(keys, b);
    for (size_t j = 0; j < kLanes; ++j) store(out + 16 * j, b[j]);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) store(out, dec1(keys, load(in)));
  wipe_keys(keys);
}

namespace {

// CBC encryption is one serial chain of rounds per block. The rounds are
// unrolled with the keys in registers, and the XOR of the next plaintext
// block (with round key 0 folded in) happens inside a second AESENCLAST, so
// the chain holds AES rounds only.
template <uint32_t Nr>
QZ_AESNI void cbc_encrypt_nr(const uint8_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  __m128i k[Nr + 1];
  for (uint32_t i = 0; i <= Nr; ++i) k[i] = load(rk + 16 * i);
  __m128i c = load(iv);
  if (blocks > 0) {
    __m128i x = _mm_xor_si128(_mm_xor_si128(load(in), c), k[0]);
    for (;;) {
      for (uint32_t r = 1; r < Nr; ++r) x = _mm_aesenc_si128(x, k[r]);
      c = _mm_aesenclast_si128(x, k[Nr]);
      store(out, c);
      if (--blocks == 0) break;
      in += 16, out += 16;
      x = _mm_aesenclast_si128(x, _mm_xor_si128(k[Nr], _mm_xor_si128(load(in), k[0])));
    }
  }
  store(iv, c);
  secure_wipe(k, sizeof k);
}

}  // namespace

void cbc_encrypt(uint32_t key_len, const uint8_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks) {
  switch (rounds_for(key_len)) {
    case 10: cbc_encrypt_nr<10>(rk, iv, in, out, blocks); break;
    case 12: cbc_encrypt_nr<12>(rk, iv, in, out, blocks); break;
    default: cbc_encrypt_nr<14>(rk, iv, in, out, blocks); break;
  }
}

QZ_AESNI void cbc_decrypt(uint32_t key_len, const uint8_t* rk, uint8_t* iv, const uint8_t* in, uint8_t* out,
                          size_t blocks) {
  Keys keys;
  load_keys(keys, rk + kDecScheduleOffset, key_len);
  __m128i prev = load(iv);
  __m128i b[kLanes], c[kLanes];
  for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
    // Read all ciphertext first: `out` may alias `in`.
    for (size_t j = 0; j < kLanes; ++j) b[j] = c[j] = load(in + 16 * j);
    dec8(keys, b);
    store(out, _mm_xor_si128(b[0], prev));
    for (size_t j = 1; j < kLanes; ++j) store(out + 16 * j, _mm_xor_si128(b[j], c[j - 1]));
    prev = c[kLanes - 1];
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i ct = load(in);
    store(out, _mm_xor_si128(dec1(keys, ct), prev));
    prev = ct;
  }
  store(iv, prev);
  wipe_keys(keys);
}

QZ_AESNI void ctr_xor(uint32_t key_len, const uint8_t* rk, uint8_t* ctr, const uint8_t* in, uint8_t* out,
                      size_t blocks) {
  Keys keys;
  load_keys(keys, rk, key_len);
  Counter cnt = load_counter(ctr);
  __m128i b[kLanes];
  for (; blocks >= kLanes; blocks -= kLanes, in += 16 * kLanes, out += 16 * kLanes) {
    for (size_t j = 0; j < kLanes; ++j) {
      b[j] = counter_block(cnt);
      counter_step(cnt);
    }
    enc8(keys, b);
    for (size_t j = 0; j < kLanes; ++j) store(out + 16 * j, _mm_xor_si128(b[j], load(in + 16 * j)));
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    const __m128i ks = enc1(keys, counter_block(cnt));
    counter_step(cnt);
    store(out, _mm_xor_si128(ks, load(in)));
  }
  for (auto& v : b) v = _mm_setzero_si128();
  store_counter(ctr, cnt);
  wipe_keys(keys);
}

}  // namespace quarzel::aesni

#endif  // QZ_HAVE_AESNI
