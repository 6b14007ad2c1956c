// Scoring and superposition: least-squares superposition, the superposition
// search, the interface score of an alignment with its score matrix, contact
// overlap, distance pruning and the RMSD score matrix.
//
// Alignment maps are indexed by residue j = 1..L2 of structure 2 (slot 0
// unused); map[j] is the aligned residue of structure 1, any value <= 0 means
// unaligned. Pair lists are 0-based arrays of n pairs whose residue fields
// hold 1-based residue indices.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "scoring/matrix.h"
#include "scoring/memo.h"
#include "scoring/params.h"
#include "structure/structure.h"

namespace tarvix {

// ---- least-squares superposition -------------------------------------------
// Weighted superposition of x onto y (n points each, 0-based). mode 0 computes
// only resid. u[i][j] is row i, column j; a point p moves to u p + t.
void u3b(const double* w, const Coord* x, const Coord* y, int n, int mode, double& resid,
         double u[3][3], double t[3], int& status);

// The motion of u3b with unit weights and mode 1, bit for bit, without the
// residual (which nothing else depends on, so it is not computed).
void superpose(const Coord* x, const Coord* y, int n, double u[3][3], double t[3]);

// Four independent fits of superpose at once (x[k], y[k], n[k] give u[k],
// t[k]), bit for bit the same, on the vector lanes where the processor has
// them.
void superpose4(const Coord* const x[4], const Coord* const y[4], const int n[4], double u[][3][3],
                double t[][3]);
namespace detail {
extern bool superpose4_plain;  // tests: take the one-by-one code
}  // namespace detail

// Unit weights for every caller (kMaxRes of them).
const double* unit_weights();

inline Coord transform(const double u[3][3], const double t[3], const Coord& p) {
  return {t[0] + u[0][0] * p[0] + u[0][1] * p[1] + u[0][2] * p[2],
          t[1] + u[1][0] * p[0] + u[1][1] * p[1] + u[1][2] * p[2],
          t[2] + u[2][0] * p[0] + u[2][1] * p[1] + u[2][2] * p[2]};
}
inline double dist2(const Coord& a, const Coord& b) {
  const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return dx * dx + dy * dy + dz * dz;
}

// ---- matched pairs of a superposition ---------------------------------------
// The same-side pairs within the contact cutoff under one superposition, as
// bit sets over residue numbers (residue r is bit r): col holds, for each
// residue j of the second structure, its matched residues of the first; row
// the same by residue of the first structure. Sized for structures of up to
// n residues in either role.
struct MatchSets {
  explicit MatchSets(int n);
  bool matched(int i, int j) const;  // of the latest weighted fill
  int w;                             // words per set
  std::vector<std::uint64_t> col, row;
  std::vector<std::uint64_t> rowany, colany;  // unions over contact partners
};

// The contact partners of every residue of one structure as bit sets (bit p
// of residue i's set: p is a partner of i), so that the partners of i within
// another bit set are counted by a few popcounts. Kept only for structures
// of fewer than kMaxResidues residues whose partner lists hold each partner
// once (a count then is the number of bits), and only while the structure
// keeps the chain order it had when they were made (see super_align).
struct PartnerSets {
  static constexpr int kMaxResidues = 256;
  // Makes the sets of s (or none, when s is not suitable); w = len / 64 + 1.
  // Also notes where s's first side ends (see split_sides).
  void make(const Structure& s);
  void clear() { owner = nullptr, of_sides = nullptr; }
  const std::uint64_t* of(int i) const { return &bits[static_cast<size_t>(i) * w]; }
  const Structure* owner = nullptr;  // whose sets these are, or nullptr
  int w = 0;
  std::vector<std::uint64_t> bits;
  const Structure* of_sides = nullptr;  // whose side1 this is, or nullptr
  int side1 = -1;
};

// ---- partner marks ------------------------------------------------------------
// The contact partners of one residue, marked so that "is q a partner of r?"
// is one lookup. Marking a new residue forgets the previous one.
class PartnerMarks {
 public:
  explicit PartnerMarks(int n) : stamp_(static_cast<size_t>(n) + 1) {}
  void mark(const Structure& s, int r) {
    if (++tag_ == 0) {  // the tags wrapped around: start over
      std::fill(stamp_.begin(), stamp_.end(), 0u);
      tag_ = 1;
    }
    const int* p = s.partners(r);
    for (int m = 1; m <= s.contnum[r]; ++m) stamp_[p[m]] = tag_;
  }
  bool marked(int q) const { return stamp_[q] == tag_; }

 private:
  ZeroVector<unsigned> stamp_;
  unsigned tag_ = 0;
};

// For one superposition search: per pair k, its residues' contact counts
// and the pairs (pair[off[k]..off[k+1])) through which a contact of pair k
// can be conserved; ready only when no residue occurs in two pairs.
struct ConservedCandidates {
  bool ready = false;
  std::vector<int> na, nb, off, pair;
  // the contact factor of pair k when nmatch of its candidates are matched:
  // fcol[off[k] + k + nmatch]
  std::vector<double> fcol;
  std::vector<int> active;  // the pairs with candidates, in order
  int nactive = 0;
  // the largest factor of each pair (all its candidates matched; 0 without
  // candidates), for the bound of a trial's score
  ZeroVector<double> fmax;
};

// ---- working storage of one comparison -------------------------------------
// Everything the scoring routines keep between calls. Built once per comparison
// for structures of l1 and l2 residues; no routine allocates afterwards.
struct ScoringWorkspace {
  ScoringWorkspace(int l1, int l2);
  int l1, l2;
  // superposition search
  ZeroVector<Coord> fixed2, unmoved1, frag1, frag2;
  ZeroVector<double> ux, uy, uz, fx, fy, fz;  // the pairs' points, coordinate by coordinate
  ZeroVector<int> seedstart, frag, closepairs;
  struct Motion {
    double u[3][3], t[3];
  };
  std::vector<Motion> seedfit;  // the fits of the seeds of one length
  // Four seeds made side by side: each seed's trial (score, contacts, whether
  // scored) and close pairs with their points, and its first extension
  // step's fit, trial and close pairs.
  struct SeedLane {
    explicit SeedLane(std::size_t n) : close1(n), close2(n), p1(n), p2(n) {}
    ZeroVector<int> close1, close2;
    ZeroVector<Coord> p1, p2;
    int nclose1 = 0, nclose2 = 0;
    double sc[2] = {}, u[3][3] = {}, t[3] = {};
    int ncont[2] = {};
    bool scored[2] = {};
    bool made = false;  // the first extension step was made
  };
  std::vector<SeedLane> seedlanes;
  std::vector<int> alnpos1, alnpos2;
  ZeroVector<double> pairdist, pairdist2;  // per pair of a trial: distance, and its square
  ZeroVector<std::uint8_t> pairmatched;  // per pair of a trial: within the contact cutoff
  FragmentMemo memo;
  PartnerMarks marks;  // for the contact counts of pair lists
  ConservedCandidates conserved;
  // interface score: two pair lists (structure-2 order and structure-1 order)
  ZeroVector<Coord> p1a, p2a, m1a, p1b, p2b, m1b;
  ZeroVector<int> r1a, r2a, r1b, r2b;
  std::vector<int> revmap;
  // contact count of an alignment, pruning and RMSD score
  std::vector<int> pos1, pos2;
  ZeroVector<Coord> q1, q2;
  // score matrix fill: the moved residues (slots 1..), the side runs, the
  // matched pairs
  ZeroVector<double> mx, my, mz;
  ZeroVector<int> runstart;
  MatchSets match;
  PartnerSets partner_sets[2];  // of the two structures during an alignment search
  const PartnerSets* partner_sets_of(const Structure& s) const {
    for (const PartnerSets& p : partner_sets)
      if (p.owner == &s) return &p;
    return nullptr;
  }
  // Where s's first side ends, when noted for this search, or -2.
  int noted_side1(const Structure& s) const {
    for (const PartnerSets& p : partner_sets)
      if (p.of_sides == &s) return p.side1;
    return -2;
  }
  SearchMemo search_memo;  // results within one alignment search (chain order)
  // superposition behind the score matrix of the latest get_score, and
  // whether that matrix is still to be filled (and weighted)
  double su[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double st[3] = {0.0, 0.0, 0.0};
  bool pending_fill = false, pending_weighted = false;
};

// Everything the scoring routines read: the two structures in their current
// chain order, the parameters, and the comparison's workspace.
struct Context {
  const Structure& s1;
  const Structure& s2;
  const ScoringParams& par;
  ScoringWorkspace& ws;
};

// ---- superposition search --------------------------------------------------
// Finds the superposition of the structure-1 points x1 onto x2 (n pairs,
// 0-based) that maximises the score; on return x1 holds the moved points.
// score is the mean pair term over the n pairs, rmsd that of the plain fit of
// all pairs (0.0 for n = 0). mode 1, 2 or 3; scoretype 1 TX, otherwise TM.
// With want_rmsd false, rmsd is left 0.0 (the fits are the same).
void tmsearch(Context& ctx, double d0, double d0search, int n, Coord* x1, const int* alnres1,
              const Coord* x2, const int* alnres2, double& score, double& rmsd, int mode,
              int scoretype, int& ncontact, bool want_rmsd = true);

// alnpos1[1..na] = -1, alnpos2[1..nb] = -2.
void init_ali(int* alnpos1, int* alnpos2, int na, int nb);

// Contact-overlap factor of the pair at position k (0-based into
// alnres1/alnres2) under the position maps (1-based by residue): the fraction
// of each residue's contacts whose partners form a matched pair, averaged;
// nmatch is their number. The partners of the structure-2 residue are marked
// in `marks` (n + 1 stamps for b's residues) rather than scanned for every
// partner of the structure-1 residue.
void get_fcol(int k, const int* alnpos1, const int* alnpos2, const int* alnres1, const int* alnres2,
              const Structure& a, const Structure& b, PartnerMarks& marks, double& fcol,
              int& nmatch);

// ---- score matrix of a superposition -------------------------------------------
// Whether residues 1..k1 of a and 1..k2 of b are side 1 and the rest side 2,
// each side holding at least one residue of each: the score matrix then
// splits into two side blocks and the two blocks across the sides.
bool split_sides(const Structure& a, const Structure& b, int lena, int lenb, int& k1, int& k2);
// The same, with what ws noted of the structures (see PartnerSets).
bool split_sides(const ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena,
                 int lenb, int& k1, int& k2);

// smat(i, j), i = 1..lena, j = 1..lenb: residue i of a moved by (u, t) and
// residue j of b score 1 / (D2 / scale2 + 1) when they lie on the same side,
// kOtherSide otherwise. With `weighted` each term is multiplied by
// (fcol + 0.01), fcol being the contact-overlap factor of get_fcol_4s under
// the matched pairs (same side, D2 <= cut2), which ws.match then holds.
// With cross false and a matrix that splits into sides (split_sides), the
// cells across the sides are left as they are, for readers that never look
// at them (dp given the sides, the assignment solver's side blocks).
void fill_pair_matrix(ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena,
                      int lenb, const double u[3][3], const double t[3], double scale2, double cut2,
                      bool weighted, ScoreMatrix& smat, bool cross = true);
namespace detail {
extern bool fill_plain;  // tests: take the code for processors without AVX2
}  // namespace detail

// The same matrix one column at a time, for a reader that needs each column
// once (the dynamic programming of the initial alignments): the matrix then
// never goes through memory. The constructor does everything that the
// columns share (the moved residues and, weighted, the matched pairs);
// column(j, c) writes c[i] = smat(i, j) for i = 1..lena. Uses the
// workspace's fill storage until the next fill. fill_pair_matrix constructs
// it with streamed false and makes the whole matrix with fill.
class PairColumns {
 public:
  // squares, when given, keeps the squared distances that a streamed,
  // weighted generator computes first (rows 1..lena, columns 1..lenb), so
  // that the columns do not compute them again.
  PairColumns(ScoringWorkspace& ws, const Structure& a, const Structure& b, int lena, int lenb,
              const double u[3][3], const double t[3], double scale2, double cut2, bool weighted,
              bool streamed = true, ScoreMatrix* squares = nullptr);
  void column(int j, double* c);
  void fill(ScoreMatrix& smat, int lenb);
  // The cells across the sides are left unwritten from now on.
  void skip_cross() { cross_ = false; }

 private:
  void clear_matches(int lenb);
  void finish_matches(int lenb);
  // Column j's terms without the contact overlap; with mark, its matched
  // pairs go into the bit sets on the way.
  void terms(int j, double* c, bool mark);
  // Column j's matched pairs, weighted by their contact overlap.
  void overlap(int j, double* c);
  // overlap's counts from the partner sets of both structures.
  void overlap_by_sets(const PartnerSets& sa, const PartnerSets& sb, int j,
                       const std::uint64_t* colj, const std::uint64_t* e,
                       const std::uint64_t* rowany, size_t w, size_t wa, int nb, const Structure& a,
                       double* c) const;

  ScoringWorkspace& ws_;
  const Structure& a_;
  const Structure& b_;
  int lena_, nrun_ = 0;
  double scale2_, cut2_;
  bool weighted_;
  bool cross_ = true;
  ScoreMatrix* squares_ = nullptr;  // the squared distances, when kept
  // Column j of the kept squared distances, indexed by row (rows 1..lena), or
  // nullptr when none are kept.
  double* kept_squares(int j) const { return squares_ ? &(*squares_)(1, j) - 1 : nullptr; }
};

// ---- interface score of an alignment -----------------------------------------
// Scores invmap (normalised by Lmin; -1.0 below 3 pairs, smat then untouched)
// and fills smat (rows 1..L1, columns 1..L2) from the best superposition;
// where the matrix splits into sides, only the side blocks (every reader of
// these matrices reads only those). With fill false the matrix is left for
// fill_pending: a caller that may not read it scores first and fills only
// when it does.
void get_score(Context& ctx, const int* invmap, double& score, ScoreMatrix& smat, int scoretype,
               int tryorder1, int fast, int& order1used, bool fill = true);
// Fills smat as the latest get_score call would have (nothing when that call
// filled its matrix already or left it untouched); returns whether it did.
bool fill_pending(Context& ctx, ScoreMatrix& smat);

void get_fcol_4s(int i, int j, const FlagMatrix& pairflag, double& fcol, int& nmatch,
                 const Structure& a, const Structure& b);
void get_fcol_4s_old(int i, int j, const FlagMatrix& pairflag, double& fcol, int& nmatch,
                     const Structure& s1, const Structure& s2);

// Conserved contacts of n aligned pairs list1[k], list2[k] (0-based lists).
void cal_col(Context& ctx, const int* list1, const int* list2, int n, int& count);

// ---- distance pruning and RMSD score -------------------------------------
// curmap becomes the pairs of newmap within d8 under the superposition of curmap.
void remove_distant_pairs(Context& ctx, const int* newmap, int* curmap, int n);
void get_rms_score(Context& ctx, ScoreMatrix& smat, const int* invmap, int l1, int l2);

}  // namespace tarvix
