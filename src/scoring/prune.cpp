// Judging an alignment by the plain least-squares fit of all its pairs:
// pruning a candidate alignment to the pairs within d8, and the score matrix
// of that fit with a slightly widened distance scale.

#include <algorithm>
#include <cmath>

#include "scoring/scoring.h"

namespace tarvix {

namespace {

// Superposes the structure-1 points of the pairs of map (j = 1..n) onto their
// structure-2 points.
void fit_map(Context& ctx, const int* map, int n, double u[3][3], double t[3]) {
  ScoringWorkspace& ws = ctx.ws;
  int np = 0;
  for (int j = 1; j <= n; ++j) {
    const int i = map[j];
    if (i < 1) continue;
    ws.q1[np] = ctx.s1.ca[i];
    ws.q2[np] = ctx.s2.ca[j];
    ++np;
  }
  superpose(ws.q1.data(), ws.q2.data(), np, u, t);
}

}  // namespace

void remove_distant_pairs(Context& ctx, const int* newmap, int* curmap, int n) {
  double u[3][3], t[3];
  fit_map(ctx, curmap, n, u, t);
  for (int j = 1; j <= n; ++j) curmap[j] = -1;
  const double d8 = ctx.par.d8;
  for (int j = 1; j <= n; ++j) {
    const int i = newmap[j];
    if (i < 1) continue;
    const Coord p = transform(u, t, ctx.s1.ca[i]);
    if (std::sqrt(dist2(p, ctx.s2.ca[j])) <= d8) curmap[j] = i;
  }
}

void get_rms_score(Context& ctx, ScoreMatrix& smat, const int* invmap, int l1, int l2) {
  double u[3][3], t[3];
  fit_map(ctx, invmap, l2, u, t);
  const double dd = std::max(ctx.par.d0[0] + 1.5, ctx.par.d0min);
  fill_pair_matrix(ctx.ws, ctx.s1, ctx.s2, l1, l2, u, t, dd * dd, 0.0, false, smat,
                   /*cross=*/false);
}

}  // namespace tarvix
