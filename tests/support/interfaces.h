// Loading the bundled real interfaces (tests/data) for tests and benchmarks.
#pragma once

#include <memory>
#include <sstream>
#include <string>

#include "structure/chains.h"
#include "structure/readers.h"

namespace tarvix {

// Reads <name>.pdb and <name>.contacts of the bundled data and marks the sides.
inline std::unique_ptr<Structure> load_interface(const std::string& name) {
  auto s = std::make_unique<Structure>();
  const std::string stem = std::string(TARVIX_TEST_DATA) + "/" + name;
  std::ostringstream warnings;
  readpdbfile(stem + ".pdb", *s, 0, warnings);
  readcontfile(stem + ".contacts", *s);
  mark_sides(*s);
  return s;
}

}  // namespace tarvix
