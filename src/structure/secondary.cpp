#include "structure/secondary.h"

#include <cmath>

namespace tarvix {

double diszy(const Structure& s, int i, int j) {
  const double dx = s.ca[i][0] - s.ca[j][0];
  const double dy = s.ca[i][1] - s.ca[j][1];
  const double dz = s.ca[i][2] - s.ca[j][2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

int make_sec(double d13, double d14, double d15, double d24, double d25, double d35) {
  constexpr double kHelixWidth = 2.1;
  if (std::fabs(d15 - 6.37) < kHelixWidth && std::fabs(d14 - 5.18) < kHelixWidth &&
      std::fabs(d25 - 5.18) < kHelixWidth && std::fabs(d13 - 5.45) < kHelixWidth &&
      std::fabs(d24 - 5.45) < kHelixWidth && std::fabs(d35 - 5.45) < kHelixWidth)
    return 2;
  constexpr double kStrandWidth = 1.42;
  if (std::fabs(d15 - 13.0) < kStrandWidth && std::fabs(d14 - 10.4) < kStrandWidth &&
      std::fabs(d25 - 10.4) < kStrandWidth && std::fabs(d13 - 6.1) < kStrandWidth &&
      std::fabs(d24 - 6.1) < kStrandWidth && std::fabs(d35 - 6.1) < kStrandWidth)
    return 4;
  return d15 < 8.0 ? 3 : 1;
}

void smooth(int* sec, int len) {
  // Positions outside 1..len read as class 0, which equals no class.
  auto at = [&](int i) { return (i >= 1 && i <= len) ? sec[i] : 0; };
  for (int i = 1; i <= len; ++i) {
    const int c = sec[i];
    if ((c == 2 || c == 4) && at(i - 2) != c && at(i - 1) != c && at(i + 1) != c && at(i + 2) != c)
      sec[i] = 1;
  }
  for (int i = 1; i <= len; ++i) {
    for (int x : {2, 4}) {
      if (at(i) != x && at(i + 1) != x && at(i + 2) == x && at(i + 3) == x && at(i + 4) != x &&
          at(i + 5) != x) {
        sec[i + 2] = 1;
        sec[i + 3] = 1;
      }
    }
  }
  for (int i = 1; i <= len; ++i) {
    for (int x : {2, 4}) {
      if (at(i) == x && at(i + 1) != x && at(i + 2) == x) sec[i + 1] = x;
    }
  }
}

void calcsec(Structure& s, int len) {
  for (int i = 1; i <= len; ++i) {
    s.sec[i] = 1;
    if (i >= 3 && i + 2 <= len) {
      s.sec[i] = make_sec(diszy(s, i - 2, i), diszy(s, i - 2, i + 1), diszy(s, i - 2, i + 2),
                          diszy(s, i - 1, i + 1), diszy(s, i - 1, i + 2), diszy(s, i, i + 2));
    }
  }
  smooth(s.sec.data(), len);
}

}  // namespace tarvix
