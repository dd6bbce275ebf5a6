// The logged-in session's copy of its token's MAC and wrapping keys: wiped
// when the session's login ends, and never used once the token file holds
// other keys (another process restored or replaced it).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "swhsm/device/keycache_fixture.h"
#include "swhsm/swd_blob.h"
#include "swhsm/testing.h"
#include "zeb/swhsm_services.h"

namespace swt {
namespace {

TEST_F(KeyCache, HeldOnlyWhileTheLoginLasts) {
  struct Case {
    const char* end;
    std::function<uint32_t(ZEB_DEVICE_HANDLE)> fn;
  };
  const Case cases[] = {
      {"logout", SWD_LogoutToken},
      {"close", SWD_CloseTokenSession},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.end);
    if (_swdev_GetTokenSessionIndex(s_) < 0) {
      s_ = open_token(id_);
      slot_ = _swdev_GetTokenSessionIndex(s_);
    }
    if (_swdev_checkTokenNormalUserLoggedIn(s_) != 0) {
      ASSERT_EQ(SWD_LoginTokenByPin(s_, u8(sn_.c_str()), 16), 0u);
    }
    EXPECT_FALSE(swhsm::testing::session_holds_token_keys(slot_));  // nothing before first use
    EXPECT_EQ(mac_key(), file_mac_key());
    EXPECT_TRUE(swhsm::testing::session_holds_token_keys(slot_));
    ASSERT_EQ(c.fn(s_), 0u);
    EXPECT_FALSE(swhsm::testing::session_holds_token_keys(slot_));
  }
}

TEST_F(KeyCache, WipedAtFinalisation) {
  mac_key();
  ASSERT_TRUE(swhsm::testing::session_holds_token_keys(slot_));
  ASSERT_EQ(SWD_Finalize(hsm_), 0u);
  EXPECT_FALSE(swhsm::testing::session_holds_token_keys(slot_));
  ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
}

TEST_F(KeyCache, KeysReplacedByAnotherProcessAreUsedAtOnce) {
  const Bytes blob(100, 0x5C);
  const Bytes mac_before = mac_key(), sw_before = to_sw(blob);
  in_child(reverse_keys);
  EXPECT_EQ(mac_key(), file_mac_key());
  EXPECT_NE(mac_key(), mac_before);
  EXPECT_NE(to_sw(blob), sw_before);
  // And back: a wrap with the restored key equals the first.
  in_child(reverse_keys);
  EXPECT_EQ(mac_key(), mac_before);
  EXPECT_EQ(to_sw(blob), sw_before);
}

// Two replacements in a row, within one tick of the file system's clock and
// of the same size: the second file may get the inode the first one freed,
// so no stamp of the file tells the copy from the file. Repeated, as the
// reuse depends on the file system's allocator.
TEST_F(KeyCache, QuickSuccessiveReplacementsAreNeverMissed) {
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const Bytes before = mac_key();
    in_child([this](TKN_USER_CFG& c) {
      // The first replacement here, the second by in_child.
      std::rotate(std::begin(c.MacK), std::begin(c.MacK) + 1, std::end(c.MacK));
      if (_swdev_SetTokenUserCFG(id_.c_str(), &c) != 0) _exit(1);
      std::rotate(std::begin(c.MacK), std::begin(c.MacK) + 1, std::end(c.MacK));
    });
    const Bytes now = mac_key();
    ASSERT_EQ(now, file_mac_key());
    ASSERT_NE(now, before);
  }
}

// A file changed by hand (rewritten in place, as an editor might: same
// inode, same size) is not one of the device's writes: the copy is checked
// against it at the next write of any token file, however soon, here another
// token's by another process, and from then on its keys are used.
TEST_F(KeyCache, FileChangedByHandIsReadOnceATokenFileWriteFollows) {
  const std::string other = create_token();
  const Bytes before = mac_key();
  const std::filesystem::path file = std::filesystem::path("./SwHsm") / id_ / "TknUser.cfg";
  std::string text;
  {
    std::ifstream in(file, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t at = text.find("MacK=");
  ASSERT_NE(at, std::string::npos);
  std::swap(text[at + 5], text[at + 6]);
  if (text[at + 5] == text[at + 6]) std::swap(text[at + 5], text[at + 7]);
  {
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  const pid_t pid = fork();
  if (pid == 0) {
    TKN_USER_CFG c{};
    if (_swdev_GetTokenUserCFG(other.c_str(), &c) != 0) _exit(1);
    _exit(_swdev_SetTokenUserCFG(other.c_str(), &c) == 0 ? 0 : 1);
  }
  int st = -1;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  const Bytes now = mac_key();
  EXPECT_EQ(now, file_mac_key());
  EXPECT_NE(now, before);
}

std::string file_text(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// `cp -p` of another file over `file`: the same inode truncated and written,
// then its times set. Here its own times are put back, so that only the
// change time and perhaps the size tell.
void copy_in_place(const std::filesystem::path& file, const std::string& text) {
  struct stat before{};
  ASSERT_EQ(::stat(file.c_str(), &before), 0);
  const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(::close(fd), 0);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  struct stat after{};
  ASSERT_EQ(::stat(file.c_str(), &after), 0);
  ASSERT_EQ(after.st_ino, before.st_ino);
}

// A copy written beside `file` and renamed over it: a new inode.
void copy_renamed_over(const std::filesystem::path& file, const std::string& text) {
  const std::filesystem::path tmp = file.string() + ".restored";
  std::ofstream(tmp, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
  std::filesystem::rename(tmp, file);
}

// A token file restored by hand from another token's while the session holds
// its keys: no writer of the device announces it, so the stamp stands as it
// was; the session sees it by the file's own inode, change time and size at
// its first use once the period it trusts its last look for is over.
TEST_F(KeyCache, FileReplacedByHandIsReadAfterOnePeriod) {
  const std::string other = create_token();
  const std::filesystem::path file = std::filesystem::path("./SwHsm") / id_ / "TknUser.cfg";
  const std::filesystem::path other_file = std::filesystem::path("./SwHsm") / other / "TknUser.cfg";
  // The other token's file as made (as long as this one's), and once more
  // with a longer label and other keys.
  const std::string same_size = file_text(other_file);
  ASSERT_EQ(same_size.size(), file_text(file).size());
  TKN_USER_CFG relabelled = token_cfg(other);
  std::memcpy(relabelled.Label, "label of the other token", 24);
  relabelled.u32LabelLen = 24;
  reverse_keys(relabelled);
  ASSERT_EQ(_swdev_SetTokenUserCFG(other.c_str(), &relabelled), 0u);
  const std::string longer = file_text(other_file);
  ASSERT_NE(longer.size(), same_size.size());

  const TKN_USER_CFG own = token_cfg(id_);
  const Bytes own_key(own.MacK, own.MacK + 32);
  struct Case {
    const char* how;
    const std::string& text;
    void (*put)(const std::filesystem::path&, const std::string&);
  };
  const Case cases[] = {
      {"copied in place, same size", same_size, copy_in_place},
      {"copied in place, another size", longer, copy_in_place},
      {"a copy renamed over it", same_size, copy_renamed_over},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    ASSERT_EQ(_swdev_SetTokenUserCFG(id_.c_str(), &own), 0u);  // the token's own keys again, through the device
    ASSERT_EQ(mac_key(), own_key);
    c.put(file, c.text);
    if (HasFatalFailure()) return;
    usleep(3000);  // past the period a look is trusted for
    const Bytes now = mac_key();
    EXPECT_EQ(now, file_mac_key());
    EXPECT_NE(now, own_key);
  }
}

// Past a period the file's identity alone is looked at: while it stays, the
// copy serves without a read of the file. Its times set by hand (same
// bytes) cost one read that finds the text unchanged, and no more after it.
TEST_F(KeyCache, AFileThatStaysIsNotReadAgainAfterEachPeriod) {
  const Bytes before = mac_key();
  const auto checks = swhsm::testing::token_file_checks(slot_);
  usleep(3000);  // past the period a look is trusted for
  EXPECT_EQ(mac_key(), before);
  EXPECT_EQ(swhsm::testing::token_file_checks(slot_), checks);

  const std::filesystem::path file = std::filesystem::path("./SwHsm") / id_ / "TknUser.cfg";
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), nullptr, 0), 0);
  usleep(3000);
  EXPECT_EQ(mac_key(), before);
  EXPECT_EQ(swhsm::testing::token_file_checks(slot_), checks + 1);
  usleep(3000);
  EXPECT_EQ(mac_key(), before);
  EXPECT_EQ(swhsm::testing::token_file_checks(slot_), checks + 1);
}

// A writer of a token file that died in the middle of its write leaves the
// stamp unsteady: from then on every use checks the file, and a change by
// hand is read at once, until the next write has run through; after it the
// session's copy serves unchecked again.
TEST_F(KeyCache, WriterKilledMidWriteLeavesEveryUseCheckedUntilTheNextWrite) {
  const Bytes before = mac_key();
  const pid_t pid = fork();
  if (pid == 0) {
    swhsm::testing::start_token_file_change_and_never_end();
    _exit(0);
  }
  int st = -1;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  EXPECT_EQ(mac_key(), before);
  const std::filesystem::path file = std::filesystem::path("./SwHsm") / id_ / "TknUser.cfg";
  const TKN_USER_CFG cfg = token_cfg(id_);
  ASSERT_TRUE(std::filesystem::remove(file));
  uint8_t k[32] = {};
  EXPECT_NE(GetTknMacKey(s_, k), 0u);
  ASSERT_EQ(_swdev_SetTokenUserCFG(id_.c_str(), &cfg), 0u);
  EXPECT_EQ(mac_key(), before);
  // The stamp is steady again: the copy serves with no look at the file (a
  // look at its identity once a period aside).
  const auto checks = swhsm::testing::token_file_checks(slot_);
  EXPECT_EQ(mac_key(), before);
  EXPECT_EQ(mac_key(), before);
  EXPECT_EQ(swhsm::testing::token_file_checks(slot_), checks);
}

// Without the shared stamp (its file cannot be made: a directory stands in
// its place) every use checks the file, a change by hand included.
TEST_F(KeyCache, WithoutTheStampEveryUseChecksTheFile) {
  ASSERT_EQ(SWD_LogoutToken(s_), 0u);
  std::filesystem::remove("./SwHsm/TknUser.stamp");
  std::filesystem::create_directory("./SwHsm/TknUser.stamp");
  ASSERT_EQ(SWD_LoginTokenByPin(s_, u8(sn_.c_str()), 16), 0u);
  const Bytes before = mac_key();
  const std::filesystem::path file = std::filesystem::path("./SwHsm") / id_ / "TknUser.cfg";
  const TKN_USER_CFG cfg = token_cfg(id_);
  ASSERT_TRUE(std::filesystem::remove(file));
  uint8_t k[32] = {};
  EXPECT_NE(GetTknMacKey(s_, k), 0u);
  ASSERT_EQ(_swdev_SetTokenUserCFG(id_.c_str(), &cfg), 0u);
  EXPECT_EQ(mac_key(), before);
}

// One call of the core checks the file once and keeps to what it saw; the
// next call sees another process's replacement, and a file this process
// writes counts at once, inside the call too.
TEST_F(KeyCache, OneCoreCallChecksOnceAndSeesItsOwnWritesAtOnce) {
  SWD_BeginCall();
  const Bytes before = mac_key();
  in_child(reverse_keys);
  SWD_BeginCall();  // nested: the same call
  EXPECT_EQ(mac_key(), before);
  SWD_EndCall();
  EXPECT_EQ(mac_key(), before);
  SWD_EndCall();
  const Bytes theirs = mac_key();
  EXPECT_EQ(theirs, file_mac_key());
  EXPECT_NE(theirs, before);

  SWD_BeginCall();
  EXPECT_EQ(mac_key(), theirs);
  TKN_USER_CFG c = token_cfg(id_);
  reverse_keys(c);
  ASSERT_EQ(_swdev_SetTokenUserCFG(id_.c_str(), &c), 0u);
  EXPECT_EQ(mac_key(), before);
  SWD_EndCall();
}

// Threads of two sessions of the token reading the MAC key while another
// thread replaces the token file again and again: every read is one of the
// file's versions, and once the writer stops each session has the last.
TEST_F(KeyCache, ThreadsReadingWhileTheFileIsReplacedSeeOnlyItsVersions) {
  const ZEB_DEVICE_HANDLE other = open_token(id_);
  ASSERT_EQ(SWD_LoginTokenByPin(other, u8(sn_.c_str()), 16), 0u);
  const TKN_USER_CFG a = token_cfg(id_);
  TKN_USER_CFG b = a;
  reverse_keys(b);
  const Bytes key_a(a.MacK, a.MacK + 32), key_b(b.MacK, b.MacK + 32);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  auto reader = [&](ZEB_DEVICE_HANDLE s) {
    while (!done.load()) {
      Bytes k(32);
      if (GetTknMacKey(s, k.data()) != 0 || (k != key_a && k != key_b)) ++bad;
    }
  };
  std::thread t1(reader, s_), t2(reader, other);
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(_swdev_SetTokenUserCFG(id_.c_str(), i % 2 == 0 ? &b : &a), 0u);
  }
  done = true;
  t1.join();
  t2.join();
  EXPECT_EQ(bad.load(), 0);
  Bytes k(32);
  ASSERT_EQ(GetTknMacKey(other, k.data()), 0u);
  EXPECT_EQ(k, key_a);
  EXPECT_EQ(mac_key(), key_a);
}

TEST_F(KeyCache, PinChangedElsewhereKeepsTheKeys) {
  const Bytes blob(64, 0x3A);
  const Bytes mac_before = mac_key(), sw_before = to_sw(blob);
  in_child([](TKN_USER_CFG& c) {
    std::memset(c.NormalUserPin, 0, sizeof c.NormalUserPin);
    std::memcpy(c.NormalUserPin, "another-pin-0001", 16);
  });
  EXPECT_EQ(mac_key(), mac_before);
  EXPECT_EQ(to_sw(blob), sw_before);
}

// A token deleted by another process: the next use of the copy fails, and
// a token made again under the same id is used with its own keys.
TEST_F(KeyCache, TokenDeletedByAnotherProcessIsAnErrorNotTheCopy) {
  const Bytes before = mac_key();
  const TKN_USER_CFG cfg = token_cfg(id_);
  const pid_t pid = fork();
  if (pid == 0) {
    ZEB_DEVICE_HANDLE a = 0;
    if (SWD_OpenHsmSession(hsm_, &a) != 0 || SWD_LoginHsmByPin(a, u8(kAdminPin), std::strlen(kAdminPin)) != 0) _exit(1);
    uint8_t tid[16] = {};
    std::memcpy(tid, id_.data(), id_.size());
    _exit(SWD_DeleteToken(a, tid) == 0 ? 0 : 1);
  }
  int st = -1;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
  ASSERT_FALSE(std::filesystem::exists(std::filesystem::path("./SwHsm") / id_ / "TknUser.cfg"));
  uint8_t k[32] = {};
  EXPECT_NE(GetTknMacKey(s_, k), 0u);
  TKN_USER_CFG again = cfg;
  reverse_keys(again);
  ASSERT_EQ(_swdev_SetTokenUserCFG(id_.c_str(), &again), 0u);
  EXPECT_EQ(mac_key(), Bytes(again.MacK, again.MacK + 32));
  EXPECT_NE(mac_key(), before);
}

}  // namespace
}  // namespace swt
