// The raster steps layer effects are built from: coverage planes, a
// Gaussian-like blur made of box blurs, and exact Euclidean distances to a
// shape's edge. Not an interface: effects.h is.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvex::psd::detail {

// A single-channel plane of coverage values 0..1, rows top first.
struct Coverage {
  int32_t width = 0, height = 0;
  std::vector<float> values;
  float beyond = 0;  // the value of every pixel beyond the plane

  size_t index(int32_t x, int32_t y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
  }
  float& at(int32_t x, int32_t y) { return values[index(x, y)]; }
  float at(int32_t x, int32_t y) const { return values[index(x, y)]; }
};

// Blurs `plane` in place with three successive box blurs per direction,
// which together approximate a Gaussian of deviation `sigma` (reaching
// about 3 sigma). Pixels beyond the plane hold plane.beyond. Constant work
// per pixel whatever the deviation: wide blurs run on the plane shrunk by
// blurScale(sigma) (see Scaled).
void blur(Coverage& plane, double sigma);

// Wide blurs are smooth at a coarser scale: a blur of deviation `sigma`
// can run on a plane shrunk by this power of two f (each pixel the mean of
// f x f; sigma at least 16 f), read back by bilinear interpolation, with an
// error far below an 8-bit step and f^2 times less work. 1 for narrow
// blurs.
int32_t blurScale(double sigma);

// The mean of each f x f block of the width x height values value(x, y);
// blocks cut by the right or bottom edge take `beyond` for the rest.
template <class Value>
Coverage shrunk(int32_t width, int32_t height, int32_t f, float beyond, Value value) {
  Coverage small;
  small.width = (width + f - 1) / f;
  small.height = (height + f - 1) / f;
  small.beyond = beyond;
  small.values.assign(static_cast<size_t>(small.width) * static_cast<size_t>(small.height), 0.0f);
  for (int32_t y = 0; y < height; ++y) {
    float* row = &small.values[small.index(0, y / f)];
    for (int32_t x = 0; x < width; ++x) row[x / f] += value(x, y);
  }
  const float area = static_cast<float>(f) * static_cast<float>(f);
  for (int32_t y = 0; y < small.height; ++y)
    for (int32_t x = 0; x < small.width; ++x) {
      const int32_t inside = (std::min(width, (x + 1) * f) - x * f) * (std::min(height, (y + 1) * f) - y * f);
      small.at(x, y) = (small.at(x, y) + beyond * (area - static_cast<float>(inside))) / area;
    }
  return small;
}

// Blurs a plane shrunk by f (see shrunk) as the full plane would be blurred
// with deviation `sigma` (measured in full pixels).
void blurScaled(Coverage& small, int32_t f, double sigma);

// A plane shrunk by f read at full resolution, by bilinear interpolation
// (the centre of full pixel x lies at (x + 0.5) / f - 0.5 in the small
// plane); beyond the plane its `beyond`. Reads a row at a time.
class Scaled {
 public:
  Scaled(const Coverage& small, int32_t f) : small_(small), f_(f), line_(static_cast<size_t>(small.width) + 2) {}

  // Full-resolution row y read at x0, x0 + 1, ..., x0 + n - 1 into `out`
  // (y and x0 in full pixels of the plane, beyond it too).
  void row(int64_t y, int64_t x0, int32_t n, float* out) {
    const Coverage& s = small_;
    const double scale = 1.0 / f_;
    const double py = (static_cast<double>(y) + 0.5) * scale - 0.5, fy = std::floor(py);
    const float wy = static_cast<float>(py - fy);
    const int64_t y0 = static_cast<int64_t>(fy);
    auto line = [&](int64_t i) {
      return i >= 0 && i < s.height ? &s.values[s.index(0, static_cast<int32_t>(i))] : nullptr;
    };
    const float* above = line(y0);
    const float* below = line(y0 + 1);
    // The two rows mixed, with the value beyond on either side.
    line_.front() = line_.back() = s.beyond;
    for (int32_t k = 0; k < s.width; ++k)
      line_[static_cast<size_t>(k) + 1] =
          (above ? above[k] : s.beyond) * (1 - wy) + (below ? below[k] : s.beyond) * wy;
    for (int32_t i = 0; i < n; ++i) {
      const double px = (static_cast<double>(x0 + i) + 0.5) * scale - 0.5, fx = std::floor(px);
      const int64_t k = static_cast<int64_t>(fx);
      if (k < -1 || k >= s.width) {
        out[i] = s.beyond;
        continue;
      }
      const float wx = static_cast<float>(px - fx);
      const float* l = &line_[static_cast<size_t>(k + 1)];
      out[i] = l[0] * (1 - wx) + l[1] * wx;
    }
  }

 private:
  const Coverage& small_;
  int32_t f_;
  std::vector<float> line_;
};

// For every pixel, the distance from its centre to the shape's edge within
// the plane. Every pixel of any coverage belongs to the shape (as
// Photoshop's strokes show); the edge of a pixel of coverage c lies c - 0.5
// beyond its centre. Outside the shape: the exact Euclidean distance to the
// nearest shape pixel, so corrected; on a shape pixel: 0.5 - c (negative
// on mostly covered pixels). Linear time (Felzenszwalb and Huttenlocher's
// lower envelope of parabolas, rows then columns).
void edgeDistance(const Coverage& shape, std::vector<float>& distance);

// The shape grown by `amount` pixels, anti-aliased: each pixel's coverage
// of the shape and the band `amount` wide around it. `amount` 0 copies.
void dilate(const Coverage& shape, double amount, Coverage& out);

// 1 - each value (and the value beyond): the shape's outside.
void invert(Coverage& plane);

}  // namespace korvex::psd::detail
