#include "driver/run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>
#include <sstream>

#include "api/report.h"
#include "api/tarvix.h"
#include "driver/complex_run.h"
#include "driver/long_options.h"
#include "driver/settings.h"
#include "structure/error.h"
#include "structure/readers.h"
#include "structure/zero_vector.h"

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

int compare(const Settings& set, const LongOptions& lo, std::ostream& out, std::ostream& err,
            std::chrono::steady_clock::time_point start) {
  // Read in the classic order (both PDB files, then both contact files), so
  // that warnings and errors come out as they always have.
  auto s1 = std::make_unique<Structure>(kReadCapacity);
  auto s2 = std::make_unique<Structure>(kReadCapacity);
  read_structure(set.file(0), "pdbfile1", *s1, set.contmode, out);
  read_structure(set.file(1), "pdbfile2", *s2, set.contmode, out);
  if (set.contmode == 0) {
    read_contacts(set.file(2), "contactfile1", *s1, out);
    read_contacts(set.file(3), "contactfile2", *s2, out);
  }
  return compare_structures(set, lo, std::move(*s1), std::move(*s2), out, err, start);
}

}  // namespace

int compare_structures(const Settings& set, const LongOptions& lo, Structure&& s1, Structure&& s2,
                       std::ostream& out, std::ostream& err, std::chrono::steady_clock::time_point start) {
  const Interface a = Interface::from_structure(std::move(s1), set.file(0));
  const Interface b = Interface::from_structure(std::move(s2), set.file(1));
  const Result r = tarvix::compare(a, b, from_settings(set));
  for (const std::string& w : r.warnings) out << w;
  const bool significant = write_report(out, r);
  if (significant) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    write_running_time(out, elapsed.count());
  }
  if (!lo.superpose.empty()) {
    out.flush();
    if (!significant) {
      err << "Error: no significant alignment, so nothing to superpose; " << lo.superpose << " not written\n";
      return static_cast<int>(ExitCode::kDataError);
    }
    // Residues by chain and number as the PDB files write them.
    std::vector<std::pair<std::string, std::string>> k1, k2;
    auto key = [](const Residue& res) {
      return std::make_pair(std::string(1, res.chain == '_' ? ' ' : res.chain), res.number);
    };
    for (const AlignedPair& p : r.pairs) {
      k1.push_back(key(p.residue1));
      k2.push_back(key(p.residue2));
    }
    write_superposition(lo.superpose, set.file(0), set.file(1), r.rotation, r.translation, k1, k2);
  }
  return 0;
}


int run(const std::vector<std::string>& args, std::ostream& out, std::FILE* table, std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  bool search = false;
  try {
    std::vector<std::string> classic = args;
    const LongOptions lo = take_long_options(classic);
    search = lo.is_search();
    if (lo.help) {
      printhelp(out);
      return 0;
    }
    std::optional<Settings> set;
    if ((search || !lo.extract.empty()) && classic.empty())
      set = Settings{};
    else
      set = parse_arguments(classic, out);
    if (!set) return 0;
    check_long_options(lo, *set);
    if (search) return run_search(lo, *set, table, err);
    if (lo.complex) return compare_complexes(*set, lo, out, err, start);
    if (!lo.extract.empty()) return extract_complex(lo, out, err);
    return compare(*set, lo, out, err, start);
  } catch (const Error& e) {
    // A search keeps standard output for its table.
    std::ostream& to = search ? err : out;
    to << e.printed();
    to.flush();
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
  // The process ends when this returns: its memory goes back with it.
  zero_blocks_kept_to_exit = true;
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = run(args, std::cout, stdout, std::cerr);
  std::cout.flush();
  return status;
}

}  // namespace tarvix
