// Converting again with --use_oldpivot true: the pivots and meshes refined in
// the editor survive, vanished cells stay as placeholders, shared cells as
// aliases; a previous map that cannot be trusted stops the conversion.

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/psd_writer.h"
#include "support/run_korvex.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

using test::PsdRecord;
using test::TempDir;

std::string text(const tinyxml2::XMLElement* element, const char* child) {
  const tinyxml2::XMLElement* c = element ? element->FirstChildElement(child) : nullptr;
  const char* t = c ? c->GetText() : nullptr;
  return t ? t : "";
}

// One "cell" of a written cell map, its children as texts.
struct CellOut {
  std::string name, pos, size, pivot;
  bool hasMesh = false;
  std::string ismesh, divtype;
  bool hasDivw = false, hasDivh = false;
  std::string divw, divh;
  std::map<std::string, std::vector<std::string>> lists;  // list element -> "value" texts
};

std::vector<CellOut> readCells(const std::string& path) {
  tinyxml2::XMLDocument document;
  std::vector<CellOut> cells;
  if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
    ADD_FAILURE() << "cannot load " << path;
    return cells;
  }
  const tinyxml2::XMLElement* list =
      document.FirstChildElement("VantrelCellMap")->FirstChildElement("cells");
  for (const tinyxml2::XMLElement* cell = list->FirstChildElement("cell"); cell;
       cell = cell->NextSiblingElement("cell")) {
    CellOut out;
    out.name = text(cell, "name");
    out.pos = text(cell, "pos");
    out.size = text(cell, "size");
    out.pivot = text(cell, "pivot");
    out.hasMesh = cell->FirstChildElement("ismesh") != nullptr;
    out.ismesh = text(cell, "ismesh");
    out.divtype = text(cell, "divtype");
    out.hasDivw = cell->FirstChildElement("divw") != nullptr;
    out.hasDivh = cell->FirstChildElement("divh") != nullptr;
    out.divw = text(cell, "divw");
    out.divh = text(cell, "divh");
    for (const char* name : {"innerPoint", "outerPoint", "meshPointList", "meshTriList"}) {
      const tinyxml2::XMLElement* values = cell->FirstChildElement(name);
      if (!values) continue;
      auto& texts = out.lists[name];
      for (const tinyxml2::XMLElement* v = values->FirstChildElement("value"); v;
           v = v->NextSiblingElement("value"))
        texts.push_back(v->GetText() ? v->GetText() : "");
    }
    cells.push_back(out);
  }
  return cells;
}

const CellOut* findCell(const std::vector<CellOut>& cells, const std::string& name) {
  for (const CellOut& cell : cells)
    if (cell.name == name) return &cell;
  return nullptr;
}

using Values = std::vector<std::string>;

// What the editor stores for a refined cell: a pivot and mesh children.
void editCell(tinyxml2::XMLDocument& document, tinyxml2::XMLElement* cell, const std::string& pivot,
              const std::map<std::string, Values>& lists) {
  cell->FirstChildElement("pivot")->SetText(pivot.c_str());
  auto add = [&](const char* name, const char* value) {
    tinyxml2::XMLElement* element = document.NewElement(name);
    if (value) element->SetText(value);
    cell->InsertEndChild(element);
    return element;
  };
  add("ismesh", "1");
  add("divtype", "boxdiv");
  add("divw", "2");
  add("divh", "2");
  for (const char* name : {"innerPoint", "outerPoint", "meshPointList", "meshTriList"}) {
    tinyxml2::XMLElement* list = add(name, nullptr);
    auto it = lists.find(name);
    if (it == lists.end()) continue;
    for (const std::string& value : it->second) {
      tinyxml2::XMLElement* v = document.NewElement("value");
      v->SetText(value.c_str());
      list->InsertEndChild(v);
    }
  }
}

tinyxml2::XMLElement* cellElement(tinyxml2::XMLDocument& document, const std::string& name) {
  tinyxml2::XMLElement* cells = document.FirstChildElement("VantrelCellMap")->FirstChildElement("cells");
  for (tinyxml2::XMLElement* cell = cells->FirstChildElement("cell"); cell;
       cell = cell->NextSiblingElement("cell"))
    if (text(cell, "name") == name) return cell;
  return nullptr;
}

class ReconvertTest : public ::testing::Test {
 protected:
  ReconvertTest() { std::filesystem::create_directories(dir.file("out")); }

  std::string psd() const { return dir.file("art.psd"); }
  std::string out(const std::string& ext) const { return dir.file("out/art" + ext); }

  test::RunResult convert(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--inputfile", psd(), "--outputpath", dir.file("out")};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runKorvex(args, {{"HOME", home.path()}});
  }

  void writePsd(const std::vector<PsdRecord>& records) {
    test::PsdOptions options;
    options.width = 256;
    options.height = 256;
    ASSERT_TRUE(test::writePsd(psd(), options, records));
  }

  TempDir dir;
  TempDir home;
};

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kGrey = 0xFF808080;

TEST_F(ReconvertTest, EditorWorkSurvivesAChangedDocument) {
  // Lowest first: gone, leg, arm, body (body is the topmost layer).
  writePsd({test::solidLayer("gone", 100, 100, 12, 12, kGrey), test::solidLayer("leg", 10, 100, 10, 10, kBlue),
            test::solidLayer("arm", 100, 10, 20, 20, kGreen), test::solidLayer("body", 10, 10, 40, 30, kRed)});
  test::RunResult first = convert();
  ASSERT_EQ(first.exitCode, 0) << first.stdErr;
  const std::vector<CellOut> written = readCells(out(".vtce"));
  ASSERT_EQ(written.size(), 4u);
  ASSERT_EQ(findCell(written, "body")->size, "40 30");
  ASSERT_EQ(findCell(written, "arm")->size, "20 20");

  // The editor: pivots and boxdiv meshes, and a second cell on arm's rectangle.
  {
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(out(".vtce").c_str()), tinyxml2::XML_SUCCESS);
    editCell(document, cellElement(document, "body"), "0.250000 -0.125000",
             {{"innerPoint", {"10 20", "10.5 3"}},
              {"outerPoint", {"0 0", "40 30"}},
              {"meshPointList", {"10 20", "0 0", "40 30"}},
              {"meshTriList", {"0 1 2", "2 1 0"}}});
    editCell(document, cellElement(document, "gone"), "0.100000 0.100000",
             {{"innerPoint", {"6 6"}}});
    tinyxml2::XMLElement* arm = cellElement(document, "arm");
    editCell(document, arm, "-0.500000 0.500000", {});
    tinyxml2::XMLElement* alias = arm->DeepClone(&document)->ToElement();
    alias->FirstChildElement("name")->SetText("armAlt");
    alias->FirstChildElement("pivot")->SetText("0.300000 0.300000");
    alias->FirstChildElement("innerPoint")->DeleteChildren();
    tinyxml2::XMLElement* point = document.NewElement("value");
    point->SetText("5 5");
    alias->FirstChildElement("innerPoint")->InsertEndChild(point);
    arm->Parent()->InsertEndChild(alias);
    ASSERT_EQ(document.SaveFile(out(".vtce").c_str()), tinyxml2::XML_SUCCESS);
  }

  // The artist: body grows to 60 x 50, arm to 30 x 20, gone is removed, leg is renamed foot.
  writePsd({test::solidLayer("foot", 10, 100, 10, 10, kBlue), test::solidLayer("arm", 100, 10, 30, 20, kGreen),
            test::solidLayer("body", 10, 10, 60, 50, kRed)});
  test::RunResult second = convert({"--use_oldpivot", "true"});
  ASSERT_EQ(second.exitCode, 0) << second.stdErr;
  const std::vector<CellOut> cells = readCells(out(".vtce"));

  // Ordinary cells in layer order, each alias right after its owner, then the placeholders.
  ASSERT_EQ(cells.size(), 6u);
  EXPECT_EQ(cells[0].name, "body");
  EXPECT_EQ(cells[1].name, "arm");
  EXPECT_EQ(cells[2].name, "armAlt");
  EXPECT_EQ(cells[3].name, "foot");
  EXPECT_TRUE((cells[4].name == "gone" && cells[5].name == "leg") ||
              (cells[4].name == "leg" && cells[5].name == "gone"))
      << cells[4].name << " " << cells[5].name;

  const CellOut& body = cells[0];
  EXPECT_EQ(body.size, "60 50");
  EXPECT_EQ(body.pivot, "0.250000 -0.125000");
  EXPECT_EQ(body.ismesh, "1");
  EXPECT_EQ(body.divtype, "boxdiv");
  EXPECT_EQ(body.divw, "2");
  EXPECT_EQ(body.divh, "2");
  // Every point keeps its offset from the cell's centre: (10, 20) in 40 x 30
  // is held as (-20, 10) and lands at (20, 30) in 60 x 50.
  EXPECT_EQ(body.lists.at("innerPoint"), (Values{"20 30", "20.500000000000000 13"}));
  EXPECT_EQ(body.lists.at("outerPoint"), (Values{"10 10", "50 40"}));
  EXPECT_EQ(body.lists.at("meshPointList"), (Values{"20 30", "10 10", "50 40"}));
  EXPECT_EQ(body.lists.at("meshTriList"), (Values{"0 1 2", "2 1 0"}));

  const CellOut& arm = cells[1];
  EXPECT_EQ(arm.size, "30 20");
  EXPECT_EQ(arm.pivot, "-0.500000 0.500000");
  EXPECT_EQ(arm.lists.at("innerPoint"), Values{});
  // The alias shares arm's rectangle and pivot and keeps its own mesh,
  // resized with arm's new size: (5, 5) in 20 x 20 -> (10, 5) in 30 x 20.
  const CellOut& alias = cells[2];
  EXPECT_EQ(alias.pos, arm.pos);
  EXPECT_EQ(alias.size, arm.size);
  EXPECT_EQ(alias.pivot, arm.pivot);
  EXPECT_EQ(alias.ismesh, "1");
  EXPECT_EQ(alias.lists.at("innerPoint"), Values{"10 5"});

  // A renamed layer is a new cell: no pivot, no mesh.
  EXPECT_EQ(cells[3].pivot, "0.000000 0.000000");
  EXPECT_FALSE(cells[3].hasMesh);

  // Vanished cells: 16 x 16 placeholders under their old names, pivot "0 0",
  // their meshes kept (gone's (6, 6) in 12 x 12 is the centre of 16 x 16).
  const CellOut* gone = findCell(cells, "gone");
  const CellOut* leg = findCell(cells, "leg");
  ASSERT_TRUE(gone && leg);
  EXPECT_EQ(gone->size, "16 16");
  EXPECT_EQ(gone->pivot, "0 0");
  EXPECT_EQ(gone->lists.at("innerPoint"), Values{"8 8"});
  EXPECT_EQ(leg->size, "16 16");
  EXPECT_EQ(leg->pivot, "0 0");
  EXPECT_TRUE(leg->hasMesh);
  EXPECT_EQ(leg->ismesh, "");
  EXPECT_EQ(leg->lists.at("meshPointList"), Values{});

  // Converting once more with nothing changed keeps every carried value.
  test::RunResult third = convert({"--use_oldpivot", "true"});
  ASSERT_EQ(third.exitCode, 0) << third.stdErr;
  const std::vector<CellOut> again = readCells(out(".vtce"));
  ASSERT_EQ(again.size(), cells.size());
  for (const CellOut& cell : cells) {
    SCOPED_TRACE(cell.name);
    const CellOut* same = findCell(again, cell.name);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->size, cell.size);
    EXPECT_EQ(same->pivot, cell.pivot);
    if (cell.hasMesh) {
      EXPECT_EQ(same->lists, cell.lists);
    } else {
      // A cell the previous map knows gets mesh children, empty without a mesh.
      EXPECT_EQ(same->ismesh, "");
      for (const auto& list : same->lists) EXPECT_TRUE(list.second.empty()) << list.first;
    }
  }

  // The layer that vanished comes back at its old size: its mesh points are
  // where the editor put them, though the placeholder kept pivot "0 0".
  writePsd({test::solidLayer("gone", 100, 100, 12, 12, kGrey), test::solidLayer("foot", 10, 100, 10, 10, kBlue),
            test::solidLayer("arm", 100, 10, 30, 20, kGreen), test::solidLayer("body", 10, 10, 60, 50, kRed)});
  test::RunResult fourth = convert({"--use_oldpivot", "true"});
  ASSERT_EQ(fourth.exitCode, 0) << fourth.stdErr;
  const std::vector<CellOut> back = readCells(out(".vtce"));
  const CellOut* returned = findCell(back, "gone");
  ASSERT_TRUE(returned);
  EXPECT_EQ(returned->size, "12 12");
  EXPECT_EQ(returned->pivot, "0.000000 0.000000");
  EXPECT_EQ(returned->lists.at("innerPoint"), Values{"6 6"});
  ASSERT_EQ(back.size(), 6u);
  EXPECT_EQ(back.back().name, "leg");  // the only placeholder left
}

TEST_F(ReconvertTest, WithoutTheOptionThePreviousMapIsReplaced) {
  writePsd({test::solidLayer("body", 10, 10, 40, 30, kRed)});
  ASSERT_EQ(convert().exitCode, 0);
  tinyxml2::XMLDocument document;
  ASSERT_EQ(document.LoadFile(out(".vtce").c_str()), tinyxml2::XML_SUCCESS);
  editCell(document, cellElement(document, "body"), "0.250000 0.250000", {{"innerPoint", {"1 1"}}});
  ASSERT_EQ(document.SaveFile(out(".vtce").c_str()), tinyxml2::XML_SUCCESS);

  test::RunResult result = convert();
  ASSERT_EQ(result.exitCode, 0) << result.stdErr;
  const std::vector<CellOut> cells = readCells(out(".vtce"));
  ASSERT_EQ(cells.size(), 1u);
  EXPECT_EQ(cells[0].pivot, "0.000000 0.000000");
  EXPECT_FALSE(cells[0].hasMesh);
}

TEST_F(ReconvertTest, MarkerLayerOverridesThePreviousPivot) {
  // body 60 x 50 at (10, 10), visible centre (40, 35); the marker's centre is (50, 10).
  writePsd({test::solidLayer("+body", 49, 9, 2, 2, kGrey), test::solidLayer("body", 10, 10, 60, 50, kRed),
            test::solidLayer("arm", 100, 10, 20, 20, kGreen)});
  ASSERT_EQ(convert().exitCode, 0);
  {
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(out(".vtce").c_str()), tinyxml2::XML_SUCCESS);
    editCell(document, cellElement(document, "body"), "-0.400000 -0.400000", {{"innerPoint", {"30 25"}}});
    editCell(document, cellElement(document, "arm"), "0.125000 0.375000", {});
    ASSERT_EQ(document.SaveFile(out(".vtce").c_str()), tinyxml2::XML_SUCCESS);
  }
  test::RunResult result = convert({"--use_oldpivot", "true", "--use_layer_pivot", "true"});
  ASSERT_EQ(result.exitCode, 0) << result.stdErr;
  const std::vector<CellOut> cells = readCells(out(".vtce"));
  ASSERT_EQ(cells.size(), 2u);
  const CellOut* body = findCell(cells, "body");
  const CellOut* arm = findCell(cells, "arm");
  ASSERT_TRUE(body && arm);
  EXPECT_EQ(body->pivot, "0.166667 0.500000");
  EXPECT_EQ(body->lists.at("innerPoint"), Values{"30 25"});  // the mesh is still carried
  EXPECT_EQ(arm->pivot, "0.125000 0.375000");                // no marker: the old pivot stays
}

TEST_F(ReconvertTest, PreviousMapsThatDoNotLoadAreIgnored) {
  writePsd({test::solidLayer("body", 10, 10, 40, 30, kRed)});
  ASSERT_EQ(convert().exitCode, 0);
  const std::string fresh = test::readFile(out(".vtce"));
  for (const std::string& previous :
       {std::string("this is not xml"), std::string("<VantrelCellMap><cells><cell>"),
        std::string("<OtherMap><cells><cell><name>body</name><pos>0 0</pos><size>4 4</size>"
                    "<pivot>0.5 0.5</pivot></cell></cells></OtherMap>"),
        std::string("<VantrelCellMap><name>art</name></VantrelCellMap>")}) {
    SCOPED_TRACE(previous);
    test::writeFile(out(".vtce"), previous);
    test::RunResult result = convert({"--use_oldpivot", "true"});
    EXPECT_EQ(result.exitCode, 0) << result.stdErr;
    EXPECT_EQ(result.stdErr.find("\nerror"), std::string::npos) << result.stdErr;
    EXPECT_EQ(test::readFile(out(".vtce")), fresh);
  }
}

TEST_F(ReconvertTest, UnreadableNumbersOtherThanTheSizeReadAsZero) {
  writePsd({test::solidLayer("body", 10, 10, 40, 30, kRed)});
  ASSERT_EQ(convert().exitCode, 0);
  test::writeFile(out(".vtce"),
                  "<VantrelCellMap version=\"2.00.00\"><cells>"
                  "<cell><name>body</name><pos>x y</pos><size>40 30</size><pivot>abc 0.5</pivot>"
                  "<ismesh>1</ismesh><divtype>free</divtype><divw>9</divw>"
                  "<innerPoint><value>oops 20</value></innerPoint></cell>"
                  "<cell><name>old</name><pos>50 0</pos><size>16 16</size></cell>"
                  "</cells></VantrelCellMap>");
  test::RunResult result = convert({"--use_oldpivot", "true"});
  ASSERT_EQ(result.exitCode, 0) << result.stdErr;
  const std::vector<CellOut> cells = readCells(out(".vtce"));
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0].name, "body");
  EXPECT_EQ(cells[0].pivot, "0.000000 0.500000");
  EXPECT_EQ(cells[0].divtype, "free");
  EXPECT_FALSE(cells[0].hasDivw);  // only a boxdiv mesh has divisions
  EXPECT_FALSE(cells[0].hasDivh);
  EXPECT_EQ(cells[0].lists.at("innerPoint"), Values{"0 20"});
  EXPECT_EQ(cells[1].name, "old");
  EXPECT_EQ(cells[1].pivot, "0 0");
}

TEST_F(ReconvertTest, UnreadableSizeStopsBeforeAnythingIsWritten) {
  writePsd({test::solidLayer("body", 10, 10, 40, 30, kRed)});
  for (const std::string& size : {std::string(""), std::string("wide 30"), std::string("40 99999999999"),
                                  std::string("<missing>")}) {
    SCOPED_TRACE(size);
    const std::string sizeElement = size == "<missing>" ? "" : "<size>" + size + "</size>";
    const std::string previous =
        "<VantrelCellMap version=\"2.00.00\"><cells>"
        "<cell><name>body</name><pos>0 0</pos><size>40 30</size><pivot>0.5 0.5</pivot></cell>"
        "<cell><name>legacy</name><pos>50 0</pos>" + sizeElement + "<pivot>0 0</pivot>"
        "<ismesh>1</ismesh><innerPoint><value>3 3</value></innerPoint></cell>"
        "</cells></VantrelCellMap>";
    test::writeFile(out(".vtce"), previous);
    test::writeFile(out(".png"), "an older atlas");
    test::RunResult result =
        convert({"--use_oldpivot", "true", "--out_vtae", "true", "--out_vtpj", "true"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.stdErr.find("error: the previous cell map " + out(".vtce")), std::string::npos)
        << result.stdErr;
    EXPECT_NE(result.stdErr.find("(legacy)"), std::string::npos) << result.stdErr;
    EXPECT_EQ(test::readFile(out(".vtce")), previous);
    EXPECT_EQ(test::readFile(out(".png")), "an older atlas");
    EXPECT_FALSE(test::fileExists(out(".vtae")));
    EXPECT_FALSE(test::fileExists(out(".vtpj")));
  }
}

}  // namespace
}  // namespace korvex
