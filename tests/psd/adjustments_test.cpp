// Adjustment layers: settings blocks built byte by byte, and the colour each
// kind gives on pixels worked out by hand from its formula.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "psd/adjustments.h"

namespace korvex::psd {
namespace {

// Big-endian block builder.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(int x) {
    v.push_back(static_cast<uint8_t>(x));
    return *this;
  }
  Bytes& i16(int x) { return u8(x >> 8 & 0xFF).u8(x & 0xFF); }
  Bytes& i32(int64_t x) { return i16(static_cast<int>(x >> 16 & 0xFFFF)).i16(static_cast<int>(x & 0xFFFF)); }
  Bytes& f32(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return i32(bits);
  }
};

// A versioned descriptor of class "null" with the given items, each
// already encoded after its key.
struct Descriptor {
  Bytes items;
  int count = 0;
  Descriptor& item(const std::string& key, const char* type) {
    if (key.size() == 4)
      items.i32(0);
    else
      items.i32(static_cast<int64_t>(key.size()));
    for (char ch : key) items.u8(ch);
    for (int i = 0; i < 4; ++i) items.u8(type[i]);
    ++count;
    return *this;
  }
  Descriptor& integer(const std::string& key, int v) {
    item(key, "long").items.i32(v);
    return *this;
  }
  Descriptor& boolean(const std::string& key, bool v) {
    item(key, "bool").items.u8(v ? 1 : 0);
    return *this;
  }
  Descriptor& real(const std::string& key, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    item(key, "doub").items.i32(static_cast<int64_t>(bits >> 32)).i32(static_cast<int64_t>(bits & 0xFFFFFFFF));
    return *this;
  }
  Descriptor& object(const std::string& key, const Descriptor& d) {
    item(key, "Objc");
    const Bytes body = d.body();
    items.v.insert(items.v.end(), body.v.begin(), body.v.end());
    return *this;
  }
  Bytes body() const {
    Bytes b;
    b.i32(1).i16(0).i32(0).u8('n').u8('u').u8('l').u8('l').i32(count);
    b.v.insert(b.v.end(), items.v.begin(), items.v.end());
    return b;
  }
  Bytes versioned() const {
    Bytes b;
    b.i32(16);
    const Bytes d = body();
    b.v.insert(b.v.end(), d.v.begin(), d.v.end());
    return b;
  }
};

Adjustment parsed(const char* key, const Bytes& b) {
  Adjustment a;
  std::string error;
  EXPECT_TRUE(parseAdjustment(key, b.v.data(), b.v.size(), a, error)) << key << ": " << error;
  return a;
}

// The adjusted colour of one opaque pixel.
uint32_t adjusted(const Adjustment& a, uint32_t rgb) {
  uint32_t p = 0xFF000000u | rgb;
  applyAdjustment(a, &p, 1);
  EXPECT_EQ(p >> 24, 0xFFu);
  return p & 0xFFFFFF;
}

Bytes levelsBlock(const std::vector<std::array<int, 5>>& records) {
  Bytes b;
  b.i16(2);
  for (size_t i = 0; i < 29; ++i) {
    const std::array<int, 5> r = i < records.size() ? records[i] : std::array<int, 5>{0, 255, 0, 255, 100};
    for (int x : r) b.i16(x);
  }
  return b;
}

TEST(Adjustments, LevelsClipStretchAndOrderChannelThenComposite) {
  Adjustment a = parsed("levl", levelsBlock({{50, 200, 0, 255, 100}}));
  ASSERT_EQ(a.kind, AdjustmentKind::kLevels);
  EXPECT_EQ(adjusted(a, 0x7E2832), 0x810000u);  // 126 -> 129.2; 40, 50 -> 0
  EXPECT_EQ(adjusted(a, 0xDCC8FF), 0xFFFFFFu);

  // Inverted output range.
  a = parsed("levl", levelsBlock({{0, 255, 255, 0, 100}}));
  EXPECT_EQ(adjusted(a, 0x00FF40), 0xFF00BFu);

  // Red halves to 127, then the composite stretches 0..127 to 0..255: the
  // channel's own mapping comes first.
  a = parsed("levl", levelsBlock({{0, 127, 0, 255, 100}, {0, 255, 0, 127, 100}}));
  EXPECT_EQ(adjusted(a, 0xFF0000), 0xFF0000u);
  EXPECT_EQ(adjusted(a, 0x00FF00), 0x00FF00u);
}

TEST(Adjustments, LevelsGammaIsStraightBetweenEverySixteenthLevel) {
  const Adjustment a = parsed("levl", levelsBlock({{0, 255, 0, 255, 200}}));
  // 64 is a knot: sqrt(64/255) * 255 = 127.75. 8 lies halfway up the first
  // segment: sqrt(16/255) * 255 / 2 = 31.94, where the curve itself gives 45.
  EXPECT_EQ(adjusted(a, 0x400800), 0x802000u);
}

Bytes curvesBlock(uint32_t channels, const std::vector<std::vector<std::pair<int, int>>>& curves) {
  Bytes b;
  b.u8(0).i16(1).i32(channels);
  for (const auto& c : curves) {
    b.i16(static_cast<int>(c.size()));
    for (auto [in, out] : c) b.i16(out).i16(in);
  }
  return b;
}

TEST(Adjustments, CurvesSplineThroughPointsFlatBeyondTheEnds) {
  Adjustment a = parsed("curv", curvesBlock(1, {{{0, 0}, {128, 192}, {255, 255}}}));
  ASSERT_EQ(a.kind, AdjustmentKind::kCurves);
  // The point itself, both ends, and 64 on the natural spline: 0.37647 +
  // 0.375 * 3.0118 * 0.50196^2 / 6 = 0.42390 -> 108.
  EXPECT_EQ(adjusted(a, 0x8000FF), 0xC000FFu);
  EXPECT_EQ(adjusted(a, 0x404040), 0x6C6C6Cu);

  a = parsed("curv", curvesBlock(1, {{{64, 0}, {192, 255}}}));
  EXPECT_EQ(adjusted(a, 0x2080F0), 0x0080FFu);

  // Red curve (bit 1) then the composite (bit 0): 255 -> 128 -> 255.
  a = parsed("curv", curvesBlock(3, {{{0, 0}, {128, 255}}, {{0, 0}, {255, 128}}}));
  EXPECT_EQ(adjusted(a, 0xFF0000), 0xFF0000u);
  EXPECT_EQ(adjusted(a, 0x000040), 0x000080u);
}

TEST(Adjustments, CurvesVersionFourNamesEachChannel) {
  Bytes b;
  b.u8(0).i16(4).i32(1).i16(3);  // one curve, for blue
  b.i16(2).i16(255).i16(0).i16(0).i16(255);
  const Adjustment a = parsed("curv", b);
  EXPECT_EQ(adjusted(a, 0x1020FF), 0x102000u);
}

TEST(Adjustments, BrightnessContrastLegacy) {
  Adjustment a = parsed("brit", Bytes().i16(20).i16(0).i16(127).u8(0).u8(0));
  ASSERT_EQ(a.kind, AdjustmentKind::kBrightnessContrast);
  EXPECT_TRUE(a.legacy);
  EXPECT_EQ(adjusted(a, 0x64F000), 0x78FF14u);
  a.brightness = 0;
  a.contrast = 50;  // slope 2 around 127.5: 100 -> 72.5
  EXPECT_EQ(adjusted(a, 0x64FF00), 0x49FF00u);
  a.contrast = -50;  // slope 1/2: 100 -> 113.75
  EXPECT_EQ(adjusted(a, 0x64FF00), 0x72BF40u);
  a.contrast = 100;  // a threshold at the middle
  EXPECT_EQ(adjusted(a, 0x7F8000), 0x00FF00u);

  a.legacy = false;
  a.contrast = 0;
  EXPECT_EQ(adjusted(a, 0x64F000), 0x64F000u);
}

TEST(Adjustments, BrightnessContrastFromItsDescriptor) {
  Adjustment a = parsed("brit", Bytes().i16(0).i16(0).i16(127).u8(0).u8(0));
  std::string error;
  const Bytes cgEd = Descriptor()
                         .integer("Vrsn", 1)
                         .integer("Brgh", 22)
                         .integer("Cntr", -7)
                         .integer("means", 127)
                         .boolean("useLegacy", false)
                         .versioned();
  ASSERT_TRUE(parseAdjustment("CgEd", cgEd.v.data(), cgEd.v.size(), a, error)) << error;
  EXPECT_EQ(a.kind, AdjustmentKind::kBrightnessContrast);
  EXPECT_EQ(a.brightness, 22);
  EXPECT_EQ(a.contrast, -7);
  EXPECT_FALSE(a.legacy);

  // On another kind the block only names a preset.
  Adjustment levels = parsed("levl", levelsBlock({{10, 245, 0, 255, 100}}));
  const Bytes preset = Descriptor().integer("Vrsn", 1).integer("presetKind", 1).versioned();
  ASSERT_TRUE(parseAdjustment("CgEd", preset.v.data(), preset.v.size(), levels, error)) << error;
  EXPECT_EQ(levels.kind, AdjustmentKind::kLevels);
  EXPECT_EQ(levels.levels[0].inBlack, 10);

  // Out of range or damaged: refused, the adjustment as it was.
  const Bytes wild = Descriptor().integer("Brgh", 400).versioned();
  EXPECT_FALSE(parseAdjustment("CgEd", wild.v.data(), wild.v.size(), a, error));
  EXPECT_NE(error.find("Brgh"), std::string::npos) << error;
  EXPECT_FALSE(parseAdjustment("CgEd", cgEd.v.data(), cgEd.v.size() - 3, a, error));
  EXPECT_EQ(a.brightness, 22);
}

TEST(Adjustments, VibranceAndBlackWhiteFromTheirDescriptors) {
  const Adjustment v = parsed("vibA", Descriptor().integer("vibrance", 35).integer("Strt", -12).versioned());
  EXPECT_EQ(v.kind, AdjustmentKind::kVibrance);
  EXPECT_EQ(v.vibrance, 35);
  EXPECT_EQ(v.saturation, -12);
  EXPECT_EQ(parsed("vibA", Descriptor().integer("Strt", 5).versioned()).vibrance, 0);

  const Adjustment bw = parsed("blwh", Descriptor()
                                           .integer("Rd  ", 10)
                                           .integer("Yllw", 20)
                                           .integer("Grn ", 30)
                                           .integer("Cyn ", 40)
                                           .integer("Bl  ", 50)
                                           .integer("Mgnt", -60)
                                           .boolean("useTint", true)
                                           .object("tintColor", Descriptor().real("Rd  ", 225).real("Grn ", 211.4).real("Bl  ", 179))
                                           .versioned());
  EXPECT_EQ(bw.kind, AdjustmentKind::kBlackWhite);
  EXPECT_EQ(bw.grayWeights, (std::array<int32_t, 6>{{10, 20, 30, 40, 50, -60}}));
  EXPECT_TRUE(bw.useTint);
  EXPECT_EQ(bw.tintColor, 0xE1D3B3u);

  Adjustment a;
  std::string error;
  const Bytes wild = Descriptor().integer("vibrance", 101).versioned();
  EXPECT_FALSE(parseAdjustment("vibA", wild.v.data(), wild.v.size(), a, error));
  const Bytes cut = Descriptor().integer("Rd  ", 10).versioned();
  EXPECT_FALSE(parseAdjustment("blwh", cut.v.data(), cut.v.size() - 1, a, error));
  EXPECT_NE(error.find("blwh"), std::string::npos) << error;
}

Bytes hueBlock(bool colorize, std::array<int, 3> col, std::array<int, 3> master,
               std::array<int, 3> reds = {0, 0, 0}) {
  Bytes b;
  b.i16(2).u8(colorize ? 1 : 0).u8(0);
  for (int x : col) b.i16(x);
  for (int x : master) b.i16(x);
  const int ramps[6][4] = {{315, 345, 15, 45},   {15, 45, 75, 105},   {75, 105, 135, 165},
                           {135, 165, 195, 225}, {195, 225, 255, 285}, {255, 285, 315, 345}};
  for (int i = 0; i < 6; ++i) {
    for (int x : ramps[i]) b.i16(x);
    for (int x : i == 0 ? reds : std::array<int, 3>{0, 0, 0}) b.i16(x);
  }
  return b;
}

TEST(Adjustments, HueSaturationMasterAndRanges) {
  Adjustment a = parsed("hue2", hueBlock(false, {0, 25, 0}, {120, 0, 0}));
  ASSERT_EQ(a.kind, AdjustmentKind::kHueSaturation);
  EXPECT_EQ(adjusted(a, 0xFF0000), 0x00FF00u);
  EXPECT_EQ(adjusted(a, 0x808080), 0x808080u);

  // Saturation -100 gives the HSL grey (max + min) / 2.
  a = parsed("hue2", hueBlock(false, {0, 25, 0}, {0, -100, 0}));
  EXPECT_EQ(adjusted(a, 0xC86432), 0x7D7D7Du);

  // Saturation +50 on s = 0.2 doubles the distance from the grey 125;
  // +100 goes as far as the component range allows.
  a = parsed("hue2", hueBlock(false, {0, 25, 0}, {0, 50, 0}));
  EXPECT_EQ(adjusted(a, 0x966464), 0xAF4B4Bu);
  a = parsed("hue2", hueBlock(false, {0, 25, 0}, {0, 100, 0}));
  EXPECT_EQ(adjusted(a, 0x966464), 0xFA0000u);

  // Lightness +-100: white and black.
  a = parsed("hue2", hueBlock(false, {0, 25, 0}, {0, 0, 100}));
  EXPECT_EQ(adjusted(a, 0x336699), 0xFFFFFFu);
  a = parsed("hue2", hueBlock(false, {0, 25, 0}, {0, 0, -50}));
  EXPECT_EQ(adjusted(a, 0x40C8FF), 0x206480u);

  // A reds-only hue turn leaves blue alone and fades across the ramp: hue
  // 30.1 lies halfway down the reds' ramp 15..45, so it turns by 59.5.
  a = parsed("hue2", hueBlock(false, {0, 25, 0}, {0, 0, 0}, {120, 0, 0}));
  EXPECT_EQ(adjusted(a, 0xFF0000), 0x00FF00u);
  EXPECT_EQ(adjusted(a, 0x0000FF), 0x0000FFu);
  EXPECT_EQ(adjusted(a, 0xFF8000), 0x81FF00u);
}

TEST(Adjustments, HueSaturationColorizeKeepsLightness) {
  const Adjustment a = parsed("hue ", hueBlock(true, {0, 100, 0}, {0, 0, 0}));
  EXPECT_TRUE(a.colorize);
  // Lightness 128/255: q = 1, p = 1/255.
  EXPECT_EQ(adjusted(a, 0x808080), 0xFF0101u);
  EXPECT_EQ(adjusted(a, 0x000000), 0x000000u);
}

TEST(Adjustments, ColorBalanceWeighsTheTonalRanges) {
  Bytes b;
  for (int range = 0; range < 3; ++range) b.i16(range == 1 ? 100 : 0).i16(0).i16(0);
  b.u8(0).u8(0);
  Adjustment a = parsed("blnc", b);
  ASSERT_EQ(a.kind, AdjustmentKind::kColorBalance);
  // Mid grey is all midtones: red + 0.7.
  EXPECT_EQ(adjusted(a, 0x808080), 0xFF8080u);
  // Black lies in the shadows only, where midtones do nothing.
  EXPECT_EQ(adjusted(a, 0x000000), 0x000000u);
  // Preserving luminosity puts the HSL lightness of 0x808080 back.
  a.preserveLuminosity = true;
  EXPECT_EQ(adjusted(a, 0x808080), 0xFF0101u);
}

TEST(Adjustments, ExposureWorksInLinearLight) {
  const Adjustment a = parsed("expA", Bytes().i16(1).f32(1).f32(0).f32(1).i16(0));
  ASSERT_EQ(a.kind, AdjustmentKind::kExposure);
  // 100 is 0.12743 linear; doubled 0.25486 is 138.18 in sRGB.
  EXPECT_EQ(adjusted(a, 0x640000), 0x8A0000u);
}

TEST(Adjustments, VibranceSpareSaturatedColours) {
  Adjustment a;
  a.kind = AdjustmentKind::kVibrance;
  a.vibrance = 100;
  EXPECT_EQ(adjusted(a, 0x808080), 0x808080u);
  // s = 0.2: the increase 0.8 reaches full saturation.
  EXPECT_EQ(adjusted(a, 0x966464), 0xFA0000u);
  a.vibrance = 0;
  a.saturation = -100;
  EXPECT_EQ(adjusted(a, 0x966464), 0x7D7D7Du);
}

TEST(Adjustments, BlackWhiteWeighsPrimariesAndSecondaries) {
  Adjustment a;
  a.kind = AdjustmentKind::kBlackWhite;  // default weights: reds 40, yellows 60
  EXPECT_EQ(adjusted(a, 0xFF0000), 0x666666u);
  EXPECT_EQ(adjusted(a, 0xFFFF00), 0x999999u);
  EXPECT_EQ(adjusted(a, 0x646464), 0x646464u);
  // (200, 100, 50): 50 + 100 * 0.4 + 50 * 0.6 = 120.
  EXPECT_EQ(adjusted(a, 0xC86432), 0x787878u);
  a.useTint = true;
  a.tintColor = 0xFF0000;
  EXPECT_EQ(adjusted(a, 0x808080), 0xFF0101u);
}

TEST(Adjustments, PhotoFilterMultipliesAtDensity) {
  Bytes b;
  b.i16(2).i16(0).i16(0xFFFF).i16(0).i16(0).i16(0).i32(50).u8(0).u8(0);
  Adjustment a = parsed("phfl", b);
  ASSERT_EQ(a.kind, AdjustmentKind::kPhotoFilter);
  EXPECT_EQ(a.filterColor, 0xFF0000u);
  EXPECT_EQ(adjusted(a, 0x646464), 0x643232u);
  a.density = 100;
  EXPECT_EQ(adjusted(a, 0x646464), 0x640000u);

  // Lab white, and XYZ of the D50 white in version 3.
  Bytes lab;
  lab.i16(2).i16(7).i16(10000).i16(0).i16(0).i16(0).i32(25).u8(1).u8(0);
  a = parsed("phfl", lab);
  EXPECT_EQ(a.filterColor, 0xFFFFFFu);
  EXPECT_TRUE(a.preserveLuminosity);
  Bytes xyz;
  xyz.i16(3).i32(static_cast<int64_t>(96.42 * 65536)).i32(100 * 65536).i32(static_cast<int64_t>(82.49 * 65536));
  xyz.i32(25).u8(0);
  a = parsed("phfl", xyz);
  EXPECT_EQ(a.filterColor, 0xFFFFFFu);
}

TEST(Adjustments, ChannelMixerRowsAndMonochrome) {
  Bytes b;
  b.i16(1).i16(0);
  const int rows[4][5] = {{0, 100, 0, 0, 0}, {100, 0, 0, 0, 0}, {0, 0, 100, 0, 100}, {0, 0, 0, 0, 0}};
  for (const auto& r : rows)
    for (int x : r) b.i16(x);
  Adjustment a = parsed("mixr", b);
  ASSERT_EQ(a.kind, AdjustmentKind::kChannelMixer);
  EXPECT_EQ(adjusted(a, 0x0A141E), 0x140AFFu);  // red and green swapped, blue + 100% constant
  a.monochrome = true;
  a.mixer[0] = {{40, 40, 20, 0}};
  EXPECT_EQ(adjusted(a, 0x64C832), 0x828282u);
}

TEST(Adjustments, InvertPosterizeThresholdKeepAlpha) {
  Adjustment a = parsed("nvrt", Bytes());
  ASSERT_EQ(a.kind, AdjustmentKind::kInvert);
  uint32_t p = 0x800A141E;
  applyAdjustment(a, &p, 1);
  EXPECT_EQ(p, 0x80F5EBE1u);

  // Four equal bins of the input: 0..63, 64..127, ...
  a = parsed("post", Bytes().i16(4).i16(0));
  EXPECT_EQ(adjusted(a, 0x3F4080), 0x0055AAu);
  EXPECT_EQ(adjusted(a, 0xFFC0BF), 0xFFFFAAu);

  // Luminosity 0.3 R + 0.59 G + 0.11 B against the level.
  a = parsed("thrs", Bytes().i16(128).i16(0));
  EXPECT_EQ(adjusted(a, 0x808080), 0xFFFFFFu);
  EXPECT_EQ(adjusted(a, 0x7F7F7F), 0x000000u);
  a.threshold = 77;  // pure red is 76.5
  EXPECT_EQ(adjusted(a, 0xFF0000), 0x000000u);
  a.threshold = 76;
  EXPECT_EQ(adjusted(a, 0xFF0000), 0xFFFFFFu);
}

Bytes selectiveBlock(bool absolute, int group, std::array<int, 4> cmyk) {
  Bytes b;
  b.i16(1).i16(absolute ? 1 : 0);
  for (int g = 0; g < 10; ++g)
    for (int i = 0; i < 4; ++i) b.i16(g == group + 1 ? cmyk[static_cast<size_t>(i)] : 0);
  return b;
}

TEST(Adjustments, SelectiveColorRelativeAndAbsolute) {
  // Reds, cyan +100. Pure red has no cyan ink to scale: relative leaves it.
  Adjustment a = parsed("selc", selectiveBlock(false, 0, {100, 0, 0, 0}));
  ASSERT_EQ(a.kind, AdjustmentKind::kSelectiveColor);
  EXPECT_EQ(adjusted(a, 0xFF0000), 0xFF0000u);
  // (200, 50, 50): reds weight 150/255, cyan ink 55: 200 - 55 * 150/255.
  EXPECT_EQ(adjusted(a, 0xC83232), 0xA83232u);
  // Blue is no red: unchanged.
  EXPECT_EQ(adjusted(a, 0x3232C8), 0x3232C8u);
  a = parsed("selc", selectiveBlock(true, 0, {100, 0, 0, 0}));
  EXPECT_EQ(adjusted(a, 0xFF0000), 0x000000u);

  // Neutrals, black +100 relative: mid grey (weight 254/255) darkens by
  // its ink 127 in every channel.
  a = parsed("selc", selectiveBlock(false, 7, {0, 0, 0, 100}));
  EXPECT_EQ(adjusted(a, 0x808080), 0x010101u);
}

TEST(Adjustments, UnknownVersionsAndColourSpacesReadAsUndrawn) {
  Bytes cmykFilter;
  cmykFilter.i16(2).i16(2).i16(0).i16(0).i16(0).i16(0).i32(25).u8(0);
  const std::vector<std::pair<const char*, Bytes>> blocks = {
      {"levl", Bytes().i16(1)}, {"curv", Bytes().u8(0).i16(7).i32(1)}, {"phfl", cmykFilter}};
  for (const auto& [key, b] : blocks) {
    Adjustment a;
    std::string error;
    ASSERT_TRUE(parseAdjustment(key, b.v.data(), b.v.size(), a, error)) << key << ": " << error;
    EXPECT_EQ(a.kind, AdjustmentKind::kUnknown) << key;
    EXPECT_EQ(a.key, key);
  }
}

TEST(Adjustments, KeysAndUnknownKinds) {
  EXPECT_TRUE(isAdjustmentKey("levl"));
  EXPECT_TRUE(isAdjustmentKey("clrL"));
  EXPECT_FALSE(isAdjustmentKey("lsct"));
  EXPECT_FALSE(isAdjustmentKey("CgEd"));

  const uint8_t junk[3] = {1, 2, 3};
  Adjustment a;
  std::string error;
  ASSERT_TRUE(parseAdjustment("clrL", junk, sizeof junk, a, error));
  EXPECT_EQ(a.kind, AdjustmentKind::kUnknown);
  EXPECT_EQ(unknownAdjustmentWarning("Look 1", a), "warning: adjustment layer \"Look 1\" (clrL) is not drawn");
  uint32_t p = 0xFF123456;
  applyAdjustment(a, &p, 1);
  EXPECT_EQ(p, 0xFF123456u);
}

struct DamagedCase {
  const char* key;
  Bytes bytes;
  const char* reason;
};

TEST(Adjustments, DamagedBlocksAreRefusedWithAReason) {
  Bytes badPoints = curvesBlock(1, {{{128, 0}, {64, 255}}});
  Bytes tooManyPoints;
  tooManyPoints.u8(0).i16(1).i32(1).i16(1000);
  Bytes badGamma = levelsBlock({{0, 255, 0, 255, 0}});
  Bytes badRange = levelsBlock({{200, 100, 0, 255, 100}});
  const std::vector<DamagedCase> cases = {
      {"levl", badGamma, "out of range"},
      {"levl", badRange, "out of range"},
      {"curv", badPoints, "out of order"},
      {"curv", tooManyPoints, "point count"},
      {"post", Bytes().i16(1).i16(0), "out of range"},
      {"thrs", Bytes().i16(300).i16(0), "out of range"},
      {"blnc", Bytes().i16(101), "out of range"},
      {"selc", selectiveBlock(false, 0, {150, 0, 0, 0}), "out of range"},
  };
  for (const DamagedCase& c : cases) {
    Adjustment a;
    a.kind = AdjustmentKind::kInvert;
    std::string error;
    EXPECT_FALSE(parseAdjustment(c.key, c.bytes.v.data(), c.bytes.v.size(), a, error)) << c.key;
    EXPECT_NE(error.find(c.key), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(a.kind, AdjustmentKind::kInvert) << "a refused block leaves the adjustment as it was";
  }
}

TEST(Adjustments, EveryTruncationOfAWellFormedBlockIsRefused) {
  Bytes levels = levelsBlock({});
  levels.v.resize(42);  // the composite and three colour channels are all that is read
  Bytes phfl;
  phfl.i16(2).i16(0).i16(0xFFFF).i16(0).i16(0).i16(0).i32(50).u8(0);
  Bytes blnc;
  for (int i = 0; i < 9; ++i) blnc.i16(10);
  blnc.u8(1);
  Bytes mixr;
  mixr.i16(1).i16(0);
  for (int i = 0; i < 15; ++i) mixr.i16(10);
  const std::vector<std::pair<const char*, Bytes>> blocks = {
      {"levl", levels},
      {"curv", curvesBlock(3, {{{0, 0}, {255, 255}}, {{0, 10}, {100, 50}, {255, 255}}})},
      {"brit", Bytes().i16(10).i16(10)},
      {"hue2", hueBlock(false, {0, 25, 0}, {10, 10, 10})},
      {"blnc", blnc},
      {"expA", Bytes().i16(1).f32(1).f32(0).f32(1)},
      {"phfl", phfl},
      {"mixr", mixr},
      {"post", Bytes().i16(4)},
      {"thrs", Bytes().i16(4)},
      {"selc", selectiveBlock(false, 0, {10, 0, 0, 0})},
  };
  for (const auto& [key, b] : blocks) {
    Adjustment a;
    std::string error;
    ASSERT_TRUE(parseAdjustment(key, b.v.data(), b.v.size(), a, error)) << key << ": " << error;
    for (size_t n = 0; n < b.v.size(); ++n) {
      const std::vector<uint8_t> prefix(b.v.begin(), b.v.begin() + static_cast<std::ptrdiff_t>(n));
      EXPECT_FALSE(parseAdjustment(key, prefix.data(), prefix.size(), a, error)) << key << " cut to " << n;
    }
  }
}

}  // namespace
}  // namespace korvex::psd
