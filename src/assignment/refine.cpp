#include "assignment/refine.h"

#include <algorithm>
#include <cmath>

namespace tarvix {

RefineWorkspace::RefineWorkspace(int n)
    : m1(n + 1, -1), m2(n + 1, -1), comb(n + 1, -1), from(n + 1, -1) {}

bool ScoreHistory::repeats(double s, int id) {
  for (int k = 0; k < 5; ++k)
    if (id > k + 1 && std::fabs(s - h_[k]) < 1e-6) return true;
  for (int k = 4; k > 0; --k) h_[k] = h_[k - 1];
  h_[0] = s;
  return false;
}

int get_alnlen(const int* map, int n) {
  int count = 0;
  for (int j = 1; j <= n; ++j)
    if (map[j] > 0) ++count;
  return count;
}

void iter_lsap(Context& ctx, RefineWorkspace& rw, ScoreMatrix& full, ScoreMatrix& block,
               double& best, int scoretype, int speedmode, int* start, int* bestmap, int l1,
               int l2, int n, int k1, int k2, int niter, int& order1used) {
  constexpr int kTryOrder1 = 1;
  if (get_alnlen(start, l2) < 3) return;
  // The matrix of an evaluation is read only by a step that is not
  // remembered (see SearchMemo::steps); fill_pending fills it then.
  auto evaluate = [&]() {
    double s = 0.0;
    int o1 = 0;
    get_score(ctx, start, s, full, scoretype, kTryOrder1, speedmode, o1, /*fill=*/false);
    if (s - best > 1e-6) {
      best = s;
      order1used = o1;
      std::copy_n(start + 1, l2, bestmap + 1);
    }
    return s;
  };
  SearchMemo& memo = ctx.ws.search_memo;
  // One step: the two sides re-paired on the latest matrix, the new pairs
  // kept where the current map's superposition brings them close.
  auto step = [&]() {
    if (memo.enabled()) {
      const int e = memo.steps.find(start + 1, l2, 0);
      if (e >= 0) {
        std::copy_n(memo.step_maps.begin() + memo.steps.at(e), l2, start + 1);
        return;
      }
      std::copy_n(start + 1, l2, rw.from.begin() + 1);
    }
    fill_pending(ctx, full);
    extract_score(n, full, l1, l2, 1, 1, k1, k2, block);
    solvlsap_in_place(block, rw.m1.data(), k1, k2, std::max(k1, k2), rw.lsap);
    extract_score(n, full, l1, l2, k1 + 1, k2 + 1, l1, l2, block);
    solvlsap_in_place(block, rw.m2.data(), l1 - k1, l2 - k2, std::max(l1 - k1, l2 - k2),
                      rw.lsap);
    comb_invmap(rw.comb.data(), rw.m1.data(), rw.m2.data(), k1, k2, l2 - k2, l2);
    remove_distant_pairs(ctx, rw.comb.data(), start, l2);
    if (memo.enabled() &&
        memo.step_maps.size() + static_cast<std::size_t>(l2) <= SearchMemo::kMaxStepMaps &&
        memo.steps.insert(rw.from.data() + 1, l2, 0, static_cast<int>(memo.step_maps.size())) >= 0)
      memo.step_maps.insert(memo.step_maps.end(), start + 1, start + 1 + l2);
  };
  evaluate();
  ScoreHistory history;
  for (int id = 1; id <= niter; ++id) {
    step();
    if (get_alnlen(start, l2) < 3) break;
    if (history.repeats(evaluate(), id)) break;
  }
}

}  // namespace tarvix
