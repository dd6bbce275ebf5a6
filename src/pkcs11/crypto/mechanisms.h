// The mechanisms the cryptographic entry points serve: one constant table
// that both C_GetMechanismList/C_GetMechanismInfo report and the entry points
// dispatch on, so the two never disagree.
#pragma once

#include <pkcs11/pkcs11.h>

#include <array>
#include <cstdint>

// Which worker family serves a mechanism.
enum class P11_MechFamily : uint8_t {
  Digest,
  AesCipher,
  RsaCipher,
  EcdsaSign,
  EcdhDerive,
  AesKeyGen,
  RsaKeyGen,
  EcKeyGen,
};

struct P11_MECHANISM {
  CK_MECHANISM_TYPE type;
  CK_ULONG ulMinKeySize;  // bits or bytes, as PKCS#11 gives for the mechanism
  CK_ULONG ulMaxKeySize;
  CK_FLAGS flags;  // CKF_ENCRYPT, CKF_SIGN, ... and CKF_EC_* for EC
  P11_MechFamily family;
};

// Filled as the cryptographic entry points arrive.
inline constexpr std::array<P11_MECHANISM, 0> p11_mechanisms{};

// The table's record of a mechanism; null when it is not served.
constexpr const P11_MECHANISM* P11_FindMechanism(CK_MECHANISM_TYPE type) noexcept {
  for (const auto& m : p11_mechanisms) {
    if (m.type == type) return &m;
  }
  return nullptr;
}
