// No exception crosses a VRK_* entry point: with each allocation under the
// call failing in turn, the call answers a code (the host-memory code where
// the core itself allocates) and leaves the token usable.
#include <gtest/gtest.h>

#include "core/integration/hsm_fixture.h"
#include "support/fail_alloc.h"

namespace zt {
namespace {

TEST_F(CoreHsm, UserLoginSurvivesEveryFailingAllocation) {
  auto id = create_token();
  VRK_HANDLE h = token_session(id);
  bool host_memory = false;
  const long runs = sweep_allocation_failures(
      [&] { return VRK_LoginTokenNormalUserByPin(h, u8(kUserPin), len(kUserPin)); },
      [&](uint32_t rv, bool failed) {
        if (!failed) {
          EXPECT_EQ(rv, VRK_OK);
        }
        host_memory |= rv == VRK_ERR_HOST_MEMORY;
        if (rv == VRK_OK) {
          ASSERT_EQ(VRK_LogoutTokenNormalUser(h), VRK_OK);
        } else {
          VRK_SESSION_INFO info{};
          ASSERT_EQ(VRK_GetTokenSessionInfo(h, &info), VRK_OK);
          EXPECT_EQ(info.SessStatus, VRK_SESS_IDLE);  // nobody logged in after a failure
        }
      });
  EXPECT_GT(runs, 0);
  EXPECT_TRUE(host_memory);
}

TEST_F(CoreHsm, TokenResetSurvivesEveryFailingAllocation) {
  auto id = create_token();
  VRK_HANDLE su = token_session(id);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(su, u8(kUserPin), len(kUserPin)), VRK_OK);
  bool host_memory = false;
  sweep_allocation_failures([&] { return VRK_ResetToken(su); },
                            [&](uint32_t rv, bool failed) {
                              if (!failed) {
          EXPECT_EQ(rv, VRK_OK);
        }
                              host_memory |= rv == VRK_ERR_HOST_MEMORY;
                            });
  EXPECT_TRUE(host_memory);
}

TEST_F(CoreHsm, RestoreSurvivesEveryFailingAllocation) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  std::vector<uint8_t> backup(1024);
  uint32_t n = static_cast<uint32_t>(backup.size());
  ASSERT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), backup.data(), &n), VRK_OK);
  bool host_memory = false;
  sweep_allocation_failures([&] { return VRK_RestoreToken(u, u8(kUserPin), len(kUserPin), backup.data(), n); },
                            [&](uint32_t rv, bool failed) {
                              if (!failed) {
          EXPECT_EQ(rv, VRK_OK);
        }
                              host_memory |= rv == VRK_ERR_HOST_MEMORY;
                            });
  EXPECT_TRUE(host_memory);
  ASSERT_EQ(VRK_LogoutTokenNormalUser(u), VRK_OK);
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(u, u8(kUserPin), len(kUserPin)), VRK_OK);
}

}  // namespace
}  // namespace zt
