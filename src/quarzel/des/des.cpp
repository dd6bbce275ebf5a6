// TDEA (SP 800-67) over the DES engine of FIPS 46-3; single DES is TDEA with
// three equal keys.
#include <cstring>

#include "des/des_tables.h"
#include "quarzel/blockcipher.h"
#include "quarzel/des.h"
#include "quarzel/secure.h"

namespace quarzel::des_detail {
namespace {

constexpr std::array<uint8_t, 64> invert(const std::array<uint8_t, 64>& t) {
  std::array<uint8_t, 64> inv{};
  for (size_t j = 0; j < 64; ++j) inv[t[j] - 1] = static_cast<uint8_t>(j + 1);
  return inv;
}
inline constexpr std::array<uint8_t, 64> PI = invert(IP);

constexpr uint32_t rotr32(uint32_t x, unsigned n) { return n == 0 ? x : (x >> n) | (x << (32 - n)); }

// E of FIPS 46-3: box i sees bits 4i .. 4i+5 of R (wrapping), which a rotation
// brings to the low six bits.
constexpr uint64_t expand(uint32_t r) {
  uint64_t e = 0;
  for (unsigned i = 0; i < 8; ++i) e = (e << 6) | (rotr32(r, (27 - 4 * i + 32) % 32) & 0x3F);
  return e;
}

constexpr bool expand_matches_table() {
  for (int k = 0; k < 32; ++k) {
    const uint32_t r = 1u << k;
    if (expand(r) != permute(E, 32, r)) return false;
  }
  return true;
}
static_assert(expand_matches_table());

// S-box i followed by P, indexed by the raw six input bits of the box.
struct SpTables {
  uint32_t t[8][64];
};
constexpr SpTables make_sp() {
  SpTables sp{};
  for (unsigned i = 0; i < 8; ++i) {
    for (unsigned v = 0; v < 64; ++v) {
      const unsigned row = ((v >> 4) & 2) | (v & 1);
      const unsigned col = (v >> 1) & 0xF;
      const uint32_t s = static_cast<uint32_t>(S[i][row * 16 + col]) << (28 - 4 * i);
      sp.t[i][v] = static_cast<uint32_t>(permute(P, 32, s));
    }
  }
  return sp;
}
inline constexpr SpTables kSP = make_sp();

constexpr unsigned kSubkeyBytes = 6;
constexpr unsigned kSubkeys = 48;

// 8 bytes to a 64-bit big-endian number, and back.
uint64_t plain_to_bit(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}
void cipher_to_byte(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// Key bytes to K1, K2, K3 by the SP 800-67 keying options: K1 K2 K3, K1 K2 K1,
// or K K K.
void u1_to_u8(uint32_t key_len, const uint8_t* key, uint64_t (&keys)[3]) {
  const uint32_t offset[3] = {0, key_len == 16 || key_len == 24 ? 8u : 0u, key_len == 24 ? 16u : 0u};
  for (int k = 0; k < 3; ++k) {
    keys[k] = 0;
    for (uint32_t i = 0; i < 8; ++i) keys[k] = (keys[k] << 8) | key[offset[k] + i];
  }
}

// PC-1: the 56 key bits C || D of a 64-bit key (parity bits dropped).
uint64_t key64_56(uint64_t key64) { return permute(PC1, 64, key64); }

// The 16 round subkeys of C || D, in round order or reversed (a reversed set
// makes a DES pass decrypt).
void key56_48(uint64_t cd, bool reversed, uint64_t* sub) {
  uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
  uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
  for (int r = 0; r < 16; ++r) {
    const unsigned s = iteration_shift[r];
    c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFF;
    d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFF;
    sub[reversed ? 15 - r : r] = permute(PC2, 56, (uint64_t{c} << 28) | d);
  }
}

// The 48 subkeys packed 6 bytes each, most significant first, and unpacked.
void u8_to_u1(const uint64_t* sub, uint8_t* round_key) {
  for (unsigned i = 0; i < kSubkeys; ++i) {
    uint64_t v = sub[i];
    for (int b = kSubkeyBytes - 1; b >= 0; --b, v >>= 8) round_key[i * kSubkeyBytes + b] = static_cast<uint8_t>(v);
  }
}
void key_byte_to_bit(const uint8_t* round_key, uint64_t* sub) {
  for (unsigned i = 0; i < kSubkeys; ++i) {
    uint64_t v = 0;
    for (unsigned b = 0; b < kSubkeyBytes; ++b) v = (v << 8) | round_key[i * kSubkeyBytes + b];
    sub[i] = v;
  }
}

// One DES pass with 16 subkeys in the given order (a reversed set decrypts).
uint64_t des_encrypt_primitive(uint64_t block, const uint64_t* sub) {
  const uint64_t ip = permute(IP, 64, block);
  uint32_t l = static_cast<uint32_t>(ip >> 32), r = static_cast<uint32_t>(ip);
  for (int round = 0; round < 16; ++round) {
    const uint64_t x = expand(r) ^ sub[round];
    uint32_t f = 0;
    for (unsigned i = 0; i < 8; ++i) f |= kSP.t[i][(x >> (42 - 6 * i)) & 0x3F];
    const uint32_t nl = r;
    r = l ^ f;
    l = nl;
  }
  return permute(PI, 64, (uint64_t{r} << 32) | l);
}

// The software TDEA on native words. Key expansion: the 48 round subkeys of
// K1, K2, K3 (16 each), each key's set in the order its pass needs for `dir`
// (encryption is E(K1) D(K2) E(K3), decryption D(K3) E(K2) D(K1)).
void tdes_algo_key_expansion(uint32_t dir, const uint64_t (&keys)[3], uint64_t (&sub)[kSubkeys]) {
  const bool enc = dir == CIPHER_DIR_ENC;
  const bool reversed[3] = {!enc, enc, !enc};
  for (int k = 0; k < 3; ++k) key56_48(key64_56(keys[k]), reversed[k], sub + 16 * k);
}

uint64_t tdes_algo_encrypt(uint64_t block, const uint64_t (&sub)[kSubkeys]) {
  for (int pass = 0; pass < 3; ++pass) block = des_encrypt_primitive(block, sub + 16 * pass);
  return block;
}

uint64_t tdes_algo_decrypt(uint64_t block, const uint64_t (&sub)[kSubkeys]) {
  for (int pass = 2; pass >= 0; --pass) block = des_encrypt_primitive(block, sub + 16 * pass);
  return block;
}

}  // namespace
}  // namespace quarzel::des_detail

using namespace quarzel::des_detail;

// The library's byte interface over the word routines: the key bytes by
// keying option, the schedule packed into the caller's buffer (and unpacked
// again for every block), the block as a big-endian number.
extern "C" core_ret_t tdes_key_expansion(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key) {
  uint64_t keys[3];
  uint64_t sub[kSubkeys];
  u1_to_u8(key_len, key, keys);
  tdes_algo_key_expansion(dir, keys, sub);
  u8_to_u1(sub, round_key);
  quarzel::secure_wipe(sub, sizeof sub);
  quarzel::secure_wipe(keys, sizeof keys);
  return 0;
}

extern "C" core_ret_t tdes_encrypt(uint32_t, uint32_t, const uint8_t* in, const uint8_t* round_key, uint8_t* out) {
  uint64_t sub[kSubkeys];
  key_byte_to_bit(round_key, sub);
  cipher_to_byte(out, tdes_algo_encrypt(plain_to_bit(in), sub));
  quarzel::secure_wipe(sub, sizeof sub);
  return 0;
}

extern "C" core_ret_t tdes_decrypt(uint32_t, uint32_t, const uint8_t* in, const uint8_t* round_key, uint8_t* out) {
  uint64_t sub[kSubkeys];
  key_byte_to_bit(round_key, sub);
  cipher_to_byte(out, tdes_algo_decrypt(plain_to_bit(in), sub));
  quarzel::secure_wipe(sub, sizeof sub);
  return 0;
}
