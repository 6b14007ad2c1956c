// Whole complexes: PDB or mmCIF files (either may be gzipped) read into their
// protein chains, the interface between two named sides cut out of them, and
// the classic interface files written for it.
//
// A complex is the first model of the file: its protein chains by author
// chain name, each with its amino-acid residues in file order. Waters,
// ligands and other non-polymer residues and hydrogens are left out; of
// alternate locations the blank one and the first one of each residue stay;
// modified amino acids of the polymer (MSE and the like) stay with the
// one-letter code of their parent.
//
// The interface of two sides (each one chain or several) is every residue of
// one side with a heavy atom closer than 4.5 A to a heavy atom of the other;
// its contacts are those residue pairs. Side 1 comes first, each side's
// chains in the order named, residues in file order.
//
// Nothing here prints: failures throw tarvix::Error with a message naming the
// file and the problem; warnings are returned.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "structure/structure.h"

namespace tarvix {

// Where the secondary-structure classes of an interface come from.
enum class SsSource {
  kDssp,  // mkdssp on the whole complex (H, G, I, P helix; E, B strand; T turn; else coil)
  kCa,    // the CA geometry of each chain, as "-ca" assigns it
};

inline constexpr double kInterfaceCutoff = 4.5;  // heavy-atom distance, Angstrom

struct ComplexAtom {
  std::string name;     // atom name, as in the file ("CA", "OG1")
  std::string element;  // element symbol, upper case ("C", "SE")
  Coord pos{};
  float occ = 1.0f;
  float b_iso = 0.0f;
};

struct ComplexResidue {
  std::string name;  // residue name ("ALA", "MSE")
  int seqnum = 0;    // author residue number
  char icode = ' ';  // insertion code, blank when none
  char code = 'X';   // one-letter code (the parent's for a modified amino acid)
  std::vector<ComplexAtom> atoms;  // heavy atoms of one conformation, in file order
  int ca = -1;       // index of the CA atom in atoms
};

struct ComplexChain {
  std::string name;  // author chain name
  std::vector<ComplexResidue> residues;
};

struct Complex {
  std::string path;
  std::vector<ComplexChain> chains;  // protein chains, in order of first appearance
  std::vector<std::string> warnings;

  const ComplexChain* find(const std::string& name) const;
  std::string chain_list() const;  // "A, B, H" for messages
};

// Reads the first model of a PDB or mmCIF file, gzipped or not (recognised by
// content, not by name).
Complex read_complex(const std::string& path);

// A file and the chains of its two sides, as written on the command line:
// FILE, FILE:SIDE1 or FILE:SIDE1:SIDE2, each side a comma-separated list of
// author chain names ("1abc.cif.gz:H,L:A"). A side left out is taken from
// the file (see resolve_sides).
struct InterfaceChoice {
  std::string text;  // as given
  std::string path;
  std::vector<std::string> side1, side2;
};

// Splits a choice of interface. A name containing ':' is taken as a whole when a file of
// that name exists.
InterfaceChoice parse_interface_choice(const std::string& word);

// A side as written on the command line: its chain names separated by commas,
// "_" for a blank one ("H,L").
std::string side_text(const std::vector<std::string>& chains);

// The chains of both sides: those named; when none is named and the complex
// has exactly two protein chains, those two; when only side 1 is named and
// it is one of exactly two protein chains, the other one is side 2.
// Otherwise an error that lists the protein chains.
std::array<std::vector<std::string>, 2> resolve_sides(const Complex& c, const InterfaceChoice& choice);

struct InterfaceResidue {
  int chain = 0;    // index into Complex::chains
  int residue = 0;  // index into that chain's residues
  int side = 1;     // 1 or 2
  int sec = 1;      // 1 coil, 2 helix, 3 turn, 4 strand
  std::vector<int> partners;  // 1-based positions of the residues it touches, increasing
};

struct ComplexInterface {
  Complex complex;
  std::array<std::vector<std::string>, 2> sides;  // chain names of each side
  std::vector<InterfaceResidue> residues;         // side 1, then side 2
  int side1_count = 0;

  const ComplexResidue& residue(int i) const;  // 1-based position
  const ComplexChain& chain_of(int i) const;
};

struct ComplexOptions {
  SsSource ss = SsSource::kDssp;
  std::string mkdssp = "mkdssp";  // the program, looked up on PATH unless it holds a '/'
};

// The interface between two sides of a complex. Fails when a chain is not
// there, a side has no interface residue or the interface exceeds the limits
// of the interface record (kMaxRes residues, kMaxCont contacts per residue).
ComplexInterface extract_interface(Complex complex, const std::array<std::vector<std::string>, 2>& sides,
                                   const ComplexOptions& options);

// read_complex, resolve_sides and extract_interface in one.
ComplexInterface read_interface(const InterfaceChoice& choice, const ComplexOptions& options);

// Secondary-structure classes of every residue of the listed chains
// (indices into c.chains), one vector per listed chain.
std::vector<std::vector<int>> classes_from_ca(const Complex& c, const std::vector<int>& chains);
std::vector<std::vector<int>> classes_from_dssp(const Complex& c, const std::vector<int>& chains,
                                                const std::string& program);

// The interface as the classic readers leave it: residues in order with CA
// coordinates, names, numbers, one-letter codes and classes, two chains (one
// per side, identified by the last character of the side's last chain name),
// and the contacts. The sides (id2chain) are left to the caller.
void fill_structure(const ComplexInterface& ci, Structure& s);

// The classic interface files: the PDB file holds every atom of the
// interface residues with the class in the occupancy column and "TER" after
// each side; the contact file one "RES  i n p1 ... pn" line per residue.
std::string interface_pdb_text(const ComplexInterface& ci);
std::string interface_contacts_text(const ComplexInterface& ci);
// Writes PREFIX.pdb and PREFIX.contacts.
void write_interface_files(const ComplexInterface& ci, const std::string& prefix);

}  // namespace tarvix
