// The layers under the core's object API: the session-object slot store
// (SwSess_*) and the store helpers of the persistency API (SwStore_*). The
// core's own units use them; tests reach them here too.
#pragma once

#include "zeb/vrk_object.h"

extern "C" {

// ---- Object model ------------------------------------------------------------
// Key size, cipher type, hash type or curve id to the object's key algorithm
// (VRK_KEY_*): 0, or VRK_ERR_KEY_ALGO with VRK_KEY_NONE written.
[[nodiscard]] uint32_t SwObj_GetObjKeyAlgo(uint32_t u32KeyAlgo, uint8_t* pObjKeyAlgo);

// ---- Session-object slots --------------------------------------------------
[[nodiscard]] uint32_t SwSess_SessObjIndexToSessObjlistIndex(uint32_t u32SessObjIndex, uint32_t* pu32SessionObjlistIndex);
[[nodiscard]] uint32_t SwSess_SessObjlistIndexToSessObjIndex(uint32_t u32SessionObjlistIndex, uint32_t* pu32SessObjIndex);
[[nodiscard]] uint32_t SwSess_NewSessionObjectIndex(VRK_HANDLE hSession, uint32_t* pu32SessionObjectIndex);
// Allocates the new copy first: a failed allocation (VRK_ERR_HOST_MEMORY)
// leaves the slot as it was. The old copy is wiped before it is freed.
[[nodiscard]] uint32_t SwSess_UpdateSessionObject(VRK_HANDLE hSession, uint32_t hObj, uint8_t* pObject, uint32_t u32ObjectLen);
uint32_t SwSess_CacheSessionObject(VRK_HANDLE hSession, uint8_t* pObject, uint32_t u32ObjectLen,
                                   uint32_t* pu32SessionObjectIndex);
[[nodiscard]] uint32_t SwSess_GetSessionObjectSize(VRK_HANDLE hSession, uint32_t hObj, uint32_t* pu32ObjectLen);
[[nodiscard]] uint32_t SwSess_GetSessionObject(VRK_HANDLE hSession, uint32_t hObj, uint8_t* pObject, uint32_t* pu32ObjectLen);
[[nodiscard]] uint32_t SwSess_CheckSessionObjectExists(VRK_HANDLE hSession, uint32_t hObj);
[[nodiscard]] uint32_t SwSess_CheckSessionObjectIdConflict(VRK_HANDLE hSession, const uint8_t* ObjId);
uint32_t SwSess_FindSessionObjects(VRK_HANDLE hSession, uint8_t ObjType, uint8_t ObjKeyAlgo, const uint8_t* ObjId,
                                   const uint8_t* ObjLabel, uint32_t* pu32SessionObjectIndex);
[[nodiscard]] uint32_t SwSess_DeleteSessionObject(VRK_HANDLE hSession, uint32_t hObj);
[[nodiscard]] uint32_t SwSess_DeleteSessionObjExtension(VRK_HANDLE hSession, uint32_t hObj);

// ---- Store helpers -----------------------------------------------------------
[[nodiscard]] uint32_t SwStore_TransferObjectMeta_VRK_to_Store(VRK_OBJECT_META meta, STO_SEOBJ* pSto_meta);
[[nodiscard]] uint32_t SwStore_LoadList(VRK_HANDLE hSession, VRK_SEOBJ_LIST* pObjList);
[[nodiscard]] uint32_t SwStore_LoadTknObjList(VRK_HANDLE hHsmSess, const VRK_TOKEN_ID* tknid,
                                              VRK_SEOBJ_LIST* pObjList);
// Searches of a loaded list: the first entry in list order with this type,
// algorithm and ID / label / both (zero-padded to 16 / 32 bytes). Not found:
// 0xFFFFFFFF written, and 6 from the ID and label searches, 0 from the
// combined one.
[[nodiscard]] uint32_t SwStore_FindObjectsID(const VRK_SEOBJ_LIST* pObjList, uint8_t ObjType, uint8_t ObjKeyAlgo,
                                             const uint8_t* pObjectID, uint32_t* pu32ObjectIndex);
[[nodiscard]] uint32_t SwStore_FindObjectsLabel(const VRK_SEOBJ_LIST* pObjList, uint8_t ObjType, uint8_t ObjKeyAlgo,
                                                const uint8_t* pObjectLabel, uint32_t* pu32ObjectIndex);
[[nodiscard]] uint32_t SwStore_FindObjects(const VRK_SEOBJ_LIST* pObjList, uint8_t ObjType, uint8_t ObjKeyAlgo,
                                           const uint8_t* pObjectID, const uint8_t* pObjectLabel,
                                           uint32_t* pu32ObjectIndex);
[[nodiscard]] uint32_t SwStore_DeleteObject(VRK_HANDLE hSession, uint32_t u32ObjectIndex);
[[nodiscard]] uint32_t SwStore_CheckObjectExist(VRK_HANDLE hSession, uint32_t u32ObjectIndex);
[[nodiscard]] uint32_t SwStore_DeleteObjExtension(VRK_HANDLE htknsess, uint32_t u32ObjectIndex);

}  // extern "C"
