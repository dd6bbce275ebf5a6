// Locked file access shared by every configuration and store file.
//
// Locking. A file "<name>" is guarded by an exclusive, non-blocking flock on
// its companion "<name>.lock" (created on first use, never removed while the
// file lives). The companion is used rather than the file itself because a
// rewrite replaces the file's inode by rename: a lock on the old inode would
// no longer guard the new one. A file busy in another process fails at once.
// Within one process two opens of one file exclude each other as well.
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
// at once when the file is busy; a refused open never changes the file.
FILE* fopen_safe(const char* filename, const char* mode);
// As fopen_safe, with the permissions of a file that 'w' creates.
FILE* fopen_safe_perm(const char* filename, const char* mode, unsigned perm);
// Commits a 'w' stream (flush, sync, rename) and releases the lock.
// 0, or -1 when anything failed (the file then keeps its old content).
int fclose_safe(FILE* file);

// One directory level, 0777 before the mask: 0 or -1.
int cross_mkdir(const char* path);
// Removes a file or an empty directory: 0 or -1.
int cross_rmdir(const char* dir);
// Removes a file and its lock companion, under the lock: 0, or -1 (busy,
// missing, or not removable).
int remove_safe(const char* path);

// Replaces the file at `path` with `len` bytes, atomically, under the lock.
int oxlu_write_file_atomic(const char* path, const void* data, size_t len, unsigned perm);
// Reads the whole file under the lock into `buf` (capacity `cap`); `*len`
// receives its length. OXLU_E_TOOBIG when it does not fit (nothing usable).
int oxlu_read_file(const char* path, void* buf, size_t cap, size_t* len);

}  // extern "C"
