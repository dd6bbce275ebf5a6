// PKCS#11 modules side by side, through their function lists: this module,
// Debian's SoftHSMv2 and any other module named on the command line, beside
// the same sequences made directly through the core service (VRK_*).
//
//   bench_p11 [benchmark flags] [--module PATH [--slot N] [--pin PIN] [--name NAME]]...
//
// With no --module, it sets up what it measures in a temporary directory: a
// software HSM with one token for this module and the core, and a SoftHSMv2
// token (SOFTHSM2_CONF) when softhsm2 is installed. A module named on the
// command line is used as it is set up (working directory, environment);
// without --slot it runs on the first slot with a token.
//
// Rows: each row of kModuleRows runs on every module, each row of kCoreRows
// on the core. A new measurement is one function and one line in a table.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <pkcs11/pkcs11.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "zeb/vrk.h"

namespace {

constexpr char kHsmSn[] = "4711000000000042";
constexpr char kAdminPin[] = "bench-admin-pin-1";
constexpr char kUserPin[] = "bench-user-pin-1";
constexpr char kSoftHsm[] = "/usr/lib/softhsm/libsofthsm2.so";

CK_UTF8CHAR_PTR utf8(const std::string& s) { return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(s.data())); }
uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }

// ---- Modules ----------------------------------------------------------------

struct Module {
  std::string name;
  std::string path;
  std::optional<CK_SLOT_ID> slot;
  std::string pin = kUserPin;
  CK_FUNCTION_LIST* f = nullptr;
};

bool load(Module& m) {
  void* h = dlopen(m.path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    std::fprintf(stderr, "bench_p11: cannot load %s: %s\n", m.path.c_str(), dlerror());
    return false;
  }
  auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(h, "C_GetFunctionList"));
  return get != nullptr && get(&m.f) == CKR_OK;
}

// The module initialised for one benchmark run, on its slot.
class Initialised {
 public:
  Initialised(Module& m, benchmark::State& state) : m_(m) {
    ok_ = m.f->C_Initialize(nullptr) == CKR_OK;
    if (ok_ && !m.slot) {
      CK_SLOT_ID slots[16];
      CK_ULONG n = 16;
      ok_ = m.f->C_GetSlotList(CK_TRUE, slots, &n) == CKR_OK && n > 0;
      if (ok_) slot_ = slots[0];
    } else if (ok_) {
      slot_ = *m.slot;
    }
    if (!ok_) state.SkipWithError("module not usable");
  }
  ~Initialised() {
    if (ok_) m_.f->C_Finalize(nullptr);
  }
  bool ok() const { return ok_; }
  CK_SLOT_ID slot() const { return slot_; }
  CK_SESSION_HANDLE open(benchmark::State& state) {
    CK_SESSION_HANDLE s = 0;
    if (m_.f->C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &s) != CKR_OK) {
      state.SkipWithError("C_OpenSession failed");
    }
    return s;
  }

 private:
  Module& m_;
  bool ok_ = false;
  CK_SLOT_ID slot_ = 0;
};

void row_session_life(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  for (auto _ : state) {
    CK_SESSION_HANDLE s = 0;
    CK_RV rv = m.f->C_OpenSession(init.slot(), CKF_SERIAL_SESSION, nullptr, nullptr, &s);
    if (rv == CKR_OK) rv = m.f->C_Login(s, CKU_USER, utf8(m.pin), m.pin.size());
    if (rv == CKR_OK) rv = m.f->C_Logout(s);
    if (rv == CKR_OK) rv = m.f->C_CloseSession(s);
    if (rv != CKR_OK) {
      state.SkipWithError("session sequence failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void row_random32(benchmark::State& state, Module& m) {
  Initialised init(m, state);
  if (!init.ok()) return;
  const CK_SESSION_HANDLE s = init.open(state);
  CK_BYTE out[32];
  for (auto _ : state) {
    if (m.f->C_GenerateRandom(s, out, sizeof out) != CKR_OK) {
      state.SkipWithError("C_GenerateRandom failed");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  m.f->C_CloseSession(s);
}

struct ModuleRow {
  const char* name;
  void (*run)(benchmark::State&, Module&);
};

const ModuleRow kModuleRows[] = {
    {"open_login_logout_close", row_session_life},
    {"generate_random_32", row_random32},
};

// ---- The core service, for the same sequences -------------------------------

class Core {
 public:
  explicit Core(benchmark::State& state) {
    uint8_t types[VRK_MAX_LISTED_HSMS] = {};
    uint8_t sns[VRK_MAX_LISTED_HSMS][VRK_SN_LEN] = {};
    uint8_t labels[VRK_MAX_LISTED_HSMS][VRK_LABEL_LEN] = {};
    uint32_t n = 0;
    VRK_TKN_USER_LIST list{};
    ok_ = VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &n) == 0 &&
          n > 0 && VRK_SetHsmSnToLoginConfig(sns[0], types[0]) == 0 && VRK_Initialize(&hsm_) == 0 &&
          VRK_ListTokens(hsm_, &list) == 0 && list.TknNum > 0;
    if (ok_) std::memcpy(token_, list.TknId[0], sizeof token_);
    if (!ok_) state.SkipWithError("core not usable (no software HSM with a token)");
  }
  ~Core() {
    if (hsm_ != 0) VRK_Finalize(hsm_);
  }
  bool ok() const { return ok_; }
  VRK_HANDLE hsm() const { return hsm_; }
  uint8_t* token() { return token_; }

 private:
  bool ok_ = false;
  VRK_HANDLE hsm_ = 0;
  uint8_t token_[VRK_ID_LEN] = {};
};

void core_session_life(benchmark::State& state) {
  Core core(state);
  if (!core.ok()) return;
  const uint32_t len = std::strlen(kUserPin);
  for (auto _ : state) {
    VRK_HANDLE s = 0;
    VRK_RV rv = VRK_OpenTokenSession(core.hsm(), core.token(), &s);
    if (rv == 0) rv = VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), len);
    if (rv == 0) rv = VRK_LogoutTokenNormalUser(s);
    if (rv == 0) rv = VRK_CloseTokenSession(s);
    if (rv != 0) {
      state.SkipWithError("session sequence failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void core_random32(benchmark::State& state) {
  Core core(state);
  if (!core.ok()) return;
  VRK_HANDLE s = 0;
  if (VRK_OpenTokenSession(core.hsm(), core.token(), &s) != 0) return state.SkipWithError("no session");
  uint8_t out[32];
  for (auto _ : state) {
    if (VRK_GenerateRandom(s, sizeof out, out) != 0) {
      state.SkipWithError("VRK_GenerateRandom failed");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  VRK_CloseTokenSession(s);
}

struct CoreRow {
  const char* name;
  void (*run)(benchmark::State&);
};

const CoreRow kCoreRows[] = {
    {"open_login_logout_close", core_session_life},
    {"generate_random_32", core_random32},
};

// ---- Set-up of the default run --------------------------------------------------

int run(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A temporary working directory with a software HSM, one token made through
// the core, and a SoftHSMv2 token beside them; removed at the end.
class Workspace {
 public:
  Workspace() {
    char tmpl[] = "/tmp/zeb-bench-p11-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir_ = tmpl;
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    ready_ = run({"bash", ZEB_NEW_SWHSM, dir_.string(), "--sn", kHsmSn, "--admin-pin", kAdminPin}) == 0 &&
             make_token();
  }
  ~Workspace() {
    if (dir_.empty()) return;
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  bool ready() const { return ready_; }

  // A SoftHSMv2 token under this directory; false when softhsm2 is missing.
  bool softhsm_token() {
    if (access(kSoftHsm, R_OK) != 0) return false;
    std::filesystem::create_directory(dir_ / "softhsm");
    const auto conf = dir_ / "softhsm2.conf";
    std::ofstream(conf) << "directories.tokendir = " << (dir_ / "softhsm").string()
                        << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    return run({"softhsm2-util", "--init-token", "--free", "--label", "zeb-bench", "--so-pin", kUserPin, "--pin",
                kUserPin}) == 0;
  }

 private:
  static bool make_token() {
    uint8_t types[VRK_MAX_LISTED_HSMS] = {};
    uint8_t sns[VRK_MAX_LISTED_HSMS][VRK_SN_LEN] = {};
    uint8_t labels[VRK_MAX_LISTED_HSMS][VRK_LABEL_LEN] = {};
    uint32_t n = 0;
    VRK_HANDLE hsm = 0, s = 0;
    uint8_t id[VRK_ID_LEN] = {};
    bool ok = VRK_ListHSMs(types, reinterpret_cast<VRK_UCHAR**>(sns), reinterpret_cast<VRK_UCHAR**>(labels), &n) == 0 &&
              n > 0 && VRK_SetHsmSnToLoginConfig(sns[0], types[0]) == 0 && VRK_Initialize(&hsm) == 0;
    if (!ok) return false;
    ok = VRK_OpenHsmSession(hsm, &s) == 0 && VRK_LoginHsmAdminByPin(s, u8(kAdminPin), std::strlen(kAdminPin)) == 0 &&
         VRK_CreateTknByPin(s, u8(kUserPin), std::strlen(kUserPin), id) == 0;
    if (s != 0) VRK_CloseHsmSession(s);
    VRK_Finalize(hsm);
    return ok;
  }

  std::filesystem::path dir_, old_;
  bool ready_ = false;
};

std::vector<Module> parse_modules(int argc, char** argv) {
  std::vector<Module> mods;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--module" && has_value) {
      Module m;
      m.path = argv[++i];
      m.name = std::filesystem::path(m.path).stem().string();
      mods.push_back(m);
    } else if (!mods.empty() && a == "--slot" && has_value) {
      mods.back().slot = std::strtoul(argv[++i], nullptr, 0);
    } else if (!mods.empty() && a == "--pin" && has_value) {
      mods.back().pin = argv[++i];
    } else if (!mods.empty() && a == "--name" && has_value) {
      mods.back().name = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [benchmark flags] [--module PATH [--slot N] [--pin PIN] [--name NAME]]...\n",
                   argv[0]);
      std::exit(2);
    }
  }
  return mods;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<Module> modules = parse_modules(argc, argv);
  std::optional<Workspace> ws;
  if (modules.empty()) {
    ws.emplace();
    if (!ws->ready()) {
      std::fprintf(stderr, "bench_p11: cannot set up a software HSM\n");
      return 1;
    }
    modules.push_back(Module{.name = "zebp11", .path = ZEB_P11_MODULE, .slot = {}});
    if (ws->softhsm_token()) modules.push_back(Module{.name = "softhsm2", .path = kSoftHsm, .slot = {}});
  }
  for (auto& m : modules) {
    if (!load(m)) return 1;
  }
  // Row by row, the core first and then each module, so that the figures to
  // compare stand together.
  for (const auto& r : kModuleRows) {
    for (const auto& c : kCoreRows) {
      if (ws && std::strcmp(c.name, r.name) == 0) {
        benchmark::RegisterBenchmark((std::string("vrk/") + c.name).c_str(), c.run)->UseRealTime();
      }
    }
    for (auto& m : modules) {
      benchmark::RegisterBenchmark((m.name + "/" + r.name).c_str(), [&m, run = r.run](benchmark::State& s) {
        run(s, m);
      })->UseRealTime();
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
