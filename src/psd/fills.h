// Gradient and pattern fill layers: their parameters and the pixels they
// draw over a region of the canvas. The fill is drawn before any mask: the
// caller cuts it with the layer's masks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "psd/box.h"
#include "psd/gradient.h"

namespace korvex::psd {

struct DescriptorValue;  // descriptor.h

enum class GradientStyle : uint8_t { kLinear, kRadial, kAngle, kReflected, kDiamond };

// A gradient fill ("GdFl"). The gradient runs through the centre of its
// reference box (moved by the offset) along the angle; at scale 1 it ends
// where that line leaves the box (through the box's centre); along an
// axis its two end points sit on whole pixels (rounded). Linear and
// reflected gradients are laid out on the box stretched to a square, so
// off the axes they keep the box's aspect ratio. Linear runs from one end point to the other;
// radial, reflected and diamond run from the centre over half of it (the
// diamond's corners on the angle's axes); angle sweeps counter-clockwise
// from the angle's direction.
struct GradientFill {
  Gradient gradient;
  GradientStyle style = GradientStyle::kLinear;
  double angle = 90;               // degrees counter-clockwise from pointing right
  double scale = 1;                // 1 = 100 %
  bool reverse = false;
  bool alignWithLayer = true;      // reference box: the layer's when set, else the canvas
  double offsetX = 0, offsetY = 0; // percent of the reference box's width and height
};

// Draws `fill` over `area` (canvas coordinates) into `out`, one 0xAARRGGBB
// pixel (straight alpha) per pixel of `area`, rows top first. `reference`
// is the box the gradient spans: the layer's bounds when the fill is aligned
// with the layer (for a fill layer Photoshop takes the bounds of its mask),
// the canvas otherwise. Photoshop samples each pixel at its top-left
// corner.
void renderGradientFill(const GradientFill& fill, const Box& reference, const Box& area, uint32_t* out);

// Reads the descriptor of a "GdFl" block (version already read). False with
// `error` when the gradient is missing, has no colour stops or is a noise
// gradient.
bool parseGradientFill(const DescriptorValue& block, GradientFill& fill, std::string& error);

// A pattern from the document's pattern blocks, decoded to 0xAARRGGBB.
struct Pattern {
  std::string id;  // what a pattern fill names it by ("Idnt"), no trailing NUL
  std::u16string name;
  int32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;  // width*height, rows top first
};

// A pattern fill ("PtFl"): the pattern tiles the canvas from the phase
// point, scaled.
struct PatternFill {
  std::string patternId;
  double scale = 1;              // 1 = 100 %
  double phaseX = 0, phaseY = 0; // canvas position of a tile's top-left corner
};

// Draws `fill` with `pattern` over `area` into `out` as above. At scale 1
// with a whole-pixel phase the tiles are the pattern's pixels exactly;
// otherwise each pixel is sampled bilinearly (wrapping around the tile).
// An empty pattern or a scale below 0.1 % draws transparent pixels.
void renderPatternFill(const PatternFill& fill, const Pattern& pattern, const Box& area, uint32_t* out);

// Reads the descriptor of a "PtFl" block. False with `error` when it names
// no pattern.
bool parsePatternFill(const DescriptorValue& block, PatternFill& fill, std::string& error);

// Appends the patterns of a "Patt", "Pat2" or "Pat3" block to `patterns`.
// Every mode the reader reads is decoded (grey, indexed, RGB, CMYK, Lab;
// 1 to 32 bits; raw, RLE or ZIP channels). False with `error` naming the
// pattern on damaged data.
bool parsePatterns(const uint8_t* data, size_t size, std::vector<Pattern>& patterns, std::string& error);

}  // namespace korvex::psd
