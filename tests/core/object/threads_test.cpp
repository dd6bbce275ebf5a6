// Threads of one process on one token, each with a session of its own, as a
// web server's workers use the module: no call fails, nothing is lost, and
// a session closed by one thread fails cleanly in another.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/object/object_fixture.h"
#include "zeb/vrk_crypto.h"

namespace zt {
namespace {

constexpr uint8_t kP256 = 18, kAes256 = 3, kCbc = 2, kEnc = 2, kNoPad = 1, kSha256 = 9;

// The whole round of one worker; the first failing step's name, or "".
std::string round(VRK_HANDLE hsm, std::vector<uint8_t>& token, int t, int i) {
  VRK_HANDLE s = 0;
  if (VRK_OpenTokenSession(hsm, token.data(), &s) != 0) return "open";
  struct Closer {
    VRK_HANDLE s;
    ~Closer() { VRK_CloseTokenSession(s); }
  } closer{s};
  if (VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), len(kUserPin)) != 0) return "login";
  const std::string id = "t" + std::to_string(t) + "-" + std::to_string(i);
  Bytes priv(512), pub(512), key(256);
  uint32_t pl = 512, ql = 512, kl = 256;
  if (VRK_ECGenerateKeyPair(s, kP256, u8(id.c_str()), u8("thr"), priv.data(), &pl, pub.data(), &ql) != 0) return "ec";
  if (VRK_GenerateKey(s, kAes256, u8(id.c_str()), u8("thr"), key.data(), &kl) != 0) return "aes key";
  const Bytes msg(32, static_cast<uint8_t>(t));
  Bytes sig(64), iv(16, 7), ct(64);
  uint32_t sl = 64, a = 64, b = 64;
  if (VRK_ECDSASignInit(s, kSha256, priv.data(), pl) != 0 ||
      VRK_ECDSASign(s, const_cast<uint8_t*>(msg.data()), 32, sig.data(), &sl) != 0) {
    return "sign";
  }
  if (VRK_AesInit(s, kCbc, kEnc, kNoPad, iv.data(), 16, key.data(), kl) != 0 ||
      VRK_AesUpdate(s, const_cast<uint8_t*>(msg.data()), 32, ct.data(), &a) != 0 ||
      VRK_AesFinal(s, ct.data() + a, &b) != 0) {
    return "encrypt";
  }
  uint32_t idx = 0;
  if (VRK_SaveObject(s, priv.data(), pl, &idx) != 0) return "save";
  Bytes back(pl + 64);
  uint32_t bl = static_cast<uint32_t>(back.size());
  if (VRK_GetObject(s, idx, back.data(), &bl) != 0 || bl != pl) return "read";
  // The stored key signs after its round trip through the store.
  sl = 64;
  if (VRK_ECDSASignInit(s, kSha256, back.data(), bl) != 0 ||
      VRK_ECDSASign(s, const_cast<uint8_t*>(msg.data()), 32, sig.data(), &sl) != 0) {
    return "sign stored";
  }
  uint32_t found = 0;
  if (VRK_FindObjectsID(s, VRK_OBJ_PRIVATEKEY, VRK_KEY_EC_NIST256, u8(id.c_str()), &found) != 0 || found != idx) {
    return "find";
  }
  if (VRK_DeleteObject(s, idx) != 0) return "delete";
  return "";
}

TEST_F(ObjectHsm, EightThreadsEachWithASessionDoEverythingAtOnce) {
  constexpr int kThreads = 8, kRounds = 3;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds && failures[t].empty(); ++i) failures[t] = round(hsm, tkn, t, i);
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
  // Nothing of theirs is left in the store.
  uint32_t found = 0;
  EXPECT_NE(VRK_FindObjectsID(s, VRK_OBJ_PRIVATEKEY, VRK_KEY_EC_NIST256, u8("t0-0"), &found), 0);
}

TEST_F(ObjectHsm, ThreadsReadingStoredKeysNeverFail) {
  // Readers of the token's files share them: concurrent reads never fail.
  Bytes priv(512), pub(512);
  uint32_t pl = 512, ql = 512;
  ASSERT_EQ(VRK_ECGenerateKeyPair(s, kP256, u8("shared"), u8("thr"), priv.data(), &pl, pub.data(), &ql), 0);
  uint32_t idx = 0;
  ASSERT_EQ(VRK_SaveObject(s, priv.data(), pl, &idx), 0);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      VRK_HANDLE mine = user_session(tkn);
      for (int i = 0; i < 100; ++i) {
        Bytes back(pl + 64);
        uint32_t bl = static_cast<uint32_t>(back.size());
        if (VRK_GetObject(mine, idx, back.data(), &bl) != 0) ++failed;
      }
      VRK_CloseTokenSession(mine);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failed.load(), 0);
}

TEST_F(ObjectHsm, ThreadsCallingOnASessionAnotherThreadClosesFailCleanly) {
  // Calls race a close of their session: each either completes or reports
  // the session gone, and never works on a wiped context.
  for (int k = 0; k < 20; ++k) {
    VRK_HANDLE victim = user_session(tkn);
    std::atomic<bool> go{false};
    std::atomic<int> odd{0};
    std::thread caller([&] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < 50; ++i) {
        Bytes key(256);
        uint32_t kl = 256;
        const int rv = VRK_GenerateKey(victim, kAes256, u8("v"), u8("v"), key.data(), &kl);
        if (rv != 0 && rv != static_cast<int>(VRK_ERR_SESSION_HANDLE)) ++odd;
        uint8_t rnd[16];
        const int r2 = VRK_GenerateRandom(victim, sizeof rnd, rnd);
        if (r2 != 0 && r2 != static_cast<int>(VRK_ERR_SESSION_HANDLE)) ++odd;
      }
    });
    go = true;
    std::this_thread::sleep_for(std::chrono::microseconds(50 * k));
    EXPECT_EQ(VRK_CloseTokenSession(victim), 0u);
    caller.join();
    EXPECT_EQ(odd.load(), 0);
  }
}

}  // namespace
}  // namespace zt
