#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "oxlu/file.h"
#include "support/full_disk.h"
#include "support/lock_holder.h"
#include "support/workdir.h"

namespace {

using FileTest = zt::WorkDirTest;
using zt::LockHolder;

using zt::FullDisk;

std::string read_stream(FILE* f) {
  std::string s;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

TEST_F(FileTest, ReadOfMissingFileFailsAndCreatesNothing) {
  EXPECT_EQ(fopen_safe("./absent.cfg", "r"), nullptr);
  EXPECT_EQ(fopen_safe("./absent.cfg", "rb"), nullptr);
  size_t len = 0;
  char buf[8];
  EXPECT_EQ(oxlu_read_file("./absent.cfg", buf, sizeof buf, &len), OXLU_E_NOENT);
  EXPECT_TRUE(zt::dir_entries().empty());
}

TEST_F(FileTest, WriteStreamCreatesAndReplacesWhole) {
  FILE* f = fopen_safe("./a.cfg", "w");
  ASSERT_NE(f, nullptr);
  fputs("first version, long\n", f);
  ASSERT_EQ(fclose_safe(f), 0);
  EXPECT_EQ(zt::read_file("./a.cfg"), "first version, long\n");

  f = fopen_safe("./a.cfg", "wb");
  ASSERT_NE(f, nullptr);
  fputs("v2\n", f);
  ASSERT_EQ(fclose_safe(f), 0);
  EXPECT_EQ(zt::read_file("./a.cfg"), "v2\n");

  f = fopen_safe("./a.cfg", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(read_stream(f), "v2\n");
  EXPECT_EQ(fclose_safe(f), 0);
  // Only the file and its lock companion remain: no temporary files.
  EXPECT_EQ(zt::dir_entries(), (std::set<std::string>{"a.cfg", "a.cfg.lock"}));
}

TEST_F(FileTest, EmptyWriteStreamLeavesEmptyFile) {
  FILE* f = fopen_safe("./e.cfg", "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fclose_safe(f), 0);
  EXPECT_EQ(zt::read_file("./e.cfg"), "");
}

TEST_F(FileTest, AtomicWriteAndReadRoundTrip) {
  const std::string data("k=v\n\x01\x02\xff", 7);
  ASSERT_EQ(oxlu_write_file_atomic("./b.cfg", data.data(), data.size(), OXLU_PERM_PUBLIC), OXLU_OK);
  char buf[64];
  size_t len = 0;
  ASSERT_EQ(oxlu_read_file("./b.cfg", buf, sizeof buf, &len), OXLU_OK);
  EXPECT_EQ(std::string(buf, len), data);
  EXPECT_EQ(oxlu_read_file("./b.cfg", buf, 6, &len), OXLU_E_TOOBIG);
  ASSERT_EQ(oxlu_read_file("./b.cfg", buf, 7, &len), OXLU_OK);
  EXPECT_EQ(len, 7u);
}

TEST_F(FileTest, SecretFilesAreOwnerOnly) {
  const mode_t old = umask(022);
  ASSERT_EQ(oxlu_write_file_atomic("./s.cfg", "pin", 3, OXLU_PERM_SECRET), OXLU_OK);
  FILE* f = fopen_safe_perm("./t.cfg", "w", OXLU_PERM_SECRET);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(fclose_safe(f), 0);
  ASSERT_EQ(oxlu_write_file_atomic("./p.cfg", "x", 1, OXLU_PERM_PUBLIC), OXLU_OK);
  umask(old);
  struct stat st {};
  ASSERT_EQ(stat("./s.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat("./t.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat("./p.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(FileTest, ReplacementKeepsPermissionsNeverWiderThanAsked) {
  const mode_t old = umask(022);
  ASSERT_EQ(oxlu_write_file_atomic("./k.cfg", "a", 1, OXLU_PERM_PUBLIC), OXLU_OK);
  ASSERT_EQ(chmod("./k.cfg", 0640), 0);  // tightened by an administrator
  FILE* f = fopen_safe("./k.cfg", "w");
  ASSERT_NE(f, nullptr);
  fputs("b", f);
  ASSERT_EQ(fclose_safe(f), 0);
  struct stat st {};
  ASSERT_EQ(stat("./k.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // An old world-readable file that now holds secrets is narrowed.
  ASSERT_EQ(chmod("./k.cfg", 0644), 0);
  ASSERT_EQ(oxlu_write_file_atomic("./k.cfg", "c", 1, OXLU_PERM_SECRET), OXLU_OK);
  ASSERT_EQ(stat("./k.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  umask(old);
  EXPECT_EQ(zt::read_file("./k.cfg"), "c");
}

TEST_F(FileTest, FileHeldByAWriterInAnotherProcessIsBusy) {
  zt::write_file("./c.cfg", "original\n");
  LockHolder holder("./c.cfg", "x");
  ASSERT_TRUE(holder.ok());

  EXPECT_EQ(fopen_safe("./c.cfg", "r"), nullptr);
  EXPECT_EQ(fopen_safe("./c.cfg", "w"), nullptr);
  EXPECT_EQ(oxlu_write_file_atomic("./c.cfg", "new\n", 4, OXLU_PERM_PUBLIC), OXLU_E_BUSY);
  char buf[32];
  size_t len = 0;
  EXPECT_EQ(oxlu_read_file("./c.cfg", buf, sizeof buf, &len), OXLU_E_BUSY);
  EXPECT_EQ(remove_safe("./c.cfg"), -1);
  EXPECT_EQ(zt::read_file("./c.cfg"), "original\n");

  holder.release();
  FILE* f = fopen_safe("./c.cfg", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fclose_safe(f), 0);
}

TEST_F(FileTest, LockStillGuardsAfterReplacement) {
  // The file's inode changes with every rewrite; the lock must follow the
  // name, not the inode.
  ASSERT_EQ(oxlu_write_file_atomic("./d.cfg", "one\n", 4, OXLU_PERM_PUBLIC), OXLU_OK);
  LockHolder holder("./d.cfg", "r");
  ASSERT_TRUE(holder.ok());
  EXPECT_EQ(oxlu_write_file_atomic("./d.cfg", "two\n", 4, OXLU_PERM_PUBLIC), OXLU_E_BUSY);
  holder.release();
  ASSERT_EQ(oxlu_write_file_atomic("./d.cfg", "two\n", 4, OXLU_PERM_PUBLIC), OXLU_OK);

  // A writer in another process holds it while it writes.
  LockHolder writer("./d.cfg", "w");
  ASSERT_TRUE(writer.ok());
  EXPECT_EQ(fopen_safe("./d.cfg", "r"), nullptr);
  writer.release();
  EXPECT_EQ(zt::read_file("./d.cfg"), "");  // the other process wrote nothing
}

TEST_F(FileTest, ReadOnlyDirectoryIsStillReadableUnderLock) {
  std::filesystem::create_directory("./ro");
  zt::write_file("./ro/conf.cfg", "k=v\n");
  ASSERT_EQ(chmod("./ro", 0555), 0);
  FILE* f = fopen_safe("./ro/conf.cfg", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(read_stream(f), "k=v\n");
  if (geteuid() != 0) {  // root writes anywhere; others get no companion here
    EXPECT_EQ(zt::dir_entries("./ro"), (std::set<std::string>{"conf.cfg"}));
    EXPECT_EQ(fopen_safe("./ro/conf.cfg", "r"), nullptr);  // the file itself is locked
  }
  EXPECT_EQ(fclose_safe(f), 0);
  char buf[16];
  size_t len = 0;
  EXPECT_EQ(oxlu_read_file("./ro/conf.cfg", buf, sizeof buf, &len), OXLU_OK);
  EXPECT_EQ(len, 4u);
  ASSERT_EQ(chmod("./ro", 0755), 0);
}

TEST_F(FileTest, FileWhereNoCompanionCanBeMadeLocksItself) {
  // sysfs refuses new files to everyone, root included.
  const char* path = "/sys/kernel/profiling";
  if (::access(path, R_OK) != 0) GTEST_SKIP() << "no " << path << " here";
  FILE* f = fopen_safe(path, "r");
  ASSERT_NE(f, nullptr);
  // Readers share the file's own lock.
  FILE* g = fopen_safe(path, "r");
  EXPECT_NE(g, nullptr);
  if (g != nullptr) {
    EXPECT_EQ(fclose_safe(g), 0);
  }
  char buf[64];
  size_t len = 0;
  EXPECT_EQ(fclose_safe(f), 0);
  EXPECT_EQ(oxlu_read_file(path, buf, sizeof buf, &len), OXLU_OK);
  EXPECT_FALSE(std::filesystem::exists(std::string(path) + ".lock"));
}

TEST_F(FileTest, ReadersShareAFileAndAWriterWaitsForThem) {
  zt::write_file("./f.cfg", "x\n");
  // In one process as in two: readers together, a writer alone.
  FILE* a = fopen_safe("./f.cfg", "r");
  ASSERT_NE(a, nullptr);
  FILE* b = fopen_safe("./f.cfg", "r");
  ASSERT_NE(b, nullptr);
  LockHolder other("./f.cfg", "r");
  EXPECT_TRUE(other.ok());
  EXPECT_EQ(oxlu_write_file_atomic("./f.cfg", "y\n", 2, OXLU_PERM_PUBLIC), OXLU_E_BUSY);
  EXPECT_EQ(fopen_safe("./f.cfg", "w"), nullptr);
  EXPECT_EQ(fclose_safe(a), 0);
  EXPECT_EQ(fclose_safe(b), 0);
  other.release();
  EXPECT_EQ(oxlu_write_file_atomic("./f.cfg", "y\n", 2, OXLU_PERM_PUBLIC), OXLU_OK);
  EXPECT_EQ(zt::read_file("./f.cfg"), "y\n");
}

TEST_F(FileTest, AWriterHeldBrieflyIsWaitedFor) {
  // A writer that lets go within the bounded wait costs a reader time, not
  // a failure.
  zt::write_file("./h.cfg", "old\n");
  std::atomic<bool> held{false};
  std::thread writer([&] {
    oxlu::WriteLock lock;
    ASSERT_EQ(lock.acquire("./h.cfg"), OXLU_OK);
    held = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(OXLU_BUSY_WAIT_MS / 5));
    ASSERT_EQ(lock.write("new\n", 4, OXLU_PERM_PUBLIC), OXLU_OK);
  });
  while (!held) std::this_thread::yield();
  char buf[16];
  size_t len = 0;
  EXPECT_EQ(oxlu_read_file("./h.cfg", buf, sizeof buf, &len), OXLU_OK);
  EXPECT_EQ(std::string(buf, len), "new\n");
  writer.join();
}

TEST_F(FileTest, WriteLockHoldsAcrossReadModifyWrite) {
  // Threads each add one to a counter file under the writer lock: no
  // increment is lost.
  ASSERT_EQ(oxlu_write_file_atomic("./n.cfg", "0", 1, OXLU_PERM_PUBLIC), OXLU_OK);
  constexpr int kThreads = 4, kEach = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        oxlu::WriteLock lock;
        char buf[16] = {};
        size_t len = 0;
        if (lock.acquire("./n.cfg") != OXLU_OK || lock.read(buf, sizeof buf - 1, &len) != OXLU_OK) {
          ++failures;
          continue;
        }
        const std::string next = std::to_string(std::stoi(std::string(buf, len)) + 1);
        if (lock.write(next.data(), next.size(), OXLU_PERM_PUBLIC) != OXLU_OK) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(zt::read_file("./n.cfg"), std::to_string(kThreads * kEach));
}

TEST_F(FileTest, DeadWritersTemporaryFilesAreRemoved) {
  zt::write_file("./a.cfg", "a\n");
  zt::write_file("./a.cfg.tmp.999999.3", "half");   // a writer that died
  zt::write_file("./b.cfg.tmp.999998.0", "half");   // died before its file ever existed
  zt::write_file("./c.cfg.tmp.x.1", "keep");         // not a temporary file of ours
  zt::write_file("./d.tmp.cfg", "keep");
  {
    // A live writer's temporary file stays.
    oxlu::WriteLock lock;
    ASSERT_EQ(lock.acquire("./e.cfg"), OXLU_OK);
    zt::write_file("./e.cfg.tmp.1.1", "live");
    LockHolder holder("./e.cfg", "x");  // busy: another holder cannot have it
    EXPECT_FALSE(holder.ok());
  }
  LockHolder live("./e.cfg", "x");
  ASSERT_TRUE(live.ok());
  EXPECT_EQ(oxlu::remove_dead_temps("."), 2);
  const std::set<std::string> left = zt::dir_entries();
  EXPECT_EQ(left.count("a.cfg.tmp.999999.3"), 0u);
  EXPECT_EQ(left.count("b.cfg.tmp.999998.0"), 0u);
  EXPECT_EQ(left.count("c.cfg.tmp.x.1"), 1u);
  EXPECT_EQ(left.count("d.tmp.cfg"), 1u);
  EXPECT_EQ(left.count("e.cfg.tmp.1.1"), 1u);
  EXPECT_EQ(zt::read_file("./a.cfg"), "a\n");
  live.release();
  EXPECT_EQ(oxlu::remove_dead_temps("."), 1);
}

TEST_F(FileTest, WriteInterruptedMidwayKeepsOldContent) {
  const std::string old_text = "Pin=1234\nLabel=old\n";
  ASSERT_EQ(oxlu_write_file_atomic("./g.cfg", old_text.data(), old_text.size(), OXLU_PERM_SECRET),
            OXLU_OK);
  const std::string new_text(300, 'n');
  {
    FullDisk full(100);  // the temporary file receives 100 bytes, then the disk is full
    EXPECT_EQ(oxlu_write_file_atomic("./g.cfg", new_text.data(), new_text.size(), OXLU_PERM_SECRET),
              OXLU_E_IO);
  }
  EXPECT_EQ(zt::read_file("./g.cfg"), old_text);
  {
    FullDisk full(10);
    FILE* f = fopen_safe("./g.cfg", "w");
    ASSERT_NE(f, nullptr);
    fwrite(new_text.data(), 1, new_text.size(), f);
    EXPECT_EQ(fclose_safe(f), -1);
  }
  EXPECT_EQ(zt::read_file("./g.cfg"), old_text);
  {
    FullDisk full(0);  // nothing at all can be written
    EXPECT_EQ(oxlu_write_file_atomic("./h.cfg", "abc", 3, OXLU_PERM_PUBLIC), OXLU_E_IO);
  }
  EXPECT_FALSE(std::filesystem::exists("./h.cfg"));
  // No temporary file is left behind, and the file is free again.
  for (const auto& e : zt::dir_entries()) EXPECT_EQ(e.find(".tmp."), std::string::npos) << e;
  FILE* f = fopen_safe("./g.cfg", "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(read_stream(f), old_text);
  EXPECT_EQ(fclose_safe(f), 0);
}

TEST_F(FileTest, WriteIntoMissingDirectoryFails) {
  EXPECT_EQ(fopen_safe("./nodir/x.cfg", "w"), nullptr);
  EXPECT_NE(oxlu_write_file_atomic("./nodir/x.cfg", "a", 1, OXLU_PERM_PUBLIC), OXLU_OK);
  EXPECT_FALSE(std::filesystem::exists("./nodir"));
}

TEST_F(FileTest, DirectoriesAndRemoval) {
  EXPECT_EQ(cross_mkdir("./sub"), 0);
  EXPECT_EQ(cross_mkdir("./sub"), -1);
  ASSERT_EQ(oxlu_write_file_atomic("./sub/k.cfg", "a", 1, OXLU_PERM_PUBLIC), OXLU_OK);
  EXPECT_EQ(cross_rmdir("./sub"), -1);  // not empty
  EXPECT_EQ(remove_safe("./sub/k.cfg"), 0);
  EXPECT_TRUE(zt::dir_entries("./sub").empty());  // lock companion gone as well
  EXPECT_EQ(remove_safe("./sub/k.cfg"), -1);
  EXPECT_EQ(cross_rmdir("./sub"), 0);
  EXPECT_EQ(cross_rmdir("./sub"), -1);
}

TEST_F(FileTest, NullArgumentsAreRefused) {
  EXPECT_EQ(fopen_safe(nullptr, "r"), nullptr);
  EXPECT_EQ(fopen_safe("./x", nullptr), nullptr);
  EXPECT_EQ(fclose_safe(nullptr), -1);
  EXPECT_EQ(cross_mkdir(nullptr), -1);
  EXPECT_EQ(cross_rmdir(nullptr), -1);
  EXPECT_EQ(remove_safe(nullptr), -1);
  size_t len;
  EXPECT_EQ(oxlu_write_file_atomic(nullptr, "a", 1, 0600), OXLU_E_ARG);
  EXPECT_EQ(oxlu_write_file_atomic("./x", nullptr, 1, 0600), OXLU_E_ARG);
  EXPECT_EQ(oxlu_read_file("./x", nullptr, 0, nullptr), OXLU_E_ARG);
  EXPECT_EQ(oxlu_read_file(nullptr, nullptr, 0, &len), OXLU_E_ARG);
}

}  // namespace
