#include <benchmark/benchmark.h>

#include "quarzel/port.h"

static void BM_RandomBytes32(benchmark::State& state) {
  uint8_t buf[32];
  for (auto _ : state) {
    benchmark::DoNotOptimize(quarzel_get_random(buf, sizeof buf));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RandomBytes32);
