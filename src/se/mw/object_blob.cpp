// Device middleware: object blobs (keyblob/object_blob.h), the form the core
// keeps every object in while a secure element serves it: the 96-byte header,
// the context, and an HMAC-SHA-256 over both under the token's object-MAC
// key. That key never leaves the device: the MAC is computed by the device's
// HMAC commands. Every read checks the MAC, as on the software HSM.
#include <cstdio>
#include <cstring>

#include "keyblob/object_blob.h"
#include "mw/mw_call.h"
#include "se/middleware.h"

using namespace se;

namespace {

namespace cry = se::cmd::cry;

constexpr uint32_t kMeta = keyblob::kObjectMetaLen;  // 96
constexpr uint32_t kMac = keyblob::kObjectMacLen;
// Data bytes of one HMAC update: the handle and the array count take 6 of a
// request's SE_REQ_MAX bytes.
constexpr uint32_t kUpdateChunk = SE_REQ_MAX - 6;
static_assert(sizeof(ZEB_DEVICE_OBJECT_META) == kMeta);

using zeb::rc::kMacMismatch;

uint32_t hmac_update(const SeSite& where, ZEB_CRYPTO_HANDLE h, const uint8_t* p, uint32_t n) {
  while (n > 0) {
    const uint32_t k = n < kUpdateChunk ? n : kUpdateChunk;
    if (uint32_t rv = mw::call(where, cry::HmacUpdate, {{&h}, {p, k}}, {}, mw::MW_ERR_PARAMETER); rv != 0) return rv;
    p += k;
    n -= k;
  }
  return 0;
}

// HMAC-SHA-256 under the token's object-MAC key (an empty key array selects
// it) over meta || context, by the device.
uint32_t object_mac(const SeSite& where, ZEB_CRYPTO_HANDLE h, const uint8_t* meta, const uint8_t* context, uint32_t n,
                    uint8_t mac[kMac]) {
  uint8_t hash = cmd::SE_HASH_SHA2_256;
  uint32_t rv = mw::call(where, cry::HmacInit, {{&h}, {&hash}, {nullptr, 0}}, {}, mw::MW_ERR_PARAMETER);
  if (rv == 0) rv = hmac_update(where, h, meta, kMeta);
  if (rv == 0) rv = hmac_update(where, h, context, n);
  uint32_t got = 0;
  if (rv == 0) rv = mw::call(where, cry::HmacFinal, {{&h}}, {{mac, kMac, &got}}, mw::MW_ERR_PARAMETER);
  if (rv == 0 && got != kMac) rv = SE_ERR_SERIALIZER;
  return rv;
}

// The device's MAC for the framing; any failure of it is `failure`.
class DeviceMac final : public keyblob::ObjectMac {
 public:
  DeviceMac(const SeSite& where, ZEB_CRYPTO_HANDLE h, mw::device_mw_error failure)
      : where_(where), h_(h), failure_(failure) {}
  uint32_t compute(const uint8_t* meta, const uint8_t* context, uint32_t n, uint8_t* mac) override {
    return object_mac(where_, h_, meta, context, n, mac) == 0 ? 0 : failure_;
  }

 private:
  SeSite where_;
  ZEB_CRYPTO_HANDLE h_;
  uint32_t failure_;
};

constexpr keyblob::ObjectCodes kCodes{mw::MW_ERR_PARAMETER, kMacMismatch};
// A header update answers every failure but a mismatch with its own code.
constexpr keyblob::ObjectCodes kUpdateCodes{mw::MW_ERR_OBJ_OPERATION, kMacMismatch};

uint8_t* bytes(ZEB_DEVICE_OBJECT_META* m) { return reinterpret_cast<uint8_t*>(m); }

}  // namespace

extern "C" {

uint32_t FWD_SetObject_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext,
                          uint32_t u32ContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen) {
  if (pMeta == nullptr || pObject == nullptr || pu32ObjectLen == nullptr ||
      (pContext == nullptr && u32ContextLen != 0)) {
    return mw::MW_ERR_PARAMETER;
  }
  DeviceMac mac(SE_HERE, hSession, mw::MW_ERR_QUARZEL);
  const uint32_t rv = keyblob::object_build(mac, kCodes, bytes(pMeta), pContext, u32ContextLen, pObject, pu32ObjectLen);
  if (rv == mw::MW_ERR_QUARZEL) std::fprintf(stderr, "[%s] hmac_onestep Fail\n", __func__);
  return rv;
}

uint32_t FWD_GetObjMetaPtr_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                              ZEB_DEVICE_OBJECT_META* pMeta) {
  if (pObject == nullptr || pMeta == nullptr) return mw::MW_ERR_PARAMETER;
  DeviceMac mac(SE_HERE, hSession, mw::MW_ERR_QUARZEL);
  return keyblob::object_divide(mac, kCodes, pObject, u32ObjectLen, bytes(pMeta), nullptr, nullptr);
}

// An empty context needs no buffer.
uint32_t FWD_GetObjCxtPtr_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                             uint8_t* pContext, uint32_t* pu32ContextLen) {
  if (pObject == nullptr || pu32ContextLen == nullptr || u32ObjectLen < keyblob::kObjectOverhead) {
    return mw::MW_ERR_PARAMETER;
  }
  if (pContext == nullptr && u32ObjectLen != keyblob::kObjectOverhead) return mw::MW_ERR_PARAMETER;
  DeviceMac mac(SE_HERE, hSession, mw::MW_ERR_QUARZEL);
  return keyblob::object_divide(mac, kCodes, pObject, u32ObjectLen, nullptr, pContext, pu32ContextLen);
}

uint32_t FWD_DivideObj_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                          ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext, uint32_t* pu32ContextLen) {
  if (pObject == nullptr || pMeta == nullptr || pu32ContextLen == nullptr ||
      u32ObjectLen < keyblob::kObjectOverhead) {
    return mw::MW_ERR_PARAMETER;
  }
  if (pContext == nullptr && u32ObjectLen != keyblob::kObjectOverhead) return mw::MW_ERR_PARAMETER;
  DeviceMac mac(SE_HERE, hSession, mw::MW_ERR_QUARZEL);
  return keyblob::object_divide(mac, kCodes, pObject, u32ObjectLen, bytes(pMeta), pContext, pu32ContextLen);
}

uint32_t FWD_CheckObjMAC_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen) {
  if (pObject == nullptr) return mw::MW_ERR_PARAMETER;
  DeviceMac mac(SE_HERE, hSession, mw::MW_ERR_QUARZEL);
  return keyblob::object_check(mac, kCodes, pObject, u32ObjectLen);
}

uint32_t FWD_UpdateObjectMeta_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                 ZEB_DEVICE_OBJECT_META* pMeta) {
  if (pObject == nullptr || pMeta == nullptr) return mw::MW_ERR_OBJ_OPERATION;
  DeviceMac mac(SE_HERE, hSession, mw::MW_ERR_OBJ_OPERATION);
  return keyblob::object_update_meta(mac, kUpdateCodes, pObject, u32ObjectLen, bytes(pMeta));
}

}  // extern "C"
