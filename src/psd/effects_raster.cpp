#include "psd/effects_raster.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvex::psd::detail {
namespace {

// One box blur of width 2r+1 over the `n` samples of `in` into `out`,
// `beyond` past the ends. A running sum: constant work per sample.
void boxPass(const float* in, float* out, int32_t n, int32_t r, float beyond) {
  const double scale = 1.0 / (2 * r + 1);
  auto sample = [&](int64_t i) { return i < 0 || i >= n ? beyond : in[i]; };
  double sum = 0;
  for (int64_t i = -r; i <= r; ++i) sum += sample(i);
  for (int32_t i = 0; i < n; ++i) {
    out[i] = static_cast<float>(sum * scale);
    sum += sample(static_cast<int64_t>(i) + r + 1) - sample(static_cast<int64_t>(i) - r);
  }
}

// The same down the columns of a w x h plane, a row at a time with one
// running sum per column, so memory is read in order.
void boxColumns(const float* in, float* out, int32_t w, int32_t h, int32_t r, float beyond) {
  const double scale = 1.0 / (2 * r + 1);
  const size_t width = static_cast<size_t>(w);
  std::vector<double> sum(width, 0.0);
  auto add = [&](int64_t y, double sign) {
    if (y < 0 || y >= h) {
      for (double& v : sum) v += sign * beyond;
      return;
    }
    const float* row = in + static_cast<size_t>(y) * width;
    for (size_t x = 0; x < width; ++x) sum[x] += sign * row[x];
  };
  for (int64_t y = -r; y <= r; ++y) add(y, 1);
  for (int32_t y = 0; y < h; ++y) {
    float* row = out + static_cast<size_t>(y) * width;
    for (size_t x = 0; x < width; ++x) row[x] = static_cast<float>(sum[x] * scale);
    add(static_cast<int64_t>(y) + r + 1, 1);
    add(static_cast<int64_t>(y) - r, -1);
  }
}

// Squared distances along one line: f[i] is 0 at sites, infinite
// elsewhere, or a squared distance from an earlier pass. d[i] receives the
// lower envelope of the parabolas (i - q)^2 + f[q]; site[i] the q giving it
// (-1 and infinity when the line has no site).
void envelope(const float* f, int32_t n, float* d, int32_t* site, std::vector<int32_t>& v,
              std::vector<double>& z) {
  const double inf = std::numeric_limits<double>::infinity();
  v.resize(static_cast<size_t>(n));
  z.resize(static_cast<size_t>(n) + 1);
  int32_t k = -1;
  for (int32_t q = 0; q < n; ++q) {
    if (std::isinf(f[q])) continue;
    double s = -inf;
    // z[0] is minus infinity, so k never drops below 0.
    while (k >= 0) {
      const int32_t p = v[static_cast<size_t>(k)];
      s = ((f[q] + double(q) * q) - (f[p] + double(p) * p)) / (2.0 * (q - p));
      if (s > z[static_cast<size_t>(k)]) break;
      --k;
    }
    ++k;
    v[static_cast<size_t>(k)] = q;
    z[static_cast<size_t>(k)] = k == 0 ? -inf : s;
    z[static_cast<size_t>(k) + 1] = inf;
  }
  if (k < 0) {
    std::fill(d, d + n, std::numeric_limits<float>::infinity());
    std::fill(site, site + n, -1);
    return;
  }
  int32_t j = 0;
  for (int32_t q = 0; q < n; ++q) {
    while (z[static_cast<size_t>(j) + 1] < q) ++j;
    const int32_t p = v[static_cast<size_t>(j)];
    d[q] = static_cast<float>(double(q - p) * (q - p) + f[p]);
    site[q] = p;
  }
}

// Three box blurs per direction at full resolution.
void boxBlur(Coverage& plane, double sigma) {
  // Three boxes of widths wl or wl + 2 (m of them the narrower) whose
  // variances, (w^2 - 1) / 12 each, add up to sigma^2.
  const double ideal = std::sqrt(4 * sigma * sigma + 1);
  int32_t wl = static_cast<int32_t>(std::floor(ideal));
  if (wl % 2 == 0) --wl;
  wl = std::max(wl, 1);
  const int32_t m = std::clamp(
      static_cast<int32_t>(std::lround((12 * sigma * sigma - 3.0 * wl * wl - 12.0 * wl - 9) / (-4.0 * wl - 4))), 0, 3);
  int32_t radii[3];
  for (int32_t i = 0; i < 3; ++i) radii[i] = (i < m ? wl : wl + 2) / 2;
  const size_t w = static_cast<size_t>(plane.width);
  std::vector<float> tmp(std::max(w, static_cast<size_t>(plane.height)));
  std::vector<float> line(tmp.size());
  for (int32_t y = 0; y < plane.height; ++y) {
    float* row = &plane.values[static_cast<size_t>(y) * w];
    boxPass(row, tmp.data(), plane.width, radii[0], plane.beyond);
    boxPass(tmp.data(), line.data(), plane.width, radii[1], plane.beyond);
    boxPass(line.data(), row, plane.width, radii[2], plane.beyond);
  }
  std::vector<float> other(plane.values.size());
  boxColumns(plane.values.data(), other.data(), plane.width, plane.height, radii[0], plane.beyond);
  boxColumns(other.data(), plane.values.data(), plane.width, plane.height, radii[1], plane.beyond);
  boxColumns(plane.values.data(), other.data(), plane.width, plane.height, radii[2], plane.beyond);
  plane.values.swap(other);
}

}  // namespace

int32_t blurScale(double sigma) {
  int32_t f = 1;
  while (f < 32 && sigma >= 16.0 * f) f *= 2;
  return f;
}

void blurScaled(Coverage& small, int32_t f, double sigma) {
  if (sigma <= 0 || small.width == 0 || small.height == 0) return;
  // The block mean adds a variance of (f^2 - 1) / 12, the bilinear
  // interpolation back about f^2 / 6.
  const double f2 = static_cast<double>(f) * f;
  boxBlur(small, f == 1 ? sigma : std::sqrt(std::max(0.0, sigma * sigma - (f2 - 1) / 12 - f2 / 6)) / f);
}

void blur(Coverage& plane, double sigma) {
  if (sigma <= 0 || plane.width == 0 || plane.height == 0) return;
  const int32_t f = blurScale(sigma);
  if (f == 1) {
    boxBlur(plane, sigma);
    return;
  }
  Coverage small = shrunk(plane.width, plane.height, f, plane.beyond,
                          [&](int32_t x, int32_t y) { return plane.at(x, y); });
  blurScaled(small, f, sigma);
  Scaled scaled(small, f);
  for (int32_t y = 0; y < plane.height; ++y) scaled.row(y, 0, plane.width, &plane.values[plane.index(0, y)]);
}

void edgeDistance(const Coverage& shape, std::vector<float>& distance) {
  const float inf = std::numeric_limits<float>::infinity();
  const int32_t w = shape.width, h = shape.height;
  const size_t width = static_cast<size_t>(w), count = width * static_cast<size_t>(h);
  // Rows: the squared distance to the nearest shape pixel in the row (in
  // `distance` for now), and that pixel's coverage.
  distance.resize(count);
  std::vector<float> rowCover(count);
  std::vector<float> f(static_cast<size_t>(std::max(w, h))), d(f.size());
  std::vector<double> z;
  std::vector<int32_t> site(f.size()), v;
  for (int32_t y = 0; y < h; ++y) {
    const size_t o = static_cast<size_t>(y) * width;
    for (size_t x = 0; x < width; ++x) f[x] = shape.values[o + x] > 0 ? 0 : inf;
    envelope(f.data(), w, &distance[o], site.data(), v, z);
    for (size_t x = 0; x < width; ++x) {
      const int32_t s = site[x];
      rowCover[o + x] = s >= 0 ? shape.values[o + static_cast<size_t>(s)] : 0;
    }
  }
  // Columns over the row results, in strips of kStrip columns copied out
  // together so memory is read a cache line at a time: the nearest shape
  // pixel in the plane.
  constexpr size_t kStrip = 16;
  const size_t rows = static_cast<size_t>(h);
  std::vector<float> strip(rows * kStrip), cover(rows * kStrip);
  for (size_t x0 = 0; x0 < width; x0 += kStrip) {
    const size_t n = std::min(kStrip, width - x0);
    for (size_t y = 0; y < rows; ++y)
      for (size_t k = 0; k < n; ++k) {
        strip[k * rows + y] = distance[y * width + x0 + k];
        cover[k * rows + y] = rowCover[y * width + x0 + k];
      }
    for (size_t k = 0; k < n; ++k) {
      envelope(&strip[k * rows], h, d.data(), site.data(), v, z);
      for (size_t y = 0; y < rows; ++y) {
        // The edge of a pixel of coverage c lies c - 0.5 beyond its centre
        // (inside a covered pixel: 0.5 - c from its centre, negative when
        // the pixel is mostly covered).
        const float a = shape.values[y * width + x0 + k];
        float best = 0.5f - a;
        if (a <= 0) {
          const int32_t s = site[y];
          best = s >= 0 ? std::sqrt(d[y]) - (cover[k * rows + static_cast<size_t>(s)] - 0.5f) : inf;
        }
        distance[y * width + x0 + k] = best;
      }
    }
  }
}

void dilate(const Coverage& shape, double amount, Coverage& out) {
  out = shape;
  if (amount <= 0) return;
  std::vector<float> distance;
  edgeDistance(shape, distance);
  const float reach = static_cast<float>(amount) + 0.5f;
  for (size_t i = 0; i < out.values.size(); ++i)
    out.values[i] = std::max(shape.values[i], std::clamp(reach - distance[i], 0.0f, 1.0f));
}

void invert(Coverage& plane) {
  for (float& v : plane.values) v = 1 - v;
  plane.beyond = 1 - plane.beyond;
}

}  // namespace korvex::psd::detail
