// The whole run of the program: arguments, inputs, checks, search rounds, report.
#pragma once

#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarvix {

// Runs the command line (without the program name) and returns the exit
// status. A single comparison writes every line to out (the classic program
// writes everything to standard output); a search writes its table to `table`
// and its messages and progress to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::FILE* table, std::ostream& err);
inline int run(const std::vector<std::string>& args, std::ostream& out) { return run(args, out, nullptr, out); }

int run_main(int argc, char** argv);

}  // namespace tarvix
