// The change stamp of the token configuration files, shared by every process
// that uses one software HSM directory: the file P "SwHsm/" "TknUser.stamp".
//
// A writer of a token file announces its write by replacing the stamp (a new
// file renamed into place, so a new inode) with one that says a write is
// under way, waits kTrustNs, writes, and replaces it again with one that says
// the write is over. Writers hold the stamp's lock (its ".lock" companion, as
// for every file here) from the first replacement to the second, so their
// spans run one at a time.
//
// A reader that checked its copy of the token keys right after it found a
// settled stamp keeps that stamp's descriptor (so its inode number cannot
// pass to another file) and uses the copy unchecked for kTrustNs after each
// time it saw the path still name that same, unchanged file (device, inode
// and change time: one stat once per period; the reader looks at its own
// token file in the same step, for a change by hand that no writer
// announces). A write announced after the reader last looked falls at least
// kTrustNs after the announcement, so after the end of the reader's period:
// the first use past it looks again and finds the stamp replaced.
//
// Nothing is mapped and no counter is trusted from the file's bytes after
// the first look, so whatever is done to the file from outside the system
// neither crashes a process (a mapped file cut short would raise SIGBUS) nor
// makes an old stamp stand again: a removal, a truncation or a copy renamed
// over it change what the path names; a hard link moved back changes its
// change time; an inode held open is never reused. A dead writer's stamp
// stays unsettled until the next writer replaces it, and every use checks the
// file meanwhile, as it does while there is no stamp at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "swd_internal.h"

namespace swd {

namespace {

// How long a look at the stamp is trusted, and how long a writer waits
// between its announcement and its write. Short against a token write (which
// syncs files to disk), long against a system call.
constexpr int64_t kTrustNs = 2'000'000;

// The stamp's bytes: writes begun and writes ended (equal: none under way).
struct Counters {
  uint64_t begun;
  uint64_t ended;
};

int64_t now_ns() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

uint32_t stamp_path(char (&file)[SWD_PATH_LEN]) {
  return compose_path(file, "%s%s%s", g_hsmAdminPath, "SwHsm/", "TknUser.stamp");
}

// The counters at the start of the file `fd`; false when it holds fewer bytes.
bool read_counters(int fd, Counters* c) {
  ssize_t n;
  do {
    n = ::pread(fd, c, sizeof *c, 0);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof *c);
}

bool same_file(const struct stat& st, const StampSeen& s) {
  return S_ISREG(st.st_mode) && st.st_dev == s.dev && st.st_ino == s.ino && st.st_ctim.tv_sec == s.ctime.tv_sec &&
         st.st_ctim.tv_nsec == s.ctime.tv_nsec;
}

void sleep_until(int64_t t_ns) {
  const timespec until{static_cast<time_t>(t_ns / 1'000'000'000), static_cast<long>(t_ns % 1'000'000'000)};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace

StampSeen& StampSeen::operator=(StampSeen&& o) noexcept {
  if (this != &o) {
    forget();
    fd = o.fd;
    dev = o.dev;
    ino = o.ino;
    ctime = o.ctime;
    verified_ns = o.verified_ns;
    o.fd = -1;
  }
  return *this;
}

void StampSeen::forget() noexcept {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

StampSeen stamp_look() {
  StampSeen s;
  const int64_t t0 = now_ns();  // before the look: the period starts no later than it
  char file[SWD_PATH_LEN];
  if (stamp_path(file) != 0) return s;
  const int fd = ::open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return s;
  struct stat st{};
  Counters c{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !read_counters(fd, &c) || c.begun != c.ended) {
    ::close(fd);
    return s;
  }
  s.fd = fd;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.ctime = st.st_ctim;
  s.verified_ns = t0;
  return s;
}

bool stamp_stands(StampSeen& s, bool* looked) {
  *looked = false;
  if (s.fd < 0) return false;
  const int64_t t0 = now_ns();
  if (t0 - s.verified_ns < kTrustNs) return true;
  *looked = true;
  char file[SWD_PATH_LEN];
  struct stat st{};
  if (stamp_path(file) != 0 || ::stat(file, &st) != 0 || !same_file(st, s)) return false;
  s.verified_ns = t0;
  return true;
}

TokenFileChange::TokenFileChange() {
  char file[SWD_PATH_LEN];
  if (stamp_path(file) != 0 || lock_.acquire(file) != OXLU_OK) return;  // busy (2 s) or no descriptor: no write
  Counters now{};
  if (const int fd = ::open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd >= 0) {
    if (!read_counters(fd, &now)) now = {};
    ::close(fd);
  }
  next_ = (now.begun > now.ended ? now.begun : now.ended) + 1;
  const Counters begun{next_, next_ - 1};
  if (lock_.write(&begun, sizeof begun, OXLU_PERM_SECRET) != OXLU_OK && !withdraw(file)) return;
  sleep_until(now_ns() + kTrustNs);
  ok_ = true;
}

TokenFileChange::~TokenFileChange() {
  if (!ok_) return;
  const Counters ended{next_, next_};
  char file[SWD_PATH_LEN];
  // Failing that, the stamp stays unsettled (or goes): every use checks the file.
  if (lock_.write(&ended, sizeof ended, OXLU_PERM_SECRET) != OXLU_OK && stamp_path(file) == 0) (void)withdraw(file);
}

// A stamp that cannot be replaced (no descriptor left, a full disk) is
// removed instead: with none, no reader uses a copy unchecked. False when
// the path still names a file that a reader may trust.
bool TokenFileChange::withdraw(const char* file) {
  if (::unlink(file) == 0 || errno == ENOENT) return true;
  struct stat st{};
  return ::lstat(file, &st) == 0 && !S_ISREG(st.st_mode);
}

}  // namespace swd
