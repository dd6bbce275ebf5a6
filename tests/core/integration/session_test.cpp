// The session table, session handles and login states.
#include <atomic>
#include <set>
#include <thread>

#include "core/integration/hsm_fixture.h"
#include "quarzel/port.h"
#include "quarzel/testing.h"
#include "zeb/swhsm_services.h"

using namespace zt;

TEST_F(CoreHsm, TwentySessionsFillTheTable) {
  std::set<VRK_HANDLE> handles;
  std::vector<VRK_HANDLE> open;
  for (int i = 0; i < 20; ++i) {
    VRK_HANDLE h = 0;
    ASSERT_EQ(VRK_OpenHsmSession(hsm, &h), 0u) << i;
    EXPECT_NE(h, 0u);
    EXPECT_EQ(SwSess_GetStatus(h), VRK_SESS_IDLE);
    handles.insert(h);
    open.push_back(h);
  }
  EXPECT_EQ(handles.size(), 20u);
  VRK_HANDLE h = 0;
  EXPECT_EQ(VRK_OpenHsmSession(hsm, &h), VRK_ERR_FAILED);
  ASSERT_EQ(VRK_CloseHsmSession(open[7]), 0u);
  EXPECT_EQ(SwSess_GetIndex(open[7]), 255);
  ASSERT_EQ(VRK_OpenHsmSession(hsm, &h), 0u);
  EXPECT_EQ(SwSess_GetIndex(h), 7);
}

namespace {
std::vector<uint8_t> g_drawn;
uint32_t recording_source(uint8_t* dest, uint32_t size) {
  static uint8_t next = 0x21;
  for (uint32_t i = 0; i < size; ++i) {
    dest[i] = next;
    next = static_cast<uint8_t>(next * 5 + 3);
    g_drawn.push_back(dest[i]);
  }
  return 0;
}
uint32_t failing_source(uint8_t*, uint32_t) { return 1; }
}  // namespace

// Session handles are drawn from the OS random source (not the C library's
// time-seeded generator): four bytes of it, most significant first.
TEST_F(CoreHsm, SessionHandlesComeFromTheOsRandomSource) {
  g_drawn.clear();
  quarzel::testing::set_random_source(recording_source);
  VRK_HANDLE h = 0;
  const uint32_t rv = VRK_OpenHsmSession(hsm, &h);
  quarzel::testing::set_random_source(nullptr);
  ASSERT_EQ(rv, 0u);
  bool found = false;
  for (size_t i = 0; i + 4 <= g_drawn.size(); ++i) {
    const uint32_t v = (uint32_t{g_drawn[i]} << 24) | (uint32_t{g_drawn[i + 1]} << 16) |
                       (uint32_t{g_drawn[i + 2]} << 8) | g_drawn[i + 3];
    found |= v == h;
  }
  EXPECT_TRUE(found);
}

TEST_F(CoreHsm, FailingRandomSourceFailsTheOpenCleanly) {
  quarzel::testing::set_random_source(failing_source);
  VRK_HANDLE h = 0;
  const uint32_t rv = VRK_OpenHsmSession(hsm, &h);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_NE(rv, 0u);
  EXPECT_EQ(h, 0u);
  // No slot is left claimed: all twenty can still be opened.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(VRK_OpenHsmSession(hsm, &h), 0u) << i;
}

TEST_F(CoreHsm, UnknownHandles) {
  const VRK_HANDLE bogus = 0x12345678;
  VRK_SESSION_INFO info{};
  EXPECT_EQ(VRK_CloseHsmSession(bogus), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(VRK_CloseTokenSession(bogus), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_GetTokenSessionInfo(bogus, &info), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_GetHsmSessionInfo(bogus, &info), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(VRK_LoginHsmByPin(bogus, u8(kAdminPin), len(kAdminPin)), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(bogus, u8(kUserPin), len(kUserPin)), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(VRK_Login(bogus), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_LogoutHsm(bogus), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(VRK_LogoutTokenNormalUser(bogus), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(VRK_SetTokenLabel(bogus, u8("x"), 1), VRK_ERR_FAILED);
  EXPECT_EQ(VRK_SetTokenNormalUserPin(bogus, u8("123456"), 6), VRK_ERR_MUTEX_BAD);
  EXPECT_EQ(VRK_SetTokenSuperUserPin(bogus, u8("123456"), 6), VRK_ERR_MUTEX_BAD);
  EXPECT_EQ(VRK_DigestInit(bogus, 9), VRK_ERR_SESSION_HANDLE);
  EXPECT_EQ(SwSess_GetIndex(bogus), 255);
  EXPECT_EQ(SwSess_GetStatus(bogus), 255u);
  EXPECT_EQ(SwSess_GetCtx(0), nullptr);
}

TEST_F(CoreHsm, AdministratorLoginCountsFailuresAndLocks) {
  VRK_HANDLE h = hsm_session();
  EXPECT_NE(VRK_LoginHsmByPin(h, u8("wrong"), 5), 0u);
  EXPECT_EQ(SwSess_GetStatus(h), VRK_SESS_IDLE);
  ASSERT_EQ(VRK_LoginHsmByPin(h, u8(kAdminPin), len(kAdminPin)), 0u);  // retry works, counter reset
  EXPECT_EQ(SwSess_GetStatus(h), VRK_SESS_HSMADMIN_LOGIN | VRK_SESS_TOKENSUPERUSER_LOGIN);
  ASSERT_EQ(VRK_LogoutHsm(h), 0u);
  EXPECT_EQ(SwSess_GetStatus(h), VRK_SESS_IDLE);
  EXPECT_EQ(VRK_LogoutHsm(h), 0u);  // nobody logged in: nothing to do

  // The limit is the HSM's own (the test bed's device has another).
  VRK_HSM_POLICY policy{};
  ASSERT_EQ(VRK_GetHsmPolicy(hsm, &policy), 0u);
  if (testbed == nullptr) {
    EXPECT_EQ(policy.MaxLoginFailCount, kMaxAdminFails);
  }
  ASSERT_GT(policy.MaxLoginFailCount, 0);
  for (int i = 0; i < policy.MaxLoginFailCount; ++i) EXPECT_NE(VRK_LoginHsmByPin(h, u8("wrong"), 5), 0u);
  EXPECT_EQ(VRK_LoginHsmByPin(h, u8(kAdminPin), len(kAdminPin)), VRK_ERR_PIN_LOCKED);  // locked
  EXPECT_EQ(SwSess_GetStatus(h), VRK_SESS_IDLE);
}

// A second administrator login on a logged-in session needs no PIN; a token
// session in any other state must prove it (it used to get 0 unchecked).
TEST_F(CoreHsm, AdministratorLoginOnABusySessionChecksThePin) {
  VRK_HANDLE a = admin_session();
  EXPECT_EQ(VRK_LoginHsmAdminByPin(a, u8("wrong"), 5), 0u);
  EXPECT_EQ(SwSess_GetStatus(a), VRK_SESS_HSMADMIN_LOGIN | VRK_SESS_TOKENSUPERUSER_LOGIN);

  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  EXPECT_NE(VRK_LoginHsmAdminByPin(u, u8("wrong"), 5), 0u);
  EXPECT_EQ(SwSess_GetStatus(u), VRK_SESS_TOKENUSER_LOGIN);
  VRK_HSM_POLICY pol{};
  EXPECT_EQ(VRK_SetHsmPolicy(u, &pol), VRK_ERR_USER_NOT_LOGGED_IN);
}

// The super user of any token, first or not, gains no HSM administration
// (it used to get the administrator bit on every token but the first).
TEST_F(CoreHsm, SuperUserNeverGainsTheAdministratorBit) {
  auto first = create_token();
  auto second = create_token("other-pin-99");
  VRK_HANDLE s1 = token_session(first);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(s1, u8(kUserPin), len(kUserPin)), 0u);
  EXPECT_EQ(SwSess_GetStatus(s1), VRK_SESS_TOKENSUPERUSER_LOGIN);
  EXPECT_EQ(SwSess_checkHSMAdminLoggedIn(SwSess_GetStatus(s1)), 0x101u);
  VRK_HANDLE s2 = token_session(second);
  ASSERT_EQ(VRK_LoginTokenSuperUserByPin(s2, u8("other-pin-99"), 12), 0u);
  EXPECT_EQ(SwSess_GetStatus(s2), VRK_SESS_TOKENSUPERUSER_LOGIN);
  EXPECT_EQ(SwSess_checkHSMAdminLoggedIn(SwSess_GetStatus(s2)), 0x101u);
  std::vector<uint8_t> id(16);
  EXPECT_EQ(VRK_CreateTknByPin(s2, u8("third-pin-777"), 13, id.data()), VRK_ERR_USER_NOT_LOGGED_IN);
  VRK_HSM_POLICY pol{};
  EXPECT_EQ(VRK_SetHsmPolicy(s2, &pol), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_LogoutTokenNormalUser(s1), VRK_ERR_USER_NOT_LOGGED_IN);
  ASSERT_EQ(VRK_LogoutTokenSuperUser(s1), 0u);
  EXPECT_EQ(SwSess_GetStatus(s1), VRK_SESS_IDLE);
  EXPECT_EQ(VRK_LogoutTokenSuperUser(s1), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_LoginTokenSuperUserByPin(s1, nullptr, 0), VRK_ERR_FAILED);
}

TEST_F(CoreHsm, UserLoginInstallsTheSessionKeyAndLogoutWipesIt) {
  auto id = create_token();
  VRK_HANDLE u = token_session(id);
  VRK_SESSION_CTX* ctx = SwSess_GetCtx(u);
  ASSERT_NE(ctx, nullptr);
  uint8_t before[32], during[32], after[32];
  uint32_t n = 32;
  ASSERT_EQ(CA_GetMK(&ctx->CaCtx, before, &n), 0);
  ASSERT_EQ(VRK_LoginTokenNormalUserByPin(u, u8(kUserPin), len(kUserPin)), 0u);
  EXPECT_EQ(SwSess_GetStatus(u), VRK_SESS_TOKENUSER_LOGIN);
  ASSERT_EQ(CA_GetMK(&ctx->CaCtx, during, &n), 0);
  EXPECT_NE(std::memcmp(before, during, 32), 0);
  if (testbed == nullptr) {  // the software store's stand-in logs its calls
    ASSERT_FALSE(StoreLog::get().calls.empty());
    EXPECT_EQ(StoreLog::get().calls.back(), "LoadObjectList");
  }
  ASSERT_EQ(VRK_LogoutTokenNormalUser(u), 0u);
  EXPECT_EQ(SwSess_GetStatus(u), VRK_SESS_IDLE);
  ASSERT_EQ(CA_GetMK(&ctx->CaCtx, after, &n), 0);
  EXPECT_EQ(std::memcmp(after, std::vector<uint8_t>(32, 0).data(), 32), 0);
  EXPECT_EQ(VRK_LogoutTokenNormalUser(u), VRK_ERR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(VRK_LoginTokenNormalUserByPin(u, nullptr, 0), VRK_ERR_FAILED);
}

// A master key of any length but 32 bytes is refused and the old key stays.
TEST_F(CoreHsm, MasterKeyOfTheWrongLengthIsRefused) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  VRK_SESSION_CTX* ctx = SwSess_GetCtx(u);
  uint8_t mk[32], now[32];
  uint32_t n = 32;
  ASSERT_EQ(CA_GetMK(&ctx->CaCtx, mk, &n), 0);
  uint8_t shorter[16] = {1, 2, 3}, longer[48] = {4, 5, 6};
  EXPECT_EQ(CA_SetMK(&ctx->CaCtx, shorter, 16), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(CA_SetMK(&ctx->CaCtx, longer, 48), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(CA_SetMK(&ctx->CaCtx, longer, 0), VRK_ERR_ARGUMENTS);
  ASSERT_EQ(CA_GetMK(&ctx->CaCtx, now, &n), 0);
  EXPECT_EQ(std::memcmp(mk, now, 32), 0);
  uint8_t fresh[32] = {9, 9, 9};
  ASSERT_EQ(CA_SetMK(&ctx->CaCtx, fresh, 32), 0);
  ASSERT_EQ(CA_GetMK(&ctx->CaCtx, now, &n), 0);
  EXPECT_EQ(std::memcmp(fresh, now, 32), 0);
}

TEST_F(CoreHsm, ClosingATokenSessionEndsItsProviderSession) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  VRK_SESSION_CTX* ctx = SwSess_GetCtx(u);
  const uint32_t hSW = ctx->CaCtx.hSW;
  ASSERT_NE(hSW, 0u);
  ASSERT_EQ(VRK_CloseTokenSession(u), 0u);
  EXPECT_EQ(SwSess_GetCtx(u), nullptr);
  uint8_t mk[32];
  uint32_t n = 32;
  EXPECT_EQ(SWC_GetMK(hSW, mk, &n), VRK_ERR_SESSION_HANDLE);
}

// The HSM mutex serialises session and login calls of several threads.
TEST_F(CoreHsm, ThreadsShareTheSessionTable) {
  auto id = create_token();
  std::atomic<int> failures{0};
  auto work = [&] {
    for (int i = 0; i < 25; ++i) {
      VRK_HANDLE s = 0;
      if (VRK_OpenTokenSession(hsm, id.data(), &s) != 0 ||
          VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), len(kUserPin)) != 0 ||
          SwSess_GetStatus(s) != VRK_SESS_TOKENUSER_LOGIN || VRK_LogoutTokenNormalUser(s) != 0 ||
          VRK_CloseTokenSession(s) != 0) {
        ++failures;
      }
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(work);
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  VRK_HANDLE h = 0;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(VRK_OpenHsmSession(hsm, &h), 0u) << i;  // nothing leaked
}
