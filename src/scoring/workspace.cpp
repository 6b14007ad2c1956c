// Working storage of the scoring routines, sized once per comparison.

#include <algorithm>

#include "scoring/scoring.h"

namespace tarvix {

ScoringWorkspace::ScoringWorkspace(int l1_, int l2_) : l1(std::max(l1_, 0)), l2(std::max(l2_, 0)) {
  // Pair lists never hold more pairs than a structure has residues; residue
  // maps are indexed 1..kMaxRes so that any residue number of a valid
  // structure is in range.
  const size_t npair = static_cast<size_t>(std::max({kMaxRes, l1, l2}));
  const size_t nres = npair + 1;
  const Coord zero{0.0, 0.0, 0.0};

  moved1.assign(npair, zero);
  fixed2.assign(npair, zero);
  unmoved1.assign(npair, zero);
  frag1.assign(npair, zero);
  frag2.assign(npair, zero);
  seedstart.assign(npair + 2, 0);
  frag.assign(npair, 0);
  bestfrag.assign(npair, 0);
  closepairs.assign(npair, 0);
  alnpos1.assign(nres, -1);
  alnpos2.assign(nres, -2);
  pairdist.assign(npair, 0.0);

  p1a.assign(npair, zero);
  p2a.assign(npair, zero);
  m1a.assign(npair, zero);
  p1b.assign(npair, zero);
  p2b.assign(npair, zero);
  m1b.assign(npair, zero);
  r1a.assign(npair, 0);
  r2a.assign(npair, 0);
  r1b.assign(npair, 0);
  r2b.assign(npair, 0);
  revmap.assign(nres, -1);
  pairflag.resize(std::max(l1, 1), std::max(l2, 1), -1);

  pos1.assign(nres, -1);
  pos2.assign(nres, -2);
  q1.assign(npair, zero);
  q2.assign(npair, zero);
  movedres.assign(nres, zero);
}

}  // namespace tarvix
