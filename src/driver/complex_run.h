// The runs that start from whole complexes: comparing the interfaces of two
// ("--complex") and writing the classic files of one ("--extract").
#pragma once

#include <chrono>
#include <iosfwd>

#include "driver/long_options.h"
#include "driver/settings.h"

namespace tarvix {

// Cuts both interfaces out of their complexes and compares them as the
// classic run compares two interface files. Warnings go to err.
int compare_complexes(const Settings& set, const LongOptions& lo, std::ostream& out, std::ostream& err,
                      std::chrono::steady_clock::time_point start);

// Writes PREFIX.pdb and PREFIX.contacts (PREFIX: --out) for --extract and
// says so on out.
int extract_complex(const LongOptions& lo, std::ostream& out, std::ostream& err);

}  // namespace tarvix
