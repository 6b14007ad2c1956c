// Fixed-column details of PDB atom records shared by the writers.
#pragma once

#include <string>

#include "complex/complex.h"

namespace tarvix {

// The atom name in columns 13-16: names of four characters and those of
// two-letter elements start in column 13, the others in column 14.
inline std::string pdb_atom_name(const ComplexAtom& a) {
  std::string s = (a.name.size() >= 4 || a.element.size() == 2) ? a.name : " " + a.name;
  s.resize(4, ' ');
  return s;
}

}  // namespace tarvix
