// Cells: the bitmaps that extraction hands to packing and the documents.
// Pixels are 32-bit 0xAARRGGBB values (bytes B, G, R, A in memory), straight
// alpha, top row first. A pixel is transparent when its alpha byte is 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvex {

// Capacity of the cell table and of the tables read from a previous cell map.
constexpr int kMaxCells = 1024;

// One cell bitmap of width x height pixels at (canvasX, canvasY) on the
// canvas. Only the data box (boxLeft, boxTop, boxWidth, boxHeight) inside the
// bitmap is stored; every pixel outside it reads as transparent. A layer cell
// stores its whole bitmap; a group cell keeps the whole-canvas geometry but
// stores only the box its composite actually touched. The pixels are not
// owned (see CellTable::pixelOwners).
struct CellImage {
  const uint32_t* pixels = nullptr;  // top-left pixel of the data box; null when it is empty
  int32_t stride = 0;                // bytes between rows of the data box
  int32_t width = 0;
  int32_t height = 0;
  int32_t canvasX = 0;
  int32_t canvasY = 0;
  int32_t priority = 0;
  int32_t boxLeft = 0;
  int32_t boxTop = 0;
  int32_t boxWidth = 0;
  int32_t boxHeight = 0;
};

// The cells of one conversion, topmost layer first. Index i of cellNames,
// cellFileNames and cells describes the same cell.
struct CellTable {
  std::vector<std::string> cellNames;      // UTF-8
  std::vector<std::string> cellFileNames;  // image-information-file mode only
  std::vector<std::unique_ptr<CellImage>> cells;
  int32_t canvasHalfWidth = 0;
  int32_t canvasHalfHeight = 0;
  // Whatever owns the pixels the cells point into (the loaded document,
  // group composites, decoded PNGs); kept alive until the conversion ends.
  std::vector<std::shared_ptr<const void>> pixelOwners;

  int32_t cellCount() const { return static_cast<int32_t>(cellNames.size()); }
};

}  // namespace korvex
