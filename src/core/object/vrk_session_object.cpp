// Session objects: the public calls over the slot store, and the extension
// object that carries a session object's attribute extension.
#include "object_internal.h"

using namespace zeb::core;

namespace {

const uint8_t kExtId[] = "extid";
const uint8_t kExtLabel[] = "extlab";

#define USER_SESSION(h)                                                 \
  const SessionRef held_session((h));                                   \
  VRK_SESSION_CTX* ctx = nullptr;                                       \
  if (uint32_t urv = user_session(held_session, &ctx); urv != VRK_OK) return static_cast<int>(urv)

// A private copy of a session object and its header (checked by the device).
struct Held {
  ObjBuf buf;
  uint32_t len = 0;
  VRK_OBJECT_META meta{};
};

uint32_t read_held(VRK_SESSION_CTX* ctx, VRK_HANDLE hSession, uint32_t h, Held* out) {
  uint32_t rv = SwSess_GetSessionObjectSize(hSession, h, &out->len);
  if (rv != VRK_OK) return rv;
  if (!out->buf.reset(out->len)) return VRK_ERR_HOST_MEMORY;
  if ((rv = SwSess_GetSessionObject(hSession, h, out->buf.data(), &out->len)) != VRK_OK) return rv;
  return DA_GetObjMetaPtr(ctx->hSe, out->buf.data(), out->len, &out->meta);
}

// The extension object for `meta` and `data`, composed by the device.
uint32_t build_extension(VRK_SESSION_CTX* ctx, const VRK_OBJECT_META& meta, const uint8_t* data, uint32_t len,
                         ObjBuf* out, uint32_t* out_len) {
  if (len > UINT32_MAX - VRK_OBJ_OVERHEAD) return VRK_ERR_ARGUMENTS;
  if (!out->reset(size_t{len} + VRK_OBJ_OVERHEAD)) return VRK_ERR_HOST_MEMORY;
  VRK_OBJECT_META m = meta;
  m.u32DataLen = len;
  return DA_SetObject(ctx->hSe, &m, const_cast<uint8_t*>(data), len, out->data(), out_len);
}

}  // namespace

extern "C" {

int VRK_CacheSessionObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                           VRK_UINT32_PTR pu32Handle) {
  USER_SESSION(hSession);
  const int erv = CA_ExportValue(&ctx->CaCtx, pObject, u32ObjectLen, pObject, &u32ObjectLen);
  if (erv != VRK_OK) return erv;
  return static_cast<int>(SwSess_CacheSessionObject(hSession, pObject, u32ObjectLen, pu32Handle));
}

int VRK_CheckSessionObjectIdConflict(VRK_HANDLE hSession, VRK_UCHAR_PTR pObjId) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_CheckSessionObjectIdConflict(hSession, pObjId));
}

int VRK_GetSessionObjectSize(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UINT32_PTR pu32Len) {
  const SessionRef held(hSession);
  if (!held) return VRK_ERR_SESSION_HANDLE;
  return static_cast<int>(SwSess_GetSessionObjectSize(hSession, u32Handle, pu32Len));
}

int VRK_GetSessionObject(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pObject, VRK_UINT32_PTR pu32Len) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_GetSessionObject(hSession, u32Handle, pObject, pu32Len));
}

int VRK_CheckSessionObjectExists(VRK_HANDLE hSession, VRK_UINT32 u32Handle) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_CheckSessionObjectExists(hSession, u32Handle));
}

int VRK_DeleteSessionObject(VRK_HANDLE hSession, VRK_UINT32 u32Handle) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_DeleteSessionObject(hSession, u32Handle));
}

int VRK_DeleteSessionObjects(VRK_HANDLE hSession) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_DeleteSessionObjects(hSession));
}

int VRK_FindSessionObjects(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjId,
                           VRK_UCHAR_PTR pObjLabel, VRK_UINT32_PTR pu32Handle) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_FindSessionObjects(hSession, ObjType, ObjKeyAlgo, pObjId, pObjLabel, pu32Handle));
}

int VRK_ListSessionObjects(VRK_HANDLE hSession, VRK_SESS_OBJECT* pList) {
  USER_SESSION(hSession);
  if (pList == nullptr) return VRK_ERR_BUFFER_TOO_SMALL;
  std::memcpy(pList, ctx->s_objlist, sizeof ctx->s_objlist);
  return VRK_OK;
}

int VRK_CacheSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pExtData,
                                 VRK_UINT32 extDatalen) {
  USER_SESSION(hSession);
  if (pExtData == nullptr && extDatalen != 0) return VRK_ERR_ARGUMENTS;
  // The owner must exist before anything is made for it.
  Held owner;
  uint32_t rv = read_held(ctx, hSession, u32Handle, &owner);
  if (rv != VRK_OK) return static_cast<int>(rv);
  VRK_OBJECT_META meta;
  SwObj_SetObjMeta(VRK_MAC_SHA_256, VRK_ENC_NONE, ctx->TknId, kExtId, kExtLabel, VRK_OBJ_DATA, VRK_KEY_NONE,
                   ZEB_OBJ_NO_EXTENSION, VRK_KEY_USAGE_ALL, extDatalen, &meta);
  ObjBuf ext;
  uint32_t ext_len = 0;
  if ((rv = build_extension(ctx, meta, pExtData, extDatalen, &ext, &ext_len)) != VRK_OK) return static_cast<int>(rv);
  uint32_t ext_handle = 0;
  if ((rv = SwSess_CacheSessionObject(hSession, ext.data(), ext_len, &ext_handle)) != VRK_OK) {
    return static_cast<int>(rv);
  }
  owner.meta.u32ObjExtIndex = ext_handle;
  rv = DA_UpdateObjectMeta(ctx->hSe, owner.buf.data(), owner.len, &owner.meta);
  if (rv == VRK_OK) rv = SwSess_UpdateSessionObject(hSession, u32Handle, owner.buf.data(), owner.len);
  if (rv != VRK_OK) {
    // Not linked: the extension would only take a slot.
    SwSess_DeleteSessionObject(hSession, ext_handle);
  }
  return static_cast<int>(rv);
}

int VRK_GetSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pExtData,
                               VRK_UINT32_PTR pu32ExtDataLen) {
  USER_SESSION(hSession);
  if (pExtData == nullptr || pu32ExtDataLen == nullptr) return VRK_ERR_ARGUMENTS;
  Held owner;
  uint32_t rv = read_held(ctx, hSession, u32Handle, &owner);
  if (rv != VRK_OK) return static_cast<int>(rv);
  const uint32_t x = owner.meta.u32ObjExtIndex;
  if (x == ZEB_OBJ_NO_EXTENSION || x == 0) return VRK_ERR_FAILED;
  Held ext;
  if ((rv = read_held(ctx, hSession, x, &ext)) != VRK_OK) return static_cast<int>(rv);
  ObjBuf data;
  if (!data.reset(ext.len)) return VRK_ERR_HOST_MEMORY;
  uint32_t n = 0;
  if ((rv = DA_GetObjCxtPtr(ctx->hSe, ext.buf.data(), ext.len, data.data(), &n)) != VRK_OK) {
    return static_cast<int>(rv);
  }
  if (*pu32ExtDataLen < n) {
    *pu32ExtDataLen = n;
    return VRK_ERR_BUFFER_TOO_SMALL;
  }
  std::memcpy(pExtData, data.data(), n);
  *pu32ExtDataLen = n;
  return VRK_OK;
}

int VRK_UpdateSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle, VRK_UCHAR_PTR pExtData,
                                  VRK_UINT32 extDatalen) {
  USER_SESSION(hSession);
  if (pExtData == nullptr && extDatalen != 0) return VRK_ERR_ARGUMENTS;
  Held owner;
  uint32_t rv = read_held(ctx, hSession, u32Handle, &owner);
  if (rv != VRK_OK) return static_cast<int>(rv);
  const uint32_t x = owner.meta.u32ObjExtIndex;
  if (x == ZEB_OBJ_NO_EXTENSION || x == 0) return VRK_ERR_FAILED;
  Held ext;
  if ((rv = read_held(ctx, hSession, x, &ext)) != VRK_OK) return static_cast<int>(rv);
  ObjBuf fresh;
  uint32_t fresh_len = 0;
  if ((rv = build_extension(ctx, ext.meta, pExtData, extDatalen, &fresh, &fresh_len)) != VRK_OK) {
    return static_cast<int>(rv);
  }
  return static_cast<int>(SwSess_UpdateSessionObject(hSession, x, fresh.data(), fresh_len));
}

int VRK_DeleteSessionObjExtension(VRK_HANDLE hSession, VRK_UINT32 u32Handle) {
  USER_SESSION(hSession);
  return static_cast<int>(SwSess_DeleteSessionObjExtension(hSession, u32Handle));
}

}  // extern "C"
