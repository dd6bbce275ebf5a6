// VELM_Tool on an HSM whose files went through something: the tool killed in
// the middle of a creation or deletion, a token file removed by hand, a file
// held by another process; and the refusals whose general code needs words.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/held_lock.h"
#include "velm_fixture.h"

namespace zt {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// How long the tool waits for a file held by another process.
constexpr auto kBusyWait = std::chrono::seconds(2);

// Starts the tool with its output thrown away; its process id.
pid_t spawn_tool(const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    exec_tool(args);
  }
  return pid;
}

// What a fresh start-up of the core finds: the listed tokens, each of which
// must be readable, and the HSM's token count.
struct StartUp {
  std::vector<std::string> ids;
  uint32_t count = 0;
  bool every_token_readable = true;
};

StartUp start_up() {
  StartUp s;
  VRK_HANDLE hsm = 0;
  EXPECT_EQ(VRK_Initialize(&hsm), 0u);
  VRK_TKN_USER_LIST list{};
  EXPECT_EQ(VRK_ListTokens(hsm, &list), 0u);
  for (auto& id : list.TknId) {
    if (id[0] == 0) continue;
    s.ids.emplace_back(reinterpret_cast<const char*>(id), strnlen(reinterpret_cast<const char*>(id), 16));
    VRK_TOKEN_INFO info{};
    s.every_token_readable = s.every_token_readable && VRK_GetTokenInfo(hsm, id, &info) == 0;
  }
  VRK_HSM_INFO info{};
  EXPECT_EQ(VRK_GetHsmInfo(hsm, &info), 0u);
  s.count = info.u32TokenCount;
  EXPECT_EQ(VRK_Finalize(hsm), 0u);
  return s;
}

std::set<std::string> token_folders() {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator("./SwHsm")) {
    if (e.is_directory()) out.insert(e.path().filename().string());
  }
  return out;
}

// `create token` and `delete token` killed at random moments of their run:
// after each kill the next start-up serves every listed token, with its
// security officer's PIN, and the count agrees with the list; no folder is
// left of a token that is not listed. ZEB_CRASH_KILLS sets the number.
TEST_F(VelmTool, KillsDuringCreateAndDeleteLeaveEveryTokenWhole) {
  const char* env = std::getenv("ZEB_CRASH_KILLS");
  const int kills = env != nullptr ? std::atoi(env) : 120;
  // How long each command takes here, so that the kills fall inside it.
  auto timed = [](const std::vector<std::string>& args) {
    const auto t0 = Clock::now();
    const ToolRun r = run_tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
  };
  const long create_us = timed({"create", "token", kAdminPin, kSuPin, kUserPin});
  const long delete_us = timed({"delete", "token", kAdminPin, "Tkn01"});

  std::mt19937 rng(std::random_device{}());
  int landed_create = 0, landed_delete = 0;
  for (int i = 0; i < kills; ++i) {
    const StartUp before = start_up();
    const bool create = before.ids.size() < 4 && (before.ids.empty() || rng() % 2 == 0);
    std::vector<std::string> args{"create", "token", kAdminPin, kSuPin, kUserPin};
    if (!create) args = {"delete", "token", kAdminPin, before.ids[rng() % before.ids.size()]};
    const long window_us = (create ? create_us : delete_us) * 5 / 4;
    const pid_t pid = spawn_tool(args);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, window_us)(rng)));
    kill(pid, SIGKILL);
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    if (WIFSIGNALED(st)) ++(create ? landed_create : landed_delete);

    SCOPED_TRACE(std::string(create ? "create" : "delete") + " killed, round " + std::to_string(i));
    const StartUp after = start_up();
    ASSERT_TRUE(after.every_token_readable);
    ASSERT_EQ(after.count, after.ids.size());
    ASSERT_EQ(token_folders(), std::set<std::string>(after.ids.begin(), after.ids.end()));
    for (const std::string& id : after.ids) ASSERT_EQ(core_login(id, kSuPin, true), 0u) << id;
    const ToolRun listing = run_tool({"list", "token"});
    ASSERT_EQ(listing.status, 0) << listing.err;
    ASSERT_EQ(listing.out.find("cannot be used"), std::string::npos) << listing.out;
  }
  std::printf("kills inside the run: %d of create token, %d of delete token (of %d)\n", landed_create,
              landed_delete, kills);
}

// A listed token whose file was removed by hand: the listing shows it and
// says what is wrong and what to do; deleting it clears the entry.
TEST_F(VelmTool, ListedTokenWithoutItsFileIsListedAndNamed) {
  create_token();
  const std::string lost = create_token();
  fs::remove("./SwHsm/" + lost + "/TknUser.cfg");
  ToolRun r = run_tool({"list", "token"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("|  " + lost + " "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Token " + lost + " cannot be used: cannot find ./SwHsm/" + lost +
                       "/TknUser.cfg: No such file or directory (restore its file, or remove the token with"
                       " VELM_Tool delete token)\n"),
            std::string::npos)
      << r.out;
  r = run_tool({"get", "token", "info", lost});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("cannot find ./SwHsm/" + lost + "/TknUser.cfg"), std::string::npos) << r.err;
  r = run_tool({"delete", "token", kAdminPin, lost});
  EXPECT_EQ(r.status, 0) << r.err;
  r = run_tool({"list", "token"});
  EXPECT_EQ(r.out.find(lost), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists("./SwHsm/" + lost));
  EXPECT_EQ(start_up().count, 1u);
}

// The token list held by another process: each command waits for it once,
// then names it (the code stays CKR_FUNCTION_FAILED).
TEST_F(VelmTool, BusyTokenListIsNamedAfterOneWait) {
  const std::string id = create_token();
  HeldLock holder("./SwHsm/TknUser.list");
  ASSERT_TRUE(holder.ok());
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"list", "token"}, {"get", "token", "info", id}, {"change", "token_nu", "pin", id, kUserPin, "user-pin-9999"}}) {
    SCOPED_TRACE(command[0] + " " + command[1]);
    const auto t0 = Clock::now();
    const ToolRun r = run_tool(command);
    const auto waited = Clock::now() - t0;
    EXPECT_EQ(r.status, 6);
    EXPECT_EQ(r.err,
              "VELM_Tool: failed with err = 0x00000006 (./SwHsm/TknUser.list is locked by another process (waited 2 s))\n");
    // One wait of the file layer's, not one per read of the list.
    EXPECT_LT(waited, 2 * kBusyWait);
  }
  holder.release();
  EXPECT_EQ(core_login(id, kUserPin, false), 0u);  // the PIN was not changed
}

// The device refuses the unlock of a token that is not locked with the
// general failure code: the tool says what it was.
TEST_F(VelmTool, UnlockOfATokenNotLockedSaysSo) {
  const std::string id = create_token();
  ToolRun r = run_tool({"unlock", "token_nu", id, kSuPin});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.err, "VELM_Tool: failed with err = 0x00000006 (the token's user PIN is not locked)\n");
  r = run_tool({"unlock", "token_nu", id, "wrong-super-pin"});
  EXPECT_NE(r.status, 6);
  EXPECT_EQ(r.err.find("not locked"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace zt
