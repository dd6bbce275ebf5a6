// A software HSM in a fresh temporary working directory per test.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "oxlu/file.h"
#include "swhsm/swd.h"

namespace swt {

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void spit(const std::string& path, const std::string& s) { std::ofstream(path, std::ios::binary) << s; }
inline uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
inline std::string str(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

inline constexpr const char* kHsmSn = "HSM0000000000042";  // 16 bytes
inline constexpr const char* kAdminPin = "admin-pin-1234";

// An HsmAdmin.cfg as an administrator would have it after setting a PIN.
inline std::string admin_cfg_text(const char* pin = kAdminPin, int status = 3, int fails = 0) {
  return std::string("Pin=") + pin + "\nPinLen=" + std::to_string(std::strlen(pin)) + "\nSn=" + kHsmSn +
         "\nLabel=soft-hsm\nLabelLen=8\nFwVer=1.0.0\nFwVerLen=5\nType=1\nStatus=" + std::to_string(status) +
         "\nCurrTknCount=0\nMaxTknCount=4\nCurrLoginFail=" + std::to_string(fails) +
         "\nMaxLoginFail=10\nDefault=\nDefaultLen=0\n";
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/swhsm_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_, old_;
};

// A device initialised on an HSM whose record the fixture wrote.
class Device : public TempDir {
 protected:
  void SetUp() override {
    TempDir::SetUp();
    std::filesystem::create_directory("./SwHsm");
    spit("./SwHsm/HsmAdmin.cfg", admin_cfg_text());
    ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
  }
  void TearDown() override {
    SWD_Finalize(hsm_);
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
    SWD_CloseHsmSession(a);
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

// A second process that holds a file's lock until told to let go.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      FILE* f = fopen_safe(path.c_str(), "r");
      char r = f != nullptr ? 'y' : 'n';
      (void)!write(up[1], &r, 1);
      char c;
      (void)!read(down[0], &c, 1);
      if (f != nullptr) fclose_safe(f);
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    release_fd_ = down[1];
    char r = 'n';
    if (read(up[0], &r, 1) == 1) ok_ = r == 'y';
    close(up[0]);
  }
  ~LockHolder() { release(); }
  bool ok() const { return ok_; }
  void release() {
    if (pid_ <= 0) return;
    (void)!write(release_fd_, "x", 1);
    close(release_fd_);
    int st;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_fd_ = -1;
  bool ok_ = false;
};

}  // namespace swt
