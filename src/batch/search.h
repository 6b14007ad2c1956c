// Many comparisons: every query against every target, or every pair of one
// list once, on several threads. Each interface is read once; each thread
// owns its working storage; results reach a sink in no particular order, and
// the table writer puts them back in order.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "api/tarvix.h"
#include "batch/inputs.h"
#include "complex/complex.h"

namespace tarvix::batch {

// The pairs of a job, numbered 0..count()-1 in output order: query by query,
// and within a query target by target.
class PairSet {
 public:
  // Each of nq queries against each of nt targets.
  static PairSet cross(size_t nq, size_t nt);
  // Each pair (i, j), i < j, of n interfaces; i is structure 1.
  static PairSet triangle(size_t n);
  // Only the queries first..last-1 (0-based) and, within each, the targets
  // first..last-1 (for all-vs-all: the structure-2 indices). Used to split a
  // large job into blocks.
  PairSet restricted(size_t q_first, size_t q_last, size_t t_first, size_t t_last) const;

  size_t count() const { return total_; }
  size_t queries() const { return nq_; }
  // The pair numbered k: (query index, target index).
  std::pair<size_t, size_t> at(size_t k) const;
  // Whether query q, or target t, is in some pair of the set.
  bool has_query(size_t q) const { return pairs_of(q) > 0; }
  bool has_target(size_t t) const;
  // How many pairs query q has.
  size_t pairs_of(size_t q) const;
  // The number of the pair (q, t); nullopt when the set does not hold it.
  std::optional<size_t> number_of(size_t q, size_t t) const;

 private:
  PairSet(size_t nq, size_t nt, bool triangle);
  bool triangle_ = false;
  size_t nq_ = 0, nt_ = 0;
  size_t q0_ = 0, q1_ = 0, t0_ = 0, t1_ = 0;  // the block
  std::vector<size_t> start_;                 // first pair number of each query
  size_t total_ = 0;
  void index();
};

// One finished comparison. `result` is set when it succeeded, `error` holds
// the message when it did not.
struct Outcome {
  size_t k = 0, query = 0, target = 0;
  std::optional<Result> result;
  std::string error;
  double seconds = 0.0;  // time the comparison took
  bool skipped = false;  // not run (already done in an earlier run)
};

struct RunOptions {
  Options compare;
  int threads = 0;  // 0: one per processor
  // Pairs for which this returns true are not compared (resumed runs).
  std::function<bool(size_t query, size_t target)> skip;
  // Set from another thread to stop early; pairs not started are left out.
  const std::atomic<bool>* stop = nullptr;
};

// Reads interfaces on `threads` threads (only those with wanted[i], when
// given). A failed read leaves nothing and records the message in errors[i].
// With `complexes`, each entry is FILE[:SIDES] of a whole complex, cut with
// those options (classes from mkdssp or the CA geometry).
std::vector<std::optional<Interface>> read_all(const std::vector<Entry>& entries, bool ca, int threads,
                                               std::vector<std::string>& errors,
                                               const std::vector<bool>* wanted = nullptr,
                                               const ComplexOptions* complexes = nullptr);

// Runs the pairs; `sink` is called once per pair (skipped ones too), from the
// worker threads, never from two at once.
void run_pairs(const std::vector<std::optional<Interface>>& queries,
               const std::vector<std::optional<Interface>>& targets, const PairSet& pairs,
               const RunOptions& options, const std::function<void(Outcome&&)>& sink);

int default_threads();

// The message of an Error as one line (blank lines dropped, lines joined).
std::string one_line(const Error& e);

}  // namespace tarvix::batch
