// The Compositor: the reused working canvas and the entry points. Drawing
// is in groups.cpp (the group tree), layers.cpp (one layer), masks.cpp and
// blend.cpp.
#include "psd/compositor.h"

#include <algorithm>
#include <cstdint>

#include "platform/platform.h"
#include "psd/render.h"

namespace korvex::psd {

struct Compositor::State {
  explicit State(const Document& d) : context(d) { planeCount = render::planesOf(d, planes); }
  render::Context context;
  // The canvases live in page memory: on a large canvas their first touch
  // dominates otherwise.
  platform::PageBlock canvasMemory;
  uint32_t* canvas = nullptr;
  // The planes the document blends in; those in a colour space other than
  // RGB are drawn into their own canvases and converted into `canvas`.
  render::Plane planes[2];
  int planeCount = 1;
  platform::PageBlock planeMemory[2];
  uint32_t* planeCanvases[2] = {};
  // Areas drawn since they were last cleared: clearing touches only these,
  // not the whole (often mostly untouched) box the caller names.
  std::vector<Box> dirty;

  const Document& document() const { return context.document; }
  size_t pixelCount() const {
    return static_cast<size_t>(document().width) * static_cast<size_t>(document().height);
  }
  bool ownCanvases() const { return render::ownCanvas(planes[0]); }
  bool ensureCanvas() {
    if (canvas) return true;
    const size_t n = pixelCount();
    auto make = [n](platform::PageBlock& memory, uint32_t*& c) {
      if (n > SIZE_MAX / sizeof(uint32_t) || !memory.allocate(n * sizeof(uint32_t))) return false;
      c = reinterpret_cast<uint32_t*>(memory.data());
      std::fill(c, c + n, render::kTransparentWhite);
      return true;
    };
    for (int i = 0; i < (ownCanvases() ? planeCount : 0); ++i)
      if (!make(planeMemory[i], planeCanvases[i])) return false;
    return make(canvasMemory, canvas);
  }
  render::Surface surface(uint32_t* pixels) const {
    return render::Surface{context.canvas, pixels, static_cast<size_t>(document().width)};
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
  render::Surface canvas = s.surface(s.canvas);
  if (!s.ownCanvases()) {
    s.context.plane = s.planes[0];
    return render::renderTree(s.context, root, canvas, touched);
  }
  render::Image drawn[2];
  for (int i = 0; i < s.planeCount; ++i) {
    render::Surface plane = s.surface(s.planeCanvases[i]);
    s.context.plane = s.planes[i];
    if (!render::renderTree(s.context, root, plane, touched)) return false;
    drawn[i] = plane;
  }
  render::planesToRgb(s.planes, s.planeCount, drawn, canvas, render::intersect(touched, s.context.canvas));
  return true;
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
    for (int i = -1; i < (s.ownCanvases() ? s.planeCount : 0); ++i) {
      const render::Surface canvas = s.surface(i < 0 ? s.canvas : s.planeCanvases[i]);
      for (int32_t y = c.top; y < c.bottom && c.left < c.right; ++y)
        std::fill(canvas.row(c.left, y), canvas.row(c.right, y), render::kTransparentWhite);
    }
    const bool whole = c.left == d.left && c.top == d.top && c.right == d.right && c.bottom == d.bottom;
    if (!whole) kept.push_back(d);
  }
  s.dirty.swap(kept);
}

}  // namespace korvex::psd
