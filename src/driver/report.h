// The text report of a comparison.
#pragma once

#include <iosfwd>

#include "driver/rounds.h"

namespace tarvix {

struct ReportInput {
  const Settings& set;
  const Derived& der;
  const Structure& s1;  // chain identifiers as read, lengths
  const Structure& s2;
  int num_cont1, num_cont2;
  const BestRound& best;
};

// Writes the banner, the structure lines and, when the best round has at
// least 3 pairs, the scores, transformation, alignment and parameters.
// Returns false when the report ended with "No significant alignment found!".
bool write_report(std::ostream& out, const ReportInput& in);

// The last line: the running time in seconds.
void write_running_time(std::ostream& out, double seconds);

}  // namespace tarvix
