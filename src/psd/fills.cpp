#include "psd/fills.h"

#include <algorithm>
#include <cmath>

namespace korvex::psd {
namespace {

// Ramp entries over the gradient: one per stop location unit, so the
// lookup is finer than any 8-bit step.
constexpr int kRampSize = 4097;
constexpr double kPi = 3.14159265358979323846;
constexpr double kMinPatternScale = 0.001;

// The position along the gradient (0..1 before clamping) of the canvas
// point (x, y).
struct GradientGeometry {
  GradientStyle style;
  double cx, cy;      // centre
  double dx, dy;      // unit direction of the angle, y pointing down
  double length;      // full length at the fill's scale
  double angleRadians;

  double at(double x, double y) const {
    const double px = x - cx, py = y - cy;
    const double along = px * dx + py * dy;
    const double half = length / 2;
    switch (style) {
      case GradientStyle::kLinear:
        return along / length + 0.5;
      case GradientStyle::kReflected:
        return std::fabs(along) / half;
      case GradientStyle::kRadial:
        return std::sqrt(px * px + py * py) / half;
      case GradientStyle::kDiamond:
        return (std::fabs(along) + std::fabs(py * dx - px * dy)) / half;
      case GradientStyle::kAngle: {
        double a = std::atan2(-py, px) - angleRadians;
        a = std::fmod(a, 2 * kPi);
        if (a < 0) a += 2 * kPi;
        return a / (2 * kPi);
      }
    }
    return 0;
  }
};

uint32_t premultiplied(uint32_t c) {
  const uint32_t a = c >> 24;
  return a << 24 | ((c >> 16 & 255) * a + 127) / 255 << 16 | ((c >> 8 & 255) * a + 127) / 255 << 8 |
         ((c & 255) * a + 127) / 255;
}

int wrap(int64_t v, int32_t size) {
  const int64_t r = v % size;
  return static_cast<int>(r < 0 ? r + size : r);
}

}  // namespace

void renderGradientFill(const GradientFill& fill, const Box& reference, const Box& area, uint32_t* out) {
  if (area.empty()) return;
  std::vector<uint32_t> ramp(kRampSize);
  buildRamp(fill.gradient, ramp.data(), kRampSize);

  const double width = reference.right - reference.left;
  const double height = reference.bottom - reference.top;
  GradientGeometry g;
  g.style = fill.style;
  g.angleRadians = fill.angle * kPi / 180;
  g.dx = std::cos(g.angleRadians);
  g.dy = -std::sin(g.angleRadians);
  const double cx = (reference.left + reference.right) / 2.0 + fill.offsetX / 100 * width;
  const double cy = (reference.top + reference.bottom) / 2.0 + fill.offsetY / 100 * height;
  // From the centre to the gradient's end. Linear and reflected gradients
  // are laid out on the box stretched to a square: there the end lies where
  // the angle leaves the box, and the lines of equal colour stand square to
  // the angle, so on the box itself they keep its aspect ratio (at 45
  // degrees they run along a diagonal). The other styles end where the
  // angle leaves the box itself.
  const double adx = std::fabs(g.dx), ady = std::fabs(g.dy);
  const bool stretched = (fill.style == GradientStyle::kLinear || fill.style == GradientStyle::kReflected) &&
                         width > 0 && height > 0;
  double ex, ey;
  if (stretched) {
    const double toEdge = 0.5 / std::max(adx, ady) * std::fabs(fill.scale);
    ex = width * toEdge * g.dx;
    ey = height * toEdge * g.dy;
  } else {
    const double toSide = adx > 1e-12 ? width / 2 / adx : HUGE_VAL;
    const double toTop = ady > 1e-12 ? height / 2 / ady : HUGE_VAL;
    const double half = std::min(toSide, toTop) * std::fabs(fill.scale);
    ex = half * g.dx;
    ey = half * g.dy;
  }
  // Photoshop puts the end points of a gradient along an axis on whole
  // pixels; oblique ones keep their exact ends. Rows are then measured in
  // the square's units.
  const bool axial = adx < 1e-9 || ady < 1e-9;
  auto end = [axial](double v) { return axial ? std::round(v) : v; };
  const double k = stretched ? width / height : 1;
  const double ax = end(cx - ex), ay = end(cy - ey) * k;
  const double bx = end(cx + ex), by = end(cy + ey) * k;
  g.cx = (ax + bx) / 2;
  g.cy = (ay + by) / 2;
  g.length = std::hypot(bx - ax, by - ay);
  if (g.length > 0) {
    g.dx = (bx - ax) / g.length;
    g.dy = (by - ay) / g.length;
  } else {
    g.length = 1e-3;  // a degenerate box or scale: a gradient of no length
  }

  for (int32_t y = area.top; y < area.bottom; ++y) {
    for (int32_t x = area.left; x < area.right; ++x) {
      double t = g.at(x, y * k);
      if (!(t > 0)) t = 0;  // also NaN
      if (t > 1) t = 1;
      if (fill.reverse) t = 1 - t;
      *out++ = ramp[static_cast<size_t>(t * (kRampSize - 1) + 0.5)];
    }
  }
}

void renderPatternFill(const PatternFill& fill, const Pattern& pattern, const Box& area, uint32_t* out) {
  if (area.empty()) return;
  const size_t count = pixelCount(area);
  const int32_t w = pattern.width, h = pattern.height;
  // Photoshop scales patterns from 1 %; far smaller scales draw nothing.
  if (w <= 0 || h <= 0 || pattern.pixels.size() != static_cast<size_t>(w) * static_cast<size_t>(h) ||
      !(fill.scale >= kMinPatternScale)) {
    std::fill(out, out + count, 0u);
    return;
  }
  const uint32_t* tile = pattern.pixels.data();
  const bool exact = fill.scale == 1 && fill.phaseX == std::floor(fill.phaseX) && fill.phaseY == std::floor(fill.phaseY);
  if (exact) {
    const int64_t ox = static_cast<int64_t>(fill.phaseX), oy = static_cast<int64_t>(fill.phaseY);
    for (int32_t y = area.top; y < area.bottom; ++y) {
      const uint32_t* row = tile + static_cast<size_t>(wrap(y - oy, h)) * static_cast<size_t>(w);
      for (int32_t x = area.left; x < area.right; ++x) *out++ = row[wrap(x - ox, w)];
    }
    return;
  }
  // Bilinear on premultiplied colour, the tile wrapping around.
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const double v = (y + 0.5 - fill.phaseY) / fill.scale - 0.5;
    const double fy = std::floor(v);
    const double wy = v - fy;
    const int y0 = wrap(static_cast<int64_t>(fy), h), y1 = wrap(static_cast<int64_t>(fy) + 1, h);
    for (int32_t x = area.left; x < area.right; ++x) {
      const double u = (x + 0.5 - fill.phaseX) / fill.scale - 0.5;
      const double fx = std::floor(u);
      const double wx = u - fx;
      const int x0 = wrap(static_cast<int64_t>(fx), w), x1 = wrap(static_cast<int64_t>(fx) + 1, w);
      const uint32_t c[4] = {premultiplied(tile[static_cast<size_t>(y0) * w + x0]),
                             premultiplied(tile[static_cast<size_t>(y0) * w + x1]),
                             premultiplied(tile[static_cast<size_t>(y1) * w + x0]),
                             premultiplied(tile[static_cast<size_t>(y1) * w + x1])};
      const double k[4] = {(1 - wx) * (1 - wy), wx * (1 - wy), (1 - wx) * wy, wx * wy};
      double ch[4] = {0, 0, 0, 0};  // a, r, g, b
      for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) ch[j] += k[i] * (c[i] >> (24 - 8 * j) & 255);
      }
      const uint32_t a = static_cast<uint32_t>(ch[0] + 0.5);
      if (a == 0) {
        *out++ = 0;
        continue;
      }
      uint32_t px = a << 24;
      for (int j = 1; j < 4; ++j) {
        const double straight = std::min(255.0, ch[j] * 255 / ch[0]);
        px |= static_cast<uint32_t>(straight + 0.5) << (24 - 8 * j);
      }
      *out++ = px;
    }
  }
}

}  // namespace korvex::psd
