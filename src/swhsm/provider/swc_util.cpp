// Key-blob unwrapping and wrapping for the provider's operations.
#include "swc_work.h"
#include "swc_internal.h"

namespace swc {

namespace {
constexpr uint8_t kDirEncrypt = 2;
constexpr uint8_t kDirDecrypt = 1;

uint32_t transform(const SessionView& s, uint8_t dir, const uint8_t* in, uint32_t len, uint8_t* out) noexcept {
  if (!s) return kSessionHandle;
  if (len == 0) return 0;
  if (in == nullptr || out == nullptr) return kArguments;
  uint8_t iv[16];
  return keyblob_crypt(s.mk, kMkLen, dir, iv, const_cast<uint8_t*>(in), len, out);
}
}  // namespace

uint32_t unwrap(const SessionView& s, const uint8_t* blob, uint32_t len, uint8_t* plain) noexcept {
  const uint32_t rc = transform(s, kDirDecrypt, blob, len, plain);
  if (rc != 0 && plain != nullptr) quarzel::secure_wipe(plain, len);
  return rc;
}

uint32_t wrap(const SessionView& s, const uint8_t* plain, uint32_t len, uint8_t* blob) noexcept {
  return transform(s, kDirEncrypt, plain, len, blob);
}

bool make_secret(quarzel::SecretBytes& buf, size_t n) noexcept {
  try {
    buf.assign(n, 0);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace swc
