// Superposition search, interface score and score matrix, contact overlap,
// pruning and the RMSD score, on small synthetic interfaces.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "scoring/scoring.h"

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

// Deterministic pseudo-random numbers in [-1, 1).
struct Lcg {
  unsigned state;
  double next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  }
};

void set_sides(Structure& s, int na) {
  s.nchain = 2;
  s.chains[1] = na;
  s.chains[2] = s.len;
  for (int i = 1; i <= s.len; ++i) s.id2chain[i] = i <= na ? 1 : 2;
}

void add_contact(Structure& s, int i, int p) {
  s.contnum[i] += 1;
  s.partners(i)[s.contnum[i]] = p;
}

// Two roughly parallel strands about 6 apart: side 1 is residues 1..na, side 2
// the next nb. Contacts are the cross-side pairs closer than 8, listed both ways.
std::unique_ptr<Structure> make_interface(int na, int nb, unsigned seed) {
  auto s = std::make_unique<Structure>();
  Lcg r{seed};
  s->len = na + nb;
  for (int i = 1; i <= na; ++i) s->ca[i] = {3.8 * i, 1.5 * r.next(), 1.5 * r.next()};
  for (int i = 1; i <= nb; ++i)
    s->ca[na + i] = {3.8 * i + 1.0, 6.0 + 1.5 * r.next(), 1.5 * r.next()};
  set_sides(*s, na);
  for (int i = 1; i <= na; ++i)
    for (int j = na + 1; j <= s->len; ++j)
      if (dist2(s->ca[i], s->ca[j]) < 64.0) {
        add_contact(*s, i, j);
        add_contact(*s, j, i);
      }
  return s;
}

// A copy of s laid elsewhere by a rotation about (1, 2, 3) and a shift.
std::unique_ptr<Structure> moved_copy(const Structure& s) {
  auto c = std::make_unique<Structure>(s);
  const double n = std::sqrt(14.0), x = 1 / n, y = 2 / n, z = 3 / n, a = 0.9;
  const double co = std::cos(a), si = std::sin(a), C = 1 - co;
  const double u[3][3] = {{co + x * x * C, x * y * C - z * si, x * z * C + y * si},
                          {y * x * C + z * si, co + y * y * C, y * z * C - x * si},
                          {z * x * C - y * si, z * y * C + x * si, co + z * z * C}};
  const double t[3] = {12.0, -7.0, 3.0};
  for (int i = 1; i <= s.len; ++i) c->ca[i] = transform(u, t, s.ca[i]);
  return c;
}

ScoringParams params(double d0, double lmin, double d8) {
  ScoringParams p;
  p.d0 = {d0, lmin};
  p.d0min = 0.5;
  p.d8 = d8;
  p.d00 = {4.5, 20.25};
  p.contcf = {d8, d8 * d8};
  return p;
}

// Identity pairs 1..n of two structures as search input.
struct Pairs {
  std::vector<Coord> x1, x2;
  std::vector<int> r1, r2;
  Pairs(const Structure& a, const Structure& b) {
    for (int k = 1; k <= a.len; ++k) {
      x1.push_back(a.ca[k]);
      x2.push_back(b.ca[k]);
      r1.push_back(k);
      r2.push_back(k);
    }
  }
  int n() const { return static_cast<int>(x1.size()); }
};

struct Search {
  double score = -9.0, rmsd = -9.0;
  int ncontact = -9;
  std::vector<Coord> moved;
};

Search run_search(const Structure& a, const Structure& b, const ScoringParams& par, double d0,
                  double d0search, int mode, int scoretype, Pairs p) {
  ScoringWorkspace ws(a.len, b.len);
  Context ctx{a, b, par, ws};
  Search s;
  tmsearch(ctx, d0, d0search, p.n(), p.x1.data(), p.r1.data(), p.x2.data(), p.r2.data(), s.score,
           s.rmsd, mode, scoretype, s.ncontact);
  s.moved = p.x1;
  return s;
}

// ---- superposition search --------------------------------------------------

TEST(Tmsearch, ExactCopyScoresOneInEveryMode) {
  const auto s1 = make_interface(12, 12, 7);
  const auto s2 = moved_copy(*s1);
  const ScoringParams par = params(3.0, 24, 6.0);
  for (int mode = 1; mode <= 3; ++mode) {
    const Search tm = run_search(*s1, *s2, par, 3.0, 4.5, mode, 0, Pairs(*s1, *s2));
    EXPECT_NEAR(tm.score, 1.0, 1e-12);
    EXPECT_EQ(tm.ncontact, 0);  // the TM-score never counts contacts
    EXPECT_NEAR(tm.rmsd, 0.0, 1e-5);
    for (int k = 0; k < s1->len; ++k) EXPECT_LT(dist2(tm.moved[k], s2->ca[k + 1]), 1e-14);

    // All contacts conserved: every pair with contacts has factor 1.
    const Search tx = run_search(*s1, *s2, par, 3.0, 4.5, mode, 1, Pairs(*s1, *s2));
    int with = 0, listed = 0;
    for (int i = 1; i <= s1->len; ++i) {
      with += s1->contnum[i] > 0;
      listed += s1->contnum[i];
    }
    EXPECT_NEAR(tx.score, static_cast<double>(with) / s1->len, 1e-12);
    EXPECT_EQ(tx.ncontact, listed / 2);
  }
}

TEST(Tmsearch, SeedsFindTheSuperpositionOfTheWellPlacedPairs) {
  // Five of twenty pairs are 20 away from where the other fifteen put them: a
  // plain fit of all pairs is spoilt, the seed search is not.
  const auto s1 = make_interface(10, 10, 11);
  auto s2 = moved_copy(*s1);
  const int far[] = {3, 4, 12, 17, 18};
  for (int k : far) s2->ca[k][0] += 20.0;
  const ScoringParams par = params(3.0, 20, 6.0);

  const Search restricted = run_search(*s1, *s2, par, 3.0, 4.5, 2, 0, Pairs(*s1, *s2));
  EXPECT_NEAR(restricted.score, 15.0 / 20.0, 1e-9);
  const auto good = moved_copy(*s1);
  for (int k = 1; k <= 20; ++k) EXPECT_LT(dist2(restricted.moved[k - 1], good->ca[k]), 1e-12);

  // The rmsd is that of the plain fit of all pairs.
  Pairs all(*s1, *s2);
  double resid, u[3][3], t[3];
  int status;
  u3b(unit_weights(), all.x1.data(), all.x2.data(), 20, 1, resid, u, t, status);
  EXPECT_EQ(restricted.rmsd, std::sqrt(resid / 20));

  // Without the restriction the far pairs add their small terms.
  const Search unrestricted = run_search(*s1, *s2, par, 3.0, 4.5, 3, 0, Pairs(*s1, *s2));
  const double term = 1.0 / (1.0 + (20.0 / 3.0) * (20.0 / 3.0));
  EXPECT_GE(unrestricted.score, (15.0 + 5 * term) / 20.0 - 1e-9);

  // Contacts count only between pairs within the cutoff in the restricted
  // modes, between all aligned pairs otherwise.
  const Search tx2 = run_search(*s1, *s2, par, 3.0, 4.5, 2, 1, Pairs(*s1, *s2));
  const Search tx3 = run_search(*s1, *s2, par, 3.0, 4.5, 3, 1, Pairs(*s1, *s2));
  auto is_far = [&](int k) { return std::find(std::begin(far), std::end(far), k) != std::end(far); };
  int seen_all = 0, seen_near = 0;
  double fsum = 0.0;
  for (int a = 1; a <= 20; ++a) {
    seen_all += s1->contnum[a];
    if (is_far(a)) continue;
    int g = 0;
    for (int m = 1; m <= s1->contnum[a]; ++m) g += !is_far(s1->partner(a, m));
    seen_near += g;
    if (s1->contnum[a] > 0) fsum += static_cast<double>(g) / s1->contnum[a];
  }
  EXPECT_EQ(tx2.ncontact, seen_near / 2);
  EXPECT_EQ(tx3.ncontact, seen_all / 2);
  EXPECT_NEAR(tx2.score, fsum / 20, 1e-9);
}

TEST(Tmsearch, WorkingDistanceScaleHasAFloorOfHalf) {
  const auto s1 = make_interface(9, 9, 3);
  auto s2 = moved_copy(*s1);
  Lcg r{99};
  for (int i = 1; i <= s2->len; ++i)
    for (int c = 0; c < 3; ++c) s2->ca[i][c] += 1.2 * r.next();
  const ScoringParams par = params(0.3, 18, 4.0);
  const Search a = run_search(*s1, *s2, par, 0.3, 4.5, 3, 0, Pairs(*s1, *s2));
  const Search b = run_search(*s1, *s2, par, 0.5, 4.5, 3, 0, Pairs(*s1, *s2));
  const Search c = run_search(*s1, *s2, par, 0.7, 4.5, 3, 0, Pairs(*s1, *s2));
  EXPECT_EQ(a.score, b.score);
  EXPECT_EQ(a.moved, b.moved);
  EXPECT_NE(a.score, c.score);
}

TEST(Tmsearch, EqualScoresKeepTheEarliestSuperposition) {
  // With a cutoff no pair can meet, every candidate scores 0: the result is
  // the first candidate, the plain fit of all pairs.
  const auto s1 = make_interface(6, 6, 13);
  auto s2 = moved_copy(*s1);
  Lcg r{17};
  for (int i = 1; i <= s2->len; ++i)
    for (int c = 0; c < 3; ++c) s2->ca[i][c] += 3.0 * r.next();
  const ScoringParams par = params(3.0, 12, 1e-3);
  const Search s = run_search(*s1, *s2, par, 3.0, 1.0, 2, 0, Pairs(*s1, *s2));
  EXPECT_EQ(s.score, 0.0);
  Pairs all(*s1, *s2);
  double resid, u[3][3], t[3];
  int status;
  u3b(unit_weights(), all.x1.data(), all.x2.data(), all.n(), 1, resid, u, t, status);
  for (int k = 0; k < all.n(); ++k) EXPECT_EQ(s.moved[k], transform(u, t, all.x1[k]));
}

TEST(Tmsearch, HalvesTheSummedContactCount) {
  // Contacts listed one way only: the pairs see 2 + 1 + 1 + 1 = 5 conserved
  // contacts in all, reported as 2.
  auto s1 = std::make_unique<Structure>();
  s1->len = 6;
  for (int i = 1; i <= 6; ++i) s1->ca[i] = {1.0 * i, (i % 2) * 2.0, (i % 3) * 1.5};
  set_sides(*s1, 3);
  add_contact(*s1, 1, 4);
  add_contact(*s1, 1, 5);
  add_contact(*s1, 2, 6);
  add_contact(*s1, 3, 4);
  add_contact(*s1, 4, 1);
  const auto s2 = moved_copy(*s1);
  const ScoringParams par = params(2.0, 6, 5.0);
  const Search tx = run_search(*s1, *s2, par, 2.0, 4.5, 3, 1, Pairs(*s1, *s2));
  EXPECT_EQ(tx.ncontact, 2);
  EXPECT_NEAR(tx.score, 4.0 / 6.0, 1e-9);  // residues 5 and 6 list no contacts
}

TEST(Tmsearch, FewerThanThreePairsScoreZero) {
  const auto s1 = make_interface(4, 4, 5);
  const auto s2 = moved_copy(*s1);
  const ScoringParams par = params(3.0, 8, 6.0);
  for (int n = 0; n <= 2; ++n) {
    Pairs p(*s1, *s2);
    p.x1.resize(n);
    p.x2.resize(n);
    const Search s = run_search(*s1, *s2, par, 3.0, 4.5, 2, 1, p);
    EXPECT_EQ(s.score, 0.0);
    EXPECT_EQ(s.ncontact, 0);
    EXPECT_TRUE(std::isfinite(s.rmsd));
  }
}

// ---- contact overlap --------------------------------------------------------

TEST(ContactOverlap, FactorsUnderAMatchedPairMatrix) {
  // Residue 1 of structure 1 touches 5, 6, 7, 8; residue 1 of structure 2
  // touches 5 and 6.
  Structure a, b;
  a.len = b.len = 8;
  for (int p : {5, 6, 7, 8}) add_contact(a, 1, p);
  for (int q : {5, 6}) add_contact(b, 1, q);
  FlagMatrix flag(8, 8, -1);
  flag(1, 1) = 1;
  flag(5, 5) = 1;
  flag(6, 6) = 1;
  double f;
  int m;
  get_fcol_4s(1, 1, flag, f, m, a, b);  // two partners each way
  EXPECT_DOUBLE_EQ(f, 0.75);
  EXPECT_EQ(m, 2);
  get_fcol_4s_old(1, 1, flag, f, m, a, b);
  EXPECT_DOUBLE_EQ(f, 0.75);
  EXPECT_EQ(m, 2);

  // Partner 5 close to both partners of j: counted once from i's side, while
  // each partner of j still finds one; the pair count sees every match.
  flag(6, 6) = -1;
  flag(5, 6) = 1;
  get_fcol_4s(1, 1, flag, f, m, a, b);
  EXPECT_DOUBLE_EQ(f, 0.5 * (2.0 / 2.0 + 1.0 / 4.0));
  EXPECT_EQ(m, 2);
  flag(6, 6) = 1;
  get_fcol_4s_old(1, 1, flag, f, m, a, b);
  EXPECT_DOUBLE_EQ(f, 0.5 * (3.0 / 2.0 + 3.0 / 4.0));
  EXPECT_EQ(m, 3);

  // Not a matched pair itself: nothing, however well its contacts match.
  flag(1, 1) = -1;
  get_fcol_4s(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f, 0.0);
  EXPECT_EQ(m, 0);
  get_fcol_4s_old(1, 1, flag, f, m, a, b);
  EXPECT_EQ(f, 0.0);
  EXPECT_EQ(m, 0);

  // A residue without contacts.
  flag(2, 1) = 1;
  get_fcol_4s(2, 1, flag, f, m, a, b);
  EXPECT_EQ(f, 0.0);
  EXPECT_EQ(m, 0);
}

TEST(ContactOverlap, PairFactorUnderPositionMaps) {
  Structure a, b;
  a.len = b.len = 8;
  for (int p : {5, 6, 7, 8}) add_contact(a, 1, p);
  for (int q : {5, 6}) add_contact(b, 1, q);
  std::vector<int> pos1(9), pos2(9);
  const int res1[] = {1, 5, 6, 7};
  const int res2[] = {1, 5, 6, 2};
  init_ali(pos1.data(), pos2.data(), 8, 8);
  for (int k = 0; k < 4; ++k) {
    pos1[res1[k]] = k;
    pos2[res2[k]] = k;
  }
  double f;
  int m;
  get_fcol(0, 0, pos1.data(), pos2.data(), res1, res2, a, b, f, m);
  EXPECT_DOUBLE_EQ(f, 0.5 * (2.0 / 2.0 + 2.0 / 4.0));
  EXPECT_EQ(m, 2);
  pos2[1] = -2;  // pair 0 no longer matched
  get_fcol(0, 0, pos1.data(), pos2.data(), res1, res2, a, b, f, m);
  EXPECT_EQ(f, 0.0);
  EXPECT_EQ(m, 0);
}

TEST(ContactOverlap, ConservedContactsOfAnAlignment) {
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  for (Structure* s : {s1.get(), s2.get()}) {
    s->len = 4;
    set_sides(*s, 2);
  }
  add_contact(*s1, 1, 3);
  add_contact(*s1, 3, 1);
  add_contact(*s2, 1, 4);
  add_contact(*s2, 4, 1);
  ScoringWorkspace ws(4, 4);
  const ScoringParams par = params(3.0, 4, 6.0);
  Context ctx{*s1, *s2, par, ws};
  int count = -1;
  const int l1[] = {1, 3, 2}, l2[] = {1, 4, 3};
  cal_col(ctx, l1, l2, 3, count);
  EXPECT_EQ(count, 1);  // (1,3) <-> (1,4), seen from both ends
  cal_col(ctx, l1, l2, 0, count);
  EXPECT_EQ(count, 0);
  const int m1[] = {1}, m2[] = {1};  // partners unaligned: never equal
  cal_col(ctx, m1, m2, 1, count);
  EXPECT_EQ(count, 0);
  const int w1[] = {1, 3}, w2[] = {1, 2};  // 3 aligned to a residue that is no partner
  cal_col(ctx, w1, w2, 2, count);
  EXPECT_EQ(count, 0);
}

// ---- interface score and score matrix -----------------------------------------

struct Scored {
  double score;
  int order1used;
};

Scored score_map(Context& ctx, const std::vector<int>& map, ScoreMatrix& smat, int scoretype,
                 int tryorder1 = 0, int fast = 0) {
  Scored r{-9.0, -9};
  get_score(ctx, map.data(), r.score, smat, scoretype, tryorder1, fast, r.order1used);
  return r;
}

TEST(GetScore, FewerThanThreePairsLeaveTheMatrixAlone) {
  const auto s1 = make_interface(5, 5, 21);
  const auto s2 = moved_copy(*s1);
  const ScoringParams par = params(3.0, 10, 6.0);
  ScoringWorkspace ws(10, 10);
  Context ctx{*s1, *s2, par, ws};
  ScoreMatrix smat(10, 10, 7.0);
  std::vector<int> map(11, -1);
  for (int n = 0; n < 3; ++n) {
    if (n > 0) map[n] = n;
    const Scored r = score_map(ctx, map, smat, 1);
    EXPECT_EQ(r.score, -1.0);
    EXPECT_EQ(r.order1used, 0);
    for (int j = 1; j <= 10; ++j)
      for (int i = 1; i <= 10; ++i) ASSERT_EQ(smat(i, j), 7.0);
  }
}

TEST(GetScore, MatrixEntriesFollowTheBestSuperposition) {
  const int na = 10, nb = 10, l = na + nb;
  const auto s1 = make_interface(na, nb, 31);
  const auto s2 = moved_copy(*s1);
  const double d0 = 3.0, d8 = 6.0;
  const ScoringParams par = params(d0, l, d8);
  // A workspace larger than the structures: its matched-pair matrix outside
  // the L1 x L2 block keeps what it held.
  ScoringWorkspace ws(l + 2, l + 2);
  ws.pairflag.fill(5);
  Context ctx{*s1, *s2, par, ws};
  std::vector<int> map(l + 1);
  for (int j = 1; j <= l; ++j) map[j] = j;

  ScoreMatrix tm(l, l, 0.0), tx(l, l, 0.0);
  const Scored rtm = score_map(ctx, map, tm, 0);
  EXPECT_NEAR(rtm.score, 1.0, 1e-12);
  const Scored rtx = score_map(ctx, map, tx, 1);
  for (int k = 1; k <= l + 2; ++k) {
    EXPECT_EQ(ws.pairflag(l + 1, k), 5);
    EXPECT_EQ(ws.pairflag(k, l + 2), 5);
  }

  int checked_full = 0, checked_far = 0;
  for (int j = 1; j <= l; ++j) {
    for (int i = 1; i <= l; ++i) {
      if (s1->id2chain[i] != s1->id2chain[j]) {
        EXPECT_EQ(tm(i, j), kOtherSide);
        EXPECT_EQ(tx(i, j), kOtherSide);
        EXPECT_EQ(ws.pairflag(i, j), -1);
        continue;
      }
      // The superposition is exact, so distances are those within structure 1.
      const double D2 = dist2(s1->ca[i], s1->ca[j]);
      const double term = 1 / (D2 / (d0 * d0) + 1);
      EXPECT_NEAR(tm(i, j), term, 1e-10 * term);
      if (std::fabs(D2 - d8 * d8) < 1e-6) continue;
      EXPECT_EQ(ws.pairflag(i, j), D2 <= d8 * d8 ? 1 : -1);
      if (D2 > d8 * d8) {
        EXPECT_NEAR(tx(i, j), 0.01 * term, 1e-10 * term);
        ++checked_far;
      } else if (i == j && s1->contnum[i] > 0) {
        EXPECT_NEAR(tx(i, j), 1.01 * term, 1e-10 * term);
        ++checked_full;
      }
    }
  }
  EXPECT_GT(checked_full, 5);
  EXPECT_GT(checked_far, 50);

  // Every contact conserved: score = residues with contacts / Lmin.
  int with = 0;
  for (int i = 1; i <= l; ++i) with += s1->contnum[i] > 0;
  EXPECT_NEAR(rtx.score, static_cast<double>(with) / l, 1e-12);
}

TEST(GetScore, ScoreIsTheSearchScoreOverTheShorterLength) {
  // Noisy copy with a part of it unaligned; checks the search distance rule
  // (min(d0, 8), raised to 4.5 below 3) and the normalisation.
  const auto s1 = make_interface(12, 12, 41);
  auto s2 = moved_copy(*s1);
  Lcg r{5};
  for (int i = 1; i <= s2->len; ++i)
    for (int c = 0; c < 3; ++c) s2->ca[i][c] += 2.0 * r.next();
  std::vector<int> map(25, -1);
  for (int j = 2; j <= 22; ++j) map[j] = j;
  const double lmin = 30.0;  // as if structure 2 were longer
  const double cases[3][2] = {{2.5, 4.5}, {3.5, 3.5}, {9.0, 8.0}};
  for (const auto& [d0, d0search] : cases) {
    const ScoringParams par = params(d0, lmin, 6.0);
    ScoringWorkspace ws(24, 24);
    Context ctx{*s1, *s2, par, ws};
    ScoreMatrix smat(24, 24);
    for (int fast = 0; fast <= 1; ++fast) {
      const Scored got = score_map(ctx, map, smat, 1, 0, fast);
      Pairs p(*s1, *s2);
      std::vector<Coord> x1(p.x1.begin() + 1, p.x1.begin() + 22);
      std::vector<Coord> x2(p.x2.begin() + 1, p.x2.begin() + 22);
      std::vector<int> r1(p.r1.begin() + 1, p.r1.begin() + 22);
      double sc, rmsd;
      int nc;
      ScoringWorkspace ws2(24, 24);
      Context ctx2{*s1, *s2, par, ws2};
      tmsearch(ctx2, d0, d0search, 21, x1.data(), r1.data(), x2.data(), r1.data(), sc, rmsd,
               fast ? 1 : 2, 1, nc);
      EXPECT_EQ(got.score, 21 * sc / lmin) << d0 << " fast " << fast;
      EXPECT_EQ(got.order1used, 0);
    }
  }
}

TEST(GetScore, SecondOrderingKeepsTheFirstResultOnATie) {
  // A sequential map lists the same pairs in both orders: same score, so the
  // first result stays.
  const auto s1 = make_interface(8, 8, 51);
  auto s2 = moved_copy(*s1);
  s2->ca[3][1] += 4.0;
  const ScoringParams par = params(3.0, 16, 6.0);
  ScoringWorkspace ws(16, 16);
  Context ctx{*s1, *s2, par, ws};
  std::vector<int> map(17, -1);
  for (int j = 1; j <= 16; ++j)
    if (j != 7) map[j] = j;
  ScoreMatrix once(16, 16), twice(16, 16);
  const Scored a = score_map(ctx, map, once, 1, 0);
  const Scored b = score_map(ctx, map, twice, 1, 1);
  EXPECT_EQ(a.score, b.score);
  EXPECT_EQ(b.order1used, 0);
  for (int j = 1; j <= 16; ++j)
    for (int i = 1; i <= 16; ++i) ASSERT_EQ(once(i, j), twice(i, j));
}

TEST(GetScore, AllocatesNothingOnceTheWorkspaceExists) {
  const auto s1 = make_interface(15, 15, 61);
  auto s2 = moved_copy(*s1);
  s2->ca[5][2] += 3.0;
  const ScoringParams par = params(3.0, 30, 6.0);
  ScoringWorkspace ws(30, 30);
  Context ctx{*s1, *s2, par, ws};
  std::vector<int> map(31, -1);
  for (int j = 1; j <= 30; ++j) map[j] = 31 - j;  // not in structure-1 order
  ScoreMatrix smat(30, 30);
  Pairs p(*s1, *s2);
  std::vector<int> cur(31, -1), cand(31, -1);
  for (int j = 1; j <= 30; ++j) cur[j] = cand[j] = j;
  ASSERT_GT(g_allocations, 0);  // the counter sees the allocations above
  const long before = g_allocations;
  for (int scoretype = 0; scoretype <= 1; ++scoretype)
    for (int fast = 0; fast <= 1; ++fast) score_map(ctx, map, smat, scoretype, 1, fast);
  double sc, rmsd;
  int nc;
  tmsearch(ctx, 3.0, 4.5, p.n(), p.x1.data(), p.r1.data(), p.x2.data(), p.r2.data(), sc, rmsd, 3, 1,
           nc);
  cal_col(ctx, p.r1.data(), p.r2.data(), p.n(), nc);
  remove_distant_pairs(ctx, cand.data(), cur.data(), 30);
  get_rms_score(ctx, smat, map.data(), 30, 30);
  EXPECT_EQ(g_allocations, before);
}

// ---- pruning and RMSD score --------------------------------------------------

TEST(Prune, KeepsCandidatePairsWithinTheCutoffInclusive) {
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  s1->len = s2->len = 5;
  for (int i = 1; i <= 5; ++i) {
    s1->ca[i] = {10.0 * i, 0.0, 0.0};
    s2->ca[i] = {10.0 * i + 1.0, 0.0, 0.0};  // structure 2 = structure 1 shifted by 1 in x
  }
  s1->ca[2] = {20.0, 3.0, 4.0};  // 5 from its partner after the shift
  s1->ca[3] = {30.0, 3.0, 4.0000001};
  s1->ca[4] = {40.0, 2.0, 2.0};
  set_sides(*s1, 2);
  set_sides(*s2, 2);
  const ScoringParams par = params(3.0, 5, 5.0);
  ScoringWorkspace ws(5, 5);
  Context ctx{*s1, *s2, par, ws};
  // The current map holds the one pair (1, 1): a pure shift, exact in binary.
  std::vector<int> cur = {0, 1, 0, -3, 0, 0};
  const std::vector<int> cand = {0, -1, 2, 3, 4, 0};
  remove_distant_pairs(ctx, cand.data(), cur.data(), 5);
  EXPECT_EQ(cur, (std::vector<int>{0, -1, 2, -1, 4, -1}));
}

TEST(Prune, RmsScoreMatrixUsesTheWidenedScale) {
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  s1->len = s2->len = 4;
  for (int i = 1; i <= 4; ++i) s1->ca[i] = s2->ca[i] = {0.0, 0.0, 0.0};
  s2->ca[2] = {4.0, 0.0, 0.0};
  s2->ca[3] = {0.0, 0.0, 4.5};
  set_sides(*s1, 3);
  set_sides(*s2, 3);
  std::vector<int> none(5, -1);  // no pairs: identity superposition
  ScoreMatrix smat(4, 4, 0.0);
  ScoringWorkspace ws(4, 4);
  {
    const ScoringParams par = [] {
      ScoringParams p = params(2.0, 4, 5.0);
      p.d0min = 4.0;
      return p;
    }();
    Context ctx{*s1, *s2, par, ws};
    get_rms_score(ctx, smat, none.data(), 4, 4);
    EXPECT_EQ(smat(1, 1), 1.0);
    EXPECT_EQ(smat(1, 2), 0.5);  // distance 4 = max(2 + 1.5, 4)
    EXPECT_EQ(smat(1, 4), kOtherSide);
    EXPECT_EQ(smat(4, 1), kOtherSide);
    EXPECT_EQ(smat(4, 4), 1.0);
  }
  {
    const ScoringParams par = params(3.0, 4, 5.0);
    Context ctx{*s1, *s2, par, ws};
    get_rms_score(ctx, smat, none.data(), 4, 4);
    EXPECT_EQ(smat(2, 3), 0.5);  // distance 4.5 = max(3 + 1.5, 0.5)
  }
}

}  // namespace
}  // namespace tarvix
