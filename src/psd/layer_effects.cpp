// A layer with effects: its shape (its alpha times its masks) gives the
// effect images (effects_render.h), drawn below and above the layer's own
// pixels. Photoshop's layer opacity acts on the layer and its effects as
// one: with opacity below 100 % they are drawn onto a copy of the backdrop,
// which is then mixed back by the opacity.
#include <algorithm>

#include "psd/effects_render.h"
#include "psd/render.h"

namespace korvex::psd::render {

namespace {

// The box of the layer's shape that its effects start from: its own
// bounds, beyond the canvas as far as the effects can reach back onto it.
// Vector mask bounds are measured against the canvas itself, so a
// vector-masked shape stops at the canvas edge.
Box effectShapeBox(const Context& c, const LayerRecord& r) {
  const Box near = grow(c.canvas, effectsReach(r.effects));
  return intersect(layerBoundsWithin(r, r.vectorMask ? c.canvas : near), near);
}

// The effects "blend interior effects as group" gathers with the layer.
bool interior(EffectKind kind) {
  return kind == EffectKind::kPatternOverlay || kind == EffectKind::kGradientOverlay ||
         kind == EffectKind::kColorOverlay || kind == EffectKind::kSatin || kind == EffectKind::kInnerGlow;
}

}  // namespace

bool drawsEffects(const LayerRecord& r) {
  return r.effects.drawn() && shows(r) && r.layerType != kLayerAdjustment;
}

Box effectsBounds(const Context& c, const LayerRecord& r) {
  return intersect(grow(effectShapeBox(c, r), effectsReach(r.effects)), c.canvas);
}

bool drawWithEffects(Context& c, const LayerRecord& r, Surface& dst, const Box& area, const ClipShape* clip,
                     const Image* clipGroup) {
  const Box shapeBox = effectShapeBox(c, r);
  if (shapeBox.empty()) return true;
  std::vector<uint32_t> scratch;
  Image content;
  if (!layerContent(c, r, shapeBox, scratch, content)) return true;
  // A mask that hides effects cuts the layer and its effects alike;
  // otherwise the masks shape what the effects are made from. Without
  // "transparency shapes layer" the layer's alpha does not shape them.
  const bool masksHideEffects = (r.layerMaskHidesEffects && r.mask.present()) ||
                                (r.vectorMaskHidesEffects && r.vectorMask && !r.vectorMask->disabled);
  MaskRows masks;
  if (!masksHideEffects && !masks.prepare(r, shapeBox)) return false;
  const size_t w = static_cast<size_t>(shapeBox.right - shapeBox.left);
  std::vector<uint32_t> shape(w * static_cast<size_t>(shapeBox.bottom - shapeBox.top));
  for (int32_t y = shapeBox.top; y < shapeBox.bottom; ++y) {
    const uint32_t* s = content.row(shapeBox.left, y);
    const uint8_t* m = masks.active() ? masks.row(y) : nullptr;
    uint32_t* out = &shape[static_cast<size_t>(y - shapeBox.top) * w];
    for (size_t i = 0; i < w; ++i) {
      const uint32_t a = r.transparencyShapesLayer ? s[i] >> 24 : 255;
      out[i] = (m ? div255(a * m[i]) : a) << 24;
    }
  }
  EffectSource source;
  source.shape = shape.data();
  source.shapeBox = shapeBox;
  source.fillOpacity = r.fillOpacity;
  source.canvasWidth = c.canvas.right;
  source.canvasHeight = c.canvas.bottom;
  source.patterns = &c.document.patterns;
  std::vector<EffectImage> images;
  if (!renderEffects(r.effects, source, images)) return false;
  for (EffectImage& e : images) toPlane(c.plane, e.pixels.data(), e.pixels.size());

  // Interior effects lie atop the layer's own pixels, with them as a group:
  // always at full fill opacity, and when "blend interior effects as group"
  // is on (the fill opacity then acts on them too). Otherwise, below full
  // fill, they blend with what lies under the layer as well.
  const bool grouped = r.blendInteriorEffects || r.fillOpacity == 255;
  // The effects drawn in that group: the interior ones, and for a normal
  // layer at full fill opacity every other effect clipped to the layer
  // (inner shadows, inner bevels), which then shades only the layer's part
  // of its edge pixels; the group's mode leaves them as they are.
  auto inGroup = [&](const EffectImage& e) {
    const bool clippedHere = e.clipped && r.fillOpacity == 255 && r.blendMode == BlendMode::kNormal;
    return grouped && (interior(e.kind) || clippedHere);
  };
  Buffer copy;
  const bool whole = r.opacity < 255;
  if (whole && !copy.copyOf(dst, area)) return false;
  Surface& target = whole ? copy.surface() : dst;
  auto drawEffects = [&](bool below) {
    for (const EffectImage& e : images) {
      if (e.below != below || (!below && inGroup(e))) continue;
      const Image image(e.box, e.pixels.data(), static_cast<size_t>(e.box.right - e.box.left));
      if (!drawImage(c, target, image, intersect(e.box, area), 255u * e.opacity, masksHideEffects ? &r : nullptr,
                     e.mode, clip, false, e.opacity, nullptr, true))
        return false;
    }
    return true;
  };
  if (!drawEffects(true)) return false;
  const Box own = intersect(layerBoundsWithin(r, c.canvas), area);
  const uint8_t fill = clipGroup ? 255 : r.fillOpacity;  // a clipping group's alpha holds it
  if (grouped) {
    // The layer on its own canvas, the interior effects laid atop it (each
    // effect's coverage taken relative to the layer's own), then the whole
    // with the layer's mode.
    Buffer group;
    if (!group.allocate(own) ||
        !drawImage(c, group.surface(), clipGroup ? *clipGroup : content, own, 65025, &r, BlendMode::kNormal, nullptr))
      return false;
    Surface& g = group.surface();
    std::vector<uint32_t> relative;
    bool covered = false;  // interior effects lie over the shape's stroke
    for (const EffectImage& e : images) {
      const Box box = intersect(e.box, own);
      if (!inGroup(e) || box.empty()) continue;
      covered = true;
      const size_t w = static_cast<size_t>(box.right - box.left);
      relative.resize(w * static_cast<size_t>(box.bottom - box.top));
      const Image source(e.box, e.pixels.data(), static_cast<size_t>(e.box.right - e.box.left));
      for (int32_t y = box.top; y < box.bottom; ++y) {
        const uint32_t* s = source.row(box.left, y);
        const uint32_t* under = g.row(box.left, y);
        uint32_t* out = &relative[static_cast<size_t>(y - box.top) * w];
        for (size_t i = 0; i < w; ++i) {
          const uint32_t a = s[i] >> 24, own8 = under[i] >> 24;
          const uint32_t rel = own8 == 0 ? 0 : std::min<uint32_t>(255, (a * 255 + own8 / 2) / own8);
          out[i] = rel << 24 | (s[i] & 0xFFFFFFu);
        }
      }
      if (!drawImage(c, g, Image(box, relative.data(), w), box, 255u * e.opacity, nullptr, e.mode, nullptr, true,
                     e.opacity, nullptr, true))
        return false;
    }
    // The shape's own stroke lies over its interior effects.
    if (covered && strokesPath(r) && !drawShapeStroke(c, r, g, own, true)) return false;
    if (!drawImage(c, target, g, own, 255u * fill, nullptr, r.blendMode, clip, false, fill, &r.blendIf)) return false;
  } else if (!drawImage(c, target, clipGroup ? *clipGroup : content, own, 255u * fill, &r, r.blendMode, clip, false,
                        fill, &r.blendIf)) {
    return false;
  }
  if (!drawEffects(false)) return false;
  if (whole) {
    std::vector<uint8_t> t(static_cast<size_t>(area.right - area.left), r.opacity);
    for (int32_t y = area.top; y < area.bottom; ++y)
      mixRow(dst.row(area.left, y), target.row(area.left, y), t.data(), area.right - area.left, c.linearLight);
  }
  return true;
}

}  // namespace korvex::psd::render
