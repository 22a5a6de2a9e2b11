// One layer's drawing: its colour (pixels or fill), its coverage (alpha,
// opacity, fill opacity, masks, clipping) and its blend onto a surface.
//
// A layer is drawn in one pass over its box: the colour row, the coverage
// row, then the blend. A layer with effects is drawn by drawWithEffects
// (layer_effects.cpp): its effect images are drawn with drawImage before
// and after the layer's own.
#include <algorithm>
#include <new>

#include "psd/render.h"

namespace korvex::psd::render {

bool Buffer::allocate(const Box& box) {
  surface_ = Surface{};
  const size_t w = static_cast<size_t>(box.right - box.left), h = static_cast<size_t>(box.bottom - box.top);
  pixels_.reset(new (std::nothrow) uint32_t[w * h]);
  if (!pixels_) return false;
  std::fill(pixels_.get(), pixels_.get() + w * h, kTransparentWhite);
  surface_ = Surface{box, pixels_.get(), w};
  return true;
}

bool Buffer::copyOf(const Surface& from, const Box& box) {
  if (!allocate(box)) return false;
  const size_t w = static_cast<size_t>(box.right - box.left);
  for (int32_t y = box.top; y < box.bottom; ++y) std::copy_n(from.row(box.left, y), w, surface_.row(box.left, y));
  return true;
}

// Dissolve draws a pixel fully or not at all: fully where the table's byte
// is below the pixel's coverage. The table is made once per document from
// the linear congruential generator of the Microsoft C library (state =
// state * 214013 + 2531011, value = bits 16..30 of the state) seeded with
// 0, one value modulo 255 per canvas pixel, so every run and machine gets
// the same table and full coverage always draws.
const uint8_t* Context::randomTable() {
  if (random.empty()) {
    random.resize(static_cast<size_t>(canvas.right) * static_cast<size_t>(canvas.bottom));
    uint32_t state = 0;
    for (uint8_t& v : random) {
      state = state * 214013u + 2531011u;
      v = static_cast<uint8_t>(((state >> 16) & 0x7FFFu) % 255u);
    }
  }
  return random.data();
}

bool shows(const LayerRecord& r) { return r.visible && r.opacity > 0 && (r.warning.empty() || r.storedRendering()); }

namespace {

// An adjustment layer Korvex can apply.
bool adjusts(const LayerRecord& r) {
  return r.adjustment && r.adjustment->kind != AdjustmentKind::kUnknown;
}

// The layer's own pixels draw it, fill layers' stored pixels included: for
// shape and fill layers Photoshop keeps its own rendering of the fill there.
bool drawsStoredPixels(const LayerRecord& r) {
  return !r.imageData.empty() && r.layerType != kLayerAdjustment;
}

// Draws an adjustment layer: the backdrop's colour changed, laid back over
// the backdrop (keeping its alpha) with the layer's mode, opacity and masks.
bool drawAdjustment(Context& c, const LayerRecord& r, Surface& dst, const Box& area, const ClipShape* clip) {
  const size_t w = static_cast<size_t>(area.right - area.left);
  Buffer adjusted;
  if (!adjusted.copyOf(dst, area)) return false;
  Surface& s = adjusted.surface();
  // In a Lab document the adjustment acts on the backdrop's RGB colour; in
  // a grey one what it makes is grey again. CMYK documents adjust each
  // plane's stored values as RGB components: cyan, magenta and yellow take
  // the red, green and blue mappings of levels and curves, black only the
  // composite one.
  const bool lab = c.plane == Plane::kLab, back = lab || c.plane == Plane::kGrey;
  const Image backdrop(s);
  if (lab) planesToRgb(&c.plane, 1, &backdrop, s, area);
  Adjustment compositeOnly;
  const Adjustment* adjustment = &*r.adjustment;
  if (c.plane == Plane::kBlack) {
    compositeOnly = *r.adjustment;
    std::fill(compositeOnly.levels.begin() + 1, compositeOnly.levels.end(), LevelsChannel{});
    std::fill(compositeOnly.curves.begin() + 1, compositeOnly.curves.end(), std::vector<CurvePoint>{});
    adjustment = &compositeOnly;
  }
  for (int32_t y = area.top; y < area.bottom; ++y) {
    uint32_t* row = s.row(area.left, y);
    applyAdjustment(*adjustment, row, w);
    if (back) toPlane(c.plane, row, w);
    for (size_t i = 0; i < w; ++i) row[i] |= 0xFF000000u;
  }
  return drawImage(c, dst, s, area, uint32_t{r.opacity} * r.fillOpacity, &r, r.blendMode, clip, true, 255,
                   &r.blendIf);
}

// The weight (0..255) one blending range gives value `v`.
uint32_t rangeWeight(const BlendRange& r, uint32_t v) {
  if (v < r.blackLow || v > r.whiteHigh) return 0;
  uint32_t w = 255;
  if (v < r.blackHigh) w = (v - r.blackLow) * 255 / (r.blackHigh - r.blackLow);
  if (v > r.whiteLow) w = std::min<uint32_t>(w, (r.whiteHigh - v) * 255 / (r.whiteHigh - r.whiteLow));
  return w;
}

// The weight of a record's blending ranges for a source pixel over a
// backdrop pixel: the product of every range's weight, on the grey value
// (0.3 R + 0.59 G + 0.11 B) and on each of `channels` colour channels.
uint32_t blendIfWeight(const BlendRanges& b, uint32_t src, uint32_t below, int channels) {
  auto grey = [](uint32_t p) { return ((p >> 16 & 255) * 30 + (p >> 8 & 255) * 59 + (p & 255) * 11 + 50) / 100; };
  uint32_t w = div255(rangeWeight(b.own[0], grey(src)) * rangeWeight(b.below[0], grey(below)));
  for (int k = 0; k < channels && w > 0; ++k) {
    const int shift = 16 - 8 * k;
    w = div255(w * rangeWeight(b.own[k + 1], src >> shift & 255));
    w = div255(w * rangeWeight(b.below[k + 1], below >> shift & 255));
  }
  return w;
}

}  // namespace

Box fillReference(const Context& c, const LayerRecord& r) {
  if (r.vectorMask && !r.vectorMask->disabled) return bounds(*r.vectorMask, c.canvas.right, c.canvas.bottom);
  if (r.mask.present() && !r.mask.data.empty()) return boxAt(r.mask.left, r.mask.top, r.mask.width, r.mask.height);
  return c.canvas;
}

const Pattern* findPattern(const Document& d, const std::string& id) {
  for (const Pattern& p : d.patterns)
    if (p.id == id) return &p;
  return nullptr;
}

Box layerBoundsWithin(const LayerRecord& r, const Box& within) {
  if (!shows(r)) return Box{};
  if (drawsStoredPixels(r)) return intersect(boxAt(r.left, r.top, r.width, r.height), maskBounds(r, within));
  switch (r.layerType) {
    case kLayerSolidColor:
    case kLayerGradientFill:
    case kLayerPatternFill:
      return builtFromPath(r) ? intersect(maskBounds(r, within), pathContentBounds(r, within))
                              : maskBounds(r, within);
    case kLayerAdjustment: return adjusts(r) ? maskBounds(r, within) : Box{};
    default: return Box{};  // a pixel layer without pixels
  }
}

Box layerBounds(const Context& c, const LayerRecord& r) {
  const Box own = layerBoundsWithin(r, c.canvas);
  return drawsEffects(r) ? unite(own, effectsBounds(c, r)) : own;
}

namespace {

// The layer's stored pixels in the plane being drawn, over `area` (inside
// the layer's box): the document's own colour where the reader kept it
// (the black plane spread from its one stored value), else the RGB pixels
// converted.
void storedContent(const Context& c, const LayerRecord& r, const Box& area, std::vector<uint32_t>& scratch,
                   Image& out) {
  const Box box = boxAt(r.left, r.top, r.width, r.height);
  const size_t stride = static_cast<size_t>(r.width);
  switch (c.plane) {
    case Plane::kRgb:
    case Plane::kGrey:  // grey pixels are read as three equal components
      out = Image{box, r.imageData.data(), stride};
      return;
    case Plane::kLab:
    case Plane::kInks:
      if (r.ownColour.size() != r.imageData.size()) break;
      out = Image{box, r.ownColour.data(), stride};
      return;
    case Plane::kBlack: break;
  }
  const Box part = intersect(area, box);
  const size_t w = static_cast<size_t>(part.right - part.left);
  scratch.resize(w * static_cast<size_t>(part.bottom - part.top));
  const bool black = c.plane == Plane::kBlack && r.ownBlack.size() == r.imageData.size();
  for (int32_t y = part.top; y < part.bottom; ++y) {
    const size_t from = static_cast<size_t>(y - box.top) * stride + static_cast<size_t>(part.left - box.left);
    uint32_t* row = &scratch[static_cast<size_t>(y - part.top) * w];
    if (black) {
      for (size_t i = 0; i < w; ++i)
        row[i] = (r.imageData[from + i] & 0xFF000000u) | r.ownBlack[from + i] * 0x010101u;
    } else {
      std::copy_n(r.imageData.data() + from, w, row);
      toPlane(c.plane, row, w);
    }
  }
  out = Image{part, scratch.data(), w};
}

// The fill of a fill layer over `area` (its pixels or one repeated row).
bool fillContent(const Context& c, const LayerRecord& r, const Box& area, std::vector<uint32_t>& scratch,
                 Image& out) {
  const size_t w = static_cast<size_t>(area.right - area.left);
  switch (r.layerType) {
    case kLayerSolidColor:
      if (r.fillCmyk && (c.plane == Plane::kInks || c.plane == Plane::kBlack))
        scratch.assign(w, 0xFF000000u | (c.plane == Plane::kInks ? *r.fillCmyk >> 8 : (*r.fillCmyk & 0xFF) * 0x010101u));
      else
        scratch.assign(w, toPlane(c.plane, 0xFF000000u | r.fillColor));
      out = Image{area, scratch.data(), 0};
      return true;
    case kLayerGradientFill:
      scratch.resize(w * static_cast<size_t>(area.bottom - area.top));
      renderGradientFill(r.gradientFill, r.gradientFill.alignWithLayer ? fillReference(c, r) : c.canvas, area,
                         scratch.data());
      toPlane(c.plane, scratch.data(), scratch.size());
      out = Image{area, scratch.data(), w};
      return true;
    case kLayerPatternFill: {
      const Pattern* pattern = findPattern(c.document, r.patternFill.patternId);
      if (!pattern) return false;
      scratch.resize(w * static_cast<size_t>(area.bottom - area.top));
      renderPatternFill(r.patternFill, *pattern, area, scratch.data());
      toPlane(c.plane, scratch.data(), scratch.size());
      out = Image{area, scratch.data(), w};
      return true;
    }
    default: return false;
  }
}

// A shape layer built from its path over `area`: the fill cut by the path
// (none when the fill is off), the stroke laid over it.
bool pathContent(Context& c, const LayerRecord& r, const Box& area, std::vector<uint32_t>& scratch, Image& out) {
  const size_t w = static_cast<size_t>(area.right - area.left), n = w * static_cast<size_t>(area.bottom - area.top);
  std::vector<uint32_t> fill;
  Image fillImage;
  std::vector<uint8_t> coverage(n, 0);
  const bool filled = r.shapeStroke->fillEnabled && fillContent(c, r, area, fill, fillImage);
  if (filled) rasterise(*r.vectorMask, area, coverage.data());
  scratch.assign(n, kTransparentWhite);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const size_t row = static_cast<size_t>(y - area.top) * w;
    const uint32_t* f = filled ? fillImage.row(area.left, y) : nullptr;
    for (size_t i = 0; i < w && f; ++i)
      scratch[row + i] = (f[i] & 0xFFFFFFu) | div255((f[i] >> 24) * coverage[row + i]) << 24;
  }
  Surface s{area, scratch.data(), w};
  if (strokesPath(r) && !drawShapeStroke(c, r, s, area, false)) return false;
  out = s;
  return true;
}

}  // namespace

bool layerContent(Context& c, const LayerRecord& r, const Box& area, std::vector<uint32_t>& scratch,
                  Image& out) {
  if (drawsStoredPixels(r)) {
    storedContent(c, r, area, scratch, out);
    return true;
  }
  if (builtFromPath(r)) return pathContent(c, r, area, scratch, out);
  return fillContent(c, r, area, scratch, out);
}

bool drawImage(Context& c, Surface& dst, const Image& src, const Box& area, uint32_t opacityFill,
               const LayerRecord* maskOwner, BlendMode mode, const ClipShape* clip, bool atop, uint8_t fill,
               const BlendRanges* ranges, bool alphaInBlend) {
  if (area.empty()) return true;
  const int n = area.right - area.left;
  // In the modes that take fill opacity into the blend, the coverage keeps
  // the rest and the source rows carry the fill in their alpha byte.
  alphaInBlend = alphaInBlend && fill > 0 && fillActsInBlend(mode);
  const bool fillInBlend = (alphaInBlend || (fill > 0 && fill < 255)) && fillActsInBlend(mode);
  if (fillInBlend) opacityFill = opacityFill / fill * 255;
  std::vector<uint32_t> withFill(fillInBlend ? static_cast<size_t>(n) : 0);
  // With the source's alpha in the blend too, any covered pixel counts whole.
  auto shown = [alphaInBlend](uint32_t p) { return alphaInBlend ? (p >> 24 ? 255u : 0u) : p >> 24; };
  uint8_t lut[256];
  for (uint32_t a = 0; a < 256; ++a) lut[a] = static_cast<uint8_t>((a * opacityFill + 32512) / 65025);
  MaskRows masks;
  if (maskOwner && !masks.prepare(*maskOwner, area)) return false;
  const bool masked = masks.active();
  // Blending ranges act on the colour channels of RGB and greyscale documents.
  const int colorMode = c.document.colorMode;
  const BlendRanges* blendIf = ranges && ranges->active() && (colorMode == 3 || colorMode == 1) ? ranges : nullptr;
  const uint8_t* random = mode == BlendMode::kDissolve ? c.randomTable() : nullptr;
  const bool keepAlpha = (clip && !clip->over) || atop;
  const RowBlender blend = fillInBlend ? rowBlenderWithFill(mode, keepAlpha, c.linearLight)
                           : keepAlpha ? rowBlenderAtop(mode, c.linearLight)
                                       : rowBlender(mode, c.linearLight);
  std::vector<uint8_t> cover(static_cast<size_t>(n));
  const size_t canvasWidth = static_cast<size_t>(c.canvas.right);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint32_t* s = src.row(area.left, y);
    if (!masked && !clip) {
      for (int i = 0; i < n; ++i) cover[static_cast<size_t>(i)] = lut[shown(s[i])];
    } else {
      const uint8_t* m = masked ? masks.row(y) : nullptr;
      const uint32_t* d = dst.row(area.left, y);
      for (int i = 0; i < n; ++i) {
        uint32_t v = shown(s[i]) * opacityFill;  // <= 255^3
        if (m) v = div255(v * m[i]);
        v = (v + 32512) / 65025;
        if (clip && clip->over) {
          v = div255(v * clip->at(area.left + i, y));
        } else if (clip) {
          const uint32_t da = d[i] >> 24;
          v = da == 0 ? 0 : std::min<uint32_t>(255, (v * clip->at(area.left + i, y) + da / 2) / da);
        }
        cover[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
      }
    }
    if (blendIf) {
      const uint32_t* d = dst.row(area.left, y);
      for (int i = 0; i < n; ++i)
        cover[static_cast<size_t>(i)] = static_cast<uint8_t>(
            div255(cover[static_cast<size_t>(i)] * blendIfWeight(*blendIf, s[i], d[i], colorMode == 3 ? 3 : 1)));
    }
    if (random) {
      const uint8_t* rnd = random + static_cast<size_t>(y) * canvasWidth + static_cast<size_t>(area.left);
      for (int i = 0; i < n; ++i) cover[static_cast<size_t>(i)] = rnd[i] < cover[static_cast<size_t>(i)] ? 255 : 0;
    }
    if (fillInBlend) {
      for (int i = 0; i < n; ++i) {
        const uint32_t f = alphaInBlend ? div255(fill * (s[i] >> 24)) : fill;
        withFill[static_cast<size_t>(i)] = (s[i] & 0xFFFFFFu) | f << 24;
      }
      s = withFill.data();
    }
    blend(dst.row(area.left, y), s, cover.data(), n);
  }
  return true;
}

bool drawLayer(Context& c, const LayerRecord& r, Surface& dst, const Box& limit, const ClipShape* clip) {
  Box area = intersect(intersect(layerBounds(c, r), dst.box), limit);
  if (clip) area = intersect(area, clip->box);
  if (area.empty()) return true;
  if (r.layerType == kLayerAdjustment) return drawAdjustment(c, r, dst, area, clip);
  if (drawsEffects(r)) return drawWithEffects(c, r, dst, area, clip);
  std::vector<uint32_t> scratch;
  Image content;
  if (!layerContent(c, r, area, scratch, content)) return true;
  // Knockout of a clipped layer is not drawn: it would cut through its base.
  if (r.knockout == Knockout::kNone || clip)
    return drawImage(c, dst, content, area, uint32_t{r.opacity} * r.fillOpacity, &r, r.blendMode, clip, false,
                     r.fillOpacity, &r.blendIf);
  return drawKnockout(c, dst, content, area, c.knockoutTo(r.knockout), r.fillOpacity, r.opacity, &r, r.blendMode);
}

bool drawKnockout(Context& c, Surface& dst, const Image& src, const Box& area, const Image* to, uint8_t fill,
                  uint8_t opacity, const LayerRecord* maskOwner, BlendMode mode) {
  const size_t w = static_cast<size_t>(area.right - area.left), h = static_cast<size_t>(area.bottom - area.top);
  Buffer over, shape;
  const bool start = to && to->pixels;
  if (!(start ? over.copyOf(Surface{to->box, const_cast<uint32_t*>(to->pixels), to->stride}, area)
              : over.allocate(area)) ||
      !shape.allocate(area))
    return false;
  // The colour alone, opaque: the shape acts once, in the final mix. With
  // "transparency shapes layer" off the shape is the masks alone.
  const bool shapesByAlpha = !maskOwner || maskOwner->transparencyShapesLayer;
  std::vector<uint32_t> colour(w * h);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint32_t* s = src.row(area.left, y);
    uint32_t* o = &colour[static_cast<size_t>(y - area.top) * w];
    for (size_t i = 0; i < w; ++i) o[i] = s[i] | 0xFF000000u;
  }
  if (!drawImage(c, over.surface(), Image(area, colour.data(), w), area, 255u * fill, nullptr, mode, nullptr, false,
                 fill) ||
      !drawImage(c, shape.surface(), shapesByAlpha ? src : Image(area, colour.data(), w), area, 255u * opacity,
                 maskOwner, BlendMode::kNormal, nullptr))
    return false;
  std::vector<uint8_t> t(w);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint32_t* cov = shape.surface().row(area.left, y);
    for (size_t i = 0; i < w; ++i) t[i] = static_cast<uint8_t>(cov[i] >> 24);
    mixRow(dst.row(area.left, y), over.surface().row(area.left, y), t.data(), static_cast<int>(w), c.linearLight);
  }
  return true;
}

}  // namespace korvex::psd::render
