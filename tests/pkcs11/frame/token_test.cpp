// Token initialisation and PINs through the loaded module.
#include <cstring>
#include <regex>
#include <string>

#include "support/p11_module.h"

namespace zt {
namespace {

constexpr CK_RV kPinIncorrect = 0xA1;

// A 32-byte PKCS#11 label field.
struct Label {
  explicit Label(const std::string& text, char pad = ' ') {
    std::memset(bytes, pad, sizeof bytes);
    std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes));
  }
  CK_UTF8CHAR bytes[32];
};

class Tokens : public P11Test {
 protected:
  CK_RV init_token(const std::string& pin, const Label& label, CK_SLOT_ID slot = 0) {
    return p11->C_InitToken(slot, p11_bytes(pin), pin.size(), const_cast<CK_UTF8CHAR*>(label.bytes));
  }
  // The token's serial number, from its configuration file.
  std::string token_sn(const std::string& id) {
    std::smatch m;
    const std::string cfg = read_file("SwHsm/" + id + "/TknUser.cfg");
    EXPECT_TRUE(std::regex_search(cfg, m, std::regex("(^|\n)Sn=([^\n]*)")));
    return m[2];
  }
  // Opens a session, logs in, and closes it again; the login's result.
  CK_RV try_login(CK_USER_TYPE who, const std::string& pin) {
    const CK_SESSION_HANDLE s = open();
    const CK_RV rv = login(s, who, pin);
    EXPECT_EQ(p11->C_CloseSession(s), CKR_OK);
    return rv;
  }
};

TEST_F(Tokens, InitTokenArguments) {
  add_token();
  add_token();
  initialize();
  const Label label("fresh");
  EXPECT_EQ(init_token(std::string(7, 'p'), label), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(init_token(std::string(33, 'p'), label), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11->C_InitToken(0, p11_bytes(kP11UserPin), 13, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_InitToken(0, nullptr, 13, const_cast<CK_UTF8CHAR*>(label.bytes)), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(init_token(kP11UserPin, label, 9), CKR_SLOT_ID_INVALID);
  const CK_SESSION_HANDLE s = open(1);
  EXPECT_EQ(init_token(kP11UserPin, label), CKR_SESSION_EXISTS);
  ASSERT_EQ(p11->C_CloseSession(s), CKR_OK);
  EXPECT_EQ(p11_text(token_info().label), "ZEB-Default-Token-Label");
}

// Re-initialising needs the current SO PIN; it wipes the token and sets the
// user PIN to the token's serial number.
TEST_F(Tokens, ReInitialise) {
  const std::string id = add_token();
  initialize();
  EXPECT_EQ(init_token("wrong-so-pin", Label("renamed")), kPinIncorrect);
  EXPECT_EQ(p11_text(token_info().label), "ZEB-Default-Token-Label");
  ASSERT_EQ(init_token(kP11UserPin, Label("renamed")), CKR_OK);
  EXPECT_EQ(p11_text(token_info().label), "renamed");
  EXPECT_EQ(token_info().ulSessionCount, 0u);  // the temporary session is gone
  EXPECT_EQ(try_login(CKU_USER, token_sn(id)), CKR_OK);
  EXPECT_EQ(try_login(CKU_SO, kP11UserPin), CKR_OK);
}

TEST_F(Tokens, LabelConflicts) {
  add_token();
  initialize();
  ASSERT_EQ(init_token(kP11UserPin, Label("renamed")), CKR_OK);
  EXPECT_EQ(init_token(kP11UserPin, Label("renamed")), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(init_token(kP11UserPin, Label("ren", '\0')), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(init_token(kP11UserPin, Label("", '\0')), CKR_ARGUMENTS_BAD);
  // A blank-padded label counts all 32 bytes, so it is no prefix.
  ASSERT_EQ(init_token(kP11UserPin, Label("ren")), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(token_info().label), 32), "ren" + std::string(29, ' '));
}

// A token never initialised takes the caller's PIN as its SO PIN.
TEST_F(Tokens, FirstInitialisation) {
  add_token(kP11UserPin, /*uninitialised=*/true);
  initialize();
  EXPECT_EQ(token_info().flags, CKF_RNG | CKF_LOGIN_REQUIRED | CKF_SO_PIN_TO_BE_CHANGED);
  ASSERT_EQ(init_token("new-so-pin-1", Label("first")), CKR_OK);
  const CK_TOKEN_INFO info = token_info();
  EXPECT_EQ(p11_text(info.label), "first");
  EXPECT_EQ(info.flags, CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_TO_BE_CHANGED);
  EXPECT_EQ(try_login(CKU_SO, "new-so-pin-1"), CKR_OK);
}

TEST_F(Tokens, InitPinNeedsTheSo) {
  add_token();
  initialize();
  const std::string pin = "new-user-pin";
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  EXPECT_EQ(p11->C_InitPIN(ro, p11_bytes(pin), pin.size()), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(login(ro), CKR_OK);
  EXPECT_EQ(p11->C_InitPIN(ro, p11_bytes(pin), pin.size()), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(p11->C_CloseSession(ro), CKR_OK);
  const CK_SESSION_HANDLE rw = open();
  EXPECT_EQ(p11->C_InitPIN(rw, p11_bytes(pin), pin.size()), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(login(rw), CKR_OK);
  EXPECT_EQ(p11->C_InitPIN(rw, p11_bytes(pin), pin.size()), CKR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(p11->C_Logout(rw), CKR_OK);
  ASSERT_EQ(login(rw, CKU_SO), CKR_OK);
  EXPECT_EQ(p11->C_InitPIN(rw, p11_bytes(pin), 7), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11->C_InitPIN(rw, p11_bytes(pin), 33), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11->C_InitPIN(rw, nullptr, 12), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_InitPIN(0, p11_bytes(pin), pin.size()), CKR_SESSION_HANDLE_INVALID);
  ASSERT_EQ(p11->C_InitPIN(rw, p11_bytes(pin), pin.size()), CKR_OK);
  ASSERT_EQ(p11->C_Logout(rw), CKR_OK);
  EXPECT_EQ(try_login(CKU_USER, pin), CKR_OK);
  EXPECT_EQ(try_login(CKU_USER, kP11UserPin), kPinIncorrect);
}

// The SO sets a new user PIN on a locked user: the user is unlocked first.
TEST_F(Tokens, InitPinUnlocksALockedUser) {
  add_token();
  initialize();
  const CK_SESSION_HANDLE s = open();
  for (int i = 0; i < 10; ++i) ASSERT_EQ(login(s, CKU_USER, "wrong-pin"), kPinIncorrect);
  ASSERT_TRUE(token_info().flags & CKF_USER_PIN_LOCKED);
  ASSERT_EQ(login(s, CKU_SO), CKR_OK);
  const std::string pin = "unlocked-pin";
  ASSERT_EQ(p11->C_InitPIN(s, p11_bytes(pin), pin.size()), CKR_OK);
  EXPECT_FALSE(token_info().flags & CKF_USER_PIN_LOCKED);
  ASSERT_EQ(p11->C_Logout(s), CKR_OK);
  EXPECT_EQ(login(s, CKU_USER, pin), CKR_OK);
}

TEST_F(Tokens, SetPinArgumentsAndStates) {
  add_token();
  initialize();
  const std::string pin = "changed-pin";
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  auto set_pin = [&](CK_SESSION_HANDLE s, const std::string& old_pin, const std::string& new_pin) {
    return p11->C_SetPIN(s, p11_bytes(old_pin), old_pin.size(), p11_bytes(new_pin), new_pin.size());
  };
  EXPECT_EQ(set_pin(ro, kP11UserPin, pin), CKR_SESSION_READ_ONLY);
  ASSERT_EQ(login(ro), CKR_OK);
  EXPECT_EQ(set_pin(ro, kP11UserPin, pin), CKR_SESSION_READ_ONLY);
  EXPECT_EQ(set_pin(ro, "short", pin), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(set_pin(ro, kP11UserPin, std::string(33, 'n')), CKR_PIN_LEN_RANGE);
  EXPECT_EQ(p11->C_SetPIN(ro, nullptr, 13, p11_bytes(pin), pin.size()), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_SetPIN(ro, p11_bytes(pin), pin.size(), nullptr, 13), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(set_pin(0, kP11UserPin, pin), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(Tokens, SetPinOfTheUser) {
  add_token();
  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s), CKR_OK);
  const std::string pin = "changed-pin";
  // A wrong old PIN changes nothing and leaves no core session behind.
  EXPECT_EQ(p11->C_SetPIN(s, p11_bytes("wrong-old-pin"), 13, p11_bytes(pin), pin.size()), kPinIncorrect);
  EXPECT_EQ(token_info().ulSessionCount, 1u);
  ASSERT_EQ(p11->C_SetPIN(s, p11_bytes(kP11UserPin), 13, p11_bytes(pin), pin.size()), CKR_OK);
  EXPECT_EQ(session_info(s).state, CKS_RW_USER_FUNCTIONS);
  ASSERT_EQ(p11->C_CloseSession(s), CKR_OK);
  EXPECT_EQ(try_login(CKU_USER, pin), CKR_OK);
  EXPECT_EQ(try_login(CKU_USER, kP11UserPin), kPinIncorrect);
}

// From a read/write public session the old PIN proves the user and the new
// PIN is set under that proof.
TEST_F(Tokens, SetPinFromAPublicSession) {
  add_token();
  initialize();
  const CK_SESSION_HANDLE s = open();
  const std::string pin = "changed-pin";
  ASSERT_EQ(p11->C_SetPIN(s, p11_bytes(kP11UserPin), 13, p11_bytes(pin), pin.size()), CKR_OK);
  EXPECT_EQ(session_info(s).state, CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(login(s, CKU_USER, pin), CKR_OK);
}

TEST_F(Tokens, SetPinOfTheSo) {
  add_token();
  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s, CKU_SO), CKR_OK);
  const std::string pin = "changed-so-pin";
  ASSERT_EQ(p11->C_SetPIN(s, p11_bytes(kP11UserPin), 13, p11_bytes(pin), pin.size()), CKR_OK);
  ASSERT_EQ(p11->C_CloseSession(s), CKR_OK);
  EXPECT_EQ(try_login(CKU_SO, pin), CKR_OK);
  // The user's PIN is untouched.
  EXPECT_EQ(try_login(CKU_USER, kP11UserPin), CKR_OK);
}

}  // namespace
}  // namespace zt
