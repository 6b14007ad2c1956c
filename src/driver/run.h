// The whole run of the program: arguments, inputs, checks, search rounds, report.
#pragma once

#include <chrono>
#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

#include "driver/long_options.h"
#include "driver/settings.h"
#include "structure/structure.h"

namespace tarvix {

// Runs the command line (without the program name) and returns the exit
// status. A single comparison writes every line to out (the classic program
// writes everything to standard output); a search writes its table to `table`
// and its messages and progress to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::FILE* table, std::ostream& err);
inline int run(const std::vector<std::string>& args, std::ostream& out) { return run(args, out, nullptr, out); }

int run_main(int argc, char** argv);

// The comparison of two structures read with their contacts (as the readers
// leave them, taken over), from the length and contact checks to the report
// and the superposition file; returns the exit status.
int compare_structures(const Settings& set, const LongOptions& lo, Structure&& s1, Structure&& s2,
                       std::ostream& out, std::ostream& err, std::chrono::steady_clock::time_point start);

}  // namespace tarvix
