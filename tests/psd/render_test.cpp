// The renderer's group rules on files from the test writer: isolated and
// pass-through groups, clipping groups with "blend clipped layers as group"
// on and off, adjustment layers inside groups and clipped to a base.
// Expected pixels are worked out by hand from the blend formulas.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/psd_writer.h"
#include "support/render_psd.h"

namespace korvex::psd {
namespace {

using test::PsdRecord;

// The whole document rendered on a width x 1 canvas; pixels of row 0.
std::vector<uint32_t> render(int width, const std::vector<PsdRecord>& records) {
  test::PsdOptions o;
  o.width = width;
  o.height = 1;
  return test::renderPsd(o, records);
}

// An invert adjustment layer: a record without pixels whose only settings
// block is "nvrt" (no data).
PsdRecord invertLayer() {
  PsdRecord r;
  r.blocks = {{"nvrt", ""}};
  return r;
}

// "clbl": one flag byte and three bytes of padding.
std::pair<std::string, std::string> blendClippedAsGroup(bool on) {
  return {"clbl", std::string(1, on ? '\1' : '\0') + std::string(3, '\0')};
}

// A multiply group over a grey backdrop: its layer is laid in normal mode
// inside the group, and the group's result multiplies the backdrop, at any
// depth. Passing through, the layer would cover the backdrop.
TEST(RenderGroups, AnIsolatedGroupBlendsItsResultWithItsMode) {
  const PsdRecord backdrop = test::solidLayer("b", 0, 0, 1, 1, 0xFF808080u);
  const PsdRecord layer = test::solidLayer("l", 0, 0, 2, 1, 0xFF40C0FFu);
  std::vector<PsdRecord> multiply = test::group("m", {layer});
  multiply.back().blendMode = "mul ";
  // 0x80 * 0x40 / 255 = 0x20, 0x80 * 0xC0 / 255 = 0x60, 0x80 * 0xFF / 255 = 0x80.
  const std::vector<uint32_t> expected = {0xFF206080u, 0xFF40C0FFu};
  std::vector<PsdRecord> records = {backdrop};
  test::append(records, multiply);
  EXPECT_EQ(render(2, records), expected);
  records = {backdrop};
  test::append(records, test::group("outer", multiply));  // pass-through around it
  EXPECT_EQ(render(2, records), expected);
  multiply.back().blendMode = "pass";
  records = {backdrop};
  test::append(records, multiply);
  EXPECT_EQ(render(2, records), (std::vector<uint32_t>{0xFF40C0FFu, 0xFF40C0FFu}));
}

// Opacity acts on the group's result as one: red over blue at half opacity
// is half-transparent red, not red over half-visible blue.
TEST(RenderGroups, AGroupsOpacityActsOnItsResultAsAUnit) {
  const PsdRecord blue = test::solidLayer("blue", 0, 0, 1, 1, 0xFF0000FFu);
  const PsdRecord red = test::solidLayer("red", 0, 0, 1, 1, 0xFFFF0000u);
  for (const char* mode : {"norm", "pass"}) {
    std::vector<PsdRecord> records = test::group("g", {blue, red});
    records.back().blendMode = mode;
    records.back().opacity = 128;
    EXPECT_EQ(render(1, records), std::vector<uint32_t>{0x80FF0000u}) << mode;
  }
}

// Passing through at half opacity, a black multiply layer over white gives
// the mix of the backdrop and the group's result: 255 * 127 / 255 = 127.
// The group's mask keeps the backdrop where it hides the group.
TEST(RenderGroups, APassThroughGroupMixesItsResultWithTheBackdrop) {
  const PsdRecord white = test::solidLayer("w", 0, 0, 2, 1, 0xFFFFFFFFu);
  PsdRecord black = test::solidLayer("k", 0, 0, 2, 1, 0xFF000000u);
  black.blendMode = "mul ";
  std::vector<PsdRecord> records = {white};
  test::append(records, test::group("g", {black}));
  records.back().opacity = 128;
  EXPECT_EQ(render(2, records), (std::vector<uint32_t>{0xFF7F7F7Fu, 0xFF7F7F7Fu}));
  records.back().opacity = 255;
  records.back().hasMask = true;
  records.back().mask.width = 2;
  records.back().mask.height = 1;
  records.back().mask.pixels = {255, 0};
  EXPECT_EQ(render(2, records), (std::vector<uint32_t>{0xFF000000u, 0xFFFFFFFFu}));
}

// A knockout layer replaces what lies below it in its group with itself
// over the group's backdrop: transparent for an isolated group, the
// document below for a pass-through one. Without knockout the blue
// multiplies the red to black.
TEST(RenderGroups, AKnockoutLayerCutsThroughItsGroup) {
  const PsdRecord white = test::solidLayer("w", 0, 0, 1, 1, 0xFFFFFFFFu);
  const PsdRecord red = test::solidLayer("r", 0, 0, 1, 1, 0xFFFF0000u);
  PsdRecord blue = test::solidLayer("b", 0, 0, 1, 1, 0xFF0000FFu);
  blue.blendMode = "mul ";
  std::vector<PsdRecord> records = {white};
  test::append(records, test::group("g", {red, blue}));
  EXPECT_EQ(render(1, records), std::vector<uint32_t>{0xFF000000u});
  blue.blocks = {{"knko", std::string("\1\0\0\0", 4)}};
  for (const char* mode : {"norm", "pass"}) {
    records = {white};
    test::append(records, test::group("g", {red, blue}));
    records.back().blendMode = mode;
    EXPECT_EQ(render(1, records), std::vector<uint32_t>{0xFF0000FFu}) << mode;
  }
}

// A multiply base with a screen layer clipped to it, over grey 0x80.
// As a group: the blue screens the grey base (0x80, 0x80, 0xFF), and that
// multiplies the backdrop: (0x40, 0x40, 0x80). Flag off: the base
// multiplies the backdrop (0x40 grey) and the blue screens that:
// (0x40, 0x40, 0xFF).
TEST(RenderClipping, BlendClippedLayersAsGroupOnAndOff) {
  const PsdRecord backdrop = test::solidLayer("b", 0, 0, 2, 1, 0xFF808080u);
  PsdRecord base = test::solidLayer("base", 0, 0, 1, 1, 0xFF808080u);
  base.blendMode = "mul ";
  PsdRecord clipped = test::solidLayer("c", 0, 0, 2, 1, 0xFF0000FFu);
  clipped.blendMode = "scrn";
  clipped.clipping = true;
  EXPECT_EQ(render(2, {backdrop, base, clipped}), (std::vector<uint32_t>{0xFF404080u, 0xFF808080u}));
  base.blocks = {blendClippedAsGroup(false)};
  EXPECT_EQ(render(2, {backdrop, base, clipped}), (std::vector<uint32_t>{0xFF4040FFu, 0xFF808080u}));
}

// A clipped layer over a base of fill opacity 0 still shows inside the
// base's shape (the base's colour is gone, its shape is not).
TEST(RenderClipping, ABaseWithoutFillStillClips) {
  PsdRecord base = test::solidLayer("base", 0, 0, 1, 1, 0xFF000000u);
  base.fillOpacity = 0;
  PsdRecord clipped = test::solidLayer("c", 0, 0, 2, 1, 0xFF123456u);
  clipped.clipping = true;
  EXPECT_EQ(render(2, {base, clipped}), (std::vector<uint32_t>{0xFF123456u, 0x00FFFFFFu}));
}

// A group as the base: the clipped layer blends with everything below
// inside the group's shape.
TEST(RenderClipping, AGroupClipsTheLayersAboveIt) {
  const PsdRecord backdrop = test::solidLayer("b", 0, 0, 3, 1, 0xFF204060u);
  std::vector<PsdRecord> records = {backdrop};
  test::append(records, test::group("g", {test::solidLayer("in", 1, 0, 1, 1, 0xFF808080u)}));
  PsdRecord clipped = test::solidLayer("c", 0, 0, 3, 1, 0xFFFFFFFFu);
  clipped.blendMode = "diff";
  clipped.clipping = true;
  records.push_back(clipped);
  EXPECT_EQ(render(3, records), (std::vector<uint32_t>{0xFF204060u, 0xFF7F7F7Fu, 0xFF204060u}));
}

// An adjustment changes what lies below it in its group: inside an
// isolated group only the group's own layers, passing through the backdrop
// too; clipped, only its base.
TEST(RenderAdjustments, AnAdjustmentChangesWhatLiesBelowItInItsGroup) {
  const PsdRecord backdrop = test::solidLayer("b", 0, 0, 3, 1, 0xFF102030u);
  const PsdRecord layer = test::solidLayer("l", 1, 0, 1, 1, 0xFF405060u);
  std::vector<PsdRecord> inner = test::group("g", {layer, invertLayer()});
  inner.back().blendMode = "norm";
  std::vector<PsdRecord> records = {backdrop};
  test::append(records, inner);
  EXPECT_EQ(render(3, records), (std::vector<uint32_t>{0xFF102030u, 0xFFBFAF9Fu, 0xFF102030u}));
  inner.back().blendMode = "pass";
  records = {backdrop};
  test::append(records, inner);
  EXPECT_EQ(render(3, records), (std::vector<uint32_t>{0xFFEFDFCFu, 0xFFBFAF9Fu, 0xFFEFDFCFu}));
  PsdRecord clippedInvert = invertLayer();
  clippedInvert.clipping = true;
  EXPECT_EQ(render(3, {backdrop, layer, clippedInvert}),
            (std::vector<uint32_t>{0xFF102030u, 0xFFBFAF9Fu, 0xFF102030u}));
}

// Half opacity mixes the changed colour with the original; over nothing an
// adjustment draws nothing.
TEST(RenderAdjustments, OpacityMixesAndTransparentPixelsStay) {
  PsdRecord half = invertLayer();
  half.opacity = 128;
  const PsdRecord layer = test::solidLayer("l", 0, 0, 1, 1, 0xFF0000FFu);
  // Blue (0, 0, 255) inverts to (255, 255, 0); mixed by 128/255:
  // (255 * 128) / 255 = 128 for red and green, (255 * 127) / 255 = 127 for blue.
  EXPECT_EQ(render(2, {layer, half}), (std::vector<uint32_t>{0xFF80807Fu, 0x00FFFFFFu}));
}

}  // namespace
}  // namespace korvex::psd
