// Big-number benchmarks: Montgomery product, modular exponentiation,
// modular multiplication and inversion.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "quarzel/mpbn.h"
#include "quarzel/mpi.h"
#include "quarzel/testing.h"

namespace {

using Words = std::vector<mpbn_word_t>;

Words random_words(size_t nw, uint64_t seed) {
  std::mt19937_64 g(seed);
  Words v(nw);
  for (auto& w : v) w = static_cast<mpbn_word_t>(g());
  return v;
}
// An odd modulus with its top bit set, and an operand below it.
Words modulus(size_t nw) {
  Words m = random_words(nw, 1);
  m.front() |= 0x80000000u;
  m.back() |= 1u;
  return m;
}
Words below(const Words& m, uint64_t seed) {
  Words a = random_words(m.size(), seed);
  a.front() &= 0x7FFFFFFFu;
  return a;
}

void BM_MontMult(benchmark::State& state) {
  const auto nw = static_cast<uint32_t>(state.range(0));
  const Words m = modulus(nw), a = below(m, 2), b = below(m, 3);
  Words r(nw), rr(nw), r2(nw);
  mpbn_mont_ctx_t ctx{};
  if (mpbn_mont_init(&ctx, nw, m.data(), rr.data(), r2.data()) != 0) state.SkipWithError("set-up failed");
  for (auto _ : state) {
    if (mpbn_mont_mult(&ctx, nw, m.data(), a.data(), b.data(), r.data()) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_MontMult)->Arg(32)->Arg(64);

void BM_ModExp(benchmark::State& state) {
  const auto nw = static_cast<uint32_t>(state.range(0));
  const Words m = modulus(nw), a = below(m, 2), e = random_words(nw, 4);
  Words r(nw);
  for (auto _ : state) {
    if (mpbn_mod_exp(nw, a.data(), m.data(), nw, e.data(), r.data()) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(r.data());
  }
  state.SetLabel(std::to_string(32 * nw) + "-bit base, modulus and exponent");
}
BENCHMARK(BM_ModExp)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_MpiModExp(benchmark::State& state) {
  const auto nw = static_cast<uint32_t>(state.range(0));
  Words m = modulus(nw), a = below(m, 2), e = random_words(nw, 4);
  mpi_t A = mpi_default, E = mpi_default, N = mpi_default, X = mpi_default;
  Words x(nw);
  (void)mpi_mapping(&A, MPI_ENDIAN_MF_U32, 4 * nw, a.data());
  (void)mpi_mapping(&E, MPI_ENDIAN_MF_U32, 4 * nw, e.data());
  (void)mpi_mapping(&N, MPI_ENDIAN_MF_U32, 4 * nw, m.data());
  (void)mpi_mapping(&X, MPI_ENDIAN_MF_U32, 4 * nw, x.data());
  for (auto _ : state) {
    if (mpi_mod_exp(&X, &A, &E, &N) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(x.data());
  }
}
BENCHMARK(BM_MpiModExp)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_ModMul(benchmark::State& state) {
  const auto nw = static_cast<uint32_t>(state.range(0));
  const Words m = modulus(nw), a = below(m, 2), b = below(m, 3);
  Words r(nw);
  for (auto _ : state) {
    if (mpbn_mod_mul(nw, a.data(), b.data(), m.data(), r.data()) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(r.data());
  }
}
BENCHMARK(BM_ModMul)->Arg(8)->Arg(17)->Arg(32)->Arg(64);

void BM_ModInvOdd(benchmark::State& state) {
  const auto nw = static_cast<uint32_t>(state.range(0));
  const Words m = modulus(nw), a = below(m, 2);
  Words r(nw);
  for (auto _ : state) {
    benchmark::DoNotOptimize(mpbn_mod_inv(nw, a.data(), m.data(), r.data()));
  }
}
BENCHMARK(BM_ModInvOdd)->Arg(8)->Arg(64);

}  // namespace

namespace {

// The same exponentiation on the portable Montgomery product.
void BM_ModExpPortable(benchmark::State& state) {
  quarzel::testing::force_portable(quarzel::testing::Path::mpbn, true);
  BM_ModExp(state);
  quarzel::testing::force_portable(quarzel::testing::Path::mpbn, false);
}
BENCHMARK(BM_ModExpPortable)->Arg(32)->Arg(64)->Unit(benchmark::kMillisecond);

}  // namespace
