// The software device's object blob and its MAC.
#include "swhsm/swd_blob.h"

#include "blob_mac.h"
#include "quarzel/secure.h"
#include "device/swd_internal.h"

using namespace swd;

namespace {

uint32_t blob_mac(const uint8_t* key, const uint8_t* meta, const uint8_t* data, uint32_t len, uint8_t* mac) {
  return swd_blob::mac2(key, meta, SWD_BLOB_META_LEN, data, len, mac);
}

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
  if (u32ObjContextLen > UINT32_MAX - SWD_BLOB_OVERHEAD) return SWD_ERR_ARGUMENTS;
  quarzel::SecretArray<SWD_KEY_LEN> key;
  uint32_t rc = GetTknMacKey(hSession, key.data());
  if (rc != 0) return rc;
  // Always MACed, whatever ObjMac says: every reader checks the MAC.
  ZEB_DEVICE_OBJECT_META meta;
  std::memcpy(&meta, pObjMeta, sizeof meta);
  uint8_t mac[SWD_BLOB_MAC_LEN];
  rc = blob_mac(key.data(), reinterpret_cast<const uint8_t*>(&meta), pObjContext, u32ObjContextLen, mac);
  if (rc != 0) return rc;
  if (u32ObjContextLen != 0) std::memmove(pObject + SWD_BLOB_META_LEN, pObjContext, u32ObjContextLen);
  std::memcpy(pObject, &meta, sizeof meta);
  std::memcpy(pObject + SWD_BLOB_META_LEN + u32ObjContextLen, mac, sizeof mac);
  *pu32ObjectLen = u32ObjContextLen + SWD_BLOB_OVERHEAD;
  return 0;
}

uint32_t SWD_CheckObjMAC(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen) {
  if (pObject == nullptr || u32ObjectLen < SWD_BLOB_OVERHEAD) return SWD_ERR_ARGUMENTS;
  quarzel::SecretArray<SWD_KEY_LEN> key;
  if (GetTknMacKey(hSession, key.data()) != 0) return SWD_ERR_FAILED;
  const uint32_t data_len = u32ObjectLen - SWD_BLOB_OVERHEAD;
  uint8_t mac[SWD_BLOB_MAC_LEN];
  const uint32_t rc = blob_mac(key.data(), pObject, pObject + SWD_BLOB_META_LEN, data_len, mac);
  if (rc != 0) return rc;
  const bool equal = quarzel::ct_equal(mac, pObject + SWD_BLOB_META_LEN + data_len, sizeof mac);
  return equal ? 0 : SWD_ERR_MAC_MISMATCH;
}

uint32_t SWD_GetObjMetaPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                           ZEB_DEVICE_OBJECT_META* pObjMeta) {
  if (pObject == nullptr || pObjMeta == nullptr) return SWD_ERR_ARGUMENTS;
  const uint32_t rc = SWD_CheckObjMAC(hSession, pObject, u32ObjectLen);
  if (rc != 0) return rc;
  std::memcpy(pObjMeta, pObject, SWD_BLOB_META_LEN);
  return 0;
}

uint32_t SWD_GetObjCxtPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen, uint8_t* pObjContext,
                          uint32_t* pu32ObjContextLen) {
  if (pObject == nullptr || pObjContext == nullptr || pu32ObjContextLen == nullptr) return SWD_ERR_ARGUMENTS;
  const uint32_t rc = SWD_CheckObjMAC(hSession, pObject, u32ObjectLen);
  if (rc != 0) return rc;
  const uint32_t n = u32ObjectLen - SWD_BLOB_OVERHEAD;
  if (n != 0) std::memmove(pObjContext, pObject + SWD_BLOB_META_LEN, n);
  *pu32ObjContextLen = n;
  return 0;
}

uint32_t SWD_DivideObj(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                       ZEB_DEVICE_OBJECT_META* pObjMeta, uint8_t* pObjContext, uint32_t* pu32ObjContextLen) {
  if (pObject == nullptr || pObjMeta == nullptr || pObjContext == nullptr || pu32ObjContextLen == nullptr) {
    return SWD_ERR_ARGUMENTS;
  }
  const uint32_t rc = SWD_CheckObjMAC(hSession, pObject, u32ObjectLen);
  if (rc != 0) return rc;
  std::memcpy(pObjMeta, pObject, SWD_BLOB_META_LEN);
  const uint32_t n = u32ObjectLen - SWD_BLOB_OVERHEAD;
  if (n != 0) std::memmove(pObjContext, pObject + SWD_BLOB_META_LEN, n);
  *pu32ObjContextLen = n;
  return 0;
}

uint32_t SWD_UpdateObjectMeta(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t objectLen,
                              ZEB_DEVICE_OBJECT_META* pUpdatedmeta) {
  if (pObject == nullptr || pUpdatedmeta == nullptr) return SWD_ERR_ARGUMENTS;
  if (objectLen < SWD_BLOB_OVERHEAD) return SWD_ERR_ARGUMENTS;
  // One fetch of the key for the check of the old MAC and the new one.
  quarzel::SecretArray<SWD_KEY_LEN> key;
  if (GetTknMacKey(hSession, key.data()) != 0) return SWD_ERR_FAILED;
  const uint32_t data_len = objectLen - SWD_BLOB_OVERHEAD;
  uint8_t* const data = pObject + SWD_BLOB_META_LEN;
  uint8_t* const stored = data + data_len;
  uint8_t mac[SWD_BLOB_MAC_LEN];
  uint32_t rc = blob_mac(key.data(), pObject, data, data_len, mac);
  if (rc != 0) return rc;
  if (!quarzel::ct_equal(mac, stored, sizeof mac)) return SWD_ERR_MAC_MISMATCH;
  ZEB_DEVICE_OBJECT_META meta;
  std::memcpy(&meta, pUpdatedmeta, sizeof meta);
  if ((rc = blob_mac(key.data(), reinterpret_cast<const uint8_t*>(&meta), data, data_len, mac)) != 0) return rc;
  std::memcpy(pObject, &meta, sizeof meta);
  std::memcpy(stored, mac, sizeof mac);
  return 0;
}

}  // extern "C"
