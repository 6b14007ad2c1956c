#include "structure/readers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "structure/error.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// One ATOM record in the fixed columns of a coordinate file.
std::string atom(const char* name, char alt, const char* res, char chain, int resseq, double x,
                 double y, double z, double occ = 1.0) {
  char b[100];
  std::snprintf(b, sizeof b, "ATOM  %5d %4.4s%c%3.3s %c%4d    %8.3f%8.3f%8.3f%6.2f%6.2f", 1, name,
                alt, res, chain, resseq, x, y, z, occ, 20.0);
  return b;
}
std::string ca(char chain, int resseq, double x, double y, double z) {
  return atom(" CA ", ' ', "GLY", chain, resseq, x, y, z);
}
// Overwrites the columns from `col` (1-based) with `text`.
std::string put(std::string line, int col, const std::string& text) {
  line.resize(std::max(line.size(), static_cast<size_t>(col - 1) + text.size()), ' ');
  line.replace(static_cast<size_t>(col - 1), text.size(), text);
  return line;
}

class Readers : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tarvix_readers_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  // Reads a coordinate file; returns what was written to the output stream.
  std::string read(const std::string& text, Structure& s, int contmode = 0) {
    std::ostringstream out;
    readpdbfile(write("a.pdb", text), s, contmode, out);
    return out.str();
  }
  template <class F>
  std::string error_of(F&& f) {
    try {
      f();
    } catch (const Error& e) {
      EXPECT_EQ(e.code(), ExitCode::kDataError);
      return e.what();
    }
    ADD_FAILURE() << "no error";
    return "";
  }
  fs::path dir_;
};

TEST_F(Readers, PdbRecordsFieldsAndFilters) {
  std::string t = "TER\n";                                        // before any atom: "_", end 0
  t += atom(" N  ", ' ', "GLY", 'A', 1, 0, 0, 0) + "\n";          // not CA, but sets chain A
  t += put(put(put(put(ca('A', 1, 0, 0, 0), 31, "   12345"), 39, " 1 2.5  "), 47, std::string(8, ' ')),
           55, "   150") + "\n";                                  // implied decimals, blanks
  t += put(atom(" CA ", 'A', "ALA", 'A', 2, 2, 0, 0), 27, "B") + "\n";  // alternate A kept
  t += atom(" CA ", 'B', "ALA", 'A', 2, 3, 0, 0) + "\n";          // alternate B of the same
  t += atom(" CA ", 'B', "SER", 'A', 3, 4, 0, 0) + "\n";          // only alternate B: none
  t += atom("  CA", '1', "ala", 'A', 4, 5, 0, 0) + "\n";          // lower case: X
  t += "HETATM" + atom("CA  ", ' ', " CA", 'A', 5, 6, 0, 0).substr(6) + "\n";  // ignored
  t += atom("CA  ", ' ', " CA", 'A', 6, 7, 0, 0) + "\n";          // calcium ion in ATOM: kept
  t += "TER\n";
  t += atom(" CA ", ' ', "MSE", ' ', 7, 8, 0, 0, -2.5) + "\n";    // blank chain id
  t += "TER\nEND\n";
  Structure s;
  EXPECT_EQ(read(t, s), "");
  ASSERT_EQ(s.len, 5);
  ASSERT_EQ(s.nchain, 3);
  EXPECT_EQ(s.chains[1], 0);
  EXPECT_EQ(s.chains[2], 4);
  EXPECT_EQ(s.chains[3], 5);
  EXPECT_EQ(std::string(&s.chainid[1], 3), "_A_");
  EXPECT_EQ(std::string(&s.seq[1], 5), "GAXXX");
  EXPECT_EQ(std::string(s.resname[3].data(), 3), "ala");
  EXPECT_EQ(std::string(s.resnum[2].data(), 5), "   2B");
  EXPECT_EQ(s.ca[1], (Coord{12.345, 12.5, 0.0}));
  EXPECT_EQ(s.ca[2][0], 2.0);
  EXPECT_EQ(s.ca[3][0], 5.0);
  EXPECT_EQ(s.sec[1], 2);   // 1.50 rounds away from zero
  EXPECT_EQ(s.sec[2], 1);
  EXPECT_EQ(s.sec[5], -3);  // -2.50 too
}

TEST_F(Readers, ResidueLimitIsReachedOnlyByA5001stAtom) {
  for (int n : {5000, 5001}) {
    std::string t;
    for (int i = 1; i <= n; ++i) t += ca('A', i % 10000, i * 0.01, 0, 0) + "\n";
    t += put(ca('A', 1, 0, 0, 0), 31, "bad") + "\nTER\n";  // never read after a stop
    if (n == 5000) t = t.substr(0, t.rfind("ATOM")) + "TER\n";
    Structure s;
    const std::string out = read(t, s);
    EXPECT_EQ(s.len, 5000);
    if (n == 5000) {
      EXPECT_EQ(out, "");
      EXPECT_EQ(s.nchain, 1);
      EXPECT_EQ(s.chains[1], 5000);
    } else {
      EXPECT_EQ(out, " Warning: total number of residues beyond        5000\n");
      EXPECT_EQ(s.nchain, 0);
    }
  }
}

TEST_F(Readers, PdbRefusals) {
  std::string twelve;
  for (int i = 1; i <= 11; ++i) twelve += ca('A', i, i, 0, 0) + "\n";
  const std::string bad_x = twelve + put(ca('A', 12, 0, 0, 0), 31, "  12.3x5") + "\n";
  const std::string p = (dir_ / "a.pdb").string();
  Structure s;
  EXPECT_EQ(error_of([&] { read(bad_x, s); }),
            "Error: cannot read the x coordinate in columns 31-38 of line 12 of " + p + ": \"  12.3x5\"");
  // Fields are read before the atom name is tested.
  EXPECT_NE(error_of([&] { read(put(atom(" N  ", ' ', "GLY", 'A', 1, 0, 0, 0), 61, "  x   "), s); })
                .find("temperature factor in columns 61-66 of line 1 of " + p),
            std::string::npos);
  EXPECT_NE(error_of([&] { read(put(ca('A', 1, 0, 0, 0), 7, "  1a "), s); }).find("columns 7-11"),
            std::string::npos);
  std::string ters;
  for (int k = 0; k < 10; ++k) ters += ca('A', k, k, 0, 0) + "\nTER\n";
  Structure ten;
  read(ters, ten);
  EXPECT_EQ(ten.nchain, 10);
  const std::string msg = error_of([&] { Structure t; read(ters + "TER\n", t); });
  EXPECT_NE(msg.find("more than 10"), std::string::npos) << msg;
  EXPECT_NE(msg.find("line 21"), std::string::npos) << msg;
  EXPECT_NE(error_of([&] { readpdbfile((dir_ / "none.pdb").string(), s, 0); }).find("none.pdb"),
            std::string::npos);
  EXPECT_NE(error_of([&] { readpdbfile(dir_.string(), s, 0); }).find(dir_.string()), std::string::npos);
}

TEST_F(Readers, ContactFileRecords) {
  Structure s;
  s.len = 5;
  s.contnum[3] = 7;  // cleared by the reader
  readcontfile(write("a.cont", "# header\n"
                               "RES 3 1 1\n"  // one blank after RES: not a record
                               "RES  1 2 2,3\n"
                               "RES  2 3 1 , 4 5\n"
                               "RES  2 1 5\n"  // replaces the earlier record
                               "RES  4 0\n"
                               "RES  5,1,2\n"),
               s);
  EXPECT_EQ((std::array<int, 5>{s.contnum[1], s.contnum[2], s.contnum[3], s.contnum[4], s.contnum[5]}),
            (std::array<int, 5>{2, 1, 0, 0, 1}));
  EXPECT_EQ(s.partner(1, 1), 2);
  EXPECT_EQ(s.partner(1, 2), 3);
  EXPECT_EQ(s.partner(2, 1), 5);
  EXPECT_EQ(s.partner(5, 1), 2);
}

TEST_F(Readers, ContactFileRefusals) {
  const std::string beyond = "RES  1 1" + std::string(992, ' ') + " 2";  // partner after column 1000
  const std::pair<std::string, const char*> cases[] = {
      {"RES  1 101", "101"},         {"RES  6 1 1", "outside 1..5"}, {"RES  0 0", "outside 1..5"},
      {"RES  1 1 6", "outside 1..5"}, {"RES  1 1 0", "outside 1..5"}, {"RES  1 3 2 3", "announces 3"},
      {"RES  1 x 2", "cannot read"}, {"RES  1 1 2.0", "cannot read"}, {"RES  ", "missing"},
      {beyond, "first 1000 columns"}};
  for (const auto& [record, what] : cases) {
    Structure s;
    s.len = 5;
    const std::string p = write("a.cont", "header\n" + record + "\n");
    const std::string msg = error_of([&] { readcontfile(p, s); });
    EXPECT_NE(msg.find(what), std::string::npos) << record << ": " << msg;
    EXPECT_NE(msg.find("line 2 of " + p), std::string::npos) << msg;
  }
  Structure s;
  EXPECT_NE(error_of([&] { readcontfile((dir_ / "none").string(), s); }).find("none"), std::string::npos);
  EXPECT_NE(error_of([&] { readcontfile(dir_.string(), s); }).find(dir_.string()), std::string::npos);
}

TEST_F(Readers, ContactsFromCoordinates) {
  Structure s;
  s.len = 5;
  s.nchain = 3;
  s.chains = {0, 2, 4, 5};
  s.ca[1] = {0, 0, 0};
  s.ca[2] = {1, 0, 0};
  s.ca[3] = {0, 8.5, 0};  // exactly 8.5 from residue 1: no contact
  s.ca[4] = {0, 0, 3};
  s.ca[5] = {0, 0, 0.5};  // third chain takes no part
  calccontact(s, 8.5, "x.pdb");
  EXPECT_EQ((std::array<int, 5>{s.contnum[1], s.contnum[2], s.contnum[3], s.contnum[4], s.contnum[5]}),
            (std::array<int, 5>{1, 1, 0, 2, 0}));
  EXPECT_EQ(s.partner(1, 1), 4);
  EXPECT_EQ(s.partner(4, 1), 1);
  EXPECT_EQ(s.partner(4, 2), 2);

  Structure crowd;  // one residue with 101 partners
  crowd.len = crowd.chains[2] = 102;
  crowd.chains[1] = 1;
  EXPECT_NE(error_of([&] { calccontact(crowd, 8.5, "x.pdb"); }).find("more than 100"), std::string::npos);
}

TEST_F(Readers, ContactModeKeepsInterfaceResidues) {
  const std::string t = ca('A', 1, 0, 0, 0) + "\n" + ca('A', 2, 100, 0, 0) + "\n" + ca('A', 3, 0, 5, 0) +
                        "\nTER\n" + ca('B', 4, 0, 0, 5) + "\n" + ca('B', 5, 100, 100, 100) + "\nTER\n" +
                        ca('C', 6, 0, 0, 1) + "\n";  // after the last TER: always dropped
  Structure s;
  read(t, s, 1);
  ASSERT_EQ(s.len, 3);
  EXPECT_EQ(s.nchain, 2);
  EXPECT_EQ(s.chains[1], 2);
  EXPECT_EQ(s.chains[2], 3);
  EXPECT_EQ(s.ca[2], (Coord{0, 5, 0}));
  EXPECT_EQ(std::string(s.resnum[3].data(), 5), "   4 ");
  EXPECT_EQ((std::array<int, 3>{s.contnum[1], s.contnum[2], s.contnum[3]}), (std::array<int, 3>{1, 1, 2}));
  EXPECT_EQ(s.partner(1, 1), 3);
  EXPECT_EQ(s.partner(2, 1), 3);
  EXPECT_EQ(s.partner(3, 1), 1);
  EXPECT_EQ(s.partner(3, 2), 2);

  Structure one;  // a single chain has no contacts: everything is dropped
  read(ca('A', 1, 0, 0, 0) + "\n" + ca('A', 2, 1, 0, 0) + "\nTER\n", one, 1);
  EXPECT_EQ(one.len, 0);
  EXPECT_EQ(one.nchain, 1);
  EXPECT_EQ(one.chains[1], 0);
}

}  // namespace
}  // namespace tarvix
