// Large documents (PSB, version 2): the same records as a PSD through the
// wider length fields, damaged lengths refused, and the PSB samples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psd/reader.h"
#include "psd/same_records.h"
#include "support/samples.h"
#include "support/psd_writer.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

using test::PsdCompression;
using test::PsdOptions;
using test::PsdRecord;

bool parse(const std::string& bytes, Document& d, std::string& error) {
  return parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error);
}

// Groups, a mask, a fill layer and a Unicode name.
std::vector<PsdRecord> records() {
  PsdRecord a = test::solidLayer("a", 1, 2, 7, 5, 0);
  for (size_t i = 0; i < a.pixels.size(); ++i) a.pixels[i] = static_cast<uint32_t>(i * 0x05030701u) | 0x40000000u;
  a.hasMask = true;
  a.mask = {2, 1, 3, 2, {9, 8, 7, 6, 5, 4}, 0, false, true, ""};
  a.unicodeName = u"a\u30A2";
  PsdRecord fill;
  fill.kind = test::PsdRecordKind::kSolidFill;
  fill.fillColor = 0x123456;
  std::vector<PsdRecord> out = {test::solidLayer("bottom", 0, 0, 9, 9, 0xFF665544)};
  test::append(out, test::group("g", {a, fill}));
  return out;
}

PsdOptions options(PsdCompression compression, int depth, bool psb) {
  PsdOptions o;
  o.width = o.height = 9;
  o.compression = compression;
  o.depth = depth;
  o.psb = psb;
  return o;
}

TEST(LargeDocument, ReadsWhatTheSamePsdHolds) {
  for (auto compression : {PsdCompression::kRaw, PsdCompression::kRle, PsdCompression::kZip, PsdCompression::kZipPrediction}) {
    for (int depth : {8, 16, 32}) {
      const std::string where = "compression " + std::to_string(static_cast<int>(compression)) + " depth " +
                                std::to_string(depth);
      Document psd, psb;
      std::string error;
      ASSERT_TRUE(parse(test::makePsd(options(compression, depth, false), records()), psd, error)) << error;
      const std::string bytes = test::makePsd(options(compression, depth, true), records());
      ASSERT_TRUE(parse(bytes, psb, error)) << where << ": " << error;
      expectSameRecords(psd, psb, where);
      std::vector<uint32_t> merged, expected;
      ASSERT_TRUE(readMergedImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), merged, error))
          << where << ": " << error;
      const std::string plain = test::makePsd(options(compression, depth, false), records());
      ASSERT_TRUE(readMergedImage(reinterpret_cast<const uint8_t*>(plain.data()), plain.size(), expected, error));
      EXPECT_EQ(merged, expected) << where;
    }
  }
}

TEST(LargeDocument, TakesCanvasesBeyondThePsdLimit) {
  PsdOptions o;
  o.width = 40000;
  o.height = 1;
  o.psb = true;
  Document d;
  std::string error;
  ASSERT_TRUE(parse(test::makePsd(o, {test::solidLayer("wide", 39990, 0, 10, 1, 0xFF0000FF)}), d, error)) << error;
  EXPECT_EQ(d.width, 40000);
  ASSERT_EQ(d.layerRecords.size(), 1u);
  EXPECT_EQ(d.layerRecords[0].imageData.front(), 0xFF0000FFu);
  o.psb = false;
  EXPECT_FALSE(parse(test::makePsd(o, {}), d, error));
  EXPECT_NE(error.find("out of range"), std::string::npos) << error;
}

// The merged image starts after the 8-byte layer and mask section length at 34.
size_t mergedImageOffset(const std::string& bytes) {
  size_t len = 0;
  for (int i = 0; i < 8; ++i) len = len << 8 | static_cast<uint8_t>(bytes[34 + static_cast<size_t>(i)]);
  return 42 + len;
}

TEST(LargeDocument, TruncatedAnywhereBeforeTheMergedImageIsRefused) {
  for (auto compression : {PsdCompression::kRaw, PsdCompression::kRle, PsdCompression::kZip}) {
    for (int depth : {8, 16}) {
      const std::string full = test::makePsd(options(compression, depth, true), records());
      const size_t merged = mergedImageOffset(full);
      Document d;
      std::string error;
      ASSERT_TRUE(parse(full, d, error)) << error;
      for (size_t size = 0; size < full.size(); ++size) {
        const bool ok = parse(full.substr(0, size), d, error);
        ASSERT_EQ(ok, size >= merged) << "cut at " << size << " of " << full.size();
        if (!ok) {
          ASSERT_FALSE(error.empty());
        }
      }
    }
  }
}

void putU64(std::string& bytes, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>(v >> (56 - 8 * i));
}

// Offsets in a one-layer PSB: layer and mask length 34 (8 bytes), layer
// info length 42 (8), count 50, record 52: rectangle, channel count 68,
// channel list from 70 (id 2 + length 8 each).
TEST(LargeDocument, AbsurdLengthsAreRefusedWithAReason) {
  PsdOptions o;
  o.width = o.height = 4;
  o.psb = true;
  const std::string base = test::makePsd(o, {test::solidLayer("a", 0, 0, 4, 4, 0xFF010203)});
  Document d;
  std::string error;
  ASSERT_TRUE(parse(base, d, error)) << error;
  const struct {
    const char* what;
    size_t at;
    uint64_t value;
    const char* reason;
  } kCases[] = {
      {"layer and mask length", 34, 0xFFFFFFFFFFFFFFF0u, "layer and mask section"},
      {"layer and mask length above 4 GiB", 34, 0x100000000u, "layer and mask section"},
      {"layer info length", 42, 0x7FFFFFFFFFFFFFFFu, "layer info"},
      {"channel length", 72, 0xFFFFFFFFFFFFFFFFu, "runs past the layer info"},
      {"channel length above 4 GiB", 72, 0x100000002u, "runs past the layer info"},
  };
  for (const auto& c : kCases) {
    std::string bytes = base;
    putU64(bytes, c.at, c.value);
    EXPECT_FALSE(parse(bytes, d, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(LargeDocument, PsbSamplesLoad) {
  KORVEX_SKIP_WITHOUT_SAMPLES();
  const std::string samples = test::samplesFolder();
  const struct {
    const char* name;
    size_t minLayers;
  } kFiles[] = {
      {"photoshop-truth/psd-tools/tests/psd_files/layer_comps.psb", 1},
      {"ag-psd/read/psb/src.psb", 1},
      {"ag-psd/read/psb-test/\xE3\x82\xA6\xE3\x83\x8B\xE3\x83\x95\xE3\x83\xA9\xE7\x99\xBD.psb", 1},
      {"PhotoshopAPI/Compression/Compression_ZipPrediction_32bit.psb", 1},
  };
  for (const auto& f : kFiles) {
    const std::string path = samples + "/" + f.name;
    Document d;
    std::string error;
    EXPECT_TRUE(loadDocument(path, d, error)) << f.name << ": " << error;
    EXPECT_GE(d.layerRecords.size(), f.minLayers) << f.name;
    size_t withPixels = 0;
    for (const LayerRecord& r : d.layerRecords) withPixels += r.imageData.empty() ? 0 : 1;
    EXPECT_GT(withPixels, 0u) << f.name;
    const std::string bytes = test::readFile(path);
    std::vector<uint32_t> merged;
    EXPECT_TRUE(readMergedImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), merged, error))
        << f.name << ": " << error;
    EXPECT_EQ(merged.size(), static_cast<size_t>(d.width) * static_cast<size_t>(d.height)) << f.name;
  }
}

}  // namespace
}  // namespace korvex::psd
