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
  // Index of the group header this pixel layer is linked to, or -1.
  int32_t groupHeader = -1;
  // Further fields (blend mode, opacity, fill opacity, clipping, mask,
  // section divider settings, fill colour) belong to the reader's design.

  const uint32_t* pixels() const { return imageData.empty() ? nullptr : imageData.data(); }
};

struct Document {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<LayerRecord> layerRecords;  // file order, lowest first
};

// Loads the PSD at `path`. False with `error` saying what is wrong and where
// when the file cannot be read, is not a version-1 PSD of a supported mode
// and depth, or is damaged.
bool loadDocument(const std::string& path, Document& document, std::string& error);
// The same from bytes in memory (tests and fuzzing).
bool parseDocument(const uint8_t* data, size_t size, Document& document, std::string& error);

// A rectangle on the canvas, right and bottom exclusive.
struct Box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

// Blends lists of records of one document into one reused canvas-size
// working buffer, which starts transparent white (0x00FFFFFF).
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
