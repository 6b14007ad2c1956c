// Secondary-structure classes from CA geometry: 1 coil, 2 helix, 3 turn, 4 strand.
#pragma once

#include "structure/structure.h"

namespace tarvix {

double diszy(const Structure& s, int i, int j);
// Class of the middle residue of a five-residue window from its six distances.
int make_sec(double d13, double d14, double d15, double d24, double d25, double d35);
// sec[1..len] smoothed in place.
void smooth(int* sec, int len);
// Fills s.sec[1..len].
void calcsec(Structure& s, int len);

}  // namespace tarvix
