// The token files' change stamp under what is done to its file from outside
// the system (a restore, a clean-up by hand, a full disk, a writer stopped):
// a session never uses its copy of the token keys after another process
// changed them, and nothing crashes.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>

#include "oxlu/testing.h"
#include "swhsm/device/keycache_fixture.h"
#include "swhsm/testing.h"

namespace swt {
namespace {

namespace fs = std::filesystem;

const fs::path kStamp = "./SwHsm/TknUser.stamp";

// The exit of a child process that runs `body`: 0 for a clean end.
int in_process(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int st = -1;
  if (waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

using Stamp = KeyCache;

// Each act falls between the session's check of its copy and another
// process's change of the keys; the next use has the new keys.
TEST_F(Stamp, AChangeIsSeenWhateverWasDoneToTheStampFile) {
  struct Act {
    const char* what;
    std::function<void()> act;
  };
  const Act acts[] = {
      {"removed", [] { fs::remove(kStamp); }},
      {"a copy renamed over it",
       [] {
         fs::copy_file(kStamp, "./SwHsm/stamp.copy");
         fs::rename("./SwHsm/stamp.copy", kStamp);
       }},
      {"a directory in its place",
       [] {
         fs::remove(kStamp);
         fs::create_directory(kStamp);
       }},
      // The writer cannot open it at all.
      {"a link to nowhere in its place",
       [] {
         fs::remove(kStamp);
         fs::create_symlink("no/such/folder/stamp", kStamp);
       }},
  };
  for (const Act& a : acts) {
    SCOPED_TRACE(a.what);
    if (fs::is_directory(kStamp)) fs::remove(kStamp);
    const Bytes before = mac_key();
    a.act();
    in_child(reverse_keys);
    const Bytes now = mac_key();
    EXPECT_EQ(now, file_mac_key());
    EXPECT_NE(now, before);
  }
}

// Cut to nothing while a process holds a session that trusted it: using the
// copy must not end the process (a file mapped and cut short raises SIGBUS),
// and a change that follows is seen. In a child, so that a crash fails the
// test instead of ending the run.
TEST_F(Stamp, CutShortItCrashesNothingAndHidesNoChange) {
  const Bytes before = mac_key();
  fs::resize_file(kStamp, 0);
  EXPECT_EQ(in_process([&] {
              for (int i = 0; i < 3; ++i) {
                uint8_t k[32] = {};
                if (GetTknMacKey(s_, k) != 0 || Bytes(k, k + 32) != before) return 1;
                usleep(3000);  // past the period a look is trusted for
              }
              in_child(reverse_keys);
              uint8_t k[32] = {};
              return GetTknMacKey(s_, k) == 0 && Bytes(k, k + 32) == file_mac_key() ? 0 : 2;
            }),
            0);
}

// The counters of a stamp cut short and written again come back to the
// values the session saw; that must not make its old look stand again.
TEST_F(Stamp, CountersBackWhereTheSessionSawThemHideNoChange) {
  const Bytes before = mac_key();
  uint64_t seen = 0;
  {
    std::ifstream in(kStamp, std::ios::binary);
    in.read(reinterpret_cast<char*>(&seen), sizeof seen);
  }
  ASSERT_GT(seen, 0u);
  ASSERT_LT(seen, 64u);
  fs::resize_file(kStamp, 0);
  // As many writes, by another process, the last one with other keys.
  ASSERT_EQ(in_process([&] {
              for (uint64_t i = 1; i < seen; ++i) {
                TKN_USER_CFG c{};
                if (_swdev_GetTokenUserCFG(id_.c_str(), &c) != 0 || _swdev_SetTokenUserCFG(id_.c_str(), &c) != 0) {
                  return 1;
                }
              }
              TKN_USER_CFG c{};
              if (_swdev_GetTokenUserCFG(id_.c_str(), &c) != 0) return 1;
              reverse_keys(c);
              return _swdev_SetTokenUserCFG(id_.c_str(), &c) == 0 ? 0 : 1;
            }),
            0);
  const Bytes now = mac_key();
  EXPECT_EQ(now, file_mac_key());
  EXPECT_NE(now, before);
}

// A hard link kept from before a change and moved back over the stamp after
// it: the path names the very file the session saw, changed since.
TEST_F(Stamp, AnOldStampMovedBackHidesNoChange) {
  const Bytes before = mac_key();
  fs::create_hard_link(kStamp, "./SwHsm/stamp.kept");
  in_child(reverse_keys);
  fs::rename("./SwHsm/stamp.kept", kStamp);
  const Bytes now = mac_key();
  EXPECT_EQ(now, file_mac_key());
  EXPECT_NE(now, before);
}

// A writer that cannot replace the stamp (here the disk is full for it)
// removes it, and the change is seen.
TEST_F(Stamp, AWriterThatCannotReplaceItRemovesIt) {
  const Bytes before = mac_key();
  in_child([](TKN_USER_CFG& c) {
    // The stamp's bytes are the only 16-byte write.
    oxlu::testing::set_write_function([](int fd, const void* buf, size_t n) -> ssize_t {
      if (n == 16) {
        errno = ENOSPC;
        return -1;
      }
      return ::write(fd, buf, n);
    });
    reverse_keys(c);
  });
  EXPECT_FALSE(fs::exists(kStamp));
  const Bytes now = mac_key();
  EXPECT_EQ(now, file_mac_key());
  EXPECT_NE(now, before);
  // The next writer that can puts a stamp back.
  in_child(reverse_keys);
  EXPECT_TRUE(fs::is_regular_file(kStamp));
  EXPECT_EQ(mac_key(), before);
}

// A writer stopped inside its span holds the stamp's lock: another token's
// write waits the files' usual 2 s, then fails busy with nothing written,
// and goes through once the stopped writer is gone. The sessions meanwhile
// check the file at each use.
TEST_F(Stamp, AStoppedWriterMakesOtherWritersFailBusyNotWait) {
  const std::string other = create_token();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    swhsm::testing::start_token_file_change_and_never_end();
    (void)!::write(ready[1], "y", 1);
    raise(SIGSTOP);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  close(ready[0]);
  close(ready[1]);

  const TKN_USER_CFG kept = token_cfg(other);
  EXPECT_EQ(in_process([&] {
              alarm(10);  // a writer that waits for ever ends here
              TKN_USER_CFG t = kept;
              reverse_keys(t);
              return _swdev_SetTokenUserCFG(other.c_str(), &t) == SWD_ERR_TKN_CFG ? 0 : 1;
            }),
            0);
  const TKN_USER_CFG after = token_cfg(other);
  EXPECT_EQ(Bytes(after.MacK, after.MacK + 32), Bytes(kept.MacK, kept.MacK + 32));
  EXPECT_EQ(mac_key(), file_mac_key());

  kill(writer, SIGKILL);
  ASSERT_EQ(waitpid(writer, nullptr, 0), writer);
  TKN_USER_CFG t = kept;
  reverse_keys(t);
  EXPECT_EQ(_swdev_SetTokenUserCFG(other.c_str(), &t), 0u);
}

}  // namespace
}  // namespace swt
