// Drawing a layer's effects: the images they make around and over the
// layer's shape, for the compositor to blend (see effects.h for the order).
#pragma once

#include <cstdint>
#include <vector>

#include "psd/box.h"
#include "psd/document.h"
#include "psd/effects.h"

namespace korvex::psd {

// One effect drawn for a layer: `pixels` cover `box` (canvas coordinates,
// inside the canvas), 0xAARRGGBB straight alpha, to be blended with `mode`
// and `opacity` (opacity is not folded into the pixels).
struct EffectImage {
  Box box;
  std::vector<uint32_t> pixels;
  BlendMode mode = BlendMode::kNormal;
  uint8_t opacity = 255;
  bool below = false;  // drawn before the layer itself
  // Drawn only where the layer is and acting on the layer's own pixels, as
  // a layer clipped to it would (inner shadows and glows, satin, overlays,
  // inner bevels): at an anti-aliased edge it shades the layer's part of
  // the pixel, not the backdrop showing through.
  bool clipped = false;
  EffectKind kind = EffectKind::kDropShadow;
};

// What an effect draw needs from the layer and the document.
struct EffectSource {
  const uint32_t* shape = nullptr;  // the layer's pixels after its masks, 0xAARRGGBB
  Box shapeBox;                     // where `shape` lies on the canvas (may reach beyond it)
  uint8_t fillOpacity = 255;        // the layer's fill opacity
  int32_t canvasWidth = 0, canvasHeight = 0;
  const std::vector<Pattern>* patterns = nullptr;  // the document's, for pattern overlays and strokes
};

// How far beyond the layer's shape `effects` can draw, in pixels.
int32_t effectsReach(const LayerEffects& effects);

// Draws every effect of `effects` for `source` into `out` (cleared first),
// in drawing order (the images below the layer and those above it each in
// the order they are to be drawn; several strokes come topmost first, see
// effects_render.cpp), each on the shape's box grown by its reach and clipped
// to the canvas; an effect that draws nothing is left out. Work is
// proportional to those boxes. False when memory runs out.
bool renderEffects(const LayerEffects& effects, const EffectSource& source, std::vector<EffectImage>& out);

}  // namespace korvex::psd
