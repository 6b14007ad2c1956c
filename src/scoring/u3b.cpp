// Weighted least-squares superposition of two paired point sets in closed
// form: the eigenvalues of cor^T cor come from the analytic solution of its
// characteristic cubic, the rotation from its eigenvectors, and the rotation is
// always proper (a mirror image costs twice the smallest singular value).
//
// The order of every floating-point operation below is deliberate; results
// feed ties broken at 1e-6, so do not reassociate sums or fold constants.
//
// The 3 x 3 work is written out entry by entry, with every vector in named
// scalars: a fit is a long chain of dependent square roots and divisions, and
// indexing small matrices at run time would send each step of it through
// memory.

#include <array>
#include <cmath>

#include "scoring/scoring.h"

namespace tarvix {

namespace {

constexpr double kThird = 0.3333333333333333;  // used as a multiplier, never as a division
constexpr double kSqrt3 = 1.73205080756888;
constexpr double kTol = 1e-2;    // a vector that has almost vanished
constexpr double kEps = 1e-05;   // relative tolerance for degeneracy

struct Vec3 {
  double x, y, z;
};

inline double dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Sum of squares, accumulated from zero in the order x, y, z.
inline double norm2(const Vec3& a) {
  double s = 0.0;
  s += a.x * a.x;
  s += a.y * a.y;
  s += a.z * a.z;
  return s;
}

inline Vec3 scaled(const Vec3& a, double r) { return {a.x * r, a.y * r, a.z * r}; }

// A unit vector orthogonal to k, for when the plain Gram-Schmidt step left the
// other vector almost zero: built in the plane of k's two largest components.
// ok is false when k itself has no usable component off its smallest axis.
struct Fallback {
  bool ok;
  Vec3 v;
};

[[gnu::noinline, gnu::cold]] Fallback orthogonal_fallback(const Vec3& k) {
  const double c[3] = {k.x, k.y, k.z};
  int j = 0;
  double smallest = 1.0;
  for (int i = 0; i < 3; ++i) {
    const double v = std::fabs(c[i]);
    if (v <= smallest) {
      j = i;
      smallest = v;
    }
  }
  const int p = (j + 1) % 3;  // the two other axes, in the order (2, 3), (3, 1), (1, 2)
  const int q = (j + 2) % 3;
  const double len = std::sqrt(c[p] * c[p] + c[q] * c[q]);
  if (len <= kTol) return {false, {}};
  double out[3];
  out[j] = 0.0;
  out[p] = -c[q] / len;
  out[q] = c[p] / len;
  return {true, {out[0], out[1], out[2]}};
}

// Removes from a its component along the unit vector k and normalises it
// (or replaces it by the fallback). Returns false when no rotation can be
// formed.
inline bool orthonormalise(Vec3& a, const Vec3& k) {
  const double d = dot(k, a);
  a = {a.x - d * k.x, a.y - d * k.y, a.z - d * k.z};
  const double p = norm2(a);
  if (p <= kTol) {
    const Fallback f = orthogonal_fallback(k);
    if (!f.ok) return false;
    a = f.v;
  } else {
    a = scaled(a, 1.0 / std::sqrt(p));
  }
  return true;
}

// The eigenvector of the symmetric matrix g (upper triangle (1,1), (1,2),
// (2,2), (1,3), (2,3), (3,3)) for the eigenvalue d: the column of the adjugate
// of d - g with the largest diagonal entry, normalised.
inline Vec3 eigenvector(double d, const double g[7]) {
  const double adj1 = (d - g[3]) * (d - g[6]) - g[5] * g[5];
  const double adj2 = (d - g[6]) * g[2] + g[4] * g[5];
  const double adj3 = (d - g[1]) * (d - g[6]) - g[4] * g[4];
  const double adj4 = (d - g[3]) * g[4] + g[2] * g[5];
  const double adj5 = (d - g[1]) * g[5] + g[2] * g[4];
  const double adj6 = (d - g[1]) * (d - g[3]) - g[2] * g[2];
  Vec3 v;
  if (std::fabs(adj1) >= std::fabs(adj3)) {
    if (std::fabs(adj1) < std::fabs(adj6))
      v = {adj4, adj5, adj6};
    else
      v = {adj1, adj2, adj4};
  } else if (std::fabs(adj3) >= std::fabs(adj6)) {
    v = {adj2, adj3, adj5};
  } else {
    v = {adj4, adj5, adj6};
  }
  const double s2 = norm2(v);
  if (s2 > 0.0) v = scaled(v, 1.0 / std::sqrt(s2));
  return v;
}

// The fit itself. kUnit: every weight is 1.0 (see u3b); kResid: the caller
// wants the residual and the status, which nothing else depends on: without
// them the spread of the points and the singular values are left out.
template <bool kUnit, bool kResid>
inline void fit(const double* w, const Coord* x, const Coord* y, int n, int mode, double& resid,
                double u[3][3], double t[3], int& status) {
  // 1. initial values
  resid = 0.0;
  for (int i = 0; i < 3; ++i) {
    t[i] = 0.0;
    for (int j = 0; j < 3; ++j) u[i][j] = (i == j) ? 1.0 : 0.0;
  }

  // 2.
  status = -1;
  if (n < 1) return;

  // 3. total weight and centroids
  status = -2;
  double wsum = 0.0;
  double cx0 = 0.0, cx1 = 0.0, cx2 = 0.0, cy0 = 0.0, cy1 = 0.0, cy2 = 0.0;
  for (int m = 0; m < n; ++m) {
    if constexpr (kUnit) {
      wsum += 1.0;
      cx0 += x[m][0];
      cy0 += y[m][0];
      cx1 += x[m][1];
      cy1 += y[m][1];
      cx2 += x[m][2];
      cy2 += y[m][2];
    } else {
      if (w[m] < 0.0) return;
      wsum += w[m];
      cx0 += w[m] * x[m][0];
      cy0 += w[m] * y[m][0];
      cx1 += w[m] * x[m][1];
      cy1 += w[m] * y[m][1];
      cx2 += w[m] * x[m][2];
      cy2 += w[m] * y[m][2];
    }
  }
  if (wsum <= 0.0) return;
  cx0 = cx0 / wsum;
  cx1 = cx1 / wsum;
  cx2 = cx2 / wsum;
  cy0 = cy0 / wsum;
  cy1 = cy1 / wsum;
  cy2 = cy2 / wsum;

  // 4. spread and correlation matrix: cij is cor(i, j), the sum of the
  // weighted products of y's coordinate i and x's coordinate j.
  double spread = 0.0;
  double c11 = 0.0, c12 = 0.0, c13 = 0.0, c21 = 0.0, c22 = 0.0, c23 = 0.0, c31 = 0.0, c32 = 0.0,
         c33 = 0.0;
  for (int m = 0; m < n; ++m) {
    const double x0 = x[m][0] - cx0, x1 = x[m][1] - cx1, x2 = x[m][2] - cx2;
    const double y0 = y[m][0] - cy0, y1 = y[m][1] - cy1, y2 = y[m][2] - cy2;
    if constexpr (kUnit) {
      if constexpr (kResid) {
        spread += x0 * x0 + y0 * y0;
        spread += x1 * x1 + y1 * y1;
        spread += x2 * x2 + y2 * y2;
      }
      c11 += y0 * x0;
      c12 += y0 * x1;
      c13 += y0 * x2;
      c21 += y1 * x0;
      c22 += y1 * x1;
      c23 += y1 * x2;
      c31 += y2 * x0;
      c32 += y2 * x1;
      c33 += y2 * x2;
    } else {
      const double wm = w[m];
      spread += wm * (x0 * x0 + y0 * y0);
      spread += wm * (x1 * x1 + y1 * y1);
      spread += wm * (x2 * x2 + y2 * y2);
      const double d0 = wm * y0, d1 = wm * y1, d2 = wm * y2;
      c11 += d0 * x0;
      c12 += d0 * x1;
      c13 += d0 * x2;
      c21 += d1 * x0;
      c22 += d1 * x1;
      c23 += d1 * x2;
      c31 += d2 * x0;
      c32 += d2 * x1;
      c33 += d2 * x2;
    }
  }

  // 5. determinant and the upper triangle of cor^T cor
  const double detc = c11 * (c22 * c33 - c23 * c32) - c12 * (c21 * c33 - c23 * c31) +
                      c13 * (c21 * c32 - c22 * c31);
  double g[7];  // g[1..6]: (1,1), (1,2), (2,2), (1,3), (2,3), (3,3)
  g[0] = 0.0;
  g[1] = c11 * c11 + c21 * c21 + c31 * c31;
  g[2] = c11 * c12 + c21 * c22 + c31 * c32;
  g[3] = c12 * c12 + c22 * c22 + c32 * c32;
  g[4] = c11 * c13 + c21 * c23 + c31 * c33;
  g[5] = c12 * c13 + c22 * c23 + c32 * c33;
  g[6] = c13 * c13 + c23 * c23 + c33 * c33;

  bool rotation = true;   // false: leave u as the identity (jump to the translation)
  bool translate = true;  // false: mode 0 skips the translation as well

  // 6.
  const double tr3 = (g[1] + g[3] + g[6]) * kThird;
  const double pm3 =
      (((((g[3] * g[6] - g[5] * g[5]) + g[1] * g[6]) - g[4] * g[4]) + g[1] * g[3]) - g[2] * g[2]) *
      kThird;
  const double det2 = detc * detc;
  double ev1 = tr3, ev2 = tr3, ev3 = tr3;

  if (tr3 <= 0.0) {
    rotation = false;
  } else {
    // 7. eigenvalues of cor^T cor
    double d = tr3 * tr3;
    const double h = d - pm3;
    const double gg = (tr3 * pm3 - det2) * 0.5 - tr3 * h;
    bool eigvec = true;  // steps 8-10
    if (h <= 0.0) {
      if (mode == 0) {
        rotation = false;
        translate = false;
      } else {
        eigvec = false;  // a stays the identity
      }
    } else {
      const double rh = std::sqrt(h);
      d = h * h * h - gg * gg;
      if (d < 0.0) d = 0.0;
      d = std::atan2(std::sqrt(d), -gg) * kThird;
      const double ch = rh * std::cos(d);
      const double sh = rh * kSqrt3 * std::sin(d);
      ev1 = (tr3 + ch) + ch;
      ev2 = (tr3 - ch) + sh;
      ev3 = (tr3 - ch) - sh;
      if (mode == 0) {
        rotation = false;
        translate = false;
      }
    }

    // The eigenvectors a1, a2, a3 of cor^T cor (columns of a) and their
    // normalised images b1, b2, b3 under cor.
    Vec3 a1{1.0, 0.0, 0.0}, a2{0.0, 1.0, 0.0}, a3{0.0, 0.0, 1.0};
    if (rotation && eigvec) {
      // 8. eigenvectors for the largest and the smallest eigenvalue
      a1 = eigenvector(ev1, g);
      a3 = eigenvector(ev3, g);
      // 9. orthogonalise the less separated eigenvector against the other
      if (ev1 - ev2 > ev2 - ev3)
        rotation = orthonormalise(a3, a1);
      else
        rotation = orthonormalise(a1, a3);
      // 10. middle eigenvector: a2 = a3 x a1
      if (rotation)
        a2 = {a3.y * a1.z - a1.y * a3.z, a3.z * a1.x - a1.z * a3.x, a3.x * a1.y - a1.x * a3.y};
    }

    if (rotation) {
      // 11. images of the first two eigenvectors under cor
      auto image = [&](const Vec3& a) {
        Vec3 b{c11 * a.x + c12 * a.y + c13 * a.z, c21 * a.x + c22 * a.y + c23 * a.z,
               c31 * a.x + c32 * a.y + c33 * a.z};
        const double p = norm2(b);
        if (p > 0.0) b = scaled(b, 1.0 / std::sqrt(p));
        return b;
      };
      const Vec3 b1 = image(a1);
      Vec3 b2 = image(a2);
      // 12.
      rotation = orthonormalise(b2, b1);
      if (rotation) {
        // 13. b3 = b1 x b2
        const Vec3 b3{b1.y * b2.z - b2.y * b1.z, b1.z * b2.x - b2.z * b1.x,
                      b1.x * b2.y - b2.x * b1.y};
        // 14. rotation
        const double bm[3][3] = {{b1.x, b2.x, b3.x}, {b1.y, b2.y, b3.y}, {b1.z, b2.z, b3.z}};
        const double am[3][3] = {{a1.x, a2.x, a3.x}, {a1.y, a2.y, a3.y}, {a1.z, a2.z, a3.z}};
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j)
            u[i][j] = bm[i][0] * am[j][0] + bm[i][1] * am[j][1] + bm[i][2] * am[j][2];
      }
    }
  }

  // 15. translation
  if (translate) {
    t[0] = ((cy0 - u[0][0] * cx0) - u[0][1] * cx1) - u[0][2] * cx2;
    t[1] = ((cy1 - u[1][0] * cx0) - u[1][1] * cx1) - u[1][2] * cx2;
    t[2] = ((cy2 - u[2][0] * cx0) - u[2][1] * cx1) - u[2][2] * cx2;
  }

  // 16. residual and status
  if constexpr (kResid) {
    auto singular = [](double e) { return std::sqrt(e < 0.0 ? 0.0 : e); };
    ev1 = singular(ev1);
    ev2 = singular(ev2);
    ev3 = singular(ev3);
    status = 0;
    if (ev2 <= ev1 * kEps) status = -1;
    double d = ev3;
    if (detc < 0.0) {
      d = -ev3;
      if (ev2 - ev3 <= ev1 * kEps) status = -1;
    }
    d = (d + ev2) + ev1;
    resid = (spread - d) - d;
    if (resid < 0.0) resid = 0.0;
  } else {
    status = 0;
  }
}

}  // namespace

const double* unit_weights() {
  // Made by the compiler: the table is part of the program, and its pages are
  // only read in when a caller reads them (u3b itself recognises the table
  // and does not).
  static constexpr std::array<double, kMaxRes> kTable = [] {
    std::array<double, kMaxRes> w{};
    for (double& x : w) x = 1.0;
    return w;
  }();
  return kTable.data();
}

void u3b(const double* w, const Coord* x, const Coord* y, int n, int mode, double& resid,
         double u[3][3], double t[3], int& status) {
  // Every caller passes unit weights. Multiplying by 1.0 changes no number
  // and a sum of n ones is n exactly, so the weights can then be left out:
  // the same operations on the same values, minus the multiplications.
  if (w == unit_weights() && n <= kMaxRes)
    fit<true, true>(w, x, y, n, mode, resid, u, t, status);
  else
    fit<false, true>(w, x, y, n, mode, resid, u, t, status);
}

void superpose(const Coord* x, const Coord* y, int n, double u[3][3], double t[3]) {
  double resid;
  int status;
  fit<true, false>(nullptr, x, y, n, 1, resid, u, t, status);
}

}  // namespace tarvix
