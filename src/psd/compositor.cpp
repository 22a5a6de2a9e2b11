// The Compositor: the reused working canvas and the entry points. Drawing
// is in groups.cpp (the group tree), layers.cpp (one layer), masks.cpp and
// blend.cpp.
#include "psd/compositor.h"

#include <algorithm>

#include "platform/platform.h"
#include "psd/render.h"

namespace korvex::psd {

struct Compositor::State {
  explicit State(const Document& d) : context(d) {}
  render::Context context;
  // Page memory: on a large canvas its first touch dominates otherwise.
  platform::PageBlock canvasMemory;
  uint32_t* canvas = nullptr;
  // Areas drawn since they were last cleared: clearing touches only these,
  // not the whole (often mostly untouched) box the caller names.
  std::vector<Box> dirty;

  const Document& document() const { return context.document; }
  size_t pixelCount() const {
    return static_cast<size_t>(document().width) * static_cast<size_t>(document().height);
  }
  bool ensureCanvas() {
    if (canvas) return true;
    const size_t n = pixelCount();
    if (n > SIZE_MAX / sizeof(uint32_t) || !canvasMemory.allocate(n * sizeof(uint32_t))) return false;
    canvas = reinterpret_cast<uint32_t*>(canvasMemory.data());
    std::fill(canvas, canvas + n, render::kTransparentWhite);
    return true;
  }
};

Compositor::Compositor(const Document& document) : state_(std::make_unique<State>(document)) {}
Compositor::~Compositor() = default;

bool Compositor::composite(const std::vector<const LayerRecord*>& records, Box& touched) {
  touched = Box{};
  State& s = *state_;
  if (s.pixelCount() == 0 || !s.ensureCanvas()) return false;
  const render::Node root = render::buildTree(s.document(), records);
  touched = render::treeBounds(s.context, root);
  if (touched.empty()) return true;
  s.dirty.push_back(touched);
  render::Surface canvas{s.context.canvas, s.canvas, static_cast<size_t>(s.document().width)};
  return render::renderTree(s.context, root, canvas, touched);
}

bool Compositor::compositeDocument(Box& touched) {
  std::vector<const LayerRecord*> all;
  for (const LayerRecord& r : state_->document().layerRecords) all.push_back(&r);
  return composite(all, touched);
}

const uint32_t* Compositor::canvas() const { return state_->canvas; }

void Compositor::clear(const Box& box) {
  State& s = *state_;
  if (!s.canvas) return;
  std::vector<Box> kept;
  for (const Box& d : s.dirty) {
    const Box c = render::intersect(d, box);
    for (int32_t y = c.top; y < c.bottom && c.left < c.right; ++y) {
      uint32_t* row = s.canvas + static_cast<size_t>(y) * static_cast<size_t>(s.document().width);
      std::fill(row + c.left, row + c.right, render::kTransparentWhite);
    }
    const bool whole = c.left == d.left && c.top == d.top && c.right == d.right && c.bottom == d.bottom;
    if (!whole) kept.push_back(d);
  }
  s.dirty.swap(kept);
}

}  // namespace korvex::psd
