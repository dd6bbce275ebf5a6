// The mutex layer over POSIX mutexes.
#include <gtest/gtest.h>

#include <thread>

#include "zeb/sync.h"

namespace {

struct Mutex {
  VRK_VOID_PTR m = nullptr;
  Mutex() { EXPECT_EQ(Sync_CreateMtx(&m), 0u); }
  ~Mutex() {
    if (m != nullptr) (void)Sync_DestroyMtx(m);  // not what this test checks
  }
  uint32_t state() {
    uint32_t s = 99;
    EXPECT_EQ(Sync_GetState_Mtx(m, &s), 0u);
    return s;
  }
};

}  // namespace

TEST(Mutex, LockUnlockAndState) {
  Mutex mx;
  EXPECT_EQ(mx.state(), VRK_MUTEX_UNLOCK);
  ASSERT_EQ(Sync_Lock_Mtx(mx.m), 0u);
  EXPECT_EQ(mx.state(), VRK_MUTEX_LOCK);  // also for the holding thread
  EXPECT_EQ(mx.state(), VRK_MUTEX_LOCK);  // and the query leaves it locked
  ASSERT_EQ(Sync_Unlock_Mtx(mx.m), 0u);
  EXPECT_EQ(mx.state(), VRK_MUTEX_UNLOCK);
}

TEST(Mutex, UnlockOfUnlockedIsHarmless) {
  Mutex mx;
  EXPECT_EQ(Sync_Unlock_Mtx(mx.m), 0u);
  EXPECT_EQ(mx.state(), VRK_MUTEX_UNLOCK);
  EXPECT_EQ(Sync_Lock_Mtx(mx.m), 0u);
  EXPECT_EQ(Sync_Unlock_Mtx(mx.m), 0u);
}

TEST(Mutex, DestroyingALockedMutexIsRefusedAndItStaysUsable) {
  Mutex mx;
  ASSERT_EQ(Sync_Lock_Mtx(mx.m), 0u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Sync_DestroyMtx(mx.m), 16u);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("strerror(rv) = "), std::string::npos);
  EXPECT_EQ(Sync_Unlock_Mtx(mx.m), 0u);
  EXPECT_EQ(Sync_Lock_Mtx(mx.m), 0u);
  EXPECT_EQ(Sync_Unlock_Mtx(mx.m), 0u);
}

TEST(Mutex, ExcludesOtherThreads) {
  Mutex mx;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 2000; ++i) {
      ASSERT_EQ(Sync_Lock_Mtx(mx.m), 0u);
      ++counter;
      ASSERT_EQ(Sync_Unlock_Mtx(mx.m), 0u);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 4000);
}

TEST(Mutex, NullMutexAndSystemSlots) {
  uint32_t s = 0;
  EXPECT_EQ(Sync_DestroyMtx(nullptr), 7u);
  EXPECT_EQ(Sync_Lock_Mtx(nullptr), 7u);
  EXPECT_EQ(Sync_Unlock_Mtx(nullptr), 7u);
  EXPECT_EQ(Sync_GetState_Mtx(nullptr, &s), 7u);
  VRK_VOID_PTR p = reinterpret_cast<VRK_VOID_PTR>(0x1234);
  EXPECT_EQ(Sync_CreateSYSMtx(&p), 0u);
  EXPECT_EQ(p, reinterpret_cast<VRK_VOID_PTR>(0x1234));  // left unwritten
  EXPECT_EQ(Sync_DestroySYSMtx(nullptr), 0u);
  EXPECT_EQ(Sync_LockSYSMtx(nullptr), 0u);
  EXPECT_EQ(Sync_UnlockSYSMtx(nullptr), 0u);
}
