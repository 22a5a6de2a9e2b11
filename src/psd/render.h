// The renderer's inside, shared by its files (not part of the compositor's
// interface):
//   blend.cpp    blend modes on rows of straight-alpha pixels
//   masks.cpp    a layer's raster (and vector) masks as coverage rows
//   layers.cpp   one layer's drawing: pixels, fills, adjustments
//   groups.cpp   the group tree, isolation, pass-through, clipping groups
//   compositor.cpp  the Compositor: its working canvas and the entry points
//
// Every surface holds 8-bit straight-alpha 0xAARRGGBB pixels addressed in
// canvas coordinates; working buffers cover only the box they need.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/document.h"

namespace korvex::psd::render {

constexpr uint32_t kTransparentWhite = 0x00FFFFFFu;

// Box arithmetic (box.h), also by its render:: names.
using psd::grow;
using psd::intersect;
using psd::unite;

inline uint32_t div255(uint32_t v) { return (v + 127) / 255; }

// The box of `width` x `height` pixels at (left, top), computed without overflow.
Box boxAt(int64_t left, int64_t top, int64_t width, int64_t height);

// Pixels addressed by canvas position inside `box`. A stride of 0 repeats
// the first row (a solid colour).
struct Surface {
  Box box;
  uint32_t* pixels = nullptr;
  size_t stride = 0;
  uint32_t* row(int32_t x, int32_t y) const {
    return pixels + static_cast<size_t>(y - box.top) * stride + static_cast<size_t>(x - box.left);
  }
};

// Read-only pixels addressed the same way.
struct Image {
  Box box;
  const uint32_t* pixels = nullptr;
  size_t stride = 0;
  Image() = default;
  Image(const Box& b, const uint32_t* p, size_t s) : box(b), pixels(p), stride(s) {}
  Image(const Surface& s) : box(s.box), pixels(s.pixels), stride(s.stride) {}  // NOLINT: a surface reads as an image
  const uint32_t* row(int32_t x, int32_t y) const {
    return pixels + static_cast<size_t>(y - box.top) * stride + static_cast<size_t>(x - box.left);
  }
};

// A working surface that owns its pixels.
class Buffer {
 public:
  // `box` filled with transparent white; false when memory runs out.
  bool allocate(const Box& box);
  // `box` holding a copy of `from`'s pixels there (box inside from.box).
  bool copyOf(const Surface& from, const Box& box);
  Surface& surface() { return surface_; }

 private:
  std::unique_ptr<uint32_t[]> pixels_;
  Surface surface_;
};

// ---- planes.cpp ----

// What a render's pixels hold. Documents blend in their own colour space:
// an RGB document (and a bitmap, indexed, duotone or multichannel one, read
// as RGB) in RGB; a grey document in one grey channel, held as three equal
// components, which every blend mode keeps equal; a Lab document in its
// stored L, a, b values; a CMYK document in its stored values (255 - ink),
// cyan, magenta and yellow in one render and black (three equal
// components) in a second, every blend mode acting on each ink as on an
// RGB component. Hue, saturation, colour and luminosity therefore mix
// cyan, magenta and yellow as RGB and take black from the backdrop (hue,
// saturation, colour) or the layer (luminosity); darker and lighter colour
// choose in each render by its own components.
enum class Plane : uint8_t { kRgb, kGrey, kLab, kInks, kBlack };

// The planes `document` is drawn in, one render each (1 or 2), into `out`.
int planesOf(const Document& document, Plane out[2]);
// Whether a plane needs its own canvas, converted to RGB at the end.
inline bool ownCanvas(Plane p) { return p == Plane::kLab || p == Plane::kInks || p == Plane::kBlack; }
// A colour the renderer makes in RGB (fills, patterns, effects) in the
// plane, through the reverse of the reader's conversion; alpha kept.
uint32_t toPlane(Plane plane, uint32_t argb);
void toPlane(Plane plane, uint32_t* pixels, size_t n);
// The RGB of `box` of the canvases of `planes` (in planesOf's order) into
// `rgb`, the reader's conversion; every surface is addressed in canvas space.
void planesToRgb(const Plane* planes, int count, const Image* canvases, const Surface& rgb, const Box& box);

// ---- blend.cpp ----

// Lays `n` source pixels over `dst` with per-pixel coverage `cover`
// (0..255): the blend mode's result where the backdrop is opaque, the
// source colour where it is transparent, source-over alpha.
using RowBlender = void (*)(uint32_t* dst, const uint32_t* src, const uint8_t* cover, int n);
// `linearLight` (32-bit documents): colours mix by coverage in linear
// light, the 8-bit values being linear light raised to 1/2.2.
RowBlender rowBlender(BlendMode mode, bool linearLight);
// The same with the backdrop's alpha kept: the backdrop colour moves towards
// the blend result by `cover` (adjustments and clipped drawing).
RowBlender rowBlenderAtop(BlendMode mode, bool linearLight);
// The modes in which Photoshop takes fill opacity into the blend itself
// rather than mixing the result in like opacity: colour and linear burn,
// colour and linear dodge, vivid and linear light, hard mix, difference.
bool fillActsInBlend(BlendMode mode);
// A row blender for those modes whose sources carry the fill opacity in
// their alpha byte (coverage still comes from `cover`); any other mode
// gives rowBlender(mode), or rowBlenderAtop(mode) when `atop`.
RowBlender rowBlenderWithFill(BlendMode mode, bool atop, bool linearLight);
// Moves `dst` towards `src` by `t` (0..255), premultiplied: a pass-through
// group's opacity and masks.
void mixRow(uint32_t* dst, const uint32_t* src, const uint8_t* t, int n, bool linearLight);

// ---- masks.cpp ----

// The box outside which the record's masks hide everything, within `canvas`
// (the whole canvas when they hide nothing there).
Box maskBounds(const LayerRecord& r, const Box& canvas);

// A record's masks over one area, row by row: 255 shows, 0 hides. The
// vector mask's coverage, and a mask with density or feather, take memory
// and time proportional to the area (a feather's reach added).
class MaskRows {
 public:
  // False when memory runs out.
  bool prepare(const LayerRecord& r, const Box& area);
  // True when some mask acts (otherwise row() is not to be called).
  bool active() const { return active_; }
  // The mask values of row `y` of the area.
  const uint8_t* row(int32_t y);

 private:
  const LayerRecord* record_ = nullptr;
  Box area_;
  bool active_ = false, raster_ = false;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> rasterPlane_;  // the raster mask over the area, when density or feather soften it
  std::vector<uint8_t> vector_;       // the vector mask's coverage over the area, when it has one
};

// ---- layers.cpp ----

// What the renderer keeps between draws of one document.
struct Context {
  const Document& document;
  Box canvas;
  Plane plane = Plane::kRgb;  // the plane being drawn
  bool linearLight;           // a 32-bit document: colours mix in linear light
  std::vector<uint8_t> random;  // dissolve's table, one byte per canvas pixel, made on first use
  // What knockout items knock out to: the start of the group being drawn
  // (shallow) and of the innermost isolated group (deep). Null or an image
  // without pixels: transparency (the top level, an isolated group).
  const Image* knockoutBackdrop = nullptr;
  const Image* deepKnockoutBackdrop = nullptr;
  explicit Context(const Document& d) : document(d), canvas{0, 0, d.width, d.height}, linearLight(d.depth == 32) {}
  const uint8_t* randomTable();
  const Image* knockoutTo(Knockout k) const { return k == Knockout::kDeep ? deepKnockoutBackdrop : knockoutBackdrop; }
};

// The base of a clipping group whose clipped layers are drawn in place
// onto the backdrop: its shape (alpha times masks times opacity) over its
// box. A clipped layer replaces the share of each backdrop pixel that the
// base contributed: its coverage is scaled by shape / backdrop alpha and it
// blends atop (the backdrop's alpha stays). With "blend clipped layers as
// group" off (`over`), a clipped layer is laid over the backdrop like any
// layer, its coverage scaled by the shape alone: a base at low fill opacity
// still shows its clipped layers at their own opacity.
struct ClipShape {
  Box box;
  std::vector<uint8_t> shape;
  bool over = false;
  uint32_t at(int32_t x, int32_t y) const {
    if (x < box.left || y < box.top || x >= box.right || y >= box.bottom) return 0;
    return shape[static_cast<size_t>(y - box.top) * static_cast<size_t>(box.right - box.left) +
                 static_cast<size_t>(x - box.left)];
  }
};

// Whether the record draws anything at all (visible, opacity above 0,
// nothing that keeps it from being drawn but a stored rendering).
bool shows(const LayerRecord& r);
// The canvas box a pixel, fill or adjustment layer can change, its
// effects included.
Box layerBounds(const Context& c, const LayerRecord& r);
// The box of the layer's own pixels (or fill) within `within`, masks
// applied, effects not included.
Box layerBoundsWithin(const LayerRecord& r, const Box& within);
// Lays `src` (its pixels over `area`) onto `dst` inside `area` with `mode`,
// coverage alpha * opacityFill / 65025 (opacityFill: opacity times fill
// opacity, 0..65025), cut by the masks of `maskOwner` and by `clip`.
// Clipped or `atop` (an adjustment's changed backdrop), the backdrop's
// alpha stays. `fill` names the fill opacity within opacityFill: in the
// modes where fill acts in the blend (fillActsInBlend), it is taken out of
// the coverage and into the blend. `ranges` (Blend If) weigh the coverage
// by the source's colour and the colour below. `alphaInBlend`: in those
// modes the source's own alpha joins the fill in the blend (effect images).
bool drawImage(Context& c, Surface& dst, const Image& src, const Box& area, uint32_t opacityFill,
               const LayerRecord* maskOwner, BlendMode mode, const ClipShape* clip, bool atop = false,
               uint8_t fill = 255, const BlendRanges* ranges = nullptr, bool alphaInBlend = false);
// Draws `src` as a knockout item: laid with `mode` at fill opacity `fill`
// (0..255) onto a copy of `to` (null or without pixels: transparency), which
// then replaces `dst` inside `area` by the item's shape: its alpha (unless
// the owner's transparency does not shape it) times the masks of
// `maskOwner` times `opacity`. The shape's anti-aliased edges
// thus mix the knocked-out result in once, and opacity below 100 % leaves
// part of what lay below.
bool drawKnockout(Context& c, Surface& dst, const Image& src, const Box& area, const Image* to, uint8_t fill,
                  uint8_t opacity, const LayerRecord* maskOwner, BlendMode mode);
// Draws a pixel, fill or adjustment layer onto `dst` inside `limit` with
// the layer's own mode, opacity and masks; `clip` as for drawImage.
bool drawLayer(Context& c, const LayerRecord& r, Surface& dst, const Box& limit, const ClipShape* clip);
// The layer's colour over `area` (its pixels, or its fill drawn into
// `scratch`). False when the layer has no colour of its own to draw.
bool layerContent(Context& c, const LayerRecord& r, const Box& area, std::vector<uint32_t>& scratch,
                  Image& out);

// The box a fill aligned with its layer spans: the vector mask's bounds,
// else the raster mask's rectangle, else the canvas.
Box fillReference(const Context& c, const LayerRecord& r);
// The document's pattern with `id`, or null.
const Pattern* findPattern(const Document& d, const std::string& id);

// ---- shape_stroke.cpp ----

// Whether the layer strokes its path (a shape layer with its stroke on).
bool strokesPath(const LayerRecord& r);
// A shape layer without stored pixels whose stroke settings are known: its
// colour is made from its path (the fill cut by the path when the fill is
// on, the stroke over it), and the path cuts nothing more.
bool builtFromPath(const LayerRecord& r);
// The box within `within` (the canvas, or a box holding it) that the
// layer's stroke covers; empty when it has none.
Box shapeStrokeBounds(const LayerRecord& r, const Box& within);
// For a layer built from its path: the box within `within` its fill and
// stroke cover.
Box pathContentBounds(const LayerRecord& r, const Box& within);
// Lays the layer's stroke onto `dst` inside `limit` with the stroke's mode
// and opacity; `atop` keeps the backdrop's alpha (the stroke redrawn over
// the shape's clipped layers and interior effects).
bool drawShapeStroke(Context& c, const LayerRecord& r, Surface& dst, const Box& limit, bool atop);

// ---- layer_effects.cpp ----

// Whether the record is a shown pixel or fill layer whose effects draw.
bool drawsEffects(const LayerRecord& r);
// The canvas box the layer's effects can change.
Box effectsBounds(const Context& c, const LayerRecord& r);
// Draws the layer and its effects onto `dst` inside `area` (within the
// layer's bounds): the effects below, the layer at its fill opacity, the
// effects above, and the layer's opacity over the whole. `clip` as for
// drawImage. For the base of a clipping group, `clipGroup` (over the
// layer's box within `area`) is drawn in place of the layer's own pixels:
// the base and its clipped layers composed, the fill opacity in its alpha;
// the effects, made from the base's shape, then lie over the clipped
// layers as well.
bool drawWithEffects(Context& c, const LayerRecord& r, Surface& dst, const Box& area, const ClipShape* clip,
                     const Image* clipGroup = nullptr);

// ---- groups.cpp ----

// A group or a layer in the tree built from a list of records.
struct Node {
  const LayerRecord* record = nullptr;  // null for the root
  std::vector<Node> children;           // a group's items, lowest first
  bool isGroup() const { return record == nullptr || record->layerType == kLayerGroupHeader; }
};

// The tree of `records` (records of `document`, lowest first) by their
// group links: every group a record lies in becomes a node, whether or not
// its header is in the list. Headers and dividers themselves are not items.
Node buildTree(const Document& document, const std::vector<const LayerRecord*>& records);
// The canvas box the root's items can change.
Box treeBounds(const Context& c, const Node& root);
// Draws the root's items onto `dst` inside `limit`. False when memory runs out.
bool renderTree(Context& c, const Node& root, Surface& dst, const Box& limit);

}  // namespace korvex::psd::render
