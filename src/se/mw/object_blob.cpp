// Device middleware: object blobs, the form the core keeps every object in
// while a secure element serves it: the 96-byte header, the context, and an
// HMAC-SHA-256 over both under the token's object-MAC key. That key never
// leaves the device: the MAC is computed by the device's HMAC commands.
#include <cstdio>
#include <cstring>

#include "mw/mw_call.h"
#include "quarzel/port.h"
#include "se/middleware.h"

using namespace se;

namespace {

namespace cry = se::cmd::cry;

constexpr uint32_t kMeta = sizeof(ZEB_DEVICE_OBJECT_META);  // 96
constexpr uint32_t kMac = 32;
constexpr uint32_t kOverhead = kMeta + kMac;                // 128
// Data bytes of one HMAC update: the handle and the array count take 6 of a
// request's SE_REQ_MAX bytes.
constexpr uint32_t kUpdateChunk = SE_REQ_MAX - 6;
static_assert(kMeta == 96);

// A blob's MAC result: the device's own code for a failed command, kept to
// the middleware's code by the callers.
inline constexpr uint32_t kMacMismatch = 0x560;

uint32_t hmac_update(const SeSite& where, uint32_t h, const uint8_t* p, uint32_t n) {
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
uint32_t object_mac(const SeSite& where, uint32_t h, const uint8_t* meta, const uint8_t* context, uint32_t n,
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

}  // namespace

extern "C" {

uint32_t FWD_SetObject_mw(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext,
                          uint32_t u32ContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen) {
  if (pMeta == nullptr || pObject == nullptr || pu32ObjectLen == nullptr ||
      (pContext == nullptr && u32ContextLen != 0) || u32ContextLen > UINT32_MAX - kOverhead) {
    return mw::MW_ERR_PARAMETER;
  }
  uint8_t meta[kMeta];
  std::memcpy(meta, pMeta, kMeta);
  uint8_t mac[kMac];
  if (object_mac(SE_HERE, hSession, meta, pContext, u32ContextLen, mac) != 0) {
    std::printf("[%s] hmac_onestep Fail\n", __func__);
    return mw::MW_ERR_QUARZEL;
  }
  // The context may already lie where it goes (a rebuild in place).
  if (u32ContextLen != 0) std::memmove(pObject + kMeta, pContext, u32ContextLen);
  std::memcpy(pObject, meta, kMeta);
  std::memcpy(pObject + kMeta + u32ContextLen, mac, kMac);
  *pu32ObjectLen = u32ContextLen + kOverhead;
  return 0;
}

uint32_t FWD_GetObjMetaPtr_mw(ZEB_DEVICE_HANDLE /*hSession*/, uint8_t* pObject, uint32_t u32ObjectLen,
                              ZEB_DEVICE_OBJECT_META* pMeta) {
  if (pObject == nullptr || pMeta == nullptr || u32ObjectLen < kOverhead) return mw::MW_ERR_PARAMETER;
  std::memcpy(pMeta, pObject, kMeta);
  return 0;
}

// A blob shorter than its header and MAC has no context length: refused
// before anything is copied.
uint32_t FWD_GetObjCxtPtr_mw(ZEB_DEVICE_HANDLE /*hSession*/, uint8_t* pObject, uint32_t u32ObjectLen,
                             uint8_t* pContext, uint32_t* pu32ContextLen) {
  if (pObject == nullptr || pu32ContextLen == nullptr || u32ObjectLen < kOverhead) return mw::MW_ERR_PARAMETER;
  const uint32_t n = u32ObjectLen - kOverhead;
  if (n != 0) {
    if (pContext == nullptr) return mw::MW_ERR_PARAMETER;
    std::memmove(pContext, pObject + kMeta, n);
  }
  *pu32ContextLen = n;
  return 0;
}

uint32_t FWD_DivideObj_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                          ZEB_DEVICE_OBJECT_META* pMeta, uint8_t* pContext, uint32_t* pu32ContextLen) {
  if (pMeta == nullptr) return mw::MW_ERR_PARAMETER;
  ZEB_DEVICE_OBJECT_META meta;
  if (uint32_t rv = FWD_GetObjMetaPtr_mw(hSession, pObject, u32ObjectLen, &meta); rv != 0) return rv;
  if (uint32_t rv = FWD_GetObjCxtPtr_mw(hSession, pObject, u32ObjectLen, pContext, pu32ContextLen); rv != 0) return rv;
  std::memcpy(pMeta, &meta, kMeta);
  return 0;
}

// The MAC of a blob read back, compared in constant time.
uint32_t FWD_CheckObjMAC_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen) {
  if (pObject == nullptr || u32ObjectLen < kOverhead) return mw::MW_ERR_PARAMETER;
  const uint32_t n = u32ObjectLen - kOverhead;
  uint8_t mac[kMac];
  if (object_mac(SE_HERE, hSession, pObject, pObject + kMeta, n, mac) != 0) return mw::MW_ERR_QUARZEL;
  return quarzel::ct_equal(mac, pObject + kMeta + n, kMac) ? 0 : kMacMismatch;
}

// New header, same context: only the first 96 and the last 32 bytes change.
// A failure leaves the blob as it was.
uint32_t FWD_UpdateObjectMeta_mw(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                 ZEB_DEVICE_OBJECT_META* pMeta) {
  if (pObject == nullptr || pMeta == nullptr || u32ObjectLen < kOverhead) return mw::MW_ERR_OBJ_OPERATION;
  const uint32_t n = u32ObjectLen - kOverhead;
  uint8_t meta[kMeta];
  std::memcpy(meta, pMeta, kMeta);
  uint8_t mac[kMac];
  if (object_mac(SE_HERE, hSession, meta, pObject + kMeta, n, mac) != 0) return mw::MW_ERR_OBJ_OPERATION;
  std::memcpy(pObject, meta, kMeta);
  std::memcpy(pObject + kMeta + n, mac, kMac);
  return 0;
}

}  // extern "C"
