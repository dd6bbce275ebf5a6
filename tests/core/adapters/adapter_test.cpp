// Adapters and session logic over a fake device and a recording store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zeb/adapters.h"
#include "zeb/swhsm_services.h"
#include "zeb/core_testing.h"
#include "zeb/vrk.h"

namespace {

template <class F>
struct Unsupported;
template <class... A>
struct Unsupported<uint32_t (*)(A...)> {
  static uint32_t call(A...) { return 0x54; }
};

struct Fake {
  std::vector<std::string> calls;
  uint32_t open_rv = 0, info_rv = 0, login_rv = 0, store_rv = 0;
  ZEB_DEVICE_HANDLE next_session = 100;
  static Fake& get() {
    static Fake f;
    return f;
  }
};
Fake& fake() { return Fake::get(); }

uint32_t open_hsm(ZEB_DEVICE_HANDLE, ZEB_DEVICE_HANDLE_PTR ph) {
  fake().calls.push_back("OpenHsmSession");
  if (fake().open_rv != 0) return fake().open_rv;
  *ph = fake().next_session++;
  return 0;
}
uint32_t close_hsm(ZEB_DEVICE_HANDLE h) {
  fake().calls.push_back("CloseHsmSession " + std::to_string(h));
  return 0;
}
uint32_t hsm_info(ZEB_DEVICE_HANDLE, ZEB_DEVICE_HSM_INFO* p) {
  fake().calls.push_back("GetHsmInfo");
  if (fake().info_rv != 0) return fake().info_rv;
  *p = ZEB_DEVICE_HSM_INFO{};
  p->HsmType = 1;
  std::memcpy(p->HsmSn, "FAKESERIAL000001", 16);
  return 0;
}
uint32_t login_hsm(ZEB_DEVICE_HANDLE h, uint8_t*, uint32_t len) {
  fake().calls.push_back("LoginHsmByPin " + std::to_string(h) + " " + std::to_string(len));
  return fake().login_rv;
}
uint32_t set_object(ZEB_DEVICE_HANDLE h, ZEB_DEVICE_OBJECT_META* m, uint8_t* c, uint32_t cn, uint8_t* o,
                    uint32_t* on) {
  fake().calls.push_back("SetObject " + std::to_string(h) + " " + std::to_string(m->ObjType) + " " +
                         std::to_string(c[0]) + " " + std::to_string(cn) + " " + std::to_string(*on));
  o[0] = 0x77;
  *on = 5;
  return 0x123;
}

DA_Functions_t make_device() {
  DA_Functions_t t{};
#define FILL(slot) t.slot = Unsupported<decltype(t.slot)>::call
  FILL(D_GetVersion); FILL(D_Initialize); FILL(D_Finalize); FILL(D_GetHsmInfo); FILL(D_LoginHsmByPin);
  FILL(D_SetHsmLabel); FILL(D_SetHsmPin); FILL(D_GetHsmPolicy); FILL(D_SetHsmPolicy); FILL(D_CreateToken);
  FILL(D_CreateDefaultToken); FILL(D_CreateTokenByPin); FILL(D_DeleteToken); FILL(D_UnlockTokenNormalUser);
  FILL(D_ResetVrk); FILL(D_ResetVrkBySn); FILL(D_LogoutHsm); FILL(D_ListTokens); FILL(D_GetTokenStatus);
  FILL(D_GetTokenInfo); FILL(D_LoginTokenByPin); FILL(D_LoginTokenSuperUserByPin); FILL(D_SetTokenLabel);
  FILL(D_SetTokenPin); FILL(D_SetTokenSuperUserPin); FILL(D_GetTokenSn); FILL(D_GetTokenPolicy);
  FILL(D_SetTokenPolicy); FILL(D_BackupToken); FILL(D_RestoreToken); FILL(D_LogoutToken);
  FILL(D_LogoutTokenSuperUser); FILL(D_OpenHsmSession); FILL(D_CloseHsmSession); FILL(D_GetHsmSessInfo);
  FILL(D_OpenTokenSession); FILL(D_CloseTokenSession); FILL(D_GetTokenSessionInfo); FILL(D_SetTknKey2Sw);
  FILL(D_SetSwKey2Tkn); FILL(D_GenSwKey); FILL(D_SetObject); FILL(D_GetObjMetaPtr); FILL(D_GetObjCxtPtr);
  FILL(D_DivideObj); FILL(D_CheckObjMAC); FILL(D_UpdateObjectMeta);
#undef FILL
  t.func_type = SWD_FUNCTIONS;
  t.D_OpenHsmSession = open_hsm;
  t.D_CloseHsmSession = close_hsm;
  t.D_GetHsmInfo = hsm_info;
  t.D_LoginHsmByPin = login_hsm;
  t.D_SetObject = set_object;
  return t;
}
const DA_Functions_t kDevice = make_device();

STO_LAYOUT g_layout_seen;
uint32_t store_layout(PERSISTENCY_INPUT*, STO_LAYOUT* in, STO_LAYOUT*) {
  g_layout_seen = *in;
  return fake().store_rv;
}
uint32_t store_delete_list(PERSISTENCY_INPUT*) { return fake().store_rv; }
SA_Functions_t make_store() {
  SA_Functions_t t{};
#define FILL(slot) t.slot = Unsupported<decltype(t.slot)>::call
  FILL(S_GetStorageInfo); FILL(S_SetLayout); FILL(S_Initialize); FILL(S_CreateTokenStorage); FILL(S_CreateObject);
  FILL(S_UpdateObject); FILL(S_DeleteObject); FILL(S_DeleteObjList); FILL(S_DeleteObjDir); FILL(S_GetObjectSize);
  FILL(S_GetObject); FILL(S_SaveObjectList); FILL(S_LoadObjectList);
#undef FILL
  t.func_type = SWStore_FUNCTIONS;
  t.S_SetLayout = store_layout;
  t.S_DeleteObjList = store_delete_list;
  return t;
}
const SA_Functions_t kStore = make_store();

}  // namespace

// Start-up's table selection names the software store; while that store is
// not part of the build, this recording one stands in for it.
extern "C" __attribute__((weak)) const SA_Functions_t swstore_functions = make_store();

namespace {

class Adapters : public ::testing::Test {
 protected:
  void SetUp() override {
    fake() = Fake{};
    zeb::core::testing::start_with_tables(&kDevice, &kStore);
  }
};

}  // namespace

TEST(AdaptersUnselected, EveryCallFailsWith6) {
  zeb::core::testing::start_with_tables(nullptr, nullptr);
  ZEB_DEVICE_HSM_INFO info{};
  ZEB_DEVICE_HANDLE h = 0;
  EXPECT_EQ(DA_GetHsmInfo(1, &info), VRK_ERR_FAILED);
  EXPECT_EQ(DA_Initialize(nullptr, &h), VRK_ERR_FAILED);
  EXPECT_EQ(DA_Finalize(1), VRK_ERR_FAILED);
  EXPECT_EQ(SA_DeleteObjList(nullptr), VRK_ERR_FAILED);
  EXPECT_EQ(SA_Initialize(nullptr), VRK_ERR_FAILED);
  VRK_HANDLE s = 0;
  EXPECT_EQ(VRK_OpenHsmSession(1, &s), VRK_ERR_FAILED);  // no device: the open fails, nothing is kept
}

TEST_F(Adapters, ForwardsArgumentsAndResultsUnchanged) {
  ZEB_DEVICE_OBJECT_META meta{};
  meta.ObjType = 3;
  uint8_t ctx[1] = {42};
  uint8_t obj[8] = {};
  uint32_t objLen = 8;
  EXPECT_EQ(DA_SetObject(9, &meta, ctx, 1, obj, &objLen), 0x123u);
  EXPECT_EQ(fake().calls.back(), "SetObject 9 3 42 1 8");
  EXPECT_EQ(obj[0], 0x77);
  EXPECT_EQ(objLen, 5u);
  EXPECT_EQ(DA_GetTokenSn(1, obj), VRK_ERR_NOT_SUPPORTED);
}

TEST_F(Adapters, DefaultLayoutOfANewToken) {
  STO_LAYOUT out{};
  ASSERT_EQ(SA_SetLayout(nullptr, nullptr, &out), 0u);
  const uint8_t expected[7][4] = {{1, 1, 128, 0}, {2, 2, 64, 0}, {3, 1, 64, 0}, {4, 5, 64, 0},
                                  {5, 12, 32, 0}, {6, 16, 10, 0}, {7, 1, 128, 0}};
  STO_LAYOUT want{};
  std::memcpy(want.key_store_group, expected, sizeof expected);
  EXPECT_EQ(std::memcmp(&g_layout_seen, &want, sizeof want), 0);
  // A given layout is passed as it is.
  STO_LAYOUT mine{};
  mine.total_pages = 7;
  ASSERT_EQ(SA_SetLayout(nullptr, &mine, &out), 0u);
  EXPECT_EQ(g_layout_seen.total_pages, 7);
}

TEST_F(Adapters, StoreFailuresArePrintedAndReturned) {
  fake().store_rv = 0x501;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SA_DeleteObjList(nullptr), 0x501u);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.rfind("\033[1;31mfailed with err = 0x0501, [line ", 0), 0u) << out;
  EXPECT_NE(out.find(", src/Storage_Adapter/SA_Function, SA_DeleteObjList]\033[m\n"), std::string::npos) << out;
}

// A session whose device open succeeds but whose HSM information cannot be
// read is not left in the table, and its device session is closed.
TEST_F(Adapters, FailedHsmSessionOpenLeavesNothingBehind) {
  fake().info_rv = 0x30;
  VRK_HANDLE h = 0;
  EXPECT_EQ(VRK_OpenHsmSession(1, &h), VRK_ERR_FAILED);
  EXPECT_EQ(fake().calls, (std::vector<std::string>{"OpenHsmSession", "GetHsmInfo", "CloseHsmSession 100"}));
  fake().info_rv = 0;
  fake().open_rv = 0x30;
  EXPECT_EQ(VRK_OpenHsmSession(1, &h), VRK_ERR_FAILED);
  fake().open_rv = 0;
  std::vector<VRK_HANDLE> open;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(VRK_OpenHsmSession(1, &h), 0u) << i;
    open.push_back(h);
  }
  for (VRK_HANDLE s : open) EXPECT_EQ(VRK_CloseHsmSession(s), 0u);
}

TEST_F(Adapters, AdministratorLoginStates) {
  VRK_HANDLE h = 0;
  ASSERT_EQ(VRK_OpenHsmSession(1, &h), 0u);
  fake().login_rv = 0xA0;
  EXPECT_EQ(VRK_LoginHsmByPin(h, reinterpret_cast<uint8_t*>(const_cast<char*>("pin")), 3), 0xA0u);
  EXPECT_EQ(SwSess_GetStatus(h), VRK_SESS_IDLE);
  fake().login_rv = 0;
  EXPECT_EQ(VRK_LoginHsmByPin(h, reinterpret_cast<uint8_t*>(const_cast<char*>("pin")), 3), 0u);
  EXPECT_EQ(SwSess_GetStatus(h), 6u);
  fake().calls.clear();
  fake().login_rv = 0xA0;  // would fail, but is not asked again
  EXPECT_EQ(VRK_LoginHsmByPin(h, reinterpret_cast<uint8_t*>(const_cast<char*>("x")), 1), 0u);
  EXPECT_TRUE(fake().calls.empty());
  EXPECT_EQ(VRK_CloseHsmSession(h), 0u);
}

TEST(LoginChecks, Bits) {
  EXPECT_EQ(SwSess_checkHSMAdminLoggedIn(6), 0u);
  EXPECT_EQ(SwSess_checkHSMAdminLoggedIn(4), 0x101u);
  EXPECT_EQ(SwSess_checkTokenSuperUserLoggedIn(4), 0u);
  EXPECT_EQ(SwSess_checkTokenSuperUserLoggedIn(8), 0x101u);
  EXPECT_EQ(SwSess_checkTokenUserLoggedIn(8), 0u);
  EXPECT_EQ(SwSess_checkTokenUserLoggedIn(1), 0x101u);
}

TEST(CryptoTables, SelectionByType) {
  for (uint8_t t : {0, 2, 3, 4, 6, 9}) EXPECT_EQ(CA_SetFunctionList(t), VRK_ERR_ARGUMENTS) << int(t);
  ASSERT_EQ(CA_SetFunctionList(5), 0);
  EXPECT_EQ(CA_GetAESFunctionList()->func_type, FWC_FUNCTIONS);
  EXPECT_EQ(CA_GetKeyBlobFunctionList()->func_type, FWC_FUNCTIONS);
  EXPECT_EQ(CA_GetRSAFunctionList()->func_type, FWC_FUNCTIONS);
  EXPECT_EQ(CA_GetECCFunctionList()->func_type, SWC_FUNCTIONS);
  EXPECT_EQ(CA_GetKdfFunctionList()->func_type, SWC_FUNCTIONS);
  EXPECT_EQ(CA_SetFunctionList(2), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(CA_GetAESFunctionList()->func_type, FWC_FUNCTIONS);  // unchanged
  ASSERT_EQ(CA_SetFunctionList(1), 0);
  EXPECT_EQ(CA_GetAESFunctionList()->func_type, SWC_FUNCTIONS);

  CryptoAdapterCtx ctx{};
  uint8_t v[4] = {1, 2, 3, 4};
  uint32_t n = 4;
  ctx.Hsm_Type = 1;
  EXPECT_EQ(CA_ExportValue(&ctx, v, 4, v, &n), 0);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(n, 4u);
}
