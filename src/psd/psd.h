// Korvex's PSD reader and layer compositor.
//
// Reading gives the canvas size and every layer record in file order (the
// lowest layer first), each with its pixels decoded to 32-bit 0xAARRGGBB,
// straight alpha, whatever the colour mode and depth. Compositing blends a
// list of records into a reused working canvas with Photoshop's blend modes,
// opacity, fill opacity, masks, clipping and group links.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvex::psd {

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

// The layer's raster mask (channel -2): 255 shows the layer, 0 hides it.
struct LayerMask {
  int32_t top = 0, left = 0, width = 0, height = 0;  // the mask's own rectangle
  uint8_t defaultColor = 255;  // value outside the rectangle
  bool disabled = false;       // flags bit 1: the mask is ignored
  bool inverted = false;       // flags bit 2: inverted when blending
  std::vector<uint8_t> data;   // width*height values, empty when the rectangle is empty
  bool present() const { return !disabled && (!data.empty() || defaultColor != 255); }
};

struct LayerRecord {
  int32_t layerType = kLayerNormal;
  int32_t top = 0;     // canvas position of the top-left pixel, not clipped
  int32_t left = 0;
  int32_t width = 0;   // 0 for a layer without pixels
  int32_t height = 0;
  int16_t numberOfChannels = 0;
  bool visible = true;          // flags bit 1 clear
  std::string layerName;        // legacy (Pascal) name, raw bytes as stored
  std::u16string unicodeName;   // "luni" name, read and kept, not used for cells
  // width*height pixels, or empty when the layer has no pixels.
  std::vector<uint32_t> imageData;
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
  uint32_t fillColor = 0;       // kLayerSolidColor: 0x00RRGGBB

  const uint32_t* pixels() const { return imageData.empty() ? nullptr : imageData.data(); }
};

struct Document {
  int32_t width = 0;
  int32_t height = 0;
  int16_t depth = 8;      // bits per channel: 1, 8, 16 or 32
  int16_t colorMode = 3;  // 0 bitmap, 1 grayscale, 2 indexed, 3 RGB, 4 CMYK, 7 multichannel, 8 duotone, 9 Lab
  std::vector<LayerRecord> layerRecords;  // file order, lowest first
};

// Loads the PSD at `path`. False with `error` saying what is wrong and where
// when the file cannot be read, is not a version-1 PSD of a supported mode
// and depth, or is damaged.
bool loadDocument(const std::string& path, Document& document, std::string& error);
// The same from bytes in memory (tests and fuzzing).
bool parseDocument(const uint8_t* data, size_t size, Document& document, std::string& error);
// The document's own merged image (width*height pixels, colour channels
// only, alpha 255), as the writing program flattened it. Not needed by the
// conversion; tests compare composites with it.
bool readMergedImage(const uint8_t* data, size_t size, std::vector<uint32_t>& pixels, std::string& error);

// A rectangle on the canvas, right and bottom exclusive.
struct Box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

// Blends lists of records of one document into one reused canvas-size
// working buffer, which starts transparent white (0x00FFFFFF).
//
// Drawn: pixel layers and solid colour fill layers, with every blend mode,
// opacity times fill opacity, layer masks and clipping to the nearest lower
// unclipped record. Not drawn: hidden records, records of opacity 0, and
// records inside a group (at any depth) whose header is hidden or has
// opacity 0. Every enclosing group's opacity scales its layers (a group
// cell shows its layers as the document shows them). Left undrawn: gradient
// and pattern fills and adjustment layers. Simplified: nested groups are
// blended as pass-through (their own blend mode and mask are not applied),
// clipped layers are laid on the canvas one by one inside the base's shape
// with the base's opacity (its blend mode does not act on them), and fill opacity
// acts like opacity in every mode. Dissolve uses a fixed per-document table
// of random bytes (see compositor.cpp), so results repeat exactly.
class Compositor {
 public:
  explicit Compositor(const Document& document);
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  // Blends `records` (records of the document, lowest first) onto the
  // working canvas. `touched` receives the canvas box outside which the
  // canvas is still transparent white. False when memory runs out.
  bool composite(const std::vector<const LayerRecord*>& records, Box& touched);
  // The working canvas: width*height pixels, rows top first.
  const uint32_t* canvas() const;
  // Restores `box` to transparent white for the next composite.
  void clear(const Box& box);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace korvex::psd
