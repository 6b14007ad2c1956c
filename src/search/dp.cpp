#include "search/dp.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <stdexcept>

namespace tarvix {

namespace {

constexpr std::uint8_t kDiag = 1;  // the best path into the cell is diagonal
constexpr std::uint8_t kUp = 2;    // otherwise the traceback steps back in structure 1

// The larger of two path values. Path values are never NaN (the only NaN
// candidate, a diagonal move over a NaN score, always loses), and the maximum
// of numbers is exact in any grouping.
inline double larger(double a, double b) { return a < b ? b : a; }

// x when c, else y, on the bit patterns: the compiler keeps data-dependent
// choices out of branches.
inline double pick(bool c, double x, double y) {
  const std::uint64_t m = -static_cast<std::uint64_t>(c);
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(x) & m) |
                               (std::bit_cast<std::uint64_t>(y) & ~m));
}

// One column of the recurrence for any gap penalty. h carries the gap move
// from cell (i-1, j), penalty included: value(i-1, j) + gap when that cell was
// entered diagonally, value(i-1, j) otherwise. Keeping it in a register makes
// the chain from one cell to the next a maximum, a comparison and a select.
void column_general(const double* s, const double* vprev, const std::uint8_t* fprev, double* vcur,
                    std::uint8_t* fcur, int l1, double gap) {
  double h = vcur[0];
  double diagval = vprev[0];
  for (int i = 1; i <= l1; ++i) {
    const double d = diagval + s[i - 1];
    const double left = vprev[i];
    const double v = (fprev[i] & kDiag) ? left + gap : left;
    const double other = std::max(h, v);
    const bool take = d >= other;
    vcur[i] = pick(take, d, other);
    fcur[i] = static_cast<std::uint8_t>(static_cast<unsigned>(take) |
                                        (static_cast<unsigned>(v <= h) << 1));
    h = pick(take, d + gap, other);
    diagval = left;
  }
}

// The same column when the gap penalty is 0. Path values start at +0 and are
// sums, so none is ever -0: adding the penalty 0 then changes no value, V is
// value(i, j-1) itself, the carried gap move is the cell's own value, and
// value(i, j) = max(value(i-1, j), V, D), where a NaN D loses. That is a
// running maximum over the rows of per-row candidates that do not depend on
// each other: the candidates and the flags are computed without a chain (the
// compiler vectorises those loops), and only the running maximum is
// sequential, taken four rows at a time so that its chain is one comparison
// per four rows.
void column_gapless(const double* __restrict s, const double* __restrict vprev,
                    double* __restrict vcur, std::uint8_t* __restrict fcur, int l1,
                    double* __restrict dv, double* __restrict mv) {
  for (int i = 1; i <= l1; ++i) {
    const double d = vprev[i - 1] + s[i - 1];
    dv[i] = d;
    mv[i] = std::max(vprev[i], d);  // V when D is NaN
  }
  auto flags = [&](int k, double hp) {  // hp: the gap move from (k-1, j)
    const double v = vprev[k];
    const double other = std::max(hp, v);
    fcur[k] = static_cast<std::uint8_t>(static_cast<unsigned>(dv[k] >= other) |
                                        (static_cast<unsigned>(v <= hp) << 1));
  };
  double h = vcur[0];
  int i = 1;
  for (; i + 3 <= l1; i += 4) {
    const double p1 = mv[i];
    const double p2 = larger(p1, mv[i + 1]);
    const double p3 = larger(p2, mv[i + 2]);
    const double p4 = larger(p3, mv[i + 3]);
    const double h1 = larger(h, p1), h2 = larger(h, p2), h3 = larger(h, p3), h4 = larger(h, p4);
    flags(i, h);
    flags(i + 1, h1);
    flags(i + 2, h2);
    flags(i + 3, h3);
    vcur[i] = h1;
    vcur[i + 1] = h2;
    vcur[i + 2] = h3;
    vcur[i + 3] = h4;
    h = h4;
  }
  for (; i <= l1; ++i) {
    flags(i, h);
    h = larger(h, mv[i]);
    vcur[i] = h;
  }
}

}  // namespace

DpTables::DpTables(int n) : n_(n < 0 ? 0 : n) {
  const size_t m = static_cast<size_t>(n_) + 1;
  dir.assign(m * m, 0);
  col0.assign(m, 0.0);
  col1.assign(m, 0.0);
  dval.assign(m, 0.0);
  mval.assign(m, 0.0);
}

void dp(int n, const ScoreMatrix& score, double gap, int l1, int l2, int* invmap, DpTables& t) {
  if (l1 < 0 || l2 < 0 || l1 > n || l2 > n || l1 > t.capacity() || l2 > t.capacity() ||
      (l1 > 0 && l2 > 0 && (l1 > score.ld() || l2 > score.cols())))
    throw std::invalid_argument("dp: alignment lengths exceed the score matrix or the work tables");

  // Cell (i, j), i = 0..l1, j = 0..l2, lives at j * ld + i: each column of the
  // flag table is contiguous, like the score matrix, and the fill walks it in
  // order. Row 0 and column 0 hold value 0 and no flags: leading gaps are free.
  const size_t ld = static_cast<size_t>(l1) + 1;
  std::uint8_t* flag = t.dir.data();
  std::fill_n(flag, ld, 0);
  for (int j = 1; j <= l2; ++j) {
    flag[j * ld] = 0;
    invmap[j] = -1;
  }
  if (l1 == 0 || l2 == 0) return;

  double* vprev = t.col0.data();
  double* vcur = t.col1.data();
  std::fill_n(vprev, ld, 0.0);
  vcur[0] = 0.0;
  const bool gapless = gap == 0.0;  // also -0.0: adding it changes no path value either
  for (int j = 1; j <= l2; ++j) {
    const double* s = &score(1, j);  // s[i - 1] = score(i, j)
    const std::uint8_t* fprev = flag + (j - 1) * ld;
    std::uint8_t* fcur = flag + j * ld;
    if (gapless)
      column_gapless(s, vprev, vcur, fcur, l1, t.dval.data(), t.mval.data());
    else
      column_general(s, vprev, fprev, vcur, fcur, l1, gap);
    std::swap(vprev, vcur);
    vcur[0] = 0.0;
  }

  int i = l1;
  int j = l2;
  while (i > 0 && j > 0) {
    const std::uint8_t c = flag[j * ld + i];
    if (c & kDiag) {
      invmap[j] = i;
      --i;
      --j;
    } else if (c & kUp) {
      --i;
    } else {
      --j;
    }
  }
}

}  // namespace tarvix
