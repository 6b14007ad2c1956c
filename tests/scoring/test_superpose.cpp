// Least-squares superposition and the seed schedule of the superposition search.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "scoring/scoring.h"
#include "scoring/seeds.h"

namespace tarvix {
namespace {

using Pts = std::vector<Coord>;

struct Fit {
  double resid, u[3][3], t[3];
  int status;
};

Fit fit(const Pts& x, const Pts& y, int mode = 1, const double* w = unit_weights()) {
  Fit f{};
  u3b(w, x.data(), y.data(), static_cast<int>(x.size()), mode, f.resid, f.u, f.t, f.status);
  return f;
}

// Rotation by angle about axis (normalised here), then the shift t.
Pts motion(const Pts& x, Coord a, double angle, Coord t, double u[3][3]) {
  const double n = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  const double p = a[0] / n, q = a[1] / n, r = a[2] / n, c = std::cos(angle), s = std::sin(angle);
  const double C = 1 - c;
  const double m[3][3] = {{c + p * p * C, p * q * C - r * s, p * r * C + q * s},
                          {q * p * C + r * s, c + q * q * C, q * r * C - p * s},
                          {r * p * C - q * s, r * q * C + p * s, c + r * r * C}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) u[i][j] = m[i][j];
  Pts y;
  for (const Coord& v : x) y.push_back(transform(u, t.data(), v));
  return y;
}

const Pts kCloud = {{1.0, 2.0, 3.0},   {-4.0, 0.5, 2.0}, {3.5, -2.0, -1.0}, {0.0, 5.0, -3.0},
                    {-2.0, -3.0, 4.5}, {6.0, 1.0, 0.5},  {2.5, 3.5, 5.5}};

double deviation(const Pts& x, const Pts& y, const Fit& f, const double* w = unit_weights()) {
  double s = 0.0;
  for (size_t m = 0; m < x.size(); ++m) s += w[m] * dist2(transform(f.u, f.t, x[m]), y[m]);
  return s;
}

void expect_proper_rotation(const double u[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(u[0][i] * u[0][j] + u[1][i] * u[1][j] + u[2][i] * u[2][j], i == j, 1e-12);
  const double det = u[0][0] * (u[1][1] * u[2][2] - u[1][2] * u[2][1]) -
                     u[0][1] * (u[1][0] * u[2][2] - u[1][2] * u[2][0]) +
                     u[0][2] * (u[1][0] * u[2][1] - u[1][1] * u[2][0]);
  EXPECT_NEAR(det, 1.0, 1e-12);
}

void expect_identity(const Fit& f, Coord t) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(f.t[i], t[i]);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(f.u[i][j], i == j ? 1.0 : 0.0);
  }
}

TEST(U3b, RecoversRigidMotionsAndFitsOtherDataOptimally) {
  double r[3][3];
  const Coord shift{5.0, -3.0, 2.0};
  for (const auto& [axis, angle] : {std::pair<Coord, double>{{0, 0, 1}, M_PI / 2},
                                    {{1, 2, 3}, 0.7}, {{-1, 0.2, 0.5}, 2.9}}) {
    const Fit f = fit(kCloud, motion(kCloud, axis, angle, shift, r));
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.resid, 0.0, 1e-9);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(f.t[i], shift[i], 1e-9);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(f.u[i][j], r[i][j], 1e-12);
    }
  }
  // Noisy weighted data, and a mirror image: a proper rotation whose resid is
  // what (u, t) leaves, no worse than the motion the data was made with.
  Pts noisy = motion(kCloud, {0.3, -1, 0.4}, 1.1, {0, 0, 0}, r), mirror = kCloud;
  for (size_t m = 0; m < noisy.size(); ++m) noisy[m][m % 3] += 0.3 * ((m % 2) ? 1 : -1);
  for (Coord& p : mirror) p[2] = -p[2];
  const double w[7] = {1.0, 2.0, 0.5, 1.5, 3.0, 0.25, 1.0};
  Fit made{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) made.u[i][j] = r[i][j];
  for (const Pts* y : {&noisy, &mirror}) {
    const Fit f = fit(kCloud, *y, 1, w);
    expect_proper_rotation(f.u);
    EXPECT_GT(f.resid, 0.1);
    EXPECT_NEAR(f.resid, deviation(kCloud, *y, f, w), 1e-8);
    if (y == &noisy) {
      EXPECT_LE(f.resid, deviation(kCloud, *y, made, w));
    }
  }
}

TEST(U3b, DegenerateInputsAndModeZero) {
  // Collinear points. The closed-form eigenvalues resolve the double root of
  // a rank-one correlation only to about sqrt(epsilon), so whether the flag
  // is raised depends on the data; on this line it is.
  Pts line;
  for (int m = 0; m < 5; ++m) line.push_back({1.0 + 2.0 * m, -1.0 + 1.0 * m, 0.5 * m});
  double r[3][3];
  const Pts moved = motion(line, {0, 0, 1}, 0.8, {3, -2, 1}, r);
  Fit f = fit(line, moved);
  EXPECT_EQ(f.status, -1);
  EXPECT_NEAR(deviation(line, moved, f), 0.0, 1e-9);

  f = fit(Pts{{1, 2, 3}}, Pts{{4, 6, 2}});  // one point
  EXPECT_EQ(f.status + f.resid, -1.0);
  expect_identity(f, {3, 4, -1});
  std::vector<double> w(kCloud.size(), 1.0);
  w[3] = -1.0;
  f = fit(kCloud, kCloud, 1, w.data());
  EXPECT_EQ(f.status, -2);
  expect_identity(f, {0, 0, 0});

  // Mode 0: the same resid, no motion (but the translation when every point
  // sits on its centroid).
  Pts y = motion(kCloud, {2, -1, 1}, 1.3, {4, 5, 6}, r);
  y[2][0] += 0.7;
  const Fit only = fit(kCloud, y, 0);
  EXPECT_EQ(only.resid, fit(kCloud, y, 1).resid);
  expect_identity(only, {0, 0, 0});
  expect_identity(fit(Pts{{1, 1, 1}, {1, 1, 1}}, Pts{{2, 3, 4}, {2, 3, 4}}, 0), {1, 2, 3});
}

// The fit without its residual, one by one and four at a time, is the same
// motion bit for bit, on ordinary, collinear, coplanar, coincident and
// mirrored sets (which take the fallback branches of the orthogonalisation)
// of 0 to 109 points.
TEST(U3b, SuperposeGivesTheSameMotion) {
  unsigned state = 2024;
  auto next = [&] { return ((state = state * 1103515245u + 12345u) >> 8) % 2000 / 97.0 - 10.0; };
  auto set = [&](int n, int kind, Pts& x, Pts& y) {
    for (int m = 0; m < n; ++m) {
      double a = next(), b = next(), c = next();
      if (kind == 1) b = 2 * a, c = -a;
      if (kind == 2) c = 0.5 * a + 0.25 * b;
      if (kind == 3) a = 1, b = 2, c = 3;
      x.push_back({a, b, c});
      y.push_back(kind == 4 ? Coord{-a, b, c} : Coord{b + 0.1 * next(), 1 - a, c + 0.1 * next()});
    }
  };
  auto same = [](const double u[3][3], const double t[3], const Fit& f) {
    return std::memcmp(u, f.u, sizeof f.u) == 0 && std::memcmp(t, f.t, sizeof f.t) == 0;
  };
  for (const bool plain : {false, true}) {
    detail::superpose4_plain = plain;
    for (int trial = 0; trial < 1500; ++trial) {
      Pts x[4], y[4];
      const Coord* xp[4];
      const Coord* yp[4];
      int n[4];
      for (int k = 0; k < 4; ++k) {
        n[k] = k == 3 && trial % 10 == 0 ? 60 + trial % 50 : (trial * 7 + k * 5) % 23;
        set(n[k], (trial + k) % 6, x[k], y[k]);
        xp[k] = x[k].data();
        yp[k] = y[k].data();
      }
      double u4[4][3][3], t4[4][3];
      superpose4(xp, yp, n, u4, t4);
      for (int k = 0; k < 4; ++k) {
        const Fit f = fit(x[k], y[k]);
        double u[3][3], t[3];
        superpose(xp[k], yp[k], n[k], u, t);
        ASSERT_TRUE(same(u, t, f)) << trial;
        ASSERT_TRUE(same(u4[k], t4[k], f)) << trial << " lane " << k << " plain " << plain;
      }
    }
  }
  detail::superpose4_plain = false;
}

// ---- seed schedule ---------------------------------------------------------

std::vector<int> lengths(int n) {
  int len[kMaxSeedLengths];
  return std::vector<int>(len, len + seed_lengths(n, len));
}

std::vector<int> starts(int n, int len, int step) {
  std::vector<int> s(static_cast<size_t>(n / step + 2));
  s.resize(static_cast<size_t>(seed_starts(n, len, step, s.data())));
  return s;
}

TEST(Seeds, LengthsStepsAndStarts) {
  for (int n = 0; n <= 4; ++n) EXPECT_EQ(lengths(n), std::vector<int>{n});
  EXPECT_EQ(lengths(8), (std::vector<int>{8, 4}));
  EXPECT_EQ(lengths(10), (std::vector<int>{10, 5, 4}));
  EXPECT_EQ(lengths(100), (std::vector<int>{100, 50, 25, 12, 6, 4}));
  EXPECT_EQ(lengths(5000), (std::vector<int>{5000, 2500, 1250, 625, 312, 4}));

  const int nmin[] = {20, 21, 40, 41, 60, 61, 80, 81, 120, 121};
  const int step[] = {5, 10, 10, 40, 40, 20, 20, 30, 30, 40};
  for (size_t k = 0; k < std::size(nmin); ++k) EXPECT_EQ(seed_step(1, nmin[k]), step[k]);
  EXPECT_EQ(seed_step(2, 50) + seed_step(3, 50), 2);

  EXPECT_EQ(starts(100, 25, 30), (std::vector<int>{1, 31, 61, 76}));
  EXPECT_EQ(starts(100, 100, 30), std::vector<int>{1});
  EXPECT_EQ(starts(11, 1, 5), (std::vector<int>{1, 6, 11}));
  EXPECT_EQ(starts(10, 4, 1), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
}

TEST(Seeds, CloseCutoffWidensUntilThreePairsAreClose) {
  EXPECT_EQ(close_cutoff(std::vector<double>{10, 11, 12, 13}.data(), 4, 2.0), 12.5);
  EXPECT_EQ(close_cutoff(std::vector<double>{50, 60}.data(), 2, 2.0), 2.0);  // below 3 pairs
  const double nan = std::nan("");  // never close: no endless widening
  EXPECT_EQ(close_cutoff(std::vector<double>{nan, 7, nan, 9}.data(), 4, 2.0), 2.0);
  // The same cutoff as raising it by 0.5 and recounting, ties included.
  unsigned state = 12345;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<double> dist(3 + trial % 9);
    for (double& v : dist) v = ((state = state * 1103515245u + 12345u) >> 8) % 4000 / 97.0;
    if (trial % 5 == 0) dist[1] = dist[2] = dist[0];
    const double d = 0.3 + (trial % 7) * 0.71;
    double cut = d;
    for (;;) {
      int nclose = 0;
      for (double v : dist) nclose += v < cut;
      if (nclose >= 3) break;
      cut += 0.5;
    }
    EXPECT_EQ(close_cutoff(dist.data(), static_cast<int>(dist.size()), d), cut);
  }
}

// The third smallest finite value, repeats counted, against a sort.
TEST(Seeds, ThirdSmallestOfTheFiniteValues) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  EXPECT_EQ(third_smallest(std::vector<double>{5, nan, 1, inf, 1, -inf}.data(), 6), 5.0);
  EXPECT_EQ(third_smallest(std::vector<double>{2, nan, 1}.data(), 3), inf);
  unsigned state = 777;
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<double> v(1 + trial % 12), finite;
    for (double& x : v) {
      const unsigned r = (state = state * 1103515245u + 12345u) >> 8;
      x = r % 11 == 0 ? nan : r % 13 == 0 ? inf : static_cast<double>(r % 9) - 2.0;
      if (std::isfinite(x)) finite.push_back(x);
    }
    std::sort(finite.begin(), finite.end());
    EXPECT_EQ(third_smallest(v.data(), static_cast<int>(v.size())),
              finite.size() >= 3 ? finite[2] : inf);
  }
}

// Far-away pairs (absurd coordinates) must not make the widening run for ages.
TEST(Seeds, WideningToAFarTargetEndsAtTheFirstStepPastIt) {
  for (const double target : {3e6, 1e12}) {
    for (const bool inclusive : {true, false}) {
      const double cut = widen_cutoff(20.25, target, inclusive);
      EXPECT_TRUE(inclusive ? target <= cut : target < cut) << target;
      EXPECT_LE(cut - target, 0.5 + 1e-9 * target) << target;
    }
  }
  // Where a step of 0.5 no longer changes the value, the cutoff stops growing.
  EXPECT_TRUE(std::isfinite(widen_cutoff(20.25, 1e17, true)));
  EXPECT_EQ(widen_cutoff(20.25, 21.0, true), 21.25);
  EXPECT_EQ(widen_cutoff(20.25, 20.75, true), 20.75);
  EXPECT_EQ(widen_cutoff(20.25, 20.75, false), 21.25);
}

}  // namespace
}  // namespace tarvix
