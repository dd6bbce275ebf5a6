// Locked file access shared by every configuration and store file.
//
// Locking. A file "<name>" is guarded by a flock on its companion
// "<name>.lock" (created on first use, never removed while the file lives).
// The companion is used rather than the file itself because a rewrite
// replaces the file's inode by rename: a lock on the old inode would no longer
// guard the new one. Readers share the lock; a writer holds it alone. An open
// that meets a holder it cannot share with waits up to OXLU_BUSY_WAIT_MS, then
// fails busy. The locks hold between threads of one process as between
// processes (each open has a lock of its own).
//
// Replacement. Every write goes to a temporary file in the same directory,
// is flushed to disk (fsync) and renamed over the file, and the directory is
// synced, so a crash or a full disk leaves either the old or the new content,
// never a torn or empty file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <sys/types.h>

// Permissions of files holding PINs or keys.
inline constexpr unsigned OXLU_PERM_SECRET = 0600;
// Permissions of other files (before the process's file-creation mask).
inline constexpr unsigned OXLU_PERM_PUBLIC = 0666;

// How long an open waits for a file held against it before it fails busy.
inline constexpr int OXLU_BUSY_WAIT_MS = 2000;

// Result codes of the oxlu_* routines.
inline constexpr int OXLU_OK = 0;
inline constexpr int OXLU_E_ARG = 1;     // null argument or bad mode
inline constexpr int OXLU_E_NOENT = 2;   // file missing
inline constexpr int OXLU_E_BUSY = 3;    // locked by someone else
inline constexpr int OXLU_E_IO = 4;      // create, write, sync or rename failed
inline constexpr int OXLU_E_TOOBIG = 5;  // file larger than the caller's buffer

extern "C" {

// Mode starting with 'w': a stream whose content replaces the file
// atomically when it is closed (fclose_safe, or fclose) without a write
// error; permissions 0666 before the mask. Any other mode: the file opened
// read-only (a missing file fails and creates nothing). Null on any failure,
// also when the file stays busy; a refused open never changes the file.
FILE* fopen_safe(const char* filename, const char* mode);
// As fopen_safe, with the permissions of a file that 'w' creates.
FILE* fopen_safe_perm(const char* filename, const char* mode, unsigned perm);
// Commits a 'w' stream (flush, sync, rename) and releases the lock.
// 0, or -1 when anything failed (the file then keeps its old content).
[[nodiscard]] int fclose_safe(FILE* file);

// One directory level, 0777 before the mask: 0 or -1.
[[nodiscard]] int cross_mkdir(const char* path);
// Removes a file or an empty directory: 0 or -1.
[[nodiscard]] int cross_rmdir(const char* dir);
// Removes a file and its lock companion, under the lock: 0, or -1 (busy,
// missing, or not removable).
[[nodiscard]] int remove_safe(const char* path);

// Replaces the file at `path` with `len` bytes, atomically, under the lock.
[[nodiscard]] int oxlu_write_file_atomic(const char* path, const void* data, size_t len, unsigned perm);
// Reads the whole file under the lock into `buf` (capacity `cap`); `*len`
// receives its length. OXLU_E_TOOBIG when it does not fit (nothing usable).
[[nodiscard]] int oxlu_read_file(const char* path, void* buf, size_t cap, size_t* len);

// Why this thread's last failed file access failed, when the system gave a
// reason (a file that is missing when read is no such failure): "cannot read
// ./HSM.cfg: Permission denied", or for a file whose holder stayed for the
// whole wait "./HSM.cfg is locked by another process (waited 2 s)", in `text`
// (cut to `cap`), and its length; 0 and an empty text when there was none.
size_t oxlu_file_error(char* text, size_t cap);
// Forgets it.
void oxlu_clear_file_error();
// Records a failure a caller found itself (a file it needs that is missing):
// "cannot `what` `path`: strerror(err)". `what` must outlive the thread.
void oxlu_note_file_error(const char* what, const char* path, int err);

}  // extern "C"

namespace oxlu {

// The writer's lock of one file, held across a read-modify-write so that no
// other writer's update falls between the read and the write (and no reader
// sees the file while it is held). Readers and writers of the file, in this
// process or another, wait (bounded) or fail busy meanwhile.
class WriteLock {
 public:
  WriteLock() = default;
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  // OXLU_OK, OXLU_E_BUSY, OXLU_E_IO or OXLU_E_ARG.
  [[nodiscard]] int acquire(const char* path);
  // The same without waiting: OXLU_E_BUSY at once when someone holds it (and
  // not noted as this thread's file error: the caller only tried).
  [[nodiscard]] int try_acquire(const char* path);
  [[nodiscard]] bool held() const { return fd_ >= 0; }
  // As oxlu_read_file and oxlu_write_file_atomic, on the file held.
  [[nodiscard]] int read(void* buf, size_t cap, size_t* len) const;
  [[nodiscard]] int write(const void* data, size_t len, unsigned perm) const;

 private:
  [[nodiscard]] int take(const char* path, long wait_ms);
  int fd_ = -1;
  char path_[4096] = {};
};

// Removes, in `dir`, the temporary files ("<name>.tmp.<pid>.<n>") of writers
// that are gone: those whose file's lock is free (a writer holds it for as
// long as its temporary file exists). Returns the number removed.
int remove_dead_temps(const char* dir);
// The same for the temporary files of the one file at `path` alone.
int remove_dead_temps_of(const char* path);
// True when `name` is the temporary file of a replacement of some file.
[[nodiscard]] bool is_temp_name(const char* name);

}  // namespace oxlu

