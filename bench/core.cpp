// Core service on the software HSM: a token session's life (open, user login,
// logout, close) and the rewrite of "HSM.cfg".
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "quarzel/port.h"
#include "zeb/login_config.h"
#include "zeb/swhsm_services.h"
#include "zeb/vrk.h"

namespace {

// The software store is not part of every build: a stand-in that knows every
// token and holds no objects (the real store replaces it when linked).
uint32_t sto_ok_info(PERSISTENCY_INPUT*, uint8_t*, STO_LAYOUT*, STO_LAYOUT*) { return 0; }
uint32_t sto_ok_layout(PERSISTENCY_INPUT*, STO_LAYOUT*, STO_LAYOUT*) { return 0; }
uint32_t sto_ok_init(STO_TKN_OBJECT_CONFIG_PATH*) { return 0; }
uint32_t sto_ok_in(PERSISTENCY_INPUT*) { return 0; }
uint32_t sto_no_create(PERSISTENCY_INPUT*, uint32_t*, uint8_t*, uint32_t, STO_SEOBJ*) { return 0x54; }
uint32_t sto_no_update(PERSISTENCY_INPUT*, uint32_t, uint8_t*, uint32_t, STO_SEOBJ*) { return 0x54; }
uint32_t sto_ok_delete(PERSISTENCY_INPUT*, uint32_t) { return 0; }
uint32_t sto_no_size(PERSISTENCY_INPUT*, uint32_t, uint32_t*) { return 0x82; }
uint32_t sto_no_get(PERSISTENCY_INPUT*, uint32_t, uint8_t*, uint32_t*) { return 0x82; }
uint32_t sto_ok_list(PERSISTENCY_INPUT*, STO_SEOBJ_LIST* l) {
  std::memset(l, 0, sizeof *l);
  return 0;
}

}  // namespace

extern "C" __attribute__((weak)) const SA_Functions_t swstore_functions = {
    SWStore_FUNCTIONS, sto_ok_info,   sto_ok_layout, sto_ok_init, sto_ok_in,   sto_no_create, sto_no_update,
    sto_ok_delete,     sto_ok_in,     sto_ok_in,     sto_no_size, sto_no_get,  sto_ok_list,   sto_ok_list,
};

namespace {

constexpr char kSn[] = "HSM0000000000042";
constexpr char kAdminPin[] = "admin-pin-1234";
constexpr char kUserPin[] = "user-pin-5678";

uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }

// An HSM in a temporary directory with one token.
struct Hsm {
  std::filesystem::path dir, old;
  VRK_HANDLE hsm = 0;
  uint8_t token[16] = {};
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
    if (VRK_OpenHsmSession(hsm, &a) != 0) return;
    if (VRK_LoginHsmByPin(a, u8(kAdminPin), std::strlen(kAdminPin)) != 0) return;
    if (VRK_CreateTknByPin(a, u8(kUserPin), std::strlen(kUserPin), token) != 0) return;
    VRK_CloseHsmSession(a);
    ok = true;
  }
  ~Hsm() {
    VRK_Finalize(hsm);
    std::filesystem::current_path(old);
    std::filesystem::remove_all(dir);
  }
};

void BM_TokenSessionLoginCycle(benchmark::State& state) {
  Hsm h;
  if (!h.ok) {
    state.SkipWithError("HSM set-up failed");
    return;
  }
  for (auto _ : state) {
    VRK_HANDLE s = 0;
    if (VRK_OpenTokenSession(h.hsm, h.token, &s) != 0 ||
        VRK_LoginTokenNormalUserByPin(s, u8(kUserPin), std::strlen(kUserPin)) != 0 ||
        VRK_LogoutTokenNormalUser(s) != 0 || VRK_CloseTokenSession(s) != 0) {
      state.SkipWithError("cycle failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TokenSessionLoginCycle)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_LoginConfigRewrite(benchmark::State& state) {
  Hsm h;
  if (!h.ok) {
    state.SkipWithError("HSM set-up failed");
    return;
  }
  HSM_LOGIN_CONFIG cfg{};
  if (SwHsm_LoadConfig(&cfg) != 0) {
    state.SkipWithError("no HSM.cfg");
    return;
  }
  for (auto _ : state) {
    if (SwHsm_UpdateVRKLoginConfig(&cfg) != 0) {
      state.SkipWithError("rewrite failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoginConfigRewrite)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
