// What every harness asserts after a read that did not throw: the records
// stay within their limits and refer only to residues that exist. A failed
// check aborts, which the fuzzer reports as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "structure/causes.h"
#include "structure/structure.h"

namespace tarvix::fuzz {

#define FUZZ_REQUIRE(cond)                                                        \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: record check failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                        \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

enum class Contacts { kNone, kRead, kComputed };

// Residues 0..kMaxRes, chains 0..kMaxChains with ends in order and within the
// structure, 0..kMaxCont contacts per residue with partners in 1..len. No
// partner is listed twice; computed contacts are symmetric and join the first
// chain with the second. With kNone (the PDB reader without -ca, which leaves
// the contacts to the contact reader) the contact lists are not looked at.
inline void check_records(const Structure& s, Contacts contacts) {
  const bool computed = contacts == Contacts::kComputed;
  FUZZ_REQUIRE(s.len >= 0 && s.len <= kMaxRes);
  FUZZ_REQUIRE(s.nchain >= 0 && s.nchain <= kMaxChains);
  FUZZ_REQUIRE(s.chains[0] == 0);
  for (int k = 1; k <= s.nchain; ++k) FUZZ_REQUIRE(s.chains[k - 1] <= s.chains[k]);
  FUZZ_REQUIRE(s.chains[s.nchain] <= s.len);
  const int e1 = s.chains[1], e2 = s.nchain >= 2 ? s.chains[2] : 0;
  for (int i = 1; i <= s.len && contacts != Contacts::kNone; ++i) {
    const int n = s.contnum[i];
    FUZZ_REQUIRE(n >= 0 && n <= kMaxCont);
    for (int m = 1; m <= n; ++m) {
      const int p = s.partner(i, m);
      FUZZ_REQUIRE(p >= 1 && p <= s.len);
      for (int q = 1; q < m; ++q) FUZZ_REQUIRE(s.partner(i, q) != p);
      if (!computed) continue;
      FUZZ_REQUIRE((i <= e1 && p > e1 && p <= e2) || (p <= e1 && i > e1 && i <= e2));
      bool back = false;
      for (int q = 1; q <= s.contnum[p]; ++q) back = back || s.partner(p, q) == i;
      FUZZ_REQUIRE(back);
    }
  }
}

// The explanations of a refused run work on whatever was read.
inline void check_explanations(const Structure& s) {
  FUZZ_REQUIRE(!describe_residues(s).empty());
  FUZZ_REQUIRE(!why_too_short(s).empty());
  FUZZ_REQUIRE(!why_few_contacts(s, 0).empty());
  for (const std::string& line : {describe_residues(s), why_too_short(s, s)})
    FUZZ_REQUIRE(line.find('\n') == std::string::npos);
}

}  // namespace tarvix::fuzz
