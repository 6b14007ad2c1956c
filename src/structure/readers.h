// Readers of the two input files of an interface and the contacts computed
// from coordinates. Every failure throws tarvix::Error with a message that
// names the file, the line and the problem.
#pragma once

#include <iosfwd>
#include <string>

#include "structure/structure.h"

namespace tarvix {

// Contacts from coordinates (-ca): CA atoms of the first and second chain
// closer than this (Angstrom).
inline constexpr double kContactCutoff = 8.5;

// Residues a structure to be read into starts with room for: more than most
// interfaces hold.
inline constexpr int kReadCapacity = 256;

// Reads one structure: one residue per accepted CA atom, chain ends from
// "TER" records. With contmode 1 also assigns secondary structure and
// contacts from the CA coordinates and keeps only residues with contacts.
// Warnings go to `out` (dropped when not given). The structure grows as the
// residues come, up to kMaxRes: it may start with room for kReadCapacity
// (every page of room that a comparison never touches costs it nothing, but
// each one it does touches costs a page fault).
void readpdbfile(const std::string& path, Structure& s, int contmode, std::ostream& out);
void readpdbfile(const std::string& path, Structure& s, int contmode);
// The same from an open stream; `name` stands for the file in messages.
void readpdbfile(std::istream& in, const std::string& name, Structure& s, int contmode,
                 std::ostream& out);

// Fills the contact lists of s (len residues already read) from a contact file.
// A partner listed twice for one residue counts once; that, and contacts
// within one side of the interface (kept), are warned about on `out`
// (dropped when not given).
void readcontfile(const std::string& path, Structure& s, std::ostream& out);
void readcontfile(const std::string& path, Structure& s);
void readcontfile(std::istream& in, const std::string& name, Structure& s, std::ostream& out);

// Contacts between the first and second chain: CA atoms closer than cutoff
// (compared on squares). Throws when a residue would get more than kMaxCont
// partners; `source` names the file in that message.
void calccontact(Structure& s, double cutoff, const std::string& source);

// One-letter code of a three-letter residue name ('X' outside the table).
char aa3toaa1(const char name[3]);

}  // namespace tarvix
