// The token-user prologue, key objects to key contexts, and generated keys to
// objects.
#include "crypto/vrk_crypto_common.h"

#include <cstring>

namespace zeb::core {

namespace {

constexpr uint32_t kObjectOverhead = 128;  // 96-byte header and 32-byte tag

bool algo_in(uint8_t algo, uint8_t lo, uint8_t hi) { return algo >= lo && algo <= hi; }

bool matches(const ZEB_DEVICE_OBJECT_META& m, KeyKind kind) {
  switch (kind) {
    case KeyKind::kAesSecret:
      return m.ObjType == VRK_OBJ_SECRETKEY && algo_in(m.ObjKeyAlgo, VRK_KEY_AES128, VRK_KEY_AES256);
    case KeyKind::kEcPrivate:
      return m.ObjType == VRK_OBJ_PRIVATEKEY && algo_in(m.ObjKeyAlgo, VRK_KEY_EC_NIST256, VRK_KEY_EC_BP512R1);
    case KeyKind::kEcPublic:
      return m.ObjType == VRK_OBJ_PUBLICKEY && algo_in(m.ObjKeyAlgo, VRK_KEY_EC_NIST256, VRK_KEY_EC_BP512R1);
    case KeyKind::kRsaPrivate:
      return m.ObjType == VRK_OBJ_PRIVATEKEY && algo_in(m.ObjKeyAlgo, VRK_KEY_RSA1024, VRK_KEY_RSA4096);
    case KeyKind::kRsaPublic:
      return m.ObjType == VRK_OBJ_PUBLICKEY && algo_in(m.ObjKeyAlgo, VRK_KEY_RSA1024, VRK_KEY_RSA4096);
  }
  return false;
}

// A text field of the header: up to its first zero byte, at most its width.
void put_text(uint8_t* field, size_t width, const uint8_t* text) {
  if (text == nullptr) return;
  size_t n = 0;
  while (n < width && text[n] != 0) ++n;
  std::memcpy(field, text, n);
}

}  // namespace

int token_user(const SessionRef& held, VRK_SESSION_CTX** out) noexcept {
  VRK_SESSION_CTX* s = held.get();
  if (s == nullptr) return VRK_ERR_SESSION_HANDLE;
  if (s->SessStatus != VRK_SESS_TOKENUSER_LOGIN) return VRK_ERR_USER_NOT_LOGGED_IN;
  *out = s;
  return VRK_OK;
}

int KeyContext::load(const VRK_SESSION_CTX& s, const uint8_t* object, uint32_t object_len, KeyKind kind) noexcept {
  if (object == nullptr || object_len < kObjectOverhead) return VRK_ERR_ARGUMENTS;
  buf_ = quarzel::SecretBuffer(object_len);
  if (!buf_.ok()) return VRK_ERR_HOST_MEMORY;
  ZEB_DEVICE_OBJECT_META meta{};
  uint32_t len = object_len;
  uint32_t rv = DA_DivideObj(s.hSe, const_cast<uint8_t*>(object), object_len, &meta, buf_.data(), &len);
  if (rv != VRK_OK) return static_cast<int>(rv);
  if (len > object_len) return VRK_ERR_FAILED;
  if (!matches(meta, kind)) return kKeyTypeInconsistent;
  len_ = len;
  return VRK_OK;
}

int build_object(const VRK_SESSION_CTX& s, const ObjectSpec& spec, const uint8_t* id, const uint8_t* label,
                 uint8_t* context, uint32_t context_len, uint8_t* object, uint32_t* object_len) noexcept {
  if (object == nullptr || object_len == nullptr) return VRK_ERR_ARGUMENTS;
  // The device writes header, context and tag without a capacity.
  if (!fits(object_len, context_len + kObjectOverhead)) return VRK_ERR_BUFFER_TOO_SMALL;
  ZEB_DEVICE_OBJECT_META meta{};
  meta.Version[0] = 1;
  meta.ObjMac = spec.mac;
  meta.ObjEnc = spec.enc;
  std::memcpy(meta.TknId, s.TknId, sizeof meta.TknId);
  put_text(meta.ObjId, sizeof meta.ObjId, id);
  put_text(meta.ObjLabel, sizeof meta.ObjLabel, label);
  meta.ObjType = spec.type;
  meta.ObjKeyAlgo = spec.algo;
  meta.u32ObjExtIndex = 0xFFFFFFFFu;
  meta.u64ObjKeyUsage = ~uint64_t{0};
  meta.u32DataLen = context_len;
  return static_cast<int>(DA_SetObject(s.hSe, &meta, context, context_len, object, object_len));
}

}  // namespace zeb::core
