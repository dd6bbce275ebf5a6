// The frame API the object and crypto entry points build on, tested in the
// process: session accessors, the find state's ownership, the opening checks
// and the exception guard.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

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
  // A find template made the way the frame releases it.
  static ZEBP11_FINDOBJ_INFO find_state(CK_ULONG n) {
    ZEBP11_FINDOBJ_INFO f;
    f.N_attr = n;
    f.target_attrs = new CK_ATTRIBUTE[n]{};
    for (CK_ULONG i = 0; i < n; ++i) {
      f.target_attrs[i].type = CKA_LABEL;
      f.target_attrs[i].pValue = new CK_BYTE[32]{};
      f.target_attrs[i].ulValueLen = 32;
    }
    return f;
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
    ZEBP11_FINDOBJ_INFO find{};
    find.N_attr = 7;
    EXPECT_EQ(P11_CheckSessionExists(bad), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_GetVRKSessionHdle(bad, &hVRK), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_GetSessionMech(bad, &mech), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_SetSessionMech(bad, CKM_AES_ECB), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(P11_GetFindObjectInfo(bad, &find), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(hVRK, 7u);
    EXPECT_EQ(mech, 7u);
    EXPECT_EQ(find.N_attr, 7u);
  }
}

// A closed entry keeps no mechanism and no find state: the next session in
// it starts clean, and the template is released (ASan's leak check sees it).
TEST_F(FrameApi, ClosingResetsMechanismAndFindState) {
  const CK_SESSION_HANDLE h = open();
  ASSERT_EQ(P11_SetSessionMech(h, CKM_SHA256), CKR_OK);
  const ZEBP11_FINDOBJ_INFO f = find_state(2);
  ASSERT_EQ(P11_SetFindObjectInfo(h, &f), CKR_OK);
  ASSERT_EQ(C_CloseSession(h), CKR_OK);
  const CK_SESSION_HANDLE next = open();
  CK_MECHANISM_TYPE mech = 0;
  ASSERT_EQ(P11_GetSessionMech(next, &mech), CKR_OK);
  EXPECT_EQ(mech, P11_MECH_NONE);
  ZEBP11_FINDOBJ_INFO got{};
  got.N_attr = 9;
  ASSERT_EQ(P11_GetFindObjectInfo(next, &got), CKR_OK);
  EXPECT_EQ(got.N_attr, 0u);
  EXPECT_EQ(got.target_attrs, nullptr);
  EXPECT_EQ(got.position, 0u);
}

// Storing a find state releases the one before; finalising releases all.
TEST_F(FrameApi, FindStateOwnership) {
  const CK_SESSION_HANDLE h = open();
  ZEBP11_FINDOBJ_INFO f = find_state(3);
  ASSERT_EQ(P11_SetFindObjectInfo(h, &f), CKR_OK);
  f.position = 2;
  ASSERT_EQ(P11_SetFindObjectInfo(h, &f), CKR_OK);  // the same template: kept
  ZEBP11_FINDOBJ_INFO got{};
  ASSERT_EQ(P11_GetFindObjectInfo(h, &got), CKR_OK);
  EXPECT_EQ(got.target_attrs, f.target_attrs);
  EXPECT_EQ(got.position, 2u);
  const ZEBP11_FINDOBJ_INFO other = find_state(1);
  ASSERT_EQ(P11_SetFindObjectInfo(h, &other), CKR_OK);
  const ZEBP11_FINDOBJ_INFO none{};
  ASSERT_EQ(P11_SetFindObjectInfo(h, &none), CKR_OK);
  const ZEBP11_FINDOBJ_INFO last = find_state(4);
  ASSERT_EQ(P11_SetFindObjectInfo(open(), &last), CKR_OK);
  ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
  // A template refused with an unknown handle stays the caller's.
  ZEBP11_FINDOBJ_INFO mine = find_state(1);
  EXPECT_EQ(P11_SetFindObjectInfo(123, &mine), CKR_SESSION_HANDLE_INVALID);
  P11_FreeFindTemplate(mine.target_attrs, mine.N_attr);
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
