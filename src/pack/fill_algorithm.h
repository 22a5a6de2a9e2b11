// Rectangle placement engines: given a container and numbered rectangles,
// each returns a top-left position per rectangle (border included).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace korvex {

// One packing run: set border and spacing, Init, AddRect for each rectangle,
// Execute, GetPos for each added index. Widths, heights, border and spacing
// are never negative.
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

// Bottom-left fill. Every rectangle (its size plus `spacing`) is placed during
// its own AddRect at the admissible candidate point with the smallest y, then
// the smallest x. Candidate points are the corners that earlier rectangles
// leave: each carries two gaps, and accepts only a rectangle wider than its
// x gap and taller than its y gap. A point is admissible when the rectangle
// lies right of x 0 and below y 0, ends at or before the area's right edge and
// overlaps no earlier rectangle (touching edges do not overlap). Nothing is
// tested against the area's height. A rectangle that fits nowhere fails at
// (-border - 1, -border - 1) and still blocks later ones there.
//
// Indices must be added in increasing order (the packer does); an index at
// or below an earlier one, or outside the capacity, is ignored.
class BLF : public FillAlgorithm {
 public:
  BLF();
  ~BLF() override;
  void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity) override;
  void AddRect(int32_t index, int32_t width, int32_t height) override;
  void GetPos(int32_t index, int32_t& x, int32_t& y) override;

  // Candidate points made so far (every append, duplicates included), how
  // many point tests reached the overlap search, and how many distinct
  // points are held; for measurements.
  int64_t candidatesMade() const;
  int64_t overlapSearches() const;
  int64_t livePoints() const;

 private:
  class Engine;  // the candidate points and placed rectangles (blf.cpp)
  std::unique_ptr<Engine> engine_;
};

// Row (shelf) filler: left to right in AddRect order, a new row below the
// tallest of the current one when the next rectangle would pass the right edge.
class MinMaxFill : public FillAlgorithm {
 public:
  void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity) override;
  void AddRect(int32_t index, int32_t width, int32_t height) override;
  void Execute() override;
  // Counts rectangles in AddRect order (the n-th added), not by index.
  void GetPos(int32_t index, int32_t& x, int32_t& y) override;

 private:
  struct Entry {
    int64_t width = 0, height = 0, x = 0, y = 0;
  };
  int64_t areaWidth_ = 0;
  std::vector<Entry> entries_;
  std::vector<int32_t> order_;
};

}  // namespace korvex
