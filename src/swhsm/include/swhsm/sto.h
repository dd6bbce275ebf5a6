// Software object store: the token objects of the software HSM on disk.
//
// Layout under the root R (from "./sto_filepath.cfg", key "tknobj_config_path="):
//   R "/Store/" <HsmSn> "/" <TknId> "/objlist.cfg"   the object list (40,968 bytes)
//   R "/Store/" <HsmSn> "/" <TknId> "/" <n> ".obj"   one file per object
//   R "/Store/" <HsmSn> "/" <TknId> "/objlist.lock"  the store's lock
//
// Every operation that reads or changes a token's list or objects runs under
// the token's store lock (an exclusive flock on "objlist.lock", waited for a
// bounded time), so that the module, the tool and other applications never
// hand out one index twice or lose each other's entries. The lock file also
// carries a change stamp: whoever saves the list draws a new one, and a
// process reloads its cached list whenever the stamp differs from the one it
// cached. Files are replaced atomically (temporary file, fsync, rename).
#pragma once

#include <cstddef>
#include <cstdint>

#include "zeb/storage.h"

inline constexpr uint32_t STO_OK = 0;
inline constexpr uint32_t STO_ERR_HOST_MEMORY = 0x002;  // CKR_HOST_MEMORY
inline constexpr uint32_t STO_ERR_FAILED = 0x006;       // file or directory cannot be used; corrupt list
inline constexpr uint32_t STO_ERR_FULL = 0x031;         // more than 512 objects
inline constexpr uint32_t STO_ERR_NOT_FOUND = 0x082;    // object or list entry absent
inline constexpr uint32_t STO_ERR_TOO_SMALL = 0x150;    // path too long; caller's buffer too small
inline constexpr uint32_t STO_ERR_SEQUENCE = 0x160;     // index sequence exhausted
inline constexpr uint32_t STO_ERR_NULL = 0x600;         // null argument
inline constexpr uint32_t STO_ERR_CACHE_MISS = 0x601;   // internal: list not cached

inline constexpr size_t STO_PATH_LEN = 128;
inline constexpr size_t STO_LIST_FILE_LEN = sizeof(STO_SEOBJ_LIST);  // 40,968
inline constexpr uint32_t STO_LAST_INDEX = 0xFFFFFFFEu;
// Largest object file the store reads (an RSA-4096 private key object is
// under 3 KiB; certificates and data objects stay far below this).
inline constexpr uint32_t STO_MAX_OBJECT_LEN = 1u << 20;
inline constexpr size_t STO_CACHE_SLOTS = 10;

// One slot of the list cache. `stamp` is the change stamp the list was read
// or saved under and `file_id` the identity of the list file then (inode,
// size and modification time folded together): a cached list is used only
// while both are unchanged. Kept in memory only.
typedef struct STO_SEOBJ_LIST_CACHE {
  uint8_t hsm_sn[16];
  uint8_t tkn_id[16];
  STO_SEOBJ_LIST object_list_cache;
  uint64_t stamp;
  uint64_t file_id;
} STO_SEOBJ_LIST_CACHE;

extern "C" {

// The slots of swstore_functions.
uint32_t Sto_GetStorageInfo(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pStorage_status, STO_LAYOUT* pTotalLayout,
                            STO_LAYOUT* pFreeLayout);
[[nodiscard]] uint32_t Sto_SetLayout(PERSISTENCY_INPUT_PTR pStoInput, STO_LAYOUT* pInputLayout, STO_LAYOUT* pOutputLayout);
// Reads the root from "./sto_filepath.cfg" ("./" when the file is absent);
// a root of 128 bytes or more is refused with STO_ERR_TOO_SMALL.
[[nodiscard]] uint32_t Sto_Initialize(STO_TKN_OBJECT_CONFIG_PATH* pfilepathConf);
[[nodiscard]] uint32_t Sto_CreateTokenStorage(PERSISTENCY_INPUT_PTR pStoInput);
uint32_t Sto_CreateObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjectIndex, uint8_t* pObject,
                          uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta);
uint32_t Sto_UpdateObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                          uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta);
// Two objects as one change: both files written, then one list naming both.
[[nodiscard]] uint32_t Sto_CreateObjectPair(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pFirst, uint32_t u32FirstLen,
                                            STO_SEOBJ* pFirstEntry, uint8_t* pSecond, uint32_t u32SecondLen,
                                            STO_SEOBJ* pSecondEntry, uint32_t* pu32FirstIndex,
                                            uint32_t* pu32SecondIndex);
[[nodiscard]] uint32_t Sto_DeleteObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex);
[[nodiscard]] uint32_t Sto_DeleteObjList(PERSISTENCY_INPUT_PTR pStoInput);
[[nodiscard]] uint32_t Sto_DeleteObjDir(PERSISTENCY_INPUT_PTR pStoInput);
[[nodiscard]] uint32_t Sto_GetObjectSize(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint32_t* pu32ObjectLen);
// *pu32ObjectLen: the capacity of pObject in, the object's length out. A
// buffer too small gives STO_ERR_TOO_SMALL with the needed length written,
// nothing copied.
uint32_t Sto_GetObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                       uint32_t* pu32ObjectLen);
[[nodiscard]] uint32_t Sto_SaveObjectList(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData);
[[nodiscard]] uint32_t Sto_LoadObjectList(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData);

}  // extern "C"

namespace sto {

// Index allocation on a loaded list (no file access): the next index from
// ObjSeq into the first free entry, filled from `meta`. STO_ERR_FULL when the
// list already holds 512 objects (or has no free entry), STO_ERR_SEQUENCE
// when the sequence is exhausted; the list is unchanged on failure.
[[nodiscard]] uint32_t allocate_index(STO_SEOBJ_LIST* list, const STO_SEOBJ& meta, uint32_t* index);

// The root in use (for tests and diagnostics).
const char* root();


}  // namespace sto
