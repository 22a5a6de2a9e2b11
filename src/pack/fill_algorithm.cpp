#include "pack/fill_algorithm.h"

#include <algorithm>
#include <limits>

namespace korvex {
namespace {

int32_t saturateToInt32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// True when some pair (a, b) of `pairs` has a <= x and b <= y.
bool anyAtOrBelow(const std::vector<std::pair<int64_t, int64_t>>& pairs, int64_t x, int64_t y) {
  for (const auto& p : pairs)
    if (p.first <= x && p.second <= y) return true;
  return false;
}

// Adds (x, y) to a set of pairs where no pair lies at or below another.
void insertMinimal(std::vector<std::pair<int64_t, int64_t>>& pairs, int64_t x, int64_t y) {
  if (anyAtOrBelow(pairs, x, y)) return;
  pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                             [&](const auto& p) { return x <= p.first && y <= p.second; }),
              pairs.end());
  pairs.emplace_back(x, y);
}

constexpr int64_t kMaxGridRows = int64_t{1} << 16;
constexpr int64_t kMaxGridCellsPerRect = 4096;

}  // namespace

void FillAlgorithm::Init(int32_t, int32_t, int32_t) {}
void FillAlgorithm::AddRect(int32_t, int32_t, int32_t) {}
void FillAlgorithm::Execute() {}
void FillAlgorithm::GetPos(int32_t, int32_t&, int32_t&) {}

// ---------------------------------------------------------------- BLF

void BLF::Init(int32_t containerWidth, int32_t containerHeight, int32_t newCapacity) {
  (void)containerHeight;  // placement never looks at the height; the packer checks the bottom
  capacity = std::max(newCapacity, 0);
  areaWidth_ = int64_t{containerWidth} - 2 * int64_t{border};
  lastIndex_ = -1;
  rectX_.assign(static_cast<size_t>(capacity), 0);
  rectY_.assign(static_cast<size_t>(capacity), 0);
  rects_.clear();
  points_.clear();
  cellSize_ = std::max<int64_t>(64, areaWidth_ / 1024 + 1);
  gridColumns_ = std::max<int64_t>(1, (areaWidth_ + cellSize_ - 1) / cellSize_);
  grid_.clear();
  loose_.clear();
  candidatesMade_ = 0;
  overlapSearches_ = 0;
  addCandidate(0, 0, 0, 0);
}

void BLF::AddRect(int32_t index, int32_t width, int32_t height) {
  if (index < 0 || index >= capacity || index <= lastIndex_) return;
  lastIndex_ = index;
  const int64_t w = int64_t{width} + spacing;
  const int64_t h = int64_t{height} + spacing;
  int64_t x = 0, y = 0;
  const bool placed = place(w, h, x, y);
  if (!placed) x = y = -int64_t{border} - 1;
  rectX_[static_cast<size_t>(index)] = x;
  rectY_[static_cast<size_t>(index)] = y;
  rects_.push_back({x, y, w, h});
  if (w > 0 && h > 0) insertRect(static_cast<int32_t>(rects_.size() - 1));
  if (!placed) return;

  // The new rectangle covers its own corner.
  points_.erase({y, x});
  addCandidate(x + w, 0, 0, y);
  addCandidate(0, y + h, x, 0);
  const int64_t right = x + w, bottom = y + h;
  for (size_t j = 0; j + 1 < rects_.size(); ++j) {
    const Rect& r = rects_[j];
    const int64_t rRight = r.x + r.w, rBottom = r.y + r.h;
    if (r.x >= right && bottom > rBottom)
      addCandidate(right, rBottom, r.x - right, std::max<int64_t>(0, y - rBottom));
    else if (x >= rRight && rBottom > bottom)
      addCandidate(rRight, bottom, x - rRight, std::max<int64_t>(0, r.y - bottom));
    if (r.y >= bottom && right > rRight)
      addCandidate(rRight, bottom, std::max<int64_t>(0, x - rRight), r.y - bottom);
    else if (y >= rBottom && rRight > right)
      addCandidate(right, rBottom, std::max<int64_t>(0, r.x - right), y - rBottom);
  }
}

void BLF::GetPos(int32_t index, int32_t& x, int32_t& y) {
  if (index < 0 || index >= capacity) {
    x = y = -1;
    return;
  }
  x = saturateToInt32(border + rectX_[static_cast<size_t>(index)]);
  y = saturateToInt32(border + rectY_[static_cast<size_t>(index)]);
}

// Points are visited by y, then x; the first that admits the rectangle wins.
// A point that admits nothing any more is dropped on the way.
bool BLF::place(int64_t width, int64_t height, int64_t& x, int64_t& y) {
  if (width < 1 || height < 1) return false;  // gaps are never negative
  for (auto it = points_.begin(); it != points_.end();) {
    const PointKey& key = it->first;
    Point& point = it->second;
    const int64_t px = key.second;
    if (px + width > areaWidth_ || !anyAtOrBelow(point.gaps, width - 1, height - 1) ||
        anyAtOrBelow(point.blockers, width - 1, height - 1)) {
      ++it;
      continue;
    }
    ++overlapSearches_;
    bool blocked = false;
    addBlockers(key, point, width, height, blocked);
    if (!blocked) {
      x = px;
      y = key.first;
      return true;
    }
    it = pruneGaps(key, point) ? points_.erase(it) : std::next(it);
  }
  return false;
}

void BLF::addCandidate(int64_t x, int64_t y, int64_t gapX, int64_t gapY) {
  ++candidatesMade_;
  // A rectangle here is at least gapX + 1 wide and must end by the right edge.
  if (x < 0 || y < 0 || x + gapX + 1 > areaWidth_) return;
  auto it = points_.find({y, x});
  if (it == points_.end()) {
    if (covered(x, y)) return;
    points_[{y, x}].gaps.emplace_back(gapX, gapY);
    return;
  }
  if (anyAtOrBelow(it->second.blockers, gapX, gapY)) return;
  insertMinimal(it->second.gaps, gapX, gapY);
}

// Records every placed rectangle that overlaps width x height at the point.
// A rectangle overlapping there blocks every size at least as wide as its
// offset right of the point and at least as tall as its offset below it.
void BLF::addBlockers(const PointKey& key, Point& point, int64_t width, int64_t height,
                      bool& blocked) {
  const int64_t px = key.second, py = key.first;
  forRectsIn(px, py, width, height, [&](const Rect& r) {
    if (px < r.x + r.w && px + width > r.x && py + height > r.y && py < r.y + r.h) {
      blocked = true;
      insertMinimal(point.blockers, std::max<int64_t>(0, r.x - px), std::max<int64_t>(0, r.y - py));
    }
  });
}

// Drops the gap pairs under which every admissible size is blocked; true
// when none is left.
bool BLF::pruneGaps(const PointKey&, Point& point) const {
  auto& gaps = point.gaps;
  gaps.erase(std::remove_if(gaps.begin(), gaps.end(),
                            [&](const SizePair& g) {
                              return anyAtOrBelow(point.blockers, g.first, g.second);
                            }),
             gaps.end());
  return gaps.empty();
}

bool BLF::covered(int64_t x, int64_t y) const {
  bool hit = false;
  forRectsIn(x, y, 1, 1, [&](const Rect& r) {
    if (r.x <= x && x < r.x + r.w && r.y <= y && y < r.y + r.h) hit = true;
  });
  return hit;
}

void BLF::insertRect(int32_t id) {
  const Rect& r = rects_[static_cast<size_t>(id)];
  if (r.x < 0 || r.y < 0) {
    loose_.push_back(id);
    return;
  }
  const int64_t c0 = r.x / cellSize_, c1 = std::min(gridColumns_ - 1, (r.x + r.w - 1) / cellSize_);
  const int64_t r0 = r.y / cellSize_, r1 = (r.y + r.h - 1) / cellSize_;
  if (r1 >= kMaxGridRows || (r1 - r0 + 1) * (c1 - c0 + 1) > kMaxGridCellsPerRect) {
    loose_.push_back(id);
    return;
  }
  const size_t needed = static_cast<size_t>((r1 + 1) * gridColumns_);
  if (grid_.size() < needed) grid_.resize(needed);
  for (int64_t row = r0; row <= r1; ++row)
    for (int64_t col = c0; col <= c1; ++col)
      grid_[static_cast<size_t>(row * gridColumns_ + col)].push_back(id);
}

// Calls visit for every stored rectangle that may meet the region
// [x, x + width) x [y, y + height), x and y not negative; some more than once.
template <typename Visit>
void BLF::forRectsIn(int64_t x, int64_t y, int64_t width, int64_t height, Visit visit) const {
  const int64_t rows = static_cast<int64_t>(grid_.size()) / gridColumns_;
  const int64_t c0 = x / cellSize_, r0 = y / cellSize_;
  const int64_t c1 = std::min(gridColumns_ - 1, (x + width - 1) / cellSize_);
  const int64_t r1 = std::min(rows - 1, (y + height - 1) / cellSize_);
  for (int64_t row = r0; row <= r1; ++row)
    for (int64_t col = c0; col <= c1; ++col)
      for (int32_t id : grid_[static_cast<size_t>(row * gridColumns_ + col)])
        visit(rects_[static_cast<size_t>(id)]);
  for (int32_t id : loose_) visit(rects_[static_cast<size_t>(id)]);
}

// ---------------------------------------------------------------- MinMaxFill

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
  x = saturateToInt32(border + e.x);
  y = saturateToInt32(border + e.y);
}

}  // namespace korvex
