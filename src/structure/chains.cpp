#include "structure/chains.h"

#include <algorithm>

namespace tarvix {

void mark_sides(Structure& s) {
  for (int i = 1; i <= s.len; ++i) s.id2chain[i] = i <= s.chains[1] ? 1 : 2;
}

void swap_chains(Structure& s) {
  if (s.nchain != 2) return;
  const int e1 = s.chains[1];
  const int e2 = s.chains[2];
  // Old chain 2 goes to 1..e2-e1, old chain 1 to e2-e1+1..e2: a rotation of
  // every per-residue record by e1 places, done in place.
  auto rotate = [&](auto& v) {
    std::rotate(v.begin() + 1, v.begin() + 1 + e1, v.begin() + 1 + e2);
  };
  rotate(s.ca);
  rotate(s.resnum);
  rotate(s.resname);
  rotate(s.seq);
  rotate(s.sec);
  rotate(s.contnum);
  // Contact lists are rows of kMaxCont slots: rotate the rows.
  int* rows = s.partners(1) + 1;  // row of residue 1
  std::rotate(rows, rows + static_cast<size_t>(e1) * kMaxCont,
              rows + static_cast<size_t>(e2) * kMaxCont);
  // Partners are renumbered like the residues.
  for (int i = 1; i <= e2; ++i) {
    int* p = s.partners(i);
    for (int m = 1; m <= s.contnum[i]; ++m) p[m] = p[m] > e1 ? p[m] - e1 : p[m] - e1 + e2;
  }
  std::swap(s.chainid[1], s.chainid[2]);
  s.chains[1] = e2 - e1;
  s.chains[2] = e2;
  for (int i = 1; i <= s.chains[1]; ++i) s.id2chain[i] = 1;
  for (int i = s.chains[1] + 1; i <= e2; ++i) s.id2chain[i] = 2;
}

}  // namespace tarvix
