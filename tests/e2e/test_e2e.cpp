// End-to-end tests: the program itself on the bundled real interfaces.
#include <gtest/gtest.h>

#include "../support/program.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

const std::string kData = TARVIX_TEST_DATA;
const std::string kGolden = std::string(TARVIX_TEST_DATA) + "/../golden";


std::string pair_args(const std::string& a, const std::string& b) {
  return a + "_AB.pdb " + b + "_AB.pdb " + a + "_AB.contacts " + b + "_AB.contacts";
}

std::string mask_time(const std::string& report) {
  return std::regex_replace(report, std::regex("Running time: [^\n]*"), "Running time: (masked)");
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::vector<std::string> interfaces() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(kData)) {
    const std::string f = e.path().filename().string();
    if (f.size() > 7 && f.ends_with("_AB.pdb")) names.push_back(f.substr(0, f.size() - 7));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A complete report: every fixed line in its place and order.
void expect_well_formed(const std::string& report, const std::string& what) {
  static const char* kLines[] = {
      R"(Structure 1: .{20} Chains . .,[ \d]{4} AAs,[ \d]{4} Contacts)",
      R"(Structure 2: .{20} Chains . .,[ \d]{4} AAs,[ \d]{4} Contacts)",
      R"(T[XM]-score = [ 01]\.\d{5}(, P-value =[- ]0\.\d{4}E[+-]\d{3}, Z-score =[- \d]{3}\.\d{3})?)",
      R"(Number of aligned residues  =[ \d]{4})",
      R"(Number of aligned contacts  =[ \d]{4})",
      R"(RMSD =[ \d]{3}\.\d\d, Seq identity  = [01]\.\d{3})",
      R"( ----- Transformation matrix for aligning struct 1 to struct 2 -----)",
      R"( 1[ -]{2,}\d+\.\d{10}( +-?\d\.\d{10}){3})",
      R"( 3[ -]{2,}\d+\.\d{10}( +-?\d\.\d{10}){3})",
      R"(Scoring parameters: normalization length =[ \d]{4},  d0 =[ \d]{2}\.\d{3})",
      R"(Alignment search mode: (non-)?sequential)",
      R"(Best alignment search: round = [1-4], initial =[- \d]{3})",
      R"(Running time: [ \d]{5}\d\.\d{5} seconds)"};
  size_t at = 0;
  const auto lines = lines_of(report);
  for (const char* pattern : kLines) {
    const std::regex re(pattern);
    while (at < lines.size() && !std::regex_match(lines[at], re)) ++at;
    ASSERT_LT(at, lines.size()) << what << ": no line matching " << pattern << "\n" << report;
    ++at;
  }
}

TEST(Golden, ReportsStayByteIdentical) {
  std::ifstream cases(kGolden + "/cases.txt");
  ASSERT_TRUE(cases) << "missing " << kGolden << "/cases.txt";
  int checked = 0;
  for (std::string line; std::getline(cases, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    const std::string name = line.substr(0, tab);
    std::ifstream stored(kGolden + "/" + name + ".out");
    ASSERT_TRUE(stored) << "missing stored report " << name;
    std::stringstream want;
    want << stored.rdbuf();
    const ProgramRun r = tarvix(line.substr(tab + 1));
    EXPECT_EQ(r.status, 0) << name;
    EXPECT_EQ(mask_time(r.out), want.str()) << name;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

// An interface against itself: a perfect score, no deviation and no motion.
TEST(SelfComparison, PerfectScoreAndIdentityMotion) {
  for (const std::string name : {"1A2K", "2I25", "4GAM", "1M27"}) {
    for (const std::string opts : {"", "-s ", "-t ", "-ca "}) {
      const std::string args = opts == "-ca " ? "-ca " + name + "_AB.pdb " + name + "_AB.pdb"
                                              : opts + pair_args(name, name);
      const ProgramRun r = tarvix(args);
      ASSERT_EQ(r.status, 0) << args << "\n" << r.out;
      EXPECT_NE(r.out.find("-score = 1.00000"), std::string::npos) << args << "\n" << r.out;
      EXPECT_NE(r.out.find("RMSD =  0.00, Seq identity  = 1.000"), std::string::npos) << args;
      const std::regex row(R"( ([123]) +(-?\d+\.\d+) +(-?\d\.\d+) +(-?\d\.\d+) +(-?\d\.\d+))");
      int rows = 0;
      for (const std::string& l : lines_of(r.out)) {
        std::smatch m;
        if (!std::regex_match(l, m, row)) continue;
        const int i = std::stoi(m[1]);
        EXPECT_NEAR(std::stod(m[2]), 0.0, 1e-6) << args << ": " << l;
        for (int j = 1; j <= 3; ++j)
          EXPECT_NEAR(std::stod(m[2 + j]), i == j ? 1.0 : 0.0, 1e-6) << args << ": " << l;
        ++rows;
      }
      EXPECT_EQ(rows, 3) << args;
      EXPECT_NE(r.out.find("Best alignment search: round = 1,"), std::string::npos) << args;
    }
  }
}

// Every bundled interface, with read and with computed contacts, against another.
TEST(RealInterfaces, EveryInterfaceGivesACompleteReport) {
  const auto names = interfaces();
  ASSERT_GE(names.size(), 30u);
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string& a = names[k];
    const std::string& b = names[(k + 1) % names.size()];
    const ProgramRun r = tarvix("-v 0 " + pair_args(a, b));
    EXPECT_EQ(r.status, 0) << a << " " << b << "\n" << r.out;
    expect_well_formed(r.out, a + " vs " + b);
    const ProgramRun c = tarvix("-v 0 -ca " + a + "_AB.pdb " + b + "_AB.pdb");
    EXPECT_EQ(c.status, 0) << "-ca " << a << " " << b << "\n" << c.out;
    expect_well_formed(c.out, "-ca " + a + " vs " + b);
  }
}

TEST(Options, EveryOptionGivesACompleteReport) {
  const std::vector<std::string> options = {
      "-t", "-s", "-s -t", "-q 2", "-q 0", "-a", "-b", "-c", "-a -b", "-L 40", "-d0 3.0",
      "-dmin 1.0", "-seqd0", "-s -seqd0", "-o out.txt", "-v 0", "-v 1", "-v 2", "-s -v 1", "-t -v 2 -c"};
  for (const auto& [a, b] : {std::pair{"1CGI", "2SIC"}, std::pair{"1R6Q", "3V6Z"}}) {
    for (const std::string& opt : options) {
      const ProgramRun r = tarvix(opt + " " + pair_args(a, b));
      EXPECT_EQ(r.status, 0) << opt << "\n" << r.out;
      expect_well_formed(r.out, opt);
    }
  }
}

TEST(Options, PvalueSwitches) {
  const std::string args = pair_args("1CGI", "2SIC");
  for (const std::string on : {"", "-b", "-c", "-d0 2.5", "-t", "-s"})
    EXPECT_NE(tarvix(on + " " + args).out.find("P-value ="), std::string::npos) << on;
  for (const std::string off : {"-a", "-L 40", "-dmin 1.0", "-s -t", "-a -b"})
    EXPECT_EQ(tarvix(off + " " + args).out.find("P-value ="), std::string::npos) << off;
}

// The detail level changes the alignment block and nothing else.
TEST(Options, VerboseLevelsDifferOnlyInTheAlignmentBlock) {
  const std::string args = pair_args("1F34", "3H11");
  auto without_alignment = [](const std::string& report) {
    std::string out;
    bool skipping = false;
    for (const std::string& l : lines_of(mask_time(report))) {
      if (l.starts_with("Interface Alignment") || l.starts_with(" -----   Aligned")) skipping = true;
      if (l.starts_with("Scoring parameters")) skipping = false;
      if (!skipping) out += l + "\n";
    }
    return out;
  };
  const std::string v0 = tarvix("-v 0 " + args).out;
  const std::string v1 = tarvix("-v 1 " + args).out;
  const std::string v2 = tarvix("-v 2 " + args).out;
  EXPECT_EQ(without_alignment(v0), without_alignment(v1));
  EXPECT_EQ(without_alignment(v0), without_alignment(v2));
  EXPECT_NE(v1.find("Interface Alignment"), std::string::npos);
  EXPECT_NE(v2.find("Aligned Interface Residues"), std::string::npos);
  // The concise alignment: three lines of one length.
  const auto lines = lines_of(v1);
  for (size_t k = 0; k + 3 < lines.size(); ++k) {
    if (!lines[k].starts_with("Struct 1 Chains")) continue;
    EXPECT_EQ(lines[k + 2].size(), lines[k + 3].size());
    EXPECT_EQ(lines[k + 2].size(), lines[k + 4].size());
  }
}

TEST(CommandLine, UsageAndMisuse) {
  const ProgramRun help = tarvix("");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: Tarvix <options> pdbfile1 pdbfile2 contactfile1 contactfile2"),
            std::string::npos);
  EXPECT_EQ(tarvix("-h").status, 0);
  const ProgramRun bad = tarvix("-v 3 " + pair_args("1CGI", "2SIC"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.out.find("Usage:"), std::string::npos);
  EXPECT_EQ(tarvix("-L 0 " + pair_args("1CGI", "2SIC")).status, 2);
  EXPECT_EQ(tarvix("-L x " + pair_args("1CGI", "2SIC")).status, 2);
}

TEST(CommandLine, InputErrorsExitWithStatusOne) {
  const ProgramRun missing = tarvix("nosuch.pdb 1CGI_AB.pdb 1CGI_AB.contacts 1CGI_AB.contacts");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("nosuch.pdb"), std::string::npos) << missing.out;
  const ProgramRun few = tarvix("1CGI_AB.pdb 1CGI_AB.pdb 1CGI_AB.contacts");
  EXPECT_EQ(few.status, 1);
  EXPECT_NE(few.out.find("contactfile2"), std::string::npos) << few.out;
  // Contact files given with -ca are never opened.
  EXPECT_EQ(tarvix("-ca -v 0 1CGI_AB.pdb 2SIC_AB.pdb nosuch1 nosuch2").status, 0);
}

}  // namespace
