// The report written from a hand-made best round: its lines, the blocks that
// depend on the settings, and the early end when no alignment was found.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "api/report.h"

namespace tarvix {
namespace {

struct Fixture {
  Result r;
  Fixture() {
    r.name1 = "/data/sets/abcdefghijklmnopqrstuvwxyz.pdb";
    r.name2 = "two.pdb";
    r.normlen = 30.5;  // printed as 31
    r.d0 = 2.345;
    r.length1 = 30;
    r.length2 = 25;
    r.contacts1 = 123;
    r.contacts2 = 45;
    r.chains1 = {'A', 'B'};
    r.chains2 = {'C', ' '};  // one chain: the second slot stays blank
    r.significant = true;
    r.aligned = 3;
    r.score = 0.5;
    r.pvalue = 0.00123;
    r.zscore = 4.25;
    r.aligned_contacts = 7;
    r.rmsd = 1.234;
    r.identity = 1.0 / 3.0;
    r.round = 2;
    r.initial = 12;
    r.rotation[0][0] = r.rotation[1][1] = r.rotation[2][2] = 1.0;
    r.translation[1] = -12.5;
    r.text.scorecode = "TX";
    r.text.pvalue = true;
    r.text.order = {'A', 'B', ' ', 'C'};
    r.text.aln1 = "ABC-";
    r.text.marker = "::. ";
    r.text.aln2 = "DE-F";
    r.text.pairlines = {"first line", "second line"};
  }
  std::string write(bool* complete = nullptr) {
    std::ostringstream out;
    const bool c = write_report(out, r);
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
  EXPECT_TRUE(has_line(r, "Struct 1 Chains AB  vs. Struct 2 Chains  C (AAs in upper/lower cases)"));
}

TEST(Report, BlocksFollowTheSettings) {
  Fixture f;
  f.r.text.pvalue = false;
  f.r.text.detail = 0;
  f.r.text.scorecode = "TM";
  const std::string r0 = f.write();
  EXPECT_TRUE(has_line(r0, "TM-score = 0.50000"));
  EXPECT_TRUE(has_line(r0, " ----- Transformation matrix for aligning struct 1 to struct 2 -----"));
  EXPECT_EQ(r0.find("Interface Alignment"), std::string::npos);
  EXPECT_EQ(r0.find("first line"), std::string::npos);

  f.r.text.detail = 2;
  f.r.text.sequential = false;
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
  f.r.significant = false;
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
