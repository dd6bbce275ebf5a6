// A software HSM made from a "sw_hsm_list.txt" and an "HsmAdmin.cfg" that the
// fixture writes into a fresh working directory, started through the core.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/swhsm_files.h"
#include "support/testbed.h"
#include "support/workdir.h"
#include "zeb/adapters.h"
#include "zeb/vrk.h"

namespace zt {

inline constexpr char kHsmSn[] = "HSM0000000000042";  // 16 bytes
inline constexpr char kAdminPin[] = "admin-pin-1234";
inline constexpr char kUserPin[] = "user-pin-5678";
inline constexpr uint8_t kMaxAdminFails = 3;

inline uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
inline uint32_t len(const char* s) { return static_cast<uint32_t>(std::strlen(s)); }

// The token store while the software store is not part of this build: an
// in-memory list per token, with a log of the calls.
struct StoreLog {
  std::map<std::string, STO_SEOBJ_LIST> lists;
  std::vector<std::string> calls;
  static StoreLog& get() {
    static StoreLog s;
    return s;
  }
};

class CoreHsm : public ::testing::Test {
 protected:
  void SetUp() override {
    StoreLog::get() = StoreLog{};
    if (const char* exe = std::getenv("ZEB_TESTBED"); exe != nullptr && *exe != '\0') {
      // The same contract on the secure element: the test bed (type 8) with
      // this HSM's serial number and administrator PIN, on the console port.
      testbed = std::make_unique<Testbed>(exe, "testbed-state", 5566,
                                          std::vector<std::string>{"--sn", kHsmSn, "--admin-pin", kAdminPin});
    } else {
      write_file("sw_hsm_list.txt", sw_hsm_list_text(kHsmSn));
      std::filesystem::create_directory("SwHsm");
      write_file("SwHsm/HsmAdmin.cfg", admin_cfg_text({kHsmSn, kAdminPin, 3, 0, kMaxAdminFails}));
    }

    uint8_t types[14] = {};
    uint8_t sns[14][16] = {};
    uint8_t labels[14][32] = {};
    uint32_t count = 99;
    ASSERT_EQ(VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count),
              0u);
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(VRK_SetHsmSnToLoginConfig(sns[0], types[0]), 0u);
    ASSERT_EQ(VRK_Initialize(&hsm), 0u);
    started = true;
  }
  void TearDown() override {
    if (started) {
      EXPECT_EQ(VRK_Finalize(hsm), 0u);
    }
    testbed.reset();
  }

  VRK_HANDLE hsm_session() {
    VRK_HANDLE h = 0;
    EXPECT_EQ(VRK_OpenHsmSession(hsm, &h), 0u);
    return h;
  }
  VRK_HANDLE admin_session() {
    VRK_HANDLE h = hsm_session();
    EXPECT_EQ(VRK_LoginHsmAdminByPin(h, u8(kAdminPin), len(kAdminPin)), 0u);
    return h;
  }
  // Creates a token with the user (and super-user) PIN; returns its ID.
  std::vector<uint8_t> create_token(const char* pin = kUserPin) {
    VRK_HANDLE a = admin_session();
    std::vector<uint8_t> id(16);
    EXPECT_EQ(VRK_CreateTknByPin(a, u8(pin), len(pin), id.data()), 0u);
    EXPECT_EQ(VRK_CloseHsmSession(a), 0u);
    return id;
  }
  VRK_HANDLE token_session(std::vector<uint8_t>& id) {
    VRK_HANDLE h = 0;
    EXPECT_EQ(VRK_OpenTokenSession(hsm, id.data(), &h), 0u);
    return h;
  }
  VRK_HANDLE user_session(std::vector<uint8_t>& id, const char* pin = kUserPin) {
    VRK_HANDLE h = token_session(id);
    EXPECT_EQ(VRK_LoginTokenNormalUserByPin(h, u8(pin), len(pin)), 0u);
    return h;
  }
  VRK_TKN_USER_LIST tokens() {
    VRK_TKN_USER_LIST l{};
    EXPECT_EQ(VRK_ListTokens(hsm, &l), 0u);
    return l;
  }

  WorkDir dir;
  std::unique_ptr<Testbed> testbed;  // only on the secure element
  VRK_HANDLE hsm = 0;
  bool started = false;
};

}  // namespace zt
