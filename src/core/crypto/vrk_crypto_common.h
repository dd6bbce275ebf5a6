// What the core's AES, EC and RSA calls share: the token-user prologue, key
// objects turned into key contexts through the device, and the headers of
// the objects that key generation returns.
#pragma once

#include "crypto/ca_internal.h"
#include "quarzel/secure.h"
#include "zeb/object_layers.h"

namespace zeb::core {

// The held session, which must be logged in as token user: VRK_OK,
// VRK_ERR_SESSION_HANDLE or VRK_ERR_USER_NOT_LOGGED_IN.
[[nodiscard]] int token_user(const SessionRef& held, VRK_SESSION_CTX** out) noexcept;

// A step of a running operation: the session must be the token user's; it
// is held for the step.
template <class Fn>
[[nodiscard]] int with_user(VRK_HANDLE hSession, Fn fn) {
  VRK_SESSION_CTX* s = nullptr;
  const SessionRef held(hSession);
  if (int rv = token_user(held, &s); rv != VRK_OK) return rv;
  return fn(s->CaCtx);
}

// The key algorithm of a generated key (SwObj_GetObjKeyAlgo of `input`),
// if it lies in [first, last]; else VRK_KEY_NONE. The mapping takes every
// kind of input, so that a cipher type is not taken for a curve id.
[[nodiscard]] inline uint8_t key_algo_in(uint32_t input, uint8_t first, uint8_t last) noexcept {
  uint8_t algo = VRK_KEY_NONE;
  if (SwObj_GetObjKeyAlgo(input, &algo) != VRK_OK || algo < first || algo > last) return VRK_KEY_NONE;
  return algo;
}

// Key families by object kind and key algorithm.
enum class KeyKind { kAesSecret, kEcPrivate, kEcPublic, kRsaPrivate, kRsaPublic };

// A key object's context, copied out (after the device checked the object's
// integrity tag) into a buffer that is wiped and freed with this holder.
class KeyContext {
 public:
  // VRK_OK; the device's code (also for a malformed object);
  // VRK_ERR_HOST_MEMORY when out of memory; VRK_ERR_KEY_TYPE_INCONSISTENT
  // when the object is not a key of `kind`.
  [[nodiscard]] int load(const VRK_SESSION_CTX& s, const uint8_t* object, uint32_t object_len, KeyKind kind) noexcept;
  uint8_t* data() noexcept { return buf_.data(); }
  [[nodiscard]] uint32_t size() const noexcept { return len_; }

 private:
  quarzel::SecretBuffer buf_;
  uint32_t len_ = 0;
};

// The refused-object result: a device failure becomes `device_failure`
// (the calls differ), the key-kind and memory results stay.
[[nodiscard]] inline int object_failure(int rv, int device_failure) {
  return rv == kKeyTypeInconsistent || rv == static_cast<int>(VRK_ERR_HOST_MEMORY) ? rv : device_failure;
}

// Composes a generated key's object into the caller's buffer (capacity in,
// length out; VRK_ERR_BUFFER_TOO_SMALL with the needed length when short).
struct ObjectSpec {
  uint8_t type;  // VRK_OBJ_*
  uint8_t algo;  // VRK_KEY_*
  uint8_t mac;   // VRK_MAC_*
  uint8_t enc;   // VRK_ENC_*
};
int build_object(const VRK_SESSION_CTX& s, const ObjectSpec& spec, const uint8_t* id, const uint8_t* label,
                 uint8_t* context, uint32_t context_len, uint8_t* object, uint32_t* object_len) noexcept;

}  // namespace zeb::core
