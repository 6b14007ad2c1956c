#include "structure/fields.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>

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

// Coordinates as files write them read as the C library reads the same text.
TEST(Fields, RealFieldsReadAsTheCLibraryReadsThem) {
  std::mt19937_64 rng(5);
  char text[64];
  for (int k = 0; k < 200000; ++k) {
    const int decimals = 1 + static_cast<int>(rng() % 4);  // with a point: no implied decimals
    const double x = std::uniform_real_distribution<double>(-9999.0, 9999.0)(rng);
    std::snprintf(text, sizeof text, "%8.*f", decimals, x);
    double got = 0.0;
    ASSERT_TRUE(parse_real_field(text, 3, got)) << text;
    const double want = std::strtod(text, nullptr);
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << '"' << text << '"';
  }
  double z = 1.0;
  ASSERT_TRUE(parse_real_field("  -0.000", 3, z));
  EXPECT_TRUE(z == 0.0 && std::signbit(z));
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
