// Whole runs of the program on an arbitrary command line: one argument per
// line of the input, up to a line "%%"; what follows that line becomes the
// file "x", which the arguments may name as a coordinate or contact file. The
// run works in a directory of its own holding three small real interfaces
// (1.pdb 1.c, 2.pdb 2.c, 3.pdb 3.c) and an empty file (e); arguments naming a
// path elsewhere (with a "/") become "none", so that no device or unrelated
// file is ever opened.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "checks.h"
#include "driver/run.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxArgs = 24;

fs::path dir;

void remove_directory() {
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

// Corpus paths given to the fuzzer must be absolute: this changes the working directory.
void prepare_directory() {
  dir = fs::temp_directory_path() / ("tarvix_fuzz_cmdline_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string data = TARVIX_TEST_DATA;
  const char* names[] = {"1M27_AB", "2O8V_AB", "1KTZ_AB"};
  for (int k = 0; k < 3; ++k) {
    const std::string n = std::to_string(k + 1);
    fs::copy_file(data + "/" + names[k] + ".pdb", dir / (n + ".pdb"), fs::copy_options::overwrite_existing);
    fs::copy_file(data + "/" + names[k] + ".contacts", dir / (n + ".c"), fs::copy_options::overwrite_existing);
  }
  std::ofstream(dir / "e");
  fs::current_path(dir);
  std::atexit(remove_directory);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  prepare_directory();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find("\n%%\n");
  std::ofstream(dir / "x", std::ios::binary)
      << (split == std::string::npos ? std::string() : input.substr(split + 4));
  std::vector<std::string> args;
  std::string word;
  std::istringstream in(input.substr(0, split));
  while (args.size() < kMaxArgs && std::getline(in, word))
    args.push_back(word.find('/') == std::string::npos ? word : "none");
  std::ostringstream out;
  const int status = tarvix::run(args, out);
  const std::string text = out.str();
  FUZZ_REQUIRE(status == 0 || status == 1 || status == 2);
  FUZZ_REQUIRE(!text.empty() && text.back() == '\n');
  if (status == 0) FUZZ_REQUIRE(text.find("Usage:") != std::string::npos ||
                                text.find("Structure 1:") != std::string::npos);
  else FUZZ_REQUIRE(text.find("Error") != std::string::npos || text.find("Usage:") != std::string::npos);
  return 0;
}
