#include "structure/zero_vector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace tarvix {
namespace {

// Runs body with the allocation mode set, and restores the process's mode.
void with_mode(bool mapped, bool kept, const std::function<void()>& body) {
  const bool m = zero_blocks_mapped.exchange(mapped);
  const bool k = zero_blocks_kept_to_exit.exchange(kept);
  body();
  zero_blocks_mapped = m;
  zero_blocks_kept_to_exit = k;
}

// Blocks of every size and every way of obtaining them start zero, do not
// overlap one another, and freeing some of them hands out no memory that a
// live block still holds.
TEST(ZeroVector, BlocksStartZeroAndNeverOverlap) {
  for (const auto& [mapped, kept] : {std::pair{true, true}, {true, false}, {false, false}}) {
    with_mode(mapped, kept, [] {
      std::vector<ZeroVector<std::int32_t>> live;
      // From a few bytes to beyond the size handed out from reserved ranges,
      // and enough to need more than one range.
      for (std::size_t n : {3u, 1000u, 1100u, 4096u, 20000u, 600000u, 1500000u, 5u, 70000u,
                            900000u, 900000u, 900000u, 900000u, 900000u}) {
        live.emplace_back(n);
        ZeroVector<std::int32_t>& v = live.back();
        EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](std::int32_t x) { return x == 0; }))
            << n << " elements";
        std::fill(v.begin(), v.end(), static_cast<std::int32_t>(live.size()));
      }
      live.erase(live.begin() + 2);  // freed: kept, mapped or back to the heap
      live.emplace_back(2000);
      EXPECT_TRUE(std::all_of(live.back().begin(), live.back().end(),
                              [](std::int32_t x) { return x == 0; }));
      std::fill(live.back().begin(), live.back().end(), -1);
      // Every block still holds what was written into it.
      for (std::size_t b = 0; b + 1 < live.size(); ++b) {
        const std::int32_t want = static_cast<std::int32_t>(b < 2 ? b + 1 : b + 2);
        EXPECT_TRUE(std::all_of(live[b].begin(), live[b].end(),
                                [want](std::int32_t x) { return x == want; }))
            << "block " << b;
      }
    });
  }
}

}  // namespace
}  // namespace tarvix
