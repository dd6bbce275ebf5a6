// Shared helpers of the RSA sources: state tests, component tables, sizes.
#pragma once

#include <cstdint>

#include "quarzel/rsa_key.h"

namespace quarzel::rsa {

// Function numbers (module 0x04) of the key-object and blob routines.
inline constexpr uint32_t FN_PRIKEY_VALUE_ALLOC = 0x0418;
inline constexpr uint32_t FN_PUBKEY_VALUE_ALLOC = 0x0419;
inline constexpr uint32_t FN_PRIKEY_VALUE_SET = 0x041A;
inline constexpr uint32_t FN_PUBKEY_VALUE_SET = 0x041B;
inline constexpr uint32_t FN_PRIKEY_VALUE_FREE = 0x041C;
inline constexpr uint32_t FN_PUBKEY_VALUE_FREE = 0x041D;
inline constexpr uint32_t FN_PRIKEY_VALUE_MAPPING = 0x041E;
inline constexpr uint32_t FN_PUBKEY_VALUE_MAPPING = 0x041F;
inline constexpr uint32_t FN_PRIKEY_GET_LENGTH = 0x0420;
inline constexpr uint32_t FN_PUBKEY_GET_LENGTH = 0x0421;
inline constexpr uint32_t FN_PRIKEY_VALUE_GET = 0x0422;
inline constexpr uint32_t FN_PUBKEY_VALUE_GET = 0x0423;
inline constexpr uint32_t FN_PRIKEY_ALLOC = 0x0424;
inline constexpr uint32_t FN_PUBKEY_ALLOC = 0x0425;
inline constexpr uint32_t FN_RAW_PRIKEY_GET_LENGTH = 0x0470;
inline constexpr uint32_t FN_PRIKEY_TO_RAW = 0x0471;
inline constexpr uint32_t FN_RAW_TO_PRIKEY = 0x0472;
inline constexpr uint32_t FN_RAW_PUBKEY_GET_LENGTH = 0x0473;
inline constexpr uint32_t FN_PUBKEY_TO_RAW = 0x0474;
inline constexpr uint32_t FN_RAW_TO_PUBKEY = 0x0475;

[[nodiscard]] constexpr bool size_accepted(uint32_t bits) {
  return bits == 512 || bits == 1024 || bits == 2048 || bits == 3072 || bits == 4096;
}
[[nodiscard]] constexpr uint32_t full_len(uint32_t bits) { return bits / 8; }
[[nodiscard]] constexpr uint32_t half_len(uint32_t bits) { return bits / 16; }

[[nodiscard]] inline bool prikey_active(const rsa_prikey_t* k) {
  return (k->state & ~RSA_PRIKEY_FLAG_MASK) == RSA_PRIKEY_STATE_ACTIVE;
}
[[nodiscard]] inline bool pubkey_active(const rsa_pubkey_t* k) {
  return (k->state & ~RSA_PUBKEY_FLAG_MASK) == RSA_PUBKEY_STATE_ACTIVE;
}
[[nodiscard]] inline bool has_all(uint32_t state, uint32_t bits) { return (state & bits) == bits; }
[[nodiscard]] inline bool prikey_has_usable_set(uint32_t state) {
  return has_all(state, RSA_SET_N_D) || has_all(state, RSA_SET_D_P_Q) || has_all(state, RSA_SET_CRT);
}
[[nodiscard]] inline bool prikey_usable(const rsa_prikey_t* k) {
  return prikey_active(k) && prikey_has_usable_set(k->state);
}
[[nodiscard]] inline bool pubkey_usable(const rsa_pubkey_t* k) {
  return pubkey_active(k) && has_all(k->state, RSA_HAS_N | RSA_HAS_E);
}

// One component of a private key: its length and buffer fields, its presence
// bit and whether it is a half-size (CRT) component.
struct PriComponent {
  uint32_t rsa_prikey_t::*len;
  uint8_t* rsa_prikey_t::*buf;
  uint32_t bit;
  bool half;
};
inline constexpr PriComponent kPriComponents[8] = {
    {&rsa_prikey_t::n_modulus_len, &rsa_prikey_t::n_modulus, RSA_HAS_N, false},
    {&rsa_prikey_t::e_exponent_len, &rsa_prikey_t::e_exponent, RSA_HAS_E, false},
    {&rsa_prikey_t::d_exponent_len, &rsa_prikey_t::d_exponent, RSA_HAS_D, false},
    {&rsa_prikey_t::p_prime_len, &rsa_prikey_t::p_prime, RSA_HAS_P, true},
    {&rsa_prikey_t::q_prime_len, &rsa_prikey_t::q_prime, RSA_HAS_Q, true},
    {&rsa_prikey_t::dp_exponent_len, &rsa_prikey_t::dp_exponent, RSA_HAS_DP, true},
    {&rsa_prikey_t::dq_exponent_len, &rsa_prikey_t::dq_exponent, RSA_HAS_DQ, true},
    {&rsa_prikey_t::crt_coefficient_len, &rsa_prikey_t::crt_coefficient, RSA_HAS_QINV, true},
};
[[nodiscard]] constexpr uint32_t component_len(const PriComponent& c, uint32_t bits) {
  return c.half ? half_len(bits) : full_len(bits);
}

struct PubComponent {
  uint32_t rsa_pubkey_t::*len;
  uint8_t* rsa_pubkey_t::*buf;
  uint32_t bit;
};
inline constexpr PubComponent kPubComponents[2] = {
    {&rsa_pubkey_t::n_modulus_len, &rsa_pubkey_t::n_modulus, RSA_HAS_N},
    {&rsa_pubkey_t::e_exponent_len, &rsa_pubkey_t::e_exponent, RSA_HAS_E},
};

// A component given to set or mapping: a length and its bytes.
struct Part {
  uint32_t len;
  const uint8_t* ptr;
};

// Copies `len` bytes right-aligned into a `cap`-byte field, zeros in front.
void copy_right_aligned(uint8_t* field, uint32_t cap, const uint8_t* src, uint32_t len);

}  // namespace quarzel::rsa
