// The editor documents through the binary: pivots from marker layers, parts
// and null parts, priorities, the root layer offset, the canvas size,
// existing animation packs and projects, failed saves, and the bundled
// example that `make demo` converts.

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
using Strings = std::vector<std::string>;

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;
const char kCellMapDone[] = "vtceファイルのコンバートが成功しました。";
const char kAnimePackDone[] = "vtaeファイルのコンバートが成功しました。";
const char kProjectDone[] = "vtpjファイルのコンバートが成功しました。";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string childText(const tinyxml2::XMLElement* element, const char* child) {
  const tinyxml2::XMLElement* c = element ? element->FirstChildElement(child) : nullptr;
  return c && c->GetText() ? c->GetText() : "";
}

// A loaded animation pack with the queries the tests need.
class AnimePack {
 public:
  explicit AnimePack(const std::string& path) {
    EXPECT_EQ(document_.LoadFile(path.c_str()), tinyxml2::XML_SUCCESS) << path;
  }

  // `child` of every part of the model, in order.
  Strings parts(const char* child) const {
    Strings out;
    const auto* list = root()->FirstChildElement("Model")->FirstChildElement("partList");
    for (const auto* part = list->FirstChildElement("value"); part; part = part->NextSiblingElement("value"))
      out.push_back(childText(part, child));
    return out;
  }
  // The part names of the part animations of anime `index` (0 Setup, 1 anime_1).
  Strings partAnimes(int index) const {
    Strings out;
    for (const auto* p = anime(index)->FirstChildElement("partAnimes")->FirstChildElement("partAnime"); p;
         p = p->NextSiblingElement("partAnime"))
      out.push_back(childText(p, "partName"));
    return out;
  }
  // "TAG=value" of the keys of a part in Setup.
  Strings keys(const std::string& partName) const {
    Strings out;
    for (const auto* p = anime(0)->FirstChildElement("partAnimes")->FirstChildElement("partAnime"); p;
         p = p->NextSiblingElement("partAnime")) {
      if (childText(p, "partName") != partName) continue;
      for (const auto* a = p->FirstChildElement("attributes")->FirstChildElement("attribute"); a;
           a = a->NextSiblingElement("attribute")) {
        const auto* value = a->FirstChildElement("key")->FirstChildElement("value");
        out.push_back(std::string(a->Attribute("tag")) + "=" +
                      (value->FirstChildElement("name") ? childText(value, "name") : childText(a->FirstChildElement("key"), "value")));
      }
    }
    return out;
  }
  std::string canvasSize(int index) const {
    return childText(anime(index)->FirstChildElement("settings"), "canvasSize");
  }

 private:
  const tinyxml2::XMLElement* root() const { return document_.FirstChildElement("VantrelAnimePack"); }
  const tinyxml2::XMLElement* anime(int index) const {
    const auto* a = root()->FirstChildElement("animeList")->FirstChildElement("anime");
    return index == 0 ? a : a->NextSiblingElement("anime");
  }
  tinyxml2::XMLDocument document_;
};

// name -> pivot text of every cell of a cell map.
std::map<std::string, std::string> pivots(const std::string& path) {
  std::map<std::string, std::string> out;
  tinyxml2::XMLDocument document;
  EXPECT_EQ(document.LoadFile(path.c_str()), tinyxml2::XML_SUCCESS) << path;
  const auto* cells = document.FirstChildElement("VantrelCellMap")->FirstChildElement("cells");
  for (const auto* cell = cells->FirstChildElement("cell"); cell; cell = cell->NextSiblingElement("cell"))
    out[childText(cell, "name")] = childText(cell, "pivot");
  return out;
}

class DocumentsEndToEnd : public ::testing::Test {
 protected:
  DocumentsEndToEnd() { std::filesystem::create_directories(dir.file("out")); }

  std::string out(const std::string& ext) const { return dir.file("out/art" + ext); }

  // Writes art.psd (records lowest first) on a width x height canvas.
  void writePsd(const std::vector<PsdRecord>& records, int32_t width = 100, int32_t height = 60) {
    test::PsdOptions options;
    options.width = width;
    options.height = height;
    ASSERT_TRUE(test::writePsd(dir.file("art.psd"), options, records));
  }

  test::RunResult convert(const Strings& extra = {}) {
    Strings args = {"--inputfile", dir.file("art.psd"), "--outputpath", dir.file("out"),
                    "--out_vtae", "true", "--out_vtpj", "true"};
    args.insert(args.end(), extra.begin(), extra.end());
    return test::runKorvex(args, {{"HOME", home.path()}});
  }

  TempDir dir;
  TempDir home;
};

TEST_F(DocumentsEndToEnd, MarkerLayersSetPivotsAndPlaceTheParts) {
  // body's visible centre (30, 25), its marker's (40, 14); leg's marker is
  // fully transparent.
  writePsd({test::solidLayer("leg", 60, 40, 10, 10, kBlue), test::solidLayer("+leg", 0, 0, 4, 4, 0),
            test::solidLayer("body", 10, 10, 40, 30, kRed), test::solidLayer("+body", 38, 12, 4, 4, kGreen)});
  test::RunResult run = convert({"--use_layer_pivot", "true"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(pivots(out(".vtce")),
            (std::map<std::string, std::string>{{"body", "0.250000 0.366667"}, {"leg", "0.000000 0.000000"}}));
  AnimePack pack(out(".vtae"));
  EXPECT_EQ(pack.parts("name"), (Strings{"root", "leg", "body"}));
  // The part stands at its pivot: the marker's centre relative to the canvas centre.
  EXPECT_EQ(pack.keys("body"), (Strings{"CELL=body", "POSX=-10", "POSY=16", "PRIO=2", "ROTZ=0", "HIDE=0"}));
  EXPECT_EQ(pack.keys("leg"), (Strings{"CELL=leg", "POSX=15", "POSY=-15", "PRIO=1", "ROTZ=0", "HIDE=0"}));

  // Without the switch the markers are ignored (and are no cells).
  run = convert({"--overwrite", "true"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(pivots(out(".vtce")),
            (std::map<std::string, std::string>{{"body", "0.000000 0.000000"}, {"leg", "0.000000 0.000000"}}));
  EXPECT_EQ(AnimePack(out(".vtae")).keys("body")[1], "POSX=-20");
}

TEST_F(DocumentsEndToEnd, NullPartsPrioritiesAndOrder) {
  // Lowest first: c (small), b, a (largest, topmost).
  writePsd({test::solidLayer("c", 0, 0, 10, 10, kBlue), test::solidLayer("b", 20, 0, 20, 20, kGreen),
            test::solidLayer("a", 50, 0, 30, 30, kRed)});
  test::RunResult run = convert({"--add_null", "true"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  AnimePack pack(out(".vtae"));
  EXPECT_EQ(pack.parts("name"), (Strings{"root", "null_c", "c", "null_b", "b", "null_a", "a"}));
  EXPECT_EQ(pack.parts("parentIndex"), (Strings{"-1", "0", "1", "0", "3", "0", "5"}));
  // Setup follows the packing order: the largest cell first.
  EXPECT_EQ(pack.partAnimes(0), (Strings{"root", "null_a", "a", "null_b", "b", "null_c", "c"}));
  EXPECT_EQ(pack.partAnimes(1), Strings{"root"});
  EXPECT_EQ(pack.keys("null_a"), (Strings{"POSX=15", "POSY=15", "ROTZ=0", "HIDE=0"}));
  EXPECT_EQ(pack.keys("a"), (Strings{"CELL=a", "POSX=0", "POSY=0", "PRIO=3", "ROTZ=0", "HIDE=0"}));
  EXPECT_EQ(pack.keys("c"), (Strings{"CELL=c", "POSX=0", "POSY=0", "PRIO=1", "ROTZ=0", "HIDE=0"}));

  // Without priorities no PRIO key is written.
  run = convert({"--overwrite", "true", "--add_priority", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(AnimePack(out(".vtae")).keys("a"), (Strings{"CELL=a", "POSX=15", "POSY=15", "ROTZ=0", "HIDE=0"}));
}

TEST_F(DocumentsEndToEnd, RootLayerIsTheOrigin) {
  writePsd({test::solidLayer("root", 60, 40, 10, 10, kBlue), test::solidLayer("a", 10, 10, 20, 20, kRed)});
  test::RunResult run = convert({"--use_layer_root", "true"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  AnimePack pack(out(".vtae"));
  EXPECT_EQ(pack.parts("name"), (Strings{"root", "a"}));
  // a's centre (20, 20) from the root layer's centre (65, 45), y upwards.
  EXPECT_EQ(pack.keys("a"), (Strings{"CELL=a", "POSX=-45", "POSY=25", "PRIO=1", "ROTZ=0", "HIDE=0"}));
}

TEST_F(DocumentsEndToEnd, CanvasSizeWithAnOddCanvas) {
  writePsd({test::solidLayer("a", 10, 10, 20, 20, kRed)}, 101, 60);
  test::RunResult run = convert();
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(AnimePack(out(".vtae")).canvasSize(0), "320 320");
  EXPECT_EQ(AnimePack(out(".vtae")).canvasSize(1), "320 320");
  run = convert({"--overwrite", "true", "--canvas_size", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(AnimePack(out(".vtae")).canvasSize(0), "100 60");
  EXPECT_EQ(AnimePack(out(".vtae")).canvasSize(1), "100 60");
}

TEST_F(DocumentsEndToEnd, ExistingAnimePackAndProjectAreKept) {
  writePsd({test::solidLayer("a", 10, 10, 20, 20, kRed)});
  test::writeFile(out(".vtae"), "<VantrelAnimePack>mine</VantrelAnimePack>");
  test::writeFile(out(".vtpj"), "my project");
  test::RunResult run = convert();
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_EQ(test::readFile(out(".vtae")), "<VantrelAnimePack>mine</VantrelAnimePack>");
  EXPECT_EQ(test::readFile(out(".vtpj")), "my project");
  EXPECT_TRUE(contains(run.stdErr, kCellMapDone));
  EXPECT_FALSE(contains(run.stdErr, kAnimePackDone));
  EXPECT_FALSE(contains(run.stdErr, kProjectDone));

  // A broken animation pack is no animation pack: it is replaced.
  test::writeFile(out(".vtae"), "<VantrelAnimePack>");
  run = convert();
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_TRUE(contains(run.stdErr, kAnimePackDone));
  EXPECT_EQ(AnimePack(out(".vtae")).parts("name"), (Strings{"root", "a"}));
  EXPECT_EQ(test::readFile(out(".vtpj")), "my project");

  // Overwriting replaces both.
  run = convert({"--overwrite", "true"});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_TRUE(contains(run.stdErr, kProjectDone));
  EXPECT_TRUE(contains(test::readFile(out(".vtpj")), "<lastCellMapFile>art.vtce</lastCellMapFile>\r\n"));
}

TEST_F(DocumentsEndToEnd, DocumentThatCannotBeSavedFailsTheConversion) {
  writePsd({test::solidLayer("a", 10, 10, 20, 20, kRed)});
  test::writeFile(out(".vtae"), "<VantrelAnimePack>");
  std::filesystem::create_directories(out(".vtce"));  // in the way of the cell map
  test::RunResult run = convert();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.stdErr, "error: cannot write " + out(".vtce"))) << run.stdErr;
  EXPECT_FALSE(contains(run.stdErr, kCellMapDone));
  EXPECT_FALSE(contains(run.stdErr, kAnimePackDone));
  // Later documents are not written and earlier files stay as they were.
  EXPECT_EQ(test::readFile(out(".vtae")), "<VantrelAnimePack>");
  EXPECT_FALSE(test::fileExists(out(".vtpj")));

  std::filesystem::remove(out(".vtce"));
  std::filesystem::create_directories(out(".vtpj"));  // in the way of the project
  run = convert({"--overwrite", "true"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(contains(run.stdErr, "error: cannot write " + out(".vtpj"))) << run.stdErr;
  EXPECT_FALSE(contains(run.stdErr, kProjectDone));
}

TEST_F(DocumentsEndToEnd, AtlasThatCannotBeWrittenFailsTheConversion) {
  writePsd({test::solidLayer("a", 10, 10, 20, 20, kRed)});
  std::filesystem::create_directories(out(".png"));  // in the way of the atlas
  test::RunResult run = convert();
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(contains(run.stdErr, kCellMapDone)) << run.stdErr;
  EXPECT_FALSE(test::fileExists(out(".vtce")));
}

TEST_F(DocumentsEndToEnd, BundledExampleBecomesAProject) {
  const std::string example = std::string(KORVEX_SOURCE_DIR) + "/examples/example.psd";
  test::RunResult run = test::runKorvex({"--inputfile", example, "--outputpath", dir.file("out/"),
                                         "--out_vtae", "true", "--out_vtpj", "true",
                                         "--use_layer_pivot", "true", "--use_layer_root", "true"},
                                        {{"HOME", home.path()}});
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  EXPECT_TRUE(contains(run.stdErr, " skip (shadow)")) << run.stdErr;
  for (const char* ext : {".png", ".vtce", ".vtae", ".vtpj"})
    EXPECT_TRUE(test::fileExists(dir.file(std::string("out/example") + ext))) << ext;
  const auto cellPivots = pivots(dir.file("out/example.vtce"));
  EXPECT_EQ(cellPivots.size(), 4u);
  EXPECT_EQ(cellPivots.at("head"), "0.000000 -0.476190");  // the neck
  EXPECT_EQ(AnimePack(dir.file("out/example.vtae")).parts("name"),
            (Strings{"root", "arm_back", "body", "head", "arm_front"}));
}

}  // namespace
}  // namespace korvex
