// Layer effects (layer styles): their settings as read from a layer's
// "lfx2" or "lmfx" block. effects_render.h draws them.
//
// Photoshop stacks a layer's effects in this order, bottom to top:
//   below the layer:  drop shadows, outer glow
//   the layer itself (at its fill opacity)
//   over the layer:   pattern overlay, gradient overlays, colour overlays,
//                     satin, inner glow, inner shadows, strokes, bevel and
//                     emboss (its shadow part, then its highlight part)
// Effects of one kind that occur several times ("lmfx" lists) keep the
// list's order reversed: the first entry of a list is the topmost. Strokes
// lie side by side rather than over each other: the outside part of a
// stroke lies behind the layer's own edge pixels, and an upper stroke takes
// its band from the strokes below it.
//
// Every effect image is blended onto the canvas with the effect's own blend
// mode and opacity (in the modes that take fill opacity into the blend, the
// effect's opacity and its own alpha act there too: a linear dodge
// highlight at 15 % adds 15 % of its colour times its alpha); the effects over the layer act only where the layer's
// shape is (their alpha already holds it), so with fill opacity 0 they show
// on the backdrop directly. The layer's opacity then acts on the layer and
// its effects together.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "psd/fills.h"

namespace korvex::psd {

struct DescriptorValue;  // descriptor.h
enum class BlendMode : uint8_t;  // document.h

enum class EffectKind : uint8_t {
  kDropShadow,       // "DrSh", "dropShadowMulti"
  kOuterGlow,        // "OrGl"
  kPatternOverlay,   // "patternFill"
  kGradientOverlay,  // "GrFl", "gradientFillMulti"
  kColorOverlay,     // "SoFi", "solidFillMulti"
  kSatin,            // "ChFX"
  kInnerGlow,        // "IrGl"
  kInnerShadow,      // "IrSh", "innerShadowMulti"
  kStroke,           // "FrFX", "frameFXMulti"
  kBevel,            // "ebbl"
};

// A contour ("TrnS", "MpgS", "Crv " lists of "CrPt" points on 0..255):
// maps an effect's alpha, 0..255, to the alpha drawn. Between points the
// curve is a natural cubic spline, or straight where a point is a corner
// ("Cnty" false).
struct Contour {
  std::array<uint8_t, 256> table{};
  bool linear = true;  // the identity: the table is not applied
  Contour();
};

enum class StrokePosition : uint8_t { kOutside, kInside, kCenter };
enum class StrokeFill : uint8_t { kColor, kGradient, kPattern };
enum class BevelStyle : uint8_t { kOuter, kInner, kEmboss, kPillowEmboss, kStrokeEmboss };
enum class BevelTechnique : uint8_t { kSmooth, kChiselHard, kChiselSoft };

// One effect. Lengths are in pixels with the effects' scale applied;
// percentages as fractions (0.75 for 75 %).
struct LayerEffect {
  EffectKind kind = EffectKind::kDropShadow;
  BlendMode mode{};         // as read; the parser always sets it
  double opacity = 1;       // 0..1
  uint32_t color = 0;       // 0x00RRGGBB; bevels: the highlight colour
  double angle = 120;       // degrees counter-clockwise from pointing right, the light's direction
  double distance = 0;      // shadows and satin: how far the shape is offset, away from the light
  double spread = 0;        // drop shadow and outer glow spread, inner shadow and inner glow choke: 0..1
  double size = 0;          // blur size; strokes: width; bevels: size
  double range = 0.5;       // glows: the part of the glow the contour spans
  Contour contour;          // shadows, glows, satin; bevels: the gloss contour
  bool invert = false;      // satin
  bool knockOut = true;     // drop shadow: the layer knocks out its shadow
  bool precise = false;     // glows: "Precise" technique (distance based) rather than "Softer"
  bool fromCenter = false;  // inner glow: source centre rather than edge

  // Bevel and emboss.
  BevelStyle bevelStyle = BevelStyle::kInner;
  BevelTechnique technique = BevelTechnique::kSmooth;
  double depth = 1;         // 0.01..10
  bool up = true;           // direction
  double soften = 0;
  double altitude = 30;     // degrees
  BlendMode shadowMode{};
  uint32_t shadowColor = 0;
  double shadowOpacity = 0.75;

  // Stroke.
  StrokePosition position = StrokePosition::kOutside;
  StrokeFill fill = StrokeFill::kColor;
  // Gradient overlays and gradient strokes; pattern overlays and pattern strokes.
  GradientFill gradient;
  PatternFill pattern;
};

struct LayerEffects {
  bool visible = true;  // "masterFXSwitch": false hides every effect
  double scale = 1;     // "Scl ", already applied to the lengths below
  // The enabled effects in drawing order, bottom to top.
  std::vector<LayerEffect> effects;
  // What was skipped ("stroke: unknown colour space"), empty when nothing.
  std::string warning;

  bool drawn() const { return visible && !effects.empty(); }
};

// Light settings of the document ("global light", image resources 1037 and
// 1049) that effects with "uglg" use instead of their own angle.
struct GlobalLight {
  double angle = 120;
  double altitude = 30;
};

// A shape layer's own stroke along its path ("vstk"). Photoshop keeps it
// in the layer's stored pixels together with the fill, but draws it over
// the layers clipped to the shape and over its interior effects.
struct ShapeStroke {
  bool enabled = false;      // "strokeEnabled"
  bool fillEnabled = true;   // "fillEnabled": false leaves the shape unfilled
  double width = 1;          // pixels
  StrokePosition alignment = StrokePosition::kInside;
  BlendMode mode{};          // as read; the parser always sets it
  double opacity = 1;        // 0..1
  StrokeFill fill = StrokeFill::kColor;
  uint32_t color = 0;        // 0x00RRGGBB
  GradientFill gradient;
  PatternFill pattern;
};

// Reads a "vstk" block's descriptor (after its version) into `out`. False
// with `error` when it is damaged or its content cannot be drawn.
bool parseShapeStroke(const DescriptorValue& block, ShapeStroke& out, std::string& error);

// Reads the descriptor of an "lfx2" or "lmfx" block (after its 4-byte
// version and the descriptor's version) into `out`. An effect whose
// settings are damaged is skipped and named in out.warning; the others
// stay. False with `error` only when the block is no effects descriptor at
// all.
bool parseLayerEffects(const DescriptorValue& block, const GlobalLight& light, LayerEffects& out,
                       std::string& error);

}  // namespace korvex::psd
