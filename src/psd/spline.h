// A natural cubic spline (second derivative zero at both ends) through
// points with rising x: the curve of the curves adjustment and of effect
// contours. Internal to src/psd.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace korvex::psd {

class NaturalSpline {
 public:
  // `x` strictly rising, as many values as `y`.
  NaturalSpline(std::vector<double> x, std::vector<double> y) : x_(std::move(x)), y_(std::move(y)) {
    const size_t n = x_.size();
    m_.assign(n, 0.0);
    if (n < 3) return;
    // Tridiagonal system for the second derivatives, solved by elimination.
    std::vector<double> c(n, 0.0), d(n, 0.0);
    for (size_t i = 1; i + 1 < n; ++i) {
      const double h0 = x_[i] - x_[i - 1], h1 = x_[i + 1] - x_[i];
      const double diag = 2 * (h0 + h1) - h0 * c[i - 1];
      c[i] = h1 / diag;
      d[i] = (6 * ((y_[i + 1] - y_[i]) / h1 - (y_[i] - y_[i - 1]) / h0) - h0 * d[i - 1]) / diag;
    }
    for (size_t i = n - 2; i >= 1; --i) m_[i] = d[i] - c[i] * m_[i + 1];
  }

  bool empty() const { return x_.empty(); }
  // The segment [x[i], x[i+1]] holding `x`, which lies strictly inside the
  // first and last point.
  size_t segment(double x) const {
    return static_cast<size_t>(std::upper_bound(x_.begin(), x_.end(), x) - x_.begin()) - 1;
  }
  // The curve at `x`: flat beyond the first and last point, unclamped.
  double operator()(double x) const {
    if (x <= x_.front()) return y_.front();
    if (x >= x_.back()) return y_.back();
    return onSegment(segment(x), x);
  }
  // The cubic of segment `i` at `x`.
  double onSegment(size_t i, double x) const {
    const double h = x_[i + 1] - x_[i], a = (x_[i + 1] - x) / h, b = (x - x_[i]) / h;
    return a * y_[i] + b * y_[i + 1] + ((a * a * a - a) * m_[i] + (b * b * b - b) * m_[i + 1]) * h * h / 6;
  }
  // The straight line through the ends of segment `i` at `x`.
  double straight(size_t i, double x) const {
    return y_[i] + (x - x_[i]) / (x_[i + 1] - x_[i]) * (y_[i + 1] - y_[i]);
  }

 private:
  std::vector<double> x_, y_, m_;
};

}  // namespace korvex::psd
