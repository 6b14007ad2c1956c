// Initial alignments, iterated refinement and the whole search of one chain
// order, on real interfaces and on rigidly moved copies of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "search/search.h"
#include "structure/chains.h"
#include "structure/readers.h"

#include "../support/interfaces.h"

namespace tarvix {
namespace {

using Ptr = std::unique_ptr<Structure>;

Ptr load(const std::string& name) { return load_interface(name); }

// s under a fixed rotation and shift.
Ptr moved_copy(const Structure& s) {
  auto c = std::make_unique<Structure>(s);
  const double co = std::cos(1.1), si = std::sin(1.1);
  const double u[3][3] = {{co, -si, 0.0}, {si * 0.6, co * 0.6, -0.8}, {si * 0.8, co * 0.8, 0.6}};
  const double t[3] = {20.0, -4.0, 9.5};
  for (int i = 1; i <= s.len; ++i) c->ca[i] = transform(u, t, s.ca[i]);
  return c;
}

// The sequential TX-score parameters of two lengths, with no options.
ScoringParams params_for(int l1, int l2) {
  ScoringParams p;
  const int lmin = std::min(l1, l2);
  p.d0min = 0.5;
  p.d0[1] = lmin;
  p.d0[0] = std::max(0.5, lmin > 15 ? 1.24 * std::pow(lmin - 15, 1.0 / 3.0) - 1.8 : 0.5);
  p.d8 = 1.5 * std::pow(static_cast<double>(lmin), 0.3) + 3.5;
  p.d00[0] = std::max(std::min(p.d0[0], 8.0), 4.5);
  p.d00[1] = p.d00[0] * p.d00[0];
  p.contcf = {p.d8, p.d8 * p.d8};
  return p;
}

struct Comparison {
  Comparison(Ptr a, Ptr b)
      : s1(std::move(a)),
        s2(std::move(b)),
        par(params_for(s1->len, s2->len)),
        ws(std::make_unique<SearchWorkspace>(s1->len, s2->len)),
        ctx{*s1, *s2, par, ws->scoring} {}
  Ptr s1, s2;
  ScoringParams par;
  std::unique_ptr<SearchWorkspace> ws;
  Context ctx;
};

std::vector<int> identity_map(int l) {
  std::vector<int> m(kMaxRes + 1, -1);
  for (int j = 1; j <= l; ++j) m[j] = j;
  return m;
}

// map[1..l] as a vector, for comparisons.
std::vector<int> head(const std::vector<int>& map, int l) { return {map.begin() + 1, map.begin() + l + 1}; }
std::vector<int> head(const int* map, int l) { return {map + 1, map + l + 1}; }

// ---- the shift and fragment grids -------------------------------------------

TEST(InitialAlignments, ShiftAndFragmentGrids) {
  const ThreadingShifts t = threading_shifts(12, 12);  // 12 / 2.3 = 5.2
  EXPECT_EQ(std::vector<int>({t.idel, t.first, t.last, t.count()}), std::vector<int>({5, -7, 7, 15}));
  const ThreadingShifts u = threading_shifts(100, 60);  // 60 / 2.3 = 26.09
  EXPECT_EQ(std::vector<int>({u.idel, u.first, u.last}), std::vector<int>({26, -34, 74}));
  EXPECT_LE(threading_shifts(4, 4).count(), 0);

  // i1 = 1, 4, ..., 94 and j1 = 1..56, the last fragments ending within the chains
  const FragmentGrid g = fragment_grid(100, 60);
  EXPECT_EQ(std::vector<int>({g.len, g.stepa, g.stepb, g.minmatch, g.na, g.nb}),
            std::vector<int>({5, 3, 1, 2, 32, 56}));
  EXPECT_EQ(1 + (g.na - 1) * g.stepa, 94);
  const FragmentGrid h = fragment_grid(400, 300);
  EXPECT_EQ(std::vector<int>({h.len, h.stepa, h.stepb, h.minmatch}), std::vector<int>({15, 15, 13, 7}));
  EXPECT_LE(fragment_grid(4, 60).na, 0);  // a first chain shorter than a fragment
}

// ---- map operations and get_gl ------------------------------------------------

TEST(MapOperations, RevInvmapIgnoresUnalignedAndKeepsTheLaterEntry) {
  // Indexed by structure 1 (5 residues), values in structure 2 (4 residues).
  const int source[6] = {99, 2, 0, -1, 2, 4};
  int target[6] = {99, 7, 7, 7, 7, 7};
  rev_invmap(source, target, 5, 4);
  EXPECT_EQ(head(target, 4), (std::vector<int>{-1, 4, -1, 5}));
  EXPECT_EQ(target[5], 7);  // beyond L2: untouched
}

TEST(GetGl, PruningReplacesTheMapOnlyWhenItScoresHigher) {
  // Eight residues; in B the fourth is pulled 25 away. Residue 3 is unaligned
  // (entry 0, which an unchanged map keeps).
  Structure a, b;
  a.len = b.len = 8;
  for (int k = 1; k <= 8; ++k) a.ca[k] = {3.8 * k, 2.0 * (k % 2), 1.5 * (k % 3)};
  b.ca = a.ca;
  b.ca[4][1] += 25.0;
  SearchWorkspace ws(8, 8);
  ScoringParams par = params_for(20, 20);
  par.d00 = {8.0, 64.0};
  std::vector<int> map = identity_map(8);
  map[3] = 0;
  auto run = [&](double d0, std::vector<int> m, int flag) {
    par.d0[0] = d0;
    Context ctx{a, b, par, ws.scoring};
    const double g = get_gl(ctx, ws, 8, 8, m.data(), a, b, flag);
    return std::make_pair(g, m);
  };
  // The plain fit of the seven pairs puts only the outlier beyond the cutoffs.
  std::vector<Coord> pa, pb;
  for (int k : {1, 2, 4, 5, 6, 7, 8}) pa.push_back(a.ca[k]), pb.push_back(b.ca[k]);
  double resid, u[3][3], t[3], s0 = 0.0;
  int status;
  u3b(unit_weights(), pa.data(), pb.data(), 7, 1, resid, u, t, status);
  for (int k = 0; k < 7; ++k) {
    const double d2 = dist2(transform(u, t, pa[k]), pb[k]);
    ASSERT_TRUE(k == 2 ? d2 > 65.0 : d2 < 64.0) << k;
    s0 += 1.0 / (d2 / 2500.0 + 1.0);
  }
  // A large d0 favours the least-squares fit of all pairs: S0 and the map stand.
  const auto wide = run(50.0, map, 0);
  EXPECT_DOUBLE_EQ(wide.first, s0);
  EXPECT_EQ(wide.second, map);
  // A small d0 favours the fit of the six close pairs, which drops the outlier.
  const auto tight = run(1.0, map, 0);
  EXPECT_NEAR(tight.first, 6.0, 0.01);
  EXPECT_EQ(head(tight.second, 8), (std::vector<int>{1, 2, -1, -1, 5, 6, 7, 8}));
  // No pair at all: 0.0 and the map untouched.
  std::vector<int> none(kMaxRes + 1, -1);
  none[2] = 0;
  const auto empty = run(1.0, none, 1);
  EXPECT_EQ(empty.first, 0.0);
  EXPECT_EQ(empty.second, none);
}

// Scoring up to four maps at once gives, map by map, get_gl's score to the
// bit and the map it leaves: threadings, scattered maps and maps of fewer
// than three pairs, with and without the four-lane fit.
TEST(GetGl, FourMapsAtOnceScoreAsOneByOne) {
  Comparison c(load("1A2K_AB"), load("1AZS_AB"));
  const int l1 = c.s1->len, l2 = c.s2->len;
  std::mt19937 rng(3);
  std::vector<std::vector<int>> maps;
  for (int s = -8; s <= 8; ++s) {
    std::vector<int> m(l2 + 1, -1);
    for (int j = 1; j <= l2; ++j)
      if (j + s >= 1 && j + s <= l1) m[j] = j + s;
    maps.push_back(m);
  }
  for (int pairs : {0, 1, 2, 3, 5, 9, 20}) {
    std::vector<int> m(l2 + 1, -1);
    for (int k = 0; k < pairs; ++k)
      m[1 + static_cast<int>(rng() % l2)] = 1 + static_cast<int>(rng() % l1);
    maps.push_back(m);
  }
  const double d0 = c.par.d0[0];
  for (int run = 0; run < 4; ++run) {
    // A small d0 makes the pruned fits win more often.
    detail::superpose4_plain = run % 2 == 1;
    c.par.d0[0] = run < 2 ? d0 : 0.7;
    for (int count = 1; count <= 4; ++count) {
      for (size_t first = 0; first + count <= maps.size(); first += count) {
        std::vector<std::vector<int>> one(maps.begin() + first, maps.begin() + first + count);
        std::vector<std::vector<int>> four = one;
        int* ptr[4];
        for (int k = 0; k < count; ++k) ptr[k] = four[k].data();
        double got[4];
        get_gl_plain(c.ctx, *c.ws, l2, ptr, count, *c.s1, *c.s2, got);
        for (int k = 0; k < count; ++k) {
          const double want = get_gl(c.ctx, *c.ws, l1, l2, one[k].data(), *c.s1, *c.s2, 0);
          ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k]), std::bit_cast<std::uint64_t>(want))
              << "map " << first + k << " of a group of " << count;
          ASSERT_EQ(four[k], one[k]) << "map " << first + k;
        }
      }
    }
  }
  detail::superpose4_plain = false;
}

// ---- the generators -----------------------------------------------------------

TEST(InitialAlignments, FirstChainsOfFourResiduesTryNoShift) {
  Structure a, b;
  a.len = b.len = 8;
  a.nchain = b.nchain = 2;
  a.chains = b.chains = {0, 4, 8};
  for (int i = 1; i <= 8; ++i) a.ca[i] = b.ca[i] = {3.8 * i, 0.0, 0.0};
  mark_sides(a);
  mark_sides(b);
  SearchWorkspace ws(8, 8);
  const ScoringParams par = params_for(8, 8);
  Context ctx{a, b, par, ws.scoring};
  std::vector<int> x(kMaxRes + 1, 3), y(kMaxRes + 1, 3);
  double sx = 7.0, sy = 7.0;
  get_initial(ctx, ws, 0, a, b, 8, 8, x.data(), y.data(), sx, sy);
  EXPECT_EQ(sx + sy, 0.0);
  EXPECT_EQ(head(x, 8), std::vector<int>(8, -1));
  EXPECT_EQ(head(y, 8), std::vector<int>(8, -1));
}

TEST(InitialAlignments, MovedCopyIsRecoveredByEveryGenerator) {
  Ptr a = load("1CGI_AB");
  Ptr b = moved_copy(*a);
  Comparison c(std::move(a), std::move(b));
  const int l = c.s1->len, k1 = c.s1->chains[1];
  const std::vector<int> id = identity_map(l);
  std::vector<int> x(kMaxRes + 1), y(kMaxRes + 1), out(kMaxRes + 1, 5);
  double sx = 0.0, sy = 0.0;
  get_initial(c.ctx, *c.ws, 0, *c.s1, *c.s2, l, l, x.data(), y.data(), sx, sy);
  // X keeps the score of the best threading (the whole first chain, every
  // term 1) but the map of the dp run that followed it (both sides).
  EXPECT_NEAR(sx, k1, 1e-9);
  EXPECT_EQ(head(x, l), head(id, l));
  EXPECT_NEAR(sy, l, 1e-9);
  EXPECT_EQ(head(y, l), head(id, l));

  EXPECT_NEAR(get_initial3(c.ctx, *c.ws, l, l, out.data(), 0), l, 1e-9);
  EXPECT_EQ(head(out, l), head(id, l));
}

TEST(InitialAlignments, SecondaryStructureStartKeepsEachSideInItsOwnOffsets) {
  // B is the moved copy of A without A's first residue, so the first chains
  // end at k1 and k1 - 1 and every residue j of B is residue j + 1 of A.
  Ptr a = load("1CGI_AB");
  Ptr m = moved_copy(*a);
  auto b = std::make_unique<Structure>(*m);
  b->len = a->len - 1;
  for (int j = 1; j <= b->len; ++j) {
    b->ca[j] = m->ca[j + 1];
    b->sec[j] = a->sec[j + 1];
  }
  b->chains[1] = a->chains[1] - 1;
  b->chains[2] = b->len;
  mark_sides(*b);
  Comparison c(std::move(a), std::move(b));
  const int l1 = c.s1->len, l2 = c.s2->len;
  std::vector<int> best(kMaxRes + 1, -1), out(kMaxRes + 1, 5);
  for (int j = 1; j <= l2; ++j) best[j] = j + 1;
  for (const auto& [g, h] : {std::pair(1.0, 0.01), std::pair(0.5, 1.0)}) {
    get_initial_from_ssc(c.ctx, *c.ws, l1, l2, best.data(), out.data(), g, h);
    EXPECT_EQ(head(out, l2), head(best, l2));
  }
}

// ---- refinement and the whole search ------------------------------------------

TEST(IterSearch, StartBelowThreePairsDoesNotDependOnWhatTheMatricesHeld) {
  auto run = [](bool dirty) {
    Comparison c(load("1CGI_AB"), load("2SIC_AB"));
    if (dirty) {
      for (int j = 1; j <= c.ws->n; ++j)
        for (int i = 1; i <= c.ws->n; ++i) {
          c.ws->work(i, j) = ((i * 7 + j * 3) % 11) * 0.37;
          c.ws->saved(i, j) = ((i * 5 + j) % 13) * 0.21;
        }
    }
    std::vector<int> start(kMaxRes + 1, -1), bestmap(kMaxRes + 1, -1);
    start[3] = 2;
    start[40] = 35;
    const double gaps[2] = {-0.6, 0.0};
    double best = 0.0;
    iter_search(c.ctx, *c.ws, best, -0.1, 1, 1, 30, gaps, 2, bestmap.data(), start.data(),
                c.s1->len, c.s2->len);
    return std::make_pair(best, bestmap);
  };
  const auto fresh = run(false), dirty = run(true);
  EXPECT_GT(fresh.first, 0.0);  // the passes from the zero matrix still found something
  EXPECT_EQ(fresh.first, dirty.first);
  EXPECT_EQ(fresh.second, dirty.second);
}

TEST(SuperAlign, ResultDependsOnlyOnTheInputs) {
  for (const int seqmode : {1, 0}) {
    SCOPED_TRACE(seqmode);
    Comparison c(load("1CGI_AB"), load("2SIC_AB"));
    const int l2 = c.s2->len;
    std::vector<int> m1(kMaxRes + 1, -1), m2(kMaxRes + 1, -1), m3(kMaxRes + 1, -1);
    const SearchResult r1 = super_align(c.ctx, *c.ws, m1.data(), 1, seqmode, 1);
    const SearchResult r2 = super_align(c.ctx, *c.ws, m2.data(), 1, seqmode, 1);
    Comparison fresh(load("1CGI_AB"), load("2SIC_AB"));
    const SearchResult r3 = super_align(fresh.ctx, *fresh.ws, m3.data(), 1, seqmode, 1);
    for (const SearchResult& r : {r2, r3}) {
      EXPECT_EQ(r.tm, r1.tm);
      EXPECT_EQ(r.initial, r1.initial);
      EXPECT_EQ(r.order1used, r1.order1used);
    }
    EXPECT_EQ(head(m2, l2), head(m1, l2));
    EXPECT_EQ(head(m3, l2), head(m1, l2));

    EXPECT_GT(r1.tm, 0.0);
    const std::vector<int> codes = {12, 11, 10, 2, 3, 4};
    EXPECT_NE(std::find(codes.begin(), codes.end(), r1.initial), codes.end()) << r1.initial;
    // One-to-one, within the sides and (sequential) in order in both structures.
    std::vector<int> used(kMaxRes + 1, 0);
    for (int j = 1, last = 0; j <= l2; ++j) {
      const int i = m1[j];
      if (i <= 0) continue;
      EXPECT_EQ(c.s1->id2chain[i], c.s2->id2chain[j]) << i << ", " << j;
      EXPECT_EQ(++used[i], 1) << i;
      EXPECT_TRUE(seqmode == 0 || i > last) << i << ", " << j;
      last = i;
    }
    if (seqmode == 1) {
      // The best score is the score of the best map.
      EXPECT_EQ(r1.order1used, 0);
      double s = 0.0;
      int o1 = 0;
      get_score(c.ctx, m1.data(), s, c.ws->work, 1, 0, 1, o1);
      EXPECT_EQ(s, r1.tm);
    }
  }
}

}  // namespace
}  // namespace tarvix
