// The long options ("--search", ...): searches over many interfaces and the
// extras of a single comparison. Words starting with "--" are always options.
#pragma once

#include <array>
#include <cstdio>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "api/settings.h"
#include "complex/complex.h"

namespace tarvix {

struct LongOptions {
  std::optional<std::string> search, targets, all_vs_all;  // the job
  std::optional<int> threads;
  std::string format;  // "tsv" (default) or "json"
  std::string out;
  std::optional<int> top;
  std::optional<double> min_score;
  std::string reports;
  bool resume = false;
  bool quiet = false;
  bool help = false;
  // --block Q0:Q1,T0:T1: only queries Q0..Q1-1 and targets T0..T1-1 (0-based
  // positions in the lists; for --all-vs-all both in the one list)
  std::optional<std::array<size_t, 4>> block;
  std::string superpose;  // single comparisons
  // Whole complexes: compare the interfaces of two ("--complex"), or write the
  // classic files of one ("--extract", to the prefix --out)
  bool complex = false;
  std::string extract;
  std::optional<SsSource> ss;  // "--ss dssp" or "--ss ca"
  std::vector<std::string> given;  // the long options seen, for the checks

  bool is_search() const { return search || all_vs_all; }
};

// Takes the long options and their values out of args; what is left is the
// classic command line. Throws Error (usage) on an unknown option, a bad value
// or options that do not go together.
LongOptions take_long_options(std::vector<std::string>& args);
// The checks that need the classic settings as well.
void check_long_options(const LongOptions& lo, const Settings& set);

// The lines the usage text gains for the long options.
void print_long_help(std::ostream& out);

// Runs --search or --all-vs-all: rows to `table` (or --out), messages and
// progress to `err`. Returns the exit status.
int run_search(const LongOptions& lo, const Settings& set, std::FILE* table, std::ostream& err);

// Writes structure 1 moved onto structure 2, with structure 2, as one PDB file.
void write_superposition(const std::string& path, const std::string& pdb1, const std::string& pdb2,
                         const double u[3][3], const double t[3],
                         const std::vector<std::pair<std::string, std::string>>& aligned1,
                         const std::vector<std::pair<std::string, std::string>>& aligned2);

}  // namespace tarvix
