// Interface score of an alignment and the score matrix of its best
// superposition, plus the contact-overlap counts built on matched-pair
// matrices and aligned-pair lists.

#include <algorithm>

#include "scoring/scoring.h"

namespace tarvix {

namespace {

// Collects the pairs of invmap in structure-2 order into the first pair list.
int collect_by_structure2(Context& ctx, const int* invmap) {
  ScoringWorkspace& ws = ctx.ws;
  int n = 0;
  for (int j = 1; j <= ctx.s2.len; ++j) {
    const int i = invmap[j];
    if (i < 1) continue;
    ws.r1a[n] = i;
    ws.r2a[n] = j;
    ws.p1a[n] = ctx.s1.ca[i];
    ws.m1a[n] = ctx.s1.ca[i];
    ws.p2a[n] = ctx.s2.ca[j];
    ++n;
  }
  return n;
}

// Collects the same pairs in structure-1 order into the second pair list.
int collect_by_structure1(Context& ctx, const int* invmap) {
  ScoringWorkspace& ws = ctx.ws;
  const int l1 = ctx.s1.len;
  int* rev = ws.revmap.data();
  for (int i = 1; i <= l1; ++i) rev[i] = -1;
  for (int j = 1; j <= ctx.s2.len; ++j) {
    const int i = invmap[j];
    if (i >= 1) rev[i] = j;
  }
  int n = 0;
  for (int i = 1; i <= l1; ++i) {
    const int j = rev[i];
    if (j < 1) continue;
    ws.r1b[n] = i;
    ws.r2b[n] = j;
    ws.p1b[n] = ctx.s1.ca[i];
    ws.m1b[n] = ctx.s1.ca[i];
    ws.p2b[n] = ctx.s2.ca[j];
    ++n;
  }
  return n;
}

}  // namespace

bool fill_pending(Context& ctx, ScoreMatrix& smat) {
  ScoringWorkspace& ws = ctx.ws;
  if (!ws.pending_fill) return false;
  ws.pending_fill = false;
  const double d0 = ctx.par.d0[0];
  fill_pair_matrix(ws, ctx.s1, ctx.s2, ctx.s1.len, ctx.s2.len, ws.su, ws.st, d0 * d0,
                   ctx.par.contcf[1], ws.pending_weighted, smat, /*cross=*/false);
  return true;
}

void get_score(Context& ctx, const int* invmap, double& score, ScoreMatrix& smat, int scoretype,
               int tryorder1, int fast, int& order1used, bool fill) {
  ScoringWorkspace& ws = ctx.ws;
  const ScoringParams& par = ctx.par;
  const int l2 = ctx.s2.len;

  // 1.-3.
  order1used = 0;
  const int mode = fast > 0 ? 1 : 2;
  int n = collect_by_structure2(ctx, invmap);
  score = -1.0;
  ws.pending_fill = false;
  if (n < 3) return;
  ws.pending_weighted = scoretype == 1;

  // A remembered result: its score, and its superposition as the one behind
  // the matrix.
  SearchMemo& memo = ws.search_memo;
  auto recall = [&](int key) -> const ScoreResult* {
    if (!memo.enabled()) return nullptr;
    const int e = memo.scores.find(invmap + 1, l2, key);
    if (e < 0) return nullptr;
    const ScoreResult& r = memo.scores.at(e);
    score = r.score;
    std::copy(&r.u[0][0], &r.u[0][0] + 9, &ws.su[0][0]);
    std::copy(r.t, r.t + 3, ws.st);
    return &r;
  };

  // An alignment scored before in this search: its superposition gives the matrix.
  const int key = scoretype * 16 + (tryorder1 == 1 ? 2 : 0) + mode;
  if (const ScoreResult* r = recall(key)) {
    order1used = r->order1used;
    ws.pending_fill = true;
    if (fill) fill_pending(ctx, smat);
    return;
  }

  // The search in structure-2 order is the whole of a call that does not try
  // structure-1 order: when such a call scored this alignment, its result
  // stands for that search, superposition included.
  const bool order2_known = tryorder1 == 1 && recall(scoretype * 16 + mode) != nullptr;

  // 4.
  const double d0 = par.d0[0];
  double d0search = std::min(d0, 8.0);
  if (d0search < 3.0) d0search = 4.5;

  // 5. search in structure-2 order
  double sc, rmsd;
  int ncontact;
  if (!order2_known) {
    tmsearch(ctx, d0, d0search, n, ws.m1a.data(), ws.r1a.data(), ws.p2a.data(), ws.r2a.data(), sc,
             rmsd, mode, scoretype, ncontact, /*want_rmsd=*/false);
    score = n * sc / par.d0[1];
  }

  // 6. and in structure-1 order; the first result stays unless the second is
  // better by more than 1e-6
  bool order1_won = false;
  if (tryorder1 == 1) {
    const int nb = collect_by_structure1(ctx, invmap);
    // An order-preserving map lists the same pairs in both orders: the search
    // would repeat itself exactly, and its equal score never replaces the first.
    const bool same_order = nb == n &&
                            std::equal(ws.r1b.begin(), ws.r1b.begin() + n, ws.r1a.begin()) &&
                            std::equal(ws.r2b.begin(), ws.r2b.begin() + n, ws.r2a.begin());
    if (!same_order) {
      tmsearch(ctx, d0, d0search, nb, ws.m1b.data(), ws.r1b.data(), ws.p2b.data(), ws.r2b.data(),
               sc, rmsd, mode, scoretype, ncontact, /*want_rmsd=*/false);
      const double score2 = nb * sc / par.d0[1];
      if (score2 - score > 1e-6) {
        score = score2;
        order1used = 1;
        order1_won = true;
        std::copy_n(ws.p1b.begin(), nb, ws.p1a.begin());
        std::copy_n(ws.m1b.begin(), nb, ws.m1a.begin());
        std::copy_n(ws.p2b.begin(), nb, ws.p2a.begin());
        std::copy_n(ws.r1b.begin(), nb, ws.r1a.begin());
        std::copy_n(ws.r2b.begin(), nb, ws.r2a.begin());
        n = nb;
      }
    }
  }

  // 7.-10. the search's superposition as a rotation and translation, and the
  // matrix under it (matched pairs within contcf, contact weighting for the
  // TX-score)
  if (!order2_known || order1_won) superpose(ws.p1a.data(), ws.m1a.data(), n, ws.su, ws.st);
  if (memo.enabled()) {
    ScoreResult r{score, order1used, {}, {}};
    std::copy(&ws.su[0][0], &ws.su[0][0] + 9, &r.u[0][0]);
    std::copy(ws.st, ws.st + 3, r.t);
    memo.scores.insert(invmap + 1, l2, key, r);
  }
  ws.pending_fill = true;
  if (fill) fill_pending(ctx, smat);
}

void get_fcol_4s(int i, int j, const FlagMatrix& pairflag, double& fcol, int& nmatch,
                 const Structure& a, const Structure& b) {
  fcol = 0.0;
  nmatch = 0;
  const int na = a.contnum[i];
  const int nb = b.contnum[j];
  if (pairflag(i, j) < 0 || na == 0 || nb == 0) return;
  const int* pa = a.partners(i);
  const int* pb = b.partners(j);

  // partners of i that meet a matched partner of j
  int ca = 0;
  for (int m = 1; m <= na; ++m) {
    const int p = pa[m];
    for (int q = 1; q <= nb; ++q) {
      if (pairflag(p, pb[q]) == 1) {
        ++ca;
        break;
      }
    }
  }
  fcol = static_cast<double>(ca) / static_cast<double>(na);

  // partners of j that meet a matched partner of i
  int cb = 0;
  for (int q = 1; q <= nb; ++q) {
    const int r = pb[q];
    for (int m = 1; m <= na; ++m) {
      if (pairflag(pa[m], r) == 1) {
        ++cb;
        break;
      }
    }
  }
  fcol = 0.5 * (static_cast<double>(cb) / static_cast<double>(nb) +
                static_cast<double>(ca) / static_cast<double>(na));
  nmatch = cb;
}

void get_fcol_4s_old(int i, int j, const FlagMatrix& pairflag, double& fcol, int& nmatch,
                     const Structure& s1, const Structure& s2) {
  fcol = 0.0;
  nmatch = 0;
  const int na = s1.contnum[i];
  const int nb = s2.contnum[j];
  if (pairflag(i, j) < 0 || na == 0 || nb == 0) return;
  const int* pa = s1.partners(i);
  const int* pb = s2.partners(j);
  int m = 0;
  for (int x = 1; x <= na; ++x)
    for (int y = 1; y <= nb; ++y)
      if (pairflag(pa[x], pb[y]) > 0) ++m;
  fcol = 0.5 * (static_cast<double>(m) / static_cast<double>(nb) +
                static_cast<double>(m) / static_cast<double>(na));
  nmatch = m;
}

void cal_col(Context& ctx, const int* list1, const int* list2, int n, int& count) {
  ScoringWorkspace& ws = ctx.ws;
  const Structure& s1 = ctx.s1;
  const Structure& s2 = ctx.s2;
  int* pos1 = ws.pos1.data();
  int* pos2 = ws.pos2.data();
  std::fill(ws.pos1.begin(), ws.pos1.end(), -1);
  std::fill(ws.pos2.begin(), ws.pos2.end(), -2);
  for (int k = 0; k < n; ++k) {
    pos1[list1[k]] = k;
    pos2[list2[k]] = k;
  }
  // Pair k is matched to itself, so its conserved contacts are get_fcol's count.
  int total = 0;
  for (int k = 0; k < n; ++k) {
    double fcol = 0.0;
    int nmatch = 0;
    get_fcol(k, pos1, pos2, list1, list2, s1, s2, ws.marks, fcol, nmatch);
    total += nmatch;
  }
  count = total / 2;
}

}  // namespace tarvix
