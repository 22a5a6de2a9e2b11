// One layer's drawing: its colour (pixels or fill), its coverage (alpha,
// opacity, fill opacity, masks, clipping) and its blend onto a surface.
//
// A layer is drawn in one pass over its box: the colour row, the coverage
// row, then the blend. Layer effects that lie below or above the layer are
// images of the same kind, drawn with drawImage before or after the layer's
// own drawImage in drawLayer.
#include <algorithm>
#include <new>

#include "psd/render.h"

namespace korvex::psd::render {

bool Buffer::allocate(const Box& box) {
  surface_ = Surface{};
  const size_t w = static_cast<size_t>(box.right - box.left), h = static_cast<size_t>(box.bottom - box.top);
  pixels_.reset(new (std::nothrow) uint32_t[w * h]);
  if (!pixels_) return false;
  std::fill(pixels_.get(), pixels_.get() + w * h, kTransparentWhite);
  surface_ = Surface{box, pixels_.get(), w};
  return true;
}

bool Buffer::copyOf(const Surface& from, const Box& box) {
  if (!allocate(box)) return false;
  const size_t w = static_cast<size_t>(box.right - box.left);
  for (int32_t y = box.top; y < box.bottom; ++y) std::copy_n(from.row(box.left, y), w, surface_.row(box.left, y));
  return true;
}

// Dissolve draws a pixel fully or not at all: fully where the table's byte
// is below the pixel's coverage. The table is made once per document from
// the linear congruential generator of the Microsoft C library (state =
// state * 214013 + 2531011, value = bits 16..30 of the state) seeded with
// 0, one value modulo 255 per canvas pixel, so every run and machine gets
// the same table and full coverage always draws.
const uint8_t* Context::randomTable() {
  if (random.empty()) {
    random.resize(static_cast<size_t>(canvas.right) * static_cast<size_t>(canvas.bottom));
    uint32_t state = 0;
    for (uint8_t& v : random) {
      state = state * 214013u + 2531011u;
      v = static_cast<uint8_t>(((state >> 16) & 0x7FFFu) % 255u);
    }
  }
  return random.data();
}

bool shows(const LayerRecord& r) { return r.visible && r.opacity > 0; }

Box layerBounds(const Context& c, const LayerRecord& r) {
  if (!shows(r)) return Box{};
  switch (r.imageData.empty() ? r.layerType : kLayerNormal) {
    case kLayerNormal:
      if (r.imageData.empty()) return Box{};
      return intersect(boxAt(r.left, r.top, r.width, r.height), maskBounds(r, c.canvas));
    case kLayerSolidColor: return maskBounds(r, c.canvas);
    default: return Box{};  // not drawn
  }
}

bool layerContent(const LayerRecord& r, const Box& area, std::vector<uint32_t>& scratch, Image& out) {
  switch (r.imageData.empty() ? r.layerType : kLayerNormal) {
    case kLayerNormal:
      if (r.imageData.empty()) return false;
      out = Image{boxAt(r.left, r.top, r.width, r.height), r.imageData.data(), static_cast<size_t>(r.width)};
      return true;
    case kLayerSolidColor:
      scratch.assign(static_cast<size_t>(area.right - area.left), 0xFF000000u | r.fillColor);
      out = Image{area, scratch.data(), 0};
      return true;
    default: return false;
  }
}

bool drawImage(Context& c, Surface& dst, const Image& src, const Box& area, uint32_t opacityFill,
               const LayerRecord* maskOwner, BlendMode mode, const ClipShape* clip) {
  if (area.empty()) return true;
  const int n = area.right - area.left;
  uint8_t lut[256];
  for (uint32_t a = 0; a < 256; ++a) lut[a] = static_cast<uint8_t>((a * opacityFill + 32512) / 65025);
  MaskRows masks;
  if (maskOwner && !masks.prepare(*maskOwner, area)) return false;
  const bool masked = masks.active();
  const uint8_t* random = mode == BlendMode::kDissolve ? c.randomTable() : nullptr;
  const RowBlender blend = clip ? rowBlenderAtop(mode) : rowBlender(mode);
  std::vector<uint8_t> cover(static_cast<size_t>(n));
  const size_t canvasWidth = static_cast<size_t>(c.canvas.right);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const uint32_t* s = src.row(area.left, y);
    if (!masked && !clip) {
      for (int i = 0; i < n; ++i) cover[static_cast<size_t>(i)] = lut[s[i] >> 24];
    } else {
      const uint8_t* m = masked ? masks.row(y) : nullptr;
      const uint32_t* d = dst.row(area.left, y);
      for (int i = 0; i < n; ++i) {
        uint32_t v = (s[i] >> 24) * opacityFill;  // <= 255^3
        if (m) v = div255(v * m[i]);
        v = (v + 32512) / 65025;
        if (clip) {
          const uint32_t da = d[i] >> 24;
          v = da == 0 ? 0 : std::min<uint32_t>(255, (v * clip->at(area.left + i, y) + da / 2) / da);
        }
        cover[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
      }
    }
    if (random) {
      const uint8_t* rnd = random + static_cast<size_t>(y) * canvasWidth + static_cast<size_t>(area.left);
      for (int i = 0; i < n; ++i) cover[static_cast<size_t>(i)] = rnd[i] < cover[static_cast<size_t>(i)] ? 255 : 0;
    }
    blend(dst.row(area.left, y), s, cover.data(), n);
  }
  return true;
}

bool drawLayer(Context& c, const LayerRecord& r, Surface& dst, const Box& limit, const ClipShape* clip) {
  Box area = intersect(intersect(layerBounds(c, r), dst.box), limit);
  if (clip) area = intersect(area, clip->box);
  if (area.empty()) return true;
  std::vector<uint32_t> scratch;
  Image content;
  if (!layerContent(r, area, scratch, content)) return true;
  return drawImage(c, dst, content, area, uint32_t{r.opacity} * r.fillOpacity, &r, r.blendMode, clip);
}

}  // namespace korvex::psd::render
