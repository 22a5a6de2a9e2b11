// Drawing layer effects from the layer's shape: every effect starts from
// the shape's coverage on a working region (the shape's box grown by what
// the effect needs around it, limited to that far beyond the canvas), builds
// its own coverage there and colours it.
//
// As Photoshop's renderings show:
// - a shadow or glow of size s is the shape, grown by s times its spread
//   (or choke), blurred over the rest of s, its coverage mapped through
//   the contour; shadows are offset by their distance away from the light;
// - inner effects use the shape's outside the same way, cut by the shape;
// - a stroke is the band of its width outside, inside or centred on the
//   shape's edge, by exact distance, anti-aliased;
// - satin is the difference of two offset, blurred copies of the shape;
// - bevels light a height field that rises over `size` from the edge.
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
  // The blur reaches 3 deviations; one more pixel keeps the edge.
  return ceilPixels(3 * kSigmaPerSize * (e.size + e.soften) + e.distance) + 2;
}

int32_t drawReach(const LayerEffect& e) {
  switch (e.kind) {
    case EffectKind::kDropShadow:
    case EffectKind::kOuterGlow:
      return workReach(e);
    case EffectKind::kStroke:
      return e.position == StrokePosition::kInside ? 0 : ceilPixels(e.size) + 1;
    case EffectKind::kBevel:
      return e.bevelStyle == BevelStyle::kInner ? 0 : ceilPixels(e.size + e.soften) + 1;
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

// `p` moved by (dx, dy) pixels, interpolated bilinearly between whole
// pixels; what enters from beyond holds p.beyond.
Coverage shifted(const Coverage& p, double dx, double dy) {
  if (dx == 0 && dy == 0) return p;
  const double fx = std::floor(dx), fy = std::floor(dy);
  const float wx = static_cast<float>(dx - fx), wy = static_cast<float>(dy - fy);
  const int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  auto at = [&](int32_t x, int32_t y) {
    return x < 0 || y < 0 || x >= p.width || y >= p.height ? p.beyond : p.at(x, y);
  };
  Coverage out = p;
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x) {
      const int32_t sx = x - ix, sy = y - iy;  // (x - dx) lies between sx - 1 and sx
      const float top = at(sx, sy) * (1 - wx) + at(sx - 1, sy) * wx;
      const float bottom = at(sx, sy - 1) * (1 - wx) + at(sx - 1, sy - 1) * wx;
      out.at(x, y) = top * (1 - wy) + bottom * wy;
    }
  return out;
}

void applyContour(const Contour& contour, Coverage& p) {
  if (contour.linear) return;
  for (float& v : p.values) v = contour.table[static_cast<size_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255))] / 255.0f;
}

// The offset away from the light for `distance` pixels at `angle` (the
// y axis points down).
void offsetOf(const LayerEffect& e, double& dx, double& dy) {
  const double a = e.angle * kPi / 180;
  // Whole pixels stay whole despite the rounding of cos and sin.
  auto snap = [](double v) { return std::fabs(v - std::round(v)) < 1e-9 ? std::round(v) : v; };
  dx = snap(-std::cos(a) * e.distance);
  dy = snap(std::sin(a) * e.distance);
}

// A shadow or glow from `source` (the shape or its outside): grown by the
// spread part of the size, blurred over the rest, through the contour.
Coverage spreadAndBlur(const Coverage& source, const LayerEffect& e) {
  const double grown = e.size * e.spread;
  Coverage p;
  detail::dilate(source, grown, p);
  if (e.precise) {
    // Precise glows fall off linearly with the distance to the grown shape.
    std::vector<float> distance;
    detail::edgeDistance(p, distance);
    const float span = static_cast<float>(std::max(1.0, e.size - grown));
    for (size_t i = 0; i < p.values.size(); ++i)
      if (p.values[i] < 0.5f) p.values[i] = std::max(p.values[i], std::clamp(1 - distance[i] / span, 0.0f, 1.0f));
  } else {
    blurBySize(p, e.size - grown);
  }
  // A glow's range is the part of its coverage the contour spans: coverage
  // at or beyond the range is full.
  if (e.kind == EffectKind::kOuterGlow || e.kind == EffectKind::kInnerGlow)
    for (float& v : p.values) v = std::min(1.0f, v / static_cast<float>(e.range));
  applyContour(e.contour, p);
  return p;
}

// The height of a bevel: rises from 0 at the edge to 1 at `size` inside
// the shape (outside it for `outside`), straight for chisels, rounded by a
// blur for smooth bevels.
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
  if (e.technique == BevelTechnique::kSmooth) blurBySize(h, size / 2);
  if (e.technique == BevelTechnique::kChiselSoft) detail::blur(h, 1);
  return h;
}

// Appends an image of `alpha` (over `region`) in `rgb`, cropped to `box`,
// or with per-pixel colours `colors` (over `box`) when given.
void emit(const Coverage& alpha, const Box& region, const Box& box, uint32_t rgb, const uint32_t* colors,
          BlendMode mode, double opacity, bool below, EffectKind kind, std::vector<EffectImage>& out) {
  EffectImage image;
  image.kind = kind;
  image.box = box;
  image.mode = mode;
  image.opacity = static_cast<uint8_t>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
  image.below = below;
  const int32_t w = box.right - box.left;
  image.pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(box.bottom - box.top));
  bool any = false;
  for (int32_t y = box.top; y < box.bottom; ++y) {
    uint32_t* row = &image.pixels[static_cast<size_t>(y - box.top) * static_cast<size_t>(w)];
    const float* a = &alpha.values[alpha.index(box.left - region.left, y - region.top)];
    const uint32_t* c = colors ? colors + static_cast<size_t>(y - box.top) * static_cast<size_t>(w) : nullptr;
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t color = c ? c[x] : rgb;
      const float cover = c ? a[x] * static_cast<float>(color >> 24) / 255.0f : a[x];
      const uint32_t a8 = static_cast<uint32_t>(std::clamp(cover, 0.0f, 1.0f) * 255.0f + 0.5f);
      any = any || a8 != 0;
      row[x] = a8 << 24 | (color & 0xFFFFFF);
    }
  }
  if (any && image.opacity != 0) out.push_back(std::move(image));
}

// The bounds of the shape's covered pixels on the canvas: what gradients
// aligned with the layer and linked patterns take as the layer's box.
Box coveredBounds(const EffectSource& s) {
  Box b{s.shapeBox.right, s.shapeBox.bottom, s.shapeBox.left, s.shapeBox.top};
  const int32_t w = s.shapeBox.right - s.shapeBox.left;
  for (int32_t y = s.shapeBox.top; y < s.shapeBox.bottom; ++y)
    for (int32_t x = s.shapeBox.left; x < s.shapeBox.right; ++x)
      if (s.shape[static_cast<size_t>(y - s.shapeBox.top) * static_cast<size_t>(w) + static_cast<size_t>(x - s.shapeBox.left)] >> 24) {
        b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x + 1), std::max(b.bottom, y + 1)};
      }
  return b.empty() ? s.shapeBox : b;
}

// The colours of a gradient or pattern fill over `box`, or false when the
// pattern is not in the document.
bool fillColors(const LayerEffect& e, bool gradient, const EffectSource& s, const Box& box,
                std::vector<uint32_t>& colors) {
  colors.resize(static_cast<size_t>(box.right - box.left) * static_cast<size_t>(box.bottom - box.top));
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

void drawBevel(const LayerEffect& e, const Coverage& shape, const Box& region, const Box& box,
               std::vector<EffectImage>& out) {
  // Heights inside and outside the edge; emboss styles split the size.
  const bool inner = e.bevelStyle == BevelStyle::kInner || e.bevelStyle == BevelStyle::kStrokeEmboss;
  const bool outer = e.bevelStyle == BevelStyle::kOuter;
  const double size = std::max(1.0, (inner || outer) ? e.size : e.size / 2);
  Coverage inside = bevelHeight(shape, e, size, false);
  Coverage outside = bevelHeight(shape, e, size, true);
  const double depth = e.depth * (e.up ? 1 : -1) * (e.bevelStyle == BevelStyle::kPillowEmboss ? -1 : 1);
  const double a = e.angle * kPi / 180, alt = e.altitude * kPi / 180;
  const double lx = std::cos(alt) * std::cos(a), ly = -std::cos(alt) * std::sin(a), lz = std::sin(alt);
  Coverage light = shape, dark = shape;
  for (int32_t y = 0; y < shape.height; ++y)
    for (int32_t x = 0; x < shape.width; ++x) {
      const float cover = shape.at(x, y);
      const bool useInside = !outer && (cover >= 0.5f || inner);
      const Coverage& h = useInside ? inside : outside;
      const double sign = useInside ? 1 : (e.bevelStyle == BevelStyle::kPillowEmboss ? 1 : -1);
      const int32_t x0 = std::max(0, x - 1), x1 = std::min(shape.width - 1, x + 1);
      const int32_t y0 = std::max(0, y - 1), y1 = std::min(shape.height - 1, y + 1);
      // Slopes in height per pixel, scaled so depth 100 % over `size` pixels tilts by about 45 degrees.
      const double k = sign * depth * size;
      const double gx = k * (h.at(x1, y) - h.at(x0, y)) / std::max(1, x1 - x0);
      const double gy = k * (h.at(x, y1) - h.at(x, y0)) / std::max(1, y1 - y0);
      const double shade = (-gx * lx - gy * ly + lz) / std::sqrt(gx * gx + gy * gy + 1);
      double hi = std::max(0.0, shade - lz) / std::max(1e-6, 1 - lz);
      double lo = std::max(0.0, lz - shade) / std::max(1e-6, lz);
      // Where the bevel acts: inside the shape, outside it, or both.
      const float where = inner ? cover : outer ? 1 - cover : 1;
      light.at(x, y) = static_cast<float>(std::min(1.0, hi) * where);
      dark.at(x, y) = static_cast<float>(std::min(1.0, lo) * where);
    }
  applyContour(e.contour, light);
  if (e.soften > 0) {
    blurBySize(light, e.soften);
    blurBySize(dark, e.soften);
  }
  emit(dark, region, box, e.shadowColor, nullptr, e.shadowMode, e.shadowOpacity, false, e.kind, out);
  emit(light, region, box, e.color, nullptr, e.mode, e.opacity, false, e.kind, out);
}

void drawEffect(const LayerEffect& e, const EffectSource& s, const Box& region, const Box& box,
                std::vector<EffectImage>& out) {
  const Coverage shape = shapePlane(s, region);
  double dx = 0, dy = 0;
  offsetOf(e, dx, dy);
  Coverage alpha;
  std::vector<uint32_t> colors;
  bool below = false;
  switch (e.kind) {
    case EffectKind::kDropShadow:
    case EffectKind::kOuterGlow: {
      below = true;
      alpha = spreadAndBlur(shape, e);
      if (e.kind == EffectKind::kDropShadow) alpha = shifted(alpha, dx, dy);
      // A layer that knocks out its shadow leaves it only what the layer
      // does not cover; drawn before the layer, the coverage is divided by
      // what the layer at its fill opacity leaves uncovered.
      if (e.kind == EffectKind::kDropShadow && e.knockOut)
        for (size_t i = 0; i < alpha.values.size(); ++i) {
          const float a = shape.values[i], uncovered = 1 - a * s.fillOpacity / 255.0f;
          if (uncovered > 0) alpha.values[i] = std::min(1.0f, alpha.values[i] * (1 - a) / uncovered);
        }
      break;
    }
    case EffectKind::kInnerShadow:
    case EffectKind::kInnerGlow: {
      Coverage outside = shape;
      detail::invert(outside);
      alpha = spreadAndBlur(outside, e);
      if (e.kind == EffectKind::kInnerShadow) alpha = shifted(alpha, dx, dy);
      if (e.fromCenter) detail::invert(alpha);
      for (size_t i = 0; i < alpha.values.size(); ++i) alpha.values[i] *= shape.values[i];
      break;
    }
    case EffectKind::kSatin: {
      Coverage blurred = shape;
      blurBySize(blurred, e.size);
      const Coverage a = shifted(blurred, dx, dy), b = shifted(blurred, -dx, -dy);
      alpha = shape;
      for (size_t i = 0; i < alpha.values.size(); ++i) alpha.values[i] = std::fabs(a.values[i] - b.values[i]);
      applyContour(e.contour, alpha);
      if (e.invert) detail::invert(alpha);
      for (size_t i = 0; i < alpha.values.size(); ++i) alpha.values[i] *= shape.values[i];
      break;
    }
    case EffectKind::kColorOverlay:
      alpha = shape;
      break;
    case EffectKind::kGradientOverlay:
    case EffectKind::kPatternOverlay:
      alpha = shape;
      if (!fillColors(e, e.kind == EffectKind::kGradientOverlay, s, box, colors)) return;
      break;
    case EffectKind::kBevel:
      drawBevel(e, shape, region, box, out);
      return;
    case EffectKind::kStroke:
      return;  // drawStrokes
  }
  emit(alpha, region, box, e.color, colors.empty() ? nullptr : colors.data(), e.mode, e.opacity, below, e.kind, out);
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
  // Each stroke's own coverage outside and inside the shape, topmost first.
  std::vector<Coverage> outer(strokes.size()), inner(strokes.size());
  std::vector<float> outerAbove(n, 0.0f), innerAbove(n, 0.0f);  // the reach of the strokes above
  for (size_t k = strokes.size(); k-- > 0;) {
    const LayerEffect& e = *strokes[k];
    const double outward = e.position == StrokePosition::kOutside ? e.size
                           : e.position == StrokePosition::kCenter ? e.size / 2
                                                                   : 0;
    Coverage outside = shape;
    detail::dilate(shape, outward, outer[k]);
    detail::invert(outside);
    detail::dilate(outside, e.size - outward, inner[k]);  // 1 - inner: the shape shrunk
    for (size_t i = 0; i < n; ++i) {
      const float a = shape.values[i];
      const float grown = outer[k].values[i], band = std::max(0.0f, a - (1 - inner[k].values[i]));
      outer[k].values[i] = std::max(0.0f, grown - std::max(a, outerAbove[i]));
      inner[k].values[i] = std::max(0.0f, band - innerAbove[i]);
      outerAbove[i] = std::max(outerAbove[i], grown);
      innerAbove[i] = std::max(innerAbove[i], band);
    }
  }
  // Coverages to image alphas, lowest stroke first: behind the layer, the
  // layer itself is drawn after every stroke.
  std::vector<float> outerAfter(n), innerAfter(n, 0.0f);
  for (size_t i = 0; i < n; ++i) outerAfter[i] = shape.values[i] * s.fillOpacity / 255.0f;
  for (size_t k = 0; k < strokes.size(); ++k)
    for (size_t i = 0; i < n; ++i) {
      float& o = outer[k].values[i];
      float& in = inner[k].values[i];
      const float co = o, ci = in;
      o = outerAfter[i] < 1 ? std::min(1.0f, co / (1 - outerAfter[i])) : 0;
      in = innerAfter[i] < 1 ? std::min(1.0f, ci / (1 - innerAfter[i])) : 0;
      outerAfter[i] += co;
      innerAfter[i] += ci;
    }
  for (size_t k = strokes.size(); k-- > 0;) {
    const LayerEffect& e = *strokes[k];
    std::vector<uint32_t> colors;
    if (e.fill != StrokeFill::kColor && !fillColors(e, e.fill == StrokeFill::kGradient, s, box, colors)) continue;
    const uint32_t* c = colors.empty() ? nullptr : colors.data();
    emit(outer[k], region, box, e.color, c, e.mode, e.opacity, true, e.kind, out);
    emit(inner[k], region, box, e.color, c, e.mode, e.opacity, false, e.kind, out);
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
