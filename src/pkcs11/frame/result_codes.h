// What a caller of the module receives as a result: a value of the PKCS#11
// v3.0 result table. The core passes on the codes of its back ends, some of
// which the standard does not know; they are converted where the module takes
// a core result (the traced and checked calls of p11_log.h, and every other
// place that returns a core result).
#pragma once

#include <pkcs11/pkcs11.h>

namespace zebp11 {

// True for a value of the PKCS#11 v3.0 result table.
[[nodiscard]] bool is_standard_rv(CK_RV rv) noexcept;
// `rv` when it is a value of the table; any other value by the module's one
// conversion table, and CKR_DEVICE_ERROR where that has no row.
[[nodiscard]] CK_RV ck_rv(CK_RV rv) noexcept;

}  // namespace zebp11
