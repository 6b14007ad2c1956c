#include "scoring/memo.h"

namespace tarvix {

bool FragmentMemo::replays(const int* f, int len, int it) {
  const int e = seen_.find(f, len, 0);
  if (e >= 0) {
    Visit& v = seen_.at(e);
    if (v.fixed || v.it <= it) return true;
    v.it = it;
    extension_.push_back(e);
    return false;
  }
  // Past the limit nothing more is remembered; the search just does the work.
  const int added = seen_.insert(f, len, 0, Visit{it, false});
  if (added >= 0) extension_.push_back(added);
  return false;
}

void FragmentMemo::end_extension(bool fixed_point) {
  if (fixed_point)
    for (int e : extension_) seen_.at(e).fixed = true;
  extension_.clear();
}

}  // namespace tarvix
