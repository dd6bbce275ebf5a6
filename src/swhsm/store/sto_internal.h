// Internals shared by the object store's source files.
#pragma once

#include <cstdint>

#include "swhsm/sto.h"

namespace sto {

// Prints the failure line of the store and returns `rv` (0 prints nothing).
[[nodiscard]] uint32_t report(uint32_t rv, int line, const char* func);
#define STO_REPORT(rv) ::sto::report((rv), __LINE__, __func__)

// The paths of one token's store, each shorter than 128 bytes.
struct TokenPaths {
  char store[STO_PATH_LEN];  // R "/Store"
  char hsm[STO_PATH_LEN];    // R "/Store/" sn
  char dir[STO_PATH_LEN];    // R "/Store/" sn "/" id
  char list[STO_PATH_LEN];   // dir "/objlist.cfg"
  char lock[STO_PATH_LEN];   // dir "/objlist.lock"
};

// Builds the paths of the token that `in` names: 0, 0x150 when a path does
// not fit, 6 when the serial number or token id is empty or not usable as a
// directory name.
[[nodiscard]] uint32_t token_paths(const PERSISTENCY_INPUT& in, TokenPaths* out);
// dir "/" index ".obj": 0 or 0x150.
[[nodiscard]] uint32_t object_path(const TokenPaths& p, uint32_t index, char (&out)[STO_PATH_LEN]);
// Creates the missing directories of the tree (mode 0777 less the umask): 0 or 6.
[[nodiscard]] uint32_t make_dirs(const TokenPaths& p);

// The token's store lock. acquire() waits a bounded time for it (6 when it
// cannot be had); the destructor releases it. Every change holds it alone; a
// read of one object shares it with other readers.
class StoreLock {
 public:
  StoreLock() = default;
  ~StoreLock();
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;
  [[nodiscard]] uint32_t acquire(const char* lock_path, bool shared = false);
  void release();
  // The change stamp (0 when none was ever written).
  uint64_t stamp() const;
  // Draws and records a new stamp; false when it cannot be written.
  [[nodiscard]] bool renew_stamp(uint64_t* out);

 private:
  int fd_ = -1;
};

// List access under a held lock.
//   load_list: from the cache when its stamp is current, else from the file
//   (an empty list file is written first when none exists); a file that is
//   not exactly 40,968 bytes is refused as corrupt (6).
//   save_list: new stamp, file replaced atomically, cache updated.
[[nodiscard]] uint32_t load_list(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock, STO_SEOBJ_LIST* out);
[[nodiscard]] uint32_t save_list(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock, const STO_SEOBJ_LIST& list);
// Writes an empty list (new stamp); the cache is left to the stamp.
[[nodiscard]] uint32_t write_empty_list(const TokenPaths& p, StoreLock& lock);
// Removes the cached list of the token (if any).
void cache_drop(const PERSISTENCY_INPUT& in);
// Drops the whole list cache (as a fresh process would start).
void cache_clear();

// The commit record of an update (see sto_recovery.cpp): written before the
// list is saved, dropped once the object file is replaced.
uint32_t write_pending(const TokenPaths& p, uint32_t index, const STO_SEOBJ& entry, const uint8_t* obj,
                       uint32_t len);
void drop_pending(const TokenPaths& p);
// Whether a commit record lies in the token directory (a killed writer's).
[[nodiscard]] bool pending_exists(const TokenPaths& p);
// Finishes or drops an update that a killed process left; the lock is held.
[[nodiscard]] uint32_t settle_pending(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock);
// settle_pending, then removes the token directory's dead temporary files
// and the object files its list does not name; the lock is held.
[[nodiscard]] uint32_t tidy_token(const PERSISTENCY_INPUT& in, const TokenPaths& p, StoreLock& lock);
// tidy_token for every token store under the root (start-up).
void tidy_store();

// Moves the list's sequence above every object file in the token directory
// when the next index's file exists (a lost or damaged list restarts the
// sequence; a crash can leave an unlisted file): no object file is ever
// written over. One existence check in the usual case.
[[nodiscard]] uint32_t skip_existing_objects(const TokenPaths& p, STO_SEOBJ_LIST* list);

// Called between the writes of the composite operations with the name of the
// step just done ("object written", "list saved"); null in the product, set
// by the test seams (swhsm/testing.h) to end a process there as a crash would.
using StepHook = void (*)(const char* step);
extern StepHook g_step_hook;
// Calls the hook, if one is set.
void step(const char* name);

}  // namespace sto
