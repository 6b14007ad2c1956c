// The residue-pair score matrix of one superposition, shared by the interface
// score, the initial alignments and the RMSD score matrix.
//
// The contact-overlap factor of a matched pair (i, j) needs a, the partners p
// of i that are matched with some partner of j, and b, the partners q of j
// matched with some partner of i. Walking both contact lists against a
// matched-pair matrix costs up to na x nb lookups per cell. Here the matched
// pairs are kept as bit sets by column and by row, so that
//   E(j) = union of the columns q of the partners of j: the residues matched
//          with some partner of j, and
//   F(i) = union of the rows p of the partners of i: the residues matched with
//          some partner of i,
// turn a into the number of partners p of i in E(j) and b into the number of
// partners q of j in F(i): na + nb bit tests per matched cell. Both counts are
// exact integers, so the factor is the same number as the direct count gives.

#include <algorithm>
#include <bit>

#include "scoring/cpu.h"
#include "scoring/scoring.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarvix {

namespace {

inline bool test_bit(const std::uint64_t* set, int r) { return (set[r >> 6] >> (r & 63)) & 1u; }
inline void set_bit(std::uint64_t* set, int r) { set[r >> 6] |= std::uint64_t{1} << (r & 63); }

// The pair terms of rows lo..hi-1 of one column, times factor. Compiled also for AVX2, taken where
// the processor has it: the same operations on four rows at a time instead of two.
__attribute__((target_clones("avx2", "default"))) void column_terms(
    double* __restrict c, const double* __restrict mx, const double* __restrict my,
    const double* __restrict mz, int lo, int hi, double bx, double by, double bz, double scale2,
    double factor) {
  for (int i = lo; i < hi; ++i) {
    const double dx = mx[i] - bx, dy = my[i] - by, dz = mz[i] - bz;
    const double dd = dx * dx + dy * dy + dz * dz;
    c[i] = factor * (1.0 / (dd / scale2 + 1.0));
  }
}

// Marks the matched pairs (i, j), lo <= i < hi, in column j's bit set colj:
// residue i within the cutoff of point (bx, by, bz), the position of residue
// j; with dd, keeps each squared distance in dd[i]. Whether a pair matches is
// as good as random, so no branch follows it: with AVX2 four rows are tested
// at once and their four bits or-ed in.
void mark_hits_plain(std::uint64_t* colj, double* dd, const double* mx, const double* my,
                     const double* mz, int lo, int hi, double bx, double by, double bz,
                     double cut2) {
  for (int i = lo; i < hi; ++i) {
    const double dx = mx[i] - bx, dy = my[i] - by, dz = mz[i] - bz;
    const double d2 = dx * dx + dy * dy + dz * dz;
    if (dd) dd[i] = d2;
    const std::uint64_t hit = d2 <= cut2;
    colj[i >> 6] |= hit << (i & 63);
  }
}

#if defined(__x86_64__)
// The four bits m of rows i..i+3 into the bit set.
inline void or_bits(std::uint64_t* set, int i, unsigned m) {
  const int shift = i & 63;
  set[i >> 6] |= std::uint64_t{m} << shift;
  if (shift > 60) set[(i >> 6) + 1] |= std::uint64_t{m} >> (64 - shift);
}

// The squared distances of moved residues i..i+3 to the point (vx, vy, vz),
// and whether each lies within the cutoff, as four bits.
struct Four {
  __m256d dd;
  unsigned within;
};
__attribute__((target("avx2"))) inline Four distances4(const double* mx, const double* my,
                                                       const double* mz, int i, __m256d vx,
                                                       __m256d vy, __m256d vz, __m256d vcut) {
  const __m256d dx = _mm256_sub_pd(_mm256_loadu_pd(mx + i), vx);
  const __m256d dy = _mm256_sub_pd(_mm256_loadu_pd(my + i), vy);
  const __m256d dz = _mm256_sub_pd(_mm256_loadu_pd(mz + i), vz);
  const __m256d dd = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)),
                                   _mm256_mul_pd(dz, dz));
  return {dd, static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(dd, vcut, _CMP_LE_OQ)))};
}

__attribute__((target("avx2"))) void mark_hits_avx2(std::uint64_t* colj, double* dd,
                                                    const double* mx, const double* my,
                                                    const double* mz, int lo, int hi, double bx,
                                                    double by, double bz, double cut2) {
  const __m256d vx = _mm256_set1_pd(bx), vy = _mm256_set1_pd(by), vz = _mm256_set1_pd(bz);
  const __m256d vcut = _mm256_set1_pd(cut2);
  int i = lo;
  for (; i + 4 <= hi; i += 4) {
    const Four f = distances4(mx, my, mz, i, vx, vy, vz, vcut);
    if (dd) _mm256_storeu_pd(dd + i, f.dd);
    or_bits(colj, i, f.within);
  }
  mark_hits_plain(colj, dd, mx, my, mz, i, hi, bx, by, bz, cut2);
}
#endif

// The pair terms of rows lo..hi-1 of column j, times factor, as column_terms
// makes them, and the matched pairs among those rows marked as mark_hits does:
// one pass over the distances for both.
void terms_and_hits_plain(double* c, std::uint64_t* colj, const double* mx, const double* my,
                          const double* mz, int lo, int hi, double bx, double by, double bz,
                          double scale2, double factor, double cut2) {
  for (int i = lo; i < hi; ++i) {
    const double dx = mx[i] - bx, dy = my[i] - by, dz = mz[i] - bz;
    const double dd = dx * dx + dy * dy + dz * dz;
    c[i] = factor * (1.0 / (dd / scale2 + 1.0));
    const std::uint64_t hit = dd <= cut2;
    colj[i >> 6] |= hit << (i & 63);
  }
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void terms_and_hits_avx2(double* c, std::uint64_t* colj,
                                                         const double* mx, const double* my,
                                                         const double* mz, int lo, int hi,
                                                         double bx, double by, double bz,
                                                         double scale2, double factor,
                                                         double cut2) {
  const __m256d vx = _mm256_set1_pd(bx), vy = _mm256_set1_pd(by), vz = _mm256_set1_pd(bz);
  const __m256d vcut = _mm256_set1_pd(cut2), vscale = _mm256_set1_pd(scale2);
  const __m256d one = _mm256_set1_pd(1.0), vfactor = _mm256_set1_pd(factor);
  int i = lo;
  for (; i + 4 <= hi; i += 4) {
    const Four f = distances4(mx, my, mz, i, vx, vy, vz, vcut);
    const __m256d q = _mm256_div_pd(one, _mm256_add_pd(_mm256_div_pd(f.dd, vscale), one));
    _mm256_storeu_pd(c + i, _mm256_mul_pd(vfactor, q));
    or_bits(colj, i, f.within);
  }
  terms_and_hits_plain(c, colj, mx, my, mz, i, hi, bx, by, bz, scale2, factor, cut2);
}
#endif

}  // namespace

namespace detail {
bool fill_plain = false;
}  // namespace detail

namespace {

void mark_hits(std::uint64_t* colj, double* dd, const double* mx, const double* my,
               const double* mz, int lo, int hi, double bx, double by, double bz, double cut2) {
#if defined(__x86_64__)
  if (cpu_has_avx2() && !detail::fill_plain) {
    mark_hits_avx2(colj, dd, mx, my, mz, lo, hi, bx, by, bz, cut2);
    return;
  }
#endif
  mark_hits_plain(colj, dd, mx, my, mz, lo, hi, bx, by, bz, cut2);
}

// column_terms from squared distances already made.
__attribute__((target_clones("avx2", "default"))) void column_terms_of_squares(
    double* __restrict c, const double* __restrict dd, int lo, int hi, double scale2,
    double factor) {
  for (int i = lo; i < hi; ++i) c[i] = factor * (1.0 / (dd[i] / scale2 + 1.0));
}

void terms_and_hits(double* c, std::uint64_t* colj, const double* mx, const double* my,
                    const double* mz, int lo, int hi, double bx, double by, double bz,
                    double scale2, double factor, double cut2) {
#if defined(__x86_64__)
  if (cpu_has_avx2() && !detail::fill_plain) {
    terms_and_hits_avx2(c, colj, mx, my, mz, lo, hi, bx, by, bz, scale2, factor, cut2);
    return;
  }
#endif
  terms_and_hits_plain(c, colj, mx, my, mz, lo, hi, bx, by, bz, scale2, factor, cut2);
}

// Residues 1..k of s on side 1 and k+1..len on side 2: k, or -1 for any
// other layout.
int side1_end(const Structure& s, int len) {
  int k = 0;
  while (k < len && s.id2chain[k + 1] == 1) ++k;
  for (int i = k + 1; i <= len; ++i)
    if (s.id2chain[i] != 2) return -1;
  return k;
}

}  // namespace

void PartnerSets::make(const Structure& s) {
  owner = nullptr;
  of_sides = &s;
  side1 = side1_end(s, s.len);
  if (s.len >= kMaxResidues) return;
  w = s.len / 64 + 1;
  bits.assign(static_cast<size_t>(s.len + 1) * static_cast<size_t>(w), 0);
  for (int i = 1; i <= s.len; ++i) {
    std::uint64_t* set = &bits[static_cast<size_t>(i) * w];
    const int* p = s.partners(i);
    for (int m = 1; m <= s.contnum[i]; ++m) {
      if (p[m] < 1 || p[m] > s.len || test_bit(set, p[m])) return;  // not one bit per partner
      set_bit(set, p[m]);
    }
  }
  owner = &s;
}

bool split_sides(const Structure& a, const Structure& b, int lena, int lenb, int& k1, int& k2) {
  k1 = side1_end(a, lena);
  k2 = side1_end(b, lenb);
  return k1 > 0 && k1 < lena && k2 > 0 && k2 < lenb;
}

bool split_sides(const ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena,
                 int lenb, int& k1, int& k2) {
  const int na = ws.noted_side1(a), nb = ws.noted_side1(b);
  if (na == -2 || nb == -2 || lena != a.len || lenb != b.len)
    return split_sides(a, b, lena, lenb, k1, k2);
  k1 = na;
  k2 = nb;
  return k1 > 0 && k1 < lena && k2 > 0 && k2 < lenb;
}

MatchSets::MatchSets(int n)
    : w(n / 64 + 1),
      col(static_cast<size_t>(n + 1) * static_cast<size_t>(w), 0),
      row(static_cast<size_t>(n + 1) * static_cast<size_t>(w), 0),
      rowany(static_cast<size_t>(n + 1) * static_cast<size_t>(w), 0),
      colany(static_cast<size_t>(w), 0) {}

bool MatchSets::matched(int i, int j) const {
  return test_bit(&col[static_cast<size_t>(j) * w], i);
}

namespace {

// The squared distance of moved residue i of a to the point (bx, by, bz).
inline double dist2_at(const double* mx, const double* my, const double* mz, int i, double bx,
                       double by, double bz) {
  const double dx = mx[i] - bx, dy = my[i] - by, dz = mz[i] - bz;
  return dx * dx + dy * dy + dz * dz;
}

// The term of a matched pair at squared distance dd, its contact overlap
// counts ca of na and cb of nb.
inline double matched_term(int ca, int na, int cb, int nb, double dd, double scale2) {
  const double fcol = 0.5 * (static_cast<double>(cb) / static_cast<double>(nb) +
                             static_cast<double>(ca) / static_cast<double>(na));
  return (fcol + 0.01) * (1.0 / (dd / scale2 + 1.0));
}

}  // namespace

PairColumns::PairColumns(ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena,
                         int lenb, const double u[3][3], const double t[3], double scale2,
                         double cut2, bool weighted, bool streamed, ScoreMatrix* squares)
    : ws_(ws), a_(a), b_(b), lena_(lena), scale2_(scale2), cut2_(cut2), weighted_(weighted) {
  double* mx = ws.mx.data();
  double* my = ws.my.data();
  double* mz = ws.mz.data();
  for (int i = 1; i <= lena; ++i) {
    const Coord p = transform(u, t, a.ca[i]);
    mx[i] = p[0];
    my[i] = p[1];
    mz[i] = p[2];
  }

  // Runs of equal side along structure a: the rows of one run are all paired
  // with a column, or none is.
  int* runstart = ws.runstart.data();
  nrun_ = 0;
  for (int i = 1; i <= lena; ++i)
    if (i == 1 || a.id2chain[i] != a.id2chain[i - 1]) runstart[nrun_++] = i;
  runstart[nrun_] = lena + 1;
  if (!weighted || !streamed) return;

  // The matched pairs, by column and by row, before any column is made: the
  // contact overlap of one pair looks at the pairs of its partners.
  clear_matches(lenb);
  MatchSets& ms = ws.match;
  const size_t w = static_cast<size_t>(ms.w);
  if (squares != nullptr && squares->ld() >= lena && squares->cols() >= lenb) squares_ = squares;
  for (int j = 1; j <= lenb; ++j) {
    const int side = b.id2chain[j];
    const double bx = b.ca[j][0], by = b.ca[j][1], bz = b.ca[j][2];
    std::uint64_t* colj = &ms.col[static_cast<size_t>(j) * w];
    double* dd = kept_squares(j);
    for (int r = 0; r < nrun_; ++r) {
      const int lo = runstart[r], hi = runstart[r + 1];
      if (a.id2chain[lo] != side) continue;
      mark_hits(colj, dd, mx, my, mz, lo, hi, bx, by, bz, cut2);
    }
  }
  finish_matches(lenb);
}

void PairColumns::clear_matches(int lenb) {
  MatchSets& ms = ws_.match;
  const size_t w = static_cast<size_t>(ms.w);
  std::fill_n(ms.col.begin(), (static_cast<size_t>(lenb) + 1) * w, 0);
  std::fill_n(ms.row.begin(), (static_cast<size_t>(lena_) + 1) * w, 0);
}

void PairColumns::finish_matches(int lenb) {
  // The matched pairs by row, from those by column.
  MatchSets& ms = ws_.match;
  const size_t w = static_cast<size_t>(ms.w);
  for (int j = 1; j <= lenb; ++j) {
    const std::uint64_t* colj = &ms.col[static_cast<size_t>(j) * w];
    for (size_t k = 0; k < w; ++k)
      for (std::uint64_t bits = colj[k]; bits != 0; bits &= bits - 1)
        set_bit(&ms.row[(k * 64 + static_cast<size_t>(std::countr_zero(bits))) * w], j);
  }
  // F(i) for every residue of a with contacts.
  for (int i = 1; i <= lena_; ++i) {
    const int na = a_.contnum[i];
    if (na == 0) continue;
    std::uint64_t* f = &ms.rowany[static_cast<size_t>(i) * w];
    std::fill_n(f, w, 0);
    const int* pa = a_.partners(i);
    for (int m = 1; m <= na; ++m) {
      const std::uint64_t* rp = &ms.row[static_cast<size_t>(pa[m]) * w];
      for (size_t k = 0; k < w; ++k) f[k] |= rp[k];
    }
  }
}

void PairColumns::column(int j, double* c) {
  terms(j, c, false);
  if (weighted_) overlap(j, c);
}

void PairColumns::terms(int j, double* c, bool mark) {
  ScoringWorkspace& ws = ws_;
  const Structure& a = a_;
  const Structure& b = b_;
  const double* mx = ws.mx.data();
  const double* my = ws.my.data();
  const double* mz = ws.mz.data();
  const int* runstart = ws.runstart.data();
  const int side = b.id2chain[j];
  const double bx = b.ca[j][0], by = b.ca[j][1], bz = b.ca[j][2];
  MatchSets& ms = ws.match;
  const size_t w = static_cast<size_t>(ms.w);
  std::uint64_t* colj = &ms.col[static_cast<size_t>(j) * w];
  // Weighted, unmatched pairs and pairs of residues without contacts keep
  // (0 + 0.01) of their term; overlap redoes the matched ones. (Multiplying
  // by 1.0 changes nothing.)
  const double factor = weighted_ ? 0.01 : 1.0;
  const double* dd = kept_squares(j);
  for (int r = 0; r < nrun_; ++r) {
    const int lo = runstart[r], hi = runstart[r + 1];
    if (a.id2chain[lo] != side) {
      if (cross_) std::fill(c + lo, c + hi, kOtherSide);
    } else if (dd)
      column_terms_of_squares(c, dd, lo, hi, scale2_, factor);
    else if (mark)
      terms_and_hits(c, colj, mx, my, mz, lo, hi, bx, by, bz, scale2_, factor, cut2_);
    else
      column_terms(c, mx, my, mz, lo, hi, bx, by, bz, scale2_, factor);
  }
}

void PairColumns::overlap(int j, double* c) {
  ScoringWorkspace& ws = ws_;
  const Structure& a = a_;
  const Structure& b = b_;
  const int nb = b.contnum[j];
  if (nb == 0) return;
  const double* mx = ws.mx.data();
  const double* my = ws.my.data();
  const double* mz = ws.mz.data();
  const double bx = b.ca[j][0], by = b.ca[j][1], bz = b.ca[j][2];
  MatchSets& ms = ws.match;
  const size_t w = static_cast<size_t>(ms.w);
  const std::uint64_t* colj = &ms.col[static_cast<size_t>(j) * w];
  const double* ddj = kept_squares(j);
  const size_t wa = static_cast<size_t>(lena_) / 64 + 1;  // words that can hold rows 1..lena
  bool any = false;
  for (size_t k = 0; k < wa; ++k) any = any || colj[k] != 0;
  if (!any) return;
  const int* pb = b.partners(j);
  std::uint64_t* e = ms.colany.data();
  std::fill_n(e, wa, 0);
  for (int q = 1; q <= nb; ++q) {
    const std::uint64_t* cq = &ms.col[static_cast<size_t>(pb[q]) * w];
    for (size_t k = 0; k < wa; ++k) e[k] |= cq[k];
  }
  // With the partner sets of both structures (and the processor's popcount),
  // the counts come from a few popcounts; else partner by partner.
#if defined(__x86_64__)
  const PartnerSets* sa = ws.partner_sets_of(a);
  const PartnerSets* sb = ws.partner_sets_of(b);
  if (sa != nullptr && sb != nullptr && static_cast<size_t>(sa->w) == wa && cpu_has_avx2() &&
      !detail::fill_plain) {
    overlap_by_sets(*sa, *sb, j, colj, e, ms.rowany.data(), w, wa, nb, a, c);
    return;
  }
#endif
  for (size_t k = 0; k < wa; ++k) {
    for (std::uint64_t bits = colj[k]; bits != 0; bits &= bits - 1) {
      const int i = static_cast<int>(k * 64) + std::countr_zero(bits);
      const int na = a.contnum[i];
      if (na == 0) continue;
      const int* pa = a.partners(i);
      int ca = 0;
      for (int m = 1; m <= na; ++m) ca += test_bit(e, pa[m]);
      const std::uint64_t* f = &ms.rowany[static_cast<size_t>(i) * w];
      int cb = 0;
      for (int q = 1; q <= nb; ++q) cb += test_bit(f, pb[q]);
      const double d2 = ddj ? ddj[i] : dist2_at(mx, my, mz, i, bx, by, bz);
      c[i] = matched_term(ca, na, cb, nb, d2, scale2_);
    }
  }
}

#if defined(__x86_64__)
__attribute__((target("avx2,popcnt"))) void PairColumns::overlap_by_sets(
    const PartnerSets& sa, const PartnerSets& sb, int j, const std::uint64_t* colj,
    const std::uint64_t* e, const std::uint64_t* rowany, size_t w, size_t wa, int nb,
    const Structure& a, double* c) const {
  const double* mx = ws_.mx.data();
  const double* my = ws_.my.data();
  const double* mz = ws_.mz.data();
  const double bx = b_.ca[j][0], by = b_.ca[j][1], bz = b_.ca[j][2];
  const double* ddj = kept_squares(j);
  const std::uint64_t* pbset = sb.of(j);
  for (size_t k = 0; k < wa; ++k) {
    for (std::uint64_t bits = colj[k]; bits != 0; bits &= bits - 1) {
      const int i = static_cast<int>(k * 64) + std::countr_zero(bits);
      const int na = a.contnum[i];
      if (na == 0) continue;
      const std::uint64_t* paset = sa.of(i);
      const std::uint64_t* f = &rowany[static_cast<size_t>(i) * w];
      int ca = 0, cb = 0;
      for (size_t x = 0; x < wa; ++x) ca += std::popcount(paset[x] & e[x]);
      for (int x = 0; x < sb.w; ++x) cb += std::popcount(pbset[x] & f[x]);
      const double d2 = ddj ? ddj[i] : dist2_at(mx, my, mz, i, bx, by, bz);
      c[i] = matched_term(ca, na, cb, nb, d2, scale2_);
    }
  }
}
#endif

void fill_pair_matrix(ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena,
                      int lenb, const double u[3][3], const double t[3], double scale2, double cut2,
                      bool weighted, ScoreMatrix& smat, bool cross) {
  PairColumns cols(ws, a, b, lena, lenb, u, t, scale2, cut2, weighted, /*streamed=*/false);
  int k1, k2;
  if (!cross && split_sides(ws, a, b, lena, lenb, k1, k2)) cols.skip_cross();
  cols.fill(smat, lenb);
}

void PairColumns::fill(ScoreMatrix& smat, int lenb) {
  // With the whole matrix at hand, the matched pairs are marked as the terms
  // are made, and the matched terms redone once all are known.
  if (weighted_) clear_matches(lenb);
  for (int j = 1; j <= lenb; ++j) terms(j, &smat(1, j) - 1, weighted_);
  if (!weighted_) return;
  finish_matches(lenb);
  for (int j = 1; j <= lenb; ++j) overlap(j, &smat(1, j) - 1);
}

}  // namespace tarvix
