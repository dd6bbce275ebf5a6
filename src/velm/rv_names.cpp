#include "rv_names.h"

#include <pkcs11/ckr_names.h>

#include <algorithm>
#include <iterator>

namespace velm {
namespace {

// A PKCS#11 result value under its name from the shared table.
constexpr RvName ckr(CK_RV code, const char* meaning) {
  return {static_cast<uint32_t>(code), zeb::ckr_name(code), meaning};
}

// Sorted by code. PKCS#11 v3.0 result values the core passes on, then the
// core's and the software HSM's own codes.
constexpr RvName kNames[] = {
    ckr(CKR_CANCEL, "operation cancelled"),
    ckr(CKR_HOST_MEMORY, "out of memory"),
    ckr(CKR_SLOT_ID_INVALID, "no such slot"),
    ckr(CKR_GENERAL_ERROR, "general error"),
    ckr(CKR_FUNCTION_FAILED, "the operation failed (a file may be busy in another process)"),
    ckr(CKR_ARGUMENTS_BAD, "an argument is missing, too long or malformed"),
    ckr(CKR_DEVICE_ERROR, "the HSM reported an error"),
    ckr(CKR_DEVICE_MEMORY, "the HSM is out of memory"),
    ckr(CKR_DEVICE_REMOVED, "the HSM is not reachable"),
    ckr(CKR_FUNCTION_CANCELED, "operation cancelled"),
    ckr(CKR_FUNCTION_NOT_PARALLEL, "another operation is running"),
    ckr(CKR_FUNCTION_NOT_SUPPORTED, "not supported by this HSM"),
    ckr(CKR_PIN_INCORRECT, "wrong PIN"),
    ckr(CKR_PIN_INVALID, "wrong PIN, or a PIN the HSM cannot hold"),
    ckr(CKR_PIN_LEN_RANGE, "the PIN is too short or too long"),
    ckr(CKR_PIN_EXPIRED, "the PIN has expired"),
    ckr(CKR_PIN_LOCKED, "the PIN is locked after too many failed logins"),
    ckr(CKR_SESSION_CLOSED, "the session was closed"),
    ckr(CKR_SESSION_COUNT, "too many sessions are open"),
    ckr(CKR_SESSION_HANDLE_INVALID, "no such session"),
    ckr(CKR_SESSION_READ_WRITE_SO_EXISTS, "a security officer session is open"),
    ckr(CKR_TOKEN_NOT_PRESENT, "no such token"),
    ckr(CKR_TOKEN_NOT_RECOGNIZED, "the token is not recognised"),
    ckr(CKR_USER_ALREADY_LOGGED_IN, "already logged in"),
    ckr(CKR_USER_NOT_LOGGED_IN, "not logged in, or not allowed for this user"),
    ckr(CKR_USER_PIN_NOT_INITIALIZED, "the user's PIN is not set"),
    ckr(CKR_USER_TYPE_INVALID, "wrong user type"),
    ckr(CKR_BUFFER_TOO_SMALL, "an output does not fit"),
    ckr(CKR_CRYPTOKI_NOT_INITIALIZED, "the core service is not started"),
    ckr(CKR_MUTEX_BAD, "lock failure"),
    ckr(CKR_FUNCTION_REJECTED, "refused"),
    {0x00000500, "SWD_ERR_NULL", "the software HSM was given no data"},
    {0x00000501, "SWD_ERR_SN_MISMATCH", "the HSM serial number does not match the software HSM"},
    {0x00000520, "SWD_ERR_TKN_CFG", "a token file is missing, busy or not writable"},
    {0x00000521, "SWD_ERR_USER_NOT_IDLE", "the user is in the wrong state"},
    {0x00000560, "SWD_ERR_MAC_MISMATCH", "a stored object failed its integrity check"},
    {0x00000580, "SWD_ERR_HSM_SESS_FULL", "too many HSM sessions"},
    {0x00000600, "STO_ERR_NULL", "the object store was given no data"},
};

static_assert(std::is_sorted(std::begin(kNames), std::end(kNames),
                             [](const RvName& a, const RvName& b) { return a.code < b.code; }));
static_assert(std::none_of(std::begin(kNames), std::end(kNames), [](const RvName& n) { return n.name == nullptr; }),
              "every result value has a name");

}  // namespace

const RvName* find_rv_name(uint32_t code) {
  const auto* it = std::lower_bound(std::begin(kNames), std::end(kNames), code,
                                    [](const RvName& n, uint32_t c) { return n.code < c; });
  return (it != std::end(kNames) && it->code == code) ? it : nullptr;
}

}  // namespace velm
