// Slots and token information through the loaded module.
#include <cstring>
#include <fstream>
#include <regex>

#include "support/p11_module.h"

namespace zt {
namespace {

class Slots : public P11Test {
 protected:
  // Rewrites lines of a token's configuration file (key=value).
  void set_token_fields(const std::string& id, const std::vector<std::pair<std::string, std::string>>& fields) {
    const std::string path = "SwHsm/" + id + "/TknUser.cfg";
    std::string text = read_file(path);
    for (const auto& [key, value] : fields) {
      text = std::regex_replace(text, std::regex("(^|\n)" + key + "=[^\n]*"), "$1" + key + "=" + value);
    }
    write_file(path, text);
  }
};

TEST_F(Slots, OneSlotPerTokenInListOrder) {
  add_token();
  add_token();
  initialize();
  for (CK_BBOOL present : {CK_TRUE, CK_FALSE}) {
    CK_ULONG n = 0;
    ASSERT_EQ(p11->C_GetSlotList(present, nullptr, &n), CKR_OK);
    ASSERT_EQ(n, 2u);
    CK_SLOT_ID ids[4] = {99, 99, 99, 99};
    n = 4;
    ASSERT_EQ(p11->C_GetSlotList(present, ids, &n), CKR_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(ids[0], 0u);
    EXPECT_EQ(ids[1], 1u);
    EXPECT_EQ(ids[2], 99u);
  }
  EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, nullptr), CKR_ARGUMENTS_BAD);
}

// PKCS#11 length convention: a list shorter than the slots gets the count and
// CKR_BUFFER_TOO_SMALL, and nothing is written past it.
TEST_F(Slots, ShortSlotListIsRefusedWithTheCount) {
  add_token();
  add_token();
  initialize();
  CK_SLOT_ID ids[2] = {77, 77};
  CK_ULONG n = 1;
  EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, ids, &n), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(ids[1], 77u);
  n = 0;
  EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, ids, &n), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 2u);
}

TEST_F(Slots, SlotInformation) {
  add_token();
  initialize();
  CK_SLOT_INFO info{};
  ASSERT_EQ(p11->C_GetSlotInfo(0, &info), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.slotDescription), 64),
            "software simulated slot" + std::string(64 - 23, ' '));
  EXPECT_EQ(p11_text(info.manufacturerID), "Valdoren Technologies");
  EXPECT_EQ(info.flags, CKF_TOKEN_PRESENT | CKF_REMOVABLE_DEVICE);
  for (CK_SLOT_ID bad : {CK_SLOT_ID{1}, CK_SLOT_ID{9}, CK_SLOT_ID{0xFFFFFFFF}, ~CK_SLOT_ID{0}}) {
    EXPECT_EQ(p11->C_GetSlotInfo(bad, &info), CKR_SLOT_ID_INVALID) << bad;
    CK_TOKEN_INFO t{};
    EXPECT_EQ(p11->C_GetTokenInfo(bad, &t), CKR_SLOT_ID_INVALID) << bad;
  }
  EXPECT_EQ(p11->C_GetSlotInfo(0, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GetTokenInfo(0, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(Slots, TokenInformation) {
  add_token();
  initialize();
  const CK_TOKEN_INFO t = token_info();
  EXPECT_EQ(p11_text(t.label), "ZEB-Default-Token-Label");
  EXPECT_EQ(p11_text(t.manufacturerID), "Valdoren Technologies");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.model), 16), std::string(16, ' '));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.serialNumber), 16), kP11HsmSn);
  EXPECT_EQ(t.flags, CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED);
  EXPECT_EQ(t.ulMaxPinLen, 32u);
  EXPECT_EQ(t.ulMinPinLen, 8u);
  EXPECT_EQ(t.ulSessionCount, 0u);
  EXPECT_EQ(t.ulTotalPublicMemory, CK_UNAVAILABLE_INFORMATION);
  EXPECT_EQ(t.ulFreePrivateMemory, CK_UNAVAILABLE_INFORMATION);
  const std::string utc(reinterpret_cast<const char*>(t.utcTime), 16);
  EXPECT_TRUE(std::regex_match(utc.substr(0, 14), std::regex("20[0-9]{12}"))) << utc;
  EXPECT_EQ(utc[14], '\0');
  EXPECT_EQ(utc[15], '\0');
}

TEST_F(Slots, SecondSlotShowsSecondToken) {
  add_token();
  const std::string second = add_token();
  std::string list = read_file("SwHsm/TknUser.list");
  list =
      std::regex_replace(list, std::regex("TknLabel=ZEB-Default-Token-Label\nTknSeq"), "TknLabel=second token\nTknSeq");
  write_file("SwHsm/TknUser.list", list);
  initialize();
  EXPECT_EQ(p11_text(token_info(0).label), "ZEB-Default-Token-Label");
  EXPECT_EQ(p11_text(token_info(1).label), "second token");
}

// Token flags follow the device's status and failure counters.
TEST_F(Slots, TokenFlagsByStatusAndCounters) {
  const std::string id = add_token();
  initialize();
  struct Case {
    const char* status;
    const char* su_fail;
    const char* nu_fail;
    CK_FLAGS flags;
  } cases[] = {
      {"1", "0", "0", 0x800005},
      {"2", "0", "0", 0x80405},
      {"3", "0", "0", 0x40D},
      {"4", "0", "0", 0x40005},
      {"5", "0", "0", 0x400005},
      {"6", "0", "0", 0x5},
      {"8", "0", "0", 0x5},
      {"3", "0", "9", 0x40D | CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY},
      {"3", "0", "12", 0x40D | CKF_USER_PIN_COUNT_LOW},
      {"3", "9", "0", 0x40D | CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY},
      {"3", "1", "1", 0x40D | CKF_SO_PIN_COUNT_LOW | CKF_USER_PIN_COUNT_LOW},
  };
  for (const auto& c : cases) {
    set_token_fields(id, {{"Status", c.status},
                          {"CurrSuperUserLoginFailCount", c.su_fail},
                          {"CurrNormalUserLoginFailCount", c.nu_fail},
                          {"MaxSuperUserLoginFailCount", "10"},
                          {"MaxNormalUserLoginFailCount", "10"}});
    EXPECT_EQ(token_info().flags, c.flags) << c.status << " " << c.su_fail << " " << c.nu_fail;
  }
}

// The slot table stands from start-up to shutdown; a token deleted meanwhile
// is reported as an invalid slot.
TEST_F(Slots, TokenGoneSinceStartUp) {
  add_token();
  initialize();
  write_file("SwHsm/TknUser.list", "TknSeq=1\n");
  CK_TOKEN_INFO t{};
  EXPECT_EQ(p11->C_GetTokenInfo(0, &t), CKR_SLOT_ID_INVALID);
}

}  // namespace
}  // namespace zt
