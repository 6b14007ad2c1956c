// The compiled part of the Python package (tarvix._core): interfaces,
// comparisons and the threaded search, over the library (src/api) and the
// batch code (src/batch). python/tarvix/__init__.py re-exports it and adds the
// search's Python face.
//
// Nothing here prints. Library errors become Python exceptions: option
// refusals ValueError, everything else tarvix.Error, both with the library's
// message. Comparisons and reading run with the GIL released.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "api/tarvix.h"
#include "batch/inputs.h"
#include "batch/search.h"
#include "complex/complex.h"
#include "structure/error.h"
#include "structure/structure.h"
#include "structure/zero_vector.h"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace tarvix::python {
namespace {

// ---- errors -----------------------------------------------------------------

// A message without the "Error: " the program puts in front (the exception's
// type says as much).
std::string without_prefix(std::string m) {
  if (m.rfind("Error: ", 0) == 0) m.erase(0, 7);
  return m;
}

// The library's message as one line.
std::string message_of(const Error& e) { return without_prefix(batch::one_line(e)); }

[[noreturn]] void refuse(const std::string& message) { throw py::value_error(message); }

// ---- options ----------------------------------------------------------------

// The keyword options of compare() and search(), with the command line's
// defaults; each refusal names the keyword and the option it stands for.
struct OptionArgs {
  std::string score = "tx";
  bool sequential = true;
  bool fast = false;
  std::optional<int> speed;
  std::string normalize = "structure2";
  std::optional<int> length;
  std::optional<double> d0, dmin;
  bool seqd0 = false;
  int detail = 1;

  Options to_options() const {
    Options o;
    std::string s = score;
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    if (s == "tm")
      o.score = ScoreType::TM;
    else if (s != "tx")
      refuse("score must be \"tx\" or \"tm\" (option -t), not \"" + score + "\"");
    o.sequential = sequential;
    if (speed && (*speed < 0 || *speed > 2))
      refuse("speed must be 0, 1 or 2 (option -q), not " + std::to_string(*speed));
    if (fast && speed && *speed != 2)
      refuse("fast=True is speed 2 (option -q 2) and cannot go with speed=" + std::to_string(*speed));
    o.speed = fast ? SpeedMode::Fast : static_cast<SpeedMode>(speed.value_or(1));
    if (normalize == "structure2")
      o.normalization = Normalization::Structure2;
    else if (normalize == "average")
      o.normalization = Normalization::Average;
    else if (normalize == "minimum")
      o.normalization = Normalization::Minimum;
    else if (normalize == "maximum")
      o.normalization = Normalization::Maximum;
    else
      refuse("normalize must be \"structure2\", \"average\" (option -a), \"minimum\" (-b) or \"maximum\" (-c), "
             "not \"" + normalize + "\"");
    if (length && *length < 1)
      refuse("length must be 1 or more (option -L), not " + std::to_string(*length));
    o.length = length;
    auto positive = [](const std::optional<double>& v, const char* name, const char* option) {
      if (v && !(std::isfinite(*v) && *v > 0.0))
        refuse(std::string(name) + " must be above 0 (option " + option + "), not " + py::str(py::float_(*v)).cast<std::string>());
    };
    positive(d0, "d0", "-d0");
    positive(dmin, "dmin", "-dmin");
    o.d0 = d0;
    o.dmin = dmin;
    o.seqd0 = seqd0;
    if (detail < 0 || detail > 2) refuse("detail must be 0, 1 or 2 (option -v), not " + std::to_string(detail));
    o.detail = static_cast<Detail>(detail);
    o.validate();
    return o;
  }
};

// The option keywords as pybind11 arguments, for every function that takes them.
#define TARVIX_OPTION_ARGS                                                                              \
  py::arg("score") = "tx", py::arg("sequential").noconvert() = true, py::arg("fast").noconvert() = false, \
  py::arg("speed") = py::none(), py::arg("normalize") = "structure2", py::arg("length") = py::none(),   \
  py::arg("d0") = py::none(), py::arg("dmin") = py::none(), py::arg("seqd0").noconvert() = false,        \
  py::arg("detail") = 1

OptionArgs option_args(std::string score, bool sequential, bool fast, std::optional<int> speed,
                       std::string normalize, std::optional<int> length, std::optional<double> d0,
                       std::optional<double> dmin, bool seqd0, int detail) {
  OptionArgs a;
  a.score = std::move(score);
  a.sequential = sequential;
  a.fast = fast;
  a.speed = speed;
  a.normalize = std::move(normalize);
  a.length = length;
  a.d0 = d0;
  a.dmin = dmin;
  a.seqd0 = seqd0;
  a.detail = detail;
  return a;
}

// ---- arrays -----------------------------------------------------------------

py::array read_only(py::array a) {
  a.attr("setflags")(py::arg("write") = false);
  return a;
}

// A read-only array over memory that `owner` keeps alive.
template <class T>
py::array view(py::handle owner, const T* data, std::vector<py::ssize_t> shape, std::vector<py::ssize_t> strides) {
  return read_only(py::array(py::dtype::of<T>(), std::move(shape), std::move(strides), data, owner));
}

py::array strings(const std::vector<std::string>& values, const char* dtype) {
  return py::module_::import("numpy").attr("array")(py::cast(values), py::arg("dtype") = dtype);
}

std::string stripped(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// ---- interfaces -------------------------------------------------------------

// Chain identifier of residue i (1-based) as read ("_" for a blank one, " "
// after the last "TER").
char chain_of(const Structure& s, int i) {
  for (int k = 1; k <= s.nchain; ++k)
    if (i <= s.chains[k]) return s.chainid_read[k];
  return ' ';
}

std::vector<std::string> lines_without_ends(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (std::string l : lines) {
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    out.push_back(stripped(l));
  }
  return out;
}

Interface interface_from_files(const fs::path& pdb, const std::optional<fs::path>& contacts, bool ca) {
  if (ca && contacts)
    refuse("with ca=True the contacts come from the coordinates; no contact file is read (contacts=" +
           contacts->string() + ")");
  const std::string p = pdb.string();
  const std::string c = ca ? std::string() : contacts ? contacts->string() : batch::contacts_of(p);
  py::gil_scoped_release release;
  return ca ? Interface::read_ca(p) : Interface::read(p, c);
}

// The interface between two sides of a whole complex; a side is one chain
// name or several separated by commas ("H,L"), left out as the program's
// FILE[:SIDES] leaves it out.
Interface interface_from_complex(const fs::path& path, const std::optional<std::string>& side1,
                                 const std::optional<std::string>& side2, const std::string& ss) {
  if (ss != "dssp" && ss != "ca") refuse("ss must be \"dssp\" or \"ca\" (option --ss), not \"" + ss + "\"");
  if (side2 && !side1) refuse("side2 is given without side1");
  auto split = [](const std::string& side) {
    std::vector<std::string> chains;
    size_t from = 0;
    for (size_t comma; (comma = side.find(',', from)) != std::string::npos; from = comma + 1)
      chains.push_back(side.substr(from, comma - from));
    chains.push_back(side.substr(from));
    return chains;
  };
  InterfaceChoice choice;
  choice.path = path.string();
  choice.text = choice.path;
  if (side1) {
    choice.side1 = split(*side1);
    choice.text += ":" + *side1;
  }
  if (side2) {
    choice.side2 = split(*side2);
    choice.text += ":" + *side2;
  }
  ComplexOptions options;
  options.ss = ss == "ca" ? SsSource::kCa : SsSource::kDssp;
  py::gil_scoped_release release;
  const ComplexInterface ci = read_interface(choice, options);
  auto s = std::make_unique<Structure>();
  fill_structure(ci, *s);
  std::vector<std::string> warnings;
  for (const std::string& w : ci.complex.warnings) warnings.push_back(w + '\n');
  return Interface::from_structure(*s, choice.text, std::move(warnings));
}

// ---- results ----------------------------------------------------------------

// A result with the two interfaces it came from (their reader warnings start
// the report) and the time the comparison took.
struct PyResult {
  Result r;
  Interface a, b;
  double seconds = 0.0;

  std::string report(std::optional<double> running_time) const {
    std::string text;
    for (const std::string& w : a.warnings()) text += w;
    for (const std::string& w : b.warnings()) text += w;
    return text + tarvix::report(r, running_time);
  }
};

template <class T>
py::object if_significant(const PyResult& p, T value) {
  return p.r.significant ? py::cast(value) : py::none();
}

py::dict record(const PyResult& p) {
  const Result& r = p.r;
  py::dict d;
  d["query"] = r.name1;
  d["target"] = r.name2;
  d["score"] = if_significant(p, r.score);
  d["pvalue"] = r.significant && r.pvalue ? py::cast(*r.pvalue) : py::none();
  d["zscore"] = r.significant && r.zscore ? py::cast(*r.zscore) : py::none();
  d["aligned"] = r.aligned;
  d["aligned_contacts"] = r.aligned_contacts;
  d["rmsd"] = if_significant(p, r.rmsd);
  d["identity"] = if_significant(p, r.identity);
  d["length1"] = r.length1;
  d["length2"] = r.length2;
  d["normlen"] = r.normlen;
  d["d0"] = r.d0;
  d["round"] = if_significant(p, r.round);
  d["initial"] = if_significant(p, r.initial);
  return d;
}

py::object pairs_array(const Result& r) {
  py::module_ np = py::module_::import("numpy");
  py::list fields;
  for (const char* f : {"index1", "chain1", "number1", "name1", "index2", "chain2", "number2", "name2", "distance"}) {
    const std::string name = f;
    const char* type = name.rfind("index", 0) == 0 ? "i4"
                       : name.rfind("chain", 0) == 0 ? "U1"
                       : name.rfind("number", 0) == 0 ? "U5"
                       : name.rfind("name", 0) == 0 ? "U3"
                                                    : "f8";
    fields.append(py::make_tuple(name, type));
  }
  py::list rows;
  for (const AlignedPair& q : r.pairs)
    rows.append(py::make_tuple(q.index1 - 1, std::string(1, q.residue1.chain), stripped(q.residue1.number),
                               q.residue1.name, q.index2 - 1, std::string(1, q.residue2.chain),
                               stripped(q.residue2.number), q.residue2.name, q.distance));
  return np.attr("array")(rows, py::arg("dtype") = np.attr("dtype")(fields));
}

// ---- searches ---------------------------------------------------------------

// Runs work(stop) on a thread of its own with the GIL released, and meanwhile
// lets Python handle signals every 50 ms. When a handler raises (Ctrl-C:
// KeyboardInterrupt), `stop` is set, the work is waited for (comparisons under
// way finish, no new one starts) and the exception is raised here.
void run_interruptible(const std::function<void(const std::atomic<bool>& stop)>& work) {
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  std::exception_ptr failure;
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      try {
        work(stop);
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> hold(lock);
      done = true;
      finished.notify_all();
    });
    std::unique_lock<std::mutex> hold(lock);
    while (!finished.wait_for(hold, std::chrono::milliseconds(50), [&] { return done; })) {
      if (stop) continue;
      hold.unlock();
      {
        py::gil_scoped_acquire acquire;
        if (PyErr_CheckSignals() != 0) {
          PyErr_Fetch(&type, &value, &traceback);
          stop = true;
        }
      }
      hold.lock();
    }
    hold.unlock();
    worker.join();
  }
  if (type) {
    PyErr_Restore(type, value, traceback);
    throw py::error_already_set();
  }
  if (failure) std::rethrow_exception(failure);
}

// One side of a search: Interfaces given as such and paths to read.
struct Side {
  std::vector<std::optional<Interface>> interfaces;
  std::vector<std::string> names;
  std::vector<batch::Entry> to_read;
  std::vector<size_t> slot_of;  // to_read[k] goes to interfaces[slot_of[k]]
  std::vector<std::string> errors;
};

Side side_of(const py::list& items, bool ca) {
  Side s;
  for (py::handle item : items) {
    if (py::isinstance<Interface>(item)) {
      const Interface& f = item.cast<const Interface&>();
      s.interfaces.emplace_back(f);
      s.names.push_back(f.name());
    } else {
      for (batch::Entry& e : batch::read_entries(item.cast<std::string>(), ca)) {
        s.slot_of.push_back(s.interfaces.size());
        s.interfaces.emplace_back();
        s.names.push_back(e.name);
        s.to_read.push_back(std::move(e));
      }
    }
  }
  s.errors.assign(s.interfaces.size(), std::string());
  return s;
}

void read_side(Side& s, bool ca, int threads) {
  std::vector<std::string> errors;
  auto read = batch::read_all(s.to_read, ca, threads, errors);
  for (size_t k = 0; k < read.size(); ++k) {
    s.interfaces[s.slot_of[k]] = std::move(read[k]);
    s.errors[s.slot_of[k]] = errors[k];
  }
}

struct Kept {
  size_t k, query, target;
  Result r;
  double seconds;
};

py::dict search(const py::list& queries, const std::optional<py::list>& targets, bool ca, int threads,
                std::optional<int> top, std::optional<double> min_score, const OptionArgs& args) {
  const Options options = args.to_options();
  if (threads < 0) refuse("threads must be 1 or more, not " + std::to_string(threads));
  if (top && *top < 1) refuse("top must be 1 or more, not " + std::to_string(*top));
  if (min_score && !std::isfinite(*min_score)) refuse("min_score must be a finite number");
  const int nthreads = threads > 0 ? threads : batch::default_threads();
  const bool triangle = !targets;
  Side q = side_of(queries, ca);
  Side t = triangle ? Side{} : side_of(*targets, ca);
  const batch::PairSet pairs = triangle ? batch::PairSet::triangle(q.interfaces.size())
                                        : batch::PairSet::cross(q.interfaces.size(), t.interfaces.size());

  std::vector<Kept> kept;                     // without top: in the order they came
  std::vector<std::vector<Kept>> best;        // with top: each query's best, by score
  if (top) best.resize(q.interfaces.size());
  std::vector<std::tuple<std::string, std::string, std::string>> failed_pairs;
  long long failed = 0;
  run_interruptible([&](const std::atomic<bool>& stop) {
    read_side(q, ca, nthreads);
    if (!triangle) read_side(t, ca, nthreads);
    if (stop) return;
    const auto& tif = triangle ? q.interfaces : t.interfaces;
    batch::RunOptions ropt;
    ropt.compare = options;
    ropt.threads = nthreads;
    ropt.stop = &stop;
    batch::run_pairs(q.interfaces, tif, pairs, ropt, [&](batch::Outcome&& o) {
      if (!o.result) {
        ++failed;
        // Pairs of an unreadable interface are named with the interface.
        if (q.interfaces[o.query] && tif[o.target])
          failed_pairs.emplace_back(q.names[o.query], (triangle ? q : t).names[o.target], o.error);
        return;
      }
      const Result& r = *o.result;
      if (min_score && !(r.significant && r.score >= *min_score)) return;
      Kept row{o.k, o.query, o.target, std::move(*o.result), o.seconds};
      if (!top) {
        kept.push_back(std::move(row));
        return;
      }
      // As the search table keeps them: by score, ties in target order,
      // results without an alignment last.
      auto key = [](const Kept& x) {
        return x.r.significant ? x.r.score : -std::numeric_limits<double>::infinity();
      };
      std::vector<Kept>& b = best[o.query];
      const auto at = std::upper_bound(b.begin(), b.end(), row, [&](const Kept& x, const Kept& y) {
        return key(x) > key(y) || (key(x) == key(y) && x.target < y.target);
      });
      if (at - b.begin() >= *top) return;
      b.insert(at, std::move(row));
      if (b.size() > static_cast<size_t>(*top)) b.pop_back();
    });
  });

  if (top) {
    for (auto& b : best)
      for (Kept& row : b) kept.push_back(std::move(row));
  } else {
    std::sort(kept.begin(), kept.end(), [](const Kept& x, const Kept& y) { return x.k < y.k; });
  }
  const auto& tif = triangle ? q.interfaces : t.interfaces;
  py::list results;
  for (Kept& row : kept)
    results.append(PyResult{std::move(row.r), *q.interfaces[row.query], *tif[row.target], row.seconds});
  py::list failures;
  long long unreadable = 0;
  for (size_t i = 0; i < q.errors.size(); ++i)
    if (!q.errors[i].empty()) {
      ++unreadable;
      failures.append(py::make_tuple(q.names[i], py::none(), without_prefix(q.errors[i])));
    }
  for (size_t i = 0; i < t.errors.size(); ++i)
    if (!t.errors[i].empty()) {
      ++unreadable;
      failures.append(py::make_tuple(py::none(), t.names[i], without_prefix(t.errors[i])));
    }
  for (const auto& [a, b, m] : failed_pairs) failures.append(py::make_tuple(a, b, without_prefix(m)));
  py::dict out;
  out["results"] = results;
  out["failures"] = failures;
  out["failed"] = failed;
  out["pairs"] = pairs.count();
  out["unreadable"] = unreadable;
  return out;
}

// ---- documentation ----------------------------------------------------------

const char* const kInterfaceDoc = R"doc(An interface read from its files: immutable, shareable between threads.

Interface(pdb, contacts=None, *, ca=False)

pdb: the PDB file of the interface residues (two chains ended by TER; only
  CA atoms are used; the occupancy column holds the secondary structure).
contacts: its contact file; by default the file of the same name with the
  extension .contacts.
ca: compute the contacts (and secondary structure) from the CA coordinates,
  as the program's -ca; no contact file is read.

Raises tarvix.Error (file, line and problem) when a file cannot be read.

Per-residue arrays have one row per residue in file order; positions are
0-based (residue i of the program's reports is row i - 1).)doc";

const char* const kResultDoc = R"doc(The result of one comparison (tarvix.compare or tarvix.search).

Values the report prints are None when the alignment is not significant
(fewer than three aligned pairs) and, for pvalue and zscore, when no P-value
is computed (options length, dmin, normalize="average", non-sequential TM,
or fewer than 15 residues).)doc";

const char* const kCompareDoc = R"doc(Compares interface a (structure 1) with interface b (structure 2). The
options are the program's, with its defaults:

score: "tx" (TX-score) or "tm" (TM-score, option -t).
sequential: False for a non-sequential alignment (option -s).
fast: True for the fast mode (option -q 2); speed: the -q value (0, 1, 2).
normalize: "structure2" (the length of b), "average" (-a, no P-value),
  "minimum" (-b) or "maximum" (-c).
length: normalise by this fixed length, 1 or more (-L, no P-value).
d0: fix the distance scale d0, above 0 (-d0).
dmin: floor of every derived d0, above 0 (-dmin, no P-value).
seqd0: in non-sequential mode, derive d0 by the sequential rules (-seqd0).
detail: the report's alignment: 0 none, 1 concise, 2 table of pairs (-v);
  non-sequential comparisons show the table for 1.

Raises ValueError naming the option for a value the program refuses, and
tarvix.Error when the pair cannot be compared (too short, too few contacts).
The GIL is released while the comparison runs.)doc";

}  // namespace
}  // namespace tarvix::python

using namespace tarvix;
using namespace tarvix::python;

PYBIND11_MODULE(_core, m) {
  m.doc() = "The compiled part of tarvix; use the package tarvix.";
  // Many comparisons in one process: reuse freed blocks rather than map each anew.
  zero_blocks_mapped = false;

  static py::exception<Error> error(m, "Error", PyExc_RuntimeError);
  error.doc() = "A file that cannot be read or a pair that cannot be compared; the message names the file, "
                "the line and the problem.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Error& e) {
      if (e.code() == ExitCode::kUsage)
        PyErr_SetString(PyExc_ValueError, message_of(e).c_str());
      else
        error(message_of(e).c_str());
    }
  });

  py::class_<Interface>(m, "Interface", kInterfaceDoc)
      .def(py::init(&interface_from_files), py::arg("pdb"), py::arg("contacts") = py::none(), py::kw_only(),
           py::arg("ca") = false)
      .def_static("from_complex", &interface_from_complex, py::arg("path"), py::arg("side1") = py::none(),
                  py::arg("side2") = py::none(), py::kw_only(), py::arg("ss") = "dssp",
                  "The interface between two sides of a whole complex (PDB or mmCIF, gzipped or\n"
                  "not), as the program's --complex cuts it: side1 and side2 are chain names,\n"
                  "several separated by commas (\"H,L\"); without them the complex must have two\n"
                  "protein chains. ss: secondary structure from \"dssp\" (mkdssp) or \"ca\".")
      .def_property_readonly("name", &Interface::name, "The PDB path as given.")
      .def_property_readonly("length", &Interface::length, "Number of residues.")
      .def("__len__", &Interface::length)
      .def_property_readonly(
          "chain_ids",
          [](const Interface& f) {
            const Structure& s = f.structure();
            std::vector<std::string> ids;
            for (int k = 1; k <= s.nchain; ++k) ids.emplace_back(1, s.chainid_read[k]);
            return py::tuple(py::cast(ids));
          },
          "Chain identifiers in file order, one per TER record (\"_\" for a blank one).")
      .def_property_readonly(
          "chains",
          [](const Interface& f) {
            const Structure& s = f.structure();
            std::vector<std::string> v;
            for (int i = 1; i <= s.len; ++i) v.emplace_back(1, chain_of(s, i));
            return strings(v, "U1");
          },
          "Chain identifier of each residue (numpy str array).")
      .def_property_readonly(
          "numbers",
          [](const Interface& f) {
            const Structure& s = f.structure();
            std::vector<std::string> v;
            for (int i = 1; i <= s.len; ++i) v.push_back(stripped(std::string(s.resnum[i].data(), 5)));
            return strings(v, "U5");
          },
          "Residue number with insertion code of each residue, columns 23-27 without blanks (numpy str array).")
      .def_property_readonly(
          "names",
          [](const Interface& f) {
            const Structure& s = f.structure();
            std::vector<std::string> v;
            for (int i = 1; i <= s.len; ++i) v.emplace_back(s.resname[i].data(), 3);
            return strings(v, "U3");
          },
          "Three-letter residue name of each residue (numpy str array).")
      .def_property_readonly(
          "sequence",
          [](const Interface& f) {
            const Structure& s = f.structure();
            return std::string(s.seq.data() + 1, static_cast<size_t>(s.len));
          },
          "One-letter codes of the residues (X outside the standard twenty).")
      .def_property_readonly(
          "sides",
          [](py::object self) {
            const Structure& s = self.cast<const Interface&>().structure();
            return view<int>(self, s.id2chain.data() + 1, {s.len}, {sizeof(int)});
          },
          "Interface side of each residue: 1 the first chain, 2 the rest (read-only int32 view).")
      .def_property_readonly(
          "secondary",
          [](py::object self) {
            const Structure& s = self.cast<const Interface&>().structure();
            return view<int>(self, s.sec.data() + 1, {s.len}, {sizeof(int)});
          },
          "Secondary-structure class of each residue: 1 coil, 2 helix, 3 turn, 4 strand (read-only int32 view).")
      .def_property_readonly(
          "ca",
          [](py::object self) {
            const Structure& s = self.cast<const Interface&>().structure();
            return view<double>(self, s.ca.data()[1].data(), {s.len, 3}, {sizeof(Coord), sizeof(double)});
          },
          "CA coordinates, shape (length, 3), in Angstrom (read-only float64 view).")
      .def_property_readonly(
          "contacts",
          [](const Interface& f) {
            const Structure& s = f.structure();
            std::vector<int> flat;
            for (int i = 1; i <= s.len; ++i)
              for (int m = 1; m <= s.contnum[i]; ++m) {
                flat.push_back(i - 1);
                flat.push_back(s.partner(i, m) - 1);
              }
            py::array_t<int> a({static_cast<py::ssize_t>(flat.size() / 2), py::ssize_t{2}});
            std::copy(flat.begin(), flat.end(), a.mutable_data());
            return read_only(a);
          },
          "Every contact as listed, shape (n, 2): residue and partner positions (0-based). A contact file "
          "usually lists each contact from both sides; contact_count counts those of the first chain.")
      .def_property_readonly("contact_count", &Interface::contacts,
                             "Contacts of the first chain (the number the report shows).")
      .def_property_readonly(
          "warnings", [](const Interface& f) { return lines_without_ends(f.warnings()); },
          "What the readers warned about (the report starts with these lines).")
      .def("__repr__", [](const Interface& f) {
        return "<tarvix.Interface " + f.name() + ": " + std::to_string(f.length()) + " residues, " +
               std::to_string(f.contacts()) + " contacts>";
      });

  py::class_<PyResult>(m, "Result", kResultDoc)
      .def_property_readonly("name1", [](const PyResult& p) { return p.r.name1; }, "Name (PDB path) of structure 1.")
      .def_property_readonly("name2", [](const PyResult& p) { return p.r.name2; }, "Name (PDB path) of structure 2.")
      .def_property_readonly("interface1", [](const PyResult& p) { return p.a; }, "Structure 1 (an Interface).")
      .def_property_readonly("interface2", [](const PyResult& p) { return p.b; }, "Structure 2 (an Interface).")
      .def_property_readonly("length1", [](const PyResult& p) { return p.r.length1; }, "Residues of structure 1.")
      .def_property_readonly("length2", [](const PyResult& p) { return p.r.length2; }, "Residues of structure 2.")
      .def_property_readonly("contacts1", [](const PyResult& p) { return p.r.contacts1; },
                             "Contacts of structure 1 (first chain).")
      .def_property_readonly("contacts2", [](const PyResult& p) { return p.r.contacts2; },
                             "Contacts of structure 2 (first chain).")
      .def_property_readonly("chains1", [](const PyResult& p) { return std::string(p.r.chains1.data(), 2); },
                             "The first two chain identifiers of structure 1, as the report shows them.")
      .def_property_readonly("chains2", [](const PyResult& p) { return std::string(p.r.chains2.data(), 2); },
                             "The first two chain identifiers of structure 2, as the report shows them.")
      .def_property_readonly("significant", [](const PyResult& p) { return p.r.significant; },
                             "Whether an alignment was found (at least three aligned pairs).")
      .def_property_readonly("score", [](const PyResult& p) { return if_significant(p, p.r.score); },
                             "TX-score (or TM-score), normalised by normlen; None without an alignment.")
      .def_property_readonly("pvalue", [](const PyResult& p) { return p.r.significant ? p.r.pvalue : std::nullopt; },
                             "P-value of the score, or None.")
      .def_property_readonly("zscore", [](const PyResult& p) { return p.r.significant ? p.r.zscore : std::nullopt; },
                             "Z-score of the score, or None.")
      .def_property_readonly("aligned", [](const PyResult& p) { return p.r.aligned; },
                             "Aligned residues (pairs within the distance cutoff).")
      .def_property_readonly("aligned_contacts", [](const PyResult& p) { return p.r.aligned_contacts; },
                             "Interface contacts the alignment conserves.")
      .def_property_readonly("rmsd", [](const PyResult& p) { return if_significant(p, p.r.rmsd); },
                             "RMSD of the aligned CA atoms, or None.")
      .def_property_readonly("identity", [](const PyResult& p) { return if_significant(p, p.r.identity); },
                             "Sequence identity of the aligned pairs, or None.")
      .def_property_readonly(
          "rotation",
          [](py::object self) -> py::object {
            const PyResult& p = self.cast<const PyResult&>();
            if (!p.r.significant) return py::none();
            return view<double>(self, &p.r.rotation[0][0], {3, 3}, {3 * sizeof(double), sizeof(double)});
          },
          "Rotation r, 3 x 3 (read-only view): x2 = r @ x1 + translation lays structure 1 onto 2; or None.")
      .def_property_readonly(
          "translation",
          [](py::object self) -> py::object {
            const PyResult& p = self.cast<const PyResult&>();
            if (!p.r.significant) return py::none();
            return view<double>(self, p.r.translation, {3}, {sizeof(double)});
          },
          "Translation t, shape (3,) (read-only view), or None.")
      .def_property_readonly(
          "pairs", [](const PyResult& p) { return pairs_array(p.r); },
          "The aligned pairs as a numpy structured array: index1, index2 (0-based positions in the "
          "interfaces, so interface1.ca[pairs['index1']] are their CA atoms), chain1/2, number1/2, name1/2, "
          "and distance (CA-CA after the superposition, Angstrom).")
      .def_property_readonly("round", [](const PyResult& p) { return if_significant(p, p.r.round); },
                             "Chain order of the best alignment (1..4), or None.")
      .def_property_readonly("initial", [](const PyResult& p) { return if_significant(p, p.r.initial); },
                             "Start code of the best alignment, or None.")
      .def_property_readonly("normlen", [](const PyResult& p) { return p.r.normlen; }, "Normalisation length.")
      .def_property_readonly("d0", [](const PyResult& p) { return p.r.d0; }, "d0 of the reported score.")
      .def_property_readonly("seconds", [](const PyResult& p) { return p.seconds; },
                             "Time the comparison took, in seconds.")
      .def_property_readonly(
          "warnings",
          [](const PyResult& p) {
            std::vector<std::string> all = p.a.warnings();
            all.insert(all.end(), p.b.warnings().begin(), p.b.warnings().end());
            all.insert(all.end(), p.r.warnings.begin(), p.r.warnings.end());
            return lines_without_ends(all);
          },
          "The readers' warnings of both interfaces and the comparison's, as the report starts with them.")
      .def("report", &PyResult::report, py::arg("running_time") = py::none(),
           "The program's report of this comparison, byte for byte; with running_time (seconds, e.g. "
           "result.seconds) also its closing 'Running time' line.")
      .def("__repr__", [](const PyResult& p) {
        std::string s = "<tarvix.Result " + p.r.name1 + " vs " + p.r.name2;
        if (!p.r.significant) return s + ": no significant alignment>";
        s += ": " + p.r.text.scorecode + "-score " + py::str(py::float_(p.r.score)).cast<std::string>();
        if (p.r.pvalue) s += ", P-value " + py::str(py::float_(*p.r.pvalue)).cast<std::string>();
        return s + ">";
      });

  m.def(
      "compare",
      [](const Interface& a, const Interface& b, std::string score, bool sequential, bool fast,
         std::optional<int> speed, std::string normalize, std::optional<int> length, std::optional<double> d0,
         std::optional<double> dmin, bool seqd0, int detail) {
        const Options o = option_args(std::move(score), sequential, fast, speed, std::move(normalize), length, d0,
                                      dmin, seqd0, detail)
                              .to_options();
        py::gil_scoped_release release;
        const auto start = std::chrono::steady_clock::now();
        Result r = tarvix::compare(a, b, o);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return PyResult{std::move(r), a, b, seconds};
      },
      py::arg("a"), py::arg("b"), py::kw_only(), TARVIX_OPTION_ARGS, kCompareDoc);

  m.def(
      "_search",
      [](const py::list& queries, const std::optional<py::list>& targets, bool ca, int threads,
         std::optional<int> top, std::optional<double> min_score, std::string score, bool sequential, bool fast,
         std::optional<int> speed, std::string normalize, std::optional<int> length, std::optional<double> d0,
         std::optional<double> dmin, bool seqd0, int detail) {
        return search(queries, targets, ca, threads, top, min_score,
                      option_args(std::move(score), sequential, fast, speed, std::move(normalize), length, d0, dmin,
                                  seqd0, detail));
      },
      py::arg("queries"), py::arg("targets"), py::kw_only(), py::arg("ca") = false, py::arg("threads") = 0,
      py::arg("top") = py::none(), py::arg("min_score") = py::none(), TARVIX_OPTION_ARGS,
      "The search behind tarvix.search: queries and targets are lists of Interfaces and paths (str); "
      "targets None compares each pair of queries once.");

  m.def(
      "to_records",
      [](const py::iterable& results) {
        py::list out;
        for (py::handle r : results) {
          if (!py::isinstance<PyResult>(r))
            throw py::type_error("to_records takes tarvix.Result objects, not " +
                                 py::str(py::type::of(r).attr("__name__")).cast<std::string>());
          out.append(record(r.cast<const PyResult&>()));
        }
        return out;
      },
      py::arg("results"),
      "Plain dicts of results, one per result, for pandas.DataFrame(to_records(results)): query, target "
      "and the columns of the program's search table (score, pvalue, zscore, aligned, aligned_contacts, "
      "rmsd, identity, length1, length2, normlen, d0, round, initial), None where the table has NA.");

  m.def("default_threads", &batch::default_threads, "Threads a search uses by default: one per processor.");
  m.attr("__version__") = TARVIX_VERSION;
}
