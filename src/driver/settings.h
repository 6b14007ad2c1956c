// The command line: the classic options and the usage text.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "api/settings.h"

namespace tarvix {

inline constexpr int kMaxArgLength = 500;
inline constexpr int kMaxPositional = 100;

// Scans the arguments (without the program name). Returns nothing when the
// usage text was asked for and printed; throws Error on misuse.
std::optional<Settings> parse_arguments(const std::vector<std::string>& args, std::ostream& out);

void printhelp(std::ostream& out);

}  // namespace tarvix
