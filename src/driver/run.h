// The whole run of the program: arguments, inputs, checks, search rounds, report.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvix {

// Runs one comparison for the arguments (without the program name), writing
// every line to out; returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out);

int run_main(int argc, char** argv);

}  // namespace tarvix
