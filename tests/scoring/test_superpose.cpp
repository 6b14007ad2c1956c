// Least-squares superposition and the seed schedule of the superposition search.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scoring/scoring.h"
#include "scoring/seeds.h"

namespace tarvix {
namespace {

struct Rigid {
  double u[3][3];
  double t[3];
};

// Rotation by angle about the (normalised) axis, followed by shift.
Rigid rigid(Coord axis, double angle, Coord shift) {
  const double nrm = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
  const double x = axis[0] / nrm, y = axis[1] / nrm, z = axis[2] / nrm;
  const double c = std::cos(angle), s = std::sin(angle), C = 1 - c;
  Rigid r{{{c + x * x * C, x * y * C - z * s, x * z * C + y * s},
           {y * x * C + z * s, c + y * y * C, y * z * C - x * s},
           {z * x * C - y * s, z * y * C + x * s, c + z * z * C}},
          {shift[0], shift[1], shift[2]}};
  return r;
}

// A small irregular, non-planar point cloud.
std::vector<Coord> cloud() {
  return {{1.0, 2.0, 3.0},  {-4.0, 0.5, 2.0}, {3.5, -2.0, -1.0}, {0.0, 5.0, -3.0},
          {-2.0, -3.0, 4.5}, {6.0, 1.0, 0.5},  {2.5, 3.5, 5.5}};
}

std::vector<Coord> move_points(const Rigid& r, const std::vector<Coord>& x) {
  std::vector<Coord> y;
  for (const Coord& p : x) y.push_back(transform(r.u, r.t, p));
  return y;
}

// sum over m of w(m) |u x(m) + t - y(m)|^2
double deviation(const double* w, const std::vector<Coord>& x, const std::vector<Coord>& y,
                 const double u[3][3], const double t[3]) {
  double s = 0.0;
  for (size_t m = 0; m < x.size(); ++m) s += w[m] * dist2(transform(u, t, x[m]), y[m]);
  return s;
}

double det3(const double u[3][3]) {
  return u[0][0] * (u[1][1] * u[2][2] - u[1][2] * u[2][1]) -
         u[0][1] * (u[1][0] * u[2][2] - u[1][2] * u[2][0]) +
         u[0][2] * (u[1][0] * u[2][1] - u[1][1] * u[2][0]);
}

void expect_proper_rotation(const double u[3][3]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const double dot = u[0][i] * u[0][j] + u[1][i] * u[1][j] + u[2][i] * u[2][j];
      EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12);
    }
  EXPECT_NEAR(det3(u), 1.0, 1e-12);
}

struct Fit {
  double resid = -1.0;
  double u[3][3];
  double t[3];
  int status = 99;
};

Fit fit(const std::vector<Coord>& x, const std::vector<Coord>& y, int mode = 1,
        const double* w = unit_weights()) {
  Fit f;
  u3b(w, x.data(), y.data(), static_cast<int>(x.size()), mode, f.resid, f.u, f.t, f.status);
  return f;
}

void expect_identity_motion(const Fit& f, double tx, double ty, double tz) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(f.u[i][j], i == j ? 1.0 : 0.0);
  EXPECT_EQ(f.t[0], tx);
  EXPECT_EQ(f.t[1], ty);
  EXPECT_EQ(f.t[2], tz);
}

TEST(U3b, RecoversRotationAndShift) {
  const std::vector<Rigid> motions = {
      rigid({0, 0, 1}, M_PI / 2, {5.0, -3.0, 2.0}),   // quarter turn
      rigid({1, 2, 3}, 0.7, {-10.0, 4.0, 1.5}),
      rigid({-1, 0.2, 0.5}, 2.9, {0.0, 0.0, 30.0}),  // nearly a half turn
      rigid({1, 0, 0}, 0.0, {0.0, 0.0, 0.0}),        // nothing to do
  };
  const std::vector<Coord> x = cloud();
  for (const Rigid& r : motions) {
    const Fit f = fit(x, move_points(r, x));
    EXPECT_EQ(f.status, 0);
    EXPECT_NEAR(f.resid, 0.0, 1e-9);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(f.t[i], r.t[i], 1e-9);
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(f.u[i][j], r.u[i][j], 1e-12);
    }
  }
}

TEST(U3b, ResidualIsTheDeviationOfTheReturnedMotionAndMinimal) {
  // Noisy, weighted data: resid must be what (u, t) actually leaves, and no
  // worse than the motion the data was made with.
  const std::vector<Coord> x = cloud();
  const Rigid r = rigid({0.3, -1, 0.4}, 1.1, {2.0, 7.0, -4.0});
  std::vector<Coord> y = move_points(r, x);
  const double noise[7][3] = {{0.3, -0.2, 0.1}, {-0.4, 0.0, 0.2},  {0.1, 0.5, -0.3},
                              {0.0, -0.1, 0.4}, {0.2, 0.2, -0.2}, {-0.3, 0.1, 0.0},
                              {0.1, -0.4, 0.3}};
  for (size_t m = 0; m < y.size(); ++m)
    for (int i = 0; i < 3; ++i) y[m][i] += noise[m][i];
  const double weights[7] = {1.0, 2.0, 0.5, 1.5, 3.0, 0.25, 1.0};
  for (const double* w : {unit_weights(), static_cast<const double*>(weights)}) {
    const Fit f = fit(x, y, 1, w);
    EXPECT_EQ(f.status, 0);
    expect_proper_rotation(f.u);
    const double actual = deviation(w, x, y, f.u, f.t);
    EXPECT_NEAR(f.resid, actual, 1e-9 * (1.0 + actual));
    EXPECT_LE(f.resid, deviation(w, x, y, r.u, r.t) + 1e-12);
    EXPECT_GT(f.resid, 0.0);
  }
}

TEST(U3b, MirrorImageGivesProperRotation) {
  const std::vector<Coord> x = cloud();
  std::vector<Coord> y = x;
  for (Coord& p : y) p[2] = -p[2];
  const Fit f = fit(x, y);
  expect_proper_rotation(f.u);
  EXPECT_GT(f.resid, 1.0);
  EXPECT_NEAR(f.resid, deviation(unit_weights(), x, y, f.u, f.t), 1e-8);
}

TEST(U3b, CollinearPointsAreNotUniqueButSuperposed) {
  std::vector<Coord> x;
  for (int m = 0; m < 5; ++m) x.push_back({1.0 + 2.0 * m, -1.0 + 1.0 * m, 0.5 * m});
  // The closed-form eigenvalues resolve the double root of a rank-one
  // correlation matrix only to about sqrt(machine epsilon), so whether the
  // degeneracy is flagged depends on the data; this line is one where it is.
  const Rigid r = rigid({0, 0, 1}, 0.8, {3.0, -2.0, 1.0});
  const std::vector<Coord> y = move_points(r, x);
  const Fit f = fit(x, y);
  EXPECT_EQ(f.status, -1);
  EXPECT_NEAR(f.resid, 0.0, 1e-9);
  expect_proper_rotation(f.u);
  EXPECT_NEAR(deviation(unit_weights(), x, y, f.u, f.t), 0.0, 1e-9);
}

TEST(U3b, DegenerateInputs) {
  {  // one point: identity and the difference of the points
    const Fit f = fit(std::vector<Coord>{{1.0, 2.0, 3.0}}, std::vector<Coord>{{4.0, 6.0, 2.0}});
    EXPECT_EQ(f.status, -1);
    EXPECT_EQ(f.resid, 0.0);
    expect_identity_motion(f, 3.0, 4.0, -1.0);
  }
  {  // no points
    const Fit f = fit(std::vector<Coord>{}, std::vector<Coord>{});
    EXPECT_EQ(f.status, -1);
    EXPECT_EQ(f.resid, 0.0);
    expect_identity_motion(f, 0.0, 0.0, 0.0);
  }
  const std::vector<Coord> x = cloud();
  const std::vector<Coord> y = move_points(rigid({0, 1, 0}, 0.4, {1, 1, 1}), x);
  {  // a negative weight
    std::vector<double> w(x.size(), 1.0);
    w[3] = -1.0;
    const Fit f = fit(x, y, 1, w.data());
    EXPECT_EQ(f.status, -2);
    EXPECT_EQ(f.resid, 0.0);
    expect_identity_motion(f, 0.0, 0.0, 0.0);
  }
  {  // zero total weight
    std::vector<double> w(x.size(), 0.0);
    const Fit f = fit(x, y, 1, w.data());
    EXPECT_EQ(f.status, -2);
    expect_identity_motion(f, 0.0, 0.0, 0.0);
  }
}

TEST(U3b, ModeZeroComputesOnlyTheResidual) {
  const std::vector<Coord> x = cloud();
  std::vector<Coord> y = move_points(rigid({2, -1, 1}, 1.3, {4, 5, 6}), x);
  y[2][0] += 0.7;
  const Fit full = fit(x, y, 1);
  const Fit only = fit(x, y, 0);
  EXPECT_EQ(only.resid, full.resid);
  EXPECT_EQ(only.status, full.status);
  expect_identity_motion(only, 0.0, 0.0, 0.0);
  // All points on their centroids: the translation is still set.
  const Fit flat = fit(std::vector<Coord>{{1, 1, 1}, {1, 1, 1}}, std::vector<Coord>{{2, 3, 4}, {2, 3, 4}}, 0);
  expect_identity_motion(flat, 1.0, 2.0, 3.0);
}

TEST(U3b, UnitWeightsCoverEveryResidue) {
  const double* w = unit_weights();
  for (int m = 0; m < kMaxRes; ++m) ASSERT_EQ(w[m], 1.0);
  EXPECT_EQ(w, unit_weights());
}

// ---- seed schedule ---------------------------------------------------------

std::vector<int> lengths(int n) {
  int len[kMaxSeedLengths];
  const int c = seed_lengths(n, len);
  return std::vector<int>(len, len + c);
}

std::vector<int> starts(int n, int len, int step) {
  std::vector<int> s(static_cast<size_t>(n / step + 2));
  s.resize(static_cast<size_t>(seed_starts(n, len, step, s.data())));
  return s;
}

TEST(Seeds, LengthsHalveDownToFour) {
  for (int n = 0; n <= 4; ++n) EXPECT_EQ(lengths(n), std::vector<int>{n});
  EXPECT_EQ(lengths(5), (std::vector<int>{5, 4}));
  EXPECT_EQ(lengths(8), (std::vector<int>{8, 4}));
  EXPECT_EQ(lengths(9), (std::vector<int>{9, 4}));
  EXPECT_EQ(lengths(10), (std::vector<int>{10, 5, 4}));
  EXPECT_EQ(lengths(100), (std::vector<int>{100, 50, 25, 12, 6, 4}));
  EXPECT_EQ(lengths(5000), (std::vector<int>{5000, 2500, 1250, 625, 312, 4}));
}

TEST(Seeds, StepOfTheSpacedMode) {
  const int nmin[] = {3, 20, 21, 40, 41, 50, 60, 61, 70, 80, 81, 120, 121, 5000};
  const int step[] = {5, 5, 10, 10, 40, 40, 40, 20, 20, 20, 30, 30, 40, 40};
  for (size_t k = 0; k < std::size(nmin); ++k) {
    EXPECT_EQ(seed_step(1, nmin[k]), step[k]) << nmin[k];
    EXPECT_EQ(seed_step(2, nmin[k]), 1);
    EXPECT_EQ(seed_step(3, nmin[k]), 1);
  }
}

TEST(Seeds, StartsEndOnTheLastWindow) {
  EXPECT_EQ(starts(100, 25, 30), (std::vector<int>{1, 31, 61, 76}));
  EXPECT_EQ(starts(100, 100, 30), std::vector<int>{1});
  EXPECT_EQ(starts(50, 25, 40), (std::vector<int>{1, 26}));
  EXPECT_EQ(starts(11, 1, 5), (std::vector<int>{1, 6, 11}));  // last spaced start is the last one
  EXPECT_EQ(starts(10, 4, 1), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(starts(0, 0, 5), std::vector<int>{1});
}

// The cutoff as the search defines it: widen by 0.5 until three pairs are close.
double widen_reference(const std::vector<double>& dist, double d) {
  double cut = d;
  for (;;) {
    int nclose = 0;
    for (double v : dist)
      if (v < cut) ++nclose;
    if (dist.size() >= 3 && nclose < 3) {
      cut += 0.5;
      continue;
    }
    return cut;
  }
}

TEST(Seeds, CloseCutoffWidensUntilThreePairsAreClose) {
  EXPECT_EQ(close_cutoff(std::vector<double>{10, 11, 12, 13}.data(), 4, 2.0), 12.5);
  EXPECT_EQ(close_cutoff(std::vector<double>{1, 1, 1}.data(), 3, 2.0), 2.0);
  EXPECT_EQ(close_cutoff(std::vector<double>{50, 60}.data(), 2, 2.0), 2.0);  // fewer than 3 pairs
  const double nan = std::nan("");
  EXPECT_EQ(close_cutoff(std::vector<double>{nan, 7, nan, 9}.data(), 4, 2.0), 2.0);
  // Same cutoff as the plain widening loop on irregular data, ties included.
  unsigned state = 12345;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<double> dist(3 + trial % 9);
    for (double& v : dist) {
      state = state * 1103515245u + 12345u;
      v = (state >> 8) % 4000 / 97.0;
    }
    if (trial % 5 == 0) dist[1] = dist[2] = dist[0];
    const double d = 0.3 + (trial % 7) * 0.71;
    EXPECT_EQ(close_cutoff(dist.data(), static_cast<int>(dist.size()), d), widen_reference(dist, d));
  }
}

}  // namespace
}  // namespace tarvix
