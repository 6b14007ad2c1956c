// The whole run of the program: arguments, inputs, checks, search rounds, report.
#pragma once

#include <chrono>
#include <iosfwd>
#include <string>
#include <vector>

#include "driver/settings.h"
#include "structure/structure.h"

namespace tarvix {

// Runs one comparison for the arguments (without the program name), writing
// every line to out; returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out);

int run_main(int argc, char** argv);

// The comparison of two structures read with their contacts, from the length
// and contact checks to the report; returns the exit status. The structures
// are reordered in place.
int compare_structures(const Settings& set, Structure& s1, Structure& s2,
                       std::ostream& out, std::chrono::steady_clock::time_point start);

}  // namespace tarvix
