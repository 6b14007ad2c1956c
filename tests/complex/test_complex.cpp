// Reading complexes and cutting interfaces out of them, on small made-up files.
#include "complex/complex.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "structure/error.h"
#include "structure/readers.h"
#include "structure/secondary.h"
#include "../support/scratch.h"

namespace tarvix {
namespace {

struct A {  // one atom record
  const char* record = "ATOM  ";
  const char* name = " CA ";
  char alt = ' ';
  const char* res = "GLY";
  const char* chain = "A";
  int seq = 1;
  char icode = ' ';
  double x = 0, y = 0, z = 0;
  const char* element = " C";
};

std::string line(const A& a) {
  char b[100];
  std::snprintf(b, sizeof b, "%s%5d %4s%c%3s%2s%4d%c   %8.3f%8.3f%8.3f  1.00 20.00          %2s\n",
                a.record, 1, a.name, a.alt, a.res, a.chain, a.seq, a.icode, a.x, a.y, a.z, a.element);
  return b;
}

// A residue of backbone atoms around a CA at (x, y, z).
std::string residue(const char* res, const char* chain, int seq, double x, double y = 0,
                    const char* record = "ATOM  ", char icode = ' ') {
  std::string s;
  s += line({record, " N  ", ' ', res, chain, seq, icode, x - 1.0, y, 0, " N"});
  s += line({record, " CA ", ' ', res, chain, seq, icode, x, y, 0, " C"});
  s += line({record, " C  ", ' ', res, chain, seq, icode, x + 1.0, y, 0, " C"});
  return s;
}

class ComplexTest : public ScratchDir {
 protected:
  ComplexTest() : ScratchDir("complex") {}
  std::string write_gz(const std::string& name, const std::string& text) {
    const std::string p = path(name);
    gzFile f = gzopen(p.c_str(), "wb");
    gzwrite(f, text.data(), static_cast<unsigned>(text.size()));
    gzclose(f);
    return p;
  }
  ComplexInterface cut(const std::string& path, std::vector<std::string> s1 = {},
                       std::vector<std::string> s2 = {}) {
    InterfaceChoice choice;
    choice.text = choice.path = path;
    choice.side1 = std::move(s1);
    choice.side2 = std::move(s2);
    ComplexOptions o;
    o.ss = SsSource::kCa;
    return read_interface(choice, o);
  }
};

// Chain A: a hydrogen, two alternate locations (B listed first), an
// insertion code, a selenomethionine after a "TER" that marks a break, a
// water and a ligand; chain B; then a second model.
std::string messy_complex() {
  std::string s = "HEADER    TEST\n";
  s += "MODEL        1\n";
  s += residue("ALA", "A", 1, 0);
  s += line({"ATOM  ", " H  ", ' ', "ALA", "A", 1, ' ', 0, 1, 0, " H"});
  s += line({"ATOM  ", " N  ", 'B', "SER", "A", 2, ' ', 2.8, 0, 0, " N"});
  s += line({"ATOM  ", " CA ", 'B', "SER", "A", 2, ' ', 3.9, 0, 0, " C"});
  s += line({"ATOM  ", " N  ", 'A', "SER", "A", 2, ' ', 2.7, 0, 0, " N"});
  s += line({"ATOM  ", " CA ", 'A', "SER", "A", 2, ' ', 3.8, 0, 0, " C"});
  s += line({"ATOM  ", " C  ", ' ', "SER", "A", 2, ' ', 4.8, 0, 0, " C"});
  s += residue("GLY", "A", 2, 7.6, 0, "ATOM  ", 'A');
  s += "TER\n";
  s += residue("MSE", "A", 3, 9.5, 0, "HETATM");  // N 1.5 A from the C before it
  s += line({"HETATM", " O  ", ' ', "HOH", "A", 101, ' ', 3, 3, 0, " O"});
  s += line({"HETATM", " C1 ", ' ', "GOL", "A", 102, ' ', 3, 3, 3, " C"});
  s += residue("LYS", "B", 1, 0, 4.0);
  s += residue("LYS", "B", 2, 30, 4.0);
  s += "ENDMDL\nMODEL        2\n";
  s += residue("ALA", "A", 1, 50);
  s += residue("LYS", "B", 1, 50, 4.0);
  s += "ENDMDL\nEND\n";
  return s;
}

TEST_F(ComplexTest, ReaderKeepsTheProteinResiduesOfOneConformationOfTheFirstModel) {
  const std::string text = messy_complex();
  for (const std::string& path : {write("m.pdb", text), write_gz("m.pdb.gz", text), write_gz("m.noext", text)}) {
    const Complex c = read_complex(path);
    ASSERT_EQ(c.chains.size(), 2u) << path;
    EXPECT_EQ(c.chain_list(), "A, B");
    const auto& a = c.chains[0].residues;
    ASSERT_EQ(a.size(), 4u);
    EXPECT_EQ(a[0].atoms.size(), 3u);  // no hydrogen
    // The first alternate location listed is kept, the other dropped.
    ASSERT_EQ(a[1].atoms.size(), 3u);
    EXPECT_DOUBLE_EQ(a[1].atoms[static_cast<size_t>(a[1].ca)].pos[0], 3.9);
    EXPECT_EQ(a[2].seqnum, 2);
    EXPECT_EQ(a[2].icode, 'A');
    EXPECT_EQ(a[3].name, "MSE");
    EXPECT_EQ(a[3].code, 'M');
    EXPECT_DOUBLE_EQ(c.chains[1].residues[0].atoms[1].pos[0], 0.0);  // model 1
    EXPECT_TRUE(c.warnings.empty());
  }
}

TEST_F(ComplexTest, ModifiedResidueAwayFromThePolymerIsALigand) {
  std::string s = residue("ALA", "A", 1, 0) + residue("ALA", "A", 2, 3.0) + "TER\n";
  s += residue("MSE", "A", 201, 20, 0, "HETATM");
  s += residue("LYS", "B", 1, 0, 4.0);
  const Complex c = read_complex(write("l.pdb", s));
  EXPECT_EQ(c.chains[0].residues.size(), 2u);
}

TEST_F(ComplexTest, StrayElementColumnsAndAnEarlyEndAreReadWithWarnings) {
  std::string a = residue("ALA", "A", 1, 0);
  std::string b = residue("LYS", "B", 1, 0, 4.0);
  // Columns 77-80 hold a number, as in files that kept an old serial there.
  for (std::string* chain : {&a, &b})
    for (size_t at = 0; (at = chain->find('\n', at)) != std::string::npos; at += 5)
      chain->replace(at - 2, 2, "2016"), at += 2;
  const Complex c = read_complex(write("s.pdb", a + "END\n" + b + "END\n"));
  ASSERT_EQ(c.chains.size(), 2u);
  EXPECT_EQ(c.chains[0].residues[0].atoms[0].element, "N");
  ASSERT_EQ(c.warnings.size(), 2u);
  EXPECT_NE(c.warnings[0].find("follow an END record"), std::string::npos) << c.warnings[0];
  EXPECT_NE(c.warnings[1].find("columns 77-80 of 6 atom records"), std::string::npos) << c.warnings[1];
}

TEST_F(ComplexTest, InterfaceIsEveryResidueWithAHeavyAtomCloserThanTheCutoff) {
  // Chain A along x; B residues 4.4 A (contact) or 4.5 A (none) above A's atoms.
  std::string s;
  for (int i = 1; i <= 4; ++i) s += residue("ALA", "A", i, 10.0 * i);
  s += residue("LYS", "B", 1, 10, 4.4);
  s += residue("LYS", "B", 2, 20, 4.5);
  s += residue("LYS", "B", 3, 41, 4.4);  // its N 4.4 A from the CA of A4
  s += residue("LYS", "L", 1, 30, -4.0);
  const std::string path = write("i.pdb", s);
  const ComplexInterface ci = cut(path, {"B", "L"}, {"A"});
  ASSERT_EQ(ci.residues.size(), 6u);
  EXPECT_EQ(ci.side1_count, 3);
  // Side 1 in the order named (B, then L), side 2 after it.
  std::vector<std::string> got;
  std::vector<std::vector<int>> partners;
  for (int i = 1; i <= 6; ++i) {
    got.push_back(ci.chain_of(i).name + std::to_string(ci.residue(i).seqnum));
    partners.push_back(ci.residues[static_cast<size_t>(i - 1)].partners);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"B1", "B3", "L1", "A1", "A3", "A4"}));
  EXPECT_EQ(partners, (std::vector<std::vector<int>>{{4}, {6}, {5}, {1}, {3}, {2}}));

  // The record and the written files say the same, read back classically.
  auto direct = std::make_unique<Structure>();
  fill_structure(ci, *direct);
  EXPECT_EQ(direct->nchain, 2);
  EXPECT_EQ(direct->chains[1], 3);
  EXPECT_EQ(direct->chainid[1], 'L');
  EXPECT_EQ(direct->chainid[2], 'A');
  write_interface_files(ci, (dir_ / "out").string());
  auto back = std::make_unique<Structure>();
  std::ostringstream warnings;
  readpdbfile((dir_ / "out.pdb").string(), *back, 0, warnings);
  readcontfile((dir_ / "out.contacts").string(), *back);
  ASSERT_EQ(back->len, 6);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(back->ca[i], direct->ca[i]);
    EXPECT_EQ(back->resnum[i], direct->resnum[i]);
    EXPECT_EQ(back->seq[i], direct->seq[i]);
    EXPECT_EQ(back->sec[i], direct->sec[i]);
    EXPECT_EQ(back->contnum[i], direct->contnum[i]);
    EXPECT_EQ(back->partner(i, 1), direct->partner(i, 1));
  }
  EXPECT_EQ(back->chains, direct->chains);
  EXPECT_EQ(back->chainid, direct->chainid);
}

TEST_F(ComplexTest, SidesFromTheChoiceOrTheFile) {
  const std::string two = write("two.pdb", residue("ALA", "A", 1, 0) + residue("LYS", "B", 1, 0, 4.0));
  EXPECT_EQ(cut(two).sides[1], std::vector<std::string>{"B"});
  EXPECT_EQ(cut(two, {"B"}).sides[1], std::vector<std::string>{"A"});
  const std::string three =
      write("three.pdb", residue("ALA", "A", 1, 0) + residue("LYS", "B", 1, 0, 4.0) + residue("LYS", "C", 1, 0, -4.0));
  EXPECT_NE(error_of([&] { cut(three); }).find("protein chains: A, B, C"), std::string::npos);
  EXPECT_NE(error_of([&] { cut(three, {"A"}); }).find("protein chains: A, B, C"), std::string::npos);
  EXPECT_EQ(cut(three, {"A"}, {"B", "C"}).residues.size(), 3u);
  EXPECT_EQ(error_of([&] { cut(three, {"A"}, {"D"}); }),
            "Error: " + three + ": there is no protein chain \"D\" (its protein chains: A, B, C)");
  EXPECT_NE(error_of([&] { cut(three, {"A", "B"}, {"B"}); }).find("names chain B twice"), std::string::npos);
  // Two-character names, and "_" for a blank chain name.
  const std::string named = write("n.pdb", residue("ALA", "AA", 1, 0) + residue("LYS", " ", 1, 0, 4.0));
  const ComplexInterface ci = cut(named, {"AA"}, {"_"});
  auto s = std::make_unique<Structure>();
  fill_structure(ci, *s);
  EXPECT_EQ(s->chainid[1], 'A');
  EXPECT_EQ(s->chainid[2], '_');
  EXPECT_NE(interface_pdb_text(ci).find(" ALAAA   1 "), std::string::npos);
}

TEST_F(ComplexTest, ChoiceSplitsFileAndSides) {
  auto sides = [](const InterfaceChoice& s) {
    std::string t = s.path;
    for (const auto* side : {&s.side1, &s.side2}) {
      t += "|";
      for (const std::string& n : *side) t += n + ";";
    }
    return t;
  };
  EXPECT_EQ(sides(parse_interface_choice("x.pdb")), "x.pdb||");
  EXPECT_EQ(sides(parse_interface_choice("x.pdb:A")), "x.pdb|A;|");
  EXPECT_EQ(sides(parse_interface_choice("d/x.cif.gz:H,L:AB")), "d/x.cif.gz|H;L;|AB;");
  const std::string colon = write("a:b.pdb", "");
  EXPECT_EQ(sides(parse_interface_choice(colon)), colon + "||");
  EXPECT_EQ(sides(parse_interface_choice(colon + ":C:D")), colon + "|C;|D;");
  EXPECT_NE(error_of([] { parse_interface_choice("x.pdb:A,:B"); }).find("empty chain name"), std::string::npos);
}

TEST_F(ComplexTest, BadInputsNameTheFileAndTheProblem) {
  const std::string pair = residue("ALA", "A", 1, 0) + residue("LYS", "B", 1, 0, 4.0);
  auto error = [&](const std::string& name, const std::string& text) {
    return error_of([&] { cut(write(name, text)); });
  };
  EXPECT_NE(error_of([&] { cut((dir_ / "none.pdb").string()); }).find("cannot open"), std::string::npos);
  EXPECT_NE(error("e.pdb", "").find("e.pdb: the file is empty"), std::string::npos);
  EXPECT_NE(error("t.txt", "hello\nworld\n").find("neither PDB"), std::string::npos);
  EXPECT_NE(error("short.pdb", pair + "ATOM      1  CA  ALA A   2      1.0").find("short.pdb: cannot read the PDB file"),
            std::string::npos);
  EXPECT_NE(error("far.pdb", residue("ALA", "A", 1, 0) + residue("LYS", "B", 1, 0, 40)).find("no interface"),
            std::string::npos);
  EXPECT_NE(error("lig.pdb", line({"HETATM", " O  ", ' ', "HOH", "A", 1})).find("no protein chain"),
            std::string::npos);
  // A gzipped file cut short.
  const std::string gz = write_gz("c.pdb.gz", messy_complex());
  std::string bytes;
  {
    std::ifstream in(gz, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(error("cut.pdb.gz", bytes.substr(0, bytes.size() / 2)).find("truncated or corrupt"), std::string::npos);
  // An mmCIF file cut inside its atom table.
  const std::string cif =
      "data_x\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n"
      "_atom_site.label_atom_id\n_atom_site.label_alt_id\n_atom_site.label_comp_id\n"
      "_atom_site.label_asym_id\n_atom_site.auth_seq_id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n"
      "_atom_site.Cartn_z\n_atom_site.occupancy\n_atom_site.B_iso_or_equiv\n"
      "ATOM 1 C CA . ALA A 1 0 0 0 1 20\nATOM 2 C CA . LYS B 1 0 4.0";
  EXPECT_NE(error("cut.cif", cif).find("cut.cif: cannot read the mmCIF file"), std::string::npos);
  EXPECT_EQ(cut(write("whole.cif", cif + " 0 1 20\n")).residues.size(), 2u);
}

TEST_F(ComplexTest, InterfacesBeyondTheLimitsAreRefused) {
  // One residue of A touching 101 residues of B.
  std::string crowd = residue("ALA", "A", 1, 0);
  for (int k = 1; k <= 101; ++k) crowd += line({"ATOM  ", " CA ", ' ', "GLY", "B", k, ' ', 0, 0.01 * k, 3.0});
  EXPECT_NE(error_of([&] { cut(write("crowd.pdb", crowd)); }).find("touches 101 residues"), std::string::npos);
  // 2501 touching pairs: 5002 residues.
  std::string big;
  for (int k = 1; k <= 2501; ++k) big += line({"ATOM  ", " CA ", ' ', "GLY", "A", k, ' ', 10.0 * k, 0, 0});
  for (int k = 1; k <= 2501; ++k) big += line({"ATOM  ", " CA ", ' ', "GLY", "B", k, ' ', 10.0 * k, 4.0, 0});
  EXPECT_NE(error_of([&] { cut(write("big.pdb", big)); }).find("has 5002 residues, more than the 5000"),
            std::string::npos);
}

TEST_F(ComplexTest, CaClassesFollowEachChainAlone) {
  // An ideal helix as chain A and its copy as chain B far away: each chain
  // gets the classes the CA assignment gives one chain on its own.
  std::string s;
  auto s1 = std::make_unique<Structure>();
  for (int i = 1; i <= 12; ++i) {
    const double t = 100.0 * i * 3.14159265358979 / 180.0;
    s1->ca[i] = {2.3 * std::cos(t), 2.3 * std::sin(t), 1.5 * i};
    s += line({"ATOM  ", " CA ", ' ', "ALA", "A", i, ' ', s1->ca[i][0], s1->ca[i][1], s1->ca[i][2]});
  }
  for (int i = 1; i <= 12; ++i)
    s += line({"ATOM  ", " CA ", ' ', "ALA", "B", i, ' ', s1->ca[i][0] + 50, s1->ca[i][1], s1->ca[i][2]});
  const Complex c = read_complex(write("h.pdb", s));
  calcsec(*s1, 12);
  const auto classes = classes_from_ca(c, {0, 1});
  for (int i = 1; i <= 12; ++i) {
    EXPECT_EQ(classes[0][static_cast<size_t>(i - 1)], s1->sec[i]) << i;
    EXPECT_EQ(classes[1][static_cast<size_t>(i - 1)], s1->sec[i]) << i;
  }
  EXPECT_EQ(classes[0][5], 2);
}

TEST_F(ComplexTest, DsspThatIsNotInstalledIsAnError) {
  const Complex c = read_complex(write("d.pdb", residue("ALA", "A", 1, 0) + residue("LYS", "B", 1, 0, 4.0)));
  const std::string e = error_of([&] { classes_from_dssp(c, {0, 1}, "tarvix-no-such-mkdssp"); });
  EXPECT_NE(e.find("(Debian package dssp), which is not installed"), std::string::npos) << e;
  EXPECT_NE(e.find("--ss ca"), std::string::npos) << e;
}

}  // namespace
}  // namespace tarvix
