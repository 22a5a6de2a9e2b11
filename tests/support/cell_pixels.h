// Reading single pixels of a cell bitmap in tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/cell_image.h"

namespace korvex::test {

// The pixel of `cell` at bitmap position (x, y); 0 outside its data box.
inline uint32_t pixelAt(const CellImage& cell, int32_t x, int32_t y) {
  if (!cell.pixels || x < cell.boxLeft || y < cell.boxTop || x - cell.boxLeft >= cell.boxWidth ||
      y - cell.boxTop >= cell.boxHeight)
    return 0;
  const auto* row = reinterpret_cast<const uint8_t*>(cell.pixels) +
                    static_cast<size_t>(y - cell.boxTop) * static_cast<size_t>(cell.stride);
  return reinterpret_cast<const uint32_t*>(row)[x - cell.boxLeft];
}

}  // namespace korvex::test
