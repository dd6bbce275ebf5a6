// The software device's object blob (keyblob/object_blob.h) and its MAC.
#include "swhsm/swd_blob.h"

#include "blob_mac.h"
#include "keyblob/object_blob.h"
#include "quarzel/secure.h"
#include "device/swd_internal.h"

using namespace swd;

namespace {

static_assert(SWD_BLOB_META_LEN == keyblob::kObjectMetaLen && SWD_BLOB_MAC_LEN == keyblob::kObjectMacLen);
static_assert(sizeof(ZEB_DEVICE_OBJECT_META) == SWD_BLOB_META_LEN);

// HMAC-SHA-256 under the token's MAC key, fetched at the first MAC (after the
// framing's length check). A key that cannot be had gives `key_failure`, or
// the fetch's own code when that is 0.
class TokenMac final : public keyblob::ObjectMac {
 public:
  TokenMac(ZEB_DEVICE_HANDLE h, uint32_t key_failure) : h_(h), key_failure_(key_failure) {}
  uint32_t compute(const uint8_t* meta, const uint8_t* context, uint32_t n, uint8_t* mac) override {
    if (!have_key_) {
      if (const uint32_t rc = GetTknMacKey(h_, key_.data()); rc != 0) return key_failure_ != 0 ? key_failure_ : rc;
      have_key_ = true;
    }
    return swd_blob::mac2(key_.data(), meta, SWD_BLOB_META_LEN, context, n, mac);
  }

 private:
  ZEB_DEVICE_HANDLE h_;
  uint32_t key_failure_;
  bool have_key_ = false;
  quarzel::SecretArray<SWD_KEY_LEN> key_;
};

constexpr keyblob::ObjectCodes kCodes{SWD_ERR_ARGUMENTS, SWD_ERR_MAC_MISMATCH};

uint8_t* bytes(ZEB_DEVICE_OBJECT_META* m) { return reinterpret_cast<uint8_t*>(m); }

}  // namespace

extern "C" {

uint32_t GetTknMacKey(ZEB_DEVICE_HANDLE hSession, uint8_t* MacKey) {
  const SessionPin pin(hSession);
  if (!pin) return SWD_ERR_SESSION_HANDLE;
  if (MacKey == nullptr) return SWD_ERR_ARGUMENTS;
  // Only a session whose token user is logged in, and nothing else, may
  // use the token's MAC key.
  if (pin.info().SessStatus != ZEB_DEVICE_SESS_TOKENUSER_LOGIN) return SWD_ERR_FAILED;
  // The session's copy while the file is unchanged; else the file, read under
  // a reader's lock, which waits out a writer.
  return session_token_keys(pin, MacKey, nullptr);
}

uint32_t CalulateMac(uint8_t* MacKey, uint8_t* pData, uint32_t u32DataLen, uint8_t* MacData) {
  if (pData == nullptr) return SWD_ERR_MAC_NULL;
  if (MacKey == nullptr || MacData == nullptr) return SWD_ERR_ARGUMENTS;
  return swd_blob::mac2(MacKey, nullptr, 0, pData, u32DataLen, MacData);
}

uint32_t SWD_SetObject(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pObjMeta, uint8_t* pObjContext,
                       uint32_t u32ObjContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen) {
  if (pObjMeta == nullptr || pObject == nullptr || pu32ObjectLen == nullptr ||
      (pObjContext == nullptr && u32ObjContextLen != 0)) {
    return SWD_ERR_ARGUMENTS;
  }
  // Always MACed, whatever ObjMac says: every reader checks the MAC.
  TokenMac mac(hSession, 0);
  return keyblob::object_build(mac, kCodes, bytes(pObjMeta), pObjContext, u32ObjContextLen, pObject, pu32ObjectLen);
}

uint32_t SWD_CheckObjMAC(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen) {
  if (pObject == nullptr) return SWD_ERR_ARGUMENTS;
  TokenMac mac(hSession, SWD_ERR_FAILED);
  return keyblob::object_check(mac, kCodes, pObject, u32ObjectLen);
}

uint32_t SWD_GetObjMetaPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                           ZEB_DEVICE_OBJECT_META* pObjMeta) {
  if (pObject == nullptr || pObjMeta == nullptr) return SWD_ERR_ARGUMENTS;
  TokenMac mac(hSession, SWD_ERR_FAILED);
  return keyblob::object_divide(mac, kCodes, pObject, u32ObjectLen, bytes(pObjMeta), nullptr, nullptr);
}

uint32_t SWD_GetObjCxtPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen, uint8_t* pObjContext,
                          uint32_t* pu32ObjContextLen) {
  if (pObject == nullptr || pObjContext == nullptr || pu32ObjContextLen == nullptr) return SWD_ERR_ARGUMENTS;
  TokenMac mac(hSession, SWD_ERR_FAILED);
  return keyblob::object_divide(mac, kCodes, pObject, u32ObjectLen, nullptr, pObjContext, pu32ObjContextLen);
}

uint32_t SWD_DivideObj(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                       ZEB_DEVICE_OBJECT_META* pObjMeta, uint8_t* pObjContext, uint32_t* pu32ObjContextLen) {
  if (pObject == nullptr || pObjMeta == nullptr || pObjContext == nullptr || pu32ObjContextLen == nullptr) {
    return SWD_ERR_ARGUMENTS;
  }
  TokenMac mac(hSession, SWD_ERR_FAILED);
  return keyblob::object_divide(mac, kCodes, pObject, u32ObjectLen, bytes(pObjMeta), pObjContext, pu32ObjContextLen);
}

// One fetch of the key for the check of the old MAC and the new one.
uint32_t SWD_UpdateObjectMeta(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t objectLen,
                              ZEB_DEVICE_OBJECT_META* pUpdatedmeta) {
  if (pObject == nullptr || pUpdatedmeta == nullptr) return SWD_ERR_ARGUMENTS;
  TokenMac mac(hSession, SWD_ERR_FAILED);
  return keyblob::object_update_meta(mac, kCodes, pObject, objectLen, bytes(pUpdatedmeta));
}

}  // extern "C"
