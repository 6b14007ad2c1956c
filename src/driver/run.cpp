#include "driver/run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>

#include "api/report.h"
#include "api/tarvix.h"
#include "driver/settings.h"
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

void read_contacts(const std::string& path, const char* what, Structure& s) {
  if (path.empty()) throw Error(std::string("Error: no ") + what + " given on the command line");
  readcontfile(path, s);
}

int compare(const Settings& set, std::ostream& out, std::chrono::steady_clock::time_point start) {
  // Read in the classic order (both PDB files, then both contact files), so
  // that warnings and errors come out as they always have.
  auto s1 = std::make_unique<Structure>();
  auto s2 = std::make_unique<Structure>();
  read_structure(set.file(0), "pdbfile1", *s1, set.contmode, out);
  read_structure(set.file(1), "pdbfile2", *s2, set.contmode, out);
  if (set.contmode == 0) {
    read_contacts(set.file(2), "contactfile1", *s1);
    read_contacts(set.file(3), "contactfile2", *s2);
  }
  const Interface a = Interface::from_structure(*s1, set.file(0));
  const Interface b = Interface::from_structure(*s2, set.file(1));
  s1.reset();
  s2.reset();
  const Result r = tarvix::compare(a, b, from_settings(set));
  for (const std::string& w : r.warnings) out << w;
  if (!write_report(out, r)) return 0;
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
    out << e.printed();
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
