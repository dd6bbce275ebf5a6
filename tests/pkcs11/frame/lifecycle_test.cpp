// Start-up, shutdown, library information and the function list, through
// the loaded module.
#include <chrono>
#include <cstring>
#include <filesystem>

#include "support/held_lock.h"
#include "support/p11_module.h"

namespace zt {
namespace {

class Lifecycle : public P11Test {};

TEST_F(Lifecycle, FunctionListWorksBeforeInitialisation) {
  CK_FUNCTION_LIST* list = nullptr;
  ASSERT_EQ(P11Module::get().list2()->C_GetFunctionList(&list), CKR_OK);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->version.major, 3);
  EXPECT_EQ(list->version.minor, 1);
  EXPECT_EQ(P11Module::get().list2()->C_GetFunctionList(nullptr), CKR_ARGUMENTS_BAD);
  // Both ways to the module reach the same entry points.
  EXPECT_EQ(reinterpret_cast<void*>(list->C_Login), reinterpret_cast<void*>(p11->C_Login));
}

TEST_F(Lifecycle, InterfaceListHoldsTheOnePkcs11Interface) {
  CK_ULONG n = 0;
  ASSERT_EQ(p11->C_GetInterfaceList(nullptr, &n), CKR_OK);
  ASSERT_EQ(n, 1u);
  CK_INTERFACE iface[2] = {};
  n = 0;
  EXPECT_EQ(p11->C_GetInterfaceList(iface, &n), CKR_BUFFER_TOO_SMALL);
  EXPECT_EQ(n, 1u);
  n = 2;
  ASSERT_EQ(p11->C_GetInterfaceList(iface, &n), CKR_OK);
  EXPECT_EQ(n, 1u);
  EXPECT_STREQ(reinterpret_cast<const char*>(iface[0].pInterfaceName), "PKCS 11");
  EXPECT_EQ(iface[0].pFunctionList, p11);
  EXPECT_EQ(iface[0].flags, 0u);
  EXPECT_EQ(p11->C_GetInterfaceList(iface, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(Lifecycle, InterfaceByNameAndVersion) {
  struct Case {
    const char* name;
    CK_VERSION version;
    bool with_version;
    CK_FLAGS flags;
    CK_RV rv;
  } cases[] = {
      {nullptr, {}, false, 0, CKR_OK},
      {"PKCS 11", {}, false, 0, CKR_OK},
      {"PKCS 11", {3, 0}, true, 0, CKR_OK},
      {"PKCS 11", {3, 1}, true, 0, CKR_OK},
      {"PKCS 11", {2, 40}, true, 0, CKR_ARGUMENTS_BAD},
      {"PKCS 11", {3, 2}, true, 0, CKR_ARGUMENTS_BAD},
      {"Vendor", {}, false, 0, CKR_ARGUMENTS_BAD},
      {"PKCS 11", {}, false, CKF_INTERFACE_FORK_SAFE, CKR_ARGUMENTS_BAD},
  };
  for (const auto& c : cases) {
    CK_INTERFACE* iface = nullptr;
    CK_VERSION v = c.version;
    CK_UTF8CHAR_PTR name = c.name ? reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(c.name)) : nullptr;
    EXPECT_EQ(p11->C_GetInterface(name, c.with_version ? &v : nullptr, &iface, c.flags), c.rv) << (c.name ?: "null");
    if (c.rv == CKR_OK) {
      ASSERT_NE(iface, nullptr);
      EXPECT_EQ(iface->pFunctionList, p11);
    }
  }
  EXPECT_EQ(p11->C_GetInterface(nullptr, nullptr, nullptr, 0), CKR_ARGUMENTS_BAD);
}

TEST_F(Lifecycle, InitialiseTwiceAndFinalise) {
  add_token();
  initialize();
  EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
  // The first initialisation stands.
  CK_ULONG n = 0;
  EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 1u);
  int reserved = 0;
  EXPECT_EQ(p11->C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
  EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  EXPECT_EQ(p11->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
  // A new start-up begins afresh.
  initialize();
  EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  EXPECT_EQ(n, 1u);
}

TEST_F(Lifecycle, InitialiseArguments) {
  add_token();
  int dummy = 0;
  CK_C_INITIALIZE_ARGS args{};
  args.pReserved = &dummy;
  EXPECT_EQ(p11->C_Initialize(&args), CKR_ARGUMENTS_BAD);
  CK_INFO info{};
  EXPECT_EQ(p11->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
  // Locking callbacks are accepted and not needed.
  CK_C_INITIALIZE_ARGS with_locks{};
  with_locks.CreateMutex = [](CK_VOID_PTR_PTR) -> CK_RV { return CKR_OK; };
  with_locks.DestroyMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
  with_locks.LockMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
  with_locks.UnlockMutex = [](CK_VOID_PTR) -> CK_RV { return CKR_OK; };
  with_locks.flags = CKF_OS_LOCKING_OK;
  EXPECT_EQ(p11->C_Initialize(&with_locks), CKR_OK);
}

TEST_F(Lifecycle, LibraryInformation) {
  add_token();
  initialize();
  CK_INFO info{};
  ASSERT_EQ(p11->C_GetInfo(&info), CKR_OK);
  EXPECT_EQ(info.cryptokiVersion.major, 3);
  EXPECT_EQ(info.cryptokiVersion.minor, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info.manufacturerID), 32),
            "Valdoren Technologies" + std::string(11, ' '));
  EXPECT_EQ(info.flags, 0u);
  const std::string description(reinterpret_cast<char*>(info.libraryDescription), 32);
  EXPECT_EQ(description.rfind("vrk version: ", 0), 0u) << description;
  EXPECT_NE(description.find_first_not_of(' ', 13), std::string::npos);
  EXPECT_EQ(info.libraryVersion.major, 0);
  EXPECT_EQ(info.libraryVersion.minor, 6);
  EXPECT_EQ(p11->C_GetInfo(nullptr), CKR_ARGUMENTS_BAD);
}

// Every entry point that needs the module initialised refuses before it.
TEST_F(Lifecycle, GuardedEntryPointsBeforeInitialisation) {
  CK_ULONG n = 0;
  CK_SLOT_INFO slot{};
  CK_TOKEN_INFO token{};
  CK_SESSION_HANDLE h = 0;
  CK_SESSION_INFO si{};
  CK_MECHANISM_INFO mi{};
  CK_BYTE buf[8] = {};
  CK_UTF8CHAR pin[] = "12345678";
  CK_UTF8CHAR label[32] = {'x'};
  const CK_RV results[] = {
      p11->C_Finalize(nullptr),
      p11->C_GetInfo(nullptr),
      p11->C_GetSlotList(CK_TRUE, nullptr, &n),
      p11->C_GetSlotInfo(0, &slot),
      p11->C_GetTokenInfo(0, &token),
      p11->C_GetMechanismList(0, nullptr, &n),
      p11->C_GetMechanismInfo(0, CKM_AES_ECB, &mi),
      p11->C_InitToken(0, pin, 8, label),
      p11->C_InitPIN(1, pin, 8),
      p11->C_SetPIN(1, pin, 8, pin, 8),
      p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h),
      p11->C_CloseSession(1),
      p11->C_CloseAllSessions(0),
      p11->C_GetSessionInfo(1, &si),
      p11->C_GetOperationState(1, buf, &n),
      p11->C_SetOperationState(1, buf, 8, 0, 0),
      p11->C_Login(1, CKU_USER, pin, 8),
      p11->C_Logout(1),
      p11->C_GenerateRandom(1, buf, sizeof buf),
  };
  for (size_t i = 0; i < std::size(results); ++i) EXPECT_EQ(results[i], CKR_CRYPTOKI_NOT_INITIALIZED) << i;
}

TEST_F(Lifecycle, NoHsmListedFailsWithoutTouchingTheLoginConfiguration) {
  add_token();
  initialize();
  ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  const std::string before = read_file("HSM.cfg");
  ASSERT_NE(before.find("HSMSn=4711000000000042"), std::string::npos) << before;
  write_file("sw_hsm_list.txt", "");
  EXPECT_NE(p11->C_Initialize(nullptr), CKR_OK);
  EXPECT_EQ(read_file("HSM.cfg"), before);
  CK_INFO info{};
  EXPECT_EQ(p11->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
}

// A start-up that finds no HSM list, or a listed software HSM whose folder or
// record is gone, fails with one line on standard error naming what it
// looked for and the system's reason.
TEST_F(Lifecycle, StartUpWithoutItsFilesNamesTheMissingOne) {
  struct Case {
    const char* remove;
    CK_RV rv;
    const char* line;
  };
  const Case cases[] = {
      {"sw_hsm_list.txt", CKR_FUNCTION_FAILED,
       "[C_Initialize] no HSM found: cannot read ./sw_hsm_list.txt: No such file or directory\n"},
      {"SwHsm", CKR_DEVICE_ERROR,
       "[C_Initialize] the HSM cannot be started: cannot find ./SwHsm/: No such file or directory\n"},
      {"SwHsm/HsmAdmin.cfg", CKR_DEVICE_ERROR,
       "[C_Initialize] the HSM cannot be started: cannot find ./SwHsm/HsmAdmin.cfg: No such file or directory\n"},
  };
  add_token();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.remove);
    const std::filesystem::path kept = dir.path() + "-kept";
    std::filesystem::remove_all(kept);
    std::filesystem::copy(".", kept, std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(c.remove);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const CK_RV rv = p11->C_Initialize(nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(rv, c.rv);
    EXPECT_EQ(err.substr(0, err.find('\x1b')), c.line);
    // The next case starts from the whole HSM again.
    for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(e.path());
    std::filesystem::copy(kept, ".", std::filesystem::copy_options::recursive);
    std::filesystem::remove_all(kept);
  }
  initialize();
}

// A listed token whose file was removed by hand costs only that token: the
// others keep their slots (slot i stays the i-th listed token) and the
// missing file is named.
TEST_F(Lifecycle, StartUpServesEveryTokenItCanRead) {
  add_token();
  const std::string lost = add_token();
  add_token();
  std::filesystem::remove("./SwHsm/" + lost + "/TknUser.cfg");
  testing::internal::CaptureStderr();
  const CK_RV rv = p11->C_Initialize(nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(rv, CKR_OK);
  EXPECT_EQ(err, "[C_Initialize] token " + lost + " is not served: cannot find ./SwHsm/" + lost +
                     "/TknUser.cfg: No such file or directory\n");
  CK_SLOT_ID slots[4] = {};
  CK_ULONG n = 4;
  ASSERT_EQ(p11->C_GetSlotList(CK_TRUE, slots, &n), CKR_OK);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(slots[0], 0u);
  EXPECT_EQ(slots[1], 2u);
  CK_SLOT_INFO info{};
  EXPECT_EQ(p11->C_GetSlotInfo(1, &info), CKR_SLOT_ID_INVALID);
  const CK_SESSION_HANDLE s = open(2);
  EXPECT_EQ(login(s), CKR_OK);
}

// The token list held by another process: start-up waits for it once, then
// fails with the code it always had and a line naming the file.
TEST_F(Lifecycle, BusyTokenListIsNamedAfterOneWait) {
  add_token();
  HeldLock holder("./SwHsm/TknUser.list");
  ASSERT_TRUE(holder.ok());
  testing::internal::CaptureStderr();
  const auto t0 = std::chrono::steady_clock::now();
  const CK_RV rv = p11->C_Initialize(nullptr);
  const auto waited = std::chrono::steady_clock::now() - t0;
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rv, CKR_FUNCTION_FAILED);
  EXPECT_EQ(err.substr(0, err.find('\x1b')),
            "[C_Initialize] the tokens cannot be listed: ./SwHsm/TknUser.list is locked by another process (waited 2 "
            "s)\n");
  // One wait of the file layer's, not one per read of the list.
  EXPECT_LT(waited, std::chrono::seconds(4));  // the wait is 2 s
  holder.release();
  initialize();
}

// Sessions left open at C_Finalize are closed with it: their core sessions
// are free again for the next start-up, which can open all 20.
TEST_F(Lifecycle, FinaliseClosesOpenSessions) {
  add_token();
  for (int round = 0; round < 3; ++round) {
    initialize();
    for (int i = 0; i < 20; ++i) {
      CK_SESSION_HANDLE h = 0;
      ASSERT_EQ(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK) << round << " " << i;
    }
    EXPECT_EQ(token_info().ulSessionCount, 20u);
    ASSERT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  }
  initialize();
  EXPECT_EQ(token_info().ulSessionCount, 0u);
}

}  // namespace
}  // namespace zt
