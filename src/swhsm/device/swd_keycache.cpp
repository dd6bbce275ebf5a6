// Per-session copy of the token's MAC key and wrapping key.
//
// Every object MAC check and every re-wrap needs one of the two keys, which
// live in the token's configuration file; opening, locking, reading and
// parsing that file on every call was most of the cost of a session object's
// life. A logged-in session keeps the pair here instead, with the file's
// whole text and an open descriptor of the file it came from, and trusts no
// file stamp: before each use the path must still name the very file held
// open (an open file keeps its inode, so its number cannot pass to a
// replacement, however quickly one follows), and that file must still hold
// the same bytes (compared in constant time). Every writer replaces the file
// by rename and a rename is atomic, so the text read through the descriptor
// is always one whole version of the file. Anything else, or any failure,
// means one more full read under the file's lock, never a stale key. The copy
// is wiped and the descriptor closed whenever the session's record is
// rewritten (login, logout, close) and at device finalisation.
//
// Between such checks the copy is used unchecked, with no file touched,
// while the token files' change stamp (swd_stamp.cpp) stands as it stood,
// settled, just before the last check: every writer of a token file, in any
// process, announces its write on the stamp long enough before it writes
// that a reader's next use sees it, so a token deleted, re-created or
// rewritten (a PIN, a failure count, a lock) elsewhere sends the next use
// back to the file. A change by hand (a backup copied over the file in place
// or renamed over it) announces nothing, so each time the stamp is looked at
// again, the token file is too: its device, inode, change time and size must
// still be what a stat found just before the last check read the file (a
// change racing that read then shows at the next look). Without a settled
// stamp, each core call (SWD_BeginCall .. SWD_EndCall on this thread) checks
// the copy at its first use, and the keys so checked serve the rest of the
// call: the call sees the token's keys as they stood when it began, as if it
// had run before any replacement by another process that falls inside it. A
// token file written by this process meanwhile (a restore, a new token under
// the same id) ends either at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "swd_internal.h"
#include "../blob/blob_mac.h"

namespace swd {

namespace {

// The token file is a few hundred bytes; a larger one is read in full each
// time instead of being kept.
constexpr size_t kMaxKept = 2048;

// Core calls: a number per outermost call on a thread (never 0), and
// the nesting depth.
std::atomic<uint64_t> g_calls{0};
thread_local uint64_t t_call = 0;
thread_local unsigned t_depth = 0;
// Token configuration files written or removed by this process.
std::atomic<uint64_t> g_local_writes{0};

// One session slot's copy; only under that slot's mutex (SessionPin).
struct CachedKeys {
  uint64_t checked_in = 0;   // the core call that last checked it (0: none)
  uint64_t writes_seen = 0;  // g_local_writes before that check
  StampSeen stamp;            // the stamp, if settled just before that check
  int fd = -1;  // the file the copy was read from, held open
  dev_t dev = 0;
  ino_t ino = 0;
  timespec ctime{};  // the file's change time and size before that check read it
  off_t size = 0;
  size_t len = 0;
  quarzel::SecretArray<kMaxKept> text;
  quarzel::SecretArray<SWD_KEY_LEN> mac;
  quarzel::SecretArray<SWD_KEY_LEN> mk;
  uint64_t file_checks = 0;  // uses that went to the file, whatever session held the slot
};
CachedKeys g_keys[SWD_MAX_SESSIONS];

void copy_out(const CachedKeys& c, uint8_t* mac, uint8_t* mk) {
  if (mac != nullptr) std::memcpy(mac, c.mac.data(), SWD_KEY_LEN);
  if (mk != nullptr) std::memcpy(mk, c.mk.data(), SWD_KEY_LEN);
}

// Reads a file from its start through `fd`: the length read (at most `cap`),
// or -1.
ssize_t read_at_start(int fd, uint8_t* buf, size_t cap) {
  size_t got = 0;
  while (got < cap) {
    const ssize_t n = ::pread(fd, buf + got, cap - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

void note_change_time(CachedKeys& c, const struct stat& st) {
  c.ctime = st.st_ctim;
  c.size = st.st_size;
}

// Whether the session's token file is still the file held, with the change
// time and size it had before the copy was last checked (one stat).
bool unchanged_since_check(const SessionPin& pin, const CachedKeys& c) {
  char id[17] = {};
  std::memcpy(id, pin.info().TknId, 16);
  char file[SWD_PATH_LEN];
  struct stat st{};
  return token_cfg_file(id, file) == 0 && ::stat(file, &st) == 0 && st.st_dev == c.dev && st.st_ino == c.ino &&
         st.st_ctim.tv_sec == c.ctime.tv_sec && st.st_ctim.tv_nsec == c.ctime.tv_nsec && st.st_size == c.size;
}

// Whether `file` is still the file held and holds the text kept; notes the
// change time and size the file had before its bytes were compared.
bool still_current(CachedKeys& c, const char* file) {
  struct stat st{};
  if (::stat(file, &st) != 0 || st.st_dev != c.dev || st.st_ino != c.ino) return false;
  // One read: a regular file reads short only at its end, and a read cut
  // short otherwise reads as a different file (one full read more, never a
  // stale key).
  quarzel::SecretArray<kMaxKept + 1> now;  // one byte more: a longer file differs
  ssize_t n = -1;
  do {
    n = ::pread(c.fd, now.data(), now.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 || static_cast<size_t>(n) != c.len || !quarzel::ct_equal(now.data(), c.text.data(), c.len)) return false;
  note_change_time(c, st);
  return true;
}

// Opens `file`, reads it through that descriptor and keeps descriptor, text
// and keys. False, with nothing kept, when any step fails.
bool load(CachedKeys& c, const char* file) {
  const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  quarzel::SecretArray<kMaxKept + 1> text;
  const ssize_t n = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? read_at_start(fd, text.data(), text.size()) : -1;
  Wiped<TKN_USER_CFG> cfg;
  if (n < 0 || static_cast<size_t>(n) > kMaxKept || !parse_token_text(text.data(), static_cast<size_t>(n), cfg.get())) {
    ::close(fd);
    return false;
  }
  c.fd = fd;
  c.dev = st.st_dev;
  c.ino = st.st_ino;
  note_change_time(c, st);
  c.len = static_cast<size_t>(n);
  std::memcpy(c.text.data(), text.data(), c.len);
  std::memcpy(c.mac.data(), cfg.MacK, SWD_KEY_LEN);
  std::memcpy(c.mk.data(), cfg.MK, SWD_KEY_LEN);
  return true;
}

}  // namespace

uint32_t session_token_keys(const SessionPin& pin, uint8_t* mac, uint8_t* mk) {
  CachedKeys& c = g_keys[pin.slot()];
  const uint64_t writes = g_local_writes.load(std::memory_order_acquire);
  bool looked = false;
  if (c.fd >= 0 && c.writes_seen == writes &&
      ((t_call != 0 && c.checked_in == t_call) ||
       (stamp_stands(c.stamp, &looked) && (!looked || unchanged_since_check(pin, c))))) {
    copy_out(c, mac, mk);
    return 0;
  }
  ++c.file_checks;
  // The stamp is looked at before the file: a write announced after this
  // replaces what is kept here.
  StampSeen stamp = stamp_look();
  const auto checked = [&] {
    c.checked_in = t_call;
    c.writes_seen = writes;
    c.stamp = std::move(stamp);
    copy_out(c, mac, mk);
    return 0u;
  };
  char id[17] = {};
  std::memcpy(id, pin.info().TknId, 16);
  char file[SWD_PATH_LEN];
  const bool named = token_cfg_file(id, file) == 0;
  if (named && c.fd >= 0 && still_current(c, file)) return checked();
  forget_session_keys(pin.slot());
  if (named && load(c, file)) return checked();
  // The locked read reports every failure as before (missing token, busy or
  // oversized file).
  Wiped<TKN_USER_CFG> cfg;
  const uint32_t rc = _swdev_GetTokenUserCFG(id, cfg.get());
  if (rc != 0) return rc;
  if (mac != nullptr) std::memcpy(mac, cfg.MacK, SWD_KEY_LEN);
  if (mk != nullptr) std::memcpy(mk, cfg.MK, SWD_KEY_LEN);
  return 0;
}

bool in_core_call() noexcept { return t_depth > 0; }

LocalTokenWrite::LocalTokenWrite() noexcept { g_local_writes.fetch_add(1, std::memory_order_acq_rel); }

LocalTokenWrite::~LocalTokenWrite() { g_local_writes.fetch_add(1, std::memory_order_acq_rel); }

void forget_session_keys(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= SWD_MAX_SESSIONS) return;
  CachedKeys& c = g_keys[slot];
  c.checked_in = 0;
  c.writes_seen = 0;
  c.stamp.forget();
  if (c.fd >= 0) ::close(c.fd);
  c.fd = -1;
  c.dev = 0;
  c.ino = 0;
  c.ctime = {};
  c.size = 0;
  quarzel::secure_wipe(c.text.data(), c.len);
  c.len = 0;
  quarzel::secure_wipe(c.mac.data(), SWD_KEY_LEN);
  quarzel::secure_wipe(c.mk.data(), SWD_KEY_LEN);
}

bool session_keys_held(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= SWD_MAX_SESSIONS) return false;
  const SlotLock lock(slot);
  return g_keys[slot].fd >= 0;
}

uint64_t session_key_file_checks(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= SWD_MAX_SESSIONS) return 0;
  const SlotLock lock(slot);
  return g_keys[slot].file_checks;
}

}  // namespace swd

extern "C" void SWD_BeginCall(void) {
  if (swd::t_depth++ == 0) swd::t_call = ++swd::g_calls;
}

extern "C" void SWD_EndCall(void) {
  if (swd::t_depth > 0 && --swd::t_depth == 0) {
    swd::t_call = 0;
    swd_blob::forget_last_mac();
  }
}
