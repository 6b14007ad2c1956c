#include "batch/search.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <exception>
#include <mutex>
#include <thread>

#include "structure/zero_vector.h"

namespace tarvix::batch {

PairSet::PairSet(size_t nq, size_t nt, bool triangle)
    : triangle_(triangle), nq_(nq), nt_(nt), q1_(nq), t1_(nt) {
  index();
}

PairSet PairSet::cross(size_t nq, size_t nt) { return PairSet(nq, nt, false); }

PairSet PairSet::triangle(size_t n) { return PairSet(n, n, true); }

PairSet PairSet::restricted(size_t q_first, size_t q_last, size_t t_first, size_t t_last) const {
  PairSet p = *this;
  p.q0_ = std::min(std::max(q_first, q0_), q1_);
  p.q1_ = std::max(std::min(q_last, q1_), p.q0_);
  p.t0_ = std::min(std::max(t_first, t0_), t1_);
  p.t1_ = std::max(std::min(t_last, t1_), p.t0_);
  p.index();
  return p;
}

void PairSet::index() {
  start_.assign(nq_ + 1, 0);
  size_t total = 0;
  for (size_t q = 0; q < nq_; ++q) {
    start_[q] = total;
    total += pairs_of(q);
  }
  start_[nq_] = total;
  total_ = total;
}

size_t PairSet::pairs_of(size_t q) const {
  if (q < q0_ || q >= q1_) return 0;
  const size_t first = triangle_ ? std::max(t0_, q + 1) : t0_;
  return t1_ > first ? t1_ - first : 0;
}

bool PairSet::has_target(size_t t) const {
  if (t < t0_ || t >= t1_ || q1_ <= q0_) return false;
  return !triangle_ || t > q0_;  // some query of the block lies before t
}

std::optional<size_t> PairSet::number_of(size_t q, size_t t) const {
  if (q >= nq_ || pairs_of(q) == 0) return std::nullopt;
  const size_t first = triangle_ ? std::max(t0_, q + 1) : t0_;
  if (t < first || t >= t1_) return std::nullopt;
  return start_[q] + (t - first);
}

std::pair<size_t, size_t> PairSet::at(size_t k) const {
  // The last query whose first pair number is at most k: a query without
  // pairs shares its first number with the next one, so that is the query
  // that has the pair.
  const auto it = std::upper_bound(start_.begin(), start_.end() - 1, k);
  const size_t q = static_cast<size_t>(it - start_.begin()) - 1;
  const size_t first = triangle_ ? std::max(t0_, q + 1) : t0_;
  return {q, first + (k - start_[q])};
}

int default_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}

std::string one_line(const Error& e) {
  std::string text = e.what(), out;
  size_t from = 0;
  while (from <= text.size()) {
    size_t to = text.find('\n', from);
    if (to == std::string::npos) to = text.size();
    std::string line = text.substr(from, to - from);
    const size_t a = line.find_first_not_of(' ');
    if (a != std::string::npos) {
      if (!out.empty()) out += ' ';
      out += line.substr(a);
    }
    from = to + 1;
  }
  return out;
}

namespace {

// Runs body(i) for i = 0..n-1 on up to `threads` threads, handing out the
// indices one by one (comparisons differ widely in cost).
// The first exception of any thread stops the others and is thrown again here.
template <class Body>
void parallel_for(size_t n, int threads, const std::atomic<bool>* stop, Body body) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first;
  std::mutex first_lock;
  auto work = [&] {
    try {
      for (;;) {
        if (failed.load(std::memory_order_relaxed) || (stop && stop->load(std::memory_order_relaxed))) return;
        const size_t i = next.fetch_add(1, std::memory_order_relaxed);
        if (i >= n) return;
        body(i);
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(first_lock);
      if (!first) first = std::current_exception();
      failed = true;
    }
  };
  const size_t t = std::min<size_t>(static_cast<size_t>(std::max(threads, 1)), std::max<size_t>(n, 1));
  std::vector<std::thread> pool;
  for (size_t k = 1; k < t; ++k) pool.emplace_back(work);
  work();
  for (auto& th : pool) th.join();
  if (first) std::rethrow_exception(first);
}

}  // namespace

std::vector<std::optional<Interface>> read_all(const std::vector<Entry>& entries, bool ca, int threads,
                                               std::vector<std::string>& errors, const std::vector<bool>* wanted,
                                               const ComplexOptions* complexes) {
  zero_blocks_mapped = false;
  std::vector<std::optional<Interface>> out(entries.size());
  errors.assign(entries.size(), std::string());
  parallel_for(entries.size(), threads, nullptr, [&](size_t i) {
    const Entry& e = entries[i];
    if (wanted && !(*wanted)[i]) return;
    try {
      if (complexes) {
        const ComplexInterface ci = read_interface(parse_interface_choice(e.pdb), *complexes);
        auto s = std::make_unique<Structure>();
        fill_structure(ci, *s);
        std::vector<std::string> warnings;
        for (const std::string& w : ci.complex.warnings) warnings.push_back(w + '\n');
        out[i] = Interface::from_structure(*s, e.name, std::move(warnings));
      } else {
        Interface f = ca ? Interface::read_ca(e.pdb) : Interface::read(e.pdb, e.contacts);
        if (f.name() != e.name) f = Interface::from_structure(f.structure(), e.name, f.warnings());
        out[i] = std::move(f);
      }
    } catch (const Error& err) {
      errors[i] = one_line(err);
    } catch (const std::bad_alloc&) {
      errors[i] = "Error: not enough memory to read " + e.pdb;
    }
  });
  return out;
}

void run_pairs(const std::vector<std::optional<Interface>>& queries,
               const std::vector<std::optional<Interface>>& targets, const PairSet& pairs,
               const RunOptions& options, const std::function<void(Outcome&&)>& sink) {
  // Many comparisons in one process: reuse freed blocks rather than map them anew.
  zero_blocks_mapped = false;
  std::mutex sink_lock;
  const int threads = options.threads > 0 ? options.threads : default_threads();
  parallel_for(pairs.count(), threads, options.stop, [&](size_t k) {
    Outcome o;
    o.k = k;
    std::tie(o.query, o.target) = pairs.at(k);
    const auto& a = queries[o.query];
    const auto& b = targets[o.target];
    if (options.skip && options.skip(o.query, o.target)) {
      o.skipped = true;
    } else if (!a || !b) {
      o.error = "not read";
    } else {
      const auto start = std::chrono::steady_clock::now();
      try {
        o.result = compare(*a, *b, options.compare);
      } catch (const Error& e) {
        o.error = one_line(e);
      } catch (const std::bad_alloc&) {
        o.error = "Error: not enough memory for this comparison";
      }
      o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    std::lock_guard<std::mutex> hold(sink_lock);
    sink(std::move(o));
  });
}

}  // namespace tarvix::batch
