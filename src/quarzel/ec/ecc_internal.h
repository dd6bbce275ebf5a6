// Shared checks and helpers of the EC key, ECDSA and ECDH routines.
#pragma once

#include <cstdint>

#include "ec/curves.h"
#include "ec/engine.h"
#include "quarzel/ecc.h"

namespace quarzel::ec {

inline constexpr quarzel_ret_t ecc_err(uint32_t func, uint8_t reason) {
  return quarzel_err(QZ_MOD_ECC, func, reason);
}
inline constexpr quarzel_ret_t ecc_err_core(uint32_t func, core_ret_t core) {
  return quarzel_err_core(QZ_MOD_ECC, func, core);
}

// Function numbers of the key-pair, ECDSA and ECDH routines.
enum : uint32_t {
  F_GEN_D = 0x13,
  F_GEN_KEYPAIR = 0x15,
  F_PUK_FROM_PRK = 0x17,
  F_PUK_CUSTOM_BASE = 0x18,
  F_CHECK_ON_CURVE = 0x19,
  F_ECDH = 0x1B,
  F_UNIFIED_U = 0x1D,
  F_UNIFIED_V = 0x1E,
  F_UNIFIED_FULL = 0x1F,
  F_ECDSA_SIGN = 0x21,
  F_ECDSA_VERIFY = 0x22,
  F_ECDSA_GEN_K = 0x23,
};

// Key conditions. Active: the state word without its flag bits is the base
// word (values allocated or mapped).
inline bool prikey_active(const ecc_prikey_t* k) {
  return k != nullptr && (k->state & ~0x7u) == ECC_PRIKEY_ACTIVE;
}
inline bool pubkey_active(const ecc_pubkey_t* k) {
  return k != nullptr && (k->state & ~0xFu) == ECC_PUBKEY_ACTIVE;
}
// Active, with the private value present.
inline bool prikey_usable(const ecc_prikey_t* k) {
  return prikey_active(k) && (k->state & ECC_PRIKEY_D_SET) != 0 && k->d_value != nullptr;
}
// Active, with both coordinates present.
inline bool pubkey_usable(const ecc_pubkey_t* k) {
  constexpr uint32_t both = ECC_PUBKEY_X_SET | ECC_PUBKEY_Y_SET;
  return pubkey_active(k) && (k->state & both) == both && k->q_point_x != nullptr &&
         k->q_point_y != nullptr;
}

// Marks a key invalid. References to caller memory are dropped first, so that
// a later value_free cannot release memory the library does not own.
inline void invalidate(ecc_prikey_t* k) {
  if (prikey_active(k) && (k->state & ECC_PRIKEY_MAPPED) != 0) k->d_value = nullptr;
  k->state = ECC_PRIKEY_INVALID;
}
inline void invalidate(ecc_pubkey_t* k) {
  if (pubkey_active(k) && (k->state & ECC_PUBKEY_MAPPED) != 0) k->q_point_x = k->q_point_y = nullptr;
  k->state = ECC_PUBKEY_INVALID;
}

// A uniformly random value in 0..n-1 by rejection sampling (at most 128
// draws): the candidate is cut to the curve's bit length first. `func` names
// the calling routine in error words. Writes L bytes to out.
quarzel_ret_t draw_below_n(const ecpi_group_t* grp, uint32_t func, uint8_t* out);

// e = bits2int(digest) with q_bitlen = 8L: the first L bytes of a long digest,
// or a short one right-aligned behind zero bytes.
void digest_to_e(const uint8_t* digest, uint32_t digest_len, uint32_t L, uint8_t* e);

}  // namespace quarzel::ec
