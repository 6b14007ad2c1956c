#include "assignment/lsap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "structure/error.h"

namespace tarvix {
namespace {

// Smallest total cost over all permutations (row perm[j] for column j).
double brute_force_min(const Grid<double>& cost, int n) {
  std::vector<int> perm(n);
  std::iota(perm.begin(), perm.end(), 1);
  double best = std::numeric_limits<double>::infinity();
  do {
    double z = 0.0;
    for (int j = 1; j <= n; ++j) z += cost(perm[j - 1], j);
    best = std::min(best, z);
  } while (std::next_permutation(perm.begin(), perm.end()));
  return best;
}

// Random entries: continuous ones, or a few levels so that ties are common.
double draw(std::mt19937& rng, bool coarse) {
  if (coarse) return static_cast<double>(rng() % 3) * 0.5;
  return std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
}

// The solver written out as plainly as possible: every tolerance and tie rule
// of the fast one, none of its layout. The fast solver must make the same
// choices step by step, so it must return the same assignment.
std::vector<int> reference_lsapr(const Grid<double>& cost, int n, double sup, double eps) {
  std::vector<int> assign(n + 1, 0), rowcol(n + 1, 0), pred(n + 1, 0);
  std::vector<double> u(n + 1, 0.0), v(n + 1, 0.0), dminus(n + 1, 0.0), dcol(n + 1, 0.0);
  std::vector<bool> labeled(n + 1, false);
  for (int j = 1; j <= n; ++j) {
    double m = cost(1, j);
    int im = 1;
    for (int i = 2; i <= n; ++i)
      if (cost(i, j) - m < eps) m = cost(i, j), im = i;
    u[j] = m;
    if (rowcol[im] == 0) rowcol[im] = j, assign[j] = im;
  }
  for (int i = 1; i <= n; ++i) v[i] = rowcol[i] != 0 ? 0.0 : sup;
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i)
      if (v[i] > eps && cost(i, j) - u[j] + eps < v[i]) v[i] = cost(i, j) - u[j], pred[i] = j;
  for (int i = 1; i <= n; ++i)
    if (pred[i] > 0 && assign[pred[i]] == 0) assign[pred[i]] = i, rowcol[i] = pred[i];
  for (int j0 = 1; j0 <= n; ++j0) {
    if (assign[j0] >= 1) continue;
    for (int x = 1; x <= n; ++x) {
      pred[x] = j0;
      dcol[x] = sup;
      dminus[x] = cost(x, j0) - u[j0] - v[x];
      labeled[x] = false;
    }
    dcol[j0] = 0.0;
    double dist;
    int istar;
    for (;;) {
      dist = sup;
      istar = 0;
      for (int i = 1; i <= n; ++i)
        if (!labeled[i] && dminus[i] + eps < dist) dist = dminus[i], istar = i;
      if (istar == 0) return {};
      const int j = rowcol[istar];
      if (j < 1) break;
      dcol[j] = dist;
      labeled[istar] = true;
      for (int i = 1; i <= n; ++i) {
        if (labeled[i]) continue;
        const double d = dist + cost(i, j) - u[j] - v[i];
        if (d + eps < dminus[i]) dminus[i] = d, pred[i] = j;
      }
    }
    for (int i = istar;;) {
      const int j = pred[i];
      const int next = assign[j];
      rowcol[i] = j;
      assign[j] = i;
      i = next;
      if (j == j0) break;
    }
    for (int x = 1; x <= n; ++x) {
      if (dcol[x] != sup) u[x] = dist + u[x] - dcol[x];
      if (dminus[x] + eps < dist) v[x] = dminus[x] + v[x] - dist;
    }
  }
  return assign;
}

std::vector<int> solve(const ScoreMatrix& s, int nrow, int ncol, LsapWorkspace& ws) {
  std::vector<int> map(ncol + 1, 0);
  solvlsap(s, map.data(), nrow, ncol, std::max(nrow, ncol), ws);
  map[0] = 0;
  return map;
}

TEST(Lsapr, OptimalAgainstAllPermutations) {
  std::mt19937 rng(11);
  LsapWorkspace shared;
  for (int trial = 0; trial < 700; ++trial) {
    const int n = 1 + trial % 7;
    const bool coarse = trial % 2 == 1;
    Grid<double> cost(n, n);
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) cost(i, j) = 2.0 - draw(rng, coarse);
    std::vector<int> assign(n + 1, 0);
    double z = -1.0;
    lsapr(n, cost, z, assign.data(), kLsapSup, kLsapEps, shared);

    std::vector<int> rows(assign.begin() + 1, assign.end());
    std::sort(rows.begin(), rows.end());
    std::vector<int> all(n);
    std::iota(all.begin(), all.end(), 1);
    ASSERT_EQ(rows, all) << "not a permutation, trial " << trial;
    double sum = 0.0;
    for (int j = 1; j <= n; ++j) sum += cost(assign[j], j);
    ASSERT_EQ(z, sum);
    ASSERT_NEAR(z, brute_force_min(cost, n), 1e-9) << "trial " << trial;

    // A fresh workspace gives the very same assignment.
    LsapWorkspace fresh;
    std::vector<int> again(n + 1, 0);
    double z2;
    lsapr(n, cost, z2, again.data(), kLsapSup, kLsapEps, fresh);
    ASSERT_EQ(again, assign);
  }
}

// Sizes around the vector widths and some long ones, many exact ties,
// near-ties inside and just outside the tolerance, and one workspace reused
// across sizes.
TEST(Lsapr, MakesTheReferenceChoicesOnTiesAndNearTies) {
  for (bool sse2 : {false, true}) {
    detail::lsap_use_sse2(sse2);
    std::mt19937 rng(99);
    LsapWorkspace ws;
    for (int trial = 0; trial < 400; ++trial) {
      // Every eighth problem long enough for the steps of long columns.
      const int n = trial % 8 == 7 ? 44 + static_cast<int>(rng() % 24)
                                   : 1 + static_cast<int>(rng() % 23);
      Grid<double> cost(n, n);
      const int kind = trial % 4;
      for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i) {
          double c = kind == 0 ? draw(rng, false) : static_cast<double>(rng() % 4) * 0.25;
          if (kind == 2 && rng() % 3 == 0) c += (static_cast<int>(rng() % 3) - 1) * 3e-11;
          // Ladders of steps a little above half the tolerance: rows just
          // outside it from the nearest one.
          if (kind == 3 && rng() % 2 == 0) c += (static_cast<int>(rng() % 5) - 2) * 6e-11;
          cost(i, j) = 2.0 - c;
        }
      std::vector<int> got(n + 1, 0);
      double z = 0.0;
      ws.reserve(n);
      lsapr(n, cost, z, got.data(), kLsapSup, kLsapEps, ws);
      got[0] = 0;
      ASSERT_EQ(got, reference_lsapr(cost, n, kLsapSup, kLsapEps))
          << "trial " << trial << " n " << n << " sse2 " << sse2;
    }
  }
  detail::lsap_use_sse2(false);
}

// Blocks with more rows than columns are padded with equal columns, whose
// searches follow one another; columns repeated elsewhere, and equal columns
// with other costs in between, must not be mistaken for them.
TEST(Lsapr, RepeatedColumnsMakeTheReferenceChoices) {
  std::mt19937 rng(5);
  LsapWorkspace ws;
  for (int trial = 0; trial < 600; ++trial) {
    const int n = 2 + static_cast<int>(rng() % 40);
    const int real = 1 + static_cast<int>(rng() % n);
    const bool coarse = trial % 3 == 0;
    Grid<double> cost(n, n);
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) cost(i, j) = j <= real ? 2.0 - draw(rng, coarse) : 2.0;
    // Some columns copied from an earlier one, next to it or further on.
    for (int k = 0; k < trial % 4; ++k) {
      const int from = 1 + static_cast<int>(rng() % n);
      const int to = 1 + static_cast<int>(rng() % n);
      for (int i = 1; i <= n; ++i) cost(i, to) = cost(i, from);
    }
    std::vector<int> got(n + 1, 0);
    double z = 0.0;
    ws.reserve(n);
    lsapr(n, cost, z, got.data(), kLsapSup, kLsapEps, ws);
    got[0] = 0;
    ASSERT_EQ(got, reference_lsapr(cost, n, kLsapSup, kLsapEps)) << "trial " << trial << " n " << n;
  }
}

TEST(Solvlsap, RectangularBlocksPairTheSmallerSideCompletely) {
  std::mt19937 rng(5);
  LsapWorkspace ws;
  for (int trial = 0; trial < 400; ++trial) {
    const int nrow = 1 + static_cast<int>(rng() % 6);
    const int ncol = 1 + static_cast<int>(rng() % 6);
    const int n = std::max(nrow, ncol);
    ScoreMatrix s(8, 8, 1000.0);  // outside the block: must never be read
    for (int j = 1; j <= ncol; ++j)
      for (int i = 1; i <= nrow; ++i) s(i, j) = draw(rng, trial % 2 == 1);
    const std::vector<int> map = solve(s, nrow, ncol, ws);

    std::vector<int> used;
    double total = 0.0;
    for (int j = 1; j <= ncol; ++j) {
      if (map[j] == -1) continue;
      ASSERT_GE(map[j], 1);
      ASSERT_LE(map[j], nrow);
      used.push_back(map[j]);
      total += s(map[j], j);
    }
    std::sort(used.begin(), used.end());
    ASSERT_EQ(std::adjacent_find(used.begin(), used.end()), used.end()) << "row used twice";
    ASSERT_EQ(static_cast<int>(used.size()), std::min(nrow, ncol));

    Grid<double> cost(n, n, 2.0);
    for (int j = 1; j <= ncol; ++j)
      for (int i = 1; i <= nrow; ++i) cost(i, j) = 2.0 - s(i, j);
    // Dummy pairs cost 2, so the best real total is 2n minus the least cost.
    ASSERT_NEAR(total, 2.0 * n - brute_force_min(cost, n), 1e-9) << "trial " << trial;
  }
}

// Blocks with fewer rows than columns are padded with rows of equal costs,
// which the searches mostly leave aside: the solver must still make the
// reference solver's choices on the padded matrix, in place or not, with
// coarse scores (ties everywhere) and fine ones, on both processor paths.
TEST(Solvlsap, PaddingRowsMakeTheReferenceChoices) {
  for (bool sse2 : {false, true}) {
    detail::lsap_use_sse2(sse2);
    std::mt19937 rng(17);
    LsapWorkspace ws;
    for (int trial = 0; trial < 400; ++trial) {
      const int ncol = 2 + static_cast<int>(rng() % 40);
      const int nrow = 1 + static_cast<int>(rng() % (trial % 2 ? ncol : 1 + ncol / 4));
      const int n = ncol;
      ScoreMatrix s(n, n, 0.0);
      for (int j = 1; j <= ncol; ++j)
        for (int i = 1; i <= nrow; ++i) s(i, j) = draw(rng, trial % 3 == 0);
      Grid<double> cost(n, n, 2.0);
      for (int j = 1; j <= ncol; ++j)
        for (int i = 1; i <= nrow; ++i) cost(i, j) = 2.0 - s(i, j);
      std::vector<int> want = reference_lsapr(cost, n, kLsapSup, kLsapEps);
      for (int j = 1; j <= ncol; ++j) want[j] = want[j] <= nrow ? want[j] : -1;
      want[0] = 0;
      ASSERT_EQ(solve(s, nrow, ncol, ws), want) << "trial " << trial << " sse2 " << sse2;
      std::vector<int> in_place(ncol + 1, 0);
      solvlsap_in_place(s, in_place.data(), nrow, ncol, n, ws);
      ASSERT_EQ(in_place, want) << "trial " << trial << " in place, sse2 " << sse2;
    }
  }
  detail::lsap_use_sse2(false);
}

TEST(Solvlsap, RowBestInEveryColumn) {
  // Row 2 scores highest in every column, yet can serve only one: the best sum
  // 0.9 + 0.95 + 0.7 puts it on column 2.
  ScoreMatrix s(3, 3, 0.1);
  s(1, 1) = 0.9;
  s(3, 3) = 0.7;
  for (int j = 1; j <= 3; ++j) s(2, j) = 0.95;
  LsapWorkspace ws;
  EXPECT_EQ(solve(s, 3, 3, ws), (std::vector<int>{0, 1, 2, 3}));
}

// Assignments of equal total, with the outcome worked out from the tie rules.
TEST(Lsapr, TieRules) {
  LsapWorkspace ws;
  auto run = [&ws](const std::vector<std::vector<double>>& rows) {
    const int n = static_cast<int>(rows.size());
    Grid<double> cost(n, n);
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) cost(i, j) = rows[i - 1][j - 1];
    std::vector<int> assign(n + 1, 0);
    double z;
    lsapr(n, cost, z, assign.data(), kLsapSup, kLsapEps, ws);
    return assign;
  };
  // All equal: every column minimum goes to the last row, so column 1 takes row
  // 3; the free columns 2 and 3 then reach rows 1 and 2 at equal length 0 and
  // take the first free row each time.
  EXPECT_EQ(run({{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}), (std::vector<int>{0, 3, 1, 2}));
  // Row 1 holds column 1. Free row 2 has its least reduced cost 3 in columns 2
  // and 3; the first (2) wins and is taken at once. Column 3 then goes to row 3.
  EXPECT_EQ(run({{0, 0, 0}, {5, 3, 3}, {9, 9, 9}}), (std::vector<int>{0, 1, 2, 3}));
  // Column 2 is left free. Its search labels row 1 first (length 0); the path
  // through row 1 reaches row 2 at length 0 as well, which does not improve
  // row 2's direct length 0, so row 2 is taken straight from column 2.
  EXPECT_EQ(run({{1, 1, 5}, {5, 5, 5}, {5, 5, 1}}), (std::vector<int>{0, 1, 2, 3}));
}

TEST(Lsapr, FatalWhenNoRowIsReachable) {
  const std::string expected = " \nLSAPR - Fatal error!\n  No unlabeled node with DMINUS < D.\n";
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()}) {
    ScoreMatrix s(3, 3, bad);
    LsapWorkspace ws;
    int map[4];
    testing::internal::CaptureStdout();
    try {
      solvlsap(s, map, 3, 3, 3, ws);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.printed(), expected);
      EXPECT_TRUE(e.verbatim());
      EXPECT_EQ(e.code(), ExitCode::kDataError);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the solver itself prints nothing
  }
}

TEST(LsapWorkspace, NoReallocationOnceLargeEnough) {
  LsapWorkspace ws;
  ws.reserve(6);
  const double* cost = ws.cost.data();
  const int* rowcol = ws.rowcol.data();
  ScoreMatrix s(6, 6, 0.5);
  for (int n : {6, 2, 5, 1, 6}) {
    solve(s, n, n, ws);
    EXPECT_EQ(ws.cost.data(), cost);
    EXPECT_EQ(ws.rowcol.data(), rowcol);
  }
}

TEST(ExtractScore, CopiesInsideBlocksAndRejectsOthers) {
  ScoreMatrix src(5, 5), dst;  // dst too small: made 5 x 5
  for (int j = 1; j <= 5; ++j)
    for (int i = 1; i <= 5; ++i) src(i, j) = 10 * i + j;
  const int l1 = 4, l2 = 5;
  extract_score(5, src, l1, l2, 2, 3, 4, 5, dst);
  ASSERT_EQ(dst.ld(), 5);
  for (int j = 1; j <= 3; ++j)
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(dst(i, j), src(i + 1, j + 2)) << i << "," << j;
  EXPECT_NO_THROW(extract_score(5, src, l1, l2, 3, 4, 4, 5, dst));  // 2 x 2 in the corner

  // {i1, j1, i2, j2}: outside on each bound, a 1 x n and an n x 1 block, reversed rows.
  const int bad[][4] = {{0, 1, 2, 2}, {1, 1, 5, 2}, {1, 0, 2, 2}, {1, 1, 2, 6},
                        {3, 1, 3, 5}, {1, 4, 2, 4}, {3, 1, 2, 5}};
  for (const auto& b : bad) {
    try {
      extract_score(5, src, l1, l2, b[0], b[1], b[2], b[3], dst);
      ADD_FAILURE() << "accepted " << b[0] << " " << b[1] << " " << b[2] << " " << b[3];
    } catch (const Error& e) {
      EXPECT_EQ(e.printed(), " Error: out of the scoring matrix boundary!\n");
    }
  }
}

TEST(CombInvmap, JoinsTheSides) {
  const int m1[] = {0, 2, -1, 1};
  const int m2[] = {0, 1, 3};
  int out[6] = {99, 0, 0, 0, 0, 0};
  comb_invmap(out, m1, m2, 4, 3, 2, 5);
  EXPECT_EQ(std::vector<int>(out, out + 6), (std::vector<int>{99, 2, -1, 1, 5, 7}));
  const int m2b[] = {0, -1, 0};
  comb_invmap(out, m1, m2b, 4, 3, 2, 5);
  EXPECT_EQ(out[4], -1);
  EXPECT_EQ(out[5], -1);
  EXPECT_THROW(comb_invmap(out, m1, m2, 4, 3, 3, 5), std::invalid_argument);
}

}  // namespace
}  // namespace tarvix
