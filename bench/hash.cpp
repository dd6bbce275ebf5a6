// Throughput of the hash, HMAC and PBKDF2 routines.
#include <benchmark/benchmark.h>

#include <vector>

#include "quarzel/hash.h"
#include "quarzel/hmac.h"
#include "quarzel/kdf.h"
#include "quarzel/testing.h"

namespace {

void hash_bulk(benchmark::State& state, hash_type_t type, bool portable) {
  quarzel::testing::force_portable(quarzel::testing::Path::sha, portable);
  std::vector<uint8_t> msg(static_cast<size_t>(state.range(0)), 0xA5);
  uint8_t digest[64];
  for (auto _ : state) {
    hash_ctx_t ctx;
    uint32_t n = sizeof digest;
    benchmark::DoNotOptimize(hash_init(&ctx, type));
    benchmark::DoNotOptimize(hash_update(&ctx, static_cast<uint32_t>(msg.size()), msg.data()));
    benchmark::DoNotOptimize(hash_final(&ctx, &n, digest));
  }
  quarzel::testing::force_portable(quarzel::testing::Path::sha, false);
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

constexpr int64_t kBulk = 16384;

BENCHMARK_CAPTURE(hash_bulk, sha1, HASH_TYPE_SHA1, false)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha1_portable, HASH_TYPE_SHA1, true)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha256, HASH_TYPE_SHA2_256, false)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha256_portable, HASH_TYPE_SHA2_256, true)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha512, HASH_TYPE_SHA2_512, false)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha3_256, HASH_TYPE_SHA3_256, false)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha3_512, HASH_TYPE_SHA3_512, false)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, shake128, HASH_TYPE_SHAKE128, false)->Arg(kBulk);
BENCHMARK_CAPTURE(hash_bulk, sha256_small, HASH_TYPE_SHA2_256, false)->Arg(64);

void shake_squeeze(benchmark::State& state) {
  std::vector<uint8_t> out(static_cast<size_t>(state.range(0)));
  sha3_ctx_t c;
  benchmark::DoNotOptimize(hash_shake128_init(&c));
  for (auto _ : state) benchmark::DoNotOptimize(hash_shake128_final(&c, static_cast<uint32_t>(out.size()), out.data()));
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(shake_squeeze)->Arg(kBulk);

// A full HMAC (key set-up, 64-byte message, final) per item.
void hmac_sha256_64(benchmark::State& state) {
  const uint8_t key[32] = {1, 2, 3};
  const uint8_t msg[64] = {4, 5, 6};
  uint8_t mac[32];
  for (auto _ : state) {
    uint32_t n = sizeof mac;
    benchmark::DoNotOptimize(hmac_onestep(HASH_TYPE_SHA2_256, sizeof key, key, sizeof msg, msg, &n, mac));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(hmac_sha256_64);

void pbkdf2_sha256_4096(benchmark::State& state) {
  const uint8_t pw[] = "correct horse battery staple";
  const uint8_t salt[16] = {9, 8, 7};
  uint8_t dk[32];
  const uint32_t len = sizeof dk;
  for (auto _ : state)
    benchmark::DoNotOptimize(pbkdf2(HASH_TYPE_SHA2_256, 4096, sizeof pw - 1, pw, sizeof salt, salt, &len, dk));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(pbkdf2_sha256_4096)->Unit(benchmark::kMillisecond);

}  // namespace
