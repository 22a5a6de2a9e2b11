// The raster steps layer effects are built from: coverage planes, a
// Gaussian-like blur made of box blurs, and exact Euclidean distances to a
// shape's edge. Not an interface: effects.h is.
#pragma once

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
// per pixel whatever the deviation.
void blur(Coverage& plane, double sigma);

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
