#include "driver/settings.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

#include "structure/error.h"
#include "structure/fields.h"

namespace tarvix {
namespace {

std::string trim_right(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

[[noreturn]] void misuse(const std::string& message) { throw Error(message, ExitCode::kUsage); }

}  // namespace

const std::string& Settings::file(size_t k) const {
  static const std::string kNone;
  return k < files.size() ? files[k] : kNone;
}

void printhelp(std::ostream& out) {
  out << "\n"
         "Usage: Tarvix <options> pdbfile1 pdbfile2 contactfile1 contactfile2\n"
         "\n"
         "Options:\n"
         "     -t        Use TM-score as the similarity measure. The default is TX-score.\n"
         "     -s        Enable non-sequential alignment. By default the alignment is sequential.\n"
         "     -q <num>  Speed mode: 1 - regular (default), 2 - fast (less accurate).\n"
         "     -L <num>  Normalize the score with a fixed length specified by num.\n"
         "     -a        Normalize the score by the average size of two interfaces.\n"
         "     -b        Normalize the score by the minimum size of two interfaces.\n"
         "     -c        Normalize the score by the maximum size of two interfaces.\n"
         "     -v        0 - no alignment,  1 - concise alignment, 2 - detailed alignment.\n"
         "\n"
         "Interfaces of whole complexes (PDB or mmCIF files, gzipped or not):\n"
         "       Tarvix --complex <options> file1[:sides1] file2[:sides2]\n"
         "       Tarvix --extract file[:sides] --out prefix\n"
         "     sides     side1:side2, each one chain or several (file.cif:H,L:A); without\n"
         "               them the file must have exactly two protein chains.\n"
         "     --ss <s>  Secondary structure from dssp (mkdssp, the default) or ca (CA geometry).\n"
         "     --out <p> With --extract: write p.pdb and p.contacts.\n"
         "\n";
}

std::optional<Settings> parse_arguments(const std::vector<std::string>& raw, std::ostream& out) {
  std::vector<std::string> args;
  args.reserve(raw.size());
  for (size_t k = 0; k < raw.size(); ++k) {
    if (raw[k].size() > static_cast<size_t>(kMaxArgLength)) {
      std::ostringstream m;
      m << "Error: argument " << k + 1 << " is longer than " << kMaxArgLength << " characters";
      misuse(m.str());
    }
    args.push_back(trim_right(raw[k]));
  }
  if (args.empty() || args[0].empty() || args[0] == "?" || args[0] == "-h") {
    printhelp(out);
    return std::nullopt;
  }
  Settings s;
  size_t p = 0;
  auto value = [&](const std::string& option) -> std::string {
    ++p;
    if (p >= args.size()) misuse("Error: option " + option + " needs a value");
    return args[p];
  };
  auto int_value = [&](const std::string& option) {
    const std::string w = value(option);
    int v = 0;
    if (!parse_int_word(w, v)) misuse("Error: the value \"" + w + "\" of option " + option + " is not an integer");
    return v;
  };
  auto real_value = [&](const std::string& option) {
    const std::string w = value(option);
    double v = 0.0;
    if (!parse_real_word(w, v) || !std::isfinite(v))
      misuse("Error: the value \"" + w + "\" of option " + option + " is not a number");
    return v;
  };
  auto level = [&](const std::string& option) {
    const int v = int_value(option);
    if (v < 0 || v > 2) {
      printhelp(out);
      throw Error("", ExitCode::kUsage, true);
    }
    return v;
  };
  bool ss_given = false;
  for (; p < args.size(); ++p) {
    const std::string& w = args[p];
    if (w == "--complex") {
      if (s.mode == RunMode::kExtract) misuse("Error: --complex and --extract exclude each other");
      s.mode = RunMode::kComplex;
    } else if (w == "--extract") {
      if (s.mode == RunMode::kComplex) misuse("Error: --complex and --extract exclude each other");
      s.mode = RunMode::kExtract;
      s.extract = value(w);
    } else if (w == "--out") {
      s.out_prefix = value(w);
      if (s.out_prefix.empty()) misuse("Error: option --out needs a file name prefix");
    } else if (w == "--ss") {
      const std::string v = value(w);
      if (v == "dssp") s.ss = SsSource::kDssp;
      else if (v == "ca") s.ss = SsSource::kCa;
      else misuse("Error: the value \"" + v + "\" of option --ss is neither dssp nor ca");
      ss_given = true;
    } else if (w == "-o") {
      s.outname = value(w);
    } else if (w == "-L") {
      const int v = int_value(w);
      if (v <= 0) misuse("Error: the value of option -L must be a length of 1 or more, not " + std::to_string(v));
      s.lenuser = v;
      s.pvalue = false;
    } else if (w == "-dmin") {
      const double v = real_value(w);
      if (v <= 0.0) misuse("Error: the value of option -dmin must be above 0, not " + args[p]);
      s.dminuser = v;
      s.pvalue = false;
    } else if (w == "-d0") {
      const double v = real_value(w);
      if (v <= 0.0) misuse("Error: the value of option -d0 must be above 0, not " + args[p]);
      s.d0user = v;
    } else if (w == "-a") {
      s.normmode = 1;
      s.pvalue = false;
    } else if (w == "-b") {
      s.normmode = 2;
    } else if (w == "-c") {
      s.normmode = 3;
    } else if (w == "-t") {
      s.scoretype = 0;
      s.scorecode = "TM";
    } else if (w == "-s") {
      s.seqmode = 0;
      if (s.verbose != 0) s.verbose = 2;
    } else if (w == "-ca") {
      s.contmode = 1;
    } else if (w == "-seqd0") {
      s.seqd0 = true;
    } else if (w == "-v") {
      s.verbose = level(w);
    } else if (w == "-q") {
      s.speedmode = level(w);
    } else {
      if (s.files.size() == static_cast<size_t>(kMaxPositional)) {
        std::ostringstream m;
        m << "Error: more than " << kMaxPositional << " file names on the command line";
        misuse(m.str());
      }
      s.files.push_back(w);
    }
  }
  if (s.mode == RunMode::kClassic && ss_given)
    misuse("Error: option --ss applies to --complex and --extract only");
  if (s.mode != RunMode::kExtract && !s.out_prefix.empty())
    misuse("Error: option --out applies to --extract only");
  if (s.mode != RunMode::kClassic && s.contmode == 1)
    misuse("Error: option -ca applies to interface files; with complexes, contacts come from the "
           "atoms and --ss ca takes the classes from the CA geometry");
  if (s.mode == RunMode::kComplex && s.files.size() != 2)
    misuse("Error: --complex compares two interfaces: give file1[:sides1] and file2[:sides2], not " +
           std::to_string(s.files.size()) + " names");
  if (s.mode == RunMode::kExtract) {
    if (!s.files.empty()) misuse("Error: --extract writes one interface; unexpected \"" + s.files[0] + "\"");
    if (s.out_prefix.empty()) misuse("Error: --extract needs --out prefix");
  }
  if (s.seqmode == 0 && s.verbose == 1) s.verbose = 2;
  if (s.seqmode == 0 && s.scoretype == 0) s.pvalue = false;
  return s;
}

Derived derive_scoring_parameters(const Settings& set, int l1, int l2) {
  Derived d;
  ScoringParams& par = d.par;
  const int lmin = std::min(l1, l2);
  const int lmax = std::max(l1, l2);
  const bool nonseq = set.seqmode == 0 && !set.seqd0;
  par.d0min = set.dminuser ? *set.dminuser : 0.5;
  auto rule = [&](double x) {
    if (nonseq) return x > 15 ? 0.7 * std::pow(x - 15, 1.0 / 3.0) - 0.1 : 0.6;
    return x > 15 ? 1.24 * std::pow(x - 15, 1.0 / 3.0) - 1.8 : par.d0min;
  };
  d.lenmax = lmax;
  par.d0[1] = lmin;
  par.d0[0] = std::max(par.d0min, rule(lmin));
  if (set.d0user) par.d0[0] = *set.d0user;
  par.d8 = 1.5 * std::pow(static_cast<double>(lmin), 0.3) + 3.5;
  if (nonseq) par.d8 = std::min(par.d8, 8.0);
  switch (set.normmode) {
    case 1: d.normlen = (l1 + l2) * 0.5; break;
    case 2: d.normlen = lmin; break;
    case 3: d.normlen = lmax; break;
    default: d.normlen = l2; break;
  }
  d.normlen = std::max(d.normlen, static_cast<double>(lmin));
  if (set.lenuser) d.normlen = *set.lenuser;
  d.d0norm = std::max(par.d0min, rule(d.normlen));
  if (set.d0user) d.d0norm = *set.d0user;
  par.d00[0] = std::max(std::min(par.d0[0], 8.0), 4.5);
  par.d00[1] = par.d00[0] * par.d00[0];
  par.contcf[0] = par.d8;
  par.contcf[1] = par.d8 * par.d8;
  d.markcut = 5.0;
  return d;
}

}  // namespace tarvix
