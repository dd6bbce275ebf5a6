// Portable AES: the four-table 32-bit round formulation of FIPS 197.
#include <cstring>

#include "aes/aes_internal.h"
#include "aes/aes_tables.h"
#include "quarzel/aes.h"

namespace quarzel::aes_detail {
namespace {

inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void store_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint32_t b0(uint32_t w) { return w & 0xFF; }
inline uint32_t b1(uint32_t w) { return (w >> 8) & 0xFF; }
inline uint32_t b2(uint32_t w) { return (w >> 16) & 0xFF; }
inline uint32_t b3(uint32_t w) { return w >> 24; }

}  // namespace

uint32_t sub_word_table(uint32_t w) {
  return pack(u1SBOX[b0(w)], u1SBOX[b1(w)], u1SBOX[b2(w)], u1SBOX[b3(w)]);
}

void inv_mix_table(uint8_t* round_key16) {
  for (int c = 0; c < 4; ++c) {
    const uint32_t w = load_le32(round_key16 + 4 * c);
    store_le32(round_key16 + 4 * c, kTd.t[0][u1SBOX[b0(w)]] ^ kTd.t[1][u1SBOX[b1(w)]] ^ kTd.t[2][u1SBOX[b2(w)]] ^
                                         kTd.t[3][u1SBOX[b3(w)]]);
  }
}

void expand_key(uint32_t key_len, const uint8_t* key, uint8_t* round_key, SubWordFn sub_word, InvMixWordFn inv_mix) {
  const uint32_t nk = key_len / 4;
  const uint32_t nr = rounds_for(key_len);
  const uint32_t total = 4 * (nr + 1);
  uint32_t w[60];
  for (uint32_t i = 0; i < nk; ++i) w[i] = load_le32(key + 4 * i);
  for (uint32_t i = nk; i < total; ++i) {
    uint32_t t = w[i - 1];
    if (i % nk == 0) {
      // RotWord moves byte 1 to byte 0: a right rotation of the little-endian word.
      t = sub_word((t >> 8) | (t << 24)) ^ u4Rcon[i / nk - 1];
    } else if (nk > 6 && i % nk == 4) {
      t = sub_word(t);
    }
    w[i] = w[i - nk] ^ t;
  }
  std::memset(round_key, 0, CIPHER_ROUND_KEY_SIZE);
  for (uint32_t i = 0; i < total; ++i) store_le32(round_key + 4 * i, w[i]);
  secure_wipe(w, sizeof w);
  uint8_t* dec = round_key + kDecScheduleOffset;
  std::memcpy(dec, round_key, 16 * (nr + 1));
  for (uint32_t r = 1; r < nr; ++r) inv_mix(dec + 16 * r);
}

}  // namespace quarzel::aes_detail

using namespace quarzel::aes_detail;

extern "C" core_ret_t aes_algo_key_expansion(uint32_t /*dir*/, uint32_t key_len, const uint8_t* key,
                                              uint8_t* round_key) {
  expand_key(key_len, key, round_key, sub_word_table, inv_mix_table);
  return 0;
}

extern "C" core_ret_t aes_algo_encrypt(uint32_t /*flag_final*/, uint32_t key_len, const uint8_t* in,
                                       const uint8_t* round_key, uint8_t* out) {
  const auto& T = kTe.t;
  const uint32_t nr = rounds_for(key_len);
  const uint8_t* rk = round_key;
  uint32_t s0 = load_le32(in) ^ load_le32(rk), s1 = load_le32(in + 4) ^ load_le32(rk + 4);
  uint32_t s2 = load_le32(in + 8) ^ load_le32(rk + 8), s3 = load_le32(in + 12) ^ load_le32(rk + 12);
  for (uint32_t r = 1; r < nr; ++r) {
    rk += 16;
    const uint32_t t0 = T[0][b0(s0)] ^ T[1][b1(s1)] ^ T[2][b2(s2)] ^ T[3][b3(s3)] ^ load_le32(rk);
    const uint32_t t1 = T[0][b0(s1)] ^ T[1][b1(s2)] ^ T[2][b2(s3)] ^ T[3][b3(s0)] ^ load_le32(rk + 4);
    const uint32_t t2 = T[0][b0(s2)] ^ T[1][b1(s3)] ^ T[2][b2(s0)] ^ T[3][b3(s1)] ^ load_le32(rk + 8);
    const uint32_t t3 = T[0][b0(s3)] ^ T[1][b1(s0)] ^ T[2][b2(s1)] ^ T[3][b3(s2)] ^ load_le32(rk + 12);
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 16;
  const auto& S = u1SBOX;
  store_le32(out, pack(S[b0(s0)], S[b1(s1)], S[b2(s2)], S[b3(s3)]) ^ load_le32(rk));
  store_le32(out + 4, pack(S[b0(s1)], S[b1(s2)], S[b2(s3)], S[b3(s0)]) ^ load_le32(rk + 4));
  store_le32(out + 8, pack(S[b0(s2)], S[b1(s3)], S[b2(s0)], S[b3(s1)]) ^ load_le32(rk + 8));
  store_le32(out + 12, pack(S[b0(s3)], S[b1(s0)], S[b2(s1)], S[b3(s2)]) ^ load_le32(rk + 12));
  return 0;
}

extern "C" core_ret_t aes_algo_decrypt(uint32_t /*flag_final*/, uint32_t key_len, const uint8_t* in,
                                       const uint8_t* round_key, uint8_t* out) {
  const auto& T = kTd.t;
  const uint32_t nr = rounds_for(key_len);
  const uint8_t* rk = round_key + kDecScheduleOffset + 16 * nr;
  uint32_t s0 = load_le32(in) ^ load_le32(rk), s1 = load_le32(in + 4) ^ load_le32(rk + 4);
  uint32_t s2 = load_le32(in + 8) ^ load_le32(rk + 8), s3 = load_le32(in + 12) ^ load_le32(rk + 12);
  for (uint32_t r = 1; r < nr; ++r) {
    rk -= 16;
    const uint32_t t0 = T[0][b0(s0)] ^ T[1][b1(s3)] ^ T[2][b2(s2)] ^ T[3][b3(s1)] ^ load_le32(rk);
    const uint32_t t1 = T[0][b0(s1)] ^ T[1][b1(s0)] ^ T[2][b2(s3)] ^ T[3][b3(s2)] ^ load_le32(rk + 4);
    const uint32_t t2 = T[0][b0(s2)] ^ T[1][b1(s1)] ^ T[2][b2(s0)] ^ T[3][b3(s3)] ^ load_le32(rk + 8);
    const uint32_t t3 = T[0][b0(s3)] ^ T[1][b1(s2)] ^ T[2][b2(s1)] ^ T[3][b3(s0)] ^ load_le32(rk + 12);
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk -= 16;
  const auto& S = u1INVSBOX;
  store_le32(out, pack(S[b0(s0)], S[b1(s3)], S[b2(s2)], S[b3(s1)]) ^ load_le32(rk));
  store_le32(out + 4, pack(S[b0(s1)], S[b1(s0)], S[b2(s3)], S[b3(s2)]) ^ load_le32(rk + 4));
  store_le32(out + 8, pack(S[b0(s2)], S[b1(s1)], S[b2(s0)], S[b3(s3)]) ^ load_le32(rk + 8));
  store_le32(out + 12, pack(S[b0(s3)], S[b1(s2)], S[b2(s1)], S[b3(s0)]) ^ load_le32(rk + 12));
  return 0;
}
