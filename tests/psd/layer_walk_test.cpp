// The layer walk on PSDs built by the test writer: which records become
// cells, in which order, under which names, with which pixels.
#include "psd/layer_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/cell_pixels.h"
#include "support/psd_writer.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {
namespace {

using test::PsdOptions;
using test::PsdRecord;
using test::PsdRecordKind;

constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kBlue = 0xFF0000FFu;

struct Walk {
  Status status;
  CellTable table;
  std::string printed;  // the walk's lines, each with its line end
};

Walk walk(const std::vector<PsdRecord>& records, int32_t width = 32, int32_t height = 24) {
  test::TempDir dir;
  PsdOptions options;
  options.width = width;
  options.height = height;
  const std::string path = dir.file("walk.psd");
  Walk result;
  if (!test::writePsd(path, options, records)) {
    ADD_FAILURE() << "cannot write " << path;
    return result;
  }
  result.status = extractPsdCells(path, result.table, [&](const std::string& line) { result.printed += line + "\n"; });
  return result;
}

PsdRecord hidden(PsdRecord record) {
  record.hidden = true;
  return record;
}

PsdRecord background(int32_t width, int32_t height) {
  PsdRecord record = test::solidLayer("Background", 0, 0, width, height, 0xFFFFFFFFu);
  record.transparency = false;
  return record;
}

PsdRecord groupHeader(const std::string& name) {
  PsdRecord record;
  record.kind = PsdRecordKind::kGroupHeader;
  record.name = name;
  record.blendMode = "pass";
  return record;
}

PsdRecord divider() {
  PsdRecord record;
  record.kind = PsdRecordKind::kDivider;
  return record;
}

PsdRecord solidFill(uint32_t rgb) {
  PsdRecord record;
  record.kind = PsdRecordKind::kSolidFill;
  record.name = "Fill";
  record.fillColor = rgb;
  return record;
}

// Every pixel of a group cell, compared with the expected canvas.
void expectCanvas(const CellImage& cell, const std::vector<uint32_t>& expected) {
  for (int32_t y = 0; y < cell.height; ++y)
    for (int32_t x = 0; x < cell.width; ++x) {
      const uint32_t want = expected[static_cast<size_t>(y) * cell.width + x];
      const uint32_t got = test::pixelAt(cell, x, y);
      // Transparent pixels only need to be transparent.
      if (want < 0x01000000u) ASSERT_LT(got, 0x01000000u) << x << "," << y;
      else ASSERT_EQ(got, want) << x << "," << y;
    }
}

void paint(std::vector<uint32_t>& canvas, int32_t canvasWidth, int32_t left, int32_t top, int32_t width,
           int32_t height, uint32_t argb) {
  for (int32_t y = top; y < top + height; ++y)
    for (int32_t x = left; x < left + width; ++x) canvas[static_cast<size_t>(y) * canvasWidth + x] = argb;
}

TEST(LayerWalk, TopLevelLayersComeOutTopmostFirstWithDotsReplaced) {
  const Walk w = walk({test::solidLayer("bottom", 1, 2, 3, 4, kRed),
                       test::solidLayer("arm.left", -5, -3, 8, 6, kGreen),
                       test::solidLayer("a..b", 30, 20, 10, 10, kBlue)});
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (bottom)\n read (arm.left)\n read (a..b)\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"a__b", "arm_left", "bottom"}));
  ASSERT_EQ(w.table.cells.size(), 3u);

  // A layer keeps its whole bitmap and position, on the canvas or not.
  const CellImage& top = *w.table.cells[0];
  EXPECT_EQ(top.canvasX, 30);
  EXPECT_EQ(top.canvasY, 20);
  EXPECT_EQ(top.width, 10);
  EXPECT_EQ(top.height, 10);
  const CellImage& offCanvas = *w.table.cells[1];
  EXPECT_EQ(offCanvas.canvasX, -5);
  EXPECT_EQ(offCanvas.canvasY, -3);
  EXPECT_EQ(offCanvas.width, 8);
  EXPECT_EQ(offCanvas.height, 6);
  EXPECT_EQ(offCanvas.stride, 32);
  EXPECT_EQ(test::pixelAt(offCanvas, 0, 0), kGreen);
  EXPECT_EQ(test::pixelAt(offCanvas, 7, 5), kGreen);
  const CellImage& bottom = *w.table.cells[2];
  EXPECT_EQ(bottom.canvasX, 1);
  EXPECT_EQ(bottom.canvasY, 2);
  EXPECT_EQ(bottom.boxWidth, 3);
  EXPECT_EQ(bottom.boxHeight, 4);
  EXPECT_EQ(test::pixelAt(bottom, 2, 3), kRed);
  EXPECT_EQ(bottom.priority, 0);
  EXPECT_EQ(w.table.canvasHalfWidth, 16);
  EXPECT_EQ(w.table.canvasHalfHeight, 12);
}

TEST(LayerWalk, HiddenAtSignAndBackgroundLayersMakeNoCells) {
  const Walk w = walk({background(32, 24), hidden(test::solidLayer("gone", 0, 0, 2, 2, kRed)),
                       test::solidLayer("a@b", 0, 0, 2, 2, kRed), test::solidLayer("kept", 0, 0, 2, 2, kBlue)});
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " skip (gone)\n skip (a@b)\n read (kept)\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"kept"}));

  const Walk onlyBackground = walk({background(32, 24)});
  ASSERT_TRUE(onlyBackground.status);
  EXPECT_EQ(onlyBackground.printed, "");
  EXPECT_EQ(onlyBackground.table.cellCount(), 0);
}

TEST(LayerWalk, EmptyLayerGivesEmptyCell) {
  PsdRecord empty;
  empty.name = "nothing";
  const Walk w = walk({empty});
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (nothing)\n");
  ASSERT_EQ(w.table.cellCount(), 1);
  const CellImage& cell = *w.table.cells[0];
  EXPECT_EQ(cell.width, 0);
  EXPECT_EQ(cell.height, 0);
  EXPECT_EQ(cell.pixels, nullptr);
  EXPECT_EQ(cell.boxWidth, 0);
}

TEST(LayerWalk, GroupIsOneWholeCanvasCellOfItsVisibleContents) {
  std::vector<PsdRecord> inner = test::group("inner.group", {test::solidLayer("in.ner", 10, 2, 3, 3, kGreen)});
  std::vector<PsdRecord> hiddenInner =
      test::group("shy", {test::solidLayer("shy layer", 20, 2, 3, 3, kBlue)}, /*hidden=*/true);
  std::vector<PsdRecord> children{background(4, 4), test::solidLayer("a@b", 0, 10, 2, 2, kBlue),
                                  hidden(test::solidLayer("hid", 5, 5, 4, 4, kRed))};
  test::append(children, inner);
  test::append(children, hiddenInner);
  children.push_back(test::solidLayer("over", 3, 3, 2, 2, kRed));
  std::vector<PsdRecord> records = test::group("outer.g", children);
  records.push_back(test::solidLayer("top", 0, 0, 1, 1, kRed));

  const Walk w = walk(records);
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (outer.g)\n read (top)\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"top", "outer_g"}));
  const CellImage& cell = *w.table.cells[1];
  EXPECT_EQ(cell.canvasX, 0);
  EXPECT_EQ(cell.canvasY, 0);
  EXPECT_EQ(cell.width, 32);
  EXPECT_EQ(cell.height, 24);

  std::vector<uint32_t> expected(32 * 24, 0);
  paint(expected, 32, 0, 0, 4, 4, 0xFFFFFFFFu);  // the background layer inside the group
  paint(expected, 32, 0, 10, 2, 2, kBlue);       // "@" inside a group is no reason to leave it out
  paint(expected, 32, 10, 2, 3, 3, kGreen);      // the visible nested group
  paint(expected, 32, 3, 3, 2, 2, kRed);
  expectCanvas(cell, expected);
  // Only the visible bounding box is stored.
  EXPECT_EQ(cell.boxLeft, 0);
  EXPECT_EQ(cell.boxTop, 0);
  EXPECT_EQ(cell.boxWidth, 13);
  EXPECT_EQ(cell.boxHeight, 12);
}

TEST(LayerWalk, EachGroupKeepsOnlyItsOwnPixels) {
  std::vector<PsdRecord> records = test::group("first", {test::solidLayer("a", 0, 0, 6, 6, kRed)});
  // Soft edge: the outer ring of this layer is fully transparent.
  PsdRecord soft = test::solidLayer("b", 20, 10, 5, 4, 0x00123456u);
  for (int32_t y = 1; y < 3; ++y)
    for (int32_t x = 1; x < 4; ++x) soft.pixels[static_cast<size_t>(y) * 5 + x] = kGreen;
  test::append(records, test::group("second", {soft}));

  const Walk w = walk(records);
  ASSERT_TRUE(w.status) << w.status.reason();
  ASSERT_EQ(w.table.cellCount(), 2);
  const CellImage& second = *w.table.cells[0];
  EXPECT_EQ(second.boxLeft, 21);
  EXPECT_EQ(second.boxTop, 11);
  EXPECT_EQ(second.boxWidth, 3);
  EXPECT_EQ(second.boxHeight, 2);
  EXPECT_EQ(second.stride, 12);
  std::vector<uint32_t> expected(32 * 24, 0);
  paint(expected, 32, 21, 11, 3, 2, kGreen);
  expectCanvas(second, expected);
  EXPECT_EQ(w.table.cells[1]->boxWidth, 6);
}

TEST(LayerWalk, HiddenEmptyAndAllHiddenGroups) {
  std::vector<PsdRecord> records = test::group("veiled", {test::solidLayer("x", 0, 0, 2, 2, kRed)}, true);
  test::append(records, test::group("empty", {}));
  test::append(records, test::group("ghosts", {hidden(test::solidLayer("g", 0, 0, 2, 2, kRed))}));
  test::append(records, test::group("mail@", {test::solidLayer("y", 0, 0, 2, 2, kRed)}));

  const Walk w = walk(records);
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " skip (veiled)\n read (empty)\n read (ghosts)\n skip (mail@)\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"ghosts", "empty"}));
  for (const auto& cell : w.table.cells) {
    EXPECT_EQ(cell->width, 32);
    EXPECT_EQ(cell->height, 24);
    EXPECT_EQ(cell->pixels, nullptr);
    EXPECT_EQ(cell->boxWidth, 0);
    EXPECT_EQ(test::pixelAt(*cell, 0, 0), 0u);
  }
}

TEST(LayerWalk, FillLayersJoinTheNextGroupOrAreDropped) {
  // A fill layer below a group (with a layer in between) joins the group;
  // one above every group is dropped silently.
  std::vector<PsdRecord> records{solidFill(0x102030), test::solidLayer("solo", 0, 0, 1, 1, kRed)};
  test::append(records, test::group("g", {test::solidLayer("in", 2, 2, 2, 2, kBlue)}));
  records.push_back(solidFill(0x405060));

  const Walk w = walk(records);
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (solo)\n read (g)\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"g", "solo"}));
  std::vector<uint32_t> expected(32 * 24, 0xFF102030u);
  paint(expected, 32, 2, 2, 2, 2, kBlue);
  expectCanvas(*w.table.cells[0], expected);
}

TEST(LayerWalk, DamagedFeatureBlocksAreNamedAndTheRestDraws) {
  // In one group: a fill layer whose path block is cut short (not drawn:
  // its fill would flood the canvas), a layer whose mask parameters are
  // cut short (drawn with its plain mask), and a layer with a damaged
  // effects block (drawn without effects).
  PsdRecord shape = solidFill(0x405060);
  shape.name = "shape";
  shape.blocks = {{"vmsk", std::string("\0\0\0\3\0\0\0\0\0\0\0\1", 12)}};
  PsdRecord masked = test::solidLayer("masked", 0, 0, 2, 1, kRed);
  masked.hasMask = true;
  masked.mask.width = 1;
  masked.mask.height = 1;
  masked.mask.pixels = {255};
  masked.mask.parameters = std::string("\x02\x40", 2);
  PsdRecord styled = test::solidLayer("styled", 0, 1, 1, 1, kBlue);
  styled.blocks = {{"lfx2", std::string("\0\0\0\1", 4)}};
  std::vector<PsdRecord> records = test::group("g", {shape, masked, styled});

  const Walk w = walk(records, 2, 2);
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed,
            "warning: layer \"shape\" is not drawn: vector mask: path record cut short (path record at byte 8 of "
            "the block) at offset 356\n"
            "warning: layer \"masked\" is drawn without its mask density and feather (the parameters run past "
            "the mask data)\n"
            "warning: layer \"styled\" is drawn without some of its effects: layer effects: version 1 is not 0\n"
            " read (g)\n");
  expectCanvas(*w.table.cells[0], {kRed, 0, kBlue, 0});
}

TEST(LayerWalk, HeaderWithoutDividerDropsTheDepthBelowZero) {
  // A damaged file: a header met at depth 0 takes the depth to -1, the next
  // divider only brings it back to 0, and neither header makes a cell.
  const Walk w = walk({test::solidLayer("A", 0, 0, 1, 1, kRed), groupHeader("H1"), divider(),
                       test::solidLayer("B", 0, 0, 1, 1, kRed), groupHeader("H2"),
                       test::solidLayer("C", 0, 0, 1, 1, kRed)});
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (A)\n read (B)\n read (C)\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"C", "B", "A"}));
}

TEST(LayerWalk, LayerSetDividerAlsoOpensAGroup) {
  std::vector<PsdRecord> records = test::group("old", {test::solidLayer("in", 0, 0, 1, 1, kRed)});
  records.front().dividerName = "</Layer set>";
  const Walk w = walk(records);
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (old)\n");
}

TEST(LayerWalk, ShiftJisNamesAreConvertedForCellsAndConsole) {
  const std::string raw = "\x83\x41.\x83\x43";  // katakana A, ".", katakana I
  const Walk w = walk({test::solidLayer(raw, 0, 0, 1, 1, kRed)});
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.printed, " read (" + sjisToConsole(raw) + ")\n");
  EXPECT_EQ(w.table.cellNames, (std::vector<std::string>{"\xE3\x82\xA2_\xE3\x82\xA4"}));
}

TEST(LayerWalk, OddCanvasHalvesRoundDown) {
  const Walk w = walk({}, 101, 51);
  ASSERT_TRUE(w.status) << w.status.reason();
  EXPECT_EQ(w.table.canvasHalfWidth, 50);
  EXPECT_EQ(w.table.canvasHalfHeight, 25);
  EXPECT_EQ(w.table.cellCount(), 0);
}

TEST(LayerWalk, AtMostTheTableCapacity) {
  std::vector<PsdRecord> records;
  for (int i = 0; i < kMaxCells; ++i) records.push_back(test::solidLayer("l" + std::to_string(i), 0, 0, 1, 1, kRed));
  const Walk full = walk(records);
  ASSERT_TRUE(full.status) << full.status.reason();
  EXPECT_EQ(full.table.cellCount(), kMaxCells);
  EXPECT_EQ(full.table.cellNames.front(), "l1023");

  // The 1025th cell, here a group, stops the walk and leaves the table empty.
  test::append(records, test::group("extra", {test::solidLayer("x", 0, 0, 1, 1, kRed)}));
  const Walk over = walk(records);
  EXPECT_EQ(over.status.code(), Status::Code::kLimit);
  EXPECT_EQ(over.table.cellCount(), 0);
  EXPECT_TRUE(over.table.cells.empty());
  EXPECT_NE(over.status.message().find("more than 1024"), std::string::npos);
  // The read lines up to the failure came out before it.
  EXPECT_NE(over.printed.find(" read (l0)\n"), std::string::npos);
}

TEST(LayerWalk, UnreadableDocumentLeavesTheTableAlone) {
  test::TempDir dir;
  test::writeFile(dir.file("bad.psd"), "8BPX not a document");
  CellTable table;
  std::vector<std::string> lines;
  const LineSink sink = [&](const std::string& line) { lines.push_back(line); };
  loadMessageCatalogue();
  for (const std::string name : {"bad.psd", "missing.psd"}) {
    const Status status = extractPsdCells(dir.file(name), table, sink);
    EXPECT_FALSE(status);
    EXPECT_EQ(status.message(), formatMessage("ERROR_0003", dir.file(name).c_str()) + "\n");
    EXPECT_NE(status.reason().find(dir.file(name)), std::string::npos) << status.reason();
  }
  EXPECT_EQ(table.cellCount(), 0);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
}  // namespace korvex
