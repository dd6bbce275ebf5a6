// The one conversion of results outside the PKCS#11 v3.0 table, as a table of
// the back-end codes that have a standard meaning.
#include "frame/result_codes.h"

#include <pkcs11/ckr_names.h>

namespace zebp11 {
namespace {

struct Conversion {
  CK_RV from;
  CK_RV to;
};

constexpr Conversion kConversions[] = {
    // The core session has the other user logged in (PKCS#11 v3.0 §5.6,
    // C_Login).
    {0x521, CKR_USER_ANOTHER_ALREADY_LOGGED_IN},
    // The device's session table is full.
    {0x580, CKR_SESSION_COUNT},
    {0x2032, CKR_SESSION_COUNT},
    // The secure element does not implement the command.
    {0x2200, CKR_FUNCTION_NOT_SUPPORTED},
};

// The last value of the v3.0 table; the names table also holds later ones.
constexpr CK_RV kLastOfV30 = CKR_OPERATION_CANCEL_FAILED;

}  // namespace

bool is_standard_rv(CK_RV rv) noexcept { return rv <= kLastOfV30 && zeb::ckr_name(rv) != nullptr; }

CK_RV ck_rv(CK_RV rv) noexcept {
  if (is_standard_rv(rv)) return rv;
  for (const Conversion& c : kConversions) {
    if (c.from == rv) return c.to;
  }
  return CKR_DEVICE_ERROR;
}

}  // namespace zebp11
