#include "search/dp.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <stdexcept>

namespace tarvix {

DpTables::DpTables(int n) : n_(n < 0 ? 0 : n) {
  const size_t cells = static_cast<size_t>(n_ + 1) * static_cast<size_t>(n_ + 1);
  value.assign(cells, 0.0);
  diag.assign(cells, 0);
}

void dp(int n, const ScoreMatrix& score, double gap, int l1, int l2, int* invmap, DpTables& t) {
  if (l1 < 0 || l2 < 0 || l1 > n || l2 > n || l1 > t.capacity() || l2 > t.capacity() ||
      (l1 > 0 && l2 > 0 && (l1 > score.ld() || l2 > score.cols())))
    throw std::invalid_argument("dp: alignment lengths exceed the score matrix or the work tables");

  // Cell (i, j), i = 0..l1, j = 0..l2, lives at j * ld + i: each column of the
  // tables is contiguous, like the score matrix, and the fill walks it in order.
  const size_t ld = static_cast<size_t>(l1) + 1;
  double* val = t.value.data();
  std::uint8_t* flag = t.diag.data();

  for (int i = 0; i <= l1; ++i) {
    val[i] = 0.0;
    flag[i] = 0;
  }
  for (int j = 1; j <= l2; ++j) {
    val[j * ld] = 0.0;
    flag[j * ld] = 0;
    invmap[j] = -1;
  }
  if (l1 == 0 || l2 == 0) return;

  for (int j = 1; j <= l2; ++j) {
    const double* s = &score(1, j);  // s[i - 1] = score(i, j)
    const double* vprev = val + (j - 1) * ld;
    const std::uint8_t* fprev = flag + (j - 1) * ld;
    double* vcur = val + j * ld;
    std::uint8_t* fcur = flag + j * ld;
    // h carries the gap move from cell (i-1, j), penalty included: when that
    // cell was entered diagonally it is value(i-1, j) + gap, otherwise
    // value(i-1, j). Keeping it in a register shortens the chain from one cell
    // to the next to a maximum, a comparison and two selects.
    //
    // Path values are never NaN (the only NaN candidate, a diagonal move over a
    // NaN score, always loses), so the larger of H and V is a plain maximum, and
    // the diagonal test "D >= H and D >= V" is "D >= max(H, V)", false for a NaN
    // D. The selects are done on the bit patterns so that the compiler does not
    // turn them into data-dependent branches.
    double h = fcur[0] ? vcur[0] + gap : vcur[0];
    double diagval = vprev[0];
    for (int i = 1; i <= l1; ++i) {
      const double d = diagval + s[i - 1];
      const double left = vprev[i];
      const double v = fprev[i] ? left + gap : left;
      const double other = std::max(h, v);
      const bool take = d >= other;
      const std::uint64_t mask = -static_cast<std::uint64_t>(take);
      const std::uint64_t o = std::bit_cast<std::uint64_t>(other);
      vcur[i] = std::bit_cast<double>((std::bit_cast<std::uint64_t>(d) & mask) | (o & ~mask));
      h = std::bit_cast<double>((std::bit_cast<std::uint64_t>(d + gap) & mask) | (o & ~mask));
      fcur[i] = take;
      diagval = left;
    }
  }

  int i = l1;
  int j = l2;
  while (i > 0 && j > 0) {
    const size_t c = j * ld + i;
    if (flag[c]) {
      invmap[j] = i;
      --i;
      --j;
    } else {
      double h = val[c - 1];
      if (flag[c - 1]) h += gap;
      double v = val[c - ld];
      if (flag[c - ld]) v += gap;
      if (v <= h)
        --i;
      else
        --j;
    }
  }
}

}  // namespace tarvix
