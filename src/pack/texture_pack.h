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

class VTTexturePack {
 public:
  virtual ~VTTexturePack() = default;

  std::vector<PackedCell> cells;
  int32_t textureWidth = 0;
  int32_t textureHeight = 0;
  int32_t border = 4;
  int32_t spacing = 0;
  int32_t innerPadding = 0;
  int32_t packUnit = 0;
  // The atlas: textureWidth*textureHeight pixels, owned.
  std::vector<uint32_t> atlas;
  // Placeholder images of previous cells, owned for the conversion.
  std::vector<std::unique_ptr<CellImage>> placeholders;
};

// Packs every cell of `table` (and, with is_oldPivotUse, the placeholders of
// the previous cell map at `cellMapPath`) into the atlas and writes it to
// `texturePath`. Prints the packing messages; false when packing or writing fails.
bool PackCells(const ConversionSettings& settings, const CellTable& table, PrevCellMap& prev,
               const std::string& cellMapPath, const std::string& texturePath, VTTexturePack& pack);

}  // namespace korvex
