#include "structure/readers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>
#include <tuple>
#include <vector>

#include "structure/causes.h"
#include "structure/error.h"
#include "structure/fields.h"
#include "structure/secondary.h"

namespace tarvix {
namespace {

constexpr int kPdbColumns = 100;
constexpr int kContactColumns = 1000;
constexpr double kMaxCoordinate = 1e8;
// Lines of a contact file that are warned about one by one for a partner
// listed more than once; the rest are counted in one last warning.
constexpr int kMaxTwiceWarnings = 5;

struct ResidueCode {
  const char* name;
  char code;
};
constexpr ResidueCode kCodes[] = {
    {"UNK", 'X'}, {"GLY", 'G'}, {"ALA", 'A'}, {"SER", 'S'}, {"CYS", 'C'}, {"VAL", 'V'},
    {"THR", 'T'}, {"ILE", 'I'}, {"PRO", 'P'}, {"MET", 'M'}, {"ASP", 'D'}, {"ASN", 'N'},
    {"LEU", 'L'}, {"LYS", 'K'}, {"GLU", 'E'}, {"GLN", 'Q'}, {"ARG", 'R'}, {"HIS", 'H'},
    {"PHE", 'F'}, {"TYR", 'Y'}, {"TRP", 'W'}};

// One line of a file, without its line end, as a record of a fixed number of
// columns.
struct Record {
  std::string text;
  int lineno = 0;
  size_t length = 0;  // columns of the line as read
  bool cut = false;   // longer than the record: the rest is not read
  bool cr = false;    // a carriage return followed by a record name inside the line
};

// Reads the next line as a record of `width` columns (longer lines cut, and
// with pad shorter ones padded with blanks). Only the columns a record can use
// are kept, so a file without line ends (a binary file given by mistake) costs
// no memory. `names` are the record names that tell, after a carriage return
// inside a line, that the file's lines end with a carriage return alone.
// Returns false at end of file, or with the stream's badbit set when the file
// cannot be read.
bool next_record(std::istream& in, Record& r, int width, bool pad,
                 std::initializer_list<std::string_view> names) {
  constexpr size_t kLookahead = 8;  // beyond the last column: a record name after a CR
  const size_t keep = static_cast<size_t>(width) + kLookahead;
  // The kept columns in one go (getline stops after keep of them, at the line
  // end or at the end of the file, and turns a read error into badbit).
  r.text.resize(keep + 1);
  in.getline(r.text.data(), static_cast<std::streamsize>(keep + 1));
  const size_t got = static_cast<size_t>(in.gcount());
  if (in.bad() || got == 0) {
    r.text.clear();
    return false;  // end of file (failbit and eofbit set) or read error
  }
  size_t length;
  int last;
  if (in.fail()) {
    // keep columns stored and the line goes on: count the rest of it
    in.clear(in.rdstate() & ~std::ios::failbit);
    r.text.resize(keep);
    length = keep;
    last = static_cast<unsigned char>(r.text[keep - 1]);
    int c = 0;
    try {
      std::streambuf* sb = in.rdbuf();
      for (c = sb->sbumpc(); c != std::char_traits<char>::eof() && c != '\n'; c = sb->sbumpc()) {
        ++length;
        last = c;
      }
    } catch (...) {  // the file layer's read error
      in.setstate(std::ios::badbit);
      return false;
    }
    if (c != '\n') in.setstate(std::ios::eofbit);
  } else {
    // the whole line, its line end extracted unless the file ended first
    length = in.eof() ? got : got - 1;
    r.text.resize(length);
    last = length > 0 ? static_cast<unsigned char>(r.text[length - 1]) : 0;
  }
  ++r.lineno;
  if (last == '\r') {  // CR LF line end
    --length;
    if (r.text.size() > length) r.text.pop_back();
  }
  r.length = length;
  r.cut = length > static_cast<size_t>(width);
  r.cr = false;
  for (size_t k = r.text.find('\r'); k != std::string::npos && !r.cr; k = r.text.find('\r', k + 1))
    for (std::string_view name : names)
      if (r.text.compare(k + 1, name.size(), name) == 0) r.cr = true;
  // Fixed columns read past the end of a short line as blanks; free-form
  // lines need no padding (blanks after the last word add nothing).
  if (pad || r.cut) r.text.resize(static_cast<size_t>(width), ' ');
  return true;
}

// Text of a file quoted in a message, with control characters and other
// bytes outside printable ASCII written as \xNN (a terminal shows them as
// they are).
std::string printable(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
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
    << (out_of_range ? " is out of range" : "") << ": \"" << printable(text) << '"';
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
  std::ostream dropped(nullptr);
  readpdbfile(path, s, contmode, dropped);
}

void readpdbfile(const std::string& path, Structure& s, int contmode, std::ostream& out) {
  std::ifstream in(path);
  if (!in) throw Error("Error: cannot open the PDB file \"" + path + "\"");
  readpdbfile(in, path, s, contmode, out);
}

void readpdbfile(std::istream& in, const std::string& path, Structure& s, int contmode,
                 std::ostream& out) {
  s.nchain = 0;
  s.chains.fill(0);
  s.chainid.fill(' ');
  s.notes = InputNotes{};
  s.notes.pdb = path;
  InputNotes& notes = s.notes;
  int i = 0;
  char chain = ' ';
  Record r;
  const std::string& line = r.text;
  try {
    while (next_record(in, r, kPdbColumns, /*pad=*/true, {"ATOM", "TER"})) {
      const int lineno = r.lineno;
      notes.pdb_lines = lineno;
      notes.pdb_cr_only = notes.pdb_cr_only || r.cr;
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
      if (line.compare(0, 4, "ATOM") != 0) {
        if (line.compare(0, 6, "HETATM") == 0) ++notes.hetatm_records;
        continue;
      }
      ++notes.atom_records;
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
      // A coordinate the line stops short of would read as zero: refuse it
      // (a blank field within the line still reads as zero).
      for (const auto& [from, to, what] : {std::tuple{31, 38, "x"}, {39, 46, "y"}, {47, 54, "z"}}) {
        if (r.length >= static_cast<size_t>(to)) continue;
        std::ostringstream m;
        m << "Error: the " << what << " coordinate in columns " << from << '-' << to << " of line "
          << lineno << " of " << path << " is cut off: the line ends at column " << r.length;
        throw Error(m.str());
      }
      ++i;
      // A structure made for the residues of a typical interface grows as
      // the file turns out to hold more.
      if (i > s.capacity()) s.reserve(std::min(kMaxRes, std::max(2 * s.capacity(), 64)));
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
  } catch (const Error& e) {
    // Records that run into each other may be why a field cannot be read.
    if (!notes.pdb_cr_only) throw;
    throw Error(std::string(e.what()) + "\n" + path + ": " + kCrOnlyCause);
  }
  if (in.bad()) throw Error("Error: cannot read the PDB file \"" + path + "\"");
  s.len = i;
  notes.residues_read = i;
  notes.chains_read = s.chains;
  if (contmode == 1) {
    notes.computed_contacts = true;
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
  std::memset(s.contnum.data(), 0, std::min(rows, s.contnum.size()) * sizeof(int));
  std::memset(s.contlst.data(), 0, std::min(rows * kMaxCont, s.contlst.size()) * sizeof(int));
}

}  // namespace

void readcontfile(const std::string& path, Structure& s) {
  std::ostream dropped(nullptr);
  readcontfile(path, s, dropped);
}

void readcontfile(const std::string& path, Structure& s, std::ostream& out) {
  std::ifstream in(path);
  if (!in) throw Error("Error: cannot open the contact file \"" + path + "\"");
  readcontfile(in, path, s, out);
}

void readcontfile(std::istream& in, const std::string& path, Structure& s, std::ostream& out) {
  clear_contacts(s);
  InputNotes& notes = s.notes;
  notes.computed_contacts = false;
  notes.contacts = path;
  notes.contact_records = 0;
  notes.contacts_cr_only = false;
  // Sides as the coordinate file's first "TER" record sets them (mark_sides).
  auto side = [&](int k) { return k <= s.chains[1] ? 1 : 2; };
  int same_side_line = 0, same_side_a = 0, same_side_b = 0;
  int twice_lines = 0;  // lines listing a partner more than once
  Record r;
  const std::string& line = r.text;
  std::vector<std::string_view> words;
  std::vector<int> twice;
  while (next_record(in, r, kContactColumns, /*pad=*/false, {"RES  "})) {
    const int lineno = r.lineno;
    notes.contacts_cr_only = notes.contacts_cr_only || r.cr;
    if (line.compare(0, 5, "RES  ") != 0) continue;
    ++notes.contact_records;
    words.clear();
    size_t k = 0;
    while (k < line.size()) {
      while (k < line.size() && (line[k] == ' ' || line[k] == ',' || line[k] == '\t')) ++k;
      size_t start = k;
      while (k < line.size() && line[k] != ' ' && line[k] != ',' && line[k] != '\t') ++k;
      if (k > start) words.emplace_back(line.data() + start, k - start);
    }
    auto fail = [&](const std::string& what, bool beyond_structure = false) {
      std::ostringstream m;
      m << "Error: " << what << " in line " << lineno << " of " << path;
      // An index past the structure's end may be the coordinate file's fault.
      if (beyond_structure && !notes.pdb.empty()) m << '\n' << describe_residues(s);
      else if (r.cr) m << '\n' << path << ": " << kCrOnlyCause;
      throw Error(m.str());
    };
    auto integer = [&](size_t w, const char* what) {
      int v = 0;
      if (w >= words.size()) fail(std::string("missing ") + what);
      if (!parse_int_word(words[w], v))
        fail(std::string("cannot read ") + what + " \"" + printable(words[w]) + "\"");
      return v;
    };
    const int i = integer(1, "the residue index");
    if (i < 1 || i > s.len) {
      std::ostringstream m;
      m << "the residue index " << i << " is outside 1.." << s.len;
      fail(m.str(), i > s.len);
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
      if (r.cut) m << " within the first " << kContactColumns << " columns";
      fail(m.str());
    }
    int* dst = s.partners(i);
    int kept = 0;
    twice.clear();
    for (int m = 1; m <= n; ++m) {
      const int p = integer(static_cast<size_t>(m) + 2, "a contact partner");
      if (p < 1 || p > s.len) {
        std::ostringstream msg;
        msg << "the contact partner " << p << " of residue " << i << " is outside 1.." << s.len;
        fail(msg.str(), p > s.len);
      }
      // A partner listed again counts once.
      if (std::find(dst + 1, dst + 1 + kept, p) != dst + 1 + kept) {
        if (std::find(twice.begin(), twice.end(), p) == twice.end()) twice.push_back(p);
        continue;
      }
      dst[++kept] = p;
      if (same_side_line == 0 && side(p) == side(i)) {
        same_side_line = lineno;
        same_side_a = i;
        same_side_b = p;
      }
    }
    s.contnum[i] = kept;
    if (!twice.empty() && ++twice_lines <= kMaxTwiceWarnings) {
      out << "Warning: line " << lineno << " of " << path << " lists "
          << (twice.size() == 1 ? "partner " : "partners ");
      for (size_t t = 0; t < twice.size(); ++t) out << (t ? ", " : "") << twice[t];
      out << " of residue " << i << " more than once; "
          << (twice.size() == 1 ? "it counts" : "each counts") << " once\n";
    }
  }
  if (in.bad()) throw Error("Error: cannot read the contact file \"" + path + "\"");
  if (twice_lines > kMaxTwiceWarnings)
    out << "Warning: " << twice_lines - kMaxTwiceWarnings << " more lines of " << path
        << " list a partner more than once; each counts once\n";
  // Without a first chain every residue is on side 2; the run says why.
  if (same_side_line > 0 && s.chains[1] > 0)
    out << "Warning: " << path << " lists contacts within one side of the interface, first in line "
        << same_side_line << " (residues " << same_side_a << " and " << same_side_b
        << "); they are kept\n";
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
