// compare() called from C++ on the bundled pairs (each interface against the
// next one), timed; bench/python_overhead.py runs the same calls through the
// Python module and compares.
//
// Usage: time_compare DATA_DIR REPEATS [-s]
// Prints per pair: name1 name2 CPU seconds of REPEATS calls (after one more
// call that is not timed).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "api/tarvix.h"
#include "structure/zero_vector.h"

namespace {

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: time_compare DATA_DIR REPEATS [-s]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int repeats = std::atoi(argv[2]);
  tarvix::Options options;
  options.sequential = !(argc > 3 && std::string(argv[3]) == "-s");
  // As in the Python module: many comparisons in one process.
  tarvix::zero_blocks_mapped = false;

  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".pdb") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  std::vector<tarvix::Interface> interfaces;
  for (const std::string& n : names)
    interfaces.push_back(tarvix::Interface::read(dir + "/" + n + ".pdb", dir + "/" + n + ".contacts"));

  double sink = 0.0;
  for (size_t k = 0; k < names.size(); ++k) {
    const size_t j = (k + 1) % names.size();
    sink += tarvix::compare(interfaces[k], interfaces[j], options).score;
    const double start = cpu_seconds();
    for (int r = 0; r < repeats; ++r) sink += tarvix::compare(interfaces[k], interfaces[j], options).score;
    std::printf("%s %s %.6f\n", names[k].c_str(), names[j].c_str(), cpu_seconds() - start);
  }
  return sink == -1.0;  // keeps the calls
}
