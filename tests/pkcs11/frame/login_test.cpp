// Login and logout through the loaded module: PIN lengths, user types,
// states per session, failure counting and locking.
#include <string>

#include "support/p11_module.h"

namespace zt {
namespace {

constexpr CK_RV kPinIncorrect = 0xA1;  // the software HSM's code for a wrong PIN
constexpr CK_RV kPinLocked = CKR_PIN_LOCKED;

class Login : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    add_token();
    initialize();
  }
};

TEST_F(Login, PinLengthsAndArguments) {
  const CK_SESSION_HANDLE s = open();
  struct Case {
    size_t len;
    CK_RV rv;
  } cases[] = {{0, CKR_PIN_LEN_RANGE},  {7, CKR_PIN_LEN_RANGE}, {33, CKR_PIN_LEN_RANGE},
               {65, CKR_PIN_LEN_RANGE}, {8, kPinIncorrect},     {32, kPinIncorrect}};
  for (const auto& c : cases) {
    const std::string pin(c.len, 'x');
    EXPECT_EQ(p11->C_Login(s, CKU_USER, p11_bytes(pin), pin.size()), c.rv) << c.len;
  }
  EXPECT_EQ(p11->C_Login(s, CKU_USER, nullptr, 13), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_Login(s, CKU_USER, nullptr, 100), CKR_ARGUMENTS_BAD);
  // An absurd length is refused before the PIN is read.
  EXPECT_EQ(p11->C_Login(s, CKU_USER, p11_bytes("short"), ~CK_ULONG{0}), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11->C_Login(s, CKU_CONTEXT_SPECIFIC, p11_bytes(kP11UserPin), 13), CKR_USER_TYPE_INVALID);
  EXPECT_EQ(p11->C_Login(s, CKU_CONTEXT_SPECIFIC, p11_bytes(kP11UserPin), 5), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(session_info(s).state, CKS_RW_PUBLIC_SESSION);
}

TEST_F(Login, StatesFollowTheLogin) {
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  ASSERT_EQ(login(ro), CKR_OK);
  EXPECT_EQ(session_info(ro).state, CKS_RO_USER_FUNCTIONS);
  EXPECT_EQ(login(ro), CKR_USER_ALREADY_LOGGED_IN);
  EXPECT_EQ(login(ro, CKU_USER, "any wrong pin"), CKR_USER_ALREADY_LOGGED_IN);
  ASSERT_EQ(p11->C_Logout(ro), CKR_OK);
  EXPECT_EQ(session_info(ro).state, CKS_RO_PUBLIC_SESSION);
  ASSERT_EQ(p11->C_CloseSession(ro), CKR_OK);

  const CK_SESSION_HANDLE rw = open();
  ASSERT_EQ(login(rw), CKR_OK);
  EXPECT_EQ(session_info(rw).state, CKS_RW_USER_FUNCTIONS);
  ASSERT_EQ(p11->C_Logout(rw), CKR_OK);
  EXPECT_EQ(session_info(rw).state, CKS_RW_PUBLIC_SESSION);
  ASSERT_EQ(login(rw, CKU_SO), CKR_OK);
  EXPECT_EQ(session_info(rw).state, CKS_RW_SO_FUNCTIONS);
  EXPECT_EQ(login(rw, CKU_SO), CKR_USER_ALREADY_LOGGED_IN);
  ASSERT_EQ(p11->C_Logout(rw), CKR_OK);
  EXPECT_EQ(session_info(rw).state, CKS_RW_PUBLIC_SESSION);
  // Logging out of a public session changes nothing.
  EXPECT_EQ(p11->C_Logout(rw), CKR_OK);
  EXPECT_EQ(session_info(rw).state, CKS_RW_PUBLIC_SESSION);
}

TEST_F(Login, SoLoginRefusedWhileAnyReadOnlySessionIsOpen) {
  const CK_SESSION_HANDLE rw = open();
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  EXPECT_EQ(login(rw, CKU_SO), CKR_SESSION_READ_ONLY_EXISTS);
  EXPECT_EQ(login(12345, CKU_SO), CKR_SESSION_READ_ONLY_EXISTS);
  ASSERT_EQ(p11->C_CloseSession(ro), CKR_OK);
  EXPECT_EQ(login(12345, CKU_SO), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(login(rw, CKU_SO), CKR_OK);
}

// A login belongs to its session: others on the same token stay public.
TEST_F(Login, LoginBelongsToOneSession) {
  const CK_SESSION_HANDLE a = open();
  const CK_SESSION_HANDLE b = open(0, CKF_SERIAL_SESSION);
  ASSERT_EQ(login(a), CKR_OK);
  EXPECT_EQ(session_info(b).state, CKS_RO_PUBLIC_SESSION);
  ASSERT_EQ(login(b), CKR_OK);
  ASSERT_EQ(p11->C_Logout(a), CKR_OK);
  EXPECT_EQ(session_info(b).state, CKS_RO_USER_FUNCTIONS);
  // Closing a session ends its login: a new one starts public.
  ASSERT_EQ(p11->C_CloseSession(b), CKR_OK);
  EXPECT_EQ(session_info(open(0, CKF_SERIAL_SESSION)).state, CKS_RO_PUBLIC_SESSION);
}

TEST_F(Login, WrongPinsAreCountedAndLockTheUser) {
  const CK_SESSION_HANDLE s = open();
  EXPECT_EQ(login(s, CKU_USER, "wrong-pin"), kPinIncorrect);
  EXPECT_EQ(session_info(s).state, CKS_RW_PUBLIC_SESSION);
  EXPECT_TRUE(token_info().flags & CKF_USER_PIN_COUNT_LOW);
  // A right PIN clears the count.
  ASSERT_EQ(login(s), CKR_OK);
  ASSERT_EQ(p11->C_Logout(s), CKR_OK);
  EXPECT_FALSE(token_info().flags & CKF_USER_PIN_COUNT_LOW);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(login(s, CKU_USER, "wrong-pin"), kPinIncorrect);
  EXPECT_FALSE(token_info().flags & CKF_USER_PIN_FINAL_TRY);
  ASSERT_EQ(login(s, CKU_USER, "wrong-pin"), kPinIncorrect);
  EXPECT_TRUE(token_info().flags & CKF_USER_PIN_FINAL_TRY);
  ASSERT_EQ(login(s, CKU_USER, "wrong-pin"), kPinIncorrect);
  const CK_FLAGS flags = token_info().flags;
  EXPECT_TRUE(flags & CKF_USER_PIN_LOCKED);
  EXPECT_EQ(login(s), kPinLocked);
  EXPECT_EQ(session_info(s).state, CKS_RW_PUBLIC_SESSION);
}

TEST_F(Login, WrongSoPinsAreCounted) {
  const CK_SESSION_HANDLE s = open();
  EXPECT_EQ(login(s, CKU_SO, "wrong-so-pin"), kPinIncorrect);
  EXPECT_TRUE(token_info().flags & CKF_SO_PIN_COUNT_LOW);
  EXPECT_EQ(session_info(s).state, CKS_RW_PUBLIC_SESSION);
}

TEST_F(Login, NotLoggedInBeforeInitialize) {
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(login(1), CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(p11->C_Login(1, CKU_USER, nullptr, 0), CKR_CRYPTOKI_NOT_INITIALIZED);
}

}  // namespace
}  // namespace zt
