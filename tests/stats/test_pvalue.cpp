#include "stats/pvalue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace tarvix {
namespace {

struct Params {
  double mu = 0.0;
  double beta = 0.0;
};

Params params(int scoretype, int seqmode, int l1, int l2) {
  Params q;
  EXPECT_TRUE(evd_params(scoretype, seqmode, l1, l2, q.mu, q.beta));
  return q;
}

// Reference values are the coefficient expressions evaluated left to right in
// 64-bit arithmetic. The length pairs are chosen so that another grouping of
// the same terms (e.g. 0.0057*b - 0.0085*a + 0.1635) gives a different last bit.
TEST(EvdParams, EveryRowInItsOrderOfOperations) {
  struct Case {
    int scoretype, seqmode, l1, l2;
    double mu, beta;
  };
  const Case cases[] = {
      {1, 1, 20, 46, 0.12011648581103362, 0.021801986628822677},
      {1, 1, 45, 48, 0.15320921459912729, 0.0173920856842903},
      {0, 1, 20, 78, 0.18207811407741298, 0.03097743981628506},
      {0, 1, 45, 46, 0.20082008441567706, 0.02829206652050702},
      {1, 0, 20, 20, 0.20006799205165496, 0.027717070905784034},
      {1, 0, 55, 62, 0.20485495951251548, 0.025011259106697475},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scoretype " << c.scoretype << " seqmode " << c.seqmode
                                    << " lengths " << c.l1 << ", " << c.l2);
    const Params q = params(c.scoretype, c.seqmode, c.l1, c.l2);
    EXPECT_EQ(q.mu, c.mu);
    EXPECT_EQ(q.beta, c.beta);
    // The order of the two lengths does not matter.
    const Params r = params(c.scoretype, c.seqmode, c.l2, c.l1);
    EXPECT_EQ(r.mu, c.mu);
    EXPECT_EQ(r.beta, c.beta);
  }
}

TEST(EvdParams, ShortAndLongRowsSwitchAtTheLengthBoundary) {
  // Sequential: below 45 takes the short-interface row.
  EXPECT_EQ(params(1, 1, 44, 100).mu, 0.15645852300671947);
  EXPECT_EQ(params(1, 1, 45, 100).mu, 0.15739283889708441);
  EXPECT_EQ(params(0, 1, 44, 100).mu, 0.22480714799593038);
  EXPECT_EQ(params(0, 1, 45, 100).mu, 0.22753267477444256);
  // Non-sequential: the boundary is 55.
  EXPECT_EQ(params(1, 0, 54, 100).mu, 0.2144802837247212);
  EXPECT_EQ(params(1, 0, 54, 100).beta, 0.023189496288261467);
  EXPECT_EQ(params(1, 0, 55, 100).mu, 0.21264694306788634);
  EXPECT_EQ(params(1, 0, 55, 100).beta, 0.024389812565471573);
}

TEST(EvdParams, LengthsBelowTwentyCountAsTwenty) {
  const Params at20 = params(1, 1, 20, 20);
  EXPECT_EQ(at20.mu, 0.1142028310381944);
  EXPECT_EQ(at20.beta, 0.020719204769007044);
  for (const auto& [l1, l2] : {std::pair{10, 10}, std::pair{0, 19}, std::pair{-3, 1}}) {
    const Params q = params(1, 1, l1, l2);
    EXPECT_EQ(q.mu, at20.mu);
    EXPECT_EQ(q.beta, at20.beta);
  }
  EXPECT_EQ(params(1, 0, 5, 100).mu, params(1, 0, 20, 100).mu);
}

TEST(EvdParams, ScaleNeverBelowFloor) {
  // The long sequential TX row goes negative for long structures.
  EXPECT_EQ(params(1, 1, 1000, 1000).beta, 0.002);
  EXPECT_EQ(params(1, 1, 5000, 5000).beta, 0.002);
}

TEST(CalcPvalue, NoDistributionForNonSequentialTmScore) {
  double p = 0.5, z = 0.5;
  double mu = 7.0, beta = 7.0;
  EXPECT_FALSE(evd_params(0, 0, 100, 100, mu, beta));
  EXPECT_EQ(mu, 7.0);
  EXPECT_EQ(beta, 7.0);
  calcpvalue(0.8, 0, 0, 100, 100, p, z);
  EXPECT_EQ(p, -1.0);
  EXPECT_EQ(z, -1.0);
  calcpvalue(0.8, 2, 1, 100, 100, p, z);
  EXPECT_EQ(p, -1.0);
  EXPECT_EQ(z, -1.0);
}

TEST(CalcPvalue, ScoreAtLocationGivesZeroZ) {
  const Params q = params(1, 1, 44, 100);
  double p = 0.0, z = 1.0;
  calcpvalue(q.mu, 1, 1, 44, 100, p, z);
  EXPECT_EQ(z, 0.0);
  EXPECT_EQ(p, 1.0 - std::exp(-1.0));
  EXPECT_NEAR(p, 0.6321, 1e-4);
}

TEST(CalcEvdpv, TailFormFromZ35) {
  double p = 0.0, z = 0.0;
  calcevdpv(35.0, 0.0, 1.0, p, z);
  EXPECT_EQ(z, 35.0);
  EXPECT_EQ(p, std::exp(-35.0));

  // Just below 35 the double exponential is used, with its rounding.
  calcevdpv(34.999, 0.0, 1.0, p, z);
  EXPECT_EQ(z, 34.999);
  EXPECT_EQ(p, 1.0 - std::exp(-std::exp(-34.999)));
  EXPECT_EQ(p, 6.661338147750939e-16);
  EXPECT_NE(p, std::exp(-34.999));

  calcevdpv(100.0, 0.0, 0.5, p, z);
  EXPECT_EQ(z, 200.0);
  EXPECT_GT(p, 0.0);
}

TEST(CalcEvdpv, FarBelowLocationGivesOne) {
  double p = 0.0, z = 0.0;
  calcevdpv(-1.0, 0.0, 0.002, p, z);
  EXPECT_EQ(z, -500.0);
  EXPECT_EQ(p, 1.0);
  calcevdpv(-10.0, 0.0, 0.002, p, z);  // exp(-z) overflows to infinity
  EXPECT_EQ(p, 1.0);
}

}  // namespace
}  // namespace tarvix
