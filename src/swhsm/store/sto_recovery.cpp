// Object store: the commit record of an update, and the tidying of what a
// killed writer left behind.
//
// An update replaces two files, the list (metadata) and the object. So that
// a crash between the two never leaves them disagreeing, the new entry and
// object are first written together to "update.pending"; saving the list is
// the commit point; the object file is then replaced and the record removed.
// Whoever next holds the token's store lock finishes a committed update (the
// list entry equals the record's) or drops an uncommitted one.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <memory>
#include <string>
#include <vector>

#include "oxlu/file.h"
#include "quarzel/secure.h"
#include "sto_internal.h"

namespace sto {
namespace {

constexpr char kPendingName[] = "update.pending";
constexpr size_t kPendingHead = sizeof(uint32_t) + sizeof(STO_SEOBJ);

uint32_t pending_path(const TokenPaths& p, char (&out)[STO_PATH_LEN]) {
  const int n = std::snprintf(out, sizeof out, "%s/%s", p.dir, kPendingName);
  return n > 0 && static_cast<size_t>(n) < sizeof out ? STO_OK : STO_ERR_TOO_SMALL;
}

STO_SEOBJ* entry_of(STO_SEOBJ_LIST& list, uint32_t index) {
  for (auto& e : list.seobj_array) {
    if (e.ObjIndex == index && !(e.ObjIndex == 0 && e.ObjId[0] == 0)) return &e;
  }
  return nullptr;
}

// The object index a file name stands for ("<decimal>.obj"), or false.
bool object_index_of(const char* name, uint32_t* index) {
  const size_t n = std::strlen(name);
  if (n < 5 || std::strcmp(name + n - 4, ".obj") != 0) return false;
  char* end = nullptr;
  const long v = std::strtol(name, &end, 10);
  if (end != name + n - 4 || name[0] == '+' || name[0] == ' ') return false;
  // Written with "%d": indexes above INT_MAX are negative numbers.
  *index = static_cast<uint32_t>(static_cast<int>(v));
  return std::to_string(static_cast<int>(*index)) == std::string(name, n - 4);
}

// Runs `f`, turning a failed allocation into the store's host-memory code:
// these run below C entry points.
template <class F>
uint32_t guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return STO_ERR_HOST_MEMORY;
  }
}

}  // namespace

uint32_t write_pending(const TokenPaths& p, uint32_t index, const STO_SEOBJ& entry, const uint8_t* obj,
                       uint32_t len) {
  // Containers below may fail to allocate: report it, never throw.
  return guarded([&]() -> uint32_t {
    char path[STO_PATH_LEN];
    if (pending_path(p, path) != STO_OK) return STO_ERR_TOO_SMALL;
    quarzel::SecretBytes rec(kPendingHead + len);
    std::memcpy(rec.data(), &index, sizeof index);
    std::memcpy(rec.data() + sizeof index, &entry, sizeof entry);
    if (len != 0) std::memcpy(rec.data() + kPendingHead, obj, len);
    return oxlu_write_file_atomic(path, rec.data(), rec.size(), OXLU_PERM_SECRET) == OXLU_OK ? STO_OK
                                                                                             : STO_ERR_FAILED;
  });
}

void drop_pending(const TokenPaths& p) {
  char path[STO_PATH_LEN];
  if (pending_path(p, path) == STO_OK) (void)remove_safe(path);  // best effort: start-up retries
}

bool pending_exists(const TokenPaths& p) {
  char path[STO_PATH_LEN];
  // A path that does not fit is no record: settle_pending says the same.
  return pending_path(p, path) == STO_OK && ::access(path, F_OK) == 0;
}

uint32_t settle_pending(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock) {
  // Containers below may fail to allocate: report it, never throw.
  return guarded([&]() -> uint32_t {
    char path[STO_PATH_LEN];
    if (pending_path(p, path) != STO_OK || ::access(path, F_OK) != 0) return STO_OK;
    quarzel::SecretBytes rec(kPendingHead + STO_MAX_OBJECT_LEN);
    size_t len = 0;
    if (oxlu_read_file(path, rec.data(), rec.size(), &len) != OXLU_OK || len < kPendingHead) {
      (void)remove_safe(path);  // never committed whole: the list cannot name it
      return STO_OK;
    }
    uint32_t index = 0;
    STO_SEOBJ entry{};
    std::memcpy(&index, rec.data(), sizeof index);
    std::memcpy(&entry, rec.data() + sizeof index, sizeof entry);
    auto list = std::make_unique<STO_SEOBJ_LIST>();
    uint32_t rv = load_list(in, p, lock, list.get());
    if (rv != STO_OK) return rv;  // the record stays for a later try
    const STO_SEOBJ* listed = entry_of(*list, index);
    if (listed != nullptr && std::memcmp(listed, &entry, sizeof entry) == 0) {
      // Committed: the object file follows the list.
      char obj[STO_PATH_LEN];
      if ((rv = object_path(p, index, obj)) != STO_OK) return rv;
      if (oxlu_write_file_atomic(obj, rec.data() + kPendingHead, len - kPendingHead, OXLU_PERM_SECRET) != OXLU_OK) {
        return STO_ERR_FAILED;
      }
    }
    (void)remove_safe(path);  // best effort: replaying it again is harmless
    return STO_OK;
  });
}

uint32_t tidy_token(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock) {
  // Containers below may fail to allocate: report it, never throw.
  return guarded([&]() -> uint32_t {
    uint32_t rv = settle_pending(in, p, lock);
    if (rv != STO_OK) return rv;
    // Temporary files first: every writer here holds the store lock, which we
    // hold, so none of them is live.
    oxlu::remove_dead_temps(p.dir);
    // Object files the list does not name: a delete killed after the list was
    // saved, or a create killed before. Only against a whole list: a missing or
    // damaged one must never cost an object.
    struct stat st {};
    if (::stat(p.list, &st) != 0 || static_cast<size_t>(st.st_size) != sizeof(STO_SEOBJ_LIST)) return STO_OK;
    auto list = std::make_unique<STO_SEOBJ_LIST>();
    if ((rv = load_list(in, p, lock, list.get())) != STO_OK) return rv;
    DIR* d = ::opendir(p.dir);
    if (d == nullptr) return STO_OK;
    std::vector<std::string> orphans;
    while (dirent* e = ::readdir(d)) {
      uint32_t index = 0;
      if (object_index_of(e->d_name, &index) && entry_of(*list, index) == nullptr) orphans.emplace_back(e->d_name);
    }
    ::closedir(d);
    for (const std::string& name : orphans) (void)remove_safe((std::string(p.dir) + "/" + name).c_str());
    return STO_OK;
  });
}

void tidy_store() {
  (void)guarded([&]() -> uint32_t {
    TokenPaths root{};
    PERSISTENCY_INPUT probe{};
    std::memcpy(probe.HsmSn, "x", 1);
    std::memcpy(probe.TknId, "x", 1);
    if (token_paths(probe, &root) != STO_OK) return STO_OK;
    DIR* store = ::opendir(root.store);
    if (store == nullptr) return STO_OK;
    std::vector<std::string> hsms;
    while (dirent* e = ::readdir(store)) {
      if (e->d_name[0] != '.' && std::strlen(e->d_name) <= 16) hsms.emplace_back(e->d_name);
    }
    ::closedir(store);
    for (const std::string& sn : hsms) {
      DIR* h = ::opendir((std::string(root.store) + "/" + sn).c_str());
      if (h == nullptr) continue;
      std::vector<std::string> tokens;
      while (dirent* e = ::readdir(h)) {
        if (e->d_name[0] != '.' && std::strlen(e->d_name) <= 16) tokens.emplace_back(e->d_name);
      }
      ::closedir(h);
      for (const std::string& id : tokens) {
        PERSISTENCY_INPUT in{};
        std::memcpy(in.HsmSn, sn.data(), sn.size());
        std::memcpy(in.TknId, id.data(), id.size());
        TokenPaths p{};
        if (token_paths(in, &p) != STO_OK || ::access(p.lock, F_OK) != 0) continue;  // not a token's store
        StoreLock lock;
        if (lock.acquire(p.lock) != STO_OK) continue;  // busy: the next start-up tidies it
        (void)tidy_token(in, p, lock);  // best effort: the next start-up tidies what is left
      }
    }
    return STO_OK;
  });
}

}  // namespace sto
