// Polynomial interpolation and Chebyshev series for the SPK segment types
// that store discrete states or series other than Type 2's.
//
// Lagrange: the interpolating polynomial by Neville's scheme (Press et al.,
// Numerical Recipes, 3rd ed., section 3.2). Hermite: the osculating
// polynomial through values and first derivatives, by divided differences
// on doubled nodes (Burden & Faires, Numerical Analysis, section 3.4).
// Chebyshev: Clenshaw's recurrence, and the integral of a series term by
// term, T_n' integral = (T_{n+1}/(n+1) - T_{n-1}/(n-1))/2 (Mason & Handscomb,
// Chebyshev Polynomials, section 2.4). Used by types 3, 8, 9, 12, 13, 18, 20.
#pragma once

#include <cstddef>
#include <span>

namespace tarvex::spk {

// The value at `t` of the polynomial of degree n - 1 through (x[i], y[i]),
// n = x.size() = y.size() >= 1, the x distinct.
double lagrange_value(std::span<const double> x, std::span<const double> y, double t);

// The value and derivative at `t` of the polynomial of degree 2n - 1 whose
// values at x[i] are f[i] and whose derivatives there are df[i].
struct ValueAndRate {
  double value = 0.0;
  double rate = 0.0;
};
ValueAndRate hermite_value(std::span<const double> x, std::span<const double> f,
                           std::span<const double> df, double t);

// Sum of c[k] T_k(s), |s| <= 1.
double chebyshev_value(std::span<const double> c, double s);

// The integral from 0 to s of sum c[k] T_k.
double chebyshev_integral_from_zero(std::span<const double> c, double s);

}  // namespace tarvex::spk
