#include "batch/table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "api/format.h"
#include "structure/error.h"

namespace tarvix::batch {
namespace {

namespace fs = std::filesystem;

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// A report field as a table value.
std::string F(double v, int w, int d) { return trim(fmt::F(v, w, d)); }
std::string I(long long v) { return std::to_string(v); }

// The columns shared by both formats: name, text of the value ("" for none).
std::vector<std::pair<const char*, std::string>> fields(const Result& r) {
  const bool sig = r.significant;
  auto opt = [&](bool have, std::string v) { return have ? v : std::string(); };
  return {
      {"score", opt(sig, F(r.score, 8, 5))},
      {"pvalue", opt(sig && r.pvalue.has_value(), trim(fmt::E(r.pvalue.value_or(0.0))))},
      {"zscore", opt(sig && r.zscore.has_value(), F(r.zscore.value_or(0.0), 7, 3))},
      {"aligned", I(r.aligned)},
      {"aligned_contacts", I(r.aligned_contacts)},
      {"rmsd", opt(sig, F(r.rmsd, 6, 2))},
      {"identity", opt(sig, F(r.identity, 6, 3))},
      {"length1", I(r.length1)},
      {"length2", I(r.length2)},
      {"normlen", I(fmt::nint(r.normlen))},
      {"d0", F(r.d0, 6, 3)},
      {"round", opt(sig, I(r.round))},
      {"initial", opt(sig, I(r.initial))},
  };
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + '"';
}

// A number field as JSON: the report's text when it is a JSON number
// (asterisks mean it did not fit), null otherwise.
std::string json_number(const std::string& text) {
  if (text.empty() || text.find('*') != std::string::npos || text.find("Inf") != std::string::npos ||
      text.find("NaN") != std::string::npos)
    return "null";
  if (text[0] == '.') return "0" + text;
  if (text.rfind("-.", 0) == 0) return "-0" + text.substr(1);
  return text;
}

// Unescapes the string value of `key` in one JSON row written by json_row.
std::optional<std::string> json_field(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":\"";
  size_t at = line.find(tag);
  if (at == std::string::npos) return std::nullopt;
  std::string out;
  for (at += tag.size(); at < line.size(); ++at) {
    const char c = line[at];
    if (c == '"') return out;
    if (c == '\\' && at + 1 < line.size()) {
      const char n = line[++at];
      if (n == 'u' && at + 4 < line.size()) {
        out += static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16));
        at += 4;
      } else {
        out += n;
      }
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

// The score as the table prints it: --top ranks by it and --min-score judges
// it, so that rows the table shows as equal go in target order and a row
// showing the bound is kept, and so that a table split into blocks and merged
// again can be ranked from its rows alone. No alignment ranks last; a score
// too large for its column (asterisks) first.
double table_score(const Result& r) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  if (!r.significant) return -inf;
  const std::string text = F(r.score, 8, 5);
  if (text.find('*') != std::string::npos) return inf;
  const double v = std::strtod(text.c_str(), nullptr);
  return std::isnan(v) ? -inf : v;
}

}  // namespace

std::string tsv_header() {
  std::string h = "query\ttarget";
  Result none;
  for (const auto& f : fields(none)) h += std::string("\t") + f.first;
  return h + '\n';
}

std::string tsv_row(const Result& r) {
  std::string row = r.name1 + '\t' + r.name2;
  for (const auto& f : fields(r)) row += '\t' + (f.second.empty() ? std::string("NA") : f.second);
  return row + '\n';
}

std::string json_row(const Result& r) {
  std::string row = "{\"query\":" + json_string(r.name1) + ",\"target\":" + json_string(r.name2);
  for (const auto& f : fields(r)) row += std::string(",\"") + f.first + "\":" + json_number(f.second);
  if (r.significant) {
    row += ",\"rotation\":[";
    for (int i = 0; i < 3; ++i) {
      row += i ? ",[" : "[";
      for (int j = 0; j < 3; ++j) {
        if (j) row += ',';
        row += json_number(F(r.rotation[i][j], 15, 10));
      }
      row += "]";
    }
    row += "],\"translation\":[";
    for (int i = 0; i < 3; ++i) {
      if (i) row += ',';
      row += json_number(F(r.translation[i], 18, 10));
    }
    row += "],\"pairs\":[";
    for (size_t k = 0; k < r.pairs.size(); ++k) {
      const AlignedPair& p = r.pairs[k];
      row += k ? ",{" : "{";
      row += "\"index1\":" + I(p.index1) + ",\"chain1\":" + json_string(std::string(1, p.residue1.chain)) +
             ",\"resnum1\":" + json_string(trim(p.residue1.number)) + ",\"resname1\":" +
             json_string(p.residue1.name) + ",\"index2\":" + I(p.index2) +
             ",\"chain2\":" + json_string(std::string(1, p.residue2.chain)) +
             ",\"resnum2\":" + json_string(trim(p.residue2.number)) + ",\"resname2\":" +
             json_string(p.residue2.name) + ",\"distance\":" + json_number(F(p.distance, 6, 3)) + "}";
    }
    row += "]";
  }
  return row + "}\n";
}

void rows_done(const std::string& path, Format format, bool drop_last_query,
               const std::function<void(const std::string& query, const std::string& target)>& each) {
  // The (query, target) of one line; nullopt for the TSV header.
  int lineno = 0;
  auto names = [&](const std::string& line) -> std::optional<std::pair<std::string, std::string>> {
    ++lineno;
    const Error bad("Error: line " + std::to_string(lineno) + " of " + path +
                    " is not a row of a search table; not resuming");
    if (format == Format::Tsv) {
      if (lineno == 1) {
        if (line + '\n' != tsv_header())
          throw Error("Error: " + path + " does not start with the header of a search table; not resuming");
        return std::nullopt;
      }
      const size_t t1 = line.find('\t');
      const size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
      if (t2 == std::string::npos) throw bad;
      return std::make_pair(line.substr(0, t1), line.substr(t1 + 1, t2 - t1 - 1));
    }
    const auto q = json_field(line, "query"), t = json_field(line, "target");
    if (!q || !t) throw bad;
    return std::make_pair(*q, *t);
  };

  // First pass: check every line and find where the finished rows end.
  std::uint64_t keep = 0, block = 0;  // end of the last complete line; start of the last query's rows
  std::string last_query;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;  // nothing written yet
    std::uint64_t at = 0;
    for (std::string line; std::getline(in, line);) {
      if (in.eof()) break;  // no line end: cut short
      const auto n = names(line);
      if (n && n->first != last_query) {
        last_query = n->first;
        block = at;
      }
      at += line.size() + 1;
      keep = at;
    }
    if (in.bad()) throw Error("Error: cannot read " + path);
  }
  if (drop_last_query && !last_query.empty()) keep = block;
  std::error_code ec;
  if (keep < fs::file_size(path, ec)) {
    fs::resize_file(path, keep, ec);
    if (ec) throw Error("Error: cannot cut the unfinished rows off " + path + ": " + ec.message());
  }
  // Second pass: the rows that stay.
  std::ifstream in(path, std::ios::binary);
  lineno = 0;
  std::uint64_t at = 0;
  for (std::string line; at < keep && std::getline(in, line);) {
    at += line.size() + 1;
    if (const auto n = names(line)) each(n->first, n->second);
  }
}

TableWriter::TableWriter(std::FILE* out, const PairSet& pairs, const TableOptions& options)
    : out_(out), pairs_(pairs), opt_(options) {
  if (opt_.top) {
    left_.resize(pairs.queries());
    for (size_t q = 0; q < pairs.queries(); ++q) left_[q] = pairs.pairs_of(q);
  }
  if (opt_.format == Format::Tsv && opt_.header) emit(tsv_header());
  flush_ready();
}

void TableWriter::emit(const std::string& text) {
  if (text.empty()) return;
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0)
    throw Error("Error: cannot write the table (disk full?)");
}

void TableWriter::add(const Outcome& o) {
  std::string text;
  double score = 0.0;
  bool keep = false;
  if (o.result) {
    const Result& r = *o.result;
    score = table_score(r);
    keep = !opt_.min_score || (r.significant && score >= *opt_.min_score);
    if (keep) text = opt_.format == Format::Tsv ? tsv_row(r) : json_row(r);
  }
  if (!opt_.top) {
    pending_.emplace(o.k, std::move(text));
  } else {
    std::vector<Row>& best = best_[o.query];
    if (keep) {
      best.push_back(Row{score, o.target, std::move(text)});
      std::stable_sort(best.begin(), best.end(), [](const Row& a, const Row& b) {
        return a.score > b.score || (a.score == b.score && a.target < b.target);
      });
      if (best.size() > static_cast<size_t>(std::max(*opt_.top, 0))) best.pop_back();
    }
    if (--left_[o.query] == 0) ready_.insert(o.query);
  }
  flush_ready();
}

void TableWriter::flush_ready() {
  if (!opt_.top) {
    for (auto it = pending_.begin(); it != pending_.end() && it->first == next_; it = pending_.erase(it)) {
      emit(it->second);
      if (!it->second.empty()) ++rows_;
      ++next_;
    }
    return;
  }
  while (next_ < pairs_.queries() && (pairs_.pairs_of(next_) == 0 || ready_.count(next_))) {
    std::string block;
    auto it = best_.find(next_);
    if (it != best_.end()) {
      for (const Row& r : it->second) block += r.text;
      rows_ += static_cast<long long>(it->second.size());
      best_.erase(it);
    }
    emit(block);  // the query's rows in one write
    ready_.erase(next_);
    ++next_;
  }
}

bool TableWriter::complete() const {
  return opt_.top ? next_ >= pairs_.queries() : next_ >= pairs_.count();
}

}  // namespace tarvix::batch
