// HSM level: start-up, administrator login and locking, label, PIN, policy,
// token creation and deletion, reset, listing.

#include <sys/stat.h>

#include "fixture.h"
#include "support/full_disk.h"

namespace {

using namespace swt;
using Hsm = Device;

TEST_F(Hsm, InitializeChecksSerialNumberAndHandles) {
  ZEB_DEVICE_HANDLE h = 0;
  uint8_t wrong[16];
  std::memcpy(wrong, kHsmSn, 16);
  wrong[15] = '9';
  const ZEB_DEVICE_HANDLE before = hsm_;
  EXPECT_EQ(SWD_Initialize(wrong, &h), SWD_ERR_SN_MISMATCH);
  EXPECT_EQ(h, 0u);
  ZEB_DEVICE_HSM_INFO info{};
  EXPECT_EQ(SWD_GetHsmInfo(before, &info), 0u);  // the device stays as it was
  EXPECT_EQ(SWD_Initialize(u8(kHsmSn), nullptr), SWD_ERR_NULL);
  ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
  EXPECT_NE(hsm_, 0u);
  EXPECT_EQ(SWD_GetHsmInfo(hsm_ + 1, &info), SWD_ERR_SESSION_HANDLE);
  ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);
  EXPECT_EQ(str(info.HsmSn, 16), kHsmSn);
  EXPECT_EQ(str(info.HsmLabel, 9), std::string("soft-hsm\0", 9));
  EXPECT_EQ(info.HsmType, 1);
  EXPECT_EQ(info.HsmStatus, 3);
  EXPECT_EQ(info.u32MaxTokenCount, 4u);
  ZEB_DEVICE_VERSION v{9, 9, 9};
  EXPECT_EQ(SWD_GetVersion(hsm_, &v), 0u);
  EXPECT_EQ(v.major, 0);
  EXPECT_EQ(v.minor, 1);
  EXPECT_EQ(v.update, 0);
}

TEST_F(Hsm, InitializeWithoutRecordAndFinalize) {
  std::filesystem::remove("./SwHsm/HsmAdmin.cfg");
  ZEB_DEVICE_HANDLE h = 0;
  EXPECT_EQ(SWD_Initialize(u8(kHsmSn), &h), SWD_ERR_SN_MISMATCH);
  EXPECT_EQ(SWD_Finalize(hsm_ + 1), SWD_ERR_SESSION_HANDLE);
  ASSERT_EQ(SWD_Finalize(hsm_), 0u);
  ZEB_DEVICE_HANDLE s;
  EXPECT_EQ(SWD_OpenHsmSession(hsm_, &s), SWD_ERR_FAILED);  // no device any more
  EXPECT_EQ(SWD_Finalize(hsm_), SWD_ERR_SESSION_HANDLE);
  zt::write_file("./SwHsm/HsmAdmin.cfg", zt::admin_cfg_text({kHsmSn, kAdminPin}));
  ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
}

TEST_F(Hsm, AdministratorLoginCountsFailuresAndLocks) {
  const ZEB_DEVICE_HANDLE s = open_hsm_session();
  for (int i = 1; i <= 9; ++i) ASSERT_EQ(SWD_LoginHsmByPin(s, u8("wrong"), 5), SWD_ERR_PIN_INCORRECT) << i;
  HSM_ADMIN_CFG rec{};
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(rec.LoginFailCount, 9);
  EXPECT_EQ(rec.HsmStatus, 3);
  EXPECT_EQ(SWD_LoginHsmByPin(s, u8("wrong"), 5), SWD_ERR_PIN_INCORRECT);  // the tenth locks
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(rec.HsmStatus, 4);
  EXPECT_EQ(SWD_LoginHsmByPin(s, u8(kAdminPin), std::strlen(kAdminPin)), SWD_ERR_PIN_LOCKED);
  // Only a reset leaves the locked state.
  ASSERT_EQ(SWD_ResetVrkBySn(hsm_, nullptr), 0u);
  EXPECT_EQ(SWD_LoginHsmByPin(s, u8(kHsmSn), 16), 0u);
}

TEST_F(Hsm, RightPinClearsCounterAndSetsBits) {
  const ZEB_DEVICE_HANDLE s = open_hsm_session();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(SWD_LoginHsmByPin(s, u8("x"), 1), SWD_ERR_PIN_INCORRECT);
  // The right bytes at another length are a wrong PIN too.
  EXPECT_EQ(SWD_LoginHsmByPin(s, u8(kAdminPin), std::strlen(kAdminPin) - 1), SWD_ERR_PIN_INCORRECT);
  ASSERT_EQ(SWD_LoginHsmByPin(s, u8(kAdminPin), std::strlen(kAdminPin)), 0u);
  HSM_ADMIN_CFG rec{};
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(rec.LoginFailCount, 0);
  ZEB_DEVICE_TOKEN_SESSION_INFO info{};
  ASSERT_EQ(SWD_GetHsmSessInfo(s, &info), 0u);
  EXPECT_EQ(info.SessStatus, 7);
  EXPECT_EQ(str(info.HsmSn, 16), kHsmSn);
  EXPECT_EQ(SWD_LoginHsmByPin(s, u8(kAdminPin), std::strlen(kAdminPin)), SWD_ERR_NOT_IDLE);  // not idle
  EXPECT_EQ(SWD_LoginHsmByPin(s + 1, u8(kAdminPin), std::strlen(kAdminPin)), SWD_ERR_SESSION_HANDLE);
  ASSERT_EQ(SWD_LogoutHsm(s), 0u);
  ASSERT_EQ(SWD_GetHsmSessInfo(s, &info), 0u);
  EXPECT_EQ(info.SessStatus, 1);
  EXPECT_EQ(SWD_LogoutHsm(s), SWD_ERR_NOT_LOGGED_IN);
}

TEST_F(Hsm, PinAndLabelChangesAndTheirLimits) {
  const ZEB_DEVICE_HANDLE idle = open_hsm_session();
  EXPECT_EQ(SWD_SetHsmPin(idle, u8("newpin"), 6), SWD_ERR_NOT_LOGGED_IN);
  const ZEB_DEVICE_HANDLE a = admin_session();
  const std::string long_pin(33, 'p');
  EXPECT_EQ(SWD_SetHsmPin(a, u8(long_pin.c_str()), 33), SWD_ERR_PIN_LEN_RANGE);
  EXPECT_EQ(SWD_SetHsmPin(a, u8("ab\ncd"), 5), SWD_ERR_PIN_INCORRECT);
  EXPECT_EQ(SWD_SetHsmPin(a, u8("ab\0cd"), 5), SWD_ERR_PIN_INCORRECT);
  const std::string pin32(32, 'q');
  ASSERT_EQ(SWD_SetHsmPin(a, u8(pin32.c_str()), 32), 0u);
  HSM_ADMIN_CFG rec{};
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(str(rec.Pin, 32), pin32);
  EXPECT_EQ(rec.u32PinLen, 32u);

  const std::string long_label(33, 'l');
  EXPECT_EQ(SWD_SetHsmLabel(a, u8(long_label.c_str()), 33), SWD_ERR_ARGUMENTS);
  EXPECT_EQ(SWD_SetHsmLabel(a, u8("a\nb"), 3), SWD_ERR_ARGUMENTS);
  ASSERT_EQ(SWD_SetHsmLabel(a, u8("new label"), 9), 0u);
  ZEB_DEVICE_HSM_INFO info{};
  ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);  // refreshed by the write
  EXPECT_EQ(str(info.HsmLabel, 10), std::string("new label\0", 10));

  // A reset HSM (state 1) becomes initialised with its first PIN.
  ASSERT_EQ(SWD_ResetVrk(a), 0u);
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(rec.HsmStatus, 1);
  ASSERT_EQ(SWD_SetHsmPin(a, u8("fresh"), 5), 0u);
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(rec.HsmStatus, 3);
}

TEST_F(Hsm, Policy) {
  ZEB_DEVICE_HSM_POLICY p{};
  std::memset(p.Res, 0xEE, sizeof p.Res);
  ASSERT_EQ(SWD_GetHsmPolicy(hsm_, &p), 0u);
  EXPECT_EQ(p.LoginFailCount, 0);
  EXPECT_EQ(p.MaxLoginFailCount, 10);
  EXPECT_EQ(p.fipsMode, 0);
  EXPECT_EQ(p.Res[0], 0xEE);
  const ZEB_DEVICE_HANDLE a = admin_session();
  p.MaxLoginFailCount = 0;
  p.fipsMode = 1;
  ASSERT_EQ(SWD_SetHsmPolicy(a, &p), 0u);
  ASSERT_EQ(SWD_GetHsmPolicy(hsm_, &p), 0u);
  EXPECT_EQ(p.MaxLoginFailCount, 10);  // 0 keeps the old maximum
  EXPECT_EQ(p.fipsMode, 0);            // not stored
  p.MaxLoginFailCount = 3;
  ASSERT_EQ(SWD_SetHsmPolicy(a, &p), 0u);
  ASSERT_EQ(SWD_GetHsmPolicy(hsm_, &p), 0u);
  EXPECT_EQ(p.MaxLoginFailCount, 3);
  EXPECT_EQ(SWD_SetHsmPolicy(open_hsm_session(), &p), SWD_ERR_NOT_LOGGED_IN);
}

std::vector<std::string> list_ids(ZEB_DEVICE_HANDLE hsm) {
  ZEB_DEVICE_TKN_USER_LIST l{};
  EXPECT_EQ(SWD_ListTokens(hsm, &l), 0u);
  std::vector<std::string> ids;
  for (int i = 0; i < 4; ++i) ids.emplace_back(reinterpret_cast<char*>(l.TknId[i]), strnlen(reinterpret_cast<char*>(l.TknId[i]), 16));
  return ids;
}

TEST_F(Hsm, CreateAndDeleteTokens) {
  const ZEB_DEVICE_HANDLE a = admin_session();
  uint8_t id[16] = {}, sn[16] = {};
  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);
  EXPECT_EQ(str(id, 6), std::string("Tkn01\0", 6));
  for (uint8_t d : sn) EXPECT_TRUE(d >= '0' && d <= '9');
  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);
  EXPECT_EQ(str(id, 6), std::string("Tkn02\0", 6));
  EXPECT_TRUE(std::filesystem::exists("./SwHsm/Tkn02/TknUser.cfg"));
  ZEB_DEVICE_HSM_INFO info{};
  ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);
  EXPECT_EQ(info.u32TokenCount, 2u);

  // Deleting a token that does not exist changes nothing, the count included.
  ASSERT_EQ(SWD_DeleteToken(a, u8("Tkn09\0\0\0\0\0\0\0\0\0\0\0")), 0u);
  ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);
  EXPECT_EQ(info.u32TokenCount, 2u);
  ASSERT_EQ(SWD_DeleteToken(a, u8("Tkn01\0\0\0\0\0\0\0\0\0\0\0")), 0u);
  ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);
  EXPECT_EQ(info.u32TokenCount, 1u);
  EXPECT_FALSE(std::filesystem::exists("./SwHsm/Tkn01"));  // file, lock and directory gone
  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);
  EXPECT_EQ(str(id, 6), std::string("Tkn03\0", 6));
  // The list is stored without gaps: Tkn02 moved up, the new token follows.
  EXPECT_EQ(list_ids(hsm_), (std::vector<std::string>{"Tkn02", "Tkn03", "", ""}));

  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);
  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);
  const std::string list_before = zt::read_file("./SwHsm/TknUser.list");
  EXPECT_EQ(SWD_CreateToken(a, id, sn), SWD_ERR_FAILED);  // a fifth token
  ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);
  EXPECT_EQ(info.u32TokenCount, 4u);
  EXPECT_EQ(zt::read_file("./SwHsm/TknUser.list"), list_before);

  EXPECT_EQ(SWD_CreateDefaultToken(0, id, sn), SWD_ERR_HSM_CFG);
  EXPECT_EQ(SWD_CreateToken(open_hsm_session(), id, sn), SWD_ERR_NOT_LOGGED_IN);
  EXPECT_EQ(SWD_DeleteToken(open_hsm_session(), id), SWD_ERR_NOT_LOGGED_IN);
}

TEST_F(Hsm, DefaultTokenAndTokenByPin) {
  uint8_t id[16] = {}, sn[16] = {};
  ASSERT_EQ(SWD_CreateDefaultToken(0, id, sn), 0u);
  EXPECT_EQ(str(id, 6), std::string("Tkn01\0", 6));
  const ZEB_DEVICE_HANDLE a = admin_session();
  const std::string long_pin(33, '1');
  EXPECT_EQ(SWD_CreateTokenByPin(a, u8(long_pin.c_str()), 33, id), SWD_ERR_PIN_LEN_RANGE);
  EXPECT_EQ(SWD_CreateTokenByPin(a, u8("12\n4"), 4, id), SWD_ERR_PIN_INCORRECT);
  EXPECT_EQ(list_ids(hsm_), (std::vector<std::string>{"Tkn01", "", "", ""}));  // nothing created
  ASSERT_EQ(SWD_CreateTokenByPin(a, u8("123456"), 6, id), 0u);
  const TKN_USER_CFG c = token_cfg("Tkn02");
  EXPECT_EQ(str(c.NormalUserPin, 7), std::string("123456\0", 7));
  EXPECT_EQ(str(c.SuperUserPin, 7), std::string("123456\0", 7));
  EXPECT_EQ(c.u32SuperUserPinLen, 6u);
  EXPECT_EQ(c.TknStatus, 3);
}

TEST_F(Hsm, FailedWriteDuringCreationLeavesTheHsmAsItWas) {
  create_token();
  const ZEB_DEVICE_HANDLE a = admin_session();
  const std::string list = zt::read_file("./SwHsm/TknUser.list");
  const std::string admin = zt::read_file("./SwHsm/HsmAdmin.cfg");
  uint8_t id[16], sn[16];
  const uint32_t rc = [&] {
    zt::FullDisk disk(0);
    return SWD_CreateToken(a, id, sn);
  }();
  EXPECT_EQ(rc, SWD_ERR_TKN_CFG);
  EXPECT_EQ(zt::read_file("./SwHsm/TknUser.list"), list);
  EXPECT_EQ(zt::read_file("./SwHsm/HsmAdmin.cfg"), admin);
  EXPECT_EQ(list_ids(hsm_), (std::vector<std::string>{"Tkn01", "", "", ""}));
  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);  // and the next attempt works
  EXPECT_EQ(str(id, 6), std::string("Tkn02\0", 6));
}

TEST_F(Hsm, BusyTokenListIsNeverReplaced) {
  const std::string first = create_token();
  const std::string list = zt::read_file("./SwHsm/TknUser.list");
  const ZEB_DEVICE_HANDLE a = admin_session();
  LockHolder holder("./SwHsm/TknUser.list", "x");
  ASSERT_TRUE(holder.ok());
  uint8_t id[16], sn[16];
  EXPECT_EQ(SWD_CreateToken(a, id, sn), SWD_ERR_TKN_LIST);
  holder.release();
  EXPECT_EQ(zt::read_file("./SwHsm/TknUser.list"), list);
  EXPECT_EQ(list_ids(hsm_)[0], first);
}

TEST_F(Hsm, ResetKeepsTokenFilesButForgetsTokens) {
  create_token();
  create_token();
  const ZEB_DEVICE_HANDLE a = admin_session();
  ASSERT_EQ(SWD_ResetVrk(a), 0u);
  HSM_ADMIN_CFG rec{};
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  EXPECT_EQ(str(rec.Pin, 32), std::string(kHsmSn) + std::string(16, '\0'));
  EXPECT_EQ(rec.u32PinLen, 16u);
  EXPECT_EQ(rec.TokenCount, 0);
  EXPECT_EQ(rec.MaxTokenCount, 4);
  EXPECT_EQ(rec.MaxLoginFailCount, 10);
  EXPECT_EQ(rec.HsmStatus, 1);
  EXPECT_EQ(str(rec.HsmLabel, 8), "soft-hsm");
  EXPECT_EQ(list_ids(hsm_), (std::vector<std::string>{"", "", "", ""}));
  EXPECT_TRUE(std::filesystem::exists("./SwHsm/Tkn01/TknUser.cfg"));
  // The first token after a reset starts a new list.
  uint8_t id[16], sn[16];
  ASSERT_EQ(SWD_CreateToken(a, id, sn), 0u);
  EXPECT_EQ(str(id, 6), std::string("Tkn01\0", 6));
  EXPECT_EQ(SWD_ResetVrk(open_hsm_session()), SWD_ERR_NOT_LOGGED_IN);
}

// A reset empties the token list in place, keeping its lock companion (a
// removed companion would let two creators in at once); a list held by
// another process fails the reset with nothing changed, never a reset
// reported with the tokens still listed.
TEST_F(Hsm, ResetEmptiesTheListUnderItsLock) {
  const std::string id = create_token();
  struct stat before{}, after{};
  ASSERT_EQ(::stat("./SwHsm/TknUser.list.lock", &before), 0);
  const std::string admin = zt::read_file("./SwHsm/HsmAdmin.cfg");
  {
    LockHolder creator("./SwHsm/TknUser.list", "x");
    ASSERT_TRUE(creator.ok());
    EXPECT_EQ(SWD_ResetVrk(admin_session()), SWD_ERR_TKN_LIST);
  }
  EXPECT_EQ(zt::read_file("./SwHsm/HsmAdmin.cfg"), admin);
  EXPECT_EQ(list_ids(hsm_)[0], id);
  ASSERT_EQ(SWD_ResetVrk(admin_session()), 0u);
  EXPECT_EQ(list_ids(hsm_), (std::vector<std::string>{"", "", "", ""}));
  ASSERT_EQ(::stat("./SwHsm/TknUser.list.lock", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  // A damaged list is replaced as well.
  zt::write_file("./SwHsm/TknUser.list", std::string(5, 'x') + "\nTknID=A\nTknSn=1\nTknLabel=a\n"
                                         "TknID=B\nTknSn=1\nTknLabel=a\nTknID=C\nTknSn=1\nTknLabel=a\n"
                                         "TknID=D\nTknSn=1\nTknLabel=a\nTknID=E\nTknSn=1\nTknLabel=a\n");
  ASSERT_EQ(SWD_ResetVrkBySn(0, nullptr), 0u);
  EXPECT_EQ(list_ids(hsm_), (std::vector<std::string>{"", "", "", ""}));
}

TEST_F(Hsm, ListHsmsFromFile) {
  zt::write_file("./sw_hsm_list.txt", "HSMSn=HSM0000000000042\nHSMLabel=soft\nHSMType=1\n");
  uint8_t types[4], sns[64], labels[128];
  uint32_t n = 0;
  ASSERT_EQ(SWD_ListHSMs(types, sns, labels, &n), 0u);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(str(sns, 16), kHsmSn);
  EXPECT_EQ(SWD_ListHSMs(nullptr, sns, labels, &n), SWD_ERR_ARGUMENTS);
}

}  // namespace
