// Damaged files: every one is refused with a reason, never a crash, a hang
// or a huge allocation. The files the fuzzer once broke the reader with
// are in tests/psd/crashers/ and replayed here.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/psd_writer.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

using test::PsdCompression;
using test::PsdOptions;
using test::PsdRecord;

bool parse(const std::string& bytes, std::string& error) {
  Document d;
  return parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error);
}

// A document with groups, masks, a fill layer and varied pixels.
std::string richDocument(PsdCompression compression, int depth) {
  PsdRecord a = test::solidLayer("a", 1, 1, 6, 5, 0);
  for (size_t i = 0; i < a.pixels.size(); ++i) a.pixels[i] = static_cast<uint32_t>(i * 0x01030507u) | 0x80000000u;
  a.hasMask = true;
  a.mask.left = 2;
  a.mask.top = 2;
  a.mask.width = 2;
  a.mask.height = 2;
  a.mask.pixels = {1, 2, 3, 4};
  a.unicodeName = u"a";
  PsdRecord fill;
  fill.kind = test::PsdRecordKind::kSolidFill;
  fill.fillColor = 0x102030;
  std::vector<PsdRecord> records = {test::solidLayer("bottom", 0, 0, 8, 8, 0xFF112233)};
  test::append(records, test::group("g", {a, fill}));
  PsdOptions o;
  o.width = o.height = 8;
  o.depth = depth;
  o.compression = compression;
  return test::makePsd(o, records);
}

// The offset where the merged image starts: 34 + 4 + the layer and mask section length.
size_t mergedImageOffset(const std::string& bytes) {
  size_t len = 0;
  for (int i = 0; i < 4; ++i) len = len << 8 | static_cast<uint8_t>(bytes[34 + static_cast<size_t>(i)]);
  return 38 + len;
}

TEST(Damaged, TruncatedAnywhereBeforeTheMergedImageIsRefused) {
  for (auto compression : {PsdCompression::kRaw, PsdCompression::kRle, PsdCompression::kZip, PsdCompression::kZipPrediction}) {
    for (int depth : {8, 16}) {
      const std::string full = richDocument(compression, depth);
      const size_t merged = mergedImageOffset(full);
      std::string error;
      ASSERT_TRUE(parse(full, error)) << error;
      for (size_t size = 0; size < full.size(); ++size) {
        const bool ok = parse(full.substr(0, size), error);
        // The merged image is not needed: a cut there still loads.
        ASSERT_EQ(ok, size >= merged) << "cut at " << size << " of " << full.size();
        if (!ok) {
          ASSERT_FALSE(error.empty());
        }
      }
    }
  }
}

void putU32(std::string& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<char>(v >> (24 - 8 * i));
}
void putU16(std::string& bytes, size_t at, uint32_t v) {
  bytes[at] = static_cast<char>(v >> 8);
  bytes[at + 1] = static_cast<char>(v);
}

// Offsets in a writer file with one layer: header 26, colour data length
// 26, resources length 30, layer and mask length 34, layer info length 38,
// count 42, first record 44: top 44, left 48, bottom 52, right 56,
// channels 60, channel list from 62 (id 2 + length 4 each).
TEST(Damaged, AbsurdSizesAndCountsAreRefused) {
  PsdOptions o;
  o.width = o.height = 4;
  const std::string base = test::makePsd(o, {test::solidLayer("a", 0, 0, 4, 4, 0xFF010203)});
  std::string error;
  ASSERT_TRUE(parse(base, error)) << error;
  const struct {
    const char* what;
    size_t at;
    uint32_t value;
    int bytes;
  } kCases[] = {
      {"colour data length", 26, 0xFFFFFFFFu, 4},
      {"resources length", 30, 0x7FFFFFFFu, 4},
      {"layer and mask length", 34, 0xFFFFFFF0u, 4},
      {"layer info length", 38, 0x00FFFFFFu, 4},
      {"layer count", 42, 0x7FFF, 2},
      {"negative layer count", 42, 0x8001, 2},
      {"rectangle bottom", 52, 0x7FFFFFFFu, 4},
      {"rectangle left", 48, 0x80000000u, 4},
      {"inverted rectangle", 52, 0xFFFFFFFEu, 4},
      {"channel count", 60, 0xFFFF, 2},
      {"channel length", 64, 0xFFFFFFFFu, 4},
      {"canvas width", 18, 30000, 4},
      {"canvas height", 14, 0, 4},
      {"header channels", 12, 0, 2},
      {"colour mode", 24, 5, 2},
  };
  for (const auto& c : kCases) {
    std::string bytes = base;
    if (c.bytes == 4) putU32(bytes, c.at, c.value);
    else putU16(bytes, c.at, c.value);
    if (c.at == 18) putU32(bytes, 14, 30000);  // a 30000 x 30000 canvas in a tiny file
    EXPECT_FALSE(parse(bytes, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

// Where the channel data of a one-layer writer file starts: after its
// record (rectangle 16, channel count 2, 6 bytes per channel, "8BIM", blend
// key, 4 bytes of opacity, clipping, flags and filler, extra data length 4
// and the extra data).
size_t firstChannelData(const std::string& bytes) {
  size_t pos = 44;
  const size_t channels = static_cast<uint8_t>(bytes[pos + 16]) << 8 | static_cast<uint8_t>(bytes[pos + 17]);
  pos += 18 + 6 * channels + 12;
  size_t extra = 0;
  for (int i = 0; i < 4; ++i) extra = extra << 8 | static_cast<uint8_t>(bytes[pos + static_cast<size_t>(i)]);
  return pos + 4 + extra;
}

TEST(Damaged, BadRleAndZipDataIsRefused) {
  PsdOptions o;
  o.width = o.height = 4;
  PsdRecord layer = test::solidLayer("a", 0, 0, 4, 4, 0xFF010203);
  std::string error;
  {
    o.compression = PsdCompression::kRle;
    const std::string base = test::makePsd(o, {layer});
    const size_t data = firstChannelData(base);
    ASSERT_EQ(base[data + 1], 1);  // RLE
    std::string bigCount = base;
    putU16(bigCount, data + 2, 0xFFFF);  // first row claims 65535 bytes
    EXPECT_FALSE(parse(bigCount, error));
    std::string shortRow = base;
    putU16(shortRow, data + 2, 1);  // the row's bytes no longer decode to its width
    EXPECT_FALSE(parse(shortRow, error));
    std::string overrun = base;
    overrun[data + 2 + 8] = static_cast<char>(0x80 + 1);  // a run of 127 in a 4-byte row
    EXPECT_FALSE(parse(overrun, error));
    EXPECT_NE(error.find("RLE"), std::string::npos) << error;
  }
  for (auto compression : {PsdCompression::kZip, PsdCompression::kZipPrediction}) {
    o.compression = compression;
    const std::string base = test::makePsd(o, {layer});
    const size_t data = firstChannelData(base);
    std::string broken = base;
    broken[data + 2] = 0x12;  // not a zlib header
    EXPECT_FALSE(parse(broken, error));
    EXPECT_NE(error.find("ZIP"), std::string::npos) << error;
    std::string compression5 = base;
    putU16(compression5, data, 5);
    EXPECT_FALSE(parse(compression5, error));
    EXPECT_NE(error.find("compression 5"), std::string::npos) << error;
  }
}

// Each file the fuzzer found a fault with loads or is refused, cleanly.
TEST(Damaged, FuzzerFindingsAreHandled) {
  const std::string dir = std::string(KORVEX_SOURCE_DIR) + "/tests/psd/crashers";
  DIR* d = opendir(dir.c_str());
  if (!d) GTEST_SKIP() << "no crashers folder";
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string bytes = test::readFile(dir + "/" + name);
    Document doc;
    std::string error;
    if (parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), doc, error)) {
      Compositor compositor(doc);
      std::vector<const LayerRecord*> all;
      for (const LayerRecord& r : doc.layerRecords) all.push_back(&r);
      Box touched;
      compositor.composite(all, touched);
    }
    std::vector<uint32_t> merged;
    readMergedImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), merged, error);
  }
  closedir(d);
}

}  // namespace
}  // namespace korvex::psd
