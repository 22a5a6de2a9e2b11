// The texture packer: cells are trimmed, placed into one atlas, bled at
// their edges and written as a PNG.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/cell_image.h"

namespace korvex {

struct ConversionSettings;
struct PrevCellMap;

struct PackedCell {
  bool mark = false;
  bool packed = false;  // kind < 2
  int32_t kind = 0;     // 0 cell, 1 placeholder of a previous cell, 2 "+" marker, 3 "root"
  bool empty = false;   // no pixel with alpha != 0
  int32_t imageWidth = 0, imageHeight = 0;
  int32_t canvasX = 0, canvasY = 0;
  int32_t trimLeft = 0, trimRight = 0, trimTop = 0, trimBottom = 0;
  int32_t width = 0, height = 0;
  int32_t trimWidth = 0, trimHeight = 0;
  int32_t packX = 0, packRight = 0, packY = 0, packBottom = 0;
  int32_t priority = 0;
  std::string name;
  std::vector<std::string> aliasNames;
  const CellImage* image = nullptr;  // not owned
  int32_t innerPadding = 0;
};

// The texture size ladder, largest first. Automatic sizing starts at 512 or
// below it in the ladder, so 256 is never chosen.
constexpr int32_t kTextureSizes[] = {8192, 4096, 2048, 1024, 512, 256};

class VTTexturePack {
 public:
  virtual ~VTTexturePack() = default;

  // Builds the record of one cell, trimmed to its visible pixels, its size
  // widened to even (with spacing) and rounded to the pack unit, and appends
  // it. kind: 0 cell, 1 placeholder, 2 "+" marker, 3 "root" (2 and 3 are
  // never placed). spacing, innerPadding and packUnit must be set first.
  void AddCell(const CellImage* image, const std::string& name, int32_t kind);
  // Stores the size; the atlas becomes width x height pixels, all 0.
  void SetTextureSize(int32_t width, int32_t height);
  // Chooses the texture size, places and copies the cells, growing the
  // texture until they fit, and bleeds the edges; the atlas is then ready to
  // be written. Prints the packing messages; false when the cells do not fit.
  bool PackTexture(const ConversionSettings& settings);
  // One placement attempt at the current texture size: sorts the cells by
  // `sortMode` (stable), places them bottom-left first and copies them into
  // the atlas. False when a cell found no place or reaches past the texture.
  bool Pack(int32_t sortMode);
  // Copies image rows top..bottom-1, columns left..right-1 to the atlas at
  // (x, y): pixels outside the image and transparent ones are written as 0;
  // rows and columns past the atlas are skipped.
  void Blit(const CellImage& image, int32_t left, int32_t top, int32_t right, int32_t bottom,
            int32_t x, int32_t y);
  // Gives every transparent atlas pixel next to a visible one that
  // neighbour's colour with alpha 0: the pixel below wins over the one on the
  // right, then above, then left. Alpha stays 0.
  void BleedEdges();

  std::vector<PackedCell> cells;
  int32_t textureWidth = 0;
  int32_t textureHeight = 0;
  int32_t border = 4;
  int32_t spacing = 0;
  int32_t innerPadding = 0;
  int32_t packUnit = 0;
  // The atlas: textureWidth*textureHeight pixels 0xAARRGGBB, top row first.
  std::vector<uint32_t> atlas;
  // Placeholder images of previous cells, owned for the conversion.
  std::vector<std::unique_ptr<CellImage>> placeholders;

 private:
  struct Box {
    int32_t left, top, right, bottom;
  };
  // Atlas areas written since the atlas was last cleared: the only places
  // that can hold a visible pixel.
  std::vector<Box> written_;
};

// Packs every cell of `table` (and, with is_oldPivotUse, the placeholders of
// the previous cell map at `cellMapPath`) into the atlas, which the caller
// writes. Prints the packing messages; false when packing fails.
bool PackCells(const ConversionSettings& settings, const CellTable& table, PrevCellMap& prev,
               const std::string& cellMapPath, VTTexturePack& pack);

}  // namespace korvex
