#include "psd/effects_raster.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvex::psd::detail {
namespace {

// One box blur of width 2r+1 over `n` samples, from `in` (samples
// `inStride` apart) to `out` (`outStride` apart), `beyond` past the ends.
// A running sum: constant work per sample.
void boxPass(const float* in, size_t inStride, float* out, size_t outStride, int32_t n, int32_t r, float beyond) {
  const double scale = 1.0 / (2 * r + 1);
  auto sample = [&](int64_t i) { return i < 0 || i >= n ? beyond : in[static_cast<size_t>(i) * inStride]; };
  double sum = 0;
  for (int64_t i = -r; i <= r; ++i) sum += sample(i);
  for (int32_t i = 0; i < n; ++i) {
    out[static_cast<size_t>(i) * outStride] = static_cast<float>(sum * scale);
    sum += sample(static_cast<int64_t>(i) + r + 1) - sample(static_cast<int64_t>(i) - r);
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

}  // namespace

void blur(Coverage& plane, double sigma) {
  if (sigma <= 0 || plane.width == 0 || plane.height == 0) return;
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
  std::vector<float> tmp(static_cast<size_t>(std::max(plane.width, plane.height)));
  std::vector<float> line(tmp.size());
  const size_t w = static_cast<size_t>(plane.width);
  for (int32_t y = 0; y < plane.height; ++y) {
    float* row = &plane.values[static_cast<size_t>(y) * w];
    boxPass(row, 1, tmp.data(), 1, plane.width, radii[0], plane.beyond);
    boxPass(tmp.data(), 1, line.data(), 1, plane.width, radii[1], plane.beyond);
    boxPass(line.data(), 1, row, 1, plane.width, radii[2], plane.beyond);
  }
  for (int32_t x = 0; x < plane.width; ++x) {
    float* column = &plane.values[static_cast<size_t>(x)];
    boxPass(column, w, tmp.data(), 1, plane.height, radii[0], plane.beyond);
    boxPass(tmp.data(), 1, line.data(), 1, plane.height, radii[1], plane.beyond);
    boxPass(line.data(), 1, column, w, plane.height, radii[2], plane.beyond);
  }
}

void edgeDistance(const Coverage& shape, std::vector<float>& distance) {
  const float inf = std::numeric_limits<float>::infinity();
  const int32_t w = shape.width, h = shape.height;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  distance.assign(count, 0);
  if (count == 0) return;
  // Rows: the squared distance to the nearest shape pixel in the row, and
  // that pixel's column.
  std::vector<float> rowDist(count);
  std::vector<int32_t> rowSite(count);
  std::vector<float> f(static_cast<size_t>(std::max(w, h))), d(f.size());
  std::vector<double> z;
  std::vector<int32_t> site(f.size()), v;
  for (int32_t y = 0; y < h; ++y) {
    const size_t o = static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int32_t x = 0; x < w; ++x) f[static_cast<size_t>(x)] = shape.values[o + static_cast<size_t>(x)] >= 0.5f ? 0 : inf;
    envelope(f.data(), w, &rowDist[o], &rowSite[o], v, z);
  }
  // Columns over the row results: the nearest shape pixel in the plane.
  for (int32_t x = 0; x < w; ++x) {
    for (int32_t y = 0; y < h; ++y) f[static_cast<size_t>(y)] = rowDist[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
    envelope(f.data(), h, d.data(), site.data(), v, z);
    for (int32_t y = 0; y < h; ++y) {
      const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
      const float own = shape.values[i];
      if (own >= 0.5f) continue;
      float best = inf;
      if (site[static_cast<size_t>(y)] >= 0) {
        const int32_t sy = site[static_cast<size_t>(y)];
        const size_t si = static_cast<size_t>(sy) * static_cast<size_t>(w);
        const int32_t sx = rowSite[si + static_cast<size_t>(x)];
        // The edge of a pixel of coverage a lies a - 0.5 beyond its centre.
        const float a = shape.values[si + static_cast<size_t>(sx)];
        best = std::sqrt(d[static_cast<size_t>(y)]) - (a - 0.5f);
      }
      // A partly covered pixel outside holds the edge itself.
      if (own > 0) best = std::min(best, 0.5f - own);
      distance[i] = best;
    }
  }
}

void dilate(const Coverage& shape, double amount, Coverage& out) {
  out = shape;
  if (amount <= 0) return;
  std::vector<float> distance;
  edgeDistance(shape, distance);
  const float reach = static_cast<float>(amount) + 0.5f;
  for (size_t i = 0; i < out.values.size(); ++i) {
    if (shape.values[i] >= 0.5f) {
      out.values[i] = 1;
      continue;
    }
    out.values[i] = std::max(shape.values[i], std::clamp(reach - distance[i], 0.0f, 1.0f));
  }
}

void invert(Coverage& plane) {
  for (float& v : plane.values) v = 1 - v;
  plane.beyond = 1 - plane.beyond;
}

}  // namespace korvex::psd::detail
