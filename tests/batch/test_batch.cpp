// The pieces of a search: which pairs, in which order; the table writer's
// order whatever order results come in; resumed tables; input lists.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "batch/inputs.h"
#include "batch/search.h"
#include "batch/table.h"
#include "../support/scratch.h"

namespace tarvix::batch {
namespace {

namespace fs = std::filesystem;

TEST(PairSet, EveryPairOnceInOutputOrder) {
  struct Want {
    PairSet set;
    std::vector<std::pair<size_t, size_t>> pairs;
  };
  const PairSet tri = PairSet::triangle(4);
  const Want cases[] = {
      {PairSet::cross(2, 3), {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}}},
      {tri, {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}},
      // A block of the triangle: rows 1..2, columns 2..3.
      {tri.restricted(1, 3, 2, 4), {{1, 2}, {1, 3}, {2, 3}}},
      // A block below the diagonal holds nothing; one holding row 0 only.
      {tri.restricted(2, 4, 0, 2), {}},
      {tri.restricted(0, 1, 0, 4), {{0, 1}, {0, 2}, {0, 3}}},
      {PairSet::cross(3, 2).restricted(1, 2, 1, 5), {{1, 1}}},
      {PairSet::cross(0, 5), {}},
      {PairSet::triangle(1), {}},
  };
  for (const Want& w : cases) {
    ASSERT_EQ(w.set.count(), w.pairs.size());
    size_t per_query = 0;
    for (size_t k = 0; k < w.pairs.size(); ++k) {
      EXPECT_EQ(w.set.at(k), w.pairs[k]) << k;
      EXPECT_EQ(w.set.number_of(w.pairs[k].first, w.pairs[k].second), k);
      EXPECT_TRUE(w.set.has_query(w.pairs[k].first) && w.set.has_target(w.pairs[k].second));
    }
    for (size_t q = 0; q < w.set.queries(); ++q) per_query += w.set.pairs_of(q);
    EXPECT_EQ(per_query, w.pairs.size());
  }
  EXPECT_EQ(tri.number_of(1, 1), std::nullopt);  // not a pair of the triangle
  EXPECT_EQ(tri.restricted(1, 3, 2, 4).number_of(0, 2), std::nullopt);
  EXPECT_FALSE(tri.restricted(1, 3, 0, 4).has_target(1));  // only query 1 could precede it
  // Blocks of a split triangle cover it exactly once.
  const PairSet big = PairSet::triangle(7);
  size_t covered = 0;
  for (size_t r = 0; r < 7; r += 3)
    for (size_t c = 0; c < 7; c += 2) covered += big.restricted(r, r + 3, c, c + 2).count();
  EXPECT_EQ(covered, big.count());
}

Result result(const std::string& q, const std::string& t, double score) {
  Result r;
  r.name1 = q;
  r.name2 = t;
  r.significant = score >= 0;
  r.score = score;
  r.aligned = r.significant ? 10 : 2;
  return r;
}

// Runs the writer over the outcomes of `pairs` (scores from `score`) given in
// a shuffled order; returns the table.
std::string write_shuffled(const PairSet& pairs, const TableOptions& opt, double (*score)(size_t, size_t),
                           unsigned seed) {
  std::FILE* f = std::tmpfile();
  TableWriter w(f, pairs, opt);
  std::vector<size_t> order(pairs.count());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::shuffle(order.begin(), order.end(), std::mt19937(seed));
  for (size_t k : order) {
    Outcome o;
    o.k = k;
    std::tie(o.query, o.target) = pairs.at(k);
    std::string q = "q", t = "t";
    q += std::to_string(o.query);
    t += std::to_string(o.target);
    o.result = result(q, t, score(o.query, o.target));
    w.add(o);
  }
  EXPECT_TRUE(w.complete());
  std::rewind(f);
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

std::vector<std::string> column(const std::string& table, int col, bool header = true) {
  std::vector<std::string> out;
  std::istringstream in(table);
  std::string line;
  if (header) std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream cells(line);
    std::string cell;
    for (int c = 0; c <= col; ++c) std::getline(cells, cell, '\t');
    out.push_back(cell);
  }
  return out;
}

TEST(TableWriter, RowsInPairOrderWhateverOrderTheyComeIn) {
  const PairSet pairs = PairSet::cross(3, 4);
  auto score = [](size_t q, size_t t) { return 0.1 * static_cast<double>((q + 3 * t) % 5); };
  const std::string first = write_shuffled(pairs, TableOptions{}, score, 1);
  EXPECT_EQ(first, write_shuffled(pairs, TableOptions{}, score, 2));
  EXPECT_EQ(first.substr(0, first.find('\n') + 1), tsv_header());
  const auto q = column(first, 0), t = column(first, 1);
  ASSERT_EQ(q.size(), 12u);
  const std::vector<std::string> qs = {"q0", "q1", "q2"}, ts = {"t0", "t1", "t2", "t3"};
  for (size_t k = 0; k < 12; ++k) {
    EXPECT_EQ(q[k], qs[k / 4]);
    EXPECT_EQ(t[k], ts[k % 4]);
  }
}

TEST(TableWriter, TopAndMinimumScore) {
  const PairSet pairs = PairSet::triangle(5);
  // Ties between targets keep target order; no alignment sorts last.
  auto score = [](size_t q, size_t t) { return t == 4 ? -1.0 : (q + t) % 2 ? 0.5 : 0.25; };
  TableOptions top;
  top.top = 2;
  const std::string table = write_shuffled(pairs, top, score, 3);
  EXPECT_EQ(table, write_shuffled(pairs, top, score, 4));
  EXPECT_EQ(column(table, 0), (std::vector<std::string>{"q0", "q0", "q1", "q1", "q2", "q2", "q3"}));
  EXPECT_EQ(column(table, 1), (std::vector<std::string>{"t1", "t3", "t2", "t3", "t3", "t4", "t4"}));
  EXPECT_EQ(column(table, 2), (std::vector<std::string>{"0.50000", "0.50000", "0.50000", "0.25000", "0.50000", "NA", "NA"}));

  TableOptions min;
  min.min_score = 0.5;
  min.format = Format::Json;
  const std::string json = write_shuffled(pairs, min, score, 5);
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 4);  // (0,1) (0,3) (1,2) (2,3)
  EXPECT_EQ(json.find("\"score\":0.50000,"), json.find("\"score\""));

  // Scores that differ beyond the printed digits are ties, so the table shows
  // them in target order, and a row printing the bound passes --min-score; a
  // score too large for its column ranks first.
  auto close = [](size_t, size_t t) {
    const double s[] = {0.0, 0.6999951, 0.7000049, 0.7000001, 150.0};
    return s[t];
  };
  const PairSet one = PairSet::cross(1, 5);
  const std::string tied = write_shuffled(one, top, close, 6);
  EXPECT_EQ(column(tied, 1), (std::vector<std::string>{"t4", "t1"}));
  EXPECT_EQ(column(tied, 2), (std::vector<std::string>{"********", "0.70000"}));
  top.top = 5;
  EXPECT_EQ(column(write_shuffled(one, top, close, 7), 1),
            (std::vector<std::string>{"t4", "t1", "t2", "t3", "t0"}));
  TableOptions bound;
  bound.min_score = 0.7;
  EXPECT_EQ(column(write_shuffled(one, bound, close, 8), 1), (std::vector<std::string>{"t1", "t2", "t3", "t4"}));
}

class TempDir : public ScratchDir {
 protected:
  TempDir() : ScratchDir("batch") {}
};

using ResumedTable = TempDir;

std::set<std::pair<std::string, std::string>> rows_done(const std::string& path, Format format,
                                                        bool drop_last_query = false) {
  std::set<std::pair<std::string, std::string>> done;
  batch::rows_done(path, format, drop_last_query,
                   [&](const std::string& q, const std::string& t) { done.emplace(q, t); });
  return done;
}

TEST_F(ResumedTable, RowsDoneAndAnUnfinishedLastLine) {
  const std::string row1 = tsv_row(result("a b", "c", 0.5)), row2 = tsv_row(result("a b", "d", -1));
  const std::string t = write("t.tsv", tsv_header() + row1 + row2 + "a b\tcut sh");
  const auto done = rows_done(t, Format::Tsv);
  EXPECT_EQ(done, (std::set<std::pair<std::string, std::string>>{{"a b", "c"}, {"a b", "d"}}));
  std::ifstream in(t);
  std::stringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), tsv_header() + row1 + row2);  // the cut row is gone

  const std::string j = write("t.json", json_row(result("q\"1", "t\\2", 0.5)) + "{\"query\":\"q");
  EXPECT_EQ(rows_done(j, Format::Json), (std::set<std::pair<std::string, std::string>>{{"q\"1", "t\\2"}}));
  EXPECT_TRUE(rows_done(path("none.tsv"), Format::Tsv).empty());
  // A --top table loses its last query's rows, which may be unfinished.
  const std::string row3 = tsv_row(result("e", "c", 0.5));
  const std::string top = write("top.tsv", tsv_header() + row1 + row2 + row3);
  EXPECT_EQ(rows_done(top, Format::Tsv, true), (std::set<std::pair<std::string, std::string>>{{"a b", "c"}, {"a b", "d"}}));
  std::ifstream top_in(top);
  std::stringstream top_kept;
  top_kept << top_in.rdbuf();
  EXPECT_EQ(top_kept.str(), tsv_header() + row1 + row2);
  // Not a table: never appended to.
  EXPECT_THROW(rows_done(write("x.tsv", "some\nother file\n"), Format::Tsv), Error);
  EXPECT_THROW(rows_done(write("x.json", "[1, 2]\n"), Format::Json), Error);
}

using InputLists = TempDir;

TEST_F(InputLists, ListsDirectoriesAndSingleFiles) {
  fs::create_directories(path("set/sub"));
  write("set/b.pdb", "ATOM\n");
  write("set/a.pdb", "ATOM\n");
  write("set/a.contacts", "");
  write("set/notes.txt", "");
  const auto dir = read_entries(path("set"), false);
  ASSERT_EQ(dir.size(), 2u);
  EXPECT_EQ(dir[0].pdb, path("set/a.pdb"));
  EXPECT_EQ(dir[0].contacts, path("set/a.contacts"));
  EXPECT_EQ(dir[1].name, path("set/b.pdb"));

  const std::string list = write("set/list", "# comment\n\n  sub/x.pdb  \r\n/abs/y.pdb other.cont\nz.ent\n");
  const auto l = read_entries(list, false);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].pdb, path("set/sub/x.pdb"));
  EXPECT_EQ(l[0].contacts, path("set/sub/x.contacts"));
  EXPECT_EQ(l[1].pdb, "/abs/y.pdb");
  EXPECT_EQ(l[1].contacts, path("set/other.cont"));
  EXPECT_EQ(l[2].contacts, path("set/z.contacts"));
  EXPECT_EQ(read_entries(list, true)[1].contacts, "");  // contacts from coordinates

  // A PDB file named without its extension is still one interface.
  const auto one = read_entries(write("model1", "REMARK x\nATOM      1  CA  ALA A   1\n"), false);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].contacts, path("model1.contacts"));

  for (const auto& [text, what] : std::vector<std::pair<std::string, std::string>>{
           {"a.pdb b c\n", "line 1 of"}, {"# nothing\n", "lists no interface"}}) {
    try {
      read_entries(write("bad", text), false);
      ADD_FAILURE() << text;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(read_entries(path("missing"), false), Error);
  EXPECT_THROW(read_entries(path("set/sub"), false), Error);  // no *.pdb in it
}

}  // namespace
}  // namespace tarvix::batch
