// The compositor on files from the test writer. Expected pixels are worked
// out here from the blend formulas in floating point, independently of the
// integer code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/psd_writer.h"

namespace korvex::psd {
namespace {

using test::PsdOptions;
using test::PsdRecord;
using test::PsdRecordKind;

constexpr uint32_t kWhite0 = 0x00FFFFFFu;

struct Scene {
  Document document;
  std::unique_ptr<Compositor> compositor;
  Box touched;

  uint32_t at(int x, int y) const { return compositor->canvas()[y * document.width + x]; }
};

// Loads `records` on a width x height canvas and composites the records
// with the given indices (all when empty).
void compose(Scene& s, int width, int height, const std::vector<PsdRecord>& records,
             std::vector<size_t> indices = {}) {
  PsdOptions o;
  o.width = width;
  o.height = height;
  const std::string bytes = test::makePsd(o, records);
  std::string error;
  ASSERT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s.document, error)) << error;
  if (indices.empty())
    for (size_t i = 0; i < s.document.layerRecords.size(); ++i) indices.push_back(i);
  std::vector<const LayerRecord*> list;
  for (size_t i : indices) list.push_back(&s.document.layerRecords[i]);
  s.compositor = std::make_unique<Compositor>(s.document);
  ASSERT_TRUE(s.compositor->composite(list, s.touched));
}

int channel(uint32_t p, int c) { return static_cast<int>(p >> (16 - 8 * c) & 0xFF); }

// ---- reference blend functions on [0, 1] ----
using Fn = std::function<double(double, double)>;

double burnRef(double b, double s) { return b >= 1 ? 1 : s <= 0 ? 0 : 1 - std::min(1.0, (1 - b) / s); }
double dodgeRef(double b, double s) { return b <= 0 ? 0 : s >= 1 ? 1 : std::min(1.0, b / (1 - s)); }
double hardRef(double b, double s) { return s <= 0.5 ? b * 2 * s : 1 - (1 - b) * (1 - (2 * s - 1)); }

struct ModeCase {
  const char* key;
  Fn f;
};

const std::vector<ModeCase>& separableModes() {
  static const std::vector<ModeCase> modes = {
      {"norm", [](double, double s) { return s; }},
      {"dark", [](double b, double s) { return std::min(b, s); }},
      {"lite", [](double b, double s) { return std::max(b, s); }},
      {"mul ", [](double b, double s) { return b * s; }},
      {"scrn", [](double b, double s) { return b + s - b * s; }},
      {"idiv", burnRef},
      {"div ", dodgeRef},
      {"lbrn", [](double b, double s) { return std::max(0.0, b + s - 1); }},
      {"lddg", [](double b, double s) { return std::min(1.0, b + s); }},
      {"over", [](double b, double s) { return hardRef(s, b); }},
      {"hLit", hardRef},
      {"sLit", [](double b, double s) {
         const double d = b <= 0.25 ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
         return s <= 0.5 ? 2 * b * s + b * b * (1 - 2 * s) : b + (2 * s - 1) * (d - b);
       }},
      {"vLit", [](double b, double s) {
         return s <= 0 ? 0 : s < 0.5 ? burnRef(b, 2 * s) : dodgeRef(b, 2 * (s - 0.5));
       }},
      {"lLit", [](double b, double s) { return std::clamp(b + 2 * s - 1, 0.0, 1.0); }},
      {"pLit", [](double b, double s) { return s < 0.5 ? std::min(b, 2 * s) : std::max(b, 2 * s - 1); }},
      {"hMix", [](double b, double s) { return b + s > 1 + 1e-9 ? 1.0 : 0.0; }},
      {"diff", [](double b, double s) { return std::abs(b - s); }},
      {"smud", [](double b, double s) { return b + s - 2 * b * s; }},
      {"fsub", [](double b, double s) { return std::max(0.0, b - s); }},
      {"fdiv", [](double b, double s) { return s <= 0 ? (b <= 0 ? 0.0 : 1.0) : std::min(1.0, b / s); }},
  };
  return modes;
}

// The non-separable modes as the W3C compositing specification defines them.
double lumRef(const double* c) { return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]; }
void setLumRef(double* c, double l) {
  const double d = l - lumRef(c);
  for (int i = 0; i < 3; ++i) c[i] += d;
  const double lv = lumRef(c), n = std::min({c[0], c[1], c[2]}), x = std::max({c[0], c[1], c[2]});
  for (int i = 0; i < 3; ++i) {
    if (n < 0) c[i] = lv + (c[i] - lv) * lv / (lv - n);
    if (x > 1) c[i] = lv + (c[i] - lv) * (1 - lv) / (x - lv);
  }
}
double satRef(const double* c) { return std::max({c[0], c[1], c[2]}) - std::min({c[0], c[1], c[2]}); }
void setSatRef(double* c, double s) {
  double* p[3] = {&c[0], &c[1], &c[2]};
  std::sort(p, p + 3, [](double* a, double* b) { return *a < *b; });
  if (*p[2] > *p[0]) {
    *p[1] = (*p[1] - *p[0]) * s / (*p[2] - *p[0]);
    *p[2] = s;
  } else {
    *p[1] = *p[2] = 0;
  }
  *p[0] = 0;
}

void nonSeparableRef(const std::string& key, const double* b, const double* s, double* out) {
  std::copy(b, b + 3, out);
  if (key == "hue ") {
    std::copy(s, s + 3, out);
    setSatRef(out, satRef(b));
    setLumRef(out, lumRef(b));
  } else if (key == "sat ") {
    setSatRef(out, satRef(s));
    setLumRef(out, lumRef(b));
  } else if (key == "colr") {
    std::copy(s, s + 3, out);
    setLumRef(out, lumRef(b));
  } else if (key == "lum ") {
    setLumRef(out, lumRef(s));
  } else if (key == "dkCl" || key == "lgCl") {
    const bool lighter = key == "lgCl";
    const double lb = lumRef(b), ls = lumRef(s);
    if (lighter ? ls > lb : ls < lb) std::copy(s, s + 3, out);
  }
}

// Backdrop and source colours covering many combinations: pixel x of a
// 64-pixel row, both opaque.
uint32_t backdropColor(int x) { return 0xFF000000u | static_cast<uint32_t>(x * 4) << 16 | static_cast<uint32_t>(255 - x * 3) << 8 | static_cast<uint32_t>(x * 37 % 256); }
uint32_t sourceColor(int x) { return 0xFF000000u | static_cast<uint32_t>(x * 53 % 256) << 16 | static_cast<uint32_t>(x * 4) << 8 | static_cast<uint32_t>(128 + x) ; }

std::vector<PsdRecord> modeScene(const std::string& key, uint8_t backdropAlpha, uint8_t sourceAlpha) {
  PsdRecord backdrop = test::solidLayer("b", 0, 0, 64, 1, 0);
  PsdRecord source = test::solidLayer("s", 0, 0, 64, 1, 0);
  for (int x = 0; x < 64; ++x) {
    backdrop.pixels[static_cast<size_t>(x)] = (backdropColor(x) & 0xFFFFFFu) | static_cast<uint32_t>(backdropAlpha) << 24;
    source.pixels[static_cast<size_t>(x)] = (sourceColor(x) & 0xFFFFFFu) | static_cast<uint32_t>(sourceAlpha) << 24;
  }
  source.blendMode = key;
  return {backdrop, source};
}

// The general straight-alpha result for blended colour `mixed`.
uint32_t expectedPixel(uint32_t b, uint32_t s, const double* mixed, double ab, double as) {
  const double ao = as + ab - as * ab;
  uint32_t out = static_cast<uint32_t>(std::lround(ao * 255)) << 24;
  for (int c = 0; c < 3; ++c) {
    const double cb = channel(b, c) / 255.0, cs = channel(s, c) / 255.0;
    const double co = (as * (1 - ab) * cs + as * ab * mixed[c] + (1 - as) * ab * cb) / ao;
    out |= static_cast<uint32_t>(std::lround(co * 255)) << (16 - 8 * c);
  }
  return out;
}

void expectNear(uint32_t actual, uint32_t expected, int tolerance, const std::string& where) {
  for (int s = 0; s < 32; s += 8) {
    const int d = std::abs(static_cast<int>(actual >> s & 0xFF) - static_cast<int>(expected >> s & 0xFF));
    ASSERT_LE(d, tolerance) << where << std::hex << " actual " << actual << " expected " << expected;
  }
}

void checkMode(const std::string& key, uint8_t backdropAlpha, uint8_t sourceAlpha,
               const std::function<void(const double*, const double*, double*)>& ref) {
  Scene s;
  compose(s, 64, 1, modeScene(key, backdropAlpha, sourceAlpha));
  for (int x = 0; x < 64; ++x) {
    const uint32_t b = backdropColor(x), src = sourceColor(x);
    double cb[3], cs[3], mixed[3];
    for (int c = 0; c < 3; ++c) {
      cb[c] = channel(b, c) / 255.0;
      cs[c] = channel(src, c) / 255.0;
    }
    ref(cb, cs, mixed);
    expectNear(s.at(x, 0), expectedPixel(b, src, mixed, backdropAlpha / 255.0, sourceAlpha / 255.0), 1,
               "mode " + key + " x " + std::to_string(x));
  }
}

TEST(Compositor, SeparableBlendModesOverOpaqueAndHalfTransparentBackdrops) {
  for (const ModeCase& m : separableModes()) {
    auto ref = [&](const double* b, const double* s, double* out) {
      for (int c = 0; c < 3; ++c) out[c] = m.f(b[c], s[c]);
    };
    checkMode(m.key, 255, 255, ref);
    checkMode(m.key, 128, 200, ref);
  }
}

TEST(Compositor, NonSeparableBlendModes) {
  for (const char* key : {"hue ", "sat ", "colr", "lum ", "dkCl", "lgCl"}) {
    auto ref = [&](const double* b, const double* s, double* out) { nonSeparableRef(key, b, s, out); };
    checkMode(key, 255, 255, ref);
    checkMode(key, 90, 170, ref);
  }
}

TEST(Compositor, NormalLayerOverTransparentWhiteKeepsItsOwnPixels) {
  PsdRecord layer = test::solidLayer("a", 2, 1, 16, 16, 0);
  for (size_t i = 0; i < layer.pixels.size(); ++i)
    layer.pixels[i] = static_cast<uint32_t>(i) << 24 | static_cast<uint32_t>(i * 7 % 256) << 16 | 0x3300u | static_cast<uint32_t>(255 - i);
  layer.pixels[0] = 0x00123456;  // transparent, with a colour
  Scene s;
  compose(s, 20, 20, {layer});
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      const bool inside = x >= 2 && x < 18 && y >= 1 && y < 17;
      const uint32_t expected = inside ? layer.pixels[static_cast<size_t>((y - 1) * 16 + x - 2)] : kWhite0;
      // A transparent source pixel leaves the transparent white as it was.
      ASSERT_EQ(s.at(x, y), expected == 0x00123456u ? kWhite0 : expected) << x << "," << y;
    }
  }
  EXPECT_EQ(s.touched.left, 2);
  EXPECT_EQ(s.touched.top, 1);
  EXPECT_EQ(s.touched.right, 18);
  EXPECT_EQ(s.touched.bottom, 17);
}

TEST(Compositor, TransparentSourceLeavesTheBackdropAsItWas) {
  PsdRecord bottom = test::solidLayer("b", 0, 0, 2, 1, 0x80336699);
  PsdRecord top = test::solidLayer("t", 0, 0, 2, 1, 0x00FF0000);
  top.blendMode = "diff";
  Scene s;
  compose(s, 2, 1, {bottom, top});
  EXPECT_EQ(s.at(0, 0), 0x80336699u);
}

TEST(Compositor, OpacityAndFillOpacityScaleCoverageWithRounding) {
  for (int alpha : {255, 200, 3}) {
    for (int opacity : {255, 128, 77, 1}) {
      for (int fill : {255, 100, 2}) {
        PsdRecord layer = test::solidLayer("a", 0, 0, 1, 1, static_cast<uint32_t>(alpha) << 24 | 0x405060);
        layer.opacity = static_cast<uint8_t>(opacity);
        layer.fillOpacity = static_cast<uint8_t>(fill);
        Scene s;
        compose(s, 1, 1, {layer});
        const long expected = std::lround(alpha * opacity * fill / (255.0 * 255.0));
        const uint32_t want = expected == 0 ? kWhite0 : static_cast<uint32_t>(expected) << 24 | 0x405060u;
        EXPECT_EQ(s.at(0, 0), want) << alpha << " " << opacity << " " << fill;
      }
    }
  }
}

TEST(Compositor, HiddenAndZeroOpacityRecordsAreNotDrawn) {
  PsdRecord hidden = test::solidLayer("h", 0, 0, 2, 2, 0xFFFF0000);
  hidden.hidden = true;
  PsdRecord clear = test::solidLayer("c", 0, 0, 2, 2, 0xFF00FF00);
  clear.opacity = 0;
  Scene s;
  compose(s, 2, 2, {hidden, clear});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.compositor->canvas()[i], kWhite0);
  EXPECT_TRUE(s.touched.empty());
}

TEST(Compositor, LayerMasksWithDefaultColourDisabledAndInverted) {
  PsdRecord layer = test::solidLayer("m", 0, 0, 4, 1, 0xFF204060);
  layer.hasMask = true;
  layer.mask.left = 1;
  layer.mask.top = 0;
  layer.mask.width = 2;
  layer.mask.height = 1;
  layer.mask.pixels = {255, 100};
  layer.mask.defaultColor = 0;
  {
    Scene s;
    compose(s, 4, 1, {layer});
    EXPECT_EQ(s.at(0, 0), kWhite0);  // default colour 0 outside the mask
    EXPECT_EQ(s.at(1, 0), 0xFF204060u);
    EXPECT_EQ(s.at(2, 0), 100u << 24 | 0x204060u);
    EXPECT_EQ(s.at(3, 0), kWhite0);
  }
  layer.mask.invert = true;
  {
    Scene s;
    compose(s, 4, 1, {layer});
    EXPECT_EQ(s.at(0, 0), 0xFF204060u);
    EXPECT_EQ(s.at(1, 0), kWhite0);
    EXPECT_EQ(s.at(2, 0), 155u << 24 | 0x204060u);
  }
  layer.mask.invert = false;
  layer.mask.disabled = true;
  {
    Scene s;
    compose(s, 4, 1, {layer});
    for (int x = 0; x < 4; ++x) EXPECT_EQ(s.at(x, 0), 0xFF204060u);
  }
}

// A clipped layer takes the place of its base's share of each pixel: over
// a transparent backdrop it shows with the base's alpha and opacity, never
// beyond them.
TEST(Compositor, ClippedLayersDrawInsideTheirBase) {
  PsdRecord base = test::solidLayer("base", 1, 0, 2, 1, 0);
  base.pixels = {0xFF000000u, 0x66000000u};
  PsdRecord clipped = test::solidLayer("clip", 0, 0, 4, 1, 0xFFFFFFFFu);
  clipped.clipping = true;
  {
    Scene s;
    compose(s, 4, 1, {base, clipped});
    EXPECT_EQ(s.at(0, 0), kWhite0);
    EXPECT_EQ(s.at(1, 0), 0xFFFFFFFFu);
    EXPECT_EQ(s.at(2, 0), 0x66FFFFFFu);
    EXPECT_EQ(s.at(3, 0), kWhite0);
  }
  base.opacity = 128;  // the base's opacity acts on its clipping group
  {
    Scene s;
    compose(s, 4, 1, {base, clipped});
    EXPECT_EQ(s.at(1, 0), 0x80FFFFFFu);
  }
  base.opacity = 255;
  base.hidden = true;  // hiding the base hides its clipping group
  {
    Scene s;
    compose(s, 4, 1, {base, clipped});
    for (int x = 0; x < 4; ++x) EXPECT_EQ(s.at(x, 0), kWhite0);
  }
}

TEST(Compositor, SolidColourFillCoversTheCanvasWithItsFillOpacity) {
  PsdRecord fill;
  fill.kind = PsdRecordKind::kSolidFill;
  fill.fillColor = 0x336699;
  fill.fillOpacity = 128;
  Scene s;
  compose(s, 3, 2, {fill});
  for (int i = 0; i < 6; ++i) EXPECT_EQ(s.compositor->canvas()[i], 128u << 24 | 0x336699u);
  EXPECT_EQ(s.touched.right, 3);
  EXPECT_EQ(s.touched.bottom, 2);
}

TEST(Compositor, DissolveDrawsWholePixelsFromAFixedTable) {
  PsdRecord layer = test::solidLayer("d", 0, 0, 64, 64, 0x80FF8040u);
  layer.blendMode = "diss";
  Scene a, b;
  compose(a, 64, 64, {layer});
  compose(b, 64, 64, {layer});
  int drawn = 0;
  for (int i = 0; i < 64 * 64; ++i) {
    const uint32_t p = a.compositor->canvas()[i];
    ASSERT_TRUE(p == 0xFFFF8040u || p == kWhite0) << std::hex << p;
    ASSERT_EQ(p, b.compositor->canvas()[i]);
    drawn += p != kWhite0;
  }
  EXPECT_NEAR(drawn / 4096.0, 128 / 255.0, 0.05);
  layer.pixels.assign(layer.pixels.size(), 0xFFFF8040u);
  Scene full;
  compose(full, 64, 64, {layer});
  for (int i = 0; i < 64 * 64; ++i) ASSERT_EQ(full.compositor->canvas()[i], 0xFFFF8040u);
}

TEST(Compositor, LayersReachingOutsideAreClippedToTheCanvas) {
  PsdRecord layer = test::solidLayer("o", -2, -1, 4, 3, 0xFF010203u);
  Scene s;
  compose(s, 3, 3, {layer});
  EXPECT_EQ(s.at(0, 0), 0xFF010203u);
  EXPECT_EQ(s.at(1, 1), 0xFF010203u);
  EXPECT_EQ(s.at(2, 0), kWhite0);
  EXPECT_EQ(s.at(0, 2), kWhite0);
  EXPECT_EQ(s.touched.left, 0);
  EXPECT_EQ(s.touched.right, 2);
  EXPECT_EQ(s.touched.bottom, 2);
}

// outer [ a, hidden inner [ b, deeper [ c ], d ], e ], composited as the
// layer walk does: the pending records of the outer group only.
TEST(Compositor, LayersInsideHiddenOrClearGroupsStayOut) {
  PsdRecord a = test::solidLayer("a", 0, 0, 1, 1, 0xFF0000AAu);
  PsdRecord b = test::solidLayer("b", 1, 0, 1, 1, 0xFF0000BBu);
  PsdRecord c = test::solidLayer("c", 2, 0, 1, 1, 0xFF0000CCu);
  PsdRecord d = test::solidLayer("d", 3, 0, 1, 1, 0xFF0000DDu);
  PsdRecord e = test::solidLayer("e", 4, 0, 1, 1, 0xFF0000EEu);
  std::vector<PsdRecord> inner = {b};
  test::append(inner, test::group("deeper", {c}));
  inner.push_back(d);
  std::vector<PsdRecord> children = {a};
  test::append(children, test::group("inner", inner, true));
  children.push_back(e);
  std::vector<PsdRecord> records = test::group("outer", children);
  // 0 div, 1 a, 2 div, 3 b, 4 div, 5 c, 6 deeper, 7 d, 8 inner, 9 e, 10 outer
  Scene s;
  compose(s, 5, 1, records, {1, 3, 5, 7, 9});
  EXPECT_EQ(s.at(0, 0), 0xFF0000AAu);
  EXPECT_EQ(s.at(1, 0), kWhite0);
  EXPECT_EQ(s.at(2, 0), kWhite0);  // inside a visible group inside the hidden one
  EXPECT_EQ(s.at(3, 0), kWhite0);  // below the nested group, still in the hidden one
  EXPECT_EQ(s.at(4, 0), 0xFF0000EEu);

  records[8].hidden = false;
  records[8].opacity = 0;
  Scene t;
  compose(t, 5, 1, records, {1, 3, 5, 7, 9});
  EXPECT_EQ(t.at(1, 0), kWhite0);
  EXPECT_EQ(t.at(3, 0), kWhite0);

  // Every enclosing group's opacity applies to its layers, the outer
  // group's too although its header is not part of the list.
  records[8].opacity = 128;
  Scene u;
  compose(u, 5, 1, records, {1, 3, 5, 7, 9});
  EXPECT_EQ(u.at(0, 0), 0xFF0000AAu);
  EXPECT_EQ(u.at(1, 0), 128u << 24 | 0xBBu);
  EXPECT_EQ(u.at(2, 0), 128u << 24 | 0xCCu);
  records[10].opacity = 100;  // 128 * 100 / 255 = 50.2
  Scene v;
  compose(v, 5, 1, records, {1, 3, 5, 7, 9});
  EXPECT_EQ(v.at(0, 0), 100u << 24 | 0xAAu);
  EXPECT_EQ(v.at(1, 0), 50u << 24 | 0xBBu);
  EXPECT_EQ(v.at(2, 0), 50u << 24 | 0xCCu);
  EXPECT_EQ(v.at(4, 0), 100u << 24 | 0xEEu);
}

TEST(Compositor, AllHiddenOrEmptyListGivesTransparentWhiteAndClearRestores) {
  PsdRecord hidden = test::solidLayer("h", 0, 0, 3, 3, 0xFF000000u);
  hidden.hidden = true;
  Scene s;
  compose(s, 3, 3, {hidden});
  for (int i = 0; i < 9; ++i) EXPECT_EQ(s.compositor->canvas()[i], kWhite0);

  Scene t;
  compose(t, 3, 3, {test::solidLayer("v", 1, 1, 2, 2, 0xFF000000u)});
  t.compositor->clear(t.touched);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(t.compositor->canvas()[i], kWhite0);
  Box none;
  ASSERT_TRUE(t.compositor->composite({}, none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace korvex::psd
