#include "rv_names.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace velm {
namespace {

// Sorted by code. PKCS#11 v3.0 result values the core passes on, then the
// core's and the software HSM's own codes.
constexpr RvName kNames[] = {
    {0x00000001, "CKR_CANCEL", "operation cancelled"},
    {0x00000002, "CKR_HOST_MEMORY", "out of memory"},
    {0x00000003, "CKR_SLOT_ID_INVALID", "no such slot"},
    {0x00000005, "CKR_GENERAL_ERROR", "general error"},
    {0x00000006, "CKR_FUNCTION_FAILED", "the operation failed (a file may be busy in another process)"},
    {0x00000007, "CKR_ARGUMENTS_BAD", "an argument is missing, too long or malformed"},
    {0x00000030, "CKR_DEVICE_ERROR", "the HSM reported an error"},
    {0x00000031, "CKR_DEVICE_MEMORY", "the HSM is out of memory"},
    {0x00000032, "CKR_DEVICE_REMOVED", "the HSM is not reachable"},
    {0x00000050, "CKR_FUNCTION_CANCELED", "operation cancelled"},
    {0x00000051, "CKR_FUNCTION_NOT_PARALLEL", "another operation is running"},
    {0x00000054, "CKR_FUNCTION_NOT_SUPPORTED", "not supported by this HSM"},
    {0x000000A0, "CKR_PIN_INCORRECT", "wrong PIN"},
    {0x000000A1, "CKR_PIN_INVALID", "wrong PIN, or a PIN the HSM cannot hold"},
    {0x000000A2, "CKR_PIN_LEN_RANGE", "the PIN is too short or too long"},
    {0x000000A3, "CKR_PIN_EXPIRED", "the PIN has expired"},
    {0x000000A4, "CKR_PIN_LOCKED", "the PIN is locked after too many failed logins"},
    {0x000000B0, "CKR_SESSION_CLOSED", "the session was closed"},
    {0x000000B1, "CKR_SESSION_COUNT", "too many sessions are open"},
    {0x000000B3, "CKR_SESSION_HANDLE_INVALID", "no such session"},
    {0x000000B7, "CKR_SESSION_READ_WRITE_SO_EXISTS", "a security officer session is open"},
    {0x000000E0, "CKR_TOKEN_NOT_PRESENT", "no such token"},
    {0x000000E1, "CKR_TOKEN_NOT_RECOGNIZED", "the token is not recognised"},
    {0x00000100, "CKR_USER_ALREADY_LOGGED_IN", "already logged in"},
    {0x00000101, "CKR_USER_NOT_LOGGED_IN", "not logged in, or not allowed for this user"},
    {0x00000102, "CKR_USER_PIN_NOT_INITIALIZED", "the user's PIN is not set"},
    {0x00000103, "CKR_USER_TYPE_INVALID", "wrong user type"},
    {0x00000150, "CKR_BUFFER_TOO_SMALL", "an output does not fit"},
    {0x00000190, "CKR_CRYPTOKI_NOT_INITIALIZED", "the core service is not started"},
    {0x000001A0, "CKR_MUTEX_BAD", "lock failure"},
    {0x00000200, "CKR_FUNCTION_REJECTED", "refused"},
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

}  // namespace

const RvName* find_rv_name(uint32_t code) {
  const auto* it = std::lower_bound(std::begin(kNames), std::end(kNames), code,
                                    [](const RvName& n, uint32_t c) { return n.code < c; });
  return (it != std::end(kNames) && it->code == code) ? it : nullptr;
}

}  // namespace velm
