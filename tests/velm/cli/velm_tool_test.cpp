// VELM_Tool as an administrator runs it: the built program in a fresh working
// directory holding a software HSM, its output and exit status checked, and
// its effects seen through the core service.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli.h"
#include "velm_fixture.h"

namespace zt {
namespace {

TEST(VelmToolBare, NoArgumentsPrintsUsageAndTouchesNothing) {
  WorkDir dir;
  const ToolRun r = run_tool({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kBanner) + kUsage);
  EXPECT_FALSE(std::filesystem::exists("HSM.cfg"));
}

// No HSM found is a failure of every command, which names the HSM list it
// looked for, and the HSM the login configuration names is kept (no record of an empty serial number).
TEST(VelmToolBare, NoHsmFoundFailsAndKeepsTheLoginConfiguration) {
  WorkDir dir;
  const std::string configured = "HSMType=1\nHSMSn=HSM0000000000042\nHSMLabel=\nHSMPin=\nTKNPin=\n";
  write_file("HSM.cfg", configured);
  for (const std::vector<std::string>& l : std::vector<std::vector<std::string>>{
           {"list", "hsm"}, {"get", "hsm", "info"}, {"list", "token"}, {"setsn", "ABC"}, {"frobnicate"}}) {
    const ToolRun r = run_tool(l);
    EXPECT_EQ(r.status, 0x32) << l[0];  // CKR_DEVICE_REMOVED
    EXPECT_EQ(r.out, std::string(kBanner) + "Device not found!\n") << l[0];
    // The code, and why no software HSM was found.
    EXPECT_EQ(r.err,
              "VELM_Tool: failed with err = 0x00000032 (cannot read ./sw_hsm_list.txt: No such file or directory)\n");
    EXPECT_EQ(read_file("HSM.cfg"), configured) << l[0];
  }
}

TEST_F(VelmTool, UnmatchedCommandLinesPrintUsageAndExitTwo) {
  const std::vector<std::vector<std::string>> lines = {
      {"lis", "hsm"},                                          // word cut short
      {"frobnicate"},                                          // no such word
      {"list"},                                                // count too small
      {"change", "token_nu", "pin", "Tkn01", "a", "b", "c"},  // count 8
      {"get", "token", "Tkn01"},                               // "info" missing
  };
  for (const auto& l : lines) {
    const ToolRun r = run_tool(l);
    EXPECT_EQ(r.status, 2) << l[0];
    EXPECT_EQ(r.out, std::string(kBanner) + kUsage) << l[0];
  }
  // Every run with an argument still records the first listed HSM first.
  EXPECT_NE(read_file("HSM.cfg").find(std::string("HSMSn=") + kSn), std::string::npos);
}

TEST_F(VelmTool, WordsMatchAsPrefixes) {
  const ToolRun r = run_tool({"listing", "hsmXYZ"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("    0      |    SOFTWARE        | HSM0000000000042\n"), std::string::npos) << r.out;
}

TEST_F(VelmTool, ListHsmTable) {
  const ToolRun r = run_tool({"list", "hsm"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kBanner) +
                       "---------------------------------------------------\n"
                       "   Item    |    HSM TYPE        |      HSM SN        \n"
                       "    0      |    SOFTWARE        | HSM0000000000042\n"
                       "----------------------------------------------------\n");
}

TEST_F(VelmTool, SoftwareHsmIsRecordedWithItsOwnType) {
  ASSERT_EQ(run_tool({"list", "hsm"}).status, 0);
  const std::string cfg = read_file("HSM.cfg");
  EXPECT_NE(cfg.find("HSMType=1\n"), std::string::npos) << cfg;
}

TEST_F(VelmTool, HsmInfoBlockMatchesTheCore) {
  const std::string id = create_token();
  const ToolRun r = run_tool({"get", "hsm", "info"});
  EXPECT_EQ(r.status, 0);
  VRK_HANDLE hsm = 0;
  ASSERT_EQ(VRK_Initialize(&hsm), 0u);
  VRK_HSM_INFO info{};
  ASSERT_EQ(VRK_GetHsmInfo(hsm, &info), 0u);
  ASSERT_EQ(VRK_Finalize(hsm), 0u);
  EXPECT_EQ(r.out, std::string(kBanner) + "----------------- HSM INFO -------------------------\n" +
                       "HSM SN: HSM0000000000042\nHSM Type: SOFTWARE\nHSM Status: HSM_INITED\n" +
                       "HSM Token Count: " + std::to_string(info.u32TokenCount) +
                       "\nHSM Max Token Count: " + std::to_string(info.u32MaxTokenCount) +
                       "\n----------------------------------------------------\n");
  EXPECT_EQ(info.u32TokenCount, 1u);
}

TEST_F(VelmTool, CreateListAndReadToken) {
  const std::string id = create_token();
  ASSERT_FALSE(id.empty());
  ASSERT_LE(id.size(), 16u);

  VRK_HANDLE hsm = 0;
  ASSERT_EQ(VRK_Initialize(&hsm), 0u);
  VRK_TOKEN_INFO info{};
  uint8_t tid[16] = {};
  std::memcpy(tid, id.data(), id.size());
  ASSERT_EQ(VRK_GetTokenInfo(hsm, tid, &info), 0u);
  ASSERT_EQ(VRK_Finalize(hsm), 0u);
  const std::string sn(reinterpret_cast<const char*>(info.TknSn), 16);
  const std::string label(reinterpret_cast<const char*>(info.TknLabel),
                          strnlen(reinterpret_cast<const char*>(info.TknLabel), 32));

  const ToolRun list = run_tool({"list", "token"});
  EXPECT_EQ(list.status, 0);
  const std::string dashes(98, '-');
  char row[200];
  std::snprintf(row, sizeof row, "    0      |  %-16s |  %-33s |  %s\n", id.c_str(), label.c_str(), sn.c_str());
  EXPECT_EQ(list.out, std::string(kBanner) + dashes + "\n" +
                          "   Item    |     Token ID      |          Token Label               |       Token SN        \n" +
                          row + dashes + "\n");

  const ToolRun got = run_tool({"get", "token", "info", id});
  EXPECT_EQ(got.status, 0);
  const std::string d52(52, '-');
  EXPECT_EQ(got.out, std::string(kBanner) + d52 + "\nToken ID: " + id + "\nToken Label: " + label +
                         "\nToken SN: " + sn + "\n" + d52 + "\n");
}

TEST_F(VelmTool, PinChangesTakeEffectInTheCore) {
  const std::string id = create_token();
  EXPECT_EQ(core_login(id, kUserPin, false), 0u);

  ToolRun r = run_tool({"change", "token_nu", "pin", id, kUserPin, "new-user-pin-1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Token normal user pin changed.\n"), std::string::npos);
  EXPECT_EQ(core_login(id, "new-user-pin-1", false), 0u);
  EXPECT_NE(core_login(id, kUserPin, false), 0u);

  r = run_tool({"change", "token_su", "pin", id, kSuPin, "new-super-pin-1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Token super user pin changed.\n"), std::string::npos);
  EXPECT_EQ(core_login(id, "new-super-pin-1", true), 0u);
}

TEST_F(VelmTool, NewPinLengthRule) {
  const std::string id = create_token();
  const std::string refusal = "Token normal user pin MUST be within 8 - 63! user pin remain unchaged.\n";
  // The tool takes 8 to 63 bytes; the software HSM itself holds at most 32.
  enum Outcome { kToolRefuses, kChanged, kCoreRefuses };
  struct Case {
    size_t len;
    Outcome outcome;
  } cases[] = {{7, kToolRefuses}, {8, kChanged}, {32, kChanged}, {63, kCoreRefuses}, {64, kToolRefuses}};
  std::string current = kUserPin;
  for (const auto& c : cases) {
    const std::string pin(c.len, static_cast<char>('a' + c.len % 26));
    const ToolRun r = run_tool({"change", "token_nu", "pin", id, current, pin});
    EXPECT_EQ(r.out.find(refusal) != std::string::npos, c.outcome == kToolRefuses) << c.len;
    if (c.outcome == kChanged) {
      EXPECT_EQ(r.status, 0) << c.len << r.err;
      current = pin;
    } else {
      EXPECT_EQ(r.status, 0xA2) << c.len;  // CKR_PIN_LEN_RANGE
      EXPECT_NE(r.err.find("CKR_PIN_LEN_RANGE"), std::string::npos);
    }
  }
  EXPECT_EQ(core_login(id, current.c_str(), false), 0u);
}

TEST_F(VelmTool, WrongPinFailsWithItsCodeAndAStandardErrorLine) {
  const std::string id = create_token();
  const ToolRun r = run_tool({"change", "token_nu", "pin", id, "not-the-pin", "new-user-pin-1"});
  EXPECT_EQ(r.status, 0xA1);
  EXPECT_EQ(r.out, kBanner);  // standard output as the tool always gives it
  EXPECT_NE(r.err.find("0x000000a1"), std::string::npos) << r.err;
  EXPECT_EQ(core_login(id, kUserPin, false), 0u);
}

TEST_F(VelmTool, UnlockAfterLockingByWrongPins) {
  const std::string id = create_token();
  bool locked = false;
  for (int i = 0; i < 20 && !locked; ++i) {
    const uint32_t rv = core_login(id, "wrong-pin-0000", false);
    ASSERT_NE(rv, 0u);
    VRK_HANDLE hsm = 0;
    ASSERT_EQ(VRK_Initialize(&hsm), 0u);
    VRK_TOKEN_INFO info{};
    uint8_t tid[16] = {};
    std::memcpy(tid, id.data(), id.size());
    ASSERT_EQ(VRK_GetTokenInfo(hsm, tid, &info), 0u);
    ASSERT_EQ(VRK_Finalize(hsm), 0u);
    locked = info.TknStatus == 4;  // normal user locked
  }
  ASSERT_TRUE(locked);
  EXPECT_NE(core_login(id, kUserPin, false), 0u);

  ToolRun r = run_tool({"unlock", "token_nu", id, "wrong-super-pin"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, kBanner);
  r = run_tool({"unlock", "token_nu", id, kSuPin});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Token normal user unlocked.\n"), std::string::npos);
  EXPECT_EQ(core_login(id, kUserPin, false), 0u);
}

// A file the user may not read, or that is no file, is named on the error
// line with the system's reason, not as a bare code ("operation cancelled").
TEST_F(VelmTool, UnreadableFileIsNamedWithTheSystemsReason) {
  ASSERT_EQ(run_tool({"list", "hsm"}).status, 0);  // HSM.cfg written, owner-only
  // Another user: root hands the run to "nobody"; anyone else takes the
  // read right from the file.
  const bool root = geteuid() == 0;
  ASSERT_EQ(chmod(".", 0755), 0);
  if (!root) {
    ASSERT_EQ(chmod("HSM.cfg", 0), 0);
  }
  ToolRun r = run_tool({"list", "hsm"}, root ? 65534 : -1);
  if (r.status == 126 || r.status == 127) {
    GTEST_SKIP() << "the tool cannot run as another user here";
  }
  EXPECT_EQ(r.status, 0x50) << r.out << r.err;
  EXPECT_EQ(r.err, std::string("VELM_Tool: failed with err = 0x00000050 (cannot read ./HSM.cfg: ") +
                       std::strerror(EACCES) + ")\n");
  ASSERT_EQ(chmod("HSM.cfg", 0600), 0);

  std::filesystem::remove("HSM.cfg");
  std::filesystem::create_directory("HSM.cfg");
  r = run_tool({"get", "hsm", "info"});
  EXPECT_EQ(r.status, 0x50) << r.out << r.err;
  EXPECT_EQ(r.err, std::string("VELM_Tool: failed with err = 0x00000050 (cannot read ./HSM.cfg: ") +
                       std::strerror(EISDIR) + ")\n");
  EXPECT_TRUE(std::filesystem::is_directory("HSM.cfg"));
}

// A listed software HSM whose folder, or record in it, is gone: the tool
// names what is missing, not a serial number mismatch.
TEST_F(VelmTool, ListedHsmWithoutItsFolderNamesIt) {
  create_token();
  const struct {
    const char* remove;
    const char* err;
  } cases[] = {
      {"SwHsm/HsmAdmin.cfg",
       "VELM_Tool: failed with err = 0x00000501 (cannot find ./SwHsm/HsmAdmin.cfg: No such file or directory)\n"},
      {"SwHsm", "VELM_Tool: failed with err = 0x00000501 (cannot find ./SwHsm/: No such file or directory)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remove);
    std::filesystem::remove_all(c.remove);
    const ToolRun r = run_tool({"list", "token"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(VelmTool, OverlongTokenIdIsRefused) {
  create_token();
  const std::string id17(17, 'T');
  const std::vector<std::vector<std::string>> lines = {
      {"get", "token", "info", id17},
      {"delete", "token", kAdminPin, id17},
      {"change", "token_nu", "pin", id17, kUserPin, "new-user-pin-1"},
      {"unlock", "token_nu", id17, kSuPin},
  };
  for (const auto& l : lines) {
    const ToolRun r = run_tool(l);
    EXPECT_EQ(r.status, 7) << l[0];  // CKR_ARGUMENTS_BAD
    // The copy's diagnostic is on standard error: standard output keeps only
    // the banner.
    EXPECT_NE(r.err.find("tarvin: abort memcpy due to buffer overflow!"), std::string::npos) << l[0];
    EXPECT_EQ(r.out, kBanner) << l[0];
    EXPECT_NE(r.err.find("CKR_ARGUMENTS_BAD"), std::string::npos) << l[0];
  }
}

// Every command that takes a token ID names a token the HSM does not list as
// not present, while another token is there, and changes nothing.
TEST_F(VelmTool, UnknownTokenIsNotPresent) {
  const std::string id = create_token();
  const std::vector<std::vector<std::string>> lines = {
      {"get", "token", "info", "NoSuchTkn"},
      {"delete", "token", kAdminPin, "NoSuchTkn"},
      {"change", "token_nu", "pin", "NoSuchTkn", kUserPin, "new-user-pin-1"},
      {"change", "token_su", "pin", "NoSuchTkn", kSuPin, "new-super-pin-1"},
      {"unlock", "token_nu", "NoSuchTkn", kSuPin},
  };
  for (const auto& l : lines) {
    const ToolRun r = run_tool(l);
    EXPECT_EQ(r.status, 0xE0) << l[0] << " " << l[1] << ": " << r.err;
    EXPECT_EQ(r.err, "VELM_Tool: failed with err = 0x000000e0 (CKR_TOKEN_NOT_PRESENT: no such token)\n")
        << l[0] << " " << l[1];
    EXPECT_EQ(r.out, kBanner) << l[0] << " " << l[1];
  }
  EXPECT_EQ(core_login(id, kUserPin, false), 0u);
  EXPECT_EQ(core_login(id, kSuPin, true), 0u);
}

TEST_F(VelmTool, DeleteToken) {
  const std::string id = create_token();
  ToolRun r = run_tool({"delete", "token", "wrong-admin-pin", id});
  EXPECT_NE(r.status, 0);
  // A token that does not exist is refused, while another one is present.
  r = run_tool({"delete", "token", kAdminPin, "NoSuchTkn"});
  EXPECT_EQ(r.status, 0xE0) << r.out;
  EXPECT_NE(r.err.find("CKR_TOKEN_NOT_PRESENT"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Token deleted."), std::string::npos) << r.out;
  EXPECT_NE(run_tool({"list", "token"}).out.find(id), std::string::npos);
  r = run_tool({"delete", "token", kAdminPin, id});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Token deleted.\n"), std::string::npos);
  r = run_tool({"get", "token", "info", id});
  EXPECT_NE(r.status, 0);
}

TEST_F(VelmTool, ResetLeavesTheSerialNumberAsPins) {
  const std::string id = create_token();
  const ToolRun r = run_tool({"reset"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Reset success!\n"), std::string::npos);
  // The default token: its security officer PIN is the HSM serial number,
  // its user PIN its own serial number (as "get token info" shows it).
  const ToolRun info = run_tool({"get", "token", "info", id});
  ASSERT_EQ(info.status, 0) << info.err;
  const auto at = info.out.find("Token SN: ");
  ASSERT_NE(at, std::string::npos) << info.out;
  const std::string token_sn = info.out.substr(at + 10, 16);
  EXPECT_EQ(core_login(id, token_sn.c_str(), false), 0u);
  EXPECT_EQ(core_login(id, kSn, true), 0u);
  EXPECT_NE(core_login(id, kSn, false), 0u);
  // After a reset the administrator PIN is the HSM serial number.
  const ToolRun del = run_tool({"create", "token", kSn, kSuPin, kUserPin});
  EXPECT_EQ(del.status, 0) << del.out << del.err;
}

TEST_F(VelmTool, SetsnPadsShortSerialNumbers) {
  const ToolRun r = run_tool({"setsn", "ABC"});
  EXPECT_EQ(r.status, 0);
  const std::string cfg = read_file("HSM.cfg");
  EXPECT_NE(cfg.find("HSMSn=ABC\n"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("HSMType=5\n"), std::string::npos) << cfg;  // not a listed HSM
  ASSERT_EQ(run_tool({"setsn", kSn}).status, 0);
  EXPECT_NE(read_file("HSM.cfg").find("HSMType=1\n"), std::string::npos);
}

TEST(VelmNames, TypeAndStatusTables) {
  struct {
    uint8_t v;
    const char* type;
    const char* status;
  } cases[] = {{0, "UNKNOWN STRING!", "HSM_FACTORY"}, {1, "SOFTWARE", "HSM_UNINIT"},
               {3, "UNKNOWN STRING!", "HSM_INITED"},  {5, "QUILLSTAR", "UNKNOWN STRING!"},
               {7, "TALON", "UNKNOWN STRING!"},       {8, "TESTBED", "UNKNOWN STRING!"},
               {9, "UNKNOWN STRING!", "UNKNOWN STRING!"}};
  for (const auto& c : cases) {
    EXPECT_STREQ(velm::HsmTypeToString(c.v), c.type);
    EXPECT_STREQ(velm::HsmStatusToString(c.v), c.status);
  }
  uint8_t t = 0xEE;
  EXPECT_EQ(velm::get_hsm_type_from_str("TESTBED", &t), 0u);
  EXPECT_EQ(t, 8);
  t = 0xEE;
  EXPECT_EQ(velm::get_hsm_type_from_str("testbed", &t), 84u);
  EXPECT_EQ(t, 0xEE);
  EXPECT_EQ(velm::get_hsm_type_from_str(nullptr, &t), 0x500u);
}

TEST(VelmExitStatus, AnyFailureExitsNonZero) {
  struct {
    uint32_t rv;
    int status;
  } cases[] = {{0, 0}, {0x101, 1}, {0xB3, 179}, {0x150, 0x50}, {0x500, 1}, {0x6A00, 1}, {0xFFFFFFEA, 0xEA}};
  for (const auto& c : cases) EXPECT_EQ(velm::exit_status(c.rv), c.status) << std::hex << c.rv;
}

}  // namespace
}  // namespace zt
