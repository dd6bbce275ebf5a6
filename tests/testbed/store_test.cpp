// Class 0x87 on the simulator, in process: objects written and read in
// 768-byte parts, the closing part, the occupancy page and list entries.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "fixture.h"
#include "sim_internal.h"

namespace sst {
namespace {

namespace s = cmd::sto;

class Store : public Sim {
 protected:
  void SetUp() override {
    Sim::SetUp();
    id_ = host().token(kAdminPin, kSoPin);
    session_ = host().user(id_, kSoPin, kUserPin);
    EXPECT_EQ(l().code(s::CreateTokenStorage, {in()}), 0u);
  }
  Bytes in() const {
    // Laid out in one sized buffer (GCC 12 at -O3 misreads inserts that
    // grow a four-byte vector).
    Bytes b(4 + 16 + id_.size());
    const Bytes h = u32(session_);
    std::copy(h.begin(), h.end(), b.begin());
    std::copy(kSn, kSn + 16, b.begin() + 4);
    std::copy(id_.begin(), id_.end(), b.begin() + 20);
    return b;
  }
  static Bytes entry(uint32_t data_len, uint8_t tag) {
    Bytes e(80, tag);
    const Bytes n = u32(data_len);
    std::copy(n.begin(), n.end(), e.begin() + 76);
    return e;
  }
  static Bytes object(size_t n, uint8_t seed) {
    Bytes o(n);
    for (size_t i = 0; i < n; ++i) o[i] = static_cast<uint8_t>(seed + i * 7);
    return o;
  }
  // Writes `obj` as a new object; its device slot.
  uint32_t create(const Bytes& obj, uint8_t tag = 0x11) {
    uint32_t slot = 0xFFFFFFFF;
    const Bytes e = entry(static_cast<uint32_t>(obj.size() - 128), tag);
    for (size_t off = 0, part = 0; off < obj.size(); off += 768, ++part) {
      const Bytes chunk(obj.begin() + off, obj.begin() + std::min(obj.size(), off + 768));
      auto r = l().ok(s::CreateObjectPart, {in(), chunk, e, u8(static_cast<uint8_t>(part))});
      if (r.empty()) return slot;
      if (part > 0) {
        EXPECT_EQ(le32(r[0]), slot);
      }
      slot = le32(r[0]);
    }
    auto r = l().ok(s::CreateObjectPart, {in(), {}, e, u8(0xFF)});
    EXPECT_EQ(r.empty() ? 0 : le32(r[0]), slot);
    return slot;
  }
  Bytes read(uint32_t slot) {
    auto size = l().call(s::GetObjectSize, {in(), u32(slot)});
    if (size.code != 0) return {};
    const uint32_t n = le32(size.f[0]);
    Bytes out;
    for (uint32_t part = 0; part * 768 < n; ++part) {
      auto r = l().ok(s::GetObjectPart, {in(), u32(slot), u8(static_cast<uint8_t>(part))});
      if (r.empty()) return {};
      out.insert(out.end(), r[0].begin(), r[0].end());
    }
    return out;
  }
  Bytes page() { return l().ok(s::GetOccupancyPage, {in()})[0]; }
  // The data parts of a new object, without the closing part; its slot.
  uint32_t open_create(const Bytes& obj, uint8_t tag, size_t parts = SIZE_MAX) {
    uint32_t slot = 0xFFFFFFFF;
    const Bytes e = entry(static_cast<uint32_t>(obj.size() - 128), tag);
    for (size_t off = 0, part = 0; off < obj.size() && part < parts; off += 768, ++part) {
      const Bytes chunk(obj.begin() + off, obj.begin() + std::min(obj.size(), off + 768));
      auto r = l().ok(s::CreateObjectPart, {in(), chunk, e, u8(static_cast<uint8_t>(part))});
      if (r.empty()) return 0xFFFFFFFF;
      slot = le32(r[0]);
    }
    return slot;
  }
  // The closing part of the open create (entry as in open_create); its slot.
  uint32_t close_create(const Bytes& obj, uint8_t tag) {
    auto r = l().ok(s::CreateObjectPart, {in(), {}, entry(static_cast<uint32_t>(obj.size() - 128), tag), u8(0xFF)});
    return r.empty() ? 0xFFFFFFFF : le32(r[0]);
  }
  std::string token_dir() const { return dir_->path() + "/dev/SeStore/" + se::sim::token_dir_name(id_.data()) + "/"; }

  Bytes id_;
  uint32_t session_ = 0;
};

TEST_F(Store, ObjectsRoundTripInParts) {
  for (size_t n : {size_t{128}, size_t{768}, size_t{769}, size_t{2000}}) {
    const Bytes obj = object(n, static_cast<uint8_t>(n));
    const uint32_t slot = create(obj);
    EXPECT_EQ(read(slot), obj) << n;
  }
  reopen();
  EXPECT_EQ(read(0), object(128, 128));
  EXPECT_EQ(read(3), object(2000, static_cast<uint8_t>(2000)));
}

TEST_F(Store, OccupancyPageAndEntriesFollowTheSlots) {
  EXPECT_EQ(page(), Bytes(256, 0));
  create(object(200, 1), 0xA1);
  create(object(200, 2), 0xA2);
  create(object(200, 3), 0xA3);
  EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(1)}), 0u);
  Bytes p = page();
  ASSERT_EQ(p.size(), 256u);
  EXPECT_EQ(p[0], 0x05);  // slots 0 and 2
  auto e = l().ok(s::GetObjectEntries, {in(), u32(2), u32(3)})[0];
  EXPECT_EQ(e, entry(72, 0xA3));
  // A freed slot is taken again first.
  EXPECT_EQ(create(object(200, 4), 0xA4), 1u);
  EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(1)}), 0u);
  EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(1)}), 0x82u);
  EXPECT_EQ(l().code(s::GetObjectSize, {in(), u32(1)}), 0x82u);
  EXPECT_NE(l().code(s::GetObjectEntries, {in(), u32(5), u32(5)}), 0u);
  EXPECT_NE(l().code(s::GetObjectEntries, {in(), u32(0), u32(513)}), 0u);
}

TEST_F(Store, UpdateReplacesTheObjectOnlyWhenClosed) {
  const Bytes before = object(900, 9);
  const uint32_t slot = create(before);
  const Bytes after = object(1600, 77);
  const Bytes e = entry(1600 - 128, 0x22);
  ASSERT_EQ(l().code(s::UpdateObjectPart, {in(), u32(slot), Bytes(after.begin(), after.begin() + 768), e, u8(0)}),
            0u);
  ASSERT_EQ(l().code(s::UpdateObjectPart,
                     {in(), u32(slot), Bytes(after.begin() + 768, after.begin() + 1536), e, u8(1)}),
            0u);
  // Not closed yet: the stored object is still the old one.
  EXPECT_EQ(read(slot), before);
  ASSERT_EQ(l().code(s::UpdateObjectPart, {in(), u32(slot), Bytes(after.begin() + 1536, after.end()), e, u8(2)}),
            0u);
  ASSERT_EQ(l().code(s::UpdateObjectPart, {in(), u32(slot), {}, e, u8(0xFF)}), 0u);
  EXPECT_EQ(read(slot), after);
  EXPECT_EQ(l().ok(s::GetObjectEntries, {in(), u32(slot), u32(slot + 1)})[0], e);
}

TEST_F(Store, AWriteThatIsNotClosedLeavesNoObject) {
  const Bytes obj = object(1000, 5);
  const Bytes e = entry(1000 - 128, 1);
  ASSERT_EQ(l().call(s::CreateObjectPart, {in(), Bytes(obj.begin(), obj.begin() + 768), e, u8(0)}).code, 0u);
  EXPECT_EQ(page(), Bytes(256, 0));
  reopen();
  EXPECT_EQ(page(), Bytes(256, 0));
  EXPECT_EQ(l().code(s::GetObjectSize, {in(), u32(0)}), 0x82u);
}

TEST_F(Store, PartsOutOfOrderOrOversizedAreRefused) {
  const Bytes obj = object(2000, 5);
  const Bytes e = entry(2000 - 128, 1);
  const Bytes p0(obj.begin(), obj.begin() + 768);
  const std::vector<std::vector<Bytes>> bad = {
      {in(), Bytes(769, 1), e, u8(0)},  // larger than a part
      {in(), p0, e, u8(1)},             // no part 0 before
      {in(), {}, e, u8(0xFF)},          // closing a write never begun
  };
  for (const auto& req : bad) EXPECT_NE(l().code(s::CreateObjectPart, req), 0u);
  // Part 2 after part 0: refused, and the write is abandoned.
  ASSERT_EQ(l().code(s::CreateObjectPart, {in(), p0, e, u8(0)}), 0u);
  EXPECT_NE(l().code(s::CreateObjectPart, {in(), p0, e, u8(2)}), 0u);
  EXPECT_NE(l().code(s::CreateObjectPart, {in(), {}, e, u8(0xFF)}), 0u);
  EXPECT_EQ(page(), Bytes(256, 0));
}

TEST_F(Store, UnknownTokenAndDeletedStorage) {
  Bytes other = in();
  other[20] ^= 0xFF;  // another token ID
  EXPECT_NE(l().code(s::GetOccupancyPage, {other}), 0u);
  create(object(300, 1));
  EXPECT_EQ(l().code(s::DeleteObjDir, {in()}), 0u);
  EXPECT_EQ(page(), Bytes(256, 0));
}

// A key pair: both objects' data parts, then one closing part commits both.
TEST_F(Store, OneClosingPartCommitsACompleteCreateLeftOpenBeforeIt) {
  const Bytes priv = object(900, 1), pub = object(300, 2);
  const uint32_t a = open_create(priv, 0xA1);
  const uint32_t b = open_create(pub, 0xB2);
  EXPECT_NE(a, b);
  EXPECT_EQ(page(), Bytes(256, 0));  // nothing before the closing part
  EXPECT_EQ(close_create(pub, 0xB2), b);
  EXPECT_EQ(read(a), priv);
  EXPECT_EQ(read(b), pub);
  EXPECT_EQ(l().ok(s::GetObjectEntries, {in(), u32(a), u32(a + 1)})[0], entry(900 - 128, 0xA1));
  EXPECT_FALSE(std::filesystem::exists(token_dir() + "commit.journal"));
  // A single create after it commits itself alone.
  EXPECT_EQ(create(object(200, 3)), 2u);
  reopen();
  EXPECT_EQ(read(a), priv);
  EXPECT_EQ(read(b), pub);
}

// What is never closed, or not whole, is not committed with the next object.
TEST_F(Store, OpenCreatesThatAreNotClosedOrNotWholeCommitNothing) {
  struct Case {
    const char* name;
    size_t first_parts;  // of the first object's 2 parts
    bool close_second;
    bool delete_first;   // the host takes the first back before closing
    bool end_session;    // the session is closed before the closing part
  } cases[] = {
      {"pair never closed", 2, false, false, false},
      {"first cut short", 1, true, false, false},
      {"first deleted", 2, true, true, false},
      {"session closed", 2, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes first = object(1000, 7), second = object(200, 8);
    const uint32_t a = open_create(first, 0xC1, c.first_parts);
    const uint32_t b = open_create(second, 0xC2);
    if (c.delete_first) {
      EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(a)}), 0u);
    }
    if (c.end_session) {
      EXPECT_EQ(l().code(cmd::dev::CloseTokenSession, {u32(session_)}), 0u);
      session_ = host().open(id_);
      EXPECT_EQ(l().code(cmd::dev::LoginTokenByPin, {u32(session_), sha256(kUserPin)}), 0u);
    }
    if (c.close_second) {
      EXPECT_EQ(close_create(second, 0xC2), b);
    }
    // The second alone, or nothing (a first cut short freed its slot for
    // the second).
    Bytes expect_page(256, 0);
    if (c.close_second) expect_page[b / 8] = static_cast<uint8_t>(1u << (b % 8));
    EXPECT_EQ(page(), expect_page);
    if (a != b) {
      EXPECT_EQ(l().code(s::GetObjectSize, {in(), u32(a)}), 0x82u);
    }
    EXPECT_EQ(read(b), c.close_second ? second : Bytes{});
    if (c.close_second) {
      EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(b)}), 0u);
    }
  }
}

// The device killed at each step of a pair's commit: when it opens again
// the pair is there whole, and the journal and temporary files are gone.
TEST_F(Store, ADeviceKilledWhileCommittingAPairFinishesItWhenItOpens) {
  for (const char* at : {"journal written", "object written"}) {
    SCOPED_TRACE(at);
    const Bytes priv = object(1700, 4), pub = object(400, 5);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      static const char* target;
      target = at;
      se::sim::g_commit_step_hook = [](const char* step) {
        if (std::strcmp(step, target) == 0) _exit(0);  // dies mid-commit, nothing cleaned up
      };
      const uint32_t a = open_create(priv, 0xD1);
      (void)open_create(pub, 0xD2);
      (void)close_create(pub, 0xD2);
      _exit(a == 0xFFFFFFFF ? 3 : 4);  // not reached when the hook ended it
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    // Left behind: the journal (and, after the first file, that file).
    EXPECT_TRUE(std::filesystem::exists(token_dir() + "commit.journal"));
    reopen();
    EXPECT_FALSE(std::filesystem::exists(token_dir() + "commit.journal"));
    EXPECT_EQ(read(0), priv);
    EXPECT_EQ(read(1), pub);
    for (const auto& e : std::filesystem::directory_iterator(token_dir())) {
      EXPECT_EQ(e.path().filename().string().rfind("obj-", 0), 0u) << e.path();
    }
    EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(0)}), 0u);
    EXPECT_EQ(l().code(s::DeleteObject, {in(), u32(1)}), 0u);
  }
}

}  // namespace
}  // namespace sst
