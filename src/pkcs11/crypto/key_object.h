// Key objects as the crypto workers read them: the whole object (header,
// context, integrity tag) from the token's store or the session's cache, in
// a buffer wiped on release, with the facts of its key the workers need.
#pragma once

#include <pkcs11/pkcs11.h>
#include <quarzel/secure.h>
#include <zeb/vrk_object.h>

#include <cstdint>

namespace zebp11::crypto {

// What the module knows of an EC key by its key algorithm: the core's value
// length L (r, s, coordinates and secrets travel as L bytes each), the length
// of the curve's order (the signature's r and s) and of its field (the ECDH
// secret). P-521 is the one curve whose core length exceeds both.
struct EcCurve {
  uint8_t algo;        // VRK_KEY_EC_*
  uint8_t curve_id;    // the core's curve id (first byte of a key blob)
  uint32_t core_len;
  uint32_t order_len;
  uint32_t field_len;
};

inline constexpr EcCurve kEcCurves[] = {
    {VRK_KEY_EC_NIST256, 18, 32, 32, 32},   {VRK_KEY_EC_NIST384, 19, 48, 48, 48},
    {VRK_KEY_EC_NIST521, 20, 68, 66, 66},   {VRK_KEY_EC_SECP256K1, 34, 32, 32, 32},
    {VRK_KEY_EC_BP256R1, 67, 32, 32, 32},   {VRK_KEY_EC_BP384R1, 69, 48, 48, 48},
    {VRK_KEY_EC_BP512R1, 70, 64, 64, 64},
};

constexpr const EcCurve* find_ec_curve(uint8_t algo) {
  for (const EcCurve& c : kEcCurves) {
    if (c.algo == algo) return &c;
  }
  return nullptr;
}

// Modulus bytes of an RSA key algorithm; 0 for any other.
constexpr uint32_t rsa_modulus_bytes(uint8_t algo) {
  switch (algo) {
    case VRK_KEY_RSA1024:
      return 128;
    case VRK_KEY_RSA2048:
      return 256;
    case VRK_KEY_RSA3072:
      return 384;
    case VRK_KEY_RSA4096:
      return 512;
    default:
      return 0;
  }
}

constexpr bool is_aes_algo(uint8_t algo) {
  return algo == VRK_KEY_AES128 || algo == VRK_KEY_AES192 || algo == VRK_KEY_AES256;
}

class KeyObject {
 public:
  // Reads the token or session object that `hKey` names, in the core
  // session `vrk`. CKR_KEY_HANDLE_INVALID for a handle that names no object
  // the session can see; the core's code for a refused read (0x101 without
  // the user's login).
  [[nodiscard]] CK_RV load(VRK_HANDLE vrk, CK_OBJECT_HANDLE hKey);

  // CKR_KEY_TYPE_INCONSISTENT unless the object is of class `type`
  // (VRK_OBJ_*) and `algo_ok` accepts its key algorithm.
  template <class Pred>
  [[nodiscard]] CK_RV expect(uint8_t type, Pred algo_ok) const {
    return meta_.ObjType == type && algo_ok(meta_.ObjKeyAlgo) ? CKR_OK : CKR_KEY_TYPE_INCONSISTENT;
  }

  // CKR_KEY_FUNCTION_NOT_PERMITTED unless the key's usage word has `bit`
  // (the object layer's P11_USAGE_*, set from CKA_SIGN, CKA_DECRYPT...).
  [[nodiscard]] CK_RV permits(uint64_t bit) const {
    return (meta_.u64ObjKeyUsage & bit) != 0 ? CKR_OK : CKR_KEY_FUNCTION_NOT_PERMITTED;
  }

  const VRK_OBJECT_META& meta() const noexcept { return meta_; }
  uint8_t* data() noexcept { return bytes_.data(); }
  uint32_t size() const noexcept { return static_cast<uint32_t>(bytes_.size()); }

 private:
  quarzel::SecretBytes bytes_;
  VRK_OBJECT_META meta_{};
};

}  // namespace zebp11::crypto
