// Run settings from the command line, the usage text, and the scoring
// parameters derived from the two structure lengths.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "complex/complex.h"
#include "scoring/params.h"

namespace tarvix {

// What a run does: compare two interface files (classic), compare two
// interfaces cut out of complexes ("--complex"), or write the interface
// files of one complex ("--extract").
enum class RunMode { kClassic, kComplex, kExtract };

struct Settings {
  RunMode mode = RunMode::kClassic;
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
                                   // (with --complex: the two interfaces, FILE[:SIDES])
  SsSource ss = SsSource::kDssp;  // "--ss": classes of interfaces cut out of complexes
  std::string extract;            // "--extract": the interface to write
  std::string out_prefix;         // "--out": the files it goes to

  const std::string& file(size_t k) const;  // empty when not given
};

inline constexpr int kMaxArgLength = 500;
inline constexpr int kMaxPositional = 100;

// Scans the arguments (without the program name). Returns nothing when the
// usage text was asked for and printed; throws Error on misuse.
std::optional<Settings> parse_arguments(const std::vector<std::string>& args, std::ostream& out);

void printhelp(std::ostream& out);

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
