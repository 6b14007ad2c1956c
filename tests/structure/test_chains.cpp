#include "structure/chains.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tarvix {
namespace {

// Chains A of 3 and B of 5 residues, one residue after the second end, and the
// contacts 2-7, 1-4, 3-8. Every per-residue record carries the old index.
std::unique_ptr<Structure> three_plus_five() {
  auto s = std::make_unique<Structure>();
  s->len = 9;
  s->nchain = 2;
  s->chains = {0, 3, 8};
  s->chainid[1] = 'A';
  s->chainid[2] = 'B';
  for (int i = 1; i <= 9; ++i) {
    const char c = static_cast<char>('0' + i);
    s->ca[i] = {i * 1.0, 0, 0};
    s->seq[i] = s->resnum[i][4] = s->resname[i][2] = c;
    s->sec[i] = i;
  }
  mark_sides(*s);
  for (auto [a, b] : {std::pair{2, 7}, {1, 4}, {3, 8}}) {
    s->partners(a)[++s->contnum[a]] = b;
    s->partners(b)[++s->contnum[b]] = a;
  }
  return s;
}

// Per residue: old index from each record, side, and partners.
std::string digest(const Structure& s) {
  std::string d = std::to_string(s.chains[1]) + "," + std::to_string(s.chains[2]);
  d += std::string{s.chainid[1], s.chainid[2]};
  for (int i = 1; i <= s.len; ++i) {
    d += ' ';
    d += std::to_string(static_cast<int>(s.ca[i][0]));
    d += {s.seq[i], s.resnum[i][4], s.resname[i][2]};
    d += std::to_string(s.sec[i]) + "/" + std::to_string(s.id2chain[i]) + ":";
    for (int m = 1; m <= s.contnum[i]; ++m) d += std::to_string(s.partner(i, m));
  }
  return d;
}

TEST(Chains, SwapOfThreeAndFive) {
  auto s = three_plus_five();
  const std::string as_read = digest(*s);
  EXPECT_EQ(as_read, "3,8AB 11111/1:4 22222/1:7 33333/1:8 44444/2:1 55555/2: 66666/2: 77777/2:2"
                     " 88888/2:3 99999/2:");
  swap_chains(*s);
  // Old 4 is residue 1, old 1 is residue 6; the contact 2-7 is now 7-4.
  EXPECT_EQ(digest(*s), "5,8BA 44444/1:6 55555/1: 66666/1: 77777/1:7 88888/1:8 11111/2:1 22222/2:4"
                        " 33333/2:5 99999/2:");
  swap_chains(*s);
  EXPECT_EQ(digest(*s), as_read);
}

TEST(Chains, OnlyTwoChainStructuresAreReordered) {
  for (int nchain : {0, 1, 3}) {
    auto s = three_plus_five();
    s->nchain = nchain;
    s->chains[3] = 9;
    const std::string before = digest(*s);
    swap_chains(*s);
    EXPECT_EQ(digest(*s), before) << nchain;
  }
  auto s = three_plus_five();
  s->chains = {};  // no "TER" record: every residue is side 2
  mark_sides(*s);
  EXPECT_EQ(std::vector<int>(s->id2chain.begin() + 1, s->id2chain.begin() + 10), std::vector<int>(9, 2));
}

}  // namespace
}  // namespace tarvix
