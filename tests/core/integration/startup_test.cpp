// Start-up on the software HSM, table selection by HSM type, HSM listing.
#include <filesystem>

#include "core/integration/hsm_fixture.h"
#include "quarzel/port.h"
#include "zeb/login_config.h"

using namespace zt;

TEST_F(CoreHsm, StartsOnTheListedSoftwareHsm) {
  VRK_HSM_INFO info{};
  ASSERT_EQ(VRK_GetHsmInfo(hsm, &info), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.HsmSn), 16), kHsmSn);
  EXPECT_EQ(info.HsmType, VRK_HSM_TYPE_SOFTWARE);
  EXPECT_EQ(read_file("HSM.cfg"), std::string("HSMType=1\nHSMSn=") + kHsmSn + "\nHSMLabel=\nHSMPin=\nTKNPin=\n");
  EXPECT_EQ(DA_GetFunctionList()->func_type, SWD_FUNCTIONS);
  EXPECT_EQ(SA_GetFunctionList()->func_type, SWStore_FUNCTIONS);
  EXPECT_EQ(CA_GetAESFunctionList()->func_type, SWC_FUNCTIONS);
  EXPECT_EQ(CA_GetKdfFunctionList()->func_type, SWC_FUNCTIONS);
}

TEST_F(CoreHsm, SecondInitializeKeepsTheMutex) {
  VRK_HANDLE again = 0;
  ASSERT_EQ(VRK_Initialize(&again), 0u);
  hsm = again;
  uint32_t state = 9;
  ASSERT_EQ(VRK_GetMutexState(&state), 0u);
  EXPECT_EQ(state, VRK_MUTEX_UNLOCK);
}

size_t open_descriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Every start-up and shut-down pair gives back what it took, also a start-up
// over a live one: no descriptor is left open (on the test bed, its console
// connection) and no device session stays taken. LeakSanitizer checks the
// memory in the sanitizer build.
TEST_F(CoreHsm, StartUpAndShutDownPairsReleaseWhatTheyTook) {
  const size_t before = open_descriptors();
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    auto id = create_token();
    (void)hsm_session();
    (void)user_session(id);
    VRK_HANDLE again = 0;
    ASSERT_EQ(VRK_Initialize(&again), 0u);
    ASSERT_EQ(VRK_Finalize(again), 0u);
    ASSERT_EQ(VRK_Initialize(&hsm), 0u);
    EXPECT_EQ(open_descriptors(), before);
  }
  // Nothing of the earlier rounds holds a device session.
  VRK_HANDLE h = 0;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(VRK_OpenHsmSession(hsm, &h), 0u) << i;
}

// Types 5, 7 and 8 select the secure-element tables; with no secure element
// attached and no test bed serving, start-up fails with the access library's
// "no such device", nothing crashes. Any type without a back end fails with
// 6; 257 reads as 1.
constexpr uint32_t kNoSuchDevice = static_cast<uint32_t>(-60);  // SE_ERROR_NO_SUCH_DEVICE
TEST_F(CoreHsm, TableSelectionByType) {
  ASSERT_EQ(VRK_Finalize(hsm), 0u);
  started = false;
  struct Case {
    const char* type;
    uint32_t rv;
  } cases[] = {{"5", kNoSuchDevice}, {"7", kNoSuchDevice}, {"8", kNoSuchDevice}, {"0", 6}, {"2", 6}, {"3", 6},
               {"4", 6},    {"6", 6},    {"9", 6},    {"257", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    write_file("HSM.cfg", std::string("HSMType=") + c.type + "\nHSMSn=" + kHsmSn + "\n");
    VRK_HANDLE h = 0;
    EXPECT_EQ(VRK_Initialize(&h), c.rv);
    if (c.rv == 0) {
      EXPECT_EQ(DA_GetFunctionList()->func_type, SWD_FUNCTIONS);
      EXPECT_EQ(VRK_Finalize(h), 0u);
    }
  }
  // With no configuration at all: 80.
  std::filesystem::remove("HSM.cfg");
  VRK_HANDLE h = 0;
  EXPECT_EQ(VRK_Initialize(&h), VRK_ERR_CONFIG_OPEN);
}

// With no device opened, every secure-element call fails cleanly.
TEST_F(CoreHsm, SecureElementTablesFailEveryCall) {
  ASSERT_EQ(DA_SetFunctionList(FWD_FUNCTIONS), 0u);
  ZEB_DEVICE_HSM_INFO info{};
  testing::internal::CaptureStderr();
  EXPECT_EQ(DA_GetHsmInfo(1, &info), kNoSuchDevice);
  (void)testing::internal::GetCapturedStderr();
  EXPECT_EQ(DA_SetFunctionList(2), VRK_ERR_ARGUMENTS);  // unknown selector: selection unchanged
  EXPECT_EQ(DA_GetFunctionList()->func_type, FWD_FUNCTIONS);
  ASSERT_EQ(SA_SetFunctionList(FWStore_FUNCTIONS), 0u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(SA_DeleteObjList(nullptr), VRK_ERR_ARGUMENTS);
  const std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out.rfind("\033[1;31mfailed with err = 0x0007, [line ", 0), 0u) << out;
  EXPECT_NE(out.find(", src/Storage_Adapter/SA_Function, SA_DeleteObjList]\033[m\n"), std::string::npos) << out;
  ASSERT_EQ(DA_SetFunctionList(SWD_FUNCTIONS), 0u);
  ASSERT_EQ(SA_SetFunctionList(SWStore_FUNCTIONS), 0u);
}

TEST_F(CoreHsm, ListingSkipsSoftwareEntriesOfOtherTypes) {
  write_file("sw_hsm_list.txt", "HSMSn=AAAAAAAAAAAAAAAA\nHSMLabel=a\nHSMType=3\nHSMSn=BBBBBBBBBBBBBBBB\nHSMLabel=b\n"
                                "HSMType=1\n");
  uint8_t types[14] = {};
  uint8_t sns[14][16] = {};
  uint8_t labels[14][32] = {};
  uint32_t count = 0;
  ASSERT_EQ(VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count), 0u);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(types[0], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(sns[0]), 16), "BBBBBBBBBBBBBBBB");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(labels[0])), "b");
  EXPECT_EQ(VRK_ListHSMs(nullptr, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &count),
            VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), nullptr),
            VRK_ERR_ARGUMENTS);
}

// Null output pointers at the API boundary are refused, not written through.
TEST_F(CoreHsm, NullOutputPointersAre7) {
  VRK_HANDLE a = admin_session();
  auto id = create_token();
  EXPECT_EQ(VRK_Initialize(nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetHsmInfo(hsm, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_OpenHsmSession(hsm, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_OpenTokenSession(hsm, id.data(), nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_OpenTokenSession(hsm, nullptr, &a), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetHsmSessionInfo(a, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_ListTokens(hsm, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetTokenInfo(hsm, id.data(), nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetHsmPolicy(hsm, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetHsmPolicy(a, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_CreateTknByPin(a, u8(kUserPin), len(kUserPin), nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetMutexState(nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetVersion(nullptr), VRK_ERR_ARGUMENTS);
  VRK_HANDLE u = user_session(id);
  uint32_t n = 100;
  EXPECT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), nullptr, &n), VRK_ERR_ARGUMENTS);
  uint8_t buf[8];
  EXPECT_EQ(VRK_BackupToken(u, u8(kUserPin), len(kUserPin), buf, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetTokenSessionInfo(u, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GetTokenPolicy(u, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_DigestFinal(u, nullptr, &n), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_GenerateRandom(u, 8, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_CloseTokenSession(u), 0u);
  EXPECT_EQ(VRK_CloseHsmSession(a), 0u);
}

// Finalisation ends every core session and the mutex; a new start-up begins
// with a free session table.
TEST_F(CoreHsm, FinalizeEndsSessionsAndStartsClean) {
  auto id = create_token();
  for (int i = 0; i < 10; ++i) hsm_session();
  VRK_HANDLE u = user_session(id);
  ASSERT_EQ(VRK_Finalize(hsm), 0u);
  VRK_HANDLE h = 0;
  EXPECT_EQ(VRK_OpenHsmSession(hsm, &h), VRK_ERR_MUTEX_BAD);  // no mutex any more
  EXPECT_EQ(SwSess_GetCtx(u), nullptr);
  ASSERT_EQ(VRK_Initialize(&hsm), 0u);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(VRK_OpenHsmSession(hsm, &h), 0u) << i;
}

TEST_F(CoreHsm, KeyConversionsRefuseNullPointers) {
  auto id = create_token();
  VRK_HANDLE u = user_session(id);
  uint8_t k[32] = {};
  uint32_t n = 32;
  EXPECT_EQ(VRK_SetTknKey2Sw(u, k, 32, nullptr, &n), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetSwKey2Tkn(u, k, 32, k, nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetPlainKey2Sw(u, nullptr, 32, k, &n), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(VRK_SetSwKey2Plain(u, k, 32, nullptr, &n), VRK_ERR_ARGUMENTS);
}
