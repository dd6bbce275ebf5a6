// The software device's object blob: meta record (96 bytes) | data | 32-byte
// HMAC-SHA-256 over meta and data under the token's MAC key. Every stored
// blob's MAC is checked, whatever its meta record says.
#pragma once

#include <cstdint>

#include "zeb/backend_codes.h"
#include "zeb/device.h"

inline constexpr uint32_t SWD_BLOB_META_LEN = 96;
inline constexpr uint32_t SWD_BLOB_MAC_LEN = 32;
inline constexpr uint32_t SWD_BLOB_OVERHEAD = SWD_BLOB_META_LEN + SWD_BLOB_MAC_LEN;  // 128
inline constexpr uint32_t SWD_ERR_MAC_NULL = 0x500;
inline constexpr uint32_t SWD_ERR_MAC_MISMATCH = zeb::rc::kMacMismatch;

extern "C" {

// The 32-byte MacK of the session's token: SWD_ERR_SESSION_HANDLE for an
// unknown session, SWD_ERR_FAILED unless the session's status is exactly
// ZEB_DEVICE_SESS_TOKENUSER_LOGIN, else the configuration read's code.
[[nodiscard]] uint32_t GetTknMacKey(ZEB_DEVICE_HANDLE hSession, uint8_t* MacKey);
// HMAC-SHA-256 of pData under the 32-byte key into MacData (32 bytes).
// SWD_ERR_MAC_NULL for null data.
[[nodiscard]] uint32_t CalulateMac(uint8_t* MacKey, uint8_t* pData, uint32_t u32DataLen, uint8_t* MacData);

// pObject must hold u32ObjContextLen + 128 bytes; it may overlap neither the
// meta nor the context unless it is the blob they were taken from.
uint32_t SWD_SetObject(ZEB_DEVICE_HANDLE hSession, ZEB_DEVICE_OBJECT_META* pObjMeta, uint8_t* pObjContext,
                       uint32_t u32ObjContextLen, uint8_t* pObject, uint32_t* pu32ObjectLen);
// SWD_ERR_ARGUMENTS for a null blob or one shorter than 128 bytes;
// SWD_ERR_FAILED when the MAC key cannot be had; SWD_ERR_MAC_MISMATCH when
// the MAC does not match (compared in constant time).
[[nodiscard]] uint32_t SWD_CheckObjMAC(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen);
uint32_t SWD_GetObjMetaPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                           ZEB_DEVICE_OBJECT_META* pObjMeta);
// Writes u32ObjectLen - 128 bytes of data; the caller's buffer must hold them.
uint32_t SWD_GetObjCxtPtr(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen, uint8_t* pObjContext,
                          uint32_t* pu32ObjContextLen);
uint32_t SWD_DivideObj(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                       ZEB_DEVICE_OBJECT_META* pObjMeta, uint8_t* pObjContext, uint32_t* pu32ObjContextLen);
// Rebuilds the blob in place with a new meta record and MAC (same length).
uint32_t SWD_UpdateObjectMeta(ZEB_DEVICE_HANDLE hSession, uint8_t* pObject, uint32_t objectLen,
                              ZEB_DEVICE_OBJECT_META* pUpdatedmeta);

}  // extern "C"
