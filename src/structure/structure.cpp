#include "structure/structure.h"

namespace tarvix {

Structure::Structure()
    : ca(kMaxRes + 1, Coord{0.0, 0.0, 0.0}),
      seq(kMaxRes + 1, ' '),
      resname(kMaxRes + 1, {' ', ' ', ' '}),
      resnum(kMaxRes + 1, {' ', ' ', ' ', ' ', ' '}),
      sec(kMaxRes + 1, 0),
      id2chain(kMaxRes + 1, 0),
      contnum(kMaxRes + 1, 0),
      contlst(static_cast<size_t>(kMaxRes + 1) * kMaxCont, 0) {
  chainid.fill(' ');
  chainid_read.fill(' ');
}

}  // namespace tarvix
