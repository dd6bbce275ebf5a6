// Processes sharing one token's files: a PIN change racing failed logins of
// another process is never undone, and no failed login goes uncounted; two
// processes creating tokens at once both get theirs.
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "swhsm/device/fixture.h"

namespace swt {
namespace {

constexpr uint32_t kWrongPin = 0xA1, kBusy = 0x520;

// Runs `fn` in a child, which writes its result (an int) to the pipe.
template <class Fn>
pid_t spawn(int fd, Fn fn) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int r = fn();
    (void)!write(fd, &r, sizeof r);
    _exit(0);
  }
  return pid;
}

int collect(pid_t pid, int fd) {
  int r = -1;
  if (read(fd, &r, sizeof r) != sizeof r) r = -1;
  int st = 0;
  waitpid(pid, &st, 0);
  return r;
}

TEST_F(Device, PinChangeRacingFailedLoginsInAnotherProcessIsNeverUndone) {
  const std::string id = create_token();
  {
    // Enough room that the wrong PINs never lock the user out.
    TKN_USER_CFG c = token_cfg(id);
    c.MaxNormalUserLoginFailCount = 250;
    ASSERT_EQ(_swdev_SetTokenUserCFG(id.c_str(), &c), 0u);
  }
  constexpr int kGuesses = 120, kChanges = 40, kReads = 200;
  int guesses_pipe[2], reads_pipe[2];
  ASSERT_EQ(pipe(guesses_pipe), 0);
  ASSERT_EQ(pipe(reads_pipe), 0);
  // A guesser: wrong user PINs, each counted (or refused busy, uncounted).
  const pid_t guesser = spawn(guesses_pipe[1], [&] {
    const ZEB_DEVICE_HANDLE s = open_token(id);
    int counted = 0;
    for (int i = 0; i < kGuesses; ++i) {
      const uint32_t rc = SWD_LoginTokenByPin(s, u8("wrong-guess"), 11);
      if (rc == kWrongPin) {
        ++counted;
      } else if (rc != kBusy) {
        return -1000 - static_cast<int>(rc);
      }
    }
    return counted;
  });
  // A reader of the token's information.
  const pid_t reader = spawn(reads_pipe[1], [&] {
    uint8_t tid[16] = {};
    std::memcpy(tid, id.data(), id.size());
    int bad = 0;
    for (int i = 0; i < kReads; ++i) {
      ZEB_DEVICE_TOKEN_INFO info{};
      const uint32_t rc = SWD_GetTokenInfo(hsm_, tid, &info);
      if (rc != 0 && rc != kBusy) ++bad;
    }
    return bad;
  });
  // Meanwhile the super user changes the user PIN again and again.
  const ZEB_DEVICE_HANDLE so = open_token(id);
  ASSERT_EQ(SWD_LoginTokenSuperUserByPin(so, u8(kHsmSn), 16), 0u);
  std::string current;
  for (int k = 0; k < kChanges; ++k) {
    const std::string pin = "new-pin-" + std::to_string(k);
    const uint32_t rc = SWD_SetTokenPin(so, u8(pin.c_str()), static_cast<uint32_t>(pin.size()));
    ASSERT_TRUE(rc == 0 || rc == kBusy) << rc;
    if (rc == 0) current = pin;
  }
  const int counted = collect(guesser, guesses_pipe[0]);
  EXPECT_EQ(collect(reader, reads_pipe[0]), 0);
  for (int fd : {guesses_pipe[0], guesses_pipe[1], reads_pipe[0], reads_pipe[1]}) close(fd);
  ASSERT_GE(counted, 0) << "a guess failed with " << -1000 - counted;
  ASSERT_FALSE(current.empty());

  // Every counted guess is in the file, and the last PIN set is in force.
  const TKN_USER_CFG c = token_cfg(id);
  EXPECT_EQ(c.NormalUserLoginFailCount, counted);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.NormalUserPin), c.u32NormalUserPinLen), current);
  const ZEB_DEVICE_HANDLE user = open_token(id);
  EXPECT_EQ(SWD_LoginTokenByPin(user, u8(current.c_str()), static_cast<uint32_t>(current.size())), 0u);
}

TEST_F(Device, FailedLoginsOfTwoProcessesAreAllCounted) {
  const std::string id = create_token();
  {
    TKN_USER_CFG c = token_cfg(id);
    c.MaxNormalUserLoginFailCount = 250;
    ASSERT_EQ(_swdev_SetTokenUserCFG(id.c_str(), &c), 0u);
  }
  constexpr int kEach = 80;
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  auto guess = [&] {
    const ZEB_DEVICE_HANDLE s = open_token(id);
    int counted = 0;
    for (int i = 0; i < kEach; ++i) {
      const uint32_t rc = SWD_LoginTokenByPin(s, u8("nope"), 4);
      if (rc == kWrongPin) ++counted;
      else if (rc != kBusy) return -1;
    }
    return counted;
  };
  const pid_t child = spawn(p[1], guess);
  const int mine = guess();
  const int theirs = collect(child, p[0]);
  close(p[0]);
  close(p[1]);
  ASSERT_GE(mine, 0);
  ASSERT_GE(theirs, 0);
  // A guesser gets no more tries than were counted.
  EXPECT_EQ(token_cfg(id).NormalUserLoginFailCount, mine + theirs);
}

TEST_F(Device, TokensCreatedByTwoProcessesAtOnceAreBothListed) {
  constexpr int kRounds = 15;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    int go[2], results[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(results), 0);
    // Each creator logs in first, then waits for the start signal, so that
    // the two creations meet.
    auto creator = [&] {
      const ZEB_DEVICE_HANDLE a = admin_session();
      char start = 0;
      if (read(go[0], &start, 1) != 1) return -1;
      uint8_t id[16] = {}, sn[16] = {};
      const uint32_t rc = SWD_CreateToken(a, id, sn);
      return rc == 0 ? 0 : static_cast<int>(rc);
    };
    const pid_t one = spawn(results[1], creator);
    const pid_t two = spawn(results[1], creator);
    ASSERT_EQ(write(go[1], "ab", 2), 2);
    const int r1 = collect(one, results[0]);
    const int r2 = collect(two, results[0]);
    for (int fd : {go[0], go[1], results[0], results[1]}) close(fd);
    ASSERT_EQ(r1, 0);
    ASSERT_EQ(r2, 0);
    ZEB_DEVICE_TKN_USER_LIST list{};
    ASSERT_EQ(SWD_ListTokens(hsm_, &list), 0u);
    ASSERT_EQ(list.TknNum, 2);
    EXPECT_NE(std::memcmp(list.TknId[0], list.TknId[1], 16), 0);
    HSM_ADMIN_CFG rec{};
    ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
    EXPECT_EQ(rec.TokenCount, 2);
    // Each listed token has its own file, and both go again for the next
    // round.
    const ZEB_DEVICE_HANDLE a = admin_session();
    for (int i = 0; i < 2; ++i) {
      const std::string id(reinterpret_cast<const char*>(list.TknId[i]), strnlen(reinterpret_cast<const char*>(list.TknId[i]), 16));
      EXPECT_EQ(token_cfg(id).TknStatus, ZEB_DEVICE_TKN_UNINIT);
      uint8_t tid[16] = {};
      std::memcpy(tid, list.TknId[i], 16);
      ASSERT_EQ(SWD_DeleteToken(a, tid), 0u);
    }
    (void)SWD_CloseHsmSession(a);
  }
}

}  // namespace
}  // namespace swt
