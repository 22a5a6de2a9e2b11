// The PSD reader on files from the test writer: pixels at every depth,
// colour mode and compression, and every field of the layer records.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "psd/reader.h"
#include "psd/same_records.h"
#include "support/psd_writer.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

using test::PsdCompression;
using test::PsdOptions;
using test::PsdRecord;
using test::PsdRecordKind;

bool parse(const std::string& bytes, Document& d, std::string& error) {
  return parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error);
}

Document parseOk(const std::string& bytes) {
  Document d;
  std::string error;
  EXPECT_TRUE(parse(bytes, d, error)) << error;
  return d;
}

// A layer whose pixels run through many colours and alphas.
PsdRecord gradientLayer(int32_t left, int32_t top, int32_t width, int32_t height) {
  PsdRecord r = test::solidLayer("gradient", left, top, width, height, 0);
  for (size_t i = 0; i < r.pixels.size(); ++i)
    r.pixels[i] = static_cast<uint32_t>(i * 37u) << 24 | static_cast<uint32_t>(i * 11u % 256) << 16 |
                  static_cast<uint32_t>(255 - i * 5u % 256) << 8 | static_cast<uint32_t>(i * 101u % 256);
  return r;
}

TEST(Reader, DecodesEveryDepthCompressionAndColourMode) {
  const PsdRecord layer = gradientLayer(1, 2, 13, 9);
  for (int depth : {8, 16, 32}) {
    for (int compression = 0; compression < 4; ++compression) {
      for (int mode : {3, 1, 4}) {
        PsdOptions o;
        o.width = 16;
        o.height = 12;
        o.depth = depth;
        o.colorMode = mode;
        o.compression = static_cast<PsdCompression>(compression);
        const Document d = parseOk(test::makePsd(o, {layer}));
        const std::string where = "depth " + std::to_string(depth) + " compression " +
                                  std::to_string(compression) + " mode " + std::to_string(mode);
        ASSERT_EQ(d.layerRecords.size(), 1u) << where;
        const LayerRecord& r = d.layerRecords[0];
        EXPECT_EQ(d.depth, depth);
        EXPECT_EQ(d.colorMode, mode);
        ASSERT_EQ(r.imageData.size(), layer.pixels.size()) << where;
        for (size_t i = 0; i < layer.pixels.size(); ++i) {
          uint32_t expected = layer.pixels[i];
          if (mode == 1) {  // the writer stores the red component as grey
            const uint32_t g = expected >> 16 & 0xFF;
            expected = (expected & 0xFF000000u) | g << 16 | g << 8 | g;
          }
          ASSERT_EQ(r.imageData[i], expected) << where << " pixel " << i;
        }
      }
    }
  }
}

TEST(Reader, ReadsRecordFields) {
  PsdRecord a = test::solidLayer("\x83\x8C\x83\x43\x83\x84\x81\x5B", -3, -4, 5, 6, 0x80102030);  // "レイヤー" in Shift_JIS
  a.unicodeName = u"\u30EC\u30A4\u30E4\u30FC";
  a.hidden = true;
  a.opacity = 77;
  a.fillOpacity = 66;
  a.blendMode = "mul ";
  PsdRecord b = test::solidLayer("clipped", 30, 20, 4, 4, 0xFFFFFFFF);
  b.clipping = true;
  b.blendMode = "lum ";
  b.hasMask = true;
  b.mask.left = 31;
  b.mask.top = 21;
  b.mask.width = 2;
  b.mask.height = 1;
  b.mask.pixels = {10, 200};
  b.mask.defaultColor = 255;
  b.mask.invert = true;
  PsdRecord empty;
  empty.name = "empty";
  PsdRecord fill;
  fill.kind = PsdRecordKind::kSolidFill;
  fill.name = "fill";
  fill.fillColor = 0xA1B2C3;
  PsdRecord adjustment;
  adjustment.kind = PsdRecordKind::kAdjustment;
  adjustment.name = "levels";
  PsdRecord background = test::solidLayer("Background", 0, 0, 32, 24, 0xFF445566);
  background.transparency = false;

  std::vector<PsdRecord> records = {background, a, b, empty, fill, adjustment};
  PsdOptions o;
  o.width = 32;
  o.height = 24;
  const Document d = parseOk(test::makePsd(o, records));
  ASSERT_EQ(d.layerRecords.size(), 6u);
  EXPECT_EQ(d.width, 32);
  EXPECT_EQ(d.height, 24);

  const LayerRecord& bg = d.layerRecords[0];
  EXPECT_EQ(bg.numberOfChannels, 3);
  EXPECT_EQ(bg.imageData.front(), 0xFF445566u);

  const LayerRecord& ra = d.layerRecords[1];
  EXPECT_EQ(ra.layerType, kLayerNormal);
  EXPECT_EQ(ra.layerName, "\x83\x8C\x83\x43\x83\x84\x81\x5B");
  EXPECT_EQ(ra.unicodeName, u"\u30EC\u30A4\u30E4\u30FC");
  EXPECT_FALSE(ra.visible);
  EXPECT_EQ(ra.left, -3);
  EXPECT_EQ(ra.top, -4);
  EXPECT_EQ(ra.width, 5);
  EXPECT_EQ(ra.height, 6);
  EXPECT_EQ(ra.numberOfChannels, 4);
  EXPECT_EQ(ra.opacity, 77);
  EXPECT_EQ(ra.fillOpacity, 66);
  EXPECT_EQ(ra.blendMode, BlendMode::kMultiply);
  EXPECT_FALSE(ra.clipping);
  EXPECT_FALSE(ra.mask.present());

  const LayerRecord& rb = d.layerRecords[2];
  EXPECT_TRUE(rb.visible);
  EXPECT_TRUE(rb.clipping);
  EXPECT_EQ(rb.blendMode, BlendMode::kLuminosity);
  EXPECT_EQ(rb.numberOfChannels, 5);
  EXPECT_EQ(rb.mask.left, 31);
  EXPECT_EQ(rb.mask.top, 21);
  EXPECT_EQ(rb.mask.width, 2);
  EXPECT_EQ(rb.mask.height, 1);
  EXPECT_EQ(rb.mask.data, (std::vector<uint8_t>{10, 200}));
  EXPECT_EQ(rb.mask.defaultColor, 255);
  EXPECT_TRUE(rb.mask.inverted);
  EXPECT_FALSE(rb.mask.disabled);

  const LayerRecord& re = d.layerRecords[3];
  EXPECT_EQ(re.width, 0);
  EXPECT_EQ(re.height, 0);
  EXPECT_EQ(re.pixels(), nullptr);

  EXPECT_EQ(d.layerRecords[4].layerType, kLayerSolidColor);
  EXPECT_EQ(d.layerRecords[4].fillColor, 0xA1B2C3u);
  EXPECT_EQ(d.layerRecords[5].layerType, kLayerAdjustment);
  ASSERT_TRUE(d.layerRecords[5].adjustment);
  EXPECT_EQ(d.layerRecords[5].adjustment->kind, AdjustmentKind::kLevels);
  EXPECT_FALSE(d.layerRecords[4].adjustment);
}

TEST(Reader, AdjustmentLayersCarryTheirSettings) {
  // Adjustment layers: records without pixels holding a settings block.
  PsdRecord posterize;
  posterize.name = "poster";
  posterize.blocks = {{"post", std::string("\0\x05\0\0", 4)}};
  PsdRecord lookup;
  lookup.name = "look";
  lookup.blocks = {{"clrL", "anything"}};
  PsdOptions o;
  o.width = 4;
  o.height = 4;
  const Document d = parseOk(test::makePsd(o, {test::solidLayer("a", 0, 0, 4, 4, 0xFF102030), posterize, lookup}));
  ASSERT_EQ(d.layerRecords.size(), 3u);
  ASSERT_TRUE(d.layerRecords[1].adjustment);
  EXPECT_EQ(d.layerRecords[1].adjustment->kind, AdjustmentKind::kPosterize);
  EXPECT_EQ(d.layerRecords[1].adjustment->levelCount, 5);
  ASSERT_TRUE(d.layerRecords[2].adjustment);
  EXPECT_EQ(d.layerRecords[2].layerType, kLayerAdjustment);
  EXPECT_EQ(d.layerRecords[2].adjustment->kind, AdjustmentKind::kUnknown);
  EXPECT_EQ(d.layerRecords[2].adjustment->key, "clrL");

  // A damaged settings block leaves the layer undrawn with the reason,
  // naming the block.
  posterize.blocks = {{"post", std::string("\0\x01\0\0", 4)}};
  const Document damaged = parseOk(test::makePsd(o, {posterize}));
  EXPECT_EQ(damaged.layerRecords.at(0).layerType, kLayerAdjustment);
  EXPECT_EQ(damaged.layerRecords.at(0).warning.rfind("adjustment post: value out of range at offset ", 0), 0u)
      << damaged.layerRecords.at(0).warning;
}

TEST(Reader, GroupsGetTypesSectionSettingsAndLinks) {
  // outer [ a, inner [ b ], c ] d, in file order bottom first.
  PsdRecord a = test::solidLayer("a", 0, 0, 1, 1, 0xFF000001);
  PsdRecord b = test::solidLayer("b", 0, 0, 1, 1, 0xFF000002);
  PsdRecord c = test::solidLayer("c", 0, 0, 1, 1, 0xFF000003);
  PsdRecord d = test::solidLayer("d", 0, 0, 1, 1, 0xFF000004);
  std::vector<PsdRecord> inner = test::group("inner", {b}, true);
  inner.back().closedFolder = true;
  inner.back().blendMode = "scrn";
  inner.back().opacity = 128;
  std::vector<PsdRecord> children = {a};
  test::append(children, inner);
  children.push_back(c);
  std::vector<PsdRecord> records = test::group("outer", children);
  records.push_back(d);
  PsdOptions o;
  o.width = o.height = 2;
  const Document doc = parseOk(test::makePsd(o, records));
  // 0 divider(outer), 1 a, 2 divider(inner), 3 b, 4 header(inner), 5 c, 6 header(outer), 7 d
  ASSERT_EQ(doc.layerRecords.size(), 8u);
  const auto& r = doc.layerRecords;
  EXPECT_EQ(r[0].layerType, kLayerSectionDivider);
  EXPECT_EQ(r[0].sectionType, 3);
  EXPECT_EQ(r[0].layerName, "</Layer group>");
  EXPECT_EQ(r[4].layerType, kLayerGroupHeader);
  EXPECT_EQ(r[4].sectionType, 2);
  EXPECT_EQ(r[4].layerName, "inner");
  EXPECT_FALSE(r[4].visible);
  EXPECT_EQ(r[4].blendMode, BlendMode::kScreen);
  EXPECT_EQ(r[4].opacity, 128);
  EXPECT_EQ(r[6].sectionType, 1);
  EXPECT_EQ(r[6].blendMode, BlendMode::kPassThrough);
  EXPECT_EQ(r[6].width, 0);
  // Links: innermost enclosing header, the outer one restored after a nested group.
  EXPECT_EQ(r[7].groupHeader, -1);
  EXPECT_EQ(r[6].groupHeader, -1);
  EXPECT_EQ(r[5].groupHeader, 6);
  EXPECT_EQ(r[4].groupHeader, 6);
  EXPECT_EQ(r[3].groupHeader, 4);
  EXPECT_EQ(r[2].groupHeader, 4);
  EXPECT_EQ(r[1].groupHeader, 6);
  EXPECT_EQ(r[0].groupHeader, 6);
}

TEST(Reader, EmptyLayerSectionGivesNoRecords) {
  PsdOptions o;
  o.width = 3;
  o.height = 2;
  const Document d = parseOk(test::makePsd(o, {}));
  EXPECT_TRUE(d.layerRecords.empty());
  EXPECT_EQ(d.width, 3);
  EXPECT_EQ(d.height, 2);
}

TEST(Reader, ReadsTheMergedImage) {
  PsdOptions o;
  o.width = 4;
  o.height = 3;
  std::vector<PsdRecord> records = {test::solidLayer("a", 1, 1, 2, 1, 0xFF123456)};
  const std::string bytes = test::makePsd(o, records);
  std::vector<uint32_t> merged;
  std::string error;
  ASSERT_TRUE(readMergedImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), merged, error)) << error;
  ASSERT_EQ(merged.size(), 12u);
  EXPECT_EQ(merged[0], 0xFFFFFFFFu);
  EXPECT_EQ(merged[5], 0xFF123456u);
  EXPECT_EQ(merged[6], 0xFF123456u);
}

TEST(Reader, RefusesUnknownVersionsAndUnsupportedDepths) {
  PsdOptions o;
  o.width = o.height = 2;
  std::string bytes = test::makePsd(o, {test::solidLayer("a", 0, 0, 1, 1, 0xFF000000)});
  Document d;
  std::string error;
  std::string version = bytes;
  version[5] = 3;
  EXPECT_FALSE(parse(version, d, error));
  EXPECT_NE(error.find("version 3"), std::string::npos) << error;
  // A PSD claiming to be a PSB: its 4-byte lengths read as 8-byte ones.
  std::string psb = bytes;
  psb[5] = 2;
  EXPECT_FALSE(parse(psb, d, error));
  EXPECT_FALSE(error.empty());
  std::string depth = bytes;
  depth[23] = 17;
  EXPECT_FALSE(parse(depth, d, error));
  EXPECT_NE(error.find("depth 17"), std::string::npos) << error;
  std::string signature = bytes;
  signature[0] = 'X';
  EXPECT_FALSE(parse(signature, d, error));
}

// Many layers with masks in groups: enough pixels for every decoding thread.
std::vector<PsdRecord> manyLayers() {
  std::vector<PsdRecord> records;
  for (int i = 0; i < 24; ++i) {
    PsdRecord r = gradientLayer(i * 7 - 20, i * 5 - 10, 120 + i * 13, 150 + i * 3);
    r.name = "layer " + std::to_string(i);
    r.hasMask = i % 3 == 0;
    r.mask.left = i;
    r.mask.top = i;
    r.mask.width = 30 + i;
    r.mask.height = 20;
    r.mask.pixels.assign(static_cast<size_t>(r.mask.width * r.mask.height), static_cast<uint8_t>(i * 10));
    records.push_back(r);
  }
  std::vector<PsdRecord> grouped = test::group("g", std::vector<PsdRecord>(records.begin(), records.begin() + 10));
  test::append(grouped, std::vector<PsdRecord>(records.begin() + 10, records.end()));
  return grouped;
}

TEST(Reader, DecodesTheSameOnAnyNumberOfThreads) {
  for (int compression = 0; compression < 4; ++compression) {
    PsdOptions o;
    o.width = o.height = 400;
    o.compression = static_cast<PsdCompression>(compression);
    o.withMergedImage = false;
    const std::string bytes = test::makePsd(o, manyLayers());
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    Document one, many;
    std::string error;
    ASSERT_TRUE(parseDocument(data, bytes.size(), one, error, 1)) << error;
    ASSERT_TRUE(parseDocument(data, bytes.size(), many, error, 4)) << error;
    expectSameRecords(one, many, "compression " + std::to_string(compression));
    // A damaged layer is reported the same way: the first damaged record
    // in file order, whichever thread meets it first.
    std::string damaged = bytes;
    for (size_t at = bytes.size() * 3 / 4; at < bytes.size() * 3 / 4 + 64; ++at) damaged[at] = '\x7f';
    std::string errorOne, errorMany;
    const bool okOne = parseDocument(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(), one, errorOne, 1);
    const bool okMany =
        parseDocument(reinterpret_cast<const uint8_t*>(damaged.data()), damaged.size(), many, errorMany, 4);
    EXPECT_EQ(okOne, okMany);
    EXPECT_EQ(errorOne, errorMany);
  }
}

// Pixels live in memory the document holds: they stay with it through
// moves and are replaced with it when another document is read into it.
TEST(Reader, PixelsStayWithTheirDocument) {
  PsdOptions o;
  o.width = o.height = 64;
  const PsdRecord first = gradientLayer(1, 2, 30, 20), second = gradientLayer(5, 6, 40, 50);
  PsdRecord empty = test::solidLayer("empty", 0, 0, 0, 0, 0);
  Document d = parseOk(test::makePsd(o, {first, empty}));
  const uint32_t* before = d.layerRecords[0].imageData.data();
  std::vector<Document> moved;
  moved.push_back(std::move(d));
  ASSERT_EQ(moved[0].layerRecords.size(), 2u);
  const LayerRecord& r = moved[0].layerRecords[0];
  EXPECT_EQ(r.imageData.data(), before);
  EXPECT_TRUE(std::equal(r.imageData.begin(), r.imageData.end(), first.pixels.begin(), first.pixels.end()));
  EXPECT_TRUE(moved[0].layerRecords[1].imageData.empty());
  EXPECT_EQ(moved[0].layerRecords[1].pixels(), nullptr);

  std::string error;
  ASSERT_TRUE(parse(test::makePsd(o, {second}), moved[0], error)) << error;
  ASSERT_EQ(moved[0].layerRecords.size(), 1u);
  const LayerPixels& now = moved[0].layerRecords[0].imageData;
  EXPECT_TRUE(std::equal(now.begin(), now.end(), second.pixels.begin(), second.pixels.end()));
}

TEST(Reader, LoadsFromAPath) {
  Document d;
  std::string error;
  EXPECT_FALSE(loadDocument("/nonexistent/file.psd", d, error));
  EXPECT_EQ(error, "cannot open /nonexistent/file.psd");
  EXPECT_FALSE(loadDocument("/", d, error));
  EXPECT_FALSE(error.empty());
  // A small file is read, a large one mapped: both give what the bytes give.
  test::TempDir dir;
  for (int side : {40, 700}) {
    PsdOptions o;
    o.width = o.height = side;
    o.compression = PsdCompression::kRaw;
    const std::string bytes = test::makePsd(o, {gradientLayer(3, 4, side - 5, side - 6)});
    const std::string path = dir.file("doc.psd");
    test::writeFile(path, bytes);
    Document fromFile, fromBytes;
    ASSERT_TRUE(loadDocument(path, fromFile, error)) << error;
    ASSERT_TRUE(parse(bytes, fromBytes, error)) << error;
    expectSameRecords(fromFile, fromBytes, "side " + std::to_string(side));
  }
}

}  // namespace
}  // namespace korvex::psd
