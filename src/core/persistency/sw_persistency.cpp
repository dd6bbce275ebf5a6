// Store helpers of the persistency API: store records, list loading, finds,
// deletion and existence of token objects.
#include "object/object_internal.h"

using namespace zeb::core;

namespace {

enum class Match { Id, Label, Both };

// First entry in list order with this type, algorithm and the padded ID
// and/or label; 0xFFFFFFFF when none. Not found is 6 for the ID and label
// searches, 0 for the combined one.
uint32_t find_entry(const VRK_SEOBJ_LIST* list, uint8_t type, uint8_t algo, const uint8_t* id, const uint8_t* label,
                    Match how, uint32_t* pIndex) {
  if (list == nullptr || pIndex == nullptr) return VRK_ERR_ARGUMENTS;
  uint8_t want_id[VRK_ID_LEN], want_label[VRK_LABEL_LEN];
  copy_field(want_id, id, sizeof want_id);
  copy_field(want_label, label, sizeof want_label);
  for (const STO_SEOBJ& e : list->seobj_array) {
    if (e.ObjIndex == ZEB_OBJ_NO_EXTENSION || e.ObjType != type || e.ObjKeyAlgo != algo) continue;
    if (e.ObjIndex == 0 && e.ObjId[0] == 0) continue;  // a free entry
    const bool id_ok = how == Match::Label || std::memcmp(e.ObjId, want_id, sizeof want_id) == 0;
    const bool label_ok = how == Match::Id || std::memcmp(e.ObjLabel, want_label, sizeof want_label) == 0;
    if (id_ok && label_ok) {
      *pIndex = e.ObjIndex;
      return VRK_OK;
    }
  }
  *pIndex = ZEB_OBJ_NO_EXTENSION;
  return how == Match::Both ? uint32_t{VRK_OK} : uint32_t{VRK_ERR_FAILED};
}

}  // namespace

extern "C" {

uint32_t SwStore_FindObjectsID(const VRK_SEOBJ_LIST* pObjList, uint8_t ObjType, uint8_t ObjKeyAlgo,
                               const uint8_t* pObjectID, uint32_t* pu32ObjectIndex) {
  return find_entry(pObjList, ObjType, ObjKeyAlgo, pObjectID, nullptr, Match::Id, pu32ObjectIndex);
}

uint32_t SwStore_FindObjectsLabel(const VRK_SEOBJ_LIST* pObjList, uint8_t ObjType, uint8_t ObjKeyAlgo,
                                  const uint8_t* pObjectLabel, uint32_t* pu32ObjectIndex) {
  return find_entry(pObjList, ObjType, ObjKeyAlgo, nullptr, pObjectLabel, Match::Label, pu32ObjectIndex);
}

uint32_t SwStore_FindObjects(const VRK_SEOBJ_LIST* pObjList, uint8_t ObjType, uint8_t ObjKeyAlgo,
                             const uint8_t* pObjectID, const uint8_t* pObjectLabel, uint32_t* pu32ObjectIndex) {
  return find_entry(pObjList, ObjType, ObjKeyAlgo, pObjectID, pObjectLabel, Match::Both, pu32ObjectIndex);
}

uint32_t SwStore_TransferObjectMeta_VRK_to_Store(VRK_OBJECT_META meta, STO_SEOBJ* pSto_meta) {
  if (pSto_meta == nullptr) return VRK_ERR_FAILED;
  *pSto_meta = STO_SEOBJ{};
  std::memcpy(pSto_meta->TknId, meta.TknId, sizeof pSto_meta->TknId);
  std::memcpy(pSto_meta->ObjId, meta.ObjId, sizeof pSto_meta->ObjId);
  std::memcpy(pSto_meta->ObjLabel, meta.ObjLabel, sizeof pSto_meta->ObjLabel);
  pSto_meta->ObjType = meta.ObjType;
  pSto_meta->ObjKeyAlgo = meta.ObjKeyAlgo;
  pSto_meta->u32DataLen = meta.u32DataLen;
  return VRK_OK;
}

uint32_t SwStore_LoadList(VRK_HANDLE hSession, VRK_SEOBJ_LIST* pObjList) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  return SA_LoadObjectList(&in, pObjList);
}

uint32_t SwStore_LoadTknObjList(VRK_HANDLE hHsmSess, const VRK_TOKEN_ID* tknid, VRK_SEOBJ_LIST* pObjList) {
  const SessionRef ctx(hHsmSess);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  PERSISTENCY_INPUT in;
  SwStore_SetStoInput(ctx->hSe, ctx->HsmSn, nullptr, &in);
  copy_field(in.TknId, tknid, sizeof in.TknId);
  return SA_LoadObjectList(&in, pObjList);
}

uint32_t SwStore_DeleteObjExtension(VRK_HANDLE, uint32_t) { return VRK_OK; }

uint32_t SwStore_DeleteObject(VRK_HANDLE hSession, uint32_t u32ObjectIndex) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  uint32_t size = 0;
  uint32_t rv = SA_GetObjectSize(&in, u32ObjectIndex, &size);
  if (rv != VRK_OK) return rv;
  if (size == 0) return VRK_ERR_DATA_LEN;
  ObjBuf obj;
  if (!obj.reset(size)) return VRK_ERR_HOST_MEMORY;
  uint32_t len = size;
  if ((rv = SA_GetObject(&in, u32ObjectIndex, obj.data(), &len)) != VRK_OK) return rv;
  VRK_OBJECT_META meta;
  if ((rv = DA_GetObjMetaPtr(ctx->hSe, obj.data(), len, &meta)) != VRK_OK) return rv;
  if (meta.u32ObjExtIndex != ZEB_OBJ_NO_EXTENSION &&
      (rv = SwStore_DeleteObjExtension(hSession, u32ObjectIndex)) != VRK_OK) {
    return rv;
  }
  return SA_DeleteObject(&in, u32ObjectIndex);
}

uint32_t SwStore_CheckObjectExist(VRK_HANDLE hSession, uint32_t u32ObjectIndex) {
  const SessionRef ctx(hSession);
  if (!ctx) return VRK_ERR_SESSION_HANDLE;
  PERSISTENCY_INPUT in = sto_input(*ctx);
  uint32_t size = 0;
  const uint32_t rv = SA_GetObjectSize(&in, u32ObjectIndex, &size);
  if (rv != VRK_OK) return rv;
  return size == 0 ? VRK_ERR_OBJECT_ABSENT : VRK_OK;
}

}  // extern "C"
