#include "structure/readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "structure/error.h"
#include "../support/scratch.h"

namespace tarvix {
namespace {

// One ATOM record in the fixed columns of a coordinate file.
std::string atom(const char* name, char alt, const char* res, char chain, int resseq, double x,
                 double occ = 1.0) {
  char b[100];
  std::snprintf(b, sizeof b, "ATOM  %5d %4.4s%c%3.3s %c%4d    %8.3f%8.3f%8.3f%6.2f%6.2f\n", 1, name,
                alt, res, chain, resseq, x, 0.0, 0.0, occ, 20.0);
  return b;
}
std::string ca(char chain, int resseq, double x) { return atom(" CA ", ' ', "GLY", chain, resseq, x); }
// Overwrites the columns from col (1-based) with text.
std::string put(std::string line, int col, const std::string& text) {
  return line.replace(static_cast<size_t>(col - 1), text.size(), text);
}
std::vector<int> counts(const Structure& s, int n) {
  return std::vector<int>(s.contnum.begin() + 1, s.contnum.begin() + 1 + n);
}
class Readers : public ScratchDir {
 protected:
  Readers() : ScratchDir("readers") {}
  std::string read(const std::string& text, Structure& s, int contmode = 0) {  // returns the output
    std::ostringstream out;
    readpdbfile(write("a.pdb", text), s, contmode, out);
    return out.str();
  }
  const std::string pdb_ = path("a.pdb");
};

TEST_F(Readers, PdbRecordsFieldsAndFilters) {
  const std::string t =
      "TER\n"                                                           // before any atom: "_", end 0
      + atom(" N  ", ' ', "GLY", 'A', 1, 0)                             // not CA, sets chain A
      + put(put(put(ca('A', 1, 0), 31, "   12345 1 2.5          "), 55, "   150"), 27, "B")
      + atom(" CA ", 'A', "ALA", 'A', 2, 2) + atom(" CA ", 'B', "ALA", 'A', 2, 3)  // one residue
      + atom(" CA ", 'B', "SER", 'A', 3, 4)                             // only alternate B: none
      + atom("  CA", '1', "ala", 'A', 4, 5)                             // lower case: X
      + "HETATM" + atom("CA  ", ' ', " CA", 'A', 5, 6).substr(6)        // ignored
      + atom("CA  ", ' ', " CA", 'A', 6, 7)                             // calcium in ATOM: kept
      + "TER\n" + atom(" CA ", ' ', "MSE", ' ', 7, 8, -2.5) + "TER\nEND\n";  // blank chain id
  Structure s;
  EXPECT_EQ(read(t, s), "");
  ASSERT_EQ(s.len, 5);
  ASSERT_EQ(s.nchain, 3);
  EXPECT_EQ(s.chains, (std::array<int, kMaxChains + 1>{0, 0, 4, 5}));
  EXPECT_EQ(std::string(&s.chainid[1], 3), "_A_");
  EXPECT_EQ(std::string(&s.seq[1], 5), "GAXXX");
  EXPECT_EQ(std::string(s.resname[3].data(), 3), "ala");
  EXPECT_EQ(std::string(s.resnum[1].data(), 5), "   1B");
  EXPECT_EQ(s.ca[1], (Coord{12.345, 12.5, 0.0}));  // implied decimals, blanks ignored, blank = 0
  EXPECT_EQ(s.ca[2][0] + s.ca[3][0], 2.0 + 5.0);
  EXPECT_EQ(std::vector<int>(s.sec.begin() + 1, s.sec.begin() + 6), (std::vector<int>{2, 1, 1, 1, -3}));
}

// Also into structures that start small and grow as the residues come: they
// end up with the same records.
TEST_F(Readers, ResidueLimitIsReachedOnlyByA5001stAtom) {
  for (int n : {5000, 5001}) {
    std::string t;
    for (int i = 1; i <= n; ++i) t += ca('A', i % 10000, i * 0.01);
    if (n == 5001) t += put(ca('A', 1, 0), 31, "bad");  // not read after the stop
    Structure full;
    read(t + "TER\n", full);
    for (int capacity : {kMaxRes, 1, kReadCapacity}) {
      Structure s(capacity);
      const std::string out = read(t + "TER\n", s);
      EXPECT_EQ(s.len, 5000);
      EXPECT_EQ(s.capacity(), kMaxRes);
      EXPECT_EQ(s.nchain, n == 5000 ? 1 : 0);
      EXPECT_EQ(s.chains[1], n == 5000 ? 5000 : 0);
      EXPECT_EQ(out, n == 5000 ? "" : " Warning: total number of residues beyond        5000\n");
      EXPECT_TRUE(std::equal(s.ca.begin(), s.ca.end(), full.ca.begin())) << capacity;
      EXPECT_TRUE(std::equal(s.resnum.begin(), s.resnum.end(), full.resnum.begin())) << capacity;
      EXPECT_TRUE(std::equal(s.seq.begin(), s.seq.end(), full.seq.begin())) << capacity;
    }
  }
}

TEST_F(Readers, PdbRefusals) {
  std::string lines, ters;
  for (int i = 1; i <= 11; ++i) lines += ca('A', i, i);
  for (int k = 0; k < 10; ++k) ters += ca('A', k, k) + "TER\n";
  Structure s;
  EXPECT_EQ(error_of([&] { read(lines + put(ca('A', 12, 0), 31, "  12.3x5"), s); }),
            "Error: cannot read the x coordinate in columns 31-38 of line 12 of " + pdb_ +
                ": \"12.3x5\"");
  const std::pair<std::string, std::string> cases[] = {
      {put(atom(" N  ", ' ', "GLY", 'A', 1, 0), 61, "  x   "),  // read before the atom name test
       "temperature factor in columns 61-66 of line 1 of " + pdb_},
      {put(ca('A', 1, 0), 7, "  1a "), "columns 7-11 of line 1"},
      {put(ca('A', 1, 0), 47, " 1.0E+30"), "z coordinate in columns 47-54 of line 1 of " + pdb_ +
                                                " is out of range: \"1.0E+30\""},
      {ters + "TER\n", "more than 10"},  {ters + "TER\n", "line 21"}};
  for (const auto& [text, what] : cases) {
    const std::string msg = error_of([&] { Structure t; read(text, t); });
    EXPECT_NE(msg.find(what), std::string::npos) << msg;
  }
  EXPECT_EQ(error_of([&] { read(ters, s); }), "no error");
  EXPECT_NE(error_of([&] { readpdbfile(pdb_ + "x", s, 0); }).find(pdb_ + "x"), std::string::npos);
  EXPECT_NE(error_of([&] { readpdbfile(dir_.string(), s, 0); }).find(dir_.string()), std::string::npos);
}

TEST_F(Readers, ContactFileRecordsAndRefusals) {
  Structure s;
  s.len = 5;
  s.contnum[3] = 7;  // cleared by the reader
  readcontfile(write("c", "# header\nRES 3 1 1\n"  // one blank after RES: not a record
                          "RES  1 2 2,3\nRES  2 3 1 , 4 5\nRES  2 1 5\n"  // a later record replaces
                          "RES  4 0\nRES  5,1,2\n"),
               s);
  EXPECT_EQ(counts(s, 5), (std::vector<int>{2, 1, 0, 0, 1}));
  EXPECT_EQ((std::vector<int>{s.partner(1, 1), s.partner(1, 2), s.partner(2, 1), s.partner(5, 1)}),
            (std::vector<int>{2, 3, 5, 2}));

  const std::pair<std::string, const char*> cases[] = {
      {"RES  1 101", "101"},          {"RES  6 1 1", "outside 1..5"}, {"RES  0 0", "outside 1..5"},
      {"RES  1 1 6", "outside 1..5"}, {"RES  1 1 0", "outside 1..5"}, {"RES  1 3 2 3", "announces 3"},
      {"RES  1 x 2", "cannot read"},  {"RES  1 1 2.0", "cannot read"}, {"RES  ", "missing"},
      {"RES  1 1" + std::string(992, ' ') + " 2", "first 1000 columns"}};  // partner after column 1000
  for (const auto& [record, what] : cases) {
    const std::string p = write("c", "header\n" + record + "\n");
    const std::string msg = error_of([&] { readcontfile(p, s); });
    EXPECT_NE(msg.find(what), std::string::npos) << record << ": " << msg;
    EXPECT_NE(msg.find("line 2 of " + p), std::string::npos) << msg;
  }
  EXPECT_NE(error_of([&] { readcontfile(pdb_, s); }).find(pdb_), std::string::npos);
  EXPECT_NE(error_of([&] { readcontfile(dir_.string(), s); }).find(dir_.string()), std::string::npos);
}

TEST_F(Readers, ContactsFromCoordinates) {
  Structure s;
  s.len = 5;
  s.nchain = 3;
  s.chains = {0, 2, 4, 5};
  s.ca[2] = {1, 0, 0};
  s.ca[3] = {0, 8.5, 0};  // exactly 8.5 from residue 1: no contact
  s.ca[4] = {0, 0, 3};
  s.ca[5] = {0, 0, 0.5};  // the third chain takes no part
  calccontact(s, 8.5, "x.pdb");
  EXPECT_EQ(counts(s, 5), (std::vector<int>{1, 1, 0, 2, 0}));
  EXPECT_EQ((std::vector<int>{s.partner(1, 1), s.partner(4, 1), s.partner(4, 2)}),
            (std::vector<int>{4, 1, 2}));
  Structure crowd;  // residue 1 would get 101 partners
  crowd.len = crowd.chains[2] = 102;
  crowd.chains[1] = 1;
  EXPECT_NE(error_of([&] { calccontact(crowd, 8.5, "x.pdb"); }).find("more than 100"), std::string::npos);

  // Contact mode: only residues with contacts stay, renumbered; one after the last TER never has any.
  Structure m;
  read(ca('A', 1, 0) + ca('A', 2, 100) + ca('A', 3, 5) + "TER\n" + ca('B', 4, 2) + ca('B', 5, 200) +
           "TER\n" + ca('C', 6, 1),
       m, 1);
  ASSERT_EQ(m.len, 3);
  EXPECT_EQ(m.chains[1] * 10 + m.chains[2], 23);
  EXPECT_EQ(m.ca[2][0] + m.ca[3][0], 5.0 + 2.0);
  EXPECT_EQ(std::string(m.resnum[3].data(), 5), "   4 ");
  EXPECT_EQ(counts(m, 3), (std::vector<int>{1, 1, 2}));
  EXPECT_EQ((std::vector<int>{m.partner(1, 1), m.partner(2, 1), m.partner(3, 1), m.partner(3, 2)}),
            (std::vector<int>{3, 3, 1, 2}));
  Structure one;  // a single chain has no contacts: everything is dropped
  read(ca('A', 1, 0) + ca('A', 2, 1) + "TER\n", one, 1);
  EXPECT_EQ(one.len + one.chains[1], 0);
  EXPECT_EQ(one.nchain, 1);
}

}  // namespace
}  // namespace tarvix

namespace tarvix {
namespace {

class CheckedInput : public Readers {
 protected:
  // Reads a contact file for a structure of 6 residues, chains 1-3 and 4-6; returns the warnings.
  std::string contacts(const std::string& text, Structure& s) {
    s.len = 6;
    s.nchain = 2;
    s.chains = {0, 3, 6};
    std::ostringstream out;
    readcontfile(write("c", text), s, out);
    return out.str();
  }
  const std::string cont_ = (dir_ / "c").string();
};

// A CA record must hold its three coordinate fields; blank ones still read as zero.
TEST_F(CheckedInput, CoordinatesCutOffByTheLineEnd) {
  const std::string full = ca('A', 1, 1.5);  // 66 columns and the line end
  for (const auto& [columns, what] : std::vector<std::pair<int, std::string>>{
           {30, "x coordinate in columns 31-38"}, {37, "x coordinate in columns 31-38"},
           {40, "y coordinate in columns 39-46"}, {53, "z coordinate in columns 47-54"}}) {
    Structure s;
    const std::string msg = error_of([&] { read(full + full.substr(0, columns) + "\r\n", s); });
    EXPECT_EQ(msg, "Error: the " + what + " of line 2 of " + pdb_ +
                       " is cut off: the line ends at column " + std::to_string(columns))
        << columns;
  }
  Structure s;  // present but blank; cut short but not a CA atom, or past the residue limit
  read(put(full, 39, std::string(16, ' ')).substr(0, 54) + "\n" +
           atom(" N  ", ' ', "GLY", 'A', 2, 0).substr(0, 30) + "\n" + ca('A', 3, 2),
       s);
  ASSERT_EQ(s.len, 2);
  EXPECT_EQ(s.ca[1], (Coord{1.5, 0, 0}));
  EXPECT_EQ(s.sec[1], 0);
  std::string many;
  for (int i = 1; i <= kMaxRes; ++i) many += ca('A', i % 10000, 0);
  EXPECT_EQ(error_of([&] { Structure t; read(many + full.substr(0, 30) + "\n", t); }), "no error");
}

// Lines around the number of columns a record keeps (100, plus 8 to find a
// record name after a carriage return): read whole or cut, with either line
// end or none, and a record name after a carriage return noticed only within
// the kept columns.
TEST_F(CheckedInput, LinesAroundTheKeptColumns) {
  const std::string first = ca('A', 1, 1.0), line = ca('A', 2, 2.0).substr(0, 66);
  for (int length = 105; length <= 110; ++length)
    for (const std::string end : {"\n", "\r\n", ""}) {
      Structure s;
      read(first + line + std::string(static_cast<size_t>(length - 66), 'x') + end, s);
      EXPECT_EQ(s.len, 2) << length;
      EXPECT_EQ(s.ca[2][0], 2.0) << length;
      EXPECT_EQ(s.notes.pdb_lines, 2) << length;
      EXPECT_FALSE(s.notes.pdb_cr_only) << length;
    }
  for (const int at : {102, 103, 104}) {  // the carriage return's column, 0-based
    Structure s;
    read(first + line + std::string(static_cast<size_t>(at - 66), 'x') + "\r" + first, s);
    EXPECT_EQ(s.notes.pdb_cr_only, at <= 103) << at;
  }
}

TEST_F(CheckedInput, PartnerListedTwiceCountsOnce) {
  Structure s;
  EXPECT_EQ(contacts("RES  1 4 4 5 4 4\nRES  2 3 6,5,6\nRES  3 2 4 5\nRES  4 1 1\n", s),
            "Warning: line 1 of " + cont_ + " lists partner 4 of residue 1 more than once; it counts once\n"
            "Warning: line 2 of " + cont_ + " lists partner 6 of residue 2 more than once; it counts once\n");
  EXPECT_EQ(counts(s, 4), (std::vector<int>{2, 2, 2, 1}));
  EXPECT_EQ((std::vector<int>{s.partner(1, 1), s.partner(1, 2), s.partner(2, 1), s.partner(2, 2)}),
            (std::vector<int>{4, 5, 6, 5}));
  // Several in one line, and the lines past the fifth summed up in one warning.
  std::string text = "RES  1 5 4 5 4 5 4\n";
  for (int k = 0; k < 7; ++k) text += "RES  2 2 4 4\n";
  const std::string out = contacts(text, s);
  EXPECT_EQ(out.substr(0, out.find('\n')),
            "Warning: line 1 of " + cont_ + " lists partners 4, 5 of residue 1 more than once; each counts once");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6);
  EXPECT_NE(out.find("Warning: 3 more lines of " + cont_ + " list a partner more than once"), std::string::npos);
  EXPECT_EQ(s.contnum[1], 2);
}

TEST_F(CheckedInput, ContactsWithinOneSideAreKeptAndWarnedAboutOnce) {
  Structure s;
  EXPECT_EQ(contacts("RES  1 1 4\nRES  4 2 1 5\nRES  5 1 4\nRES  2 2 3 4\n", s),
            "Warning: " + cont_ + " lists contacts within one side of the interface, first in line 2 "
            "(residues 4 and 5); they are kept\n");
  EXPECT_EQ(counts(s, 5), (std::vector<int>{1, 2, 0, 2, 1}));
  EXPECT_EQ(contacts("RES  1 2 4 5\nRES  4 1 1\nRES  5 1 1\n", s), "");
  s.chains[1] = 0;  // no first chain: the run explains that instead
  std::ostringstream out;
  readcontfile(cont_, s, out);
  EXPECT_EQ(out.str(), "");
}

// What the readers note for the explanations of a refused run.
TEST_F(CheckedInput, NotesOfWhatWasRead) {
  Structure s;
  read("HEADER\r" + ca('A', 1, 0) + "TER\r" + ca('B', 2, 1), s);
  EXPECT_TRUE(s.notes.pdb_cr_only);
  EXPECT_EQ(s.notes.pdb_lines, 2);  // "TER" starts the second line, its atom is not read
  EXPECT_EQ(s.len * 10 + s.nchain, 1);
  read("HETATM\nHETATM\nATOM   \nREMARK 1 a\rb\n" + atom(" N  ", ' ', "GLY", 'A', 1, 0), s);
  EXPECT_EQ((std::vector<int>{s.notes.pdb_lines, s.notes.atom_records, s.notes.hetatm_records, s.len}),
            (std::vector<int>{5, 2, 2, 0}));
  EXPECT_FALSE(s.notes.pdb_cr_only);  // a carriage return not followed by a record
  // Columns past a record are skipped, however many: a CA line of a million.
  read(ca('A', 1, 7).substr(0, 66) + std::string(1000000, 'x') + "\r\n" + ca('A', 2, 8), s);
  EXPECT_EQ(s.len, 2);
  EXPECT_EQ(s.ca[1][0] + s.ca[2][0], 15.0);
  EXPECT_EQ(s.notes.pdb, pdb_);
  contacts("# a\rRES  1 1 4\r", s);
  EXPECT_EQ(s.notes.contact_records, 0);
  EXPECT_TRUE(s.notes.contacts_cr_only);
  EXPECT_EQ(s.notes.contacts, cont_);
  // A residue index past the structure's end also names the coordinate file.
  read("HETATM\n", s);
  EXPECT_EQ(error_of([&] { readcontfile(write("c", "RES  1 0\n"), s); }),
            "Error: the residue index 1 is outside 1..0 in line 1 of " + cont_ + "\nno CA atom in " +
                pdb_ + ": it has no ATOM record (1 HETATM record is not read)");
  read(ca('A', 1, 0) + ca('A', 2, 0), s);
  EXPECT_EQ(error_of([&] { readcontfile(write("c", "RES  1 1 3\n"), s); }),
            "Error: the contact partner 3 of residue 1 is outside 1..2 in line 1 of " + cont_ + "\n" +
                pdb_ + " has 2 residues (CA atoms)");
}

}  // namespace
}  // namespace tarvix
