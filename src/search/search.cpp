#include "search/search.h"

#include <algorithm>
#include <stdexcept>

#include "scoring/seeds.h"

namespace tarvix {
namespace {

void reset_map(int* map, int n) { std::fill_n(map + 1, n, -1); }
void copy_map(const int* from, int* to, int n) { std::copy_n(from + 1, n, to + 1); }

// The sides of a score matrix of a (rows) against b (columns) filled by
// PairColumns (see DpSides).
DpSides matrix_sides(const ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena,
                     int lenb) {
  int k1, k2;
  if (!split_sides(ws, a, b, lena, lenb, k1, k2)) return {};
  return {k1, k2};
}

// The columns of a generator's score matrix, made as dp asks for them.
class StreamedColumns : public ScoreColumns {
 public:
  StreamedColumns(PairColumns& cols, double* buf) : cols_(cols), buf_(buf) {}
  const double* column(int j) override {
    cols_.column(j, buf_);
    return buf_ + 1;
  }

 private:
  PairColumns& cols_;
  double* buf_;
};

// Superposes the pairs of map (A onto B) and aligns A and B by dp over the
// pair terms of every same-side residue pair under it (scale s0sq), weighted
// by contact overlap when contact_flag is 1; map receives the alignment.
void align_under_map(Context& ctx, SearchWorkspace& ws, const Structure& a, const Structure& b,
                     int lena, int lenb, int* map, double s0sq, int contact_flag) {
  int n = 0;
  for (int j = 1; j <= lenb; ++j) {
    if (map[j] > 0) {
      ws.pa[n] = a.ca[map[j]];
      ws.pb[n] = b.ca[j];
      ++n;
    }
  }
  double u[3][3], t[3];
  superpose(ws.pa.data(), ws.pb.data(), n, u, t);
  // The refinements' work matrix holds nothing that outlives a refinement:
  // it keeps the squared distances meanwhile.
  PairColumns cols(ctx.ws, a, b, lena, lenb, u, t, s0sq, ctx.par.contcf[1], contact_flag == 1,
                   /*streamed=*/true, &ws.work);
  const DpSides sides = matrix_sides(ctx.ws, a, b, lena, lenb);
  if (sides.k1 > 0) cols.skip_cross();  // dp does not read them
  StreamedColumns stream(cols, ws.colbuf.data());
  dp(ws.n, stream, 0.0, lena, lenb, map, ws.dpt, sides);
}

double search_scale_sq(const ScoringParams& par) {
  const double s0 = std::max(par.d0[0] + 1.5, par.d0min);
  return s0 * s0;
}

}  // namespace

SearchWorkspace::SearchWorkspace(int l1, int l2)
    : n(std::max(l1, l2)),
      scoring(l1, l2),
      dpt(std::max(l1, l2)),
      refine(std::max(l1, l2)),
      work(n, n),
      saved(n, n),
      x(n + 1, -1), y(n + 1, -1), xs(n + 1, -1), ys(n + 1, -1), p(n + 1, -1), wmap(n + 1, -1),
      map(n + 1, -1), spare1(n + 1, -1), spare2(n + 1, -1),
      res1(n), res2(n), alnpos1(n + 1, -1), alnpos2(n + 1, -2), pa(n), pb(n), d2(n),
      colbuf(n + 1), lanes(3, Lane(n)) {}

SearchWorkspace::Lane::Lane(int n)
    : res1(n), res2(n), d2(n), pa(n), pb(n), map(n + 1, -1), spare1(n + 1, -1), spare2(n + 1, -1) {}

ThreadingShifts threading_shifts(int k1, int k2) {
  const int idel = std::max(5, static_cast<int>(std::min(k1, k2) * 0.4347826086956522));
  return {idel, idel - k2, k1 - idel};
}

FragmentGrid fragment_grid(int k1, int k2) {
  FragmentGrid f;
  f.len = std::max(5, std::min(k1, k2) / 20);
  f.stepa = std::min(f.len, std::max(1, k1 / 20 - 2));
  f.stepb = std::min(f.len, std::max(1, k2 / 20 - 2));
  f.minmatch = std::max(2, f.len / 2);
  f.na = (k1 - f.len + f.stepa) / f.stepa;
  f.nb = (k2 - f.len + f.stepb) / f.stepb;
  return f;
}

void rev_invmap(const int* source, int* target, int l1, int l2) {
  reset_map(target, l2);
  for (int i = 1; i <= l1; ++i)
    if (source[i] > 0) target[source[i]] = i;
}

namespace {

// The pairs of one map that get_gl scores, with their buffers: the map's
// pairs (res1, res2, in structure-2 order), the pairs being fitted (pa, pb),
// the squared distances under the latest fit (d2) and the two pruned maps.
struct GlLane {
  int* res1;
  int* res2;
  double* d2;
  Coord* pa;
  Coord* pb;
  int* spare1;
  int* spare2;
  int n = 0;        // pairs of the map
  int m = 0;        // pairs being fitted
  double u[3][3] = {}, t[3] = {};
};

GlLane lane_of(SearchWorkspace& ws, int k) {
  if (k == 0)
    return {ws.res1.data(), ws.res2.data(), ws.d2.data(), ws.pa.data(), ws.pb.data(),
            ws.spare1.data(), ws.spare2.data()};
  SearchWorkspace::Lane& l = ws.lanes[static_cast<size_t>(k - 1)];
  return {l.res1.data(), l.res2.data(), l.d2.data(), l.pa.data(), l.pb.data(), l.spare1.data(),
          l.spare2.data()};
}

// The pairs of map into the lane, all of them to be fitted.
void collect_pairs(GlLane& g, const int* map, int lenb, const Structure& a, const Structure& b) {
  int n = 0;
  for (int j = 1; j <= lenb; ++j) {
    if (map[j] > 0) {
      g.res1[n] = map[j];
      g.res2[n] = j;
      ++n;
    }
  }
  g.n = n;
  for (int k = 0; k < n; ++k) {
    g.pa[k] = a.ca[g.res1[k]];
    g.pb[k] = b.ca[g.res2[k]];
  }
  g.m = n;
}

// The squared distances of all n pairs under the lane's fit.
void pair_d2(GlLane& g, const Structure& a, const Structure& b) {
  for (int k = 0; k < g.n; ++k)
    g.d2[k] = dist2(transform(g.u, g.t, a.ca[g.res1[k]]), b.ca[g.res2[k]]);
}

// The plain score of all pairs under the lane's fit (pair_d2 first).
double plain_score(const GlLane& g, double d0sq) {
  double sum = 0.0;
  for (int k = 0; k < g.n; ++k) sum += 1.0 / (g.d2[k] / d0sq + 1.0);
  return sum;
}

// Takes the pairs within cut (widened until 3 are taken when n > 3) into
// spare, with their points to be fitted.
void select_pairs(GlLane& g, double cut, int* spare, int lenb, const Structure& a,
                  const Structure& b) {
  // Raising the cutoff by 0.5 until three pairs are taken stops at the
  // first step that reaches the third smallest distance. When three pairs lie
  // within cut already, that is cut itself.
  auto take = [&](double within) {
    reset_map(spare, lenb);
    int m = 0;
    for (int k = 0; k < g.n; ++k) {
      if (g.d2[k] <= within) {
        spare[g.res2[k]] = g.res1[k];
        g.pa[m] = a.ca[g.res1[k]];
        g.pb[m] = b.ca[g.res2[k]];
        ++m;
      }
    }
    g.m = m;
  };
  take(cut);
  if (g.n > 3 && g.m < 3) take(widen_cutoff(cut, third_smallest(g.d2, g.n), true));
}

// Fits the lanes' pairs: four at a time, or one by one.
void fit_lanes(GlLane* g, int count) {
  if (count == 1) {
    superpose(g[0].pa, g[0].pb, g[0].m, g[0].u, g[0].t);
    return;
  }
  const Coord* x[4];
  const Coord* y[4];
  int n[4];
  for (int k = 0; k < 4; ++k) {
    const GlLane& l = g[std::min(k, count - 1)];
    x[k] = l.pa;
    y[k] = l.pb;
    n[k] = k < count ? l.m : 0;
  }
  double u[4][3][3], t[4][3];
  superpose4(x, y, n, u, t);
  for (int k = 0; k < count; ++k) {
    std::copy(&u[k][0][0], &u[k][0][0] + 9, &g[k].u[0][0]);
    std::copy(t[k], t[k] + 3, g[k].t);
  }
}

// The best of the three scores, the map replaced by the pruned pairs that won.
double keep_best(const double s[3], const GlLane& g, int* map, int lenb) {
  double score = s[0];
  if (s[1] > score) {
    score = s[1];
    copy_map(g.spare1, map, lenb);
  }
  if (s[2] > score) {
    score = s[2];
    copy_map(g.spare2, map, lenb);
  }
  return score;
}

}  // namespace

double get_gl(Context& ctx, SearchWorkspace& ws, int lena, int lenb, int* map, const Structure& a,
              const Structure& b, int contact_flag) {
  if (contact_flag != 1) {
    double g;
    get_gl_plain(ctx, ws, lenb, &map, 1, a, b, &g);
    return g;
  }
  const double d0 = ctx.par.d0[0];
  const double d0sq = d0 * d0;
  const double contcut = ctx.par.contcf[1];
  int* pos1 = ws.alnpos1.data();
  int* pos2 = ws.alnpos2.data();
  GlLane g = lane_of(ws, 0);
  collect_pairs(g, map, lenb, a, b);
  // Scores all pairs under the lane's fit, each weighted by its contact
  // overlap (the position maps serve that count).
  auto score_all = [&]() {
    init_ali(pos1, pos2, lena, lenb);
    pair_d2(g, a, b);
    for (int k = 0; k < g.n; ++k) {
      if (g.d2[k] <= contcut) {
        pos1[g.res1[k]] = k;
        pos2[g.res2[k]] = k;
      }
    }
    double sum = 0.0;
    for (int k = 0; k < g.n; ++k) {
      double fcol = 0.0;
      int nmatch = 0;
      get_fcol(k, pos1, pos2, g.res1, g.res2, a, b, ctx.ws.marks, fcol, nmatch);
      sum += (fcol + 0.01) / (g.d2[k] / d0sq + 1.0);
    }
    return sum;
  };
  double s[3];
  fit_lanes(&g, 1);
  s[0] = score_all();
  select_pairs(g, ctx.par.d00[1], g.spare1, lenb, a, b);
  fit_lanes(&g, 1);
  s[1] = score_all();
  select_pairs(g, ctx.par.d00[1] + 1.0, g.spare2, lenb, a, b);
  fit_lanes(&g, 1);
  s[2] = score_all();
  return keep_best(s, g, map, lenb);
}

void get_gl_plain(Context& ctx, SearchWorkspace& ws, int lenb, int* const* maps, int count,
                  const Structure& a, const Structure& b, double* score) {
  if (count < 1 || count > 4) throw std::invalid_argument("get_gl_plain: one to four maps");
  const double d0 = ctx.par.d0[0];
  const double d0sq = d0 * d0;
  GlLane g[4];
  for (int k = 0; k < count; ++k) {
    g[k] = lane_of(ws, k);
    collect_pairs(g[k], maps[k], lenb, a, b);
  }
  double s[4][3];
  for (int stage = 0; stage < 3; ++stage) {
    if (stage > 0) {
      const double cut = stage == 1 ? ctx.par.d00[1] : ctx.par.d00[1] + 1.0;
      for (int k = 0; k < count; ++k)
        select_pairs(g[k], cut, stage == 1 ? g[k].spare1 : g[k].spare2, lenb, a, b);
    }
    fit_lanes(g, count);
    for (int k = 0; k < count; ++k) {
      pair_d2(g[k], a, b);
      s[k][stage] = plain_score(g[k], d0sq);
    }
  }
  for (int k = 0; k < count; ++k) score[k] = keep_best(s[k], g[k], maps[k], lenb);
}

void get_initial(Context& ctx, SearchWorkspace& ws, int contact_flag, const Structure& a,
                 const Structure& b, int lena, int lenb, int* x, int* y, double& sx, double& sy) {
  const double s0sq = search_scale_sq(ctx.par);
  sx = 0.0;
  sy = 0.0;
  reset_map(x, lenb);
  reset_map(y, lenb);
  const int k1 = a.chains[1];
  const int k2 = b.chains[1];
  const ThreadingShifts shifts = threading_shifts(k1, k2);
  const int idel = shifts.idel;
  if (shifts.count() <= 0) return;
  // The plain scores of the threadings depend on nothing else: four at a
  // time, then taken in order.
  int* maps[4];
  for (int k = 0; k < 4; ++k) maps[k] = k == 0 ? ws.map.data() : ws.lanes[k - 1].map.data();
  for (int first = shifts.first; first <= shifts.last; first += 4) {
    const int count = std::min(4, shifts.last - first + 1);
    double gs[4];
    for (int k = 0; k < count; ++k) {
      const int s = first + k;
      int* map = maps[k];
      reset_map(map, lenb);
      for (int j = 1; j <= k2; ++j)
        if (j + s >= 1 && j + s <= k1) map[j] = j + s;
    }
    get_gl_plain(ctx, ws, lenb, maps, count, a, b, gs);
    for (int k = 0; k < count; ++k) {
      int* map = maps[k];
      const double g = gs[k];
      if (g <= 0.95 * sx) continue;
      align_under_map(ctx, ws, a, b, lena, lenb, map, s0sq, contact_flag);
      if (g > sx) {
        sx = g;
        copy_map(map, x, lenb);
      }
      if (get_alnlen(map, lenb) > idel) {
        const double g2 = get_gl(ctx, ws, lena, lenb, map, a, b, contact_flag);
        if (g2 > sy) {
          sy = g2;
          copy_map(map, y, lenb);
        }
      }
    }
  }
}

double get_initial3(Context& ctx, SearchWorkspace& ws, int lena, int lenb, int* out,
                    int contact_flag) {
  const Structure& a = ctx.s1;
  const Structure& b = ctx.s2;
  const double s0sq = search_scale_sq(ctx.par);
  const int k1 = a.chains[1];
  const int k2 = b.chains[1];
  const FragmentGrid grid = fragment_grid(k1, k2);
  const int len = grid.len;
  const double fragcut = 0.5 * len;
  const double stopcut = 0.9 * std::min(lena, lenb);
  double best = -1.0;
  reset_map(out, lenb);
  ws.starts_aligned.clear();
  // The plain scores of the fragment starts depend on nothing else: the
  // starts that pass the secondary-structure test are scored four at a time,
  // then taken in order (the ones after a stop are scored for nothing).
  int* maps[4];
  for (int k = 0; k < 4; ++k) maps[k] = k == 0 ? ws.map.data() : ws.lanes[k - 1].map.data();
  int count = 0;
  auto take_group = [&]() {
    double gs[4];
    get_gl_plain(ctx, ws, lenb, maps, count, a, b, gs);
    const int n = count;
    count = 0;
    for (int k = 0; k < n; ++k) {
      int* map = maps[k];
      if (!(gs[k] > fragcut)) continue;
      // A map aligned under before gives the same alignment and score again,
      // which cannot beat the best (only a higher one replaces it).
      bool fresh = true;
      if (ws.starts_aligned.find_or_insert(map + 1, lenb, 0, 0, fresh) >= 0 && !fresh) continue;
      align_under_map(ctx, ws, a, b, lena, lenb, map, s0sq, contact_flag);
      const double g2 = get_gl(ctx, ws, lena, lenb, map, a, b, contact_flag);
      if (g2 > best) {
        best = g2;
        copy_map(map, out, lenb);
        if (best > stopcut) return true;
      }
    }
    return false;
  };
  for (int ia = 0; ia < grid.na; ++ia) {
    const int i1 = 1 + ia * grid.stepa;
    for (int ib = 0; ib < grid.nb; ++ib) {
      const int j1 = 1 + ib * grid.stepb;
      int* map = maps[count];
      reset_map(map, lenb);
      int same = 0;
      for (int t = 0; t < len; ++t) {
        map[j1 + t] = i1 + t;
        if (a.sec[i1 + t] == b.sec[j1 + t]) ++same;
      }
      if (same <= grid.minmatch) continue;
      if (++count == 4 && take_group()) return best;
    }
  }
  if (count > 0) take_group();
  return best;
}

void get_initial_from_ssc(Context& ctx, SearchWorkspace& ws, int lena, int lenb,
                          const int* bestmap, int* out, double g, double h) {
  const Structure& a = ctx.s1;
  const Structure& b = ctx.s2;
  const int k1 = a.chains[1];
  const int k2 = b.chains[1];
  ScoreMatrix& r = ws.saved;
  ScoreMatrix& s = ws.work;
  get_rms_score(ctx, r, bestmap, lena, lenb);
  auto side = [&](int i0, int j0, int rows, int cols, int* m) {
    for (int j = 1; j <= cols; ++j)
      for (int i = 1; i <= rows; ++i)
        s(i, j) = h * r(i0 + i, j0 + j) + (a.sec[i0 + i] == b.sec[j0 + j] ? g : 0.0);
    dp(ws.n, s, -1.0, rows, cols, m, ws.dpt);
  };
  int* m1 = ws.spare1.data();
  int* m2 = ws.spare2.data();
  side(0, 0, k1, k2, m1);
  const int r1 = lena - k1;
  const int r2 = lenb - k2;
  side(k1, k2, r1, r2, m2);
  reset_map(out, lenb);
  for (int j = 1; j <= k2; ++j)
    if (m1[j] > 0) out[j] = m1[j];
  for (int j = 1; j <= r2; ++j)
    if (m2[j] > 0) out[k2 + j] = k1 + m2[j];
}

void iter_search(Context& ctx, SearchWorkspace& ws, double& best, double fraction, int scoretype,
                 int fast, int niter, const double* gaps, int npass, int* bestmap, int* start,
                 int l1, int l2) {
  int* wmap = ws.wmap.data();
  copy_map(start, wmap, l2);
  double s0 = 0.0;
  int order1used = 0;
  // Below 3 pairs the score leaves the matrix unwritten: start the passes from
  // zeros then, as a freshly made matrix would.
  // Score matrices are filled only where something reads them (fill_pending):
  // a start that is not refined needs none, a pass's next dp reads the latest,
  // and the next pass starts from the pass's best (saved) or, when no
  // evaluation of the pass beat -1, from the latest. The last pass's best is
  // read by nobody.
  // A filled matrix splits into the sides, where dp leaves the cells across
  // them alone; the zeros do not.
  const DpSides sides = matrix_sides(ctx.ws, ctx.s1, ctx.s2, l1, l2);
  bool saved_sided = true, work_sided = true;
  if (get_alnlen(wmap, l2) < 3) {
    ws.saved.fill_block(l1, l2, 0.0);
    saved_sided = false;
  }
  get_score(ctx, wmap, s0, ws.saved, scoretype, 0, fast, order1used, /*fill=*/false);
  if (s0 - best > 1e-6) {
    best = s0;
    copy_map(wmap, bestmap, l2);
    copy_map(wmap, start, l2);
  }
  if (!(fraction < 0.0 || s0 - fraction * best > 1e-6)) return;
  saved_sided = fill_pending(ctx, ws.saved) || saved_sided;
  ScoreHistory history;  // kept across the passes
  bool copyback = true;
  for (int g = 0; g < npass; ++g) {
    const double gap = gaps[g];
    const bool last_pass = g + 1 == npass;
    double passbest = -1.0;
    if (copyback) {
      ws.work.copy_block(ws.saved, l1, l2);
      work_sided = saved_sided;
      copyback = false;
    }
    for (int id = 1; id <= niter; ++id) {
      dp(ws.n, ws.work, gap, l1, l2, wmap, ws.dpt, work_sided ? sides : DpSides{});
      double s = 0.0;
      get_score(ctx, wmap, s, ws.work, scoretype, 0, fast, order1used, /*fill=*/false);
      if (s - best > 1e-6) {
        best = s;
        copy_map(wmap, bestmap, l2);
        copy_map(wmap, start, l2);
      }
      if (s > passbest) {
        passbest = s;
        if (!last_pass) {
          work_sided = fill_pending(ctx, ws.work) || work_sided;
          ws.saved.copy_block(ws.work, l1, l2);
          saved_sided = work_sided;
          copyback = true;
        }
      }
      if (history.repeats(s, id)) break;
      if (id < niter) work_sided = fill_pending(ctx, ws.work) || work_sided;
    }
    if (!last_pass && !copyback) work_sided = fill_pending(ctx, ws.work) || work_sided;
  }
}

SearchResult super_align(Context& ctx, SearchWorkspace& ws, int* invmap, int scoretype, int seqmode,
                         int speedmode) {
  const Structure& s1 = ctx.s1;
  const Structure& s2 = ctx.s2;
  const int l1 = s1.len;
  const int l2 = s2.len;
  const int k1 = s1.chains[1];
  const int k2 = s2.chains[1];
  const bool nonseq = seqmode == 0;
  // The structures keep their chain order for the whole search: scores of
  // alignments met again can be reused until it ends.
  struct MemoScope {
    SearchMemo& m;
    explicit MemoScope(SearchMemo& memo) : m(memo) { m.enable(); }
    ~MemoScope() { m.disable(); }
  } memo_scope(ctx.ws.search_memo);
  // So do the contact partners of every residue: their sets serve the fills.
  struct PartnerScope {
    PartnerSets* p;
    PartnerScope(PartnerSets* sets, const Structure& a, const Structure& b) : p(sets) {
      p[0].make(a);
      p[1].make(b);
    }
    ~PartnerScope() {
      p[0].clear();
      p[1].clear();
    }
  } partner_scope(ctx.ws.partner_sets, s1, s2);
  SearchResult r;
  double& tm = r.tm;
  double remembered = tm;
  auto note = [&](int code) {
    if (tm - remembered > 1e-6) {
      remembered = tm;
      r.initial = code;
    }
  };
  static constexpr double kMainGaps[2] = {-0.6, 0.0};
  static constexpr double kNoGap[1] = {0.0};
  auto refine = [&](double& best, double fraction, int type, int niter, const double* gaps,
                    int npass, int* out, int* start) {
    iter_search(ctx, ws, best, fraction, type, speedmode, niter, gaps, npass, out, start, l1, l2);
  };
  auto lsap = [&](int* start, int niter) {
    iter_lsap(ctx, ws.refine, ws.work, ws.saved, tm, scoretype, speedmode, start, invmap, l1, l2,
              ws.n, k1, k2, niter, r.order1used);
  };
  // A later start: one pass without gap penalty, then in non-sequential mode
  // the assignment refinement from what the pass left in start.
  auto refine_start = [&](int* start, double fraction, int niter, int code, int lsap_iters) {
    refine(tm, fraction, scoretype, niter, kNoGap, 1, invmap, start);
    note(code);
    if (nonseq) {
      lsap(start, lsap_iters);
      note(code);
    }
  };
  int* x = ws.x.data();
  int* y = ws.y.data();
  int* xs = ws.xs.data();
  int* ys = ws.ys.data();
  int* p = ws.p.data();

  double sx = 0.0, sy = 0.0, sxs = 0.0, sys = 0.0;
  get_initial(ctx, ws, 0, s1, s2, l1, l2, x, y, sx, sy);
  get_initial(ctx, ws, 0, s2, s1, l2, l1, xs, ys, sxs, sys);
  if (!(sy >= sys)) rev_invmap(ys, y, l1, l2);
  if (!(sx >= sxs)) rev_invmap(xs, x, l1, l2);
  int* backup_y = ys;
  int* backup_x = xs;
  copy_map(y, backup_y, l2);
  copy_map(x, backup_x, l2);

  refine(tm, -0.1, scoretype, 30, kMainGaps, 2, invmap, y);
  note(12);
  refine(tm, 0.2, scoretype, 30, kMainGaps, 2, invmap, x);
  note(11);
  if (nonseq) {
    lsap(y, 3);
    note(12);
    lsap(x, 3);
    note(11);
  }
  if (scoretype == 1) {
    // TM-score pre-refinement of both threadings; P starts as the backup of Y
    // so that it is defined when neither refinement scores.
    double pre = 0.0;
    copy_map(backup_y, p, l2);
    refine(pre, -0.1, 0, 3, kNoGap, 1, p, backup_y);
    refine(pre, 0.2, 0, 3, kNoGap, 1, p, backup_x);
    refine_start(p, -0.1, 3, 10, 3);
  }
  get_initial_from_ssc(ctx, ws, l1, l2, invmap, p, 1.0, 0.01);
  refine_start(p, 0.2, 30, 2, 3);
  get_initial3(ctx, ws, l1, l2, x, scoretype);
  refine_start(x, 0.2, 30, 3, 5);
  get_initial_from_ssc(ctx, ws, l1, l2, invmap, p, 0.5, 1.0);
  refine_start(p, 0.2, 30, 4, 3);
  if (!nonseq) return r;
  copy_map(invmap, p, l2);
  lsap(p, 20);
  return r;
}

}  // namespace tarvix
