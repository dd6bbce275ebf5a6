// The change stamp of the token configuration files, shared by every process
// that uses one software HSM directory: two counters in a page of the file
// P "SwHsm/" "TknUser.stamp", mapped into each process. A writer of a token
// file raises `begun` before it replaces or removes the file and `ended`
// after; a process that kept a session's copy of the token keys while the two
// were equal may use that copy unchecked for as long as both still hold the
// value it saw, with no file touched. A writer that dies between the two
// leaves them unequal, and every copy is checked against the file again (as
// without a stamp) until the next write has run through. No stamp (the file
// cannot be made or mapped) means the same: every use is checked.
#include <fcntl.h>
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

TokenStamp* map_stamp(const char* file) {
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
  return page;
}

}  // namespace

TokenStamp* token_stamp() {
  char file[SWD_PATH_LEN];
  if (compose_path(file, "%s%s%s", g_hsmAdminPath, "SwHsm/", "TknUser.stamp") != 0) return nullptr;
  return map_stamp(file);
}

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

void stamp_begin(TokenStamp* s) {
  if (s != nullptr) std::atomic_ref<uint64_t>(s->begun).fetch_add(1, std::memory_order_acq_rel);
}

void stamp_end(TokenStamp* s) {
  if (s != nullptr) std::atomic_ref<uint64_t>(s->ended).fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace swd
