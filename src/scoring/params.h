// Scoring parameters of one comparison: derived once from the two lengths and
// the options, read-only afterwards.
#pragma once

#include <array>

namespace tarvix {

struct ScoringParams {
  std::array<double, 2> d0{};      // d0[0]: distance scale of the score terms; d0[1]: Lmin as a real
  double d0min = 0.0;              // floor of every derived d0
  double d8 = 0.0;                 // distance cutoff of scored pairs and of pruning
  std::array<double, 2> d00{};     // d00[0]: d0 clamped to 4.5..8.0; d00[1] = d00[0]^2
  std::array<double, 2> contcf{};  // contcf[0] = d8, contcf[1] = d8^2
};

}  // namespace tarvix
