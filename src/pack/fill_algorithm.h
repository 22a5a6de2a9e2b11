// Rectangle placement engines: given a container and numbered rectangles,
// each returns a top-left position per rectangle (border included).
#pragma once

#include <cstdint>

namespace korvex {

class FillAlgorithm {
 public:
  virtual ~FillAlgorithm() = default;
  virtual void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity);
  virtual void AddRect(int32_t index, int32_t width, int32_t height);
  virtual void Execute();
  // Position of rectangle `index`, border included; x < 0 when it found no place.
  virtual void GetPos(int32_t index, int32_t& x, int32_t& y);

  int32_t border = 0;
  int32_t spacing = 0;
  int32_t capacity = 0;
};

// Bottom-left fill over a list of candidate points; every rectangle is placed
// during its own AddRect.
class BLF : public FillAlgorithm {
 public:
  // Implementation defined by the packing module.
};

// Row (shelf) filler.
class MinMaxFill : public FillAlgorithm {
 public:
  // Implementation defined by the packing module.
};

}  // namespace korvex
