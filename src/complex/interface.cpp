// The interface between two sides of a complex and its interface record.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "complex/complex.h"
#include "structure/error.h"
#include "structure/secondary.h"

namespace tarvix {
namespace {

[[noreturn]] void fail(const std::string& path, const std::string& problem) {
  throw Error("Error: " + path + ": " + problem);
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    const size_t k = s.find(sep, at);
    parts.push_back(s.substr(at, k == std::string::npos ? std::string::npos : k - at));
    if (k == std::string::npos) return parts;
    at = k + 1;
  }
}

std::string join(const std::vector<std::string>& parts, size_t n, char sep) {
  std::string s;
  for (size_t k = 0; k < n; ++k) {
    if (k) s += sep;
    s += parts[k];
  }
  return s;
}

std::vector<std::string> side_names(const std::string& text, const std::string& choice) {
  std::vector<std::string> names = split(text, ',');
  for (const std::string& n : names)
    if (n.empty())
      throw Error("Error: the interface \"" + choice + "\" has an empty chain name (write FILE:A,B:C)",
                  ExitCode::kUsage);
  return names;
}

std::string display(const std::string& chain) { return chain.empty() ? "_" : chain; }

// "chain A" or "chains H,L".
std::string chains_phrase(const std::vector<std::string>& chains) {
  return (chains.size() == 1 ? "chain " : "chains ") + side_text(chains);
}

// Index of the protein chain called name; "_" also names a blank chain name.
int chain_index(const Complex& c, const std::string& name) {
  for (size_t k = 0; k < c.chains.size(); ++k)
    if (c.chains[k].name == name) return static_cast<int>(k);
  if (name == "_")
    for (size_t k = 0; k < c.chains.size(); ++k)
      if (c.chains[k].name.empty()) return static_cast<int>(k);
  return -1;
}

// One grid cell per kInterfaceCutoff: atoms closer than the cutoff lie in
// the same or a neighbouring cell.
struct CellKey {
  long long x, y, z;
  bool operator==(const CellKey&) const = default;
};
struct CellHash {
  size_t operator()(const CellKey& k) const {
    return std::hash<long long>()(k.x * 73856093LL ^ k.y * 19349663LL ^ k.z * 83492791LL);
  }
};
CellKey cell_of(const Coord& p) {
  return {static_cast<long long>(std::floor(p[0] / kInterfaceCutoff)),
          static_cast<long long>(std::floor(p[1] / kInterfaceCutoff)),
          static_cast<long long>(std::floor(p[2] / kInterfaceCutoff))};
}

struct SideResidue {
  int chain;
  int residue;
};

std::vector<SideResidue> residues_of(const Complex& c, const std::vector<int>& chains) {
  std::vector<SideResidue> out;
  for (int ch : chains)
    for (size_t r = 0; r < c.chains[static_cast<size_t>(ch)].residues.size(); ++r)
      out.push_back({ch, static_cast<int>(r)});
  return out;
}

const ComplexResidue& residue_at(const Complex& c, const SideResidue& r) {
  return c.chains[static_cast<size_t>(r.chain)].residues[static_cast<size_t>(r.residue)];
}

std::string residue_label(const Complex& c, int chain, const ComplexResidue& r) {
  char num[24];
  std::snprintf(num, sizeof num, "%d", r.seqnum);
  return r.name + " " + num + (r.icode != ' ' ? std::string(1, r.icode) : "") + " of chain " +
         display(c.chains[static_cast<size_t>(chain)].name);
}

}  // namespace

std::string side_text(const std::vector<std::string>& chains) {
  std::string s;
  for (const std::string& c : chains) {
    if (!s.empty()) s += ',';
    s += display(c);
  }
  return s;
}

InterfaceChoice parse_interface_choice(const std::string& word) {
  InterfaceChoice choice;
  choice.text = word;
  choice.path = word;
  if (word.find(':') == std::string::npos || file_exists(word)) return choice;
  const std::vector<std::string> parts = split(word, ':');
  const size_t n = parts.size();
  // FILE:SIDE1:SIDE2 when FILE exists or the word has more than one colon,
  // otherwise FILE:SIDE1.
  if (n >= 3 && (file_exists(join(parts, n - 2, ':')) || !file_exists(join(parts, n - 1, ':')))) {
    choice.path = join(parts, n - 2, ':');
    choice.side1 = side_names(parts[n - 2], word);
    choice.side2 = side_names(parts[n - 1], word);
  } else {
    choice.path = join(parts, n - 1, ':');
    choice.side1 = side_names(parts[n - 1], word);
  }
  if (choice.path.empty())
    throw Error("Error: the interface \"" + word + "\" names no file", ExitCode::kUsage);
  return choice;
}

std::array<std::vector<std::string>, 2> resolve_sides(const Complex& c, const InterfaceChoice& choice) {
  std::array<std::vector<std::string>, 2> sides{choice.side1, choice.side2};
  auto unnamed = [&](const std::string& why) {
    fail(c.path, why + "; name the sides as in " + choice.path + ":A:B (its protein chains: " +
                     c.chain_list() + ")");
  };
  if (sides[0].empty()) {
    if (c.chains.size() != 2)
      unnamed("the file has " + std::to_string(c.chains.size()) + " protein chain" +
              (c.chains.size() == 1 ? "" : "s") + ", not two");
    sides[0] = {c.chains[0].name};
    sides[1] = {c.chains[1].name};
  }
  for (const auto& side : {sides[0], sides[1]})
    for (const std::string& name : side)
      if (chain_index(c, name) < 0)
        fail(c.path, "there is no protein chain \"" + name + "\" (its protein chains: " +
                         c.chain_list() + ")");
  if (sides[1].empty()) {
    if (c.chains.size() != 2 || sides[0].size() != 1)
      unnamed("side 2 is not named and the file has " + std::to_string(c.chains.size()) +
              " protein chains");
    const int other = 1 - chain_index(c, sides[0][0]);
    sides[1] = {c.chains[static_cast<size_t>(other)].name};
  }
  for (size_t a = 0; a < 2; ++a)
    for (size_t k = 0; k < sides[a].size(); ++k)
      for (size_t b = 0; b < 2; ++b)
        for (size_t m = 0; m < sides[b].size(); ++m)
          if ((b > a || (b == a && m > k)) &&
              chain_index(c, sides[a][k]) == chain_index(c, sides[b][m]))
            throw Error("Error: the interface \"" + choice.text + "\" names chain " +
                            display(sides[a][k]) + " twice",
                        ExitCode::kUsage);
  return sides;
}

const ComplexResidue& ComplexInterface::residue(int i) const {
  const InterfaceResidue& r = residues[static_cast<size_t>(i - 1)];
  return complex.chains[static_cast<size_t>(r.chain)].residues[static_cast<size_t>(r.residue)];
}

const ComplexChain& ComplexInterface::chain_of(int i) const {
  return complex.chains[static_cast<size_t>(residues[static_cast<size_t>(i - 1)].chain)];
}

std::vector<std::vector<int>> classes_from_ca(const Complex& c, const std::vector<int>& chains) {
  std::vector<std::vector<int>> out;
  for (int ch : chains) {
    const auto& res = c.chains[static_cast<size_t>(ch)].residues;
    const int n = static_cast<int>(res.size());
    auto ca = [&](int i) -> const Coord& {
      return res[static_cast<size_t>(i - 1)].atoms[static_cast<size_t>(res[static_cast<size_t>(i - 1)].ca)].pos;
    };
    auto d = [&](int i, int j) {
      const Coord& a = ca(i);
      const Coord& b = ca(j);
      const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
      return std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    std::vector<int> sec(static_cast<size_t>(n) + 1, 1);
    for (int i = 3; i + 2 <= n; ++i)
      sec[static_cast<size_t>(i)] =
          make_sec(d(i - 2, i), d(i - 2, i + 1), d(i - 2, i + 2), d(i - 1, i + 1), d(i - 1, i + 2), d(i, i + 2));
    smooth(sec.data(), n);
    out.emplace_back(sec.begin() + 1, sec.end());
  }
  return out;
}

ComplexInterface extract_interface(Complex complex, const std::array<std::vector<std::string>, 2>& sides,
                                   const ComplexOptions& options) {
  ComplexInterface ci;
  ci.complex = std::move(complex);
  ci.sides = sides;
  const Complex& c = ci.complex;
  std::array<std::vector<int>, 2> chains;
  for (size_t s = 0; s < 2; ++s)
    for (const std::string& name : sides[s]) {
      const int k = chain_index(c, name);
      if (k < 0) fail(c.path, "there is no protein chain \"" + name + "\" (its protein chains: " + c.chain_list() + ")");
      chains[s].push_back(k);
    }
  const std::vector<SideResidue> side1 = residues_of(c, chains[0]);
  const std::vector<SideResidue> side2 = residues_of(c, chains[1]);

  // Heavy atoms of side 2 by grid cell.
  std::unordered_map<CellKey, std::vector<std::pair<const Coord*, int>>, CellHash> grid;
  for (size_t r = 0; r < side2.size(); ++r)
    for (const ComplexAtom& a : residue_at(c, side2[r]).atoms)
      grid[cell_of(a.pos)].push_back({&a.pos, static_cast<int>(r)});

  // Residue pairs (side 1, side 2) with two heavy atoms closer than the cutoff.
  const double cut2 = kInterfaceCutoff * kInterfaceCutoff;
  std::vector<std::vector<int>> touches1(side1.size());
  std::vector<char> touched2(side2.size(), 0);
  for (size_t r = 0; r < side1.size(); ++r) {
    std::vector<int>& t = touches1[r];
    for (const ComplexAtom& a : residue_at(c, side1[r]).atoms) {
      const CellKey k = cell_of(a.pos);
      for (long long dx = -1; dx <= 1; ++dx)
        for (long long dy = -1; dy <= 1; ++dy)
          for (long long dz = -1; dz <= 1; ++dz) {
            auto it = grid.find({k.x + dx, k.y + dy, k.z + dz});
            if (it == grid.end()) continue;
            for (const auto& [p, r2] : it->second) {
              const double ex = a.pos[0] - (*p)[0], ey = a.pos[1] - (*p)[1], ez = a.pos[2] - (*p)[2];
              if (ex * ex + ey * ey + ez * ez < cut2) t.push_back(r2);
            }
          }
    }
    std::sort(t.begin(), t.end());
    t.erase(std::unique(t.begin(), t.end()), t.end());
    for (int r2 : t) touched2[static_cast<size_t>(r2)] = 1;
  }

  // Positions: touching residues of side 1, then of side 2, in order.
  std::vector<int> pos2(side2.size(), 0);
  int n = 0;
  for (size_t r = 0; r < side1.size(); ++r)
    if (!touches1[r].empty()) {
      ++n;
      ci.residues.push_back({side1[r].chain, side1[r].residue, 1, 1, {}});
    }
  ci.side1_count = n;
  for (size_t r = 0; r < side2.size(); ++r)
    if (touched2[r]) {
      pos2[r] = ++n;
      ci.residues.push_back({side2[r].chain, side2[r].residue, 2, 1, {}});
    }
  if (ci.side1_count == 0)
    fail(c.path, "no heavy atom of " + chains_phrase(sides[0]) + " lies within 4.5 A of " +
                     chains_phrase(sides[1]) + ": the sides have no interface");
  if (n > kMaxRes)
    fail(c.path, "the interface of " + chains_phrase(sides[0]) + " and " + chains_phrase(sides[1]) +
                     " has " + std::to_string(n) + " residues, more than the " +
                     std::to_string(kMaxRes) + " an interface can hold");
  int p1 = 0;
  for (size_t r = 0; r < side1.size(); ++r) {
    if (touches1[r].empty()) continue;
    ++p1;
    for (int r2 : touches1[r]) {
      const int p2 = pos2[static_cast<size_t>(r2)];
      ci.residues[static_cast<size_t>(p1 - 1)].partners.push_back(p2);
      ci.residues[static_cast<size_t>(p2 - 1)].partners.push_back(p1);
    }
  }
  for (int i = 1; i <= n; ++i) {
    const InterfaceResidue& r = ci.residues[static_cast<size_t>(i - 1)];
    if (static_cast<int>(r.partners.size()) > kMaxCont)
      fail(c.path, "residue " + residue_label(c, r.chain, ci.residue(i)) + " touches " +
                       std::to_string(r.partners.size()) + " residues of the other side, more than the " +
                       std::to_string(kMaxCont) + " contacts a residue can hold");
  }

  // Classes of the chains of both sides; DSSP sees the whole complex.
  std::vector<int> wanted = chains[0];
  wanted.insert(wanted.end(), chains[1].begin(), chains[1].end());
  std::vector<std::vector<int>> classes;
  std::vector<int> listed;
  if (options.ss == SsSource::kDssp) {
    for (size_t k = 0; k < c.chains.size(); ++k) listed.push_back(static_cast<int>(k));
    if (listed.size() > 62) {
      // mkdssp reads chains named by one character: at most 62 of them.
      listed = wanted;
      ci.complex.warnings.push_back("Warning: " + c.path + " has " + std::to_string(c.chains.size()) +
                                    " protein chains, more than mkdssp can read at once; DSSP saw "
                                    "the chains of the two sides only");
    }
    classes = classes_from_dssp(c, listed, options.mkdssp);
  } else {
    listed = wanted;
    classes = classes_from_ca(c, listed);
  }
  for (InterfaceResidue& r : ci.residues) {
    const size_t k = static_cast<size_t>(std::find(listed.begin(), listed.end(), r.chain) - listed.begin());
    r.sec = classes[k][static_cast<size_t>(r.residue)];
  }
  return ci;
}

ComplexInterface read_interface(const InterfaceChoice& choice, const ComplexOptions& options) {
  Complex c = read_complex(choice.path);
  const auto sides = resolve_sides(c, choice);
  return extract_interface(std::move(c), sides, options);
}

void fill_structure(const ComplexInterface& ci, Structure& s) {
  const int n = static_cast<int>(ci.residues.size());
  s.len = n;
  s.nchain = 2;
  s.chains[0] = 0;
  s.chains[1] = ci.side1_count;
  s.chains[2] = n;
  for (int k = 1; k <= 2; ++k) {
    const std::string& last = ci.sides[static_cast<size_t>(k - 1)].back();
    s.chainid[k] = last.empty() ? '_' : last.back();
  }
  s.chainid_read = s.chainid;
  for (int i = 1; i <= n; ++i) {
    const InterfaceResidue& r = ci.residues[static_cast<size_t>(i - 1)];
    const ComplexResidue& res = ci.residue(i);
    s.ca[i] = res.atoms[static_cast<size_t>(res.ca)].pos;
    s.seq[i] = res.code;
    char name[8];
    std::snprintf(name, sizeof name, "%3.3s", res.name.c_str());
    std::copy(name, name + 3, s.resname[i].begin());
    char num[24];
    if (res.seqnum >= -999 && res.seqnum <= 9999)
      std::snprintf(num, sizeof num, "%4d%c", res.seqnum, res.icode);
    else
      std::snprintf(num, sizeof num, "%5d", res.seqnum);
    std::copy(num, num + 5, s.resnum[i].begin());
    s.sec[i] = r.sec;
    s.contnum[i] = static_cast<int>(r.partners.size());
    int* dst = s.partners(i);
    for (size_t m = 0; m < r.partners.size(); ++m) dst[m + 1] = r.partners[m];
  }
}

}  // namespace tarvix
