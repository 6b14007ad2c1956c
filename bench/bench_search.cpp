// The alignment search on real pairs of interfaces: one dp step on the score
// matrix of the search's best alignment, and one whole super_align call
// (sequential TX-score, regular speed), the workspace reused between calls.
#include <benchmark/benchmark.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api/settings.h"
#include "search/search.h"
#include "structure/chains.h"
#include "structure/readers.h"
#include "../tests/support/interfaces.h"

namespace {

using namespace tarvix;

struct Pair {
  std::unique_ptr<Structure> s1, s2;
  Derived der;
  std::unique_ptr<SearchWorkspace> ws;
  std::unique_ptr<Context> ctx;
  std::vector<int> invmap = std::vector<int>(kMaxRes + 1, -1);

  Pair(const std::string& a, const std::string& b) : s1(load(a)), s2(load(b)) {
    der = derive_scoring_parameters(Settings{}, s1->len, s2->len);
    ws = std::make_unique<SearchWorkspace>(s1->len, s2->len);
    ctx = std::make_unique<Context>(Context{*s1, *s2, der.par, ws->scoring});
  }

  static std::unique_ptr<Structure> load(const std::string& name) { return load_interface(name); }
};

Pair& pair(int k) {
  static Pair small("1CGI_AB", "2SIC_AB");
  static Pair large("4GAM_AB", "1BGX_AB");
  return k == 0 ? small : large;
}

void label(benchmark::State& state, const Pair& p) {
  state.SetLabel(std::to_string(p.s1->len) + " x " + std::to_string(p.s2->len) + " residues");
}

void BM_dp_best_alignment_matrix(benchmark::State& state) {
  Pair& p = pair(static_cast<int>(state.range(0)));
  super_align(*p.ctx, *p.ws, p.invmap.data(), 1, 1, 1);
  double score = 0.0;
  int order1used = 0;
  ScoreMatrix smat(p.ws->n, p.ws->n);
  get_score(*p.ctx, p.invmap.data(), score, smat, 1, 0, 1, order1used);
  std::vector<int> map(kMaxRes + 1, -1);
  for (auto _ : state) {
    dp(p.ws->n, smat, -0.6, p.s1->len, p.s2->len, map.data(), p.ws->dpt);
    benchmark::DoNotOptimize(map.data());
    benchmark::ClobberMemory();
  }
  label(state, p);
}

void BM_super_align(benchmark::State& state) {
  Pair& p = pair(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const SearchResult r = super_align(*p.ctx, *p.ws, p.invmap.data(), 1, 1, 1);
    benchmark::DoNotOptimize(r);
  }
  label(state, p);
}

BENCHMARK(BM_dp_best_alignment_matrix)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_super_align)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
