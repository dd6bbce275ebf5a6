// The change stamp of the token configuration files, shared by every process
// that uses one software HSM directory: two counters in a page of the file
// P "SwHsm/" "TknUser.stamp", mapped into each process. A writer of a token
// file raises `begun` before it replaces or removes the file and `ended`
// after; a process that kept a session's copy of the token keys while the two
// were equal may use that copy unchecked for as long as both still hold the
// value it saw, with no file touched. Writers hold the stamp file under an
// exclusive lock from one raise to the other, so their spans run one at a
// time. A writer that dies between the two leaves them unequal, and every
// copy is checked against the file again (as without a stamp) until the next
// writer, finding them unequal under the lock (the dead writer's lock went
// with it), makes them equal before its own span. No stamp (the file cannot
// be made or mapped) means the same: every use is checked.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

#include "swd_internal.h"

namespace swd {

namespace {

constexpr size_t kStampFileLen = 4096;

static_assert(std::atomic_ref<uint64_t>::is_always_lock_free, "the stamp is shared between processes");

// Every stamp page this process mapped, by the file's identity. A page stays
// mapped for the life of the process, so that a pointer to it never dangles
// and its inode (kept alive by the mapping) never names another file.
struct Mapped {
  dev_t dev;
  ino_t ino;
  TokenStamp* page;
};
std::mutex g_mapped_mutex;
std::vector<Mapped>* g_mapped = nullptr;  // never freed: pages outlive every user

// The page of `file`, mapped once per process. With `lock_fd`, the file is
// also held under an exclusive lock, through the descriptor left there (-1
// when the lock could not be had).
TokenStamp* map_stamp(const char* file, int* lock_fd) {
  const int fd = ::open(file, O_RDWR | O_CREAT | O_CLOEXEC, OXLU_PERM_SECRET);
  if (fd < 0) return nullptr;
  struct stat st{};
  TokenStamp* page = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const std::lock_guard<std::mutex> guard(g_mapped_mutex);
    if (g_mapped == nullptr) g_mapped = new std::vector<Mapped>();
    for (const Mapped& m : *g_mapped) {
      if (m.dev == st.st_dev && m.ino == st.st_ino) page = m.page;
    }
    // A new file is zero-filled to its length; a second process extending
    // it at the same time extends it to the same length (nothing is lost).
    if (page == nullptr && (static_cast<size_t>(st.st_size) >= kStampFileLen ||
                            ::ftruncate(fd, static_cast<off_t>(kStampFileLen)) == 0)) {
      void* p = ::mmap(nullptr, kStampFileLen, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) {
        page = static_cast<TokenStamp*>(p);
        g_mapped->push_back({st.st_dev, st.st_ino, page});
      }
    }
  }
  ::close(fd);
  // The lock is taken through a descriptor of its own: a mapping keeps the
  // description it was made from, and a lock on that one would outlive close.
  if (lock_fd != nullptr && page != nullptr) {
    const int lfd = ::open(file, O_RDWR | O_CLOEXEC);
    if (lfd < 0) return page;
    int rc;
    while ((rc = ::flock(lfd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
      *lock_fd = lfd;
    } else {
      ::close(lfd);
    }
  }
  return page;
}

TokenStamp* stamp_file(int* lock_fd) {
  char file[SWD_PATH_LEN];
  if (compose_path(file, "%s%s%s", g_hsmAdminPath, "SwHsm/", "TknUser.stamp") != 0) return nullptr;
  return map_stamp(file, lock_fd);
}

}  // namespace

TokenStamp* token_stamp() { return stamp_file(nullptr); }

bool stamp_steady(TokenStamp* s, uint64_t* seen) {
  if (s == nullptr) return false;
  const uint64_t ended = std::atomic_ref<uint64_t>(s->ended).load(std::memory_order_acquire);
  const uint64_t begun = std::atomic_ref<uint64_t>(s->begun).load(std::memory_order_acquire);
  *seen = begun;
  return begun == ended;
}

bool stamp_unchanged(TokenStamp* s, uint64_t seen) {
  if (s == nullptr) return false;
  return std::atomic_ref<uint64_t>(s->begun).load(std::memory_order_acquire) == seen &&
         std::atomic_ref<uint64_t>(s->ended).load(std::memory_order_acquire) == seen;
}

TokenStamp* stamp_begin(int* lock_fd) {
  *lock_fd = -1;
  TokenStamp* const s = stamp_file(lock_fd);
  if (s == nullptr) return nullptr;
  std::atomic_ref<uint64_t> begun(s->begun);
  std::atomic_ref<uint64_t> ended(s->ended);
  // Under the lock no other span is open: unequal counters are a dead
  // writer's. Without the lock they may be a live one's, and stay.
  if (*lock_fd >= 0) ended.store(begun.load(std::memory_order_acquire), std::memory_order_release);
  begun.fetch_add(1, std::memory_order_acq_rel);
  return s;
}

void stamp_end(TokenStamp* s, int lock_fd) {
  if (s != nullptr) std::atomic_ref<uint64_t>(s->ended).fetch_add(1, std::memory_order_acq_rel);
  if (lock_fd >= 0) ::close(lock_fd);  // releases the lock
}

}  // namespace swd
