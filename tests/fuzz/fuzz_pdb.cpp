// The PDB reader on arbitrary bytes, as read (contacts from a contact file
// later) and with -ca (secondary structure and contacts from the CA atoms,
// residues without contacts dropped).
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "checks.h"
#include "structure/error.h"
#include "structure/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvix;
  const std::string text(reinterpret_cast<const char*>(data), size);
  // One record for every input, as a program reading many files would keep
  // it: the reader must not depend on what an earlier file left there.
  static Structure* const s = new Structure;
  for (int contmode : {0, 1}) {
    std::istringstream in(text);
    std::ostringstream out;
    try {
      readpdbfile(in, "fuzz.pdb", *s, contmode, out);
    } catch (const Error& e) {
      FUZZ_REQUIRE(std::string(e.what()).find("fuzz.pdb") != std::string::npos);
      continue;
    }
    fuzz::check_records(*s, contmode == 1 ? fuzz::Contacts::kComputed : fuzz::Contacts::kNone);
    fuzz::check_explanations(*s);
  }
  return 0;
}
