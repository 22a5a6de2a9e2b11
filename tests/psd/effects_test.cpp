// Layer effects: "lfx2" / "lmfx" blocks read through the PSD reader from
// hand-built bytes (every kind, lists, the global light, damaged effects
// and blocks), and the effect images drawn for hand-computed shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/effects.h"
#include "psd/effects_raster.h"
#include "psd/effects_render.h"
#include "psd/reader.h"
#include "support/descriptor_bytes.h"
#include "support/psd_writer.h"

namespace korvex::psd {
namespace {

using test::Bytes;

void rgb(Bytes& b, double r, double g, double bl) {
  b.object("RGBC", 3).item("Rd  ", "doub").f64(r).item("Grn ", "doub").f64(g).item("Bl  ", "doub").f64(bl);
}

void unitFloat(Bytes& b, const std::string& key, const std::string& unit, double v) {
  b.item(key, "UntF").raw(unit).f64(v);
}

// A drop shadow object: multiply, colour (10, 20, 30), 60 %, angle 30,
// distance 4, spread 50 %, size 6; `global` sets "uglg".
void dropShadow(Bytes& b, bool global) {
  b.object("DrSh", 10);
  b.item("enab", "bool").u8(1);
  b.item("Md  ", "enum").id("BlnM").id("Mltp");
  b.item("Clr ", "Objc");
  rgb(b, 10, 20, 30);
  unitFloat(b, "Opct", "#Prc", 60);
  b.item("uglg", "bool").u8(global ? 1 : 0);
  unitFloat(b, "lagl", "#Ang", 30);
  unitFloat(b, "Dstn", "#Pxl", 4);
  unitFloat(b, "Ckmt", "#Pxl", 50);
  unitFloat(b, "blur", "#Pxl", 6);
  b.item("layerConceals", "bool").u8(0);
}

// A stroke object: `style` ("OutF", "InsF", "CtrF"), size, colour red, or
// the colour object's class `colorClass` when it is not "RGBC".
void stroke(Bytes& b, const std::string& style, double size, const std::string& colorClass = "RGBC") {
  b.object("FrFX", 7);
  b.item("enab", "bool").u8(1);
  b.item("Styl", "enum").id("FStl").id(style);
  b.item("PntT", "enum").id("FrFl").id("SClr");
  b.item("Md  ", "enum").id("BlnM").id("Nrml");
  unitFloat(b, "Opct", "#Prc", 100);
  unitFloat(b, "Sz  ", "#Pxl", size);
  b.item("Clr ", "Objc");
  if (colorClass == "RGBC")
    rgb(b, 255, 0, 0);
  else
    b.object(colorClass, 0);
}

// An "lfx2" block: version 0, descriptor version 16, the "null" object
// with its scale, master switch and `count` effect items written by `items`.
std::string effectsBlock(uint32_t count, void (*items)(Bytes&), bool visible = true, double scale = 100) {
  Bytes b;
  b.u32(0).u32(16).object("null", count + 2);
  unitFloat(b, "Scl ", "#Prc", scale);
  b.item("masterFXSwitch", "bool").u8(visible ? 1 : 0);
  items(b);
  return b.s;
}

const LayerRecord& load(const std::string& key, const std::string& block, Document& d,
                        const std::vector<std::pair<uint16_t, std::string>>& resources = {}) {
  test::PsdOptions o;
  o.width = 8;
  o.height = 8;
  o.resources = resources;
  test::PsdRecord r = test::solidLayer("fx", 2, 2, 4, 4, 0xFF0000FFu);
  r.blocks = {{key, block}};
  const std::string bytes = test::makePsd(o, {r});
  std::string error;
  EXPECT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
  return d.layerRecords.at(0);
}

std::string int32Bytes(int32_t v) {
  Bytes b;
  b.u32(static_cast<uint32_t>(v));
  return b.s;
}

TEST(EffectsParse, EveryItemOfAShadowAndAStrokeInDrawingOrder) {
  Document d;
  const LayerRecord& r = load("lfx2", effectsBlock(2, [](Bytes& b) {
                                b.item("FrFX", "Objc");
                                stroke(b, "CtrF", 3);
                                b.item("DrSh", "Objc");
                                dropShadow(b, false);
                              }, true, 200), d);
  ASSERT_TRUE(r.effects.warning.empty()) << r.effects.warning;
  ASSERT_EQ(r.effects.effects.size(), 2u);
  EXPECT_DOUBLE_EQ(r.effects.scale, 2);
  const LayerEffect& shadow = r.effects.effects[0];  // below the layer: first
  EXPECT_EQ(shadow.kind, EffectKind::kDropShadow);
  EXPECT_EQ(shadow.mode, BlendMode::kMultiply);
  EXPECT_EQ(shadow.color, 0x0A141Eu);
  EXPECT_DOUBLE_EQ(shadow.opacity, 0.6);
  EXPECT_DOUBLE_EQ(shadow.angle, 30);
  EXPECT_DOUBLE_EQ(shadow.distance, 8);  // lengths scaled by the effects' scale
  EXPECT_DOUBLE_EQ(shadow.spread, 0.5);
  EXPECT_DOUBLE_EQ(shadow.size, 12);
  EXPECT_FALSE(shadow.knockOut);
  const LayerEffect& s = r.effects.effects[1];
  EXPECT_EQ(s.kind, EffectKind::kStroke);
  EXPECT_EQ(s.position, StrokePosition::kCenter);
  EXPECT_EQ(s.fill, StrokeFill::kColor);
  EXPECT_EQ(s.color, 0xFF0000u);
  EXPECT_DOUBLE_EQ(s.size, 6);
}

TEST(EffectsParse, GlobalLightComesFromTheImageResources) {
  Document d;
  const std::string block = effectsBlock(1, [](Bytes& b) {
    b.item("DrSh", "Objc");
    dropShadow(b, true);
  });
  EXPECT_DOUBLE_EQ(load("lfx2", block, d, {{1037, int32Bytes(75)}, {1049, int32Bytes(40)}}).effects.effects.at(0).angle, 75);
  Document plain;
  EXPECT_DOUBLE_EQ(load("lfx2", block, plain).effects.effects.at(0).angle, 120);  // Photoshop's default
}

TEST(EffectsParse, ListsPutTheirFirstEntryOnTopAndSkipDisabledOnes) {
  Document d;
  const LayerRecord& r = load("lmfx", effectsBlock(2, [](Bytes& b) {
                                b.item("frameFXMulti", "VlLs").u32(2);
                                b.raw("Objc");
                                stroke(b, "OutF", 1);
                                b.raw("Objc");
                                stroke(b, "InsF", 2);
                                b.item("SoFi", "Objc").object("SoFi", 1).item("enab", "bool").u8(0);
                              }), d);
  ASSERT_EQ(r.effects.effects.size(), 2u);
  EXPECT_EQ(r.effects.effects[0].position, StrokePosition::kInside);  // the last entry: lowest
  EXPECT_EQ(r.effects.effects[1].position, StrokePosition::kOutside);
}

TEST(EffectsParse, HiddenEffectsAreNotDrawn) {
  Document d;
  const LayerRecord& r = load("lfx2", effectsBlock(1, [](Bytes& b) {
                                b.item("FrFX", "Objc");
                                stroke(b, "OutF", 1);
                              }, false), d);
  EXPECT_FALSE(r.effects.visible);
  EXPECT_FALSE(r.effects.drawn());
  EXPECT_EQ(effectsReach(r.effects), 0);
}

TEST(EffectsParse, ADamagedEffectIsSkippedWithAReasonAndTheOthersStay) {
  Document d;
  const LayerRecord& r = load("lfx2", effectsBlock(2, [](Bytes& b) {
                                b.item("FrFX", "Objc");
                                stroke(b, "OutF", 1, "XYZC");
                                b.item("DrSh", "Objc");
                                dropShadow(b, false);
                              }), d);
  ASSERT_EQ(r.effects.effects.size(), 1u);
  EXPECT_EQ(r.effects.effects[0].kind, EffectKind::kDropShadow);
  EXPECT_NE(r.effects.warning.find("stroke: unknown colour space XYZC"), std::string::npos) << r.effects.warning;
}

TEST(EffectsParse, DamagedBlocksLeaveTheLayerWithoutEffects) {
  const std::string block = effectsBlock(2, [](Bytes& b) {
    b.item("FrFX", "Objc");
    stroke(b, "OutF", 1);
    b.item("DrSh", "Objc");
    dropShadow(b, false);
  });
  // Every truncation and a wrong version: the file still loads, the layer
  // keeps its pixels and says why its effects are gone.
  for (size_t n = 0; n < block.size(); n += 3) {
    Document d;
    const LayerRecord& r = load("lfx2", block.substr(0, n), d);
    EXPECT_TRUE(r.effects.effects.empty()) << n;
    EXPECT_FALSE(r.effects.warning.empty()) << n;
    EXPECT_EQ(r.imageData.size(), 16u);
  }
  Document d;
  EXPECT_NE(load("lfx2", "\0\0\0\1" + block.substr(4), d).effects.warning.find("version 1"), std::string::npos);
}

TEST(EffectsParse, NumbersOutOfRangeAreClamped) {
  Document d;
  const LayerRecord& r = load("lfx2", effectsBlock(1, [](Bytes& b) {
                                b.item("FrFX", "Objc");
                                stroke(b, "OutF", 1e300);
                              }, true, 1e9), d);
  ASSERT_EQ(r.effects.effects.size(), 1u);
  EXPECT_LE(r.effects.effects[0].size, 10000);
}

TEST(EffectsParse, ContourCurvesFillTheirTable) {
  // Points (0, 0), (128, 255) as a corner, (255, 0): straight pieces.
  Document d;
  const LayerRecord& r = load("lfx2", effectsBlock(1, [](Bytes& b) {
                                b.item("OrGl", "Objc").object("OrGl", 3);
                                b.item("enab", "bool").u8(1);
                                b.item("Clr ", "Objc");
                                rgb(b, 0, 0, 0);
                                b.item("TrnS", "Objc").object("ShpC", 1).item("Crv ", "VlLs").u32(3);
                                const double points[3][2] = {{0, 0}, {128, 255}, {255, 0}};
                                for (int i = 0; i < 3; ++i) {
                                  b.raw("Objc").object("CrPt", 3);
                                  b.item("Hrzn", "doub").f64(points[i][0]);
                                  b.item("Vrtc", "doub").f64(points[i][1]);
                                  b.item("Cnty", "bool").u8(i != 1);
                                }
                              }), d);
  ASSERT_EQ(r.effects.effects.size(), 1u);
  const Contour& c = r.effects.effects[0].contour;
  EXPECT_FALSE(c.linear);
  EXPECT_EQ(c.table[0], 0);
  EXPECT_EQ(c.table[64], 128);
  EXPECT_EQ(c.table[128], 255);
  EXPECT_EQ(c.table[255], 0);
}

// ---- drawing ----

// A `side` x `side` opaque square at (left, top) on a w x h canvas.
struct Square {
  std::vector<uint32_t> pixels;
  EffectSource source;
  Square(int32_t left, int32_t top, int32_t side, int32_t w, int32_t h)
      : pixels(static_cast<size_t>(side * side), 0xFF0000FFu) {
    source.shape = pixels.data();
    source.shapeBox = {left, top, left + side, top + side};
    source.canvasWidth = w;
    source.canvasHeight = h;
  }
};

LayerEffects one(const LayerEffect& e) {
  LayerEffects effects;
  effects.effects.push_back(e);
  return effects;
}

// The alpha of the canvas pixel (x, y) in `image`, 0 outside its box.
int alphaAt(const EffectImage& image, int32_t x, int32_t y) {
  const Box& b = image.box;
  if (x < b.left || x >= b.right || y < b.top || y >= b.bottom) return 0;
  return static_cast<int>(image.pixels[static_cast<size_t>((y - b.top) * (b.right - b.left) + (x - b.left))] >> 24);
}

LayerEffect strokeEffect(StrokePosition position, double size) {
  LayerEffect e;
  e.kind = EffectKind::kStroke;
  e.mode = BlendMode::kNormal;
  e.position = position;
  e.size = size;
  e.color = 0x00FF00;
  return e;
}

TEST(EffectsRender, OutsideStrokeOfASquareHasItsExactWidthBehindTheLayer) {
  Square sq(10, 10, 10, 40, 40);
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(strokeEffect(StrokePosition::kOutside, 3)), sq.source, out));
  ASSERT_EQ(out.size(), 1u);  // nothing inside the shape
  const EffectImage& img = out[0];
  EXPECT_TRUE(img.below);
  EXPECT_EQ(img.pixels[0] & 0xFFFFFF, 0x00FF00u);
  for (int32_t y : {10, 15, 19}) {
    EXPECT_EQ(alphaAt(img, 6, y), 0) << y;
    for (int32_t x : {7, 8, 9, 20, 21, 22}) EXPECT_EQ(alphaAt(img, x, y), 255) << x << "," << y;
    EXPECT_EQ(alphaAt(img, 23, y), 0) << y;
    EXPECT_EQ(alphaAt(img, 15, y), 0) << y;  // inside the square
  }
  // The corner is round: the centre of (8, 8) lies 2.33 pixels from the
  // corner, (7, 8) 3.11 (0.39 of the pixel in the band), (7, 7) 3.74.
  EXPECT_EQ(alphaAt(img, 8, 8), 255);
  EXPECT_EQ(alphaAt(img, 7, 8), 101);
  EXPECT_EQ(alphaAt(img, 7, 7), 0);
  EXPECT_EQ(img.box.left, 10 - 4);  // the shape's box grown by the stroke
}

TEST(EffectsRender, InsideAndCentreStrokesSplitTheirWidth) {
  Square sq(10, 10, 10, 40, 40);
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(strokeEffect(StrokePosition::kInside, 2)), sq.source, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(out[0].below);
  EXPECT_EQ(alphaAt(out[0], 9, 15), 0);
  EXPECT_EQ(alphaAt(out[0], 10, 15), 255);
  EXPECT_EQ(alphaAt(out[0], 11, 15), 255);
  EXPECT_EQ(alphaAt(out[0], 12, 15), 0);
  EXPECT_EQ(alphaAt(out[0], 19, 15), 255);

  ASSERT_TRUE(renderEffects(one(strokeEffect(StrokePosition::kCenter, 4)), sq.source, out));
  ASSERT_EQ(out.size(), 2u);  // behind the layer outside, over it inside
  const EffectImage& behind = out[0].below ? out[0] : out[1];
  const EffectImage& over = out[0].below ? out[1] : out[0];
  EXPECT_EQ(alphaAt(behind, 7, 15), 0);
  EXPECT_EQ(alphaAt(behind, 8, 15), 255);
  EXPECT_EQ(alphaAt(behind, 9, 15), 255);
  EXPECT_EQ(alphaAt(over, 10, 15), 255);
  EXPECT_EQ(alphaAt(over, 11, 15), 255);
  EXPECT_EQ(alphaAt(over, 12, 15), 0);
}

TEST(EffectsRender, TheTopmostOfTwoStrokesTakesItsBand) {
  Square sq(10, 10, 10, 40, 40);
  LayerEffects effects;
  effects.effects.push_back(strokeEffect(StrokePosition::kOutside, 4));  // lower
  effects.effects.push_back(strokeEffect(StrokePosition::kOutside, 2));  // upper
  effects.effects[1].color = 0x0000FF;
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(effects, sq.source, out));
  ASSERT_EQ(out.size(), 2u);
  // The upper (blue) stroke comes first, so it blends with the backdrop alone.
  EXPECT_EQ(out[0].pixels[0] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(alphaAt(out[0], 9, 15), 255);
  EXPECT_EQ(alphaAt(out[0], 7, 15), 0);
  EXPECT_EQ(alphaAt(out[1], 9, 15), 0);
  EXPECT_EQ(alphaAt(out[1], 7, 15), 255);
  EXPECT_EQ(alphaAt(out[1], 6, 15), 255);
  EXPECT_EQ(alphaAt(out[1], 5, 15), 0);
}

TEST(EffectsRender, ASharpShadowIsTheShapeMovedByWholePixelsAwayFromTheLight) {
  Square sq(10, 10, 4, 40, 40);
  LayerEffect e;
  e.kind = EffectKind::kDropShadow;
  e.mode = BlendMode::kMultiply;
  e.opacity = 0.5;
  e.angle = 90;  // light from above: the shadow falls straight down
  e.distance = 5;
  e.color = 0x102030;
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(e), sq.source, out));
  ASSERT_EQ(out.size(), 1u);
  const EffectImage& img = out[0];
  EXPECT_TRUE(img.below);
  EXPECT_EQ(img.mode, BlendMode::kMultiply);
  EXPECT_EQ(img.opacity, 128);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const bool inside = x >= 10 && x < 14 && y >= 15 && y < 19;
      EXPECT_EQ(alphaAt(img, x, y), inside ? 255 : 0) << x << "," << y;
    }
  // Moved by 2, the shadow lies partly under the layer, which hides it
  // there; with fill opacity 0 it knocks the shadow out instead.
  e.distance = 2;
  ASSERT_TRUE(renderEffects(one(e), sq.source, out));
  EXPECT_EQ(alphaAt(out.at(0), 11, 13), 255);
  sq.source.fillOpacity = 0;
  ASSERT_TRUE(renderEffects(one(e), sq.source, out));
  EXPECT_EQ(alphaAt(out.at(0), 11, 15), 255);
  EXPECT_EQ(alphaAt(out.at(0), 11, 13), 0);
  // Angle 30, distance 4: (-3.46, 2) away from the light, drawn at (-3, 2)
  // with the square's sharp edges, not resampled between pixels.
  e.angle = 30;
  e.distance = 4;
  e.knockOut = false;
  ASSERT_TRUE(renderEffects(one(e), sq.source, out));
  ASSERT_EQ(out.size(), 1u);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const bool inside = x >= 7 && x < 11 && y >= 12 && y < 16;
      EXPECT_EQ(alphaAt(out[0], x, y), inside ? 255 : 0) << x << "," << y;
    }
}

TEST(EffectsRender, AWideShadowIsAGaussianEdgeOnItsShape) {
  // Size 200: deviation 80, blurred on a plane shrunk by 4 and read back.
  // Along the middle of a straight edge the coverage is the normal
  // distribution's tail: 0.5 at the edge (the pixels either side 0.4975 and
  // 0.5025, 127 and 128), 0.1587 one deviation out (40), 0.8413 one in (215).
  const int32_t side = 1200, at = 100;
  Square sq(at, at, side, side + 2 * at, side + 2 * at);
  LayerEffect e;
  e.kind = EffectKind::kDropShadow;
  e.mode = BlendMode::kNormal;
  e.size = 200;
  e.knockOut = false;
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(e), sq.source, out));
  ASSERT_EQ(out.size(), 1u);
  const int32_t mid = at + side / 2;
  EXPECT_NEAR(alphaAt(out[0], at - 1, mid), 127, 2);
  EXPECT_NEAR(alphaAt(out[0], at, mid), 128, 2);
  EXPECT_NEAR(alphaAt(out[0], mid, at - 1), 127, 2);
  EXPECT_NEAR(alphaAt(out[0], at - 80, mid), 40, 2);
  EXPECT_NEAR(alphaAt(out[0], at + 80 - 1, mid), 215, 2);
  EXPECT_NEAR(alphaAt(out[0], at + side + 80, mid), 40, 2);  // the far edge alike
}

// A smooth bevel lit from the left (angle 180), highlight in screen mode,
// shadow in multiply.
LayerEffect bevelEffect(BevelStyle style, double size) {
  LayerEffect e;
  e.kind = EffectKind::kBevel;
  e.bevelStyle = style;
  e.mode = BlendMode::kScreen;
  e.shadowMode = BlendMode::kMultiply;
  e.angle = 180;
  e.size = size;
  return e;
}

TEST(EffectsRender, ALargeSmoothBevelShadesWithoutSteps) {
  // A bevel of size 100 takes its slopes from a blur run shrunk by 4; read
  // back smoothly, the shading bends gently, with no step at the shrunk
  // plane's block edges. Light from the left: the left side is
  // lit, the right side in shadow, both inside the shape only.
  Square sq(20, 20, 300, 340, 340);
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(bevelEffect(BevelStyle::kInner, 100)), sq.source, out));
  ASSERT_EQ(out.size(), 2u);  // shadow, then highlight
  const EffectImage& dark = out[0];
  const EffectImage& light = out[1];
  EXPECT_TRUE(dark.clipped && light.clipped);
  const int32_t y = 170;
  // The change from pixel to pixel itself changes by little (slopes read
  // from the shrunk plane unsmoothed step by some 20 levels every 4 pixels).
  auto bend = [&](const EffectImage& img, int32_t x) {
    return std::abs(alphaAt(img, x + 1, y) - 2 * alphaAt(img, x, y) + alphaAt(img, x - 1, y));
  };
  for (int32_t x = 23; x < 317; ++x) {
    EXPECT_LE(bend(light, x), 8) << x;
    EXPECT_LE(bend(dark, x), 8) << x;
  }
  EXPECT_GT(alphaAt(light, 30, y), 64);
  EXPECT_EQ(alphaAt(dark, 30, y), 0);
  EXPECT_GT(alphaAt(dark, 310, y), 64);
  EXPECT_EQ(alphaAt(light, 310, y), 0);
  EXPECT_EQ(alphaAt(light, 19, y), 0);  // an inner bevel stays inside
}

TEST(EffectsRender, ASmoothOuterBevelFadesOutBeyondItsSize) {
  // The rounded skirt of an outer bevel of size 10 (height blurred with
  // deviation 5) still slopes 12 pixels out, where a cut at the size would
  // leave a hard edge; the image reaches the blur's 3 deviations.
  // Light from the left: the skirt on the right faces away.
  Square sq(30, 30, 40, 100, 100);
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(bevelEffect(BevelStyle::kOuter, 10)), sq.source, out));
  const EffectImage* dark = nullptr;
  for (const EffectImage& img : out)
    if (img.mode == BlendMode::kMultiply) dark = &img;
  ASSERT_NE(dark, nullptr);
  EXPECT_FALSE(dark->clipped);
  EXPECT_GT(alphaAt(*dark, 70 + 12, 50), 0);
  EXPECT_GT(alphaAt(*dark, 70 + 1, 50), alphaAt(*dark, 70 + 12, 50));
  EXPECT_GE(dark->box.right, 70 + 15);
  EXPECT_EQ(alphaAt(*dark, 50, 50), 0);  // nothing inside the shape
}

TEST(EffectsRender, ColourOverlayTakesTheShapeInItsColour) {
  std::vector<uint32_t> pixels = {0xFF123456u, 0x80ABCDEFu, 0x00000000u, 0x40FFFFFFu};
  EffectSource s;
  s.shape = pixels.data();
  s.shapeBox = {1, 1, 3, 3};
  s.canvasWidth = 4;
  s.canvasHeight = 4;
  LayerEffect e;
  e.kind = EffectKind::kColorOverlay;
  e.mode = BlendMode::kScreen;
  e.opacity = 1;
  e.color = 0xFF8000;
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(e), s, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FALSE(out[0].below);
  EXPECT_EQ(out[0].mode, BlendMode::kScreen);
  EXPECT_EQ(out[0].box.left, 1);
  EXPECT_EQ(out[0].box.right, 3);
  EXPECT_EQ(out[0].pixels, (std::vector<uint32_t>{0xFFFF8000u, 0x80FF8000u, 0x00FF8000u, 0x40FF8000u}));
}

TEST(EffectsRender, EffectsStayOnTheCanvas) {
  Square sq(-5, -5, 8, 10, 10);  // partly beyond the top-left corner
  LayerEffect e;
  e.kind = EffectKind::kOuterGlow;
  e.mode = BlendMode::kNormal;
  e.size = 20;
  std::vector<EffectImage> out;
  ASSERT_TRUE(renderEffects(one(e), sq.source, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].box.left, 0);
  EXPECT_EQ(out[0].box.top, 0);
  EXPECT_EQ(out[0].box.right, 10);
  EXPECT_EQ(out[0].box.bottom, 10);
  EXPECT_GT(effectsReach(one(e)), 20);  // about 3 deviations of the blur
}

TEST(EffectsRaster, BlurKeepsTheSumAndSpreadsEvenly) {
  // Deviation 4 runs at full resolution, 40 on a plane shrunk by 2.
  for (const double sigma : {4.0, 40.0}) {
    const int32_t n = static_cast<int32_t>(sigma) * 8 + 1, c = n / 2;
    detail::Coverage p;
    p.width = p.height = n;
    p.values.assign(static_cast<size_t>(n) * static_cast<size_t>(n), 0);
    p.at(c, c) = 1;
    detail::blur(p, sigma);
    double sum = 0, variance = 0;
    for (int32_t y = 0; y < n; ++y)
      for (int32_t x = 0; x < n; ++x) {
        sum += p.at(x, y);
        variance += p.at(x, y) * (x - c) * (x - c);
      }
    EXPECT_NEAR(sum, 1, 1e-3) << sigma;
    EXPECT_NEAR(std::sqrt(variance), sigma, 0.08 * sigma) << sigma;  // the deviation asked for
    // Even: shrunk planes place the pixel at its block's centre, half a
    // pixel off, which moves values by a fraction of a percent.
    EXPECT_NEAR(p.at(c - 5, c), p.at(c + 5, c), 0.01 * p.at(c, c)) << sigma;
    EXPECT_NEAR(p.at(c, c - 5), p.at(c - 5, c), 0.01 * p.at(c, c)) << sigma;
    EXPECT_GT(p.at(c, c), p.at(c + 5, c)) << sigma;
  }
}

TEST(EffectsRaster, BlurFillsFromBeyondThePlane) {
  detail::Coverage p;
  p.width = p.height = 40;
  p.values.assign(1600, 0);
  p.beyond = 1;  // an inner effect's outside
  detail::blur(p, 5);
  EXPECT_GT(p.at(0, 20), 0.4f);
  EXPECT_LT(p.at(20, 20), 0.01f);
}

TEST(EffectsRaster, EdgeDistancesAreEuclidean) {
  detail::Coverage p;
  p.width = p.height = 9;
  p.values.assign(81, 0);
  p.at(4, 4) = 1;
  p.at(0, 8) = 0.25f;  // a faint pixel belongs to the shape, its edge 0.25 from its centre
  std::vector<float> d;
  detail::edgeDistance(p, d);
  EXPECT_FLOAT_EQ(d[4 * 9 + 4], -0.5f);
  EXPECT_FLOAT_EQ(d[4 * 9 + 7], 2.5f);
  EXPECT_FLOAT_EQ(d[0 * 9 + 0], std::sqrt(32.0f) - 0.5f);
  EXPECT_FLOAT_EQ(d[1 * 9 + 7], std::sqrt(18.0f) - 0.5f);
  EXPECT_FLOAT_EQ(d[8 * 9 + 0], 0.25f);
  EXPECT_FLOAT_EQ(d[6 * 9 + 0], 2.25f);  // 2 from the faint pixel's centre
}

TEST(EffectsComposite, AGroupShowsItsLayersStrokeAndShadowOnAGrownBox) {
  // A 4 x 4 blue layer at (10, 10) in a group, with a 2-pixel red stroke
  // outside and a sharp 50 % black shadow 6 pixels down.
  test::PsdOptions o;
  o.width = 30;
  o.height = 30;
  test::PsdRecord layer = test::solidLayer("fx", 10, 10, 4, 4, 0xFF0000FFu);
  layer.blocks = {{"lfx2", effectsBlock(2, [](Bytes& b) {
                     b.item("FrFX", "Objc");
                     stroke(b, "OutF", 2);
                     b.item("DrSh", "Objc").object("DrSh", 7);
                     b.item("enab", "bool").u8(1);
                     b.item("Md  ", "enum").id("BlnM").id("Nrml");
                     b.item("Clr ", "Objc");
                     rgb(b, 0, 0, 0);
                     unitFloat(b, "Opct", "#Prc", 50);
                     unitFloat(b, "lagl", "#Ang", 90);
                     unitFloat(b, "Dstn", "#Pxl", 6);
                     unitFloat(b, "blur", "#Pxl", 0);
                   })}};
  const std::string bytes = test::makePsd(o, test::group("g", {layer}));
  Document d;
  std::string error;
  ASSERT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
  std::vector<const LayerRecord*> cell;
  for (const LayerRecord& r : d.layerRecords) cell.push_back(&r);
  Compositor compositor(d);
  Box touched;
  ASSERT_TRUE(compositor.composite(cell, touched));
  EXPECT_LE(touched.left, 8);
  EXPECT_LE(touched.top, 8);
  EXPECT_GE(touched.bottom, 20);  // the shadow reaches down to row 19
  const uint32_t* p = compositor.canvas();
  auto at = [&](int x, int y) { return p[y * 30 + x]; };
  EXPECT_EQ(at(12, 12), 0xFF0000FFu);  // the layer
  EXPECT_EQ(at(8, 12), 0xFFFF0000u);   // the stroke
  EXPECT_EQ(at(9, 9), 0xFFFF0000u);
  EXPECT_EQ(at(7, 12) >> 24, 0u);      // beyond the stroke
  EXPECT_EQ(at(12, 19), 0x80000000u);  // the shadow, half covering
  EXPECT_EQ(at(12, 20) >> 24, 0u);
}

}  // namespace
}  // namespace korvex::psd
