// Objects on the software HSM: token objects saved, read back and deleted
// with 10 and with 500 objects in the token, and session objects cached and
// destroyed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "zeb/vrk.h"
#include "zeb/vrk_object.h"

namespace {

constexpr char kSn[] = "HSM0000000000042";
constexpr char kAdminPin[] = "admin-pin-1234";
constexpr char kUserPin[] = "user-pin-5678";

uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }

// An HSM in a temporary directory; one token (with a logged-in user) per
// fill level.
struct Hsm {
  std::filesystem::path dir, old;
  VRK_HANDLE hsm = 0;
  bool ok = false;
  std::map<int64_t, VRK_HANDLE> users;

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
    ok = VRK_SetHsmSnToLoginConfig(sn, 1) == 0 && VRK_Initialize(&hsm) == 0;
  }
  ~Hsm() {
    if (ok) VRK_Finalize(hsm);
    if (!dir.empty()) {
      std::filesystem::current_path(old);
      std::filesystem::remove_all(dir);
    }
  }

  // A user session on a token that holds `fill` objects.
  VRK_HANDLE user(int64_t fill) {
    if (auto it = users.find(fill); it != users.end()) return it->second;
    VRK_HANDLE a = 0, s = 0;
    uint8_t token[16] = {};
    if (VRK_OpenHsmSession(hsm, &a) != 0 || VRK_LoginHsmByPin(a, u8(kAdminPin), std::strlen(kAdminPin)) != 0 ||
        VRK_CreateTknByPin(a, u8(kUserPin), std::strlen(kUserPin), token) != 0) {
      return 0;
    }
    VRK_CloseHsmSession(a);
    if (VRK_OpenTokenSession(hsm, token, &s) != 0 ||
        VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), std::strlen(kUserPin)) != 0) {
      return 0;
    }
    std::vector<uint8_t> obj = key_object(s, "filler");
    for (int64_t i = 0; i < fill; ++i) {
      uint32_t idx = 0;
      if (VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx) != 0) return 0;
    }
    users[fill] = s;
    return s;
  }

  // An AES-256 key object under the session key.
  static std::vector<uint8_t> key_object(VRK_HANDLE s, const char* id) {
    uint8_t raw[32];
    for (int i = 0; i < 32; ++i) raw[i] = static_cast<uint8_t>(i * 13 + 1);
    std::vector<uint8_t> obj(160);
    uint32_t len = 160;
    if (VRK_Import_RAW_AES256_Key(s, raw, 32, u8(id), u8("bench key"), obj.data(), &len) != 0) obj.clear();
    return obj;
  }
};

Hsm& hsm() {
  static Hsm h;
  return h;
}

VRK_HANDLE setup(benchmark::State& state) {
  if (!hsm().ok) {
    state.SkipWithError("HSM start-up failed");
    return 0;
  }
  const VRK_HANDLE s = hsm().user(state.range(0));
  if (s == 0) state.SkipWithError("token set-up failed");
  return s;
}

void BM_TokenObjectSave(benchmark::State& state) {
  const VRK_HANDLE s = setup(state);
  if (s == 0) return;
  std::vector<uint8_t> obj = Hsm::key_object(s, "saved");
  for (auto _ : state) {
    uint32_t idx = 0;
    if (VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx) != 0) {
      state.SkipWithError("save failed");
      break;
    }
    state.PauseTiming();
    VRK_DeleteObject(s, idx);  // keep the token at its fill level
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_TokenObjectRead(benchmark::State& state) {
  const VRK_HANDLE s = setup(state);
  if (s == 0) return;
  std::vector<uint8_t> obj = Hsm::key_object(s, "read");
  uint32_t idx = 0;
  if (VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx) != 0) {
    state.SkipWithError("save failed");
    return;
  }
  std::vector<uint8_t> out(obj.size());
  for (auto _ : state) {
    uint32_t len = static_cast<uint32_t>(out.size());
    if (VRK_GetObject(s, idx, out.data(), &len) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  VRK_DeleteObject(s, idx);
  state.SetItemsProcessed(state.iterations());
}

void BM_TokenObjectDelete(benchmark::State& state) {
  const VRK_HANDLE s = setup(state);
  if (s == 0) return;
  std::vector<uint8_t> obj = Hsm::key_object(s, "deleted");
  for (auto _ : state) {
    state.PauseTiming();
    uint32_t idx = 0;
    const bool saved = VRK_SaveObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &idx) == 0;
    state.ResumeTiming();
    if (!saved || VRK_DeleteObject(s, idx) != 0) {
      state.SkipWithError("delete failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_SessionObjectCacheDestroy(benchmark::State& state) {
  const VRK_HANDLE s = setup(state);
  if (s == 0) return;
  std::vector<uint8_t> obj = Hsm::key_object(s, "session");
  for (auto _ : state) {
    uint32_t h = 0;
    if (VRK_CacheSessionObject(s, obj.data(), static_cast<uint32_t>(obj.size()), &h) != 0 ||
        VRK_DeleteSessionObject(s, h) != 0) {
      state.SkipWithError("session object failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_TokenObjectSave)->Arg(10)->Arg(500)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_TokenObjectRead)->Arg(10)->Arg(500)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_TokenObjectDelete)->Arg(10)->Arg(500)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SessionObjectCacheDestroy)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
