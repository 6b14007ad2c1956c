#include "stats/pvalue.h"

#include <algorithm>
#include <cmath>

namespace tarvix {

bool evd_params(int scoretype, int seqmode, int l1, int l2, double& mu, double& beta) {
  const int lmin = std::max(20, std::min(l1, l2));
  const int lmax = std::max(20, std::max(l1, l2));
  const double a = std::log(static_cast<double>(lmin));
  const double b = std::log(static_cast<double>(lmax));

  // The fitted coefficients; each expression is evaluated left to right as written.
  double m;
  double s;
  if (seqmode == 1 && scoretype == 1) {
    if (lmin < 45) {
      m = 0.0071 * b + 0.0391 * a - 0.0242;
      s = 0.0013 * b + 0.0342 - 0.0058 * a;
    } else {
      m = 0.0057 * b + 0.1635 - 0.0085 * a;
      s = 0.0006 * b + 0.044 - 0.0076 * a;
    }
  } else if (seqmode == 1 && scoretype == 0) {
    if (lmin < 45) {
      m = 0.026 * b + 0.046 * a - 0.069;
      s = 0.0024 * b + 0.0355 - 0.005 * a;
    } else {
      m = 0.0344 * b + 0.2092 - 0.0368 * a;
      s = 0.0007 * b + 0.0416 - 0.0042 * a;
    }
  } else if (seqmode == 0 && scoretype == 1) {
    if (lmin < 55) {
      m = 0.0113 * b + 0.1776 - 0.0038 * a;
      s = 0.0397 - 0.0031 * a - 0.0009 * b;
    } else {
      m = 0.0163 * b + 0.2017 - 0.016 * a;
      s = 0.0432 - 0.0032 * a - 0.0013 * b;
    }
  } else {
    return false;
  }
  mu = m;
  beta = std::max(s, 0.002);
  return true;
}

void calcpvalue(double s, int scoretype, int seqmode, int l1, int l2, double& p, double& z) {
  p = -1.0;
  z = -1.0;
  double mu = 0.0;
  double beta = 0.0;
  // Without a fitted distribution there is nothing to evaluate; p and z stay -1.
  if (!evd_params(scoretype, seqmode, l1, l2, mu, beta)) return;
  calcevdpv(s, mu, beta, p, z);
}

void calcevdpv(double s, double mu, double beta, double& p, double& z) {
  z = (s - mu) / beta;
  if (z >= 35.0) {
    // Tail form: 1 - exp(-exp(-z)) would lose every digit to rounding here.
    p = std::exp(-z);
  } else {
    p = 1.0 - std::exp(-std::exp(-z));
  }
}

}  // namespace tarvix
