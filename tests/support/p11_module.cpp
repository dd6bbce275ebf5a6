#include "support/p11_module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace zt {

int run_program(const std::vector<std::string>& argv, std::string* out) {
  int pipefd[2];
  if (pipe(pipefd) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    dup2(pipefd[1], STDOUT_FILENO);
    close(pipefd[0]);
    close(pipefd[1]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipefd[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char* P11Module::path() { return ZEB_P11_MODULE; }

P11Module::P11Module() {
  handle_ = dlopen(ZEB_P11_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  auto get_interface = reinterpret_cast<CK_C_GetInterface>(dlsym(handle_, "C_GetInterface"));
  auto get_list = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, "C_GetFunctionList"));
  if (get_interface == nullptr || get_list == nullptr) throw std::runtime_error("module entry points missing");
  CK_INTERFACE* iface = nullptr;
  CK_UTF8CHAR name[] = "PKCS 11";
  if (get_interface(name, nullptr, &iface, 0) != CKR_OK || iface == nullptr) {
    throw std::runtime_error("C_GetInterface failed");
  }
  list3_ = static_cast<CK_FUNCTION_LIST_3_0*>(iface->pFunctionList);
  if (get_list(&list2_) != CKR_OK) throw std::runtime_error("C_GetFunctionList failed");
}

P11Module& P11Module::get() {
  static P11Module m;
  return m;
}

void* P11Module::symbol(const char* name) const { return dlsym(handle_, name); }

void p11_set_log_level(int level) {
  auto set = reinterpret_cast<void (*)(int)>(P11Module::get().symbol("ZEBP11_set_log_level"));
  ASSERT_NE(set, nullptr);
  set(level);
}

void make_software_hsm(const std::string& dir) {
  std::string out;
  ASSERT_EQ(run_program({"bash", ZEB_NEW_SWHSM, dir, "--sn", kP11HsmSn, "--label", "test-hsm", "--admin-pin",
                         kP11AdminPin},
                        &out),
            0)
      << out;
}

std::string make_token(const std::string& pin, bool uninitialised) {
  std::vector<std::string> argv = {ZEB_MAKE_TOKEN, kP11AdminPin, pin};
  if (uninitialised) argv.emplace_back("--uninit");
  std::string out;
  EXPECT_EQ(run_program(argv, &out), 0) << out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

void P11Test::SetUp() {
  p11 = P11Module::get().list();
  p11_set_log_level(5);
  if (const char* exe = std::getenv("ZEB_TESTBED"); exe != nullptr && *exe != '\0') {
    testbed = std::make_unique<Testbed>(exe, dir.path() + "/testbed-state", 5566,
                                        std::vector<std::string>{"--sn", kP11HsmSn, "--admin-pin", kP11AdminPin});
  } else {
    make_software_hsm(dir.path());
  }
}

void P11Test::TearDown() {
  CK_INFO info{};
  if (p11 != nullptr && p11->C_GetInfo(&info) != CKR_CRYPTOKI_NOT_INITIALIZED) {
    EXPECT_EQ(p11->C_Finalize(nullptr), CKR_OK);
  }
  testbed.reset();
}

std::string P11Test::add_token(const std::string& pin, bool uninitialised) { return make_token(pin, uninitialised); }

void P11Test::initialize() { ASSERT_EQ(p11->C_Initialize(nullptr), CKR_OK); }

CK_SESSION_HANDLE P11Test::open(CK_SLOT_ID slot, CK_FLAGS flags) {
  CK_SESSION_HANDLE s = CK_INVALID_HANDLE;
  EXPECT_EQ(p11->C_OpenSession(slot, flags, nullptr, nullptr, &s), CKR_OK);
  return s;
}

CK_RV P11Test::login(CK_SESSION_HANDLE s, CK_USER_TYPE who, const std::string& pin) {
  return p11->C_Login(s, who, p11_bytes(pin), pin.size());
}

CK_TOKEN_INFO P11Test::token_info(CK_SLOT_ID slot) {
  CK_TOKEN_INFO info{};
  EXPECT_EQ(p11->C_GetTokenInfo(slot, &info), CKR_OK);
  return info;
}

CK_SESSION_INFO P11Test::session_info(CK_SESSION_HANDLE s) {
  CK_SESSION_INFO info{};
  EXPECT_EQ(p11->C_GetSessionInfo(s, &info), CKR_OK);
  return info;
}

std::string p11_text(const CK_UTF8CHAR* field, size_t width) {
  std::string s(reinterpret_cast<const char*>(field), width);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace zt
