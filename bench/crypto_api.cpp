// The core's crypto calls on a software HSM against the bare primitives they
// stand on: ECDSA P-256 sign and verify, RSA-2048 PKCS#1 v1.5 sign,
// AES-256-CBC and SHA-256 over 1 MiB. The difference is the API's overhead
// (object integrity check, key unwrapping, session and operation state).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "quarzel/blockcipher.h"
#include "quarzel/ecc.h"
#include "quarzel/hash.h"
#include "quarzel/rsa.h"

// The core API with plain integer types: its own type header and the
// library's hash header both name NO_HASH_TYPE, so they cannot meet here.
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
int VRK_ImportRawKey(uint32_t hSession, uint8_t* pRawKey, uint32_t u32RawKeyLen, uint8_t ObjKeyType, uint8_t* pObjectID,
                     uint8_t* pObjectLabel, uint8_t ObjType, uint8_t* pKeyObject, uint32_t* pKeyObjectLength);
int VRK_ECGenerateKeyPair(uint32_t hSession, uint8_t EccCurveType, uint8_t* pID, uint8_t* pLabel,
                          uint8_t* pPrivKeyObject, uint32_t* pu32PrivKeyObjectLength, uint8_t* pPubKeyObject,
                          uint32_t* pu32PubKeyObjectLength);
int VRK_ECDSASignSingle(uint32_t hSession, uint8_t* pPrivKeyObject, uint32_t u32PrivKeyObjectLength, uint8_t* pDigest,
                        uint32_t u32DigestLength, uint8_t* pSignature, uint32_t* pu32SignatureLength);
int VRK_ECDSAVerifySingle(uint32_t hSession, uint8_t* pPubKeyObject, uint32_t u32PubKeyObjectLength, uint8_t* pDigest,
                          uint32_t u32DigestLength, uint8_t* pSignature, uint32_t u32SignatureLength);
int VRK_RSAGenerateKeyPair(uint32_t hSession, uint32_t ulRsaModuleSize, uint32_t ulExponent, uint8_t* pID,
                           uint8_t* pLabel, uint8_t* pPrivKeyObject, uint32_t* pu32PrivKeyObjectLength,
                           uint8_t* pPubKeyObject, uint32_t* pu32PubKeyObjectLength);
int VRK_RSASign_PKCS1(uint32_t hSession, uint8_t HashType, uint8_t* pPrivKeyObject, uint32_t u32PrivKeyObjectLength,
                      uint8_t* pDigest, uint32_t u32DataLength, uint8_t* pSignature, uint32_t* pu32SignatureLength);
int VRK_AesInit(uint32_t hSession, uint8_t AESCipherMode, uint8_t Dir, uint8_t Padding, uint8_t* pIV, uint32_t IVLength,
                uint8_t* pKeyObject, uint32_t KeyObjectLength);
int VRK_AesUpdate(uint32_t hSession, uint8_t* pData, uint32_t DataLength, uint8_t* pDataOut, uint32_t* pDataOutLength);
int VRK_AesFinal(uint32_t hSession, uint8_t* pDataOut, uint32_t* pDataOutLength);
int VRK_DigestInit(uint32_t hSession, uint8_t HashType);
int VRK_DigestUpdate(uint32_t hSession, uint8_t* pData, uint32_t DataLength);
int VRK_DigestFinal(uint32_t hSession, uint8_t* pDigest, uint32_t* pu32DigestLength);
}

namespace {

uint8_t* u8(const char* s) { return reinterpret_cast<uint8_t*>(const_cast<char*>(s)); }
constexpr char kSn[] = "HSM0000000000042";
constexpr char kAdminPin[] = "admin-pin";
constexpr char kUserPin[] = "user-pin";
constexpr uint32_t kMiB = 1 << 20;

// A software HSM in a temporary directory with a token user logged in.
class Hsm {
 public:
  Hsm() {
    char tmpl[] = "/tmp/crypto_api_bench_XXXXXX";
    dir_ = mkdtemp(tmpl);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    std::ofstream("sw_hsm_list.txt") << "HSMSn=" << kSn << "\nHSMLabel=bench\nHSMType=1\n";
    std::filesystem::create_directory("SwHsm");
    std::ofstream("SwHsm/HsmAdmin.cfg") << "Pin=" << kAdminPin << "\nPinLen=" << std::strlen(kAdminPin)
                                        << "\nSn=" << kSn
                                        << "\nLabel=bench\nLabelLen=5\nFwVer=1.0.0\nFwVerLen=5\nType=1\nStatus=3\n"
                                           "CurrTknCount=0\nMaxTknCount=4\nCurrLoginFail=0\nMaxLoginFail=3\n"
                                           "Default=\nDefaultLen=0\n";
    uint8_t types[14] = {};
    uint8_t sns[14][16] = {};
    uint8_t labels[14][32] = {};
    uint32_t count = 0;
    ok_ = VRK_ListHSMs(types, reinterpret_cast<uint8_t**>(sns), reinterpret_cast<uint8_t**>(labels), &count) == 0 &&
          count == 1 && VRK_SetHsmSnToLoginConfig(sns[0], types[0]) == 0 && VRK_Initialize(&hsm_) == 0;
    uint32_t admin = 0;
    uint8_t token[16] = {};
    ok_ = ok_ && VRK_OpenHsmSession(hsm_, &admin) == 0 &&
          VRK_LoginHsmAdminByPin(admin, u8(kAdminPin), std::strlen(kAdminPin)) == 0 &&
          VRK_CreateTknByPin(admin, u8(kUserPin), std::strlen(kUserPin), token) == 0 &&
          VRK_CloseHsmSession(admin) == 0 && VRK_OpenTokenSession(hsm_, token, &user_) == 0 &&
          VRK_LoginTokenNormalUserByPin(user_, u8(kUserPin), std::strlen(kUserPin)) == 0;
  }
  ~Hsm() {
    VRK_Finalize(hsm_);
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  bool ok() const { return ok_; }
  uint32_t user() const { return user_; }

 private:
  std::filesystem::path dir_, old_;
  uint32_t hsm_ = 0, user_ = 0;
  bool ok_ = false;
};

void rate(benchmark::State& state) {
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// ---- ECDSA P-256 ----

void BM_Vrk_EcdsaP256Sign(benchmark::State& state) {
  Hsm hsm;
  std::vector<uint8_t> priv(512), pub(512), digest(32, 0x5A), sig(64);
  uint32_t pl = 512, ql = 512;
  if (!hsm.ok() || VRK_ECGenerateKeyPair(hsm.user(), ECC_CRV_NIST_P256, u8("id"), u8("label"), priv.data(), &pl,
                                         pub.data(), &ql) != 0) {
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

void BM_Vrk_EcdsaP256Verify(benchmark::State& state) {
  Hsm hsm;
  std::vector<uint8_t> priv(512), pub(512), digest(32, 0x5A), sig(64);
  uint32_t pl = 512, ql = 512, n = 64;
  if (!hsm.ok() ||
      VRK_ECGenerateKeyPair(hsm.user(), ECC_CRV_NIST_P256, u8("id"), u8("label"), priv.data(), &pl, pub.data(), &ql) !=
          0 ||
      VRK_ECDSASignSingle(hsm.user(), priv.data(), pl, digest.data(), 32, sig.data(), &n) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  for (auto _ : state) {
    if (VRK_ECDSAVerifySingle(hsm.user(), pub.data(), ql, digest.data(), 32, sig.data(), n) != 0) {
      state.SkipWithError("verify");
    }
  }
  rate(state);
}

struct EcKeys {
  ecc_prikey_t d{};
  ecc_pubkey_t q{};
  EcKeys() {
    ecc_prikey_init(&d, ECC_CRV_NIST_P256);
    ecc_pubkey_init(&q, ECC_CRV_NIST_P256);
    (void)ecc_prikey_value_alloc(&d);
    (void)ecc_pubkey_value_alloc(&q);
    (void)ecc_gen_keypair(ECC_CRV_NIST_P256, ECC_KEYGEN_REJECT_SAMPLING, &d, &q);
  }
  ~EcKeys() {
    (void)ecc_prikey_value_free(&d);
    (void)ecc_pubkey_value_free(&q);
  }
};

void BM_Bare_EcdsaP256Sign(benchmark::State& state) {
  EcKeys k;
  uint8_t digest[32] = {0x5A}, r[32], s[32];
  for (auto _ : state) {
    if (ecdsa_sign(&k.d, 32, digest, nullptr, r, s) != 0) state.SkipWithError("sign");
  }
  rate(state);
}

void BM_Bare_EcdsaP256Verify(benchmark::State& state) {
  EcKeys k;
  uint8_t digest[32] = {0x5A}, r[32], s[32];
  (void)ecdsa_sign(&k.d, 32, digest, nullptr, r, s);
  for (auto _ : state) {
    uint32_t v = 0;
    if (ecdsa_verify(&k.q, 32, digest, r, s, &v) != 0 || v != QZ_TRUE) state.SkipWithError("verify");
  }
  rate(state);
}

// ---- RSA-2048 PKCS#1 v1.5 with SHA-256 ----

void BM_Vrk_Rsa2048Sign(benchmark::State& state) {
  Hsm hsm;
  std::vector<uint8_t> priv(4096), pub(2048), data(32, 0x33), sig(256);
  uint32_t pl = 4096, ql = 2048;
  if (!hsm.ok() || VRK_RSAGenerateKeyPair(hsm.user(), 2048, 0x10001, u8("id"), u8("label"), priv.data(), &pl,
                                          pub.data(), &ql) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  for (auto _ : state) {
    uint32_t n = 256;
    if (VRK_RSASign_PKCS1(hsm.user(), HASH_TYPE_SHA2_256, priv.data(), pl, data.data(), 32, sig.data(), &n) != 0) {
      state.SkipWithError("sign");
    }
  }
  rate(state);
}

void BM_Bare_Rsa2048Sign(benchmark::State& state) {
  rsa_prikey_t d{};
  rsa_pubkey_t q{};
  rsa_prikey_init(&d, RSA_SIZE_2048);
  rsa_pubkey_init(&q, RSA_SIZE_2048);
  const uint8_t e[3] = {1, 0, 1};
  if (rsa_prikey_value_alloc(&d, RSA_KEYTYPE_CRTFAST) != 0 || rsa_pubkey_value_alloc(&q) != 0 ||
      rsa_gen_keypair(&d, &q, RSA_KEYTYPE_CRTFAST, 3, e) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  std::vector<uint8_t> data(32, 0x33), digest(32), sig(256);
  for (auto _ : state) {
    hash_ctx_t h;
    uint32_t n = 32;
    if (hash_init(&h, HASH_TYPE_SHA2_256) != 0 || hash_update(&h, 32, data.data()) != 0 ||
        hash_final(&h, &n, digest.data()) != 0 ||
        rsa_rsassa_pkcs1_v1_5_sign(&d, HASH_TYPE_SHA2_256, 32, digest.data(), sig.data()) != 0) {
      state.SkipWithError("sign");
    }
  }
  rsa_prikey_value_free(&d);
  rsa_pubkey_value_free(&q);
  rate(state);
}

// ---- AES-256-CBC and SHA-256 over 1 MiB ----

void BM_Vrk_Aes256Cbc1MiB(benchmark::State& state) {
  Hsm hsm;
  std::vector<uint8_t> key(32, 0x11), obj(256), iv(16, 0x22), in(kMiB, 0x44), out(kMiB + 48);
  uint32_t ol = 256;
  if (!hsm.ok() || VRK_ImportRawKey(hsm.user(), key.data(), 32, 18 /* AES-256 */, u8("id"), u8("label"),
                                    2 /* secret key */, obj.data(), &ol) != 0) {
    state.SkipWithError("set-up");
    return;
  }
  for (auto _ : state) {
    uint32_t a = static_cast<uint32_t>(out.size());
    uint32_t b = 0;
    if (VRK_AesInit(hsm.user(), CIPHER_MODE_CBC, CIPHER_DIR_ENC, 1, iv.data(), 16, obj.data(), ol) != 0 ||
        VRK_AesUpdate(hsm.user(), in.data(), kMiB, out.data(), &a) != 0 ||
        (b = static_cast<uint32_t>(out.size()) - a, VRK_AesFinal(hsm.user(), out.data() + a, &b)) != 0) {
      state.SkipWithError("aes");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void BM_Bare_Aes256Cbc1MiB(benchmark::State& state) {
  std::vector<uint8_t> key(32, 0x11), iv(16, 0x22), in(kMiB, 0x44), out(kMiB);
  for (auto _ : state) {
    blockcipher_ctx_t ctx;
    uint32_t n = kMiB;
    if (blockcipher_init(&ctx, CIPHER_TYPE_AES256, CIPHER_MODE_CBC, CIPHER_DIR_ENC, 32, key.data(), 16, iv.data()) !=
            0 ||
        blockcipher_calc(&ctx, CIPHER_FLAG_IS_FINAL, kMiB, in.data(), &n, out.data()) != 0) {
      state.SkipWithError("aes");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void BM_Vrk_Sha256_1MiB(benchmark::State& state) {
  Hsm hsm;
  if (!hsm.ok()) {
    state.SkipWithError("set-up");
    return;
  }
  std::vector<uint8_t> in(kMiB, 0x44), digest(32);
  for (auto _ : state) {
    uint32_t n = 32;
    if (VRK_DigestInit(hsm.user(), HASH_TYPE_SHA2_256) != 0 || VRK_DigestUpdate(hsm.user(), in.data(), kMiB) != 0 ||
        VRK_DigestFinal(hsm.user(), digest.data(), &n) != 0) {
      state.SkipWithError("digest");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

void BM_Bare_Sha256_1MiB(benchmark::State& state) {
  std::vector<uint8_t> in(kMiB, 0x44), digest(32);
  for (auto _ : state) {
    hash_ctx_t h;
    uint32_t n = 32;
    if (hash_init(&h, HASH_TYPE_SHA2_256) != 0 || hash_update(&h, kMiB, in.data()) != 0 ||
        hash_final(&h, &n, digest.data()) != 0) {
      state.SkipWithError("digest");
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMiB);
}

}  // namespace

BENCHMARK(BM_Bare_EcdsaP256Sign);
BENCHMARK(BM_Vrk_EcdsaP256Sign);
BENCHMARK(BM_Bare_EcdsaP256Verify);
BENCHMARK(BM_Vrk_EcdsaP256Verify);
BENCHMARK(BM_Bare_Rsa2048Sign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vrk_Rsa2048Sign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bare_Aes256Cbc1MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Vrk_Aes256Cbc1MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Bare_Sha256_1MiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Vrk_Sha256_1MiB)->Unit(benchmark::kMicrosecond);
