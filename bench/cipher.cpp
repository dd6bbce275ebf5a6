// Block-cipher and GCM throughput on both instruction-set paths. Compare with
// `openssl speed -evp aes-256-ctr` (and -cbc, -gcm) at 16 KiB blocks.
#include <benchmark/benchmark.h>

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
void select_path(const benchmark::State& state) { quarzel::testing::force_portable(quarzel::testing::Path::aes, state.range(0) == 0); }

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
}

}  // namespace

BENCHMARK(BM_Aes256Ctr)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes128Ctr)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes256CbcEncrypt)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes256CbcDecrypt)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes256Ecb)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes256Ofb)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes256Gcm)->Arg(1)->Arg(0);
BENCHMARK(BM_Aes256GcmDecrypt)->Arg(1)->Arg(0);
BENCHMARK(BM_Tdes3Cbc)->Arg(0);
