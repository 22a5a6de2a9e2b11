// Documents blend in their own colour space: CMYK on the stored (255 - ink)
// values with black as a channel of its own, Lab on the stored L, a, b,
// grey in one channel, 32-bit documents in linear light; each converts to
// RGB once, with the reader's conversion. Expected pixels are worked out
// by hand from the blend formulas and the conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psd/colour.h"
#include "psd/reader.h"
#include "support/descriptor_bytes.h"
#include "support/psd_writer.h"
#include "support/render_psd.h"

namespace korvex::psd {
namespace {

using test::PsdRecord;

// The 1x1 document of `options` (its size set here) rendered: its pixel.
uint32_t render(test::PsdOptions o, const std::vector<PsdRecord>& records) {
  o.width = o.height = 1;
  const std::vector<uint32_t> pixels = test::renderPsd(o, records);
  return pixels.empty() ? 0 : pixels[0];
}

// A 1x1 CMYK pixel layer: stored cyan, magenta, yellow in `cmy` (0x00CCMMYY)
// and stored black `black`, all 255 - ink.
PsdRecord inks(uint32_t cmy, uint8_t black, const std::string& mode = "norm", uint8_t opacity = 255) {
  PsdRecord r = test::solidLayer("inks", 0, 0, 1, 1, 0xFF000000u | cmy);
  r.black = {black};
  r.blendMode = mode;
  r.opacity = opacity;
  return r;
}

uint32_t renderCmyk(const std::vector<PsdRecord>& records) {
  test::PsdOptions o;
  o.colorMode = 4;
  return render(o, records);
}

TEST(ColourConversions, InksFromRgbGiveTheColourBack) {
  uint32_t black = 0;
  // Black takes the grey: 255 - black ink is the largest component (0x80);
  // 0x40 * 255 / 0x80 = 127.5, rounded up.
  EXPECT_EQ(colour::rgbToInks(0x804000u, black), 0xFF8000u);
  EXPECT_EQ(black, 0x80u);
  EXPECT_EQ(colour::rgbToInks(0x000000u, black), 0xFFFFFFu);
  EXPECT_EQ(black, 0u);
  EXPECT_EQ(colour::rgbToInks(0xFFFFFFu, black), 0xFFFFFFu);
  EXPECT_EQ(black, 255u);
  for (uint32_t r = 0; r < 256; r += 15)
    for (uint32_t g = 0; g < 256; g += 15)
      for (uint32_t b = 0; b < 256; b += 15) {
        const uint32_t ink = colour::rgbToInks(r << 16 | g << 8 | b, black);
        ASSERT_EQ(colour::inkTimesBlack(ink >> 16, black), r) << r << " " << g << " " << b;
        ASSERT_EQ(colour::inkTimesBlack(ink >> 8 & 0xFF, black), g);
        ASSERT_EQ(colour::inkTimesBlack(ink & 0xFF, black), b);
      }
}

TEST(ColourConversions, LabAndRgb) {
  EXPECT_EQ(colour::lab8ToRgb(255, 128, 128), 0xFFFFFFu);
  EXPECT_EQ(colour::lab8ToRgb(0, 128, 128), 0x000000u);
  EXPECT_EQ(colour::rgbToLab8(0xFFFFFFu), 0xFF8080u);
  EXPECT_EQ(colour::rgbToLab8(0x000000u), 0x008080u);
  // L 49.8 (127 stored): Y = ((49.8 + 16) / 116)^3 = 0.1825, sRGB 0.4637 -> 118.
  EXPECT_EQ(colour::lab8ToRgb(127, 128, 128), 0x767676u);
  // sRGB red is Lab D50 (54.29, 80.80, 69.89): stored 138, 209, 198.
  EXPECT_EQ(colour::rgbToLab8(0xFF0000u), 0x8AD1C6u);
  // Through 8-bit Lab and back, colours move by at most 3 levels (away
  // from the green corner, where one step of a or b is 10 levels of red).
  for (uint32_t rgb : {0x123456u, 0xFF8000u, 0x40A060u, 0x8080FFu, 0xC0C0C0u, 0x0000FFu}) {
    const uint32_t back = colour::rgbToLab8(rgb);
    const uint32_t again = colour::lab8ToRgb(back >> 16, back >> 8 & 0xFF, back & 0xFF);
    for (int s = 0; s < 24; s += 8)
      EXPECT_LE(std::abs(static_cast<int>(again >> s & 0xFF) - static_cast<int>(rgb >> s & 0xFF)), 3) << std::hex << rgb;
  }
}

// Screen on the stored values: cyan ink under black ink gives c' = 0 +
// 255 - 0 = 255 and k' = 255 + 0 - 0 = 255: no ink at all, white. Blended
// in RGB the black layer would leave the cyan.
TEST(CmykBlending, SeparableModesActOnEveryInkAndBlack) {
  const PsdRecord cyan = inks(0x00FFFF, 255), blackInk = inks(0xFFFFFF, 0, "scrn");
  EXPECT_EQ(renderCmyk({cyan, blackInk}), 0xFFFFFFFFu);
  // Difference of white and 50 % black ink: c' = |255 - 255| = 0, k' =
  // |255 - 128| = 127: full cyan, magenta and yellow ink, black in RGB (RGB
  // would give grey 127).
  EXPECT_EQ(renderCmyk({inks(0xFFFFFF, 255), inks(0xFFFFFF, 128, "diff")}), 0xFF000000u);
}

// Opacity mixes the inks, not the RGB colours: black ink at 128/255 over
// cyan ink gives c' = 128, k' = 127 (255 * 127 / 255 rounds to 127), so
// red = 128 * 127 / 255 = 64 and green = blue = 127; RGB would give red 0.
TEST(CmykBlending, OpacityMixesTheInks) {
  EXPECT_EQ(renderCmyk({inks(0x00FFFF, 255), inks(0xFFFFFF, 0, "norm", 128)}), 0xFF407F7Fu);
}

// Luminosity mixes cyan, magenta and yellow as RGB and takes black from
// the layer: the white CMY of the layer gives white, black 128 from it:
// grey 128. In RGB the cyan would keep its hue: (0, 183, 183).
TEST(CmykBlending, LuminosityTakesBlackFromTheLayer) {
  EXPECT_EQ(renderCmyk({inks(0x00FFFF, 255), inks(0xFFFFFF, 128, "lum ")}), 0xFF808080u);
}

// A solid fill given in CMYK keeps its inks: 100 % cyan, magenta and
// yellow without black screened over 50 % black gives c' = screen(255, 0)
// = 255 and k' = screen(128, 255) = 255, white. Its RGB (black) would give
// all the ink to black: k' = screen(128, 0) = 128, grey.
TEST(CmykBlending, SolidFillsKeepTheirInks) {
  test::Bytes soco;
  soco.u32(16).object("null", 1).item("Clr ", "Objc").object("CMYC", 4);
  for (const char* key : {"Cyn ", "Mgnt", "Ylw "}) soco.item(key, "doub").f64(100);
  soco.item("Blck", "doub").f64(0);
  PsdRecord fill;
  fill.blendMode = "scrn";
  fill.blocks = {{"SoCo", soco.s}};
  EXPECT_EQ(renderCmyk({inks(0xFFFFFF, 128), fill}), 0xFFFFFFFFu);
}

// Levels in a CMYK document: the blue mapping (out ceiling 0) acts on
// yellow, not on black, which takes the composite mapping only: white
// inks over 50 % black become (255, 255, 0) and 128: RGB (128, 128, 0).
TEST(CmykBlending, LevelsMapInksAndBlackByTheirOwnChannels) {
  test::Bytes levl;
  levl.u16(2);
  for (int i = 0; i < 29; ++i) levl.u16(0).u16(255).u16(0).u16(i == 3 ? 0 : 255).u16(100);
  PsdRecord levels;
  levels.blocks = {{"levl", levl.s}};
  EXPECT_EQ(renderCmyk({inks(0xFFFFFF, 128), levels}), 0xFF808000u);
}

// Lab blends its stored values: black at 128/255 over white gives L 127,
// a and b 128: grey 118 (0x76). RGB would give 127 or 128.
TEST(LabBlending, OpacityMixesTheStoredValues) {
  test::PsdOptions o;
  o.colorMode = 9;
  PsdRecord white = test::solidLayer("w", 0, 0, 1, 1, 0xFFFF8080u);
  PsdRecord black = test::solidLayer("b", 0, 0, 1, 1, 0xFF008080u);
  black.opacity = 128;
  EXPECT_EQ(render(o, {white, black}), 0xFF767676u);
}

// A colour the renderer makes itself, a solid fill, becomes grey in a grey
// document: its luminosity, (30 * 255 + 50) / 100 = 77 for red.
TEST(GreyBlending, ColourFillsDrawInGrey) {
  test::PsdOptions o;
  o.colorMode = 1;
  PsdRecord fill;
  fill.kind = test::PsdRecordKind::kSolidFill;
  fill.fillColor = 0xFF0000u;
  EXPECT_EQ(render(o, {test::solidLayer("w", 0, 0, 1, 1, 0xFFFFFFFFu), fill}), 0xFF4D4D4Du);
}

// A pixel layer of `color` in `mode` at `opacity` over `backdrop`, in a
// document of `depth` bits.
uint32_t overBackdrop(int depth, uint32_t backdrop, uint32_t color, const std::string& mode, uint8_t opacity = 255) {
  test::PsdOptions o;
  o.depth = depth;
  PsdRecord layer = test::solidLayer("l", 0, 0, 1, 1, color);
  layer.blendMode = mode;
  layer.opacity = opacity;
  return render(o, {test::solidLayer("b", 0, 0, 1, 1, backdrop), layer});
}

// A 32-bit document mixes in linear light: black at 128/255 over white is
// linear 127/255, shown as (127/255)^(1/2.2) * 255 = 186; at 8 bits the
// same layers give 127.
TEST(LinearLightBlending, ThirtyTwoBitDocumentsMixInLinearLight) {
  EXPECT_EQ(overBackdrop(8, 0xFFFFFFFFu, 0xFF000000u, "norm", 128), 0xFF7F7F7Fu);
  EXPECT_EQ(overBackdrop(32, 0xFFFFFFFFu, 0xFF000000u, "norm", 128), 0xFFBABABAu);
}

// Blend modes act on linear light too. Difference: white minus linear 0.5
// (shown as 186) is 0.5, shown as 186 again; on the shown values it would
// be 255 - 186 = 69. Luminosity: red (1, 0, 0) takes the luminosity
// 0.4995 of grey 186: (1.1995, 0.1995, 0.1995) clipped towards it gives
// green and blue 0.2850, shown as 144 (on the shown values: 156).
TEST(LinearLightBlending, BlendModesActOnLinearLight) {
  EXPECT_EQ(overBackdrop(32, 0xFFFFFFFFu, 0xFFBABABAu, "diff"), 0xFFBABABAu);
  EXPECT_EQ(overBackdrop(32, 0xFFFF0000u, 0xFFBABABAu, "lum "), 0xFFFF9090u);
}

// 16-bit samples give their high byte, never a rounded value: 0xC800 is
// 51200 / 257 = 199.2, read as 200.
TEST(SixteenBitSamples, GiveTheirHighByte) {
  test::PsdOptions o;
  o.width = o.height = 1;
  o.depth = 16;
  o.compression = test::PsdCompression::kRaw;
  std::string bytes = test::makePsd(o, {test::solidLayer("l", 0, 0, 1, 1, 0xFFC81E64u)});
  // The red channel: raw compression (0) and 200 * 257 = 0xC8C8.
  const std::string red("\0\0\xC8\xC8", 4);
  const size_t at = bytes.find(red);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 3] = '\0';
  Document d;
  std::string error;
  ASSERT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
  ASSERT_EQ(d.layerRecords.size(), 1u);
  EXPECT_EQ(d.layerRecords[0].imageData[0], 0xFFC81E64u);
}

}  // namespace
}  // namespace korvex::psd
