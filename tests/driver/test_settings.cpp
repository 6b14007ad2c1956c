#include "driver/settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace tarvix {
namespace {

Settings parse(std::vector<std::string> args) {
  std::ostringstream out;
  std::optional<Settings> s = parse_arguments(args, out);
  EXPECT_TRUE(s.has_value() && out.str().empty()) << out.str();
  return s.value_or(Settings{});
}

TEST(Settings, UsageTextOnlyAsTheFirstArgument) {
  std::ostringstream usage;
  printhelp(usage);
  const std::string u = usage.str();
  EXPECT_EQ(u.substr(0, 70), "\nUsage: Tarvix <options> pdbfile1 pdbfile2 contactfile1 contactfile2\n\n");
  // The classic text, then the long options.
  const std::string classic = u.substr(0, u.find("Interfaces of whole complexes"));
  EXPECT_EQ(std::count(classic.begin(), classic.end(), '\n'), 13);
  for (const char* o : {"--search", "--targets", "--all-vs-all", "--threads", "--format", "--out", "--resume",
                        "--top", "--min-score", "--reports", "--quiet", "--superpose", "--block", "--complex",
                        "--extract", "--ss"})
    EXPECT_NE(u.find(std::string(o) + " "), std::string::npos) << o;
  using Args = std::vector<std::string>;
  for (const Args& args : std::vector<Args>{{}, {""}, {"?"}, {"-h  ", "a"}, {"", "-s"}}) {
    std::ostringstream out;
    EXPECT_FALSE(parse_arguments(args, out).has_value());
    EXPECT_EQ(out.str(), u);
  }
  const Settings s = parse({"a", "-h", "?", "-x", "-s "});  // file names later; trailing blanks ignored
  EXPECT_EQ(s.files, (std::vector<std::string>{"a", "-h", "?", "-x"}));
  EXPECT_EQ(s.seqmode, 0);
}

TEST(Settings, OptionInterplay) {
  struct Case {
    std::vector<std::string> args;
    int verbose, normmode;
    bool pvalue;
  };
  const Case cases[] = {
      {{"-s", "-v", "1"}, 2, 0, true}, {{"-v", "1", "-s"}, 2, 0, true}, {{"-s", "-v", "0"}, 0, 0, true},
      {{"-v", "0", "-s"}, 0, 0, true}, {{"-v", "2"}, 2, 0, true},       {{"-a", "-b"}, 1, 2, false},
      {{"-b", "-a"}, 1, 1, false},     {{"-c", "-b", "-c"}, 1, 3, true}, {{"-b"}, 1, 2, true},
      {{"-L", "30"}, 1, 0, false},     {{"-dmin", "1"}, 1, 0, false},   {{"-d0", "2"}, 1, 0, true},
      {{"-t"}, 1, 0, true},            {{"-s", "-t"}, 2, 0, false},     {{"-t", "-s"}, 2, 0, false},
      {{"-o", "-a"}, 1, 0, true},  // "-o" takes the next word
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"p1", "p2"});
    const Settings s = parse(args);
    EXPECT_EQ(std::vector<int>({s.verbose, s.normmode, s.pvalue}),
              std::vector<int>({c.verbose, c.normmode, c.pvalue}))
        << ::testing::PrintToString(c.args);
    EXPECT_EQ(s.files, (std::vector<std::string>{"p1", "p2"})) << ::testing::PrintToString(c.args);
  }
  const Settings s =
      parse({"-t", "-q", " 0 ", "-ca", "-seqd0", "-L", "30", "-d0", "2.5", "-dmin", "1", "-o", "x"});
  EXPECT_TRUE(s.scorecode == "TM" && s.speedmode == 0 && s.contmode == 1 && s.seqd0 && s.outname == "x");
  EXPECT_TRUE(s.lenuser == 30 && s.d0user == 2.5 && s.dminuser == 1.0);
}

Derived derive(std::vector<std::string> args, int l1, int l2) {
  args.insert(args.begin(), "p");
  return derive_scoring_parameters(parse(args), l1, l2);
}

TEST(Settings, WorkedParameterValues) {
  const std::pair<std::vector<std::string>, int> d0_cases[] = {  // d0 from the shorter length
      {{}, 16}, {{}, 43}, {{}, 100}, {{"-s"}, 100}, {{"-s"}, 147}, {{"-s", "-seqd0"}, 100}};
  const double d0_worked[] = {0.5, 1.97, 3.65, 2.98, 3.46, 3.65};
  for (int k = 0; k < 6; ++k)
    EXPECT_NEAR(derive(d0_cases[k].first, d0_cases[k].second, 600).par.d0[0], d0_worked[k], 0.005) << k;

  const Derived d = derive({}, 100, 120);
  EXPECT_NEAR(d.par.d8, 9.47, 0.005);
  EXPECT_TRUE(d.par.d0[1] == 100 && d.lenmax == 120 && d.normlen == 120);
  EXPECT_TRUE(d.par.d00[0] == 4.5 && d.markcut == 5);
  EXPECT_TRUE(d.par.contcf[0] == d.par.d8 && d.par.contcf[1] == d.par.d8 * d.par.d8);
  EXPECT_EQ(d.d0norm, 1.24 * std::pow(105.0, 1.0 / 3.0) - 1.8);  // from the length of structure 2
  const Derived n = derive({"-s"}, 15, 20);                     // non-sequential at Lmin = 15
  EXPECT_EQ(n.par.d0[0], 0.6);
  EXPECT_NEAR(n.par.d8, 6.88, 0.005);
  EXPECT_EQ(derive({"-s"}, 200, 300).par.d8, 8.0);             // capped
  EXPECT_GT(derive({"-s", "-seqd0"}, 200, 300).par.d8, 10.0);  // not capped
  EXPECT_EQ(derive({}, 600, 600).par.d00[0], 8.0);

  const Derived l = derive({"-L", "30"}, 40, 60);  // a fixed length below Lmin
  EXPECT_EQ(l.normlen, 30.0);
  EXPECT_NEAR(l.d0norm, 1.24 * std::cbrt(15.0) - 1.8, 1e-12);
  const Derived f = derive({"-d0", "2.5"}, 100, 120);
  EXPECT_TRUE(f.par.d0[0] == 2.5 && f.d0norm == 2.5 && f.par.d00[0] == 4.5 && f.par.d00[1] == 20.25);
  EXPECT_EQ(derive({"-d0", "0.1"}, 100, 120).par.d0[0], 0.1);  // no floor
  EXPECT_EQ(derive({"-dmin", "1.5"}, 16, 20).par.d0[0], 1.5);
  const double normlen[] = {derive({"-a"}, 40, 61).normlen, derive({"-b"}, 40, 61).normlen,
                            derive({"-c"}, 40, 61).normlen, derive({}, 61, 40).normlen};
  EXPECT_EQ(std::vector<double>(normlen, normlen + 4), (std::vector<double>{50.5, 40, 61, 40}));
}

}  // namespace
}  // namespace tarvix
