#include "structure/chains.h"

#include <gtest/gtest.h>

#include <memory>

namespace tarvix {
namespace {

// Chains of 3 and 5 residues and one residue after the second end; every
// per-residue record carries the residue's old index.
std::unique_ptr<Structure> three_plus_five() {
  auto s = std::make_unique<Structure>();
  s->len = 9;
  s->nchain = 2;
  s->chains = {0, 3, 8};
  s->chainid[1] = 'A';
  s->chainid[2] = 'B';
  for (int i = 1; i <= 9; ++i) {
    s->ca[i] = {i * 1.0, 0, 0};
    s->seq[i] = static_cast<char>('a' + i);
    s->resnum[i] = {' ', ' ', ' ', static_cast<char>('0' + i), ' '};
    s->resname[i] = {'R', 'E', static_cast<char>('0' + i)};
    s->sec[i] = 10 + i;
  }
  mark_sides(*s);
  auto link = [&](int a, int b) {
    s->partners(a)[++s->contnum[a]] = b;
    s->partners(b)[++s->contnum[b]] = a;
  };
  link(2, 7);
  link(1, 4);
  link(3, 8);
  return s;
}

// Everything that swap_chains may touch.
void expect_same(const Structure& a, const Structure& b) {
  EXPECT_EQ(a.len, b.len);
  EXPECT_EQ(a.nchain, b.nchain);
  EXPECT_EQ(a.chains, b.chains);
  EXPECT_EQ(a.chainid, b.chainid);
  EXPECT_EQ(a.ca, b.ca);
  EXPECT_EQ(a.seq, b.seq);
  EXPECT_EQ(a.resnum, b.resnum);
  EXPECT_EQ(a.resname, b.resname);
  EXPECT_EQ(a.sec, b.sec);
  EXPECT_EQ(a.id2chain, b.id2chain);
  EXPECT_EQ(a.contnum, b.contnum);
  for (int i = 1; i <= a.len; ++i)  // slots after contnum are never read
    for (int m = 1; m <= a.contnum[i]; ++m) EXPECT_EQ(a.partner(i, m), b.partner(i, m)) << i;
}

TEST(Chains, SwapOfThreeAndFive) {
  auto s = three_plus_five();
  auto scratch = std::make_unique<Structure>();
  swap_chains(*s, *scratch);
  EXPECT_EQ(s->chains[1], 5);
  EXPECT_EQ(s->chains[2], 8);
  EXPECT_EQ(s->chainid[1], 'B');
  EXPECT_EQ(s->chainid[2], 'A');
  const int old_at[] = {0, 4, 5, 6, 7, 8, 1, 2, 3, 9};
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(s->ca[i][0], old_at[i]) << i;
    EXPECT_EQ(s->sec[i], 10 + old_at[i]) << i;
    EXPECT_EQ(s->seq[i], 'a' + old_at[i]) << i;
    EXPECT_EQ(s->resnum[i][3], '0' + old_at[i]) << i;
    EXPECT_EQ(s->resname[i][2], '0' + old_at[i]) << i;
    EXPECT_EQ(s->id2chain[i], i <= 5 ? 1 : 2) << i;
  }
  // The contact 2-7 is now 7-4, 1-4 is 6-1, 3-8 is 8-5.
  EXPECT_EQ(s->contnum[7], 1);
  EXPECT_EQ(s->partner(7, 1), 4);
  EXPECT_EQ(s->partner(4, 1), 7);
  EXPECT_EQ(s->partner(6, 1), 1);
  EXPECT_EQ(s->partner(1, 1), 6);
  EXPECT_EQ(s->partner(8, 1), 5);
  EXPECT_EQ(s->contnum[2], 0);
  EXPECT_EQ(s->contnum[9], 0);

  swap_chains(*s, *scratch);  // twice restores the order as read
  expect_same(*s, *three_plus_five());
}

TEST(Chains, OnlyTwoChainStructuresAreReordered) {
  for (int nchain : {0, 1, 3}) {
    auto s = three_plus_five();
    s->nchain = nchain;
    if (nchain == 3) s->chains[3] = 9;
    auto before = std::make_unique<Structure>(*s);
    auto scratch = std::make_unique<Structure>();
    swap_chains(*s, *scratch);
    expect_same(*s, *before);
  }
}

TEST(Chains, SidesFollowTheFirstChainEnd) {
  auto s = three_plus_five();
  EXPECT_EQ(std::vector<int>(s->id2chain.begin() + 1, s->id2chain.begin() + 10),
            (std::vector<int>{1, 1, 1, 2, 2, 2, 2, 2, 2}));
  s->chains = {};  // no "TER" record: every residue is side 2
  mark_sides(*s);
  EXPECT_EQ(std::vector<int>(s->id2chain.begin() + 1, s->id2chain.begin() + 10), std::vector<int>(9, 2));
}

}  // namespace
}  // namespace tarvix
