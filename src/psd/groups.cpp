// The group tree and the rules that blend groups and clipping groups.
//
// The tree comes from the records' group links: each record hangs under the
// chain of group headers around it, so a list that holds only a group's
// layers (a group cell) still gets the group itself as a node.
//
// Items of one group are drawn lowest first. A clipped item belongs to the
// nearest lower unclipped item (its base); the base and its clipped items
// form a clipping group, drawn as one step.
//
// Groups:
// - pass-through at full opacity without masks: the items are drawn
//   straight onto the backdrop;
// - pass-through otherwise: the items are drawn onto a copy of the backdrop,
//   which then replaces the backdrop by opacity times masks;
// - any other mode (isolated): the items are drawn onto a transparent
//   buffer, which is then blended onto the backdrop like a layer with the
//   group's mode, opacity, fill opacity, masks and blending ranges.
// Buffers cover only the group's box, the union of what its items can
// change. A group's start is where its knockout items knock out to:
// shallow ones to the start of their own group, deep ones to the start of
// the innermost isolated group (transparency at the top level).
//
// Clipping groups ("blend clipped layers as group", the default): the base's
// colour is laid on a buffer at the base's fill opacity wherever the base has
// any shape, the clipped items are drawn onto it, and the buffer's alpha is
// then cut by the base's shape (its alpha, or a group's composite alpha), so
// clipped items never reach beyond the base. The buffer is blended onto the
// backdrop with the base's mode, opacity and masks; a base with effects
// draws them over the buffer, so they lie over its clipped layers too. A
// normal base at full fill without effects is drawn in place and its
// clipped layers blend atop it with all that lies below. With the flag off
// the base is drawn as usual and each clipped layer is laid onto the
// backdrop with its own mode inside the base's shape and opacity.
#include <algorithm>

#include "psd/render.h"

namespace korvex::psd::render {
namespace {

// Photoshop nests groups at most ten deep; a damaged file's deeper groups
// are flattened into the one at this depth, which also bounds the
// recursion.
constexpr size_t kMaxDepth = 64;

// The group headers around record `index`, outermost first. Links point
// upwards in the file, so the chain ends.
void headerChain(const Document& d, int32_t index, std::vector<int32_t>& chain) {
  chain.clear();
  const auto& records = d.layerRecords;
  for (int32_t h = records[static_cast<size_t>(index)].groupHeader;
       h > index && static_cast<size_t>(h) < records.size() && chain.size() < kMaxDepth;
       index = h, h = records[static_cast<size_t>(h)].groupHeader)
    chain.push_back(h);
  std::reverse(chain.begin(), chain.end());
}

// The clipping groups of a list of items: [first, end) with items[first]
// the base.
template <class F>
bool forEachRun(const std::vector<Node>& items, F f) {
  for (size_t i = 0; i < items.size();) {
    size_t end = i + 1;
    while (end < items.size() && items[end].record->clipping) ++end;
    if (!f(i, end)) return false;
    i = end;
  }
  return true;
}

Box nodeBounds(const Context& c, const Node& n);

Box itemsBounds(const Context& c, const std::vector<Node>& items) {
  Box b;
  forEachRun(items, [&](size_t base, size_t) {
    b = unite(b, nodeBounds(c, items[base]));
    return true;
  });
  return b;
}

Box nodeBounds(const Context& c, const Node& n) {
  if (!n.record) return intersect(itemsBounds(c, n.children), c.canvas);
  if (!n.isGroup()) return layerBounds(c, *n.record);
  if (!shows(*n.record)) return Box{};
  return intersect(itemsBounds(c, n.children), maskBounds(*n.record, c.canvas));
}

BlendMode groupMode(const LayerRecord& r) {
  return r.blendMode == BlendMode::kPassThrough ? BlendMode::kNormal : r.blendMode;
}

bool renderItems(Context& c, const std::vector<Node>& items, Surface& dst, const Box& limit);
bool renderNode(Context& c, const Node& n, Surface& dst, const Box& limit, const ClipShape* clip);

// Draws a group's items with `backdrop` as the group's start for knockout
// items; an isolated group's start is also where deep knockouts stop.
bool renderChildren(Context& c, const Node& n, Surface& dst, const Box& area, const Image& backdrop, bool isolated) {
  const Image* outer = c.knockoutBackdrop;
  const Image* outerDeep = c.deepKnockoutBackdrop;
  c.knockoutBackdrop = &backdrop;
  if (isolated) c.deepKnockoutBackdrop = &backdrop;
  const bool ok = renderItems(c, n.children, dst, area);
  c.knockoutBackdrop = outer;
  c.deepKnockoutBackdrop = outerDeep;
  return ok;
}

bool renderGroup(Context& c, const Node& n, Surface& dst, const Box& limit, const ClipShape* clip) {
  const LayerRecord& r = *n.record;
  const Box area = intersect(intersect(nodeBounds(c, n), dst.box), limit);
  if (area.empty()) return true;
  const uint32_t opacityFill = uint32_t{r.opacity} * r.fillOpacity;
  // A knockout group knocks out with its composite, made on its own.
  const bool passThrough = r.blendMode == BlendMode::kPassThrough && !clip && r.knockout == Knockout::kNone;
  bool knocks = false;  // an item knocks out to the group's start
  for (const Node& child : n.children) knocks = knocks || child.record->knockout == Knockout::kShallow;
  Buffer buffer;
  if (!passThrough) {
    const Image transparent(area, nullptr, 0);
    if (!buffer.allocate(area) || !renderChildren(c, n, buffer.surface(), area, transparent, true)) return false;
    if (r.knockout != Knockout::kNone && !clip)
      return drawKnockout(c, dst, buffer.surface(), area, c.knockoutTo(r.knockout), r.fillOpacity, r.opacity, &r,
                          groupMode(r));
    return drawImage(c, dst, buffer.surface(), area, opacityFill, &r, groupMode(r), clip, false, r.fillOpacity,
                     &r.blendIf);
  }
  Buffer start;
  if (knocks && !start.copyOf(dst, area)) return false;
  const Image backdrop = knocks ? Image(start.surface()) : Image(area, nullptr, 0);
  if (opacityFill == 255 * 255 && !r.mask.present() && !(r.vectorMask && !r.vectorMask->disabled))
    return knocks ? renderChildren(c, n, dst, area, backdrop, false) : renderItems(c, n.children, dst, area);
  if (!buffer.copyOf(dst, area) || !renderChildren(c, n, buffer.surface(), area, backdrop, false)) return false;
  MaskRows masks;
  if (!masks.prepare(r, area)) return false;
  const int w = area.right - area.left;
  std::vector<uint8_t> t(static_cast<size_t>(w), static_cast<uint8_t>((opacityFill + 127) / 255));
  for (int32_t y = area.top; y < area.bottom; ++y) {
    if (masks.active()) {
      const uint8_t* m = masks.row(y);
      for (int i = 0; i < w; ++i) t[static_cast<size_t>(i)] = static_cast<uint8_t>((opacityFill * m[i] + 32512) / 65025);
    }
    mixRow(dst.row(area.left, y), buffer.surface().row(area.left, y), t.data(), w, c.linearLight);
  }
  return true;
}

// A clipping group drawn as one unit (see the file comment).
bool renderClippingGroup(Context& c, const Node& base, const Node* clipped, size_t count, Surface& dst,
                         const Box& limit) {
  const LayerRecord& r = *base.record;
  const Box area = intersect(intersect(nodeBounds(c, base), dst.box), limit);
  if (area.empty()) return true;
  const size_t w = static_cast<size_t>(area.right - area.left), h = static_cast<size_t>(area.bottom - area.top);
  Buffer buffer;
  if (!buffer.allocate(area)) return false;
  Surface& s = buffer.surface();
  // The base's colour and shape; then its alpha becomes the base's fill
  // opacity wherever it has shape (a group's fill acts at the end).
  std::vector<uint8_t> shape(w * h);
  uint32_t opacityFill = uint32_t{r.opacity} * 255;
  if (base.isGroup()) {
    if (!renderItems(c, base.children, s, area)) return false;
    opacityFill = uint32_t{r.opacity} * r.fillOpacity;
  } else {
    std::vector<uint32_t> scratch;
    Image content;
    if (!layerContent(c, r, area, scratch, content)) return true;
    for (int32_t y = area.top; y < area.bottom; ++y) std::copy_n(content.row(area.left, y), w, s.row(area.left, y));
  }
  const uint32_t normalAlpha = base.isGroup() ? 255u : r.fillOpacity;
  for (size_t k = 0; k < w * h; ++k) {
    shape[k] = static_cast<uint8_t>(s.pixels[k] >> 24);
    s.pixels[k] = (s.pixels[k] & 0xFFFFFFu) | (shape[k] ? normalAlpha << 24 : 0u);
  }
  for (size_t i = 0; i < count; ++i)
    if (!renderNode(c, clipped[i], s, area, nullptr)) return false;
  // A shape's own stroke lies over its clipped layers.
  if (!base.isGroup() && strokesPath(r) && !drawShapeStroke(c, r, s, area, true)) return false;
  for (size_t k = 0; k < w * h; ++k)
    s.pixels[k] = (s.pixels[k] & 0xFFFFFFu) | div255((s.pixels[k] >> 24) * shape[k]) << 24;
  const Image composed(s);
  if (!base.isGroup() && drawsEffects(r)) return drawWithEffects(c, r, dst, area, nullptr, &composed);
  return drawImage(c, dst, s, area, opacityFill, &r, base.isGroup() ? groupMode(r) : r.blendMode, nullptr, false, 255,
                   &r.blendIf);
}

bool renderNode(Context& c, const Node& n, Surface& dst, const Box& limit, const ClipShape* clip) {
  if (!n.isGroup()) return drawLayer(c, *n.record, dst, limit, clip);
  if (!shows(*n.record)) return true;
  return renderGroup(c, n, dst, limit, clip);
}

// The shape of a clipping group's base over `within` (see ClipShape): a
// layer's own pixels, not its effects.
bool baseShape(Context& c, const Node& base, const Box& within, ClipShape& out) {
  const LayerRecord& r = *base.record;
  const Box area = base.isGroup() ? within : intersect(within, layerBoundsWithin(r, c.canvas));
  out.box = area;
  out.shape.assign(pixelCount(area), 0);
  if (area.empty()) return true;
  Buffer buffer;
  std::vector<uint32_t> scratch;
  Image image;
  uint32_t opacity = r.opacity;
  if (base.isGroup()) {
    if (!buffer.allocate(area) || !renderItems(c, base.children, buffer.surface(), area)) return false;
    image = buffer.surface();
    opacity = div255(opacity * r.fillOpacity);
  } else if (r.layerType == kLayerAdjustment) {
    // An adjustment's shape is its masks alone.
    scratch.assign(static_cast<size_t>(area.right - area.left), 0xFF000000u);
    image = Image{area, scratch.data(), 0};
  } else if (!layerContent(c, r, area, scratch, image)) {
    return true;
  }
  MaskRows masks;
  if (!masks.prepare(r, area)) return false;
  uint8_t* out8 = out.shape.data();
  const int w = area.right - area.left;
  for (int32_t y = area.top; y < area.bottom; ++y, out8 += w) {
    const uint32_t* p = image.row(area.left, y);
    const uint8_t* m = masks.active() ? masks.row(y) : nullptr;
    for (int i = 0; i < w; ++i) {
      uint32_t v = (p[i] >> 24) * opacity * 255;
      if (m) v = div255(v * m[i]);
      out8[i] = static_cast<uint8_t>((v + 32512) / 65025);
    }
  }
  return true;
}

bool renderItems(Context& c, const std::vector<Node>& items, Surface& dst, const Box& limit) {
  return forEachRun(items, [&](size_t first, size_t end) {
    const Node& base = items[first];
    bool clippedShows = false;
    for (size_t i = first + 1; i < end; ++i) clippedShows = clippedShows || shows(*items[i].record);
    // A hidden base hides its clipped items.
    if (!clippedShows || !shows(*base.record)) return renderNode(c, base, dst, limit, nullptr);
    const LayerRecord& r = *base.record;
    // A base in normal mode at full fill draws the same either way; it is
    // drawn in place, so clipped layers blend with all that lies below.
    // A layer's effects lie over its clipped layers, so such a base is
    // always drawn as a group.
    const bool normal = base.isGroup() ? groupMode(r) == BlendMode::kNormal : r.blendMode == BlendMode::kNormal;
    // A shape's stroke lies over its clipped layers too.
    const bool inPlace = normal && r.fillOpacity == 255 && (base.isGroup() || (!drawsEffects(r) && !strokesPath(r)));
    if (r.blendClippedAsGroup && !inPlace)
      return renderClippingGroup(c, base, &items[first + 1], end - first - 1, dst, limit);
    ClipShape shape;
    shape.over = !r.blendClippedAsGroup;
    if (!baseShape(c, base, intersect(intersect(nodeBounds(c, base), dst.box), limit), shape)) return false;
    if (!renderNode(c, base, dst, limit, nullptr)) return false;
    for (size_t i = first + 1; i < end; ++i)
      if (!renderNode(c, items[i], dst, limit, &shape)) return false;
    return true;
  });
}

}  // namespace

Node buildTree(const Document& document, const std::vector<const LayerRecord*>& records) {
  Node root;
  std::vector<Node*> open{&root};
  std::vector<int32_t> openHeaders, chain;
  const LayerRecord* first = document.layerRecords.data();
  for (const LayerRecord* r : records) {
    if (r->layerType == kLayerGroupHeader || r->layerType == kLayerSectionDivider) continue;
    headerChain(document, static_cast<int32_t>(r - first), chain);
    size_t common = 0;
    while (common < openHeaders.size() && common < chain.size() && openHeaders[common] == chain[common]) ++common;
    openHeaders.resize(common);
    open.resize(common + 1);
    for (size_t k = common; k < chain.size(); ++k) {
      Node group;
      group.record = &document.layerRecords[static_cast<size_t>(chain[k])];
      open.back()->children.push_back(std::move(group));
      open.push_back(&open.back()->children.back());
      openHeaders.push_back(chain[k]);
    }
    Node leaf;
    leaf.record = r;
    open.back()->children.push_back(std::move(leaf));
  }
  return root;
}

Box treeBounds(const Context& c, const Node& root) { return nodeBounds(c, root); }

bool renderTree(Context& c, const Node& root, Surface& dst, const Box& limit) {
  // Knockouts at the top level reveal the document's Background layer (a
  // lowest pixel layer without transparency, nothing clipped to it) where
  // it has one, transparency otherwise.
  const std::vector<Node>& items = root.children;
  const LayerRecord* first = items.empty() ? nullptr : items[0].record;
  const bool background = first && first == &c.document.layerRecords[0] && first->layerType == kLayerNormal &&
                          !first->transparencyChannel && !(items.size() > 1 && items[1].record->clipping);
  bool knocks = false;
  for (const LayerRecord& r : c.document.layerRecords) knocks = knocks || r.knockout != Knockout::kNone;
  if (!background || !knocks) return renderItems(c, items, dst, limit);
  const Box area = intersect(dst.box, limit);
  Buffer start;
  if (!renderNode(c, items[0], dst, limit, nullptr) || !start.copyOf(dst, area)) return false;
  const Image backdrop(start.surface());
  c.knockoutBackdrop = c.deepKnockoutBackdrop = &backdrop;
  const std::vector<Node> rest(items.begin() + 1, items.end());
  const bool ok = renderItems(c, rest, dst, limit);
  c.knockoutBackdrop = c.deepKnockoutBackdrop = nullptr;
  return ok;
}

}  // namespace korvex::psd::render
