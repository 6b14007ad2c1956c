// The classic interface files of an interface taken from a complex.
#include <cstdio>
#include <fstream>

#include "complex/complex.h"
#include "complex/pdb_format.h"
#include "structure/error.h"

namespace tarvix {
namespace {

[[noreturn]] void unwritable(const ComplexInterface& ci, const std::string& what) {
  throw Error("Error: " + ci.complex.path + ": " + what +
              " does not fit the columns of a PDB file; the interface cannot be written");
}

// The file name without directories and without the extensions of the
// complex formats ("data/1abc.cif.gz" -> "1abc").
std::string stem(const std::string& path) {
  std::string s = path.substr(path.find_last_of('/') + 1);
  for (const char* ext : {".gz", ".pdb", ".ent", ".cif", ".mmcif"})
    if (s.size() > std::string(ext).size() && s.ends_with(ext)) s.resize(s.size() - std::string(ext).size());
  return s;
}

}  // namespace

std::string interface_pdb_text(const ComplexInterface& ci) {
  std::string out;
  int serial = 0;
  char line[128];
  const int n = static_cast<int>(ci.residues.size());
  for (int i = 1; i <= n; ++i) {
    const ComplexResidue& res = ci.residue(i);
    const std::string& chain = ci.chain_of(i).name;
    if (chain.size() > 2) unwritable(ci, "the chain name \"" + chain + "\"");
    if (res.name.size() > 3) unwritable(ci, "the residue name \"" + res.name + "\"");
    if (res.seqnum < -999 || res.seqnum > 9999)
      unwritable(ci, "the residue number " + std::to_string(res.seqnum) + " of chain " + chain);
    const int sec = ci.residues[static_cast<size_t>(i - 1)].sec;
    for (const ComplexAtom& a : res.atoms) {
      if (a.name.size() > 4) unwritable(ci, "the atom name \"" + a.name + "\"");
      for (double x : a.pos)
        if (!(x > -1000.0 && x < 10000.0)) unwritable(ci, "the coordinate " + std::to_string(x));
      std::snprintf(line, sizeof line,
                    "ATOM  %5d %4s %3s%2s%4d%c   %8.3f%8.3f%8.3f%6.2f%6.2f          %2s\n",
                    serial % 100000, pdb_atom_name(a).c_str(), res.name.c_str(),
                    chain.empty() ? " " : chain.c_str(), res.seqnum, res.icode, a.pos[0], a.pos[1],
                    a.pos[2], static_cast<double>(sec), static_cast<double>(a.b_iso),
                    a.element.substr(0, 2).c_str());
      out += line;
      ++serial;
    }
    if (i == ci.side1_count || i == n) {
      out += "TER\n";
      ++serial;
    }
  }
  out += "END\n";
  return out;
}

std::string interface_contacts_text(const ComplexInterface& ci) {
  std::string out = "# interface contacts of " + stem(ci.complex.path) + " chains " +
                    side_text(ci.sides[0]) + ":" + side_text(ci.sides[1]) +
                    ", heavy-atom distance < 4.5 A\n";
  for (size_t i = 0; i < ci.residues.size(); ++i) {
    const InterfaceResidue& r = ci.residues[i];
    out += "RES  ";
    out += std::to_string(i + 1);
    out += ' ';
    out += std::to_string(r.partners.size());
    for (int p : r.partners) {
      out += ' ';
      out += std::to_string(p);
    }
    out += '\n';
  }
  return out;
}

void write_interface_files(const ComplexInterface& ci, const std::string& prefix) {
  // Both texts first: nothing is written for an interface that cannot be.
  const std::string pdb = interface_pdb_text(ci);
  const std::string contacts = interface_contacts_text(ci);
  for (const auto& [name, text] : {std::pair{prefix + ".pdb", &pdb}, std::pair{prefix + ".contacts", &contacts}}) {
    std::ofstream f(name, std::ios::binary);
    f << *text;
    f.close();
    if (!f) throw Error("Error: cannot write " + name);
  }
}

}  // namespace tarvix
