// Superposition search: the rigid motion of structure 1 onto structure 2 that
// maximises the TX-score (or the TM-score) of a fixed list of aligned pairs.
// Windows of consecutive pairs (seeds) of several lengths are superposed; from
// each, the pairs that lie close are re-superposed until that set repeats.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "scoring/cpu.h"
#include "scoring/scoring.h"
#include "scoring/seeds.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tarvix {

int seed_lengths(int n, int len[kMaxSeedLengths]) {
  if (n <= 4) {
    len[0] = n;
    return 1;
  }
  int count = 0;
  len[count++] = n;
  for (int div = 2; div <= 16; div *= 2) {
    const int l = n / div;
    if (l <= 4) break;
    len[count++] = l;
  }
  len[count++] = 4;
  return count;
}

int seed_step(int mode, int nmin) {
  if (mode != 1) return 1;
  if (nmin <= 20) return 5;
  if (nmin <= 40) return 10;
  if (nmin <= 60) return 40;
  if (nmin <= 80) return 20;
  if (nmin <= 120) return 30;
  return 40;
}

int seed_starts(int n, int len, int step, int* starts) {
  const int smax = n - len + 1;
  const int spaced = (n - len + step) / step;
  int count = 0;
  for (int k = 0; k < spaced; ++k) starts[count++] = 1 + k * step;
  if (count == 0 || starts[count - 1] < smax) starts[count++] = smax;
  return count;
}

double third_smallest(const double* v, int n) {
  // Each value passes through the three smallest so far: the smaller one of
  // each comparison stays, the larger one goes on. Without branches, which
  // would follow the values.
  constexpr double kInf = std::numeric_limits<double>::infinity();
  double s1 = kInf, s2 = kInf, s3 = kInf;
  for (int k = 0; k < n; ++k) {
    double x = std::isfinite(v[k]) ? v[k] : kInf;
    const double m1 = std::min(s1, x);
    x = std::max(s1, x);
    s1 = m1;
    const double m2 = std::min(s2, x);
    x = std::max(s2, x);
    s2 = m2;
    s3 = std::min(s3, x);
  }
  return s3;
}

double widen_cutoff(double cut, double target, bool inclusive) {
  auto reached = [&](double c) { return inclusive ? target <= c : target < c; };
  if (!std::isfinite(target)) return cut;
  constexpr double kMaxSteps = 1e6;
  if (!reached(cut) && (target - cut) / 0.5 > kMaxSteps) {
    const double jump = std::floor((target - cut) / 0.5) - 2.0;
    cut += 0.5 * jump;
  }
  while (!reached(cut)) {
    const double next = cut + 0.5;
    if (next == cut) break;  // cannot grow any further
    cut = next;
  }
  return cut;
}

double close_cutoff(const double* dist, int n, double d) {
  if (n < 3) return d;
  // At least three distances lie below a cutoff exactly when the third
  // smallest does.
  return widen_cutoff(d, third_smallest(dist, n), false);
}

void init_ali(int* alnpos1, int* alnpos2, int na, int nb) {
  for (int i = 1; i <= na; ++i) alnpos1[i] = -1;
  for (int j = 1; j <= nb; ++j) alnpos2[j] = -2;
}

void get_fcol(int k, const int* alnpos1, const int* alnpos2, const int* alnres1, const int* alnres2,
              const Structure& a, const Structure& b, PartnerMarks& marks, double& fcol,
              int& nmatch) {
  const int ra = alnres1[k];
  const int rb = alnres2[k];
  fcol = 0.0;
  nmatch = 0;
  if (alnpos1[ra] != alnpos2[rb]) return;
  const int na = a.contnum[ra];
  const int nb = b.contnum[rb];
  if (na == 0 || nb == 0) return;
  // A partner p of ra counts when it lies in a matched pair e whose
  // structure-2 residue is a partner of rb. Only pair e writes e into
  // alnpos2, so the partner q of rb with alnpos2(q) = e, if any, is the
  // residue of pair e, and only while it still holds e.
  marks.mark(b, rb);
  const int* pa = a.partners(ra);
  for (int m = 1; m <= na; ++m) {
    const int e = alnpos1[pa[m]];
    if (e < 0) continue;
    const int q = alnres2[e];
    nmatch += alnpos2[q] == e && marks.marked(q);
  }
  fcol = 0.5 * (static_cast<double>(nmatch) / static_cast<double>(nb) +
                static_cast<double>(nmatch) / static_cast<double>(na));
}

namespace {

// The positions k < n with dist[k] < cut, in increasing order, into out[0..n);
// returns how many. Whether a pair is close is as good as random, so no branch
// depends on it: every position is written and the count advances only for a
// close one, or, with AVX2, four distances are compared at once and their
// close positions packed by a table (a group of four is written at the count,
// which is at most its first position, so nothing is written past n).
int close_pairs_plain(const double* dist, int n, double cut, int* out) {
  int count = 0;
  for (int k = 0; k < n; ++k) {
    out[count] = k;
    count += dist[k] < cut;
  }
  return count;
}

#if defined(__x86_64__)
struct PackTable {
  std::int32_t lane[16][4];
  constexpr PackTable() : lane{} {
    for (int m = 0; m < 16; ++m) {
      int c = 0;
      for (int l = 0; l < 4; ++l)
        if (m >> l & 1) lane[m][c++] = l;
    }
  }
};
constexpr PackTable kPack;

__attribute__((target("avx2"))) int close_pairs_avx2(const double* dist, int n, double cut,
                                                     int* out) {
  const __m256d vc = _mm256_set1_pd(cut);
  int count = 0;
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const int m = _mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(dist + k), vc, _CMP_LT_OQ));
    const __m128i idx = _mm_add_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPack.lane[m])), _mm_set1_epi32(k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count), idx);
    count += __builtin_popcount(static_cast<unsigned>(m));
  }
  for (; k < n; ++k) {
    out[count] = k;
    count += dist[k] < cut;
  }
  return count;
}

int close_pairs(const double* dist, int n, double cut, int* out) {
  return cpu_has_avx2() ? close_pairs_avx2(dist, n, cut, out) : close_pairs_plain(dist, n, cut, out);
}
#else
int close_pairs(const double* dist, int n, double cut, int* out) {
  return close_pairs_plain(dist, n, cut, out);
}
#endif

// Scores the current trial superposition from the distances of the n pairs
// under it (ws.pairdist, see pair_distances). Pairs closer than d (widened if fewer than three are)
// go to closepairs in increasing order. The lowest bit of restricted limits the score to pairs
// within d8 and the contact matching to pairs within contcf[0].
void cal_tmscore(Context& ctx, double d, double d0, int n, int restricted, double& score,
                 int* closepairs, int& nclose, int scoretype, int& ncontact, const int* alnres1,
                 const int* alnres2) {
  ScoringWorkspace& ws = ctx.ws;
  const Structure& s1 = ctx.s1;
  const Structure& s2 = ctx.s2;
  const bool odd = (restricted & 1) != 0;
  const double cf = ctx.par.contcf[0];
  const double d8 = ctx.par.d8;
  int* alnpos1 = ws.alnpos1.data();
  int* alnpos2 = ws.alnpos2.data();
  double* dist = ws.pairdist.data();

  // The matched pairs: only the contact-weighted score looks at them, by pair
  // when the conserved-contact candidates are known, else through the
  // position maps.
  const bool by_candidates = scoretype == 1 && ws.conserved.ready;
  std::uint8_t* matched = ws.pairmatched.data();
  if (by_candidates) {
    for (int k = 0; k < n; ++k) matched[k] = !odd || dist[k] <= cf;
  } else if (scoretype == 1) {
    // Outside the residues of the n pairs the position maps hold their
    // initial values (tmsearch set them): resetting those residues resets
    // the maps.
    for (int k = 0; k < n; ++k) {
      alnpos1[alnres1[k]] = -1;
      alnpos2[alnres2[k]] = -2;
    }
    for (int k = 0; k < n; ++k) {
      if (!odd || dist[k] <= cf) {
        alnpos1[alnres1[k]] = k;
        alnpos2[alnres2[k]] = k;
      }
    }
  }
  // The cutoff is widened only when fewer than three pairs lie below d:
  // collect under d first, and only then look for the third smallest.
  nclose = close_pairs(dist, n, d, closepairs);
  if (n >= 3 && nclose < 3) nclose = close_pairs(dist, n, close_cutoff(dist, n, d), closepairs);

  double sum = 0.0;
  int count = 0;
  if (by_candidates) {
    // The candidates of every pair are known (see find_conserved_candidates):
    // a contact counts when the candidate's pair is matched. A pair without
    // candidates has factor 0 and adds exactly 0 to a sum of terms that are
    // never negative, so only the pairs with candidates are visited, in order.
    const ConservedCandidates& cc = ws.conserved;
    for (int a = 0; a < cc.nactive; ++a) {
      const int k = cc.active[a];
      if (odd && dist[k] > d8) continue;
      if (!matched[k]) continue;
      int nmatch = 0;
      for (int c = cc.off[k]; c < cc.off[k + 1]; ++c) nmatch += matched[cc.pair[c]];
      const double fcol = cc.fcol[static_cast<size_t>(cc.off[k] + k + nmatch)];
      const double tk = dist[k] / d0;
      sum += fcol / (tk * tk + 1);
      count += nmatch;
    }
  } else if (scoretype == 1) {
    for (int k = 0; k < n; ++k) {
      if (odd && dist[k] > d8) continue;
      double fcol;
      int nmatch;
      get_fcol(k, alnpos1, alnpos2, alnres1, alnres2, s1, s2, ws.marks, fcol, nmatch);
      const double tk = dist[k] / d0;
      sum += fcol / (tk * tk + 1);
      count += nmatch;
    }
  } else {
    for (int k = 0; k < n; ++k) {
      if (odd && dist[k] > d8) continue;
      const double tk = dist[k] / d0;
      sum += 1 / (tk * tk + 1);
    }
  }

  if (n < 3) {
    score = 0.0;
    ncontact = 0;
  } else {
    score = sum / n;
    ncontact = count / 2;
  }
}

// Fits the unmoved structure-1 points of the fragment positions onto their
// structure-2 points.
void fit_fragment(ScoringWorkspace& ws, const int* frag, int len, double u[3][3], double t[3]) {
  for (int m = 0; m < len; ++m) {
    ws.frag1[m] = ws.unmoved1[frag[m]];
    ws.frag2[m] = ws.fixed2[frag[m]];
  }
  superpose(ws.frag1.data(), ws.frag2.data(), len, u, t);
}

// The fits of the seeds of one length (windows of len pairs from each start),
// which depend on nothing but the pairs: four at a time.
void fit_seeds(ScoringWorkspace& ws, const int* starts, int nstart, int len) {
  for (int s = 0; s < nstart; s += 4) {
    const int lanes = std::min(4, nstart - s);
    if (lanes == 1) {
      ScoringWorkspace::Motion& f = ws.seedfit[s];
      superpose(&ws.unmoved1[starts[s] - 1], &ws.fixed2[starts[s] - 1], len, f.u, f.t);
      continue;
    }
    const Coord* x[4];
    const Coord* y[4];
    int n[4];
    for (int k = 0; k < 4; ++k) {
      const int start = starts[s + std::min(k, lanes - 1)];
      x[k] = &ws.unmoved1[start - 1];
      y[k] = &ws.fixed2[start - 1];
      n[k] = k < lanes ? len : 0;
    }
    double u[4][3][3], t[4][3];
    superpose4(x, y, n, u, t);
    for (int k = 0; k < lanes; ++k) {
      std::copy(&u[k][0][0], &u[k][0][0] + 9, &ws.seedfit[s + k].u[0][0]);
      std::copy(t[k], t[k] + 3, ws.seedfit[s + k].t);
    }
  }
}

// dd[k] = the squared distance of pair k when its structure-1 point (ux, uy, uz)
// moves by (u, t): the same operations as transform and dist2, in the same
// order, four pairs at a time where the processor has AVX2.
__attribute__((target_clones("avx2", "default"))) void pair_sq_distances(
    int n, const double (*u)[3], const double* t, const double* __restrict ux,
    const double* __restrict uy, const double* __restrict uz, const double* __restrict fx,
    const double* __restrict fy, const double* __restrict fz, double* __restrict dd) {
  const double u00 = u[0][0], u01 = u[0][1], u02 = u[0][2], u10 = u[1][0], u11 = u[1][1],
               u12 = u[1][2], u20 = u[2][0], u21 = u[2][1], u22 = u[2][2];
  const double t0 = t[0], t1 = t[1], t2 = t[2];
  for (int k = 0; k < n; ++k) {
    const double x = t0 + u00 * ux[k] + u01 * uy[k] + u02 * uz[k];
    const double y = t1 + u10 * ux[k] + u11 * uy[k] + u12 * uz[k];
    const double z = t2 + u20 * ux[k] + u21 * uy[k] + u22 * uz[k];
    const double dx = x - fx[k], dy = y - fy[k], dz = z - fz[k];
    dd[k] = dx * dx + dy * dy + dz * dz;
  }
}

// dist[k] = sqrt(dd[k]) (correctly rounded on every code path).
__attribute__((target_clones("avx2", "default"))) void roots(int n, const double* __restrict dd,
                                                             double* __restrict dist) {
  for (int k = 0; k < n; ++k) dist[k] = std::sqrt(dd[k]);
}

void move_pairs(ScoringWorkspace& ws, int n, const double u[3][3], const double t[3]) {
  pair_sq_distances(n, u, t, ws.ux.data(), ws.uy.data(), ws.uz.data(), ws.fx.data(), ws.fy.data(),
                    ws.fz.data(), ws.pairdist2.data());
}

// Most trials score well below the best trial so far, and only a trial that
// scores above it changes anything but the close pairs. The score is the sum
// over the pairs of w / (tk^2 + 1), tk = sqrt(dd) / d0, divided by n, w the
// pair's contact factor (at most its largest one, fmax) or 1; each term and
// the sum are rounded at most n + 10 times by a relative 2^-53. Without the
// roundings, the sum is at most that of w / (dd / d0^2 + 1) with the largest
// factors, and the bound is computed within the same relative error: for the
// largest structures (5000 pairs) both errors stay below 6e-13. So a bound
// that lies more than a relative 1e-9 below n times the best score (plus
// 1e-300 for terms that underflow) means that the trial cannot beat it.
double score_bound_plain(const double* dd, const double* fmax, int n, double c) {
  double s = 0.0;
  for (int k = 0; k < n; ++k) s += (fmax ? fmax[k] : 1.0) / (dd[k] * c + 1.0);
  return s;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) double score_bound_avx2(const double* dd, const double* fmax,
                                                        int n, double c) {
  const __m256d vc = _mm256_set1_pd(c), one = _mm256_set1_pd(1.0);
  __m256d s = _mm256_setzero_pd();
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const __m256d w = fmax ? _mm256_loadu_pd(fmax + k) : one;
    s = _mm256_add_pd(
        s, _mm256_div_pd(w, _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(dd + k), vc), one)));
  }
  alignas(32) double lane[4];
  _mm256_store_pd(lane, s);
  return (lane[0] + lane[1]) + (lane[2] + lane[3]) +
         score_bound_plain(dd + k, fmax ? fmax + k : nullptr, n - k, c);
}
#endif

double score_bound(const double* dd, const double* fmax, int n, double d0) {
  const double c = 1.0 / (d0 * d0);
#if defined(__x86_64__)
  if (cpu_has_avx2()) return score_bound_avx2(dd, fmax, n, c);
#endif
  return score_bound_plain(dd, fmax, n, c);
}

// The close pairs from the squared distances (close_pairs_of_squares).
// sqrt is correctly rounded, so a square below d^2 (1 - 1e-12) has a root
// below d, and one above d^2 (1 + 1e-12) a root of d or more; a square in
// between (or NaN) has its root taken. Positions from..n-1 into out[0..).
int close_pairs_sq_plain(const double* dd, int from, int n, double d, double lo, double hi,
                         int* out) {
  int count = 0;
  for (int k = from; k < n; ++k) {
    out[count] = k;
    const double x = dd[k];
    count += x < lo || (!(x > hi) && std::sqrt(x) < d);
  }
  return count;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int close_pairs_sq_avx2(const double* dd, int n, double d,
                                                        double lo, double hi, int* out) {
  const __m256d vlo = _mm256_set1_pd(lo), vhi = _mm256_set1_pd(hi);
  int count = 0;
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    const __m256d x = _mm256_loadu_pd(dd + k);
    int m = _mm256_movemask_pd(_mm256_cmp_pd(x, vlo, _CMP_LT_OQ));
    const int far = _mm256_movemask_pd(_mm256_cmp_pd(x, vhi, _CMP_GT_OQ));
    for (int open = ~(m | far) & 15; open != 0; open &= open - 1) {
      const int l = std::countr_zero(static_cast<unsigned>(open));
      if (std::sqrt(dd[k + l]) < d) m |= 1 << l;
    }
    const __m128i idx = _mm_add_epi32(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPack.lane[m])), _mm_set1_epi32(k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count), idx);
    count += __builtin_popcount(static_cast<unsigned>(m));
  }
  return count + close_pairs_sq_plain(dd, k, n, d, lo, hi, out + count);
}
#endif

// Scores the trial whose squared distances move_pairs made, as cal_tmscore
// does, and returns true; a trial that cannot beat best (see score_bound) gets
// only its close pairs (the same ones) and returns false.
bool score_trial(Context& ctx, double d, double d0, int n, int restricted, double best,
                 double& score, int* closepairs, int& nclose, int scoretype, int& ncontact,
                 const int* alnres1, const int* alnres2) {
  ScoringWorkspace& ws = ctx.ws;
  const double* dd = ws.pairdist2.data();
  double* dist = ws.pairdist.data();
  const bool bounded = n >= 3 && n <= kMaxRes && best > 0.0 &&
                       (scoretype != 1 || ws.conserved.ready) && !detail::tmsearch_every_trial;
  if (bounded) {
    const double* fmax = scoretype == 1 ? ws.conserved.fmax.data() : nullptr;
    if ((score_bound(dd, fmax, n, d0) + 1e-300) * (1.0 + 1e-9) < best * n) {
      nclose = close_pairs_of_squares(dd, n, d, closepairs);
      if (nclose < 3) {
        roots(n, dd, dist);
        nclose = close_pairs(dist, n, close_cutoff(dist, n, d), closepairs);
      }
      return false;
    }
  }
  roots(n, dd, dist);
  cal_tmscore(ctx, d, d0, n, restricted, score, closepairs, nclose, scoretype, ncontact, alnres1,
              alnres2);
  return true;
}

void move_all(ScoringWorkspace& ws, int n, const double u[3][3], const double t[3], Coord* out) {
  for (int k = 0; k < n; ++k) out[k] = transform(u, t, ws.unmoved1[k]);
}

}  // namespace

int close_pairs_of_squares(const double* dd, int n, double d, int* out) {
  // Outside this range d^2 may lose its precision: every root is taken.
  if (!(d >= 1e-100 && d <= 1e100))
    return close_pairs_sq_plain(dd, 0, n, d, -1.0, std::numeric_limits<double>::infinity(), out);
  const double lo = d * d * (1.0 - 1e-12), hi = d * d * (1.0 + 1e-12);
#if defined(__x86_64__)
  if (cpu_has_avx2()) return close_pairs_sq_avx2(dd, n, d, lo, hi, out);
#endif
  return close_pairs_sq_plain(dd, 0, n, d, lo, hi, out);
}

namespace detail {
bool tmsearch_every_trial = false;
int tmsearch_seed_group = 4;
}  // namespace detail

// When no residue occurs in two pairs, the pair that a contact partner p of
// residue a could be matched through is fixed for the whole search: the one
// pair holding p. Contact (a, p) of pair k = (a, b) is conserved under a trial
// superposition exactly when that pair e exists, its structure-2 residue is a
// partner of b, and e is matched (within contcf; every pair in mode 3). The
// pairs e that pass the first two tests are listed once per search, in the
// order (and with the repeats) of a's partner list; a trial then only counts
// the matched ones. With a residue in two pairs the position maps decide as
// they always do.
void find_conserved_candidates(Context& ctx, int n, const int* alnres1, const int* alnres2) {
  ScoringWorkspace& ws = ctx.ws;
  ConservedCandidates& cc = ws.conserved;
  int* pos1 = ws.alnpos1.data();  // -1 throughout on entry, and again on return
  int* pos2 = ws.alnpos2.data();  // -2 likewise
  bool unique = true;
  int k = 0;
  for (; k < n; ++k) {
    if (pos1[alnres1[k]] != -1 || pos2[alnres2[k]] != -2) {
      unique = false;
      break;
    }
    pos1[alnres1[k]] = k;
    pos2[alnres2[k]] = k;
  }
  if (unique) {
    int c = 0;
    for (int q = 0; q < n; ++q) {
      const int ra = alnres1[q], rb = alnres2[q];
      const int na = ctx.s1.contnum[ra], nb = ctx.s2.contnum[rb];
      cc.na[q] = na;
      cc.nb[q] = nb;
      cc.off[q] = c;
      if (na == 0 || nb == 0) continue;
      ws.marks.mark(ctx.s2, rb);
      const int* pa = ctx.s1.partners(ra);
      for (int m = 1; m <= na; ++m) {
        const int e = pos1[pa[m]];
        if (e >= 0 && ws.marks.marked(alnres2[e])) {
          if (c == static_cast<int>(cc.pair.size()))
            cc.pair.push_back(e);
          else
            cc.pair[c] = e;
          ++c;
        }
      }
    }
    cc.off[n] = c;
    cc.nactive = 0;
    for (int q = 0; q < n; ++q)
      if (cc.off[q] < cc.off[q + 1]) cc.active[cc.nactive++] = q;
    // The factor for every count a trial can find, made as a trial would.
    cc.fcol.resize(static_cast<size_t>(c + n));
    for (int q = 0; q < n; ++q) {
      const int ncand = cc.off[q + 1] - cc.off[q];
      cc.fmax[q] = 0.0;
      if (ncand == 0) continue;  // (no trial looks at such a pair)
      double* f = &cc.fcol[static_cast<size_t>(cc.off[q] + q)];
      for (int nmatch = 0; nmatch <= ncand; ++nmatch)
        f[nmatch] = 0.5 * (static_cast<double>(nmatch) / static_cast<double>(cc.nb[q]) +
                           static_cast<double>(nmatch) / static_cast<double>(cc.na[q]));
      cc.fmax[q] = f[ncand];  // the factors grow with the count
    }
    cc.ready = true;
  }
  for (int q = 0; q < k; ++q) {
    pos1[alnres1[q]] = -1;
    pos2[alnres2[q]] = -2;
  }
}

void tmsearch(Context& ctx, double d0, double d0search, int n, Coord* x1, const int* alnres1,
              const Coord* x2, const int* alnres2, double& score, double& rmsd, int mode,
              int scoretype, int& ncontact, bool want_rmsd) {
  ScoringWorkspace& ws = ctx.ws;
  const int nmin = n;

  // 1. the pairs, position by position
  for (int k = 0; k < n; ++k) {
    ws.unmoved1[k] = x1[k];
    ws.fixed2[k] = x2[k];
    ws.ux[k] = x1[k][0];
    ws.uy[k] = x1[k][1];
    ws.uz[k] = x1[k][2];
    ws.fx[k] = x2[k][0];
    ws.fy[k] = x2[k][1];
    ws.fz[k] = x2[k][2];
  }

  ws.memo.clear();
  init_ali(ws.alnpos1.data(), ws.alnpos2.data(), ctx.s1.len, ctx.s2.len);
  ws.conserved.ready = false;
  if (scoretype == 1) find_conserved_candidates(ctx, n, alnres1, alnres2);

  // 2.-5.
  const double d0w = d0 <= 0.5 ? 0.5 : d0;
  int lens[kMaxSeedLengths];
  const int nlen = seed_lengths(n, lens);
  const int step = seed_step(mode, nmin);
  const int restricted = (mode == 3) ? 0 : -1;
  const double dseed = d0search - 1.0;
  const double dext = d0search + 1.0;

  double best = -1.0;
  int bestcount = 0;
  rmsd = 0.0;

  int* frag = ws.frag.data();
  int* close = ws.closepairs.data();
  int* starts = ws.seedstart.data();
  double u[3][3], t[3];
  // A trial replaces the best only when it scores strictly higher, so the
  // earlier candidate wins ties.
  // The best trial's superposition is kept rather than its fragment fitted
  // again at the end: the same fit gives the same motion. (No trial at all
  // would leave the fit of no points: the identity.)
  double bestu[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double bestt[3] = {0.0, 0.0, 0.0};
  auto consider = [&](double sc, int ncont) {
    if (!(sc > best)) return;
    best = sc;
    bestcount = ncont;
    std::copy(&u[0][0], &u[0][0] + 9, &bestu[0][0]);
    std::copy(t, t + 3, bestt);
  };

  // The extension from the close pairs of the latest trial (close, nclose)
  // on, from iteration `from`: fit them, score the trial, and go on with its
  // close pairs until they repeat or reach a fragment scored before.
  auto extend = [&](int from, int& nclose) {
    double sc;
    int ncont;
    for (int it = from; it <= 20; ++it) {
      const int fraglen = nclose;
      for (int m = 0; m < nclose; ++m) frag[m] = close[m];
      if (ws.memo.replays(frag, fraglen, it)) return false;
      fit_fragment(ws, frag, fraglen, u, t);
      move_pairs(ws, n, u, t);
      if (score_trial(ctx, dext, d0w, n, restricted, best, sc, close, nclose, scoretype, ncont,
                      alnres1, alnres2))
        consider(sc, ncont);
      if (nclose == fraglen && std::equal(close, close + nclose, frag)) return true;
    }
    return false;
  };

  // 6. seeds, longest first, each followed by its extension
  for (int il = 0; il < nlen; ++il) {
    const int len = lens[il];
    const int nstart = seed_starts(n, len, step, starts);
    if (il == 0) {
      // The longest seed is all n pairs, in place: its residual gives the
      // RMSD. (The fit without the residual is the same.)
      const Coord* x = &ws.unmoved1[starts[0] - 1];
      const Coord* y = &ws.fixed2[starts[0] - 1];
      if (want_rmsd) {
        double resid;
        int status;
        u3b(unit_weights(), x, y, len, 1, resid, u, t, status);
        rmsd = len > 0 ? std::sqrt(resid / len) : 0.0;
      } else {
        superpose(x, y, len, u, t);
      }
      move_pairs(ws, n, u, t);
      double sc;
      int nclose, ncont;
      if (score_trial(ctx, dseed, d0w, n, restricted, best, sc, close, nclose, scoretype, ncont,
                      alnres1, alnres2))
        consider(sc, ncont);
      ws.memo.end_extension(extend(1, nclose));
      continue;
    }
    fit_seeds(ws, starts, nstart, len);
    // Up to four seeds at a time: their trials and the fits of their first
    // extension steps depend on nothing that their extensions change, so
    // those fits run side by side on the four-lane fit. The results are then
    // taken seed by seed in order, as if made one after the other: a trial
    // made before an earlier seed's extension was skipped only when it could
    // not beat the best of that moment, which is no higher, and a first step
    // that replays a scored fragment is dropped. A first step that will
    // surely replay one (met in an earlier group, or the first step of an
    // earlier seed of the group) is not made at all; should one that was
    // not made turn out to be needed, it is made then.
    const int group = std::clamp(detail::tmsearch_seed_group, 1, 4);
    for (int g0 = 0; g0 < nstart; g0 += group) {
      const int lanes = std::min(group, nstart - g0);
      ScoringWorkspace::SeedLane* sl = ws.seedlanes.data();
      for (int k = 0; k < lanes; ++k) {
        const ScoringWorkspace::Motion& f = ws.seedfit[g0 + k];
        move_pairs(ws, n, f.u, f.t);
        sl[k].scored[0] = score_trial(ctx, dseed, d0w, n, restricted, best, sl[k].sc[0],
                                      sl[k].close1.data(), sl[k].nclose1, scoretype, sl[k].ncont[0],
                                      alnres1, alnres2);
        const int* c1 = sl[k].close1.data();
        const int n1 = sl[k].nclose1;
        bool replay = ws.memo.seen(c1, n1, 1);
        for (int j = 0; j < k && !replay; ++j)
          replay = sl[j].nclose1 == n1 && std::equal(c1, c1 + n1, sl[j].close1.begin());
        sl[k].made = !replay;
        if (replay) continue;
        for (int m = 0; m < n1; ++m) {
          sl[k].p1[m] = ws.unmoved1[c1[m]];
          sl[k].p2[m] = ws.fixed2[c1[m]];
        }
      }
      const Coord* x[4];
      const Coord* y[4];
      int np[4];
      int made = 0;
      for (int k = 0; k < 4; ++k) {
        const ScoringWorkspace::SeedLane& l = sl[std::min(k, lanes - 1)];
        x[k] = l.p1.data();
        y[k] = l.p2.data();
        np[k] = k < lanes && l.made ? l.nclose1 : 0;
        made += np[k] > 0;
      }
      double u4[4][3][3], t4[4][3];
      if (made > 1) {
        superpose4(x, y, np, u4, t4);
      } else {
        for (int k = 0; k < lanes; ++k)
          if (sl[k].made) superpose(x[k], y[k], np[k], u4[k], t4[k]);
      }
      for (int k = 0; k < lanes; ++k) {
        if (!sl[k].made) continue;
        std::copy(&u4[k][0][0], &u4[k][0][0] + 9, &sl[k].u[0][0]);
        std::copy(t4[k], t4[k] + 3, sl[k].t);
        move_pairs(ws, n, sl[k].u, sl[k].t);
        sl[k].scored[1] = score_trial(ctx, dext, d0w, n, restricted, best, sl[k].sc[1],
                                      sl[k].close2.data(), sl[k].nclose2, scoretype, sl[k].ncont[1],
                                      alnres1, alnres2);
      }
      for (int k = 0; k < lanes; ++k) {
        const ScoringWorkspace::SeedLane& l = sl[k];
        const ScoringWorkspace::Motion& f = ws.seedfit[g0 + k];
        std::copy(&f.u[0][0], &f.u[0][0] + 9, &u[0][0]);
        std::copy(f.t, f.t + 3, t);
        if (l.scored[0]) consider(l.sc[0], l.ncont[0]);
        // The first extension step, made above.
        bool fixed_point = false;
        int nclose = l.nclose1;
        std::copy_n(l.close1.begin(), nclose, frag);
        if (!l.made) {
          // (surely a replay; made as the plain extension does should it not be)
          std::copy_n(l.close1.begin(), nclose, close);
          fixed_point = extend(1, nclose);
        } else if (!ws.memo.replays(frag, nclose, 1)) {
          std::copy(&l.u[0][0], &l.u[0][0] + 9, &u[0][0]);
          std::copy(l.t, l.t + 3, t);
          if (l.scored[1]) consider(l.sc[1], l.ncont[1]);
          fixed_point = l.nclose2 == l.nclose1 &&
                        std::equal(l.close2.begin(), l.close2.begin() + l.nclose2, frag);
          if (!fixed_point) {
            nclose = l.nclose2;
            std::copy_n(l.close2.begin(), nclose, close);
            fixed_point = extend(2, nclose);
          }
        }
        ws.memo.end_extension(fixed_point);
      }
    }
  }

  // 7. the best superposition, applied to the caller's points
  move_all(ws, n, bestu, bestt, x1);
  score = best;
  ncontact = bestcount;
}

}  // namespace tarvix
