#include "structure/fields.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarvix {
namespace {

std::optional<double> real(const char* field, int implied) {
  double v = -7.0;
  return parse_real_field(field, implied, v) ? std::optional<double>(v) : std::nullopt;
}

TEST(Fields, RealFieldsFollowFixedColumnRules) {
  const std::pair<const char*, std::optional<double>> coords[] = {  // 3 implied decimals
      {"  12.345", 12.345}, {"   12345", 12.345}, {"  -12345", -12.345}, {"       5", 0.005},
      {"        ", 0.0},    {" 1 2.5  ", 12.5},   {"- 1 . 5 ", -1.5},    {"  1.5E2", 150.0},
      {"     1E2", 0.1},    {"  1.5D-1", 0.15},   {"  2.5+1", 25.0},     {"  12.3x5", std::nullopt},
      {"       -", std::nullopt}, {" 1.2.3  ", std::nullopt}, {"   1.5E ", std::nullopt},
      {"     abc", std::nullopt}, {"  1E999", std::nullopt}};
  for (const auto& [field, value] : coords) EXPECT_EQ(real(field, 3), value) << '"' << field << '"';
  EXPECT_EQ(real("   150", 2), 1.5);  // occupancy
  EXPECT_EQ(real("  1.00", 2), 1.0);
}

TEST(Fields, IntegerFieldsAndValueWords) {
  int v = -7;
  for (const auto& [field, value] : {std::pair{"   42", 42}, {"     ", 0}, {" 4 2 ", 42}, {"  -17", -17}})
    EXPECT_TRUE(parse_int_field(field, v) && v == value) << field;
  for (const char* bad : {"  4x ", "  +  ", " 4.0 ", "99999999999"})
    EXPECT_FALSE(parse_int_field(bad, v)) << bad;
  // Value words: blanks only around the value; no implied decimals.
  EXPECT_TRUE(parse_int_word(" 30 ", v) && v == 30);
  for (const char* bad : {"", "   ", "3 0", "3.0", "30x"}) EXPECT_FALSE(parse_int_word(bad, v)) << bad;
  double r = 0.0;
  for (const auto& [word, value] : {std::pair{" 2.5 ", 2.5}, {"2", 2.0}, {".5", 0.5}, {"1d0", 1.0}})
    EXPECT_TRUE(parse_real_word(word, r) && r == value) << word;
  for (const char* bad : {"", "2 .5", "2.5x", "nan", "inf"}) EXPECT_FALSE(parse_real_word(bad, r)) << bad;
}

}  // namespace
}  // namespace tarvix
