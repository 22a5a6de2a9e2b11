// A test-only PSD writer: builds PSD files with given layers, groups, flags,
// raw legacy names, masks, clipping, blend modes, depths and compressions.
// Records are given in file order: the lowest layer first, the topmost last.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvex::test {

enum class PsdRecordKind {
  kPixel,         // an ordinary pixel layer
  kGroupHeader,   // section divider setting 1 (open folder); 2 with closedFolder
  kDivider,       // section divider setting 3, the record that closes a group from below
  kSolidFill,     // a solid colour fill layer ("SoCo"), colour in fillColor
  kAdjustment,    // an adjustment layer (levels, "levl")
};

enum class PsdCompression { kRaw = 0, kRle = 1, kZip = 2, kZipPrediction = 3 };

struct PsdMask {
  int32_t top = 0, left = 0, width = 0, height = 0;
  std::vector<uint8_t> pixels;  // width*height, 0 = hidden, 255 = shown
  uint8_t defaultColor = 0;     // outside the mask rectangle
  bool disabled = false;
  bool invert = false;          // flags bit 2 ("invert layer mask when blending")
  // Mask parameters as stored (a flag byte, then the densities and
  // feathers it names): written after the flags, with flags bit 4, when
  // not empty.
  std::string parameters;
};

struct PsdRecord {
  PsdRecordKind kind = PsdRecordKind::kPixel;
  std::string name;             // legacy name, raw bytes (may be Shift_JIS)
  std::u16string unicodeName;   // written as "luni" when not empty
  int32_t top = 0, left = 0, width = 0, height = 0;
  std::vector<uint32_t> pixels; // width*height 0xAARRGGBB, straight alpha
  std::vector<uint8_t> black;   // CMYK: width*height stored black values (255 - ink); empty: no black ink
  bool hidden = false;          // flags bit 1
  bool transparency = true;     // false: no alpha channel (3 channels: the background layer)
  std::string blendMode = "norm";  // four-character key; groups default to "pass" in group()
  uint8_t opacity = 255;
  uint8_t fillOpacity = 255;    // written as "iOpa" when below 255
  bool clipping = false;
  bool closedFolder = false;    // group header only
  uint32_t fillColor = 0;       // kSolidFill: 0x00RRGGBB
  bool hasMask = false;
  PsdMask mask;
  std::string dividerName = "</Layer group>";  // kDivider legacy name
  // The layer blending ranges as stored (4 bytes per range), empty for none.
  std::string blendingRanges;
  // More tagged blocks as (key, data), written after the others.
  std::vector<std::pair<std::string, std::string>> blocks;
};

struct PsdOptions {
  int32_t width = 0, height = 0;
  // 8, 16 (v stored as v*257) or 32 (colour as the linear float (v/255)^2.2,
  // alpha and masks as v/255); 1 only with no layers.
  int depth = 8;
  // 3 RGB, 1 Grayscale (the red component), 4 CMYK (R, G, B stored as C, M,
  // Y; black from PsdRecord::black), 9 Lab (R, G, B stored as L, a, b), 0 Bitmap
  int colorMode = 3;
  PsdCompression compression = PsdCompression::kRle;  // every layer channel
  // A merged image composed of the visible pixel layers (normal mode, with
  // opacity) over white; false writes an all-white merged image.
  bool withMergedImage = true;
  // A large document (PSB, version 2) with its wider length fields.
  bool psb = false;
  // Tagged blocks of the layer and mask section as (key, data), written
  // after the layer info ("Patt" and the like).
  std::vector<std::pair<std::string, std::string>> globalBlocks;
  // Image resources as (id, data), unnamed ("8BIM" blocks, data padded).
  std::vector<std::pair<uint16_t, std::string>> resources;
};

// A pixel layer filled with one colour.
PsdRecord solidLayer(const std::string& name, int32_t left, int32_t top, int32_t width,
                     int32_t height, uint32_t argb);
// [divider, children..., header] for a group named `name`.
std::vector<PsdRecord> group(const std::string& name, const std::vector<PsdRecord>& children,
                             bool hidden = false);
// Appends `more` to `records` (for building file-order lists from groups).
void append(std::vector<PsdRecord>& records, const std::vector<PsdRecord>& more);

// The bytes of a PSD file holding `records` (lowest first).
std::string makePsd(const PsdOptions& options, const std::vector<PsdRecord>& records);
// Writes makePsd(...) to `path`; false when the file cannot be written.
bool writePsd(const std::string& path, const PsdOptions& options, const std::vector<PsdRecord>& records);

}  // namespace korvex::test
