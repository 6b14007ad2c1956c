// Reading a complex file into its protein chains, with gemmi doing the
// parsing of both formats.
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string_view>

#include <gemmi/cif.hpp>
#include <gemmi/mmcif.hpp>
#include <gemmi/pdb.hpp>
#include <gemmi/resinfo.hpp>

#include "complex/complex.h"
#include "structure/error.h"
#include "structure/readers.h"

namespace tarvix {
namespace {

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
  throw Error("Error: " + path + ": " + problem);
}

// The whole file, inflated when it starts with the gzip magic bytes.
std::string load(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) fail(path, std::string("cannot open the file (") + std::strerror(errno) + ")");
  unsigned char magic[2] = {0, 0};
  const size_t got = std::fread(magic, 1, 2, f.get());
  if (got == 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
    f.reset();
    gzFile gz = gzopen(path.c_str(), "rb");
    if (!gz) fail(path, "cannot open the gzipped file");
    std::string text;
    std::vector<char> buf(1 << 16);
    int n = 0;
    while ((n = gzread(gz, buf.data(), static_cast<unsigned>(buf.size()))) > 0)
      text.append(buf.data(), static_cast<size_t>(n));
    int code = Z_OK;
    const std::string message = n < 0 ? gzerror(gz, &code) : "";
    // gzclose_r reports a stream that ends before its end marker.
    const int closed = gzclose_r(gz);
    if (n < 0 || closed != Z_OK)
      fail(path, "the gzipped data are truncated or corrupt" +
                     (message.empty() ? std::string() : " (" + message + ")"));
    return text;
  }
  std::string text(reinterpret_cast<const char*>(magic), got);
  std::vector<char> buf(1 << 16);
  size_t n = 0;
  while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) text.append(buf.data(), n);
  if (std::ferror(f.get())) fail(path, "cannot read the file");
  return text;
}

enum class Format { kPdb, kMmcif, kUnknown };

// (std::string_view::starts_with is C++20; this file is built as C++17 where
// gemmi's headers need it.)
bool begins(std::string_view line, std::string_view word) { return line.substr(0, word.size()) == word; }

bool starts_with_nocase(std::string_view line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(line[k])) != word[k]) return false;
  return true;
}

// mmCIF starts (after comments and blank lines) with a data block; a PDB
// file has ATOM or HETATM records.
Format detect(const std::string& text) {
  size_t at = 0;
  bool first = true;
  bool atoms = false;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    at = end + 1;
    if (first) {
      size_t k = line.find_first_not_of(" \t\r");
      if (k == std::string_view::npos || line[k] == '#') continue;
      first = false;
      if (starts_with_nocase(line.substr(k), "data_")) return Format::kMmcif;
    }
    if (begins(line, "ATOM  ") || begins(line, "HETATM")) {
      atoms = true;
      break;
    }
  }
  return atoms ? Format::kPdb : Format::kUnknown;
}

bool usable_element(char a, char b) {
  if (a == ' ' && b == ' ') return true;
  if (!std::isalpha(static_cast<unsigned char>(b))) return false;
  if (a != ' ' && !std::isalpha(static_cast<unsigned char>(a))) return false;
  const char sym[3] = {a == ' ' ? b : a, a == ' ' ? '\0' : b, '\0'};
  return gemmi::find_element(sym) != gemmi::El::X;
}

bool usable_charge(char a, char b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  auto sign = [](char c) { return c == '+' || c == '-'; };
  return (a == ' ' && b == ' ') || (digit(a) && sign(b)) || (sign(a) && digit(b));
}

// Blanks columns 77-78 (element) and 79-80 (charge) of atom records where
// they hold something else, so that the element comes from the atom name.
// Returns the number of records changed.
int blank_unusable_element_columns(std::string& text) {
  int changed = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    size_t len = end - at;
    if (len > 0 && text[at + len - 1] == '\r') --len;
    char* line = text.data() + at;
    if (len > 76 && (std::strncmp(line, "ATOM  ", 6) == 0 || std::strncmp(line, "HETATM", 6) == 0)) {
      auto col = [&](size_t c) { return c < len ? line[c] : ' '; };
      bool fixed = false;
      if (!usable_element(col(76), col(77))) {
        line[76] = ' ';
        if (len > 77) line[77] = ' ';
        fixed = true;
      }
      if (len > 78 && !usable_charge(col(78), col(79))) {
        line[78] = ' ';
        if (len > 79) line[79] = ' ';
        fixed = true;
      }
      if (fixed) ++changed;
    }
    at = end + 1;
  }
  return changed;
}

// Blanks END records that atom records follow (files put together from
// several), so that reading goes on to those atoms. Returns their number.
int blank_early_end_records(std::string& text) {
  std::vector<size_t> ends;
  int blanked = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    if (begins(line, "END")) {
      const size_t k = line.find_first_not_of(" \r", 3);
      if (k == std::string_view::npos) ends.push_back(at);
    } else if (begins(line, "ATOM  ") || begins(line, "HETATM")) {
      for (size_t e : ends) text.replace(e, 3, "   ");
      blanked += static_cast<int>(ends.size());
      ends.clear();
    }
    at = end + 1;
  }
  return blanked;
}

char one_letter(const std::string& name, const gemmi::ResidueInfo& info) {
  if (name.size() == 3) {
    const char code = aa3toaa1(name.c_str());
    if (code != 'X') return code;
  }
  // A modified amino acid takes its parent's code (gemmi writes it in lower case).
  if (info.found() && info.is_amino_acid() && std::islower(static_cast<unsigned char>(info.one_letter_code)))
    return static_cast<char>(std::toupper(static_cast<unsigned char>(info.one_letter_code)));
  return 'X';
}

const gemmi::Atom* find_atom(const gemmi::Residue& r, const char* name) {
  for (const gemmi::Atom& a : r.atoms)
    if (a.name == name && !a.is_hydrogen()) return &a;
  return nullptr;
}

bool peptide_bonded(const gemmi::Residue* a, const gemmi::Residue* b) {
  if (!a || !b) return false;
  const gemmi::Atom* c = find_atom(*a, "C");
  const gemmi::Atom* n = find_atom(*b, "N");
  return c && n && c->pos.dist_sq(n->pos) < 2.0 * 2.0;
}

// Turns the residues of one author chain (all its parts, in file order) into
// its protein residues.
ComplexChain protein_chain(const std::string& name, const std::vector<const gemmi::Residue*>& all,
                           int& without_ca) {
  ComplexChain chain;
  chain.name = name;
  std::set<std::pair<int, char>> seen;
  for (size_t k = 0; k < all.size(); ++k) {
    const gemmi::Residue& r = *all[k];
    if (r.is_water()) continue;
    const gemmi::ResidueInfo info = gemmi::find_tabulated_residue(r.name);
    const bool has_ca = find_atom(r, "CA") != nullptr;
    // Atom records (ATOM, or a file that does not say) of amino acids are
    // polymer residues, whatever a "TER" before them made gemmi think (files
    // that mark chain breaks by "TER", and mmCIF files converted from them,
    // declare the residues after a break non-polymer). HETATM records are
    // when the file puts them in the polymer or when they are peptide-bonded
    // to a neighbour (a modified residue after such a break).
    const bool polymer = r.het_flag != 'H' || r.entity_type == gemmi::EntityType::Polymer ||
                         peptide_bonded(k > 0 ? all[k - 1] : nullptr, &r) ||
                         peptide_bonded(&r, k + 1 < all.size() ? all[k + 1] : nullptr);
    const bool amino = info.found() ? info.is_amino_acid() : has_ca;
    if (!polymer || !amino) continue;

    // One conformation: atoms without alternate location and those of the
    // first alternate location that the residue lists.
    char keep = '\0';
    for (const gemmi::Atom& a : r.atoms)
      if (a.altloc != '\0' && !a.is_hydrogen()) {
        keep = a.altloc;
        break;
      }
    ComplexResidue res;
    res.name = r.name;
    res.seqnum = r.seqid.num.has_value() ? *r.seqid.num : 0;
    res.icode = r.seqid.icode == '\0' ? ' ' : r.seqid.icode;
    res.code = one_letter(r.name, info);
    bool all_alternate = true;
    for (const gemmi::Atom& a : r.atoms) {
      if (a.is_hydrogen()) continue;
      if (a.altloc == '\0') all_alternate = false;
      if (a.altloc != '\0' && a.altloc != keep) continue;
      ComplexAtom atom;
      atom.name = a.name;
      atom.element = a.element.uname();
      atom.pos = {a.pos.x, a.pos.y, a.pos.z};
      atom.occ = a.occ;
      atom.b_iso = a.b_iso;
      if (res.ca < 0 && a.name == "CA") res.ca = static_cast<int>(res.atoms.size());
      res.atoms.push_back(std::move(atom));
    }
    // A second residue under the same number made only of alternate
    // locations is another conformation of the first (a point mutation
    // modelled as two residues): the first one stays.
    const std::pair<int, char> id{res.seqnum, res.icode};
    if (!seen.insert(id).second && all_alternate) continue;
    if (res.ca < 0) {
      if (!res.atoms.empty()) ++without_ca;
      continue;
    }
    chain.residues.push_back(std::move(res));
  }
  return chain;
}

gemmi::Structure parse(const std::string& path, std::string& text, Format format, Complex& c) {
  try {
    if (format == Format::kMmcif) {
      gemmi::cif::Document doc = gemmi::cif::read_memory(text.data(), text.size(), path.c_str());
      if (doc.blocks.empty() || !doc.blocks[0].has_tag("_atom_site.id"))
        fail(path, "the mmCIF file has no atom records (_atom_site)");
      return gemmi::make_structure(doc);
    }
    const int ends = blank_early_end_records(text);
    if (ends > 0)
      c.warnings.push_back("Warning: " + path + ": atom records follow an END record; they were read too");
    const int fixed = blank_unusable_element_columns(text);
    if (fixed > 0)
      c.warnings.push_back("Warning: " + path + ": columns 77-80 of " + std::to_string(fixed) +
                           " atom records hold no valid element and charge; the elements there "
                           "were taken from the atom names");
    return gemmi::read_pdb_from_memory(text.data(), text.size(), path);
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    std::string what = e.what();
    while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
    fail(path, std::string("cannot read the ") + (format == Format::kMmcif ? "mmCIF" : "PDB") +
                   " file: " + what);
  }
}

}  // namespace

const ComplexChain* Complex::find(const std::string& name) const {
  for (const ComplexChain& ch : chains)
    if (ch.name == name) return &ch;
  return nullptr;
}

std::string Complex::chain_list() const {
  std::string s;
  for (const ComplexChain& ch : chains) {
    if (!s.empty()) s += ", ";
    s += ch.name.empty() ? "_" : ch.name;
  }
  return s.empty() ? "none" : s;
}

Complex read_complex(const std::string& path) {
  Complex c;
  c.path = path;
  std::string text = load(path);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) fail(path, "the file is empty");
  const Format format = detect(text);
  if (format == Format::kUnknown)
    fail(path, "the file is neither PDB (no ATOM or HETATM records) nor mmCIF (no data block)");
  gemmi::Structure st = parse(path, text, format, c);
  text.clear();
  text.shrink_to_fit();
  if (st.models.empty() || st.models[0].chains.empty()) fail(path, "the file holds no atoms");

  // Chain parts of the first model grouped by author chain name.
  std::vector<std::string> order;
  std::vector<std::vector<const gemmi::Residue*>> parts;
  for (const gemmi::Chain& ch : st.models[0].chains) {
    auto it = std::find(order.begin(), order.end(), ch.name);
    size_t k = static_cast<size_t>(it - order.begin());
    if (it == order.end()) {
      order.push_back(ch.name);
      parts.emplace_back();
    }
    for (const gemmi::Residue& r : ch.residues) parts[k].push_back(&r);
  }
  int without_ca = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    ComplexChain chain = protein_chain(order[k], parts[k], without_ca);
    if (!chain.residues.empty()) c.chains.push_back(std::move(chain));
  }
  for (const ComplexChain& ch : c.chains)
    for (const ComplexResidue& r : ch.residues)
      for (const ComplexAtom& a : r.atoms)
        for (double x : a.pos)
          if (!(std::fabs(x) < 1e7))
            fail(path, "atom " + a.name + " of residue " + r.name + " " + std::to_string(r.seqnum) +
                           " of chain " + ch.name + " has no usable coordinates");
  if (without_ca > 0)
    c.warnings.push_back("Warning: " + path + ": " + std::to_string(without_ca) +
                         " amino-acid residues without a CA atom were left out");
  if (c.chains.empty()) fail(path, "the file holds no protein chain");
  return c;
}

}  // namespace tarvix
