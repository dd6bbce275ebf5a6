// Token level: logins with failure counting and locking, unlock, PINs,
// label, policy, backup and restore, information.
#include <sys/stat.h>

#include "fixture.h"

namespace {

using namespace swt;

class Token : public Device {
 protected:
  void SetUp() override {
    Device::SetUp();
    id_ = create_token(&sn_);
  }
  uint32_t user_login(ZEB_DEVICE_HANDLE s, const std::string& pin) {
    return SWD_LoginTokenByPin(s, u8(pin.c_str()), pin.size());
  }
  uint32_t so_login(ZEB_DEVICE_HANDLE s, const std::string& pin) {
    return SWD_LoginTokenSuperUserByPin(s, u8(pin.c_str()), pin.size());
  }
  uint8_t status_of(ZEB_DEVICE_HANDLE s) {
    ZEB_DEVICE_TOKEN_SESSION_INFO info{};
    EXPECT_EQ(SWD_GetTokenSessionInfo(s, &info), 0u);
    return info.SessStatus;
  }
  std::string id_, sn_;
};

TEST_F(Token, NewTokenPinsAreSerialNumbers) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  EXPECT_EQ(status_of(s), 1);
  ASSERT_EQ(user_login(s, sn_), 0u);
  EXPECT_EQ(status_of(s), 8);
  EXPECT_EQ(user_login(s, sn_), 0x521u);  // already logged in
  ASSERT_EQ(SWD_LogoutToken(s), 0u);
  EXPECT_EQ(status_of(s), 1);
  EXPECT_EQ(SWD_LogoutToken(s), SWD_ERR_NOT_LOGGED_IN);
  ASSERT_EQ(so_login(s, kHsmSn), 0u);
  EXPECT_EQ(status_of(s), 4);
  EXPECT_EQ(so_login(s, kHsmSn), 0x100u);
  EXPECT_EQ(user_login(s, sn_), 0x521u);
  ASSERT_EQ(SWD_LogoutTokenSuperUser(s), 0u);
  ZEB_DEVICE_TOKEN_SESSION_INFO info{};
  ASSERT_EQ(SWD_GetTokenSessionInfo(s, &info), 0u);
  EXPECT_EQ(str(info.TknId, 6), id_ + std::string(1, '\0'));
  EXPECT_EQ(str(info.TknLabel, 23), "ZEB-Default-Token-Label");
  uint8_t tsn[16];
  ASSERT_EQ(SWD_GetTokenSn(s, tsn), 0u);
  EXPECT_EQ(str(tsn, 16), sn_);
}

ino_t inode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  return st.st_ino;
}

TEST_F(Token, ConfigurationRewrittenOnlyWhenItChanges) {
  const std::string path = "./SwHsm/" + id_ + "/TknUser.cfg";
  const ino_t first = inode_of(path);
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  ASSERT_EQ(user_login(s, sn_), 0u);
  ASSERT_EQ(SWD_LogoutToken(s), 0u);
  EXPECT_EQ(inode_of(path), first);  // nothing changed, nothing written
  ASSERT_EQ(user_login(s, "bad"), 0xA1u);
  const ino_t counted = inode_of(path);
  EXPECT_NE(counted, first);  // every rewrite replaces the file whole
  ASSERT_EQ(user_login(s, sn_), 0u);
  EXPECT_NE(inode_of(path), counted);  // the counter was cleared
  EXPECT_EQ(token_cfg(id_).NormalUserLoginFailCount, 0);
}

TEST_F(Token, UserLockedAfterMaxFailuresAndUnlockedBySuperUser) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  for (int i = 1; i <= 9; ++i) ASSERT_EQ(user_login(s, "bad"), 0xA1u) << i;
  EXPECT_EQ(token_cfg(id_).NormalUserLoginFailCount, 9);
  EXPECT_EQ(user_login(s, "bad"), 0xA1u);
  EXPECT_EQ(token_cfg(id_).TknStatus, 4);
  EXPECT_EQ(user_login(s, sn_), 0xA4u);
  uint8_t st = 0;
  ASSERT_EQ(SWD_GetTokenStatus(hsm_, u8(id_.c_str()), &st), 0u);
  EXPECT_EQ(st, 4);

  // A new PIN does not unlock.
  const ZEB_DEVICE_HANDLE so = open_token(id_);
  ASSERT_EQ(so_login(so, kHsmSn), 0u);
  ASSERT_EQ(SWD_SetTokenPin(so, u8("newuserpin"), 10), 0u);
  EXPECT_EQ(token_cfg(id_).TknStatus, 4);
  EXPECT_EQ(SWD_UnlockTokenNormalUser(s, u8(id_.c_str())), SWD_ERR_NOT_LOGGED_IN);  // the user's session
  ASSERT_EQ(SWD_UnlockTokenNormalUser(so, u8(id_.c_str())), 0u);
  const TKN_USER_CFG c = token_cfg(id_);
  EXPECT_EQ(c.TknStatus, 3);
  EXPECT_EQ(c.NormalUserLoginFailCount, 0);
  EXPECT_EQ(c.MaxNormalUserLoginFailCount, 10);
  EXPECT_EQ(SWD_UnlockTokenNormalUser(so, u8(id_.c_str())), SWD_ERR_FAILED);  // not locked any more
  EXPECT_EQ(user_login(s, "newuserpin"), 0u);
}

TEST_F(Token, SuperUserTerminatedAfterMaxFailures) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  for (int i = 1; i <= 10; ++i) ASSERT_EQ(so_login(s, "bad"), 0xA1u) << i;
  EXPECT_EQ(token_cfg(id_).TknStatus, 5);
  EXPECT_EQ(so_login(s, kHsmSn), 0xA4u);
  EXPECT_EQ(user_login(s, sn_), 0xA4u);
}

TEST_F(Token, WrongPinShapes) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  std::string wrong = sn_;
  wrong[3] = wrong[3] == '0' ? '1' : '0';
  EXPECT_EQ(user_login(s, wrong), 0xA1u);
  EXPECT_EQ(user_login(s, sn_.substr(0, 15)), 0xA1u);
  EXPECT_EQ(user_login(s, sn_ + "0"), 0xA1u);
  EXPECT_EQ(user_login(s, std::string(64, 'x')), 0xA1u);  // longer than any stored PIN
  EXPECT_EQ(token_cfg(id_).NormalUserLoginFailCount, 4);
  ASSERT_EQ(user_login(s, sn_), 0u);
  EXPECT_EQ(token_cfg(id_).NormalUserLoginFailCount, 0);
}

TEST_F(Token, PinChangesAndTheirLimits) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  EXPECT_EQ(SWD_SetTokenPin(s, u8("1234"), 4), SWD_ERR_NOT_LOGGED_IN);
  ASSERT_EQ(so_login(s, kHsmSn), 0u);
  ASSERT_EQ(SWD_SetTokenSuperUserPin(s, u8("so-pin"), 6), 0u);
  EXPECT_EQ(token_cfg(id_).TknStatus, 2);
  const std::string p33(33, '3');
  EXPECT_EQ(SWD_SetTokenPin(s, u8(p33.c_str()), 33), SWD_ERR_PIN_LEN_RANGE);
  EXPECT_EQ(SWD_SetTokenSuperUserPin(s, u8(p33.c_str()), 33), SWD_ERR_PIN_LEN_RANGE);
  EXPECT_EQ(SWD_SetTokenPin(s, u8("12\r4"), 4), SWD_ERR_PIN_INCORRECT);
  EXPECT_EQ(SWD_SetTokenPin(s, u8("12\0\x34"), 4), SWD_ERR_PIN_INCORRECT);
  const std::string p32(32, 'u');
  ASSERT_EQ(SWD_SetTokenPin(s, u8(p32.c_str()), 32), 0u);
  const TKN_USER_CFG c = token_cfg(id_);
  EXPECT_EQ(c.TknStatus, 3);
  EXPECT_EQ(str(c.NormalUserPin, 32), p32);
  ASSERT_EQ(SWD_LogoutTokenSuperUser(s), 0u);
  ASSERT_EQ(user_login(s, p32), 0u);
  ASSERT_EQ(SWD_SetTokenPin(s, u8("short"), 5), 0u);  // the user changes their own PIN
  EXPECT_EQ(SWD_SetTokenSuperUserPin(s, u8("x"), 1), SWD_ERR_NOT_LOGGED_IN);
  ASSERT_EQ(SWD_LogoutToken(s), 0u);
  EXPECT_EQ(user_login(s, p32), 0xA1u);
  EXPECT_EQ(user_login(s, "short"), 0u);
}

TEST_F(Token, LabelChanges) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  EXPECT_EQ(SWD_SetTokenLabel(s, u8("x"), 1), SWD_ERR_NOT_LOGGED_IN);
  ASSERT_EQ(user_login(s, sn_), 0u);
  const std::string l33(33, 'L');
  EXPECT_EQ(SWD_SetTokenLabel(s, u8(l33.c_str()), 33), SWD_ERR_ARGUMENTS);
  EXPECT_EQ(SWD_SetTokenLabel(s, u8("a\nMK=x"), 6), SWD_ERR_ARGUMENTS);
  EXPECT_EQ(SWD_SetTokenLabel(s, u8("a\0b"), 3), SWD_ERR_ARGUMENTS);
  const std::string l32 = "abcdefghijklmnopqrstuvwxyz012345";
  ASSERT_EQ(SWD_SetTokenLabel(s, u8(l32.c_str()), 32), 0u);
  ZEB_DEVICE_TOKEN_INFO info{};
  ASSERT_EQ(SWD_GetTokenInfo(hsm_, u8(id_.c_str()), &info), 0u);
  EXPECT_EQ(str(info.TknLabel, 32), l32);
  EXPECT_EQ(info.NormalUserLoginFailCount, 0);
  EXPECT_EQ(info.MaxNormalUserLoginFailCount, 10);
  ZEB_DEVICE_TKN_USER_LIST l{};
  ASSERT_EQ(SWD_ListTokens(hsm_, &l), 0u);
  EXPECT_EQ(str(l.TknLabel[0], 32), l32);
  EXPECT_EQ(status_of(s), 8);  // kept
  ZEB_DEVICE_TOKEN_SESSION_INFO si{};
  ASSERT_EQ(SWD_GetTokenSessionInfo(s, &si), 0u);
  EXPECT_EQ(str(si.TknLabel, 32), l32);
  // Trailing zero padding is carried intact and accepted.
  ASSERT_EQ(SWD_SetTokenLabel(s, u8("pad\0\0\0"), 6), 0u);
  EXPECT_EQ(str(token_cfg(id_).Label, 4), std::string("pad\0", 4));
}

TEST_F(Token, InfoCountsEveryOpenSession) {
  open_hsm_session();
  open_token(id_);
  open_token(id_);
  ZEB_DEVICE_TOKEN_INFO info{};
  ASSERT_EQ(SWD_GetTokenInfo(hsm_, u8(id_.c_str()), &info), 0u);
  EXPECT_EQ(info.SessionCount, 3);
  EXPECT_EQ(info.MaxSessionCount, 20);
  EXPECT_EQ(str(info.TknSn, 16), sn_);
  EXPECT_EQ(info.TknStatus, 1);
  EXPECT_EQ(str(info.TknId, 6), id_ + std::string(1, '\0'));
  EXPECT_EQ(SWD_GetTokenInfo(hsm_ + 1, u8(id_.c_str()), &info), SWD_ERR_SESSION_HANDLE);
  EXPECT_EQ(SWD_GetTokenInfo(hsm_, u8("Tkn77"), &info), SWD_ERR_HSM_CFG);
  EXPECT_EQ(SWD_GetTokenInfo(hsm_, u8("../SwHsm"), &info), SWD_ERR_HSM_CFG);
}

TEST_F(Token, PolicyUserCannotTouchSuperUserCounters) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  ASSERT_EQ(so_login(s, "bad"), 0xA1u);
  ASSERT_EQ(so_login(s, "bad"), 0xA1u);
  ASSERT_EQ(user_login(s, sn_), 0u);
  ZEB_DEVICE_TOKEN_POLICY p{};
  std::memset(p.Reserved, 0xEE, 4);
  ASSERT_EQ(SWD_GetTokenPolicy(s, &p), 0u);
  EXPECT_EQ(p.SuperUserLoginFailCount, 2);
  EXPECT_EQ(p.MaxSuperUserLoginFailCount, 10);
  EXPECT_EQ(p.Reserved[0], 0);
  // Clearing the super user's failures (or raising its maximum) is refused.
  ZEB_DEVICE_TOKEN_POLICY q = p;
  q.SuperUserLoginFailCount = 0;
  EXPECT_EQ(SWD_SetTokenPolicy(s, &q), SWD_ERR_NOT_LOGGED_IN);
  q = p;
  q.MaxSuperUserLoginFailCount = 255;
  EXPECT_EQ(SWD_SetTokenPolicy(s, &q), SWD_ERR_NOT_LOGGED_IN);
  EXPECT_EQ(token_cfg(id_).SuperUserLoginFailCount, 2);
  // The user's own counters may change; the state does not.
  q = p;
  q.MaxNormalUserLoginFailCount = 3;
  q.NormalUserLoginFailCount = 3;
  ASSERT_EQ(SWD_SetTokenPolicy(s, &q), 0u);
  const TKN_USER_CFG c = token_cfg(id_);
  EXPECT_EQ(c.MaxNormalUserLoginFailCount, 3);
  EXPECT_EQ(c.TknStatus, 1);
  EXPECT_EQ(SWD_SetTokenPolicy(open_token(id_), &q), SWD_ERR_NOT_LOGGED_IN);
}

TEST_F(Token, SuperUserUnlocksOnlyItsOwnToken) {
  std::string sn2;
  const std::string id2 = create_token(&sn2);
  const ZEB_DEVICE_HANDLE s2 = open_token(id2);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(user_login(s2, "bad"), 0xA1u);
  ASSERT_EQ(token_cfg(id2).TknStatus, 4);
  const ZEB_DEVICE_HANDLE so1 = open_token(id_);
  ASSERT_EQ(so_login(so1, kHsmSn), 0u);
  EXPECT_EQ(SWD_UnlockTokenNormalUser(so1, u8(id2.c_str())), SWD_ERR_NOT_LOGGED_IN);
  EXPECT_EQ(token_cfg(id2).TknStatus, 4);
  // The HSM administrator may unlock any token.
  const ZEB_DEVICE_HANDLE a = admin_session();
  ASSERT_EQ(SWD_UnlockTokenNormalUser(a, u8(id2.c_str())), 0u);
  EXPECT_EQ(token_cfg(id2).TknStatus, 3);
}

TEST_F(Token, BackupAndRestore) {
  const ZEB_DEVICE_HANDLE s = open_token(id_);
  uint8_t buf[300];
  uint32_t len = sizeof buf;
  EXPECT_EQ(SWD_BackupToken(s, u8("vpin"), 4, buf, &len), SWD_ERR_NOT_LOGGED_IN);
  ASSERT_EQ(user_login(s, sn_), 0u);
  len = 4 + 196 - 1;
  EXPECT_EQ(SWD_BackupToken(s, u8("vpin"), 4, buf, &len), SWD_ERR_FAILED);
  EXPECT_EQ(len, 199u);
  len = 200;
  ASSERT_EQ(SWD_BackupToken(s, u8("vpin"), 4, buf, &len), 0u);
  ASSERT_EQ(len, 200u);
  const TKN_USER_CFG before = token_cfg(id_);
  EXPECT_EQ(str(buf, 4), "vpin");
  EXPECT_EQ(std::memcmp(buf + 4, &before, 196), 0);

  // Change the token, then restore.
  ASSERT_EQ(SWD_SetTokenLabel(s, u8("changed"), 7), 0u);
  ASSERT_EQ(SWD_SetTokenPin(s, u8("current"), 7), 0u);
  EXPECT_EQ(SWD_RestoreToken(s, u8("vpiX"), 4, buf, 200), SWD_ERR_FAILED);
  EXPECT_EQ(SWD_RestoreToken(s, u8(""), 0, buf, 200), SWD_ERR_FAILED);         // no PIN does not match any prefix
  EXPECT_EQ(SWD_RestoreToken(s, u8("vpi"), 3, buf, 200), SWD_ERR_FAILED);      // nor does a shorter one
  EXPECT_EQ(SWD_RestoreToken(s, u8("vpin"), 4, buf, 195), SWD_ERR_ARGUMENTS);  // shorter than a record
  EXPECT_EQ(SWD_RestoreToken(s, u8("vpin"), 4, buf, 196 + 33), SWD_ERR_ARGUMENTS);
  ASSERT_EQ(SWD_RestoreToken(s, u8("vpin"), 4, buf, 200), 0u);
  const TKN_USER_CFG after = token_cfg(id_);
  EXPECT_EQ(std::memcmp(after.MK, before.MK, 32), 0);
  EXPECT_EQ(std::memcmp(after.MacK, before.MacK, 32), 0);
  EXPECT_EQ(str(after.Label, 32), str(before.Label, 32));
  EXPECT_EQ(str(after.SuperUserPin, 32), str(before.SuperUserPin, 32));
  EXPECT_EQ(str(after.NormalUserPin, 8), std::string("current\0", 8));  // the current user PIN stays
  EXPECT_EQ(after.u32NormalUserPinLen, 7u);

  // A record whose key the text file could not carry is refused.
  buf[4 + 88 + 5] = 0x0A;
  EXPECT_EQ(SWD_RestoreToken(s, u8("vpin"), 4, buf, 200), SWD_ERR_ARGUMENTS);
}

}  // namespace
