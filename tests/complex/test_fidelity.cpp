// Interfaces cut out of the bundled complexes against the bundled interface
// files made from the same complexes (DSSP classes, heavy atoms within 4.5 A).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "complex/complex.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
const std::string kData = TARVIX_TEST_DATA;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> complexes() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(kData + "/complexes")) {
    const std::string f = e.path().filename().string();
    if (f.ends_with(".pdb.gz")) names.push_back(f.substr(0, f.size() - 7));
  }
  std::sort(names.begin(), names.end());
  return names;
}

ComplexInterface cut(const std::string& path) {
  return read_interface(parse_interface_choice(path + ":A:B"), ComplexOptions{});
}

// Column 55-60 (occupancy, the class) of every atom record of chain B blanked.
std::string without_side2_classes(std::string pdb) {
  for (size_t at = 0; at < pdb.size();) {
    const size_t end = pdb.find('\n', at);
    if (pdb.compare(at, 4, "ATOM") == 0 && pdb[at + 21] == 'B') pdb.replace(at + 54, 6, 6, ' ');
    at = end + 1;
  }
  return pdb;
}

TEST(Fidelity, EveryBundledComplexGivesItsBundledInterface) {
  const auto names = complexes();
  ASSERT_EQ(names.size(), 32u);
  for (const std::string& n : names) {
    const ComplexInterface ci = cut(kData + "/complexes/" + n + ".pdb.gz");
    const std::string pdb = interface_pdb_text(ci);
    const std::string want = slurp(kData + "/" + n + "_AB.pdb");
    EXPECT_EQ(interface_contacts_text(ci), slurp(kData + "/" + n + "_AB.contacts")) << n;
    if (n != "1AZS") {
      EXPECT_EQ(pdb, want) << n;
      continue;
    }
    // The bundled 1AZS interface has every residue of chain B as coil: the
    // file's END record after chain A stopped DSSP there. Here DSSP sees
    // chain B too; all else is the same.
    EXPECT_EQ(without_side2_classes(pdb), without_side2_classes(want));
    EXPECT_NE(pdb.find(" CA  ARG B 231      31.609  -3.729  29.960  2.00"), std::string::npos);
  }
}

TEST(Fidelity, MmcifFormsGiveTheSameInterfaces) {
  for (const std::string file : {"1A2K.cif.gz", "1ZHI.cif.gz", "3MXW.cif.gz", "7CEI.cif"}) {
    const std::string n = file.substr(0, 4);
    const ComplexInterface cif = cut(kData + "/complexes/mmcif/" + file);
    EXPECT_EQ(interface_pdb_text(cif), slurp(kData + "/" + n + "_AB.pdb")) << file;
    EXPECT_EQ(interface_contacts_text(cif), slurp(kData + "/" + n + "_AB.contacts")) << file;
  }
}

}  // namespace
}  // namespace tarvix
