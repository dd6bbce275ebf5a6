// Internal helpers shared by the software device's source files.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sys/types.h>

#include "oxlu/file.h"
#include "quarzel/secure.h"
#include "swhsm/swd.h"

namespace swd {

using quarzel::Wiped;

// Device state shared by the HSM, token and session operations and the file
// layer (swd_state.cpp).
extern char g_hsmAdminPath[SWD_PATH_LEN + 1];
extern ZEB_DEVICE_HANDLE g_hHsm;
// The cached HSM information (guarded: an administrator's change of the
// record refreshes it while other threads open sessions).
ZEB_DEVICE_HSM_INFO hsm_info();

// The handle of the started device (never 0).
[[nodiscard]] bool hsm_handle_ok(ZEB_DEVICE_HANDLE h);

// snprintf into a path buffer of SWD_PATH_LEN bytes; 0x150 when it does not fit.
[[nodiscard]] uint32_t compose_path(char (&out)[SWD_PATH_LEN], const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Length of a text field: bytes up to the first zero, at most `width`.
inline size_t text_len(const uint8_t* p, size_t width) {
  size_t n = 0;
  while (n < width && p[n] != 0) ++n;
  return n;
}

// A token id usable as one directory name: 1 to 16 bytes (up to the first
// zero), no '/', not "." or "..".
[[nodiscard]] bool token_id_ok(const uint8_t* id);

// A PIN the files carry intact: at most 32 bytes with no 0x00, 0x0A or 0x0D.
// 0, or SWD_ERR_PIN_LEN_RANGE / SWD_ERR_PIN_INCORRECT (CKR_PIN_INVALID).
[[nodiscard]] uint32_t check_new_pin(const uint8_t* pin, uint32_t len);
// A label the files carry intact: at most 32 bytes, no line feed or carriage
// return, and zero bytes only as trailing padding. 0 or 7.
[[nodiscard]] uint32_t check_new_label(const uint8_t* label, uint32_t len);

// PIN comparison against a stored field (constant time over the field).
[[nodiscard]] bool pin_matches(const uint8_t* field, uint32_t stored_len, const uint8_t* pin, uint32_t len);

// Fresh OS random: digits for serial numbers, and key bytes (never 0x00,
// 0x0A or 0x0D). False when the OS source fails.
[[nodiscard]] bool random_digits(uint8_t* out, size_t n);
[[nodiscard]] bool random_key_bytes(uint8_t* out, size_t n);
// A non-zero 32-bit handle from the OS source, not in `taken` (count n).
[[nodiscard]] bool random_handle(uint32_t* out, const uint32_t* taken, size_t n);

// Device session slot of a handle, or -1 (a snapshot: the session may be
// closed the moment after; hold a SessionPin to use its record).
[[nodiscard]] int session_slot(ZEB_DEVICE_HANDLE h);
// Session record of a slot; only under that slot's SessionPin.
ZEB_DEVICE_TOKEN_SESSION_INFO* session_info(int slot);

// A device session held for the length of one operation: its slot stays
// this session's, and a close in another thread waits until the holder is
// gone. Empty (false) for a handle that is not, or no longer, open. A thread
// may hold several pins of one session (nested operations).
class SessionPin {
 public:
  explicit SessionPin(ZEB_DEVICE_HANDLE h) noexcept;
  ~SessionPin();
  SessionPin(const SessionPin&) = delete;
  SessionPin& operator=(const SessionPin&) = delete;
  explicit operator bool() const noexcept { return slot_ >= 0; }
  [[nodiscard]] int slot() const noexcept { return slot_; }
  ZEB_DEVICE_TOKEN_SESSION_INFO& info() const noexcept { return *session_info(slot_); }

 private:
  int slot_ = -1;
};

// The MAC key and wrapping key of a pinned session's token, from the
// session's copy while the token file is the one it came from and holds the
// same bytes, else from the file (its read's code on failure). Either output may be null. The caller
// checks the session's login first.
uint32_t session_token_keys(const SessionPin& pin, uint8_t* mac, uint8_t* mk);
// The change stamp of the token configuration files of the current
// administration directory (swd_stamp.cpp): a reader's record of a settled
// stamp, with the stamp file held open. Move-only; closes what it holds.
struct StampSeen {
  StampSeen() = default;
  StampSeen(StampSeen&& o) noexcept { *this = static_cast<StampSeen&&>(o); }
  StampSeen& operator=(StampSeen&& o) noexcept;
  ~StampSeen() { forget(); }
  void forget() noexcept;
  [[nodiscard]] bool held() const noexcept { return fd >= 0; }

  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec ctime{};
  int64_t verified_ns = 0;  // monotonic time before the path was last seen naming it
};
// The stamp as it stands: held when no write is under way, else empty.
[[nodiscard]] StampSeen stamp_look();
// Whether the stamp still stands as seen (a system call at most once a
// period). `looked` tells whether this call looked at the file: a stamp that
// stands then starts a new period.
[[nodiscard]] bool stamp_stands(StampSeen& s, bool* looked);

// Raises this process's count of its own token file writes at both ends of
// a write (swd_keycache.cpp): a copy checked while the write was under way is
// not used unchecked after it.
struct LocalTokenWrite {
  LocalTokenWrite() noexcept;
  ~LocalTokenWrite();
  LocalTokenWrite(const LocalTokenWrite&) = delete;
  LocalTokenWrite& operator=(const LocalTokenWrite&) = delete;
};

// The span of a write or removal of a token's configuration file by this
// process: no kept copy of token keys is used unchecked across it, in this
// process or another. It waits for the stamp's lock (up to 2 s), announces
// the write and waits until every reader has seen the announcement; the file
// may be written only when status() is 0.
class TokenFileChange {
 public:
  TokenFileChange();
  ~TokenFileChange();
  TokenFileChange(const TokenFileChange&) = delete;
  TokenFileChange& operator=(const TokenFileChange&) = delete;
  // 0, or SWD_ERR_TKN_CFG: the stamp's lock stayed busy, or the write could
  // not be announced; nothing may be written.
  [[nodiscard]] uint32_t status() const noexcept { return ok_ ? 0 : SWD_ERR_TKN_CFG; }

 private:
  [[nodiscard]] static bool withdraw(const char* file);
  LocalTokenWrite local_;  // first in, last out
  oxlu::WriteLock lock_;
  uint64_t next_ = 0;
  bool ok_ = false;
};
// Wipes a slot's copy of its token's keys (the slot's record changed).
void forget_session_keys(int slot);
// Whether a slot holds such a copy, and how many uses of it went to the
// token file (for the test seams).
bool session_keys_held(int slot);
uint64_t session_key_file_checks(int slot);
// Parses the text of a token configuration file; false when no memory.
[[nodiscard]] bool parse_token_text(const uint8_t* text, size_t len, TKN_USER_CFG* out);
// Names, as this thread's file error, the HSM's folder or record when it is
// missing (then its serial number cannot be matched).
void note_missing_hsm_files();
// The configuration file of a token id: 0 or the path's code (no check that
// the token exists).
uint32_t token_cfg_file(const char* id, char (&file)[SWD_PATH_LEN]);

// The mutex of a slot, held to look at the slot whatever session it holds.
class SlotLock {
 public:
  explicit SlotLock(int slot) noexcept;
  ~SlotLock();
  SlotLock(const SlotLock&) = delete;
  SlotLock& operator=(const SlotLock&) = delete;

 private:
  int slot_;
};

// Frees every device session slot (device finalisation).
void close_all_sessions();

// Read-modify-write of a record under its file's writer lock, so that no
// other process's or thread's update falls between the read and the write
// (a failed login counted elsewhere, a PIN changed elsewhere). `edit` gets
// the record as it stands and sets *write when it changed it; its result is
// returned, or the write's code when the write fails. Busy or unreadable:
// the reader's code (0x520 for a token, 0x50 for the HSM record).
template <class T>
using CfgEdit = uint32_t (*)(void* ctx, T& cfg, bool* write);
[[nodiscard]] uint32_t update_token_cfg(const char* id, CfgEdit<TKN_USER_CFG> edit, void* ctx);
[[nodiscard]] uint32_t update_admin_cfg(CfgEdit<HSM_ADMIN_CFG> edit, void* ctx);

// The same with a callable `fn(T&, bool* write) -> uint32_t`.
template <class Fn>
[[nodiscard]] uint32_t update_token(const char* id, Fn& fn) {
  return update_token_cfg(
      id, [](void* c, TKN_USER_CFG& cfg, bool* w) -> uint32_t { return (*static_cast<Fn*>(c))(cfg, w); }, &fn);
}
template <class Fn>
[[nodiscard]] uint32_t update_admin(Fn& fn) {
  return update_admin_cfg(
      [](void* c, HSM_ADMIN_CFG& cfg, bool* w) -> uint32_t { return (*static_cast<Fn*>(c))(cfg, w); }, &fn);
}

// Called between the writes of token creation and deletion with the name of
// the step just done ("token file written", "list saved", "count saved",
// "files removed"); null in the product, set by the test seams
// (swhsm/testing.h) to end a process there as a crash would.
using StepHook = void (*)(const char* step);
extern StepHook g_step_hook;
// Calls the hook, if one is set.
void step(const char* name);

// Token list read that tells a missing list from a busy or malformed one.
enum class ListRead { ok, missing, failed };
ListRead read_token_list(ZEB_DEVICE_TKN_USER_LIST* out, uint32_t* code);

// A read-modify-write of the token list under the list's writer lock, held
// from begin() until the edit is destroyed, so that two processes or threads
// creating or deleting tokens at once never lose one's entry (nor, as every
// creator and deleter holds it, the HSM's token count). The list's own reads
// and writes meanwhile go through this object only.
class TokenListEdit {
 public:
  // Takes the lock and reads the list (empty when missing); code as
  // read_token_list's. With `wait` false a held lock fails at once (busy).
  [[nodiscard]] ListRead begin(uint32_t* code, bool wait = true);
  ZEB_DEVICE_TKN_USER_LIST& list() { return list_; }
  // Writes the list: 0 or the write's code.
  [[nodiscard]] uint32_t commit();

 private:
  oxlu::WriteLock lock_;
  ZEB_DEVICE_TKN_USER_LIST list_{};
};

}  // namespace swd
