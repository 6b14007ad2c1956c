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

#include <algorithm>
#include <array>
#include <cmath>

#include "scoring/cpu.h"
#include "scoring/scoring.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

#if defined(__x86_64__)
// Lanes 0-2 of v into d[0..2].
__attribute__((target("avx2"))) inline void lanes3(__m256d v, double* d) {
  _mm_storeu_pd(d, _mm256_castpd256_pd128(v));
  d[2] = _mm_cvtsd_f64(_mm256_extractf128_pd(v, 1));
}

// Steps 3 and 4 of fit for unit weights without the spread: the centroids
// and the correlation matrix (c[3 * i + j] = cor(i + 1, j + 1)), the three
// coordinates of a point in the lanes of one register. Every sum takes the
// same terms in the same order as the scalar loops.
__attribute__((target("avx2"))) void centre_and_correlate_avx2(const Coord* x, const Coord* y,
                                                               int n, double wsum, double cx[3],
                                                               double cy[3], double c[9]) {
  const __m256i three = _mm256_setr_epi64x(-1, -1, -1, 0);
  __m256d sx = _mm256_setzero_pd(), sy = _mm256_setzero_pd();
  for (int m = 0; m < n; ++m) {
    sx = _mm256_add_pd(sx, _mm256_maskload_pd(x[m].data(), three));
    sy = _mm256_add_pd(sy, _mm256_maskload_pd(y[m].data(), three));
  }
  const __m256d vw = _mm256_set1_pd(wsum);
  const __m256d mx = _mm256_div_pd(sx, vw), my = _mm256_div_pd(sy, vw);
  alignas(32) double cyl[4];
  _mm256_store_pd(cyl, my);
  const __m256d cy0 = _mm256_set1_pd(cyl[0]), cy1 = _mm256_set1_pd(cyl[1]),
                cy2 = _mm256_set1_pd(cyl[2]);
  __m256d r1 = _mm256_setzero_pd(), r2 = _mm256_setzero_pd(), r3 = _mm256_setzero_pd();
  for (int m = 0; m < n; ++m) {
    const __m256d xv = _mm256_sub_pd(_mm256_maskload_pd(x[m].data(), three), mx);
    const __m256d d0 = _mm256_sub_pd(_mm256_broadcast_sd(&y[m][0]), cy0);
    const __m256d d1 = _mm256_sub_pd(_mm256_broadcast_sd(&y[m][1]), cy1);
    const __m256d d2 = _mm256_sub_pd(_mm256_broadcast_sd(&y[m][2]), cy2);
    r1 = _mm256_add_pd(r1, _mm256_mul_pd(d0, xv));
    r2 = _mm256_add_pd(r2, _mm256_mul_pd(d1, xv));
    r3 = _mm256_add_pd(r3, _mm256_mul_pd(d2, xv));
  }
  // Lanes 0-2 straight out of the registers: with the sums stored through
  // a buffer the compiler keeps them in memory inside the loop.
  lanes3(mx, cx);
  std::copy(cyl, cyl + 3, cy);
  lanes3(r1, c);
  lanes3(r2, c + 3);
  lanes3(r3, c + 6);
}
#endif

// The fit itself. kUnit: every weight is 1.0 (see u3b); kResid: the caller
// wants the residual and the status, which nothing else depends on: without
// them the spread of the points and the singular values are left out.
// kAvx2: the caller is compiled for AVX2 (see superpose), and steps 3 and 4
// run on vector lanes (unit weights without the spread only).
template <bool kUnit, bool kResid, bool kAvx2 = false>
[[gnu::always_inline]] inline void fit(const double* w, const Coord* x, const Coord* y, int n,
                                       int mode, double& resid, double u[3][3], double t[3],
                                       int& status) {
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
  double spread = 0.0;
  double c11 = 0.0, c12 = 0.0, c13 = 0.0, c21 = 0.0, c22 = 0.0, c23 = 0.0, c31 = 0.0, c32 = 0.0,
         c33 = 0.0;
  bool correlated = false;  // steps 3 and 4 done on vector lanes
#if defined(__x86_64__)
  if constexpr (kUnit && !kResid && kAvx2) {
    // n ones sum to n exactly.
    wsum = static_cast<double>(n);
    double cx[3], cy[3], c[9];
    centre_and_correlate_avx2(x, y, n, wsum, cx, cy, c);
    cx0 = cx[0], cx1 = cx[1], cx2 = cx[2], cy0 = cy[0], cy1 = cy[1], cy2 = cy[2];
    c11 = c[0], c12 = c[1], c13 = c[2], c21 = c[3], c22 = c[4], c23 = c[5], c31 = c[6],
    c32 = c[7], c33 = c[8];
    correlated = true;
  }
#endif
  if (!correlated) {
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
    for (int m = 0; m < n; ++m) {
      const double x0 = x[m][0] - cx0, x1 = x[m][1] - cx1, x2 = x[m][2] - cx2;
      const double y0 = y[m][0] - cy0, y1 = y[m][1] - cy1, y2 = y[m][2] - cy2;
      // With unit weights the weighted terms are the plain ones.
      const double wm = kUnit ? 1.0 : w[m];
      auto weighted = [wm](double v) { return kUnit ? v : wm * v; };
      if constexpr (kResid) {
        spread += weighted(x0 * x0 + y0 * y0);
        spread += weighted(x1 * x1 + y1 * y1);
        spread += weighted(x2 * x2 + y2 * y2);
      }
      const double d0 = weighted(y0), d1 = weighted(y1), d2 = weighted(y2);
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

namespace {

[[gnu::noinline]] void superpose_plain(const Coord* x, const Coord* y, int n, double u[3][3],
                                       double t[3]) {
  double resid;
  int status;
  fit<true, false>(nullptr, x, y, n, 1, resid, u, t, status);
}

#if defined(__x86_64__)
// The whole fit compiled for AVX2, with the vector steps inlined: called from
// a fit compiled for the plain instruction set, they cost a call, their
// results went through memory, and the fit's own scalar work ran in the
// older encoding (about 2% of a comparison's time in all).
[[gnu::noinline]] __attribute__((target("avx2"))) void superpose_avx2(const Coord* x,
                                                                      const Coord* y, int n,
                                                                      double u[3][3],
                                                                      double t[3]) {
  double resid;
  int status;
  fit<true, false, true>(nullptr, x, y, n, 1, resid, u, t, status);
}
#endif

}  // namespace

void superpose(const Coord* x, const Coord* y, int n, double u[3][3], double t[3]) {
#if defined(__x86_64__)
  if (cpu_has_avx2()) return superpose_avx2(x, y, n, u, t);
#endif
  superpose_plain(x, y, n, u, t);
}

namespace {

#if defined(__x86_64__)

// Four fits of superpose at once, one per lane of the AVX2 registers: every
// lane performs exactly the operations of the scalar code, in its order, on
// its own values; a branch of the scalar code becomes a choice between the
// values of both ways, made with the scalar code's own comparison. The
// trigonometric functions are the library's, called lane by lane. A lane that
// takes one of the rare ways (no spread, a double eigenvalue, a vector that
// almost vanishes, fewer than one point) is done again by the scalar code.
struct V3 {
  __m256d x, y, z;
};

__attribute__((target("avx2"))) inline __m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
__attribute__((target("avx2"))) inline __m256d sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
__attribute__((target("avx2"))) inline __m256d mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }
__attribute__((target("avx2"))) inline __m256d pick(__m256d mask, __m256d yes, __m256d no) {
  return _mm256_blendv_pd(no, yes, mask);
}
__attribute__((target("avx2"))) inline V3 pick(__m256d mask, const V3& yes, const V3& no) {
  return {pick(mask, yes.x, no.x), pick(mask, yes.y, no.y), pick(mask, yes.z, no.z)};
}
__attribute__((target("avx2"))) inline __m256d dot4(const V3& a, const V3& b) {
  return add(add(mul(a.x, b.x), mul(a.y, b.y)), mul(a.z, b.z));
}
__attribute__((target("avx2"))) inline __m256d norm2_4(const V3& a) {
  __m256d s = _mm256_setzero_pd();
  s = add(s, mul(a.x, a.x));
  s = add(s, mul(a.y, a.y));
  s = add(s, mul(a.z, a.z));
  return s;
}
// a scaled by 1 / sqrt(p) in the lanes of mask.
__attribute__((target("avx2"))) inline V3 normalised(const V3& a, __m256d p, __m256d mask) {
  const __m256d r = _mm256_div_pd(_mm256_set1_pd(1.0), _mm256_sqrt_pd(p));
  return pick(mask, V3{mul(a.x, r), mul(a.y, r), mul(a.z, r)}, a);
}

__attribute__((target("avx2"))) inline V3 eigenvector4(__m256d d, const __m256d g[7]) {
  const __m256d adj1 = sub(mul(sub(d, g[3]), sub(d, g[6])), mul(g[5], g[5]));
  const __m256d adj2 = add(mul(sub(d, g[6]), g[2]), mul(g[4], g[5]));
  const __m256d adj3 = sub(mul(sub(d, g[1]), sub(d, g[6])), mul(g[4], g[4]));
  const __m256d adj4 = add(mul(sub(d, g[3]), g[4]), mul(g[2], g[5]));
  const __m256d adj5 = add(mul(sub(d, g[1]), g[5]), mul(g[2], g[4]));
  const __m256d adj6 = sub(mul(sub(d, g[1]), sub(d, g[3])), mul(g[2], g[2]));
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d f1 = _mm256_andnot_pd(sign, adj1), f3 = _mm256_andnot_pd(sign, adj3),
                f6 = _mm256_andnot_pd(sign, adj6);
  const __m256d m1 = _mm256_cmp_pd(f1, f3, _CMP_GE_OQ);
  const __m256d m2 = _mm256_cmp_pd(f1, f6, _CMP_LT_OQ);
  const __m256d m3 = _mm256_cmp_pd(f3, f6, _CMP_GE_OQ);
  const V3 col1{adj1, adj2, adj4}, col2{adj2, adj3, adj5}, col3{adj4, adj5, adj6};
  // (f1 >= f3) ? (f1 < f6 ? col3 : col1) : (f3 >= f6 ? col2 : col3)
  const V3 v = pick(m1, pick(m2, col3, col1), pick(m3, col2, col3));
  const __m256d s2 = norm2_4(v);
  return normalised(v, s2, _mm256_cmp_pd(s2, _mm256_setzero_pd(), _CMP_GT_OQ));
}

// The lanes that have a point m.
__attribute__((target("avx2"))) inline __m256d active(int m, __m256d nv) {
  return _mm256_cmp_pd(_mm256_set1_pd(static_cast<double>(m)), nv, _CMP_LT_OQ);
}

// Entry (p, q) of cor^T cor.
__attribute__((target("avx2"))) inline __m256d gram(const __m256d c[3][3], int p, int q) {
  return add(add(mul(c[0][p], c[0][q]), mul(c[1][p], c[1][q])), mul(c[2][p], c[2][q]));
}

// cor a, normalised where it has a length.
__attribute__((target("avx2"))) inline V3 image(const __m256d c[3][3], const V3& a) {
  const V3 b{add(add(mul(c[0][0], a.x), mul(c[0][1], a.y)), mul(c[0][2], a.z)),
             add(add(mul(c[1][0], a.x), mul(c[1][1], a.y)), mul(c[1][2], a.z)),
             add(add(mul(c[2][0], a.x), mul(c[2][1], a.y)), mul(c[2][2], a.z))};
  const __m256d q = norm2_4(b);
  return normalised(b, q, _mm256_cmp_pd(q, _mm256_setzero_pd(), _CMP_GT_OQ));
}

__attribute__((target("avx2"))) void superpose4_avx2(const Coord* const x[4],
                                                     const Coord* const y[4], const int n[4],
                                                     double u[][3][3], double t[][3]) {
  int nmax = 0;
  bool rare[4];
  for (int k = 0; k < 4; ++k) {
    rare[k] = n[k] < 1;
    nmax = std::max(nmax, n[k]);
  }
  // The points lane by lane, a block of them at a time: coordinate c of
  // point m of lane k at pts[(6 (m - first) + c) 4 + k] (c = 0..2 of x, 3..5
  // of y), 0 where a lane has no point m.
  constexpr int kBlock = 64;
  alignas(32) double pts[kBlock * 24];
  int first = -1;
  auto load = [&](int from) {
    if (first == from) return;
    first = from;
    const int to = std::min(nmax, from + kBlock);
    for (int k = 0; k < 4; ++k) {
      for (int m = from; m < to; ++m) {
        double* q = &pts[(m - from) * 24 + k];
        const bool has = m < n[k];
        for (int c = 0; c < 3; ++c) {
          q[4 * c] = has ? x[k][m][c] : 0.0;
          q[4 * (c + 3)] = has ? y[k][m][c] : 0.0;
        }
      }
    }
  };
  auto at = [&](int m, int c) { return &pts[(m - first) * 24 + 4 * c]; };
  const __m256d nv = _mm256_set_pd(n[3], n[2], n[1], n[0]);

  // 3. centroids. A sum that starts at +0 is never -0, so the zeros of the
  // lanes without a point leave it as it is; the sum of n ones is n.
  const __m256d wsum = nv;
  __m256d cx0 = _mm256_setzero_pd(), cx1 = cx0, cx2 = cx0, cy0 = cx0, cy1 = cx0, cy2 = cx0;
  for (int from = 0; from < nmax; from += kBlock) {
    load(from);
    for (int m = from; m < std::min(nmax, from + kBlock); ++m) {
      cx0 = add(cx0, _mm256_load_pd(at(m, 0)));
      cy0 = add(cy0, _mm256_load_pd(at(m, 3)));
      cx1 = add(cx1, _mm256_load_pd(at(m, 1)));
      cy1 = add(cy1, _mm256_load_pd(at(m, 4)));
      cx2 = add(cx2, _mm256_load_pd(at(m, 2)));
      cy2 = add(cy2, _mm256_load_pd(at(m, 5)));
    }
  }
  cx0 = _mm256_div_pd(cx0, wsum);
  cx1 = _mm256_div_pd(cx1, wsum);
  cx2 = _mm256_div_pd(cx2, wsum);
  cy0 = _mm256_div_pd(cy0, wsum);
  cy1 = _mm256_div_pd(cy1, wsum);
  cy2 = _mm256_div_pd(cy2, wsum);

  // 4. correlation matrix. In the lanes without a point the centred x is
  // masked to +0, so that their products are zeros, which leave a sum as it
  // is (a sum that starts at +0 is never -0); a lane without any point, whose
  // centroid is not a number, is fitted on its own below. (Masking the nine
  // products instead keeps one register too many: a sum would live in
  // memory.)
  __m256d c[3][3];
  for (auto& row : c)
    for (__m256d& e : row) e = _mm256_setzero_pd();
  for (int from = 0; from < nmax; from += kBlock) {
    load(from);
    for (int m = from; m < std::min(nmax, from + kBlock); ++m) {
      const __m256d on = active(m, nv);
      const __m256d xs[3] = {_mm256_and_pd(on, sub(_mm256_load_pd(at(m, 0)), cx0)),
                             _mm256_and_pd(on, sub(_mm256_load_pd(at(m, 1)), cx1)),
                             _mm256_and_pd(on, sub(_mm256_load_pd(at(m, 2)), cx2))};
      const __m256d ys[3] = {sub(_mm256_load_pd(at(m, 3)), cy0), sub(_mm256_load_pd(at(m, 4)), cy1),
                             sub(_mm256_load_pd(at(m, 5)), cy2)};
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) c[i][j] = add(c[i][j], mul(ys[i], xs[j]));
    }
  }

  // 5.-7.
  const __m256d detc =
      add(sub(mul(c[0][0], sub(mul(c[1][1], c[2][2]), mul(c[1][2], c[2][1]))),
              mul(c[0][1], sub(mul(c[1][0], c[2][2]), mul(c[1][2], c[2][0])))),
          mul(c[0][2], sub(mul(c[1][0], c[2][1]), mul(c[1][1], c[2][0]))));
  __m256d g[7];
  g[0] = _mm256_setzero_pd();
  g[1] = gram(c, 0, 0);
  g[2] = gram(c, 0, 1);
  g[3] = gram(c, 1, 1);
  g[4] = gram(c, 0, 2);
  g[5] = gram(c, 1, 2);
  g[6] = gram(c, 2, 2);
  const __m256d third = _mm256_set1_pd(kThird);
  const __m256d tr3 = mul(add(add(g[1], g[3]), g[6]), third);
  const __m256d pm3 = mul(
      sub(add(sub(add(sub(mul(g[3], g[6]), mul(g[5], g[5])), mul(g[1], g[6])), mul(g[4], g[4])),
              mul(g[1], g[3])),
          mul(g[2], g[2])),
      third);
  const __m256d det2 = mul(detc, detc);
  const __m256d h = sub(mul(tr3, tr3), pm3);
  const __m256d gg = sub(mul(sub(mul(tr3, pm3), det2), _mm256_set1_pd(0.5)), mul(tr3, h));
  const __m256d zero = _mm256_setzero_pd();
  // (A lane whose values are not numbers any more goes to the scalar code too.)
  int odd = _mm256_movemask_pd(_mm256_or_pd(_mm256_cmp_pd(tr3, zero, _CMP_NGT_UQ),
                                            _mm256_cmp_pd(h, zero, _CMP_NGT_UQ)));
  const __m256d rh = _mm256_sqrt_pd(h);
  __m256d d = sub(mul(mul(h, h), h), mul(gg, gg));
  d = pick(_mm256_cmp_pd(d, zero, _CMP_LT_OQ), zero, d);
  alignas(32) double sd[4], gs[4], cs[4], sn[4];
  _mm256_store_pd(sd, _mm256_sqrt_pd(d));
  _mm256_store_pd(gs, gg);
  for (int k = 0; k < 4; ++k) {
    if (odd >> k & 1) {
      cs[k] = sn[k] = 0.0;
      continue;
    }
    const double a = std::atan2(sd[k], -gs[k]) * kThird;
    cs[k] = std::cos(a);
    sn[k] = std::sin(a);
  }
  const __m256d ch = mul(rh, _mm256_load_pd(cs));
  const __m256d sh = mul(mul(rh, _mm256_set1_pd(kSqrt3)), _mm256_load_pd(sn));
  const __m256d ev1 = add(add(tr3, ch), ch);
  const __m256d ev2 = add(sub(tr3, ch), sh);
  const __m256d ev3 = sub(sub(tr3, ch), sh);

  // 8.-10. eigenvectors; the less separated one is orthogonalised against
  // the other.
  V3 a1 = eigenvector4(ev1, g);
  V3 a3 = eigenvector4(ev3, g);
  const __m256d swap = _mm256_cmp_pd(sub(ev1, ev2), sub(ev2, ev3), _CMP_GT_OQ);
  V3 moved = pick(swap, a3, a1);
  const V3 kept = pick(swap, a1, a3);
  const __m256d dk = dot4(kept, moved);
  moved = {sub(moved.x, mul(dk, kept.x)), sub(moved.y, mul(dk, kept.y)),
           sub(moved.z, mul(dk, kept.z))};
  __m256d p = norm2_4(moved);
  const __m256d tol = _mm256_set1_pd(kTol);
  odd |= _mm256_movemask_pd(_mm256_cmp_pd(p, tol, _CMP_LE_OQ));
  moved = normalised(moved, p, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
  a3 = pick(swap, moved, a3);
  a1 = pick(swap, a1, moved);
  const V3 a2{sub(mul(a3.y, a1.z), mul(a1.y, a3.z)), sub(mul(a3.z, a1.x), mul(a1.z, a3.x)),
              sub(mul(a3.x, a1.y), mul(a1.x, a3.y))};

  // 11.-13. their images under cor
  const V3 b1 = image(c, a1);
  V3 b2 = image(c, a2);
  const __m256d d12 = dot4(b1, b2);
  b2 = {sub(b2.x, mul(d12, b1.x)), sub(b2.y, mul(d12, b1.y)), sub(b2.z, mul(d12, b1.z))};
  p = norm2_4(b2);
  odd |= _mm256_movemask_pd(_mm256_cmp_pd(p, tol, _CMP_LE_OQ));
  b2 = normalised(b2, p, _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
  const V3 b3{sub(mul(b1.y, b2.z), mul(b2.y, b1.z)), sub(mul(b1.z, b2.x), mul(b2.z, b1.x)),
              sub(mul(b1.x, b2.y), mul(b2.x, b1.y))};

  // 14.-15. rotation and translation, lane by lane
  const V3 bm[3] = {{b1.x, b2.x, b3.x}, {b1.y, b2.y, b3.y}, {b1.z, b2.z, b3.z}};
  const V3 am[3] = {{a1.x, a2.x, a3.x}, {a1.y, a2.y, a3.y}, {a1.z, a2.z, a3.z}};
  alignas(32) double ul[3][3][4];
  __m256d uv[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      uv[i][j] = add(add(mul(bm[i].x, am[j].x), mul(bm[i].y, am[j].y)), mul(bm[i].z, am[j].z));
      odd |= _mm256_movemask_pd(_mm256_cmp_pd(uv[i][j], uv[i][j], _CMP_UNORD_Q));
      _mm256_store_pd(ul[i][j], uv[i][j]);
    }
  const __m256d cxs[3] = {cx0, cx1, cx2}, cys[3] = {cy0, cy1, cy2};
  alignas(32) double tl[3][4];
  for (int i = 0; i < 3; ++i) {
    const __m256d ti =
        sub(sub(sub(cys[i], mul(uv[i][0], cxs[0])), mul(uv[i][1], cxs[1])), mul(uv[i][2], cxs[2]));
    odd |= _mm256_movemask_pd(_mm256_cmp_pd(ti, ti, _CMP_UNORD_Q));
    _mm256_store_pd(tl[i], ti);
  }
  for (int k = 0; k < 4; ++k) {
    if (rare[k] || (odd >> k & 1)) {
      superpose(x[k], y[k], n[k], u[k], t[k]);
      continue;
    }
    for (int i = 0; i < 3; ++i) {
      t[k][i] = tl[i][k];
      for (int j = 0; j < 3; ++j) u[k][i][j] = ul[i][j][k];
    }
  }
}

#endif

}  // namespace

namespace detail {
bool superpose4_plain = false;
}  // namespace detail

void superpose4(const Coord* const x[4], const Coord* const y[4], const int n[4], double u[][3][3],
                double t[][3]) {
#if defined(__x86_64__)
  if (cpu_has_avx2() && !detail::superpose4_plain) {
    superpose4_avx2(x, y, n, u, t);
    return;
  }
#endif
  for (int k = 0; k < 4; ++k) superpose(x[k], y[k], n[k], u[k], t[k]);
}

}  // namespace tarvix
