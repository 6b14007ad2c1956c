#include "structure/causes.h"

#include <sstream>

#include "structure/readers.h"

namespace tarvix {
namespace {

std::string count(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string pdb_name(const InputNotes& n) { return n.pdb.empty() ? "the structure" : n.pdb; }

std::string no_ca_atom(const InputNotes& n) {
  std::string line = "no CA atom in " + pdb_name(n) + ": ";
  if (n.pdb_lines == 0) return line + "the file is empty";
  if (n.pdb_cr_only) return line + kCrOnlyCause;
  if (n.atom_records == 0) {
    line += "it has no ATOM record";
    if (n.hetatm_records > 0)
      line +=
          " (" + count(n.hetatm_records, "HETATM record is", "HETATM records are") + " not read)";
    return line;
  }
  return line + "none of its " + count(n.atom_records, "ATOM record", "ATOM records") +
         " is a CA atom (atom name CA, alternate location blank, A or 1)";
}

std::string residues_read(const InputNotes& n, int residues) {
  if (residues == 0) return no_ca_atom(n);
  std::string line =
      pdb_name(n) + " has " + count(residues, "residue (CA atom)", "residues (CA atoms)");
  if (n.pdb_cr_only) line += ": " + std::string(kCrOnlyCause);
  return line;
}

std::string join(const std::string& a, const std::string& b) {
  if (a.empty() || a == b) return b;
  if (b.empty()) return a;
  return a + "; " + b;
}

}  // namespace

std::string describe_residues(const Structure& s) {
  return residues_read(s.notes, s.notes.computed_contacts ? s.notes.residues_read : s.len);
}

std::string why_too_short(const Structure& s) {
  const InputNotes& n = s.notes;
  const std::string needed = "; at least " + std::to_string(kMinLength) + " are needed";
  if (!n.computed_contacts || n.residues_read < kMinLength) {
    const int read = n.computed_contacts ? n.residues_read : s.len;
    return residues_read(n, read) + (read > 0 && !n.pdb_cr_only ? needed : "");
  }
  // Contacts from coordinates: only residues near the other chain are kept.
  const std::string two = ": -ca needs the two chains of an interface, each ended by a TER record";
  if (s.nchain == 0) return pdb_name(n) + " has no TER record" + two;
  const auto& ends = n.chains_read;
  if (s.nchain == 1 || ends[1] == 0 || ends[2] == ends[1]) {
    std::string line = pdb_name(n) + " has one chain" + two;
    const int after = n.residues_read - ends[s.nchain];
    if (after > 0)
      line += " (" + count(after, "residue", "residues") + " after the last TER record " +
              (after == 1 ? "belongs" : "belong") + " to no chain)";
    return line;
  }
  std::ostringstream m;
  m << "-ca keeps only the " << count(s.len, "residue", "residues") << " of " << pdb_name(n)
    << " in its first two chains (each ended by a TER record) with a CA atom closer than "
    << kContactCutoff << " A to the other" << needed;
  return m.str();
}

std::string why_few_contacts(const Structure& s, int total) {
  const InputNotes& n = s.notes;
  const std::string needed = "; at least " + std::to_string(kMinContacts) + " are needed";
  if (n.computed_contacts) {
    std::ostringstream m;
    m << pdb_name(n) << " has " << count(total, "contact", "contacts")
      << " on its first chain (CA atoms closer than " << kContactCutoff << " A to the second chain)"
      << needed;
    return m.str();
  }
  if (s.nchain == 0)
    return pdb_name(n) +
           " has no TER record, so no residue is on the first side of the interface "
           "(its first chain, ended by a TER record)";
  if (s.chains[1] == 0)
    return "the first chain of " + pdb_name(n) +
           " is empty: its first TER record comes before any CA atom";
  const std::string range = " (residues 1-" + std::to_string(s.chains[1]) + ")";
  if (n.contacts.empty())
    return "the first chain of " + pdb_name(n) + range + " has " +
           count(total, "contact", "contacts") + needed;
  if (n.contact_records == 0)
    return n.contacts + " has no contact record (a line starting with RES and two blanks)" +
           (n.contacts_cr_only ? ": " + std::string(kCrOnlyCause) : "");
  return n.contacts + " lists " + count(total, "contact", "contacts") + " on the first chain" +
         range + needed;
}

std::string why_too_short(const Structure& s1, const Structure& s2) {
  return join(s1.len < kMinLength ? why_too_short(s1) : "",
              s2.len < kMinLength ? why_too_short(s2) : "");
}

std::string why_few_contacts(const Structure& s1, int total1, const Structure& s2, int total2) {
  return join(total1 < kMinContacts ? why_few_contacts(s1, total1) : "",
              total2 < kMinContacts ? why_few_contacts(s2, total2) : "");
}

}  // namespace tarvix
