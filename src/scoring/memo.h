// What the scoring routines remember within one search: results keyed by a
// sequence of integers (pair positions, residue numbers, an alignment map).
// Each memory serves only where the result provably depends on nothing but
// its key, so that a hit gives exactly what the computation would.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tarvix {

// A hash table from integer sequences to values of type V. Storage grows on
// demand and is reused after clear(); past a fixed total of stored integers
// nothing more is remembered (the callers then simply compute).
template <class V>
class SequenceMap {
 public:
  explicit SequenceMap(std::size_t slots = 256, std::size_t stored = 1 << 11) {
    rehash(std::max<std::size_t>(slots, 16));
    entry_.reserve(slot_.size() / 2);
    store_.reserve(stored);
  }
  // Forgets everything; only the slots in use are reset.
  void clear() {
    for (const Entry& x : entry_) slot_[x.slot] = kEmpty;
    entry_.clear();
    store_.clear();
  }
  // The index of the entry for key[0..len) under tag, or -1.
  int find(const int* key, int len, int tag) const {
    return locate(hash(key, len, tag), key, len, tag).second;
  }
  // Stores value for a key not stored yet; returns its index, or -1 when full
  // (or when the key is stored already).
  int insert(const int* key, int len, int tag, const V& value) {
    bool inserted;
    const int e = find_or_insert(key, len, tag, value, inserted);
    return inserted ? e : -1;
  }
  // The entry for the key if stored, else (as insert) a new one holding
  // value; inserted tells which.
  int find_or_insert(const int* key, int len, int tag, const V& value, bool& inserted) {
    if ((entry_.size() + 1) * 2 > slot_.size()) rehash(slot_.size() * 2);
    const std::uint64_t h = hash(key, len, tag);
    const auto [s, e] = locate(h, key, len, tag);
    inserted = false;
    if (e >= 0) return e;
    if (store_.size() + static_cast<std::size_t>(len) > kMaxStored) return -1;
    inserted = true;
    slot_[s] = static_cast<int>(entry_.size());
    entry_.push_back({h, static_cast<int>(store_.size()), len, tag, s, value});
    store_.insert(store_.end(), key, key + len);
    return slot_[s];
  }
  V& at(int e) { return entry_[e].value; }
  const V& at(int e) const { return entry_[e].value; }

 private:
  struct Entry {
    std::uint64_t hash;
    int off, len, tag;
    std::size_t slot;
    V value;
  };
  static constexpr int kEmpty = -1;
  static constexpr std::size_t kMaxStored = std::size_t{1} << 22;  // integers kept in all

  // Four independent chains over the key's integers taken two at a time (a
  // single chain would cost a multiplication's latency per integer), mixed at
  // the end. Only where entries land depends on it.
  static std::uint64_t hash(const int* key, int len, int tag) {
    constexpr std::uint64_t kMul = 0xff51afd7ed558ccdull;
    std::uint64_t h0 = 0x9e3779b97f4a7c15ull ^ static_cast<std::uint64_t>(len) ^
                       (static_cast<std::uint64_t>(static_cast<std::uint32_t>(tag)) << 32);
    std::uint64_t h1 = 0xc2b2ae3d27d4eb4full, h2 = 0x165667b19e3779f9ull,
                  h3 = 0x27d4eb2f165667c5ull;
    int m = 0;
    for (; m + 8 <= len; m += 8) {
      std::uint64_t w[4];
      std::memcpy(w, key + m, sizeof w);
      h0 = (h0 ^ w[0]) * kMul;
      h1 = (h1 ^ w[1]) * kMul;
      h2 = (h2 ^ w[2]) * kMul;
      h3 = (h3 ^ w[3]) * kMul;
    }
    for (; m < len; ++m) h0 = (h0 ^ static_cast<std::uint32_t>(key[m])) * kMul;
    std::uint64_t h = h0 ^ std::rotl(h1, 16) ^ std::rotl(h2, 32) ^ std::rotl(h3, 48);
    h ^= h >> 33;
    h *= kMul;
    h ^= h >> 29;
    return h;
  }
  // The slot holding the key, or the empty slot where it would go, and the
  // entry index (or -1).
  std::pair<std::size_t, int> locate(std::uint64_t h, const int* key, int len, int tag) const {
    const std::size_t mask = slot_.size() - 1;
    for (std::size_t s = h & mask;; s = (s + 1) & mask) {
      const int e = slot_[s];
      if (e == kEmpty) return {s, -1};
      const Entry& x = entry_[e];
      if (x.hash == h && x.len == len && x.tag == tag &&
          std::equal(key, key + len, store_.begin() + x.off))
        return {s, e};
    }
  }
  void rehash(std::size_t size) {
    slot_.assign(size, kEmpty);
    for (int e = 0; e < static_cast<int>(entry_.size()); ++e) {
      std::size_t s = entry_[e].hash & (size - 1);
      while (slot_[s] != kEmpty) s = (s + 1) & (size - 1);
      slot_[s] = e;
      entry_[e].slot = s;
    }
  }

  std::vector<int> slot_;  // entry index per slot; size a power of two
  std::vector<Entry> entry_;
  std::vector<int> store_;  // the keys, back to back
};

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
class FragmentMemo {
 public:
  FragmentMemo() { extension_.reserve(32); }
  // Forgets every fragment (start of a search).
  void clear() {
    seen_.clear();
    extension_.clear();
  }
  // True when the extension at iteration `it` from fragment f[0..len) replays
  // an earlier one. Otherwise remembers the fragment as visited at `it` on
  // the current extension and returns false.
  bool replays(const int* f, int len, int it);
  // Whether replays would be true for this fragment now (remembering nothing).
  bool seen(const int* f, int len, int it) const;
  // The current extension ended on a fixed point: so does every extension
  // that reaches one of its fragments.
  void end_extension(bool fixed_point);

 private:
  struct Visit {
    int it;
    bool fixed;
  };
  SequenceMap<Visit> seen_;
  std::vector<int> extension_;  // entries visited by the current extension
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
struct ScoreResult {
  double score;
  int order1used;
  double u[3][3];  // the superposition behind the score matrix
  double t[3];
};

class SearchMemo {
 public:
  // Starts remembering, with nothing remembered (the structures may have
  // changed their chain order since the last time).
  void enable() {
    enabled_ = true;
    scores.clear();
    steps.clear();
    step_maps.clear();
  }
  void disable() { enabled_ = false; }
  bool enabled() const { return enabled_; }
  SequenceMap<ScoreResult> scores{256, 1 << 11};  // by alignment map, options as tag

  // The steps of the assignment refinement: within one alignment search the
  // map a step makes depends on nothing but the map it starts from, and the
  // refinements of different starts run into the same maps. By starting map:
  // where its successor lies in step_maps (past the limit, nothing more is
  // remembered).
  SequenceMap<int> steps{256, 1 << 11};
  std::vector<int> step_maps;
  static constexpr std::size_t kMaxStepMaps = std::size_t{1} << 22;  // integers

 private:
  bool enabled_ = false;
};

}  // namespace tarvix
