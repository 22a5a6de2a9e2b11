// A layer's masks as coverage: the raster layer mask (its rectangle, the
// default colour outside it, disabled and inverted flags).
#include <algorithm>

#include "psd/render.h"

namespace korvex::psd::render {

Box boxAt(int64_t left, int64_t top, int64_t width, int64_t height) {
  auto clamp32 = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return Box{clamp32(left), clamp32(top), clamp32(left + width), clamp32(top + height)};
}

Box maskBounds(const LayerRecord& r, const Box& canvas) {
  const LayerMask& m = r.mask;
  if (m.present() && m.defaultColor == 0 && !m.inverted) return intersect(canvas, boxAt(m.left, m.top, m.width, m.height));
  return canvas;
}

bool MaskRows::prepare(const LayerRecord& r, const Box& area) {
  record_ = &r;
  area_ = area;
  active_ = r.mask.present();
  if (!active_) return true;
  row_.resize(static_cast<size_t>(area.right - area.left));
  return true;
}

const uint8_t* MaskRows::row(int32_t y) {
  const LayerMask& m = record_->mask;
  const uint8_t outside = m.inverted ? static_cast<uint8_t>(255 - m.defaultColor) : m.defaultColor;
  std::fill(row_.begin(), row_.end(), outside);
  const int64_t my = static_cast<int64_t>(y) - m.top;
  if (my < 0 || my >= m.height || m.data.empty()) return row_.data();
  const int64_t from = std::max<int64_t>(area_.left, m.left), to = std::min<int64_t>(area_.right, int64_t{m.left} + m.width);
  const uint8_t* src = m.data.data() + static_cast<size_t>(my) * static_cast<size_t>(m.width);
  for (int64_t x = from; x < to; ++x) {
    const uint8_t v = src[x - m.left];
    row_[static_cast<size_t>(x - area_.left)] = m.inverted ? static_cast<uint8_t>(255 - v) : v;
  }
  return row_.data();
}

}  // namespace korvex::psd::render
