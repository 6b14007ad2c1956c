// The library against the stored classic reports: the report written from a
// Result is the program's, and every field of the Result is the value the
// report prints.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>

#include "api/format.h"
#include "api/tarvix.h"
#include "driver/settings.h"
#include "structure/structure.h"

namespace tarvix {
namespace {

const std::string kData = TARVIX_TEST_DATA;
const std::string kGolden = kData + "/../golden";

struct Case {
  std::string name;
  std::vector<std::string> args;
};

std::vector<Case> golden_cases() {
  std::vector<Case> cases;
  std::ifstream in(kGolden + "/cases.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    Case c;
    c.name = line.substr(0, line.find('\t'));
    std::istringstream words(line.substr(line.find('\t') + 1));
    for (std::string w; words >> w;) c.args.push_back(w);
    cases.push_back(c);
  }
  return cases;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The value after "label" in the report, up to the next comma or line end.
std::string field(const std::string& report, const std::string& label) {
  const size_t at = report.find(label);
  if (at == std::string::npos) return "(none)";
  const size_t from = at + label.size();
  return report.substr(from, report.find_first_of(",\n", from) - from);
}

TEST(Library, ResultsMatchTheStoredReports) {
  const auto cases = golden_cases();
  ASSERT_GE(cases.size(), 20u);
  int detailed = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream usage;
    const Settings set = *parse_arguments(c.args, usage);
    auto path = [&](size_t k) { return kData + "/" + set.file(k); };
    const Interface a = set.contmode ? Interface::read_ca(path(0)) : Interface::read(path(0), path(2));
    const Interface b = set.contmode ? Interface::read_ca(path(1)) : Interface::read(path(1), path(3));
    const Result r = compare(a, b, from_settings(set));
    const std::string want = slurp(kGolden + "/" + c.name + ".out");
    std::string got = report(r, 0.0);
    got = std::regex_replace(got, std::regex("Running time: [^\n]*"), "Running time: (masked)");
    // The stored report starts with the readers' warnings (none here).
    EXPECT_EQ(got, want);
    if (!r.significant) continue;

    const std::string code = r.text.scorecode + "-score =";
    EXPECT_EQ(field(want, code), fmt::F(r.score, 8, 5));
    if (r.pvalue) {
      EXPECT_EQ(field(want, "P-value ="), fmt::E(*r.pvalue));
      EXPECT_EQ(field(want, "Z-score ="), fmt::F(*r.zscore, 7, 3));
    } else {
      EXPECT_EQ(want.find("P-value ="), std::string::npos);
    }
    EXPECT_EQ(field(want, "Number of aligned residues  ="), fmt::I(r.aligned, 4));
    EXPECT_EQ(field(want, "Number of aligned contacts  ="), fmt::I(r.aligned_contacts, 4));
    EXPECT_EQ(field(want, "RMSD ="), fmt::F(r.rmsd, 6, 2));
    EXPECT_EQ(field(want, "Seq identity  ="), fmt::F(r.identity, 6, 3));
    EXPECT_EQ(field(want, "normalization length ="), fmt::I(fmt::nint(r.normlen), 4));
    EXPECT_EQ(field(want, " d0 ="), fmt::F(r.d0, 6, 3));
    EXPECT_EQ(field(want, "round ="), fmt::I(r.round, 2));
    EXPECT_EQ(field(want, "initial ="), fmt::I(r.initial, 3));
    ASSERT_EQ(static_cast<int>(r.pairs.size()), r.aligned);

    // Each pair: the moved CA of structure 1 lies at the pair's distance from
    // the CA of structure 2, which checks the positions as read, the rotation
    // and the translation together.
    for (const AlignedPair& p : r.pairs) {
      const auto x = a.ca(p.index1), y = b.ca(p.index2);
      double d2 = 0.0;
      for (int i = 0; i < 3; ++i) {
        const double moved = r.translation[i] + r.rotation[i][0] * x[0] + r.rotation[i][1] * x[1] +
                             r.rotation[i][2] * x[2];
        d2 += (moved - y[i]) * (moved - y[i]);
      }
      EXPECT_NEAR(std::sqrt(d2), p.distance, 1e-3) << p.index1 << " " << p.index2;
    }

    // The detailed table lists the same pairs, residue by residue.
    if (r.text.detail != 2) continue;
    ++detailed;
    const std::regex row(R"( *(\d+)  +(\S) +(.{5})  (...)    +(\S) +(.{5})  (...)    +(\d+\.\d{3}) .*)");
    std::istringstream lines(want);
    size_t k = 0;
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (!std::regex_match(line, m, row)) continue;
      ASSERT_LT(k, r.pairs.size());
      const AlignedPair& p = r.pairs[k++];
      EXPECT_EQ(m[2].str()[0], p.residue1.chain) << line;
      EXPECT_EQ(m[3].str(), p.residue1.number) << line;
      EXPECT_EQ(m[4].str(), fmt::aa1toaa3(p.residue1.code)) << line;
      EXPECT_EQ(m[5].str()[0], p.residue2.chain) << line;
      EXPECT_EQ(m[6].str(), p.residue2.number) << line;
      EXPECT_EQ(m[7].str(), fmt::aa1toaa3(p.residue2.code)) << line;
      const std::string d = fmt::F(p.distance, 6, 3);
      EXPECT_EQ(m[8].str(), d.substr(d.find_first_not_of(' '))) << line;
    }
    EXPECT_EQ(k, r.pairs.size());
  }
  EXPECT_GE(detailed, 5);
}

TEST(Library, RefusalsCarryTheClassicMessages) {
  const Interface a = Interface::read(kData + "/1A2K_AB.pdb", kData + "/1A2K_AB.contacts");
  Options bad;
  bad.length = 0;
  try {
    compare(a, a, bad);
    ADD_FAILURE() << "-L 0 accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), ExitCode::kUsage);
    EXPECT_NE(std::string(e.what()).find("-L"), std::string::npos);
  }
  bad = Options{};
  bad.d0 = -1.0;
  EXPECT_THROW(compare(a, a, bad), Error);

  // Five residues.
  Structure s;
  s.len = 5;
  s.nchain = 2;
  s.chains[1] = 3;
  s.chains[2] = 5;
  const Interface tiny = Interface::from_structure(s, "tiny.pdb");
  try {
    compare(a, tiny, Options{});
    ADD_FAILURE() << "a five-residue interface was compared";
  } catch (const Error& e) {
    // The classic message, then the cause.
    EXPECT_EQ(e.printed(),
              "\n Error: the minimum length of a structure is six residues.\n\n"
              "the structure has 5 residues (CA atoms); at least 6 are needed\n");
  }
}

}  // namespace
}  // namespace tarvix
