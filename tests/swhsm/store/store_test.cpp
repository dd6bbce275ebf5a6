// The object store: indexes, list file, object files, limits, the cache and
// the root configuration.
#include <fcntl.h>
#include <sys/file.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "oxlu/file.h"
#include "oxlu/testing.h"
#include "store_fixture.h"
#include "support/hex.h"
#include "support/workdir.h"
#include "swhsm/testing.h"

namespace {

using namespace stt;

TEST_F(Store, FirstObjectGetsIndexOneAndIndexesAreNeverReused) {
  uint32_t idx = 0;
  ASSERT_EQ(create("object one", "id1", &idx), 0u);
  EXPECT_EQ(idx, 1u);
  EXPECT_EQ(zt::read_file(dir() + "1.obj"), "object one");
  ASSERT_EQ(Sto_DeleteObject(&in_, 1), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir() + "1.obj"));
  ASSERT_EQ(create("object two", "id2", &idx), 0u);
  EXPECT_EQ(idx, 2u);
  const STO_SEOBJ_LIST l = load();
  EXPECT_EQ(l.ObjNum, 1u);
  EXPECT_EQ(l.ObjSeq, 2u);
  EXPECT_EQ(l.seobj_array[0].ObjIndex, 2u);  // the freed entry is used again, the index is not
}

TEST_F(Store, LoadingCreatesTheTreeAndAnEmptyList) {
  const STO_SEOBJ_LIST l = load();
  EXPECT_EQ(l.ObjNum, 0u);
  EXPECT_EQ(zt::read_file(dir() + "objlist.cfg"), std::string(40968, '\0'));
}

TEST_F(Store, GoldenListFileAndEntry) {
  uint32_t idx = 0;
  STO_SEOBJ e = entry("key-id", "key-label", 2, 18, 32);
  uint8_t obj[3] = {1, 2, 3};
  ASSERT_EQ(Sto_CreateObject(&in_, &idx, obj, 3, &e), 0u);
  e = entry("cert", "a certificate", 5, 0, 700);
  ASSERT_EQ(Sto_CreateObject(&in_, &idx, obj, 3, &e), 0u);
  const std::string file = zt::read_file(dir() + "objlist.cfg");
  ASSERT_EQ(file.size(), 40968u);
  // Res, ObjIndex, TknId, ObjId, ObjLabel, ObjType, ObjKeyAlgo, Res2, u32DataLen.
  EXPECT_EQ(zt::hex(reinterpret_cast<const uint8_t*>(file.data()), 80),
            "00000000"                                                          // Res
            "01000000"                                                          // ObjIndex 1
            "546b6e30310000000000000000000000"                                  // "Tkn01"
            "6b65792d696400000000000000000000"                                  // "key-id"
            "6b65792d6c6162656c0000000000000000000000000000000000000000000000"  // "key-label"
            "02"                                                                // ObjType
            "12"                                                                // ObjKeyAlgo 18
            "0000"                                                              // Res2
            "20000000");                                                        // u32DataLen 32
  EXPECT_EQ(zt::hex(reinterpret_cast<const uint8_t*>(file.data()) + 80, 8), "0000000002000000");
  EXPECT_EQ(zt::hex(reinterpret_cast<const uint8_t*>(file.data()) + 40960, 8), "0200000002000000");
  EXPECT_EQ(file.substr(160, 40960 - 160), std::string(40960 - 160, '\0'));
}

TEST_F(Store, ObjectFilesAreTheBytesAsGivenWithOwnerOnlyAccess) {
  std::string bytes(3000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  uint32_t idx = 0;
  ASSERT_EQ(create(bytes, "big", &idx), 0u);
  EXPECT_EQ(zt::read_file(dir() + "1.obj"), bytes);
  EXPECT_EQ(zt::file_mode(dir() + "1.obj"), 0600u);
  uint32_t size = 0;
  ASSERT_EQ(Sto_GetObjectSize(&in_, 1, &size), 0u);
  EXPECT_EQ(size, 3000u);
  std::vector<uint8_t> out(3000);
  uint32_t len = 3000;
  ASSERT_EQ(Sto_GetObject(&in_, 1, out.data(), &len), 0u);
  EXPECT_EQ(std::string(out.begin(), out.end()), bytes);
}

TEST_F(Store, ReadsRespectTheCallersCapacity) {
  uint32_t idx = 0;
  ASSERT_EQ(create(std::string(9000, 'x'), "big", &idx), 0u);  // larger than any fixed staging buffer
  std::vector<uint8_t> out(8999, 0xEE);
  uint32_t len = 8999;
  EXPECT_EQ(Sto_GetObject(&in_, idx, out.data(), &len), STO_ERR_TOO_SMALL);
  EXPECT_EQ(len, 9000u);
  EXPECT_EQ(out, std::vector<uint8_t>(8999, 0xEE));
  out.resize(9000);
  ASSERT_EQ(Sto_GetObject(&in_, idx, out.data(), &len), 0u);
  EXPECT_EQ(len, 9000u);
}

TEST_F(Store, MissingObjects) {
  uint8_t buf[16];
  uint32_t len = sizeof buf;
  EXPECT_EQ(Sto_GetObject(&in_, 7, buf, &len), STO_ERR_NOT_FOUND);
  EXPECT_EQ(Sto_GetObjectSize(&in_, 7, &len), STO_ERR_FAILED);
  load();
  EXPECT_EQ(Sto_DeleteObject(&in_, 7), STO_ERR_NOT_FOUND);
  STO_SEOBJ e = entry("x");
  EXPECT_EQ(Sto_UpdateObject(&in_, 7, buf, 1, &e), STO_ERR_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(dir() + "7.obj"));
}

TEST_F(Store, UpdateRewritesEntryAndFile) {
  uint32_t idx = 0;
  ASSERT_EQ(create("old", "id", &idx), 0u);
  STO_SEOBJ e = entry("new-id", "new label", 4, 64, 3);
  uint8_t bytes[] = {'n', 'e', 'w'};
  ASSERT_EQ(Sto_UpdateObject(&in_, idx, bytes, 3, &e), 0u);
  EXPECT_EQ(zt::read_file(dir() + "1.obj"), "new");
  const STO_SEOBJ_LIST l = load();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(l.seobj_array[0].ObjLabel)), "new label");
  EXPECT_EQ(l.seobj_array[0].ObjType, 4);
  EXPECT_EQ(l.seobj_array[0].ObjIndex, idx);
}

TEST_F(Store, NullArguments) {
  uint32_t idx;
  uint8_t b[1] = {};
  STO_SEOBJ e{};
  EXPECT_EQ(Sto_CreateObject(nullptr, &idx, b, 1, &e), STO_ERR_NULL);
  EXPECT_EQ(Sto_CreateObject(&in_, nullptr, b, 1, &e), STO_ERR_NULL);
  EXPECT_EQ(Sto_GetObject(&in_, 1, nullptr, &idx), STO_ERR_NULL);
  EXPECT_EQ(Sto_GetObjectSize(&in_, 1, nullptr), STO_ERR_NULL);
  EXPECT_EQ(Sto_LoadObjectList(&in_, nullptr), STO_ERR_NULL);
  EXPECT_EQ(Sto_DeleteObject(nullptr, 1), STO_ERR_NULL);
  EXPECT_EQ(Sto_Initialize(nullptr), STO_ERR_NULL);
  EXPECT_EQ(Sto_GetStorageInfo(&in_, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(Sto_SetLayout(&in_, nullptr, nullptr), 0u);
}

TEST_F(Store, UnusableNamesAreRefused) {
  for (const char* id : {"", ".", "..", "a/b"}) {
    PERSISTENCY_INPUT in = input("HSM0000000000042", id);
    STO_SEOBJ_LIST l;
    EXPECT_EQ(Sto_LoadObjectList(&in, &l), STO_ERR_FAILED) << id;
  }
  EXPECT_FALSE(std::filesystem::exists("./Store/HSM0000000000042/a"));
}

// ---- Limits ------------------------------------------------------------------

TEST(StoreIndexes, AllocationLimits) {
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  const STO_SEOBJ e = entry("id");
  uint32_t idx = 0;
  list->ObjNum = 511;
  for (size_t i = 0; i < 511; ++i) list->seobj_array[i].ObjIndex = static_cast<uint32_t>(i + 1);
  list->ObjSeq = 511;
  ASSERT_EQ(sto::allocate_index(list.get(), e, &idx), 0u);
  EXPECT_EQ(idx, 512u);
  EXPECT_EQ(list->seobj_array[511].ObjIndex, 512u);
  EXPECT_EQ(sto::allocate_index(list.get(), e, &idx), 0x31u);  // the 513th
  EXPECT_EQ(list->ObjNum, 512u);

  auto seq = std::make_unique<STO_SEOBJ_LIST>();
  seq->ObjSeq = 0xFFFFFFFD;
  ASSERT_EQ(sto::allocate_index(seq.get(), e, &idx), 0u);
  EXPECT_EQ(idx, 0xFFFFFFFEu);  // the last index ever given
  EXPECT_EQ(sto::allocate_index(seq.get(), e, &idx), 0x160u);
  EXPECT_EQ(seq->ObjNum, 1u);

  // A count that claims room where no entry is free: refused, not lost.
  auto damaged = std::make_unique<STO_SEOBJ_LIST>();
  for (size_t i = 0; i < 512; ++i) damaged->seobj_array[i].ObjIndex = static_cast<uint32_t>(i + 1);
  damaged->ObjNum = 3;
  EXPECT_EQ(sto::allocate_index(damaged.get(), e, &idx), 0x31u);
  EXPECT_EQ(damaged->ObjNum, 3u);
}

TEST_F(Store, FullListAndExhaustedSequenceWriteNoFile) {
  load();
  auto list = std::make_unique<STO_SEOBJ_LIST>();
  for (size_t i = 0; i < 512; ++i) {
    list->seobj_array[i].ObjIndex = static_cast<uint32_t>(i + 1);
    list->seobj_array[i].ObjId[0] = 'x';
  }
  list->ObjNum = 512;
  list->ObjSeq = 512;
  ASSERT_EQ(Sto_SaveObjectList(&in_, list.get()), 0u);
  uint32_t idx = 0;
  EXPECT_EQ(create("o", "513th", &idx), 0x31u);
  EXPECT_FALSE(std::filesystem::exists(dir() + "513.obj"));

  *list = STO_SEOBJ_LIST{};
  list->ObjSeq = 0xFFFFFFFE;
  ASSERT_EQ(Sto_SaveObjectList(&in_, list.get()), 0u);
  EXPECT_EQ(create("o", "late", &idx), 0x160u);
  EXPECT_EQ(load().ObjNum, 0u);
}

// ---- The list file is whole or refused -----------------------------------------

TEST_F(Store, ListOfAnyOtherSizeIsRefusedNotZeroFilled) {
  uint32_t idx = 0;
  ASSERT_EQ(create("first", "a", &idx), 0u);
  for (size_t size : {size_t{0}, size_t{100}, size_t{40967}, size_t{40969}}) {
    swhsm::testing::clear_store_cache();
    std::string file(size, '\0');
    zt::write_file(dir() + "objlist.cfg", file);
    STO_SEOBJ_LIST l;
    EXPECT_EQ(Sto_LoadObjectList(&in_, &l), STO_ERR_FAILED) << size;
    EXPECT_EQ(create("second", "b", &idx), 6u) << size;
    EXPECT_EQ(zt::read_file(dir() + "1.obj"), "first") << size;  // never overwritten by a restarted sequence
  }
}

bool g_fail_writes = false;
ssize_t half_then_fail(int fd, const void* buf, size_t n) {
  if (!g_fail_writes) return ::write(fd, buf, n);
  ::write(fd, buf, n / 2);
  errno = ENOSPC;
  return -1;
}

TEST_F(Store, FailedWritesLeaveFilesWhole) {
  uint32_t idx = 0;
  ASSERT_EQ(create("first", "a", &idx), 0u);
  const std::string before = zt::read_file(dir() + "objlist.cfg");
  oxlu::testing::set_write_function(half_then_fail);
  g_fail_writes = true;
  EXPECT_EQ(create(std::string(5000, 'z'), "b", &idx), 6u);
  uint8_t upd[] = {'u'};
  STO_SEOBJ e = entry("a");
  EXPECT_EQ(Sto_UpdateObject(&in_, 1, upd, 1, &e), STO_ERR_FAILED);
  g_fail_writes = false;
  oxlu::testing::set_write_function(nullptr);
  EXPECT_EQ(zt::read_file(dir() + "objlist.cfg"), before);
  EXPECT_EQ(zt::read_file(dir() + "1.obj"), "first");
  EXPECT_FALSE(std::filesystem::exists(dir() + "2.obj"));
  ASSERT_EQ(create("second", "b", &idx), 0u);
  EXPECT_EQ(idx, 2u);
}

// ---- Crashes between writes ------------------------------------------------------

const char* g_crash_at = nullptr;
void crash_hook(const char* step) {
  if (std::strcmp(step, g_crash_at) == 0) _exit(42);
}

TEST_F(Store, CrashBetweenObjectAndListLeavesAReadableStore) {
  uint32_t idx = 0;
  ASSERT_EQ(create("kept", "a", &idx), 0u);
  g_crash_at = "object written";
  EXPECT_EQ(in_child([&] {
              swhsm::testing::set_store_step_hook(crash_hook);
              uint32_t i = 0;
              create("lost", "b", &i);
              return 0;
            }),
            42);
  STO_SEOBJ_LIST l = load();
  EXPECT_EQ(l.ObjNum, 1u);
  EXPECT_EQ(l.ObjSeq, 1u);
  // The unlisted file is never written over: numbering goes on above it.
  ASSERT_EQ(create("next", "c", &idx), 0u);
  EXPECT_EQ(idx, 3u);
  EXPECT_EQ(zt::read_file(dir() + "3.obj"), "next");
  EXPECT_EQ(zt::read_file(dir() + "2.obj"), "lost");
  EXPECT_EQ(zt::read_file(dir() + "1.obj"), "kept");
}

TEST_F(Store, CrashDuringDeleteLeavesNoDanglingEntry) {
  uint32_t idx = 0;
  ASSERT_EQ(create("doomed", "a", &idx), 0u);
  g_crash_at = "list saved";
  EXPECT_EQ(in_child([&] {
              swhsm::testing::set_store_step_hook(crash_hook);
              (void)Sto_DeleteObject(&in_, 1);  // not what this test checks
              return 0;
            }),
            42);
  EXPECT_EQ(load().ObjNum, 0u);
  ASSERT_EQ(create("next", "b", &idx), 0u);
  EXPECT_EQ(idx, 2u);
}

// ---- Several processes ------------------------------------------------------------

TEST_F(Store, TwoProcessesCreatingAtOnceLoseNothing) {
  constexpr int kEach = 150;
  load();  // this process's cache now holds the empty list
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    char c;
    (void)!read(go[0], &c, 1);
    uint32_t i = 0;
    for (int k = 0; k < kEach; ++k) {
      const std::string id = "child-" + std::to_string(k);
      if (create(id, id.c_str(), &i) != 0) _exit(1);
    }
    _exit(0);
  }
  (void)!write(go[1], "x", 1);
  uint32_t i = 0;
  for (int k = 0; k < kEach; ++k) {
    const std::string id = "parent-" + std::to_string(k);
    ASSERT_EQ(create(id, id.c_str(), &i), 0u);
  }
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);

  const STO_SEOBJ_LIST l = load();
  EXPECT_EQ(l.ObjNum, 2u * kEach);
  EXPECT_EQ(l.ObjSeq, 2u * kEach);
  std::vector<bool> seen(2 * kEach + 1);
  for (const STO_SEOBJ& e : l.seobj_array) {
    if (e.ObjIndex == 0) continue;
    ASSERT_LE(e.ObjIndex, 2u * kEach);
    EXPECT_FALSE(seen[e.ObjIndex]) << e.ObjIndex;
    seen[e.ObjIndex] = true;
    // Each listed object's file holds that object's own bytes.
    EXPECT_EQ(zt::read_file(dir() + std::to_string(e.ObjIndex) + ".obj"), reinterpret_cast<const char*>(e.ObjId));
  }
}

// A read shares the token's store lock with other readers: another process
// reading (holding the lock shared) does not hold it up.
TEST_F(Store, ReadersShareTheStoreLock) {
  uint32_t idx = 0;
  ASSERT_EQ(create("shared", "a", &idx), 0u);
  int up[2], down[2];
  ASSERT_EQ(pipe(up), 0);
  ASSERT_EQ(pipe(down), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open((dir() + "objlist.lock").c_str(), O_RDWR);
    const char got = fd >= 0 && ::flock(fd, LOCK_SH) == 0 ? 'y' : 'n';
    (void)!write(up[1], &got, 1);
    char c;
    (void)!read(down[0], &c, 1);
    _exit(0);
  }
  char got = 'n';
  ASSERT_EQ(read(up[0], &got, 1), 1);
  ASSERT_EQ(got, 'y');
  uint8_t buf[16];
  uint32_t len = sizeof buf;
  EXPECT_EQ(Sto_GetObject(&in_, idx, buf, &len), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "shared");
  (void)!write(down[1], "x", 1);
  int st = 0;
  waitpid(pid, &st, 0);
  for (int fd : {up[0], up[1], down[0], down[1]}) close(fd);
}

// Threads reading one object while another rewrites it: each read is one
// whole version, never a mix or a size of one with the bytes of the other.
TEST_F(Store, ConcurrentReadersOfAnUpdatedObjectSeeWholeVersions) {
  const std::string a(100, 'a'), b(300, 'b');
  uint32_t idx = 0;
  ASSERT_EQ(create(a, "obj", &idx), 0u);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      std::vector<uint8_t> buf(400);
      while (!done.load()) {
        uint32_t len = static_cast<uint32_t>(buf.size());
        if (Sto_GetObject(&in_, idx, buf.data(), &len) != 0) {
          ++bad;
          continue;
        }
        const std::string got(buf.begin(), buf.begin() + len);
        if (got != a && got != b) ++bad;
      }
    });
  }
  for (int k = 0; k < 40; ++k) {
    const std::string& next = k % 2 == 0 ? b : a;
    STO_SEOBJ e = entry("obj", "lab", 1, 0, static_cast<uint32_t>(next.size()));
    ASSERT_EQ(Sto_UpdateObject(&in_, idx, reinterpret_cast<uint8_t*>(const_cast<char*>(next.data())),
                               static_cast<uint32_t>(next.size()), &e),
              0u);
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
}

TEST_F(Store, CachedListIsReloadedAfterAnotherProcessChangedIt) {
  uint32_t idx = 0;
  ASSERT_EQ(create("mine", "a", &idx), 0u);
  EXPECT_EQ(load().ObjNum, 1u);  // cached
  EXPECT_EQ(in_child([&] {
              uint32_t i = 0;
              return static_cast<int>(create("theirs", "b", &i) == 0 && i == 2 ? 0 : 1);
            }),
            0);
  EXPECT_EQ(load().ObjNum, 2u);
  ASSERT_EQ(create("mine again", "c", &idx), 0u);
  EXPECT_EQ(idx, 3u);
  EXPECT_EQ(zt::read_file(dir() + "2.obj"), "theirs");
}

TEST_F(Store, ThreadsOnTwoTokensLoseNothing) {
  constexpr int kEach = 20;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      PERSISTENCY_INPUT in = input("HSM0000000000042", t % 2 == 0 ? "TknA" : "TknB");
      for (int k = 0; k < kEach; ++k) {
        char id[16];
        std::snprintf(id, sizeof id, "t%d-%d", t, k);
        STO_SEOBJ e = entry(id);
        uint32_t idx = 0;
        if (Sto_CreateObject(&in, &idx, reinterpret_cast<uint8_t*>(id), static_cast<uint32_t>(std::strlen(id)),
                             &e) != 0) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  for (const char* tkn : {"TknA", "TknB"}) {
    PERSISTENCY_INPUT in = input("HSM0000000000042", tkn);
    STO_SEOBJ_LIST l{};
    ASSERT_EQ(Sto_LoadObjectList(&in, &l), 0u);
    EXPECT_EQ(l.ObjNum, 2u * kEach) << tkn;
    std::set<uint32_t> seen;
    for (const STO_SEOBJ& e : l.seobj_array) {
      if (e.ObjIndex != 0) {
        EXPECT_TRUE(seen.insert(e.ObjIndex).second);
      }
    }
  }
}

// ---- Cache, token storage, list and directory removal ------------------------------

TEST_F(Store, ElevenTokensShareTenCacheSlots) {
  for (int t = 0; t < 11; ++t) {
    char id[16];
    std::snprintf(id, sizeof id, "T%d", t);
    PERSISTENCY_INPUT in = input("HSM0000000000042", id);
    STO_SEOBJ_LIST l;
    ASSERT_EQ(Sto_LoadObjectList(&in, &l), 0u);
  }
  // Every list is still correct (the cache is checked against the files).
  for (int t = 0; t < 11; ++t) {
    char id[16];
    std::snprintf(id, sizeof id, "T%d", t);
    PERSISTENCY_INPUT in = input("HSM0000000000042", id);
    STO_SEOBJ_LIST l;
    ASSERT_EQ(Sto_LoadObjectList(&in, &l), 0u);
    EXPECT_EQ(l.ObjNum, 0u);
  }
}

TEST_F(Store, CreateTokenStorageDeleteListAndDirectory) {
  ASSERT_EQ(Sto_CreateTokenStorage(&in_), 0u);
  EXPECT_EQ(zt::read_file(dir() + "objlist.cfg").size(), 40968u);
  uint32_t idx = 0;
  ASSERT_EQ(create("o", "a", &idx), 0u);
  EXPECT_EQ(load().ObjNum, 1u);
  ASSERT_EQ(Sto_CreateTokenStorage(&in_), 0u);  // replaces the list; the cached one goes stale
  EXPECT_EQ(load().ObjNum, 0u);
  ASSERT_EQ(Sto_DeleteObjList(&in_), 0u);
  EXPECT_EQ(Sto_DeleteObjDir(&in_), static_cast<uint32_t>(-1));  // 1.obj is still there
  ASSERT_EQ(std::remove((dir() + "1.obj").c_str()), 0);
  std::remove((dir() + "1.obj.lock").c_str());
  ASSERT_EQ(Sto_DeleteObjDir(&in_), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir()));
}

TEST_F(Store, RootFromConfiguration) {
  std::filesystem::create_directory("objects");
  zt::write_file("sto_filepath.cfg", "tknobj_config_path=./nowhere/\ntknobj_config_path=./objects/\n");
  STO_TKN_OBJECT_CONFIG_PATH cfg{};
  ASSERT_EQ(Sto_Initialize(&cfg), 0u);
  EXPECT_STREQ(sto::root(), "./objects/");
  load();
  EXPECT_TRUE(std::filesystem::exists("./objects/Store/HSM0000000000042/Tkn01/objlist.cfg"));
  zt::write_file("sto_filepath.cfg", "tknobj_config_path=" + std::string(128, 'p') + "\n");
  EXPECT_EQ(Sto_Initialize(&cfg), STO_ERR_TOO_SMALL);
  std::remove("sto_filepath.cfg");
  ASSERT_EQ(Sto_Initialize(&cfg), 0u);
  EXPECT_STREQ(sto::root(), "./");
}

}  // namespace
