#include "api/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarvix::fmt {

namespace {

std::string stars(int w) { return std::string(w > 0 ? static_cast<size_t>(w) : 0, '*'); }

std::string right(const std::string& s, int w) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
}

// Infinity and NaN, as a Fortran run-time writes them in an F or E field:
// the long form when it fits, else the short one, else asterisks.
std::string non_finite(double v, int w) {
  if (std::isnan(v)) return right("NaN", w);
  const bool neg = std::signbit(v);
  const std::string sign = neg ? "-" : "";
  if (w >= 8 + static_cast<int>(neg)) return right(sign + "Infinity", w);
  return right(sign + "Inf", w);
}

// printf into a string of exactly the needed size. Rounding is done by the C
// library on the exact binary value: to nearest, ties to even. That is also
// what the Fortran run-time does in its default rounding mode (F5.2 of 0.125
// gives 0.12), and an exact binary tie at the printed digit is rare anyway.
template <typename... Args>
std::string print(const char* form, Args... args) {
  const int n = std::snprintf(nullptr, 0, form, args...);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), form, args...);
  out.resize(static_cast<size_t>(n));
  return out;
}

}  // namespace

std::string I(long long v, int w) {
  if (w <= 0) return {};
  return right(std::to_string(v), w);
}

std::string F(double v, int w, int d) {
  if (w <= 0) return {};
  if (d < 0) d = 0;
  if (!std::isfinite(v)) return non_finite(v, w);
  const std::string sign = std::signbit(v) ? "-" : "";
  // With d = 0 the digits are "n." and the zero of "0." is not optional.
  std::string digits = print("%#.*f", d, std::fabs(v));
  if (static_cast<int>(sign.size() + digits.size()) > w && d > 0 && digits[0] == '0') {
    digits.erase(0, 1);
  }
  return right(sign + digits, w);
}

std::string E(double v, int w, int d, int e) {
  if (w <= 0) return {};
  if (d < 1 || e < 1) return stars(w);
  if (!std::isfinite(v)) return non_finite(v, w);
  const std::string sign = std::signbit(v) ? "-" : "";
  const double a = std::fabs(v);

  // d significant digits with their decimal exponent, as 0.ddd x 10^exp.
  std::string mant(static_cast<size_t>(d), '0');
  long exp10 = 0;
  if (a != 0.0) {
    const std::string s = print("%.*e", d - 1, a);  // "d.ddde+XX", rounding already carried
    const size_t epos = s.find('e');
    mant = s.substr(0, 1) + s.substr(2, epos - 2);
    exp10 = std::strtol(s.c_str() + epos + 1, nullptr, 10) + 1;
  }

  if (e < 4) {  // a double's decimal exponent has at most three digits
    long limit = 1;
    for (int k = 0; k < e; ++k) limit *= 10;
    if (std::labs(exp10) >= limit) return stars(w);
  }
  std::string ex = std::to_string(std::labs(exp10));
  ex.insert(0, static_cast<size_t>(e) - ex.size(), '0');

  const std::string body = "." + mant + "E" + (exp10 < 0 ? "-" : "+") + ex;
  const std::string full = sign + "0" + body;
  if (static_cast<int>(full.size()) <= w) return right(full, w);
  return right(sign + body, w);
}

std::string A(const std::string& s, int w) {
  if (w <= 0) return {};
  if (static_cast<int>(s.size()) >= w) return s.substr(0, static_cast<size_t>(w));
  return std::string(static_cast<size_t>(w) - s.size(), ' ') + s;
}

std::string X(int n) { return std::string(n > 0 ? static_cast<size_t>(n) : 0, ' '); }

std::string list_line(const std::string& text) { return " " + text; }

long long nint(double v) { return std::llround(v); }

std::string pad_right(const std::string& s, int w) {
  if (w <= 0) return {};
  std::string out = s.substr(0, static_cast<size_t>(w));
  out.resize(static_cast<size_t>(w), ' ');
  return out;
}

std::string getbasename(const std::string& path) {
  // 1-based positions, 0 when there is no such character.
  size_t slash = 0;
  size_t last = 0;
  for (size_t k = 0; k < path.size(); ++k) {
    if (path[k] == '/') {
      slash = k + 1;
    } else if (path[k] != ' ') {
      last = k + 1;
    }
  }
  if (last <= slash) return {};
  return path.substr(slash, last - slash);
}

std::string aa1toaa3(char aa) {
  static constexpr char kOne[] = "XGASCVTIPMDNLKEQRHFYW";
  static constexpr const char* kThree[] = {"UNK", "GLY", "ALA", "SER", "CYS", "VAL", "THR",
                                           "ILE", "PRO", "MET", "ASP", "ASN", "LEU", "LYS",
                                           "GLU", "GLN", "ARG", "HIS", "PHE", "TYR", "TRP"};
  for (size_t k = 0; k + 1 < sizeof kOne; ++k) {
    if (kOne[k] == aa) return kThree[k];
  }
  return "UNK";
}

}  // namespace tarvix::fmt
