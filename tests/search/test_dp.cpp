#include "search/dp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tarvix {
namespace {

// Runs dp on a fresh set of tables sized n and returns invmap[1..l2] (slot 0 unused).
std::vector<int> align(const ScoreMatrix& s, double gap, int l1, int l2) {
  const int n = s.ld();
  DpTables t(n);
  std::vector<int> invmap(n + 1, 12345);
  dp(n, s, gap, l1, l2, invmap.data(), t);
  return std::vector<int>(invmap.begin(), invmap.begin() + l2 + 1);
}

std::vector<int> unaligned(int l2) {
  std::vector<int> m(l2 + 1, -1);
  m[0] = 12345;
  return m;
}

// The recurrence written out cell by cell on (N+1) x (N+1) tables, as plainly as
// possible; the kernel's running values and compact layout must not change any result.
std::vector<int> reference(const ScoreMatrix& s, double gap, int l1, int l2) {
  const int n = s.ld();
  std::vector<std::vector<double>> val(n + 1, std::vector<double>(n + 1, 0.0));
  std::vector<std::vector<bool>> diag(n + 1, std::vector<bool>(n + 1, false));
  std::vector<int> m(l2 + 1, -1);
  m[0] = 12345;
  for (int j = 1; j <= l2; ++j)
    for (int i = 1; i <= l1; ++i) {
      const double d = val[i - 1][j - 1] + s(i, j);
      const double h = val[i - 1][j] + (diag[i - 1][j] ? gap : 0.0);
      const double v = val[i][j - 1] + (diag[i][j - 1] ? gap : 0.0);
      diag[i][j] = d >= h && d >= v;
      val[i][j] = diag[i][j] ? d : std::max(h, v);
    }
  for (int i = l1, j = l2; i > 0 && j > 0;) {
    if (diag[i][j]) {
      m[j] = i--;
      --j;
      continue;
    }
    const double h = val[i - 1][j] + (diag[i - 1][j] ? gap : 0.0);
    const double v = val[i][j - 1] + (diag[i][j - 1] ? gap : 0.0);
    if (v <= h)
      --i;
    else
      --j;
  }
  return m;
}

TEST(Dp, FlatScores) {
  ScoreMatrix s(7, 7, 0.0);
  // Every cell ties and the diagonal wins: the ends are matched and the surplus
  // at the start of the longer structure stays unaligned.
  EXPECT_EQ(align(s, 0.0, 5, 7), (std::vector<int>{12345, -1, -1, 1, 2, 3, 4, 5}));
  EXPECT_EQ(align(s, 0.0, 7, 4), (std::vector<int>{12345, 4, 5, 6, 7}));
  s.fill(-0.25);  // no pair is worth taking
  EXPECT_EQ(align(s, 0.0, 6, 5), unaligned(5));
}

TEST(Dp, TrailingGapIsChargedOnce) {
  const int l1 = 5, l2 = 6;
  ScoreMatrix s(6, 6, -1.0);
  s(2, 3) = 1.0;  // 1.0 - 0.6 > 0: kept
  std::vector<int> one = unaligned(l2);
  one[3] = 2;
  EXPECT_EQ(align(s, -0.6, l1, l2), one);

  s(2, 3) = 0.5;  // the trailing gap costs more than the pair brings
  EXPECT_EQ(align(s, -0.6, l1, l2), unaligned(l2));

  s(2, 3) = -1.0;
  s(l1, l2) = 0.5;  // no gap follows the last cell
  std::vector<int> last = unaligned(l2);
  last[l2] = l1;
  EXPECT_EQ(align(s, -0.6, l1, l2), last);
}

TEST(Dp, TiesPreferTheDiagonalThenStructureOne) {
  ScoreMatrix s(2, 2);
  s(1, 1) = -1.0;
  s(1, 2) = 1.0;
  s(2, 1) = 1.0;
  s(2, 2) = -1.0;
  // Both one-pair alignments reach 1; the traceback steps back in structure 1.
  EXPECT_EQ(align(s, 0.0, 2, 2), (std::vector<int>{12345, -1, 1}));

  ScoreMatrix t(2, 2, 1.0);
  // At (2,1) the diagonal ties with the step down and wins.
  EXPECT_EQ(align(t, 0.0, 2, 1), (std::vector<int>{12345, 2}));
}

TEST(Dp, DegenerateAndInvalidSizes) {
  ScoreMatrix s(4, 4, 1.0);
  EXPECT_EQ(align(s, -0.6, 0, 4), unaligned(4));
  DpTables t(3);
  int invmap[5] = {7, 7, 7, 7, 7};
  dp(4, s, 0.0, 3, 0, invmap, t);
  for (int v : invmap) EXPECT_EQ(v, 7);  // l2 = 0: nothing written
  EXPECT_THROW(dp(4, s, 0.0, 4, 3, invmap, t), std::invalid_argument);  // tables too small
  EXPECT_THROW(dp(4, s, 0.0, 3, 5, invmap, t), std::invalid_argument);
}

// Random matrices with many exact ties (scores on a coarse grid), a few NaNs,
// the penalties of the callers (a zero penalty takes a path of its own), and
// one set of tables reused across calls of varying size.
TEST(Dp, MatchesTheCellByCellRecurrenceAndReusesTables) {
  for (bool sse2 : {false, true}) {
    detail::dp_use_sse2(sse2);
    std::mt19937 rng(20240601);
    const int cap = 40;
    DpTables shared(cap);
    std::vector<int> invmap(cap + 1);
    for (int trial = 0; trial < 300; ++trial) {
      const int l1 = 1 + static_cast<int>(rng() % cap);
      const int l2 = 1 + static_cast<int>(rng() % cap);
      const int n = std::max(l1, l2);
      ScoreMatrix s(n, n, -100000.0);
      for (int j = 1; j <= l2; ++j)
        for (int i = 1; i <= l1; ++i) {
          s(i, j) = static_cast<double>(static_cast<int>(rng() % 9) - 4) * 0.25;
          if (rng() % 97 == 0) s(i, j) = std::numeric_limits<double>::quiet_NaN();
        }
      const double gaps[4] = {0.0, -0.6, -1.0, -0.0};
      const double gap = gaps[trial % 4];
      dp(n, s, gap, l1, l2, invmap.data(), shared);
      std::vector<int> got(invmap.begin(), invmap.begin() + l2 + 1);
      got[0] = 12345;
      ASSERT_EQ(got, reference(s, gap, l1, l2)) << "trial " << trial << " sse2 " << sse2;
      ASSERT_EQ(got, align(s, gap, l1, l2)) << "trial " << trial;
    }
  }
  detail::dp_use_sse2(false);
}

// Two interface sides: the cross-side cells score kOtherSide and are not read
// with the sides given. Side blocks down to one row or column, tied and
// negative scores and NaNs, every caller's penalty: the alignment must be the
// one the whole matrix gives.
TEST(Dp, TwoSidesGiveTheAlignmentOfTheWholeMatrix) {
  for (bool sse2 : {false, true}) {
    detail::dp_use_sse2(sse2);
    std::mt19937 rng(77);
    const int cap = 30;
    DpTables shared(cap);
    std::vector<int> plain(cap + 1), sided(cap + 1);
    for (int trial = 0; trial < 600; ++trial) {
      const int l1 = 2 + static_cast<int>(rng() % (cap - 1));
      const int l2 = 2 + static_cast<int>(rng() % (cap - 1));
      const int k1 = 1 + static_cast<int>(rng() % (l1 - 1));
      const int k2 = 1 + static_cast<int>(rng() % (l2 - 1));
      const int n = std::max(l1, l2);
      ScoreMatrix s(n, n, 0.0);
      for (int j = 1; j <= l2; ++j)
        for (int i = 1; i <= l1; ++i) {
          if ((i <= k1) != (j <= k2)) {
            s(i, j) = kOtherSide;
            continue;
          }
          const int level = static_cast<int>(rng() % 9);
          s(i, j) = trial % 3 == 0 ? level * 0.125 : (level - 3) * 0.25;
          if (rng() % 131 == 0) s(i, j) = std::numeric_limits<double>::quiet_NaN();
        }
      const double gaps[4] = {0.0, -0.6, -1.0, -0.0};
      const double gap = gaps[trial % 4];
      dp(n, s, gap, l1, l2, plain.data(), shared);
      // The cross cells must not matter at all.
      for (int j = 1; j <= l2; ++j)
        for (int i = 1; i <= l1; ++i)
          if ((i <= k1) != (j <= k2)) s(i, j) = std::numeric_limits<double>::quiet_NaN();
      dp(n, s, gap, l1, l2, sided.data(), shared, DpSides{k1, k2});
      for (int j = 1; j <= l2; ++j)
        ASSERT_EQ(sided[j], plain[j]) << "trial " << trial << " j " << j << " sse2 " << sse2;
    }
  }
  detail::dp_use_sse2(false);
}

}  // namespace
}  // namespace tarvix
