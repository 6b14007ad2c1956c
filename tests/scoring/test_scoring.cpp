// Superposition search, interface score and score matrix, contact overlap,
// pruning and the RMSD score, on small synthetic interfaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <random>
#include <vector>

#include "scoring/scoring.h"
#include "scoring/seeds.h"
#include "../support/interfaces.h"

// Counts the allocations made through operator new, to check that the hot
// routines only use the storage of their workspace. The replacement pair is
// malloc/free on both sides; GCC's mismatch check cannot see that once inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
long g_allocations = 0;
}
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tarvix {
namespace {

using Ptr = std::unique_ptr<Structure>;

// Deterministic noise in [-1, 1).
struct Lcg {
  unsigned state;
  double next() { return ((state = state * 1664525u + 1013904223u) >> 8) / 8388608.0 - 1.0; }
};

void set_sides(Structure& s, int na) {
  s.nchain = 2;
  s.chains[1] = na;
  s.chains[2] = s.len;
  for (int i = 1; i <= s.len; ++i) s.id2chain[i] = i <= na ? 1 : 2;
}

void add_contact(Structure& s, int i, int p) { s.partners(i)[++s.contnum[i]] = p; }

// Two strands about 6 apart (side 1: 1..na, side 2: the next nb); contacts are
// the cross-side pairs closer than 8, listed both ways.
Ptr make_interface(int na, int nb, unsigned seed) {
  auto s = std::make_unique<Structure>();
  Lcg r{seed};
  s->len = na + nb;
  for (int i = 1; i <= na; ++i) s->ca[i] = {3.8 * i, 1.5 * r.next(), 1.5 * r.next()};
  for (int i = 1; i <= nb; ++i) s->ca[na + i] = {3.8 * i + 1, 6 + 1.5 * r.next(), 1.5 * r.next()};
  set_sides(*s, na);
  for (int i = 1; i <= na; ++i)
    for (int j = na + 1; j <= s->len; ++j)
      if (dist2(s->ca[i], s->ca[j]) < 64.0) add_contact(*s, i, j), add_contact(*s, j, i);
  return s;
}

// s laid elsewhere by a rotation about (1, 2, 3) and a shift, plus up to
// `noise` of jitter per coordinate.
Ptr moved_copy(const Structure& s, double noise = 0.0) {
  auto c = std::make_unique<Structure>(s);
  const double n = std::sqrt(14.0), x = 1 / n, y = 2 / n, z = 3 / n, co = std::cos(0.9),
               si = std::sin(0.9), C = 1 - co;
  const double u[3][3] = {{co + x * x * C, x * y * C - z * si, x * z * C + y * si},
                          {y * x * C + z * si, co + y * y * C, y * z * C - x * si},
                          {z * x * C - y * si, z * y * C + x * si, co + z * z * C}};
  const double t[3] = {12.0, -7.0, 3.0};
  Lcg r{77};
  for (int i = 1; i <= s.len; ++i) {
    c->ca[i] = transform(u, t, s.ca[i]);
    for (double& v : c->ca[i]) v += noise * r.next();
  }
  return c;
}

ScoringParams params(double d0, double lmin, double d8) {
  ScoringParams p;
  p.d0 = {d0, lmin};
  p.d0min = 0.5;
  p.d8 = d8;
  p.contcf = {d8, d8 * d8};
  return p;
}

// The identity pairs 1..L of two structures, searched in a fresh workspace.
struct Search {
  std::vector<Coord> x1, x2;
  std::vector<int> res;
  double score = -9, rmsd = -9;
  int ncontact = -9;
  Search(const Structure& a, const Structure& b, const ScoringParams& par, double d0,
         double d0search, int mode, int scoretype) {
    for (int k = 1; k <= a.len; ++k) x1.push_back(a.ca[k]), x2.push_back(b.ca[k]), res.push_back(k);
    ScoringWorkspace ws(a.len, b.len);
    Context ctx{a, b, par, ws};
    tmsearch(ctx, d0, d0search, a.len, x1.data(), res.data(), x2.data(), res.data(), score, rmsd,
             mode, scoretype, ncontact);
  }
};

TEST(Tmsearch, SeedsFindTheSuperpositionOfTheWellPlacedPairs) {
  // Five of twenty pairs sit 20 away from where the other fifteen put them.
  Ptr s1 = make_interface(10, 10, 11);
  add_contact(*s1, 1, 20);  // listed one way only: an odd summed count
  const Ptr good = moved_copy(*s1);
  Ptr s2 = moved_copy(*s1);
  const std::vector<int> far = {3, 4, 12, 17, 18};
  for (int k : far) s2->ca[k][0] += 20.0;
  const ScoringParams par = params(3.0, 20, 6.0);

  const Search tm2(*s1, *s2, par, 3.0, 4.5, 2, 0);
  EXPECT_NEAR(tm2.score, 15.0 / 20.0, 1e-9);
  EXPECT_EQ(tm2.ncontact, 0);
  for (int k = 1; k <= 20; ++k) EXPECT_LT(dist2(tm2.x1[k - 1], good->ca[k]), 1e-12);
  double resid, u[3][3], t[3];  // rmsd: the plain fit of all pairs
  int status;
  std::vector<Coord> a(&s1->ca[1], &s1->ca[21]), b(&s2->ca[1], &s2->ca[21]);
  u3b(unit_weights(), a.data(), b.data(), 20, 1, resid, u, t, status);
  EXPECT_EQ(tm2.rmsd, std::sqrt(resid / 20));
  // Unrestricted, the far pairs add their small terms.
  const Search tm3(*s1, *s2, par, 3.0, 4.5, 3, 0);
  EXPECT_GE(tm3.score, (15.0 + 5 / (1 + (20 / 3.0) * (20 / 3.0))) / 20.0 - 1e-9);

  // TX: contacts are matched only between pairs within the cutoff in the
  // restricted modes, between all aligned pairs otherwise; the summed count
  // is halved.
  const Search tx1(*s1, *s2, par, 3.0, 4.5, 1, 1), tx3(*s1, *s2, par, 3.0, 4.5, 3, 1);
  auto is_far = [&](int k) { return std::count(far.begin(), far.end(), k) > 0; };
  int seen_all = 0, seen_near = 0;
  double fsum = 0.0;
  for (int i = 1; i <= 20; ++i) {
    seen_all += s1->contnum[i];
    if (is_far(i) || s1->contnum[i] == 0) continue;
    int g = 0;
    for (int m = 1; m <= s1->contnum[i]; ++m) g += !is_far(s1->partner(i, m));
    seen_near += g;
    fsum += static_cast<double>(g) / s1->contnum[i];
  }
  EXPECT_EQ(tx1.ncontact, seen_near / 2);
  EXPECT_NEAR(tx1.score, fsum / 20, 1e-9);
  EXPECT_EQ(tx3.ncontact, seen_all / 2);
  EXPECT_EQ(seen_all % 2 + seen_near % 2, 2);
}

TEST(Tmsearch, EqualScoresKeepTheEarliestSuperposition) {
  // No pair can meet a tiny cutoff, so every candidate scores 0 and the first
  // one, the plain fit of all pairs, stays.
  const Ptr s1 = make_interface(6, 6, 13), s2 = moved_copy(*s1, 3.0);
  const Search s(*s1, *s2, params(3.0, 12, 1e-3), 3.0, 1.0, 2, 0);
  EXPECT_EQ(s.score, 0.0);
  double resid, u[3][3], t[3];
  int status;
  std::vector<Coord> a(&s1->ca[1], &s1->ca[13]), b(&s2->ca[1], &s2->ca[13]);
  u3b(unit_weights(), a.data(), b.data(), 12, 1, resid, u, t, status);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(s.x1[k], transform(u, t, a[k]));
}

TEST(Tmsearch, WorkingDistanceScaleHasAFloorOfHalf) {
  const Ptr s1 = make_interface(9, 9, 3), s2 = moved_copy(*s1, 1.2);
  const ScoringParams par = params(0.3, 18, 4.0);
  const Search a(*s1, *s2, par, 0.3, 4.5, 3, 0), b(*s1, *s2, par, 0.5, 4.5, 3, 0);
  EXPECT_EQ(a.score, b.score);
  EXPECT_EQ(a.x1, b.x1);
  EXPECT_NE(a.score, Search(*s1, *s2, par, 0.7, 4.5, 3, 0).score);
}

// Trials that cannot beat the best so far are not scored, and seeds are made
// four at a time; the search must find the same superposition, score, RMSD
// and contacts, bit for bit, as when every trial is scored and the seeds are
// made one by one: real pairs under threadings and shuffled maps, all modes,
// both scores, with and without a residue in two pairs.
TEST(Tmsearch, SkippingTrialsAndGroupingSeedsChangeNothing) {
  const char* names[][2] = {{"1A2K_AB", "1AZS_AB"}, {"1BGX_AB", "7CEI_AB"}};
  int skipped_somewhere = 0;
  for (const auto& [na, nb] : names) {
    const Ptr a = load_interface(na), b = load_interface(nb);
    const ScoringParams par = params(3.3, std::min(a->len, b->len), 6.0);
    const int n = std::min(a->len, b->len);
    Lcg r{5};
    for (int variant = 0; variant < 4; ++variant) {
      std::vector<int> r1(n), r2(n);
      for (int k = 0; k < n; ++k) r1[k] = k + 1, r2[k] = k + 1;
      if (variant == 1)  // a threading with an offset
        for (int k = 0; k < n; ++k) r1[k] = (k + 7) % n + 1;
      if (variant == 2)  // shuffled
        for (int k = n - 1; k > 0; --k)
          std::swap(r1[k], r1[static_cast<int>((r.next() + 1) / 2 * k)]);
      if (variant == 3) r1[5] = r1[6];  // a residue in two pairs: no candidate lists
      for (int mode = 1; mode <= 3; ++mode)
        for (int type = 0; type <= 1; ++type) {
          // Run 2: as run 0, without the RMSD.
          double score[3], rmsd[3];
          int ncontact[3];
          std::vector<Coord> x1[3];
          for (int every = 0; every <= 2; ++every) {
            std::vector<Coord> p1(n), p2(n);
            for (int k = 0; k < n; ++k) p1[k] = a->ca[r1[k]], p2[k] = b->ca[r2[k]];
            ScoringWorkspace ws(a->len, b->len);
            Context ctx{*a, *b, par, ws};
            detail::tmsearch_every_trial = every == 1;
            detail::tmsearch_seed_group = every == 1 ? 1 : 4;
            tmsearch(ctx, 3.3, 4.5, n, p1.data(), r1.data(), p2.data(), r2.data(), score[every],
                     rmsd[every], mode, type, ncontact[every], /*want_rmsd=*/every != 2);
            x1[every] = p1;
          }
          detail::tmsearch_every_trial = false;
          detail::tmsearch_seed_group = 4;
          const auto where = ::testing::Message() << na << " " << nb << " variant " << variant
                                                  << " mode " << mode << " type " << type;
          EXPECT_EQ(score[0], score[1]) << where;
          EXPECT_EQ(rmsd[0], rmsd[1]) << where;
          EXPECT_EQ(ncontact[0], ncontact[1]) << where;
          EXPECT_EQ(x1[0], x1[1]) << where;
          EXPECT_EQ(score[0], score[2]) << where;
          EXPECT_EQ(ncontact[0], ncontact[2]) << where;
          EXPECT_EQ(x1[0], x1[2]) << where;
          EXPECT_EQ(rmsd[2], 0.0) << where;
          skipped_somewhere += score[0] > 0.0;
        }
    }
  }
  EXPECT_GT(skipped_somewhere, 20);
}

// The close pairs from squared distances are those of the square roots, also
// for squares a few units in the last place from d^2, at the margins of the
// shortcut, and for zero, infinity and NaN.
TEST(Tmsearch, ClosePairsFromSquaresAreThoseOfTheRoots) {
  for (const double d : {2.0, 3.5, 4.4, 5.5, 7.0, 9.3, 1e-160, 1e160}) {
    std::vector<double> dd = {0.0, 1e-300, std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(), 1e300};
    for (const double c : {d * d, d * d * (1.0 - 1e-12), d * d * (1.0 + 1e-12)}) {
      double lo = c, hi = c;
      for (int k = 0; k < 6; ++k) {
        dd.push_back(lo);
        dd.push_back(hi);
        lo = std::nextafter(lo, 0.0);
        hi = std::nextafter(hi, 1e300);
      }
    }
    // The largest square whose root lies below d, and its neighbours.
    double x = d * d;
    while (std::sqrt(x) >= d) x = std::nextafter(x, 0.0);
    for (int k = -3; k <= 3; ++k) dd.push_back(x + k * std::nextafter(x, 1e300) - k * x);
    Lcg r{11};
    for (int k = 0; k < 40; ++k) dd.push_back(d * d * (1.0 + r.next()));
    const int n = static_cast<int>(dd.size());
    std::vector<int> got(n), want;
    for (int k = 0; k < n; ++k)
      if (std::sqrt(dd[k]) < d) want.push_back(k);
    got.resize(static_cast<size_t>(close_pairs_of_squares(dd.data(), n, d, got.data())));
    EXPECT_EQ(got, want) << d;
  }
}

// ---- contact overlap --------------------------------------------------------

TEST(ContactOverlap, FactorsUnderAMatchedPairMatrix) {
  // Residue 1 of structure 1 touches 5..8, residue 1 of structure 2 touches 5, 6.
  Structure a, b;
  for (int p : {5, 6, 7, 8}) add_contact(a, 1, p);
  for (int q : {5, 6}) add_contact(b, 1, q);
  FlagMatrix flag(8, 8, -1);
  flag(1, 1) = flag(5, 5) = flag(6, 6) = 1;
  double f;
  int m;
  get_fcol_4s(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f, 0.75);  // a = 2, b = 2
  EXPECT_EQ(m, 2);
  // Partner 5 of i close to both partners of j: one from i's side, two from j's.
  flag(6, 6) = -1;
  flag(5, 6) = 1;
  get_fcol_4s(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f, 0.5 * (2.0 / 2.0 + 1.0 / 4.0));
  EXPECT_EQ(m, 2);
  flag(6, 6) = 1;  // the report's count takes every matching pair
  get_fcol_4s_old(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f, 0.5 * (3.0 / 2.0 + 3.0 / 4.0));
  EXPECT_EQ(m, 3);
  flag(1, 1) = -1;  // (i, j) not matched itself
  get_fcol_4s(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f + m, 0.0);
  get_fcol_4s_old(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f + m, 0.0);
}

TEST(ContactOverlap, ConservedContactsOfAnAlignment) {
  const Ptr s1 = std::make_unique<Structure>(), s2 = std::make_unique<Structure>();
  for (Structure* s : {s1.get(), s2.get()}) s->len = 4, set_sides(*s, 2);
  add_contact(*s1, 1, 3), add_contact(*s1, 3, 1);
  add_contact(*s2, 1, 4), add_contact(*s2, 4, 1);
  ScoringWorkspace ws(4, 4);
  const ScoringParams par = params(3.0, 4, 6.0);
  Context ctx{*s1, *s2, par, ws};
  int count = -1;
  const int l1[] = {1, 3, 2}, l2[] = {1, 4, 3};
  cal_col(ctx, l1, l2, 3, count);
  EXPECT_EQ(count, 1);  // (1,3) <-> (1,4), seen from both ends
  cal_col(ctx, l1, l2, 0, count);
  EXPECT_EQ(count, 0);
  cal_col(ctx, l1, l2, 1, count);  // partners unaligned on both sides never match
  EXPECT_EQ(count, 0);
}

// The matrix fill counts contact overlap through bit sets of the matched
// pairs; the direct count over a matched-pair matrix is the reference. With
// and without the vector code, and with the partner sets of an alignment
// search (which a listed-twice partner rules out); the columns made one at a
// time give the same numbers.
TEST(ContactOverlap, MatrixFillEqualsTheDirectCountOnRealPairs) {
  const char* pairs[][2] = {{"1A2K_AB", "1AZS_AB"}, {"4GAM_AB", "1BGX_AB"}, {"1BGX_AB", "7CEI_AB"},
                            {"1A2K_AB", "1AZS_AB"}, {"4GAM_AB", "1BGX_AB"}, {"1BGX_AB", "7CEI_AB"}};
  int run = 0;
  for (const auto& [na, nb] : pairs) {
    const int r = run++;
    detail::fill_plain = r == 3;
    const bool sets = r >= 4;
    Ptr a = load_interface(na), b = load_interface(nb);
    // A listed-twice partner and a same-side contact count as the lists say.
    if (!sets) {
      add_contact(*a, 2, a->partner(2, 1));
      add_contact(*b, 3, 1);
      PartnerSets twice;
      twice.make(*a);
      EXPECT_EQ(twice.owner, nullptr);  // one bit could not stand for two entries
    }
    const int la = a->len, lb = b->len, n = std::max(la, lb);
    // Some superposition: the first residues of a laid onto those of b.
    const int m = std::min(la, lb) / 2;
    double resid, u[3][3], t[3];
    int status;
    u3b(unit_weights(), &a->ca[1], &b->ca[1], m, 1, resid, u, t, status);
    const double scale2 = 9.0, cut2 = 64.0;
    ScoringWorkspace ws(la, lb);
    if (sets) {
      ws.partner_sets[0].make(*a);
      ws.partner_sets[1].make(*b);
      ASSERT_TRUE(ws.partner_sets_of(*a) && ws.partner_sets_of(*b));
    }
    ScoreMatrix got(n, n);
    fill_pair_matrix(ws, *a, *b, la, lb, u, t, scale2, cut2, true, got);
    FlagMatrix flag(la, lb, -1);
    for (int j = 1; j <= lb; ++j)
      for (int i = 1; i <= la; ++i)
        if (a->id2chain[i] == b->id2chain[j] && dist2(transform(u, t, a->ca[i]), b->ca[j]) <= cut2)
          flag(i, j) = 1;
    int matched = 0, weighted = 0;
    for (int j = 1; j <= lb; ++j)
      for (int i = 1; i <= la; ++i) {
        if (a->id2chain[i] != b->id2chain[j]) {
          ASSERT_EQ(got(i, j), kOtherSide);
          continue;
        }
        const double term = 1.0 / (dist2(transform(u, t, a->ca[i]), b->ca[j]) / scale2 + 1.0);
        double fcol;
        int nmatch;
        get_fcol_4s(i, j, flag, fcol, nmatch, *a, *b);
        ASSERT_EQ(got(i, j), (fcol + 0.01) * term) << na << " " << nb << " " << i << " " << j;
        ASSERT_EQ(ws.match.matched(i, j), flag(i, j) == 1);
        matched += flag(i, j) == 1;
        weighted += fcol > 0.0;
      }
    EXPECT_GT(matched, 20) << na << " " << nb;
    EXPECT_GT(weighted, 5) << na << " " << nb;
    // Column by column, with the squared distances kept or not, the same.
    ScoreMatrix squares(n, n, 7.0);
    for (ScoreMatrix* keep : {static_cast<ScoreMatrix*>(nullptr), &squares}) {
      PairColumns cols(ws, *a, *b, la, lb, u, t, scale2, cut2, true, true, keep);
      std::vector<double> c(static_cast<size_t>(la) + 1);
      for (int j = 1; j <= lb; ++j) {
        cols.column(j, c.data());
        for (int i = 1; i <= la; ++i)
          ASSERT_EQ(c[i], got(i, j)) << na << " " << nb << " " << i << " " << j << " " << !!keep;
      }
    }
  }
  detail::fill_plain = false;
}

// ---- interface score and score matrix -----------------------------------------

TEST(GetScore, MatrixEntriesFollowTheBestSuperposition) {
  const int l = 20;
  const Ptr s1 = make_interface(10, 10, 31), s2 = moved_copy(*s1);
  const double d0 = 3.0, d8 = 6.0;
  const ScoringParams par = params(d0, l, d8);
  ScoringWorkspace ws(l, l);
  Context ctx{*s1, *s2, par, ws};
  std::vector<int> map(l + 1);
  for (int j = 1; j <= l; ++j) map[j] = j;
  ScoreMatrix tm(l, l, 7.0), tx(l, l, 7.0);
  double stm, stx;
  int o1, o2;
  get_score(ctx, map.data(), stm, tm, 0, 0, 1, o1);
  get_score(ctx, map.data(), stx, tx, 1, 0, 1, o2);
  EXPECT_NEAR(stm, 1.0, 1e-12);
  int with = 0, full = 0, far = 0;
  for (int i = 1; i <= l; ++i) with += s1->contnum[i] > 0;
  EXPECT_NEAR(stx, static_cast<double>(with) / l, 1e-12);  // every contact conserved

  for (int j = 1; j <= l; ++j)
    for (int i = 1; i <= l; ++i) {
      if (s1->id2chain[i] != s1->id2chain[j]) {
        // Nobody reads the cells across the sides: they are left alone.
        EXPECT_EQ(tm(i, j), 7.0);
        EXPECT_EQ(tx(i, j), 7.0);
        EXPECT_FALSE(ws.match.matched(i, j));
        continue;
      }
      // The fit is exact: distances are those within structure 1.
      const double D2 = dist2(s1->ca[i], s1->ca[j]), term = 1 / (D2 / (d0 * d0) + 1);
      EXPECT_NEAR(tm(i, j), term, 1e-10 * term);
      if (std::fabs(D2 - d8 * d8) < 1e-6) continue;
      EXPECT_EQ(ws.match.matched(i, j), D2 <= d8 * d8);
      if (D2 > d8 * d8) {
        EXPECT_NEAR(tx(i, j), 0.01 * term, 1e-10 * term);
        ++far;
      } else if (i == j && s1->contnum[i] > 0) {
        EXPECT_NEAR(tx(i, j), 1.01 * term, 1e-10 * term);
        ++full;
      }
    }
  EXPECT_GT(full, 5);
  EXPECT_GT(far, 50);
}

TEST(GetScore, SearchDistanceNormalisationAndOrdering) {
  // A noisy copy, partly aligned; the score is the search's over Lmin, with
  // the search distance min(d0, 8), raised to 4.5 below 3.
  const Ptr s1 = make_interface(12, 12, 41), s2 = moved_copy(*s1, 2.5);
  std::vector<int> map(25, -1);
  for (int j = 2; j <= 22; ++j) map[j] = j;
  const double cases[3][2] = {{2.5, 4.5}, {3.5, 3.5}, {9.0, 8.0}};
  for (const auto& [d0, d0search] : cases) {
    const ScoringParams par = params(d0, 30.0, 6.0);
    ScoringWorkspace ws(24, 24);
    Context ctx{*s1, *s2, par, ws};
    ScoreMatrix once(24, 24), twice(24, 24);
    for (int fast = 0; fast <= 1; ++fast) {
      double score, score2, sc, rmsd;
      int o1, o2, nc;
      get_score(ctx, map.data(), score, once, 1, 0, fast, o1);
      std::vector<Coord> x1(&s1->ca[2], &s1->ca[23]), x2(&s2->ca[2], &s2->ca[23]);
      std::vector<int> res(&map[2], &map[23]);
      ScoringWorkspace ws2(24, 24);
      Context ctx2{*s1, *s2, par, ws2};
      tmsearch(ctx2, d0, d0search, 21, x1.data(), res.data(), x2.data(), res.data(), sc, rmsd,
               fast ? 1 : 2, 1, nc);
      EXPECT_EQ(score, 21 * sc / 30.0) << d0 << " fast " << fast;
      // A sequential map lists the same pairs in both orders: on the tie the
      // first result stays.
      get_score(ctx, map.data(), score2, twice, 1, 1, fast, o2);
      EXPECT_EQ(score2, score);
      EXPECT_EQ(o1 + o2, 0);
      EXPECT_TRUE(std::equal(once.data(), once.data() + 24 * 24, twice.data()));
    }
    // Below three pairs: -1.0, and the matrix is left as it was.
    std::vector<int> two(25, -1);
    two[3] = 3, two[9] = 9;
    double score;
    int o;
    twice.fill(7.0);
    get_score(ctx, two.data(), score, twice, 1, 1, 0, o);
    EXPECT_EQ(score, -1.0);
    EXPECT_EQ(std::count(twice.data(), twice.data() + 24 * 24, 7.0), 24 * 24);
  }
}

// With the memory of a search on, an alignment met again, or scored before
// in structure-2 order only, gives what scoring it afresh gives: the score,
// the order used and the matrix, bit for bit. Shuffled maps, so that the two
// orders differ and either may win.
TEST(GetScore, RememberedSearchesGiveTheFreshResult) {
  const Ptr s1 = make_interface(14, 14, 71), s2 = moved_copy(*s1, 2.0);
  const ScoringParams par = params(3.0, 28, 6.0);
  std::mt19937 rng(5);
  int order1 = 0;
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<int> map(29, -1);
    std::vector<int> side1(14), side2(14);
    std::iota(side1.begin(), side1.end(), 1);
    std::iota(side2.begin(), side2.end(), 15);
    std::shuffle(side1.begin(), side1.begin() + 4 + trial % 10, rng);
    std::shuffle(side2.begin(), side2.begin() + 4 + trial % 7, rng);
    for (int k = 0; k < 14; ++k) {
      if (rng() % 5 == 0) continue;
      map[k + 1] = side1[k];
      map[k + 15] = side2[k];
    }
    const int scoretype = trial % 2, fast = trial / 2 % 2;
    ScoringWorkspace fresh(28, 28), kept(28, 28);
    Context cf{*s1, *s2, par, fresh}, ck{*s1, *s2, par, kept};
    kept.search_memo.enable();
    ScoreMatrix a(28, 28, 7.0), b(28, 28, 7.0);
    double sa, sb, sk;
    int oa, ob, ok;
    get_score(ck, map.data(), sk, b, scoretype, 0, fast, ok);  // remembered in structure-2 order
    std::vector<int> other(29, -1);
    for (int j = 3; j <= 26; ++j) other[j] = j;
    get_score(ck, other.data(), sk, b, scoretype, 0, fast, ok);  // another superposition since
    for (int again = 0; again < 2; ++again) {
      get_score(cf, map.data(), sa, a, scoretype, 1, fast, oa);
      get_score(ck, map.data(), sb, b, scoretype, 1, fast, ob);
      ASSERT_EQ(sa, sb) << trial;
      ASSERT_EQ(oa, ob) << trial;
      ASSERT_TRUE(std::equal(a.data(), a.data() + 28 * 28, b.data())) << trial;
    }
    order1 += oa;
  }
  EXPECT_GT(order1, 0);  // structure-1 order won somewhere
}

TEST(GetScore, AllocatesNothingOnceTheWorkspaceExists) {
  const Ptr s1 = make_interface(15, 15, 61), s2 = moved_copy(*s1, 1.0);
  const ScoringParams par = params(3.0, 30, 6.0);
  ScoringWorkspace ws(30, 30);
  Context ctx{*s1, *s2, par, ws};
  std::vector<int> map(31), res(30);
  for (int j = 1; j <= 30; ++j) map[j] = 31 - j, res[j - 1] = j;  // reversed: both orders differ
  std::vector<int> cur = map;
  std::vector<Coord> x1(&s1->ca[1], &s1->ca[31]), x2(&s2->ca[1], &s2->ca[31]);
  ScoreMatrix smat(30, 30);
  double sc, rmsd;
  int nc;
  ASSERT_GT(g_allocations, 0);  // the counter sees the allocations above
  const long before = g_allocations;
  for (int scoretype = 0; scoretype <= 1; ++scoretype)
    for (int fast = 0; fast <= 1; ++fast) get_score(ctx, map.data(), sc, smat, scoretype, 1, fast, nc);
  tmsearch(ctx, 3.0, 4.5, 30, x1.data(), res.data(), x2.data(), res.data(), sc, rmsd, 3, 1, nc);
  cal_col(ctx, res.data(), res.data(), 30, nc);
  remove_distant_pairs(ctx, map.data(), cur.data(), 30);
  get_rms_score(ctx, smat, map.data(), 30, 30);
  EXPECT_EQ(g_allocations, before);
}

// ---- pruning and RMSD score --------------------------------------------------

TEST(Prune, KeepsCandidatePairsWithinTheCutoffInclusive) {
  const Ptr s1 = std::make_unique<Structure>(), s2 = std::make_unique<Structure>();
  s1->len = s2->len = 5;
  for (int i = 1; i <= 5; ++i) s1->ca[i] = {10.0 * i, 0, 0}, s2->ca[i] = {10.0 * i + 1, 0, 0};
  s1->ca[2] = {20, 3, 4};  // exactly 5 from its partner once shifted by 1
  s1->ca[3] = {30, 3, 4.0000001};
  s1->ca[4] = {40, 2, 2};
  const ScoringParams par = params(3.0, 5, 5.0);
  ScoringWorkspace ws(5, 5);
  Context ctx{*s1, *s2, par, ws};
  std::vector<int> cur = {0, 1, 0, -3, 0, 0};  // the single pair (1, 1): a shift, exact in binary
  const std::vector<int> cand = {0, -1, 2, 3, 4, 0};
  remove_distant_pairs(ctx, cand.data(), cur.data(), 5);
  EXPECT_EQ(cur, (std::vector<int>{0, -1, 2, -1, 4, -1}));
}

TEST(Prune, RmsScoreMatrixUsesTheWidenedScale) {
  const Ptr s1 = std::make_unique<Structure>(), s2 = std::make_unique<Structure>();
  s1->len = s2->len = 4;
  s2->ca[2] = {4.0, 0.0, 0.0};
  s2->ca[3] = {0.0, 0.0, 4.5};
  set_sides(*s1, 3), set_sides(*s2, 3);
  const std::vector<int> none(5, -1);  // no pairs: the identity
  ScoreMatrix smat(4, 4, 7.0);
  ScoringWorkspace ws(4, 4);
  ScoringParams par = params(2.0, 4, 5.0);
  par.d0min = 4.0;
  Context ctx{*s1, *s2, par, ws};
  get_rms_score(ctx, smat, none.data(), 4, 4);
  EXPECT_EQ(smat(1, 1), 1.0);
  EXPECT_EQ(smat(1, 2), 0.5);  // distance 4 = max(2 + 1.5, 4)
  EXPECT_EQ(smat(1, 4), 7.0);  // across the sides: left alone
  EXPECT_EQ(smat(4, 4), 1.0);
  par = params(3.0, 4, 5.0);
  get_rms_score(ctx, smat, none.data(), 4, 4);
  EXPECT_EQ(smat(2, 3), 0.5);  // distance 4.5 = max(3 + 1.5, 0.5)
}

}  // namespace
}  // namespace tarvix
