// Object store: the object list (objlist.cfg), its cache and index
// allocation.
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "oxlu/file.h"
#include "quarzel/secure.h"
#include "sto_internal.h"

namespace sto {
namespace {

STO_SEOBJ_LIST_CACHE g_objectlist_cache[STO_CACHE_SLOTS];
// The file lock orders processes and threads on one token; this guards the
// cache itself, which threads working on different tokens share.
std::mutex g_cache_mutex;

bool slot_empty(const STO_SEOBJ_LIST_CACHE& c) { return c.hsm_sn[0] == 0 && c.tkn_id[0] == 0; }

bool slot_matches(const STO_SEOBJ_LIST_CACHE& c, const PERSISTENCY_INPUT& in) {
  return std::memcmp(c.hsm_sn, in.HsmSn, 16) == 0 && std::memcmp(c.tkn_id, in.TknId, 16) == 0;
}

STO_SEOBJ_LIST_CACHE* cache_find(const PERSISTENCY_INPUT& in) {
  for (auto& c : g_objectlist_cache) {
    if (!slot_empty(c) && slot_matches(c, in)) return &c;
  }
  return nullptr;
}

// Same key, else the first empty slot, else slot 0.
void cache_put(const PERSISTENCY_INPUT& in, const STO_SEOBJ_LIST& list, uint64_t stamp, uint64_t file_id) {
  std::lock_guard<std::mutex> guard(g_cache_mutex);
  STO_SEOBJ_LIST_CACHE* slot = cache_find(in);
  if (slot == nullptr) {
    for (auto& c : g_objectlist_cache) {
      if (slot_empty(c)) {
        slot = &c;
        break;
      }
    }
  }
  if (slot == nullptr) slot = &g_objectlist_cache[0];
  std::memcpy(slot->hsm_sn, in.HsmSn, 16);
  std::memcpy(slot->tkn_id, in.TknId, 16);
  slot->object_list_cache = list;
  slot->stamp = stamp;
  slot->file_id = file_id;
}

// The list file as it stands (0 when it cannot be seen).
uint64_t file_identity(const char* path) {
  struct stat st {};
  if (::stat(path, &st) != 0) return 0;
  uint64_t h = 1469598103934665603ull;  // FNV-1a over the fields
  for (uint64_t v : {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                     static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_mtim.tv_sec),
                     static_cast<uint64_t>(st.st_mtim.tv_nsec), static_cast<uint64_t>(st.st_ctim.tv_nsec)}) {
    h = (h ^ v) * 1099511628211ull;
  }
  return h == 0 ? 1 : h;
}

bool entry_free(const STO_SEOBJ& e) { return e.ObjIndex == 0 && e.ObjId[0] == 0; }

uint32_t write_list_file(const TokenPaths& p, StoreLock& lock, const STO_SEOBJ_LIST& list, uint64_t* stamp) {
  // The stamp changes before the file does: a reader that sees the old stamp
  // afterwards cannot exist, one that sees the new stamp rereads the file.
  if (!lock.renew_stamp(stamp)) return STO_ERR_FAILED;
  if (oxlu_write_file_atomic(p.list, &list, sizeof list, OXLU_PERM_PUBLIC) != OXLU_OK) return STO_ERR_FAILED;
  return STO_OK;
}

// The cached list when both its stamp and its file identity are current.
bool cache_get(const PERSISTENCY_INPUT& in, uint64_t stamp, uint64_t file_id, STO_SEOBJ_LIST* out) {
  if (stamp == 0 || file_id == 0) return false;
  std::lock_guard<std::mutex> guard(g_cache_mutex);
  const STO_SEOBJ_LIST_CACHE* c = cache_find(in);
  if (c == nullptr || c->stamp != stamp || c->file_id != file_id) return false;
  *out = c->object_list_cache;
  return true;
}

}  // namespace

void cache_clear() {
  std::lock_guard<std::mutex> guard(g_cache_mutex);
  std::memset(g_objectlist_cache, 0, sizeof g_objectlist_cache);
}

void cache_drop(const PERSISTENCY_INPUT& in) {
  std::lock_guard<std::mutex> guard(g_cache_mutex);
  STO_SEOBJ_LIST_CACHE* c = cache_find(in);
  if (c != nullptr) std::memset(c, 0, sizeof *c);
}

uint32_t allocate_index(STO_SEOBJ_LIST* list, const STO_SEOBJ& meta, uint32_t* index) {
  if (list->ObjNum >= STO_MAX_OBJECTS) return STO_ERR_FULL;
  if (list->ObjSeq >= STO_LAST_INDEX) return STO_ERR_SEQUENCE;
  STO_SEOBJ* slot = nullptr;
  for (auto& e : list->seobj_array) {
    if (entry_free(e)) {
      slot = &e;
      break;
    }
  }
  // A count that claims room where no entry is free belongs to a damaged
  // list: storing an object without an entry would lose it.
  if (slot == nullptr) return STO_ERR_FULL;
  const uint32_t idx = list->ObjSeq + 1;
  list->ObjNum += 1;
  list->ObjSeq = idx;
  std::memcpy(slot->TknId, meta.TknId, sizeof slot->TknId);
  std::memcpy(slot->ObjId, meta.ObjId, sizeof slot->ObjId);
  std::memcpy(slot->ObjLabel, meta.ObjLabel, sizeof slot->ObjLabel);
  slot->ObjType = meta.ObjType;
  slot->ObjKeyAlgo = meta.ObjKeyAlgo;
  slot->u32DataLen = meta.u32DataLen;
  slot->ObjIndex = idx;
  *index = idx;
  return STO_OK;
}

uint32_t load_list(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock, STO_SEOBJ_LIST* out) {
  const uint64_t stamp = lock.stamp();
  const uint64_t file_id = file_identity(p.list);
  if (cache_get(in, stamp, file_id, out)) return STO_OK;
  auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
  if (!list) return STO_REPORT(STO_ERR_HOST_MEMORY);
  size_t len = 0;
  int rc = oxlu_read_file(p.list, list.get(), sizeof *list, &len);
  if (rc == OXLU_E_NOENT) {
    uint64_t fresh = 0;
    if (write_list_file(p, lock, *list, &fresh) != STO_OK) return STO_REPORT(STO_ERR_FAILED);
    cache_put(in, *list, fresh, file_identity(p.list));
    *out = *list;
    return STO_OK;
  }
  // Anything but a whole list is damage: taking a short file as zero-filled
  // would restart the index sequence and overwrite stored objects.
  if (rc != OXLU_OK || len != sizeof *list) return STO_REPORT(STO_ERR_FAILED);
  cache_put(in, *list, stamp, file_id);
  *out = *list;
  return STO_OK;
}

uint32_t save_list(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock, const STO_SEOBJ_LIST& list) {
  uint64_t stamp = 0;
  const uint32_t rv = write_list_file(p, lock, list, &stamp);
  if (rv != STO_OK) {
    cache_drop(in);  // the file may or may not hold the new list now
    return STO_REPORT(rv);
  }
  cache_put(in, list, stamp, file_identity(p.list));
  return STO_OK;
}

uint32_t write_empty_list(const TokenPaths& p, StoreLock& lock) {
  auto list = quarzel::make_unique_nothrow<STO_SEOBJ_LIST>();
  if (!list) return STO_REPORT(STO_ERR_HOST_MEMORY);
  uint64_t stamp = 0;
  return STO_REPORT(write_list_file(p, lock, *list, &stamp));
}

}  // namespace sto
