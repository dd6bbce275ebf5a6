// Software HSM: the cost of each file rewrite (atomic: temporary file, fsync,
// rename, directory sync) and of a device-level session round trip.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "swhsm/swd.h"

namespace {

constexpr const char* kSn = "HSM0000000000042";

// A fresh software HSM in a temporary working directory, for one benchmark.
class Workdir {
 public:
  Workdir() {
    char tmpl[] = "/tmp/swhsm_bench_XXXXXX";
    dir_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::filesystem::create_directory("./SwHsm");
    std::ofstream("./SwHsm/HsmAdmin.cfg")
        << "Pin=admin\nPinLen=5\nSn=" << kSn
        << "\nLabel=bench\nLabelLen=5\nFwVer=1\nFwVerLen=1\nType=1\nStatus=3\nCurrTknCount=0\n"
           "MaxTknCount=4\nCurrLoginFail=0\nMaxLoginFail=10\nDefault=\nDefaultLen=0\n";
    (void)SWD_Initialize(reinterpret_cast<uint8_t*>(const_cast<char*>(kSn)), &hsm_);  // a benchmark: setup failures show in the figures
  }
  ~Workdir() {
    (void)SWD_Finalize(hsm_);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  ZEB_DEVICE_HANDLE hsm() const { return hsm_; }

  // Creates a token as administrator: its id and serial number.
  void create_token(uint8_t id[16], uint8_t sn[16]) {
    ZEB_DEVICE_HANDLE a = 0;
    (void)SWD_OpenHsmSession(hsm_, &a);
    (void)SWD_LoginHsmByPin(a, reinterpret_cast<uint8_t*>(const_cast<char*>("admin")), 5);
    (void)SWD_CreateToken(a, id, sn);
    (void)SWD_CloseHsmSession(a);
  }

 private:
  std::filesystem::path dir_, old_;
  ZEB_DEVICE_HANDLE hsm_ = 0;
};

void BM_RewriteHsmAdminCfg(benchmark::State& state) {
  Workdir w;
  HSM_ADMIN_CFG rec{};
  (void)GetHsmAdminCFG(&rec);  // the read is what is timed
  for (auto _ : state) {
    rec.LoginFailCount = static_cast<uint8_t>(rec.LoginFailCount ^ 1);
    if (SetHsmAdminCFG(&rec) != 0) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RewriteHsmAdminCfg)->UseRealTime();

void BM_RewriteTknUserList(benchmark::State& state) {
  Workdir w;
  uint8_t id[16] = {}, sn[16] = {};
  w.create_token(id, sn);
  w.create_token(id, sn);
  ZEB_DEVICE_TKN_USER_LIST list{};
  (void)_swdev_GetTokenUsrList(&list);  // the read is what is timed
  for (auto _ : state) {
    if (_swdev_SetTokenUserList(&list) != 0) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RewriteTknUserList)->UseRealTime();

void BM_RewriteTknUserCfg(benchmark::State& state) {
  Workdir w;
  uint8_t id[16] = {}, sn[16] = {};
  w.create_token(id, sn);
  TKN_USER_CFG cfg{};
  (void)_swdev_GetTokenUserCFG(reinterpret_cast<char*>(id), &cfg);  // the read is what is timed
  for (auto _ : state) {
    cfg.NormalUserLoginFailCount = static_cast<uint8_t>(cfg.NormalUserLoginFailCount ^ 1);
    if (_swdev_SetTokenUserCFG(reinterpret_cast<char*>(id), &cfg) != 0) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RewriteTknUserCfg)->UseRealTime();

void BM_ReadTknUserCfg(benchmark::State& state) {
  Workdir w;
  uint8_t id[16] = {}, sn[16] = {};
  w.create_token(id, sn);
  TKN_USER_CFG cfg{};
  for (auto _ : state) {
    if (_swdev_GetTokenUserCFG(reinterpret_cast<char*>(id), &cfg) != 0) state.SkipWithError("read failed");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadTknUserCfg)->UseRealTime();

// Open a token session, log the user in, log out and close: the device's
// share of the module's C_OpenSession / C_Login / C_Logout / C_CloseSession.
void BM_DeviceSessionLoginRoundTrip(benchmark::State& state) {
  Workdir w;
  uint8_t id[16] = {}, sn[16] = {};
  w.create_token(id, sn);
  for (auto _ : state) {
    ZEB_DEVICE_HANDLE s = 0;
    if (SWD_OpenTokenSession(w.hsm(), id, &s) != 0 || SWD_LoginTokenByPin(s, sn, 16) != 0 ||
        SWD_LogoutToken(s) != 0 || SWD_CloseTokenSession(s) != 0) {
      state.SkipWithError("round trip failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeviceSessionLoginRoundTrip)->UseRealTime();

}  // namespace
