// Token creation and deletion ended by a kill at each of their steps: the
// HSM is left as it was before or as it is after, never in between, and the
// next start-up serves every listed token with the right count.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "swhsm/device/fixture.h"
#include "swhsm/testing.h"

namespace swt {
namespace {

namespace fs = std::filesystem;

const char* g_kill_at = nullptr;
void kill_hook(const char* step) {
  if (std::strcmp(step, g_kill_at) == 0) _exit(42);
}

constexpr const char* kPin = "token-pin-1234";

class TokenKill : public Device {
 protected:
  // Runs `fn` in a child that ends at step `at` as a kill would; the child's
  // exit status (42 when it got there).
  template <class Fn>
  int killed_at(const char* at, Fn&& fn) {
    g_kill_at = at;
    const pid_t pid = fork();
    if (pid == 0) {
      swhsm::testing::set_device_step_hook(kill_hook);
      _exit(fn());
    }
    int st = 0;
    if (pid < 0 || waitpid(pid, &st, 0) != pid) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  int create_killed_at(const char* at) {
    return killed_at(at, [&] {
      const ZEB_DEVICE_HANDLE a = admin_session();
      uint8_t id[16] = {};
      return static_cast<int>(SWD_CreateTokenByPin(a, u8(kPin), std::strlen(kPin), id));
    });
  }
  int delete_killed_at(const char* at, const std::string& id) {
    return killed_at(at, [&] {
      uint8_t tid[16] = {};
      std::memcpy(tid, id.data(), id.size());
      return static_cast<int>(SWD_DeleteToken(admin_session(), tid));
    });
  }
  // A fresh start-up, as the next process makes it.
  void restart() {
    ASSERT_EQ(SWD_Finalize(hsm_), 0u);
    ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
  }
  std::vector<std::string> listed() {
    ZEB_DEVICE_TKN_USER_LIST l{};
    EXPECT_EQ(SWD_ListTokens(hsm_, &l), 0u);
    std::vector<std::string> ids;
    for (const auto& id : l.TknId) {
      if (id[0] != 0) ids.emplace_back(reinterpret_cast<const char*>(id), strnlen(reinterpret_cast<const char*>(id), 16));
    }
    return ids;
  }
  // After a start-up: every listed token is whole (its file, its PINs), no
  // folder is left of another, and the count is the list's.
  void expect_whole(const std::vector<std::string>& want) {
    const std::vector<std::string> ids = listed();
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), std::set<std::string>(want.begin(), want.end()));
    for (const std::string& id : ids) {
      SCOPED_TRACE(id);
      uint8_t tid[16] = {};
      std::memcpy(tid, id.data(), id.size());
      ZEB_DEVICE_TOKEN_INFO info{};
      EXPECT_EQ(SWD_GetTokenInfo(hsm_, tid, &info), 0u);
      const ZEB_DEVICE_HANDLE s = open_token(id);
      EXPECT_EQ(SWD_LoginTokenByPin(s, u8(kPin), std::strlen(kPin)), 0u) << "a token listed without its PINs";
      (void)SWD_CloseTokenSession(s);  // not what this test checks
    }
    std::set<std::string> folders;
    for (const auto& e : fs::directory_iterator("./SwHsm")) {
      if (e.is_directory()) folders.insert(e.path().filename().string());
    }
    EXPECT_EQ(folders, std::set<std::string>(ids.begin(), ids.end()));
    ZEB_DEVICE_HSM_INFO info{};
    ASSERT_EQ(SWD_GetHsmInfo(hsm_, &info), 0u);
    EXPECT_EQ(info.u32TokenCount, ids.size());
    HSM_ADMIN_CFG rec{};
    ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
    EXPECT_EQ(rec.TokenCount, ids.size());
  }
  std::string create() {
    uint8_t id[16] = {};
    EXPECT_EQ(SWD_CreateTokenByPin(admin_session(), u8(kPin), std::strlen(kPin), id), 0u);
    return std::string(reinterpret_cast<char*>(id));
  }
};

TEST_F(TokenKill, CreationKilledAtEachStepLeavesNoTokenOrAWholeOne) {
  const struct {
    const char* step;
    bool made;
  } cases[] = {{"token file written", false}, {"list saved", true}, {"count saved", true}};
  create();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    const std::vector<std::string> before = listed();
    ASSERT_EQ(create_killed_at(c.step), 42);
    restart();
    const std::vector<std::string> now = listed();
    if (c.made) {
      ASSERT_EQ(now.size(), before.size() + 1);
    } else {
      ASSERT_EQ(now, before);
    }
    expect_whole(now);
  }
}

TEST_F(TokenKill, DeletionKilledAtEachStepLeavesTheTokenWholeOrGone) {
  for (const char* step : {"list saved", "count saved", "files removed"}) {
    SCOPED_TRACE(step);
    const std::string doomed = create();
    const std::string kept = create();
    ASSERT_EQ(delete_killed_at(step, doomed), 42);
    // Even before the next start-up tidies up, every listed token is whole.
    ZEB_DEVICE_TKN_USER_LIST l{};
    ASSERT_EQ(SWD_ListTokens(hsm_, &l), 0u);
    for (const auto& id : l.TknId) {
      if (id[0] == 0) continue;
      ZEB_DEVICE_TOKEN_INFO info{};
      EXPECT_EQ(SWD_GetTokenInfo(hsm_, const_cast<uint8_t*>(id), &info), 0u);
    }
    restart();
    const std::vector<std::string> now = listed();
    EXPECT_EQ(std::count(now.begin(), now.end(), doomed), 0);
    EXPECT_EQ(std::count(now.begin(), now.end(), kept), 1);
    expect_whole(now);
    uint8_t tid[16] = {};
    std::memcpy(tid, kept.data(), kept.size());
    ASSERT_EQ(SWD_DeleteToken(admin_session(), tid), 0u);
  }
}

// The record's count left behind by a kill between the list and the count
// neither refuses a fourth token nor lets a fifth in, before any start-up
// puts it right.
TEST_F(TokenKill, CountLeftBehindDecidesNothing) {
  const std::string first = create();
  create();
  create();
  ASSERT_EQ(create_killed_at("list saved"), 42);  // four listed, the record says 3
  uint8_t id[16] = {};
  EXPECT_EQ(SWD_CreateTokenByPin(admin_session(), u8(kPin), std::strlen(kPin), id), SWD_ERR_FAILED);
  EXPECT_EQ(listed().size(), 4u);

  restart();                                               // the record says 4 again
  ASSERT_EQ(delete_killed_at("list saved", first), 42);  // three listed, the record says 4
  HSM_ADMIN_CFG rec{};
  ASSERT_EQ(GetHsmAdminCFG(&rec), 0u);
  ASSERT_EQ(rec.TokenCount, 4);
  EXPECT_EQ(SWD_CreateTokenByPin(admin_session(), u8(kPin), std::strlen(kPin), id), 0u);
  restart();
  expect_whole(listed());
  EXPECT_EQ(listed().size(), 4u);
}

// A creation killed before its list was saved leaves a folder that no list
// names; a start-up while a creator holds the list leaves every folder alone
// (that creator may be filling one), and the next start-up removes it.
TEST_F(TokenKill, StartUpRemovesUnlistedFoldersOnlyWhenNobodyChangesTheList) {
  create();
  ASSERT_EQ(create_killed_at("token file written"), 42);
  ASSERT_TRUE(fs::exists("./SwHsm/Tkn02/TknUser.cfg"));
  {
    LockHolder creator("./SwHsm/TknUser.list", "x");
    ASSERT_TRUE(creator.ok());
    ASSERT_EQ(SWD_Finalize(hsm_), 0u);
    ASSERT_EQ(SWD_Initialize(u8(kHsmSn), &hsm_), 0u);
    EXPECT_TRUE(fs::exists("./SwHsm/Tkn02/TknUser.cfg"));
  }
  restart();
  EXPECT_FALSE(fs::exists("./SwHsm/Tkn02"));
  // A folder holding anything else than a token's own files stays.
  fs::create_directory("./SwHsm/Tkn07");
  zt::write_file("./SwHsm/Tkn07/notes.txt", "mine");
  restart();
  EXPECT_TRUE(fs::exists("./SwHsm/Tkn07/notes.txt"));
  // Without a list, nothing is taken for unlisted.
  fs::remove("./SwHsm/TknUser.list");
  restart();
  EXPECT_TRUE(fs::exists("./SwHsm/Tkn01/TknUser.cfg"));
}

// A listed token whose file was removed by hand is named when it is read.
TEST_F(TokenKill, ListedTokenWithoutItsFileIsNamed) {
  const std::string id = create();
  for (const char* gone : {"./SwHsm/Tkn01/TknUser.cfg", "./SwHsm/Tkn01"}) {
    SCOPED_TRACE(gone);
    fs::remove_all(gone);
    uint8_t tid[16] = {};
    std::memcpy(tid, id.data(), id.size());
    ZEB_DEVICE_TOKEN_INFO info{};
    oxlu_clear_file_error();
    EXPECT_NE(SWD_GetTokenInfo(hsm_, tid, &info), 0u);
    char why[512] = {};
    oxlu_file_error(why, sizeof why);
    EXPECT_STREQ(why, "cannot find ./SwHsm/Tkn01/TknUser.cfg: No such file or directory");
  }
}

}  // namespace
}  // namespace swt
