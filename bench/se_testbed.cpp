// The core's crypto calls on the secure element (HSM type 8, the test bed over
// 127.0.0.1:5566) beside the software HSM (type 1): ECDSA P-256 sign and
// AES-256-CBC over 1 MiB through VRK_*. On type 8 each AES operation is one
// command carrying at most about 4 KiB, so 1 MiB goes as a CBC chain of
// 3,968-byte operations; type 1 runs the same chain and one streamed
// operation. The difference is the wire's cost per command.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/testbed.h"
#include "zeb/vrk.h"
#include "zeb/vrk_crypto.h"

namespace {

uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
constexpr char kSn[] = "HSM0000000000042";
constexpr char kAdminPin[] = "admin-pin";
constexpr char kUserPin[] = "user-pin";
constexpr uint32_t kMiB = 1 << 20;
constexpr uint32_t kChunk = 3968;  // one command's worth on the secure element
constexpr uint8_t kP256 = 18, kAes256 = 3, kCbc = 2, kEnc = 2, kNoPad = 1;

// One HSM of the given type in a temporary directory with a token user
// logged in; type 8 runs the test bed for its lifetime.
class Hsm {
 public:
  explicit Hsm(uint8_t type) {
    char tmpl[] = "/tmp/se_testbed_bench_XXXXXX";
    dir_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    if (!(type == 8 ? start_testbed() : new_swhsm())) return;
    uint8_t types[14] = {};
    uint8_t sns[14][16] = {};
    uint8_t labels[14][32] = {};
    uint32_t count = 0;
    ok_ = VRK_ListHSMs(types, reinterpret_cast<uint8_t**>(sns), reinterpret_cast<uint8_t**>(labels), &count) == 0 &&
          count >= 1 && types[count - 1] == type && VRK_SetHsmSnToLoginConfig(sns[count - 1], type) == 0 &&
          VRK_Initialize(&hsm_) == 0;
    uint32_t admin = 0;
    uint8_t token[16] = {};
    ok_ = ok_ && VRK_OpenHsmSession(hsm_, &admin) == 0 &&
          VRK_LoginHsmAdminByPin(admin, u8(kAdminPin), std::strlen(kAdminPin)) == 0 &&
          VRK_CreateTknByPin(admin, u8(kUserPin), std::strlen(kUserPin), token) == 0 &&
          VRK_CloseHsmSession(admin) == 0 && VRK_OpenTokenSession(hsm_, token, &user_) == 0 &&
          VRK_LoginTokenNormalUserByPin(user_, u8(kUserPin), std::strlen(kUserPin)) == 0;
  }
  ~Hsm() {
    if (hsm_ != 0 || ok_) VRK_Finalize(hsm_);
    testbed_.reset();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  bool ok() const { return ok_; }
  uint32_t user() const { return user_; }

 private:
  // The test bed on the console's port 5566, where the core looks for it.
  bool start_testbed() {
#ifdef ZEB_TESTBED_PATH
    try {
      testbed_ = std::make_unique<zt::Testbed>(ZEB_TESTBED_PATH, (dir_ / "state").string(), 5566,
                                               std::vector<std::string>{"--sn", kSn, "--admin-pin", kAdminPin});
      return true;
    } catch (const std::exception&) {
    }
#endif
    return false;
  }
  bool new_swhsm() {
    const std::string cmd = std::string("bash " ZEB_NEW_SWHSM " . --sn ") + kSn + " --label bench --admin-pin " +
                            kAdminPin + " >/dev/null";
    return std::system(cmd.c_str()) == 0;
  }
  std::filesystem::path dir_, old_;
  std::unique_ptr<zt::Testbed> testbed_;
  uint32_t hsm_ = 0, user_ = 0;
  bool ok_ = false;
};

void rate(benchmark::State& state) {
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_EcdsaP256Sign(benchmark::State& state) {
  Hsm hsm(static_cast<uint8_t>(state.range(0)));
  std::vector<uint8_t> priv(512), pub(512), digest(32, 0x5A), sig(64);
  uint32_t pl = 512, ql = 512;
  if (!hsm.ok() ||
      VRK_ECGenerateKeyPair(hsm.user(), kP256, u8("id"), u8("label"), priv.data(), &pl, pub.data(), &ql) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  for (auto _ : state) {
    uint32_t n = 64;
    if (VRK_ECDSASignSingle(hsm.user(), priv.data(), pl, digest.data(), 32, sig.data(), &n) != 0) {
      state.SkipWithError("sign");
    }
  }
  rate(state);
}

// 1 MiB as a CBC chain of one-command operations (the next IV is the last
// ciphertext block).
void BM_Aes256Cbc1MiB_Chained(benchmark::State& state) {
  Hsm hsm(static_cast<uint8_t>(state.range(0)));
  std::vector<uint8_t> key(256), in(kMiB, 0x42), out(kMiB + 64);
  uint32_t kl = 256;
  if (!hsm.ok() || VRK_GenerateKey(hsm.user(), kAes256, u8("id"), u8("label"), key.data(), &kl) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  for (auto _ : state) {
    uint8_t iv[16] = {};
    for (uint32_t at = 0; at < kMiB; at += kChunk) {
      const uint32_t n = std::min(kChunk, kMiB - at);
      uint32_t a = n, b = n + 32;
      if (VRK_AesInit(hsm.user(), kCbc, kEnc, kNoPad, iv, 16, key.data(), kl) != 0 ||
          VRK_AesUpdate(hsm.user(), in.data() + at, n, out.data() + at, &a) != 0 ||
          VRK_AesFinal(hsm.user(), out.data() + at + a, &b) != 0 || a + b != n) {
        state.SkipWithError("aes");
        return;
      }
      std::memcpy(iv, out.data() + at + n - 16, 16);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

// 1 MiB in one update: the secure element takes it in request-sized AES
// commands chained on the host.
void BM_Aes256Cbc1MiB_Streamed(benchmark::State& state) {
  Hsm hsm(static_cast<uint8_t>(state.range(0)));
  std::vector<uint8_t> key(256), in(kMiB, 0x42), out(kMiB + 64);
  uint32_t kl = 256;
  if (!hsm.ok() || VRK_GenerateKey(hsm.user(), kAes256, u8("id"), u8("label"), key.data(), &kl) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  uint8_t iv[16] = {};
  for (auto _ : state) {
    uint32_t a = kMiB, b = 64;
    if (VRK_AesInit(hsm.user(), kCbc, kEnc, kNoPad, iv, 16, key.data(), kl) != 0 ||
        VRK_AesUpdate(hsm.user(), in.data(), kMiB, out.data(), &a) != 0 ||
        VRK_AesFinal(hsm.user(), out.data() + a, &b) != 0) {
      state.SkipWithError("aes");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

}  // namespace

// Argument: the HSM type (1 software, 8 the test bed).
BENCHMARK(BM_EcdsaP256Sign)->Arg(1)->Arg(8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Aes256Cbc1MiB_Chained)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Aes256Cbc1MiB_Streamed)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);
