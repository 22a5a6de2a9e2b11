#include "pack/fill_algorithm.h"

#include <algorithm>
#include <cstddef>

#include "text/numbers.h"

namespace korvex {

void FillAlgorithm::Init(int32_t, int32_t, int32_t) {}
void FillAlgorithm::AddRect(int32_t, int32_t, int32_t) {}
void FillAlgorithm::Execute() {}
void FillAlgorithm::GetPos(int32_t, int32_t&, int32_t&) {}

void MinMaxFill::Init(int32_t containerWidth, int32_t containerHeight, int32_t newCapacity) {
  (void)containerHeight;  // rows are never checked against the height
  capacity = std::max(newCapacity, 0);
  areaWidth_ = int64_t{containerWidth} - 2 * int64_t{border};
  entries_.assign(static_cast<size_t>(capacity), Entry{});
  order_.clear();
}

void MinMaxFill::AddRect(int32_t index, int32_t width, int32_t height) {
  if (index < 0 || index >= capacity) return;
  Entry& e = entries_[static_cast<size_t>(index)];
  e.width = int64_t{width} + spacing;
  e.height = int64_t{height} + spacing;
  order_.push_back(index);
}

void MinMaxFill::Execute() {
  int64_t rowX = 0, rowY = 0, rowHeight = 0;
  for (int32_t index : order_) {
    Entry& e = entries_[static_cast<size_t>(index)];
    if (rowX + e.width <= areaWidth_) {
      e.x = rowX;
    } else {
      e.x = 0;
      rowY += rowHeight;
      rowHeight = 0;
    }
    e.y = rowY;
    rowHeight = std::max(rowHeight, e.height);
    rowX = e.x + e.width;
  }
}

void MinMaxFill::GetPos(int32_t index, int32_t& x, int32_t& y) {
  if (index < 0 || static_cast<size_t>(index) >= order_.size()) {
    x = y = -1;
    return;
  }
  const Entry& e = entries_[static_cast<size_t>(order_[static_cast<size_t>(index)])];
  x = clampToInt32(border + e.x);
  y = clampToInt32(border + e.y);
}

}  // namespace korvex
