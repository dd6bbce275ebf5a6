// VELM_Tool on the secure element: the test bed serving 127.0.0.1:5566, in a
// working directory without a software HSM, so that it is the HSM listed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/testbed.h"
#include "support/workdir.h"
#include "tool_runner.h"

namespace zt {
namespace {

constexpr char kSn[] = "SE00000000000007";
constexpr char kAdminPin[] = "se-admin-pin-1";

class VelmToolOnTestbed : public ::testing::Test {
 protected:
  void SetUp() override {
    testbed_ = std::make_unique<Testbed>(SE_TESTBED_PATH, dir_.path() + "/state", 5566,
                                         std::vector<std::string>{"--sn", kSn, "--admin-pin", kAdminPin});
  }
  WorkDir dir_;
  std::unique_ptr<Testbed> testbed_;
};

TEST_F(VelmToolOnTestbed, ListsAndAdministersTheTestbed) {
  ToolRun r = run_tool({"list", "hsm"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("    0      |    TESTBED         | ") + kSn + "\n"), std::string::npos) << r.out;
  // A secure element is driven as type 5.
  EXPECT_NE(read_file("HSM.cfg").find("HSMType=5\n"), std::string::npos);

  r = run_tool({"get", "hsm", "info"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("HSM SN: ") + kSn + "\nHSM Type: TESTBED\n"), std::string::npos) << r.out;

  r = run_tool({"create", "token", kAdminPin, "se-so-pin-1234", "se-user-pin-1"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string key = "Token created, token id : ";
  const auto at = r.out.find(key);
  ASSERT_NE(at, std::string::npos);
  const std::string id = r.out.substr(at + key.size(), r.out.find('\n', at) - at - key.size());

  r = run_tool({"change", "token_nu", "pin", id, "se-user-pin-1", "se-user-pin-2"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = run_tool({"change", "token_nu", "pin", id, "se-user-pin-1", "se-user-pin-3"});  // the old PIN is gone
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(r.err.empty());

  // A second token is deleted; the secure element's first one is not.
  r = run_tool({"create", "token", kAdminPin, "se-so-pin-5678", "se-user-pin-5"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto at2 = r.out.find(key);
  ASSERT_NE(at2, std::string::npos);
  const std::string second = r.out.substr(at2 + key.size(), r.out.find('\n', at2) - at2 - key.size());
  ASSERT_NE(second, id);
  r = run_tool({"delete", "token", kAdminPin, "NoSuchTkn"});
  EXPECT_EQ(r.status, 0xE0) << r.out << r.err;  // CKR_TOKEN_NOT_PRESENT, nothing deleted
  for (const std::vector<std::string>& l : std::vector<std::vector<std::string>>{
           {"get", "token", "info", "NoSuchTkn"},
           {"change", "token_nu", "pin", "NoSuchTkn", "se-user-pin-2", "se-user-pin-4"},
           {"unlock", "token_nu", "NoSuchTkn", "se-so-pin-1234"}}) {
    EXPECT_EQ(run_tool(l).status, 0xE0) << l[0];  // CKR_TOKEN_NOT_PRESENT
  }
  EXPECT_NE(run_tool({"list", "token"}).out.find(second), std::string::npos);
  r = run_tool({"delete", "token", kAdminPin, second});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Token deleted."), std::string::npos) << r.out;
  r = run_tool({"list", "token"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(id), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(second), std::string::npos) << r.out;
  r = run_tool({"delete", "token", kAdminPin, id});
  EXPECT_EQ(r.status, 1) << r.out;  // 0x200: its low byte is zero
  EXPECT_NE(r.err.find("0x00000200"), std::string::npos) << r.err;
  EXPECT_NE(run_tool({"list", "token"}).out.find(id), std::string::npos);
}

TEST_F(VelmToolOnTestbed, TestbedDownIsAFailure) {
  ASSERT_EQ(run_tool({"get", "hsm", "info"}).status, 0);
  testbed_->stop();
  // Nothing is listed any more: the login configuration names no HSM.
  const ToolRun r = run_tool({"get", "hsm", "info"});
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(run_tool({"list", "hsm"}).out.find("Device not found!") != std::string::npos, true);
}

}  // namespace
}  // namespace zt
