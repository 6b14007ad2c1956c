// Weighted least-squares superposition of two paired point sets in closed
// form: the eigenvalues of cor^T cor come from the analytic solution of its
// characteristic cubic, the rotation from its eigenvectors, and the rotation is
// always proper (a mirror image costs twice the smallest singular value).
//
// The order of every floating-point operation below is deliberate; results
// feed ties broken at 1e-6, so do not reassociate sums or fold constants.

#include <array>
#include <cmath>

#include "scoring/scoring.h"

namespace tarvix {

namespace {

constexpr double kThird = 0.3333333333333333;  // used as a multiplier, never as a division
constexpr double kSqrt3 = 1.73205080756888;
constexpr double kTol = 1e-2;    // a vector that has almost vanished
constexpr double kEps = 1e-05;   // relative tolerance for degeneracy

// Row j (1..3) of a symmetric 3 x 3 matrix held as six values in the order
// (1,1), (1,2), (2,2), (1,3), (2,3), (3,3): positions adjpos[3(j-1) + i - 1].
constexpr int kAdjPos[9] = {1, 2, 4, 2, 3, 5, 4, 5, 6};
// The two other axes of axis j: axpair[j - 1], axpair[j].
constexpr int kAxPair[4] = {2, 3, 1, 2};

// 1-based views on 3 x 3 column-major storage: m[(j-1)*3 + (i-1)] is (i, j).
struct M3 {
  double v[9];
  double& operator()(int i, int j) { return v[(j - 1) * 3 + (i - 1)]; }
  double operator()(int i, int j) const { return v[(j - 1) * 3 + (i - 1)]; }
  void identity() {
    for (double& e : v) e = 0.0;
    v[0] = v[4] = v[8] = 1.0;
  }
};

// Makes column ca of m a unit vector orthogonal to column ck when the plain
// Gram-Schmidt step left it almost zero. Returns false when column ck itself
// has no usable component off its smallest axis.
bool orthogonal_fallback(M3& m, int ck, int ca) {
  int j = 1;
  double smallest = 1.0;
  for (int i = 1; i <= 3; ++i) {
    const double v = std::fabs(m(i, ck));
    if (v <= smallest) {
      j = i;
      smallest = v;
    }
  }
  const int k = kAxPair[j - 1];
  const int l = kAxPair[j];
  const double p = std::sqrt(m(k, ck) * m(k, ck) + m(l, ck) * m(l, ck));
  if (p <= kTol) return false;
  m(j, ca) = 0.0;
  m(k, ca) = -m(l, ck) / p;
  m(l, ca) = m(k, ck) / p;
  return true;
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
  // 1. initial values
  double spread = 0.0, wsum = 0.0;
  double cx[3] = {0.0, 0.0, 0.0}, cy[3] = {0.0, 0.0, 0.0};
  M3 cor;
  for (double& e : cor.v) e = 0.0;
  M3 a;
  a.identity();
  M3 b;
  for (double& e : b.v) e = 0.0;
  double ev[4] = {0.0, 0.0, 0.0, 0.0};  // ev[1..3]
  double gram[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  // gram[1..6]
  double detc = 0.0;
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
  // Every caller passes unit weights. Multiplying by 1.0 changes no number
  // and a sum of n ones is n exactly, so the weights can then be left out:
  // the same operations on the same values, minus the multiplications.
  const bool unit = w == unit_weights() && n <= kMaxRes;
  if (unit) {
    for (int m = 0; m < n; ++m) {
      wsum += 1.0;
      for (int i = 0; i < 3; ++i) {
        cx[i] += x[m][i];
        cy[i] += y[m][i];
      }
    }
  } else {
    for (int m = 0; m < n; ++m) {
      if (w[m] < 0.0) return;
      wsum += w[m];
      for (int i = 0; i < 3; ++i) {
        cx[i] += w[m] * x[m][i];
        cy[i] += w[m] * y[m][i];
      }
    }
  }
  if (wsum <= 0.0) return;
  for (int i = 0; i < 3; ++i) {
    cx[i] = cx[i] / wsum;
    cy[i] = cy[i] / wsum;
  }

  // 4. spread and correlation matrix
  if (unit) {
    for (int m = 0; m < n; ++m) {
      const double xc[3] = {x[m][0] - cx[0], x[m][1] - cx[1], x[m][2] - cx[2]};
      for (int i = 0; i < 3; ++i) {
        const double yd = y[m][i] - cy[i];
        spread += xc[i] * xc[i] + yd * yd;
        for (int j = 0; j < 3; ++j) cor(i + 1, j + 1) += yd * xc[j];
      }
    }
  } else {
    for (int m = 0; m < n; ++m) {
      for (int i = 0; i < 3; ++i) {
        const double xd = x[m][i] - cx[i];
        const double yd = y[m][i] - cy[i];
        spread += w[m] * (xd * xd + yd * yd);
        const double dy = w[m] * yd;
        for (int j = 0; j < 3; ++j) cor(i + 1, j + 1) += dy * (x[m][j] - cx[j]);
      }
    }
  }

  // 5. determinant and the upper triangle of cor^T cor
  detc = cor(1, 1) * (cor(2, 2) * cor(3, 3) - cor(2, 3) * cor(3, 2)) -
         cor(1, 2) * (cor(2, 1) * cor(3, 3) - cor(2, 3) * cor(3, 1)) +
         cor(1, 3) * (cor(2, 1) * cor(3, 2) - cor(2, 2) * cor(3, 1));
  {
    int k = 0;
    for (int q = 1; q <= 3; ++q) {
      for (int p = 1; p <= q; ++p) {
        ++k;
        gram[k] = cor(1, p) * cor(1, q) + cor(2, p) * cor(2, q) + cor(3, p) * cor(3, q);
      }
    }
  }

  bool rotation = true;  // false: leave u as the identity (jump to the translation)
  bool translate = true;  // false: mode 0 skips the translation as well

  // 6.
  const double tr3 = (gram[1] + gram[3] + gram[6]) * kThird;
  const double pm3 = (((((gram[3] * gram[6] - gram[5] * gram[5]) + gram[1] * gram[6]) -
                        gram[4] * gram[4]) +
                       gram[1] * gram[3]) -
                      gram[2] * gram[2]) *
                     kThird;
  const double det2 = detc * detc;
  ev[1] = ev[2] = ev[3] = tr3;

  if (tr3 <= 0.0) {
    rotation = false;
  } else {
    // 7. eigenvalues of cor^T cor
    double d = tr3 * tr3;
    double h = d - pm3;
    const double g = (tr3 * pm3 - det2) * 0.5 - tr3 * h;
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
      d = h * h * h - g * g;
      if (d < 0.0) d = 0.0;
      d = std::atan2(std::sqrt(d), -g) * kThird;
      const double ch = rh * std::cos(d);
      const double sh = rh * kSqrt3 * std::sin(d);
      ev[1] = (tr3 + ch) + ch;
      ev[2] = (tr3 - ch) + sh;
      ev[3] = (tr3 - ch) - sh;
      if (mode == 0) {
        rotation = false;
        translate = false;
      }
    }

    if (rotation && eigvec) {
      // 8. eigenvectors for the largest and the smallest eigenvalue
      for (int l = 1; l <= 3; l += 2) {
        d = ev[l];
        double adj[7];
        adj[1] = (d - gram[3]) * (d - gram[6]) - gram[5] * gram[5];
        adj[2] = (d - gram[6]) * gram[2] + gram[4] * gram[5];
        adj[3] = (d - gram[1]) * (d - gram[6]) - gram[4] * gram[4];
        adj[4] = (d - gram[3]) * gram[4] + gram[2] * gram[5];
        adj[5] = (d - gram[1]) * gram[5] + gram[2] * gram[4];
        adj[6] = (d - gram[1]) * (d - gram[3]) - gram[2] * gram[2];
        int j;
        if (std::fabs(adj[1]) >= std::fabs(adj[3])) {
          j = 1;
          if (std::fabs(adj[1]) < std::fabs(adj[6])) j = 3;
        } else if (std::fabs(adj[3]) >= std::fabs(adj[6])) {
          j = 2;
        } else {
          j = 3;
        }
        double s2 = 0.0;
        for (int i = 1; i <= 3; ++i) {
          a(i, l) = adj[kAdjPos[3 * (j - 1) + i - 1]];
          s2 += a(i, l) * a(i, l);
        }
        if (s2 > 0.0) {
          const double r = 1.0 / std::sqrt(s2);
          for (int i = 1; i <= 3; ++i) a(i, l) = a(i, l) * r;
        }
      }

      // 9. orthogonalise the less separated eigenvector against the other
      d = a(1, 1) * a(1, 3) + a(2, 1) * a(2, 3) + a(3, 1) * a(3, 3);
      int ca, ck;
      if (ev[1] - ev[2] > ev[2] - ev[3]) {
        ca = 3;
        ck = 1;
      } else {
        ca = 1;
        ck = 3;
      }
      double p = 0.0;
      for (int i = 1; i <= 3; ++i) {
        a(i, ca) = a(i, ca) - d * a(i, ck);
        p += a(i, ca) * a(i, ca);
      }
      if (p <= kTol) {
        if (!orthogonal_fallback(a, ck, ca)) rotation = false;
      } else {
        const double r = 1.0 / std::sqrt(p);
        for (int i = 1; i <= 3; ++i) a(i, ca) = a(i, ca) * r;
      }

      // 10. middle eigenvector: a(:,2) = a(:,3) x a(:,1)
      if (rotation) {
        a(1, 2) = a(2, 3) * a(3, 1) - a(2, 1) * a(3, 3);
        a(2, 2) = a(3, 3) * a(1, 1) - a(3, 1) * a(1, 3);
        a(3, 2) = a(1, 3) * a(2, 1) - a(1, 1) * a(2, 3);
      }
    }

    if (rotation) {
      // 11. images of the first two eigenvectors under cor
      for (int l = 1; l <= 2; ++l) {
        double p = 0.0;
        for (int i = 1; i <= 3; ++i) {
          b(i, l) = cor(i, 1) * a(1, l) + cor(i, 2) * a(2, l) + cor(i, 3) * a(3, l);
          p += b(i, l) * b(i, l);
        }
        if (p > 0.0) {
          const double r = 1.0 / std::sqrt(p);
          for (int i = 1; i <= 3; ++i) b(i, l) = b(i, l) * r;
        }
      }

      // 12.
      double d12 = b(1, 1) * b(1, 2) + b(2, 1) * b(2, 2) + b(3, 1) * b(3, 2);
      double p = 0.0;
      for (int i = 1; i <= 3; ++i) {
        b(i, 2) = b(i, 2) - d12 * b(i, 1);
        p += b(i, 2) * b(i, 2);
      }
      if (p <= kTol) {
        if (!orthogonal_fallback(b, 1, 2)) rotation = false;
      } else {
        const double r = 1.0 / std::sqrt(p);
        for (int i = 1; i <= 3; ++i) b(i, 2) = b(i, 2) * r;
      }
    }

    if (rotation) {
      // 13. b(:,3) = b(:,1) x b(:,2)
      b(1, 3) = b(2, 1) * b(3, 2) - b(2, 2) * b(3, 1);
      b(2, 3) = b(3, 1) * b(1, 2) - b(3, 2) * b(1, 1);
      b(3, 3) = b(1, 1) * b(2, 2) - b(1, 2) * b(2, 1);
      // 14. rotation
      for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
          u[i - 1][j - 1] = b(i, 1) * a(j, 1) + b(i, 2) * a(j, 2) + b(i, 3) * a(j, 3);
    }
  }

  // 15. translation
  if (translate) {
    for (int i = 0; i < 3; ++i)
      t[i] = ((cy[i] - u[i][0] * cx[0]) - u[i][1] * cx[1]) - u[i][2] * cx[2];
  }

  // 16. residual and status
  for (int i = 1; i <= 3; ++i) {
    if (ev[i] < 0.0) ev[i] = 0.0;
    ev[i] = std::sqrt(ev[i]);
  }
  status = 0;
  if (ev[2] <= ev[1] * kEps) status = -1;
  double d = ev[3];
  if (detc < 0.0) {
    d = -ev[3];
    if (ev[2] - ev[3] <= ev[1] * kEps) status = -1;
  }
  d = (d + ev[2]) + ev[1];
  resid = (spread - d) - d;
  if (resid < 0.0) resid = 0.0;
}

}  // namespace tarvix
