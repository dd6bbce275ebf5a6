// The frame API the object and crypto entry points build on, tested in the
// process: session accessors, the find state's ownership, the opening checks
// and the exception guard.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "frame/p11_frame.h"
#include "support/p11_module.h"

namespace zt {
namespace {

class FrameApi : public ::testing::Test {
 protected:
  void SetUp() override {
    make_software_hsm(dir.path());
    token = make_token();
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
  }
  void TearDown() override { (void)C_Finalize(nullptr); }

  CK_SESSION_HANDLE open() {
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
    return h;
  }
  // A find state with `n` matches 100, 101, ...
  static ZEBP11_FINDOBJ_INFO find_state(CK_ULONG n) {
    ZEBP11_FINDOBJ_INFO f;
    f.target_attrs.push_back({CKA_LABEL, std::vector<CK_BYTE>(32, 'x')});
    for (CK_ULONG i = 0; i < n; ++i) f.matches.push_back(100 + i);
    return f;
  }
  std::vector<CK_OBJECT_HANDLE> next(CK_SESSION_HANDLE h, CK_ULONG max) {
    std::vector<CK_OBJECT_HANDLE> out(max + 1, 0);
    CK_ULONG n = 99;
    EXPECT_EQ(P11_GetFindObjectInfo(h, out.data(), max, &n), CKR_OK);
    out.resize(n);
    return out;
  }

  WorkDir dir;
  std::string token;
};

TEST_F(FrameApi, SessionAccessors) {
  const CK_SESSION_HANDLE h = open();
  EXPECT_EQ(P11_CheckSessionExists(h), CKR_OK);
  VRK_HANDLE hVRK = 0;
  ASSERT_EQ(P11_GetVRKSessionHdle(h, &hVRK), CKR_OK);
  EXPECT_NE(hVRK, 0u);
  CK_MECHANISM_TYPE mech = 0;
  ASSERT_EQ(P11_GetSessionMech(h, &mech), CKR_OK);
  EXPECT_EQ(mech, P11_MECH_NONE);
  ASSERT_EQ(P11_SetSessionMech(h, CKM_ECDSA_SHA256), CKR_OK);
  ASSERT_EQ(P11_GetSessionMech(h, &mech), CKR_OK);
  EXPECT_EQ(mech, CKM_ECDSA_SHA256);
  VRK_UCHAR id[16];
  std::memset(id, 0xAA, sizeof id);
  ASSERT_EQ(P11_GetVRKTokenId(h, id), CKR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(id), token.size()), token);
  EXPECT_EQ(id[token.size()], 0xAA);  // up to the first zero byte only
  CK_SESSION_INFO info{};
  ASSERT_EQ(P11_GetSessionInfo(h, &info), CKR_OK);
  EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION);
  EXPECT_FALSE(P11_CheckROSessionExists());
  EXPECT_FALSE(P11_CheckRWSOExists());
}

TEST_F(FrameApi, UnknownHandlesLeaveOutputsAlone) {
  for (CK_SESSION_HANDLE bad : {CK_SESSION_HANDLE{0}, CK_SESSION_HANDLE{42}}) {
    VRK_HANDLE hVRK = 7;
    CK_MECHANISM_TYPE mech = 7;
    CK_OBJECT_HANDLE found[2] = {7, 7};
    CK_ULONG n = 7;
    EXPECT_EQ(P11_CheckSessionExists(bad), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_GetVRKSessionHdle(bad, &hVRK), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_GetSessionMech(bad, &mech), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_SetSessionMech(bad, CKM_AES_ECB), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_GetFindObjectInfo(bad, found, 2, &n), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(hVRK, 7u);
    EXPECT_EQ(mech, 7u);
    EXPECT_EQ(n, 7u);
    EXPECT_EQ(found[0], 7u);
  }
}

// A closed entry keeps no mechanism and no find state: the next session in
// it starts clean.
TEST_F(FrameApi, ClosingResetsMechanismAndFindState) {
  const CK_SESSION_HANDLE h = open();
  ASSERT_EQ(P11_SetSessionMech(h, CKM_SHA256), CKR_OK);
  ASSERT_EQ(P11_SetFindObjectInfo(h, find_state(2)), CKR_OK);
  ASSERT_EQ(C_CloseSession(h), CKR_OK);
  const CK_SESSION_HANDLE next_session = open();
  CK_MECHANISM_TYPE mech = 0;
  ASSERT_EQ(P11_GetSessionMech(next_session, &mech), CKR_OK);
  EXPECT_EQ(mech, P11_MECH_NONE);
  EXPECT_TRUE(next(next_session, 8).empty());
}

// The matches are handed out in order, each once, page by page; a new find
// state replaces the one before and starts from its first match.
TEST_F(FrameApi, FindMatchesPageByPage) {
  const CK_SESSION_HANDLE h = open();
  const CK_SESSION_HANDLE other = open();
  ASSERT_EQ(P11_SetFindObjectInfo(h, find_state(5)), CKR_OK);
  ASSERT_EQ(P11_SetFindObjectInfo(other, find_state(1)), CKR_OK);
  EXPECT_TRUE(next(h, 0).empty());
  EXPECT_EQ(next(h, 2), (std::vector<CK_OBJECT_HANDLE>{100, 101}));
  EXPECT_EQ(next(h, 2), (std::vector<CK_OBJECT_HANDLE>{102, 103}));
  EXPECT_EQ(next(h, 2), (std::vector<CK_OBJECT_HANDLE>{104}));
  EXPECT_TRUE(next(h, 2).empty());
  EXPECT_EQ(next(other, 4), (std::vector<CK_OBJECT_HANDLE>{100}));
  ASSERT_EQ(P11_SetFindObjectInfo(h, find_state(3)), CKR_OK);
  EXPECT_EQ(next(h, 8), (std::vector<CK_OBJECT_HANDLE>{100, 101, 102}));
  ASSERT_EQ(P11_SetFindObjectInfo(h, ZEBP11_FINDOBJ_INFO{}), CKR_OK);
  EXPECT_TRUE(next(h, 8).empty());
  CK_ULONG n = 0;
  EXPECT_EQ(P11_GetFindObjectInfo(h, nullptr, 1, &n), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(P11_GetFindObjectInfo(h, nullptr, 0, &n), CKR_OK);
  // A state refused for an unknown handle stays the caller's.
  ZEBP11_FINDOBJ_INFO mine = find_state(1);
  EXPECT_EQ(P11_SetFindObjectInfo(123, std::move(mine)), CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(mine.matches.size(), 1u);  // NOLINT(bugprone-use-after-move): not moved on failure
}

// Results outside the PKCS#11 v3.0 table leave the module converted; those in
// it unchanged.
TEST(ResultCodes, OneConversionTable) {
  struct Case {
    CK_RV in, out;
  } cases[] = {
      {CKR_OK, CKR_OK},
      {CKR_PIN_INVALID, CKR_PIN_INVALID},
      {CKR_FUNCTION_REJECTED, CKR_FUNCTION_REJECTED},
      {CKR_OPERATION_CANCEL_FAILED, CKR_OPERATION_CANCEL_FAILED},
      {0x521, CKR_USER_ANOTHER_ALREADY_LOGGED_IN},  // the software HSM: the other user is logged in
      {0x580, CKR_SESSION_COUNT},
      {0x560, CKR_DEVICE_ERROR},  // a stored object whose MAC fails
      {0x203, CKR_DEVICE_ERROR},  // PKCS#11 v3.1 only
      {0x4, CKR_DEVICE_ERROR},
      {CKR_VENDOR_DEFINED, CKR_DEVICE_ERROR},
      {0xFFFFFFFF, CKR_DEVICE_ERROR},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zebp11::ck_rv(c.in), c.out) << std::hex << c.in;
    EXPECT_TRUE(zebp11::is_standard_rv(zebp11::ck_rv(c.in))) << std::hex << c.in;
  }
}

TEST_F(FrameApi, OpeningChecksInOrder) {
  const CK_SESSION_HANDLE h = open();
  int x = 0;
  using zebp11::EntryChecks;
  EXPECT_EQ(zebp11::entry_checks(ZEBP11_SITE, EntryChecks{.required = {&x, nullptr}, .session = 42}),
            CKR_ARGUMENTS_BAD);
  EXPECT_EQ(zebp11::entry_checks(ZEBP11_SITE, EntryChecks{.required = {&x}, .session = 42}),
            CKR_SESSION_HANDLE_INVALID);
  EXPECT_EQ(zebp11::entry_checks(ZEBP11_SITE, EntryChecks{.required = {&x}, .session = h}), CKR_OK);
  ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(zebp11::entry_checks(ZEBP11_SITE, EntryChecks{.required = {nullptr}, .session = 42}),
            CKR_CRYPTOKI_NOT_INITIALIZED);
  EXPECT_EQ(zebp11::entry_checks(ZEBP11_SITE, EntryChecks{.initialised = false, .required = {nullptr}}),
            CKR_ARGUMENTS_BAD);
  EXPECT_EQ(zebp11::entry_checks(ZEBP11_SITE, EntryChecks{.initialised = false}), CKR_OK);
}

CK_RV throws(int what) try {
  if (what == 1) throw std::bad_alloc();
  if (what == 2) throw std::runtime_error("boom");
  if (what == 3) throw 42;
  return CKR_OK;
}
P11_CATCH_ALL

TEST(ExceptionGuard, NoExceptionCrossesTheBoundary) {
  EXPECT_EQ(throws(0), CKR_OK);
  EXPECT_EQ(throws(1), CKR_HOST_MEMORY);
  EXPECT_EQ(throws(2), CKR_GENERAL_ERROR);
  EXPECT_EQ(throws(3), CKR_GENERAL_ERROR);
}

}  // namespace
}  // namespace zt
