#include "scoring/memo.h"

namespace tarvix {

bool FragmentMemo::replays(const int* f, int len, int it) {
  // Past the limit nothing more is remembered; the search just does the work.
  bool added;
  const int e = seen_.find_or_insert(f, len, 0, Visit{it, false}, added);
  if (e < 0) return false;
  if (!added) {
    Visit& v = seen_.at(e);
    if (v.fixed || v.it <= it) return true;
    v.it = it;
  }
  extension_.push_back(e);
  return false;
}

bool FragmentMemo::seen(const int* f, int len, int it) const {
  const int e = seen_.find(f, len, 0);
  if (e < 0) return false;
  const Visit& v = seen_.at(e);
  return v.fixed || v.it <= it;
}

void FragmentMemo::end_extension(bool fixed_point) {
  if (fixed_point)
    for (int e : extension_) seen_.at(e).fixed = true;
  extension_.clear();
}

}  // namespace tarvix
