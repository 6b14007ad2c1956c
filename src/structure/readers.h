// Readers of the two input files of an interface and the contacts computed
// from coordinates. Every failure throws tarvix::Error with a message that
// names the file, the line and the problem.
#pragma once

#include <iosfwd>
#include <string>

#include "structure/structure.h"

namespace tarvix {

// Reads one structure: one residue per accepted CA atom, chain ends from
// "TER" records. With contmode 1 also assigns secondary structure and
// contacts from the CA coordinates and keeps only residues with contacts.
// Warnings go to `out`.
void readpdbfile(const std::string& path, Structure& s, int contmode, std::ostream& out);
void readpdbfile(const std::string& path, Structure& s, int contmode);

// Fills the contact lists of s (len residues already read) from a contact file.
void readcontfile(const std::string& path, Structure& s);

// Contacts between the first and second chain: CA atoms closer than cutoff
// (compared on squares). Throws when a residue would get more than kMaxCont
// partners; `source` names the file in that message.
void calccontact(Structure& s, double cutoff, const std::string& source);

// One-letter code of a three-letter residue name ('X' outside the table).
char aa3toaa1(const char name[3]);

}  // namespace tarvix
