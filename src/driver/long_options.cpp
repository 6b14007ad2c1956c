#include "driver/long_options.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <unordered_map>

#include "api/report.h"
#include "api/tarvix.h"
#include "batch/inputs.h"
#include "batch/search.h"
#include "batch/table.h"
#include "structure/error.h"
#include "structure/fields.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void misuse(const std::string& message) { throw Error(message, ExitCode::kUsage); }


// The name of an interface in report file names: the file name without its
// extensions, and the sides of a complex ("1abc_H,L-A").
std::string report_stem(const batch::Entry& e) {
  std::string name = fs::path(e.pdb).filename().string();
  std::string sides;
  if (const size_t colon = name.find(':'); colon != std::string::npos && !fs::exists(e.pdb)) {
    sides = name.substr(colon + 1);
    name.resize(colon);
    std::replace(sides.begin(), sides.end(), ':', '-');
  }
  if (name.size() > 3 && name.ends_with(".gz")) name.resize(name.size() - 3);
  name = fs::path(name).stem().string();
  return sides.empty() ? name : name + "_" + sides;
}

// "12m05s", "1h02m" or "42s".
std::string duration(double seconds) {
  const long s = std::lround(std::max(seconds, 0.0));
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ldh%02ldm", s / 3600, s / 60 % 60);
  else if (s >= 60)
    std::snprintf(buf, sizeof buf, "%ldm%02lds", s / 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%lds", s);
  return buf;
}

// A progress line on a terminal: done/total, rate, time left; at most four
// updates a second.
class Progress {
 public:
  Progress(std::ostream& err, bool on, size_t total) : err_(err), on_(on), total_(total) {}
  void step(bool ran) {
    ++done_;
    if (ran) ++ran_;
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done_ < total_ && now - shown_ < std::chrono::milliseconds(250)) return;
    shown_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double rate = elapsed > 0 ? ran_ / elapsed : 0.0;
    char buf[160];
    std::snprintf(buf, sizeof buf, "\r%zu/%zu comparisons, %.1f/s, %s left   ", done_, total_, rate,
                  rate > 0 ? duration((total_ - done_) / rate).c_str() : "?");
    err_ << buf << std::flush;
  }
  // A line of its own, the progress line going on below it.
  void message(const std::string& line) {
    if (on_ && shown_ != std::chrono::steady_clock::time_point{}) err_ << '\r' << std::string(72, ' ') << '\r';
    err_ << line << '\n' << std::flush;
  }
  void finish() {
    if (on_ && total_ > 0) err_ << '\n' << std::flush;
  }

 private:
  std::ostream& err_;
  bool on_;
  size_t total_, done_ = 0, ran_ = 0;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_{};
};

}  // namespace

LongOptions take_long_options(std::vector<std::string>& args) {
  LongOptions lo;
  std::vector<std::string> rest;
  for (size_t p = 0; p < args.size(); ++p) {
    const std::string& w = args[p];
    if (w.rfind("--", 0) != 0) {
      rest.push_back(w);
      continue;
    }
    std::string name = w, value;
    bool has_value = false;
    if (const size_t eq = w.find('='); eq != std::string::npos) {  // --name=value
      name = w.substr(0, eq);
      value = w.substr(eq + 1);
      has_value = true;
    }
    auto take = [&]() -> std::string {
      if (has_value) return value;
      if (p + 1 >= args.size()) misuse("Error: option " + name + " needs a value");
      return args[++p];
    };
    auto count = [&](int least) {
      const std::string v = take();
      int n = 0;
      if (!parse_int_word(v, n) || n < least)
        misuse("Error: the value \"" + v + "\" of option " + name + " must be a whole number of at least " +
               std::to_string(least));
      return n;
    };
    lo.given.push_back(name);
    if (name == "--search") {
      lo.search = take();
    } else if (name == "--targets") {
      lo.targets = take();
    } else if (name == "--all-vs-all") {
      lo.all_vs_all = take();
    } else if (name == "--threads") {
      lo.threads = count(1);
    } else if (name == "--format") {
      lo.format = take();
      if (lo.format != "tsv" && lo.format != "json")
        misuse("Error: the value \"" + lo.format + "\" of option --format must be tsv or json");
    } else if (name == "--out") {
      lo.out = take();
    } else if (name == "--top") {
      lo.top = count(1);
    } else if (name == "--min-score") {
      const std::string v = take();
      double x = 0.0;
      if (!parse_real_word(v, x) || !std::isfinite(x))
        misuse("Error: the value \"" + v + "\" of option --min-score is not a number");
      lo.min_score = x;
    } else if (name == "--reports") {
      lo.reports = take();
    } else if (name == "--block") {
      const std::string v = take();
      std::array<size_t, 4> b{};
      unsigned long long x[4];
      char tail = 0;
      if (std::sscanf(v.c_str(), "%llu:%llu,%llu:%llu%c", &x[0], &x[1], &x[2], &x[3], &tail) != 4 ||
          x[0] > x[1] || x[2] > x[3] || v.find('-') != std::string::npos)
        misuse("Error: the value \"" + v + "\" of option --block must be Q0:Q1,T0:T1 (0-based, Q0 <= Q1, T0 <= T1)");
      for (int k = 0; k < 4; ++k) b[k] = static_cast<size_t>(x[k]);
      lo.block = b;
    } else if (name == "--complex") {
      if (has_value) misuse("Error: option --complex takes no value");
      lo.complex = true;
    } else if (name == "--extract") {
      lo.extract = take();
      if (lo.extract.empty()) misuse("Error: option --extract needs a complex file");
    } else if (name == "--ss") {
      const std::string v = take();
      if (v != "dssp" && v != "ca") misuse("Error: the value \"" + v + "\" of option --ss is neither dssp nor ca");
      lo.ss = v == "ca" ? SsSource::kCa : SsSource::kDssp;
    } else if (name == "--superpose") {
      lo.superpose = take();
    } else if (name == "--resume" || name == "--quiet" || name == "--help") {
      if (has_value) misuse("Error: option " + name + " takes no value");
      (name == "--resume" ? lo.resume : name == "--quiet" ? lo.quiet : lo.help) = true;
    } else {
      misuse("Error: unknown option " + name + " (Tarvix -h lists the options)");
    }
  }
  args = rest;

  auto given = [&](const char* o) { return std::find(lo.given.begin(), lo.given.end(), o) != lo.given.end(); };
  if (lo.search && lo.all_vs_all) misuse("Error: --search and --all-vs-all cannot be combined");
  if (lo.complex && !lo.extract.empty()) misuse("Error: --complex and --extract exclude each other");
  if (!lo.extract.empty() && lo.is_search()) misuse("Error: --extract writes one interface; it is not a search");
  if (lo.ss && !lo.complex && lo.extract.empty())
    misuse("Error: option --ss applies to --complex and --extract only");
  if (!lo.extract.empty() && lo.out.empty()) misuse("Error: --extract needs --out prefix");
  if (!lo.superpose.empty() && lo.complex) misuse("Error: --superpose applies to interface files only");
  if (lo.search && !lo.targets) misuse("Error: --search needs --targets LIST");
  if (lo.targets && !lo.search) misuse("Error: --targets is given without --search");
  if (!lo.is_search()) {
    if (given("--out") && lo.extract.empty()) misuse("Error: option --out applies to searches and --extract only");
    for (const char* o : {"--threads", "--format", "--top", "--min-score", "--reports", "--resume", "--block"})
      if (given(o)) misuse(std::string("Error: ") + o + " applies to --search and --all-vs-all only");
  } else if (given("--superpose")) {
    misuse("Error: --superpose applies to a single comparison only");
  }
  if (lo.resume && lo.out.empty()) misuse("Error: --resume needs --out FILE (the table to go on with)");
  return lo;
}

void check_long_options(const LongOptions& lo, const Settings& set) {
  if ((lo.complex || !lo.extract.empty()) && set.contmode == 1)
    misuse("Error: option -ca applies to interface files; with complexes, contacts come from the "
           "atoms and --ss ca takes the classes from the CA geometry");
  if (lo.complex && !lo.is_search() && set.files.size() != 2)
    misuse("Error: --complex compares two interfaces: give file1[:sides1] and file2[:sides2], not " +
           std::to_string(set.files.size()) + " names");
  if (!lo.extract.empty() && !set.files.empty())
    misuse("Error: --extract writes one interface; unexpected \"" + set.files[0] + "\"");
}

void print_long_help(std::ostream& out) {
  out << "Searches (each interface read once; rows in query order, then target order):\n"
         "     --search QUERY --targets LIST   compare each query with each target\n"
         "     --all-vs-all LIST               compare each pair of the list once\n"
         "         QUERY and LIST: a PDB file (its contacts in the .contacts file of the\n"
         "         same name), a list file (one PDB path per line, optionally followed by\n"
         "         its contact file; # starts a comment), or a directory of *.pdb files.\n"
         "         With --complex: complexes, one FILE[:SIDES] per line of a list.\n"
         "     --threads N     comparisons in parallel (default: one per processor)\n"
         "     --format F      tsv (default; a header line, one row per comparison) or json\n"
         "     --out FILE      write the table to FILE instead of standard output\n"
         "     --resume        with --out: skip the pairs already in FILE, append the rest\n"
         "     --top K         only the K best targets of each query, by score\n"
         "     --min-score X   only rows with a score of at least X\n"
         "     --reports DIR   also write each pair's report to DIR\n"
         "     --quiet         no progress line on the terminal\n"
         "     --block Q0:Q1,T0:T1  only queries Q0..Q1-1 with targets T0..T1-1 (0-based\n"
         "                     list positions), to split a large search into parts\n"
         "Single comparisons:\n"
         "     --superpose FILE  write structure 1 moved onto structure 2, with structure 2,\n"
         "                       as one PDB file (aligned residues: B-factor 1.00)\n"
         "\n";
}

int run_search(const LongOptions& lo, const Settings& set, std::FILE* table, std::ostream& err) {
  if (!set.files.empty())
    misuse("Error: file names on the command line of a search (" + set.files[0] +
           "); interfaces come from --search/--targets or --all-vs-all");
  const bool ca = set.contmode == 1;
  const bool triangle = lo.all_vs_all.has_value();
  auto entries = [&](const std::string& arg) {
    return lo.complex ? batch::read_complex_entries(arg) : batch::read_entries(arg, ca);
  };
  const std::vector<batch::Entry> queries = entries(triangle ? *lo.all_vs_all : *lo.search);
  const std::vector<batch::Entry> targets = triangle ? queries : entries(*lo.targets);
  ComplexOptions copt;
  copt.ss = lo.ss.value_or(SsSource::kDssp);
  const ComplexOptions* complexes = lo.complex ? &copt : nullptr;
  const Options options = from_settings(set);
  options.validate();
  const int threads = lo.threads ? *lo.threads : batch::default_threads();

  if (!lo.reports.empty()) {
    // Reports are named by the two file stems: they must tell interfaces apart.
    std::map<std::string, std::string> stems;
    for (const auto* list : {&queries, &targets})
      for (const batch::Entry& e : *list) {
        const auto [it, fresh] = stems.emplace(report_stem(e), e.pdb);
        if (!fresh && it->second != e.pdb)
          misuse("Error: --reports names each report by its two file names, but " + it->second + " and " +
                 e.pdb + " have the same name");
      }
    std::error_code ec;
    fs::create_directories(lo.reports, ec);
    if (ec) throw Error("Error: cannot create the report directory " + lo.reports + ": " + ec.message());
  }

  batch::PairSet pairs =
      triangle ? batch::PairSet::triangle(queries.size()) : batch::PairSet::cross(queries.size(), targets.size());
  if (lo.block) pairs = pairs.restricted((*lo.block)[0], (*lo.block)[1], (*lo.block)[2], (*lo.block)[3]);

  // Every interface the pairs use, once; an unreadable one is named once and
  // its pairs fail.
  std::vector<bool> qwanted(queries.size()), twanted(targets.size());
  for (size_t i = 0; i < queries.size(); ++i) qwanted[i] = pairs.has_query(i) || (triangle && pairs.has_target(i));
  for (size_t i = 0; i < targets.size(); ++i) twanted[i] = pairs.has_target(i);
  std::vector<std::string> qerr, terr;
  const auto qi = batch::read_all(queries, ca, threads, qerr, &qwanted, complexes);
  const auto ti = triangle ? qi : batch::read_all(targets, ca, threads, terr, &twanted, complexes);
  if (triangle) terr = qerr;
  int unreadable = 0;
  auto tell = [&](const std::vector<batch::Entry>& list, const std::vector<std::optional<Interface>>& read,
                  const std::vector<std::string>& errors) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (!errors[i].empty()) {
        ++unreadable;
        err << errors[i] << " (" << list[i].name << " left out)\n";
      } else if (read[i]) {
        for (const std::string& w : read[i]->warnings())
          err << (w.find(list[i].pdb) == std::string::npos ? list[i].name + ": " : std::string()) << w;
      }
    }
  };
  tell(queries, qi, qerr);
  if (!triangle) tell(targets, ti, terr);

  batch::TableOptions topt;
  topt.format = lo.format == "json" ? batch::Format::Json : batch::Format::Tsv;
  topt.top = lo.top;
  topt.min_score = lo.min_score;

  // Resuming: the pairs (or, with --top, the queries) already in the table,
  // one bit each.
  std::vector<bool> done_pair, done_query;
  if (lo.resume) {
    std::unordered_map<std::string, std::vector<size_t>> qindex, tindex;
    for (size_t i = 0; i < queries.size(); ++i) qindex[queries[i].name].push_back(i);
    for (size_t i = 0; i < targets.size(); ++i) tindex[targets[i].name].push_back(i);
    done_pair.assign(lo.top ? 0 : pairs.count(), false);
    done_query.assign(lo.top ? queries.size() : 0, false);
    batch::rows_done(lo.out, topt.format, lo.top.has_value(), [&](const std::string& q, const std::string& t) {
      const auto qi = qindex.find(q);
      if (qi == qindex.end()) return;
      for (size_t a : qi->second) {
        if (lo.top) {
          done_query[a] = true;
          continue;
        }
        const auto ti = tindex.find(t);
        if (ti == tindex.end()) continue;
        for (size_t b : ti->second)
          if (const auto k = pairs.number_of(a, b)) done_pair[*k] = true;
      }
    });
    std::error_code ec;
    topt.header = !(fs::exists(lo.out, ec) && fs::file_size(lo.out, ec) > 0);
  }
  std::FILE* out = table;
  if (!lo.out.empty()) {
    out = std::fopen(lo.out.c_str(), lo.resume ? "ab" : "wb");
    if (!out) throw Error("Error: cannot open " + lo.out + " for writing");
  }
  struct Closer {
    std::FILE* f;
    std::FILE* keep;
    ~Closer() {
      if (f && f != keep) std::fclose(f);
    }
  } closer{out, table};

  batch::TableWriter writer(out, pairs, topt);
  batch::RunOptions ropt;
  ropt.compare = options;
  ropt.threads = threads;
  if (lo.resume) {
    ropt.skip = [&](size_t q, size_t t) {
      return lo.top ? done_query[q] : done_pair[*pairs.number_of(q, t)];
    };
  }
  Progress progress(err, !lo.quiet && isatty(STDERR_FILENO), pairs.count());
  long long failed = 0;
  batch::run_pairs(qi, ti, pairs, ropt, [&](batch::Outcome&& o) {
    if (o.result) {
      if (!lo.reports.empty()) {
        const std::string path = (fs::path(lo.reports) / (report_stem(queries[o.query]) + "_" +
                                                           report_stem(targets[o.target]) + ".txt"))
                                     .string();
        std::ofstream f(path, std::ios::binary);
        for (const std::string& w : qi[o.query]->warnings()) f << w;
        for (const std::string& w : ti[o.target]->warnings()) f << w;
        f << report(*o.result, o.seconds);
        if (!f) throw Error("Error: cannot write the report " + path);
      }
    } else if (!o.skipped) {
      ++failed;
      // Pairs of an unreadable interface were named with it.
      if (qi[o.query] && ti[o.target])
        progress.message("Error: comparing " + queries[o.query].name + " with " + targets[o.target].name +
                         ": " + o.error);
    }
    writer.add(o);
    progress.step(!o.skipped);
  });
  progress.finish();
  if (failed > 0 || unreadable > 0) {
    err << failed << " of " << pairs.count() << " comparisons failed";
    if (unreadable > 0)
      err << " (" << unreadable << (unreadable == 1 ? " interface" : " interfaces") << " could not be read)";
    err << '\n';
    return 1;
  }
  return 0;
}

}  // namespace tarvix
