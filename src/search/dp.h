// Order-preserving alignment of structure 1 against structure 2 by dynamic
// programming over a residue-pair score matrix.
#pragma once

#include <cstdint>
#include <vector>

#include "scoring/matrix.h"

namespace tarvix {

// Work tables of dp: the best path value into each cell and whether that path
// arrives diagonally. Both hold (N+1) x (N+1) cells, indices 0..N in each
// dimension. One comparison builds them once for its N and reuses them in
// every call; dp itself never allocates.
struct DpTables {
  explicit DpTables(int n);
  int capacity() const { return n_; }

  std::vector<double> value;
  std::vector<std::uint8_t> diag;

 private:
  int n_;
};

// Aligns residues 1..l1 of structure 1 with residues 1..l2 of structure 2 so
// that the summed score(i, j) of aligned pairs plus the gap penalties is
// largest. `gap` (0 or negative) is added once whenever a path leaves an
// aligned pair; leading gaps are free. The diagonal wins every tie in the
// fill, and a tie between the two gap moves in the traceback steps back in
// structure 1. invmap[j] (j = 1..l2) receives the aligned residue of structure
// 1 or -1. n is the dimension of the score matrix (l1, l2 <= n); the tables
// must have been built for at least max(l1, l2).
void dp(int n, const ScoreMatrix& score, double gap, int l1, int l2, int* invmap, DpTables& t);

}  // namespace tarvix
