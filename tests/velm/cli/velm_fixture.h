// A software HSM in a fresh working directory, set up as an administrator
// does, for the tests that run the built VELM_Tool on it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "support/workdir.h"
#include "tool_runner.h"
#include "zeb/vrk.h"

namespace zt {

inline constexpr char kSn[] = "HSM0000000000042";
inline constexpr char kAdminPin[] = "admin-pin-1234";
inline constexpr char kSuPin[] = "super-pin-1234";
inline constexpr char kUserPin[] = "user-pin-5678";
inline constexpr char kBanner[] = "==== VELM_Tool Version: v0.8.10 ==== \n";
inline constexpr char kUsage[] =
    "USAGE: \n"
    "\tlist hsm:                                                list hsm to get hsm sn and hsm type \n"
    "\tlist token:                                              list token\n"
    "\tchange token_nu pin <token_id> <origin_pin> <new_pin>:   change token normal user pin\n"
    "\treset:                                                   factory reset by hsm serial number and hsm type\n"
    " \n"
    "\tex: ./VELM_Tool list hsm\n"
    "\tNote: Default token_nu_pin is token sn.\n";

// A software HSM in the working directory, set up as an administrator does.
inline void make_software_hsm() {
  const std::string cmd = std::string("bash '") + ZEB_NEW_SWHSM + "' . --sn " + kSn +
                          " --label soft-hsm --admin-pin " + kAdminPin + " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// The ID printed by "create token".
inline std::string created_id(const ToolRun& r) {
  const std::string key = "Token created, token id : ";
  const auto at = r.out.find(key);
  if (at == std::string::npos) return {};
  return r.out.substr(at + key.size(), r.out.find('\n', at) - at - key.size());
}

inline uint32_t core_login(const std::string& id, const char* pin, bool super_user) {
  VRK_HANDLE hsm = 0, s = 0;
  uint32_t rv = VRK_Initialize(&hsm);
  if (rv != 0) return rv;
  uint8_t tid[16] = {};
  std::memcpy(tid, id.data(), id.size());
  rv = VRK_OpenTokenSession(hsm, tid, &s);
  if (rv == 0) {
    auto* p = reinterpret_cast<VRK_UCHAR*>(const_cast<char*>(pin));
    rv = super_user ? VRK_LoginTokenSuperUserByPin(s, p, std::strlen(pin))
                    : VRK_LoginTokenNormalUserByPin(s, p, std::strlen(pin));
    VRK_CloseTokenSession(s);
  }
  VRK_Finalize(hsm);
  return rv;
}

class VelmTool : public ::testing::Test {
 protected:
  void SetUp() override { make_software_hsm(); }
  std::string create_token() {
    const ToolRun r = run_tool({"create", "token", kAdminPin, kSuPin, kUserPin});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return created_id(r);
  }
  WorkDir dir;
};

}  // namespace zt
