// The fill and gradient map blocks read through the PSD reader: every item
// of "GdFl" and "PtFl", the document's pattern blocks and "grdm" from
// hand-built bytes, and damaged blocks refused (or the fill skipped with a
// reason), never a crash.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psd/adjustments.h"
#include "psd/fills.h"
#include "psd/gradient.h"
#include "psd/reader.h"
#include "support/descriptor_bytes.h"
#include "support/psd_writer.h"

namespace korvex::psd {
namespace {

using test::Bytes;

// A fill layer on a 4x4 canvas carrying `blocks`; the document's own
// blocks in `global`.
bool load(const std::vector<std::pair<std::string, std::string>>& blocks, Document& d, std::string& error,
          const std::vector<std::pair<std::string, std::string>>& global = {}) {
  test::PsdOptions o;
  o.width = 4;
  o.height = 4;
  o.globalBlocks = global;
  test::PsdRecord r = test::solidLayer("fill", 0, 0, 4, 4, 0xFF000000u);
  r.blocks = blocks;
  const std::string bytes = test::makePsd(o, {r});
  return parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error);
}

const LayerRecord& loaded(const std::vector<std::pair<std::string, std::string>>& blocks, Document& d) {
  std::string error;
  EXPECT_TRUE(load(blocks, d, error)) << error;
  return d.layerRecords.at(0);
}

// A colour stop ("Clrt") with the colour object already written by `color`.
void colorStop(Bytes& b, int location, int midpoint, void (*color)(Bytes&)) {
  b.raw("Objc").object("Clrt", 4);
  b.item("Clr ", "Objc");
  color(b);
  b.item("Type", "enum").id("Clry").id("UsrS");
  b.item("Lctn", "long").u32(static_cast<uint32_t>(location));
  b.item("Mdpn", "long").u32(static_cast<uint32_t>(midpoint));
}

// The "Grdn" object: a red RGB stop at 0, a 25 % grey stop at 4096 with
// midpoint 30, opacity 100 % to 40 %, smoothness 2048.
void gradientObject(Bytes& b, const std::string& form = "CstS") {
  b.object("Grdn", 5);
  b.item("Nm  ", "TEXT").unicode(u"Custom", true);
  b.item("GrdF", "enum").id("GrdF").id(form);
  b.item("Intr", "doub").f64(2048);
  b.item("Clrs", "VlLs").u32(2);
  colorStop(b, 0, 50, [](Bytes& c) {
    c.object("RGBC", 3).item("Rd  ", "doub").f64(255).item("Grn ", "doub").f64(0).item("Bl  ", "doub").f64(0);
  });
  colorStop(b, 4096, 30, [](Bytes& c) { c.object("Grsc", 1).item("Gry ", "doub").f64(25); });
  b.item("Trns", "VlLs").u32(2);
  b.raw("Objc").object("TrnS", 3).item("Opct", "UntF").raw("#Prc").f64(100);
  b.item("Lctn", "long").u32(0).item("Mdpn", "long").u32(50);
  b.raw("Objc").object("TrnS", 3).item("Opct", "UntF").raw("#Prc").f64(40);
  b.item("Lctn", "long").u32(4096).item("Mdpn", "long").u32(50);
}

std::string fullGradientFill() {
  Bytes b;
  b.u32(16).object("null", 8);
  b.item("gradientsInterpolationMethod", "enum").id("gradientInterpolationMethodType").id("Perc");
  b.item("Angl", "UntF").raw("#Ang").f64(30);
  b.item("Type", "enum").id("GrdT").id("Rdl ");
  b.item("Rvrs", "bool").u8(1);
  b.item("Algn", "bool").u8(0);
  b.item("Scl ", "UntF").raw("#Prc").f64(48);
  b.item("Ofst", "Objc").object("Pnt ", 2);
  b.item("Hrzn", "UntF").raw("#Prc").f64(10).item("Vrtc", "UntF").raw("#Prc").f64(-5);
  b.item("Grad", "Objc");
  gradientObject(b);
  return b.s;
}

TEST(FillBlocks, GradientFillItems) {
  Document d;
  const LayerRecord& r = loaded({{"GdFl", fullGradientFill()}}, d);
  EXPECT_EQ(r.layerType, kLayerGradientFill);
  EXPECT_EQ(r.warning, "");
  const GradientFill& f = r.gradientFill;
  EXPECT_EQ(f.style, GradientStyle::kRadial);
  EXPECT_DOUBLE_EQ(f.angle, 30);
  EXPECT_DOUBLE_EQ(f.scale, 0.48);
  EXPECT_TRUE(f.reverse);
  EXPECT_FALSE(f.alignWithLayer);
  EXPECT_DOUBLE_EQ(f.offsetX, 10);
  EXPECT_DOUBLE_EQ(f.offsetY, -5);
  const Gradient& g = f.gradient;
  EXPECT_EQ(g.method, GradientMethod::kPerceptual);
  EXPECT_DOUBLE_EQ(g.smoothness, 0.5);
  EXPECT_FALSE(g.linearDocument);
  ASSERT_EQ(g.colors.size(), 2u);
  EXPECT_DOUBLE_EQ(g.colors[0].red, 255);
  EXPECT_DOUBLE_EQ(g.colors[0].green, 0);
  EXPECT_EQ(g.colors[1].location, 4096);
  EXPECT_EQ(g.colors[1].midpoint, 30);
  EXPECT_DOUBLE_EQ(g.colors[1].green, 191.25);  // 25 % black
  ASSERT_EQ(g.opacities.size(), 2u);
  EXPECT_DOUBLE_EQ(g.opacities[1].opacity, 0.4);
}

TEST(FillBlocks, GradientFillDefaultsAndDocumentDepth) {
  Bytes b;
  b.u32(16).object("null", 1).item("Grad", "Objc");
  gradientObject(b);
  Document d;
  const GradientFill& f = loaded({{"GdFl", b.s}}, d).gradientFill;
  EXPECT_EQ(f.style, GradientStyle::kLinear);
  EXPECT_DOUBLE_EQ(f.angle, 90);
  EXPECT_DOUBLE_EQ(f.scale, 1);
  EXPECT_FALSE(f.reverse);
  EXPECT_TRUE(f.alignWithLayer);
  EXPECT_EQ(f.gradient.method, GradientMethod::kClassic);

  test::PsdOptions o;
  o.width = o.height = 4;
  o.depth = 32;
  test::PsdRecord r = test::solidLayer("fill", 0, 0, 4, 4, 0xFF000000u);
  r.blocks = {{"GdFl", b.s}};
  const std::string bytes = test::makePsd(o, {r});
  std::string error;
  ASSERT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
  EXPECT_TRUE(d.layerRecords.at(0).gradientFill.gradient.linearDocument);
}

TEST(FillBlocks, UndrawableFillsKeepAReason) {
  Bytes noise;
  noise.u32(16).object("null", 1).item("Grad", "Objc");
  gradientObject(noise, "ClNs");
  Document d;
  EXPECT_EQ(loaded({{"GdFl", noise.s}}, d).warning, "gradient fill: noise gradients are not drawn");

  Bytes none;
  none.u32(16).object("null", 1).item("Angl", "UntF").raw("#Ang").f64(30);
  EXPECT_EQ(loaded({{"GdFl", none.s}}, d).warning, "gradient fill: the gradient is missing");

  Bytes noStops;
  noStops.u32(16).object("null", 1).item("Grad", "Objc").object("Grdn", 1).item("Intr", "doub").f64(0);
  EXPECT_EQ(loaded({{"GdFl", noStops.s}}, d).warning, "gradient fill: the gradient has no colour stops");

  Bytes noId;
  noId.u32(16).object("null", 1).item("Ptrn", "Objc").object("Ptrn", 1).item("Nm  ", "TEXT").unicode(u"x", true);
  const LayerRecord& r = loaded({{"PtFl", noId.s}}, d);
  EXPECT_EQ(r.layerType, kLayerPatternFill);
  EXPECT_EQ(r.warning, "pattern fill: the pattern has no id");
}

TEST(FillBlocks, DamagedFillDescriptorsLeaveTheLayerWithAReason) {
  // Cut anywhere: the file reads, the fill layer keeps why it cannot be
  // drawn from its fill.
  const std::string block = fullGradientFill();
  for (size_t n = 0; n < block.size(); ++n) {
    Document d;
    const LayerRecord& r = loaded({{"GdFl", block.substr(0, n)}}, d);
    EXPECT_EQ(r.layerType, kLayerGradientFill);
    EXPECT_NE(r.warning, "") << n;
  }
  Document d;
  EXPECT_EQ(loaded({{"PtFl", "\0\0\0\x10garbage"}}, d).warning.rfind("pattern fill: descriptor", 0), 0u);
  EXPECT_EQ(loaded({{"SoCo", "\0\0\0\x10garbage"}}, d).warning.rfind("solid colour fill: descriptor", 0), 0u);
}

std::string patternFillBlock() {
  Bytes b;
  b.u32(16).object("null", 3);
  b.item("Ptrn", "Objc").object("Ptrn", 2);
  b.item("Nm  ", "TEXT").unicode(u"Flecks", true);
  b.item("Idnt", "TEXT").unicode(u"cf32-b915", true);
  b.item("Scl ", "UntF").raw("#Prc").f64(50);
  b.item("phase", "Objc").object("Pnt ", 2).item("Hrzn", "doub").f64(3).item("Vrtc", "doub").f64(-2);
  return b.s;
}

TEST(FillBlocks, PatternFillItems) {
  Document d;
  const LayerRecord& r = loaded({{"PtFl", patternFillBlock()}}, d);
  EXPECT_EQ(r.layerType, kLayerPatternFill);
  EXPECT_EQ(r.patternFill.patternId, "cf32-b915");
  EXPECT_DOUBLE_EQ(r.patternFill.scale, 0.5);
  EXPECT_DOUBLE_EQ(r.patternFill.phaseX, 3);
  EXPECT_DOUBLE_EQ(r.patternFill.phaseY, -2);
}

// --- patterns ---

// One virtual memory array: written, length, depth 8, the pattern's
// rectangle, depth 8, compression, data.
void channelArray(Bytes& b, int width, int height, uint8_t compression, const std::string& data) {
  b.u32(1).u32(static_cast<uint32_t>(23 + data.size())).u32(8);
  b.u32(0).u32(0).u32(static_cast<uint32_t>(height)).u32(static_cast<uint32_t>(width));
  b.u16(8).u8(compression).raw(data);
}

// One pattern with its length prefix and padding; `arrays` writes the
// channel slots (channel count `channels`, plus two).
std::string pattern(int mode, int width, int height, const std::string& id, uint32_t channels,
                    void (*arrays)(Bytes&, int, int)) {
  Bytes list;
  list.u32(0).u32(0).u32(static_cast<uint32_t>(height)).u32(static_cast<uint32_t>(width)).u32(channels);
  arrays(list, width, height);
  Bytes p;
  p.u32(1).u32(static_cast<uint32_t>(mode)).u16(static_cast<uint16_t>(height)).u16(static_cast<uint16_t>(width));
  p.unicode(u"Dots", true).u8(static_cast<uint8_t>(id.size())).raw(id);
  p.u32(3).u32(static_cast<uint32_t>(list.s.size())).raw(list.s);
  Bytes out;
  out.u32(static_cast<uint32_t>(p.s.size())).raw(p.s);
  while (out.s.size() % 4) out.u8(0);
  return out.s;
}

// RGB 3x2: red raw, green RLE (row counts, then PackBits rows), blue raw,
// then transparency in the fourth slot; 24 slots as Photoshop writes.
void rgbArrays(Bytes& b, int w, int h) {
  channelArray(b, w, h, 0, std::string("\x01\x02\x03\x04\x05\x06", 6));
  channelArray(b, w, h, 1, std::string("\x00\x02\x00\x04\xFE\x07\x02\x08\x09\x0A", 10));
  channelArray(b, w, h, 0, std::string("\x0B\x0C\x0D\x0E\x0F\x10", 6));
  channelArray(b, w, h, 0, std::string("\xFF\x80\x00\xFF\xFF\xFF", 6));
  for (int i = 4; i < 26; ++i) b.u32(0);
}

// RGB slots left unwritten: no colour at all.
void noArrays(Bytes& b, int, int) {
  for (int i = 0; i < 5; ++i) b.u32(0);
}

void oneGrey(Bytes& b, int w, int h) {
  channelArray(b, w, h, 0, std::string("\x40", 1));
  b.u32(0).u32(0);
}

TEST(Patterns, ReadFromTheDocumentsBlocks) {
  const std::string rgb = pattern(3, 3, 2, "id-rgb", 24, rgbArrays);
  const std::string grey = pattern(1, 1, 1, "id-grey", 1, oneGrey);
  Document d;
  std::string error;
  ASSERT_TRUE(load({{"PtFl", patternFillBlock()}}, d, error, {{"Patt", rgb}, {"Pat2", grey}})) << error;
  ASSERT_EQ(d.patterns.size(), 2u);
  const Pattern& p = d.patterns[0];
  EXPECT_EQ(p.id, "id-rgb");
  EXPECT_EQ(p.name, u"Dots");
  EXPECT_EQ(p.width, 3);
  EXPECT_EQ(p.height, 2);
  EXPECT_EQ(p.pixels, (std::vector<uint32_t>{0xFF01070Bu, 0x8002070Cu, 0x0003070Du,  //
                                             0xFF04080Eu, 0xFF05090Fu, 0xFF060A10u}));
  EXPECT_EQ(d.patterns[1].id, "id-grey");
  EXPECT_EQ(d.patterns[1].pixels, std::vector<uint32_t>{0xFF404040u});
}

TEST(Patterns, DamagedPatternsAreRefusedOrLeftOut) {
  const std::string rgb = pattern(3, 3, 2, "id-rgb", 24, rgbArrays);
  std::vector<Pattern> patterns;
  std::string error;
  ASSERT_TRUE(parsePatterns(reinterpret_cast<const uint8_t*>(rgb.data()), rgb.size(), patterns, error)) << error;
  // Every shorter block (fewer than 4 bytes left read as padding): the
  // length prefix or a part of the pattern is cut.
  for (size_t n = 4; n < rgb.size() - 3; ++n) {
    patterns.clear();
    EXPECT_FALSE(parsePatterns(reinterpret_cast<const uint8_t*>(rgb.data()), n, patterns, error)) << n;
  }
  patterns.clear();
  const std::string noColor = pattern(3, 1, 1, "x", 3, noArrays);
  EXPECT_FALSE(parsePatterns(reinterpret_cast<const uint8_t*>(noColor.data()), noColor.size(), patterns, error));
  EXPECT_NE(error.find("pattern 0:"), std::string::npos) << error;

  // In a document the block is left out: a pattern fill naming one of its
  // patterns is not drawn, and says why.
  Document d;
  ASSERT_TRUE(load({{"PtFl", patternFillBlock()}}, d, error, {{"Patt", rgb.substr(0, rgb.size() / 2)}})) << error;
  EXPECT_TRUE(d.patterns.empty());
  const std::string& warning = d.layerRecords.at(0).warning;
  EXPECT_EQ(warning.rfind("pattern fill: the document holds no pattern ", 0), 0u) << warning;
  EXPECT_NE(warning.find("(pattern block Patt: "), std::string::npos) << warning;
}

// --- gradient map ---

// A "grdm" block like Photoshop's: black (RGB) to white (grey space) with
// midpoint 50, opaque, smoothness 0, solid.
std::string gradientMapBlock(bool reverse, uint16_t mode = 0) {
  Bytes b;
  b.u16(1).u8(reverse ? 1 : 0).u8(0).unicode(u"Black, White", true);
  b.u16(2);
  b.u32(0).u32(50).u16(0).u16(0).u16(0).u16(0).u16(0).u16(0);
  b.u32(4096).u32(50).u16(8).u16(10000).u16(0).u16(0).u16(0).u16(0);
  b.u16(2);
  b.u32(0).u32(50).u16(255);
  b.u32(4096).u32(50).u16(255);
  b.u16(2).u16(0).u16(32).u16(mode).u32(0).u16(0).u16(0).u32(2048).u16(3);
  for (int i = 0; i < 8; ++i) b.u16(0);
  b.u16(0);
  return b.s;
}

TEST(GradientMapBlock, ReadAndApplied) {
  Document d;
  const LayerRecord& r = loaded({{"grdm", gradientMapBlock(false)}}, d);
  EXPECT_EQ(r.layerType, kLayerAdjustment);
  ASSERT_TRUE(r.adjustment);
  ASSERT_EQ(r.adjustment->kind, AdjustmentKind::kGradientMap);
  const GradientMap& map = r.adjustment->gradientMap;
  EXPECT_FALSE(map.reverse);
  EXPECT_DOUBLE_EQ(map.gradient.smoothness, 0);
  ASSERT_EQ(map.gradient.colors.size(), 2u);
  EXPECT_DOUBLE_EQ(map.gradient.colors[1].blue, 255);

  // Luminosity (200 * 0.3 + 100 * 0.59 + 50 * 0.11 = 124.5, rounded 125)
  // picks the ramp; alpha stays.
  std::vector<uint32_t> px = {0x4DC86432u, 0xFF000000u};
  applyAdjustment(*r.adjustment, px.data(), px.size());
  EXPECT_EQ(px, (std::vector<uint32_t>{0x4D7D7D7Du, 0xFF000000u}));
  GradientMap reversed = map;
  reversed.reverse = true;
  px = {0x4DC86432u};
  applyGradientMap(reversed, px.data(), px.size());
  EXPECT_EQ(px[0], 0x4D828282u);
}

TEST(GradientMapBlock, DamagedOrNoiseMapsAreSkippedWithAReason) {
  GradientMap map;
  std::string error;
  const std::string noise = gradientMapBlock(false, 1);
  EXPECT_FALSE(parseGradientMap(reinterpret_cast<const uint8_t*>(noise.data()), noise.size(), map, error));
  EXPECT_EQ(error, "gradient map: noise gradients are not drawn");

  // Cut anywhere before the end of the opacity stops: refused. The
  // settings after them are optional.
  const std::string block = gradientMapBlock(true);
  const size_t stopsEnd = block.size() - 40;
  for (size_t n = 0; n < stopsEnd; ++n) {
    EXPECT_FALSE(parseGradientMap(reinterpret_cast<const uint8_t*>(block.data()), n, map, error)) << n;
  }
  EXPECT_TRUE(parseGradientMap(reinterpret_cast<const uint8_t*>(block.data()), stopsEnd, map, error)) << error;
  EXPECT_TRUE(map.reverse);

  Document d;
  const LayerRecord& r = loaded({{"grdm", block.substr(0, 20)}}, d);
  ASSERT_TRUE(r.adjustment);
  EXPECT_EQ(r.adjustment->kind, AdjustmentKind::kUnknown);  // left undrawn, with the adjustment warning
}

}  // namespace
}  // namespace korvex::psd
