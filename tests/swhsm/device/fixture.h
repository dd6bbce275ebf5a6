// A software HSM in a fresh temporary working directory per test.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "oxlu/file.h"
#include "support/lock_holder.h"
#include "support/swhsm_files.h"
#include "support/workdir.h"
#include "swhsm/swd.h"

namespace swt {

inline uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
inline std::string str(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

inline constexpr const char* kHsmSn = "HSM0000000000042";  // 16 bytes
inline constexpr const char* kAdminPin = "admin-pin-1234";

using TempDir = zt::WorkDirTest;
using zt::LockHolder;  // a second process holding a file's lock

// A device initialised on an HSM whose record the fixture wrote.
class Device : public TempDir {
 protected:
  void SetUp() override {
    TempDir::SetUp();
    std::filesystem::create_directory("./SwHsm");
    zt::write_file("./SwHsm/HsmAdmin.cfg", zt::admin_cfg_text({kHsmSn, kAdminPin}));
    ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
  }
  void TearDown() override {
    (void)SWD_Finalize(hsm_);  // not what this test checks
    TempDir::TearDown();
  }
  ZEB_DEVICE_HANDLE open_hsm_session() {
    ZEB_DEVICE_HANDLE h = 0;
    EXPECT_EQ(SWD_OpenHsmSession(hsm_, &h), 0u);
    return h;
  }
  ZEB_DEVICE_HANDLE admin_session() {
    ZEB_DEVICE_HANDLE h = open_hsm_session();
    EXPECT_EQ(SWD_LoginHsmByPin(h, u8(kAdminPin), std::strlen(kAdminPin)), 0u);
    return h;
  }
  // Creates a token as administrator; returns its id, serial number in `sn`.
  std::string create_token(std::string* sn = nullptr) {
    ZEB_DEVICE_HANDLE a = admin_session();
    uint8_t id[16] = {}, tsn[16] = {};
    EXPECT_EQ(SWD_CreateToken(a, id, tsn), 0u);
    (void)SWD_CloseHsmSession(a);  // not what this test checks
    if (sn != nullptr) *sn = str(tsn, 16);
    return std::string(reinterpret_cast<char*>(id));
  }
  ZEB_DEVICE_HANDLE open_token(const std::string& id) {
    uint8_t tid[16] = {};
    std::memcpy(tid, id.data(), id.size());
    ZEB_DEVICE_HANDLE h = 0;
    EXPECT_EQ(SWD_OpenTokenSession(hsm_, tid, &h), 0u);
    return h;
  }
  TKN_USER_CFG token_cfg(const std::string& id) {
    TKN_USER_CFG c{};
    EXPECT_EQ(_swdev_GetTokenUserCFG(id.c_str(), &c), 0u);
    return c;
  }
  ZEB_DEVICE_HANDLE hsm_ = 0;
};

}  // namespace swt
