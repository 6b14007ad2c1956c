#include "driver/complex_run.h"

#include <memory>
#include <ostream>

#include "complex/complex.h"
#include "driver/run.h"

namespace tarvix {
namespace {

ComplexInterface interface_of(const std::string& word, const LongOptions& lo, std::ostream& err) {
  ComplexOptions options;
  options.ss = lo.ss.value_or(SsSource::kDssp);
  ComplexInterface ci = read_interface(parse_interface_choice(word), options);
  for (const std::string& w : ci.complex.warnings) err << w << '\n';
  return ci;
}

}  // namespace

int compare_complexes(const Settings& set, const LongOptions& lo, std::ostream& out, std::ostream& err,
                      std::chrono::steady_clock::time_point start) {
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  fill_structure(interface_of(set.file(0), lo, err), *s1);
  fill_structure(interface_of(set.file(1), lo, err), *s2);
  return compare_structures(set, lo, std::move(*s1), std::move(*s2), out, err, start);
}

int extract_complex(const LongOptions& lo, std::ostream& out, std::ostream& err) {
  const ComplexInterface ci = interface_of(lo.extract, lo, err);
  write_interface_files(ci, lo.out);
  size_t pairs = 0;
  for (int i = 1; i <= ci.side1_count; ++i) pairs += ci.residues[static_cast<size_t>(i - 1)].partners.size();
  out << "Wrote " << lo.out << ".pdb and " << lo.out << ".contacts: "
      << ci.residues.size() << " residues (" << ci.side1_count << " of " << side_text(ci.sides[0])
      << ", " << ci.residues.size() - static_cast<size_t>(ci.side1_count) << " of "
      << side_text(ci.sides[1]) << "), " << pairs << " contacts\n";
  return 0;
}

}  // namespace tarvix
