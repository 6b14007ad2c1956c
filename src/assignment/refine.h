// Non-sequential refinement: alternate the score matrix of the current
// alignment's best superposition with a maximum-score one-to-one re-pairing of
// each interface side, keeping the new pairs that lie within d8.
#pragma once

#include <vector>

#include "assignment/lsap.h"
#include "scoring/scoring.h"

namespace tarvix {

// Buffers of the refinement, built once per comparison (n = max(L1, L2)).
// The two score matrices are lent by the caller: the full matrix of the
// latest score and the side block handed to the solver.
struct RefineWorkspace {
  explicit RefineWorkspace(int n);
  LsapWorkspace lsap;
  std::vector<int> m1, m2, comb;
  std::vector<int> from;  // the map a step started from
};

// The last five scores of a refinement, for its cycle test.
class ScoreHistory {
 public:
  // True when s is within 1e-6 of one of the scores of iterations 1..id-1 of
  // the current pass (at most five back): the pass has reached a fixed point
  // or a cycle. Otherwise s becomes the latest score and false is returned.
  bool repeats(double s, int id);

 private:
  double h_[5] = {-1.0, -2.0, -3.0, -4.0, -5.0};
};

// Number of entries 1..n of map above 0.
int get_alnlen(const int* map, int n);

// Refines the working map `start` (overwritten every iteration) for at most
// niter assignment steps. Raises best and writes bestmap and order1used when
// a score beats best by more than 1e-6.
void iter_lsap(Context& ctx, RefineWorkspace& rw, ScoreMatrix& full, ScoreMatrix& block,
               double& best, int scoretype, int speedmode, int* start, int* bestmap, int l1,
               int l2, int n, int k1, int k2, int niter, int& order1used);

}  // namespace tarvix
