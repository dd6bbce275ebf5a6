// AES tables of FIPS 197, computed at compile time from the field arithmetic.
//
// Words are laid out for little-endian loads of a state column: byte 0 (row 0)
// in the least significant byte. Te0[x] = (2·S(x), S(x), S(x), 3·S(x)) from the
// least significant byte up; Te1..Te3 are its byte rotations. Td0..Td3 do the
// same for InvSubBytes with InvMixColumns (coefficients 0e, 09, 0d, 0b).
#pragma once

#include <array>
#include <cstdint>

namespace quarzel::aes_detail {

constexpr uint8_t gf_mul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (b & 1) r = static_cast<uint8_t>(r ^ a);
    const bool hi = (a & 0x80) != 0;
    a = static_cast<uint8_t>(a << 1);
    if (hi) a = static_cast<uint8_t>(a ^ 0x1B);
    b = static_cast<uint8_t>(b >> 1);
  }
  return r;
}

constexpr uint8_t rotl8(uint8_t x, int n) { return static_cast<uint8_t>((x << n) | (x >> (8 - n))); }

// Inverses through powers of the generator 3: x = 3^k, so x^-1 = 3^(255-k).
// A search for each inverse costs too many steps for some compilers' constant
// evaluation (clang's default limit).
constexpr std::array<uint8_t, 256> make_sbox() {
  std::array<uint8_t, 256> exp{};
  std::array<uint8_t, 256> log{};
  uint8_t p = 1;
  for (int k = 0; k < 255; ++k) {
    exp[k] = p;
    log[p] = static_cast<uint8_t>(k);
    p = static_cast<uint8_t>(p ^ gf_mul(p, 2));  // p·3
  }
  std::array<uint8_t, 256> s{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t inv = x == 0 ? 0 : exp[(255 - log[x]) % 255];
    s[x] = static_cast<uint8_t>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63);
  }
  return s;
}

constexpr std::array<uint8_t, 256> make_inv_sbox(const std::array<uint8_t, 256>& s) {
  std::array<uint8_t, 256> inv{};
  for (int x = 0; x < 256; ++x) inv[s[x]] = static_cast<uint8_t>(x);
  return inv;
}

inline constexpr std::array<uint8_t, 256> u1SBOX = make_sbox();
inline constexpr std::array<uint8_t, 256> u1INVSBOX = make_inv_sbox(u1SBOX);
static_assert(u1SBOX[0x00] == 0x63 && u1SBOX[0x01] == 0x7C && u1SBOX[0x53] == 0xED && u1SBOX[0xFF] == 0x16);

constexpr uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

constexpr uint32_t pack(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} | uint32_t{b1} << 8 | uint32_t{b2} << 16 | uint32_t{b3} << 24;
}

struct RoundTables {
  std::array<std::array<uint32_t, 256>, 4> t;
};

constexpr RoundTables make_te() {
  RoundTables r{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = u1SBOX[x];
    const uint32_t w = pack(gf_mul(s, 2), s, s, gf_mul(s, 3));
    for (int k = 0; k < 4; ++k) r.t[k][x] = k == 0 ? w : rotl32(w, 8 * k);
  }
  return r;
}

constexpr RoundTables make_td() {
  RoundTables r{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = u1INVSBOX[x];
    const uint32_t w = pack(gf_mul(s, 0x0E), gf_mul(s, 0x09), gf_mul(s, 0x0D), gf_mul(s, 0x0B));
    for (int k = 0; k < 4; ++k) r.t[k][x] = k == 0 ? w : rotl32(w, 8 * k);
  }
  return r;
}

inline constexpr RoundTables kTe = make_te();
inline constexpr RoundTables kTd = make_td();

inline constexpr std::array<uint32_t, 10> u4Rcon = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

}  // namespace quarzel::aes_detail
