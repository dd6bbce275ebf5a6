#include <gtest/gtest.h>

#include <vector>

#include <cstring>
#include <algorithm>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

#include "quarzel/port.h"
#include "quarzel/secure.h"
#include "quarzel/testing.h"

namespace {

TEST(ResultWord, PacksModuleFunctionReason) {
  EXPECT_EQ(quarzel_err(QZ_MOD_HASH, 0x05, 0x34), 0x0505FF34u);
  EXPECT_EQ(quarzel_err_core(QZ_MOD_RSA, 0x02, core_err(0x31, QZ_CORE_R_NULL)), 0x04023105u);
}

TEST(Random, OsSourceFillsAndDiffers) {
  uint8_t a[64] = {}, b[64] = {};
  ASSERT_EQ(quarzel_get_random(a, sizeof a), 0u);
  ASSERT_EQ(quarzel_get_random(b, sizeof b), 0u);
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

TEST(Random, SizeZeroWritesNothing) {
  uint8_t a[4] = {1, 2, 3, 4};
  EXPECT_EQ(quarzel_get_random(a, 0), 0u);
  EXPECT_EQ(a[0], 1);
}

TEST(Random, TwoProcessesDrawDifferentBytes) {
  // The old time-seeded generator gave equal bytes to processes started in the
  // same second; the OS source must not.
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
      uint8_t buf[16];
      if (quarzel_get_random(buf, sizeof buf) != 0) _exit(1);
      _exit(write(fds[1], buf, sizeof buf) == 16 ? 0 : 1);
    }
    close(fds[1]);
    char buf[16];
    ASSERT_EQ(read(fds[0], buf, sizeof buf), 16);
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    seen.insert(std::string(buf, 16));
  }
  EXPECT_EQ(seen.size(), 4u);
}

uint32_t scripted(uint8_t* dest, uint32_t size) {
  for (uint32_t i = 0; i < size; ++i) dest[i] = static_cast<uint8_t>(i);
  return 0;
}
uint32_t failing(uint8_t*, uint32_t) { return 1; }

TEST(Random, SeamSubstitutesAndReportsFailure) {
  uint8_t a[4];
  quarzel::testing::set_random_source(scripted);
  EXPECT_EQ(quarzel_get_random(a, 4), 0u);
  EXPECT_EQ(a[3], 3);
  quarzel::testing::set_random_source(failing);
  EXPECT_NE(quarzel_get_random(a, 4), 0u);
  quarzel::testing::set_random_source(nullptr);
  EXPECT_EQ(quarzel_get_random(a, 4), 0u);
}

TEST(Memory, DeallocTwiceIsHarmless) {
  void* p = nullptr;
  ASSERT_EQ(quarzel_mem_alloc(&p, 32), 0u);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(static_cast<uint8_t*>(p)[31], 0);
  EXPECT_EQ(quarzel_mem_dealloc(&p), 0u);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(quarzel_mem_dealloc(&p), 0u);
}

TEST(Memory, ConstantTimeEqual) {
  uint8_t a[5] = {1, 2, 3, 4, 5}, b[5] = {1, 2, 3, 4, 6};
  EXPECT_TRUE(quarzel::ct_equal(a, a, 5));
  EXPECT_FALSE(quarzel::ct_equal(a, b, 5));
  EXPECT_TRUE(quarzel::ct_equal(a, b, 4));
  // Every length across the word steps and their tails, with one bit
  // flipped at each position in turn, and unaligned starts.
  std::vector<uint8_t> x(48), y(48);
  for (size_t i = 0; i < x.size(); ++i) x[i] = y[i] = static_cast<uint8_t>(i * 37 + 1);
  for (size_t off = 0; off < 3; ++off) {
    for (size_t n = 0; n + off <= 40; ++n) {
      EXPECT_TRUE(quarzel::ct_equal(x.data() + off, y.data() + off, n)) << n;
      for (size_t at = 0; at < n; ++at) {
        y[off + at] ^= 0x80;
        EXPECT_FALSE(quarzel::ct_equal(x.data() + off, y.data() + off, n)) << n << " " << at;
        y[off + at] ^= 0x80;
      }
    }
  }
}

TEST(DebugPrint, LineBreaksFollowSixteenBytes) {
  uint8_t d[17] = {};
  auto capture = [&](uint32_t n) {
    testing::internal::CaptureStderr();
    quarzel_debug_print_array("x", d, n, 1);
    return testing::internal::GetCapturedStderr();
  };
  auto count = [](const std::string& s) { return std::count(s.begin(), s.end(), '\n'); };
  EXPECT_EQ(count(capture(16)), 3);  // "\n[x]\n" + one after the bytes
  EXPECT_EQ(count(capture(17)), 4);
  testing::internal::CaptureStderr();
  quarzel_debug_print_array("x", d, 17, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
