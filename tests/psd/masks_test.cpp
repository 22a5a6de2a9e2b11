// Mask density and feather: the mask parameters as the reader keeps them,
// and the coverage they give layers and groups, worked out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/descriptor_bytes.h"
#include "support/rendered_psd.h"

namespace korvex::psd {
namespace {

using test::PsdRecord;
using test::rectanglePath;
using test::render;
using test::Rendered;

// Mask parameters as stored: the flag byte, then the values it names.
std::string parameters(int userDensity, double userFeather, int vectorDensity, double vectorFeather) {
  test::Bytes b;
  b.u8(static_cast<uint8_t>((userDensity >= 0 ? 1 : 0) | (userFeather > 0 ? 2 : 0) | (vectorDensity >= 0 ? 4 : 0) |
                            (vectorFeather > 0 ? 8 : 0)));
  if (userDensity >= 0) b.u8(static_cast<uint8_t>(userDensity));
  if (userFeather > 0) b.f64(userFeather);
  if (vectorDensity >= 0) b.u8(static_cast<uint8_t>(vectorDensity));
  if (vectorFeather > 0) b.f64(vectorFeather);
  return b.s;
}

// A width x 1 layer of `argb` under a mask that shows x in [from, to) and
// hides the rest (default colour 0 beyond its rectangle).
PsdRecord maskedRow(int width, int from, int to, uint32_t argb, const std::string& params) {
  PsdRecord r = test::solidLayer("m", 0, 0, width, 1, argb);
  r.hasMask = true;
  r.mask.left = from;
  r.mask.width = to - from;
  r.mask.height = 1;
  r.mask.pixels.assign(static_cast<size_t>(to - from), 255);
  r.mask.parameters = params;
  return r;
}

TEST(MaskParameters, ReadIntoTheRecordsMask) {
  Rendered r;
  render(r, 4, 1, {maskedRow(4, 1, 3, 0xFF000000, parameters(64, 2.5, 200, 7.25))});
  const LayerMask& m = r.document.layerRecords[0].mask;
  EXPECT_EQ(m.user.density, 64);
  EXPECT_DOUBLE_EQ(m.user.feather, 2.5);
  EXPECT_EQ(m.vector.density, 200);
  EXPECT_DOUBLE_EQ(m.vector.feather, 7.25);
  EXPECT_TRUE(r.document.layerRecords[0].leftOut.empty());

  // Only a vector density: the raster mask keeps full density, no feather.
  render(r, 4, 1, {maskedRow(4, 1, 3, 0xFF000000, parameters(-1, 0, 10, 0))});
  EXPECT_EQ(r.document.layerRecords[0].mask.user.density, 255);
  EXPECT_EQ(r.document.layerRecords[0].mask.vector.density, 10);
}

TEST(MaskParameters, DamagedParametersAreLeftOutWithAReason) {
  // A feather flagged but cut short; a feather that is not a number.
  const std::string cut = parameters(-1, 3, -1, 0).substr(0, 5);
  const std::string nan = test::Bytes().u8(2).f64(std::nan("")).s;
  for (const std::string& p : {cut, nan}) {
    Rendered r;
    render(r, 4, 1, {maskedRow(4, 1, 3, 0xFF000000, p)});
    const LayerRecord& l = r.document.layerRecords[0];
    ASSERT_EQ(l.leftOut.size(), 1u);
    EXPECT_EQ(l.leftOut[0].rfind("mask density and feather (", 0), 0u) << l.leftOut[0];
    EXPECT_FALSE(l.mask.user.acts());
    EXPECT_EQ(r.alpha(0, 0), 0);  // the mask itself still hides
    EXPECT_EQ(r.alpha(1, 0), 255);
  }
}

TEST(MaskDensity, LiftsHiddenAndPartlyShownPixels) {
  // density 128: value' = 255 - round(128 * (255 - value) / 255).
  PsdRecord layer = maskedRow(4, 1, 3, 0xFF204060, parameters(128, 0, -1, 0));
  layer.mask.pixels = {255, 100};
  Rendered r;
  render(r, 4, 1, {layer});
  EXPECT_EQ(r.alpha(0, 0), 127);  // 255 - 128
  EXPECT_EQ(r.alpha(1, 0), 255);
  EXPECT_EQ(r.alpha(2, 0), 177);  // 255 - round(128 * 155 / 255) = 255 - 78
  EXPECT_EQ(r.alpha(3, 0), 127);
  EXPECT_EQ(r.at(3, 0) & 0xFFFFFF, 0x204060u);

  // Density 0: the mask hides nothing.
  layer.mask.parameters = parameters(0, 0, -1, 0);
  render(r, 4, 1, {layer});
  for (int x = 0; x < 4; ++x) EXPECT_EQ(r.alpha(x, 0), 255) << x;

  // A disabled mask stays off whatever its density.
  layer.mask.parameters = parameters(128, 0, -1, 0);
  layer.mask.disabled = true;
  render(r, 4, 1, {layer});
  for (int x = 0; x < 4; ++x) EXPECT_EQ(r.alpha(x, 0), 255) << x;
}

TEST(MaskFeather, BlursTheEdgeAsAGaussianOfHalfTheRadius) {
  // A mask showing the left 20 of 40 columns (and columns and rows far
  // beyond the layer), feathered by 4 pixels: about a Gaussian of deviation 2
  // across the edge at x = 20. Pixel centres lie 0.5, 1.5, ... from it:
  // 255 * Phi(d / 2) = 153, 199, 232, 248 inside, the rest outside.
  PsdRecord layer = maskedRow(40, 0, 20, 0xFF000000, parameters(-1, 4, -1, 0));
  layer.mask.left = -20;
  layer.mask.width = 40;
  layer.mask.top = -20;
  layer.mask.height = 41;
  layer.mask.pixels.assign(40 * 41, 255);
  Rendered r;
  render(r, 40, 1, {layer});
  const int inside[] = {153, 199, 232, 248};
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(r.alpha(19 - k, 0), inside[k], 8) << k;
    EXPECT_NEAR(r.alpha(20 + k, 0), 255 - inside[k], 8) << k;
    EXPECT_NEAR(r.alpha(19 - k, 0) + r.alpha(20 + k, 0), 255, 1) << k;
  }
  EXPECT_EQ(r.alpha(0, 0), 255);
  EXPECT_EQ(r.alpha(39, 0), 0);
}

TEST(MaskFeather, ReachesBeyondTheMasksRectangle) {
  // One shown pixel at (5, 5) of an 11 x 11 layer, default colour 0
  // around it, feathered by 4: spread symmetrically over its neighbours,
  // beyond the mask's rectangle, with its total kept.
  PsdRecord layer = test::solidLayer("dot", 0, 0, 11, 11, 0xFF000000);
  layer.hasMask = true;
  layer.mask.left = 5;
  layer.mask.top = 5;
  layer.mask.width = 1;
  layer.mask.height = 1;
  layer.mask.pixels = {255};
  layer.mask.parameters = parameters(-1, 4, -1, 0);
  Rendered r;
  render(r, 11, 11, {layer});
  EXPECT_LT(r.alpha(5, 5), 40);
  EXPECT_GT(r.alpha(3, 5), 0);
  EXPECT_EQ(r.alpha(3, 5), r.alpha(7, 5));
  EXPECT_EQ(r.alpha(5, 3), r.alpha(5, 7));
  EXPECT_GT(r.alpha(4, 4), r.alpha(3, 3));
  int sum = 0;
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 11; ++x) sum += r.alpha(x, y);
  EXPECT_NEAR(sum, 255, 20);
}

TEST(MaskDensity, AppliesToAGroupsMask) {
  // A group whose mask hides everything at density 64: the group's layer
  // shows at 255 - 64 = 191 everywhere.
  PsdRecord inner = test::solidLayer("in", 0, 0, 2, 1, 0xFF102030);
  std::vector<PsdRecord> records = test::group("g", {inner});
  PsdRecord& header = records.back();
  header.hasMask = true;
  header.mask.defaultColor = 0;
  header.mask.parameters = parameters(64, 0, -1, 0);
  Rendered r;
  render(r, 2, 1, records);
  EXPECT_EQ(r.at(0, 0), 191u << 24 | 0x102030u);
  EXPECT_EQ(r.at(1, 0), 191u << 24 | 0x102030u);
}

TEST(MaskDensity, AppliesToTheVectorMaskOnItsOwn) {
  // A colour fill cut by a path over the left half of a 4 x 1 canvas, the
  // vector mask at density 128: outside the path 255 - 128 = 127 shows.
  PsdRecord fill;
  fill.kind = test::PsdRecordKind::kSolidFill;
  fill.fillColor = 0x336699;
  fill.blocks = {{"vmsk", rectanglePath(0, -1, 0.5, 2)}};
  fill.hasMask = true;
  fill.mask.defaultColor = 255;
  fill.mask.parameters = parameters(-1, 0, 128, 0);
  Rendered r;
  render(r, 4, 1, {fill});
  EXPECT_EQ(r.at(0, 0), 0xFF336699u);
  EXPECT_EQ(r.at(1, 0), 0xFF336699u);
  EXPECT_EQ(r.at(2, 0), 127u << 24 | 0x336699u);
  EXPECT_EQ(r.at(3, 0), 127u << 24 | 0x336699u);
}

TEST(DamagedVectorMask, OnlyStoredRenderingsStillDraw) {
  // A path block cut short: a shape layer's stored pixels (Photoshop's own
  // rendering of fill and path) still draw; a pixel layer, whose pixels
  // the path would cut, is left out with the reason.
  const std::string cut = rectanglePath(0, 0, 1, 1).substr(0, 40);
  PsdRecord shape = test::solidLayer("shape", 0, 0, 1, 1, 0xFF112233);
  shape.blocks = {{"vscg", std::string(4, '\0')}, {"vmsk", cut}};
  PsdRecord pixels = test::solidLayer("pixels", 1, 0, 1, 1, 0xFF445566);
  pixels.blocks = {{"vmsk", cut}};
  Rendered r;
  render(r, 2, 1, {shape, pixels});
  EXPECT_FALSE(r.document.layerRecords[0].warning.empty());
  EXPECT_TRUE(r.document.layerRecords[0].storedRendering());
  EXPECT_EQ(r.at(0, 0), 0xFF112233u);
  EXPECT_FALSE(r.document.layerRecords[1].warning.empty());
  EXPECT_EQ(r.alpha(1, 0), 0);
}

}  // namespace
}  // namespace korvex::psd
