#include "structure/structure.h"

namespace tarvix {

Structure::Structure()
    : ca(kMaxRes + 1),
      seq(kMaxRes + 1),
      resname(kMaxRes + 1),
      resnum(kMaxRes + 1),
      sec(kMaxRes + 1),
      id2chain(kMaxRes + 1),
      contnum(kMaxRes + 1),
      contlst(static_cast<size_t>(kMaxRes + 1) * kMaxCont) {
  chainid.fill(' ');
  chainid_read.fill(' ');
}

}  // namespace tarvix
