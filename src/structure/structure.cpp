#include "structure/structure.h"

#include <algorithm>

namespace tarvix {

Structure::Structure(int capacity) {
  reserve(capacity);
  chainid.fill(' ');
  chainid_read.fill(' ');
}

void Structure::reserve(int n) {
  if (n <= capacity()) return;
  const size_t slots = static_cast<size_t>(n) + 1;
  ca.resize(slots);
  seq.resize(slots);
  resname.resize(slots);
  resnum.resize(slots);
  sec.resize(slots);
  id2chain.resize(slots);
  contnum.resize(slots);
  contlst.resize(slots * kMaxCont);
}

Structure Structure::compact() const {
  const int n = std::min(std::max(len, chains[nchain]), capacity());
  Structure c(n);
  c.len = len;
  c.nchain = nchain;
  c.chains = chains;
  c.chainid = chainid;
  c.chainid_read = chainid_read;
  c.notes = notes;
  const auto take = [n](const auto& from, auto& to) { std::copy_n(from.begin(), n + 1, to.begin()); };
  take(ca, c.ca);
  take(seq, c.seq);
  take(resname, c.resname);
  take(resnum, c.resnum);
  take(sec, c.sec);
  take(id2chain, c.id2chain);
  take(contnum, c.contnum);
  std::copy_n(contlst.begin(), static_cast<size_t>(n + 1) * kMaxCont, c.contlst.begin());
  return c;
}

}  // namespace tarvix
