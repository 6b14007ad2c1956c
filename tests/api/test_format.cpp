#include "api/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarvix::fmt {
namespace {

TEST(FormatI, RightJustifiedOrAsterisks) {
  EXPECT_EQ(I(42, 5), "   42");
  EXPECT_EQ(I(0, 1), "0");
  EXPECT_EQ(I(9999, 4), "9999");
  EXPECT_EQ(I(10000, 4), "****");
  EXPECT_EQ(I(-999, 4), "-999");
  EXPECT_EQ(I(-1000, 4), "****");  // the sign needs its column too
}

TEST(FormatF, LeadingZeroOnlyWhenThereIsRoom) {
  EXPECT_EQ(F(0.5, 8, 5), " 0.50000");
  EXPECT_EQ(F(0.5, 7, 5), "0.50000");
  EXPECT_EQ(F(0.5, 6, 5), ".50000");
  EXPECT_EQ(F(-0.5, 6, 3), "-0.500");
  EXPECT_EQ(F(-0.5, 5, 3), "-.500");
  EXPECT_EQ(F(0.0, 4, 3), ".000");
  EXPECT_EQ(F(0.0, 3, 3), "***");
}

TEST(FormatF, NegativeValuesKeepTheirSignWhenRoundedToZero) {
  EXPECT_EQ(F(-0.0001, 6, 3), "-0.000");
  EXPECT_EQ(F(-0.0, 6, 3), "-0.000");
  EXPECT_EQ(F(-0.0, 4, 3), "****");
  EXPECT_EQ(F(-4e-11, 18, 10), "     -0.0000000000");
}

TEST(FormatF, ReportFieldSamples) {
  EXPECT_EQ(F(1.23456, 6, 2), "  1.23");
  EXPECT_EQ(F(-12.345, 6, 2), "-12.35");
  EXPECT_EQ(F(-3.14159, 7, 3), " -3.142");
  EXPECT_EQ(F(0.123456, 12, 5), "     0.12346");
  EXPECT_EQ(F(123456.789, 12, 5), "123456.78900");
  EXPECT_EQ(F(-0.9876543210123, 15, 10), "  -0.9876543210");
  EXPECT_EQ(F(-123.45678901234, 18, 10), "   -123.4567890123");
}

TEST(FormatF, AsterisksWhenRoundingOverflowsTheField) {
  EXPECT_EQ(F(1000.0, 7, 3), "*******");
  EXPECT_EQ(F(999.9994, 7, 3), "999.999");
  EXPECT_EQ(F(999.9996, 7, 3), "*******");
  EXPECT_EQ(F(-99.9996, 7, 3), "*******");
  EXPECT_EQ(F(99.995, 6, 2), "100.00");  // 99.995 is just above the tie in binary
  EXPECT_EQ(F(999.995, 6, 2), "******");
  EXPECT_EQ(F(-1234.5, 15, 10), "***************");
  EXPECT_EQ(F(1e300, 18, 10), "******************");
}

TEST(FormatF, ExactBinaryTiesRoundToEven) {
  EXPECT_EQ(F(0.125, 5, 2), " 0.12");
  EXPECT_EQ(F(0.375, 5, 2), " 0.38");
  EXPECT_EQ(F(2.5, 4, 0), "  2.");
}

TEST(FormatF, NoDecimals) {
  EXPECT_EQ(F(0.0, 3, 0), " 0.");
  EXPECT_EQ(F(0.0, 1, 0), "*");  // "0." is the shortest form
  EXPECT_EQ(F(-3.7, 5, 0), "  -4.");
  EXPECT_EQ(F(-0.4, 3, 0), "-0.");
}

TEST(FormatF, NonFiniteValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(F(inf, 8, 3), "Infinity");
  EXPECT_EQ(F(-inf, 9, 3), "-Infinity");
  EXPECT_EQ(F(-inf, 8, 3), "    -Inf");
  EXPECT_EQ(F(inf, 3, 3), "Inf");
  EXPECT_EQ(F(inf, 2, 3), "**");
  EXPECT_EQ(F(nan, 8, 3), "     NaN");
  EXPECT_EQ(E(-nan, 12), "         NaN");
}

TEST(FormatE, SignificandAndThreeDigitExponent) {
  EXPECT_EQ(E(0.00123), " 0.1230E-002");
  EXPECT_EQ(E(-0.00123), "-0.1230E-002");
  EXPECT_EQ(E(1.0), " 0.1000E+001");
  EXPECT_EQ(E(0.0), " 0.0000E+000");
  EXPECT_EQ(E(-0.0), "-0.0000E+000");
  EXPECT_EQ(E(6.3e-16), " 0.6300E-015");
  EXPECT_EQ(E(6.661338147750939e-16), " 0.6661E-015");
  EXPECT_EQ(E(123456789.0), " 0.1235E+009");
}

TEST(FormatE, ExtremeExponents) {
  EXPECT_EQ(E(1e-300), " 0.1000E-299");
  EXPECT_EQ(E(1.7e308), " 0.1700E+309");
  EXPECT_EQ(E(std::numeric_limits<double>::min()), " 0.2225E-307");
  EXPECT_EQ(E(1e-310), " 0.1000E-309");  // subnormal
}

TEST(FormatE, RoundingCarriesIntoTheExponent) {
  EXPECT_EQ(E(0.99996), " 0.1000E+001");
  EXPECT_EQ(E(0.099996), " 0.1000E+000");
  EXPECT_EQ(E(9.99949), " 0.9999E+001");
}

TEST(FormatE, NarrowFieldsAndShortExponents) {
  EXPECT_EQ(E(-0.00123, 11), "-.1230E-002");
  EXPECT_EQ(E(-0.00123, 10), "**********");
  EXPECT_EQ(E(-1e-9, 9, 2, 2), "-0.10E-08");
  EXPECT_EQ(E(1e9, 9, 2, 1), "*********");  // exponent 10 needs two digits
}

TEST(FormatText, AwXAndListLines) {
  EXPECT_EQ(A("A", 3), "  A");
  EXPECT_EQ(A("ABCDE", 3), "ABC");
  EXPECT_EQ(X(4), "    ");
  EXPECT_EQ(list_line("No significant alignment found!"), " No significant alignment found!");
  EXPECT_EQ(pad_right("name.pdb", 12), "name.pdb    ");
  EXPECT_EQ(pad_right("", 3), "   ");
}

TEST(Nint, HalvesAwayFromZero) {
  EXPECT_EQ(nint(2.5), 3);
  EXPECT_EQ(nint(-2.5), -3);
  EXPECT_EQ(nint(1.5), 2);
  EXPECT_EQ(nint(-0.5), -1);
  EXPECT_EQ(nint(0.49999999999999994), 0);  // adding 0.5 first would give 1
}

TEST(Basename, AfterTheLastSlashUpToTheLastNonBlank) {
  EXPECT_EQ(getbasename("dir/sub/name.pdb"), "name.pdb");
  EXPECT_EQ(getbasename("name.pdb"), "name.pdb");
  EXPECT_EQ(getbasename("dir/"), "");
  EXPECT_EQ(getbasename("dir/sub/  "), "");
  EXPECT_EQ(getbasename("a/b  "), "b");
  EXPECT_EQ(getbasename("/abs/my file.pdb"), "my file.pdb");
  EXPECT_EQ(getbasename(""), "");
}

TEST(Basename, StructureLineShowsTwentyCharacters) {
  const std::string base = getbasename("data/a_rather_long_interface_name_AB.pdb");
  EXPECT_EQ(base, "a_rather_long_interface_name_AB.pdb");
  EXPECT_EQ(pad_right(base, 20), "a_rather_long_interf");
  EXPECT_EQ(pad_right(getbasename("x/1A2K_AB.pdb"), 20), "1A2K_AB.pdb         ");
}

TEST(ResidueCodes, EveryTableEntryAndUnknowns) {
  const char one[] = "GASCVTIPMDNLKEQRHFYW";
  const char* three[] = {"GLY", "ALA", "SER", "CYS", "VAL", "THR", "ILE", "PRO", "MET", "ASP",
                         "ASN", "LEU", "LYS", "GLU", "GLN", "ARG", "HIS", "PHE", "TYR", "TRP"};
  for (int k = 0; k < 20; ++k) EXPECT_EQ(aa1toaa3(one[k]), three[k]) << one[k];
  EXPECT_EQ(aa1toaa3('X'), "UNK");
  EXPECT_EQ(aa1toaa3('B'), "UNK");
  EXPECT_EQ(aa1toaa3('g'), "UNK");
}

}  // namespace
}  // namespace tarvix::fmt
