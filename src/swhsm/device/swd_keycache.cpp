// Per-session cache of the token's MAC key and wrapping key.
//
// Every object MAC check and every re-wrap needs one of the two keys, which
// live in the token's configuration file; reading and parsing that file
// under its lock on every call was most of the cost of a session object's
// life. A logged-in session keeps the pair here instead. The keys change only
// when the file is replaced (a restore, a token made anew), and every write
// replaces the file by rename, so the file's identity and times (the stamp
// taken before the read the keys came from) tell whether the copy is still
// the file's: a changed stamp means one more read, never a stale key. The
// copy is wiped whenever the session's record is rewritten (login, logout,
// close) and at device finalisation.
#include <sys/stat.h>

#include "swd_internal.h"

namespace swd {

namespace {

struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};
};

bool same(const Stamp& a, const Stamp& b) {
  return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtime.tv_sec == b.mtime.tv_sec &&
         a.mtime.tv_nsec == b.mtime.tv_nsec && a.ctime.tv_sec == b.ctime.tv_sec && a.ctime.tv_nsec == b.ctime.tv_nsec;
}

bool stamp_of(const char* file, Stamp* out) {
  struct stat st{};
  if (::stat(file, &st) != 0) return false;
  out->dev = st.st_dev;
  out->ino = st.st_ino;
  out->size = st.st_size;
  out->mtime = st.st_mtim;
  out->ctime = st.st_ctim;
  return true;
}

// One session slot's copy; only under that slot's SessionPin.
struct CachedKeys {
  bool valid = false;
  Stamp stamp;
  quarzel::SecretArray<SWD_KEY_LEN> mac;
  quarzel::SecretArray<SWD_KEY_LEN> mk;
};
CachedKeys g_keys[SWD_MAX_SESSIONS];

void copy_out(const CachedKeys& c, uint8_t* mac, uint8_t* mk) {
  if (mac != nullptr) std::memcpy(mac, c.mac.data(), SWD_KEY_LEN);
  if (mk != nullptr) std::memcpy(mk, c.mk.data(), SWD_KEY_LEN);
}

}  // namespace

uint32_t session_token_keys(const SessionPin& pin, uint8_t* mac, uint8_t* mk) {
  char id[17] = {};
  std::memcpy(id, pin.info().TknId, 16);
  CachedKeys& c = g_keys[pin.slot()];
  char file[SWD_PATH_LEN];
  Stamp now;
  const bool stamped = token_cfg_file(id, file) == 0 && stamp_of(file, &now);
  if (c.valid && stamped && same(c.stamp, now)) {
    copy_out(c, mac, mk);
    return 0;
  }
  forget_session_keys(pin.slot());
  // The read reports every failure as before (missing token, busy file).
  Wiped<TKN_USER_CFG> cfg;
  const uint32_t rc = _swdev_GetTokenUserCFG(id, cfg.get());
  if (rc != 0) return rc;
  std::memcpy(c.mac.data(), cfg.MacK, SWD_KEY_LEN);
  std::memcpy(c.mk.data(), cfg.MK, SWD_KEY_LEN);
  // Stamped before the read: a replacement that fell between the two only
  // costs one more read next time.
  c.stamp = now;
  c.valid = stamped;
  copy_out(c, mac, mk);
  return 0;
}

void forget_session_keys(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= SWD_MAX_SESSIONS) return;
  CachedKeys& c = g_keys[slot];
  c.valid = false;
  c.stamp = Stamp{};
  quarzel::secure_wipe(c.mac.data(), SWD_KEY_LEN);
  quarzel::secure_wipe(c.mk.data(), SWD_KEY_LEN);
}

bool session_keys_held(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= SWD_MAX_SESSIONS) return false;
  const SlotLock lock(slot);
  return g_keys[slot].valid;
}

}  // namespace swd
