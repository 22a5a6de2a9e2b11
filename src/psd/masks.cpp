// A layer's masks as coverage: the raster layer mask (its rectangle, the
// default colour outside it, disabled and inverted flags) times the vector
// mask's anti-aliased coverage, rasterised once over the drawn area.
#include <algorithm>

#include "psd/render.h"

namespace korvex::psd::render {

Box boxAt(int64_t left, int64_t top, int64_t width, int64_t height) {
  auto clamp32 = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return Box{clamp32(left), clamp32(top), clamp32(left + width), clamp32(top + height)};
}

namespace {

// The path cuts what Korvex draws, except where Photoshop already cut it:
// the stored pixels of shape and fill layers, and a raster mask rendered
// from the path.
bool vectorMaskActs(const LayerRecord& r) {
  const bool filledByPixels = (r.shapeLayer || (r.layerType != kLayerNormal && r.layerType != kLayerAdjustment)) &&
                              !r.imageData.empty();
  const bool rendered = r.mask.present() && r.mask.fromVectorMask;
  return r.vectorMask && !r.vectorMask->disabled && !filledByPixels && !rendered;
}

}  // namespace

Box maskBounds(const LayerRecord& r, const Box& canvas) {
  const LayerMask& m = r.mask;
  Box b = canvas;
  if (m.present() && m.defaultColor == 0 && !m.inverted) b = intersect(b, boxAt(m.left, m.top, m.width, m.height));
  if (vectorMaskActs(r)) b = intersect(b, bounds(*r.vectorMask, canvas.right, canvas.bottom));
  return b;
}

bool MaskRows::prepare(const LayerRecord& r, const Box& area) {
  record_ = &r;
  area_ = area;
  raster_ = r.mask.present();
  active_ = raster_ || vectorMaskActs(r);
  if (!active_) return true;
  const size_t w = static_cast<size_t>(area.right - area.left);
  row_.resize(w);
  if (vectorMaskActs(r)) {
    vector_.resize(w * static_cast<size_t>(area.bottom - area.top));
    rasterise(*r.vectorMask, area, vector_.data());
  }
  return true;
}

const uint8_t* MaskRows::row(int32_t y) {
  if (!raster_) {
    const size_t w = row_.size();
    std::copy_n(vector_.data() + static_cast<size_t>(y - area_.top) * w, w, row_.begin());
    return row_.data();
  }
  rasterRow(y);
  if (!vector_.empty()) {
    const uint8_t* v = vector_.data() + static_cast<size_t>(y - area_.top) * row_.size();
    for (size_t i = 0; i < row_.size(); ++i) row_[i] = static_cast<uint8_t>(div255(uint32_t{row_[i]} * v[i]));
  }
  return row_.data();
}

void MaskRows::rasterRow(int32_t y) {
  const LayerMask& m = record_->mask;
  const uint8_t outside = m.inverted ? static_cast<uint8_t>(255 - m.defaultColor) : m.defaultColor;
  std::fill(row_.begin(), row_.end(), outside);
  const int64_t my = static_cast<int64_t>(y) - m.top;
  if (my < 0 || my >= m.height || m.data.empty()) return;
  const int64_t from = std::max<int64_t>(area_.left, m.left), to = std::min<int64_t>(area_.right, int64_t{m.left} + m.width);
  const uint8_t* src = m.data.data() + static_cast<size_t>(my) * static_cast<size_t>(m.width);
  for (int64_t x = from; x < to; ++x) {
    const uint8_t v = src[x - m.left];
    row_[static_cast<size_t>(x - area_.left)] = m.inverted ? static_cast<uint8_t>(255 - v) : v;
  }
}

}  // namespace korvex::psd::render
