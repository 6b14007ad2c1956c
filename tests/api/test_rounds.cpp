// The report's pieces prepared by the rounds (motion, concise alignment,
// detailed table) on small hand-made interfaces.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "api/rounds.h"
#include "structure/chains.h"

namespace tarvix {
namespace {

using Ptr = std::unique_ptr<Structure>;

// len residues with chain ends `ends` and one-letter codes seq (residue i is seq[i - 1]).
Ptr make(const std::vector<int>& ends, const std::string& seq) {
  auto s = std::make_unique<Structure>();
  s->len = static_cast<int>(seq.size());
  s->nchain = static_cast<int>(ends.size());
  for (size_t k = 0; k < ends.size(); ++k) s->chains[k + 1] = ends[k];
  for (int i = 1; i <= s->len; ++i) s->seq[i] = seq[i - 1];
  mark_sides(*s);
  return s;
}

void add_pair(PairList& p, int i, int j, const Coord& x1, const Coord& x2) {
  p.r1[p.n] = i;
  p.r2[p.n] = j;
  p.x1[p.n] = x1;
  p.x2[p.n] = x2;
  ++p.n;
}

TEST(Transmatrix, ThreePairsFixTheMotionFewerKeepThePrevious) {
  Ptr s = make({4}, "AAAA");
  s->ca[1] = {1.0, 2.0, 3.0};
  s->ca[2] = {4.5, 2.0, 1.0};
  s->ca[3] = {2.0, -3.0, 0.5};
  s->ca[4] = {0.0, 0.0, 7.0};
  const double co = std::cos(2.1), si = std::sin(2.1);
  const double r[3][3] = {{co, 0.0, -si}, {0.0, 1.0, 0.0}, {si, 0.0, co}};
  const double shift[3] = {5.0, -6.0, 2.5};
  PairList p;
  for (int k : {1, 2, 4}) add_pair(p, k, k, transform(r, shift, s->ca[k]), {});
  double u[3][3] = {}, t[3] = {};
  get_transmatrix(p, *s, u, t);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(t[i], shift[i], 1e-9);
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(u[i][j], r[i][j], 1e-9);
  }
  p.n = 2;
  const double before = u[0][0] + t[2];
  p.x1[0] = {100.0, 0.0, 0.0};
  get_transmatrix(p, *s, u, t);
  EXPECT_EQ(u[0][0] + t[2], before);
}

TEST(ConciseAlignment, CaseMarksChainsByParity) {
  // Chains 1 and 3 upper case, chain 2 lower case; residues after the last
  // chain end stay as read.
  Ptr s = make({3, 6, 9}, "aBcDeFgHiJk");
  EXPECT_EQ(formatseq(*s).substr(1, 11), "ABCdefGHIJk");
  Ptr two = make({4, 8}, "ABCDEFGH");
  EXPECT_EQ(formatseq(*two).substr(1, 8), "ABCDefgh");
}

TEST(ConciseAlignment, GapsAndMarkers) {
  Ptr s1 = make({4, 8}, "ABCDEFGH");
  Ptr s2 = make({3, 5}, "VWXYZ");
  PairList p;
  add_pair(p, 1, 1, {0, 0, 0}, {3.0, 4.0, 0.0});  // exactly 5.0: ":"
  add_pair(p, 4, 2, {0, 0, 0}, {5.0001, 0, 0});   // i + 3, j + 1: two gap columns between
  add_pair(p, 5, 3, {1, 1, 1}, {1, 1, 1});        // i + 1, j + 1: adjacent columns
  std::string a1, m, a2;
  get_alnseq(p, *s1, *s2, 5.0, a1, m, a2);
  // In the closing gap the residues of structure 1 come first.
  EXPECT_EQ(a1, "ABCDefgh--");
  EXPECT_EQ(m, ":  .:     ");
  EXPECT_EQ(a2, "V--WX---yz");

  // A residue past the last chain end: the lines keep the alignment length.
  Ptr t1 = make({4, 8}, "ABCDEFGHI");
  add_pair(p, 9, 5, {0, 0, 0}, {0, 0, 0});
  get_alnseq(p, *t1, *s2, 5.0, a1, m, a2);
  EXPECT_EQ(a1.size(), 9u);  // 8 + 5 - 4
  EXPECT_EQ(m.size(), 9u);
  EXPECT_EQ(a2.size(), 9u);
  EXPECT_EQ(a1.substr(0, 5), "ABCDe");
}

TEST(DetailedTable, LineLayout) {
  Ptr s1 = make({2, 4}, "GXAW");
  Ptr s2 = make({2, 4}, "GXAF");
  s1->chainid = {' ', 'A', 'B'};
  s2->chainid = {' ', 'C', 'D'};
  for (int i = 1; i <= 4; ++i) {
    s1->resnum[i] = {' ', ' ', '1', static_cast<char>('0' + i), 'A'};
    s2->resnum[i] = {' ', ' ', ' ', static_cast<char>('0' + i), ' '};
  }
  // 1 touches 3 in structure 1, 1 touches 4 and 2 touches 3 in structure 2.
  auto touch = [](Structure& s, int i, int j) {
    s.partners(i)[++s.contnum[i]] = j;
    s.partners(j)[++s.contnum[j]] = i;
  };
  touch(*s1, 1, 3);
  touch(*s2, 1, 4);
  touch(*s2, 2, 3);
  PairList p;
  add_pair(p, 1, 1, {0, 0, 0}, {0, 5.0, 0});      // identical, exactly 5.0: no ":"
  add_pair(p, 2, 2, {0, 0, 0}, {0, 0, 1.0});      // X with X: UNK, no "*"
  add_pair(p, 3, 4, {0, 0, 0}, {12.0, 0, 0});     // the partners of pair 1
  FlagMatrix aligned(4, 4, 5);
  std::vector<std::string> lines;
  get_matchlst(p, *s1, *s2, aligned, lines);
  ASSERT_EQ(lines.size(), 3u);
  //                     k  ch resid  aa       ch resid  aa      dist  NAC NC1 NC2 note
  EXPECT_EQ(lines[0], "    1    A   11A  GLY      C    1   GLY     5.000    1   1   1   *    ");
  EXPECT_EQ(lines[1], "    2    A   12A  UNK      C    2   UNK     1.000    0   0   1  :     ");
  EXPECT_EQ(lines[2], "    3    B   13A  ALA      D    4   PHE    12.000    1   1   1        ");
  for (const std::string& l : lines) EXPECT_EQ(l.size(), 70u);
  EXPECT_EQ(lines[0].find_last_not_of(' '), 65u);  // 66 characters, padded
}

}  // namespace
}  // namespace tarvix
