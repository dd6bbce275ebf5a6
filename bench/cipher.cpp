// Block-cipher and GCM throughput on every instruction-set path. Compare with
// `openssl speed -evp aes-256-ctr` (and -cbc, -gcm) at 16 KiB blocks.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "quarzel/aes.h"
#include "quarzel/blockcipher.h"
#include "quarzel/gcm.h"
#include "quarzel/testing.h"

namespace {

constexpr size_t kLen = 16384;
const std::vector<uint8_t> kKey(32, 0x2B);
const std::vector<uint8_t> kIv(16, 0x0F);

// Arg 0: 1 = accelerated path, 0 = portable.
// The AES path of the running benchmark, set by its registration (below), so
// that results read "Aes256Ctr/aesni" rather than a path number.
bool g_portable = false;
bool g_narrow = false;  // GCM rows: the 8-block CLMUL path rather than VAES
void select_path(const benchmark::State&) {
  quarzel::testing::force_portable(quarzel::testing::Path::aes, g_portable);
  quarzel::testing::force_portable(quarzel::testing::Path::gcm_vaes, g_narrow);
}

void run_mode(benchmark::State& state, cipher_type_t type, cipher_mode_t mode, cipher_dir_t dir) {
  select_path(state);
  std::vector<uint8_t> buf(kLen, 0x5A);
  blockcipher_ctx_t ctx;
  const uint32_t key_len = type == CIPHER_TYPE_AES256 ? 32 : type == CIPHER_TYPE_TDES3 ? 24 : 16;
  const uint32_t iv_len = type == CIPHER_TYPE_TDES3 ? 8 : 16;
  if (blockcipher_init(&ctx, type, mode, dir, key_len, kKey.data(), iv_len, kIv.data()) != 0) {
    state.SkipWithError("init failed");
    return;
  }
  for (auto _ : state) {
    uint32_t out_len = kLen;
    if (blockcipher_update(&ctx, kLen, buf.data(), &out_len, buf.data()) != 0) state.SkipWithError("update failed");
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLen));
  quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
  quarzel::testing::force_portable(quarzel::testing::Path::gcm_vaes, false);
}

void BM_Aes256Ctr(benchmark::State& s) { run_mode(s, CIPHER_TYPE_AES256, CIPHER_MODE_CTR, CIPHER_DIR_ENC); }
void BM_Aes256CbcEncrypt(benchmark::State& s) { run_mode(s, CIPHER_TYPE_AES256, CIPHER_MODE_CBC, CIPHER_DIR_ENC); }
void BM_Aes256CbcDecrypt(benchmark::State& s) { run_mode(s, CIPHER_TYPE_AES256, CIPHER_MODE_CBC, CIPHER_DIR_DEC); }
void BM_Aes256Ecb(benchmark::State& s) { run_mode(s, CIPHER_TYPE_AES256, CIPHER_MODE_ECB, CIPHER_DIR_ENC); }
void BM_Aes128Ctr(benchmark::State& s) { run_mode(s, CIPHER_TYPE_AES128, CIPHER_MODE_CTR, CIPHER_DIR_ENC); }
void BM_Aes256Ofb(benchmark::State& s) { run_mode(s, CIPHER_TYPE_AES256, CIPHER_MODE_OFB, CIPHER_DIR_ENC); }
void BM_Tdes3Cbc(benchmark::State& s) { run_mode(s, CIPHER_TYPE_TDES3, CIPHER_MODE_CBC, CIPHER_DIR_ENC); }

void BM_Aes256Gcm(benchmark::State& state) {
  select_path(state);
  std::vector<uint8_t> buf(kLen, 0x5A);
  uint8_t tag[16];
  for (auto _ : state) {
    uint32_t out_len = kLen, tag_len = 16;
    if (gcm_auth_enc_onestep(CIPHER_TYPE_AES256, 32, kKey.data(), 12, kIv.data(), 0, nullptr, kLen, buf.data(),
                             &out_len, buf.data(), &tag_len, tag) != 0) {
      state.SkipWithError("gcm failed");
    }
    benchmark::DoNotOptimize(tag);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLen));
  quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
  quarzel::testing::force_portable(quarzel::testing::Path::gcm_vaes, false);
}

void BM_Aes256GcmDecrypt(benchmark::State& state) {
  select_path(state);
  std::vector<uint8_t> buf(kLen, 0x5A);
  uint8_t tag[16] = {};
  for (auto _ : state) {
    uint32_t out_len = kLen, valid = 0;
    if (gcm_auth_dec_onestep(CIPHER_TYPE_AES256, 32, kKey.data(), 12, kIv.data(), 0, nullptr, kLen, buf.data(), 16,
                             tag, &out_len, buf.data(), &valid) != 0) {
      state.SkipWithError("gcm failed");
    }
    benchmark::DoNotOptimize(valid);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLen));
  quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
  quarzel::testing::force_portable(quarzel::testing::Path::gcm_vaes, false);
}

}  // namespace

const int kRegistered = [] {
  constexpr struct {
    const char* name;
    void (*fn)(benchmark::State&);
    bool has_aesni_path;
  } kRows[] = {{"Aes256Ctr", BM_Aes256Ctr, true},           {"Aes128Ctr", BM_Aes128Ctr, true},
               {"Aes256CbcEncrypt", BM_Aes256CbcEncrypt, true}, {"Aes256CbcDecrypt", BM_Aes256CbcDecrypt, true},
               {"Aes256Ecb", BM_Aes256Ecb, true},           {"Aes256Ofb", BM_Aes256Ofb, true},
               {"Aes256Gcm", BM_Aes256Gcm, true},           {"Aes256GcmDecrypt", BM_Aes256GcmDecrypt, true},
               {"Tdes3Cbc", BM_Tdes3Cbc, false}};
  for (const auto& r : kRows) {
    for (const bool portable : {false, true}) {
      if (!portable && !r.has_aesni_path) continue;
      const std::string path = !r.has_aesni_path ? "" : portable ? "/portable" : "/aesni";
      benchmark::RegisterBenchmark((r.name + path).c_str(),
                                   [fn = r.fn, portable](benchmark::State& st) {
                                     g_portable = portable;
                                     g_narrow = false;
                                     fn(st);
                                   });
    }
    // GCM on AES-NI also has the 128-bit CLMUL path beside the VAES one.
    if (std::string(r.name).rfind("Aes256Gcm", 0) == 0) {
      benchmark::RegisterBenchmark((r.name + std::string("/clmul")).c_str(), [fn = r.fn](benchmark::State& st) {
        g_portable = false;
        g_narrow = true;
        fn(st);
      });
    }
  }
  return 0;
}();
