// The fragments that the extension steps of one superposition search have
// already scored.
//
// An extension step maps a fragment (the pair positions a superposition is
// fitted to) to its score and to the next fragment, and depends on nothing
// else within one search. A seed whose extension reaches a fragment met
// before can therefore only replay scores that have already been compared
// with the best, and a score only replaces the best when it is strictly
// higher: the rest of that extension changes nothing and is skipped. This
// holds when the earlier visit could go on at least as far, that is when it
// happened at the same or an earlier iteration of its extension, or when its
// extension ended on a fixed point.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvix {

class FragmentMemo {
 public:
  // Room for the fragments of a usual search; larger ones grow the storage
  // once, and later searches reuse it.
  FragmentMemo();
  // Forgets every fragment (start of a search).
  void clear();
  // True when the extension at iteration `it` from fragment f[0..len) replays
  // an earlier one. Otherwise remembers the fragment as visited at `it` on
  // the current extension and returns false.
  bool replays(const int* f, int len, int it);
  // The current extension ended on a fixed point: so does every extension
  // that reaches one of its fragments.
  void end_extension(bool fixed_point);

 private:
  struct Entry {
    std::uint64_t hash;
    int off, len, it;
    bool fixed;
  };
  static constexpr int kEmpty = -1;
  static constexpr std::size_t kMaxStored = std::size_t{1} << 22;  // fragment entries kept

  int find(std::uint64_t hash, const int* f, int len) const;
  void grow();

  std::vector<int> slot_;         // open-addressing table of entry indices
  std::vector<Entry> entry_;
  std::vector<int> store_;        // the fragments, back to back
  std::vector<int> extension_;    // entries visited by the current extension
};

// Results of the interface score within one alignment search, by alignment.
//
// The score of an alignment and the superposition behind its matrix depend
// only on the alignment and the call's options while the structures keep
// their chain order, and the search meets the same alignment again and again
// (every refinement that converges scores its fixed point twice, and
// different starts converge to the same alignments). A repeated alignment
// then costs the matrix fill only. The owner of the search turns the memory
// on for its duration; outside it every call is computed.
class ScoreMemo {
 public:
  struct Result {
    double score;
    int order1used;
    double u[3][3];
    double t[3];
  };
  // Starts remembering, with nothing remembered.
  void enable();
  void disable();
  bool enabled() const { return enabled_; }
  // The result remembered for map[1..len] under the option word `key`, or null.
  const Result* find(const int* map, int len, int key) const;
  void insert(const int* map, int len, int key, const Result& r);

 private:
  struct Entry {
    std::uint64_t hash;
    int off, len, key;
    Result r;
  };
  static constexpr std::size_t kMaxStored = std::size_t{1} << 22;  // map entries kept
  int find(std::uint64_t hash, const int* map, int len, int key) const;
  void grow();

  bool enabled_ = false;
  std::vector<int> slot_;
  std::vector<Entry> entry_;
  std::vector<int> store_;
};

}  // namespace tarvix
