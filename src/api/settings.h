// The settings of one comparison as the engine reads them, and the scoring
// parameters derived from them and the two structure lengths.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scoring/params.h"

namespace tarvix {

struct Settings {
  int scoretype = 1;            // 1 TX-score, 0 TM-score ("-t")
  std::string scorecode = "TX";
  int seqmode = 1;              // 1 sequential, 0 non-sequential ("-s")
  int verbose = 1;              // 0 none, 1 concise, 2 detailed alignment ("-v")
  int speedmode = 1;            // "-q": 1 regular, 2 fast, 0 accepted
  int normmode = 0;             // 0 length of structure 2, 1 average, 2 minimum, 3 maximum
  std::optional<int> lenuser;   // "-L"
  std::optional<double> d0user;    // "-d0"
  std::optional<double> dminuser;  // "-dmin"
  int contmode = 0;             // 1: contacts from coordinates ("-ca")
  bool seqd0 = false;           // "-seqd0"
  bool pvalue = true;
  std::string outname;          // "-o": accepted, not used
  std::vector<std::string> files;  // pdbfile1, pdbfile2, contactfile1, contactfile2, ...

  const std::string& file(size_t k) const;  // empty when not given
};

// Values of a run derived from the two lengths besides the scoring parameters.
struct Derived {
  ScoringParams par;
  int lenmax = 0;
  double normlen = 0.0;
  double d0norm = 0.0;
  double markcut = 5.0;
};

Derived derive_scoring_parameters(const Settings& set, int l1, int l2);

}  // namespace tarvix
