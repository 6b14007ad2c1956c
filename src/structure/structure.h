// The records of one interface structure and the limits they are sized for.
//
// Every residue index is 1-based: residue i of a structure lives at slot i of
// each per-residue array, and slot 0 is unused. Chain ends and contact
// partners are residue indices of the same structure.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "structure/zero_vector.h"

namespace tarvix {

inline constexpr int kMaxRes = 5000;     // residues per structure
inline constexpr int kMaxChains = 10;    // chains per structure
inline constexpr int kMaxCont = 100;     // contacts per residue

using Coord = std::array<double, 3>;

// What the readers saw of the files behind a structure besides its records:
// enough to say in plain words why a structure cannot be compared.
struct InputNotes {
  std::string pdb;                  // coordinate file ("" when not read from one)
  int pdb_lines = 0;
  int atom_records = 0;             // "ATOM" records, accepted or not
  int hetatm_records = 0;           // "HETATM" records (never read)
  bool pdb_cr_only = false;         // a carriage return inside a line: lines end with CR alone
  int residues_read = 0;            // accepted CA atoms, before -ca keeps those with contacts
  std::array<int, kMaxChains + 1> chains_read{};  // chain ends as read, before -ca renumbers them
  bool computed_contacts = false;   // contacts from the coordinates (-ca)
  std::string contacts;             // contact file ("" when none was read)
  int contact_records = 0;          // "RES  " records
  bool contacts_cr_only = false;
};

struct Structure {
  int len = 0;                                   // L: residues in use
  int nchain = 0;                                // number of "TER" records read
  std::array<int, kMaxChains + 1> chains{};      // chains[k]: last residue of chain k; chains[0] = 0
  std::array<char, kMaxChains + 1> chainid{};    // chainid[k], k = 1..nchain ("_" for blank); working copy
  std::array<char, kMaxChains + 1> chainid_read{};  // identifiers as read (the report prints these)
  ZeroVector<Coord> ca;                         // CA coordinates
  ZeroVector<char> seq;                         // one-letter codes ("X" outside the table)
  ZeroVector<std::array<char, 3>> resname;      // columns 18-20
  ZeroVector<std::array<char, 5>> resnum;       // columns 23-27
  ZeroVector<int> sec;                          // secondary-structure class
  ZeroVector<int> id2chain;                     // interface side: 1 first chain, 2 the rest
  ZeroVector<int> contnum;                      // number of contacts
  ZeroVector<int> contlst;                      // partners: contlst[i * kMaxCont + m - 1], m = 1..contnum[i]
  InputNotes notes;                             // what the readers saw

  Structure() : Structure(kMaxRes) {}  // sized for kMaxRes residues, everything zero
  explicit Structure(int capacity);     // sized for residues 1..capacity

  int capacity() const { return static_cast<int>(ca.size()) - 1; }
  // Room for residues 1..capacity (never less than there is), the records
  // kept and the new ones zero.
  void reserve(int capacity);
  // A copy sized for exactly the residues in use (and chain ends reached).
  Structure compact() const;

  int* partners(int i) { return &contlst[static_cast<size_t>(i) * kMaxCont - 1]; }  // 1-based m
  const int* partners(int i) const { return &contlst[static_cast<size_t>(i) * kMaxCont - 1]; }
  int partner(int i, int m) const { return contlst[static_cast<size_t>(i) * kMaxCont + m - 1]; }
};

}  // namespace tarvix
