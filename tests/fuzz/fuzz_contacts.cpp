// The contact reader on arbitrary bytes, for structures of several sizes
// (none, a few residues, a typical interface, the largest).
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
  static Structure* const s = new Structure;  // reused, as in fuzz_pdb
  for (const int len : {0, 7, 60, kMaxRes}) {
    s->len = len;
    s->nchain = len > 0 ? 2 : 0;
    s->chains = {0, len / 2, len};
    s->notes.pdb = "fuzz.pdb";
    s->notes.residues_read = len;
    std::istringstream in(text);
    std::ostringstream out;
    try {
      readcontfile(in, "fuzz.contacts", *s, out);
    } catch (const Error& e) {
      FUZZ_REQUIRE(std::string(e.what()).find("fuzz.contacts") != std::string::npos);
      continue;
    }
    fuzz::check_records(*s, fuzz::Contacts::kRead);
    int total = 0;
    for (int i = 1; i <= s->chains[1]; ++i) total += s->contnum[i];
    FUZZ_REQUIRE(!why_few_contacts(*s, total).empty());
  }
  return 0;
}
