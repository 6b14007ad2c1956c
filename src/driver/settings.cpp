#include "driver/settings.h"

#include "driver/long_options.h"

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
  print_long_help(out);
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
  for (; p < args.size(); ++p) {
    const std::string& w = args[p];
    if (w == "-o") {
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
  if (s.seqmode == 0 && s.verbose == 1) s.verbose = 2;
  if (s.seqmode == 0 && s.scoretype == 0) s.pvalue = false;
  return s;
}

}  // namespace tarvix
