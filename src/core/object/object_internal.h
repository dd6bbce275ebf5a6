// Internals of the core's object layers: the session-object slot store
// (SwSess_*), the store helpers (SwStore_*) and the buffers they share.
#pragma once

#include <cstdlib>
#include <cstring>

#include "core_internal.h"
#include "quarzel/port.h"
#include "zeb/vrk_object.h"

extern "C" {

// ---- Session-object slots --------------------------------------------------
uint32_t SwSess_SessObjIndexToSessObjlistIndex(uint32_t u32SessObjIndex, uint32_t* pu32SessionObjlistIndex);
uint32_t SwSess_SessObjlistIndexToSessObjIndex(uint32_t u32SessionObjlistIndex, uint32_t* pu32SessObjIndex);
uint32_t SwSess_NewSessionObjectIndex(VRK_HANDLE hSession, uint32_t* pu32SessionObjectIndex);
// Allocates the new copy first: a failed allocation (2) leaves the slot as
// it was. The old copy is wiped before it is freed.
uint32_t SwSess_UpdateSessionObject(VRK_HANDLE hSession, uint32_t hObj, uint8_t* pObject, uint32_t u32ObjectLen);
uint32_t SwSess_CacheSessionObject(VRK_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                   uint32_t* pu32SessionObjectIndex);
uint32_t SwSess_GetSessionObjectSize(VRK_HANDLE hSession, uint32_t hObj, uint32_t* pu32ObjectLen);
uint32_t SwSess_GetSessionObject(VRK_HANDLE hSession, uint32_t hObj, uint8_t* pObject, uint32_t* pu32ObjectLen);
uint32_t SwSess_CheckSessionObjectExists(VRK_HANDLE hSession, uint32_t hObj);
uint32_t SwSess_CheckSessionObjectIdConflict(VRK_HANDLE hSession, const uint8_t* ObjId);
uint32_t SwSess_FindSessionObjects(VRK_HANDLE hSession, uint8_t ObjType, uint8_t ObjKeyAlgo, const uint8_t* ObjId,
                                   const uint8_t* ObjLabel, uint32_t* pu32SessionObjectIndex);
uint32_t SwSess_DeleteSessionObject(VRK_HANDLE hSession, uint32_t hObj);
uint32_t SwSess_DeleteSessionObjExtension(VRK_HANDLE hSession, uint32_t hObj);

// ---- Store helpers -----------------------------------------------------------
uint32_t SwStore_TransferObjectMeta_VRK_to_Store(VRK_OBJECT_META meta, STO_SEOBJ* pSto_meta);
uint32_t SwStore_LoadList(VRK_HANDLE hSession, VRK_SEOBJ_LIST* pObjList);
uint32_t SwStore_LoadTknObjList(VRK_HANDLE hHsmSess, const uint8_t* tknid, VRK_SEOBJ_LIST* pObjList);
uint32_t SwStore_DeleteObject(VRK_HANDLE hSession, uint32_t u32ObjectIndex);
uint32_t SwStore_CheckObjectExist(VRK_HANDLE hSession, uint32_t u32ObjectIndex);
uint32_t SwStore_DeleteObjExtension(VRK_HANDLE htknsess, uint32_t u32ObjectIndex);

}  // extern "C"

namespace zeb::core {

// A heap buffer for an object or a context, wiped before it is freed (it may
// hold key blobs). malloc-backed, so that ownership can pass to a slot.
class ObjBuf {
 public:
  ObjBuf() = default;
  explicit ObjBuf(size_t n) { reset(n); }
  ~ObjBuf() { release(); }
  ObjBuf(const ObjBuf&) = delete;
  ObjBuf& operator=(const ObjBuf&) = delete;
  // A fresh zeroed buffer of n bytes (at least one); false when none.
  bool reset(size_t n);
  uint8_t* data() const noexcept { return p_; }
  size_t size() const noexcept { return n_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the block over (the caller frees it).
  uint8_t* take() noexcept {
    uint8_t* p = p_;
    p_ = nullptr;
    n_ = 0;
    return p;
  }
  void release() noexcept;

 private:
  uint8_t* p_ = nullptr;
  size_t n_ = 0;
};

// Wipes and frees a malloc block of n bytes.
void free_wiped(void* p, size_t n) noexcept;

// The allocator behind every object buffer (a test seam may make it fail).
void* object_alloc(size_t n) noexcept;
namespace testing {
// `fail_after` allocations succeed, then every one fails; -1 restores.
void set_object_alloc_failure(long fail_after) noexcept;
}  // namespace testing

// The session if its status is exactly token user: 0 with *ctx set, 179 or 257.
uint32_t user_session(VRK_HANDLE hSession, VRK_SESSION_CTX** ctx) noexcept;

// The store addressing record of a session's token.
PERSISTENCY_INPUT sto_input(const VRK_SESSION_CTX& ctx) noexcept;

// Fills a header as the core builds every object (no argument checks).
void SwObj_SetObjMeta(uint8_t ObjMac, uint8_t ObjEnc, const uint8_t* pTknId, const uint8_t* pObjId,
                      const uint8_t* pObjLabel, uint8_t ObjType, uint8_t ObjKeyAlgo, uint32_t u32ObjExtIndex,
                      uint64_t u64ObjKeyUsage, uint32_t u32DataLen, VRK_OBJECT_META* m);

// True for the object types whose context is a key blob (secret, private).
constexpr bool is_wrapped_type(uint8_t type) noexcept {
  return type == VRK_OBJ_SECRETKEY || type == VRK_OBJ_PRIVATEKEY;
}

// Text fields: up to the first zero byte and at most `width`, zero-padded.
void copy_field(uint8_t* dst, const uint8_t* src, size_t width) noexcept;

}  // namespace zeb::core
