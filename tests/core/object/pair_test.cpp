// A key pair stored as one change of the store: a writer killed at any step
// leaves both objects or neither, and start-up removes what it left.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "object_fixture.h"
#include "swhsm/sto.h"
#include "swhsm/testing.h"

namespace zt {
namespace {

const char* g_step = nullptr;
void kill_at(const char* step) {
  if (std::strcmp(step, g_step) == 0) _exit(42);
}

class KeyPairStore : public ObjectHsm {
 protected:
  std::set<uint32_t> listed() {
    VRK_SEOBJ_LIST list;
    uint32_t count = 0;
    EXPECT_EQ(VRK_ListObjects(s, &list, &count), 0);
    std::set<uint32_t> out;
    for (const STO_SEOBJ& e : list.seobj_array) {
      if (e.ObjIndex != 0) out.insert(e.ObjIndex);
    }
    return out;
  }
  std::set<uint32_t> files() {
    std::set<uint32_t> out;
    for (const auto& e : std::filesystem::directory_iterator(token_dir())) {
      const std::string n = e.path().filename().string();
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".obj") == 0) out.insert(std::stoul(n));
    }
    return out;
  }
  int save_pair(const Bytes& priv, const Bytes& pub, uint32_t* a, uint32_t* b) {
    Bytes x = priv, y = pub;
    return VRK_SaveObjectPair(s, x.data(), static_cast<uint32_t>(x.size()), y.data(), static_cast<uint32_t>(y.size()),
                              a, b);
  }
};

TEST_F(KeyPairStore, APairIsStoredWhole) {
  const Bytes priv = make(kKinds[2], "pair", "pair", pattern(36, 1));
  const Bytes pub = make(kKinds[3], "pair", "pair", pattern(68, 2));
  uint32_t a = 0, b = 0;
  ASSERT_EQ(save_pair(priv, pub, &a, &b), 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(listed(), (std::set<uint32_t>{a, b}));
  EXPECT_EQ(read(a).size(), priv.size());
  EXPECT_EQ(export_raw(b), pattern(68, 2));
  EXPECT_EQ(export_raw(a), pattern(36, 1));  // re-wrapped under the token key and back
  // An object that is no object stores neither.
  Bytes broken = pub;
  broken[120] ^= 1;
  EXPECT_NE(save_pair(priv, broken, &a, &b), 0);
  EXPECT_EQ(listed().size(), 2u);
}

TEST_F(KeyPairStore, AWriterKilledAtAnyStepLeavesBothOrNeither) {
  const uint32_t kept = save(make(kKinds[0], "kept", "kept", pattern(8, 9)));
  const struct {
    const char* step;
    bool stored;
  } cases[] = {{"first object written", false}, {"object written", false}, {"list saved", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    const std::set<uint32_t> before = listed();
    g_step = c.step;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      swhsm::testing::set_store_step_hook(kill_at);
      uint32_t a = 0, b = 0;
      (void)save_pair(make(kKinds[2], "k", "k", pattern(36, 3)), make(kKinds[3], "k", "k", pattern(68, 4)), &a, &b);
      _exit(0);
    }
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st));
    ASSERT_EQ(WEXITSTATUS(st), 42);
    // Start-up, as a new process makes it.
    swhsm::testing::clear_store_cache();
    STO_TKN_OBJECT_CONFIG_PATH cfg{};
    ASSERT_EQ(Sto_Initialize(&cfg), 0u);
    const std::set<uint32_t> after = listed();
    EXPECT_EQ(after.size(), before.size() + (c.stored ? 2 : 0));
    EXPECT_EQ(after.count(kept), 1u);
    EXPECT_EQ(files(), after);  // no file left that the list does not name
  }
}

}  // namespace
}  // namespace zt
