// Configuration files of the software HSM: formats pinned with golden bytes,
// readers, limits, locking and interrupted writes.
#include <sys/stat.h>

#include <vector>

#include "fixture.h"
#include "support/full_disk.h"
#include "quarzel/port.h"
#include "quarzel/testing.h"

namespace {

using namespace swt;
using ConfigFiles = TempDir;

TEST(Records, SizesAndOffsets) {
  EXPECT_EQ(sizeof(HSM_ADMIN_CFG), 152u);
  EXPECT_EQ(sizeof(TKN_USER_CFG), 196u);
  EXPECT_EQ(offsetof(TKN_USER_CFG, NormalUserPin), 16u);
  EXPECT_EQ(offsetof(TKN_USER_CFG, u32NormalUserPinLen), 48u);
  EXPECT_EQ(offsetof(TKN_USER_CFG, SuperUserPin), 52u);
  EXPECT_EQ(offsetof(TKN_USER_CFG, MacK), 120u);
  EXPECT_EQ(offsetof(TKN_USER_CFG, u32LabelLen), 184u);
  EXPECT_EQ(offsetof(TKN_USER_CFG, MaxNormalUserLoginFailCount), 195u);
  EXPECT_EQ(offsetof(HSM_ADMIN_CFG, HsmSn), 36u);
  EXPECT_EQ(offsetof(HSM_ADMIN_CFG, FwVersion), 88u);
  EXPECT_EQ(offsetof(HSM_ADMIN_CFG, u32DefLen), 148u);
  EXPECT_EQ(sizeof(HSM_LIST_INFO), 49u);
  EXPECT_EQ(sizeof(SW_HSM_LIST), 196u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TKN_USER_LIST), 260u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_SESSION_INFO), 100u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_TOKEN_INFO), 76u);
  EXPECT_EQ(sizeof(ZEB_DEVICE_HSM_INFO), 76u);
}

HSM_ADMIN_CFG sample_admin() {
  HSM_ADMIN_CFG c{};
  std::memcpy(c.Pin, "1234", 4);
  c.u32PinLen = 4;
  std::memcpy(c.HsmSn, kHsmSn, 16);
  std::memcpy(c.HsmLabel, "lab", 3);
  c.u32LabelLen = 3;
  std::memcpy(c.FwVersion, "1.0.0", 5);
  c.u32FwVerLen = 5;
  c.HsmType = 1;
  c.HsmStatus = 3;
  c.fipsMode = 1;
  c.TokenCount = 2;
  c.MaxTokenCount = 4;
  c.LoginFailCount = 1;
  c.MaxLoginFailCount = 10;
  c.Default[0] = 'd';
  c.u32DefLen = 1;
  return c;
}

TEST_F(ConfigFiles, HsmAdminCfgGoldenAndRoundTrip) {
  const HSM_ADMIN_CFG c = sample_admin();
  const mode_t old = umask(022);
  ASSERT_EQ(SetHsmAdminCFG(&c), 0u);
  umask(old);
  EXPECT_EQ(zt::read_file("./SwHsm/HsmAdmin.cfg"),
            "Pin=1234\nPinLen=4\nSn=HSM0000000000042\nLabel=lab\nLabelLen=3\nFwVer=1.0.0\nFwVerLen=5\n"
            "Type=1\nStatus=3\nCurrTknCount=2\nMaxTknCount=4\nCurrLoginFail=1\nMaxLoginFail=10\n"
            "Default=d\nDefaultLen=1\n");
  struct stat st {};
  ASSERT_EQ(stat("./SwHsm/HsmAdmin.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // holds the administrator PIN

  HSM_ADMIN_CFG back{};
  ASSERT_EQ(GetHsmAdminCFG(&back), 0u);
  HSM_ADMIN_CFG want = c;
  want.fipsMode = 0;  // has no line
  EXPECT_EQ(std::memcmp(&back, &want, sizeof want), 0);
}

TEST_F(ConfigFiles, HsmAdminCfgMissingOrBusy) {
  HSM_ADMIN_CFG c = sample_admin();
  const HSM_ADMIN_CFG before = c;
  EXPECT_EQ(GetHsmAdminCFG(&c), SWD_ERR_HSM_CFG);
  EXPECT_EQ(std::memcmp(&c, &before, sizeof c), 0);  // written only on success
  EXPECT_TRUE(std::filesystem::is_directory("./SwHsm"));  // made when missing
  ASSERT_EQ(SetHsmAdminCFG(&c), 0u);
  LockHolder holder("./SwHsm/HsmAdmin.cfg", "x");
  ASSERT_TRUE(holder.ok());
  EXPECT_EQ(GetHsmAdminCFG(&c), SWD_ERR_HSM_CFG);
  EXPECT_EQ(SetHsmAdminCFG(&c), SWD_ERR_HSM_CFG);
}

TKN_USER_CFG sample_token() {
  TKN_USER_CFG c{};
  std::memcpy(c.Sn, "1234567890123456", 16);
  std::memcpy(c.NormalUserPin, "userpin", 7);
  c.u32NormalUserPinLen = 7;
  std::memcpy(c.SuperUserPin, "sopin", 5);
  c.u32SuperUserPinLen = 5;
  for (int i = 0; i < 32; ++i) {
    c.MK[i] = static_cast<uint8_t>('A' + i % 26);
    c.MacK[i] = static_cast<uint8_t>('a' + i % 26);
  }
  std::memcpy(c.Label, "tok", 3);
  c.u32LabelLen = 3;
  c.TknStatus = 3;
  c.SuperUserLoginFailCount = 1;
  c.MaxSuperUserLoginFailCount = 10;
  c.NormalUserLoginFailCount = 2;
  c.MaxNormalUserLoginFailCount = 10;
  return c;
}

TEST_F(ConfigFiles, TknUserCfgGoldenAndRoundTrip) {
  std::filesystem::create_directory("./SwHsm");  // the token writer makes the token's directory only
  const TKN_USER_CFG c = sample_token();
  const mode_t old = umask(022);
  ASSERT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c), 0u);
  umask(old);
  EXPECT_EQ(zt::read_file("./SwHsm/Tkn01/TknUser.cfg"),
            "Sn=1234567890123456\nNormalUserPin=userpin\nu32NormalUserPinLen=7\nSuperUserPin=sopin\n"
            "u32SuperUserPinLen=5\nMK=ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEF\nMacK=abcdefghijklmnopqrstuvwxyzabcdef\n"
            "Label=tok\nu32LabelLen=3\nStatus=3\nCurrSuperUserLoginFailCount=1\nMaxSuperUserLoginFailCount=10\n"
            "CurrNormalUserLoginFailCount=2\nMaxNormalUserLoginFailCount=10\n");
  struct stat st {};
  ASSERT_EQ(stat("./SwHsm/Tkn01/TknUser.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // holds PINs and keys
  TKN_USER_CFG back{};
  ASSERT_EQ(_swdev_GetTokenUserCFG("Tkn01", &back), 0u);
  EXPECT_EQ(std::memcmp(&back, &c, sizeof c), 0);
}

TEST_F(ConfigFiles, TokenCfgReaderCodes) {
  TKN_USER_CFG c{};
  EXPECT_EQ(_swdev_GetTokenUserCFG("Tkn09", &c), SWD_ERR_HSM_CFG);  // no token directory
  std::filesystem::create_directories("./SwHsm/Tkn09");
  EXPECT_EQ(_swdev_GetTokenUserCFG("Tkn09", &c), SWD_ERR_TKN_CFG);  // no file
  // Ids that would leave the HSM's directory are refused.
  EXPECT_EQ(_swdev_GetTokenUserCFG("..", &c), SWD_ERR_HSM_CFG);
  EXPECT_EQ(_swdev_GetTokenUserCFG("../SwHsm", &c), SWD_ERR_HSM_CFG);
  EXPECT_EQ(_swdev_SetTokenUserCFG("a/b", &c), SWD_ERR_TKN_CFG);
  EXPECT_FALSE(std::filesystem::exists("./SwHsm/a"));
}

TEST_F(ConfigFiles, KeysMatchOnlyAtLineStart) {
  // Formerly a label "MK=..." replaced the key and "Sn=" inside a label set
  // the serial number.
  std::filesystem::create_directories("./SwHsm/Tkn01");
  const TKN_USER_CFG c = sample_token();
  ASSERT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c), 0u);
  std::string text = zt::read_file("./SwHsm/Tkn01/TknUser.cfg");
  text += "Label=MK=" + std::string(29, '0') + "Sn=999\n";
  zt::write_file("./SwHsm/Tkn01/TknUser.cfg", text);
  TKN_USER_CFG back{};
  ASSERT_EQ(_swdev_GetTokenUserCFG("Tkn01", &back), 0u);
  EXPECT_EQ(str(back.MK, 32), str(c.MK, 32));
  EXPECT_EQ(str(back.Sn, 16), str(c.Sn, 16));
  EXPECT_EQ(str(back.Label, 32), "MK=" + std::string(29, '0'));
}

TEST_F(ConfigFiles, GeneratedKeysSurviveTheTextFormat) {
  // A random source that yields the bytes the text lines cannot carry.
  quarzel::testing::set_random_source([](uint8_t* d, uint32_t n) -> uint32_t {
    static uint32_t k = 0;
    static const uint8_t bad[] = {0x00, 0x0A, 0x0D, 0x00, 0x0A};
    for (uint32_t i = 0; i < n; ++i, ++k) d[i] = (k % 3 == 0) ? static_cast<uint8_t>(0x30 + k % 50) : bad[k % 5];
    return 0;
  });
  TKN_USER_CFG c{};
  const uint32_t rc = _swdev_setup_token_user_cfg(&c, u8("1111222233334444"), u8(kHsmSn));
  quarzel::testing::set_random_source(nullptr);
  ASSERT_EQ(rc, 0u);
  std::filesystem::create_directory("./SwHsm");
  for (int i = 0; i < 32; ++i) {
    for (uint8_t b : {c.MK[i], c.MacK[i]}) {
      EXPECT_NE(b, 0x00);
      EXPECT_NE(b, 0x0A);
      EXPECT_NE(b, 0x0D);
    }
  }
  ASSERT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c), 0u);
  TKN_USER_CFG back{};
  ASSERT_EQ(_swdev_GetTokenUserCFG("Tkn01", &back), 0u);
  EXPECT_EQ(std::memcmp(back.MK, c.MK, 32), 0);
  EXPECT_EQ(std::memcmp(back.MacK, c.MacK, 32), 0);
  EXPECT_EQ(std::memcmp(&back, &c, sizeof c), 0);
}

TEST_F(ConfigFiles, NewTokenRecordFromOsRandom) {
  TKN_USER_CFG a{}, b{};
  ASSERT_EQ(_swdev_setup_token_user_cfg(&a, u8("1111222233334444"), u8(kHsmSn)), 0u);
  ASSERT_EQ(_swdev_setup_token_user_cfg(&b, u8("1111222233334444"), u8(kHsmSn)), 0u);
  EXPECT_NE(std::memcmp(a.MK, b.MK, 32), 0);
  EXPECT_NE(std::memcmp(a.MK, a.MacK, 32), 0);
  EXPECT_EQ(str(a.NormalUserPin, 16), "1111222233334444");
  EXPECT_EQ(a.u32NormalUserPinLen, 16u);
  EXPECT_EQ(str(a.SuperUserPin, 16), kHsmSn);
  EXPECT_EQ(str(a.Label, 32), std::string("ZEB-Default-Token-Label") + std::string(9, '\0'));
  EXPECT_EQ(a.TknStatus, 1);
  EXPECT_EQ(a.MaxNormalUserLoginFailCount, 10);
  EXPECT_EQ(a.MaxSuperUserLoginFailCount, 10);
  // A failing OS source makes no keys at all.
  quarzel::testing::set_random_source([](uint8_t*, uint32_t) -> uint32_t { return 1; });
  EXPECT_EQ(_swdev_setup_token_user_cfg(&a, u8("1111222233334444"), u8(kHsmSn)), SWD_ERR_FAILED);
  uint8_t sn[16];
  EXPECT_NE(_swdev_fill_random_digits(sn, 16), 0u);
  quarzel::testing::set_random_source(nullptr);
  ASSERT_EQ(_swdev_fill_random_digits(sn, 16), 0u);
  for (uint8_t d : sn) EXPECT_TRUE(d >= '0' && d <= '9');
}

TEST_F(ConfigFiles, TokenListGoldenAndGaps) {
  std::filesystem::create_directory("./SwHsm");
  ZEB_DEVICE_TKN_USER_LIST l{};
  std::memcpy(l.TknId[0], "Tkn01", 5);
  std::memcpy(l.TknSn[0], "1111111111111111", 16);
  std::memcpy(l.TknLabel[0], "L1", 2);
  std::memcpy(l.TknSn[1], "2222222222222222", 16);  // slot 1 emptied by a deletion
  std::memcpy(l.TknId[2], "Tkn03", 5);
  std::memcpy(l.TknSn[2], "3333333333333333", 16);
  std::memcpy(l.TknLabel[2], "L3", 2);
  l.TknNum = 3;
  l.TknSeq = 3;
  ASSERT_EQ(_swdev_SetTokenUserList(&l), 0u);
  EXPECT_EQ(zt::read_file("./SwHsm/TknUser.list"),
            "TknID=Tkn01\nTknSn=1111111111111111\nTknLabel=L1\n"
            "TknID=Tkn03\nTknSn=3333333333333333\nTknLabel=L3\nTknSeq=3\n");
  ZEB_DEVICE_TKN_USER_LIST back{};
  ASSERT_EQ(_swdev_GetTokenUsrList(&back), 0u);
  EXPECT_EQ(back.TknNum, 2);
  EXPECT_EQ(back.TknSeq, 3);
  EXPECT_EQ(str(back.TknId[1], 5), "Tkn03");
  EXPECT_EQ(str(back.TknSn[1], 16), "3333333333333333");  // 16 digits, no terminator needed

  ZEB_DEVICE_TKN_USER_LIST empty{};
  ASSERT_EQ(_swdev_SetTokenUserList(&empty), 0u);
  EXPECT_EQ(zt::read_file("./SwHsm/TknUser.list"), "TknSeq=0\n");
}

TEST_F(ConfigFiles, TokenListReaderEdgeCases) {
  std::filesystem::create_directory("./SwHsm");
  ZEB_DEVICE_TKN_USER_LIST l{};
  EXPECT_EQ(_swdev_GetTokenUsrList(&l), SWD_ERR_TKN_LIST);
  // An entry without a label line merges with the next.
  zt::write_file("./SwHsm/TknUser.list", "TknID=A\nTknSn=1\nTknID=B\nTknSn=2\nTknLabel=LB\nTknSeq=7\n");
  ASSERT_EQ(_swdev_GetTokenUsrList(&l), 0u);
  EXPECT_EQ(l.TknNum, 1);
  EXPECT_EQ(str(l.TknId[0], 2), std::string("B\0", 2));
  // A fifth entry is refused, never written past the arrays.
  std::string five;
  for (int i = 1; i <= 5; ++i) five += "TknID=T" + std::to_string(i) + "\nTknSn=1\nTknLabel=L\n";
  zt::write_file("./SwHsm/TknUser.list", five + "TknSeq=5\n");
  EXPECT_EQ(_swdev_GetTokenUsrList(&l), SWD_ERR_FAILED);
}

TEST_F(ConfigFiles, AddTokenEntryNumbering) {
  ZEB_DEVICE_TKN_USER_LIST l{};
  std::memcpy(l.TknId[0], "TknA", 4);
  std::memcpy(l.TknId[2], "TknB", 4);
  l.TknNum = 2;
  l.TknSeq = 5;
  uint8_t id[16] = {};
  ASSERT_EQ(_swdev_addTokenInTokenUserList(&l, u8("5555555555555555"), id), 0u);
  EXPECT_EQ(str(id, 16), std::string("Tkn06") + std::string(11, '\0'));
  EXPECT_EQ(str(l.TknId[1], 5), "Tkn06");  // first empty slot
  EXPECT_EQ(str(l.TknLabel[1], 32), std::string("ZEB-Default-Token-Label") + std::string(9, '\0'));
  EXPECT_EQ(l.TknNum, 3);
  EXPECT_EQ(l.TknSeq, 6);
  ASSERT_EQ(_swdev_addTokenInTokenUserList(&l, u8("6666666666666666"), id), 0u);
  const ZEB_DEVICE_TKN_USER_LIST full = l;
  EXPECT_EQ(_swdev_addTokenInTokenUserList(&l, u8("7777777777777777"), id), SWD_ERR_FAILED);
  EXPECT_EQ(std::memcmp(&l, &full, sizeof l), 0);
}

TEST_F(ConfigFiles, HsmListParsing) {
  SW_HSM_LIST list{};
  uint8_t count = 9;
  EXPECT_EQ(_swdev_LoadHsmSNList(&list, &count), SWD_ERR_PATH_FILE);
  EXPECT_EQ(count, 9);
  zt::write_file("./sw_hsm_list.txt",
       "HSMSn=HSM0000000000042\nHSMLabel=first\nHSMType=1\n# comment line\nHSMSn=SECOND\nHSMLabel=second\nHSMType=300\n");
  ASSERT_EQ(_swdev_LoadHsmSNList(&list, &count), 0u);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(str(list.hsminfo[0].hsm_sn, 16), kHsmSn);
  EXPECT_EQ(str(list.hsminfo[1].hsm_label, 7), std::string("second\0", 7));
  EXPECT_EQ(list.hsminfo[1].hsm_type, 44);  // modulo 256

  uint8_t types[4] = {};
  uint8_t sns[4 * 16] = {}, labels[4 * 32] = {};
  uint32_t n = 0;
  ASSERT_EQ(SWD_ListHSMs(types, sns, labels, &n), 0u);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(types[0], 1);
  EXPECT_EQ(str(sns + 16, 6), "SECOND");
  EXPECT_EQ(str(labels, 5), "first");

  // More than four entries: refused as a whole, nothing listed.
  std::string five;
  for (int i = 0; i < 5; ++i) five += "HSMSn=S" + std::to_string(i) + "\nHSMLabel=L\nHSMType=1\n";
  zt::write_file("./sw_hsm_list.txt", five);
  EXPECT_NE(_swdev_LoadHsmSNList(&list, &count), 0u);
  n = 7;
  ASSERT_EQ(SWD_ListHSMs(types, sns, labels, &n), 0u);
  EXPECT_EQ(n, 0u);
}

TEST_F(ConfigFiles, AdministrationDirectoryPointer) {
  uint8_t p[SWD_PATH_LEN];
  EXPECT_EQ(SWD_LoadHsmAdminFilePathConfig(p), SWD_ERR_PATH_FILE);
  EXPECT_EQ(str(p, 3), std::string("./\0", 3));
  zt::write_file("./device_filepath.cfg", "other=1\n");
  EXPECT_EQ(SWD_LoadHsmAdminFilePathConfig(p), 0u);
  EXPECT_EQ(str(p, 3), std::string("./\0", 3));
  zt::write_file("./device_filepath.cfg", "HsmAdmin_config_path=./admin/\n");
  EXPECT_EQ(SWD_LoadHsmAdminFilePathConfig(p), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p)), "./admin/");
  EXPECT_EQ(SWD_LoadHsmAdminFilePathConfig(nullptr), SWD_ERR_NULL);
}

TEST_F(ConfigFiles, PathLengthLimits) {
  // P + "SwHsm/" + "HsmAdmin.cfg" adds 18 bytes; P + "SwHsm/Tkn01/TknUser.cfg" 23.
  auto use_path = [](size_t len) {
    std::string p = "./";
    while (p.size() + 1 < len) p += 'd';
    p += '/';
    std::filesystem::create_directories(p + "SwHsm");
    zt::write_file("./device_filepath.cfg", "HsmAdmin_config_path=" + p + "\n");
    uint8_t sn[16] = {};
    ZEB_DEVICE_HANDLE h;
    (void)SWD_Initialize(sn, &h);  // takes the directory; the serial number does not matter here
    return p;
  };
  use_path(110);
  HSM_ADMIN_CFG c = sample_admin();
  EXPECT_EQ(GetHsmAdminCFG(&c), SWD_ERR_PATH_LONG);
  EXPECT_EQ(SetHsmAdminCFG(&c), SWD_ERR_PATH_LONG);
  const TKN_USER_CFG t = sample_token();
  use_path(104);
  EXPECT_EQ(_swdev_SetTokenUserCFG("Tkn01", &t), 0u);
  use_path(105);
  EXPECT_EQ(_swdev_SetTokenUserCFG("Tkn01", &t), SWD_ERR_PATH_LONG);
  zt::write_file("./device_filepath.cfg", "HsmAdmin_config_path=./\n");
  uint8_t sn[16] = {};
  ZEB_DEVICE_HANDLE h;
  (void)SWD_Initialize(sn, &h);  // not what this test checks
}

TEST_F(ConfigFiles, WriteInterruptedMidwayLeavesEveryFileIntact) {
  std::filesystem::create_directory("./SwHsm");
  const TKN_USER_CFG c = sample_token();
  ASSERT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c), 0u);
  const HSM_ADMIN_CFG a = sample_admin();
  ASSERT_EQ(SetHsmAdminCFG(&a), 0u);
  ZEB_DEVICE_TKN_USER_LIST l{};
  std::memcpy(l.TknId[0], "Tkn01", 5);
  std::memcpy(l.TknSn[0], "1111111111111111", 16);
  std::memcpy(l.TknLabel[0], "a label of thirty-two characters", 32);
  l.TknNum = 1;
  l.TknSeq = 1;
  ASSERT_EQ(_swdev_SetTokenUserList(&l), 0u);
  ASSERT_GT(zt::read_file("./SwHsm/TknUser.list").size(), 80u);
  const std::string cfg0 = zt::read_file("./SwHsm/Tkn01/TknUser.cfg");
  const std::string adm0 = zt::read_file("./SwHsm/HsmAdmin.cfg");
  const std::string lst0 = zt::read_file("./SwHsm/TknUser.list");

  TKN_USER_CFG c2 = sample_token();
  c2.NormalUserLoginFailCount = 7;
  HSM_ADMIN_CFG a2 = sample_admin();
  a2.LoginFailCount = 9;
  ZEB_DEVICE_TKN_USER_LIST l2 = l;
  l2.TknSeq = 2;
  for (size_t budget : {size_t{0}, size_t{1}, size_t{40}, size_t{80}}) {
    {
      zt::FullDisk disk(budget);
      EXPECT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c2), SWD_ERR_TKN_CFG) << budget;
      disk.refill(budget);
      EXPECT_EQ(SetHsmAdminCFG(&a2), SWD_ERR_HSM_CFG) << budget;
      disk.refill(budget);
      EXPECT_EQ(_swdev_SetTokenUserList(&l2), SWD_ERR_TKN_CFG) << budget;
    }
    EXPECT_EQ(zt::read_file("./SwHsm/Tkn01/TknUser.cfg"), cfg0);
    EXPECT_EQ(zt::read_file("./SwHsm/HsmAdmin.cfg"), adm0);
    EXPECT_EQ(zt::read_file("./SwHsm/TknUser.list"), lst0);
  }
  TKN_USER_CFG back{};
  ASSERT_EQ(_swdev_GetTokenUserCFG("Tkn01", &back), 0u);
  EXPECT_EQ(std::memcmp(&back, &c, sizeof c), 0);
  for (const auto& e : std::filesystem::recursive_directory_iterator(".")) {
    EXPECT_EQ(e.path().string().find(".tmp."), std::string::npos) << e.path();
  }
}

TEST_F(ConfigFiles, TokenFileHeldByAWriterIsBusyAndStaysIntact) {
  std::filesystem::create_directory("./SwHsm");
  const TKN_USER_CFG c = sample_token();
  ASSERT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c), 0u);
  const std::string before = zt::read_file("./SwHsm/Tkn01/TknUser.cfg");
  LockHolder holder("./SwHsm/Tkn01/TknUser.cfg", "x");
  ASSERT_TRUE(holder.ok());
  TKN_USER_CFG back{};
  EXPECT_EQ(_swdev_GetTokenUserCFG("Tkn01", &back), SWD_ERR_TKN_CFG);
  TKN_USER_CFG c2 = sample_token();
  c2.TknStatus = 4;
  EXPECT_EQ(_swdev_SetTokenUserCFG("Tkn01", &c2), SWD_ERR_TKN_CFG);
  holder.release();
  EXPECT_EQ(zt::read_file("./SwHsm/Tkn01/TknUser.cfg"), before);
}

TEST_F(ConfigFiles, ValuesKeepCarriageReturnsAndLongLinesAreCut) {
  std::filesystem::create_directories("./SwHsm/Tkn01");
  zt::write_file("./SwHsm/Tkn01/TknUser.cfg", "Label=abc\r\nu32LabelLen=" + std::string(5000, '7') + "\nStatus=3\n");
  TKN_USER_CFG back{};
  ASSERT_EQ(_swdev_GetTokenUserCFG("Tkn01", &back), 0u);
  EXPECT_EQ(str(back.Label, 5), std::string("abc\r\0", 5));
  EXPECT_EQ(back.TknStatus, 3);
}

TEST(StatusNames, Tables) {
  EXPECT_STREQ(hsmStatusToString(1), "ZEB_DEVICE_HSM_UNINIT");
  EXPECT_STREQ(hsmStatusToString(6), "ZEB_DEVICE_HSM_ERROR");
  EXPECT_STREQ(hsmStatusToString(7), "UNKNOWN HSM STATUS!");
  EXPECT_STREQ(tokenStatusToString(4), "ZEB_DEVICE_TKN_NORMALUSER_LOCKED");
  EXPECT_STREQ(tokenStatusToString(7), "ZEB_DEVICE_TKN_IDLE");
  EXPECT_STREQ(tokenStatusToString(8), "UNKNOWN TOKEN STATUS!");
  const int us = _swdev_getMiliSecond();
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
}

}  // namespace
