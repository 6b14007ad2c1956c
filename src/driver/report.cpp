#include "driver/report.h"

#include <ostream>

#include "driver/format.h"

namespace tarvix {
namespace {

using fmt::A;
using fmt::F;
using fmt::I;

std::string id(const Structure& s, int k) { return std::string(1, s.chainid_read[k]); }

}  // namespace

bool write_report(std::ostream& out, const ReportInput& in) {
  const std::string stars(69, '*');
  out << '\n' << stars << '\n';
  out << std::string(29, ' ') << "Tarvix" << std::string(11, ' ') << '\n';
  out << "  A tool for structural comparison of protein-protein interfaces.\n";
  out << "  Please report bugs to:  Tarvix maintainers  <tarvix-bugs@tarvix.org>.\n";
  out << stars << "\n\n";
  const Structure* ss[2] = {&in.s1, &in.s2};
  const int conts[2] = {in.num_cont1, in.num_cont2};
  for (int s = 0; s < 2; ++s) {
    out << "Structure " << I(s + 1, 1) << ": " << fmt::pad_right(fmt::getbasename(in.set.file(s)), 20)
        << " Chains " << id(*ss[s], 1) << ' ' << id(*ss[s], 2) << ',' << I(ss[s]->len, 4) << " AAs,"
        << I(conts[s], 4) << " Contacts\n";
  }
  out << '\n';  // an empty line, list-directed or not, is an empty record
  const BestRound& b = in.best;
  if (b.pairs.n < 3) {
    out << '\n' << fmt::list_line("No significant alignment found!") << "\n\n";
    return false;
  }
  out << A(in.set.scorecode, 2) << "-score =" << F(b.score, 8, 5);
  if (in.set.pvalue) out << ", P-value =" << fmt::E(b.pvalue) << ", Z-score =" << F(b.zscore, 7, 3);
  out << '\n';
  out << "Number of aligned residues  =" << I(b.pairs.n, 4) << '\n';
  out << "Number of aligned contacts  =" << I(b.ncontact, 4) << '\n';
  out << "RMSD =" << F(b.rmsd, 6, 2) << ", Seq identity  =" << F(b.seqid, 6, 3) << "\n\n";
  out << fmt::list_line("----- Transformation matrix for aligning struct 1 to struct 2 -----") << '\n';
  out << fmt::list_line("i          t(i)         r(i,1)         r(i,2)         r(i,3)") << '\n';
  for (int i = 0; i < 3; ++i) {
    out << I(i + 1, 2) << F(b.t[i], 18, 10) << F(b.u[i][0], 15, 10) << F(b.u[i][1], 15, 10)
        << F(b.u[i][2], 15, 10) << '\n';
  }
  out << '\n';
  if (in.set.verbose == 1) {
    // Chain identifiers in the order the best round used.
    static constexpr int kOrder[5][2][2] = {
        {{1, 2}, {1, 2}}, {{1, 2}, {1, 2}}, {{1, 2}, {2, 1}}, {{2, 1}, {2, 1}}, {{2, 1}, {1, 2}}};
    const auto& o = kOrder[b.round];
    out << "Interface Alignment (\":\" AA pairs within " << F(in.der.markcut, 3, 1)
        << " Angstrom in Ca-Ca distance)\n";
    out << "Struct 1 Chains " << id(in.s1, o[0][0]) << id(in.s1, o[0][1]) << "  vs. Struct 2 Chains "
        << id(in.s2, o[1][0]) << id(in.s2, o[1][1]) << " (AAs in upper/lower cases)\n\n";
    out << b.aln1 << '\n' << b.marker << '\n' << b.aln2 << '\n';
    out << '\n';
  }
  if (in.set.verbose == 2) {
    out << fmt::list_line("-----   Aligned Interface Residues  -----") << '\n';
    out << fmt::list_line("----- Structure 1       Structure 2 -----") << '\n';
    out << fmt::list_line("Index Ch1 Resid1 AA1    Ch2 Resid2 AA2    Distance NAC NC1 NC2 Note") << '\n';
    for (const std::string& line : b.pairlines) out << line << '\n';
    out << fmt::list_line("\":\" AA pairs within 5 Ansgtrom in Ca-Ca distance") << '\n';
    out << fmt::list_line("\"*\" Identical AA pairs") << '\n';
    out << '\n';
  }
  out << "Scoring parameters: normalization length =" << I(fmt::nint(in.der.normlen), 4)
      << ",  d0 =" << F(in.der.d0norm, 6, 3) << '\n';
  out << (in.set.seqmode == 0 ? "Alignment search mode: non-sequential\n"
                              : "Alignment search mode: sequential\n");
  out << "Best alignment search: round =" << I(b.round, 2) << ", initial =" << I(b.initial, 3) << '\n';
  return true;
}

void write_running_time(std::ostream& out, double seconds) {
  out << "Running time: " << F(seconds, 12, 5) << " seconds\n\n";
}

}  // namespace tarvix
