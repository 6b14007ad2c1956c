// Non-sequential refinement: the cycle test of the refinement loops, the
// early return below three pairs, and the recovery of a scrambled alignment
// of an interface with a moved copy of itself.

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "assignment/refine.h"
#include "structure/chains.h"
#include "structure/readers.h"

#include "../support/interfaces.h"

namespace tarvix {
namespace {

// The iteration at which a pass over these scores ends (0: it runs through).
int ends_at(std::initializer_list<double> scores, ScoreHistory& h) {
  int id = 0;
  for (const double s : scores)
    if (h.repeats(s, ++id)) return id;
  return 0;
}
int ends_at(std::initializer_list<double> scores) {
  ScoreHistory h;
  return ends_at(scores, h);
}

TEST(ScoreHistory, EndsAPassOnAFixedPointOrACycleOfUpToFive) {
  EXPECT_EQ(ends_at({0.41, 0.43, 0.41}), 3);  // period 2
  EXPECT_EQ(ends_at({-1.0, -1.0}), 2);  // the first never compares, not even with the initial -1
  EXPECT_EQ(ends_at({0.5, 0.5 + 0.9e-6}), 2);
  EXPECT_EQ(ends_at({0.5, 0.5 + 1.1e-6}), 0);
  EXPECT_EQ(ends_at({0.1, 0.2, 0.3, 0.4, 0.5, 0.1}), 6);
  EXPECT_EQ(ends_at({0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.1}), 0);
  // Kept across passes, but a new pass compares only with its own iterations.
  ScoreHistory h;
  EXPECT_EQ(ends_at({0.3, 0.2}, h), 0);
  EXPECT_EQ(ends_at({0.7, 0.2, 0.7}, h), 3);
}

using Ptr = std::unique_ptr<Structure>;

Ptr load(const std::string& name) { return load_interface(name); }

// An interface and a rigidly moved copy of it, with the non-sequential
// parameters of their length.
struct SelfPair {
  Ptr a = load("2SIC_AB");
  Ptr b = std::make_unique<Structure>(*a);
  ScoringParams par;
  ScoringWorkspace ws{a->len, a->len};
  Context ctx{*a, *b, par, ws};
  int n = a->len, k1 = a->chains[1];
  ScoreMatrix full{n, n}, block{n, n};
  RefineWorkspace rw{n};
  SelfPair() {
    const double co = std::cos(0.7), si = std::sin(0.7);
    const double u[3][3] = {{co, 0.0, si}, {0.0, 1.0, 0.0}, {-si, 0.0, co}};
    const double t[3] = {-3.0, 11.0, 4.0};
    for (int i = 1; i <= n; ++i) b->ca[i] = transform(u, t, a->ca[i]);
    par.d0min = 0.5;
    par.d0 = {0.7 * std::cbrt(n - 15.0) - 0.1, static_cast<double>(n)};
    par.d8 = std::min(1.5 * std::pow(n, 0.3) + 3.5, 8.0);
    par.d00[0] = 4.5;
    par.d00[1] = 20.25;
    par.contcf = {par.d8, par.d8 * par.d8};
  }
};

TEST(IterLsap, StartOfTwoPairsReturnsAtOnce) {
  SelfPair p;
  std::vector<int> start(kMaxRes + 1, -1), bestmap(kMaxRes + 1, 9);
  start[1] = 1;
  start[2] = 0;
  start[3] = -4;
  start[p.n] = p.n;
  EXPECT_EQ(get_alnlen(start.data(), p.n), 2);
  p.full.fill(7.0);
  p.block.fill(7.0);
  const std::vector<int> before = start;
  double best = 0.25;
  int order1used = 5;
  iter_lsap(p.ctx, p.rw, p.full, p.block, best, 1, 1, start.data(), bestmap.data(), p.n, p.n, p.n,
            p.k1, p.k1, 3, order1used);
  EXPECT_EQ(best, 0.25);
  EXPECT_EQ(order1used, 5);
  EXPECT_EQ(start, before);
  EXPECT_EQ(bestmap, std::vector<int>(kMaxRes + 1, 9));
  EXPECT_EQ(p.full(1, 1) + p.full(p.n, p.n) + p.block(2, 3), 21.0);  // nothing was scored
}

TEST(IterLsap, ScrambledPairsOfBothSidesAreReassigned) {
  SelfPair p;
  ASSERT_GT(p.k1, 4);
  ASSERT_GT(p.n - p.k1, 4);
  // The identity with two residues of each side exchanged and one pair lost.
  std::vector<int> start(kMaxRes + 1, -1), bestmap(kMaxRes + 1, -1), id(kMaxRes + 1, -1);
  for (int j = 1; j <= p.n; ++j) id[j] = start[j] = j;
  std::swap(start[2], start[4]);
  std::swap(start[p.k1 + 1], start[p.k1 + 3]);
  start[p.n] = -1;
  double best = 0.0;
  int order1used = -1;
  iter_lsap(p.ctx, p.rw, p.full, p.block, best, 1, 1, start.data(), bestmap.data(), p.n, p.n, p.n,
            p.k1, p.k1, 3, order1used);
  EXPECT_EQ(bestmap, id);
  // The best score is that of the identity, found with the same scoring call.
  double s = 0.0;
  int o1 = 0;
  get_score(p.ctx, id.data(), s, p.full, 1, 1, 1, o1);
  EXPECT_EQ(best, s);
  EXPECT_EQ(order1used, o1);
}

}  // namespace
}  // namespace tarvix
