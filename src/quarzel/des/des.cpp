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
inline constexpr std::array<uint8_t, 64> kPI = invert(kIP);

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
    if (expand(r) != permute(kE, 32, r)) return false;
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
      const uint32_t s = static_cast<uint32_t>(kS[i][row * 16 + col]) << (28 - 4 * i);
      sp.t[i][v] = static_cast<uint32_t>(permute(kP, 32, s));
    }
  }
  return sp;
}
inline constexpr SpTables kSP = make_sp();

constexpr unsigned kSubkeyBytes = 6;
constexpr unsigned kSubkeys = 48;

uint64_t load_be64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}
void store_be64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}

// 16 round subkeys of one DES key, in forward round order.
void key56_48(uint64_t key64, uint64_t* sub) {
  const uint64_t cd = permute(kPC1, 64, key64);
  uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
  uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
  for (int r = 0; r < 16; ++r) {
    const unsigned s = kIterationShift[r];
    c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFF;
    d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFF;
    sub[r] = permute(kPC2, 56, (uint64_t{c} << 28) | d);
  }
}

// One DES pass with 16 subkeys in the given order (a reversed set decrypts).
uint64_t des_encrypt_primitive(uint64_t block, const uint64_t* sub) {
  const uint64_t ip = permute(kIP, 64, block);
  uint32_t l = static_cast<uint32_t>(ip >> 32), r = static_cast<uint32_t>(ip);
  for (int round = 0; round < 16; ++round) {
    const uint64_t x = expand(r) ^ sub[round];
    uint32_t f = 0;
    for (unsigned i = 0; i < 8; ++i) f |= kSP.t[i][(x >> (42 - 6 * i)) & 0x3F];
    const uint32_t nl = r;
    r = l ^ f;
    l = nl;
  }
  return permute(kPI, 64, (uint64_t{r} << 32) | l);
}

void unpack_subkeys(const uint8_t* round_key, uint64_t* sub) {
  for (unsigned i = 0; i < kSubkeys; ++i) {
    uint64_t v = 0;
    for (unsigned b = 0; b < kSubkeyBytes; ++b) v = (v << 8) | round_key[i * kSubkeyBytes + b];
    sub[i] = v;
  }
}

uint64_t run_three(const uint8_t* in, const uint8_t* round_key, const int (&order)[3]) {
  uint64_t sub[kSubkeys];
  unpack_subkeys(round_key, sub);
  uint64_t v = load_be64(in);
  for (int pass : order) v = des_encrypt_primitive(v, sub + 16 * pass);
  secure_wipe(sub, sizeof sub);
  return v;
}

}  // namespace
}  // namespace quarzel::des_detail

using namespace quarzel::des_detail;

extern "C" core_ret_t tdes_key_expansion(uint32_t dir, uint32_t key_len, const uint8_t* key, uint8_t* round_key) {
  // SP 800-67 keying options: K1 K2 K3, K1 K2 K1, or K K K.
  const uint8_t* parts[3] = {key, key, key};
  if (key_len == 24) {
    parts[1] = key + 8;
    parts[2] = key + 16;
  } else if (key_len == 16) {
    parts[1] = key + 8;
  }
  // Encryption is E(K1) D(K2) E(K3); decryption D(K3) E(K2) D(K1). A reversed
  // subkey set makes a DES pass decrypt.
  const bool enc = dir == CIPHER_DIR_ENC;
  const bool reversed[3] = {!enc, enc, !enc};
  uint64_t sub[16];
  for (int k = 0; k < 3; ++k) {
    key56_48(load_be64(parts[k]), sub);
    for (unsigned r = 0; r < 16; ++r) {
      const uint64_t v = sub[reversed[k] ? 15 - r : r];
      uint8_t* dst = round_key + (16 * k + r) * kSubkeyBytes;
      for (int b = kSubkeyBytes - 1; b >= 0; --b) dst[b] = static_cast<uint8_t>(v >> (8 * (kSubkeyBytes - 1 - b)));
    }
  }
  quarzel::secure_wipe(sub, sizeof sub);
  return 0;
}

extern "C" core_ret_t tdes_encrypt(uint32_t, uint32_t, const uint8_t* in, const uint8_t* round_key, uint8_t* out) {
  static constexpr int kOrder[3] = {0, 1, 2};
  store_be64(out, run_three(in, round_key, kOrder));
  return 0;
}

extern "C" core_ret_t tdes_decrypt(uint32_t, uint32_t, const uint8_t* in, const uint8_t* round_key, uint8_t* out) {
  static constexpr int kOrder[3] = {2, 1, 0};
  store_be64(out, run_three(in, round_key, kOrder));
  return 0;
}
