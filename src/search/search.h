// The alignment search of one chain order: initial alignments, iterated
// dynamic programming, and (non-sequential mode) assignment refinement.
#pragma once

#include <vector>

#include "assignment/refine.h"
#include "scoring/memo.h"
#include "scoring/scoring.h"
#include "search/dp.h"

namespace tarvix {

// Every buffer of one comparison's search, built once for structures of l1
// and l2 residues and reused by every round.
struct SearchWorkspace {
  SearchWorkspace(int l1, int l2);
  int n;  // max(l1, l2): dimension of the score matrices
  ScoringWorkspace scoring;
  DpTables dpt;
  RefineWorkspace refine;
  ScoreMatrix work, saved;   // iter_search; also get_initial_from_ssc and the refinement
  // alignment maps, 1-based by structure-2 residue (or structure-1 for the
  // swapped starts), n + 1 entries
  std::vector<int> x, y, xs, ys, p, wmap, map, spare1, spare2;
  // get_gl and the generators' pair lists and position maps
  ZeroVector<int> res1, res2;
  std::vector<int> alnpos1, alnpos2;
  ZeroVector<Coord> pa, pb;
  ZeroVector<double> d2;
  ZeroVector<double> colbuf;  // one score column of a generator, slots 1..
  // Three more sets of get_gl's buffers and a map each, for scoring four
  // maps at once (the first set is the one above, with map).
  struct Lane {
    explicit Lane(int n);
    ZeroVector<int> res1, res2;
    ZeroVector<double> d2;
    ZeroVector<Coord> pa, pb;
    std::vector<int> map, spare1, spare2;
  };
  std::vector<Lane> lanes;
  // The maps the fragment starts have aligned under, within one call.
  SequenceMap<char> starts_aligned{64, 1 << 10};
};

// The shifts of the gapless threadings of two first chains of k1 and k2
// residues: first..last, none when count <= 0. idel is the least overlap.
struct ThreadingShifts {
  int idel, first, last;
  int count() const { return last - first + 1; }
};
ThreadingShifts threading_shifts(int k1, int k2);

// The fragment starts over two first chains of k1 and k2 residues: fragments
// of len residues start at 1, 1 + stepa, ... (na of them) in A and at
// 1, 1 + stepb, ... (nb) in B; a fragment pair needs more than minmatch
// positions of equal secondary structure.
struct FragmentGrid {
  int len, stepa, stepb, minmatch, na, nb;
};
FragmentGrid fragment_grid(int k1, int k2);

// Structure-1-indexed map (source[i] = residue of structure 2) to the usual
// structure-2-indexed form; of two entries naming one residue the later stays.
void rev_invmap(const int* source, int* target, int l1, int l2);

// Scores a map of A against B by superposing its pairs, then two pruned
// re-superpositions; keeps the best and, when pruning wins, replaces map by
// the pruned pairs. contact_flag 1 weights each pair by its contact overlap.
double get_gl(Context& ctx, SearchWorkspace& ws, int lena, int lenb, int* map, const Structure& a,
              const Structure& b, int contact_flag);

// get_gl without contact weighting for count (1 to 4) maps at once: score[k]
// is get_gl's score of maps[k], which it changes as get_gl would. Each map
// uses its own buffers (the first map those of get_gl).
void get_gl_plain(Context& ctx, SearchWorkspace& ws, int lenb, int* const* maps, int count,
                  const Structure& a, const Structure& b, double* score);

// Gapless threadings of the first chains: x and y (indexed by B's residues)
// with their scores.
void get_initial(Context& ctx, SearchWorkspace& ws, int contact_flag, const Structure& a,
                 const Structure& b, int lena, int lenb, int* x, int* y, double& sx, double& sy);

// Fragment starts paired by secondary structure; returns the best score (-1.0 if none).
double get_initial3(Context& ctx, SearchWorkspace& ws, int lena, int lenb, int* out,
                    int contact_flag);

// Start from secondary-structure agreement plus the distances under bestmap.
void get_initial_from_ssc(Context& ctx, SearchWorkspace& ws, int lena, int lenb,
                          const int* bestmap, int* out, double g, double h);

// Refines `start` by passes of dp + scoring; raises best and writes bestmap
// on improvement (start then receives the improved map too).
void iter_search(Context& ctx, SearchWorkspace& ws, double& best, double fraction, int scoretype,
                 int fast, int niter, const double* gaps, int npass, int* bestmap, int* start,
                 int l1, int l2);

struct SearchResult {
  double tm = 0.0;      // best score of the search
  int initial = -1;     // code of the start whose refinement last improved it
  int order1used = 0;   // 1: list the pairs in structure-1 order
};

// The whole search of the current chain order; invmap[1..L2] receives the best map.
SearchResult super_align(Context& ctx, SearchWorkspace& ws, int* invmap, int scoretype, int seqmode,
                         int speedmode);

}  // namespace tarvix
