#include "structure/chains.h"

#include <algorithm>

namespace tarvix {

void mark_sides(Structure& s) {
  for (int i = 1; i <= s.len; ++i) s.id2chain[i] = i <= s.chains[1] ? 1 : 2;
}

void swap_chains(Structure& s, Structure& scratch) {
  if (s.nchain != 2) return;
  const int e1 = s.chains[1];
  const int e2 = s.chains[2];
  for (int i = 1; i <= e2; ++i) {
    scratch.ca[i] = s.ca[i];
    scratch.resnum[i] = s.resnum[i];
    scratch.resname[i] = s.resname[i];
    scratch.seq[i] = s.seq[i];
    scratch.sec[i] = s.sec[i];
    scratch.contnum[i] = s.contnum[i];
    std::copy_n(s.partners(i) + 1, s.contnum[i], scratch.partners(i) + 1);
  }
  // Old chain 2 goes to 1..e2-e1, old chain 1 to e2-e1+1..e2.
  auto move = [&](int from, int to) {
    s.ca[to] = scratch.ca[from];
    s.resnum[to] = scratch.resnum[from];
    s.resname[to] = scratch.resname[from];
    s.seq[to] = scratch.seq[from];
    s.sec[to] = scratch.sec[from];
    const int n = scratch.contnum[from];
    s.contnum[to] = n;
    const int* src = scratch.partners(from);
    int* dst = s.partners(to);
    for (int m = 1; m <= n; ++m) dst[m] = src[m] > e1 ? src[m] - e1 : src[m] - e1 + e2;
  };
  for (int i = e1 + 1; i <= e2; ++i) move(i, i - e1);
  for (int i = 1; i <= e1; ++i) move(i, i - e1 + e2);
  std::swap(s.chainid[1], s.chainid[2]);
  s.chains[1] = e2 - e1;
  s.chains[2] = e2;
  for (int i = 1; i <= s.chains[1]; ++i) s.id2chain[i] = 1;
  for (int i = s.chains[1] + 1; i <= e2; ++i) s.id2chain[i] = 2;
}

}  // namespace tarvix
