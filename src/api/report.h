// The classic text report of a comparison, written from its result.
#pragma once

#include <iosfwd>

#include "api/tarvix.h"

namespace tarvix {

// Writes the banner, the structure lines and, when the result is significant,
// the scores, transformation, alignment and parameters. Returns false when the
// report ended with "No significant alignment found!".
bool write_report(std::ostream& out, const Result& r);

// The last line: the running time in seconds.
void write_running_time(std::ostream& out, double seconds);

}  // namespace tarvix
