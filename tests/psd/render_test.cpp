// The renderer's group rules on files from the test writer: isolated and
// pass-through groups, clipping groups with "blend clipped layers as group"
// on and off, adjustment layers inside groups and clipped to a base.
// Expected pixels are worked out by hand from the blend formulas.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/descriptor_bytes.h"
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

// A one-byte setting block ("clbl", "knko", "tsly"): the value and three
// bytes of padding.
std::pair<std::string, std::string> flagBlock(const char* key, uint8_t value) {
  return {key, std::string(1, static_cast<char>(value)) + std::string(3, '\0')};
}

std::pair<std::string, std::string> blendClippedAsGroup(bool on) { return flagBlock("clbl", on ? 1 : 0); }

// An "lfx2" block holding one effect, its object written by `effect`.
std::pair<std::string, std::string> oneEffect(void (*effect)(test::Bytes&)) {
  test::Bytes b;
  b.u32(0).u32(16).object("null", 3);
  b.item("Scl ", "UntF").raw("#Prc").f64(100);
  b.item("masterFXSwitch", "bool").u8(1);
  effect(b);
  return {"lfx2", b.s};
}

void rgbItem(test::Bytes& b, double red, double green, double blue) {
  b.item("Clr ", "Objc").object("RGBC", 3).item("Rd  ", "doub").f64(red).item("Grn ", "doub").f64(green);
  b.item("Bl  ", "doub").f64(blue);
}

// A colour overlay: green, normal, 100 %.
std::pair<std::string, std::string> greenOverlay() {
  return oneEffect([](test::Bytes& b) {
    b.item("SoFi", "Objc").object("SoFi", 4);
    b.item("enab", "bool").u8(1);
    b.item("Md  ", "enum").id("BlnM").id("Nrml");
    b.item("Opct", "UntF").raw("#Prc").f64(100);
    rgbItem(b, 0, 255, 0);
  });
}

// A sharp black drop shadow one pixel to the right (light from the left).
std::pair<std::string, std::string> shadowToTheRight() {
  return oneEffect([](test::Bytes& b) {
    b.item("DrSh", "Objc").object("DrSh", 8);
    b.item("enab", "bool").u8(1);
    b.item("Md  ", "enum").id("BlnM").id("Nrml");
    rgbItem(b, 0, 0, 0);
    b.item("Opct", "UntF").raw("#Prc").f64(100);
    b.item("uglg", "bool").u8(0);
    b.item("lagl", "UntF").raw("#Ang").f64(180);
    b.item("Dstn", "UntF").raw("#Pxl").f64(1);
    b.item("blur", "UntF").raw("#Pxl").f64(0);
  });
}

// The pixel `p` laid over opaque white, as a merged image shows it.
uint32_t overWhite(uint32_t p) {
  const uint32_t a = p >> 24;
  uint32_t out = 0xFF000000u;
  for (int s = 0; s < 24; s += 8) out |= (((p >> s & 255) * a + 255 * (255 - a) + 127) / 255) << s;
  return out;
}

// Blending ranges: the grey pair (this layer, underlying) and three
// channel pairs, each range black low, black high, white low, white high.
struct Range {
  uint8_t b0 = 0, b1 = 0, w0 = 255, w1 = 255;
};
std::string blendingRanges(Range greyOwn, Range greyBelow, Range redOwn = {}) {
  std::string out;
  const Range all;
  for (const Range& r : {greyOwn, greyBelow, redOwn, all, all, all, all, all})
    out += {static_cast<char>(r.b0), static_cast<char>(r.b1), static_cast<char>(r.w0), static_cast<char>(r.w1)};
  return out;
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
  blue.blocks = {flagBlock("knko", 1)};
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

// An anti-aliased knockout edge mixes the knocked-out result in once: a
// half-covered blue multiply pixel over red in an isolated group gives
// half red, half blue (over the group's transparent start, multiply draws
// plain blue), not a quarter.
TEST(RenderKnockout, AnAntiAliasedEdgeMixesOnce) {
  const PsdRecord white = test::solidLayer("w", 0, 0, 1, 1, 0xFFFFFFFFu);
  const PsdRecord red = test::solidLayer("r", 0, 0, 1, 1, 0xFFFF0000u);
  PsdRecord blue = test::solidLayer("b", 0, 0, 1, 1, 0x800000FFu);
  blue.blendMode = "mul ";
  blue.blocks = {flagBlock("knko", 1)};
  std::vector<PsdRecord> records = {white};
  test::append(records, test::group("g", {red, blue}));
  records.back().blendMode = "norm";
  EXPECT_EQ(render(1, records), std::vector<uint32_t>{0xFF7F0080u});
}

// With fill 0 a knockout layer shows what it knocks out to. Shallow, inside
// a pass-through group, that is the group's start (the red below it in the
// isolated group around); deep, the start of the isolated group
// (transparency, so the white backdrop shows); at the top level, the
// document's transparency, partly at half opacity.
TEST(RenderKnockout, ShallowAndDeepKnockOutToTheirGroupsStart) {
  const PsdRecord white = test::solidLayer("w", 0, 0, 1, 1, 0xFFFFFFFFu);
  const PsdRecord red = test::solidLayer("r", 0, 0, 1, 1, 0xFFFF0000u);
  const PsdRecord green = test::solidLayer("g", 0, 0, 1, 1, 0xFF00FF00u);
  PsdRecord hole = test::solidLayer("k", 0, 0, 1, 1, 0xFF0000FFu);
  hole.fillOpacity = 0;
  for (uint8_t depth : {1, 2}) {
    hole.blocks = {flagBlock("knko", depth)};
    std::vector<PsdRecord> inner = {red};
    test::append(inner, test::group("pass", {green, hole}));
    std::vector<PsdRecord> records = {white};
    test::append(records, test::group("isolated", inner));
    records.back().blendMode = "norm";
    EXPECT_EQ(render(1, records), std::vector<uint32_t>{depth == 1 ? 0xFFFF0000u : 0xFFFFFFFFu}) << int{depth};
  }
  hole.opacity = 128;
  EXPECT_EQ(render(1, {white, hole}), std::vector<uint32_t>{0x7FFFFFFFu});
}

// At the top level a knockout reveals the Background layer (the lowest
// layer, without transparency) where the document has one.
TEST(RenderKnockout, TheTopLevelRevealsTheBackgroundLayer) {
  PsdRecord red = test::solidLayer("Background", 0, 0, 1, 1, 0xFFFF0000u);
  const PsdRecord green = test::solidLayer("g", 0, 0, 1, 1, 0xFF00FF00u);
  PsdRecord hole = test::solidLayer("k", 0, 0, 1, 1, 0xFF0000FFu);
  hole.fillOpacity = 0;
  hole.blocks = {flagBlock("knko", 2)};
  EXPECT_EQ(render(1, {red, green, hole}), std::vector<uint32_t>{0x00FFFFFFu});
  red.transparency = false;
  EXPECT_EQ(render(1, {red, green, hole}), std::vector<uint32_t>{0xFFFF0000u});
}

// A knockout group, isolated or passing through, punches its composite
// through to the document's transparency: blue at the group's fill of 50 %
// over nothing, whatever red lay below.
TEST(RenderKnockout, AGroupKnocksOutWithItsComposite) {
  const PsdRecord red = test::solidLayer("r", 0, 0, 1, 1, 0xFFFF0000u);
  for (const char* mode : {"norm", "pass"}) {
    std::vector<PsdRecord> records = {red};
    test::append(records, test::group("g", {test::solidLayer("b", 0, 0, 1, 1, 0xFF0000FFu)}));
    records.back().blendMode = mode;
    records.back().fillOpacity = 128;
    records.back().blocks = {flagBlock("knko", 2)};
    EXPECT_EQ(render(1, records), std::vector<uint32_t>{0x800000FFu}) << mode;
  }
}

// Without "transparency shapes layer" a knockout acts where the layer is
// transparent as well.
TEST(RenderKnockout, TransparencyShapesLayerOffKnocksOutThroughoutTheLayer) {
  const PsdRecord white = test::solidLayer("w", 0, 0, 2, 1, 0xFFFFFFFFu);
  PsdRecord hole = test::solidLayer("k", 0, 0, 2, 1, 0xFF0000FFu);
  hole.pixels = {0xFF0000FFu, 0x000000FFu};
  hole.fillOpacity = 0;
  hole.blocks = {flagBlock("knko", 2)};
  EXPECT_EQ(render(2, {white, hole}), (std::vector<uint32_t>{0x00FFFFFFu, 0xFFFFFFFFu}));
  hole.blocks.push_back(flagBlock("tsly", 0));
  EXPECT_EQ(render(2, {white, hole}), (std::vector<uint32_t>{0x00FFFFFFu, 0x00FFFFFFu}));
}

// "Blend clipped layers as group" off: the clipped layer is laid over what
// lies below with its own coverage inside the base's shape, however low
// the base's fill (over transparency it shows fully, not at the base's
// alpha).
TEST(RenderClipping, ClippedLayersOverALowFillBaseKeepTheirOpacity) {
  PsdRecord base = test::solidLayer("base", 0, 0, 1, 1, 0xFF000000u);
  base.fillOpacity = 28;
  base.blocks = {blendClippedAsGroup(false)};
  PsdRecord clipped = test::solidLayer("c", 0, 0, 2, 1, 0xFF123456u);
  clipped.clipping = true;
  EXPECT_EQ(render(2, {base, clipped}), (std::vector<uint32_t>{0xFF123456u, 0x00FFFFFFu}));
}

// A clipping base's colour overlay lies over its clipped layers.
TEST(RenderClipping, TheBasesEffectsLieOverItsClippedLayers) {
  PsdRecord base = test::solidLayer("base", 0, 0, 1, 1, 0xFF000000u);
  base.blocks = {greenOverlay()};
  PsdRecord clipped = test::solidLayer("c", 0, 0, 1, 1, 0xFFFF0000u);
  clipped.clipping = true;
  EXPECT_EQ(render(1, {base, clipped}), std::vector<uint32_t>{0xFF00FF00u});
}

// A layer mask shapes the layer its shadow is made from; with "layer mask
// hides effects" the shadow is made from the whole layer and cut by the
// mask with it.
TEST(RenderEffectsMasks, ALayerMaskThatHidesEffectsCutsTheShadow) {
  PsdRecord layer = test::solidLayer("l", 0, 0, 2, 1, 0xFFFF0000u);
  layer.hasMask = true;
  layer.mask.width = 3;
  layer.mask.height = 1;
  layer.mask.pixels = {255, 0, 255};
  layer.blocks = {shadowToTheRight()};
  EXPECT_EQ(render(3, {layer}), (std::vector<uint32_t>{0xFFFF0000u, 0xFF000000u, 0x00FFFFFFu}));
  layer.blocks.push_back(flagBlock("lmgm", 1));
  EXPECT_EQ(render(3, {layer}), (std::vector<uint32_t>{0xFFFF0000u, 0x00FFFFFFu, 0xFF000000u}));
}

// Fill opacity in the modes that take it into the blend, over grey 100:
// - linear dodge 200 at fill 51: the source moves towards black,
//   200 * 51 / 255 = 40, and adds: 140 (opacity 51 would mix 100 and 255
//   to 131);
// - colour dodge 128 at fill 128: 128 * 128 / 255 = 64.25 -> 64,
//   100 * 255 / (255 - 64) = 133.5 -> 134;
// - linear burn 200 at fill 128: towards white, 255 - 55 * 128 / 255 =
//   227.4 -> 227, 100 + 227 - 255 = 72;
// - difference 200 at fill 128: 200 * 128 / 255 = 100.4 -> 100, |100 - 100| = 0;
// - linear light 200 at fill 128: twice the source towards grey,
//   255 + 145 * 128 / 255 = 327.8 -> 328, 100 + 328 - 255 = 173;
// - hard mix 200 at fill 128: (255 * 100 - 55 * 128) / 127 = 145.4 -> 145.
// Opacity still mixes the result: linear dodge at fill 51 and opacity 128
// gives 100 + (140 - 100) * 128 / 255 = 120.
TEST(RenderFillOpacity, TheSpecialModesTakeFillIntoTheBlend) {
  const PsdRecord grey = test::solidLayer("g", 0, 0, 1, 1, 0xFF646464u);
  struct Case {
    const char* mode;
    uint32_t source;
    uint8_t fill, opacity, expected;
  };
  for (const Case& k : {Case{"lddg", 200, 51, 255, 140}, Case{"div ", 128, 128, 255, 134},
                        Case{"lbrn", 200, 128, 255, 72}, Case{"diff", 200, 128, 255, 0},
                        Case{"lLit", 200, 128, 255, 173}, Case{"hMix", 200, 128, 255, 145},
                        Case{"lddg", 200, 51, 128, 120}}) {
    PsdRecord layer = test::solidLayer("l", 0, 0, 1, 1, 0xFF000000u | k.source * 0x010101u);
    layer.blendMode = k.mode;
    layer.fillOpacity = k.fill;
    layer.opacity = k.opacity;
    EXPECT_EQ(render(1, {grey, layer}), std::vector<uint32_t>{0xFF000000u | k.expected * 0x010101u}) << k.mode;
  }
}

// Over a half-transparent backdrop the source's own share (where nothing
// lies) is cut by the fill too. Photoshop's merged image of blue at 60 %,
// green in linear light at 40 % and red in linear light at fill 20 % is
// (100, 112, 102) over white.
TEST(RenderFillOpacity, TheSourcesShareOverTransparencyIsCutByTheFill) {
  PsdRecord blue = test::solidLayer("b", 0, 0, 1, 1, 0xFF0000FFu);
  blue.opacity = 153;
  PsdRecord green = test::solidLayer("g", 0, 0, 1, 1, 0xFF00FF00u);
  green.blendMode = "lLit";
  green.opacity = 102;
  PsdRecord red = test::solidLayer("r", 0, 0, 1, 1, 0xFFFF0000u);
  red.blendMode = "lLit";
  red.fillOpacity = 51;
  EXPECT_EQ(overWhite(render(1, {blue, green, red})[0]), 0xFF647066u);
}

// Blend If on the layer's own grey: the light pixel (224 > 128) is hidden.
// On the grey below, split 32..96: nothing over 0, half (64 - 32) / 64 over
// 64, all over 128. On the layer's red channel: red 200 above 100 hides.
TEST(RenderBlendIf, RangesWeighTheCoverage) {
  const PsdRecord black = test::solidLayer("k", 0, 0, 2, 1, 0xFF000000u);
  PsdRecord layer = test::solidLayer("l", 0, 0, 2, 1, 0xFF202020u);
  layer.pixels = {0xFF202020u, 0xFFE0E0E0u};
  layer.blendingRanges = blendingRanges({0, 0, 128, 128}, {});
  EXPECT_EQ(render(2, {black, layer}), (std::vector<uint32_t>{0xFF202020u, 0xFF000000u}));

  PsdRecord below = test::solidLayer("b", 0, 0, 3, 1, 0xFF000000u);
  below.pixels = {0xFF000000u, 0xFF404040u, 0xFF808080u};
  PsdRecord red = test::solidLayer("r", 0, 0, 3, 1, 0xFFFF0000u);
  red.blendingRanges = blendingRanges({}, {32, 96, 255, 255});
  // Weight 127: red 64 + (255 - 64) * 127 / 255 = 159, green and blue 64 * 128 / 255 = 32.
  EXPECT_EQ(render(3, {below, red}), (std::vector<uint32_t>{0xFF000000u, 0xFF9F2020u, 0xFFFF0000u}));

  layer.pixels = {0xFF3C0000u, 0xFFC80000u};
  layer.blendingRanges = blendingRanges({}, {}, {0, 0, 100, 100});
  EXPECT_EQ(render(2, {black, layer}), (std::vector<uint32_t>{0xFF3C0000u, 0xFF000000u}));
}

// A layer with effects is weighed by the colour below it too: its overlaid
// colour shows over black and not over white.
TEST(RenderBlendIf, ALayerWithEffectsReadsTheColourBelowIt) {
  PsdRecord below = test::solidLayer("b", 0, 0, 2, 1, 0xFF000000u);
  below.pixels = {0xFF000000u, 0xFFFFFFFFu};
  PsdRecord layer = test::solidLayer("l", 0, 0, 2, 1, 0xFFFF0000u);
  layer.blocks = {greenOverlay()};
  layer.blendingRanges = blendingRanges({}, {0, 0, 128, 128});
  EXPECT_EQ(render(2, {below, layer}), (std::vector<uint32_t>{0xFF00FF00u, 0xFFFFFFFFu}));
}

// A group's ranges weigh its composite as a unit.
TEST(RenderBlendIf, AGroupsRangesActOnItsResult) {
  const PsdRecord black = test::solidLayer("k", 0, 0, 2, 1, 0xFF000000u);
  PsdRecord layer = test::solidLayer("l", 0, 0, 2, 1, 0xFF202020u);
  layer.pixels = {0xFF202020u, 0xFFE0E0E0u};
  std::vector<PsdRecord> records = {black};
  test::append(records, test::group("g", {layer}));
  records.back().blendMode = "norm";
  records.back().blendingRanges = blendingRanges({0, 0, 128, 128}, {});
  EXPECT_EQ(render(2, records), (std::vector<uint32_t>{0xFF202020u, 0xFF000000u}));
}

}  // namespace
}  // namespace korvex::psd
