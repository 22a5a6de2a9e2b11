// The cell map: pivots from marker layers and the previous map, canvas
// moves, mesh data, aliases, placeholder cells and a failed save.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "document_fixture.h"
#include "documents/documents.h"

namespace korvex::test {
namespace {

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CellMapTest : public DocumentTest {
 protected:
  CellMapTest() {
    table.cellNames = {"+body", "body", "leg"};
    pack.SetTextureSize(128, 64);
  }

  bool write() {
    return static_cast<bool>(inPlace(writeCellMap(cellMapPath(), settings, table, pack, prev, options, outputs, lines)));
  }

  void addPrevious(const std::string& name, float pivotX, float pivotY) {
    prev.hasPrevCellMap = true;
    prev.prevCells.push_back({name, pivotX, pivotY, false});
    PrevCellRecord record;
    record.name = name;
    prev.prevCellRecords.push_back(record);
    PackedCell packed;
    packed.name = name;
    prev.prevPackedCells.push_back(packed);
    prev.prevCellCount = static_cast<int32_t>(prev.prevCells.size());
  }

  std::vector<std::string> cellTexts(const char* child) {
    return texts(cellMapPath(), {"cells", "cell", child});
  }
};

TEST_F(CellMapTest, CellsWithoutPivotSourcesKeepPivotZeroAndTheirPlace) {
  pack.cells = {packedCell("leg", 0, 7, 9, 1, 2, 10, 20, 4, 4),
                packedCell("body", 0, 3, 5, 0, 0, 30, 12, 20, 4),
                packedCell("+body", 2, 10, 10, 0, 0, 2, 2, 0, 0)};
  ASSERT_TRUE(write());
  // Extraction order (topmost first), not packing order; markers are no cells.
  EXPECT_EQ(cellTexts("name"), (std::vector<std::string>{"body", "leg"}));
  EXPECT_EQ(cellTexts("pivot"), (std::vector<std::string>{"0.000000 0.000000", "0.000000 0.000000"}));
  EXPECT_EQ(cellTexts("pos"), (std::vector<std::string>{"20 4", "4 4"}));
  EXPECT_EQ(cellTexts("size"), (std::vector<std::string>{"30 12", "10 20"}));
  EXPECT_EQ(pack.cells[0].canvasX, 7);
  EXPECT_EQ(pack.cells[0].canvasY, 9);
  EXPECT_EQ(pack.cells[1].canvasX, 3);
  EXPECT_EQ(texts(cellMapPath(), {"name"}), std::vector<std::string>{"out"});
  EXPECT_EQ(texts(cellMapPath(), {"imagePath"}), std::vector<std::string>{"out.png"});
  EXPECT_EQ(texts(cellMapPath(), {"pixelSize"}), std::vector<std::string>{"128 64"});
}

TEST_F(CellMapTest, MarkerLayerSetsThePivotAndMovesTheCell) {
  settings.is_layerPivotUse = true;
  // body: visible box x 12..42, y 7..27 (inner padding 2 -> padded 34 x 24);
  // marker centre (39, 9): offset (12, 8) from the body centre (27, 17).
  pack.cells = {packedCell("body", 0, 10, 5, 2, 2, 30, 20, 4, 4, 0, 2),
                packedCell("+body", 2, 30, 0, 8, 8, 2, 2, 0, 0),
                packedCell("leg", 0, 0, 0, 0, 0, 8, 8, 40, 4)};
  ASSERT_TRUE(write());
  EXPECT_EQ(cellTexts("pivot"),
            (std::vector<std::string>{"0.352941 0.333333", "0.000000 0.000000"}));
  EXPECT_EQ(cellTexts("size"), (std::vector<std::string>{"34 24", "8 8"}));
  // 34 * (12/34) + 10 and 5 - 24 * (8/24), truncated toward zero.
  EXPECT_EQ(pack.cells[0].canvasX, 22);
  EXPECT_EQ(pack.cells[0].canvasY, -3);
  EXPECT_EQ(pack.cells[2].canvasX, 0);
}

TEST_F(CellMapTest, PreviousPivotIsKeptUnlessAnEmptyMarkerOverridesIt) {
  pack.cells = {packedCell("body", 0, 10, 10, 0, 0, 20, 10, 4, 4),
                packedCell("leg", 0, 0, 0, 0, 0, 10, 10, 30, 4)};
  addPrevious("leg", 0.5f, -0.25f);
  addPrevious("body", 0.25f, 0.5f);
  ASSERT_TRUE(write());
  EXPECT_EQ(cellTexts("pivot"), (std::vector<std::string>{"0.250000 0.500000", "0.500000 -0.250000"}));
  EXPECT_TRUE(prev.prevCells[0].used);
  EXPECT_TRUE(prev.prevCells[1].used);
  EXPECT_EQ(pack.cells[0].canvasX, 15);  // 20 * 0.25 + 10
  EXPECT_EQ(pack.cells[0].canvasY, 5);   // 10 - 10 * 0.5
  EXPECT_EQ(pack.cells[1].canvasY, 2);   // 0 - 10 * -0.25 = 2.5

  // A fully transparent marker resets the pivot to the centre.
  settings.is_layerPivotUse = true;
  PackedCell marker = packedCell("+body", 2, 50, 50, 0, 0, 16, 16, 0, 0);
  marker.empty = true;
  pack.cells = {packedCell("body", 0, 10, 10, 0, 0, 20, 10, 4, 4), marker};
  table.cellNames = {"+body", "body"};
  ASSERT_TRUE(write());
  EXPECT_EQ(cellTexts("pivot"), std::vector<std::string>{"0.000000 0.000000"});
  EXPECT_EQ(pack.cells[0].canvasX, 10);
}

TEST_F(CellMapTest, MeshOfThePreviousMapIsResizedOnceAndPrinted) {
  table.cellNames = {"body", "leg"};
  pack.cells = {packedCell("body", 0, 0, 0, 0, 0, 20, 10, 4, 4),
                packedCell("leg", 0, 0, 0, 0, 0, 8, 6, 30, 4)};
  addPrevious("body", 0, 0);
  addPrevious("leg", 0, 0);
  PrevCellRecord& body = prev.prevCellRecords[0];
  body.ismesh = "1";
  body.divtype = "boxdiv";
  body.divw = "3";
  body.divh = "4";
  // Centred and doubled for the old size; (x + 20) / 2 and (y + 10) / 2 now.
  body.innerPoints = {{-13.0, -6.0}, {-22.0, -10.5}};
  body.outerPoints = {{0.5, 2.0}};
  body.meshPoints = {{-20.0, -10.0}};
  body.meshTriangles = {{0, 1, 2}, {2, 1, 3}};
  prev.prevCellRecords[1].divtype = "polydiv";
  prev.prevCellRecords[1].divw = "9";
  ASSERT_TRUE(write());

  const std::string text = readFile(cellMapPath());
  EXPECT_NE(text.find("            <posStable>0</posStable>\r\n"
                      "            <ismesh>1</ismesh>\r\n"
                      "            <divtype>boxdiv</divtype>\r\n"
                      "            <divw>3</divw>\r\n"
                      "            <divh>4</divh>\r\n"
                      "            <innerPoint>\r\n"
                      "                <value>3.500000000000000 2</value>\r\n"
                      "                <value>-1 -0.250000000000000</value>\r\n"
                      "            </innerPoint>\r\n"
                      "            <outerPoint>\r\n"
                      "                <value>10.250000000000000 6</value>\r\n"
                      "            </outerPoint>\r\n"
                      "            <meshPointList>\r\n"
                      "                <value>0 0</value>\r\n"
                      "            </meshPointList>\r\n"
                      "            <meshTriList>\r\n"
                      "                <value>0 1 2</value>\r\n"
                      "                <value>2 1 3</value>\r\n"
                      "            </meshTriList>\r\n"
                      "        </cell>\r\n"),
            std::string::npos)
      << text;
  // A previous cell without mesh: empty texts, empty lists, no divw/divh.
  EXPECT_NE(text.find("            <ismesh></ismesh>\r\n"
                      "            <divtype>polydiv</divtype>\r\n"
                      "            <innerPoint/>\r\n"
                      "            <outerPoint/>\r\n"
                      "            <meshPointList/>\r\n"
                      "            <meshTriList/>\r\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(body.resized);

  // A second writer in the same conversion keeps the converted points.
  ASSERT_TRUE(write());
  EXPECT_EQ(prev.prevCellRecords[0].innerPoints[0].x, 3.5);
}

TEST_F(CellMapTest, AliasesFollowTheirCellAndPlaceholdersComeLast) {
  table.cellNames = {"a", "c"};
  PackedCell placeholder = packedCell("gone", 1, 0, 0, 0, 0, 16, 16, 60, 4);
  placeholder.empty = true;
  pack.cells = {packedCell("c", 0, 0, 0, 0, 0, 10, 10, 30, 4), placeholder,
                packedCell("a", 0, 0, 0, 0, 0, 20, 10, 4, 4)};
  addPrevious("a", 0.5f, 0.5f);
  addPrevious("b", 0.0f, 0.0f);
  addPrevious("gone", 0.25f, 0.25f);
  addPrevious("gone2", 0.0f, 0.0f);
  prev.prevPackedCells[0].aliasNames = {"b"};
  prev.prevPackedCells[2].aliasNames = {"gone2"};
  prev.prevCellRecords[1].ismesh = "1";
  ASSERT_TRUE(write());
  EXPECT_EQ(cellTexts("name"), (std::vector<std::string>{"a", "b", "c", "gone", "gone2"}));
  EXPECT_EQ(cellTexts("pos"), (std::vector<std::string>{"4 4", "4 4", "30 4", "60 4", "60 4"}));
  EXPECT_EQ(cellTexts("pivot"), (std::vector<std::string>{"0.500000 0.500000", "0.500000 0.500000",
                                                          "0.000000 0.000000", "0 0", "0 0"}));
  EXPECT_EQ(cellTexts("ismesh"), (std::vector<std::string>{"", "1", "", ""}));
  // The placeholder keeps its place; its previous pivot is not taken.
  EXPECT_EQ(pack.cells[1].canvasX, 0);
  EXPECT_FALSE(prev.prevCells[2].used);
}

TEST_F(CellMapTest, AFailedSaveIsAnErrorAndKeepsThePreviousFile) {
  pack.cells = {packedCell("body", 0, 0, 0, 0, 0, 4, 4, 4, 4)};
  table.cellNames = {"body"};
  // A folder in the way of the target: it cannot be replaced.
  ASSERT_EQ(::mkdir(cellMapPath().c_str(), 0755), 0);
  writeFile(cellMapPath() + "/keep", "x");
  testing::internal::CaptureStderr();
  const Status written = writeCellMap(cellMapPath(), settings, table, pack, prev, options, outputs, lines);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(written.message(), "error: cannot write " + cellMapPath() + "\n");
  EXPECT_EQ(written.reason(), cellMapPath() + " is a folder, not a file");
  EXPECT_EQ(err.find("成功"), std::string::npos) << "no success message after a failure";
  EXPECT_EQ(readFile(cellMapPath() + "/keep"), "x");
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"out.vtce"}) << "no temporary file left";

  // A missing folder.
  const Status missing = writeCellMap(dir.file("no/such/out.vtce"), settings, table, pack, prev, options, outputs, lines);
  EXPECT_EQ(missing.message(), "error: cannot write " + dir.file("no/such/out.vtce") + "\n");
}

}  // namespace
}  // namespace korvex::test
