// The report written from a hand-made best round: its lines, the blocks that
// depend on the settings, and the early end when no alignment was found.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/report.h"

namespace tarvix {
namespace {

struct Fixture {
  Settings set;
  Derived der;
  Structure s1, s2;
  BestRound best;
  Fixture() {
    set.files = {"/data/sets/abcdefghijklmnopqrstuvwxyz.pdb", "two.pdb", "c1", "c2"};
    der.normlen = 30.5;  // printed as 31
    der.d0norm = 2.345;
    s1.len = 30;
    s2.len = 25;
    s1.chainid_read = {' ', 'A', 'B'};
    s2.chainid_read = {' ', 'C', ' '};  // one chain: the second slot stays blank
    best.pairs.n = 3;
    best.score = 0.5;
    best.pvalue = 0.00123;
    best.zscore = 4.25;
    best.ncontact = 7;
    best.rmsd = 1.234;
    best.seqid = 1.0 / 3.0;
    best.round = 2;
    best.initial = 12;
    best.u[0][0] = best.u[1][1] = best.u[2][2] = 1.0;
    best.t[1] = -12.5;
    best.aln1 = "ABC-";
    best.marker = "::. ";
    best.aln2 = "DE-F";
    best.pairlines = {"first line", "second line"};
  }
  std::string write(bool* complete = nullptr) {
    std::ostringstream out;
    const bool c = write_report(out, ReportInput{set, der, s1, s2, 123, 45, best});
    if (complete) *complete = c;
    return out.str();
  }
};

bool has_line(const std::string& report, const std::string& line) {
  return ("\n" + report).find("\n" + line + "\n") != std::string::npos;
}

TEST(Report, LinesOfAConciseReport) {
  Fixture f;
  bool complete = false;
  const std::string r = f.write(&complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(r.substr(0, 71), "\n" + std::string(69, '*') + "\n");
  for (const char* line : {
           "Structure 1: abcdefghijklmnopqrst Chains A B,  30 AAs, 123 Contacts",
           "Structure 2: two.pdb              Chains C  ,  25 AAs,  45 Contacts",
           "TX-score = 0.50000, P-value = 0.1230E-002, Z-score =  4.250",
           "Number of aligned residues  =   3",
           "Number of aligned contacts  =   7",
           "RMSD =  1.23, Seq identity  = 0.333",
           " 1      0.0000000000   1.0000000000   0.0000000000   0.0000000000",
           " 2    -12.5000000000   0.0000000000   1.0000000000   0.0000000000",
           "Interface Alignment (\":\" AA pairs within 5.0 Angstrom in Ca-Ca distance)",
           "ABC-", "::. ", "DE-F",
           "Scoring parameters: normalization length =  31,  d0 = 2.345",
           "Alignment search mode: sequential",
           "Best alignment search: round = 2, initial = 12",
       }) {
    EXPECT_TRUE(has_line(r, line)) << line;
  }
  EXPECT_EQ(r.find("Aligned Interface Residues"), std::string::npos);
  EXPECT_EQ(r.find("Running time"), std::string::npos);  // written by the caller
  EXPECT_EQ(r.substr(r.size() - 47), "Best alignment search: round = 2, initial = 12\n");

  // The chain identifiers follow the order of the best round.
  const char* order[5] = {"", "AB  vs. Struct 2 Chains C ", "AB  vs. Struct 2 Chains  C",
                          "BA  vs. Struct 2 Chains  C", "BA  vs. Struct 2 Chains C "};
  for (int round = 1; round <= 4; ++round) {
    f.best.round = round;
    EXPECT_TRUE(has_line(f.write(), std::string("Struct 1 Chains ") + order[round] +
                                        " (AAs in upper/lower cases)"))
        << round;
  }
}

TEST(Report, BlocksFollowTheSettings) {
  Fixture f;
  f.set.pvalue = false;
  f.set.verbose = 0;
  f.set.scorecode = "TM";
  const std::string r0 = f.write();
  EXPECT_TRUE(has_line(r0, "TM-score = 0.50000"));
  EXPECT_TRUE(has_line(r0, " ----- Transformation matrix for aligning struct 1 to struct 2 -----"));
  EXPECT_EQ(r0.find("Interface Alignment"), std::string::npos);
  EXPECT_EQ(r0.find("first line"), std::string::npos);

  f.set.verbose = 2;
  f.set.seqmode = 0;
  const std::string r2 = f.write();
  EXPECT_EQ(r2.find("Interface Alignment"), std::string::npos);
  const std::string table =
      " -----   Aligned Interface Residues  -----\n"
      " ----- Structure 1       Structure 2 -----\n"
      " Index Ch1 Resid1 AA1    Ch2 Resid2 AA2    Distance NAC NC1 NC2 Note\n"
      "first line\nsecond line\n"
      " \":\" AA pairs within 5 Ansgtrom in Ca-Ca distance\n"
      " \"*\" Identical AA pairs\n";
  EXPECT_NE(r2.find(table), std::string::npos);
  EXPECT_TRUE(has_line(r2, "Alignment search mode: non-sequential"));
}

TEST(Report, FewerThanThreePairsEndTheReport) {
  Fixture f;
  f.best.pairs.n = 2;
  bool complete = true;
  const std::string r = f.write(&complete);
  EXPECT_FALSE(complete);
  const std::string tail = "\n\n No significant alignment found!\n\n";
  ASSERT_GE(r.size(), tail.size());
  EXPECT_EQ(r.substr(r.size() - tail.size()), tail);
  EXPECT_EQ(r.find("-score"), std::string::npos);
}

TEST(Report, RunningTime) {
  std::ostringstream out;
  write_running_time(out, 1.5);
  EXPECT_EQ(out.str(), "Running time:      1.50000 seconds\n\n");
}

}  // namespace
}  // namespace tarvix
