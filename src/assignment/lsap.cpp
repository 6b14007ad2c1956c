#include "assignment/lsap.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "scoring/cpu.h"
#include "structure/error.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarvix {

namespace {

void grow_arrays(LsapWorkspace& ws, int n) {
  const size_t need = static_cast<size_t>(n) + 1;
  if (ws.rowcol.size() >= need) return;
  ws.assign.assign(need, 0);
  ws.rowcol.assign(need, 0);
  ws.pred.assign(need, 0);
  ws.ucol.assign(need, 0.0);
  ws.vrow.assign(need, 0.0);
  ws.dminus.assign(need, 0.0);
  ws.dcol.assign(need, 0.0);
  ws.live.assign(need + 4, 0);
}

[[noreturn]] void no_unlabeled_row() {
  throw Error(" \nLSAPR - Fatal error!\n  No unlabeled node with DMINUS < D.\n", ExitCode::kDataError,
              /*verbatim=*/true);
}

// One step of the shortest-path search: for every unlabeled row i,
//   d = dist + c(i) - uj - vrow(i); if d + eps < dminus(i): dminus(i) = d, pred(i) = j
// and then, in row order, the first unlabeled row whose dminus lies more than
// eps below every earlier candidate becomes (dist, istar) (sup, 0 if none).
// Each row's update reads only that row, so rows go four (AVX2) or two (SSE2)
// at a time with the same operations; the search for the nearest row looks
// row by row only into the groups that hold a row below the current candidate
// (the candidate only ever falls, so a group with none cannot hold one later).
// Rows from..n one at a time: the whole step in plain code, and the rows
// that the vector versions leave over.
void relax_rows(int from, int n, const double* c, double base, double uj, const double* vrow,
                double* dminus, int* pred, const std::uint64_t* live, int j, double eps,
                double& dist, int& istar) {
  for (int i = from; i <= n; ++i) {
    if (!live[i]) continue;
    const double d = base + c[i - 1] - uj - vrow[i];
    if (d + eps < dminus[i]) {
      dminus[i] = d;
      pred[i] = j;
    }
    if (dminus[i] + eps < dist) {
      dist = dminus[i];
      istar = i;
    }
  }
}

// The search for the nearest row, row by row, in a group of relaxed rows.
inline void find_in_group(int from, int to, const double* dminus, const std::uint64_t* live,
                          double eps, double& dist, int& istar) {
  for (int k = from; k < to; ++k) {
    if (live[k] && dminus[k] + eps < dist) {
      dist = dminus[k];
      istar = k;
    }
  }
}

[[maybe_unused]] void relax_and_find_plain(int n, const double* c, double base, double uj,
                                           const double* vrow, double* dminus, int* pred,
                                           const std::uint64_t* live, int j, double eps, double sup,
                                           double& dist, int& istar, bool& /*ties*/) {
  dist = sup;
  istar = 0;
  relax_rows(1, n, c, base, uj, vrow, dminus, pred, live, j, eps, dist, istar);
}

// The dual values after a search that ended at path length dist: the labeled
// columns and the rows nearer than dist move by their distance to dist.
// Written as choices rather than branches, so that it runs on vector lanes.
// Returns whether any value changed other than ucol[keep] (bit for bit).
bool update_duals(int n, double dist, const double* __restrict dcol,
                  const double* __restrict dminus, double* __restrict ucol,
                  double* __restrict vrow, double sup, double eps, int keep) {
  std::uint64_t changed = 0;
  for (int x = 1; x <= n; ++x) {
    const double u = dcol[x] != sup ? dist + ucol[x] - dcol[x] : ucol[x];
    const double v = dminus[x] + eps < dist ? dminus[x] + vrow[x] - dist : vrow[x];
    const std::uint64_t du =
        std::bit_cast<std::uint64_t>(u) ^ std::bit_cast<std::uint64_t>(ucol[x]);
    changed |= (x == keep ? 0 : du) |
               (std::bit_cast<std::uint64_t>(v) ^ std::bit_cast<std::uint64_t>(vrow[x]));
    ucol[x] = u;
    vrow[x] = v;
  }
  return changed != 0;
}

// Row reductions through the columns 1..n in order: a row whose value vrow is
// still above eps takes d = c(i, j) - u(j) (and j as pred) when d lies more
// than eps below it. Each row reads only itself: the AVX2 version takes four
// rows at a time with the same operations.
void reduce_rows_plain(int n, const Grid<double>& cost, const double* ucol, double* vrow,
                       int* pred, double eps, int from) {
  for (int j = 1; j <= n; ++j) {
    const double* c = &cost(1, j);
    for (int i = from; i <= n; ++i) {
      if (vrow[i] > eps) {
        const double d = c[i - 1] - ucol[j];
        if (d + eps < vrow[i]) {
          vrow[i] = d;
          pred[i] = j;
        }
      }
    }
  }
}

#if defined(__x86_64__)

// The four lanes of a double mask narrowed to four int lanes (for pred).
__attribute__((target("avx2"))) inline __m128i int_lanes(__m256d mask) {
  return _mm_castps_si128(_mm_shuffle_ps(_mm256_castps256_ps128(_mm256_castpd_ps(mask)),
                                         _mm256_extractf128_ps(_mm256_castpd_ps(mask), 1),
                                         _MM_SHUFFLE(2, 0, 2, 0)));
}

__attribute__((target("avx2"))) void reduce_rows_avx2(int n, const Grid<double>& cost,
                                                      const double* ucol, double* vrow, int* pred,
                                                      double eps) {
  const int grouped = 1 + (n / 4) * 4;  // rows 1..grouped-1 in groups of four
  const __m256d ve = _mm256_set1_pd(eps);
  for (int j = 1; j <= n; ++j) {
    const double* c = &cost(1, j);
    const __m256d vu = _mm256_set1_pd(ucol[j]);
    const __m128i vj = _mm_set1_epi32(j);
    for (int i = 1; i < grouped; i += 4) {
      const __m256d v = _mm256_loadu_pd(vrow + i);
      const __m256d d = _mm256_sub_pd(_mm256_loadu_pd(c + i - 1), vu);
      const __m256d take = _mm256_and_pd(_mm256_cmp_pd(v, ve, _CMP_GT_OQ),
                                         _mm256_cmp_pd(_mm256_add_pd(d, ve), v, _CMP_LT_OQ));
      _mm256_storeu_pd(vrow + i, _mm256_blendv_pd(v, d, take));
      __m128i* p = reinterpret_cast<__m128i*>(pred + i);
      _mm_storeu_si128(p, _mm_blendv_epi8(_mm_loadu_si128(p), vj, int_lanes(take)));
    }
  }
  reduce_rows_plain(n, cost, ucol, vrow, pred, eps, grouped);
}

// update_duals four values at a time.
__attribute__((target("avx2"))) bool update_duals_avx2(int n, double dist,
                                                       const double* __restrict dcol,
                                                       const double* __restrict dminus,
                                                       double* __restrict ucol,
                                                       double* __restrict vrow, double sup,
                                                       double eps, int keep) {
  const __m256d vd = _mm256_set1_pd(dist), vs = _mm256_set1_pd(sup), ve = _mm256_set1_pd(eps);
  const __m256i vkeep = _mm256_set1_epi64x(keep);
  __m256i x4 = _mm256_setr_epi64x(1, 2, 3, 4);
  __m256d changed = _mm256_setzero_pd();
  int x = 1;
  for (; x + 3 <= n; x += 4) {
    const __m256d dc = _mm256_loadu_pd(dcol + x), uc = _mm256_loadu_pd(ucol + x);
    const __m256d dm = _mm256_loadu_pd(dminus + x), vr = _mm256_loadu_pd(vrow + x);
    const __m256d u = _mm256_blendv_pd(uc, _mm256_sub_pd(_mm256_add_pd(vd, uc), dc),
                                       _mm256_cmp_pd(dc, vs, _CMP_NEQ_UQ));
    const __m256d v = _mm256_blendv_pd(vr, _mm256_sub_pd(_mm256_add_pd(dm, vr), vd),
                                       _mm256_cmp_pd(_mm256_add_pd(dm, ve), vd, _CMP_LT_OQ));
    const __m256d kept = _mm256_castsi256_pd(_mm256_cmpeq_epi64(x4, vkeep));
    changed = _mm256_or_pd(changed, _mm256_andnot_pd(kept, _mm256_xor_pd(u, uc)));
    changed = _mm256_or_pd(changed, _mm256_xor_pd(v, vr));
    _mm256_storeu_pd(ucol + x, u);
    _mm256_storeu_pd(vrow + x, v);
    x4 = _mm256_add_epi64(x4, _mm256_set1_epi64x(4));
  }
  const bool rest = update_duals(n - x + 1, dist, dcol + x - 1, dminus + x - 1, ucol + x - 1,
                                 vrow + x - 1, sup, eps, keep - x + 1);
  return rest || !_mm256_testz_si256(_mm256_castpd_si256(changed), _mm256_castpd_si256(changed));
}

void relax_and_find_sse2(int n, const double* c, double base, double uj, const double* vrow,
                         double* dminus, int* pred, const std::uint64_t* live, int j, double eps,
                         double sup, double& dist, int& istar, bool& /*ties*/) {
  dist = sup;
  istar = 0;
  const __m128d vb = _mm_set1_pd(base), vu = _mm_set1_pd(uj), ve = _mm_set1_pd(eps);
  int i = 1;
  for (; i + 1 <= n; i += 2) {
    const __m128d lv = _mm_loadu_pd(reinterpret_cast<const double*>(live + i));
    const __m128d d =
        _mm_sub_pd(_mm_sub_pd(_mm_add_pd(vb, _mm_loadu_pd(c + i - 1)), vu), _mm_loadu_pd(vrow + i));
    const __m128d old = _mm_loadu_pd(dminus + i);
    const __m128d closer = _mm_and_pd(_mm_cmplt_pd(_mm_add_pd(d, ve), old), lv);
    const int mc = _mm_movemask_pd(closer);
    const __m128d dm = _mm_or_pd(_mm_and_pd(closer, d), _mm_andnot_pd(closer, old));
    _mm_storeu_pd(dminus + i, dm);
    if (mc & 1) pred[i] = j;
    if (mc & 2) pred[i + 1] = j;
    const __m128d below = _mm_and_pd(_mm_cmplt_pd(_mm_add_pd(dm, ve), _mm_set1_pd(dist)), lv);
    if (_mm_movemask_pd(below) == 0) continue;
    find_in_group(i, i + 2, dminus, live, eps, dist, istar);
  }
  relax_rows(i, n, c, base, uj, vrow, dminus, pred, live, j, eps, dist, istar);
}

// Lane masks for the last, partial group of four rows: kTail[r] has its
// first r lanes set.
alignas(32) constexpr std::int64_t kTail[4][4] = {
    {0, 0, 0, 0}, {-1, 0, 0, 0}, {-1, -1, 0, 0}, {-1, -1, -1, 0}};

// Four values from p; Masked: only the lanes of tail, the others 0 (and
// nothing read there).
template <bool Masked>
__attribute__((target("avx2"), always_inline)) inline __m256d load4(const double* p,
                                                                   __m256i tail) {
  if constexpr (Masked) return _mm256_maskload_pd(p, tail);
  return _mm256_loadu_pd(p);
}

// Rows k..k+3 relaxed through a column (c, base vb, dual vu): dminus and
// pred updated, and vmin lowered to their unlabeled (live) values.
template <bool Masked>
__attribute__((target("avx2"), always_inline)) inline void relax4(
    int k, const double* c, const double* vrow, double* dminus, int* pred, const double* lives,
    __m256d vb, __m256d vu, __m256d ve, __m128i vj, __m256i tail, __m256d& vmin) {
  const __m256d inf = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m256d lv = load4<Masked>(lives + k, tail);
  const __m256d d = _mm256_sub_pd(
      _mm256_sub_pd(_mm256_add_pd(vb, load4<Masked>(c + k - 1, tail)), vu),
      load4<Masked>(vrow + k, tail));
  const __m256d old = load4<Masked>(dminus + k, tail);
  const __m256d closer = _mm256_and_pd(_mm256_cmp_pd(_mm256_add_pd(d, ve), old, _CMP_LT_OQ), lv);
  const __m256d dm = _mm256_blendv_pd(old, d, closer);
  const __m128i take = int_lanes(closer);
  if constexpr (Masked) {
    // (lanes past the group's rows are not live, so closer leaves them out)
    _mm256_maskstore_pd(dminus + k, tail, dm);
    _mm_maskstore_epi32(pred + k, take, vj);
  } else {
    _mm256_storeu_pd(dminus + k, dm);
    __m128i* q = reinterpret_cast<__m128i*>(pred + k);
    _mm_storeu_si128(q, _mm_blendv_epi8(_mm_loadu_si128(q), vj, take));
  }
  // A NaN (first operand) never becomes the minimum.
  vmin = _mm256_min_pd(_mm256_blendv_pd(inf, dm, lv), vmin);
}

// Rows k..k+3 (numbered rowno) against [m, top] and (top, top2]: first
// lowered to the numbers of unlabeled rows in the first, gap marking those
// in the second.
template <bool Masked>
__attribute__((target("avx2"), always_inline)) inline void scan4(
    int k, const double* dminus, const double* lives, __m256d vt, __m256d vt2, __m256d rowno,
    __m256i tail, __m256d& first, __m256d& gap) {
  const __m256d inf = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m256d lv = load4<Masked>(lives + k, tail);
  const __m256d dm = load4<Masked>(dminus + k, tail);
  const __m256d near = _mm256_and_pd(_mm256_cmp_pd(dm, vt, _CMP_LE_OQ), lv);
  first = _mm256_min_pd(first, _mm256_blendv_pd(inf, rowno, near));
  const __m256d above = _mm256_and_pd(_mm256_cmp_pd(dm, vt, _CMP_GT_OQ),
                                      _mm256_cmp_pd(dm, vt2, _CMP_LE_OQ));
  gap = _mm256_or_pd(gap, _mm256_and_pd(above, lv));
}

// The smallest of four lanes.
__attribute__((target("avx2"), always_inline)) inline double min4(__m256d v) {
  const __m128d h = _mm_min_pd(_mm256_castpd256_pd128(v), _mm256_extractf128_pd(v, 1));
  return _mm_cvtsd_f64(_mm_min_sd(h, _mm_unpackhi_pd(h, h)));
}

// The row-order search over the unlabeled rows 1..n from the candidate
// (dist, istar) on: in the groups of four rows 1..grouped-1 it looks row by
// row only into those that hold a row below the current candidate (the
// candidate only ever falls, so a group with none cannot hold one later),
// then through the rows left over.
__attribute__((target("avx2"), always_inline)) inline void row_order_search(
    int grouped, int n, const double* dminus, const std::uint64_t* live, double eps, double& dist,
    int& istar) {
  const __m256d ve = _mm256_set1_pd(eps);
  for (int k = 1; k < grouped; k += 4) {
    const __m256d lv = _mm256_loadu_pd(reinterpret_cast<const double*>(live + k));
    const __m256d below = _mm256_and_pd(
        _mm256_cmp_pd(_mm256_add_pd(_mm256_loadu_pd(dminus + k), ve), _mm256_set1_pd(dist),
                      _CMP_LT_OQ),
        lv);
    if (_mm256_movemask_pd(below) != 0) find_in_group(k, k + 4, dminus, live, eps, dist, istar);
  }
  find_in_group(grouped, n + 1, dminus, live, eps, dist, istar);
}

// The row that the row-order search over the unlabeled rows 1..n (those with
// live set) ends on, and its value, without a data-dependent branch in most
// cases, given their smallest value m (+inf if none has one).
//
// That row lies in [m, top], top = m + eps: the candidate only falls, the
// row holding m either becomes it or is kept out by a candidate no higher
// than top, and once a row of [m, top] is the candidate no later row lies
// more than eps below it. So the search ends on the first row of [m, top]
// that it takes. The candidate it meets there is sup or the value of an
// earlier row above top; when no unlabeled row lies in (top, top + eps] (as
// rounded) and sup lies above that too, the candidate lies more than eps
// above the row, which is then taken. One pass finds the first row of
// [m, top] and whether (top, top + eps] holds a row; only if it does, the
// row-order search runs as written.
__attribute__((target("avx2"), always_inline)) inline void nearest_from_min(
    int n, double m, const double* dminus, const std::uint64_t* live, double eps, double sup,
    double& dist, int& istar) {
  dist = sup;
  istar = 0;
  const double top = m + eps;
  if (!(top < sup)) return;  // no row can come below sup
  const double top2 = top + eps;
  const __m256i tail = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTail[n % 4]));
  const double* lives = reinterpret_cast<const double*>(live);
  const int full = 1 + (n / 4) * 4;  // rows 1..full-1 in whole groups
  const __m256d vt = _mm256_set1_pd(top), vt2 = _mm256_set1_pd(top2);
  __m256d first = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  __m256d gap = _mm256_setzero_pd();
  __m256d rowno = _mm256_setr_pd(1.0, 2.0, 3.0, 4.0);
  const __m256d four = _mm256_set1_pd(4.0);
  for (int k = 1; k < full; k += 4) {
    scan4<false>(k, dminus, lives, vt, vt2, rowno, tail, first, gap);
    rowno = _mm256_add_pd(rowno, four);
  }
  if (full <= n) scan4<true>(full, dminus, lives, vt, vt2, rowno, tail, first, gap);
  if (_mm256_testz_pd(gap, gap) && top2 < sup) {
    istar = static_cast<int>(min4(first));
    dist = dminus[istar];
    return;
  }
  // A row just above top: the row-order search as written.
  row_order_search(full, n, dminus, live, eps, dist, istar);
}

// Long columns (from kLongColumn rows on). The two-pass step below needs a
// second look at every group; in a long column few groups hold a row near
// the smallest value, and these steps look at them only. They take the
// two-pass step with a count of the rows near the smallest value until a
// search meets a tie, and from then on one pass with the row-order search
// in the groups that hold a row below the current candidate.
constexpr int kLongColumn = 48;

// Rows i..i+3 relaxed through a column (c, base vb, dual vu): their new
// distances, also stored; closer marks the unlabeled (lv) rows that took one.
__attribute__((target("avx2"))) inline __m256d relax4_long(const double* c, const double* vrow,
                                                           double* dminus, int i, __m256d vb,
                                                           __m256d vu, __m256d ve, __m256d lv,
                                                           __m256d& closer) {
  const __m256d d = _mm256_sub_pd(
      _mm256_sub_pd(_mm256_add_pd(vb, _mm256_loadu_pd(c + i - 1)), vu), _mm256_loadu_pd(vrow + i));
  const __m256d old = _mm256_loadu_pd(dminus + i);
  closer = _mm256_and_pd(_mm256_cmp_pd(_mm256_add_pd(d, ve), old, _CMP_LT_OQ), lv);
  const __m256d dm = _mm256_blendv_pd(old, d, closer);
  _mm256_storeu_pd(dminus + i, dm);
  return dm;
}

__attribute__((target("avx2"))) void relax_and_find_avx2_long_one_pass(
    int n, const double* c, double base, double uj, const double* vrow, double* dminus, int* pred,
    const std::uint64_t* live, int j, double eps, double sup, double& dist, int& istar) {
  dist = sup;
  istar = 0;
  const __m256d vb = _mm256_set1_pd(base), vu = _mm256_set1_pd(uj), ve = _mm256_set1_pd(eps);
  int i = 1;
  for (; i + 3 <= n; i += 4) {
    const __m256d lv = _mm256_loadu_pd(reinterpret_cast<const double*>(live + i));
    __m256d closer;
    const __m256d dm = relax4_long(c, vrow, dminus, i, vb, vu, ve, lv, closer);
    const int mc = _mm256_movemask_pd(closer);
    if (mc) {
      for (int k = 0; k < 4; ++k)
        if (mc >> k & 1) pred[i + k] = j;
    }
    const __m256d below =
        _mm256_and_pd(_mm256_cmp_pd(_mm256_add_pd(dm, ve), _mm256_set1_pd(dist), _CMP_LT_OQ), lv);
    if (_mm256_movemask_pd(below) == 0) continue;
    find_in_group(i, i + 4, dminus, live, eps, dist, istar);
  }
  relax_rows(i, n, c, base, uj, vrow, dminus, pred, live, j, eps, dist, istar);
}

// The AVX2 step in two passes without a data-dependent branch. The first
// relaxes four rows at a time and keeps the smallest value m of an unlabeled
// row. The nearest row that the row-order search would find lies within
// [m, m + eps]: the candidate only falls, and the row holding m either
// becomes it or is kept out by a candidate no higher than m + eps. So when
// exactly one unlabeled row lies there, that row is the answer; when all of
// those rows lie at m exactly, the first of them is; otherwise (ties within
// the tolerance) the row-order search runs as written. After a tie of either
// kind the step returns false: rows that tied once tend to tie again, and the
// one-pass step is then the cheaper one.
__attribute__((target("avx2"))) bool relax_and_find_avx2_long_two_pass(
    int n, const double* c, double base, double uj, const double* vrow, double* dminus, int* pred,
    const std::uint64_t* live, int j, double eps, double sup, double& dist, int& istar) {
  dist = sup;
  istar = 0;
  const __m256d vb = _mm256_set1_pd(base), vu = _mm256_set1_pd(uj), ve = _mm256_set1_pd(eps);
  const __m256d inf = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m128i vj = _mm_set1_epi32(j);
  __m256d vmin = inf;
  int i = 1;
  for (; i + 3 <= n; i += 4) {
    const __m256d lv = _mm256_loadu_pd(reinterpret_cast<const double*>(live + i));
    __m256d closer;
    const __m256d dm = relax4_long(c, vrow, dminus, i, vb, vu, ve, lv, closer);
    __m128i* p = reinterpret_cast<__m128i*>(pred + i);
    _mm_storeu_si128(p, _mm_blendv_epi8(_mm_loadu_si128(p), vj, int_lanes(closer)));
    // Labeled rows count as +inf; a NaN (first operand) never becomes the minimum.
    vmin = _mm256_min_pd(_mm256_blendv_pd(inf, dm, lv), vmin);
  }
  const int grouped = i;
  for (; i <= n; ++i) {
    if (!live[i]) continue;
    const double d = base + c[i - 1] - uj - vrow[i];
    if (d + eps < dminus[i]) {
      dminus[i] = d;
      pred[i] = j;
    }
  }
  double m = min4(vmin);
  for (int k = grouped; k <= n; ++k)
    if (live[k] && dminus[k] < m) m = dminus[k];
  const double top = m + eps;
  if (!(top < sup)) return true;  // no row can come below sup
  // The unlabeled rows within [m, m + eps]: the answer when there is one.
  // When every one of them lies at m itself, the search takes the first of
  // them: every row before it lies more than eps above m, so whatever
  // candidate it holds then, the row comes more than eps below it, and no
  // later row comes more than eps below m.
  const __m256d vt = _mm256_set1_pd(top), vm = _mm256_set1_pd(m);
  int count = 0, at_m = 0, at = 0;
  for (int k = 1; k < grouped; k += 4) {
    const __m256d lv = _mm256_loadu_pd(reinterpret_cast<const double*>(live + k));
    const __m256d dm = _mm256_loadu_pd(dminus + k);
    const int near = _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(dm, vt, _CMP_LE_OQ), lv));
    if (near == 0) continue;
    count += __builtin_popcount(static_cast<unsigned>(near));
    at_m += __builtin_popcount(static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_and_pd(_mm256_cmp_pd(dm, vm, _CMP_EQ_OQ), lv))));
    if (at == 0) at = k + __builtin_ctz(static_cast<unsigned>(near));
  }
  for (int k = grouped; k <= n; ++k) {
    if (live[k] && dminus[k] <= top) {
      ++count;
      at_m += dminus[k] == m;
      if (at == 0) at = k;
    }
  }
  if (count == 1 || count == at_m) {
    dist = dminus[at];
    istar = at;
    return count == 1;  // rows that tied once tend to tie again
  }
  // Ties: the row-order search as written.
  row_order_search(grouped, n, dminus, live, eps, dist, istar);
  return false;
}

// The AVX2 step: one pass relaxes four rows at a time and keeps the smallest
// value of an unlabeled row, and nearest_from_min finds the row. The last
// group of fewer than four rows goes through the same operations with masked
// loads and stores: lanes past n read and write nothing. Long columns take
// the steps above (ties: whether this search has met a tie).
__attribute__((target("avx2"))) void relax_and_find_avx2(
    int n, const double* c, double base, double uj, const double* vrow, double* dminus, int* pred,
    const std::uint64_t* live, int j, double eps, double sup, double& dist, int& istar,
    bool& ties) {
  if (n >= kLongColumn) {
    if (ties)
      relax_and_find_avx2_long_one_pass(n, c, base, uj, vrow, dminus, pred, live, j, eps, sup,
                                        dist, istar);
    else
      ties = !relax_and_find_avx2_long_two_pass(n, c, base, uj, vrow, dminus, pred, live, j, eps,
                                                sup, dist, istar);
    return;
  }
  const __m256d vb = _mm256_set1_pd(base), vu = _mm256_set1_pd(uj), ve = _mm256_set1_pd(eps);
  const __m128i vj = _mm_set1_epi32(j);
  const __m256i tail = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTail[n % 4]));
  const double* lives = reinterpret_cast<const double*>(live);
  const int full = 1 + (n / 4) * 4;  // rows 1..full-1 in whole groups
  __m256d vmin = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  for (int k = 1; k < full; k += 4)
    relax4<false>(k, c, vrow, dminus, pred, lives, vb, vu, ve, vj, tail, vmin);
  if (full <= n) relax4<true>(full, c, vrow, dminus, pred, lives, vb, vu, ve, vj, tail, vmin);
  nearest_from_min(n, min4(vmin), dminus, live, eps, sup, dist, istar);
}

// The row-order search over unlabeled rows 1..n by their smallest value first.
__attribute__((target("avx2"))) void nearest_row_avx2(int n, const double* dminus,
                                                      const std::uint64_t* live, double eps,
                                                      double sup, double& dist, int& istar) {
  const __m256d inf = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const __m256i tail = _mm256_load_si256(reinterpret_cast<const __m256i*>(kTail[n % 4]));
  const double* lives = reinterpret_cast<const double*>(live);
  const int full = 1 + (n / 4) * 4;
  __m256d vmin = inf;
  for (int k = 1; k < full; k += 4) {
    const __m256d lv = _mm256_loadu_pd(lives + k);
    vmin = _mm256_min_pd(_mm256_blendv_pd(inf, _mm256_loadu_pd(dminus + k), lv), vmin);
  }
  if (full <= n) {
    const __m256d lv = load4<true>(lives + full, tail);
    vmin = _mm256_min_pd(_mm256_blendv_pd(inf, load4<true>(dminus + full, tail), lv), vmin);
  }
  nearest_from_min(n, min4(vmin), dminus, live, eps, sup, dist, istar);
}

using RelaxAndFind = void (*)(int, const double*, double, double, const double*, double*, int*,
                              const std::uint64_t*, int, double, double, double&, int&, bool&);
RelaxAndFind pick_relax_and_find() {
  return cpu_has_avx2() ? relax_and_find_avx2 : relax_and_find_sse2;
}
RelaxAndFind relax_and_find = pick_relax_and_find();
bool lsap_avx2 = cpu_has_avx2();

#else

constexpr auto relax_and_find = relax_and_find_plain;
constexpr bool lsap_avx2 = false;

#endif

void nearest_row(int n, const double* dminus, const std::uint64_t* live, double eps, double sup,
                 double& dist, int& istar) {
#if defined(__x86_64__)
  if (lsap_avx2) return nearest_row_avx2(n, dminus, live, eps, sup, dist, istar);
#endif
  dist = sup;
  istar = 0;
  find_in_group(1, n + 1, dminus, live, eps, dist, istar);
}

void reduce_rows(int n, const Grid<double>& cost, const double* ucol, double* vrow, int* pred,
                 double eps) {
#if defined(__x86_64__)
  if (lsap_avx2) return reduce_rows_avx2(n, cost, ucol, vrow, pred, eps);
#endif
  reduce_rows_plain(n, cost, ucol, vrow, pred, eps, 1);
}

bool update_all_duals(int n, double dist, const double* dcol, const double* dminus, double* ucol,
                      double* vrow, double sup, double eps, int keep) {
#if defined(__x86_64__)
  if (lsap_avx2) return update_duals_avx2(n, dist, dcol, dminus, ucol, vrow, sup, eps, keep);
#endif
  return update_duals(n, dist, dcol, dminus, ucol, vrow, sup, eps, keep);
}

}  // namespace

namespace detail {
void lsap_use_sse2(bool on) {
#if defined(__x86_64__)
  relax_and_find = on ? relax_and_find_sse2 : pick_relax_and_find();
  lsap_avx2 = !on && cpu_has_avx2();
#else
  (void)on;
#endif
}
}  // namespace detail

void LsapWorkspace::reserve(int n) {
  if (n <= 0) n = 0;
  grow_arrays(*this, n);
  if (n > cap_) {
    // Later, smaller problems reuse this storage: Grid::resize refills the
    // vector within its capacity.
    cost.resize(n, n);
    cap_ = n;
  }
}

void lsapr(int n, const Grid<double>& cost, double& z, int* assign, double sup, double eps,
           LsapWorkspace& ws, int real_rows) {
  if (n < 0 || (n > 0 && (cost.ld() < n || cost.cols() < n)))
    throw std::invalid_argument("lsapr: cost matrix smaller than the problem");
  grow_arrays(ws, n);
  int* rowcol = ws.rowcol.data();
  int* pred = ws.pred.data();
  double* ucol = ws.ucol.data();
  double* vrow = ws.vrow.data();
  double* dminus = ws.dminus.data();
  double* dcol = ws.dcol.data();
  // col(j)[i - 1] = cost(i, j)
  auto col = [&cost](int j) { return &cost(1, j); };

  for (int k = 1; k <= n; ++k) {
    assign[k] = 0;
    rowcol[k] = 0;
    pred[k] = 0;
    ucol[k] = 0.0;
    vrow[k] = 0.0;
  }

  // Column minima; among entries within eps of each other the last row wins.
  // Each column's scan is a chain of dependent steps: four columns are
  // scanned side by side, and then taken in order.
  int j = 1;
  for (; j + 3 <= n; j += 4) {
    const double* c0 = col(j);
    const double* c1 = col(j + 1);
    const double* c2 = col(j + 2);
    const double* c3 = col(j + 3);
    double m0 = c0[0], m1 = c1[0], m2 = c2[0], m3 = c3[0];
    int i0 = 1, i1 = 1, i2 = 1, i3 = 1;
    for (int i = 2; i <= n; ++i) {
      const double v0 = c0[i - 1], v1 = c1[i - 1], v2 = c2[i - 1], v3 = c3[i - 1];
      const bool t0 = v0 - m0 < eps, t1 = v1 - m1 < eps, t2 = v2 - m2 < eps, t3 = v3 - m3 < eps;
      m0 = t0 ? v0 : m0;
      i0 = t0 ? i : i0;
      m1 = t1 ? v1 : m1;
      i1 = t1 ? i : i1;
      m2 = t2 ? v2 : m2;
      i2 = t2 ? i : i2;
      m3 = t3 ? v3 : m3;
      i3 = t3 ? i : i3;
    }
    const double m[4] = {m0, m1, m2, m3};
    const int im[4] = {i0, i1, i2, i3};
    for (int k = 0; k < 4; ++k) {
      ucol[j + k] = m[k];
      if (rowcol[im[k]] == 0) {
        rowcol[im[k]] = j + k;
        assign[j + k] = im[k];
      }
    }
  }
  for (; j <= n; ++j) {
    const double* c = col(j);
    double m = c[0];
    int im = 1;
    for (int i = 2; i <= n; ++i) {
      if (c[i - 1] - m < eps) {
        m = c[i - 1];
        im = i;
      }
    }
    ucol[j] = m;
    if (rowcol[im] == 0) {
      rowcol[im] = j;
      assign[j] = im;
    }
  }

  for (int i = 1; i <= n; ++i) vrow[i] = rowcol[i] != 0 ? 0.0 : sup;

  // Row reductions of the rows left free; the first column attaining a row's
  // minimum wins.
  reduce_rows(n, cost, ucol, vrow, pred, eps);

  for (int i = 1; i <= n; ++i) {
    const int j = pred[i];
    if (j > 0 && assign[j] == 0) {
      assign[j] = i;
      rowcol[i] = j;
    }
  }

  // Shortest augmenting path from every column still free. assign and rowcol
  // are inverse to each other here and stay so.
  //
  // A search from a column whose costs and dual value are those of the
  // column searched just before, bit for bit, retraces that search step for
  // step as long as it meets the same rows with the same columns and duals.
  // When that search ended on a free row reached straight from its column,
  // and its dual update changed nothing the retraced steps read, the new
  // search would retrace it all the way to that row, which now holds the
  // earlier column: it takes over the search's state there instead. (This is
  // what the padding columns of a block with more rows than columns do, one
  // after the other.)
  std::uint64_t* live = ws.live.data();  // all bits set while row i is unlabeled, none once it is
  int last = 0;             // the column searched just before, when its search can be taken over
  double last_u = 0.0;      // its dual value when that search began
  int last_row = 0;         // the free row that search ended on
  double last_dist = 0.0;   // and its distance
  //
  // Padding rows (past real_rows, every cost equal) that are free and have
  // the same dual value, bit for bit, go through a search alike: the same
  // distances, and the first of them in row order wins every tie among them.
  // So a search looks at the first of the trailing run of such rows only
  // (rows, below), and the rest of the run take its distance afterwards, for
  // the dual update. (Ties go to the lowest row, so the free padding rows
  // are mostly the last ones.)
  for (int j0 = 1; j0 <= n; ++j0) {
    if (assign[j0] >= 1) continue;
    const double* c0 = col(j0);
    const double u0 = ucol[j0];
    int rows = n;
    if (real_rows >= 0 && real_rows < n) {
      const std::uint64_t v = std::bit_cast<std::uint64_t>(vrow[n]);
      int f = n;
      while (f > real_rows && rowcol[f] == 0 && std::bit_cast<std::uint64_t>(vrow[f]) == v) --f;
      rows = std::min(n, f + 1);
    }
    double dist = sup;
    int istar = 0;
    bool ties = false;  // the steps of this search have met ties within eps (long columns)
    if (last > 0 && std::bit_cast<std::uint64_t>(u0) == std::bit_cast<std::uint64_t>(last_u) &&
        std::memcmp(c0, col(last), static_cast<size_t>(n) * sizeof(double)) == 0) {
      // The retraced state: only the searched column's own marks differ.
      for (int x = 1; x <= n; ++x) pred[x] = pred[x] == last ? j0 : pred[x];
      dcol[last] = sup;
      dcol[j0] = 0.0;
      dist = last_dist;
      istar = last_row;
    } else {
      for (int x = 1; x <= rows; ++x) {
        pred[x] = j0;
        dminus[x] = c0[x - 1] - u0 - vrow[x];
      }
      std::fill_n(dcol + 1, n, sup);
      dcol[j0] = 0.0;
      std::fill_n(live + 1, rows, ~std::uint64_t{0});
      // The nearest unlabeled row: the first one, in row order, that lies more
      // than eps below every earlier candidate.
      nearest_row(rows, dminus, live, eps, sup, dist, istar);
    }
    for (;;) {
      if (istar == 0) no_unlabeled_row();
      const int j = rowcol[istar];
      if (j < 1) break;  // istar is free: the path ends here
      dcol[j] = dist;
      live[istar] = 0;
      // Relax the unlabeled rows through column j and, in the same pass (a
      // row's value is final once relaxed), look for the next nearest row.
      const double base = dist;
      relax_and_find(rows, col(j), base, ucol[j], vrow, dminus, pred, live, j, eps, sup, dist,
                     istar, ties);
    }
    std::fill(dminus + rows + 1, dminus + n + 1, dminus[rows]);

    const bool direct = pred[istar] == j0;
    for (int i = istar;;) {
      const int j = pred[i];
      const int next = assign[j];
      rowcol[i] = j;
      assign[j] = i;
      i = next;
      if (j == j0) break;
    }

    const bool changed = update_all_duals(n, dist, dcol, dminus, ucol, vrow, sup, eps, j0);
    last = direct && !changed && rows == n ? j0 : 0;
    last_u = u0;
    last_row = istar;
    last_dist = dist;
  }

  z = 0.0;
  for (int j = 1; j <= n; ++j) z += cost(assign[j], j);
}

void solvlsap(const ScoreMatrix& s, int* map, int nrow, int ncol, int n, LsapWorkspace& ws) {
  if (nrow < 0 || ncol < 0 || n < std::max(nrow, ncol) ||
      (nrow > 0 && ncol > 0 && (s.ld() < nrow || s.cols() < ncol)))
    throw std::invalid_argument("solvlsap: block larger than the problem or the score matrix");
  ws.reserve(n);
  // Maximising the score is minimising 2 - score; dummy rows and columns cost 2,
  // as a real pair of score 0 would.
  ws.cost.resize(n, n, 2.0);
  for (int j = 1; j <= ncol; ++j) {
    const double* sc = &s(1, j);
    double* c = &ws.cost(1, j);
    for (int i = 0; i < nrow; ++i) c[i] = 2.0 - sc[i];
  }
  double z;
  lsapr(n, ws.cost, z, ws.assign.data(), kLsapSup, kLsapEps, ws, nrow);
  for (int j = 1; j <= ncol; ++j) map[j] = ws.assign[j] <= nrow ? ws.assign[j] : -1;
}

void solvlsap_in_place(ScoreMatrix& s, int* map, int nrow, int ncol, int n, LsapWorkspace& ws) {
  if (nrow < 0 || ncol < 0 || n < std::max(nrow, ncol) || (n > 0 && (s.ld() < n || s.cols() < n)))
    throw std::invalid_argument("solvlsap: block larger than the problem or the score matrix");
  grow_arrays(ws, n);
  // The costs of solvlsap, written over the scores.
  for (int j = 1; j <= n; ++j) {
    double* c = &s(1, j);
    const int rows = j <= ncol ? nrow : 0;
    for (int i = 0; i < rows; ++i) c[i] = 2.0 - c[i];
    std::fill(c + rows, c + n, 2.0);
  }
  double z;
  lsapr(n, s, z, ws.assign.data(), kLsapSup, kLsapEps, ws, nrow);
  for (int j = 1; j <= ncol; ++j) map[j] = ws.assign[j] <= nrow ? ws.assign[j] : -1;
}

void extract_score(int n, const ScoreMatrix& src, int l1, int l2, int i1, int j1, int i2, int j2,
                   ScoreMatrix& dst) {
  const bool inside = 1 <= i1 && i1 <= l1 && 1 <= i2 && i2 <= l1 && 1 <= j1 && j1 <= l2 &&
                      1 <= j2 && j2 <= l2 && i1 < i2 && j1 < j2;
  if (!inside) {
    throw Error(" Error: out of the scoring matrix boundary!\n", ExitCode::kDataError,
                /*verbatim=*/true);
  }
  if (src.ld() < l1 || src.cols() < l2)
    throw std::invalid_argument("extract_score: source matrix smaller than l1 x l2");
  const int rows = i2 - i1 + 1;
  const int cols = j2 - j1 + 1;
  if (dst.ld() < rows || dst.cols() < cols) dst.resize(std::max(n, rows), std::max(n, cols));
  for (int j = 0; j < cols; ++j) std::copy_n(&src(i1, j1 + j), rows, &dst(1, 1 + j));
}

void comb_invmap(int* out, const int* m1, const int* m2, int r0, int a, int b, int t) {
  if (a < 0 || b < 0 || a + b != t)
    throw std::invalid_argument("comb_invmap: side lengths do not add up to the map length");
  for (int j = 1; j <= t; ++j) out[j] = -1;
  for (int j = 1; j <= a; ++j)
    if (m1[j] > 0) out[j] = m1[j];
  for (int j = 1; j <= b; ++j)
    if (m2[j] > 0) out[a + j] = r0 + m2[j];
}

}  // namespace tarvix
