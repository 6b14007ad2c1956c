// Builds a large interface from a whole complex, for the scaling benchmark:
// the residues of its two chains nearest the other chain, n of them, with
// secondary structure from the CA geometry of the whole complex and contacts
// from the coordinates (CA atoms closer than 8.5 A across the two sides), as
// an interface PDB file and its contact file. An n larger than the complex
// takes several copies of it, side by side and far apart.
//
// Usage: make_interface COMPLEX.pdb N OUT_STEM
//   COMPLEX.pdb holds the CA atoms of chain 1, "TER", chain 2, "TER".
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "structure/error.h"
#include "structure/readers.h"
#include "structure/secondary.h"

namespace {

using tarvix::Coord;
using tarvix::Structure;

struct Residue {
  Coord ca;
  std::array<char, 3> name;
  std::array<char, 5> num;
  int sec;
  int side;        // 1 or 2
  double nearest;  // distance to the nearest residue of the other side
};

int run(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: make_interface COMPLEX.pdb N OUT_STEM\n";
    return 2;
  }
  const std::string path = argv[1];
  const int n = std::atoi(argv[2]);
  const std::string stem = argv[3];
  auto s = std::make_unique<Structure>();
  tarvix::readpdbfile(path, *s, 0, std::cerr);
  if (s->nchain < 2 || s->chains[1] < 6 || s->len - s->chains[1] < 6 || n < 12 ||
      n > tarvix::kMaxRes) {
    std::cerr << path
              << ": need two chains of 6 or more residues, and 12 <= N <= " << tarvix::kMaxRes
              << "\n";
    return 1;
  }
  tarvix::calcsec(*s, s->len);

  // The complex, copied as often as needed, each copy 500 A further along x.
  std::vector<Residue> all;
  const int copies = (n + s->len - 1) / s->len;
  for (int c = 0; c < copies; ++c)
    for (int i = 1; i <= s->len; ++i) {
      Coord p = s->ca[i];
      p[0] += 500.0 * c;
      all.push_back({p, s->resname[i], s->resnum[i], s->sec[i], i <= s->chains[1] ? 1 : 2, 1e300});
    }
  for (Residue& a : all)
    for (const Residue& b : all)
      if (a.side != b.side) {
        const double dx = a.ca[0] - b.ca[0], dy = a.ca[1] - b.ca[1], dz = a.ca[2] - b.ca[2];
        a.nearest = std::min(a.nearest, std::sqrt(dx * dx + dy * dy + dz * dz));
      }
  // The n residues nearest the other side, in file order, side 1 first.
  std::vector<int> order(all.size());
  for (size_t k = 0; k < all.size(); ++k) order[k] = static_cast<int>(k);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return all[a].nearest < all[b].nearest; });
  order.resize(static_cast<size_t>(n));
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return all[a].side != all[b].side ? all[a].side < all[b].side : a < b;
  });

  auto out = std::make_unique<Structure>();
  out->len = n;
  out->nchain = 2;
  for (int k = 1; k <= n; ++k) {
    const Residue& r = all[order[k - 1]];
    out->ca[k] = r.ca;
    out->resname[k] = r.name;
    out->resnum[k] = r.num;
    out->sec[k] = r.sec;
    if (r.side == 1) out->chains[1] = k;
  }
  out->chains[2] = n;
  if (out->chains[1] < 1 || out->chains[1] == n) {
    std::cerr << "one side would be empty\n";
    return 1;
  }
  tarvix::calccontact(*out, 8.5, stem);

  FILE* pdb = std::fopen((stem + ".pdb").c_str(), "w");
  FILE* con = std::fopen((stem + ".contacts").c_str(), "w");
  if (!pdb || !con) {
    std::cerr << "cannot write " << stem << ".pdb or .contacts\n";
    return 1;
  }
  std::fprintf(con, "# %d residues nearest the other chain of %s; CA contacts below 8.5 A\n", n,
               path.c_str());
  for (int k = 1; k <= n; ++k) {
    const char chain = k <= out->chains[1] ? 'A' : 'B';
    std::fprintf(pdb, "ATOM  %5d  CA  %.3s %c%.5s   %8.3f%8.3f%8.3f%6.2f%6.2f\n", k % 100000,
                 out->resname[k].data(), chain, out->resnum[k].data(), out->ca[k][0], out->ca[k][1],
                 out->ca[k][2], static_cast<double>(out->sec[k]), 0.0);
    if (k == out->chains[1] || k == n) std::fprintf(pdb, "TER\n");
    std::fprintf(con, "RES  %d %d", k, out->contnum[k]);
    for (int m = 1; m <= out->contnum[k]; ++m) std::fprintf(con, " %d", out->partner(k, m));
    std::fprintf(con, "\n");
  }
  std::fprintf(pdb, "END\n");
  std::fclose(pdb);
  std::fclose(con);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const tarvix::Error& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}
