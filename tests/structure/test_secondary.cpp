#include "structure/secondary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tarvix {
namespace {

// Ideal alpha helix: 100 degrees and 1.5 A rise per residue at radius 2.3 A.
Structure helix(int n) {
  Structure s;
  s.len = n;
  for (int i = 1; i <= n; ++i) {
    const double a = i * 100.0 * M_PI / 180.0;
    s.ca[i] = {2.3 * std::cos(a), 2.3 * std::sin(a), 1.5 * i};
  }
  return s;
}

std::vector<int> classes(const Structure& s) { return {s.sec.begin() + 1, s.sec.begin() + 1 + s.len}; }

TEST(Secondary, IdealHelixIsHelixAwayFromItsEnds) {
  Structure s = helix(10);
  EXPECT_NEAR(diszy(s, 1, 2), 3.8, 0.05);
  EXPECT_NEAR(diszy(s, 1, 5), 6.2, 0.1);
  calcsec(s, 10);
  EXPECT_EQ(classes(s), (std::vector<int>{1, 1, 2, 2, 2, 2, 2, 2, 1, 1}));
  Structure short_one = helix(4);  // no window of five fits
  calcsec(short_one, 4);
  EXPECT_EQ(classes(short_one), (std::vector<int>{1, 1, 1, 1}));
}

TEST(Secondary, WindowClassesUseStrictComparisons) {
  const double edge = 5.45 - 2.1;  // exactly the half-width below the target
  ASSERT_EQ(std::fabs(edge - 5.45), 2.1);
  EXPECT_EQ(make_sec(5.45, 5.18, 6.37, 5.45, 5.18, std::nextafter(edge, 9.0)), 2);
  EXPECT_EQ(make_sec(edge, 5.18, 6.37, 5.45, 5.18, 5.45), 3);  // not helix; D(1,5) < 8: turn
  EXPECT_EQ(make_sec(6.1, 10.4, 13.0, 6.1, 10.4, 6.1), 4);
  EXPECT_EQ(make_sec(6.1, 10.4, 13.0, 6.1, 10.4, 6.1 + 1.42 + 1e-9), 1);  // not strand: coil
  EXPECT_EQ(make_sec(1, 1, 8.0, 1, 1, 1), 1);
}

TEST(Secondary, SmoothingPatterns) {
  const std::vector<int> cases[][2] = {
      {{1, 1, 2, 1, 1}, {1, 1, 1, 1, 1}},              // isolated helix
      {{3, 4, 3, 1, 4}, {3, 1, 3, 1, 1}},              // isolated strands; turns stay
      {{1, 3, 1}, {1, 3, 1}},
      {{1, 1, 2, 2, 1, 1}, {1, 1, 1, 1, 1, 1}},        // two-residue helix
      {{3, 1, 4, 4, 1, 3, 2, 2}, {3, 1, 1, 1, 1, 3, 1, 1}},  // two-residue strand; beyond L is no class
      {{2, 2, 1, 1, 1, 1}, {2, 2, 1, 1, 1, 1}},        // no element starts before residue 1
      {{1, 1, 2, 2, 2, 1, 1}, {1, 1, 2, 2, 2, 1, 1}},
      {{2, 2, 1, 2, 2}, {2, 2, 2, 2, 2}},              // one-residue gap
      {{4, 4, 3, 4, 4}, {4, 4, 4, 4, 4}},
      {{2, 2, 2, 1, 1, 2, 2, 2}, {2, 2, 2, 1, 1, 2, 2, 2}},  // a two-residue gap stays
      {{2, 1, 2}, {2, 2, 2}},                          // kept in pass 1, filled in pass 3
  };
  for (const auto& c : cases) {
    std::vector<int> sec = c[0];
    sec.insert(sec.begin(), 0);
    smooth(sec.data(), static_cast<int>(c[0].size()));
    EXPECT_EQ(std::vector<int>(sec.begin() + 1, sec.end()), c[1]) << ::testing::PrintToString(c[0]);
  }
}

}  // namespace
}  // namespace tarvix
