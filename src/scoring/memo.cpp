#include "scoring/memo.h"

#include <algorithm>
#include <cstring>

namespace tarvix {

namespace {

std::uint64_t hash_fragment(const int* f, int len) {
  std::uint64_t h = 0x9e3779b97f4a7c15ull ^ static_cast<std::uint64_t>(len);
  for (int m = 0; m < len; ++m) {
    h ^= static_cast<std::uint32_t>(f[m]);
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 29;
  }
  return h;
}

}  // namespace

FragmentMemo::FragmentMemo() {
  grow();
  entry_.reserve(slot_.size() / 2);
  store_.reserve(std::size_t{1} << 15);
  extension_.reserve(32);
}

void FragmentMemo::clear() {
  // Only the slots in use are reset: a large earlier search must not make
  // every later, small one pay for its table.
  const std::size_t mask = slot_.size() - 1;
  for (const Entry& x : entry_) {
    std::size_t s = x.hash & mask;
    while (slot_[s] != kEmpty) {
      slot_[s] = kEmpty;
      s = (s + 1) & mask;
    }
  }
  entry_.clear();
  store_.clear();
  extension_.clear();
}

int FragmentMemo::find(std::uint64_t hash, const int* f, int len) const {
  const std::size_t mask = slot_.size() - 1;
  for (std::size_t s = hash & mask;; s = (s + 1) & mask) {
    const int e = slot_[s];
    if (e == kEmpty) return -1;
    const Entry& x = entry_[e];
    if (x.hash == hash && x.len == len &&
        std::equal(f, f + len, store_.begin() + x.off))
      return e;
  }
}

void FragmentMemo::grow() {
  const std::size_t size = std::max<std::size_t>(1024, slot_.size() * 2);
  slot_.assign(size, kEmpty);
  const std::size_t mask = size - 1;
  for (int e = 0; e < static_cast<int>(entry_.size()); ++e) {
    std::size_t s = entry_[e].hash & mask;
    while (slot_[s] != kEmpty) s = (s + 1) & mask;
    slot_[s] = e;
  }
}

bool FragmentMemo::replays(const int* f, int len, int it) {
  const std::uint64_t hash = hash_fragment(f, len);
  const int e = find(hash, f, len);
  if (e >= 0) {
    Entry& x = entry_[e];
    if (x.fixed || x.it <= it) return true;
    x.it = it;
    extension_.push_back(e);
    return false;
  }
  // Past the limit nothing more is remembered; the search just does the work.
  if (store_.size() + static_cast<std::size_t>(len) > kMaxStored) return false;
  if ((entry_.size() + 1) * 2 > slot_.size()) grow();
  const int id = static_cast<int>(entry_.size());
  entry_.push_back({hash, static_cast<int>(store_.size()), len, it, false});
  store_.insert(store_.end(), f, f + len);
  const std::size_t mask = slot_.size() - 1;
  std::size_t s = hash & mask;
  while (slot_[s] != kEmpty) s = (s + 1) & mask;
  slot_[s] = id;
  extension_.push_back(id);
  return false;
}

void FragmentMemo::end_extension(bool fixed_point) {
  if (fixed_point)
    for (int e : extension_) entry_[e].fixed = true;
  extension_.clear();
}

void ScoreMemo::enable() {
  enabled_ = true;
  std::fill(slot_.begin(), slot_.end(), -1);
  entry_.clear();
  store_.clear();
}

void ScoreMemo::disable() { enabled_ = false; }

int ScoreMemo::find(std::uint64_t hash, const int* map, int len, int key) const {
  if (slot_.empty()) return -1;
  const std::size_t mask = slot_.size() - 1;
  for (std::size_t s = hash & mask;; s = (s + 1) & mask) {
    const int e = slot_[s];
    if (e < 0) return -1;
    const Entry& x = entry_[e];
    if (x.hash == hash && x.len == len && x.key == key &&
        std::equal(map, map + len, store_.begin() + x.off))
      return e;
  }
}

const ScoreMemo::Result* ScoreMemo::find(const int* map, int len, int key) const {
  const int e = find(hash_fragment(map, len) ^ static_cast<std::uint64_t>(key), map, len, key);
  return e < 0 ? nullptr : &entry_[e].r;
}

void ScoreMemo::grow() {
  const std::size_t size = std::max<std::size_t>(256, slot_.size() * 2);
  slot_.assign(size, -1);
  const std::size_t mask = size - 1;
  for (int e = 0; e < static_cast<int>(entry_.size()); ++e) {
    std::size_t s = entry_[e].hash & mask;
    while (slot_[s] >= 0) s = (s + 1) & mask;
    slot_[s] = e;
  }
}

void ScoreMemo::insert(const int* map, int len, int key, const Result& r) {
  if (store_.size() + static_cast<std::size_t>(len) > kMaxStored) return;
  const std::uint64_t hash = hash_fragment(map, len) ^ static_cast<std::uint64_t>(key);
  if ((entry_.size() + 1) * 2 > slot_.size()) grow();
  const int id = static_cast<int>(entry_.size());
  entry_.push_back({hash, static_cast<int>(store_.size()), len, key, r});
  store_.insert(store_.end(), map, map + len);
  const std::size_t mask = slot_.size() - 1;
  std::size_t s = hash & mask;
  while (slot_[s] >= 0) s = (s + 1) & mask;
  slot_[s] = id;
}

}  // namespace tarvix
