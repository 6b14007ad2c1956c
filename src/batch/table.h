// The tables of a search: one row per comparison, as tab-separated values
// with a header line or as JSON Lines, in a deterministic order whatever the
// number of threads, each row written whole and flushed as soon as the rows
// before it are out; and the reading of an earlier, interrupted table.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "api/tarvix.h"
#include "batch/search.h"

namespace tarvix::batch {

enum class Format { Tsv, Json };

// The columns, in order.
std::string tsv_header();
// Numbers as the classic report prints them (so that a row and the report of
// the same pair agree); "NA" where there is no value (no P-value, or no
// significant alignment).
std::string tsv_row(const Result& r);
// The same fields, plus rotation, translation and the aligned pairs; null
// where the table has "NA".
std::string json_row(const Result& r);

// Calls each(query, target) for the rows of a table written earlier, in
// order. A last line without its line end (a run killed while writing it) is
// cut off the file; with `drop_last_query`, so are all the rows of the last
// query (a table of --top rows is written query by query, and the last block
// may be unfinished). Throws Error, before any call, when the file is not such
// a table.
void rows_done(const std::string& path, Format format, bool drop_last_query,
               const std::function<void(const std::string& query, const std::string& target)>& each);

struct TableOptions {
  Format format = Format::Tsv;
  std::optional<int> top;          // the best K targets per query, by score
  std::optional<double> min_score; // rows below are left out
  bool header = true;              // TSV header line (not when appending to a table)
};

// Takes the outcomes of a PairSet (in any order) and writes the rows in pair
// order, or, with `top`, each query's best rows, by score, once the query is
// complete, in query order.
class TableWriter {
 public:
  TableWriter(std::FILE* out, const PairSet& pairs, const TableOptions& options);
  void add(const Outcome& o);
  // Everything written (all pairs have come in).
  bool complete() const;
  long long rows() const { return rows_; }

 private:
  struct Row {
    double score;
    size_t target;
    std::string text;
  };
  void emit(const std::string& text);
  void flush_ready();
  std::FILE* out_;
  const PairSet& pairs_;
  TableOptions opt_;
  size_t next_ = 0;                          // next pair (or query, with top) to write
  std::map<size_t, std::string> pending_;    // finished rows waiting for earlier ones
  std::map<size_t, std::vector<Row>> best_;  // with top: best rows of unfinished queries
  std::vector<size_t> left_;                 // with top: pairs not yet in, per query
  std::set<size_t> ready_;                   // with top: finished queries not yet written
  long long rows_ = 0;
};

}  // namespace tarvix::batch
