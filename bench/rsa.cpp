// RSA: private operation (CRT), public operation (e = 65537) and key-pair
// generation. Compare with `openssl speed rsa2048 rsa4096`.
//
// The private-key rows run on each exponentiation path: ".../ifma" as the
// library chooses (AVX-512 IFMA where the CPU has it), ".../adx" with IFMA
// off through the test seam, as on CPUs without it (BMI2/ADX products), e.g.
// --benchmark_filter='PrivateCrt/adx'.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "quarzel/rsa.h"
#include "quarzel/testing.h"

namespace {

struct Pair {
  rsa_prikey_t pri{};
  rsa_pubkey_t pub{};
  explicit Pair(uint32_t bits, rsa_keytype_t type = RSA_KEYTYPE_CRTFAST) {
    (void)rsa_prikey_init(&pri, static_cast<rsa_size_t>(bits));
    (void)rsa_pubkey_init(&pub, static_cast<rsa_size_t>(bits));
    if (rsa_prikey_value_alloc(&pri, type) != 0 || rsa_pubkey_value_alloc(&pub) != 0) abort();
  }
  ~Pair() {
    (void)rsa_prikey_value_free(&pri);
    (void)rsa_pubkey_value_free(&pub);
  }
  bool generate(rsa_keytype_t type = RSA_KEYTYPE_CRTFAST) {
    return rsa_gen_keypair(&pri, &pub, type, 0, nullptr) == 0;
  }
};

Pair& shared_pair(uint32_t bits) {
  static Pair* pairs[5] = {};
  const int i = bits == 1024 ? 0 : bits == 2048 ? 1 : bits == 3072 ? 2 : 3;
  if (pairs[i] == nullptr) {
    pairs[i] = new Pair(bits);
    if (!pairs[i]->generate()) abort();
  }
  return *pairs[i];
}

// The exponentiation path of the running row (set by its registration).
bool g_no_ifma = false;

struct PathScope {
  PathScope() { quarzel::testing::force_portable(quarzel::testing::Path::mpbn_ifma, g_no_ifma); }
  ~PathScope() { quarzel::testing::force_portable(quarzel::testing::Path::mpbn_ifma, false); }
};

void BM_PrivateCrt(benchmark::State& state) {
  const uint32_t bits = static_cast<uint32_t>(state.range(0));
  Pair& p = shared_pair(bits);
  const PathScope path;
  std::vector<uint8_t> in(bits / 8, 0x5A), out(bits / 8);
  in[0] = 0x01;
  for (auto _ : state) {
    if (rsa_rsasp1(&p.pri, in.data(), out.data()) != 0) state.SkipWithError("rsasp1");
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Public65537(benchmark::State& state) {
  const uint32_t bits = static_cast<uint32_t>(state.range(0));
  Pair& p = shared_pair(bits);
  std::vector<uint8_t> in(bits / 8, 0x5A), out(bits / 8);
  in[0] = 0x01;
  for (auto _ : state) {
    if (rsa_rsavp1(&p.pub, in.data(), out.data()) != 0) state.SkipWithError("rsavp1");
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["ops/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Public65537)->Arg(2048)->Arg(3072)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_Pkcs1Sign(benchmark::State& state) {
  Pair& p = shared_pair(2048);
  const PathScope path;
  uint8_t digest[32] = {1, 2, 3};
  std::vector<uint8_t> sig(256);
  for (auto _ : state) {
    if (rsa_rsassa_pkcs1_v1_5_sign(&p.pri, HASH_TYPE_SHA2_256, 32, digest, sig.data()) != 0) {
      state.SkipWithError("sign");
    }
  }
}
const int kRegistered = [] {
  for (const bool no_ifma : {false, true}) {
    const char* path = no_ifma ? "/adx" : "/ifma";
    benchmark::RegisterBenchmark((std::string("BM_PrivateCrt") + path).c_str(),
                                 [no_ifma](benchmark::State& st) {
                                   g_no_ifma = no_ifma;
                                   BM_PrivateCrt(st);
                                 })
        ->Arg(2048)
        ->Arg(3072)
        ->Arg(4096)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_Pkcs1Sign") + path).c_str(),
                                 [no_ifma](benchmark::State& st) {
                                   g_no_ifma = no_ifma;
                                   BM_Pkcs1Sign(st);
                                 })
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}();

// Medians over the repetitions are the figures to compare with the targets.
void BM_KeyGen(benchmark::State& state) {
  const uint32_t bits = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    Pair p(bits);
    if (!p.generate()) state.SkipWithError("keygen");
  }
}
BENCHMARK(BM_KeyGen)->Arg(2048)->Iterations(1)->Repetitions(20)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyGen)->Arg(4096)->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);

}  // namespace
