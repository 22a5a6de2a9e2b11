// A shape layer's own stroke ("vstk"): a band along its path, drawn from
// the path itself.
//
// Photoshop's stored pixels of a shape layer hold its fill and its stroke
// as one, but it draws the stroke over the layers clipped to the shape and
// over the shape's interior effects (overlays, satin, inner glow); the
// effects themselves are made from the whole shape, stroke included. The
// band is measured by distance from the path's edge: inside strokes span
// the path's coverage less the coverage shrunk by the width, outside
// strokes the coverage grown by the width less the coverage itself, centre
// strokes half of each. Where the layer has stored pixels, their alpha
// beyond the path is the outer part, mitred corners as Photoshop drew them.
#include <algorithm>
#include <cmath>

#include "psd/effects_raster.h"
#include "psd/render.h"

namespace korvex::psd::render {

namespace {

// How far the stroke's band can lie from the path's edge, in whole pixels.
int32_t bandWidth(const ShapeStroke& s) {
  return static_cast<int32_t>(std::ceil(s.alignment == StrokePosition::kCenter ? s.width / 2 : s.width));
}

// The alpha of the layer's stored pixel at (x, y), 0 beyond them.
uint32_t storedAlpha(const LayerRecord& r, int32_t x, int32_t y) {
  const int64_t dx = int64_t{x} - r.left, dy = int64_t{y} - r.top;
  if (dx < 0 || dy < 0 || dx >= r.width || dy >= r.height) return 0;
  return r.imageData[static_cast<size_t>(dy) * static_cast<size_t>(r.width) + static_cast<size_t>(dx)] >> 24;
}

// The band's coverage (0..1) over `area`, row by row.
std::vector<float> band(const LayerRecord& r, const Box& area) {
  const ShapeStroke& s = *r.shapeStroke;
  // The path is rasterised beyond the area by the band's width, so every
  // distance the band depends on is measured within the plane.
  const int32_t margin = bandWidth(s) + 2;
  const Box plane = grow(area, margin);
  detail::Coverage shape;
  shape.width = plane.right - plane.left;
  shape.height = plane.bottom - plane.top;
  std::vector<uint8_t> coverage(static_cast<size_t>(shape.width) * static_cast<size_t>(shape.height));
  rasterise(*r.vectorMask, plane, coverage.data());
  shape.values.resize(coverage.size());
  std::transform(coverage.begin(), coverage.end(), shape.values.begin(), [](uint8_t v) { return v / 255.0f; });
  detail::Coverage outside = shape, grown, shrunkOutside;
  detail::invert(outside);
  const double reach = s.alignment == StrokePosition::kCenter ? s.width / 2 : s.width;
  // The band: what the grown shape adds (outside and centre strokes; with
  // stored pixels, their alpha beyond the path) and what the shrunk shape
  // loses (inside and centre strokes).
  const bool stored = !r.imageData.empty();
  if (s.alignment != StrokePosition::kInside && !stored) detail::dilate(shape, reach, grown);
  if (s.alignment != StrokePosition::kOutside) detail::dilate(outside, reach, shrunkOutside);
  const size_t w = static_cast<size_t>(area.right - area.left);
  std::vector<float> out(w * static_cast<size_t>(area.bottom - area.top));
  for (int32_t y = area.top; y < area.bottom; ++y)
    for (size_t i = 0; i < w; ++i) {
      const size_t k = shape.index(area.left - plane.left + static_cast<int32_t>(i), y - plane.top);
      float added = grown.values.empty() ? 0 : grown.values[k] - shape.values[k];
      if (stored && s.alignment != StrokePosition::kInside)
        added = static_cast<float>(storedAlpha(r, area.left + static_cast<int32_t>(i), y)) / 255 - shape.values[k];
      const float lost = shrunkOutside.values.empty() ? 0 : shrunkOutside.values[k] - outside.values[k];
      out[static_cast<size_t>(y - area.top) * w + i] = std::clamp(added + lost, 0.0f, 1.0f);
    }
  return out;
}

}  // namespace

bool strokesPath(const LayerRecord& r) {
  return r.shapeStroke && r.shapeStroke->enabled && r.shapeStroke->width > 0 && r.vectorMask &&
         !r.vectorMask->disabled;
}

bool builtFromPath(const LayerRecord& r) {
  const bool fill = r.layerType == kLayerSolidColor || r.layerType == kLayerGradientFill ||
                    r.layerType == kLayerPatternFill;
  return fill && r.shapeStroke && r.vectorMask && !r.vectorMask->disabled && r.imageData.empty();
}

Box shapeStrokeBounds(const LayerRecord& r, const Box& within) {
  if (!strokesPath(r)) return Box{};
  const int32_t out = r.shapeStroke->alignment == StrokePosition::kInside ? 0 : bandWidth(*r.shapeStroke) + 1;
  return intersect(grow(bounds(*r.vectorMask, within.right, within.bottom), out), within);
}

Box pathContentBounds(const LayerRecord& r, const Box& within) {
  const Box fill = r.shapeStroke->fillEnabled ? intersect(bounds(*r.vectorMask, within.right, within.bottom), within)
                                              : Box{};
  return unite(fill, shapeStrokeBounds(r, within));
}

bool drawShapeStroke(Context& c, const LayerRecord& r, Surface& dst, const Box& limit, bool atop) {
  const ShapeStroke& s = *r.shapeStroke;
  const Box area = intersect(intersect(shapeStrokeBounds(r, c.canvas), dst.box), limit);
  if (area.empty()) return true;
  const size_t w = static_cast<size_t>(area.right - area.left), n = w * static_cast<size_t>(area.bottom - area.top);
  std::vector<uint32_t> pixels(n, 0xFF000000u | s.color);
  if (s.fill == StrokeFill::kGradient) {
    renderGradientFill(s.gradient, s.gradient.alignWithLayer ? fillReference(c, r) : c.canvas, area, pixels.data());
  } else if (s.fill == StrokeFill::kPattern) {
    const Pattern* pattern = findPattern(c.document, s.pattern.patternId);
    if (!pattern) return true;
    renderPatternFill(s.pattern, *pattern, area, pixels.data());
  }
  toPlane(c.plane, pixels.data(), n);
  const std::vector<float> cover = band(r, area);
  for (size_t k = 0; k < n; ++k) {
    const uint32_t a = static_cast<uint32_t>(std::lround(static_cast<float>(pixels[k] >> 24) * cover[k]));
    pixels[k] = (pixels[k] & 0xFFFFFFu) | a << 24;
  }
  const uint32_t opacity = static_cast<uint32_t>(std::lround(s.opacity * 255));
  return drawImage(c, dst, Image(area, pixels.data(), w), area, 255 * opacity, nullptr, s.mode, nullptr, atop);
}

}  // namespace korvex::psd::render
