// Shape layers' own strokes ("vstk"): the settings the reader keeps, the
// band drawn along the path, and the stroke over the shape's clipped
// layers, worked out by hand on an 8 x 8 canvas cut by the square from
// (2, 2) to (6, 6).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/descriptor_bytes.h"
#include "support/rendered_psd.h"

namespace korvex::psd {
namespace {

using test::PsdRecord;
using test::render;
using test::Rendered;

constexpr uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u;

struct StrokeSettings {
  double width = 1;
  const char* alignment = "strokeStyleAlignInside";
  bool fill = true;
  const char* mode = "Nrml";
  double opacity = 100;
  bool dashed = false;  // a dash list of one dash, 2 widths long
};

// A "vstk" block: a red stroke with `s`.
std::string strokeBlock(const StrokeSettings& s) {
  test::Bytes b;
  b.u32(16).object("strokeStyle", s.dashed ? 8 : 7);
  if (s.dashed) b.item("strokeStyleLineDashSet", "VlLs").u32(1).raw("UntF").raw("#Nne").f64(2);
  b.item("strokeEnabled", "bool").u8(1);
  b.item("fillEnabled", "bool").u8(s.fill ? 1 : 0);
  b.item("strokeStyleLineWidth", "UntF").raw("#Pxl").f64(s.width);
  b.item("strokeStyleLineAlignment", "enum").id("strokeStyleLineAlignment").id(s.alignment);
  b.item("strokeStyleBlendMode", "enum").id("BlnM").id(s.mode);
  b.item("strokeStyleOpacity", "UntF").raw("#Prc").f64(s.opacity);
  b.item("strokeStyleContent", "Objc").object("solidColorLayer", 1);
  b.item("Clr ", "Objc").object("RGBC", 3);
  b.item("Rd  ", "doub").f64(255).item("Grn ", "doub").f64(0).item("Bl  ", "doub").f64(0);
  return b.s;
}

const std::string kSquare = test::rectanglePath(0.25, 0.25, 0.75, 0.75);

// A blue shape layer cut by the square, without stored pixels.
PsdRecord emptyShape(const StrokeSettings& s) {
  PsdRecord r;
  r.kind = test::PsdRecordKind::kSolidFill;
  r.fillColor = 0x0000FF;
  r.blocks = {{"vscg", std::string(4, '\0')}, {"vsms", kSquare}, {"vstk", strokeBlock(s)}};
  return r;
}

TEST(ShapeStroke, ReadsItsSettings) {
  StrokeSettings s;
  s.width = 3;
  s.alignment = "strokeStyleAlignOutside";
  s.fill = false;
  s.mode = "Mltp";
  s.opacity = 50;
  Rendered r;
  render(r, 8, 8, {emptyShape(s)});
  const LayerRecord& record = r.document.layerRecords[0];
  ASSERT_TRUE(record.shapeStroke);
  const ShapeStroke& stroke = *record.shapeStroke;
  EXPECT_TRUE(stroke.enabled);
  EXPECT_FALSE(stroke.fillEnabled);
  EXPECT_DOUBLE_EQ(stroke.width, 3);
  EXPECT_EQ(stroke.alignment, StrokePosition::kOutside);
  EXPECT_EQ(stroke.mode, BlendMode::kMultiply);
  EXPECT_DOUBLE_EQ(stroke.opacity, 0.5);
  EXPECT_EQ(stroke.fill, StrokeFill::kColor);
  EXPECT_EQ(stroke.color, 0xFF0000u);

  // A damaged block: the layer draws without its stroke and says so.
  PsdRecord damaged = emptyShape(StrokeSettings{});
  damaged.blocks[2].second.resize(40);
  Rendered d;
  render(d, 8, 8, {damaged});
  EXPECT_FALSE(d.document.layerRecords[0].shapeStroke);
  ASSERT_EQ(d.document.layerRecords[0].leftOut.size(), 1u);
  EXPECT_EQ(d.document.layerRecords[0].leftOut[0].rfind("shape stroke (", 0), 0u);
  EXPECT_EQ(d.at(2, 3), kBlue);

  // A dashed stroke is left out the same way.
  StrokeSettings dashes;
  dashes.dashed = true;
  Rendered e;
  render(e, 8, 8, {emptyShape(dashes)});
  EXPECT_FALSE(e.document.layerRecords[0].shapeStroke);
  ASSERT_EQ(e.document.layerRecords[0].leftOut.size(), 1u);
  EXPECT_NE(e.document.layerRecords[0].leftOut[0].find("dashed"), std::string::npos);
}

TEST(ShapeStroke, WithoutStoredPixelsIsDrawnFromThePath) {
  // Inside, 1 pixel: the square's outer ring of pixels.
  Rendered inside;
  render(inside, 8, 8, {emptyShape(StrokeSettings{})});
  EXPECT_EQ(inside.at(2, 3), kRed);
  EXPECT_EQ(inside.at(5, 4), kRed);
  EXPECT_EQ(inside.at(3, 3), kBlue);
  EXPECT_EQ(inside.alpha(1, 3), 0);

  // Outside, 1 pixel: the ring just beyond the square; the fill unchanged.
  StrokeSettings s;
  s.alignment = "strokeStyleAlignOutside";
  Rendered outside;
  render(outside, 8, 8, {emptyShape(s)});
  EXPECT_EQ(outside.at(1, 3), kRed);
  EXPECT_EQ(outside.at(6, 4), kRed);
  EXPECT_EQ(outside.at(2, 3), kBlue);
  EXPECT_EQ(outside.alpha(0, 3), 0);

  // Centre, 2 pixels: one ring each side of the edge.
  s.alignment = "strokeStyleAlignCenter";
  s.width = 2;
  Rendered centre;
  render(centre, 8, 8, {emptyShape(s)});
  EXPECT_EQ(centre.at(1, 3), kRed);
  EXPECT_EQ(centre.at(2, 3), kRed);
  EXPECT_EQ(centre.at(3, 3), kBlue);
  EXPECT_EQ(centre.alpha(0, 3), 0);

  // The fill off: the stroke alone, at half opacity.
  StrokeSettings ring;
  ring.fill = false;
  ring.opacity = 50;
  Rendered hollow;
  render(hollow, 8, 8, {emptyShape(ring)});
  EXPECT_EQ(hollow.at(2, 3), 128u << 24 | 0xFF0000u);
  EXPECT_EQ(hollow.alpha(3, 3), 0);
}

// A shape layer with stored pixels, which hold fill and stroke as one:
// blue inside, a red ring one pixel wide.
PsdRecord storedShape() {
  PsdRecord shape = test::solidLayer("shape", 2, 2, 4, 4, kBlue);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if (x == 0 || y == 0 || x == 3 || y == 3) shape.pixels[static_cast<size_t>(y * 4 + x)] = kRed;
  shape.blocks = {{"vscg", std::string(4, '\0')}, {"vsms", kSquare}, {"vstk", strokeBlock(StrokeSettings{})}};
  return shape;
}

TEST(ShapeStroke, LiesOverTheShapesColourOverlay) {
  // A green colour overlay covers the fill; the stroke lies over it.
  test::Bytes b;
  b.u32(0).u32(16).object("null", 2);
  b.item("masterFXSwitch", "bool").u8(1);
  b.item("SoFi", "Objc").object("SoFi", 4);
  b.item("enab", "bool").u8(1);
  b.item("Md  ", "enum").id("BlnM").id("Nrml");
  b.item("Opct", "UntF").raw("#Prc").f64(100);
  b.item("Clr ", "Objc").object("RGBC", 3);
  b.item("Rd  ", "doub").f64(0).item("Grn ", "doub").f64(255).item("Bl  ", "doub").f64(0);
  PsdRecord shape = storedShape();
  shape.blocks.emplace_back("lfx2", b.s);
  Rendered r;
  render(r, 8, 8, {shape});
  EXPECT_EQ(r.at(2, 3), kRed);
  EXPECT_EQ(r.at(5, 2), kRed);
  EXPECT_EQ(r.at(3, 4), kGreen);
  EXPECT_EQ(r.alpha(6, 6), 0);
}

TEST(ShapeStroke, LiesOverTheShapesClippedLayers) {
  // A green layer clipped to the shape covers the fill but not the ring.
  PsdRecord shape = storedShape();
  PsdRecord clipped = test::solidLayer("over", 0, 0, 8, 8, kGreen);
  clipped.clipping = true;
  Rendered r;
  render(r, 8, 8, {shape, clipped});
  EXPECT_EQ(r.at(2, 3), kRed);
  EXPECT_EQ(r.at(5, 5), kRed);
  EXPECT_EQ(r.at(3, 3), kGreen);
  EXPECT_EQ(r.at(4, 4), kGreen);
  EXPECT_EQ(r.alpha(1, 1), 0);

  // Outside, its stored pixels a square ring around the path: the ring's
  // mitred corners come from them.
  StrokeSettings out;
  out.alignment = "strokeStyleAlignOutside";
  PsdRecord wide = test::solidLayer("wide", 1, 1, 6, 6, kRed);
  for (int y = 1; y < 5; ++y)
    for (int x = 1; x < 5; ++x) wide.pixels[static_cast<size_t>(y * 6 + x)] = kBlue;
  wide.blocks = {{"vscg", std::string(4, '\0')}, {"vsms", kSquare}, {"vstk", strokeBlock(out)}};
  Rendered o;
  render(o, 8, 8, {wide, clipped});
  EXPECT_EQ(o.at(1, 1), kRed);
  EXPECT_EQ(o.at(6, 3), kRed);
  EXPECT_EQ(o.at(2, 2), kGreen);
  EXPECT_EQ(o.alpha(0, 0), 0);

  // A multiply stroke at half opacity (128) over green: green times red is
  // black, so green falls by 128 to 127.
  StrokeSettings dark;
  dark.mode = "Mltp";
  dark.opacity = 50;
  shape.blocks[2].second = strokeBlock(dark);
  Rendered m;
  render(m, 8, 8, {shape, clipped});
  EXPECT_EQ(m.at(2, 3), 0xFF007F00u);
  EXPECT_EQ(m.at(3, 3), kGreen);
}

}  // namespace
}  // namespace korvex::psd
