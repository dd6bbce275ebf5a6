// Device sessions: the table, login-state bits and checks, session keys and
// key re-wrapping.
#include <openssl/evp.h>

#include <set>
#include <vector>

#include "fixture.h"

namespace {

using namespace swt;
using Sessions = Device;

TEST_F(Sessions, TableOfTwenty) {
  const std::string id = create_token();
  std::set<ZEB_DEVICE_HANDLE> handles;
  for (int i = 0; i < 20; ++i) {
    ZEB_DEVICE_HANDLE h = i % 2 == 0 ? open_hsm_session() : open_token(id);
    EXPECT_NE(h, 0u);
    handles.insert(h);
  }
  EXPECT_EQ(handles.size(), 20u);
  uint8_t n = 0;
  ASSERT_EQ(_swdev_getSessionCount(&n), 0u);
  EXPECT_EQ(n, 20);
  ZEB_DEVICE_HANDLE h;
  EXPECT_EQ(SWD_OpenHsmSession(hsm_, &h), SWD_ERR_HSM_SESS_FULL);
  uint8_t tid[16] = {};
  std::memcpy(tid, id.data(), id.size());
  EXPECT_EQ(SWD_OpenTokenSession(hsm_, tid, &h), SWD_ERR_FAILED);
  ASSERT_EQ(SWD_CloseHsmSession(*handles.begin()), 0u);
  EXPECT_EQ(SWD_CloseHsmSession(*handles.begin()), SWD_ERR_FAILED);
  ASSERT_EQ(SWD_OpenHsmSession(hsm_, &h), 0u);
  EXPECT_EQ(SWD_OpenHsmSession(hsm_ + 1, &h), SWD_ERR_FAILED);
}

TEST_F(Sessions, LoginChecks) {
  const ZEB_DEVICE_HANDLE a = admin_session();
  EXPECT_EQ(_swdev_checkHSMAdminLoggedIn(a), 0u);
  EXPECT_EQ(_swdev_checkTokenSuperUserLoggedIn(a), 0u);
  EXPECT_EQ(_swdev_checkTokenNormalUserLoggedIn(a), SWD_ERR_NOT_LOGGED_IN);
  EXPECT_EQ(_swdev_checkSessionIdle(a), SWD_ERR_NOT_IDLE);
  const ZEB_DEVICE_HANDLE idle = open_hsm_session();
  EXPECT_EQ(_swdev_checkSessionIdle(idle), 0u);
  EXPECT_EQ(_swdev_checkHSMAdminLoggedIn(idle), SWD_ERR_NOT_LOGGED_IN);
  for (auto check : {_swdev_checkHSMAdminLoggedIn, _swdev_checkTokenSuperUserLoggedIn,
                     _swdev_checkTokenNormalUserLoggedIn, _swdev_checkSessionIdle}) {
    EXPECT_EQ(check(0), 0xB3u);  // 0 marks free slots, never a session
    EXPECT_EQ(check(a ^ 0x5A5A5A5Au), 0xB3u);
  }
}

TEST_F(Sessions, StatusSetterRules) {
  const ZEB_DEVICE_HANDLE h = open_hsm_session();
  const auto slot = static_cast<uint8_t>(_swdev_GetHsmSessionIndex(h));
  uint8_t st = 0;
  ASSERT_EQ(_swdev_SetHsmSessStatus(slot, 2), 0u);
  ASSERT_EQ(_swdev_SetHsmSessStatus(slot, 4), 0u);
  ASSERT_EQ(_swdev_GetHsmSessStatus(slot, &st), 0u);
  EXPECT_EQ(st, 7);  // bits are added
  ASSERT_EQ(_swdev_SetHsmSessStatus(slot, 1), 0u);
  ASSERT_EQ(_swdev_GetHsmSessStatus(slot, &st), 0u);
  EXPECT_EQ(st, 1);  // idle clears them
  ASSERT_EQ(_swdev_SetTokenSessInfo(slot, 8, "Tkn01", "a-label"), 0u);
  ASSERT_EQ(_swdev_SetTokenSessStatus(slot, 4), 0u);
  ASSERT_EQ(_swdev_GetTokenSessStatus(slot, &st), 0u);
  EXPECT_EQ(st, 4);  // token setters overwrite
  ZEB_DEVICE_TOKEN_SESSION_INFO info{};
  ASSERT_EQ(_swdev_GetTokenSessInfo(slot, &info), 0u);
  EXPECT_EQ(str(info.TknLabel, 8), std::string("a-label\0", 8));
  EXPECT_EQ(str(info.HsmSn, 16), std::string(16, '\0'));
  EXPECT_EQ(_swdev_SetHsmSessStatus(20, 1), SWD_ERR_SESSION_HANDLE);
  EXPECT_EQ(_swdev_GetHsmSessionIndex(0), -1);
}

TEST_F(Sessions, LogoutLoginAgainAndCloseWhileLoggedIn) {
  std::string sn;
  const std::string id = create_token(&sn);
  const ZEB_DEVICE_HANDLE s = open_token(id);
  ASSERT_EQ(SWD_LoginTokenByPin(s, u8(sn.c_str()), 16), 0u);
  ASSERT_EQ(SWD_LogoutToken(s), 0u);
  ASSERT_EQ(SWD_LoginTokenByPin(s, u8(sn.c_str()), 16), 0u);
  ASSERT_EQ(SWD_CloseTokenSession(s), 0u);
  EXPECT_EQ(_swdev_checkTokenNormalUserLoggedIn(s), SWD_ERR_SESSION_HANDLE);
  EXPECT_EQ(SWD_CloseTokenSession(s), SWD_ERR_FAILED);
}

TEST_F(Sessions, OpenForUnknownTokenTakesNoSlot) {
  ZEB_DEVICE_HANDLE h = 0;
  EXPECT_EQ(SWD_OpenTokenSession(hsm_, u8("Tkn42"), &h), SWD_ERR_FAILED);
  uint8_t n = 9;
  ASSERT_EQ(_swdev_getSessionCount(&n), 0u);
  EXPECT_EQ(n, 0);
}

std::vector<uint8_t> sha3_256(uint32_t h) {
  std::vector<uint8_t> out(32);
  unsigned len = 32;
  EVP_Digest(&h, sizeof h, out.data(), &len, EVP_sha3_256(), nullptr);
  return out;
}

TEST_F(Sessions, SoftwareKeyIsSha3OfTheHandle) {
  const std::string id = create_token();
  const ZEB_DEVICE_HANDLE a = open_token(id), b = open_token(id);
  std::vector<uint8_t> ka(32), kb(32), ka2(32);
  uint32_t n = 0;
  ASSERT_EQ(SWD_GenSwKey(a, ka.data(), &n), 0u);
  EXPECT_EQ(n, 32u);
  ASSERT_EQ(SWD_GenSwKey(b, kb.data(), &n), 0u);
  EXPECT_NE(ka, kb);
  EXPECT_EQ(ka, sha3_256(a));
  ASSERT_EQ(SWD_GenSwKey(a, ka2.data(), &n), 0u);
  EXPECT_EQ(ka, ka2);
  EXPECT_EQ(SWD_GenSwKey(a ^ 1, ka2.data(), &n), SWD_ERR_FAILED);
}

TEST_F(Sessions, KeyRewrapRoundTrip) {
  std::string sn;
  const std::string id = create_token(&sn);
  const ZEB_DEVICE_HANDLE s = open_token(id);
  std::vector<uint8_t> tkn_blob(2500);
  for (size_t i = 0; i < tkn_blob.size(); ++i) tkn_blob[i] = static_cast<uint8_t>(i * 7 + 3);
  std::vector<uint8_t> sw(2500), back(2500);
  uint32_t n = 0;
  EXPECT_EQ(SWD_SetTknKey2Sw(s, tkn_blob.data(), 2500, sw.data(), &n), SWD_ERR_NOT_LOGGED_IN);
  EXPECT_EQ(SWD_SetSwKey2Tkn(s, sw.data(), 2500, back.data(), &n), SWD_ERR_NOT_LOGGED_IN);
  ASSERT_EQ(SWD_LoginTokenByPin(s, u8(sn.c_str()), 16), 0u);
  ASSERT_EQ(SWD_SetTknKey2Sw(s, tkn_blob.data(), 2500, sw.data(), &n), 0u);
  EXPECT_EQ(n, 2500u);
  EXPECT_NE(sw, tkn_blob);
  ASSERT_EQ(SWD_SetSwKey2Tkn(s, sw.data(), 2500, back.data(), &n), 0u);
  EXPECT_EQ(n, 2500u);
  EXPECT_EQ(back, tkn_blob);

  // Another session of the same token holds the key under its own key.
  const ZEB_DEVICE_HANDLE s2 = open_token(id);
  ASSERT_EQ(SWD_LoginTokenByPin(s2, u8(sn.c_str()), 16), 0u);
  std::vector<uint8_t> sw2(2500);
  ASSERT_EQ(SWD_SetTknKey2Sw(s2, tkn_blob.data(), 2500, sw2.data(), &n), 0u);
  EXPECT_NE(sw2, sw);
  EXPECT_EQ(SWD_SetTknKey2Sw(s ^ 0x10, tkn_blob.data(), 2500, sw.data(), &n), SWD_ERR_FAILED);
  EXPECT_EQ(SWD_SetSwKey2Tkn(s ^ 0x10, sw.data(), 2500, back.data(), &n), SWD_ERR_SESSION_HANDLE);
}

TEST_F(Sessions, FinalizeFreesEverySlot) {
  open_hsm_session();
  open_hsm_session();
  ASSERT_EQ(SWD_Finalize(hsm_), 0u);
  uint8_t n = 9;
  ASSERT_EQ(_swdev_getSessionCount(&n), 0u);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
}

}  // namespace
