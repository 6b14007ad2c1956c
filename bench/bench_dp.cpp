// Dynamic programming on random score matrices of interface and large-protein size.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "search/dp.h"

namespace {

void BM_dp(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  tarvix::ScoreMatrix score(n, n);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) score(i, j) = dist(rng);
  tarvix::DpTables tables(n);
  std::vector<int> invmap(n + 1);
  for (auto _ : state) {
    tarvix::dp(n, score, state.range(1) ? -0.6 : 0.0, n, n, invmap.data(), tables);
    benchmark::DoNotOptimize(invmap.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n) * n);
}

BENCHMARK(BM_dp)->Args({150, 0})->Args({150, 1})->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
