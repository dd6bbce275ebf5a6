// Token management through the core on the software HSM.
#include <openssl/sha.h>

#include "core/integration/hsm_fixture.h"
#include "quarzel/port.h"
#include "quarzel/testing.h"

using namespace zt;

namespace {
std::string id_str(const uint8_t* id) { return std::string(reinterpret_cast<const char*>(id), 16); }
}  // namespace

TEST_F(CoreHsm, CreateListInfoDeleteTokens) {
  auto a = create_token();
  auto b = create_token("second-pin-00");
  VRK_TKN_USER_LIST l = tokens();
  ASSERT_EQ(l.TknNum, 2);
  EXPECT_EQ(id_str(l.TknId[0]), id_str(a.data()));
  EXPECT_EQ(id_str(l.TknId[1]), id_str(b.data()));
  if (testbed == nullptr) {
    EXPECT_EQ(StoreLog::get().lists.count(id_str(a.data())), 1u);  // each got its store
  }

  VRK_TOKEN_INFO info{};
  ASSERT_EQ(VRK_GetTokenInfo(hsm, a.data(), &info), 0u);
  EXPECT_EQ(id_str(info.TknId), id_str(a.data()));
  EXPECT_EQ(info.NormalUserLoginFailCount, 0);

  VRK_HANDLE adm = admin_session();
  if (testbed != nullptr) {
    // A secure element keeps its first token: the second goes instead.
    EXPECT_EQ(VRK_DeleteToken(adm, a.data()), static_cast<uint32_t>(VRK_ERR_FIRST_TOKEN));
    std::swap(a, b);
  }
  ASSERT_EQ(VRK_DeleteToken(adm, a.data()), 0u);
  l = tokens();
  ASSERT_EQ(l.TknNum, 1);
  EXPECT_EQ(id_str(l.TknId[0]), id_str(b.data()));
  EXPECT_EQ(VRK_GetTokenInfo(hsm, a.data(), &info), VRK_ERR_FAILED);
}

TEST_F(CoreHsm, TokenCreationNeedsTheAdministrator) {
  VRK_HANDLE h = hsm_session();
  uint8_t id[16];
  EXPECT_EQ(VRK_CreateTknByPin(h, u8(kUserPin), len(kUserPin), id), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_DeleteToken(h, id), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_ResetVrk(h), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_CreateTknByPin(0x1234, u8(kUserPin), len(kUserPin), id), VRK_ERR_SESSION_HANDLE);
}

// PINs and labels are checked before a device sees them: the device keeps
// them in 32-byte fields of text files.
TEST_F(CoreHsm, PinsAndLabelsAreChecked) {
  VRK_HANDLE adm = admin_session();
  uint8_t id[16];
  const std::string long_pin(33, 'p');
  struct Case {
    std::string pin;
    uint32_t rv;
  } pins[] = {{long_pin, 0xA2}, {"", 0xA2}, {std::string("ab\ncd"), 0xA1}, {std::string("ab\rcd"), 0xA1},
              {std::string("ab\0cd", 5), 0xA1}};
  for (const auto& c : pins) {
    SCOPED_TRACE(c.pin.size());
    EXPECT_EQ(VRK_CreateTknByPin(adm, u8(c.pin.data()), static_cast<uint32_t>(c.pin.size()), id), c.rv);
    EXPECT_EQ(VRK_SetHsmPin(adm, u8(c.pin.data()), static_cast<uint32_t>(c.pin.size())), c.rv);
  }
  EXPECT_EQ(tokens().TknNum, 0);
  const std::string pin32(32, 'q');
  EXPECT_EQ(VRK_CreateTknByPin(adm, u8(pin32.data()), 32, id), 0u);

  const std::string long_label(33, 'l');
  EXPECT_EQ(VRK_SetHsmLabel(adm, u8(long_label.data()), 33), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetHsmLabel(adm, u8("a\nb"), 3), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetHsmLabel(adm, u8("a\0b"), 3), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetHsmLabel(adm, u8("new label"), 9), 0u);
  VRK_HSM_INFO info{};
  ASSERT_EQ(VRK_GetHsmInfo(hsm, &info), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.HsmLabel)), "new label");

  std::vector<uint8_t> tid(id, id + 16);
  VRK_HANDLE u = user_session(tid, pin32.c_str());
  EXPECT_EQ(VRK_SetTokenLabel(u, u8(long_label.data()), 33), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetTokenLabel(u, u8("x\ry"), 3), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetTokenLabel(u, u8("token label"), 11), 0u);
  EXPECT_EQ(VRK_SetTokenNormalUserPin(u, u8(long_pin.data()), 33), VRK_ERR_PIN_LEN_RANGE);
  EXPECT_EQ(VRK_SetTokenNormalUserPin(u, u8("a\nb"), 3), VRK_ERR_PIN_INVALID);
  VRK_TOKEN_INFO ti{};
  ASSERT_EQ(VRK_GetTokenInfo(hsm, id, &ti), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ti.TknLabel)), "token label");
}

TEST_F(CoreHsm, UserLoginFailuresLockAndTheSuperUserUnlocks) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  VRK_TOKEN_POLICY pol{};
  ASSERT_EQ(VRK_GetTokenPolicy(u, &pol), 0u);
  pol.MaxNormalUserLoginFailCount = 3;
  ASSERT_EQ(VRK_SetTokenPolicy(u, &pol), 0u);
  ASSERT_EQ(VRK_LogoutTokenNormalUser(u), 0u);

  for (int i = 1; i <= 3; ++i) {
    EXPECT_NE(VRK_LoginTokenNormalUserByPin(u, u8("bad-pin"), 7), 0u);
    VRK_TOKEN_INFO info{};
    ASSERT_EQ(VRK_GetTokenInfo(hsm, id.data(), &info), 0u);
    EXPECT_EQ(info.NormalUserLoginFailCount, i);
    EXPECT_EQ(SwSess_GetStatus(u), VRK_SESS_IDLE);
  }
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(u, u8(kUserPin), len(kUserPin)), VRK_ERR_PIN_LOCKED);  // locked
  VRK_TOKEN_INFO info{};
  ASSERT_EQ(VRK_GetTokenInfo(hsm, id.data(), &info), 0u);
  EXPECT_EQ(info.TknStatus, ZEB_DEVICE_TKN_NORMALUSER_LOCKED);

  VRK_HANDLE su = token_session(id);
  EXPECT_EQ(VRK_UnlockTokenNormalUser(su, id.data()), VRK_ERR_USER_NOT_LOGGED_IN);  // needs the super user
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(su, u8(kUserPin), len(kUserPin)), 0u);
  ASSERT_EQ(VRK_UnlockTokenNormalUser(su, id.data()), 0u);
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(u, u8(kUserPin), len(kUserPin)), 0u);
}

TEST_F(CoreHsm, PinChanges) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  ASSERT_EQ(VRK_SetTokenNormalUserPin(u, u8("fresh-user-pin"), 14), 0u);
  EXPECT_EQ(VRK_SetTokenSuperUserPin(u, u8("fresh-su-pin"), 12),
            VRK_ERR_USER_NOT_LOGGED_IN);  // the user is not the super user
  ASSERT_EQ(VRK_LogoutTokenNormalUser(u), 0u);
  EXPECT_NE(VRK_LoginTokenNormalUserByPin(u, u8(kUserPin), len(kUserPin)), 0u);
  ASSERT_EQ(VRK_LoginTokenNormalUserByPin(u, u8("fresh-user-pin"), 14), 0u);

  VRK_HANDLE su = token_session(id);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(su, u8(kUserPin), len(kUserPin)), 0u);
  ASSERT_EQ(VRK_SetTokenSuperUserPin(su, u8("fresh-su-pin"), 12), 0u);
  ASSERT_EQ(VRK_SetTokenNormalUserPin(su, u8("by-the-su"), 9), 0u);  // super user may set it too
  ASSERT_EQ(VRK_LogoutTokenSuperUser(su), 0u);
  EXPECT_NE(VRK_LoginTokenSuperUserByPin(su, u8(kUserPin), len(kUserPin)), 0u);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(su, u8("fresh-su-pin"), 12), 0u);

  VRK_HANDLE idle = token_session(id);
  EXPECT_EQ(VRK_SetTokenNormalUserPin(idle, u8("nobody"), 6), VRK_ERR_USER_NOT_LOGGED_IN);

  VRK_HANDLE adm = admin_session();
  ASSERT_EQ(VRK_SetHsmPin(adm, u8("new-admin-pin"), 13), 0u);
  ASSERT_EQ(VRK_LogoutHsm(adm), 0u);
  EXPECT_NE(VRK_LoginHsmByPin(adm, u8(kAdminPin), len(kAdminPin)), 0u);
  EXPECT_EQ(VRK_LoginHsmByPin(adm, u8("new-admin-pin"), 13), 0u);
}

TEST_F(CoreHsm, BackupAndRestoreRoundTrip) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  std::vector<uint8_t> backup(1024);
  uint32_t n = static_cast<uint32_t>(backup.size());
  ASSERT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), backup.data(), &n), 0u);
  ASSERT_GT(n, 24u);
  backup.resize(n);
  // Header: the fixed counter block (one repeated byte) and an 8-byte salt.
  for (int i = 1; i < 16; ++i) EXPECT_EQ(backup[i], backup[0]);
  // The image is not in the clear: the PIN prefix does not show.
  EXPECT_EQ(std::search(backup.begin(), backup.end(), kUserPin, kUserPin + len(kUserPin)), backup.end());

  // Change the label, then restore: the label comes back.
  VRK_TOKEN_INFO before{};
  ASSERT_EQ(VRK_GetTokenInfo(hsm, id.data(), &before), 0u);
  ASSERT_EQ(VRK_SetTokenLabel(u, u8("changed"), 7), 0u);
  const auto copy = backup;
  EXPECT_NE(VRK_RestoreToken(u, u8("wrong-pin"), 9, backup.data(), n), 0u);
  EXPECT_EQ(backup, copy);  // the caller's backup survives a failed attempt
  ASSERT_EQ(VRK_RestoreToken(u, u8(kUserPin), len(kUserPin), backup.data(), n), 0u);
  VRK_TOKEN_INFO after{};
  ASSERT_EQ(VRK_GetTokenInfo(hsm, id.data(), &after), 0u);
  EXPECT_EQ(std::memcmp(before.TknLabel, after.TknLabel, 32), 0);
  // Still usable after the restore.
  ASSERT_EQ(VRK_LogoutTokenNormalUser(u), 0u);
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(u, u8(kUserPin), len(kUserPin)), 0u);
}

// The device gets the room behind the 24-byte header, not the whole buffer;
// short input is refused instead of underflowing.
TEST_F(CoreHsm, BackupBufferBoundsAndShortRestore) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  std::vector<uint8_t> big(1024);
  uint32_t full = 1024;
  ASSERT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), big.data(), &full), 0u);

  std::vector<uint8_t> exact(full + 8, 0xEE);  // guard bytes behind the buffer
  uint32_t n = full;
  ASSERT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), exact.data(), &n), 0u);
  EXPECT_EQ(n, full);
  for (uint32_t i = full; i < full + 8; ++i) EXPECT_EQ(exact[i], 0xEE);
  n = full - 1;
  EXPECT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), exact.data(), &n), VRK_ERR_FAILED);
  n = 10;
  EXPECT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), exact.data(), &n), VRK_ERR_BUFFER_TOO_SMALL);

  uint8_t small[24] = {};
  EXPECT_EQ(VRK_RestoreToken(u, u8(kUserPin), len(kUserPin), small, 23), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_RestoreToken(u, u8(kUserPin), len(kUserPin), small, 0), VRK_ERR_ARGUMENTS);
  EXPECT_NE(VRK_RestoreToken(u, u8(kUserPin), len(kUserPin), small, 24), 0u);  // empty image

  VRK_HANDLE idle = token_session(id);
  n = 1024;
  EXPECT_EQ(VRK_BackupToken(idle, u8(kUserPin), len(kUserPin), big.data(), &n), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_RestoreToken(idle, u8(kUserPin), len(kUserPin), big.data(), full), VRK_ERR_USER_NOT_LOGGED_IN);
}

TEST_F(CoreHsm, HsmResetEndsTheSessionAndLeavesOneToken) {
  create_token();
  create_token("second-pin-00");
  VRK_HANDLE adm = admin_session();
  ASSERT_EQ(VRK_ResetVrk(adm), 0u);
  EXPECT_EQ(SwSess_GetCtx(adm), nullptr);
  EXPECT_EQ(VRK_LogoutHsm(adm), VRK_ERR_SESSION_HANDLE);
  VRK_TKN_USER_LIST l = tokens();
  ASSERT_EQ(l.TknNum, 1);
  if (testbed == nullptr) {
    EXPECT_EQ(StoreLog::get().lists.count(id_str(l.TknId[0])), 1u);
  }
}

TEST_F(CoreHsm, TokenResetDeletesObjectsLastFirstAndSetsThePinToTheSerial) {
  auto id = create_token();
  STO_SEOBJ_LIST& list = StoreLog::get().lists[id_str(id.data())];
  list.ObjNum = 3;
  list.seobj_array[0].ObjIndex = 10;
  list.seobj_array[1].ObjIndex = 11;
  list.seobj_array[2].ObjIndex = 12;
  VRK_HANDLE su = token_session(id);
  EXPECT_EQ(VRK_ResetToken(su), VRK_ERR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(su, u8(kUserPin), len(kUserPin)), 0u);
  StoreLog::get().calls.clear();
  ASSERT_EQ(VRK_ResetToken(su), 0u);
  const std::vector<std::string> expected = {"LoadObjectList", "DeleteObject 12", "DeleteObject 11", "DeleteObject 10",
                                             "DeleteObjList"};
  EXPECT_EQ(StoreLog::get().calls, expected);
  VRK_TOKEN_INFO info{};
  ASSERT_EQ(VRK_GetTokenInfo(hsm, id.data(), &info), 0u);
  VRK_HANDLE u = token_session(id);
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(u, info.TknSn, 16), 0u);
}

TEST_F(CoreHsm, DigestAndRandomNeedNoLogin) {
  auto id = create_token();
  VRK_HANDLE s = token_session(id);
  ASSERT_EQ(VRK_DigestInit(s, 9), 0);
  EXPECT_EQ(VRK_DigestInit(s, 9), VRK_ERR_OPERATION_ACTIVE);  // one at a time; the first goes on
  ASSERT_EQ(VRK_DigestUpdate(s, u8("ab"), 2), 0);
  uint8_t d[64];
  uint32_t n = sizeof d;
  ASSERT_EQ(VRK_Digest(s, u8("c"), 1, d, &n), 0);
  uint8_t ref[32];
  SHA256(reinterpret_cast<const unsigned char*>("abc"), 3, ref);
  ASSERT_EQ(n, 32u);
  EXPECT_EQ(std::memcmp(d, ref, 32), 0);
  EXPECT_EQ(VRK_DigestFinal(s, d, &n), VRK_ERR_NOT_INITIALIZED);  // nothing running any more

  ASSERT_EQ(VRK_DigestInit(s, 11), 0);
  n = sizeof d;
  ASSERT_EQ(VRK_DigestFinal(s, d, &n), 0);
  uint8_t ref512[64];
  SHA512(reinterpret_cast<const unsigned char*>(""), 0, ref512);
  EXPECT_EQ(n, 64u);
  EXPECT_EQ(std::memcmp(d, ref512, 64), 0);

  EXPECT_NE(VRK_DigestInit(s, 200), 0);   // unknown hash type
  EXPECT_EQ(VRK_DigestInit(s, 9), 0);     // a failed start leaves nothing running

  uint8_t r1[48] = {}, r2[48] = {};
  ASSERT_EQ(VRK_GenerateRandom(s, sizeof r1, r1), 0);
  ASSERT_EQ(VRK_GenerateRandom(s, sizeof r2, r2), 0);
  EXPECT_NE(std::memcmp(r1, r2, sizeof r1), 0);
  EXPECT_EQ(VRK_GenerateRandom(0x77, sizeof r1, r1), VRK_ERR_SESSION_HANDLE);
}

TEST_F(CoreHsm, KeyRewrapping) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  uint8_t plain[32], wrapped[32], back[32];
  for (int i = 0; i < 32; ++i) plain[i] = static_cast<uint8_t>(i * 3);
  uint32_t wn = 32, bn = 32;
  ASSERT_EQ(VRK_SetPlainKey2Sw(u, plain, 32, wrapped, &wn), 0u);
  EXPECT_NE(std::memcmp(plain, wrapped, 32), 0);
  ASSERT_EQ(VRK_SetSwKey2Plain(u, wrapped, wn, back, &bn), 0u);
  EXPECT_EQ(std::memcmp(plain, back, 32), 0);
  // Session key to token key and back.
  uint8_t tkn[32], sw[32];
  uint32_t tn = 32, sn = 32;
  ASSERT_EQ(VRK_SetSwKey2Tkn(u, wrapped, 32, tkn, &tn), 0u);
  ASSERT_EQ(VRK_SetTknKey2Sw(u, tkn, tn, sw, &sn), 0u);
  EXPECT_EQ(std::memcmp(sw, wrapped, 32), 0);
  VRK_HANDLE idle = token_session(id);
  EXPECT_EQ(VRK_SetTknKey2Sw(idle, tkn, tn, sw, &sn), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_SetPlainKey2Sw(idle, plain, 32, wrapped, &wn), VRK_ERR_USER_NOT_LOGGED_IN);
}

TEST_F(CoreHsm, MechanismCallsAnswer8) {
  uint32_t list[4], n = 4;
  EXPECT_EQ(VRK_GetMechanismList(list, &n), VRK_ERR_NO_MECHANISM_INFO);
  EXPECT_EQ(VRK_GetMechanismInfo(0x1087, nullptr), VRK_ERR_NO_MECHANISM_INFO);
}

namespace {
uint32_t dead_source(uint8_t*, uint32_t) { return 1; }
uint32_t zero_source(uint8_t* p, uint32_t n) {
  std::memset(p, 0, n);
  return 0;
}
}  // namespace

// Random numbers come from a DRBG seeded by the OS source: without it they
// fail, and a fixed source gives a fixed stream (no time-seeded C generator):
// two sessions seeded from it draw the same bytes.
TEST_F(CoreHsm, RandomNumbersAreSeededFromTheOsSource) {
  auto id = create_token();
  VRK_HANDLE s = token_session(id);
  VRK_HANDLE t = token_session(id);
  uint8_t a[32], b[32];
  quarzel::testing::set_random_source(dead_source);
  const int dead = VRK_GenerateRandom(s, sizeof a, a);
  quarzel::testing::set_random_source(zero_source);
  const int r1 = VRK_GenerateRandom(s, sizeof a, a);
  const int r2 = VRK_GenerateRandom(t, sizeof b, b);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_NE(dead, 0);
  ASSERT_EQ(r1, 0);
  ASSERT_EQ(r2, 0);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}
