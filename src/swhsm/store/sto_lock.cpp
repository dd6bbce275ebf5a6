// The store lock of a token directory and its change stamp.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "quarzel/port.h"
#include "sto_internal.h"

namespace sto {
namespace {

// How long an operation waits for another process's store operation (each
// holds the lock for a few file writes only).
constexpr long kWaitLimitMs = 10000;

void sleep_us(long us) {
  timespec ts{us / 1000000, (us % 1000000) * 1000};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// True when `fd` is still the file at `path` (the lock file may have been
// removed with its directory while we waited for it).
bool still_linked(int fd, const char* path) {
  struct stat a {}, b {};
  if (::fstat(fd, &a) != 0 || ::stat(path, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

StoreLock::~StoreLock() { release(); }

void StoreLock::release() {
  if (fd_ < 0) return;
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

uint32_t StoreLock::acquire(const char* lock_path, bool shared) {
  if (fd_ >= 0) return STO_OK;
  long waited_us = 0, pause_us = 50;
  for (;;) {
    const int fd = ::open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return STO_ERR_FAILED;
    if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) {
      if (still_linked(fd, lock_path)) {
        fd_ = fd;
        return STO_OK;
      }
      ::flock(fd, LOCK_UN);
      ::close(fd);
      continue;  // removed under us: take the new one
    }
    const int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK && err != EINTR) return STO_ERR_FAILED;
    if (waited_us >= kWaitLimitMs * 1000) return STO_ERR_FAILED;
    sleep_us(pause_us);
    waited_us += pause_us;
    if (pause_us < 2000) pause_us *= 2;
  }
}

uint64_t StoreLock::stamp() const {
  uint64_t s = 0;
  if (fd_ < 0 || ::pread(fd_, &s, sizeof s, 0) != static_cast<ssize_t>(sizeof s)) return 0;
  return s;
}

bool StoreLock::renew_stamp(uint64_t* out) {
  if (fd_ < 0) return false;
  uint64_t s = 0;
  // A random stamp cannot repeat an old one even when the lock file is
  // removed and made again (a counter would restart at the same values).
  do {
    if (quarzel_get_random(reinterpret_cast<uint8_t*>(&s), sizeof s) != 0) return false;
  } while (s == 0);
  if (::pwrite(fd_, &s, sizeof s, 0) != static_cast<ssize_t>(sizeof s)) return false;
  *out = s;
  return true;
}

}  // namespace sto
