#include "crypto/key_object.h"

#include <zeb/vrk_object.h>

#include <cstring>

namespace zebp11::crypto {

namespace {

// Codes that say why the session may not read, passed on unchanged; any
// other failure to find the object means the handle names none.
CK_RV lookup_failure(int rv) {
  const auto code = static_cast<CK_RV>(static_cast<uint32_t>(rv));
  return code == CKR_USER_NOT_LOGGED_IN || code == CKR_SESSION_HANDLE_INVALID ? code : CKR_KEY_HANDLE_INVALID;
}

}  // namespace

CK_RV KeyObject::load(VRK_HANDLE vrk, CK_OBJECT_HANDLE hKey) {
  if (hKey == CK_INVALID_HANDLE || hKey > UINT32_MAX) return CKR_KEY_HANDLE_INVALID;
  const auto h = static_cast<VRK_UINT32>(hKey);
  VRK_UCHAR span = 0;
  if (int rv = VRK_GetObjectLifeSpan(vrk, h, &span); rv != 0) return lookup_failure(rv);
  const bool session = span == VRK_OBJ_SESSION;
  VRK_UINT32 len = 0;
  int rv = session ? VRK_GetSessionObjectSize(vrk, h, &len) : VRK_GetObjectSize(vrk, h, &len);
  if (rv != 0) return lookup_failure(rv);
  // A token key comes back re-wrapped under the session key, which may
  // change its length: one retry at the length the core names.
  for (int attempt = 0; attempt < 2; ++attempt) {
    bytes_.assign(len, 0);
    VRK_UINT32 got = len;
    rv = session ? VRK_GetSessionObject(vrk, h, bytes_.data(), &got) : VRK_GetObject(vrk, h, bytes_.data(), &got);
    if (rv == static_cast<int>(CKR_BUFFER_TOO_SMALL) && got > len) {
      len = got;
      continue;
    }
    if (rv != 0) return static_cast<CK_RV>(static_cast<uint32_t>(rv));
    bytes_.resize(got);
    break;
  }
  if (rv != 0) return CKR_GENERAL_ERROR;
  if (bytes_.size() < VRK_OBJ_OVERHEAD) return CKR_KEY_HANDLE_INVALID;
  // The header leads the object. Its integrity tag is checked by the core
  // call that takes the key out, so it is not checked twice here.
  std::memcpy(&meta_, bytes_.data(), sizeof meta_);
  return CKR_OK;
}

}  // namespace zebp11::crypto
