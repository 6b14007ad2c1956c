// Working storage of the scoring routines, sized once per comparison.

#include <algorithm>

#include "scoring/scoring.h"

namespace tarvix {

ScoringWorkspace::ScoringWorkspace(int l1_, int l2_)
    : l1(std::max(l1_, 0)),
      l2(std::max(l2_, 0)),
      marks(std::max(l1, l2)),
      match(std::max(l1, l2)) {
  // Pair lists never hold more pairs than a structure has residues, and
  // residue maps are indexed by the residues of either structure.
  const size_t npair = static_cast<size_t>(std::max({1, l1, l2}));
  const size_t nres = npair + 1;

  for (auto* v : {&ux, &uy, &uz, &fx, &fy, &fz}) v->resize(npair);
  fixed2.resize(npair);
  unmoved1.resize(npair);
  frag1.resize(npair);
  frag2.resize(npair);
  seedstart.resize(npair + 2);
  seedfit.resize(npair + 2);
  seedlanes.reserve(4);
  for (int k = 0; k < 4; ++k) seedlanes.emplace_back(npair);
  frag.resize(npair);
  closepairs.resize(npair);
  alnpos1.assign(nres, -1);
  alnpos2.assign(nres, -2);
  pairdist.resize(npair);
  pairdist2.resize(npair);
  pairmatched.resize(npair);

  p1a.resize(npair);
  p2a.resize(npair);
  m1a.resize(npair);
  p1b.resize(npair);
  p2b.resize(npair);
  m1b.resize(npair);
  r1a.resize(npair);
  r2a.resize(npair);
  r1b.resize(npair);
  r2b.resize(npair);
  revmap.assign(nres, -1);
  conserved.na.resize(npair);
  conserved.nb.resize(npair);
  conserved.off.resize(npair + 1);
  conserved.active.resize(npair);
  conserved.fmax.resize(npair);
  conserved.pair.reserve(npair * 4);
  conserved.fcol.reserve(npair * 5);

  pos1.assign(nres, -1);
  pos2.assign(nres, -2);
  q1.resize(npair);
  q2.resize(npair);
  mx.resize(nres);
  my.resize(nres);
  mz.resize(nres);
  runstart.resize(nres + 1);
}

}  // namespace tarvix
