// The core's crypto calls on the secure element (HSM type 8, the test bed over
// 127.0.0.1:5566) beside the software HSM (type 1): ECDSA P-256 sign and
// AES-256-CBC over 1 MiB through VRK_*. On type 8 each AES operation is one
// command carrying at most about 4 KiB, so 1 MiB goes as a CBC chain of
// 3,968-byte operations; type 1 runs the same chain and one streamed
// operation. The difference is the wire's cost per command.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
uint32_t VRK_ListHSMs(uint8_t* pHsmType, uint8_t** ppHsmSnList, uint8_t** ppHsmLabelList, uint32_t* pulCount);
uint32_t VRK_SetHsmSnToLoginConfig(uint8_t* sn, uint8_t hsmtype);
uint32_t VRK_Initialize(uint32_t* phHsm);
uint32_t VRK_Finalize(uint32_t hHsm);
uint32_t VRK_OpenHsmSession(uint32_t hHsm, uint32_t* phHsmSession);
uint32_t VRK_CloseHsmSession(uint32_t hHsmSession);
uint32_t VRK_LoginHsmAdminByPin(uint32_t hHsmSession, uint8_t* pPin, uint32_t u32PinLen);
uint32_t VRK_CreateTknByPin(uint32_t hHsmSession, uint8_t* pTknPin, uint32_t u32TknPinLen, uint8_t* pTknId);
uint32_t VRK_OpenTokenSession(uint32_t hHsm, uint8_t* pTokenID, uint32_t* phSession);
uint32_t VRK_LoginTokenNormalUserByPin(uint32_t hSession, uint8_t* pPin, uint32_t u32PinLen);
int VRK_ECGenerateKeyPair(uint32_t hSession, uint8_t EccCurveType, uint8_t* pID, uint8_t* pLabel,
                          uint8_t* pPrivKeyObject, uint32_t* pu32PrivKeyObjectLength, uint8_t* pPubKeyObject,
                          uint32_t* pu32PubKeyObjectLength);
int VRK_ECDSASignSingle(uint32_t hSession, uint8_t* pPrivKeyObject, uint32_t u32PrivKeyObjectLength, uint8_t* pDigest,
                        uint32_t u32DigestLength, uint8_t* pSignature, uint32_t* pu32SignatureLength);
int VRK_GenerateKey(uint32_t hSession, uint8_t AESCipherType, uint8_t* pID, uint8_t* pLabel, uint8_t* pKeyObject,
                    uint32_t* pKeyObjectLength);
int VRK_AesInit(uint32_t hSession, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV, uint32_t IVLength,
                uint8_t* pKeyObject, uint32_t KeyObjectLength);
int VRK_AesUpdate(uint32_t hSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut, uint32_t* pDataOutLength);
int VRK_AesFinal(uint32_t hSession, uint8_t* pDataOut, uint32_t* pDataOutLength);
}

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
    if (type == 8) {
      if (!start_testbed()) return;
    } else {
      std::ofstream("sw_hsm_list.txt") << "HSMSn=" << kSn << "\nHSMLabel=bench\nHSMType=1\n";
      std::filesystem::create_directory("SwHsm");
      std::ofstream("SwHsm/HsmAdmin.cfg") << "Pin=" << kAdminPin << "\nPinLen=" << std::strlen(kAdminPin)
                                          << "\nSn=" << kSn
                                          << "\nLabel=bench\nLabelLen=5\nFwVer=1.0.0\nFwVerLen=5\nType=1\nStatus=3\n"
                                             "CurrTknCount=0\nMaxTknCount=4\nCurrLoginFail=0\nMaxLoginFail=3\n"
                                             "Default=\nDefaultLen=0\n";
    }
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
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  bool ok() const { return ok_; }
  uint32_t user() const { return user_; }

 private:
  bool start_testbed() {
#ifdef ZEB_TESTBED_PATH
    const std::string ready = (dir_ / "ready").string();
    pid_ = fork();
    if (pid_ == 0) {
      execl(ZEB_TESTBED_PATH, ZEB_TESTBED_PATH, "--state", (dir_ / "state").c_str(), "--sn", kSn, "--admin-pin",
            kAdminPin, "--ready-file", ready.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; pid_ > 0 && i < 1000; ++i) {
      if (std::filesystem::exists(ready)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
#endif
    return false;
  }
  std::filesystem::path dir_, old_;
  pid_t pid_ = -1;
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
