// The interfaces a search reads: one interface, a list file, or a directory.
#pragma once

#include <string>
#include <vector>

namespace tarvix::batch {

// One interface to read: its PDB file and, unless contacts come from the
// coordinates, its contact file. `name` identifies it in the tables.
struct Entry {
  std::string name;
  std::string pdb;
  std::string contacts;  // empty with contacts from coordinates
};

// What `arg` names, in order:
// - a directory: every *.pdb file in it (sorted by name), each with the
//   .contacts file of the same stem;
// - a PDB file (extension .pdb or .ent, or a file with ATOM/HETATM records):
//   that interface, with the .contacts file of the same stem;
// - otherwise a list file: one interface per line, a PDB path alone (its
//   contact file as above) or a PDB path and a contact path separated by
//   blanks; blank lines and lines starting with "#" are skipped; relative
//   paths are relative to the list file's directory.
// With `ca` (contacts from coordinates) contact files are neither named nor read. Throws Error
// naming the file and line when the list cannot be read or a line has more
// than two paths. Whether the interface files exist is found when they are read.
std::vector<Entry> read_entries(const std::string& arg, bool ca);

// The same for whole complexes: each interface is FILE[:SIDES] (see
// parse_interface_choice), `pdb` holding that text with FILE resolved. A
// directory gives every *.pdb, *.ent, *.cif and *.mmcif file in it (gzipped
// or not) with its default sides; a single argument is one complex when it is
// such a file (or FILE:SIDES of one), a list file otherwise.
std::vector<Entry> read_complex_entries(const std::string& arg);

// The contact file of a PDB path: the same path with the extension ".contacts".
std::string contacts_of(const std::string& pdb);

}  // namespace tarvix::batch
