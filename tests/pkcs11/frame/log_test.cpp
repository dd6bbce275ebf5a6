// The module's log: levels, standard-error and file lines, the red line of
// a failed core call, and a log file that cannot be written. Standard output
// is the application's: nothing is ever written to it.
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>

#include "support/p11_module.h"

namespace zt {
namespace {

std::string today_log() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
  return std::string("ZEBP11-") + date + ".log";
}

bool any_log_file() {
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    if (e.path().filename().string().rfind("ZEBP11-", 0) == 0) return true;
  }
  return false;
}

class Log : public P11Test {
 protected:
  void SetUp() override {
    P11Test::SetUp();
    add_token();
  }
  void TearDown() override {
    p11_set_log_level(5);
    P11Test::TearDown();
  }
  // Runs `f` with both standard streams captured; returns what it wrote on
  // standard error, and expects nothing on standard output.
  template <class F>
  std::string captured(F&& f) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    f();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    return err;
  }
};

TEST_F(Log, QuietByDefault) {
  const std::string out = captured([&] {
    initialize();
    CK_SESSION_INFO info{};
    EXPECT_EQ(p11->C_GetSessionInfo(42, &info), CKR_SESSION_HANDLE_INVALID);
    CK_ULONG n = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
  });
  EXPECT_EQ(out, "");
  EXPECT_FALSE(any_log_file());
}

// A failing traced call: a trace line and an error line with the same source
// line, on standard error and in the dated file.
TEST_F(Log, TracedFailureAtLevelZero) {
  initialize();
  p11_set_log_level(0);
  const std::string out = captured([&] {
    CK_SESSION_INFO info{};
    EXPECT_EQ(p11->C_GetSessionInfo(42, &info), CKR_SESSION_HANDLE_INVALID);
  });
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(out, m,
                        std::regex(R"(\x1b\[1;37m T \[entry_sessions\.cpp, C_GetSessionInfo, Line (\d+)\]\x1b\[m\n)"
                                   R"(\x1b\[1;31m E \[entry_sessions\.cpp, C_GetSessionInfo, Line (\d+)\] )"
                                   R"(failed with err = 0x000000b3\(CKR_SESSION_HANDLE_INVALID\)\x1b\[m\n)")))
      << out;
  EXPECT_EQ(m[1], m[2]);
  const std::string line = m[1];
  const std::string file = read_file(today_log());
  EXPECT_TRUE(std::regex_search(
      file, std::regex(R"(\[entry_sessions\.cpp, C_GetSessionInfo, Line )" + line +
                       R"(\] T \n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[entry_sessions\.cpp, C_GetSessionInfo, Line )" +
                       line + R"(\] E failed with err = 0x000000b3\(CKR_SESSION_HANDLE_INVALID\)\n)")))
      << file;
}

TEST_F(Log, LevelsBelowTheSettingAreDropped) {
  p11_set_log_level(3);
  const std::string out = captured([&] {
    initialize();  // writes an information line ("got 1 token!") and a dump
    EXPECT_EQ(p11->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);  // a warning
    CK_SLOT_INFO info{};
    EXPECT_EQ(p11->C_GetSlotInfo(7, &info), CKR_SLOT_ID_INVALID);  // a trace and an error
  });
  EXPECT_NE(out.find("\033[1;33m W [entry_module.cpp, C_Initialize, Line "), std::string::npos) << out;
  EXPECT_NE(out.find("ZEBP11 already initialized!"), std::string::npos);
  EXPECT_NE(out.find("failed with err = 0x00000003(CKR_SLOT_ID_INVALID)"), std::string::npos);
  EXPECT_EQ(out.find("got 1 token!"), std::string::npos);
  EXPECT_EQ(out.find("tkn_list"), std::string::npos);
  EXPECT_EQ(out.find(" T ["), std::string::npos);
  const std::string file = read_file(today_log());
  EXPECT_NE(file.find("] W ZEBP11 already initialized!\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("got 1 token!"), std::string::npos);
}

// Debug level: the message and its arguments reach both destinations whole,
// and a buffer dump has its rows in both.
TEST_F(Log, DebugLinesAndDumps) {
  p11_set_log_level(1);
  const std::string out = captured([&] {
    initialize();
    CK_ULONG n = 0;
    EXPECT_EQ(p11->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
    EXPECT_EQ(p11->C_GetSlotList(CK_FALSE, nullptr, &n), CKR_OK);
  });
  EXPECT_NE(out.find(" I [module.cpp, fill_slots, Line "), std::string::npos) << out;
  EXPECT_NE(out.find("] got 1 token!\033[m\n"), std::string::npos);
  EXPECT_NE(out.find("] got 1 slots with token\033[m\n"), std::string::npos);
  EXPECT_NE(out.find("] got 1 slots with/without token\033[m\n"), std::string::npos);
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(D \[module\.cpp, fill_slots, Line \d+\] tkn_list len = 260\x1b\[m\n)"
                                                R"(\n\t00000000: ([0-9A-F]{2} ){16})")))
      << out;
  EXPECT_NE(out.find("\n\t00000100: "), std::string::npos);
  const std::string file = read_file(today_log());
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(\] D got 1 slots with token\n)"))) << file;
  EXPECT_TRUE(std::regex_search(file, std::regex(R"(\] D got 1 slots with/without token\n)")));
  EXPECT_TRUE(std::regex_search(
      file,
      std::regex(R"(\[module\.cpp, fill_slots, Line \d+\] D tkn_list len = 260\n\t00000000: ([0-9A-F]{2} ){16})")));
}

// A failed core call prints its red line at any level and writes no file.
TEST_F(Log, RedLineWhateverTheLevel) {
  initialize();
  for (int i = 0; i < 20; ++i) open();
  const std::string out = captured([&] {
    CK_SESSION_HANDLE h = 0;
    EXPECT_NE(p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK);
  });
  EXPECT_TRUE(std::regex_match(out, std::regex(R"(\x1b\[1;31mfailed with err = 0x0006, \[line \d+, /.*sessions\.cpp, )"
                                               R"(P11_OpenSession\]\x1b\[m\n)")))
      << out;
  EXPECT_FALSE(any_log_file());
}

// A log file that cannot be opened loses the file line and nothing else.
TEST_F(Log, UnwritableLogFile) {
  initialize();
  std::filesystem::create_directory(today_log());  // fopen of a directory fails
  p11_set_log_level(0);
  const std::string out = captured([&] {
    CK_SLOT_INFO info{};
    EXPECT_EQ(p11->C_GetSlotInfo(7, &info), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(p11->C_GetSlotInfo(0, &info), CKR_OK);
  });
  EXPECT_NE(out.find("failed with err = 0x00000003(CKR_SLOT_ID_INVALID)"), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::is_directory(today_log()));
}

}  // namespace
}  // namespace zt
