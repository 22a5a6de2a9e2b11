// A layer's masks as coverage: the raster layer mask (its rectangle, the
// default colour outside it, disabled and inverted flags) times the vector
// mask's anti-aliased coverage, rasterised once over the drawn area. Each
// mask is softened by its own density and feather.
#include <algorithm>
#include <cmath>

#include "psd/effects_raster.h"
#include "psd/render.h"

namespace korvex::psd::render {

Box boxAt(int64_t left, int64_t top, int64_t width, int64_t height) {
  auto clamp32 = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return Box{clamp32(left), clamp32(top), clamp32(left + width), clamp32(top + height)};
}

namespace {

// The Gaussian deviation of a feather per pixel of its radius: the radius
// is where the fade has reached two deviations, past 97 % of its way.
constexpr double kFeatherSigmaPerRadius = 0.5;

// How far beyond a mask's edge its feather reaches: the three box blurs
// that make the Gaussian span about 3 deviations, plus their rounding.
int32_t featherReach(const MaskSoftness& s) {
  return s.feather > 0 ? static_cast<int32_t>(std::ceil(3.5 * s.feather * kFeatherSigmaPerRadius)) + 4 : 0;
}

// The path cuts what Korvex draws, except where Photoshop already cut it:
// the stored pixels of shape and fill layers, and a raster mask rendered
// from the path; nor where the layer is built from its path.
bool vectorMaskActs(const LayerRecord& r) {
  const bool rendered = r.mask.present() && r.mask.fromVectorMask;
  return r.vectorMask && !r.vectorMask->disabled && !r.storedRendering() && !builtFromPath(r) && !rendered &&
         r.mask.vector.density > 0;
}

// The raster mask's density and feather. A mask rendered from the vector
// mask is Photoshop's rendering of both, parameters applied.
MaskSoftness rasterSoftness(const LayerMask& m) { return m.fromVectorMask ? MaskSoftness{} : m.user; }

bool rasterActs(const LayerMask& m) { return m.present() && rasterSoftness(m).density > 0; }

uint8_t rasterOutside(const LayerMask& m) {
  return m.inverted ? static_cast<uint8_t>(255 - m.defaultColor) : m.defaultColor;
}

// The raster mask's values of row `y` from `left` to `right` into `out`.
void rasterRow(const LayerMask& m, int32_t y, int32_t left, int32_t right, uint8_t* out) {
  std::fill(out, out + (right - left), rasterOutside(m));
  const int64_t my = static_cast<int64_t>(y) - m.top;
  if (my < 0 || my >= m.height || m.data.empty()) return;
  const int64_t from = std::max<int64_t>(left, m.left), to = std::min<int64_t>(right, int64_t{m.left} + m.width);
  const uint8_t* src = m.data.data() + static_cast<size_t>(my) * static_cast<size_t>(m.width);
  for (int64_t x = from; x < to; ++x) {
    const uint8_t v = src[x - m.left];
    out[x - left] = m.inverted ? static_cast<uint8_t>(255 - v) : v;
  }
}

// A mask's values over `area` into `out`, blurred by its feather and moved
// towards 255 by its density. `fill(box, values)` writes the mask's own
// values over any box; beyond `extent` they are all `outside`, which the
// blur takes as the value beyond its plane, so the plane holds only the
// part of `extent` within reach of the area and the part of the area
// within reach of `extent`.
template <typename Fill>
void softMask(const MaskSoftness& soft, const Box& area, const Box& extent, uint8_t outside, Fill fill,
              std::vector<uint8_t>& out) {
  out.resize(pixelCount(area));
  if (soft.feather > 0) {
    std::fill(out.begin(), out.end(), outside);
    const int32_t reach = featherReach(soft);
    const Box box = unite(intersect(grow(area, reach), extent), intersect(area, grow(extent, reach)));
    if (!box.empty()) {
      std::vector<uint8_t> raw(pixelCount(box));
      fill(box, raw.data());
      detail::Coverage plane;
      plane.width = box.right - box.left;
      plane.height = box.bottom - box.top;
      plane.beyond = outside / 255.0f;
      plane.values.resize(raw.size());
      std::transform(raw.begin(), raw.end(), plane.values.begin(), [](uint8_t v) { return v / 255.0f; });
      detail::blur(plane, soft.feather * kFeatherSigmaPerRadius);
      const Box inner = intersect(area, box);
      const size_t w = static_cast<size_t>(area.right - area.left);
      for (int32_t y = inner.top; y < inner.bottom; ++y)
        for (int32_t x = inner.left; x < inner.right; ++x) {
          const float v = std::clamp(plane.at(x - box.left, y - box.top), 0.0f, 1.0f);
          out[static_cast<size_t>(y - area.top) * w + static_cast<size_t>(x - area.left)] =
              static_cast<uint8_t>(std::lround(v * 255.0f));
        }
    }
  } else {
    fill(area, out.data());
  }
  if (soft.density != 255)
    for (uint8_t& v : out) v = static_cast<uint8_t>(255 - div255(uint32_t{soft.density} * (255u - v)));
}

}  // namespace

Box maskBounds(const LayerRecord& r, const Box& canvas) {
  const LayerMask& m = r.mask;
  Box b = canvas;
  if (rasterActs(m) && m.defaultColor == 0 && !m.inverted && rasterSoftness(m).density == 255)
    b = intersect(b, grow(boxAt(m.left, m.top, m.width, m.height), featherReach(rasterSoftness(m))));
  if (vectorMaskActs(r) && m.vector.density == 255)
    b = intersect(b, grow(bounds(*r.vectorMask, canvas.right, canvas.bottom), featherReach(m.vector)));
  return b;
}

bool MaskRows::prepare(const LayerRecord& r, const Box& area) {
  record_ = &r;
  area_ = area;
  raster_ = rasterActs(r.mask);
  const bool vector = vectorMaskActs(r);
  active_ = raster_ || vector;
  rasterPlane_.clear();
  vector_.clear();
  if (!active_) return true;
  row_.resize(static_cast<size_t>(area.right - area.left));
  const LayerMask& m = r.mask;
  if (raster_ && rasterSoftness(m).acts()) {
    softMask(rasterSoftness(m), area, boxAt(m.left, m.top, m.width, m.height), rasterOutside(m),
             [&m](const Box& box, uint8_t* out) {
               const size_t w = static_cast<size_t>(box.right - box.left);
               for (int32_t y = box.top; y < box.bottom; ++y)
                 rasterRow(m, y, box.left, box.right, out + static_cast<size_t>(y - box.top) * w);
             },
             rasterPlane_);
  }
  if (vector) {
    const VectorMask& path = *r.vectorMask;
    const Box extent = path.inverted ? grow(area, featherReach(m.vector)) : bounds(path, INT32_MAX, INT32_MAX);
    softMask(m.vector, area, extent, path.inverted ? 255 : 0,
             [&path](const Box& box, uint8_t* out) { rasterise(path, box, out); }, vector_);
  }
  return true;
}

const uint8_t* MaskRows::row(int32_t y) {
  const size_t w = row_.size(), at = static_cast<size_t>(y - area_.top) * w;
  if (!raster_) {
    std::copy_n(vector_.data() + at, w, row_.begin());
    return row_.data();
  }
  if (rasterPlane_.empty())
    rasterRow(record_->mask, y, area_.left, area_.right, row_.data());
  else
    std::copy_n(rasterPlane_.data() + at, w, row_.begin());
  if (!vector_.empty()) {
    const uint8_t* v = vector_.data() + at;
    for (size_t i = 0; i < w; ++i) row_[i] = static_cast<uint8_t>(div255(uint32_t{row_[i]} * v[i]));
  }
  return row_.data();
}

}  // namespace korvex::psd::render
