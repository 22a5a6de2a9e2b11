// A rectangle on the canvas: what the compositor and the pixel functions of
// masks, fills and adjustments work on.
#pragma once

#include <algorithm>
#include <cstdint>
#include <climits>
#include <cstddef>

namespace korvex::psd {

// A rectangle on the canvas, right and bottom exclusive.
struct Box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

// How many pixels `b` holds: 0 for an empty box, even one whose edges have
// crossed (an intersection of boxes that do not meet).
inline size_t pixelCount(const Box& b) {
  if (b.empty()) return 0;
  return static_cast<size_t>(int64_t{b.right} - b.left) * static_cast<size_t>(int64_t{b.bottom} - b.top);
}

// The part of `a` inside `b` (empty when they do not meet).
inline Box intersect(const Box& a, const Box& b) {
  return Box{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}
// `b` grown by `by` pixels on every side, saturating at the int32 range.
inline Box grow(const Box& b, int32_t by) {
  auto at = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  return Box{at(int64_t{b.left} - by), at(int64_t{b.top} - by), at(int64_t{b.right} + by), at(int64_t{b.bottom} + by)};
}
// The smallest box holding both.
inline Box unite(const Box& a, const Box& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return Box{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

}  // namespace korvex::psd
