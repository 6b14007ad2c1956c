#include "driver/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/settings.h"
#include "../support/scratch.h"

namespace tarvix {
namespace {

class RunChecks : public ScratchDir {
 protected:
  RunChecks() : ScratchDir("run") {}
  // Chains A (na residues) and B (nb) on parallel lines 5 A apart, each ended by "TER" if ter.
  std::string pdb(const std::string& name, int na, int nb, bool ter = true) {
    std::ofstream f(path(name));
    for (int i = 1; i <= na + nb; ++i) {
      char line[100];
      std::snprintf(line, sizeof line, "ATOM  %5d  CA  ALA %c%4d    %8.3f%8.3f%8.3f  1.00 20.00\n", i,
                    i > na ? 'B' : 'A', i, 3.8 * (i > na ? i - na : i), i > na ? 5.0 : 0.0, 0.0);
      f << line << (ter && (i == na || i == na + nb) ? "TER\n" : "");
    }
    return path(name);
  }
  // Residue k of chain A (k = 1..n) in contact with residue na + k of chain B.
  std::string contacts(const std::string& name, int na, int n) {
    std::ofstream f(path(name));
    for (int k = 1; k <= n; ++k)
      f << "RES  " << k << " 1 " << na + k << "\nRES  " << na + k << " 1 " << k << '\n';
    return path(name);
  }
  int run_(const std::vector<std::string>& args) {
    out_.str("");
    return run(args, out_);
  }
  std::ostringstream out_;
};

TEST_F(RunChecks, CommandLineStatuses) {
  std::ostringstream usage;
  printhelp(usage);
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"-h"}, {"?", "-v", "7"}}) {
    EXPECT_EQ(run_(args), 0);
    EXPECT_EQ(out_.str(), usage.str());
  }
  for (const char* option : {"-v", "-q"})
    for (const char* v : {"3", "-1"}) {  // the usage text, status 2, nothing read
      EXPECT_EQ(run_({option, v, "none1", "none2", "none3", "none4"}), 2);
      EXPECT_EQ(out_.str(), usage.str());
    }
  const std::vector<std::string> refused[] = {
      {"-L", "0"},    {"-L", "-5"},    {"-L", "3x"},   {"-L", "2.5"}, {"-L"},        {"-d0", "0"},
      {"-d0", "-2"}, {"-dmin", "-1"}, {"-dmin", "0"}, {"-d0", "x"},  {"-v", "1.5"}, {"-q"}};
  for (std::vector<std::string> args : refused) {
    args.insert(args.begin(), "none1");
    EXPECT_EQ(run_(args), 2) << ::testing::PrintToString(args);
    const std::string out = out_.str();  // one error line, no usage text
    EXPECT_EQ(out.rfind("Error: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  }
}

TEST_F(RunChecks, InputErrorsStopWithStatusOne) {
  const std::string a = pdb("a.pdb", 8, 8), c = contacts("a.cont", 8, 5);
  std::ofstream(path("bad.pdb")) << "ATOM      1  CA  ALA A   1      1.0x0   0.000   0.000\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{path("missing.pdb"), a, c, c}, "missing.pdb"},
      {{a, a, c, path("missing.cont")}, "missing.cont"},
      {{path("bad.pdb"), a, c, c}, "columns 31-38 of line 1 of " + path("bad.pdb")}};
  for (const auto& [args, what] : cases) {
    EXPECT_EQ(run_(args), 1);
    EXPECT_NE(out_.str().find(what), std::string::npos) << out_.str();
  }
}

// The checks' own messages, word for word, then one line naming the file at fault.
TEST_F(RunChecks, LengthAndContactChecks) {
  const std::string short_one = "\n Error: the minimum length of a structure is six residues.\n\n";
  const std::string few = "Error: the number of contacts is too small. Please check your input files.\n\n";
  const std::string big = pdb("big.pdb", 8, 8), big_c = contacts("big.cont", 8, 5);
  const std::string five = pdb("five.pdb", 3, 2), five_c = contacts("five.cont", 3, 2);
  const std::string six = pdb("six.pdb", 3, 3), three_c = contacts("three.cont", 3, 3);
  std::ofstream(path("four.cont")) << "RES  1 2 4 5\nRES  2 1 5\nRES  3 1 6\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{five, big, five_c, big_c}, short_one + five + " has 5 residues (CA atoms); at least 6 are needed\n"},
      {{big, five, big_c, five_c}, short_one + five + " has 5 residues (CA atoms); at least 6 are needed\n"},
      {{five, five, five_c, five_c}, short_one + five + " has 5 residues (CA atoms); at least 6 are needed\n"},
      {{"-ca", pdb("one.pdb", 10, 0), big, "none1", "none2"},  // nothing kept; files not opened
       short_one + path("one.pdb") +
           " has one chain: -ca needs the two chains of an interface, each ended by a TER record\n"},
      {{six, big, three_c, big_c},
       "num_cont1 =  3, num_con2=  5\n" + few + three_c +
           " lists 3 contacts on the first chain (residues 1-3); at least 5 are needed\n"},
      {{big, six, big_c, path("four.cont")},
       "num_cont1 =  5, num_con2=  4\n" + few + path("four.cont") +
           " lists 4 contacts on the first chain (residues 1-3); at least 5 are needed\n"},
      {{pdb("noter.pdb", 8, 8, false), big, big_c, big_c},
       "num_cont1 =  0, num_con2=  5\n" + few + path("noter.pdb") +
           " has no TER record, so no residue is on the first side of the interface (its first "
           "chain, ended by a TER record)\n"}};
  for (const auto& [args, out] : cases) {
    EXPECT_EQ(run_(args), 1) << ::testing::PrintToString(args);
    EXPECT_EQ(out_.str(), out) << ::testing::PrintToString(args);
  }
}

// Inputs the readers accept but a comparison cannot use: the run says which
// file is at fault and why.
TEST_F(RunChecks, BadInputsNameTheFileAtFault) {
  const std::string short_one = "\n Error: the minimum length of a structure is six residues.\n\n";
  const std::string few = "Error: the number of contacts is too small. Please check your input files.\n\n";
  const std::string big = pdb("big.pdb", 8, 8), big_c = contacts("big.cont", 8, 5);
  auto file = [&](const std::string& name, const std::string& text) {
    std::ofstream(path(name)) << text;
    return path(name);
  };
  auto text_of = [&](const std::string& p) {
    std::ifstream f(p);
    return std::string(std::istreambuf_iterator<char>(f), {});
  };
  std::string big_text = text_of(big), cr = big_text, het = big_text, n_only = big_text;
  std::replace(cr.begin(), cr.end(), '\n', '\r');
  for (size_t k = 0; (k = het.find("ATOM  ", k)) != std::string::npos; k += 6) het.replace(k, 6, "HETATM");
  for (size_t k = 0; (k = n_only.find(" CA ", k)) != std::string::npos;) n_only.replace(k, 4, " N  ");
  // -ca: chain A along x, chain B 100 A away but for its first `near` residues.
  auto far = [&](const std::string& name, std::vector<int> near_to) {
    std::ostringstream t;
    for (int i = 1; i <= 12; ++i) {
      const bool b = i > 6;
      const int k = b ? i - 6 : i;
      const double y = b && k <= static_cast<int>(near_to.size()) ? 3.0 : 100.0;
      const double x = b && k <= static_cast<int>(near_to.size()) ? 20.0 * near_to[k - 1] : 20.0 * k;
      char line[100];
      std::snprintf(line, sizeof line, "ATOM  %5d  CA  ALA %c%4d    %8.3f%8.3f%8.3f  1.00 20.00\n", i,
                    b ? 'B' : 'A', i, x, b ? y : 0.0, 0.0);
      t << line << (i == 6 || i == 12 ? "TER\n" : "");
    }
    return file(name, t.str());
  };
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{file("empty.pdb", ""), big, big_c, big_c},
       "Error: the residue index 1 is outside 1..0 in line 1 of " + big_c + "\nno CA atom in " +
           path("empty.pdb") + ": the file is empty\n"},
      {{"-ca", big, "/dev/null"}, short_one + "no CA atom in /dev/null: the file is empty\n"},
      {{file("het.pdb", het), big, file("none.cont", "# nothing\n"), big_c},
       short_one + "no CA atom in " + path("het.pdb") +
           ": it has no ATOM record (16 HETATM records are not read)\n"},
      {{"-ca", file("n.pdb", n_only), big},
       short_one + "no CA atom in " + path("n.pdb") +
           ": none of its 16 ATOM records is a CA atom (atom name CA, alternate location blank, A or 1)\n"},
      {{"-ca", big, file("cr.pdb", cr)},
       short_one + path("cr.pdb") +
           " has 1 residue (CA atom): its lines end with a carriage return alone, so it reads as one line\n"},
      {{"-ca", pdb("noter.pdb", 8, 8, false), big},
       short_one + path("noter.pdb") +
           " has no TER record: -ca needs the two chains of an interface, each ended by a TER record\n"},
      {{"-ca", file("ab.pdb", text_of(pdb("x.pdb", 8, 8)).substr(0, big_text.rfind("TER"))), big},
       short_one + path("ab.pdb") + " has one chain: -ca needs the two chains of an interface, each "
                                    "ended by a TER record (8 residues after the last TER record belong to no chain)\n"},
      {{"-ca", big, far("two.pdb", {1, 2})},
       short_one + "-ca keeps only the 4 residues of " + path("two.pdb") +
           " in its first two chains (each ended by a TER record) with a CA atom closer than 8.5 A "
           "to the other; at least 6 are needed\n"},
      {{"-ca", far("four.pdb", {1, 1, 2, 2}), big},  // 6 residues, 4 contacts
       "num_cont1 =  4, num_con2= 22\n" + few + path("four.pdb") +
           " has 4 contacts on its first chain (CA atoms closer than 8.5 A to the second chain); at "
           "least 5 are needed\n"},
      {{big, big, file("empty.cont", ""), big_c},
       "num_cont1 =  0, num_con2=  5\n" + few + path("empty.cont") +
           " has no contact record (a line starting with RES and two blanks)\n"},
      {{big, big, big_c, file("cr.cont", "# a\rRES  1 1 9\rRES  9 1 1\r")},
       "num_cont1 =  5, num_con2=  0\n" + few + path("cr.cont") +
           " has no contact record (a line starting with RES and two blanks): its lines end with a "
           "carriage return alone, so it reads as one line\n"},
      {{file("terfirst.pdb", "TER\n" + big_text), big, big_c, big_c},
       "num_cont1 =  0, num_con2=  5\n" + few + "the first chain of " + path("terfirst.pdb") +
           " is empty: its first TER record comes before any CA atom\n"}};
  for (const auto& [args, out] : cases) {
    EXPECT_EQ(run_(args), 1) << ::testing::PrintToString(args);
    EXPECT_EQ(out_.str(), out) << ::testing::PrintToString(args);
  }
  EXPECT_EQ(run_({big, big, big_c, file("cr.cont", "RES  1 1 9\rRES  9 1 1\r")}), 1);
  EXPECT_EQ(out_.str(), "Error: cannot read a contact partner \"9\\x0dRES\" in line 1 of " + path("cr.cont") +
                            "\n" + path("cr.cont") +
                            ": its lines end with a carriage return alone, so it reads as one line\n");
  // Both structures at fault: one line, each named once.
  EXPECT_EQ(run_({"-ca", path("empty.pdb"), path("noter.pdb")}), 1);
  EXPECT_EQ(out_.str(), short_one + "no CA atom in " + path("empty.pdb") + ": the file is empty; " +
                            path("noter.pdb") + " has no TER record: -ca needs the two chains of "
                                                "an interface, each ended by a TER record\n");
  EXPECT_EQ(run_({"-ca", path("empty.pdb"), path("empty.pdb")}), 1);
  EXPECT_EQ(out_.str(), short_one + "no CA atom in " + path("empty.pdb") + ": the file is empty\n");
}

// Warnings of the contact reader come before the report, which counts a
// partner listed twice once.
TEST_F(RunChecks, ContactWarningsBeforeTheReport) {
  const std::string a = pdb("a.pdb", 8, 8);
  std::ofstream(path("twice.cont")) << "RES  1 2 9 9\nRES  9 1 1\nRES  2 1 10\nRES  10 1 2\nRES  3 1 11\n"
                                       "RES  11 1 3\nRES  4 1 12\nRES  12 1 4\nRES  5 2 13 2\nRES  13 1 5\n";
  EXPECT_EQ(run_({"-v", "0", a, a, path("twice.cont"), path("twice.cont")}), 0);
  const std::string warnings =
      "Warning: line 1 of " + path("twice.cont") +
      " lists partner 9 of residue 1 more than once; it counts once\n"
      "Warning: " + path("twice.cont") +
      " lists contacts within one side of the interface, first in line 9 (residues 5 and 2); they are kept\n";
  EXPECT_EQ(out_.str().substr(0, 2 * warnings.size()), warnings + warnings) << out_.str();
  EXPECT_NE(out_.str().find("16 AAs,   6 Contacts"), std::string::npos) << out_.str();
}

TEST_F(RunChecks, PvalueWarningBelowFifteenResidues) {
  const std::string c = contacts("c.cont", 7, 5);
  EXPECT_EQ(run_({pdb("a.pdb", 7, 7), pdb("b.pdb", 7, 8), c, c}), 0);
  EXPECT_EQ(out_.str().find("Warning: a minimum of 15 residues is required for p-value calculations. "
                            "P-value not caculated!\n"),
            0u)
      << out_.str();  // before the banner
  EXPECT_EQ(run_({pdb("a.pdb", 7, 8), pdb("b.pdb", 7, 8), c, c}), 0);
  EXPECT_EQ(out_.str().find("Warning"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("P-value ="), std::string::npos) << out_.str();
}

}  // namespace
}  // namespace tarvix
