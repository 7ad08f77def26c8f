#include "spk/interpolation.hpp"

#include <array>
#include <vector>

namespace tarvex::spk {

double lagrange_value(std::span<const double> x, std::span<const double> y, double t) {
  // Neville's tableau in place: after pass m, p[i] interpolates points
  // i .. i + m. Differences are taken from the request epoch, so that the
  // large epochs of the file cancel before anything is multiplied.
  const std::size_t n = x.size();
  std::vector<double> p(y.begin(), y.end());
  for (std::size_t m = 1; m < n; ++m) {
    for (std::size_t i = 0; i + m < n; ++i) {
      const double left = x[i] - t;
      const double right = x[i + m] - t;
      p[i] = (left * p[i + 1] - right * p[i]) / (left - right);
    }
  }
  return p[0];
}

ValueAndRate hermite_value(std::span<const double> x, std::span<const double> f,
                           std::span<const double> df, double t) {
  // Newton's form on the doubled nodes z (each x twice), with the divided
  // difference over a repeated node replaced by the derivative there.
  const std::size_t n = 2 * x.size();
  std::vector<double> z(n);
  std::vector<double> q(n);
  for (std::size_t i = 0; i < x.size(); ++i) {
    z[2 * i] = z[2 * i + 1] = x[i] - t;
    q[2 * i] = q[2 * i + 1] = f[i];
  }
  // coefficient k of the Newton form ends up in q[k]; the column is
  // updated from the bottom so that q[j - 1] still holds the lower order.
  std::vector<double> column(q);
  std::vector<double> coefficient(n);
  coefficient[0] = column[0];
  for (std::size_t order = 1; order < n; ++order) {
    for (std::size_t j = n - 1; j >= order; --j) {
      const double span = z[j] - z[j - order];
      if (order == 1 && j % 2 == 1) {
        column[j] = df[j / 2];
      } else {
        column[j] = (column[j] - column[j - 1]) / span;
      }
      if (j == order) break;
    }
    coefficient[order] = column[order];
  }
  // Horner at u = 0 (t itself), carrying the derivative along.
  double value = coefficient[n - 1];
  double rate = 0.0;
  for (std::size_t k = n - 1; k-- > 0;) {
    const double factor = 0.0 - z[k];
    rate = rate * factor + value;
    value = value * factor + coefficient[k];
  }
  return {value, rate};
}

double chebyshev_value(std::span<const double> c, double s) {
  double b1 = 0.0;
  double b2 = 0.0;
  const double two_s = s + s;
  for (std::size_t k = c.size(); k-- > 1;) {
    const double b0 = two_s * b1 - b2 + c[k];
    b2 = b1;
    b1 = b0;
  }
  return s * b1 - b2 + c[0];
}

double chebyshev_integral_from_zero(std::span<const double> c, double s) {
  // The antiderivative's coefficients a[k] (k = 0 .. n), then its value at
  // s less its value at 0, where T_k(0) is 1, 0, -1, 0, ... .
  const std::size_t n = c.size();
  std::vector<double> a(n + 1, 0.0);
  for (std::size_t k = 0; k < n; ++k) {
    if (k == 0) {
      a[1] += c[0];
    } else if (k == 1) {
      a[2] += c[1] / 4.0;
    } else {
      a[k + 1] += c[k] / (2.0 * static_cast<double>(k + 1));
      a[k - 1] -= c[k] / (2.0 * static_cast<double>(k - 1));
    }
  }
  double at_zero = 0.0;
  for (std::size_t k = 0; k <= n; k += 2) at_zero += (k % 4 == 0) ? a[k] : -a[k];
  return chebyshev_value(a, s) - at_zero;
}

}  // namespace tarvex::spk
