// The module frame that every entry point builds on: the initialised flag,
// the slot and session tables and their accessors, the code names, the log,
// and the opening checks and exception guard of an entry point.
//
// The tables are shared by the threads of the application: every accessor
// takes the tables' lock and copies in or out under it; none hands out a
// pointer into a table.
#pragma once

#include <pkcs11/pkcs11.h>
#include <zeb/vrk.h>

#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <vector>

#include "frame/module_state.h"
#include "frame/p11_log.h"

// ---- Limits ---------------------------------------------------------------

inline constexpr size_t P11_MAX_SLOTS = 10;
inline constexpr size_t P11_MAX_SESSIONS = 20;
inline constexpr CK_ULONG P11_MIN_PIN_LEN = 8;
inline constexpr CK_ULONG P11_MAX_PIN_LEN = 32;  // the PIN fields of the devices
inline constexpr size_t P11_TOKEN_ID_LEN = 16;
inline constexpr size_t P11_LABEL_LEN = 32;
// `Mech` of a session that runs no operation.
inline constexpr CK_MECHANISM_TYPE P11_MECH_NONE = CKM_VENDOR_DEFINED;

// ---- Records ---------------------------------------------------------------

struct ZEBP11_SLOT_INFO {
  CK_SLOT_ID slotID;
  VRK_UCHAR TknId[P11_TOKEN_ID_LEN];
  CK_SLOT_INFO ck_slot_info;
};

// One attribute of a search template: its type and the module's own copy of
// its value.
struct ZEBP11_FIND_ATTR {
  CK_ATTRIBUTE_TYPE type = 0;
  std::vector<CK_BYTE> value;
};

// The find state of a session, owned by its entry and used only under the
// session table's lock: the module's copy of the search template and the
// handles of its matches, gathered once when the find began and handed out in
// order from `position`. The empty state is "no find".
struct ZEBP11_FINDOBJ_INFO {
  std::vector<ZEBP11_FIND_ATTR> target_attrs;
  std::vector<CK_OBJECT_HANDLE> matches;
  size_t position = 0;  // matches handed out so far
};

// One session entry; its default value is the free entry.
struct ZEBP11_SESSION_INFO {
  CK_SESSION_HANDLE hSess = 0;  // 0: free
  CK_SESSION_INFO SessInfo{0xFFFFFFFFUL, 0, 0, 0};
  VRK_HANDLE hVRK = 0;  // 0: free
  VRK_UCHAR TknId[P11_TOKEN_ID_LEN] = {};
  CK_MECHANISM_TYPE Mech = P11_MECH_NONE;
  ZEBP11_FINDOBJ_INFO FindObj;
};

// ---- Module state ----------------------------------------------------------
// isInitialised and P11_GetHsmHandle: frame/module_state.h.

// ---- Slots -----------------------------------------------------------------

[[nodiscard]] CK_RV P11_CheckSlotIDValid(CK_SLOT_ID slotID) noexcept;
// Copies the 16 bytes of the slot's token ID; CKR_SLOT_ID_INVALID.
[[nodiscard]] CK_RV P11_SlotIDtoVRKTokenID(CK_SLOT_ID slotID, VRK_UCHAR* tknId) noexcept;
[[nodiscard]] CK_ULONG P11_GetTokenCounts() noexcept;
[[nodiscard]] CK_RV P11_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO* info) noexcept;
// Fresh token information of the slot's token, read from the core.
[[nodiscard]] CK_RV P11_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO* info) noexcept;

// ---- Sessions --------------------------------------------------------------
// Every lookup answers CKR_SESSION_HANDLE_INVALID for a handle that no open
// session has (0 included), with the output untouched.

[[nodiscard]] CK_RV P11_CheckSessionExists(CK_SESSION_HANDLE hSession) noexcept;
[[nodiscard]] CK_RV P11_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO* info) noexcept;
[[nodiscard]] CK_RV P11_SetSessionInfo(CK_SESSION_HANDLE hSession, const CK_SESSION_INFO* info) noexcept;
[[nodiscard]] CK_RV P11_GetVRKSessionHdle(CK_SESSION_HANDLE hSession, VRK_HANDLE* hVRK) noexcept;
// Copies the session's token ID up to its first zero byte (at most 16 bytes).
[[nodiscard]] CK_RV P11_GetVRKTokenId(CK_SESSION_HANDLE hSession, VRK_UCHAR* tknId) noexcept;
[[nodiscard]] CK_RV P11_GetSessionMech(CK_SESSION_HANDLE hSession, CK_MECHANISM_TYPE* mech) noexcept;
// P11_MECH_NONE ends the operation.
[[nodiscard]] CK_RV P11_SetSessionMech(CK_SESSION_HANDLE hSession, CK_MECHANISM_TYPE mech) noexcept;
// Makes `info` the session's find state, in place of the one it held (the
// empty state ends the find). With an unknown handle `info` stays the
// caller's.
[[nodiscard]] CK_RV P11_SetFindObjectInfo(CK_SESSION_HANDLE hSession, ZEBP11_FINDOBJ_INFO&& info) noexcept;
// Reads the session's find state: hands out its next matches, up to `max`
// handles into `out` and their number into *count, and moves the find past
// them (the state itself never leaves the entry).
[[nodiscard]] CK_RV P11_GetFindObjectInfo(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE* out, CK_ULONG max,
                                          CK_ULONG* count) noexcept;
[[nodiscard]] bool P11_CheckRWSOExists() noexcept;
[[nodiscard]] bool P11_CheckROSessionExists() noexcept;
[[nodiscard]] CK_RV P11_ResetSessInfo(CK_SESSION_INFO* info) noexcept;

// ---- Code names ------------------------------------------------------------

// The CKR_* / CKA_* name of a value; "" for a value without one.
[[nodiscard]] const char* P11_CKRToString(CK_RV rv) noexcept;
[[nodiscard]] const char* P11_CKAToString(CK_ATTRIBUTE_TYPE type) noexcept;

// ---- Entry points ----------------------------------------------------------

namespace zebp11 {

// No C++ exception crosses the C boundary: every entry point is a function
// try block ending in P11_CATCH_ALL, which answers a failed allocation with
// CKR_HOST_MEMORY and anything else with CKR_GENERAL_ERROR.
//   CK_RV C_Foo(...) try { ... } P11_CATCH_ALL
[[nodiscard]] CK_RV exception_to_rv() noexcept;

// The opening checks of an entry point, in this order: the initialised flag
// (CKR_CRYPTOKI_NOT_INITIALIZED), the pointers the call needs
// (CKR_ARGUMENTS_BAD), then the session (a traced lookup,
// CKR_SESSION_HANDLE_INVALID).
struct EntryChecks {
  bool initialised = true;
  std::initializer_list<const void*> required{};
  std::optional<CK_SESSION_HANDLE> session{};
};
[[nodiscard]] CK_RV entry_checks(const Site& site, const EntryChecks& checks) noexcept;

// The core calls of one entry point share one call scope (see
// VRK_BeginCallScope): the token keys are checked once per entry point,
// not once per core call.
class CallScope {
 public:
  CallScope() noexcept { VRK_BeginCallScope(); }
  ~CallScope() { VRK_EndCallScope(); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

// True when a PIN length is one the token takes.
[[nodiscard]] constexpr bool pin_length_ok(CK_ULONG len) noexcept {
  return len >= P11_MIN_PIN_LEN && len <= P11_MAX_PIN_LEN;
}

}  // namespace zebp11

#define P11_CATCH_ALL                   \
  catch (...) {                         \
    return ::zebp11::exception_to_rv(); \
  }

// P11_ENTRY_CHECKS(.required = {pInfo}, .session = hSession): opens the
// entry point's call scope, then returns the first failure from the calling
// entry point.
#define P11_ENTRY_CHECKS(...)                                                                            \
  const ::zebp11::CallScope p11_call_scope_;                                                             \
  do {                                                                                                   \
    const CK_RV p11_entry_rv_ = ::zebp11::entry_checks(ZEBP11_SITE, ::zebp11::EntryChecks{__VA_ARGS__}); \
    if (p11_entry_rv_ != CKR_OK) return p11_entry_rv_;                                                   \
  } while (0)
