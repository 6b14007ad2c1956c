#include "api/settings.h"

#include <algorithm>
#include <cmath>

namespace tarvix {

const std::string& Settings::file(size_t k) const {
  static const std::string kNone;
  return k < files.size() ? files[k] : kNone;
}

Derived derive_scoring_parameters(const Settings& set, int l1, int l2) {
  Derived d;
  ScoringParams& par = d.par;
  const int lmin = std::min(l1, l2);
  const int lmax = std::max(l1, l2);
  const bool nonseq = set.seqmode == 0 && !set.seqd0;
  par.d0min = set.dminuser ? *set.dminuser : 0.5;
  auto rule = [&](double x) {
    if (nonseq) return x > 15 ? 0.7 * std::pow(x - 15, 1.0 / 3.0) - 0.1 : 0.6;
    return x > 15 ? 1.24 * std::pow(x - 15, 1.0 / 3.0) - 1.8 : par.d0min;
  };
  d.lenmax = lmax;
  par.d0[1] = lmin;
  par.d0[0] = std::max(par.d0min, rule(lmin));
  if (set.d0user) par.d0[0] = *set.d0user;
  par.d8 = 1.5 * std::pow(static_cast<double>(lmin), 0.3) + 3.5;
  if (nonseq) par.d8 = std::min(par.d8, 8.0);
  switch (set.normmode) {
    case 1: d.normlen = (l1 + l2) * 0.5; break;
    case 2: d.normlen = lmin; break;
    case 3: d.normlen = lmax; break;
    default: d.normlen = l2; break;
  }
  d.normlen = std::max(d.normlen, static_cast<double>(lmin));
  if (set.lenuser) d.normlen = *set.lenuser;
  d.d0norm = std::max(par.d0min, rule(d.normlen));
  if (set.d0user) d.d0norm = *set.d0user;
  par.d00[0] = std::max(std::min(par.d0[0], 8.0), 4.5);
  par.d00[1] = par.d00[0] * par.d00[0];
  par.contcf[0] = par.d8;
  par.contcf[1] = par.d8 * par.d8;
  d.markcut = 5.0;
  return d;
}

}  // namespace tarvix
