#include "api/report.h"

#include <ostream>

#include "api/format.h"

namespace tarvix {
namespace {

using fmt::A;
using fmt::F;
using fmt::I;

}  // namespace

bool write_report(std::ostream& out, const Result& r) {
  const std::string stars(69, '*');
  out << '\n' << stars << '\n';
  out << std::string(29, ' ') << "Tarvix" << std::string(11, ' ') << '\n';
  out << "  A tool for structural comparison of protein-protein interfaces.\n";
  out << "  Please report bugs to:  Tarvix maintainers  <tarvix-bugs@tarvix.org>.\n";
  out << stars << "\n\n";
  const std::string* names[2] = {&r.name1, &r.name2};
  const std::array<char, 2>* ids[2] = {&r.chains1, &r.chains2};
  const int lens[2] = {r.length1, r.length2};
  const int conts[2] = {r.contacts1, r.contacts2};
  for (int s = 0; s < 2; ++s) {
    out << "Structure " << I(s + 1, 1) << ": " << fmt::pad_right(fmt::getbasename(*names[s]), 20)
        << " Chains " << (*ids[s])[0] << ' ' << (*ids[s])[1] << ',' << I(lens[s], 4) << " AAs,"
        << I(conts[s], 4) << " Contacts\n";
  }
  out << '\n';  // an empty line, list-directed or not, is an empty record
  const Result::Report& t = r.text;
  if (!r.significant) {
    out << '\n' << fmt::list_line("No significant alignment found!") << "\n\n";
    return false;
  }
  out << A(t.scorecode, 2) << "-score =" << F(r.score, 8, 5);
  if (t.pvalue) out << ", P-value =" << fmt::E(r.pvalue.value_or(-1.0)) << ", Z-score =" << F(r.zscore.value_or(-1.0), 7, 3);
  out << '\n';
  out << "Number of aligned residues  =" << I(r.aligned, 4) << '\n';
  out << "Number of aligned contacts  =" << I(r.aligned_contacts, 4) << '\n';
  out << "RMSD =" << F(r.rmsd, 6, 2) << ", Seq identity  =" << F(r.identity, 6, 3) << "\n\n";
  out << fmt::list_line("----- Transformation matrix for aligning struct 1 to struct 2 -----") << '\n';
  out << fmt::list_line("i          t(i)         r(i,1)         r(i,2)         r(i,3)") << '\n';
  for (int i = 0; i < 3; ++i) {
    out << I(i + 1, 2) << F(r.translation[i], 18, 10) << F(r.rotation[i][0], 15, 10)
        << F(r.rotation[i][1], 15, 10) << F(r.rotation[i][2], 15, 10) << '\n';
  }
  out << '\n';
  if (t.detail == 1) {
    out << "Interface Alignment (\":\" AA pairs within " << F(t.markcut, 3, 1)
        << " Angstrom in Ca-Ca distance)\n";
    out << "Struct 1 Chains " << t.order[0] << t.order[1] << "  vs. Struct 2 Chains " << t.order[2]
        << t.order[3] << " (AAs in upper/lower cases)\n\n";
    out << t.aln1 << '\n' << t.marker << '\n' << t.aln2 << '\n';
    out << '\n';
  }
  if (t.detail == 2) {
    out << fmt::list_line("-----   Aligned Interface Residues  -----") << '\n';
    out << fmt::list_line("----- Structure 1       Structure 2 -----") << '\n';
    out << fmt::list_line("Index Ch1 Resid1 AA1    Ch2 Resid2 AA2    Distance NAC NC1 NC2 Note") << '\n';
    for (const std::string& line : t.pairlines) out << line << '\n';
    out << fmt::list_line("\":\" AA pairs within 5 Ansgtrom in Ca-Ca distance") << '\n';
    out << fmt::list_line("\"*\" Identical AA pairs") << '\n';
    out << '\n';
  }
  out << "Scoring parameters: normalization length =" << I(fmt::nint(r.normlen), 4)
      << ",  d0 =" << F(r.d0, 6, 3) << '\n';
  out << (t.sequential ? "Alignment search mode: sequential\n" : "Alignment search mode: non-sequential\n");
  out << "Best alignment search: round =" << I(r.round, 2) << ", initial =" << I(r.initial, 3) << '\n';
  return true;
}

void write_running_time(std::ostream& out, double seconds) {
  out << "Running time: " << F(seconds, 12, 5) << " seconds\n\n";
}

}  // namespace tarvix
