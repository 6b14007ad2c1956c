#include "structure/fields.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix {
namespace {

struct RealCase {
  const char* field;
  int implied;
  bool ok;
  double value;
};

TEST(Fields, RealFieldsFollowFixedColumnRules) {
  const RealCase cases[] = {
      {"  12.345", 3, true, 12.345}, {"   12345", 3, true, 12.345},  // implied decimals
      {"  -12345", 3, true, -12.345}, {"       5", 3, true, 0.005},
      {"        ", 3, true, 0.0},                                    // blank field is zero
      {" 1 2.5  ", 3, true, 12.5},  {"- 1 . 5 ", 3, true, -1.5},      // blanks ignored
      {"   150", 2, true, 1.5},     {"  1.00", 2, true, 1.0},         // occupancy
      {"  1.5E2", 3, true, 150.0},  {"     1E2", 3, true, 0.1},       // exponent, implied
      {"  1.5D-1", 3, true, 0.15},  {"  2.5+1", 3, true, 25.0},
      {"  12.3x5", 3, false, 0},    {"       -", 3, false, 0},  {" 1.2.3  ", 3, false, 0},
      {"   1.5E ", 3, false, 0},    {"     abc", 3, false, 0},  {"  1E999", 3, false, 0},
  };
  for (const RealCase& c : cases) {
    double v = -7.0;
    ASSERT_EQ(parse_real_field(c.field, c.implied, v), c.ok) << '"' << c.field << '"';
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value) << '"' << c.field << '"';
    }
  }
}

TEST(Fields, IntegerFieldsAndValueWords) {
  int v = -7;
  EXPECT_TRUE(parse_int_field("   42", v) && v == 42);
  EXPECT_TRUE(parse_int_field("     ", v) && v == 0);
  EXPECT_TRUE(parse_int_field(" 4 2 ", v) && v == 42);
  EXPECT_TRUE(parse_int_field("  -17", v) && v == -17);
  for (const char* bad : {"  4x ", "  +  ", " 4.0 ", "99999999999"}) EXPECT_FALSE(parse_int_field(bad, v)) << bad;

  // Value words: blanks only around the value, never inside or alone.
  EXPECT_TRUE(parse_int_word(" 30 ", v) && v == 30);
  for (const char* bad : {"", "   ", "3 0", "3.0", "30x"}) EXPECT_FALSE(parse_int_word(bad, v)) << bad;
  double r = 0.0;
  EXPECT_TRUE(parse_real_word(" 2.5 ", r) && r == 2.5);
  EXPECT_TRUE(parse_real_word("2", r) && r == 2.0);  // no implied decimals in a word
  EXPECT_TRUE(parse_real_word(".5", r) && r == 0.5);
  EXPECT_TRUE(parse_real_word("1d0", r) && r == 1.0);
  for (const char* bad : {"", "2 .5", "2.5x", "nan", "inf"}) EXPECT_FALSE(parse_real_word(bad, r)) << bad;
}

}  // namespace
}  // namespace tarvix
