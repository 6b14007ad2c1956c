// Fixed-column numeric fields: blanks inside a field are ignored, an all-blank
// field reads as zero, and a real written without a decimal point has its
// last `implied` digits taken as decimals.
#pragma once

#include <string_view>

namespace tarvix {

bool parse_int_field(std::string_view field, int& value);
bool parse_real_field(std::string_view field, int implied, double& value);
// A free-form value word: leading and trailing blanks allowed, nothing else.
bool parse_int_word(std::string_view word, int& value);
bool parse_real_word(std::string_view word, double& value);

}  // namespace tarvix
