#include "structure/readers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

#include "structure/error.h"
#include "structure/fields.h"
#include "structure/secondary.h"

namespace tarvix {
namespace {

constexpr int kPdbColumns = 100;
constexpr int kContactColumns = 1000;
constexpr double kContactCutoff = 8.5;
constexpr double kMaxCoordinate = 1e8;

struct ResidueCode {
  const char* name;
  char code;
};
constexpr ResidueCode kCodes[] = {
    {"UNK", 'X'}, {"GLY", 'G'}, {"ALA", 'A'}, {"SER", 'S'}, {"CYS", 'C'}, {"VAL", 'V'},
    {"THR", 'T'}, {"ILE", 'I'}, {"PRO", 'P'}, {"MET", 'M'}, {"ASP", 'D'}, {"ASN", 'N'},
    {"LEU", 'L'}, {"LYS", 'K'}, {"GLU", 'E'}, {"GLN", 'Q'}, {"ARG", 'R'}, {"HIS", 'H'},
    {"PHE", 'F'}, {"TYR", 'Y'}, {"TRP", 'W'}};

// Reads the next line, without its line end, as a record of `width` columns
// (blank-padded, longer lines cut). Returns false at end of file.
bool next_record(std::istream& in, std::string& line, int width, bool& cut, bool pad = true) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  cut = static_cast<int>(line.size()) > width;
  // Fixed columns read past the end of a short line as blanks; free-form
  // lines need no padding (blanks after the last word add nothing).
  if (pad || cut) line.resize(static_cast<size_t>(width), ' ');
  return true;
}

// "Error: cannot read the <what> in columns a-b of line n of <path>: "<field>"", or
// with out_of_range "Error: the <what> in columns ... is out of range: "<field>"".
[[noreturn]] void bad_field(bool out_of_range, const std::string& what, int from, int to,
                            int lineno, const std::string& path, std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::ostringstream m;
  m << "Error: " << (out_of_range ? "the " : "cannot read the ") << what << " in columns " << from
    << '-' << to << " of line " << lineno << " of " << path
    << (out_of_range ? " is out of range" : "") << ": \"" << text << '"';
  throw Error(m.str());
}

std::string_view field(const std::string& line, int from, int to) {
  return std::string_view(line.data() + from - 1, static_cast<size_t>(to - from + 1));
}

double real_field(const std::string& line, int from, int to, int implied, const char* what,
                  int lineno, const std::string& path) {
  double v = 0.0;
  if (!parse_real_field(field(line, from, to), implied, v))
    bad_field(false, what, from, to, lineno, path, field(line, from, to));
  return v;
}

// A coordinate beyond what the 8 columns hold in plain notation can only come
// from an exponent; such values would overflow the geometry, so they are refused.
double coordinate_field(const std::string& line, int from, int to, const char* what, int lineno,
                        const std::string& path) {
  const double v = real_field(line, from, to, 3, what, lineno, path);
  if (!(std::fabs(v) < kMaxCoordinate))
    bad_field(true, what, from, to, lineno, path, field(line, from, to));
  return v;
}

// Drops the residues without contacts, keeping order, and renumbers chain
// ends and contact partners.
void keep_residues_with_contacts(Structure& s) {
  std::vector<int> renum(static_cast<size_t>(s.len) + 1, 0);
  int j = 0;
  for (int k = 1; k <= s.len; ++k) {
    if (s.contnum[k] > 0) {
      ++j;
      s.ca[j] = s.ca[k];
      s.resname[j] = s.resname[k];
      s.resnum[j] = s.resnum[k];
      s.sec[j] = s.sec[k];
      s.seq[j] = s.seq[k];
      renum[k] = j;
    }
    for (int l = 1; l <= s.nchain; ++l)
      if (s.chains[l] == k) s.chains[l] = j;
  }
  // New indices never exceed old ones, so the lists can be rewritten in place.
  for (int k = 1; k <= s.len; ++k) {
    if (renum[k] == 0) continue;
    const int n = s.contnum[k];
    int kept = 0;
    int* dst = s.partners(renum[k]);
    const int* src = s.partners(k);
    for (int m = 1; m <= n; ++m)
      if (renum[src[m]] > 0) dst[++kept] = renum[src[m]];
    s.contnum[renum[k]] = kept;
  }
  for (int k = j + 1; k <= s.len; ++k) s.contnum[k] = 0;
  s.len = j;
}

}  // namespace

char aa3toaa1(const char name[3]) {
  for (const auto& c : kCodes)
    if (std::memcmp(c.name, name, 3) == 0) return c.code;
  return 'X';
}

void readpdbfile(const std::string& path, Structure& s, int contmode) {
  readpdbfile(path, s, contmode, std::cout);
}

void readpdbfile(const std::string& path, Structure& s, int contmode, std::ostream& out) {
  std::ifstream in(path);
  if (!in) throw Error("Error: cannot open the PDB file \"" + path + "\"");
  s.nchain = 0;
  s.chains[0] = 0;
  int i = 0;
  char chain = ' ';
  std::string line;
  bool cut = false;
  int lineno = 0;
  while (next_record(in, line, kPdbColumns, cut)) {
    ++lineno;
    if (line.compare(0, 3, "TER") == 0) {
      if (s.nchain == kMaxChains) {
        std::ostringstream m;
        m << "Error: more than " << kMaxChains << " chains (\"TER\" records) in " << path
          << ": line " << lineno << " ends chain " << kMaxChains + 1;
        throw Error(m.str());
      }
      ++s.nchain;
      s.chains[s.nchain] = i;
      if (chain == ' ') chain = '_';
      s.chainid[s.nchain] = chain;
      continue;
    }
    if (line.compare(0, 4, "ATOM") != 0) continue;
    {
      int serial = 0;
      if (!parse_int_field(field(line, 7, 11), serial))
        bad_field(false, "atom serial number", 7, 11, lineno, path, field(line, 7, 11));
    }
    chain = line[21];
    const double x = coordinate_field(line, 31, 38, "x coordinate", lineno, path);
    const double y = coordinate_field(line, 39, 46, "y coordinate", lineno, path);
    const double z = coordinate_field(line, 47, 54, "z coordinate", lineno, path);
    const double occ = real_field(line, 55, 60, 2, "occupancy", lineno, path);
    real_field(line, 61, 66, 2, "temperature factor", lineno, path);
    const std::string_view atom(line.data() + 12, 4);
    if (atom != "CA  " && atom != " CA " && atom != "  CA") continue;
    const char alt = line[16];
    if (alt != ' ' && alt != 'A' && alt != '1') continue;
    if (i == kMaxRes) {
      // Keep the first kMaxRes residues and say that the file holds more.
      out << " Warning: total number of residues beyond" << std::string(8, ' ') << kMaxRes << '\n';
      break;
    }
    ++i;
    s.ca[i] = {x, y, z};
    std::memcpy(s.resname[i].data(), line.data() + 17, 3);
    std::memcpy(s.resnum[i].data(), line.data() + 22, 5);
    if (!(std::fabs(occ) < 2147483647.0)) {
      std::ostringstream m;
      m << "Error: the occupancy in columns 55-60 of line " << lineno << " of " << path
        << " is out of range";
      throw Error(m.str());
    }
    s.sec[i] = static_cast<int>(std::llround(occ));  // halves away from zero
    s.seq[i] = aa3toaa1(s.resname[i].data());
  }
  if (in.bad()) throw Error("Error: cannot read the PDB file \"" + path + "\"");
  s.len = i;
  if (contmode == 1) {
    calcsec(s, s.len);
    calccontact(s, kContactCutoff, path);
    keep_residues_with_contacts(s);
  }
}

namespace {

// Empties every contact list of s (the counts and lists of residues past
// s.len are never read, so only those in use are cleared).
void clear_contacts(Structure& s) {
  const size_t rows = static_cast<size_t>(std::clamp(s.len, 0, kMaxRes) + 1);
  std::fill_n(s.contnum.begin(), std::min(rows, s.contnum.size()), 0);
  std::fill_n(s.contlst.begin(), std::min(rows * kMaxCont, s.contlst.size()), 0);
}

}  // namespace

void readcontfile(const std::string& path, Structure& s) {
  clear_contacts(s);
  std::ifstream in(path);
  if (!in) throw Error("Error: cannot open the contact file \"" + path + "\"");
  std::string line;
  bool cut = false;
  int lineno = 0;
  std::vector<std::string_view> words;
  while (next_record(in, line, kContactColumns, cut, /*pad=*/false)) {
    ++lineno;
    if (line.compare(0, 5, "RES  ") != 0) continue;
    words.clear();
    size_t k = 0;
    while (k < line.size()) {
      while (k < line.size() && (line[k] == ' ' || line[k] == ',' || line[k] == '\t')) ++k;
      size_t start = k;
      while (k < line.size() && line[k] != ' ' && line[k] != ',' && line[k] != '\t') ++k;
      if (k > start) words.emplace_back(line.data() + start, k - start);
    }
    auto fail = [&](const std::string& what) {
      std::ostringstream m;
      m << "Error: " << what << " in line " << lineno << " of " << path;
      throw Error(m.str());
    };
    auto integer = [&](size_t w, const char* what) {
      int v = 0;
      if (w >= words.size()) fail(std::string("missing ") + what);
      if (!parse_int_word(words[w], v))
        fail(std::string("cannot read ") + what + " \"" + std::string(words[w]) + "\"");
      return v;
    };
    const int i = integer(1, "the residue index");
    if (i < 1 || i > s.len) {
      std::ostringstream m;
      m << "the residue index " << i << " is outside 1.." << s.len;
      fail(m.str());
    }
    const int n = integer(2, "the number of contacts");
    if (n < 0 || n > kMaxCont) {
      std::ostringstream m;
      m << "the number of contacts " << n << " is outside 0.." << kMaxCont;
      fail(m.str());
    }
    if (words.size() < static_cast<size_t>(n) + 3) {
      std::ostringstream m;
      m << "residue " << i << " announces " << n << " contacts but lists " << words.size() - 3;
      if (cut) m << " within the first " << kContactColumns << " columns";
      fail(m.str());
    }
    int* dst = s.partners(i);
    for (int m = 1; m <= n; ++m) {
      const int p = integer(static_cast<size_t>(m) + 2, "a contact partner");
      if (p < 1 || p > s.len) {
        std::ostringstream msg;
        msg << "the contact partner " << p << " of residue " << i << " is outside 1.." << s.len;
        fail(msg.str());
      }
      dst[m] = p;
    }
    s.contnum[i] = n;
  }
  if (in.bad()) throw Error("Error: cannot read the contact file \"" + path + "\"");
}

void calccontact(Structure& s, double cutoff, const std::string& source) {
  clear_contacts(s);
  const int e1 = s.chains[1];
  const int e2 = s.chains[2];
  const double cut2 = cutoff * cutoff;
  auto add = [&](int a, int b) {
    if (s.contnum[a] == kMaxCont) {
      std::ostringstream m;
      m << "Error: residue " << a << " of " << source << " has more than " << kMaxCont
        << " contacts within " << cutoff << " Angstrom";
      throw Error(m.str());
    }
    s.partners(a)[++s.contnum[a]] = b;
  };
  for (int i = 1; i <= e1; ++i) {
    for (int j = e1 + 1; j <= e2; ++j) {
      const double dx = s.ca[i][0] - s.ca[j][0];
      const double dy = s.ca[i][1] - s.ca[j][1];
      const double dz = s.ca[i][2] - s.ca[j][2];
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 < cut2) {
        add(i, j);
        add(j, i);
      }
    }
  }
}

}  // namespace tarvix
