// Key objects as the crypto workers read them: the whole object (header,
// context, integrity tag) from the token's store or the session's cache, in
// a buffer wiped on release, with the facts of its key the workers need.
#pragma once

#include <pkcs11/pkcs11.h>
#include <zeb/vrk_object.h>
#include <zeb/vrk_sigform.h>

#include <cstdint>

namespace zebp11::crypto {

// True for a key algorithm with EC arithmetic; its value forms come from
// VRK_GetECForm.
inline bool is_ec_algo(uint8_t algo) {
  VRK_EC_FORM form{};
  return VRK_GetECForm(algo, &form) == 0;
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
  zeb::SecretBytes bytes_;
  VRK_OBJECT_META meta_{};
};

}  // namespace zebp11::crypto
