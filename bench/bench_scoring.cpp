// Superposition search and interface score on a real pair of interfaces
// (1BGX_AB onto 4GAM_AB), aligned side by side without gaps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scoring/scoring.h"
#include "structure/readers.h"

namespace {

using tarvix::Coord;

struct Fixture {
  std::unique_ptr<tarvix::Structure> s1 = std::make_unique<tarvix::Structure>();
  std::unique_ptr<tarvix::Structure> s2 = std::make_unique<tarvix::Structure>();
  tarvix::ScoringParams par;
  std::vector<int> invmap;  // gapless threading within each side
  // the pairs of invmap as search input
  std::vector<Coord> x1, x2;
  std::vector<int> r1, r2;

  Fixture() {
    const std::string dir = TARVIX_TEST_DATA;
    load(dir + "/1BGX_AB", *s1);
    load(dir + "/4GAM_AB", *s2);
    const double lmin = std::min(s1->len, s2->len);
    double d0 = 1.24 * std::cbrt(lmin - 15) - 1.8;
    if (d0 < 0.5) d0 = 0.5;
    par.d0 = {d0, lmin};
    par.d0min = 0.5;
    par.d8 = 1.5 * std::pow(lmin, 0.3) + 3.5;
    par.d00[0] = std::clamp(d0, 4.5, 8.0);
    par.d00[1] = par.d00[0] * par.d00[0];
    par.contcf = {par.d8, par.d8 * par.d8};

    const int c1 = s1->chains[1], c2 = s2->chains[1];
    invmap.assign(s2->len + 1, -1);
    for (int j = 1; j <= s2->len; ++j) {
      const int i = j <= c2 ? j : c1 + (j - c2);
      if ((j <= c2 && i <= c1) || (j > c2 && i <= s1->len)) invmap[j] = i;
    }
    for (int j = 1; j <= s2->len; ++j) {
      if (invmap[j] < 1) continue;
      x1.push_back(s1->ca[invmap[j]]);
      x2.push_back(s2->ca[j]);
      r1.push_back(invmap[j]);
      r2.push_back(j);
    }
  }

  static void load(const std::string& stem, tarvix::Structure& s) {
    tarvix::readpdbfile(stem + ".pdb", s, 0);
    tarvix::readcontfile(stem + ".contacts", s);
    for (int i = 1; i <= s.len; ++i) s.id2chain[i] = i <= s.chains[1] ? 1 : 2;
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

// Arguments: search mode (1 spaced starts, 2 every start), score type (1 TX, 0 TM).
void BM_tmsearch(benchmark::State& state) {
  const Fixture& f = fixture();
  const int mode = static_cast<int>(state.range(0));
  const int scoretype = static_cast<int>(state.range(1));
  tarvix::ScoringWorkspace ws(f.s1->len, f.s2->len);
  tarvix::Context ctx{*f.s1, *f.s2, f.par, ws};
  std::vector<Coord> x1 = f.x1;
  const int n = static_cast<int>(x1.size());
  double d0search = std::min(f.par.d0[0], 8.0);
  if (d0search < 3.0) d0search = 4.5;
  double score = 0.0, rmsd = 0.0;
  int ncontact = 0;
  for (auto _ : state) {
    std::copy(f.x1.begin(), f.x1.end(), x1.begin());
    tarvix::tmsearch(ctx, f.par.d0[0], d0search, n, x1.data(), f.r1.data(), f.x2.data(),
                     f.r2.data(), score, rmsd, mode, scoretype, ncontact);
    benchmark::DoNotOptimize(score);
    benchmark::ClobberMemory();
  }
  state.counters["pairs"] = n;
  state.counters["score"] = score;
}

// Arguments: fast (1 spaced starts, 0 every start), score type (1 TX, 0 TM).
void BM_get_score(benchmark::State& state) {
  const Fixture& f = fixture();
  const int fast = static_cast<int>(state.range(0));
  const int scoretype = static_cast<int>(state.range(1));
  tarvix::ScoringWorkspace ws(f.s1->len, f.s2->len);
  tarvix::Context ctx{*f.s1, *f.s2, f.par, ws};
  const int nmat = std::max(f.s1->len, f.s2->len);
  tarvix::ScoreMatrix smat(nmat, nmat);
  double score = 0.0;
  int order1used = 0;
  for (auto _ : state) {
    tarvix::get_score(ctx, f.invmap.data(), score, smat, scoretype, 0, fast, order1used);
    benchmark::DoNotOptimize(smat.data());
    benchmark::ClobberMemory();
  }
  state.counters["L1"] = f.s1->len;
  state.counters["L2"] = f.s2->len;
  state.counters["score"] = score;
}

BENCHMARK(BM_tmsearch)
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_get_score)
    ->Args({1, 1})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
