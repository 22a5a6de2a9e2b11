// Drawing layer effects from the layer's shape: every effect starts from
// the shape's coverage on a working region (the shape's box grown by what
// the effect needs around it, limited to that far beyond the canvas), builds
// its own coverage there and colours it.
//
// As Photoshop's renderings show:
// - a shadow or glow of size s is the shape, grown by s times its spread
//   (or choke), blurred over the rest of s, its coverage mapped through
//   the contour; shadows are offset by their distance away from the light,
//   in whole pixels; wide blurs run on a shrunk plane (detail::Scaled);
// - inner effects use the shape's outside the same way, cut by the shape;
// - a stroke is the band of its width outside, inside or centred on the
//   shape's edge, by exact distance, anti-aliased;
// - satin is the difference of two offset, blurred copies of the shape;
// - bevels light a height field: for smooth bevels the shape blurred over
//   its size (a rounded surface, steepest at the edge, flat where the
//   shape is narrow), for chisels the straight distance from the edge.
#include <algorithm>
#include <cmath>
#include <new>

#include "psd/effects_render.h"
#include "psd/effects_raster.h"

namespace korvex::psd {
namespace {

using detail::Coverage;

constexpr double kPi = 3.14159265358979323846;

// The Gaussian deviation of a shadow or glow per pixel of its size, as
// measured on Photoshop's renderings.
constexpr double kSigmaPerSize = 0.4;

// A smooth bevel's height: the shape blurred with this deviation per pixel
// of the bevel's size, its slopes steepened by this factor; as measured on
// Photoshop's renderings.
constexpr double kBevelSigmaPerSize = 0.5;
constexpr double kBevelDepthPerSize = 1.2;

// Blurs `p` as a shadow or glow of `size` pixels.
void blurBySize(Coverage& p, double size) { detail::blur(p, size * kSigmaPerSize); }

// The region an effect is worked out on: its image's `box` and the part of
// the shape (with a 2-pixel margin of its outside) within `work` pixels of
// the canvas, which is all that can reach the canvas. Beyond it the planes
// hold their `beyond` value, so the region needs no margin for blurs and
// offsets, and it is never larger than the layer and the canvas together.
Box workRegion(const Box& shape, const Box& canvas, int32_t work, const Box& box) {
  return unite(intersect(grow(shape, 2), grow(canvas, work)), box);
}

int32_t ceilPixels(double v) { return static_cast<int32_t>(std::ceil(v)); }

// How far around the shape an effect's work needs the shape, and how far
// from it the effect draws.
int32_t workReach(const LayerEffect& e) {
  // The blur reaches 3 deviations (a smooth bevel's those of its height,
  // then its soften); one more pixel keeps the edge.
  const double deviations = e.kind == EffectKind::kBevel && e.technique == BevelTechnique::kSmooth
                                ? kBevelSigmaPerSize * e.size + kSigmaPerSize * e.soften
                                : kSigmaPerSize * (e.size + e.soften);
  return ceilPixels(3 * deviations + e.distance) + 2;
}

int32_t drawReach(const LayerEffect& e) {
  switch (e.kind) {
    case EffectKind::kDropShadow:
    case EffectKind::kOuterGlow:
      return workReach(e);
    case EffectKind::kStroke:
      return e.position == StrokePosition::kInside ? 0 : ceilPixels(e.size) + 1;
    case EffectKind::kBevel:
      return e.bevelStyle == BevelStyle::kInner ? 0
             : e.technique == BevelTechnique::kSmooth ? workReach(e)
                                                      : ceilPixels(e.size + e.soften) + 1;
    default:
      return 0;
  }
}

// The shape's coverage over `region`.
Coverage shapePlane(const EffectSource& s, const Box& region) {
  Coverage p;
  p.width = region.right - region.left;
  p.height = region.bottom - region.top;
  p.values.assign(static_cast<size_t>(p.width) * static_cast<size_t>(p.height), 0);
  const Box in = intersect(region, s.shapeBox);
  const int64_t shapeWidth = s.shapeBox.right - s.shapeBox.left;
  for (int32_t y = in.top; y < in.bottom; ++y)
    for (int32_t x = in.left; x < in.right; ++x) {
      const uint32_t px = s.shape[(y - s.shapeBox.top) * shapeWidth + (x - s.shapeBox.left)];
      p.at(x - region.left, y - region.top) = static_cast<float>(px >> 24) / 255.0f;
    }
  return p;
}

// The layer's shape coverage at canvas pixel (x, y), 0 beyond its box.
float shapeAt(const EffectSource& s, int32_t x, int32_t y) {
  const Box& b = s.shapeBox;
  if (x < b.left || y < b.top || x >= b.right || y >= b.bottom) return 0;
  const size_t w = static_cast<size_t>(b.right - b.left);
  const uint32_t px = s.shape[static_cast<size_t>(y - b.top) * w + static_cast<size_t>(x - b.left)];
  return static_cast<float>(px >> 24) / 255.0f;
}

float contoured(const Contour& contour, float v) {
  if (contour.linear) return v;
  return contour.table[static_cast<size_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255))] / 255.0f;
}

// The offset away from the light for `distance` pixels at `angle` (the
// y axis points down), in whole pixels: Photoshop moves shadows and satin
// by whole pixels (its renderings show no resampled, softened edge).
void offsetOf(const LayerEffect& e, double& dx, double& dy) {
  const double a = e.angle * kPi / 180;
  dx = std::round(-std::cos(a) * e.distance);
  dy = std::round(std::sin(a) * e.distance);
}

// A shadow's or glow's coverage before its range and contour: the shape
// (or its outside) over `region`, grown by the spread part of the size and
// blurred over the rest, held shrunk by `f` (see detail::Scaled).
struct Soft {
  Coverage plane;
  int32_t f = 1;
  Box region;

  // Reads the coverage at canvas row y, columns x0 to x0 + n - 1, into
  // `out`, through `reader`, a detail::Scaled of `plane`.
  void row(detail::Scaled& reader, int64_t y, int64_t x0, int32_t n, float* out) const {
    reader.row(y - region.top, x0 - region.left, n, out);
  }
};

Soft softShape(const EffectSource& s, const Box& region, bool outside, const LayerEffect& e) {
  const double grown = e.size * e.spread, sigma = (e.size - grown) * kSigmaPerSize;
  Soft soft;
  soft.region = region;
  soft.f = e.precise ? 1 : detail::blurScale(sigma);
  Coverage shape = detail::shrunk(region.right - region.left, region.bottom - region.top, soft.f, 0.0f,
                                  [&](int32_t x, int32_t y) { return shapeAt(s, region.left + x, region.top + y); });
  if (outside) detail::invert(shape);
  detail::dilate(shape, grown / soft.f, soft.plane);
  if (e.precise) {
    // Precise glows fall off linearly with the distance to the grown shape.
    std::vector<float> distance;
    detail::edgeDistance(soft.plane, distance);
    const float span = static_cast<float>(std::max(1.0, e.size - grown));
    for (size_t i = 0; i < soft.plane.values.size(); ++i) {
      float& v = soft.plane.values[i];
      if (v < 0.5f) v = std::max(v, std::clamp(1 - distance[i] / span, 0.0f, 1.0f));
    }
  } else {
    detail::blurScaled(soft.plane, soft.f, sigma);
  }
  return soft;
}

// A shadow's or glow's coverage through its range and contour. A glow's
// range is the part of its coverage the contour spans: coverage at or
// beyond the range is full.
float finished(const LayerEffect& e, float v) {
  if (e.kind == EffectKind::kOuterGlow || e.kind == EffectKind::kInnerGlow)
    v = std::min(1.0f, v / static_cast<float>(e.range));
  return contoured(e.contour, v);
}

// The height of a chisel bevel: rises straight from 0 at the edge to 1 at
// `size` inside the shape (outside it for `outside`), rounded a little for
// a soft chisel.
Coverage bevelHeight(const Coverage& shape, const LayerEffect& e, double size, bool outside) {
  Coverage side = shape;
  if (!outside) detail::invert(side);
  std::vector<float> distance;
  detail::edgeDistance(side, distance);  // distance into the shape (or out of it)
  Coverage h = side;
  for (size_t i = 0; i < h.values.size(); ++i) {
    const float inside = side.values[i] < 0.5f ? distance[i] + 0.5f : 0.5f - side.values[i];
    h.values[i] = std::clamp(inside / static_cast<float>(size), 0.0f, 1.0f);
  }
  if (e.technique == BevelTechnique::kChiselSoft) detail::blur(h, 1);
  return h;
}

// Appends an image over `box` whose coverage row y, box.right - box.left
// values, rowAlpha(y, values) gives, in `rgb`, or with per-pixel colours
// `colors` (over `box`) when given.
template <class RowAlpha>
void emit(RowAlpha rowAlpha, const Box& box, uint32_t rgb, const uint32_t* colors, BlendMode mode, double opacity,
          bool below, EffectKind kind, std::vector<EffectImage>& out, bool clipped = false) {
  EffectImage image;
  image.kind = kind;
  image.box = box;
  image.mode = mode;
  image.opacity = static_cast<uint8_t>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  image.below = below;
  image.clipped = clipped;
  if (image.opacity == 0) return;
  const int32_t w = box.right - box.left;
  // Written once, a row at a time, rather than cleared first: the pages
  // of a canvas-size image cost as much as the effect.
  image.pixels.reserve(static_cast<size_t>(w) * static_cast<size_t>(box.bottom - box.top));
  std::vector<float> a(static_cast<size_t>(w));
  std::vector<uint32_t> row(static_cast<size_t>(w));
  bool any = false;
  for (int32_t y = box.top; y < box.bottom; ++y) {
    rowAlpha(y, a.data());
    const uint32_t* c = colors ? colors + static_cast<size_t>(y - box.top) * static_cast<size_t>(w) : nullptr;
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t color = c ? c[x] : rgb;
      const float cover = c ? a[x] * static_cast<float>(color >> 24) / 255.0f : a[x];
      const uint32_t a8 = static_cast<uint32_t>(std::clamp(cover, 0.0f, 1.0f) * 255.0f + 0.5f);
      any = any || a8 != 0;
      row[static_cast<size_t>(x)] = a8 << 24 | (color & 0xFFFFFF);
    }
    image.pixels.insert(image.pixels.end(), row.begin(), row.end());
  }
  if (any) out.push_back(std::move(image));
}

// The rows of a plane over `region`, for emit.
auto planeRows(const Coverage& plane, const Box& region, const Box& box) {
  return [&plane, region, box](int32_t y, float* a) {
    const float* p = &plane.values[plane.index(box.left - region.left, y - region.top)];
    std::copy(p, p + (box.right - box.left), a);
  };
}

// The rows of the shape's coverage, for emit.
auto shapeRows(const EffectSource& s, const Box& box) {
  return [&s, box](int32_t y, float* a) {
    for (int32_t x = box.left; x < box.right; ++x) a[x - box.left] = shapeAt(s, x, y);
  };
}

// The bounds of the shape's pixels that are at least half covered, as
// Photoshop's selection of a layer's transparency takes them: what
// gradients aligned with the layer and linked patterns take as the layer's
// box (a soft edge does not widen it).
Box coveredBounds(const EffectSource& s) {
  Box b{s.shapeBox.right, s.shapeBox.bottom, s.shapeBox.left, s.shapeBox.top};
  const int32_t w = s.shapeBox.right - s.shapeBox.left;
  for (int32_t y = s.shapeBox.top; y < s.shapeBox.bottom; ++y)
    for (int32_t x = s.shapeBox.left; x < s.shapeBox.right; ++x)
      if (s.shape[static_cast<size_t>(y - s.shapeBox.top) * static_cast<size_t>(w) +
                  static_cast<size_t>(x - s.shapeBox.left)] >> 24 >= 128) {
        b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x + 1), std::max(b.bottom, y + 1)};
      }
  return b.empty() ? s.shapeBox : b;
}

// The colours of a gradient or pattern fill over `box`, or false when the
// pattern is not in the document.
bool fillColors(const LayerEffect& e, bool gradient, const EffectSource& s, const Box& box,
                std::vector<uint32_t>& colors) {
  colors.resize(pixelCount(box));
  const Box layer = coveredBounds(s);
  if (gradient) {
    const Box canvas{0, 0, s.canvasWidth, s.canvasHeight};
    renderGradientFill(e.gradient, e.gradient.alignWithLayer ? layer : canvas, box, colors.data());
    return true;
  }
  if (!s.patterns) return false;
  for (const Pattern& p : *s.patterns) {
    if (p.id != e.pattern.patternId) continue;
    renderPatternFill(e.pattern, p, box, colors.data());
    return true;
  }
  return false;
}

// The slopes of a smooth bevel's surface, height change per pixel along x
// and y, into planes shrunk by the returned factor (see detail::Scaled):
// its height is the shape's coverage blurred over the bevel's size, so the
// surface rounds off over the whole size. The slopes are taken on the
// shrunk plane and read back smoothly.
int32_t smoothSlopes(const Coverage& shape, double size, Coverage& sx, Coverage& sy) {
  const double sigma = size * kBevelSigmaPerSize;
  const int32_t f = detail::blurScale(sigma);
  Coverage h = detail::shrunk(shape.width, shape.height, f, shape.beyond,
                              [&](int32_t x, int32_t y) { return shape.at(x, y); });
  detail::blurScaled(h, f, sigma);
  const float kSlope = static_cast<float>(kBevelDepthPerSize);
  sx = h;
  sy = h;
  for (int32_t y = 0; y < h.height; ++y)
    for (int32_t x = 0; x < h.width; ++x) {
      const int32_t x0 = std::max(0, x - 1), x1 = std::min(h.width - 1, x + 1);
      const int32_t y0 = std::max(0, y - 1), y1 = std::min(h.height - 1, y + 1);
      sx.at(x, y) = kSlope * (h.at(x1, y) - h.at(x0, y)) / static_cast<float>(std::max(1, x1 - x0) * f);
      sy.at(x, y) = kSlope * (h.at(x, y1) - h.at(x, y0)) / static_cast<float>(std::max(1, y1 - y0) * f);
    }
  sx.beyond = sy.beyond = 0;
  return f;
}

// The slopes of a chisel bevel at full resolution: its height rises
// straight with the distance from the edge, inside the shape (`outer`
// false) or outside it; emboss styles take each side's own height where
// the shape's coverage puts a pixel.
void chiselSlopes(const Coverage& shape, const LayerEffect& e, double size, bool inner, bool outer,
                  Coverage& gx, Coverage& gy) {
  const Coverage inside = bevelHeight(shape, e, size, false);
  const Coverage outside = bevelHeight(shape, e, size, true);
  gx = shape;
  gy = shape;
  for (int32_t y = 0; y < shape.height; ++y)
    for (int32_t x = 0; x < shape.width; ++x) {
      const bool useInside = !outer && (shape.at(x, y) >= 0.5f || inner);
      const Coverage& h = useInside ? inside : outside;
      // Outside, the height rises away from the edge: the surface falls.
      const float sign = useInside ? 1.0f : -1.0f;
      const int32_t x0 = std::max(0, x - 1), x1 = std::min(shape.width - 1, x + 1);
      const int32_t y0 = std::max(0, y - 1), y1 = std::min(shape.height - 1, y + 1);
      gx.at(x, y) = sign * (h.at(x1, y) - h.at(x0, y)) / static_cast<float>(std::max(1, x1 - x0));
      gy.at(x, y) = sign * (h.at(x, y1) - h.at(x, y0)) / static_cast<float>(std::max(1, y1 - y0));
    }
  gx.beyond = gy.beyond = 0;
}

// The bevel's highlight and shadow are shaded a row at a time from its
// slopes; only a softened bevel keeps them as planes, to blur them.
void drawBevel(const LayerEffect& e, const Coverage& shape, const Box& region, const Box& box,
               std::vector<EffectImage>& out) {
  // Emboss styles split the size between the inside and the outside.
  const bool inner = e.bevelStyle == BevelStyle::kInner || e.bevelStyle == BevelStyle::kStrokeEmboss;
  const bool outer = e.bevelStyle == BevelStyle::kOuter;
  const bool pillow = e.bevelStyle == BevelStyle::kPillowEmboss;
  const double size = std::max(1.0, (inner || outer) ? e.size : e.size / 2);
  Coverage slopeX, slopeY;
  int32_t f = 1;
  if (e.technique == BevelTechnique::kSmooth)
    f = smoothSlopes(shape, size, slopeX, slopeY);
  else
    chiselSlopes(shape, e, size, inner, outer, slopeX, slopeY);
  detail::Scaled readX(slopeX, f), readY(slopeY, f);
  const double depth = e.depth * (e.up ? 1 : -1) * (pillow ? -1 : 1);
  const double a = e.angle * kPi / 180, alt = e.altitude * kPi / 180;
  const double lx = std::cos(alt) * std::cos(a), ly = -std::cos(alt) * std::sin(a), lz = std::sin(alt);
  const int32_t w = shape.width;
  std::vector<float> gx(static_cast<size_t>(w)), gy(gx.size());
  // Row y of the region: the highlight and shadow coverage.
  auto shade = [&](int32_t y, float* light, float* dark) {
    readX.row(y, 0, w, gx.data());
    readY.row(y, 0, w, gy.data());
    for (int32_t x = 0; x < w; ++x) {
      const float cover = shape.at(x, y);
      // A pillow emboss sinks the shape's edge: outside it the surface rises back.
      const double sign = pillow && cover < 0.5f ? -1 : 1;
      // Slopes scaled by the depth over the size: at depth 100 % a chisel
      // tilts by 45 degrees.
      const double k = sign * depth * size;
      const double sx = k * gx[static_cast<size_t>(x)], sy = k * gy[static_cast<size_t>(x)];
      const double lit = (-sx * lx - sy * ly + lz) / std::sqrt(sx * sx + sy * sy + 1);
      const double hi = std::max(0.0, lit - lz) / std::max(1e-6, 1 - lz);
      const double lo = std::max(0.0, lz - lit) / std::max(1e-6, lz);
      // Where the bevel acts: inside the shape, outside it, or both.
      const float where = inner ? cover : outer ? 1 - cover : 1;
      light[x] = contoured(e.contour, static_cast<float>(std::min(1.0, hi) * where));
      dark[x] = static_cast<float>(std::min(1.0, lo) * where);
    }
  };
  if (e.soften > 0) {
    Coverage light = shape, dark = shape;
    for (int32_t y = 0; y < shape.height; ++y)
      shade(y, &light.values[light.index(0, y)], &dark.values[dark.index(0, y)]);
    blurBySize(light, e.soften);
    blurBySize(dark, e.soften);
    emit(planeRows(dark, region, box), box, e.shadowColor, nullptr, e.shadowMode, e.shadowOpacity, false, e.kind,
         out, inner);
    emit(planeRows(light, region, box), box, e.color, nullptr, e.mode, e.opacity, false, e.kind, out, inner);
    return;
  }
  std::vector<float> lightRow(gx.size()), darkRow(gx.size());
  auto rows = [&](bool light) {
    return [&, light](int32_t y, float* values) {
      shade(y - region.top, lightRow.data(), darkRow.data());
      const float* from = (light ? lightRow : darkRow).data() + (box.left - region.left);
      std::copy(from, from + (box.right - box.left), values);
    };
  };
  emit(rows(false), box, e.shadowColor, nullptr, e.shadowMode, e.shadowOpacity, false, e.kind, out, inner);
  emit(rows(true), box, e.color, nullptr, e.mode, e.opacity, false, e.kind, out, inner);
}

void drawEffect(const LayerEffect& e, const EffectSource& s, const Box& region, const Box& box,
               std::vector<EffectImage>& out) {
  double dx = 0, dy = 0;
  offsetOf(e, dx, dy);
  std::vector<uint32_t> colors;
  switch (e.kind) {
    case EffectKind::kDropShadow:
    case EffectKind::kOuterGlow: {
      const Soft soft = softShape(s, region, false, e);
      const bool knockOut = e.kind == EffectKind::kDropShadow && e.knockOut;
      if (e.kind == EffectKind::kOuterGlow) dx = dy = 0;
      const float fill = s.fillOpacity / 255.0f;
      detail::Scaled reader(soft.plane, soft.f);
      auto rows = [&](int32_t y, float* a) {
        soft.row(reader, y - static_cast<int64_t>(dy), box.left - static_cast<int64_t>(dx), box.right - box.left, a);
        for (int32_t x = box.left; x < box.right; ++x) {
          float& v = a[x - box.left];
          v = finished(e, v);
          // A layer that knocks out its shadow leaves it only what the
          // layer does not cover; drawn before the layer, the coverage is
          // divided by what the layer at its fill opacity leaves uncovered.
          if (knockOut) {
            const float c = shapeAt(s, x, y), uncovered = 1 - c * fill;
            if (uncovered > 0) v = std::min(1.0f, v * (1 - c) / uncovered);
          }
        }
      };
      emit(rows, box, e.color, nullptr, e.mode, e.opacity, true, e.kind, out);
      return;
    }
    case EffectKind::kInnerShadow:
    case EffectKind::kInnerGlow: {
      const Soft soft = softShape(s, region, true, e);
      if (e.kind == EffectKind::kInnerGlow) dx = dy = 0;
      detail::Scaled reader(soft.plane, soft.f);
      auto rows = [&](int32_t y, float* a) {
        soft.row(reader, y - static_cast<int64_t>(dy), box.left - static_cast<int64_t>(dx), box.right - box.left, a);
        for (int32_t x = box.left; x < box.right; ++x) {
          const float v = finished(e, a[x - box.left]);
          a[x - box.left] = (e.fromCenter ? 1 - v : v) * shapeAt(s, x, y);
        }
      };
      emit(rows, box, e.color, nullptr, e.mode, e.opacity, false, e.kind, out, true);
      return;
    }
    case EffectKind::kSatin: {
      const Soft soft = softShape(s, region, false, e);
      detail::Scaled reader(soft.plane, soft.f);
      std::vector<float> other(static_cast<size_t>(box.right - box.left));
      auto rows = [&](int32_t y, float* a) {
        const int64_t ox = static_cast<int64_t>(dx), oy = static_cast<int64_t>(dy);
        soft.row(reader, y - oy, box.left - ox, box.right - box.left, a);
        soft.row(reader, y + oy, box.left + ox, box.right - box.left, other.data());
        for (int32_t x = box.left; x < box.right; ++x) {
          const size_t i = static_cast<size_t>(x - box.left);
          const float v = contoured(e.contour, std::fabs(a[i] - other[i]));
          a[i] = (e.invert ? 1 - v : v) * shapeAt(s, x, y);
        }
      };
      emit(rows, box, e.color, nullptr, e.mode, e.opacity, false, e.kind, out, true);
      return;
    }
    case EffectKind::kColorOverlay:
      break;
    case EffectKind::kGradientOverlay:
    case EffectKind::kPatternOverlay:
      if (!fillColors(e, e.kind == EffectKind::kGradientOverlay, s, box, colors)) return;
      break;
    case EffectKind::kBevel:
      drawBevel(e, shapePlane(s, region), region, box, out);
      return;
    case EffectKind::kStroke:
      return;  // drawStrokes
  }
  emit(shapeRows(s, box), box, e.color, colors.empty() ? nullptr : colors.data(), e.mode, e.opacity, false, e.kind, out,
       true);
}

// The strokes (bottom to top), over one region: each is the band between
// the shape grown outward and shrunk inward by its parts. The band's part
// outside the shape lies behind the layer: the layer's edge pixels cover
// it, and it fills only what the layer leaves uncovered. The part inside
// lies over the layer. A stroke takes its band from the strokes below it:
// the bands grow from the same edge, so the topmost claims first and a
// lower one keeps what reaches beyond. The parts show side by side, not
// over each other: they are drawn topmost first, each image's coverage
// divided by what the images drawn after it leave uncovered, so the
// topmost blends with the backdrop alone.
void drawStrokes(const std::vector<const LayerEffect*>& strokes, const EffectSource& s, const Box& canvas,
                 std::vector<EffectImage>& out) {
  int32_t work = 0, draw = 0;
  for (const LayerEffect* e : strokes) {
    work = std::max(work, workReach(*e));
    draw = std::max(draw, drawReach(*e));
  }
  const Box box = intersect(grow(s.shapeBox, draw), canvas);
  const Box region = workRegion(s.shapeBox, canvas, work, box);
  if (box.empty() || region.empty()) return;
  const Coverage shape = shapePlane(s, region);
  const size_t n = shape.values.size();
  // Each stroke's own coverage outside and inside the shape, topmost first;
  // a part of no width stays empty (a plane the size of the region each).
  std::vector<Coverage> outer(strokes.size()), inner(strokes.size());
  std::vector<float> outerAbove, innerAbove;  // the reach of the strokes above
  for (size_t k = strokes.size(); k-- > 0;) {
    const LayerEffect& e = *strokes[k];
    const double outward = e.position == StrokePosition::kOutside ? e.size
                           : e.position == StrokePosition::kCenter ? e.size / 2
                                                                   : 0;
    if (outward > 0) {
      detail::dilate(shape, outward, outer[k]);
      outerAbove.resize(n, 0.0f);
      for (size_t i = 0; i < n; ++i) {
        const float grown = outer[k].values[i];
        outer[k].values[i] = std::max(0.0f, grown - std::max(shape.values[i], outerAbove[i]));
        outerAbove[i] = std::max(outerAbove[i], grown);
      }
    }
    if (e.size - outward > 0) {
      Coverage outside = shape;
      detail::invert(outside);
      detail::dilate(outside, e.size - outward, inner[k]);  // 1 - inner: the shape shrunk
      innerAbove.resize(n, 0.0f);
      for (size_t i = 0; i < n; ++i) {
        const float band = std::max(0.0f, shape.values[i] - (1 - inner[k].values[i]));
        inner[k].values[i] = std::max(0.0f, band - innerAbove[i]);
        innerAbove[i] = std::max(innerAbove[i], band);
      }
    }
  }
  // Coverages to image alphas, lowest stroke first: behind the layer, the
  // layer itself is drawn after every stroke.
  auto toAlphas = [&](std::vector<Coverage>& parts, std::vector<float>& after) {
    for (Coverage& part : parts) {
      if (part.values.empty()) continue;
      for (size_t i = 0; i < n; ++i) {
        float& v = part.values[i];
        const float cover = v;
        v = after[i] < 1 ? std::min(1.0f, cover / (1 - after[i])) : 0;
        after[i] += cover;
      }
    }
  };
  if (!outerAbove.empty()) {
    std::vector<float>& after = outerAbove;  // reused
    for (size_t i = 0; i < n; ++i) after[i] = shape.values[i] * s.fillOpacity / 255.0f;
    toAlphas(outer, after);
  }
  if (!innerAbove.empty()) {
    std::fill(innerAbove.begin(), innerAbove.end(), 0.0f);
    toAlphas(inner, innerAbove);
  }
  for (size_t k = strokes.size(); k-- > 0;) {
    const LayerEffect& e = *strokes[k];
    std::vector<uint32_t> colors;
    if (e.fill != StrokeFill::kColor && !fillColors(e, e.fill == StrokeFill::kGradient, s, box, colors)) continue;
    const uint32_t* c = colors.empty() ? nullptr : colors.data();
    if (!outer[k].values.empty())
      emit(planeRows(outer[k], region, box), box, e.color, c, e.mode, e.opacity, true, e.kind, out);
    if (!inner[k].values.empty())
      emit(planeRows(inner[k], region, box), box, e.color, c, e.mode, e.opacity, false, e.kind, out);
  }
}

}  // namespace

int32_t effectsReach(const LayerEffects& effects) {
  int32_t reach = 0;
  if (!effects.visible) return 0;
  for (const LayerEffect& e : effects.effects) reach = std::max(reach, drawReach(e));
  return reach;
}

bool renderEffects(const LayerEffects& effects, const EffectSource& source, std::vector<EffectImage>& out) {
  out.clear();
  if (!effects.drawn() || !source.shape || source.shapeBox.empty()) return true;
  const Box canvas{0, 0, source.canvasWidth, source.canvasHeight};
  try {
    std::vector<const LayerEffect*> strokes;
    for (const LayerEffect& e : effects.effects) {
      if (e.kind == EffectKind::kStroke) {
        strokes.push_back(&e);
        continue;
      }
      if (!strokes.empty()) {  // the strokes come together in the order
        drawStrokes(strokes, source, canvas, out);
        strokes.clear();
      }
      const int32_t work = workReach(e);
      const Box box = intersect(grow(source.shapeBox, drawReach(e)), canvas);
      const Box region = workRegion(source.shapeBox, canvas, work, box);
      if (box.empty() || region.empty()) continue;
      drawEffect(e, source, region, box, out);
    }
    if (!strokes.empty()) drawStrokes(strokes, source, canvas, out);
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace korvex::psd
