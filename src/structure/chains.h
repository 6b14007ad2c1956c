// Reversal of the two chains of a structure, in place, keeping every
// per-residue record, contact partner, chain end and side consistent.
#pragma once

#include "structure/structure.h"

namespace tarvix {

// Residues of chain 2 first, then chain 1. Structures without exactly two
// chains are left unchanged.
void swap_chains(Structure& s);

// Interface sides: 1 for residues of the first chain, 2 for every later one.
void mark_sides(Structure& s);

}  // namespace tarvix
