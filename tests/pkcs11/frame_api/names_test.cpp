// The code-name tables of the log, spot-checked against the values of the
// PKCS#11 header.
#include <gtest/gtest.h>

#include "frame/p11_frame.h"

namespace {

#define NAMED(x) \
  { x, #x }

struct Named {
  CK_ULONG value;
  const char* name;
};

TEST(CodeNames, ResultCodes) {
  const Named cases[] = {
      NAMED(CKR_OK),
      NAMED(CKR_CANCEL),
      NAMED(CKR_SLOT_ID_INVALID),
      NAMED(CKR_ARGUMENTS_BAD),
      NAMED(CKR_ATTRIBUTE_TYPE_INVALID),
      NAMED(CKR_ACTION_PROHIBITED),
      NAMED(CKR_AEAD_DECRYPT_FAILED),
      NAMED(CKR_FUNCTION_NOT_SUPPORTED),
      NAMED(CKR_KEY_INDIGESTIBLE),
      NAMED(CKR_MECHANISM_INVALID),
      NAMED(CKR_PIN_INCORRECT),
      NAMED(CKR_PIN_INVALID),
      NAMED(CKR_PIN_LOCKED),
      NAMED(CKR_SESSION_HANDLE_INVALID),
      NAMED(CKR_SESSION_READ_WRITE_SO_EXISTS),
      NAMED(CKR_USER_NOT_LOGGED_IN),
      NAMED(CKR_WRAPPING_KEY_TYPE_INCONSISTENT),
      NAMED(CKR_RANDOM_NO_RNG),
      NAMED(CKR_CURVE_NOT_SUPPORTED),
      NAMED(CKR_BUFFER_TOO_SMALL),
      NAMED(CKR_CRYPTOKI_ALREADY_INITIALIZED),
      NAMED(CKR_MUTEX_NOT_LOCKED),
      NAMED(CKR_PIN_TOO_WEAK),
      NAMED(CKR_FUNCTION_REJECTED),
      NAMED(CKR_OPERATION_CANCEL_FAILED),
      NAMED(CKR_VENDOR_DEFINED),
  };
  for (const auto& c : cases) EXPECT_STREQ(P11_CKRToString(c.value), c.name) << std::hex << c.value;
  EXPECT_STREQ(P11_CKRToString(0x203), "CKR_KEY_EXHAUSTED");  // PKCS#11 v3.1
  // Values without a name, and the core's and back end's own codes by value.
  EXPECT_STREQ(P11_CKRToString(4), "");
  EXPECT_STREQ(P11_CKRToString(0x600), "");
  EXPECT_STREQ(P11_CKRToString(0x80000001), "");
  EXPECT_STREQ(P11_CKRToString(~CK_ULONG{0}), "");
  EXPECT_STREQ(P11_CKRToString(0x50), "CKR_FUNCTION_CANCELED");
  EXPECT_STREQ(P11_CKRToString(0x160), "CKR_SAVED_STATE_INVALID");
}

TEST(CodeNames, AttributeTypes) {
  const Named cases[] = {
      NAMED(CKA_CLASS),
      NAMED(CKA_UNIQUE_ID),
      NAMED(CKA_VALUE),
      NAMED(CKA_NAME_HASH_ALGORITHM),
      NAMED(CKA_KEY_TYPE),
      NAMED(CKA_ID),
      NAMED(CKA_SIGN),
      NAMED(CKA_MODULUS_BITS),
      NAMED(CKA_PUBLIC_KEY_INFO),
      NAMED(CKA_VALUE_LEN),
      NAMED(CKA_DESTROYABLE),
      NAMED(CKA_EC_PARAMS),
      NAMED(CKA_EC_POINT),
      NAMED(CKA_OTP_SERVICE_LOGO_TYPE),
      NAMED(CKA_GOST28147_PARAMS),
      NAMED(CKA_HW_FEATURE_TYPE),
      NAMED(CKA_MIME_TYPES),
      NAMED(CKA_PROFILE_ID),
      NAMED(CKA_X2RATCHET_RK),
      NAMED(CKA_WRAP_TEMPLATE),
      NAMED(CKA_DERIVE_TEMPLATE),
      NAMED(CKA_ALLOWED_MECHANISMS),
      NAMED(CKA_VENDOR_DEFINED),
  };
  for (const auto& c : cases) EXPECT_STREQ(P11_CKAToString(c.value), c.name) << std::hex << c.value;
  EXPECT_STREQ(P11_CKAToString(0x134), "CKA_SUBPRIME_BITS");
  EXPECT_STREQ(P11_CKAToString(0x61C), "CKA_HSS_KEYS_REMAINING");  // PKCS#11 v3.1
  EXPECT_STREQ(P11_CKAToString(0x228), "");
  EXPECT_STREQ(P11_CKAToString(0x9), "");
  EXPECT_STREQ(P11_CKAToString(~CK_ULONG{0}), "");
}

}  // namespace
