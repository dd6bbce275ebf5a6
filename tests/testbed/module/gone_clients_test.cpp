// The module on the secure-element test bed, as clients see it (libzebp11.so
// loaded with dlopen): processes that end in the middle of their work, by a
// kill or an exit without C_CloseSession or C_Finalize, leave the device
// neither half a key pair nor sessions that later clients would miss.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/p11_module.h"

namespace zt {
namespace {

// P11Test on the test bed: the device on 127.0.0.1:5566, the module's HSM.
class OnTestbed : public P11Test {
 protected:
  void SetUp() override {
    setenv("ZEB_TESTBED", SE_TESTBED_PATH, 1);
    P11Test::SetUp();
  }
};

// In a child: initialise, open a session and log the user in; exits with a
// code naming the step that failed.
CK_SESSION_HANDLE child_session(CK_FUNCTION_LIST_3_0* p11) {
  if (p11->C_Initialize(nullptr) != CKR_OK) _exit(2);
  CK_SESSION_HANDLE s = 0;
  if (p11->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s) != CKR_OK) _exit(3);
  if (p11->C_Login(s, CKU_USER, p11_bytes(kP11UserPin), sizeof kP11UserPin - 1) != CKR_OK) _exit(4);
  return s;
}

// A token EC P-256 pair whose keys carry CKA_ID `id`.
CK_RV generate_pair(CK_FUNCTION_LIST_3_0* p11, CK_SESSION_HANDLE s, const std::string& id) {
  static CK_BYTE p256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  CK_BBOOL yes = CK_TRUE;
  std::string idv = id;
  CK_ATTRIBUTE pub[] = {{CKA_EC_PARAMS, p256, sizeof p256},
                        {CKA_TOKEN, &yes, sizeof yes},
                        {CKA_ID, idv.data(), idv.size()}};
  CK_ATTRIBUTE priv[] = {{CKA_TOKEN, &yes, sizeof yes}, {CKA_ID, idv.data(), idv.size()}};
  CK_MECHANISM m{CKM_EC_KEY_PAIR_GEN, nullptr, 0};
  CK_OBJECT_HANDLE hpub = 0, hpriv = 0;
  return p11->C_GenerateKeyPair(s, &m, pub, 3, priv, 2, &hpub, &hpriv);
}

// Processes generating token key pairs, each killed somewhere in a
// generation (a pair takes about 100 ms on the test bed): afterwards every
// key ID has its private and its public key, and no key is alone.
TEST_F(OnTestbed, NoHalfKeyPairAfterAKill) {
  add_token();
  const int kills = 60;
  std::mt19937 rng(2026);
  for (int k = 0; k < kills; ++k) {
    int done[2];
    ASSERT_EQ(pipe(done), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(done[0]);
      const CK_SESSION_HANDLE s = child_session(p11);
      for (int n = 0;; ++n) {
        char id[16];
        std::snprintf(id, sizeof id, "p%d-%d", k, n);
        if (generate_pair(p11, s, id) != CKR_OK) _exit(5);
        const char one = 1;
        if (write(done[1], &one, 1) != 1) _exit(6);
      }
    }
    close(done[1]);
    // Killed once it has made a pair, 0 to 150 ms into the next.
    char c = 0;
    ASSERT_EQ(read(done[0], &c, 1), 1) << "kill " << k << ": the child made no pair";
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 150000)(rng)));
    kill(pid, SIGKILL);
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(st)) << "kill " << k << ": exit " << WEXITSTATUS(st);
    close(done[0]);
  }
  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s), CKR_OK);
  std::map<std::string, int> by_id;  // +1 per private key, +100 per public key
  for (CK_OBJECT_CLASS cls : {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY}) {
    CK_ATTRIBUTE t{CKA_CLASS, &cls, sizeof cls};
    ASSERT_EQ(p11->C_FindObjectsInit(s, &t, 1), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> found;
    for (;;) {
      CK_OBJECT_HANDLE h[64];
      CK_ULONG n = 0;
      ASSERT_EQ(p11->C_FindObjects(s, h, 64, &n), CKR_OK);
      if (n == 0) break;
      found.insert(found.end(), h, h + n);
    }
    ASSERT_EQ(p11->C_FindObjectsFinal(s), CKR_OK);
    for (CK_OBJECT_HANDLE h : found) {
      char id[16] = {};
      CK_ATTRIBUTE a{CKA_ID, id, sizeof id};
      ASSERT_EQ(p11->C_GetAttributeValue(s, h, &a, 1), CKR_OK);
      by_id[std::string(id, a.ulValueLen)] += cls == CKO_PRIVATE_KEY ? 1 : 100;
    }
  }
  EXPECT_GE(by_id.size(), static_cast<size_t>(kills));
  for (const auto& [id, mark] : by_id) EXPECT_EQ(mark, 101) << id;
}

// More clients than the device has sessions end without closing theirs
// (an exit without C_Finalize, or a kill): the next client opens a session
// and logs in.
TEST_F(OnTestbed, SessionsOfClientsThatEndedWithoutClosingAreFreed) {
  add_token();
  for (int i = 0; i < 24; ++i) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(ready[0]);
      (void)child_session(p11);
      if (i % 2 == 0) _exit(0);  // leaves with its session open
      const char one = 1;
      if (write(ready[1], &one, 1) != 1) _exit(6);
      pause();
      _exit(7);
    }
    close(ready[1]);
    char c = 0;
    if (i % 2 != 0) {
      ASSERT_EQ(read(ready[0], &c, 1), 1) << "client " << i << " opened no session";
      kill(pid, SIGKILL);
    }
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    if (i % 2 == 0) {
      ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << "client " << i << ": " << st;
    }
    close(ready[0]);
  }
  initialize();
  const CK_SESSION_HANDLE s = open();
  EXPECT_EQ(login(s), CKR_OK);
}

}  // namespace
}  // namespace zt
