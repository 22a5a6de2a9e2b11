#include "documents/prev_cell_map.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/cell_image.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

using test::TempDir;

std::string cellXml(const std::string& name, const std::string& pos, const std::string& size = "16 16",
                    const std::string& pivot = "0.000000 0.000000", const std::string& extra = "") {
  return "<cell><name>" + name + "</name><pos>" + pos + "</pos><size>" + size + "</size><pivot>" +
         pivot + "</pivot><rotated>0</rotated><orgImageName></orgImageName><posStable>0</posStable>" +
         extra + "</cell>";
}

std::string mapXml(const std::string& cells) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n"
         "<VantrelCellMap version=\"2.00.00\">\r\n    <name>art</name>\r\n    <cells>" +
         cells + "</cells>\r\n</VantrelCellMap>\r\n";
}

class PrevCellMapTest : public ::testing::Test {
 protected:
  // Imports `xml` written to a file; returns the import's result, its
  // lines in `lines`.
  Status import(const std::string& xml, const std::vector<std::string>& names = {}) {
    test::writeFile(path(), xml);
    lines.clear();
    return ImportPrevCellMap(path(), names, prev, [this](const std::string& line) { lines.push_back(line); });
  }
  std::string path() const { return dir.file("art.vtce"); }

  TempDir dir;
  PrevCellMap prev;
  std::vector<std::string> lines;
};

TEST_F(PrevCellMapTest, MissingOrMalformedDocumentImportsNothing) {
  // No file is the usual first run: nothing to say.
  EXPECT_TRUE(ImportPrevCellMap(dir.file("none.vtce"), {}, prev,
                                [this](const std::string& line) { lines.push_back(line); }));
  EXPECT_TRUE(lines.empty());
  EXPECT_FALSE(prev.hasPrevCellMap);
  EXPECT_EQ(prev.prevCellCount, 0);

  for (const std::string& bad : {std::string("not xml at all"), std::string(""),
                                mapXml(cellXml("a", "0 0")).substr(0, 120),
                                std::string("<VantrelCellMap><cells></VantrelCellMap>")}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(import(bad, {"a"}));
    // The map that is there but unreadable is named, with tinyxml2's error.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("warning: the previous cell map " + path() + " could not be read (XML_ERROR_", 0), 0u)
        << lines[0];
    EXPECT_TRUE(endsWith(lines[0], "); no pivot or mesh is carried over")) << lines[0];
    EXPECT_FALSE(prev.hasPrevCellMap);
    EXPECT_EQ(prev.prevCellCount, 0);
    EXPECT_TRUE(prev.prevCells.empty());
    EXPECT_TRUE(prev.prevPackedCells.empty());
  }
}

TEST_F(PrevCellMapTest, LoadedDocumentWithoutCellsImportsNoCells) {
  for (const std::string& xml :
       {std::string("<OtherRoot><cells>") + cellXml("a", "0 0") + "</cells></OtherRoot>",
        std::string("<VantrelCellMap><name>x</name></VantrelCellMap>"),
        std::string("<VantrelCellMap><cells><notacell/></cells></VantrelCellMap>")}) {
    SCOPED_TRACE(xml);
    EXPECT_TRUE(import(xml, {"a"}));
    EXPECT_TRUE(prev.hasPrevCellMap);
    EXPECT_EQ(prev.prevCellCount, 0);
    EXPECT_TRUE(prev.prevPackedCells.empty());
  }
}

TEST_F(PrevCellMapTest, ReadsNamePivotPositionAndMeshCentredOnTheCell) {
  const std::string mesh =
      "<ismesh>1</ismesh><divtype>boxdiv</divtype><divw>2</divw><divh>3</divh>"
      "<innerPoint><value>10 20</value><value>0 0</value></innerPoint>"
      "<outerPoint><value>40 30</value></outerPoint>"
      "<meshPointList><value>2.5 -1.25</value><value>7</value></meshPointList>"
      "<meshTriList><value>0 1 2</value><value>3 4</value></meshTriList>";
  ASSERT_TRUE(import(mapXml(cellXml("b&amp;ody", "12 -40", "40 30", "0.250000 -0.125000", mesh)),
                     {"b&ody"}));
  ASSERT_TRUE(prev.hasPrevCellMap);
  ASSERT_EQ(prev.prevCellCount, 1);
  ASSERT_EQ(prev.prevCells.size(), 1u);
  ASSERT_EQ(prev.prevCellRecords.size(), 1u);
  ASSERT_EQ(prev.prevPackedCells.size(), 1u);

  const PrevCellEntry& entry = prev.prevCells[0];
  EXPECT_EQ(entry.name, "b&ody");
  EXPECT_FLOAT_EQ(entry.pivotX, 0.25f);
  EXPECT_FLOAT_EQ(entry.pivotY, -0.125f);
  EXPECT_FALSE(entry.used);

  const PrevCellRecord& record = prev.prevCellRecords[0];
  EXPECT_EQ(record.name, "b&ody");
  EXPECT_EQ(record.ismesh, "1");
  EXPECT_EQ(record.divtype, "boxdiv");
  EXPECT_EQ(record.divw, "2");
  EXPECT_EQ(record.divh, "3");
  EXPECT_FALSE(record.resized);
  // x' = 2x - w, y' = 2y - h for the 40 x 30 cell.
  ASSERT_EQ(record.innerPoints.size(), 2u);
  EXPECT_DOUBLE_EQ(record.innerPoints[0].x, -20.0);
  EXPECT_DOUBLE_EQ(record.innerPoints[0].y, 10.0);
  EXPECT_DOUBLE_EQ(record.innerPoints[1].x, -40.0);
  EXPECT_DOUBLE_EQ(record.innerPoints[1].y, -30.0);
  ASSERT_EQ(record.outerPoints.size(), 1u);
  EXPECT_DOUBLE_EQ(record.outerPoints[0].x, 40.0);
  EXPECT_DOUBLE_EQ(record.outerPoints[0].y, 30.0);
  ASSERT_EQ(record.meshPoints.size(), 2u);
  EXPECT_DOUBLE_EQ(record.meshPoints[0].x, -35.0);
  EXPECT_DOUBLE_EQ(record.meshPoints[0].y, -32.5);
  // Without a space both coordinates come from the whole text.
  EXPECT_DOUBLE_EQ(record.meshPoints[1].x, -26.0);
  EXPECT_DOUBLE_EQ(record.meshPoints[1].y, -16.0);
  // Triangles are indices, not converted; a missing part repeats the last.
  ASSERT_EQ(record.meshTriangles.size(), 2u);
  EXPECT_EQ(record.meshTriangles[0], (std::array<int32_t, 3>{0, 1, 2}));
  EXPECT_EQ(record.meshTriangles[1], (std::array<int32_t, 3>{3, 4, 4}));

  const PackedCell& packed = prev.prevPackedCells[0];
  EXPECT_EQ(packed.name, "b&ody");
  EXPECT_EQ(packed.packX, 12);
  EXPECT_EQ(packed.packY, -40);
  EXPECT_EQ(packed.kind, 0);
}

TEST_F(PrevCellMapTest, CellWithoutMeshHasEmptyMeshTexts) {
  ASSERT_TRUE(import(mapXml(cellXml("a", "0 0", "8 8", "0 0", "<ismesh></ismesh><divtype/>"))));
  const PrevCellRecord& record = prev.prevCellRecords.at(0);
  EXPECT_EQ(record.ismesh, "");
  EXPECT_EQ(record.divtype, "");
  EXPECT_EQ(record.divw, "");
  EXPECT_TRUE(record.innerPoints.empty());
  EXPECT_TRUE(record.meshTriangles.empty());
}

TEST_F(PrevCellMapTest, UnreadablePivotAndPositionPartsReadAsZero) {
  ASSERT_TRUE(import(mapXml(cellXml("one", "7", "8 8", "0.5") +         // no space: both from the text
                            cellXml("two", "x 3", "8 8", "abc 1.5") +
                            cellXml("three", "  4  x", "8 8", "inf nan") +
                            cellXml("four", "99999999999 2", "8 8", "1e999 -2") +
                            "<cell><name>five</name><size>8 8</size></cell>" +
                            cellXml("six", "3 3", "8 8", "", "<innerPoint><value>1e308 x</value></innerPoint>"))));
  ASSERT_EQ(prev.prevCellCount, 6);
  const auto& cells = prev.prevCells;
  const auto& packed = prev.prevPackedCells;
  EXPECT_FLOAT_EQ(cells[0].pivotX, 0.5f);
  EXPECT_FLOAT_EQ(cells[0].pivotY, 0.5f);
  EXPECT_EQ(packed[0].packX, 7);
  EXPECT_EQ(packed[0].packY, 7);
  EXPECT_FLOAT_EQ(cells[1].pivotX, 0.0f);
  EXPECT_FLOAT_EQ(cells[1].pivotY, 1.5f);
  EXPECT_EQ(packed[1].packX, 0);
  EXPECT_EQ(packed[1].packY, 3);
  // Not finite reads as 0 too.
  EXPECT_FLOAT_EQ(cells[2].pivotX, 0.0f);
  EXPECT_FLOAT_EQ(cells[2].pivotY, 0.0f);
  // The text is split at its very first space.
  EXPECT_EQ(packed[2].packX, 0);
  EXPECT_EQ(packed[2].packY, 4);
  EXPECT_FLOAT_EQ(cells[3].pivotX, 0.0f);
  EXPECT_FLOAT_EQ(cells[3].pivotY, -2.0f);
  EXPECT_EQ(packed[3].packX, 0);
  EXPECT_EQ(packed[3].packY, 2);
  EXPECT_EQ(cells[4].name, "five");
  EXPECT_FLOAT_EQ(cells[4].pivotX, 0.0f);
  EXPECT_EQ(packed[4].packX, 0);
  // A coordinate whose centred value overflows reads as 0: 2*0 - 8.
  ASSERT_EQ(prev.prevCellRecords[5].innerPoints.size(), 1u);
  EXPECT_DOUBLE_EQ(prev.prevCellRecords[5].innerPoints[0].x, -8.0);
  EXPECT_DOUBLE_EQ(prev.prevCellRecords[5].innerPoints[0].y, -8.0);
}

TEST_F(PrevCellMapTest, SizeIsReadAsStrictDecimalIntegers) {
  ASSERT_TRUE(import(mapXml(cellXml("a", "0 0", "\t+40x  -30px", "0 0",
                                    "<innerPoint><value>0 0</value></innerPoint>") +
                            cellXml("b", "1 1", "12", "0 0", "<innerPoint><value>0 0</value></innerPoint>"))));
  EXPECT_DOUBLE_EQ(prev.prevCellRecords[0].innerPoints[0].x, -40.0);
  EXPECT_DOUBLE_EQ(prev.prevCellRecords[0].innerPoints[0].y, 30.0);
  // Without a space both sizes come from the whole text.
  EXPECT_DOUBLE_EQ(prev.prevCellRecords[1].innerPoints[0].x, -12.0);
  EXPECT_DOUBLE_EQ(prev.prevCellRecords[1].innerPoints[0].y, -12.0);
}

TEST_F(PrevCellMapTest, UnreadableSizeRefusesTheWholeMap) {
  const std::string good = cellXml("good", "0 0", "8 8", "0.5 0.5");
  for (const std::string& bad :
       {std::string("<cell><name>bad</name><pos>1 1</pos><pivot>0 0</pivot></cell>"),
        cellXml("bad", "1 1", ""), cellXml("bad", "1 1", "abc 3"), cellXml("bad", "1 1", "40 "),
        cellXml("bad", "1 1", "40 - 3"), cellXml("bad", "1 1", "2147483648 3"),
        cellXml("bad", "1 1", "3 -2147483649"), cellXml("bad", "1 1", "99999999999999999999999 1")}) {
    SCOPED_TRACE(bad);
    prev.hasPrevCellMap = true;
    prev.prevCellCount = 3;
    prev.prevCells.resize(3);
    const Status status = import(mapXml(good + bad), {"good"});
    EXPECT_FALSE(status);
    EXPECT_EQ(status.message(), "error: the previous cell map " + path() +
                                    " has a cell without a valid size (bad); its meshes cannot be carried over\n");
    // The reason says where: the cell's line (the map's cells are on line 4).
    EXPECT_EQ(status.reason().rfind(path() + ": in the cell at line 4, ", 0), 0u) << status.reason();
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(prev.hasPrevCellMap);
    EXPECT_EQ(prev.prevCellCount, 0);
    EXPECT_TRUE(prev.prevCells.empty());
    EXPECT_TRUE(prev.prevCellRecords.empty());
    EXPECT_TRUE(prev.prevPackedCells.empty());
  }
  // The extreme values themselves are fine.
  EXPECT_TRUE(import(mapXml(cellXml("edge", "0 0", "2147483647 -2147483648"))));
  EXPECT_EQ(prev.prevCellCount, 1);
}

TEST_F(PrevCellMapTest, KindsFollowNamesAndSharedPositions) {
  // a and b present; c vanished; x and y share a position and both vanished;
  // p and q share a position and q is present.
  ASSERT_TRUE(import(mapXml(cellXml("a", "0 0") + cellXml("c", "20 0") + cellXml("x", "40 0") +
                            cellXml("y", "40 0") + cellXml("p", "60 0") + cellXml("q", "60 0") +
                            cellXml("b", "80 0")),
                     {"b", "a", "q", "new"}));
  ASSERT_EQ(prev.prevCellCount, 7);
  const auto& old = prev.prevPackedCells;
  EXPECT_EQ(old[0].kind, 0);  // a
  EXPECT_EQ(old[1].kind, 1);  // c: placeholder needed
  EXPECT_EQ(old[2].kind, 1);  // x
  EXPECT_EQ(old[3].kind, 4);  // y: alias of x
  EXPECT_EQ(old[4].kind, 1);  // p
  EXPECT_EQ(old[5].kind, 0);  // q: present, so no alias
  EXPECT_EQ(old[6].kind, 0);  // b
  EXPECT_EQ(old[2].aliasNames, std::vector<std::string>{"y"});
  EXPECT_TRUE(old[4].aliasNames.empty());
  for (size_t i : {0, 1, 3, 5, 6}) EXPECT_TRUE(old[i].aliasNames.empty()) << i;
}

TEST_F(PrevCellMapTest, AliasesGoToTheFirstCellAtTheirPositionOnly) {
  // a, b, c and d share a position; a and b are present, c and d vanished.
  // c and d are listed once, under a, so that neither is written twice.
  ASSERT_TRUE(import(mapXml(cellXml("a", "5 5") + cellXml("c", "5 5") + cellXml("b", "5 5") +
                            cellXml("d", "5 5")),
                     {"a", "b"}));
  const auto& old = prev.prevPackedCells;
  EXPECT_EQ(old[0].kind, 0);
  EXPECT_EQ(old[1].kind, 4);
  EXPECT_EQ(old[2].kind, 0);
  EXPECT_EQ(old[3].kind, 4);
  EXPECT_EQ(old[0].aliasNames, (std::vector<std::string>{"c", "d"}));
  for (size_t i : {1, 2, 3}) EXPECT_TRUE(old[i].aliasNames.empty()) << i;
}

TEST_F(PrevCellMapTest, DuplicateNamesMatchOnlyTheFirstOldCell) {
  ASSERT_TRUE(import(mapXml(cellXml("a", "0 0", "8 8", "0.1 0.1") + cellXml("a", "10 0", "8 8", "0.2 0.2") +
                            cellXml("ab", "20 0")),
                     {"a"}));
  EXPECT_EQ(prev.prevPackedCells[0].kind, 0);
  EXPECT_EQ(prev.prevPackedCells[1].kind, 1);
  EXPECT_EQ(prev.prevPackedCells[2].kind, 1);  // a prefix is no match
}

TEST_F(PrevCellMapTest, AtMostMaxCellsAreImported) {
  std::string cells;
  for (int i = 0; i < kMaxCells + 6; ++i)
    cells += cellXml("c" + std::to_string(i), std::to_string(i) + " 0");
  cells += cellXml("ignored", "0 0", "bad size");  // beyond the limit: not read at all
  ASSERT_TRUE(import(mapXml(cells)));
  EXPECT_EQ(prev.prevCellCount, kMaxCells);
  EXPECT_EQ(prev.prevCells.size(), static_cast<size_t>(kMaxCells));
  EXPECT_EQ(prev.prevCellRecords.size(), static_cast<size_t>(kMaxCells));
  EXPECT_EQ(prev.prevPackedCells.size(), static_cast<size_t>(kMaxCells));
  EXPECT_EQ(prev.prevCells.back().name, "c1023");
}

TEST_F(PrevCellMapTest, ImportReplacesEarlierTables) {
  ASSERT_TRUE(import(mapXml(cellXml("a", "0 0") + cellXml("b", "1 0"))));
  ASSERT_TRUE(import(mapXml(cellXml("z", "0 0"))));
  EXPECT_EQ(prev.prevCellCount, 1);
  ASSERT_EQ(prev.prevCells.size(), 1u);
  EXPECT_EQ(prev.prevCells[0].name, "z");
}

}  // namespace
}  // namespace korvex
