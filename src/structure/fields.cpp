#include "structure/fields.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace tarvix {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string without_blanks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (c != ' ' && c != '\t') out.push_back(c);
  return out;
}

bool parse_int_compact(std::string_view s, int& value) {
  if (s.empty()) {
    value = 0;
    return true;
  }
  size_t k = 0;
  bool neg = false;
  if (s[k] == '+' || s[k] == '-') neg = s[k++] == '-';
  if (k == s.size()) return false;
  long long v = 0;
  for (; k < s.size(); ++k) {
    if (!is_digit(s[k])) return false;
    v = v * 10 + (s[k] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
  }
  if (neg) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  value = static_cast<int>(v);
  return true;
}

// Reads [sign] digits [. digits] [exponent]; the exponent is E, D, e or d with
// an optional sign, or a bare sign, followed by digits.
bool parse_real_compact(const std::string& s, int implied, double& value) {
  if (s.empty()) {
    value = 0.0;
    return true;
  }
  size_t k = 0;
  std::string sign;
  if (s[k] == '+' || s[k] == '-') {
    if (s[k] == '-') sign = "-";
    ++k;
  }
  std::string intpart, fracpart;
  bool point = false;
  while (k < s.size() && is_digit(s[k])) intpart.push_back(s[k++]);
  if (k < s.size() && s[k] == '.') {
    point = true;
    ++k;
    while (k < s.size() && is_digit(s[k])) fracpart.push_back(s[k++]);
  }
  if (intpart.empty() && fracpart.empty()) return false;
  std::string expo;
  if (k < s.size()) {
    char c = s[k];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') ++k;
    else if (c != '+' && c != '-') return false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) expo.push_back(s[k++]);
    size_t start = k;
    while (k < s.size() && is_digit(s[k])) expo.push_back(s[k++]);
    if (k == start || k != s.size()) return false;
  }
  if (!point && implied > 0) {
    // The last `implied` digits are decimals.
    std::string digits = intpart;
    if (static_cast<int>(digits.size()) < implied)
      digits.insert(0, static_cast<size_t>(implied) - digits.size(), '0');
    fracpart = digits.substr(digits.size() - static_cast<size_t>(implied));
    intpart = digits.substr(0, digits.size() - static_cast<size_t>(implied));
  }
  std::string text = sign + (intpart.empty() ? "0" : intpart) + "." + fracpart;
  if (!expo.empty()) text += "e" + expo;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || errno == ERANGE) return false;
  value = v;
  return true;
}

std::string_view trim(std::string_view w) {
  while (!w.empty() && (w.front() == ' ' || w.front() == '\t')) w.remove_prefix(1);
  while (!w.empty() && (w.back() == ' ' || w.back() == '\t')) w.remove_suffix(1);
  return w;
}

bool has_inner_blank(std::string_view w) {
  for (char c : w)
    if (c == ' ' || c == '\t') return true;
  return false;
}

// The common case of a fixed-column real, without the string handling:
// [sign] digits [. digits] with blanks anywhere, at most 15 digits and no
// exponent. Then the value is m / 10^k with m and 10^k exact doubles, and one
// correctly rounded division gives the correctly rounded value, exactly what
// strtod returns for the same text. Returns false for anything else (the full
// parser then decides).
bool parse_real_simple(std::string_view field, int implied, double& value) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const char* p = field.data();
  const char* const end = p + field.size();
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  if (p == end) return false;  // blank: the full parser's rule
  const bool neg = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  std::int64_t m = 0;
  int digits = 0;
  int decimals = -1;  // -1 until the point
  for (; p != end; ++p) {
    const unsigned d = static_cast<unsigned>(static_cast<unsigned char>(*p)) - unsigned{'0'};
    if (d < 10) {
      if (++digits > 15) return false;
      m = m * 10 + d;
      decimals += decimals >= 0;
    } else if (*p == '.') {
      if (decimals >= 0) return false;
      decimals = 0;
    } else if (*p != ' ' && *p != '\t') {
      return false;
    }
  }
  if (digits == 0) return false;
  if (decimals < 0) decimals = implied > 0 ? implied : 0;
  if (decimals > 15) return false;
  const double v = static_cast<double>(m) / kPow10[decimals];
  value = neg ? -v : v;
  return true;
}

}  // namespace

bool parse_int_field(std::string_view field, int& value) {
  // Commonly the blanks only surround the number: no copy is needed then.
  const std::string_view w = trim(field);
  if (!has_inner_blank(w)) return parse_int_compact(w, value);
  return parse_int_compact(without_blanks(field), value);
}

bool parse_real_field(std::string_view field, int implied, double& value) {
  if (parse_real_simple(field, implied, value)) return true;
  return parse_real_compact(without_blanks(field), implied, value);
}

bool parse_int_word(std::string_view word, int& value) {
  std::string_view w = trim(word);
  if (w.empty() || has_inner_blank(w)) return false;
  return parse_int_compact(std::string(w), value);
}

bool parse_real_word(std::string_view word, double& value) {
  std::string_view w = trim(word);
  if (w.empty() || has_inner_blank(w)) return false;
  return parse_real_compact(std::string(w), 0, value);
}

}  // namespace tarvix
