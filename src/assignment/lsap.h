// Maximum-score one-to-one pairing of the rows and columns of a score block,
// solved as a square minimum-cost assignment problem by shortest augmenting
// paths with an explicit tolerance; and the two helpers of the non-sequential
// refinement that cut one interface side out of the score matrix and join the
// two sides' maps. All arrays here are 1-based (slot 0 unused).
#pragma once

#include <cstdint>
#include <vector>

#include "scoring/matrix.h"

namespace tarvix {

inline constexpr double kLsapEps = 1e-10;  // tolerance of every comparison of the solver
inline constexpr double kLsapSup = 1e9;    // stands for infinity

// Cost matrix and solver arrays, kept by one comparison and reused between
// calls. They grow on demand only, so once they have seen the largest size no
// call allocates.
struct LsapWorkspace {
  // Makes room for problems of size n (no-op when there is room already).
  void reserve(int n);

  Grid<double> cost;  // n x n, leading dimension n
  std::vector<int> assign;  // column -> row
  std::vector<int> rowcol;  // row -> column, the inverse of assign
  std::vector<int> pred;
  std::vector<double> ucol, vrow, dminus, dcol;
  std::vector<std::uint64_t> live;  // per row: all ones while unlabeled

 private:
  int cap_ = 0;
};

// Minimum-cost assignment of the n x n matrix cost (rows i, columns j, read
// through cost(i, j)). On return assign[j] (j = 1..n) is the row assigned to
// column j and z the total cost. When a search finds no reachable row (only
// with non-finite or astronomically large costs) it throws Error(..., kDataError)
// carrying the solver's fatal message verbatim. Rows past real_rows must
// have one and the same cost in every column (the padding of a block with
// fewer rows than columns): the searches then look at few of them.
void lsapr(int n, const Grid<double>& cost, double& z, int* assign, double sup, double eps,
           LsapWorkspace& ws, int real_rows = -1);

// Pairs rows 1..nrow with columns 1..ncol of s so that the summed score is
// largest; n >= max(nrow, ncol) is the size of the square problem (dummy rows
// and columns score as a real pair of score 0). map[j] (j = 1..ncol) is the
// row given to column j, or -1 when column j went to a dummy row.
void solvlsap(const ScoreMatrix& s, int* map, int nrow, int ncol, int n, LsapWorkspace& ws);

// The same with the block's own storage as the cost matrix: s (at least
// n x n) holds the costs afterwards. Saves a second n x n matrix.
void solvlsap_in_place(ScoreMatrix& s, int* map, int nrow, int ncol, int n, LsapWorkspace& ws);

// Copies src(i1..i2, j1..j2) to dst(1..i2-i1+1, 1..j2-j1+1). The block must lie
// in 1..l1 x 1..l2 and have at least two rows and two columns; otherwise throws
// Error(..., kDataError) with " Error: out of the scoring matrix boundary!"
// verbatim. dst is made n x n first if it
// is too small for the block.
void extract_score(int n, const ScoreMatrix& src, int l1, int l2, int i1, int j1, int i2, int j2,
                   ScoreMatrix& dst);

// Joins the side maps into one alignment map out[1..t]: side-1 entries keep
// their place, side-2 entry j becomes out[a + j] = r0 + m2[j]; entries <= 0
// leave -1. Requires a + b = t.
void comb_invmap(int* out, const int* m1, const int* m2, int r0, int a, int b, int t);

namespace detail {
// The shortest-path step takes AVX2 where the processor has it; this makes
// it take the SSE2 code (or, with false, the best again), so that the tests
// check both on any machine.
void lsap_use_sse2(bool on);
}  // namespace detail

}  // namespace tarvix
