// The persistency API: token objects in the store. Secret and private keys
// are kept under the token key and handed out under the session key: saving
// and updating re-wrap a private copy one way, reading re-wraps the other.
#include "object/object_internal.h"
#include "zeb/se_services.h"
#include "zeb/swhsm_services.h"

using namespace zeb::core;

namespace {

#define USER_SESSION(h)                                                 \
  const SessionRef held_session((h));                                   \
  VRK_SESSION_CTX* ctx = nullptr;                                       \
  if (uint32_t urv = user_session(held_session, &ctx); urv != VRK_OK) return static_cast<int>(urv)

enum class Wrap { ToToken, ToSession };

// Checks `obj` (len bytes, capacity len) and takes out its header; a key
// context is re-wrapped and the object rebuilt around it in place (with
// `rebuild_meta` when given, else its own header). Objects of other types
// are left as they are. Device codes are returned.
uint32_t check_and_rewrap(VRK_SESSION_CTX* ctx, uint8_t* obj, uint32_t* len, VRK_OBJECT_META* meta, Wrap dir,
                          const VRK_OBJECT_META* rebuild_meta = nullptr) {
  ObjBuf key;
  if (!key.reset(*len)) return VRK_ERR_HOST_MEMORY;
  uint32_t n = 0;
  uint32_t rv = DA_DivideObj(ctx->hSe, obj, *len, meta, key.data(), &n);
  if (rv != VRK_OK || !is_wrapped_type(meta->ObjType)) return rv;
  rv = dir == Wrap::ToToken ? DA_SetSwKey2Tkn(ctx->hSe, key.data(), n, key.data(), &n)
                            : DA_SetTknKey2Sw(ctx->hSe, key.data(), n, key.data(), &n);
  if (rv != VRK_OK) return rv;
  if (n + VRK_OBJ_OVERHEAD > *len) return VRK_ERR_FAILED;  // blobs keep their length
  VRK_OBJECT_META m = rebuild_meta != nullptr ? *rebuild_meta : *meta;
  return DA_SetObject(ctx->hSe, &m, key.data(), n, obj, len);
}

// A private copy of the caller's object in token form, with its header and
// its store record.
struct TokenForm {
  ObjBuf obj;
  uint32_t len = 0;
  VRK_OBJECT_META meta{};
  STO_SEOBJ entry{};
};

uint32_t to_token_form(VRK_SESSION_CTX* ctx, const uint8_t* pObject, uint32_t u32ObjectLen, bool need_id,
                       TokenForm* out) {
  if (pObject == nullptr || u32ObjectLen == 0) return VRK_ERR_ARGUMENTS;
  if (!out->obj.reset(u32ObjectLen)) return VRK_ERR_HOST_MEMORY;
  std::memcpy(out->obj.data(), pObject, u32ObjectLen);
  out->len = u32ObjectLen;
  // Checked and re-wrapped in the copy: the caller's buffer is never touched.
  const uint32_t rv = check_and_rewrap(ctx, out->obj.data(), &out->len, &out->meta, Wrap::ToToken);
  if (rv != VRK_OK) return rv;
  if (need_id && out->meta.ObjId[0] == 0) return VRK_ERR_EMPTY_ID;
  return SwStore_TransferObjectMeta_VRK_to_Store(out->meta, &out->entry);
}

// Reads a stored object into a buffer of its own size (once more with the
// new size if another process replaced it by a larger one in between).
uint32_t read_stored(PERSISTENCY_INPUT* in, uint32_t index, ObjBuf* out, uint32_t* len) {
  uint32_t size = 0;
  uint32_t rv = SA_GetObjectSize(in, index, &size);
  for (int attempt = 0; rv == VRK_OK && attempt < 2; ++attempt) {
    if (!out->reset(size)) return VRK_ERR_HOST_MEMORY;
    *len = size;
    rv = SA_GetObject(in, index, out->data(), len);
    if (rv != VRK_ERR_BUFFER_TOO_SMALL) return rv;
    size = *len;
    rv = VRK_OK;
  }
  return rv == VRK_OK ? static_cast<uint32_t>(VRK_ERR_FAILED) : rv;
}

// Hands a finished object to the caller (capacity in *cap, length out).
int hand_out(const uint8_t* obj, uint32_t len, uint8_t* dst, uint32_t* cap) {
  if (*cap < len) {
    *cap = len;
    return VRK_ERR_BUFFER_TOO_SMALL;
  }
  std::memcpy(dst, obj, len);
  *cap = len;
  return VRK_OK;
}

// Loads the session's token object list and runs a search over it; a list
// that cannot be loaded is 6.
template <class Search>
int with_list(VRK_HANDLE hSession, uint32_t* pIndex, Search search) {
  const SessionRef held(hSession);
  if (!held) return VRK_ERR_SESSION_HANDLE;
  if (pIndex == nullptr) return VRK_ERR_ARGUMENTS;
  ObjBuf buf;
  if (!buf.reset(sizeof(VRK_SEOBJ_LIST))) return VRK_ERR_FAILED;
  auto* list = reinterpret_cast<VRK_SEOBJ_LIST*>(buf.data());
  if (SwStore_LoadList(hSession, list) != VRK_OK) return VRK_ERR_FAILED;
  return static_cast<int>(search(list));
}

}  // namespace

extern "C" {

VRK_RV VRK_GetStorageInfo(VRK_HANDLE hSession, VRK_UCHAR_PTR pStorage_status, STO_LAYOUT* pTotalLayout,
                          STO_LAYOUT* pFreeLayout) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  return static_cast<int>(SA_GetStorageInfo(&in, pStorage_status, pTotalLayout, pFreeLayout));
}

VRK_RV VRK_SetStorageLayout(VRK_HANDLE hSession, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  return static_cast<int>(SA_SetLayout(&in, pInputLayout, pOutputLayout));
}

VRK_RV VRK_ListObjects(VRK_HANDLE hSession, VRK_SEOBJ_LIST* pObjList, VRK_UINT32_PTR pu32Count) {
  const SessionRef held(hSession);
  if (!held) return VRK_ERR_SESSION_HANDLE;
  if (pObjList == nullptr || pu32Count == nullptr) return VRK_ERR_ARGUMENTS;
  ObjBuf buf;
  if (!buf.reset(sizeof(VRK_SEOBJ_LIST))) return VRK_ERR_FAILED;
  auto* list = reinterpret_cast<VRK_SEOBJ_LIST*>(buf.data());
  const uint32_t rv = SwStore_LoadList(hSession, list);
  if (rv != VRK_OK) return static_cast<int>(rv);
  std::memcpy(pObjList, list, sizeof *list);
  *pu32Count = list->ObjNum;
  return VRK_OK;
}

VRK_RV VRK_GetPubObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pPubObject,
                        VRK_UINT32_PTR pu32PubObjectLen) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (pPubObject == nullptr || pu32PubObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  const uint32_t rv = SA_GetObject(&in, u32ObjectIndex, pPubObject, pu32PubObjectLen);
  if (rv == VRK_ERR_BUFFER_TOO_SMALL) return static_cast<int>(rv);
  return rv == VRK_OK ? 0 : static_cast<int>(VRK_ERR_FAILED);
}

VRK_RV VRK_SaveObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen,
                      VRK_UINT32_PTR pu32ObjectIndex) {
  USER_SESSION(hSession);
  if (pu32ObjectIndex == nullptr) return VRK_ERR_ARGUMENTS;
  // The caller's buffer is not touched: the token form is a private copy.
  TokenForm t;
  uint32_t rv = to_token_form(ctx, pObject, u32ObjectLen, true, &t);
  if (rv != VRK_OK) return static_cast<int>(rv);
  PERSISTENCY_INPUT in = sto_input(*ctx);
  if (SA_CreateObject(&in, pu32ObjectIndex, t.obj.data(), t.len, &t.entry) != VRK_OK) return VRK_ERR_FAILED;
  return VRK_OK;
}

VRK_RV VRK_SaveObjectPair(VRK_HANDLE hSession, VRK_UCHAR_PTR pFirst, VRK_UINT32 u32FirstLen, VRK_UCHAR_PTR pSecond,
                          VRK_UINT32 u32SecondLen, VRK_UINT32_PTR pu32FirstIndex, VRK_UINT32_PTR pu32SecondIndex) {
  USER_SESSION(hSession);
  if (pu32FirstIndex == nullptr || pu32SecondIndex == nullptr) return VRK_ERR_ARGUMENTS;
  TokenForm a, b;
  uint32_t rv = to_token_form(ctx, pFirst, u32FirstLen, true, &a);
  if (rv == VRK_OK) rv = to_token_form(ctx, pSecond, u32SecondLen, true, &b);
  if (rv != VRK_OK) return static_cast<int>(rv);
  PERSISTENCY_INPUT in = sto_input(*ctx);
  uint32_t first = 0, second = 0;
  if (SA_GetFunctionList() == &swstore_functions) {
    if (Sto_CreateObjectPair(&in, a.obj.data(), a.len, &a.entry, b.obj.data(), b.len, &b.entry, &first, &second) !=
        VRK_OK) {
      return VRK_ERR_FAILED;
    }
  } else if (SA_GetFunctionList() == &fwstore_functions) {
    if (FWSto_CreateObjectPair_mw(&in, a.obj.data(), a.len, &a.entry, b.obj.data(), b.len, &b.entry, &first,
                                  &second) != VRK_OK) {
      return VRK_ERR_FAILED;
    }
  } else {
    // A store without a pair operation: one object after the other, the
    // first taken away again when the second cannot be stored.
    if (SA_CreateObject(&in, &first, a.obj.data(), a.len, &a.entry) != VRK_OK) return VRK_ERR_FAILED;
    if (SA_CreateObject(&in, &second, b.obj.data(), b.len, &b.entry) != VRK_OK) {
      (void)SwStore_DeleteObject(hSession, first);
      return VRK_ERR_FAILED;
    }
  }
  *pu32FirstIndex = first;
  *pu32SecondIndex = second;
  return VRK_OK;
}

VRK_RV VRK_UpdObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObject, VRK_UINT32 u32ObjectLen) {
  USER_SESSION(hSession);
  TokenForm t;
  const uint32_t rv = to_token_form(ctx, pObject, u32ObjectLen, false, &t);
  if (rv != VRK_OK) return static_cast<int>(rv);
  PERSISTENCY_INPUT in = sto_input(*ctx);
  return static_cast<int>(SA_UpdateObject(&in, u32ObjectIndex, t.obj.data(), t.len, &t.entry));
}

VRK_RV VRK_DeleteTknObjects(VRK_HANDLE hHsmSess, VRK_TOKEN_ID* tknid) {
  const SessionRef ctx(hHsmSess);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  if (tknid == nullptr) return VRK_ERR_ARGUMENTS;
  ObjBuf buf;
  if (!buf.reset(sizeof(VRK_SEOBJ_LIST))) return VRK_ERR_FAILED;
  auto* list = reinterpret_cast<VRK_SEOBJ_LIST*>(buf.data());
  uint32_t rv = SwStore_LoadTknObjList(hHsmSess, tknid, list);
  if (rv != VRK_OK) return static_cast<int>(rv);
  PERSISTENCY_INPUT in;
  SwStore_SetStoInput(ctx->hSe, ctx->HsmSn, nullptr, &in);
  copy_field(in.TknId, tknid, sizeof in.TknId);
  // Every used entry, from the last to the first (entries need not be
  // contiguous once objects have been deleted).
  for (size_t i = STO_MAX_OBJECTS; i-- > 0;) {
    const STO_SEOBJ& e = list->seobj_array[i];
    if (e.ObjIndex == 0 && e.ObjId[0] == 0) continue;
    if ((rv = SA_DeleteObject(&in, e.ObjIndex)) != VRK_OK) return static_cast<int>(rv);
  }
  if ((rv = SA_DeleteObjList(&in)) != VRK_OK) return static_cast<int>(rv);
  return static_cast<int>(SA_DeleteObjDir(&in));
}

VRK_RV VRK_DeleteObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex) {
  USER_SESSION(hSession);
  return static_cast<int>(SwStore_DeleteObject(hSession, u32ObjectIndex));
}

VRK_RV VRK_GetObjectSize(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UINT32_PTR pu32ObjectLen) {
  USER_SESSION(hSession);
  if (pu32ObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  return SA_GetObjectSize(&in, u32ObjectIndex, pu32ObjectLen) == VRK_OK ? 0 : static_cast<int>(VRK_ERR_FAILED);
}

VRK_RV VRK_GetObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObject,
                     VRK_UINT32_PTR pu32ObjectLen) {
  USER_SESSION(hSession);
  if (pObject == nullptr || pu32ObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  ObjBuf obj;
  uint32_t len = 0;
  if (read_stored(&in, u32ObjectIndex, &obj, &len) != VRK_OK) return VRK_ERR_FAILED;
  VRK_OBJECT_META meta;
  const uint32_t rv = check_and_rewrap(ctx, obj.data(), &len, &meta, Wrap::ToSession);
  if (rv != VRK_OK) return static_cast<int>(rv);
  return hand_out(obj.data(), len, pObject, pu32ObjectLen);
}

VRK_RV VRK_FindObjectsID(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjectID,
                         VRK_UINT32_PTR pu32ObjectIndex) {
  return with_list(hSession, pu32ObjectIndex, [&](const VRK_SEOBJ_LIST* list) {
    return SwStore_FindObjectsID(list, ObjType, ObjKeyAlgo, pObjectID, pu32ObjectIndex);
  });
}

VRK_RV VRK_FindObjectsLabel(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjectLabel,
                            VRK_UINT32_PTR pu32ObjectIndex) {
  return with_list(hSession, pu32ObjectIndex, [&](const VRK_SEOBJ_LIST* list) {
    return SwStore_FindObjectsLabel(list, ObjType, ObjKeyAlgo, pObjectLabel, pu32ObjectIndex);
  });
}

VRK_RV VRK_FindObjects(VRK_HANDLE hSession, VRK_UCHAR ObjType, VRK_UCHAR ObjKeyAlgo, VRK_UCHAR_PTR pObjectID,
                       VRK_UCHAR_PTR pObjectLabel, VRK_UINT32_PTR pu32ObjectIndex) {
  return with_list(hSession, pu32ObjectIndex, [&](const VRK_SEOBJ_LIST* list) {
    return SwStore_FindObjects(list, ObjType, ObjKeyAlgo, pObjectID, pObjectLabel, pu32ObjectIndex);
  });
}

VRK_RV VRK_ImportTknObject(VRK_HANDLE hSession, VRK_UCHAR_PTR pImportObject, VRK_UINT32 u32ImportObjectLen,
                           VRK_UCHAR object_lifespan, VRK_UINT32_PTR pobjectIndex) {
  USER_SESSION(hSession);
  if (pImportObject == nullptr || u32ImportObjectLen == 0 || pobjectIndex == nullptr) return VRK_ERR_ARGUMENTS;
  VRK_OBJECT_META meta;
  uint32_t rv = DA_GetObjMetaPtr(ctx->hSe, pImportObject, u32ImportObjectLen, &meta);
  if (rv != VRK_OK) return static_cast<int>(rv);
  copy_field(meta.TknId, ctx->TknId, sizeof meta.TknId);
  if (object_lifespan == VRK_OBJ_SESSION) {
    // A private copy, rebuilt under the session key for keys.
    ObjBuf obj;
    if (!obj.reset(u32ImportObjectLen)) return VRK_ERR_HOST_MEMORY;
    std::memcpy(obj.data(), pImportObject, u32ImportObjectLen);
    uint32_t len = u32ImportObjectLen;
    VRK_OBJECT_META checked;
    if ((rv = check_and_rewrap(ctx, obj.data(), &len, &checked, Wrap::ToSession, &meta)) != VRK_OK) {
      return static_cast<int>(rv);
    }
    return static_cast<int>(SwSess_CacheSessionObject(hSession, obj.data(), len, pobjectIndex));
  }
  STO_SEOBJ entry;
  if ((rv = SwStore_TransferObjectMeta_VRK_to_Store(meta, &entry)) != VRK_OK) return static_cast<int>(rv);
  PERSISTENCY_INPUT in = sto_input(*ctx);
  return static_cast<int>(SA_CreateObject(&in, pobjectIndex, pImportObject, u32ImportObjectLen, &entry));
}

VRK_RV VRK_ExportTknObject(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pObject,
                           VRK_UINT32_PTR pu32ObjectLen) {
  USER_SESSION(hSession);
  if (pObject == nullptr || pu32ObjectLen == nullptr) return VRK_ERR_ARGUMENTS;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  ObjBuf obj;
  uint32_t len = 0;
  uint32_t rv = read_stored(&in, u32ObjectIndex, &obj, &len);
  if (rv != VRK_OK) return static_cast<int>(rv);
  const int erv = CA_ExportValue(&ctx->CaCtx, obj.data(), len, obj.data(), &len);
  if (erv != VRK_OK) return erv;
  return hand_out(obj.data(), len, pObject, pu32ObjectLen);
}

// Token objects keep no extension: their attribute extension is not stored.
VRK_RV VRK_SaveObjExtension(VRK_HANDLE, VRK_UINT32, VRK_UCHAR_PTR, VRK_UINT32) { return VRK_OK; }
VRK_RV VRK_GetObjExtension(VRK_HANDLE, VRK_UINT32, VRK_UCHAR_PTR, VRK_UINT32_PTR) { return VRK_OK; }
VRK_RV VRK_DeleteObjExtension(VRK_HANDLE, VRK_UINT32) { return VRK_OK; }

VRK_RV VRK_UpdateObjExtension(VRK_HANDLE htknsess, VRK_UINT32 u32ObjectIndex, VRK_UCHAR_PTR pExtData,
                              VRK_UINT32 extDatalen) {
  USER_SESSION(htknsess);
  if (pExtData == nullptr && extDatalen != 0) return VRK_ERR_ARGUMENTS;
  if (extDatalen > UINT32_MAX - VRK_OBJ_OVERHEAD) return VRK_ERR_ARGUMENTS;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  ObjBuf obj;
  uint32_t len = 0;
  uint32_t rv = read_stored(&in, u32ObjectIndex, &obj, &len);
  if (rv != VRK_OK) return static_cast<int>(rv);
  VRK_OBJECT_META meta;
  if ((rv = DA_GetObjMetaPtr(ctx->hSe, obj.data(), len, &meta)) != VRK_OK) return static_cast<int>(rv);
  const uint32_t x = meta.u32ObjExtIndex;
  if (x == ZEB_OBJ_NO_EXTENSION) return VRK_ERR_OBJECT_ABSENT;
  ObjBuf ext;
  uint32_t ext_len = 0;
  if ((rv = read_stored(&in, x, &ext, &ext_len)) != VRK_OK) return static_cast<int>(rv);
  VRK_OBJECT_META ext_meta;
  if ((rv = DA_GetObjMetaPtr(ctx->hSe, ext.data(), ext_len, &ext_meta)) != VRK_OK) return static_cast<int>(rv);
  ext_meta.u32DataLen = extDatalen;
  ObjBuf fresh;
  if (!fresh.reset(size_t{extDatalen} + VRK_OBJ_OVERHEAD)) return VRK_ERR_HOST_MEMORY;
  uint32_t fresh_len = 0;
  if ((rv = DA_SetObject(ctx->hSe, &ext_meta, pExtData, extDatalen, fresh.data(), &fresh_len)) != VRK_OK) {
    return static_cast<int>(rv);
  }
  STO_SEOBJ entry;
  (void)SwStore_TransferObjectMeta_VRK_to_Store(ext_meta, &entry);  // fails only on a null target
  return static_cast<int>(SA_UpdateObject(&in, x, fresh.data(), fresh_len, &entry));
}

VRK_RV VRK_CheckObjectExist(VRK_HANDLE hSession, VRK_UINT32 u32ObjectIndex) {
  USER_SESSION(hSession);
  return static_cast<int>(SwStore_CheckObjectExist(hSession, u32ObjectIndex));
}

}  // extern "C"
