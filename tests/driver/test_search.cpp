// Searches from the command line: rows equal to single comparisons, threads
// that change nothing, a killed run resumed, bad entries in a list, and the
// superposition file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "api/tarvix.h"
#include "batch/table.h"
#include "driver/run.h"
#include "scoring/scoring.h"
#include "../support/scratch.h"

namespace tarvix {
namespace {

const std::string kData = TARVIX_TEST_DATA;

class Search : public ScratchDir {
 protected:
  Search() : ScratchDir("search") {}
  std::string list(const std::string& name, const std::vector<std::string>& lines) {
    std::ofstream f(path(name));
    for (const std::string& l : lines) f << l << '\n';
    return path(name);
  }
  // Runs the command line; the table (standard output of a search) is returned.
  std::string run_(std::vector<std::string> args) {
    std::FILE* table = std::tmpfile();
    out_.str("");
    err_.str("");
    args.push_back("--quiet");
    status_ = run(args, out_, table, err_);
    std::rewind(table);
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, table)) > 0;) text.append(buf, n);
    std::fclose(table);
    return text;
  }
  static std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::ostringstream out_, err_;
  int status_ = -1;
};

const std::vector<std::string> kSome = {"1A2K_AB", "1CGI_AB", "1M27_AB", "2SIC_AB", "3H11_AB", "7CEI_AB"};

std::vector<std::string> pdbs(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& n : names) out.push_back(kData + "/" + n + ".pdb");
  return out;
}

TEST_F(Search, RowsEqualSingleComparisonsOnAnyNumberOfThreads) {
  const std::string l = list("some", pdbs(kSome));
  for (const std::vector<std::string>& opts : std::vector<std::vector<std::string>>{{}, {"-s", "-t"}, {"-ca"}}) {
    std::vector<std::string> args = {"--all-vs-all", l, "--threads", "1"};
    args.insert(args.end(), opts.begin(), opts.end());
    const std::string one = run_(args);
    ASSERT_EQ(status_, 0) << err_.str();
    args[3] = "2";
    EXPECT_EQ(run_(args), one);
    args[3] = "3";
    args.push_back("--format");
    args.push_back("json");
    const std::string json = run_(args);

    // Each row is the library's comparison of that pair (which the classic
    // report equals, see the library tests); the JSON rows carry the same.
    std::istringstream rows(one), jrows(json);
    std::string row, jrow;
    std::getline(rows, row);
    EXPECT_EQ(row + '\n', batch::tsv_header());
    Options o;
    o.sequential = opts.empty() || opts[0] != "-s";
    o.score = opts.size() == 2 ? ScoreType::TM : ScoreType::TX;
    int n = 0;
    for (size_t i = 0; i < kSome.size(); ++i)
      for (size_t j = i + 1; j < kSome.size(); ++j, ++n) {
        auto read = [&](size_t k) {
          const std::string p = pdbs(kSome)[k];
          return opts == std::vector<std::string>{"-ca"} ? Interface::read_ca(p)
                                                          : Interface::read(p, p.substr(0, p.size() - 4) + ".contacts");
        };
        const Result r = compare(read(i), read(j), o);
        ASSERT_TRUE(std::getline(rows, row));
        ASSERT_TRUE(std::getline(jrows, jrow));
        EXPECT_EQ(row + '\n', batch::tsv_row(r));
        EXPECT_EQ(jrow + '\n', batch::json_row(r));
      }
    EXPECT_FALSE(std::getline(rows, row));
    EXPECT_EQ(n, 15);
  }
}

TEST_F(Search, KilledRunResumesToTheSameTable) {
  const std::string q = list("q", pdbs({"1A2K_AB", "2SIC_AB"}));
  const std::string t = list("t", pdbs(kSome));
  for (const char* format : {"tsv", "json"}) {
    for (bool top : {false, true}) {
      std::vector<std::string> args = {"--search", q, "--targets", t, "--format", format, "--out", path("full")};
      if (top) args.insert(args.end(), {"--top", "2"});
      run_(args);
      ASSERT_EQ(status_, 0) << err_.str();
      const std::string full = slurp(path("full"));
      // Killed after a third of the table, in the middle of a line.
      const std::string part = full.substr(0, full.size() / 3);
      std::ofstream(path("part"), std::ios::binary) << part;
      args[7] = path("part");
      args.push_back("--resume");
      run_(args);
      ASSERT_EQ(status_, 0) << err_.str();
      EXPECT_EQ(slurp(path("part")), full) << format << " top " << top;
      run_(args);  // nothing left to do
      EXPECT_EQ(slurp(path("part")), full);
    }
  }
  // A file that is not a table is left alone.
  std::ofstream(path("notes"), std::ios::binary) << "my notes\n";
  run_({"--search", q, "--targets", t, "--out", path("notes"), "--resume"});
  EXPECT_EQ(status_, 1);
  EXPECT_EQ(slurp(path("notes")), "my notes\n");
}

TEST_F(Search, BadEntriesAreNamedAndTheRestGoesOn) {
  std::ofstream(path("broken.pdb")) << "ATOM      1  CA  ALA A   1      1.0x0   0.000   0.000\n";
  std::vector<std::string> lines = pdbs({"1A2K_AB", "1CGI_AB"});
  lines.insert(lines.begin() + 1, path("missing.pdb"));
  lines.insert(lines.begin() + 2, path("broken.pdb") + " " + kData + "/1A2K_AB.contacts");
  const std::string t = list("t", lines);
  const std::string table = run_({"--search", kData + "/2SIC_AB.pdb", "--targets", t, "--reports", path("rep")});
  EXPECT_EQ(status_, 1);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);  // header and the two good targets
  const std::string err = err_.str();
  EXPECT_NE(err.find("missing.pdb"), std::string::npos) << err;
  EXPECT_NE(err.find("broken.pdb"), std::string::npos) << err;
  EXPECT_NE(err.find("2 of 4 comparisons failed (2 interfaces could not be read)"), std::string::npos) << err;
  // The reports of the good pairs are the classic reports.
  const std::string rep = slurp(path("rep/2SIC_AB_1CGI_AB.txt"));
  EXPECT_NE(rep.find("Structure 2: 1CGI_AB.pdb"), std::string::npos) << rep;
  EXPECT_NE(rep.find("Running time:"), std::string::npos);

  // Misuse: a usage error, nothing run.
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--search", t},
           {"--targets", t},
           {"--all-vs-all", t, "--threads", "0"},
           {"--all-vs-all", t, "--format", "xml"},
           {"--all-vs-all", t, "--resume"},
           {"--all-vs-all", t, "x.pdb"},
           {"--top", "3", "a.pdb", "b.pdb", "a.c", "b.c"},
           {"--frobnicate"}}) {
    run_(bad);
    EXPECT_EQ(status_, 2) << ::testing::PrintToString(bad) << err_.str() << out_.str();
  }
}

TEST_F(Search, BlocksSplitAJobWithoutOverlap) {
  const std::string l = list("some", pdbs(kSome));
  const std::string full = run_({"--all-vs-all", l});
  ASSERT_EQ(status_, 0);
  // Rows 0..2 and 3..5 of the pair matrix, columns split at 4.
  std::string joined;
  for (const char* b : {"0:3,0:4", "0:3,4:6", "3:6,0:6"}) {
    std::string part = run_({"--all-vs-all", l, "--block", b});
    ASSERT_EQ(status_, 0) << err_.str();
    joined += part.substr(part.find('\n') + 1);
  }
  // The first query's rows come in two parts; put them in target order.
  std::vector<std::string> want, got;
  std::istringstream a(full.substr(full.find('\n') + 1)), b(joined);
  for (std::string line; std::getline(a, line);) want.push_back(line);
  for (std::string line; std::getline(b, line);) got.push_back(line);
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);
  for (const char* bad : {"3:1,0:2", "1:2", "-1:2,0:3", "a:b,c:d"}) {
    run_({"--all-vs-all", l, "--block", bad});
    EXPECT_EQ(status_, 2) << bad;
  }
}

// Columns after query and target.
std::vector<std::string> values(const std::string& table) {
  std::vector<std::string> out;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) out.push_back(line.substr(line.find('\t', line.find('\t') + 1)));
  return out;
}

TEST_F(Search, ComplexesGiveTheRowsOfTheirInterfaceFiles) {
  if (std::system("command -v mkdssp >/dev/null 2>&1") != 0) GTEST_SKIP() << "mkdssp not installed";
  const std::vector<std::string> names = {"7CEI", "2I25", "1KTZ"};
  std::vector<std::string> complexes, interfaces;
  for (const std::string& n : names) {
    complexes.push_back(kData + "/complexes/" + n + ".pdb.gz:A:B");
    interfaces.push_back(kData + "/" + n + "_AB.pdb");
  }
  const std::string from_files = run_({"--all-vs-all", list("files", interfaces), "-s"});
  ASSERT_EQ(status_, 0) << err_.str();
  const std::string from_complexes = run_({"--complex", "--all-vs-all", list("complexes", complexes), "-s"});
  ASSERT_EQ(status_, 0) << err_.str();
  EXPECT_EQ(values(from_complexes), values(from_files));
  EXPECT_NE(from_complexes.find("7CEI.pdb.gz:A:B\t"), std::string::npos) << from_complexes;
}

// CA atoms of the superposition file by chain and residue number.
std::map<std::pair<char, std::string>, Coord> cas(const std::string& file) {
  std::map<std::pair<char, std::string>, Coord> out;
  std::ifstream in(file);
  for (std::string l; std::getline(in, l);)
    if (l.rfind("ATOM", 0) == 0 && l.substr(12, 4) == " CA ")
      out[{l[21], l.substr(22, 5)}] = {std::stod(l.substr(30, 8)), std::stod(l.substr(38, 8)), std::stod(l.substr(46, 8))};
  return out;
}

TEST_F(Search, SuperpositionFileGivesTheReportedFit) {
  const std::string a = kData + "/1A2K_AB", b = kData + "/1AZS_AB";
  run_({a + ".pdb", b + ".pdb", a + ".contacts", b + ".contacts", "--superpose", path("sup.pdb")});
  ASSERT_EQ(status_, 0) << out_.str() << err_.str();
  const Result r = compare(Interface::read(a + ".pdb", a + ".contacts"), Interface::read(b + ".pdb", b + ".contacts"),
                           Options{});
  const auto ca = cas(path("sup.pdb"));
  // Both structures have chains A and B: structure 1's become C and D.
  std::vector<Coord> x1, x2;
  for (const AlignedPair& p : r.pairs) {
    const char c1 = p.residue1.chain == 'A' ? 'C' : 'D';
    ASSERT_TRUE(ca.count({c1, p.residue1.number}));
    ASSERT_TRUE(ca.count({p.residue2.chain, p.residue2.number}));
    x1.push_back(ca.at({c1, p.residue1.number}));
    x2.push_back(ca.at({p.residue2.chain, p.residue2.number}));
    EXPECT_NEAR(std::sqrt(dist2(x1.back(), x2.back())), p.distance, 2e-3);
  }
  // The reported RMSD is that of the least-squares fit of the aligned pairs,
  // which the moved coordinates give back.
  double u[3][3], t[3], rms = 0.0;
  int status = 0;
  u3b(unit_weights(), x1.data(), x2.data(), static_cast<int>(x1.size()), 0, rms, u, t, status);
  EXPECT_NEAR(std::sqrt(rms / static_cast<double>(x1.size())), r.rmsd, 5e-3);
}

}  // namespace
}  // namespace tarvix
