#include "search/dp.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "scoring/cpu.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarvix {

namespace {

constexpr std::uint8_t kDiag = 1;  // the best path into the cell is diagonal
constexpr std::uint8_t kUp = 2;    // otherwise the traceback steps back in structure 1

// The larger of two path values. Path values are never NaN (the only NaN
// candidate, a diagonal move over a NaN score, always loses), and the maximum
// of numbers is exact in any grouping.
inline double larger(double a, double b) { return a < b ? b : a; }

// One column of the recurrence for any gap penalty. h carries the gap move
// from cell (i-1, j), penalty included: value(i-1, j) + gap when that cell was
// entered diagonally, value(i-1, j) otherwise. Keeping it in a register makes
// the chain from one cell to the next a maximum. Whether a cell is entered
// diagonally is a branch: such cells are few and come in runs (along the
// alignment), so it is well predicted, and a select on it would add a
// comparison and a blend to the chain of every cell (1-2% more CPU per
// comparison).
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
    fcur[i] = static_cast<std::uint8_t>(static_cast<unsigned>(take) |
                                        (static_cast<unsigned>(v <= h) << 1));
    if (take) {
      vcur[i] = d;
      h = d + gap;
    } else {
      vcur[i] = other;
      h = other;
    }
    diagval = left;
  }
}

// The same column when the gap penalty is 0. Path values start at +0 and are
// sums, so none is ever -0: adding the penalty 0 then changes no value, V is
// value(i, j-1) itself, the carried gap move is the cell's own value, and
// value(i, j) = max(value(i-1, j), V, D), where a NaN D loses. That is a
// running maximum over the rows of per-row candidates that do not depend on
// each other. Three passes: the candidates (no chain; the vector versions
// also take the maximum within each group of rows), the running maximum (the
// only chain: one comparison per group of rows), and the flags from the
// finished column (no chain).
//
// The passes without a chain are written for the vector units, with SSE2
// (every x86-64 processor) or AVX2 where the processor has it; elsewhere as
// plain loops. The same comparisons on the same numbers, lane by lane.

void running_max(const double* __restrict mv, double* __restrict vcur, int l1) {
  double h = vcur[0];
  int i = 1;
  for (; i + 3 <= l1; i += 4) {
    const double p1 = mv[i];
    const double p2 = larger(p1, mv[i + 1]);
    const double p3 = larger(p2, mv[i + 2]);
    const double p4 = larger(p3, mv[i + 3]);
    vcur[i] = larger(h, p1);
    vcur[i + 1] = larger(h, p2);
    vcur[i + 2] = larger(h, p3);
    h = vcur[i + 3] = larger(h, p4);
  }
  for (; i <= l1; ++i) h = vcur[i] = larger(h, mv[i]);
}

// Row k's flags: the diagonal when D >= max(H, V), and the traceback's step
// back in structure 1 when V <= H, H being the gap move from (k-1, j).
inline std::uint8_t gapless_flags(double d, double v, double hp) {
  const double other = std::max(hp, v);
  return static_cast<std::uint8_t>(static_cast<unsigned>(d >= other) |
                                   (static_cast<unsigned>(v <= hp) << 1));
}

[[maybe_unused]] void column_gapless_plain(const double* __restrict s,
                                           const double* __restrict vprev, double* __restrict vcur,
                                           std::uint8_t* __restrict fcur, int l1,
                                           double* __restrict dv, double* __restrict mv) {
  for (int i = 1; i <= l1; ++i) {
    const double d = vprev[i - 1] + s[i - 1];
    dv[i] = d;
    mv[i] = std::max(vprev[i], d);  // V when D is NaN
  }
  running_max(mv, vcur, l1);
  for (int k = 1; k <= l1; ++k) fcur[k] = gapless_flags(dv[k], vprev[k], vcur[k - 1]);
}

#if defined(__x86_64__)

// The flag bytes of 2 or 4 rows from the bit masks of "diagonal" and "step
// back in structure 1", lowest row first.
struct FlagBytes {
  std::uint32_t four[16][16];
  std::uint16_t two[4][4];
  constexpr FlagBytes() : four{}, two{} {
    for (unsigned t = 0; t < 16; ++t)
      for (unsigned u = 0; u < 16; ++u)
        for (unsigned l = 0; l < 4; ++l) {
          const unsigned byte = ((t >> l) & 1u) | (((u >> l) & 1u) << 1);
          four[t][u] |= byte << (8 * l);
          if (t < 4 && u < 4 && l < 2)
            two[t][u] = static_cast<std::uint16_t>(two[t][u] | (byte << (8 * l)));
        }
  }
};
constexpr FlagBytes kFlagBytes;

// _mm_max_pd(a, b) is "a > b ? a : b": with a = D it is V when D is NaN, and
// either way the larger number; path values themselves are never NaN.
void column_gapless_sse2(const double* __restrict s, const double* __restrict vprev,
                         double* __restrict vcur, std::uint8_t* __restrict fcur, int l1,
                         double* __restrict dv, double* __restrict mv) {
  // The three passes of column_gapless_plain, in groups of two rows.
  int i = 1;
  for (; i + 1 <= l1; i += 2) {
    const __m128d d = _mm_add_pd(_mm_loadu_pd(vprev + i - 1), _mm_loadu_pd(s + i - 1));
    _mm_storeu_pd(dv + i, d);
    const __m128d m = _mm_max_pd(d, _mm_loadu_pd(vprev + i));
    _mm_storeu_pd(mv + i, _mm_max_pd(m, _mm_unpacklo_pd(m, m)));
  }
  const int grouped = i;
  for (; i <= l1; ++i) {
    dv[i] = vprev[i - 1] + s[i - 1];
    mv[i] = std::max(vprev[i], dv[i]);
  }
  double h = vcur[0];
  for (i = 1; i < grouped; i += 2) {
    _mm_storeu_pd(vcur + i, _mm_max_pd(_mm_loadu_pd(mv + i), _mm_set1_pd(h)));
    h = larger(h, mv[i + 1]);
  }
  for (; i <= l1; ++i) h = vcur[i] = larger(h, mv[i]);
  int k = 1;
  for (; k + 1 <= l1; k += 2) {
    const __m128d hp = _mm_loadu_pd(vcur + k - 1);
    const __m128d v = _mm_loadu_pd(vprev + k);
    const __m128d d = _mm_loadu_pd(dv + k);
    const int take = _mm_movemask_pd(_mm_cmpge_pd(d, _mm_max_pd(v, hp)));
    const int up = _mm_movemask_pd(_mm_cmple_pd(v, hp));
    std::memcpy(fcur + k, &kFlagBytes.two[take][up], 2);
  }
  for (; k <= l1; ++k) fcur[k] = gapless_flags(dv[k], vprev[k], vcur[k - 1]);
}

// The three steps in one pass over groups of four rows: per group, D and in
// the lanes the prefix maximum of max(V, D) over the group's rows (maxima of
// numbers are exact in any grouping), then the carried maximum, which goes
// from group to group as a broadcast vector, and the flags, for which the
// values above each row are the group's own values shifted by one row, the
// carried one first.
__attribute__((target("avx2"))) void column_gapless_avx2(
    const double* __restrict s, const double* __restrict vprev, double* __restrict vcur,
    std::uint8_t* __restrict fcur, int l1, double* __restrict /*dv*/, double* __restrict /*mv*/) {
  __m256d hv = _mm256_set1_pd(vcur[0]);
  int i = 1;
  for (; i + 3 <= l1; i += 4) {
    const __m256d v = _mm256_loadu_pd(vprev + i);
    const __m256d d = _mm256_add_pd(_mm256_loadu_pd(vprev + i - 1), _mm256_loadu_pd(s + i - 1));
    __m256d m = _mm256_max_pd(d, v);  // V when D is NaN
    m = _mm256_max_pd(m, _mm256_blend_pd(_mm256_permute4x64_pd(m, 0x90), m, 0x1));
    m = _mm256_max_pd(m, _mm256_blend_pd(_mm256_permute4x64_pd(m, 0x40), m, 0x3));
    const __m256d c = _mm256_max_pd(m, hv);
    _mm256_storeu_pd(vcur + i, c);
    const __m256d hp = _mm256_blend_pd(_mm256_permute4x64_pd(c, 0x90), hv, 0x1);
    const int take = _mm256_movemask_pd(_mm256_cmp_pd(d, _mm256_max_pd(v, hp), _CMP_GE_OQ));
    const int up = _mm256_movemask_pd(_mm256_cmp_pd(v, hp, _CMP_LE_OQ));
    std::memcpy(fcur + i, &kFlagBytes.four[take][up], 4);
    hv = _mm256_permute4x64_pd(c, 0xFF);
  }
  double h = _mm256_cvtsd_f64(hv);
  for (; i <= l1; ++i) {
    const double d = vprev[i - 1] + s[i - 1];
    const double hp = h;
    h = vcur[i] = larger(h, std::max(vprev[i], d));
    fcur[i] = gapless_flags(d, vprev[i], hp);
  }
}

using GaplessColumn = void (*)(const double*, const double*, double*, std::uint8_t*, int, double*,
                               double*);
GaplessColumn pick_gapless_column() {
  return cpu_has_avx2() ? column_gapless_avx2 : column_gapless_sse2;
}
GaplessColumn column_gapless = pick_gapless_column();

#else

constexpr auto column_gapless = column_gapless_plain;

#endif

}  // namespace

DpTables::DpTables(int n) : n_(n < 0 ? 0 : n) {
  const size_t m = static_cast<size_t>(n_) + 1;
  dir.assign(m * m, 0);
  col0.assign(m, 0.0);
  col1.assign(m, 0.0);
  dval.assign(m, 0.0);
  mval.assign(m, 0.0);
}

namespace {

// One column of the recurrence, rows 1..l1, whichever the gap penalty.
inline void one_column(bool gapless, const double* s, const double* vprev,
                       const std::uint8_t* fprev, double* vcur, std::uint8_t* fcur, int l1,
                       double gap, DpTables& t) {
  if (gapless)
    column_gapless(s, vprev, vcur, fcur, l1, t.dval.data(), t.mval.data());
  else
    column_general(s, vprev, fprev, vcur, fcur, l1, gap);
}

// Rows 1..k1 of a side-2 column: every cell scores kOtherSide, so none is
// entered diagonally, and each is the larger of the gap moves, the one from
// the left (with its penalty where that cell was entered diagonally) and the
// one carried down the column, as the recurrence makes it.
void cross_rows(const double* vprev, const std::uint8_t* fprev, double* vcur,
                std::uint8_t* fcur, int k1, double gap, bool gapless) {
  double h = vcur[0];
  for (int i = 1; i <= k1; ++i) {
    const double v = !gapless && (fprev[i] & kDiag) ? vprev[i] + gap : vprev[i];
    fcur[i] = v <= h ? kUp : 0;
    h = vcur[i] = std::max(h, v);
  }
}

// The recurrence over the columns that column(j) yields (s[i - 1] = score(i, j)).
//
// With two sides, the cells across them score kOtherSide, more than any path
// value (at most 1.01 per aligned pair, at least the gap penalty) below zero:
// a diagonal move into one always loses, and their values follow from the
// sides' cells without being computed.
// - Side-1 columns j, rows below k1: each cell is the larger of the carried
//   move h (from row k1) and the cell to its left, so all of them hold one
//   value c(j) = max(h, c(j - 1)), c(0) = 0; their flags are "step back in
//   structure 1", except at row k1 + 1 where it holds when c(j - 1) <= h.
//   The values are written once, for the first side-2 column to read.
// - Side-2 columns, rows 1..k1: a running maximum of the gap moves from the
//   left (cross_rows). From the second such column on, the column to the
//   left holds no diagonal entries there and is itself a running maximum, so
//   the values repeat it (equal numbers: the two value columns need no
//   writing) and the flags repeat those of that second column.
template <class Columns>
void run_dp(Columns&& column, double gap, int l1, int l2, DpSides sides, int* invmap,
            DpTables& t) {
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
  const int k1 = sides.k1, k2 = sides.k2;
  const bool two = k1 > 0 && k1 < l1 && k2 > 0 && k2 < l2;
  if (!two) {
    for (int j = 1; j <= l2; ++j) {
      one_column(gapless, column(j), vprev, flag + (j - 1) * ld, vcur, flag + j * ld, l1, gap, t);
      std::swap(vprev, vcur);
      vcur[0] = 0.0;
    }
  } else {
    double c = 0.0;  // the rows below k1 of the latest side-1 column
    for (int j = 1; j <= k2; ++j) {
      std::uint8_t* fcur = flag + j * ld;
      one_column(gapless, column(j), vprev, flag + (j - 1) * ld, vcur, fcur, k1, gap, t);
      const double h = !gapless && (fcur[k1] & kDiag) ? vcur[k1] + gap : vcur[k1];
      fcur[k1 + 1] = c <= h ? kUp : 0;
      std::fill(fcur + k1 + 2, fcur + ld, kUp);
      c = std::max(h, c);
      std::swap(vprev, vcur);
      vcur[0] = 0.0;
    }
    std::fill(vprev + k1 + 1, vprev + ld, c);
    const std::uint8_t* repeat = flag + static_cast<size_t>(k2 + 2) * ld;
    for (int j = k2 + 1; j <= l2; ++j) {
      const double* s = column(j);
      const std::uint8_t* fprev = flag + (j - 1) * ld;
      std::uint8_t* fcur = flag + j * ld;
      if (j <= k2 + 2)
        cross_rows(vprev, fprev, vcur, fcur, k1, gap, gapless);
      else
        std::copy_n(repeat + 1, k1, fcur + 1);
      one_column(gapless, s + k1, vprev + k1, fprev + k1, vcur + k1, fcur + k1, l1 - k1, gap, t);
      std::swap(vprev, vcur);
      vcur[0] = 0.0;
    }
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

}  // namespace

namespace detail {
void dp_use_sse2(bool on) {
#if defined(__x86_64__)
  column_gapless = on ? column_gapless_sse2 : pick_gapless_column();
#else
  (void)on;
#endif
}
}  // namespace detail

namespace {

bool fits(int n, int l1, int l2, const DpTables& t) {
  return l1 >= 0 && l2 >= 0 && l1 <= n && l2 <= n && l1 <= t.capacity() && l2 <= t.capacity();
}

}  // namespace

void dp(int n, const ScoreMatrix& score, double gap, int l1, int l2, int* invmap, DpTables& t,
        DpSides sides) {
  if (!fits(n, l1, l2, t) || (l1 > 0 && l2 > 0 && (l1 > score.ld() || l2 > score.cols())))
    throw std::invalid_argument("dp: alignment lengths exceed the score matrix or the work tables");
  run_dp([&](int j) { return &score(1, j); }, gap, l1, l2, sides, invmap, t);
}

void dp(int n, ScoreColumns& columns, double gap, int l1, int l2, int* invmap, DpTables& t,
        DpSides sides) {
  if (!fits(n, l1, l2, t))
    throw std::invalid_argument("dp: alignment lengths exceed the work tables");
  run_dp([&](int j) { return columns.column(j); }, gap, l1, l2, sides, invmap, t);
}

}  // namespace tarvix
