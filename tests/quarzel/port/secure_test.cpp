// The wipe-on-free holders: secrets never go back to the heap or leave the
// stack unwiped, moves hand the buffer over, and a failed allocation is an
// empty holder rather than an exception.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <utility>

#include "quarzel/secure.h"
#include "support/fail_alloc.h"

namespace {

using quarzel::SecretBuffer;

bool all_zero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

TEST(SecretBuffer, StartsZeroedAndIsWipedWhenFreed) {
  auto* b = new SecretBuffer(4096);
  ASSERT_TRUE(b->ok());
  EXPECT_EQ(b->capacity(), 4096u);
  EXPECT_TRUE(all_zero(b->data(), b->capacity()));
  std::memset(b->data(), 0xA5, b->capacity());
  zt::WatchFree watch(b->data(), b->capacity());
  delete b;
  ASSERT_TRUE(watch.freed());
  EXPECT_TRUE(watch.was_zero());
}

TEST(SecretBuffer, ResetWipesAndEmpties) {
  SecretBuffer b(64);
  std::memset(b.data(), 0x5A, 64);
  zt::WatchFree watch(b.data(), 64);
  b.reset();
  ASSERT_TRUE(watch.freed());
  EXPECT_TRUE(watch.was_zero());
  EXPECT_FALSE(b.ok());
  EXPECT_EQ(b.capacity(), 0u);
  b.reset();  // a second release is harmless
}

TEST(SecretBuffer, MoveHandsTheBufferOver) {
  SecretBuffer a(32);
  std::memset(a.data(), 0x11, 32);
  const uint8_t* block = a.data();
  SecretBuffer b(std::move(a));
  EXPECT_FALSE(a.ok());  // NOLINT(bugprone-use-after-move): the moved-from state is the point
  EXPECT_EQ(a.capacity(), 0u);
  EXPECT_EQ(b.data(), block);
  EXPECT_EQ(b.capacity(), 32u);
  EXPECT_EQ(b.data()[31], 0x11);
}

TEST(SecretBuffer, MoveAssignmentWipesTheBufferItReplaces) {
  SecretBuffer old_one(48);
  std::memset(old_one.data(), 0x77, 48);
  SecretBuffer fresh(16);
  const uint8_t* block = fresh.data();
  zt::WatchFree watch(old_one.data(), 48);
  old_one = std::move(fresh);
  ASSERT_TRUE(watch.freed());
  EXPECT_TRUE(watch.was_zero());
  EXPECT_EQ(old_one.data(), block);
  EXPECT_EQ(old_one.capacity(), 16u);
  EXPECT_FALSE(fresh.ok());  // NOLINT(bugprone-use-after-move)
  auto& self = old_one;
  old_one = std::move(self);  // self-move keeps the buffer
  EXPECT_EQ(old_one.data(), block);
}

TEST(SecretBuffer, FailedAllocationGivesAnEmptyHolder) {
  zt::FailAllocations fail(0);
  SecretBuffer b(1024);
  EXPECT_TRUE(fail.fired());
  EXPECT_FALSE(b.ok());
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.capacity(), 0u);
}

TEST(SecretBytes, EveryBlockIsWipedWhenTheVectorGrowsOrDies) {
  auto* v = new quarzel::SecretBytes(100, 0xEE);
  zt::WatchFree grown(v->data(), 100);
  v->resize(10000, 0xEE);  // reallocates: the old block goes back wiped
  ASSERT_TRUE(grown.freed());
  EXPECT_TRUE(grown.was_zero());
  zt::WatchFree last(v->data(), v->size());
  delete v;
  ASSERT_TRUE(last.freed());
  EXPECT_TRUE(last.was_zero());
}

struct Pins {
  uint8_t pin[16];
  uint32_t len;
};

TEST(Wiped, RecordIsZeroedOnCreationAndWipedOnDestruction) {
  alignas(quarzel::Wiped<Pins>) unsigned char storage[sizeof(quarzel::Wiped<Pins>)];
  std::memset(storage, 0xCC, sizeof storage);
  auto* w = new (storage) quarzel::Wiped<Pins>();
  EXPECT_TRUE(all_zero(storage, sizeof storage));
  std::memset(w->pin, 0x31, sizeof w->pin);
  w->len = 16;
  w->~Wiped();
  EXPECT_TRUE(all_zero(storage, sizeof storage));
}

TEST(SecretArray, WipedOnScopeExit) {
  alignas(quarzel::SecretArray<32>) unsigned char storage[sizeof(quarzel::SecretArray<32>)];
  auto* a = new (storage) quarzel::SecretArray<32>();
  std::memset(a->data(), 0x42, a->size());
  a->~SecretArray();
  EXPECT_TRUE(all_zero(storage, sizeof storage));
}

}  // namespace
