// --superpose: structure 1 moved onto structure 2, both in one PDB file.

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "driver/long_options.h"
#include "structure/error.h"
#include "structure/fields.h"

namespace tarvix {
namespace {

bool is_atom(const std::string& line) { return line.rfind("ATOM  ", 0) == 0 || line.rfind("HETATM", 0) == 0; }

std::vector<std::string> atom_lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("Error: cannot open the PDB file \"" + path + "\"");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (is_atom(line) || line.rfind("TER", 0) == 0) {
      if (line.size() < 80) line.resize(80, ' ');
      lines.push_back(line);
    }
  }
  return lines;
}

char chain_of(const std::string& line) { return line.size() > 21 ? line[21] : ' '; }

}  // namespace

void write_superposition(const std::string& path, const std::string& pdb1, const std::string& pdb2,
                         const double u[3][3], const double t[3],
                         const std::vector<std::pair<std::string, std::string>>& aligned1,
                         const std::vector<std::pair<std::string, std::string>>& aligned2) {
  std::vector<std::string> one = atom_lines(pdb1), two = atom_lines(pdb2);

  // Structure 2 keeps its chain names; those of structure 1 that clash take
  // the first names neither structure uses.
  std::set<char> used;
  for (const std::string& l : two)
    if (is_atom(l)) used.insert(chain_of(l));
  std::set<char> own1;
  for (const std::string& l : one)
    if (is_atom(l)) own1.insert(chain_of(l));
  std::map<char, char> newname;
  static const std::string kNames = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (char c : own1) {
    if (!used.count(c)) {
      used.insert(c);
      newname[c] = c;
    }
  }
  for (char c : own1) {
    if (newname.count(c)) continue;
    for (char n : kNames)
      if (!used.count(n) && !own1.count(n)) {
        newname[c] = n;
        used.insert(n);
        break;
      }
    if (!newname.count(c)) newname[c] = c;  // out of names: keep it
  }

  auto key = [](const std::string& line) { return std::make_pair(std::string(1, line[21]), line.substr(22, 5)); };
  const std::set<std::pair<std::string, std::string>> marked1(aligned1.begin(), aligned1.end());
  const std::set<std::pair<std::string, std::string>> marked2(aligned2.begin(), aligned2.end());

  std::ostringstream out;
  out << "REMARK   1 Tarvix superposition: structure 1 (" << pdb1 << ") moved onto structure 2 (" << pdb2
      << ")\n";
  out << "REMARK   1 B-factor 1.00: aligned residue, 0.00: not aligned\n";
  char buf[16];
  for (std::string line : one) {
    if (is_atom(line)) {
      double x[3];
      for (int k = 0; k < 3; ++k)
        if (!parse_real_field(std::string_view(line).substr(30 + 8 * k, 8), 3, x[k]))
          throw Error("Error: unreadable coordinates in " + pdb1 + ": " + line.substr(0, 54));
      const bool aligned = marked1.count(key(line)) > 0;
      for (int i = 0; i < 3; ++i) {
        const double y = t[i] + u[i][0] * x[0] + u[i][1] * x[1] + u[i][2] * x[2];
        std::snprintf(buf, sizeof buf, "%8.3f", y);
        line.replace(30 + 8 * i, 8, buf);
      }
      line.replace(60, 6, aligned ? "  1.00" : "  0.00");
    }
    if (newname.count(line[21])) line[21] = newname[line[21]];
    out << line.substr(0, line.find_last_not_of(' ') + 1) << '\n';
  }
  for (std::string line : two) {
    if (is_atom(line)) line.replace(60, 6, marked2.count(key(line)) ? "  1.00" : "  0.00");
    out << line.substr(0, line.find_last_not_of(' ') + 1) << '\n';
  }
  out << "END\n";
  std::ofstream f(path, std::ios::binary);
  f << out.str();
  if (!f) throw Error("Error: cannot write the superposition " + path);
}

}  // namespace tarvix
