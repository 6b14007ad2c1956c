// The search rounds of one comparison: up to four chain orders, each searched,
// rescored three times, pruned at d8 and judged; the best round is kept with
// the pieces of the report prepared for it.
#pragma once

#include <string>
#include <vector>

#include "api/settings.h"
#include "search/search.h"

namespace tarvix {

// Aligned pairs with the coordinates of both residues (0-based lists), room
// for `capacity` of them.
struct PairList {
  explicit PairList(int capacity = kMaxRes + 1);
  int n = 0;
  ZeroVector<Coord> x1, x2;
  ZeroVector<int> r1, r2;
};

struct BestRound {
  PairList pairs{0};         // kept pairs; x1 carries the third superposition
  double score = 0.0;        // reported score (normalised by normlen)
  double scoremin = -1.0;    // score normalised by Lmin (rescaled when the P-value is on)
  double rmsdmin = 100.0;    // RMSD of the second rescoring
  double rmsd = 0.0;         // RMSD of the third rescoring
  double seqid = 0.0;
  double pvalue = -1.0, zscore = -1.0;
  int ncontact = 0;
  int round = 1;
  int initial = -1;
  bool swapped1 = false, swapped2 = false;  // chains of s1, s2 reversed in the best round
  double u[3][3] = {};
  double t[3] = {};
  std::string aln1, marker, aln2;     // concise alignment (verbose 1)
  std::vector<std::string> pairlines; // detailed table (verbose 2)
};

// Runs the rounds on s1 and s2 (whose sides are marked); the chain reversals
// are left in place.
BestRound search_rounds(Structure& s1, Structure& s2, const Settings& set, const Derived& der);

// Pieces of the report, exposed for testing.
void get_transmatrix(const PairList& pairs, const Structure& s1, double u[3][3], double t[3]);
void get_alnseq(const PairList& pairs, const Structure& s1, const Structure& s2, double markcut,
                std::string& aln1, std::string& marker, std::string& aln2);
std::string formatseq(const Structure& s);
void get_matchlst(const PairList& pairs, const Structure& s1, const Structure& s2,
                  FlagMatrix& aligned, std::vector<std::string>& lines);

}  // namespace tarvix
