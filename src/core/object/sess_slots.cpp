// Session-object slots: 256 per core session, each a private heap copy of a
// complete device object. Handles are 0x80000000 + slot. No lock: callers
// check the login state, and one session's slots are used only by calls on
// that session.
#include "object_internal.h"
#include "oxlu/utils.h"

using namespace zeb::core;

namespace {

constexpr uint32_t kSlots = VRK_MAX_SESS_OBJECTS;
constexpr uint32_t kNoMatch = 0x50;

bool handle_ok(uint32_t h) { return h >= VRK_SESS_OBJ_HANDLE_BASE && h < VRK_SESS_OBJ_HANDLE_BASE + kSlots; }

VRK_SESS_OBJECT* slot_of(VRK_SESSION_CTX* ctx, uint32_t h) {
  return &ctx->s_objlist[h - VRK_SESS_OBJ_HANDLE_BASE];
}

void clear_slot(VRK_SESS_OBJECT* s) {
  free_wiped(s->pObj, s->u32DataLen);
  *s = VRK_SESS_OBJECT{};
}

// A private copy of a used slot's object (the header check may rebuild it).
uint32_t copy_of(VRK_SESSION_CTX* ctx, uint32_t h, ObjBuf* out, uint32_t* len) {
  const VRK_SESS_OBJECT* s = slot_of(ctx, h);
  if (s->pObj == nullptr) return VRK_ERR_FAILED;
  if (!out->reset(s->u32DataLen)) return VRK_ERR_HOST_MEMORY;
  std::memcpy(out->data(), s->pObj, s->u32DataLen);
  *len = s->u32DataLen;
  return VRK_OK;
}

uint32_t header_of(VRK_SESSION_CTX* ctx, VRK_SESS_OBJECT* s, VRK_OBJECT_META* meta) {
  return DA_GetObjMetaPtr(ctx->hSe, s->pObj, s->u32DataLen, meta);
}

}  // namespace

extern "C" {

uint32_t SwSess_SessObjIndexToSessObjlistIndex(uint32_t u32SessObjIndex, uint32_t* pu32SessionObjlistIndex) {
  if (pu32SessionObjlistIndex == nullptr || !handle_ok(u32SessObjIndex)) return VRK_ERR_ARGUMENTS;
  *pu32SessionObjlistIndex = u32SessObjIndex - VRK_SESS_OBJ_HANDLE_BASE;
  return VRK_OK;
}

uint32_t SwSess_SessObjlistIndexToSessObjIndex(uint32_t u32SessionObjlistIndex, uint32_t* pu32SessObjIndex) {
  if (pu32SessObjIndex == nullptr || u32SessionObjlistIndex >= kSlots) return VRK_ERR_ARGUMENTS;
  *pu32SessObjIndex = VRK_SESS_OBJ_HANDLE_BASE + u32SessionObjlistIndex;
  return VRK_OK;
}

uint32_t SwSess_NewSessionObjectIndex(VRK_HANDLE hSession, uint32_t* pu32SessionObjectIndex) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (pu32SessionObjectIndex == nullptr) return VRK_ERR_ARGUMENTS;
  for (uint32_t i = 0; i < kSlots; ++i) {
    if (ctx->s_objlist[i].pObj == nullptr) {
      *pu32SessionObjectIndex = VRK_SESS_OBJ_HANDLE_BASE + i;
      return VRK_OK;
    }
  }
  return VRK_ERR_SESS_OBJECTS_FULL;
}

uint32_t SwSess_UpdateSessionObject(VRK_HANDLE hSession, uint32_t hObj, uint8_t* pObject, uint32_t u32ObjectLen) {
  if (pObject == nullptr) return VRK_ERR_ARGUMENTS;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (!handle_ok(hObj)) return VRK_ERR_ARGUMENTS;
  // The new copy is made before the old one goes: a failed allocation keeps
  // the slot's object.
  ObjBuf copy;
  if (!copy.reset(u32ObjectLen)) return VRK_ERR_HOST_MEMORY;
  if (u32ObjectLen != 0) std::memcpy(copy.data(), pObject, u32ObjectLen);
  VRK_SESS_OBJECT* s = slot_of(ctx, hObj);
  clear_slot(s);
  s->pObj = copy.take();
  s->u32DataLen = u32ObjectLen;
  return VRK_OK;
}

uint32_t SwSess_CacheSessionObject(VRK_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                   uint32_t* pu32SessionObjectIndex) {
  if (pObject == nullptr || u32ObjectLen == 0 || pu32SessionObjectIndex == nullptr) return VRK_ERR_ARGUMENTS;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  VRK_OBJECT_META meta;
  uint32_t rv = DA_GetObjMetaPtr(ctx->hSe, pObject, u32ObjectLen, &meta);
  if (rv != VRK_OK) return rv;
  if (id_label_checker(meta.ObjId, sizeof meta.ObjId) != 0) return VRK_ERR_EMPTY_ID;
  uint32_t h = 0;
  if ((rv = SwSess_NewSessionObjectIndex(hSession, &h)) != VRK_OK) return rv;
  if ((rv = SwSess_UpdateSessionObject(hSession, h, pObject, u32ObjectLen)) != VRK_OK) return rv;
  *pu32SessionObjectIndex = h;
  return VRK_OK;
}

uint32_t SwSess_GetSessionObjectSize(VRK_HANDLE hSession, uint32_t hObj, uint32_t* pu32ObjectLen) {
  if (!handle_ok(hObj)) return VRK_ERR_ARGUMENTS;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (pu32ObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  const VRK_SESS_OBJECT* s = slot_of(ctx, hObj);
  if (s->pObj == nullptr) return VRK_ERR_FAILED;
  *pu32ObjectLen = s->u32DataLen;
  return VRK_OK;
}

uint32_t SwSess_GetSessionObject(VRK_HANDLE hSession, uint32_t hObj, uint8_t* pObject, uint32_t* pu32ObjectLen) {
  if (pObject == nullptr || pu32ObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (!handle_ok(hObj)) return VRK_ERR_ARGUMENTS;
  const VRK_SESS_OBJECT* s = slot_of(ctx, hObj);
  if (s->pObj == nullptr) return VRK_ERR_FAILED;
  if (*pu32ObjectLen < s->u32DataLen) return VRK_ERR_BUFFER_TOO_SMALL;
  *pu32ObjectLen = s->u32DataLen;
  std::memcpy(pObject, s->pObj, s->u32DataLen);
  return VRK_OK;
}

uint32_t SwSess_CheckSessionObjectExists(VRK_HANDLE hSession, uint32_t hObj) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (!handle_ok(hObj)) return VRK_ERR_ARGUMENTS;
  return slot_of(ctx, hObj)->pObj != nullptr ? VRK_OK : VRK_ERR_OBJECT_ABSENT;
}

uint32_t SwSess_CheckSessionObjectIdConflict(VRK_HANDLE hSession, const uint8_t* ObjId) {
  uint8_t id[VRK_ID_LEN] = {};
  if (ObjId != nullptr) copy_field(id, ObjId, sizeof id);
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  for (auto& s : ctx->s_objlist) {
    if (s.pObj == nullptr) continue;
    VRK_OBJECT_META meta;
    const uint32_t rv = header_of(ctx, &s, &meta);
    if (rv != VRK_OK) return rv;
    if (std::memcmp(meta.ObjId, id, sizeof id) == 0) return VRK_ERR_ARGUMENTS;
  }
  return VRK_OK;
}

uint32_t SwSess_FindSessionObjects(VRK_HANDLE hSession, uint8_t ObjType, uint8_t ObjKeyAlgo, const uint8_t* ObjId,
                                   const uint8_t* ObjLabel, uint32_t* pu32SessionObjectIndex) {
  if ((ObjId == nullptr && ObjLabel == nullptr) || pu32SessionObjectIndex == nullptr) return VRK_ERR_ARGUMENTS;
  uint8_t id[VRK_ID_LEN] = {}, label[VRK_LABEL_LEN] = {};
  if (ObjId != nullptr) copy_field(id, ObjId, sizeof id);
  if (ObjLabel != nullptr) copy_field(label, ObjLabel, sizeof label);
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  for (uint32_t i = 0; i < kSlots; ++i) {
    VRK_SESS_OBJECT& s = ctx->s_objlist[i];
    if (s.pObj == nullptr) continue;
    VRK_OBJECT_META meta;
    const uint32_t rv = header_of(ctx, &s, &meta);
    if (rv != VRK_OK) return rv;
    if (meta.ObjType != ObjType || meta.ObjKeyAlgo != ObjKeyAlgo) continue;
    const bool id_ok = ObjId == nullptr || std::memcmp(meta.ObjId, id, sizeof id) == 0;
    const bool label_ok = ObjLabel == nullptr || std::memcmp(meta.ObjLabel, label, sizeof label) == 0;
    if (id_ok && label_ok) {
      *pu32SessionObjectIndex = VRK_SESS_OBJ_HANDLE_BASE + i;
      return VRK_OK;
    }
  }
  return kNoMatch;
}

uint32_t SwSess_DeleteSessionObject(VRK_HANDLE hSession, uint32_t hObj) {
  if (!handle_ok(hObj)) return VRK_ERR_ARGUMENTS;
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (slot_of(ctx, hObj)->pObj == nullptr) return VRK_ERR_OBJECT_ABSENT;
  ObjBuf tmp;
  uint32_t len = 0;
  uint32_t rv = copy_of(ctx, hObj, &tmp, &len);
  if (rv != VRK_OK) return rv;
  VRK_OBJECT_META meta;
  if ((rv = DA_GetObjMetaPtr(ctx->hSe, tmp.data(), len, &meta)) != VRK_OK) return rv;
  if (meta.u32ObjExtIndex != ZEB_OBJ_NO_EXTENSION) rv = SwSess_DeleteSessionObjExtension(hSession, hObj);
  // The object goes whatever became of its extension.
  clear_slot(slot_of(ctx, hObj));
  return rv;
}

uint32_t SwSess_DeleteSessionObjExtension(VRK_HANDLE hSession, uint32_t hObj) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (!handle_ok(hObj)) return VRK_ERR_ARGUMENTS;
  ObjBuf tmp;
  uint32_t len = 0;
  uint32_t rv = copy_of(ctx, hObj, &tmp, &len);
  if (rv != VRK_OK) return rv;
  VRK_OBJECT_META meta;
  if ((rv = DA_GetObjMetaPtr(ctx->hSe, tmp.data(), len, &meta)) != VRK_OK) return rv;
  if (meta.u32ObjExtIndex == ZEB_OBJ_NO_EXTENSION) return VRK_ERR_OBJECT_ABSENT;
  uint32_t ext_slot = 0;
  if ((rv = SwSess_SessObjIndexToSessObjlistIndex(meta.u32ObjExtIndex, &ext_slot)) != VRK_OK) return rv;
  // An object never names itself; if its header did, it keeps its slot.
  if (meta.u32ObjExtIndex != hObj) clear_slot(&ctx->s_objlist[ext_slot]);
  meta.u32ObjExtIndex = ZEB_OBJ_NO_EXTENSION;
  if ((rv = DA_UpdateObjectMeta(ctx->hSe, tmp.data(), len, &meta)) != VRK_OK) return rv;
  return SwSess_UpdateSessionObject(hSession, hObj, tmp.data(), len);
}

}  // extern "C"
