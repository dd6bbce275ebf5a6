// Locked file access with atomic replacement (see oxlu/file.h).
#include "oxlu/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "quarzel/port.h"
#include "seams.h"

namespace oxlu::seams {
std::atomic<WriteFn> write_fn{nullptr};
}  // namespace oxlu::seams

namespace {

std::atomic<unsigned> g_temp_counter{0};

// The last failure of this thread's file access that the system gave a
// reason for (oxlu_file_error).
struct FileError {
  const char* what = nullptr;  // "read", "write", "replace"
  char path[PATH_MAX] = {};
  int err = 0;
};
thread_local FileError t_file_error;

// The `what` of a file that stayed locked by another holder for the whole
// wait: it is named with that reason, not the system's.
constexpr char kBusy[] = "lock";

void note_path(const char* what, const char* path, int err) {
  t_file_error.what = what;
  const size_t n = strnlen(path, sizeof t_file_error.path - 1);
  std::memcpy(t_file_error.path, path, n);
  t_file_error.path[n] = '\0';
  t_file_error.err = err;
}

// Records `errno` as the reason `what` failed on `path`. Keeps errno.
void note_failure(const char* what, const char* path) {
  const int err = errno;
  if (err == 0 || path == nullptr) return;
  note_path(what, path, err);
  errno = err;
}

// Records that `path` stayed busy for the whole wait. Keeps errno.
void note_busy(const char* path) {
  if (path != nullptr) note_path(kBusy, path, EWOULDBLOCK);
}

// Paths built here live in fixed buffers: nothing below a C entry point
// allocates, so nothing can throw out of one.
struct PathBuf {
  char s[PATH_MAX + 32];
  const char* c_str() const { return s; }
};

// printf into a path buffer; false when it does not fit.
bool make_path(PathBuf* out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool make_path(PathBuf* out, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(out->s, sizeof out->s, fmt, ap);
  va_end(ap);
  return n >= 0 && static_cast<size_t>(n) < sizeof out->s;
}

bool lock_path_of(const char* path, PathBuf* out) { return make_path(out, "%s.lock", path); }

void sleep_us(long us) {
  timespec ts{us / 1000000, (us % 1000000) * 1000};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

long elapsed_us(const timespec& since) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - since.tv_sec) * 1000000L + (now.tv_nsec - since.tv_nsec) / 1000L;
}

// flock `op` (LOCK_SH or LOCK_EX) on `fd`, waiting up to `wait_ms` for a
// holder it cannot share with. OXLU_OK, OXLU_E_BUSY or OXLU_E_IO.
int lock_bounded(int fd, int op, long wait_ms = OXLU_BUSY_WAIT_MS) {
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  long pause_us = 50;
  for (;;) {
    if (::flock(fd, op | LOCK_NB) == 0) return OXLU_OK;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return OXLU_E_IO;
    if (elapsed_us(start) >= wait_ms * 1000L) return OXLU_E_BUSY;
    sleep_us(pause_us);
    if (pause_us < 200) pause_us *= 2;
  }
}

// Takes the lock of `path`'s companion (created when missing): shared for a
// reader, exclusive for a writer. A holder that stays for the whole wait is
// noted as this thread's file error; one met without waiting is not (the
// caller only tried).
int acquire_lock(const char* path, int op, int* lock_fd, long wait_ms = OXLU_BUSY_WAIT_MS) {
  PathBuf lp;
  if (!lock_path_of(path, &lp)) return OXLU_E_ARG;
  int fd = ::open(lp.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, OXLU_PERM_PUBLIC);
  if (fd < 0) return errno == ENOENT ? OXLU_E_NOENT : OXLU_E_IO;
  const int rc = lock_bounded(fd, op, wait_ms);
  if (rc != OXLU_OK) {
    if (rc == OXLU_E_BUSY && wait_ms > 0) note_busy(path);
    ::close(fd);
    return rc;
  }
  *lock_fd = fd;
  return OXLU_OK;
}

void release_lock(int lock_fd) {
  if (lock_fd < 0) return;
  ::flock(lock_fd, LOCK_UN);
  ::close(lock_fd);
}

// Opens `path` read-only under a reader's lock: `*fd` for the content,
// `*lock_fd` for the companion (-1 when the file itself carries the lock).
int open_locked_reader(const char* path, int* fd, int* lock_fd) {
  *lock_fd = -1;
  int rc = acquire_lock(path, LOCK_SH, lock_fd);
  if (rc == OXLU_E_IO && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    // A read-only location can hold no companion, and no writer can replace
    // a file there: the file itself carries the lock.
    *fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (*fd < 0) {
      if (errno == ENOENT) return OXLU_E_NOENT;
      note_failure("read", path);
      return OXLU_E_IO;
    }
    if ((rc = lock_bounded(*fd, LOCK_SH)) != OXLU_OK) {
      if (rc == OXLU_E_BUSY) note_busy(path);
      ::close(*fd);
      return rc;
    }
    return OXLU_OK;
  }
  if (rc != OXLU_OK) {
    if (rc == OXLU_E_IO) note_failure("read", path);
    return rc;
  }
  *fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (*fd < 0) {
    rc = errno == ENOENT ? OXLU_E_NOENT : OXLU_E_IO;
    if (rc == OXLU_E_IO) note_failure("read", path);
    release_lock(*lock_fd);
    *lock_fd = -1;
  }
  return rc;
}

bool write_all(int fd, const void* data, size_t len) {
  const auto* p = static_cast<const uint8_t*>(data);
  oxlu::seams::WriteFn fn = oxlu::seams::write_fn.load();
  while (len > 0) {
    ssize_t n = fn != nullptr ? fn(fd, p, len) : ::write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Syncs the directory that holds `path`, so that the rename is durable.
void sync_parent_dir(const char* path) {
  const char* slash = std::strrchr(path, '/');
  PathBuf dir;
  const bool ok = slash == nullptr ? make_path(&dir, ".")
                                   : make_path(&dir, "%.*s", static_cast<int>(slash - path + 1), path);
  if (!ok) return;
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems refuse; the content itself is already synced
  ::close(fd);
}

// A fresh temporary file beside `path`. When it replaces an existing file it
// takes that file's owner and permissions, never more open than `perm`: an
// in-place rewrite used to keep them, and a file tightened to owner-only by
// an administrator must stay so.
int create_temp(const char* path, unsigned perm, PathBuf* tmp) {
  struct stat st {};
  const bool replacing = ::stat(path, &st) == 0;
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (!make_path(tmp, "%s.tmp.%ld.%u", path, static_cast<long>(::getpid()), g_temp_counter.fetch_add(1))) {
      return -1;
    }
    // A new file gets `perm` less the process's mask; a replacement starts
    // owner-only and is then given the old file's owner and permissions.
    int fd = ::open(tmp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? (perm & 0600) : perm);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      note_failure("write", path);
      return -1;
    }
    if (replacing) {
      (void)!::fchown(fd, st.st_uid, st.st_gid);  // only possible with the right to do so
      if (::fchmod(fd, st.st_mode & perm & 0777) != 0) {
        note_failure("write", path);
        ::close(fd);
        ::unlink(tmp->c_str());
        return -1;
      }
    }
    return fd;
  }
  return -1;
}

// Makes the temporary file durable and renames it over `path`.
bool commit_temp(int fd, const PathBuf& tmp, const char* path) {
  bool ok = ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmp.c_str(), path) == 0;
  if (!ok) {
    note_failure("replace", path);
    ::unlink(tmp.c_str());
    return false;
  }
  sync_parent_dir(path);
  return true;
}

void abandon_temp(int fd, const PathBuf& tmp) {
  ::close(fd);
  ::unlink(tmp.c_str());
}

// Stream state behind a fopen_safe FILE*.
struct StreamCookie {
  int lock_fd = -1;
  int fd = -1;
  bool writing = false;
  bool failed = false;
  PathBuf path;
  PathBuf tmp;
  char buf[4096];
};

ssize_t cookie_read(void* c, char* buf, size_t n) {
  auto* ck = static_cast<StreamCookie*>(c);
  for (;;) {
    ssize_t r = ::read(ck->fd, buf, n);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) note_failure("read", ck->path.c_str());
    return r;
  }
}

ssize_t cookie_write(void* c, const char* buf, size_t n) {
  auto* ck = static_cast<StreamCookie*>(c);
  if (ck->failed || !write_all(ck->fd, buf, n)) {
    if (!ck->failed) note_failure("write", ck->path.c_str());
    ck->failed = true;
    return 0;  // stdio marks the stream as failed
  }
  return static_cast<ssize_t>(n);
}

int cookie_close(void* c) {
  auto* ck = static_cast<StreamCookie*>(c);
  int rc = 0;
  if (ck->writing) {
    if (ck->failed) {
      abandon_temp(ck->fd, ck->tmp);
      rc = -1;
    } else if (!commit_temp(ck->fd, ck->tmp, ck->path.c_str())) {
      rc = -1;
    }
  } else if (::close(ck->fd) != 0) {
    rc = -1;
  }
  release_lock(ck->lock_fd);
  quarzel::secure_wipe(ck->buf, sizeof ck->buf);  // may have held PINs or keys
  delete ck;
  return rc;
}

}  // namespace

extern "C" FILE* fopen_safe_perm(const char* filename, const char* mode, unsigned perm) {
  if (filename == nullptr || mode == nullptr || filename[0] == '\0') return nullptr;
  const bool writing = mode[0] == 'w';
  if (!writing && ::access(filename, F_OK) != 0) {  // create nothing
    if (errno != ENOENT) note_failure("read", filename);
    return nullptr;
  }

  auto* ck = new (std::nothrow) StreamCookie;
  if (ck == nullptr) return nullptr;
  ck->writing = writing;
  if (!make_path(&ck->path, "%s", filename)) {
    delete ck;
    return nullptr;
  }
  if (writing) {
    if (const int rc = acquire_lock(filename, LOCK_EX, &ck->lock_fd); rc != OXLU_OK) {
      if (rc != OXLU_E_BUSY) note_failure("write", filename);
      delete ck;
      return nullptr;
    }
    ck->fd = create_temp(filename, perm, &ck->tmp);
    if (ck->fd < 0) {
      release_lock(ck->lock_fd);
      delete ck;
      return nullptr;
    }
  } else if (open_locked_reader(filename, &ck->fd, &ck->lock_fd) != OXLU_OK) {
    delete ck;
    return nullptr;
  }
  cookie_io_functions_t io{};
  io.read = writing ? nullptr : cookie_read;
  io.write = writing ? cookie_write : nullptr;
  io.close = cookie_close;
  FILE* f = ::fopencookie(ck, writing ? "w" : "r", io);
  if (f == nullptr) {
    if (writing) abandon_temp(ck->fd, ck->tmp);
    else ::close(ck->fd);
    release_lock(ck->lock_fd);
    delete ck;
    return nullptr;
  }
  ::setvbuf(f, ck->buf, _IOFBF, sizeof ck->buf);
  return f;
}

extern "C" FILE* fopen_safe(const char* filename, const char* mode) {
  return fopen_safe_perm(filename, mode, OXLU_PERM_PUBLIC);
}

extern "C" int fclose_safe(FILE* file) {
  if (file == nullptr) return -1;
  return ::fclose(file) == 0 ? 0 : -1;
}

extern "C" int cross_mkdir(const char* path) {
  if (path == nullptr) return -1;
  return ::mkdir(path, 0777) == 0 ? 0 : -1;
}

extern "C" int cross_rmdir(const char* dir) {
  if (dir == nullptr) return -1;
  return ::remove(dir) == 0 ? 0 : -1;
}

extern "C" int remove_safe(const char* path) {
  if (path == nullptr || ::access(path, F_OK) != 0) return -1;
  int lock_fd = -1;
  if (acquire_lock(path, LOCK_EX, &lock_fd) != OXLU_OK) return -1;
  const bool ok = ::unlink(path) == 0;
  PathBuf lp;
  if (ok && lock_path_of(path, &lp)) ::unlink(lp.c_str());
  release_lock(lock_fd);
  return ok ? 0 : -1;
}

namespace {

// Replaces `path` with `len` bytes; the caller holds the writer's lock.
int write_held(const char* path, const void* data, size_t len, unsigned perm) {
  PathBuf tmp;
  int fd = create_temp(path, perm, &tmp);
  if (fd < 0) return OXLU_E_IO;
  if (!write_all(fd, data, len)) {
    note_failure("write", path);
    abandon_temp(fd, tmp);
    return OXLU_E_IO;
  }
  return commit_temp(fd, tmp, path) ? OXLU_OK : OXLU_E_IO;
}

// Reads the whole of `fd` into `buf` (capacity `cap`).
int read_all(int fd, void* buf, size_t cap, size_t* len) {
  auto* out = static_cast<uint8_t*>(buf);
  size_t got = 0;
  for (;;) {
    uint8_t probe;
    uint8_t* dst = got < cap ? out + got : &probe;
    const size_t want = got < cap ? cap - got : 1;
    ssize_t n = ::read(fd, dst, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return OXLU_E_IO;  // errno tells why
    if (n == 0) break;
    if (got >= cap) return OXLU_E_TOOBIG;
    got += static_cast<size_t>(n);
  }
  *len = got;
  return OXLU_OK;
}

bool read_args_ok(const char* path, const void* buf, size_t cap, const size_t* len) {
  return path != nullptr && len != nullptr && (buf != nullptr || cap == 0);
}

}  // namespace

extern "C" int oxlu_write_file_atomic(const char* path, const void* data, size_t len, unsigned perm) {
  if (path == nullptr || path[0] == '\0' || (data == nullptr && len != 0)) return OXLU_E_ARG;
  int lock_fd = -1;
  int rc = acquire_lock(path, LOCK_EX, &lock_fd);
  if (rc != OXLU_OK) {
    if (rc == OXLU_E_IO) note_failure("write", path);
    return rc;
  }
  rc = write_held(path, data, len, perm);
  release_lock(lock_fd);
  return rc;
}

extern "C" int oxlu_read_file(const char* path, void* buf, size_t cap, size_t* len) {
  if (!read_args_ok(path, buf, cap, len)) return OXLU_E_ARG;
  if (::access(path, F_OK) != 0) return OXLU_E_NOENT;
  int fd = -1, lock_fd = -1;
  int rc = open_locked_reader(path, &fd, &lock_fd);
  if (rc != OXLU_OK) return rc;
  rc = read_all(fd, buf, cap, len);
  if (rc == OXLU_E_IO) note_failure("read", path);
  ::close(fd);
  release_lock(lock_fd);
  return rc;
}

namespace oxlu {

WriteLock::~WriteLock() { release_lock(fd_); }

int WriteLock::take(const char* path, long wait_ms) {
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= sizeof path_) return OXLU_E_ARG;
  if (fd_ >= 0) return OXLU_OK;
  std::memcpy(path_, path, std::strlen(path) + 1);
  return acquire_lock(path_, LOCK_EX, &fd_, wait_ms);
}

int WriteLock::acquire(const char* path) { return take(path, OXLU_BUSY_WAIT_MS); }

int WriteLock::try_acquire(const char* path) { return take(path, 0); }

int WriteLock::read(void* buf, size_t cap, size_t* len) const {
  if (fd_ < 0 || !read_args_ok(path_, buf, cap, len)) return OXLU_E_ARG;
  const int fd = ::open(path_, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return OXLU_E_NOENT;
    note_failure("read", path_);
    return OXLU_E_IO;
  }
  const int rc = read_all(fd, buf, cap, len);
  if (rc == OXLU_E_IO) note_failure("read", path_);
  ::close(fd);
  return rc;
}

int WriteLock::write(const void* data, size_t len, unsigned perm) const {
  if (fd_ < 0 || (data == nullptr && len != 0)) return OXLU_E_ARG;
  return write_held(path_, data, len, perm);
}

bool is_temp_name(const char* name) {
  // "<name>.tmp.<digits>.<digits>", as create_temp makes them.
  const char* t = std::strstr(name, ".tmp.");
  if (t == nullptr || t == name) return false;
  for (;;) {
    const char* p = t + 5;
    const char* dot = std::strchr(p, '.');
    bool ok = dot != nullptr && dot != p && dot[1] != '\0';
    for (const char* q = p; ok && q < dot; ++q) ok = *q >= '0' && *q <= '9';
    for (const char* q = dot == nullptr ? p : dot + 1; ok && *q != '\0'; ++q) ok = *q >= '0' && *q <= '9';
    if (ok) return true;
    t = std::strstr(t + 1, ".tmp.");  // a later occurrence may be the suffix
    if (t == nullptr) return false;
  }
}

namespace {

// remove_dead_temps in `dir`; with `only` set, of the file of that name alone.
int remove_dead_temps_in(const char* dir, const char* only) {
  if (dir == nullptr) return 0;
  DIR* d = ::opendir(dir);
  if (d == nullptr) return 0;
  int removed = 0;
  const size_t only_len = only == nullptr ? 0 : std::strlen(only);
  const char* sep = (dir[0] != '\0' && dir[std::strlen(dir) - 1] == '/') ? "" : "/";
  while (dirent* e = ::readdir(d)) {
    if (!is_temp_name(e->d_name)) continue;
    // "<only>.tmp.<pid>.<n>": the name before its last ".tmp." is `only`.
    if (only != nullptr && (std::strncmp(e->d_name, only, only_len) != 0 ||
                            std::strncmp(e->d_name + only_len, ".tmp.", 5) != 0 ||
                            std::strstr(e->d_name + only_len + 1, ".tmp.") != nullptr))
      continue;
    PathBuf tmp;
    if (!make_path(&tmp, "%s%s%s", dir, sep, e->d_name)) continue;
    // The file it would have replaced: the name before the last ".tmp.".
    const char* cut = nullptr;
    for (const char* t = std::strstr(tmp.s, ".tmp."); t != nullptr; t = std::strstr(t + 1, ".tmp.")) cut = t;
    PathBuf target;
    PathBuf lock;
    if (cut == nullptr || !make_path(&target, "%.*s", static_cast<int>(cut - tmp.s), tmp.s) ||
        !lock_path_of(target.c_str(), &lock))
      continue;
    // A writer creates its temporary file only while it holds the file's
    // writer lock, and renames or removes it before letting go: a free lock
    // means nobody will ever commit this one.
    const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;  // a live writer
    }
    if (::unlink(tmp.c_str()) == 0) ++removed;
    if (fd >= 0) release_lock(fd);
  }
  ::closedir(d);
  return removed;
}

}  // namespace

int remove_dead_temps(const char* dir) { return remove_dead_temps_in(dir, nullptr); }

int remove_dead_temps_of(const char* path) {
  if (path == nullptr || path[0] == '\0') return 0;
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return remove_dead_temps_in(".", path);
  if (slash[1] == '\0') return 0;
  PathBuf dir;
  if (!make_path(&dir, "%.*s", static_cast<int>(slash - path + 1), path)) return 0;
  return remove_dead_temps_in(dir.c_str(), slash + 1);
}

}  // namespace oxlu

extern "C" size_t oxlu_file_error(char* text, size_t cap) {
  if (text == nullptr || cap == 0) return 0;
  const FileError& e = t_file_error;
  if (e.what == nullptr) {
    text[0] = '\0';
    return 0;
  }
  char reason[128];
  const char* why = ::strerror_r(e.err, reason, sizeof reason);  // GNU: may return a static text
  const int n = e.what == kBusy ? std::snprintf(text, cap, "%s is locked by another process (waited %d s)", e.path,
                                                OXLU_BUSY_WAIT_MS / 1000)
                                : std::snprintf(text, cap, "cannot %s %s: %s", e.what, e.path, why);
  if (n < 0) {
    text[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap - 1;
}

extern "C" void oxlu_clear_file_error() { t_file_error.what = nullptr; }

extern "C" void oxlu_note_file_error(const char* what, const char* path, int err) {
  if (what == nullptr) return;
  const int saved = errno;
  errno = err;
  note_failure(what, path);
  errno = saved;
}
