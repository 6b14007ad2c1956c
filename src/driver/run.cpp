#include "driver/run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>

#include "driver/format.h"
#include "driver/report.h"
#include "driver/rounds.h"
#include "driver/settings.h"
#include "structure/causes.h"
#include "structure/chains.h"
#include "structure/error.h"
#include "structure/readers.h"

namespace tarvix {
namespace {

void read_structure(const std::string& path, const char* what, Structure& s, int contmode,
                    std::ostream& out) {
  if (path.empty()) throw Error(std::string("Error: no ") + what + " given on the command line");
  readpdbfile(path, s, contmode, out);
  s.chainid_read = s.chainid;
}

void read_contacts(const std::string& path, const char* what, Structure& s, std::ostream& out) {
  if (path.empty()) throw Error(std::string("Error: no ") + what + " given on the command line");
  readcontfile(path, s, out);
}

int contact_total(const Structure& s) {
  int total = 0;
  for (int i = 1; i <= s.len && i <= s.chains[1]; ++i) total += s.contnum[i];
  return total;
}

int compare(const Settings& set, std::ostream& out, std::chrono::steady_clock::time_point start) {
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  read_structure(set.file(0), "pdbfile1", *s1, set.contmode, out);
  read_structure(set.file(1), "pdbfile2", *s2, set.contmode, out);
  if (set.contmode == 0) {
    read_contacts(set.file(2), "contactfile1", *s1, out);
    read_contacts(set.file(3), "contactfile2", *s2, out);
  }
  if (s1->len <= 5 || s2->len <= 5)
    throw Error("\n Error: the minimum length of a structure is six residues.\n\n" +
                why_too_short(*s1, *s2));
  Derived der = derive_scoring_parameters(set, s1->len, s2->len);
  mark_sides(*s1);
  mark_sides(*s2);
  const int num_cont1 = contact_total(*s1);
  const int num_cont2 = contact_total(*s2);
  if (num_cont1 < 5 || num_cont2 < 5) {
    std::ostringstream m;
    m << "num_cont1 =" << fmt::I(num_cont1, 3) << ", num_con2=" << fmt::I(num_cont2, 3) << '\n'
      << "Error: the number of contacts is too small. Please check your input files.\n\n"
      << why_few_contacts(*s1, num_cont1, *s2, num_cont2);
    throw Error(m.str());
  }
  Settings effective = set;
  if (std::min(s1->len, s2->len) < 15) {
    effective.pvalue = false;
    out << "Warning: a minimum of 15 residues is required for p-value calculations. P-value not "
           "caculated!\n";
  }
  // The report prints the lengths and identifiers as read; the rounds reorder
  // the chains of the structures in place.
  const BestRound best = search_rounds(*s1, *s2, effective, der);
  const ReportInput in{effective, der, *s1, *s2, num_cont1, num_cont2, best};
  if (!write_report(out, in)) return 0;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  write_running_time(out, elapsed.count());
  return 0;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out) {
  const auto start = std::chrono::steady_clock::now();
  try {
    const std::optional<Settings> set = parse_arguments(args, out);
    if (!set) return 0;
    return compare(*set, out, start);
  } catch (const Error& e) {
    if (!e.already_printed()) out << e.what() << '\n';
    out.flush();
    return static_cast<int>(e.code());
  } catch (const std::bad_alloc&) {
    out << "Error: not enough memory for this comparison\n";
    out.flush();
    return static_cast<int>(ExitCode::kDataError);
  } catch (const std::exception& e) {
    out << "Error: internal failure: " << e.what() << '\n';
    out.flush();
    return static_cast<int>(ExitCode::kDataError);
  }
}

int run_main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = run(args, std::cout);
  std::cout.flush();
  return status;
}

}  // namespace tarvix
