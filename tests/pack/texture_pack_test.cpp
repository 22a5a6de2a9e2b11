#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "app/convert.h"
#include "config/settings.h"
#include "image/png.h"
#include "documents/prev_cell_map.h"
#include "pack/texture_pack.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace korvex {
namespace {

// A bitmap with the given data box; every pixel of the box opaque unless
// `fill` says otherwise.
struct Bitmap {
  std::vector<uint32_t> data;
  CellImage image;
};

std::unique_ptr<Bitmap> bitmap(int32_t width, int32_t height, int32_t boxLeft, int32_t boxTop,
                               int32_t boxWidth, int32_t boxHeight, uint32_t fill = 0xff102030u) {
  auto b = std::make_unique<Bitmap>();
  b->data.assign(static_cast<size_t>(boxWidth) * boxHeight, fill);
  b->image.pixels = b->data.empty() ? nullptr : b->data.data();
  b->image.stride = boxWidth * 4;
  b->image.width = width;
  b->image.height = height;
  b->image.boxLeft = boxLeft;
  b->image.boxTop = boxTop;
  b->image.boxWidth = boxWidth;
  b->image.boxHeight = boxHeight;
  return b;
}

std::string message(const char* label, ...) {
  testing::internal::CaptureStderr();
  std::va_list args;
  va_start(args, label);
  int a = va_arg(args, int), b = va_arg(args, int);
  va_end(args);
  printMessage(label, a, b);
  return testing::internal::GetCapturedStderr();
}

class TexturePackTest : public testing::Test {
 protected:
  void SetUp() override { loadMessageCatalogue(); }

  void add(int32_t w, int32_t h, const std::string& name) {
    bitmaps.push_back(bitmap(w, h, 0, 0, w, h));
    table.cellNames.push_back(name);
    table.cells.push_back(std::make_unique<CellImage>(bitmaps.back()->image));
  }

  // Packs the table; returns what the driver prints for it.
  std::string pack(bool& ok) {
    testing::internal::CaptureStderr();
    ok = report(packer.PackCells(packSettingsOf(settings), table, placeholderNames(prev), printLine));
    return testing::internal::GetCapturedStderr();
  }

  test::TempDir dir;
  ConversionSettings settings;
  CellTable table;
  PrevCellMap prev;
  VTTexturePack packer;
  std::vector<std::unique_ptr<Bitmap>> bitmaps;
};

TEST_F(TexturePackTest, TrimReadsOnlyTheStoredBoxOfACanvasSizedCell) {
  // A 300 x 200 group cell storing a 20 x 10 box at (50, 40), visible from
  // column 3 to 16 and rows 2 to 8 of the box.
  auto b = bitmap(300, 200, 50, 40, 20, 10, 0);
  for (int32_t y = 2; y < 9; ++y)
    for (int32_t x = 3; x < 17; ++x) b->data[static_cast<size_t>(y) * 20 + x] = 0x01000000u;
  packer.AddCell(&b->image, "g", kOrdinaryCell);
  const PackedCell& c = packer.cells.back();
  EXPECT_FALSE(c.empty);
  EXPECT_EQ(c.trimLeft, 53);
  EXPECT_EQ(c.trimTop, 42);
  EXPECT_EQ(c.width, 14);
  EXPECT_EQ(c.height, 7);
  EXPECT_EQ(c.imageWidth, 300);
  EXPECT_TRUE(c.packed);
}

TEST_F(TexturePackTest, SizeAdjustmentsParityAndPackUnit) {
  auto b = bitmap(5, 3, 0, 0, 5, 3);
  PackSettings margins;
  margins.spacing = 2;
  margins.packUnit = 1;
  packer.Configure(margins);
  packer.AddCell(&b->image, "a", kOrdinaryCell);
  EXPECT_EQ(packer.cells.back().paddedWidth, 6);
  EXPECT_EQ(packer.cells.back().paddedHeight, 4);
  EXPECT_EQ(packer.cells.back().trimRight, 5);  // the trimmed box stays as found
  EXPECT_EQ(packer.cells.back().width, 5);

  margins.packUnit = 4;
  packer.Configure(margins);
  packer.AddCell(&b->image, "b", kOrdinaryCell);
  EXPECT_EQ(packer.cells.back().paddedWidth, 6);   // 6 + 2 is already a multiple of 4
  EXPECT_EQ(packer.cells.back().paddedHeight, 6);  // 4 + 2 rounds up to 8

  auto empty = bitmap(0, 0, 0, 0, 0, 0);
  packer.AddCell(&empty->image, "+m", kMarkerCell);
  EXPECT_TRUE(packer.cells.back().empty);
  EXPECT_FALSE(packer.cells.back().packed);
  EXPECT_EQ(packer.cells.back().paddedWidth, 18);  // 16 + 2 = 18 rounds up to 20
  EXPECT_EQ(packer.cells.back().width, 16);

  packer.AddCell(nullptr, "none", kOrdinaryCell);
  EXPECT_TRUE(packer.cells.back().empty);
  EXPECT_EQ(packer.cells.back().imageWidth, 0);
}

TEST_F(TexturePackTest, StartSizeFollowsTheLargestCellAndTheArea) {
  settings.padding_border = 0;
  add(600, 100, "wide");
  bool ok = false;
  const std::string out = pack(ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, message("INFO_0001", 1024, 512) + message("INFO_0002", 0, 0));
  EXPECT_EQ(packer.textureWidth(), 1024);
  EXPECT_EQ(packer.textureHeight(), 512);
}

TEST_F(TexturePackTest, AreaAboveTheLargestTextureFailsWithoutAttempt) {
  for (int i = 0; i < 5; ++i) add(4000, 4000, "c" + std::to_string(i));
  bool ok = true;
  EXPECT_EQ(pack(ok), message("ERROR_0006", 0, 0));
  EXPECT_FALSE(ok);
  EXPECT_FALSE(test::fileExists(dir.file("atlas.png")));
}

TEST_F(TexturePackTest, OnlyHeightGivenGrowsTheWidth) {
  settings.texture_height = 2048;
  add(700, 10, "long");
  bool ok = false;
  EXPECT_EQ(pack(ok), message("INFO_0001", 512, 2048) + message("ERROR_0006", 0, 0) +
                          message("INFO_0001", 1024, 2048) + message("INFO_0002", 0, 0));
  EXPECT_TRUE(ok);
  EXPECT_EQ(packer.cells[0].packX, 4);
}

TEST_F(TexturePackTest, GivenSizesBelowTheCellsAreRefused) {
  settings.texture_width = 256;
  settings.texture_height = 256;
  add(300, 300, "big");
  bool ok = true;
  EXPECT_EQ(pack(ok), message("ERROR_0007", 0, 0) + message("ERROR_0008", 0, 0));
  EXPECT_FALSE(ok);
  settings.texture_height = 512;
  EXPECT_EQ(pack(ok), message("ERROR_0007", 0, 0));
  EXPECT_FALSE(ok);
}

TEST_F(TexturePackTest, FixedSizesThatDoNotFitFailAfterOneAttempt) {
  settings.texture_width = 64;
  settings.texture_height = 64;
  add(40, 40, "a");
  add(40, 40, "b");
  bool ok = true;
  EXPECT_EQ(pack(ok), message("ERROR_0006", 0, 0) + message("ERROT_0009", 0, 0));
  EXPECT_FALSE(ok);
  EXPECT_FALSE(test::fileExists(dir.file("atlas.png")));
}

TEST_F(TexturePackTest, ACellBelowTheBottomGrowsTheHeight) {
  // 512 wide given: two 300 x 300 cells stack, the second past 512 rows.
  settings.texture_width = 512;
  add(300, 300, "a");
  add(300, 300, "b");
  bool ok = false;
  EXPECT_EQ(pack(ok), message("INFO_0001", 512, 512) + message("ERROR_0006", 0, 0) +
                          message("INFO_0001", 512, 1024) + message("INFO_0002", 0, 0));
  EXPECT_TRUE(ok);
  EXPECT_EQ(packer.cells[1].packY, 4 + 300 + 2);
}

TEST_F(TexturePackTest, MarkersAndRootAreKeptButNeverPlaced) {
  add(10, 10, "+null");
  add(10, 10, "root");
  add(10, 10, "body");
  bool ok = false;
  pack(ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(packer.cells.size(), 3u);
  for (const PackedCell& c : packer.cells) {
    if (c.name == "body") {
      EXPECT_EQ(c.packX, 4);
      EXPECT_EQ(c.packRight, 14);
    } else {
      EXPECT_EQ(c.packX, 0);
      EXPECT_EQ(c.packY, 0);
      EXPECT_EQ(c.kind, c.name == "root" ? 3 : 2);
    }
  }
}

TEST_F(TexturePackTest, StableSortKeepsTableOrderOnEqualKeys) {
  settings.sortmode = kSortRectMax;
  settings.padding_border = 0;
  settings.texture_padding_shape = 0;
  for (const char* name : {"x", "b", "a", "c"}) add(8, 8, name);
  bool ok = false;
  pack(ok);
  ASSERT_TRUE(ok);
  std::vector<std::string> names;
  for (const PackedCell& c : packer.cells) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"x", "b", "a", "c"}));
  EXPECT_EQ(packer.cells[3].packX, 24);

  settings.sortmode = kSortByName;
  table.cellNames = {"n10", "n2", "n1", "N"};
  pack(ok);
  names.clear();
  for (const PackedCell& c : packer.cells) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"N", "n1", "n10", "n2"}));
}

TEST_F(TexturePackTest, NegativeOrHugeSettingsAreRefusedBeforePacking) {
  add(10, 10, "a");
  settings.inner_padding = -1;
  bool ok = true;
  EXPECT_EQ(pack(ok), "error: inner_padding must not be negative (-1)\n");
  EXPECT_FALSE(ok);
  settings.inner_padding = 0;
  settings.texture_width = 100000;
  EXPECT_EQ(pack(ok), "error: texture_width must not exceed 16384 (100000)\n");
  EXPECT_FALSE(ok);
}

TEST_F(TexturePackTest, PlaceholdersForPreviousCellsArePackedAsEmptyBoxes) {
  add(10, 10, "a");
  PackedCell old;
  old.kind = kPlaceholderCell;
  old.name = "gone";
  prev.prevPackedCells.push_back(old);
  old.kind = kOrdinaryCell;
  old.name = "a";
  prev.prevPackedCells.push_back(old);
  bool ok = false;
  pack(ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(packer.cells.size(), 2u);
  const PackedCell& gone = packer.cells[0].name == "gone" ? packer.cells[0] : packer.cells[1];
  EXPECT_EQ(gone.name, "gone");
  EXPECT_EQ(gone.kind, 1);
  EXPECT_TRUE(gone.empty);
  EXPECT_EQ(gone.packRight - gone.packX, 16);
  EXPECT_EQ(std::count_if(packer.cells.begin(), packer.cells.end(),
                          [](const PackedCell& c) { return c.kind == kPlaceholderCell; }),
            1);
}

// Blit with inner padding reaching outside the image and the box, and the
// final rectangles: the atlas holds the cell at packX + innerPadding.
TEST_F(TexturePackTest, CopiesTheVisiblePixelsInsideThePaddedRectangle) {
  settings.inner_padding = 3;
  settings.padding_border = 2;
  auto b = bitmap(10, 10, 2, 2, 6, 6, 0);
  b->data[0] = 0xff0000ffu;             // (2, 2)
  b->data[35] = 0x80ff0000u;            // (7, 7)
  b->data[7] = 0x00123456u;             // transparent: copied as 0
  table.cellNames.push_back("c");
  table.cells.push_back(std::make_unique<CellImage>(b->image));
  bool ok = false;
  pack(ok);
  ASSERT_TRUE(ok);
  const PackedCell& c = packer.cells[0];
  EXPECT_EQ(c.packX, 2);
  EXPECT_EQ(c.packRight, 2 + 6 + 6);
  EXPECT_EQ(c.trimRight, 8);
  const int32_t w = packer.textureWidth();
  auto at = [&](int32_t x, int32_t y) { return packer.atlas()[static_cast<size_t>(y) * w + x]; };
  EXPECT_EQ(at(5, 5), 0xff0000ffu);
  EXPECT_EQ(at(10, 10), 0x80ff0000u);
  EXPECT_EQ(at(6, 5), 0x000000ffu);  // bled from the left
  EXPECT_EQ(at(10, 9), 0x00ff0000u); // bled from below
  EXPECT_EQ(at(6, 6), 0u);
}

// The bleed written out plainly: a copy with a zero margin, four passes.
std::vector<uint32_t> atlasOf(const VTTexturePack& p) {
  return std::vector<uint32_t>(p.atlas(), p.atlas() + static_cast<size_t>(p.textureWidth()) * p.textureHeight());
}

std::vector<uint32_t> referenceBleed(const std::vector<uint32_t>& atlas, int32_t w, int32_t h) {
  std::vector<uint32_t> ref(static_cast<size_t>(w + 2) * (h + 2), 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      ref[static_cast<size_t>(y + 1) * (w + 2) + x + 1] = atlas[static_cast<size_t>(y) * w + x];
  auto r = [&](int32_t x, int32_t y) { return ref[static_cast<size_t>(y + 1) * (w + 2) + x + 1]; };
  std::vector<uint32_t> out = atlas;
  const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
  for (int pass = 0; pass < 4; ++pass)
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        if (r(x, y) < 0x01000000u || r(x + dx[pass], y + dy[pass]) >= 0x01000000u) continue;
        const int32_t tx = x + dx[pass], ty = y + dy[pass];
        if (tx >= 0 && tx < w && ty >= 0 && ty < h)
          out[static_cast<size_t>(ty) * w + tx] = r(x, y) & 0x00ffffffu;
      }
  return out;
}

TEST_F(TexturePackTest, BleedMatchesFourPassesOverACopy) {
  std::mt19937 rng(7);
  for (int round = 0; round < 200; ++round) {
    VTTexturePack p;
    const int32_t w = 1 + static_cast<int32_t>(rng() % 24), h = 1 + static_cast<int32_t>(rng() % 24);
    p.SetTextureSize(w, h);
    auto b = bitmap(w, h, 0, 0, w, h, 0);
    for (auto& px : b->data) px = (rng() % 3 == 0) ? (rng() | 0x01000000u) : 0u;
    const int32_t x0 = static_cast<int32_t>(rng() % w), y0 = static_cast<int32_t>(rng() % h);
    p.Blit(b->image, x0, y0, w, h, x0, y0);
    const auto expected = referenceBleed(atlasOf(p), w, h);
    p.BleedEdges();
    ASSERT_EQ(atlasOf(p), expected) << round;
  }
}

TEST_F(TexturePackTest, NewTextureSizeStartsFromZeros) {
  VTTexturePack p;
  auto b = bitmap(6, 6, 0, 0, 6, 6);
  for (auto [w, h] : {std::pair{20, 10}, std::pair{40, 30}, std::pair{12, 12}, std::pair{12, 12}}) {
    ASSERT_TRUE(p.SetTextureSize(w, h));
    ASSERT_EQ(atlasOf(p), std::vector<uint32_t>(static_cast<size_t>(w) * h, 0u)) << w << "x" << h;
    p.Blit(b->image, 0, 0, 6, 6, w - 7, h - 7);
    p.BleedEdges();
  }
  // No memory for the atlas: no atlas at all, and the next size works.
  EXPECT_FALSE(p.SetTextureSize(INT32_MAX, INT32_MAX));
  EXPECT_EQ(p.atlas(), nullptr);
  EXPECT_EQ(p.textureWidth(), 0);
  ASSERT_TRUE(p.SetTextureSize(8, 8));
  EXPECT_EQ(atlasOf(p), std::vector<uint32_t>(64, 0u));
}

}  // namespace
}  // namespace korvex
