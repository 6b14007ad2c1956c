// Order-preserving alignment of structure 1 against structure 2 by dynamic
// programming over a residue-pair score matrix.
#pragma once

#include <cstdint>
#include <vector>

#include "scoring/matrix.h"

namespace tarvix {

// Work tables of dp. The traceback needs, per cell, only whether the best path
// arrives diagonally and, where it does not, which gap move the recurrence
// prefers; one byte per cell holds both, for (N+1) x (N+1) cells. The path
// values themselves are kept for two columns only. One comparison builds the
// tables once for its N and reuses them in every call; dp never allocates.
struct DpTables {
  explicit DpTables(int n);
  int capacity() const { return n_; }

  std::vector<std::uint8_t> dir;  // bit 0: diagonal; bit 1: the traceback steps back in structure 1
  std::vector<double> col0, col1;   // path values of the previous and the current column
  std::vector<double> dval, mval;  // per-row scratch of the gap-free fill

 private:
  int n_;
};

// Where a score matrix splits into the two interface sides: rows 1..k1 and
// columns 1..k2 are side 1, the rest side 2. A cell of one side's row and the
// other side's column scores kOtherSide, far below any path, so dp need not
// read or compute it: no path goes through it diagonally, and the values it
// passes on follow from the sides' own cells (see run_dp). {0, 0}: one block.
struct DpSides {
  int k1 = 0;
  int k2 = 0;
};

// Aligns residues 1..l1 of structure 1 with residues 1..l2 of structure 2 so
// that the summed score(i, j) of aligned pairs plus the gap penalties is
// largest. `gap` (0 or negative) is added once whenever a path leaves an
// aligned pair; leading gaps are free. The diagonal wins every tie in the
// fill, and a tie between the two gap moves in the traceback steps back in
// structure 1. invmap[j] (j = 1..l2) receives the aligned residue of structure
// 1 or -1. n is the dimension of the score matrix (l1, l2 <= n); the tables
// must have been built for at least max(l1, l2).
// With sides, the cross-side cells must score kOtherSide; dp does not read them.
void dp(int n, const ScoreMatrix& score, double gap, int l1, int l2, int* invmap, DpTables& t,
        DpSides sides = {});

// Where dp can read its score matrix from instead: one column at a time,
// each once, in order, without the matrix ever being stored.
class ScoreColumns {
 public:
  virtual ~ScoreColumns() = default;
  // Column j (1..l2): s[i - 1] = score(i, j) for i = 1..l1; valid until the next call.
  virtual const double* column(int j) = 0;
};

// dp on the columns of `columns`; n bounds l1 and l2 as above.
void dp(int n, ScoreColumns& columns, double gap, int l1, int l2, int* invmap, DpTables& t,
        DpSides sides = {});

namespace detail {
// The zero-penalty column takes AVX2 where the processor has it; this makes
// it take the SSE2 code (or, with false, the best again), so that the tests
// check both on any machine.
void dp_use_sse2(bool on);
}  // namespace detail

}  // namespace tarvix
