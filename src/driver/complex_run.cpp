#include "driver/complex_run.h"

#include <memory>
#include <ostream>

#include "complex/complex.h"
#include "driver/run.h"

namespace tarvix {
namespace {

ComplexInterface interface_of(const std::string& word, const Settings& set, std::ostream& err) {
  ComplexOptions options;
  options.ss = set.ss;
  ComplexInterface ci = read_interface(parse_interface_spec(word), options);
  for (const std::string& w : ci.complex.warnings) err << w << '\n';
  return ci;
}

std::string side_text(const std::vector<std::string>& chains) {
  std::string s;
  for (const std::string& c : chains) {
    if (!s.empty()) s += ',';
    s += c.empty() ? "_" : c;
  }
  return s;
}

}  // namespace

int compare_complexes(const Settings& set, std::ostream& out, std::ostream& err,
                      std::chrono::steady_clock::time_point start) {
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  fill_structure(interface_of(set.file(0), set, err), *s1);
  fill_structure(interface_of(set.file(1), set, err), *s2);
  return compare_structures(set, *s1, *s2, out, start);
}

int extract_complex(const Settings& set, std::ostream& out, std::ostream& err) {
  const ComplexInterface ci = interface_of(set.extract, set, err);
  write_interface_files(ci, set.out_prefix);
  size_t pairs = 0;
  for (int i = 1; i <= ci.side1_count; ++i) pairs += ci.residues[static_cast<size_t>(i - 1)].partners.size();
  out << "Wrote " << set.out_prefix << ".pdb and " << set.out_prefix << ".contacts: "
      << ci.residues.size() << " residues (" << ci.side1_count << " of " << side_text(ci.sides[0])
      << ", " << ci.residues.size() - static_cast<size_t>(ci.side1_count) << " of "
      << side_text(ci.sides[1]) << "), " << pairs << " contacts\n";
  return 0;
}

}  // namespace tarvix
