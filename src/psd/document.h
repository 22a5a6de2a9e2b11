// What the PSD reader gives: the canvas and every layer record in file
// order (the lowest layer first), each with its pixels decoded to 32-bit
// 0xAARRGGBB, straight alpha, whatever the colour mode and depth. Plain
// data: the compositor and the layer walk read it, nothing here reads bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "psd/adjustments.h"
#include "psd/effects.h"
#include "psd/fills.h"
#include "psd/gradient.h"
#include "psd/vector_mask.h"

namespace korvex::psd {

// An allocator whose resize() leaves new elements uninitialised, for
// buffers the decoder writes in full: fresh memory is touched once, by the
// decoder, instead of first being zero-filled.
template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  DefaultInitAllocator() = default;
  template <typename U>
  DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// Pixels a decoder fills: a vector that does not zero what it adds.
template <typename T>
using PixelBuffer = std::vector<T, DefaultInitAllocator<T>>;

// A layer's decoded pixels: size() values in memory its Document holds
// (Document::pixelMemory), or none. Copies show the same pixels; equal
// when the values are.
class LayerPixels {
 public:
  LayerPixels() = default;
  LayerPixels(uint32_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t* data() { return data_; }
  const uint32_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint32_t operator[](size_t i) const { return data_[i]; }
  uint32_t front() const { return data_[0]; }
  const uint32_t* begin() const { return data_; }
  const uint32_t* end() const { return data_ + size_; }
  friend bool operator==(const LayerPixels& a, const LayerPixels& b) {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  uint32_t* data_ = nullptr;
  size_t size_ = 0;
};

// layer_type values. 3 and above are fill and adjustment layers.
enum LayerType : int32_t {
  kLayerNormal = 0,          // pixel layer
  kLayerSectionDivider = 1,  // closes a group from below (section divider setting 3)
  kLayerGroupHeader = 2,     // carries the group's name, visibility, blending (setting 1 or 2)
  kLayerSolidColor = 3,
  kLayerGradientFill = 4,
  kLayerPatternFill = 5,
  kLayerAdjustment = 6,      // levels and every other adjustment layer
};

// Blend modes by their four-character keys in the file. Unknown keys read
// as normal.
enum class BlendMode : uint8_t {
  kPassThrough,  // "pass": a group that composes its children directly
  kNormal,       // "norm"
  kDissolve,     // "diss"
  kDarken,       // "dark"
  kMultiply,     // "mul "
  kColorBurn,    // "idiv"
  kLinearBurn,   // "lbrn"
  kDarkerColor,  // "dkCl"
  kLighten,      // "lite"
  kScreen,       // "scrn"
  kColorDodge,   // "div "
  kLinearDodge,  // "lddg"
  kLighterColor, // "lgCl"
  kOverlay,      // "over"
  kSoftLight,    // "sLit"
  kHardLight,    // "hLit"
  kVividLight,   // "vLit"
  kLinearLight,  // "lLit"
  kPinLight,     // "pLit"
  kHardMix,      // "hMix"
  kDifference,   // "diff"
  kExclusion,    // "smud"
  kSubtract,     // "fsub"
  kDivide,       // "fdiv"
  kHue,          // "hue "
  kSaturation,   // "sat "
  kColor,        // "colr"
  kLuminosity,   // "lum "
};

// How far a layer knocks out the layers below it ("knko").
enum class Knockout : uint8_t { kNone, kShallow, kDeep };

// A mask's density and feather (the Properties panel): the mask is blurred
// by the feather, then moved towards showing everything as density falls,
// value' = 255 - density * (255 - value) / 255.
struct MaskSoftness {
  uint8_t density = 255;  // 255 hides fully where the mask is 0
  double feather = 0;     // blur radius in pixels, 0 to kMaxFeather
  static constexpr double kMaxFeather = 1000;
  bool acts() const { return density != 255 || feather > 0; }
};

// The layer's raster mask (channel -2): 255 shows the layer, 0 hides it.
struct LayerMask {
  int32_t top = 0, left = 0, width = 0, height = 0;  // the mask's own rectangle
  uint8_t defaultColor = 255;  // value outside the rectangle
  bool disabled = false;       // flags bit 1: the mask is ignored
  bool inverted = false;       // flags bit 2: inverted when blending
  bool fromVectorMask = false; // flags bit 3: rendered from the vector mask, which it then stands for
  std::vector<uint8_t> data;   // width*height values, empty when the rectangle is empty
  // The mask parameters of the record: for this raster mask and for the
  // vector mask. A mask rendered from the vector mask has them applied.
  MaskSoftness user, vector;
  bool present() const { return !disabled && (!data.empty() || defaultColor != 255); }
};

// One "Blend If" slider pair: values below blackLow or above whiteHigh
// hide the layer, values from blackHigh to whiteLow show it, and the split
// halves between ramp linearly.
struct BlendRange {
  uint8_t blackLow = 0, blackHigh = 0, whiteLow = 255, whiteHigh = 255;
  bool full() const { return blackHigh == 0 && whiteLow == 255; }
};

// The layer's blending ranges ("Blend If"): for the grey composite and
// the first three colour channels, one range on the layer's own colour
// and one on the colour below it. Each range's weight multiplies the
// layer's coverage.
struct BlendRanges {
  BlendRange own[4], below[4];  // [0] grey, [1..3] the channels in file order
  bool active() const {
    for (int i = 0; i < 4; ++i)
      if (!own[i].full() || !below[i].full()) return true;
    return false;
  }
};

struct LayerRecord {
  int32_t layerType = kLayerNormal;
  int32_t top = 0;     // canvas position of the top-left pixel, not clipped
  int32_t left = 0;
  int32_t width = 0;   // 0 for a layer without pixels
  int32_t height = 0;
  int16_t numberOfChannels = 0;
  bool visible = true;          // flags bit 1 clear
  // The record has a transparency channel (-1); Photoshop's Background
  // layer, the lowest record, has none.
  bool transparencyChannel = false;
  std::string layerName;        // legacy (Pascal) name, raw bytes as stored
  std::u16string unicodeName;   // "luni" name, read and kept, not used for cells
  // width*height pixels, or empty when the layer has no pixels.
  LayerPixels imageData;
  // CMYK and Lab documents: the same pixels in the document's own colour
  // space, which the renderer blends in: the alpha, then the stored values
  // of L, a, b or of cyan, magenta, yellow (255 - ink); `ownBlack` holds
  // the stored black (255 - ink) of a CMYK document. Empty otherwise.
  PixelBuffer<uint32_t> ownColour;
  PixelBuffer<uint8_t> ownBlack;
  // Index in Document::layerRecords of the group header of the innermost
  // group holding this record (for a header: its enclosing group; for a
  // divider: the group it closes), or -1 at the top level.
  int32_t groupHeader = -1;

  BlendMode blendMode = BlendMode::kNormal;  // a group's blend mode comes from its section divider setting
  uint8_t opacity = 255;
  uint8_t fillOpacity = 255;    // "iOpa"
  bool clipping = false;        // clipped to the nearest lower unclipped layer
  uint8_t flags = 0;            // the record's flags byte as stored
  int32_t sectionType = 0;      // "lsct": 0 none, 1 open folder, 2 closed folder, 3 bounding divider
  LayerMask mask;
  BlendRanges blendIf;          // the record's layer blending ranges
  uint32_t fillColor = 0;       // kLayerSolidColor: 0x00RRGGBB
  // kLayerSolidColor given in CMYK: its stored values (255 - ink),
  // 0xCCMMYYKK, which a CMYK document blends; unset for other colours.
  std::optional<uint32_t> fillCmyk;
  // Advanced blending. "clbl": a clipping base blends its clipped layers
  // with itself first and the result with its own mode ("blend clipped
  // layers as group").
  bool blendClippedAsGroup = true;
  // "infx": the effects inside the shape (overlays, satin, inner glow) are
  // blended with the layer's pixels first and the result with the layer's
  // mode and fill opacity ("blend interior effects as group").
  bool blendInteriorEffects = false;
  // "tsly" ("transparency shapes layer"): the layer's transparency limits
  // its effects and its knockout; off, they act throughout the layer's box.
  bool transparencyShapesLayer = true;
  // "lmgm" / "vmgm": the raster / vector mask hides the effects (cuts the
  // layer and its effects together) rather than shaping the layer the
  // effects are made from.
  bool layerMaskHidesEffects = false;
  bool vectorMaskHidesEffects = false;
  // "vscg": a shape layer (its fill in that block); its stored pixels are
  // Photoshop's own rendering of the fill cut by the path, stroke included.
  bool shapeLayer = false;
  // "vstk": the shape layer's own stroke and whether its fill shows.
  std::optional<ShapeStroke> shapeStroke;
  // "knko": the layer or group knocks out what lies below it, shallow down
  // to the backdrop of its own group, deep down to that of the innermost
  // isolated group around it (at the top level: the document's
  // transparency).
  Knockout knockout = Knockout::kNone;
  GradientFill gradientFill;    // kLayerGradientFill ("GdFl")
  PatternFill patternFill;      // kLayerPatternFill ("PtFl"): the pattern is one of Document::patterns
  // Why the record cannot be drawn (a noise gradient, no pattern named, a
  // damaged fill, adjustment or vector mask block), for a warning; empty
  // when it can. A stored rendering still draws it.
  std::string warning;
  // Features whose blocks are damaged, each "what: why": the layer draws
  // without them (a warning names them).
  std::vector<std::string> leftOut;
  // kLayerAdjustment: the settings from its block. Kinds Korvex cannot draw
  // (colour lookup) read as AdjustmentKind::kUnknown.
  std::optional<Adjustment> adjustment;
  LayerEffects effects;         // "lfx2" or "lmfx"; a damaged block leaves them empty with a warning
  // "vmsk" / "vsms": the path that cuts the layer. A fill layer with one
  // is drawn within the path's bounds.
  std::optional<VectorMask> vectorMask;

  const uint32_t* pixels() const { return imageData.empty() ? nullptr : imageData.data(); }
  // A shape or fill layer with stored pixels: they hold Photoshop's own
  // rendering of its fill cut by its path, and draw it in their place.
  bool storedRendering() const {
    return (shapeLayer || layerType == kLayerSolidColor || layerType == kLayerGradientFill ||
            layerType == kLayerPatternFill) &&
           !imageData.empty();
  }
};

struct Document {
  int32_t width = 0;
  int32_t height = 0;
  int16_t depth = 8;      // bits per channel: 1, 8, 16 or 32
  int16_t colorMode = 3;  // 0 bitmap, 1 grayscale, 2 indexed, 3 RGB, 4 CMYK, 7 multichannel, 8 duotone, 9 Lab
  std::vector<LayerRecord> layerRecords;  // file order, lowest first
  std::vector<Pattern> patterns;          // from the "Patt", "Pat2" and "Pat3" blocks, in file order
  // Where the records' pixels live: laid one after another in page memory,
  // so that a large document's fresh pixels fault in by huge pages.
  platform::PageArena pixelMemory;
};

}  // namespace korvex::psd
