// Object store: the storage operations (the slots of swstore_functions).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "oxlu/file.h"
#include "quarzel/secure.h"
#include "sto_internal.h"

using namespace sto;

namespace {

// Object files hold keys (wrapped under the token key): owner only.
constexpr unsigned kObjectPerm = OXLU_PERM_SECRET;

// Paths of the token, the directories made and its store lock held: the
// common opening of every operation that reads or changes the token's store.
struct Opened {
  TokenPaths paths{};
  StoreLock lock;
};

uint32_t open_token(PERSISTENCY_INPUT_PTR in, Opened* o, bool create_dirs) {
  uint32_t rv = token_paths(*in, &o->paths);
  if (rv != STO_OK) return rv;
  if (create_dirs && (rv = make_dirs(o->paths)) != STO_OK) return rv;
  if ((rv = o->lock.acquire(o->paths.lock)) != STO_OK) return rv;
  // An update that a killed process committed is finished before anything
  // reads or changes the store.
  return settle_pending(*in, o->paths, o->lock);
}

// open_token for a reader: the lock shared with other readers, or, when a
// killed writer's update waits to be settled, held alone to settle it first.
uint32_t open_token_to_read(PERSISTENCY_INPUT_PTR in, Opened* o) {
  uint32_t rv = token_paths(*in, &o->paths);
  if (rv != STO_OK) return rv;
  if ((rv = o->lock.acquire(o->paths.lock, true)) != STO_OK) return rv;
  if (!pending_exists(o->paths)) return STO_OK;
  o->lock.release();
  return open_token(in, o, false);
}

// Reads a whole object file through `fd` into `out` (capacity *len): its
// length to *len, or the size needed with STO_ERR_TOO_SMALL.
uint32_t read_object(int fd, uint8_t* out, uint32_t* len) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return STO_ERR_NOT_FOUND;
  if (st.st_size > static_cast<off_t>(STO_MAX_OBJECT_LEN)) return STO_ERR_NOT_FOUND;
  const auto size = static_cast<uint32_t>(st.st_size);
  if (size > *len) {
    *len = size;
    return STO_ERR_TOO_SMALL;
  }
  uint32_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, out + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return STO_ERR_NOT_FOUND;
    got += static_cast<uint32_t>(n);
  }
  *len = size;
  return STO_OK;
}

void copy_entry_fields(STO_SEOBJ& e, const STO_SEOBJ& m) {
  std::memcpy(e.TknId, m.TknId, sizeof e.TknId);
  std::memcpy(e.ObjId, m.ObjId, sizeof e.ObjId);
  std::memcpy(e.ObjLabel, m.ObjLabel, sizeof e.ObjLabel);
  e.ObjType = m.ObjType;
  e.ObjKeyAlgo = m.ObjKeyAlgo;
  e.u32DataLen = m.u32DataLen;
}

bool file_exists(const char* path) { return ::access(path, F_OK) == 0; }

}  // namespace

extern "C" {

uint32_t Sto_GetStorageInfo(PERSISTENCY_INPUT_PTR, uint8_t*, STO_LAYOUT*, STO_LAYOUT*) { return STO_OK; }

uint32_t Sto_SetLayout(PERSISTENCY_INPUT_PTR, STO_LAYOUT*, STO_LAYOUT*) { return STO_OK; }

uint32_t Sto_CreateTokenStorage(PERSISTENCY_INPUT_PTR pStoInput) {
  if (pStoInput == nullptr) return STO_ERR_NULL;
  Opened o;
  uint32_t rv = open_token(pStoInput, &o, true);
  if (rv != STO_OK) return STO_REPORT(rv);
  return write_empty_list(o.paths, o.lock);
}

}  // extern "C"

namespace {

// One object to add to a token's list: its bytes and its list entry.
struct NewObject {
  const uint8_t* data;
  uint32_t len;
  const STO_SEOBJ* entry;
};

// Adds objects to the token's list as one change: load, allocate and save
// under one hold of the lock, so no other process takes the same index or
// writes the list in between. Every object file is written before the list
// that names them: a crash before the list is saved leaves only unlisted
// files, which start-up removes (numbering goes on above them), never one
// object of a pair without the other.
uint32_t create_listed(PERSISTENCY_INPUT_PTR in, const NewObject* objects, size_t n, uint32_t* indices) {
  for (size_t i = 0; i < n; ++i) {
    if (objects[i].len > STO_MAX_OBJECT_LEN) return STO_REPORT(STO_ERR_FAILED);
  }
  Opened o;
  uint32_t rv = open_token(in, &o, true);
  if (rv != STO_OK) return STO_REPORT(rv);
  auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
  if (!list) return STO_REPORT(STO_ERR_HOST_MEMORY);
  if ((rv = load_list(*in, o.paths, o.lock, list.get())) != STO_OK) return rv;
  if ((rv = skip_existing_objects(o.paths, list.get())) != STO_OK) return STO_REPORT(rv);
  for (size_t i = 0; i < n; ++i) {
    if ((rv = allocate_index(list.get(), *objects[i].entry, &indices[i])) != STO_OK) return STO_REPORT(rv);
  }
  for (size_t i = 0; i < n; ++i) {
    char path[STO_PATH_LEN];
    if ((rv = object_path(o.paths, indices[i], path)) != STO_OK) return STO_REPORT(rv);
    if (oxlu_write_file_atomic(path, objects[i].data, objects[i].len, kObjectPerm) != OXLU_OK) {
      return STO_REPORT(STO_ERR_FAILED);
    }
    step(i + 1 < n ? "first object written" : "object written");
  }
  if ((rv = save_list(*in, o.paths, o.lock, *list)) != STO_OK) return rv;
  step("list saved");
  return STO_OK;
}

}  // namespace

extern "C" {

uint32_t Sto_CreateObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t* pu32ObjectIndex, uint8_t* pObject,
                          uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta) {
  if (pStoInput == nullptr || pu32ObjectIndex == nullptr || pSto_objmeta == nullptr ||
      (pObject == nullptr && u32ObjectLen != 0)) {
    return STO_ERR_NULL;
  }
  const NewObject object{pObject, u32ObjectLen, pSto_objmeta};
  uint32_t index = 0;
  const uint32_t rv = create_listed(pStoInput, &object, 1, &index);
  if (rv == STO_OK) *pu32ObjectIndex = index;
  return rv;
}

uint32_t Sto_CreateObjectPair(PERSISTENCY_INPUT_PTR pStoInput, uint8_t* pFirst, uint32_t u32FirstLen,
                              STO_SEOBJ* pFirstEntry, uint8_t* pSecond, uint32_t u32SecondLen, STO_SEOBJ* pSecondEntry,
                              uint32_t* pu32FirstIndex, uint32_t* pu32SecondIndex) {
  if (pStoInput == nullptr || pFirstEntry == nullptr || pSecondEntry == nullptr || pu32FirstIndex == nullptr ||
      pu32SecondIndex == nullptr || (pFirst == nullptr && u32FirstLen != 0) ||
      (pSecond == nullptr && u32SecondLen != 0)) {
    return STO_ERR_NULL;
  }
  const NewObject objects[2] = {{pFirst, u32FirstLen, pFirstEntry}, {pSecond, u32SecondLen, pSecondEntry}};
  uint32_t index[2] = {};
  const uint32_t rv = create_listed(pStoInput, objects, 2, index);
  if (rv == STO_OK) {
    *pu32FirstIndex = index[0];
    *pu32SecondIndex = index[1];
  }
  return rv;
}

uint32_t Sto_UpdateObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                          uint32_t u32ObjectLen, STO_SEOBJ* pSto_objmeta) {
  if (pStoInput == nullptr || pSto_objmeta == nullptr || (pObject == nullptr && u32ObjectLen != 0)) {
    return STO_ERR_NULL;
  }
  if (u32ObjectLen > STO_MAX_OBJECT_LEN) return STO_REPORT(STO_ERR_FAILED);
  Opened o;
  uint32_t rv = open_token(pStoInput, &o, true);
  if (rv != STO_OK) return STO_REPORT(rv);
  auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
  if (!list) return STO_REPORT(STO_ERR_HOST_MEMORY);
  if ((rv = load_list(*pStoInput, o.paths, o.lock, list.get())) != STO_OK) return rv;
  bool found = false;
  for (auto& e : list->seobj_array) {
    if (e.ObjIndex == u32ObjectIndex && !(e.ObjIndex == 0 && e.ObjId[0] == 0)) {
      copy_entry_fields(e, *pSto_objmeta);
      found = true;
    }
  }
  if (!found) return STO_REPORT(STO_ERR_NOT_FOUND);
  char path[STO_PATH_LEN];
  if ((rv = object_path(o.paths, u32ObjectIndex, path)) != STO_OK) return STO_REPORT(rv);
  // One write commits: the record of the new entry and object, then the
  // list (the commit point), then the object file. A crash anywhere leaves
  // list and file agreeing once the next store operation settles the record.
  STO_SEOBJ entry{};
  for (const auto& e : list->seobj_array) {
    if (e.ObjIndex == u32ObjectIndex && !(e.ObjIndex == 0 && e.ObjId[0] == 0)) {
      entry = e;
      break;
    }
  }
  if ((rv = write_pending(o.paths, u32ObjectIndex, entry, pObject, u32ObjectLen)) != STO_OK) return STO_REPORT(rv);
  step("update recorded");
  if ((rv = save_list(*pStoInput, o.paths, o.lock, *list)) != STO_OK) {
    drop_pending(o.paths);
    return rv;
  }
  step("list saved");
  if (oxlu_write_file_atomic(path, pObject, u32ObjectLen, kObjectPerm) != OXLU_OK) {
    // Committed all the same: the record finishes it at the next operation.
    return STO_REPORT(STO_ERR_FAILED);
  }
  step("object written");
  drop_pending(o.paths);
  return STO_OK;
}

uint32_t Sto_DeleteObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex) {
  if (pStoInput == nullptr) return STO_ERR_NULL;
  Opened o;
  uint32_t rv = open_token(pStoInput, &o, true);
  if (rv != STO_OK) return STO_REPORT(rv);
  auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
  if (!list) return STO_REPORT(STO_ERR_HOST_MEMORY);
  if ((rv = load_list(*pStoInput, o.paths, o.lock, list.get())) != STO_OK) return rv;
  STO_SEOBJ* entry = nullptr;
  for (auto& e : list->seobj_array) {
    if (e.ObjIndex == u32ObjectIndex && !(e.ObjIndex == 0 && e.ObjId[0] == 0)) {
      entry = &e;
      break;
    }
  }
  if (entry == nullptr) return STO_REPORT(STO_ERR_NOT_FOUND);
  char path[STO_PATH_LEN];
  if ((rv = object_path(o.paths, u32ObjectIndex, path)) != STO_OK) return STO_REPORT(rv);
  // The entry goes first: a crash before the file is removed leaves an
  // unlisted file (its index is never given again), never an entry whose
  // object is gone.
  std::memset(entry, 0, sizeof *entry);
  list->ObjNum -= 1;
  if ((rv = save_list(*pStoInput, o.paths, o.lock, *list)) != STO_OK) return rv;
  step("list saved");
  if (file_exists(path) && remove_safe(path) != 0) return STO_REPORT(STO_ERR_NOT_FOUND);
  return STO_OK;
}

uint32_t Sto_DeleteObjList(PERSISTENCY_INPUT_PTR pStoInput) {
  if (pStoInput == nullptr) return STO_ERR_NULL;
  Opened o;
  uint32_t rv = open_token(pStoInput, &o, false);
  if (rv != STO_OK) return STO_REPORT(rv);
  uint64_t stamp = 0;
  if (!o.lock.renew_stamp(&stamp)) return STO_REPORT(STO_ERR_FAILED);
  cache_drop(*pStoInput);
  if (remove_safe(o.paths.list) != 0) return static_cast<uint32_t>(-1);
  return STO_OK;
}

uint32_t Sto_DeleteObjDir(PERSISTENCY_INPUT_PTR pStoInput) {
  if (pStoInput == nullptr) return STO_ERR_NULL;
  TokenPaths p{};
  uint32_t rv = token_paths(*pStoInput, &p);
  if (rv != STO_OK) return STO_REPORT(rv);
  {
    StoreLock lock;
    if (file_exists(p.lock) && lock.acquire(p.lock) == STO_OK) ::unlink(p.lock);
  }
  if (cross_rmdir(p.dir) != 0) {
    std::perror(p.dir);
    return static_cast<uint32_t>(-1);
  }
  return STO_OK;
}

uint32_t Sto_GetObjectSize(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint32_t* pu32ObjectLen) {
  if (pStoInput == nullptr || pu32ObjectLen == nullptr) return STO_ERR_NULL;
  TokenPaths p{};
  uint32_t rv = token_paths(*pStoInput, &p);
  if (rv != STO_OK) return STO_REPORT(rv);
  char path[STO_PATH_LEN];
  if ((rv = object_path(p, u32ObjectIndex, path)) != STO_OK) return STO_REPORT(rv);
  // Object files are only ever replaced by rename, so a size is always that
  // of one whole object.
  struct stat st {};
  if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return STO_REPORT(STO_ERR_FAILED);
  if (st.st_size > static_cast<off_t>(STO_MAX_OBJECT_LEN)) return STO_REPORT(STO_ERR_FAILED);
  *pu32ObjectLen = static_cast<uint32_t>(st.st_size);
  return STO_OK;
}

uint32_t Sto_GetObject(PERSISTENCY_INPUT_PTR pStoInput, uint32_t u32ObjectIndex, uint8_t* pObject,
                       uint32_t* pu32ObjectLen) {
  if (pStoInput == nullptr || pObject == nullptr || pu32ObjectLen == nullptr) return STO_ERR_NULL;
  Opened o;
  uint32_t rv = open_token_to_read(pStoInput, &o);
  if (rv != STO_OK) return STO_REPORT(rv == STO_ERR_FAILED ? STO_ERR_NOT_FOUND : rv);
  char path[STO_PATH_LEN];
  if ((rv = object_path(o.paths, u32ObjectIndex, path)) != STO_OK) return STO_REPORT(rv);
  // Object files change only by rename, under the store lock held alone: with
  // the lock shared, the file opened is one whole object and stays as it is,
  // so it needs no lock of its own. Its size is known before anything is
  // copied: a buffer too small is left as it was.
  // (Non-blocking: something other than a file there is refused, not waited on.)
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return STO_REPORT(STO_ERR_NOT_FOUND);
  rv = read_object(fd, pObject, pu32ObjectLen);
  ::close(fd);
  return rv == STO_OK ? STO_OK : STO_REPORT(rv);
}

uint32_t Sto_SaveObjectList(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData) {
  if (pStoInput == nullptr || pListData == nullptr) return STO_ERR_NULL;
  Opened o;
  uint32_t rv = open_token(pStoInput, &o, true);
  if (rv != STO_OK) return STO_REPORT(rv);
  return save_list(*pStoInput, o.paths, o.lock, *pListData);
}

uint32_t Sto_LoadObjectList(PERSISTENCY_INPUT_PTR pStoInput, STO_SEOBJ_LIST* pListData) {
  if (pStoInput == nullptr || pListData == nullptr) return STO_ERR_NULL;
  Opened o;
  uint32_t rv = open_token(pStoInput, &o, true);
  if (rv != STO_OK) return STO_REPORT(rv);
  return load_list(*pStoInput, o.paths, o.lock, pListData);
}

}  // extern "C"

extern "C" const SA_Functions_t swstore_functions = {
    SWStore_FUNCTIONS,  Sto_GetStorageInfo, Sto_SetLayout,     Sto_Initialize,    Sto_CreateTokenStorage,
    Sto_CreateObject,   Sto_UpdateObject,   Sto_DeleteObject,  Sto_DeleteObjList, Sto_DeleteObjDir,
    Sto_GetObjectSize,  Sto_GetObject,      Sto_SaveObjectList, Sto_LoadObjectList,
};
