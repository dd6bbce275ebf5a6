// DRBG throughput: short requests as the crypto providers make them.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "quarzel/aes.h"
#include "quarzel/drbg.h"
#include "quarzel/testing.h"

namespace {

void generate(benchmark::State& state, drbg_type_t type, uint32_t entropy_len, bool portable) {
  quarzel::testing::force_portable(quarzel::testing::Path::aes, portable);
  uint8_t seed[64];
  for (uint32_t i = 0; i < sizeof seed; ++i) seed[i] = static_cast<uint8_t>(i * 29 + 1);
  drbg_ctx_t ctx;
  if (drbg_instantiate(&ctx, type, entropy_len, seed, 16, seed + 48, 0, nullptr) != 0) {
    state.SkipWithError("instantiate failed");
    return;
  }
  const uint32_t n = static_cast<uint32_t>(state.range(0));
  uint8_t out[1024];
  for (auto _ : state) {
    // Reseed well before the 2^30-call limit could be reached.
    if (ctx.type >= DRBG_TYPE_CTR_TDES_NO_DF && ctx.subctx.ctr.reseed_ctr > (1u << 29))
      ctx.subctx.ctr.reseed_ctr = 1;
    if (drbg_generate(&ctx, 0, nullptr, &n, out) != 0) {
      state.SkipWithError("generate failed");
      break;
    }
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * n);
  quarzel::testing::force_portable(quarzel::testing::Path::aes, false);
}

void BM_CtrDrbgAes256(benchmark::State& s) { generate(s, DRBG_TYPE_CTR_AES_256_WITH_DF, 32, false); }
void BM_CtrDrbgAes256Portable(benchmark::State& s) { generate(s, DRBG_TYPE_CTR_AES_256_WITH_DF, 32, true); }
void BM_CtrDrbgAes128(benchmark::State& s) { generate(s, DRBG_TYPE_CTR_AES_128_WITH_DF, 32, false); }
void BM_CtrDrbgTdes(benchmark::State& s) { generate(s, DRBG_TYPE_CTR_TDES_WITH_DF, 14, false); }
void BM_HashDrbgSha256(benchmark::State& s) { generate(s, DRBG_TYPE_HASH_SHA_2_256, 16, false); }
void BM_HmacDrbgSha256(benchmark::State& s) { generate(s, DRBG_TYPE_HMAC_SHA_2_256, 16, false); }

}  // namespace

BENCHMARK(BM_CtrDrbgAes256)->Arg(32)->Arg(1024);
BENCHMARK(BM_CtrDrbgAes256Portable)->Arg(32);
BENCHMARK(BM_CtrDrbgAes128)->Arg(32);
BENCHMARK(BM_CtrDrbgTdes)->Arg(32);
BENCHMARK(BM_HashDrbgSha256)->Arg(32);
BENCHMARK(BM_HmacDrbgSha256)->Arg(32);
