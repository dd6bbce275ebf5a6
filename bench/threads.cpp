// One token used from 1, 2, 4 and 8 threads at once, each thread with a
// session of its own: reading a stored key object (VRK_GetObject) and ECDSA
// P-256 signing with a stored key. Counters: calls per second over all
// threads (items_per_second) and failed calls ("failed", which must stay 0).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "zeb/vrk.h"
#include "zeb/vrk_crypto.h"
#include "zeb/vrk_object.h"

namespace {

constexpr char kSn[] = "HSM0000000000042";
constexpr char kAdminPin[] = "admin-pin-1234";
constexpr char kUserPin[] = "user-pin-5678";
constexpr uint8_t kP256 = 18, kSha256 = 9;

uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }

// An HSM in a temporary directory with one token holding one stored P-256
// private key.
struct Hsm {
  std::filesystem::path dir, old;
  VRK_HANDLE hsm = 0;
  uint8_t token[16] = {};
  uint32_t key_index = 0;
  bool ok = false;

  Hsm() {
    char tmpl[] = "/tmp/zeb-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    dir = tmpl;
    old = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    std::filesystem::create_directory("SwHsm");
    std::ofstream("sw_hsm_list.txt") << "HSMSn=" << kSn << "\nHSMLabel=bench\nHSMType=1\n";
    std::ofstream("SwHsm/HsmAdmin.cfg")
        << "Pin=" << kAdminPin << "\nPinLen=" << std::strlen(kAdminPin) << "\nSn=" << kSn
        << "\nLabel=bench\nLabelLen=5\nFwVer=1.0.0\nFwVerLen=5\nType=1\nStatus=3\nCurrTknCount=0\n"
           "MaxTknCount=4\nCurrLoginFail=0\nMaxLoginFail=10\nDefault=\nDefaultLen=0\n";
    uint8_t sn[16];
    std::memcpy(sn, kSn, 16);
    if (VRK_SetHsmSnToLoginConfig(sn, 1) != 0 || VRK_Initialize(&hsm) != 0) return;
    VRK_HANDLE a = 0;
    if (VRK_OpenHsmSession(hsm, &a) != 0 || VRK_LoginHsmByPin(a, u8(kAdminPin), std::strlen(kAdminPin)) != 0 ||
        VRK_CreateTknByPin(a, u8(kUserPin), std::strlen(kUserPin), token) != 0) {
      return;
    }
    VRK_CloseHsmSession(a);
    const VRK_HANDLE s = session();
    std::vector<uint8_t> priv(512), pub(512);
    uint32_t pl = 512, ql = 512;
    ok = s != 0 && VRK_ECGenerateKeyPair(s, kP256, u8("key"), u8("bench"), priv.data(), &pl, pub.data(), &ql) == 0 &&
         VRK_SaveObject(s, priv.data(), pl, &key_index) == 0;
    VRK_CloseTokenSession(s);
  }
  ~Hsm() {
    if (hsm != 0) VRK_Finalize(hsm);
    if (!dir.empty()) {
      std::filesystem::current_path(old);
      std::filesystem::remove_all(dir);
    }
  }
  VRK_HANDLE session() {
    VRK_HANDLE s = 0;
    if (VRK_OpenTokenSession(hsm, token, &s) != 0 ||
        VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), std::strlen(kUserPin)) != 0) {
      return 0;
    }
    return s;
  }
};

Hsm& hsm() {
  static Hsm h;
  return h;
}

// Per-thread session, opened on the first iteration of each run.
template <class Op>
void run(benchmark::State& state, Op op) {
  static std::mutex m;
  VRK_HANDLE s = 0;
  {
    std::lock_guard<std::mutex> g(m);
    if (!hsm().ok) {
      state.SkipWithError("no HSM");
      return;
    }
    s = hsm().session();
  }
  std::vector<uint8_t> obj(512);
  uint32_t len = static_cast<uint32_t>(obj.size());
  if (s == 0 || VRK_GetObject(s, hsm().key_index, obj.data(), &len) != 0) {
    state.SkipWithError("no session");
    return;
  }
  obj.resize(len);
  int64_t failed = 0;
  for (auto _ : state) failed += op(s, obj) != 0;
  state.SetItemsProcessed(state.iterations());
  state.counters["failed"] = static_cast<double>(failed);
  std::lock_guard<std::mutex> g(m);
  VRK_CloseTokenSession(s);
}

void BM_GetObject(benchmark::State& state) {
  run(state, [](VRK_HANDLE s, std::vector<uint8_t>&) {
    uint8_t buf[512];
    uint32_t len = sizeof buf;
    return VRK_GetObject(s, hsm().key_index, buf, &len);
  });
}

void BM_EcdsaSignStoredKey(benchmark::State& state) {
  run(state, [](VRK_HANDLE s, std::vector<uint8_t>& key) {
    uint8_t msg[32] = {1, 2, 3}, sig[64];
    uint32_t n = sizeof sig;
    const int rv = VRK_ECDSASignInit(s, kSha256, key.data(), static_cast<uint32_t>(key.size()));
    return rv != 0 ? rv : VRK_ECDSASign(s, msg, sizeof msg, sig, &n);
  });
}

}  // namespace

BENCHMARK(BM_GetObject)->ThreadRange(1, 8)->UseRealTime();
BENCHMARK(BM_EcdsaSignStoredKey)->ThreadRange(1, 8)->UseRealTime();
