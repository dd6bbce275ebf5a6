// Login configuration files, in a fresh working directory per test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "oxlu/file.h"
#include "oxlu/testing.h"
#include "support/workdir.h"
#include "zeb/login_config.h"
#include "zeb/vrk.h"

namespace {

class LoginConfig : public ::testing::Test {
 protected:
  zt::WorkDir dir;
};

std::string field(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

uint8_t kSn[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

}  // namespace

TEST_F(LoginConfig, WriterGoldenBytesAndOwnerOnlyMode) {
  ASSERT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), 0u);
  EXPECT_EQ(zt::read_file("HSM.cfg"), "HSMType=1\nHSMSn=0123456789ABCDEF\nHSMLabel=\nHSMPin=\nTKNPin=\n");
  EXPECT_EQ(zt::file_mode("HSM.cfg"), 0600u);
}

TEST_F(LoginConfig, RecordingAnHsmKeepsLabelAndStoredPins) {
  zt::write_file("HSM.cfg", "HSMType=5\nHSMSn=OLD\nHSMLabel=lab\nHSMPin=1234\nTKNPin=9876\n");
  uint8_t sn[16] = {'S', 'N', '2'};
  ASSERT_EQ(VRK_SetHsmSnToLoginConfig(sn, 1), 0u);
  EXPECT_EQ(zt::read_file("HSM.cfg"), "HSMType=1\nHSMSn=SN2\nHSMLabel=lab\nHSMPin=1234\nTKNPin=9876\n");
}

TEST_F(LoginConfig, ReaderFields) {
  struct Case {
    const char* text;
    uint8_t type;
    std::string sn;
  } cases[] = {
      {"HSMType=5\n", 5, std::string(16, '\0')},
      {"HSMType=257\n", 1, std::string(16, '\0')},
      {"HSMType=abc\n", 0, std::string(16, '\0')},
      {"HSMSn=ABC\n", 0, std::string("ABC") + std::string(13, '\0')},
      {"HSMSn=0123456789ABCDEFGHIJ\n", 0, "0123456789ABCDEF"},
      {"HSMSn=first\nHSMSn=second\n", 0, std::string("second") + std::string(10, '\0')},
      {"HSMLabel=HSMSn=evil\n", 0, std::string(16, '\0')},  // keys only at a line's start
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    zt::write_file("HSM.cfg", c.text);
    HSM_LOGIN_CONFIG cfg;
    std::memset(&cfg, 0xAB, sizeof cfg);
    ASSERT_EQ(SwHsm_LoadConfig(&cfg), 0u);
    EXPECT_EQ(cfg.HsmType, c.type);
    EXPECT_EQ(field(cfg.Sn, 16), c.sn);
    EXPECT_EQ(cfg.Res[0], 0);
  }
}

TEST_F(LoginConfig, SixteenCharacterSerialRoundTrips) {
  zt::write_file("HSM.cfg", "HSMType=1\nHSMSn=0123456789ABCDEF\nHSMLabel=L\nHSMPin=\nTKNPin=\n");
  HSM_LOGIN_CONFIG cfg{};
  ASSERT_EQ(SwHsm_LoadConfig(&cfg), 0u);
  ASSERT_EQ(SwHsm_UpdateVRKLoginConfig(&cfg), 0u);
  EXPECT_EQ(zt::read_file("HSM.cfg"), "HSMType=1\nHSMSn=0123456789ABCDEF\nHSMLabel=L\nHSMPin=\nTKNPin=\n");
}

TEST_F(LoginConfig, MissingFileIs80) {
  HSM_LOGIN_CONFIG cfg{};
  EXPECT_EQ(SwHsm_LoadConfig(&cfg), VRK_ERR_CONFIG_OPEN);
}

TEST_F(LoginConfig, DirectoryFromFilePathConfig) {
  zt::write_file("VRK_Filepath.cfg", "# login\nHsm_login_config_path=./cfg/\n");
  ASSERT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), 0u);  // creates ./cfg/
  EXPECT_NE(zt::read_file("cfg/HSM.cfg").find("HSMSn=0123456789ABCDEF\n"), std::string::npos);
  HSM_LOGIN_CONFIG cfg{};
  ASSERT_EQ(SwHsm_LoadConfig(&cfg), 0u);
  EXPECT_EQ(cfg.HsmType, 1);
}

TEST_F(LoginConfig, FilePathConfigWithoutKey) {
  zt::write_file("VRK_Filepath.cfg", "nothing here\n");
  zt::write_file("HSM.cfg", "HSMType=8\n");
  HSM_LOGIN_CONFIG cfg{};
  ASSERT_EQ(SwHsm_LoadConfig(&cfg), 0u);  // the working directory
  EXPECT_EQ(cfg.HsmType, 8);
  EXPECT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), VRK_ERR_FAILED);  // an empty directory name cannot be made
}

// A directory value that would fill its 128-byte field (or a path of
// 128 characters with "HSM.cfg") is refused instead of read past.
TEST_F(LoginConfig, OverlongPathsAre336) {
  HSM_LOGIN_CONFIG cfg{};
  VRK_LOGIN_CONFIG_PATH dir{};
  zt::write_file("VRK_Filepath.cfg", "Hsm_login_config_path=" + std::string(128, 'a') + "\n");
  EXPECT_EQ(SwHsm_LoadHsmLoginFilePathConfig(&dir), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(SwHsm_LoadConfig(&cfg), VRK_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), VRK_ERR_BUFFER_TOO_SMALL);

  zt::write_file("VRK_Filepath.cfg", "Hsm_login_config_path=" + std::string(121, 'a') + "\n");
  EXPECT_EQ(SwHsm_LoadHsmLoginFilePathConfig(&dir), 0u);
  EXPECT_EQ(SwHsm_LoadConfig(&cfg), VRK_ERR_BUFFER_TOO_SMALL);  // 121 + 7 characters

  const std::string ok = "./" + std::string(118, 'b') + "/";  // 121 - 1 + 7 = 127
  zt::write_file("VRK_Filepath.cfg", "Hsm_login_config_path=" + ok.substr(0, 120) + "\n");
  EXPECT_EQ(SwHsm_LoadConfig(&cfg), VRK_ERR_CONFIG_OPEN);  // formed, just missing
}

TEST_F(LoginConfig, BusyInAnotherProcess) {
  zt::write_file("HSM.cfg", "HSMType=1\nHSMSn=KEEP\n");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    oxlu::WriteLock lock;  // a writer of the file in the middle of its update
    char c = lock.acquire("HSM.cfg") == OXLU_OK ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  HSM_LOGIN_CONFIG cfg{};
  EXPECT_EQ(SwHsm_LoadConfig(&cfg), VRK_ERR_CONFIG_OPEN);
  EXPECT_NE(SwHsm_UpdateVRKLoginConfig(&cfg), 0u);
  EXPECT_EQ(zt::read_file("HSM.cfg"), "HSMType=1\nHSMSn=KEEP\n");
  (void)!write(done[1], "x", 1);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(SwHsm_LoadConfig(&cfg), 0u);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

TEST_F(LoginConfig, InterruptedWriteKeepsTheOldFile) {
  zt::write_file("HSM.cfg", "HSMType=1\nHSMSn=KEEP\n");
  HSM_LOGIN_CONFIG cfg{};
  cfg.HsmType = 8;
  std::memcpy(cfg.Sn, "NEWSERIAL", 9);
  oxlu::testing::set_write_function([](int fd, const void* buf, size_t n) -> ssize_t {
    if (n > 4) {
      (void)!::write(fd, buf, 4);  // part of the bytes reach the disk, then it is full
      errno = ENOSPC;
      return -1;
    }
    return ::write(fd, buf, n);
  });
  EXPECT_EQ(SwHsm_UpdateVRKLoginConfig(&cfg), VRK_ERR_FAILED);
  oxlu::testing::set_write_function(nullptr);
  EXPECT_EQ(zt::read_file("HSM.cfg"), "HSMType=1\nHSMSn=KEEP\n");
  ASSERT_EQ(SwHsm_UpdateVRKLoginConfig(&cfg), 0u);
  EXPECT_NE(zt::read_file("HSM.cfg").find("HSMType=8\nHSMSn=NEWSERIAL\n"), std::string::npos);
}

TEST_F(LoginConfig, FilePathChecker) {
  VRK_FILEPATH_CONFIG c{};
  std::strcpy(c.Hsm_config_path, "./a");
  std::strcpy(c.HsmAdmin_config_path, "./b/");
  std::strcpy(c.tknobj_config_path, "");
  ASSERT_EQ(SwHsm_FilePathChecker(&c), 0u);
  EXPECT_STREQ(c.Hsm_config_path, "./a/");
  EXPECT_STREQ(c.HsmAdmin_config_path, "./b/");
  EXPECT_STREQ(c.tknobj_config_path, "./");
  std::memset(c.Hsm_config_path, 'x', 126);
  c.Hsm_config_path[126] = '\0';
  EXPECT_EQ(SwHsm_FilePathChecker(&c), VRK_ERR_DATA_LEN);
}

TEST_F(LoginConfig, NullArguments) {
  EXPECT_EQ(VRK_SetHsmSnToLoginConfig(nullptr, 1), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(SwHsm_LoadConfig(nullptr), VRK_ERR_ARGUMENTS);
  EXPECT_EQ(SwHsm_UpdateVRKLoginConfig(nullptr), VRK_ERR_ARGUMENTS);
}

namespace {

// The pid of a process that has ended.
pid_t dead_pid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

std::vector<std::string> temps_of(const std::string& name) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator("."))
    if (e.path().filename().string().rfind(name + ".tmp.", 0) == 0) out.push_back(e.path().filename().string());
  return out;
}

}  // namespace

// A writer killed mid-write leaves a full copy of the file (PINs included):
// start-up removes it, and only temporaries of HSM.cfg.
TEST_F(LoginConfig, StartupRemovesTheTemporariesOfKilledWriters) {
  zt::write_file("HSM.cfg", "HSMType=1\nHSMSn=OLD\nHSMPin=12345678\n");
  const std::string dead = "HSM.cfg.tmp." + std::to_string(dead_pid()) + ".3";
  const std::string other = "other.cfg.tmp." + std::to_string(dead_pid()) + ".0";
  zt::write_file(dead, "HSMType=1\nHSMSn=HALF\nHSMPin=12345678\n");
  zt::write_file(other, "not ours");
  ASSERT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), 0u);
  EXPECT_TRUE(temps_of("HSM.cfg").empty());
  EXPECT_EQ(zt::read_file(other), "not ours");
  EXPECT_NE(zt::read_file("HSM.cfg").find("HSMSn=0123456789ABCDEF\nHSMLabel=\nHSMPin=12345678\n"), std::string::npos);
}

// A writer still at work in another process keeps its temporary file (and
// with it every other of that file, until it is done); once it has committed,
// the dead writer's copy goes.
TEST_F(LoginConfig, ALiveWritersTemporaryStays) {
  zt::write_file("HSM.cfg", "HSMType=1\nHSMSn=OLD\n");
  const std::string dead = "HSM.cfg.tmp." + std::to_string(dead_pid()) + ".7";
  zt::write_file(dead, "HSMType=1\nHSMSn=HALF\n");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    FILE* f = fopen_safe_perm("HSM.cfg", "w", OXLU_PERM_SECRET);
    char c = f != nullptr && std::fputs("HSMType=1\nHSMSn=LIVE\n", f) >= 0 && std::fflush(f) == 0 ? 'y' : 'n';
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(f != nullptr && fclose_safe(f) == 0 ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(temps_of("HSM.cfg").size(), 2u);
  // What start-up does first: nothing may go while the writer holds the file.
  EXPECT_EQ(oxlu::remove_dead_temps_of("./HSM.cfg"), 0);
  EXPECT_EQ(temps_of("HSM.cfg").size(), 2u);
  (void)!write(done[1], "x", 1);
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(temps_of("HSM.cfg"), std::vector<std::string>{dead});
  EXPECT_EQ(zt::read_file("HSM.cfg"), "HSMType=1\nHSMSn=LIVE\n");
  ASSERT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), 0u);
  EXPECT_TRUE(temps_of("HSM.cfg").empty());
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

// A configuration file that is there but cannot be read is a failure that
// names the file and the system's reason; it is never taken for a missing or
// empty file (which would rewrite HSM.cfg without its label and PINs, or look
// for it in the wrong directory).
TEST_F(LoginConfig, UnreadableFilesFailWithTheirNameAndReason) {
  struct Case {
    const char* dir;  // made a directory where the file is expected
    const char* error;
  } cases[] = {{"HSM.cfg", "cannot read ./HSM.cfg: Is a directory"},
               {"VRK_Filepath.cfg", "cannot read ./VRK_Filepath.cfg: Is a directory"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir);
    oxlu_clear_file_error();
    ASSERT_TRUE(std::filesystem::create_directory(c.dir));
    HSM_LOGIN_CONFIG cfg{};
    EXPECT_EQ(SwHsm_LoadConfig(&cfg), VRK_ERR_CONFIG_OPEN);
    EXPECT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), VRK_ERR_CONFIG_OPEN);
    char text[256];
    std::memset(text, 'x', sizeof text);
    ASSERT_EQ(VRK_GetFileError(text, sizeof text), 0u);
    EXPECT_STREQ(text, c.error);
    EXPECT_TRUE(std::filesystem::is_directory(c.dir));
    std::filesystem::remove(c.dir);
  }
  // A text cut to the caller's buffer, and none after a clear.
  char small[12];
  ASSERT_EQ(VRK_GetFileError(small, sizeof small), 0u);
  EXPECT_STREQ(small, "cannot read");
  oxlu_clear_file_error();
  ASSERT_EQ(VRK_GetFileError(small, sizeof small), 0u);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(VRK_GetFileError(nullptr, 4), VRK_ERR_ARGUMENTS);
  // A missing file is no such failure: the defaults apply and nothing is noted.
  ASSERT_EQ(VRK_SetHsmSnToLoginConfig(kSn, 1), 0u);
  ASSERT_EQ(VRK_GetFileError(small, sizeof small), 0u);
  EXPECT_STREQ(small, "");
}
