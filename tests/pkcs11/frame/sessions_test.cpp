// Sessions through the loaded module: open, close, information, handles,
// exhaustion, and calls from several threads.
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "support/p11_module.h"

namespace zt {
namespace {

class Sessions : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    add_token();
    initialize();
  }
};

TEST_F(Sessions, StateAndFlagsAtOpen) {
  const CK_SESSION_HANDLE rw = open(0, CKF_SERIAL_SESSION | CKF_RW_SESSION);
  CK_SESSION_INFO info = session_info(rw);
  EXPECT_EQ(info.slotID, 0u);
  EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
  EXPECT_EQ(info.flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
  EXPECT_EQ(info.ulDeviceError, 0u);
  const CK_SESSION_HANDLE ro = open(0, CKF_SERIAL_SESSION);
  info = session_info(ro);
  EXPECT_EQ(info.state, CKS_RO_PUBLIC_SESSION);
  EXPECT_EQ(info.flags, CKF_SERIAL_SESSION);
  EXPECT_EQ(token_info().ulSessionCount, 2u);
}

TEST_F(Sessions, RefusedOpensOpenNothing) {
  CK_SESSION_HANDLE h = 12345;
  EXPECT_EQ(p11->C_OpenSession(0, CKF_RW_SESSION, nullptr, nullptr, &h), CKR_SESSION_PARALLEL_NOT_SUPPORTED);
  EXPECT_EQ(h, 12345u);
  EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_SLOT_ID_INVALID);
  EXPECT_EQ(token_info().ulSessionCount, 0u);
}

TEST_F(Sessions, ReadOnlyOpenRefusedWhileSoIsLoggedIn) {
  const CK_SESSION_HANDLE so = open();
  ASSERT_EQ(login(so, CKU_SO), CKR_OK);
  CK_SESSION_HANDLE h = 0;
  EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_SESSION_READ_WRITE_SO_EXISTS);
  EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
  ASSERT_EQ(p11->C_Logout(so), CKR_OK);
  EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK);
}

TEST_F(Sessions, HandlesAreDistinctAndNeverZero) {
  std::set<CK_SESSION_HANDLE> seen;
  for (int i = 0; i < 20; ++i) {
    const CK_SESSION_HANDLE h = open();
    EXPECT_NE(h, CK_INVALID_HANDLE);
    EXPECT_TRUE(seen.insert(h).second);
  }
}

TEST_F(Sessions, UnknownHandles) {
  const CK_SESSION_HANDLE h = open();
  ASSERT_EQ(p11->C_CloseSession(h), CKR_OK);
  CK_SESSION_INFO info{};
  for (CK_SESSION_HANDLE bad : {h, CK_SESSION_HANDLE{0}, ~CK_SESSION_HANDLE{0}}) {
    EXPECT_EQ(p11->C_CloseSession(bad), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(p11->C_GetSessionInfo(bad, &info), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(p11->C_Logout(bad), CKR_SESSION_HANDLE_INVALID);
  }
  const CK_SESSION_HANDLE live = open();
  EXPECT_EQ(p11->C_GetSessionInfo(live, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(Sessions, CloseAllSessionsOfOneSlot) {
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  add_token();
  initialize();
  const CK_SESSION_HANDLE a = open(0), b = open(0), c = open(1);
  ASSERT_EQ(p11->C_CloseAllSessions(0), CKR_OK);
  CK_SESSION_INFO info{};
  EXPECT_EQ(p11->C_GetSessionInfo(a, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11->C_GetSessionInfo(b, &info), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(p11->C_GetSessionInfo(c, &info), CKR_OK);
  EXPECT_EQ(p11->C_CloseAllSessions(2), CKR_SLOT_ID_INVALID);
  // The device counts the sessions of all its tokens.
  EXPECT_EQ(token_info(0).ulSessionCount, 1u);
}

TEST_F(Sessions, HandlesDoNotOutliveFinalize) {
  const CK_SESSION_HANDLE h = open();
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  initialize();
  CK_SESSION_INFO info{};
  EXPECT_EQ(p11->C_GetSessionInfo(h, &info), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(Sessions, ExhaustedAndRecovered) {
  std::vector<CK_SESSION_HANDLE> open_sessions;
  for (int i = 0; i < 20; ++i) open_sessions.push_back(open());
  CK_SESSION_HANDLE h = 0;
  const CK_RV rv = p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h);
  EXPECT_TRUE(rv == CKR_FUNCTION_FAILED || rv == CKR_SESSION_COUNT) << std::hex << rv;
  EXPECT_EQ(token_info().ulSessionCount, 20u);
  ASSERT_EQ(p11->C_CloseSession(open_sessions[7]), CKR_OK);
  EXPECT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK);
  ASSERT_EQ(p11->C_CloseAllSessions(0), CKR_OK);
  EXPECT_EQ(token_info().ulSessionCount, 0u);
  for (int i = 0; i < 20; ++i) open();
}

// Threads of one application open, use and close sessions at once: every
// call succeeds and no entry is lost or shared.
TEST_F(Sessions, ManyThreads) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        CK_SESSION_HANDLE h = 0;
        const CK_FLAGS flags = CKF_SERIAL_SESSION | ((t % 2) ? CKF_RW_SESSION : 0);
        if (p11->C_OpenSession(0, flags, nullptr, nullptr, &h) != CKR_OK) {
          ++failures;
          continue;
        }
        CK_SESSION_INFO info{};
        if (p11->C_GetSessionInfo(h, &info) != CKR_OK || info.flags != flags) ++failures;
        CK_BYTE random[16];
        if (p11->C_GenerateRandom(h, random, sizeof random) != CKR_OK) ++failures;
        if (p11->C_CloseSession(h) != CKR_OK) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(token_info().ulSessionCount, 0u);
}

}  // namespace
}  // namespace zt
