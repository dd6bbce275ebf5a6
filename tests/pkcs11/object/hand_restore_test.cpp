// A token's configuration file restored by hand while a process keeps a
// logged-in session: what that process stores afterwards is readable by
// every other process.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "pkcs11/object/object_fixture.h"

namespace zt {
namespace {

class HandRestore : public P11Test {};

// A child process that waits for the word to go. Gone out of scope without
// it (a failed assertion), the child ends unused and is waited for.
struct Child {
  pid_t pid = -1;
  int go = -1;
  ~Child() { (void)wait(false); }
  // Tells it to go and waits for it: its exit status, or -1.
  int finish() { return wait(true); }

 private:
  int wait(bool tell) {
    if (go >= 0) {
      if (tell) (void)!write(go, "g", 1);
      close(go);
      go = -1;
    }
    int st = -1;
    const bool reaped = pid > 0 && waitpid(pid, &st, 0) == pid;
    pid = -1;
    return reaped && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
};

// `cp -p` of another token's file over the first token's: the same file
// rewritten in place and its times set from the source, with nothing of the
// module told. The keys of the other token are the first token's from then on.
TEST_F(HandRestore, ObjectStoredAfterACopyOverTheTokenFileIsReadByAnotherProcess) {
  const std::string first = add_token();  // slot 0
  const std::string second = add_token();
  const Bytes payload = b("stored after the restore");

  // The reader: forked before this process starts the module, it starts it
  // itself once told, with no copy of anything from before the restore.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  Child reader;
  reader.go = go[1];
  reader.pid = fork();
  if (reader.pid == 0) {
    close(go[1]);
    char c = 0;
    if (read(go[0], &c, 1) != 1) _exit(10);
    if (p11->C_Initialize(nullptr) != CKR_OK) _exit(11);
    CK_SESSION_HANDLE s = 0;
    if (p11->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &s) != CKR_OK) _exit(12);
    if (p11->C_Login(s, CKU_USER, p11_bytes(kP11UserPin), sizeof kP11UserPin - 1) != CKR_OK) _exit(13);
    Tmpl t;
    t.text(CKA_LABEL, "after");
    CK_OBJECT_HANDLE h[2] = {};
    CK_ULONG n = 0;
    CK_RV rv = p11->C_FindObjectsInit(s, t.attrs(), t.count());
    if (rv == CKR_OK) rv = p11->C_FindObjects(s, h, 2, &n);
    if (rv != CKR_OK) {
      std::fprintf(stderr, "reader: find: 0x%lx\n", rv);
      _exit(14);
    }
    if (n != 1) _exit(15);
    Bytes value(payload.size() + 8);
    CK_ATTRIBUTE a{CKA_VALUE, value.data(), value.size()};
    rv = p11->C_GetAttributeValue(s, h[0], &a, 1);
    if (rv != CKR_OK) {
      std::fprintf(stderr, "reader: read: 0x%lx\n", rv);
      _exit(16);
    }
    value.resize(a.ulValueLen);
    if (value != payload) _exit(17);
    _exit(p11->C_Finalize(nullptr) == CKR_OK ? 0 : 18);
  }
  close(go[0]);
  ASSERT_GT(reader.pid, 0);

  initialize();
  const CK_SESSION_HANDLE s = open();
  ASSERT_EQ(login(s), CKR_OK);
  // A session object: the session now holds its token's keys.
  Tmpl before = data_object("before", b("stored before the restore"));
  CK_OBJECT_HANDLE h = CK_INVALID_HANDLE;
  ASSERT_EQ(p11->C_CreateObject(s, before.attrs(), before.count(), &h), CKR_OK);

  std::string out;
  ASSERT_EQ(run_program({"cp", "-p", "SwHsm/" + second + "/TknUser.cfg", "SwHsm/" + first + "/TknUser.cfg"}, &out), 0)
      << out;
  usleep(3000);  // past the period the module trusts its last look at the token files for
  Tmpl after = data_object("after", payload, true);
  ASSERT_EQ(p11->C_CreateObject(s, after.attrs(), after.count(), &h), CKR_OK);

  EXPECT_EQ(reader.finish(), 0) << "the reader's step that failed (see its output)";
}

}  // namespace
}  // namespace zt
