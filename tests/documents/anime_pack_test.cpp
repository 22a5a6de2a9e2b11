// The animation pack: parts, their order, priorities, positions, the extras
// of the option file's default-set attributes. Null parts, the root layer
// and the canvas size are covered end to end (documents_e2e_test.cpp).
#include "document_fixture.h"
#include "documents/documents.h"

namespace korvex::test {
namespace {

class AnimePackTest : public DocumentTest {
 protected:
  // Three cells extracted top, middle, bottom; packed largest first.
  AnimePackTest() {
    table.cellNames = {"top", "middle", "bottom"};
    table.canvasHalfWidth = 50;
    table.canvasHalfHeight = 30;
    pack.cells = {packedCell("middle", 0, 0, 0, 0, 0, 30, 30, 4, 4, 2),
                  packedCell("bottom", 0, 0, 0, 0, 0, 20, 20, 40, 4, 1),
                  packedCell("top", 0, 0, 0, 0, 0, 10, 10, 70, 4, 0)};
  }

  bool write(bool keepExisting = false) {
    return static_cast<bool>(
        inPlace(writeAnimePack(animePackPath(), settings, table, pack, keepExisting, options, outputs, lines)));
  }

  std::vector<std::string> parts(const char* child) {
    return texts(animePackPath(), {"Model", "partList", "value", child});
  }

  // "TAG=value" of every attribute of the named part animation in `anime`
  // (0 Setup, 1 anime_1); CELL as "CELL=name".
  std::vector<std::string> keys(int anime, const std::string& partName) {
    std::vector<std::string> out;
    const tinyxml2::XMLElement* a = load(animePackPath()).RootElement()->FirstChildElement("animeList")
                                        ->FirstChildElement("anime");
    if (anime == 1) a = a->NextSiblingElement("anime");
    for (const auto* p = a->FirstChildElement("partAnimes")->FirstChildElement("partAnime"); p;
         p = p->NextSiblingElement("partAnime")) {
      if (partName != p->FirstChildElement("partName")->GetText()) continue;
      for (const auto* at = p->FirstChildElement("attributes")->FirstChildElement("attribute"); at;
           at = at->NextSiblingElement("attribute")) {
        const auto* value = at->FirstChildElement("key")->FirstChildElement("value");
        const auto* cellName = value->FirstChildElement("name");
        out.push_back(std::string(at->Attribute("tag")) + "=" +
                      (cellName ? cellName->GetText() : value->GetText()));
      }
    }
    return out;
  }

  // partName of every part animation, Setup's then anime_1's.
  std::vector<std::string> partAnimeNames() {
    return texts(animePackPath(), {"animeList", "anime", "partAnimes", "partAnime", "partName"});
  }
};

using Strings = std::vector<std::string>;

TEST_F(AnimePackTest, PartsFromTheBottomLayerUp) {
  ASSERT_TRUE(write());
  EXPECT_EQ(parts("name"), (Strings{"root", "bottom", "middle", "top"}));
  EXPECT_EQ(parts("arrayIndex"), (Strings{"0", "1", "2", "3"}));
  EXPECT_EQ(parts("parentIndex"), (Strings{"-1", "0", "0", "0"}));
  EXPECT_EQ(parts("type"), (Strings{"null", "normal", "normal", "normal"}));
  EXPECT_EQ(parts("inheritType"), (Strings{"self", "parent", "parent", "parent"}));
  // Setup follows the packed order; anime_1 only hides nothing on the root.
  EXPECT_EQ(partAnimeNames(), (Strings{"root", "middle", "bottom", "top", "root"}));
  EXPECT_EQ(keys(0, "root"), (Strings{"POSX=0", "POSY=0", "ROTZ=0", "HIDE=0"}));
  EXPECT_EQ(keys(0, "middle"), (Strings{"CELL=middle", "POSX=-35", "POSY=15", "PRIO=2", "ROTZ=0", "HIDE=0"}));
  // Priority 0 writes no PRIO key.
  EXPECT_EQ(keys(0, "top"), (Strings{"CELL=top", "POSX=-45", "POSY=25", "ROTZ=0", "HIDE=0"}));
  EXPECT_EQ(keys(1, "root"), (Strings{"HIDE=0"}));
  EXPECT_EQ(texts(animePackPath(), {"name"}), Strings{"out"});
  EXPECT_EQ(texts(animePackPath(), {"cellmapNames", "value"}), Strings{"out.vtce"});
}

TEST_F(AnimePackTest, PositionIsTheVisibleCentreTruncatedTowardZero) {
  table.cellNames = {"a"};
  table.canvasHalfWidth = 50;
  table.canvasHalfHeight = 30;
  pack.cells = {packedCell("a", 0, 10, 20, 0, 0, 21, 11, 4, 4, 1)};
  ASSERT_TRUE(write());
  // -40 + 10.5 and 10 - 5.5.
  EXPECT_EQ(keys(0, "a"), (Strings{"CELL=a", "POSX=-29", "POSY=4", "PRIO=1", "ROTZ=0", "HIDE=0"}));
}

TEST_F(AnimePackTest, NothingIsWrittenWhenKeptOrNotAsked) {
  writeFile(animePackPath(), "kept");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(write(true));
  settings.is_vtaeoutput = false;
  EXPECT_TRUE(write(false));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(readFile(animePackPath()), "kept");
}

TEST_F(AnimePackTest, DefaultSetAttributesOfTheOptionFileAddKeys) {
  useOption(
      "<VantrelOption><projectSettings><defaultSetAttributes>"
      "<item>POSX</item><item>UVSY</item><item>CELL</item><item>VERT</item><item>sclx</item>"
      "<item>SCLX </item><item/><item>HIDE</item>"
      "</defaultSetAttributes></projectSettings></VantrelOption>");
  table.cellNames = {"a"};
  pack.cells = {packedCell("a", 0, 40, 20, 0, 0, 20, 20, 4, 4, 1)};
  ASSERT_TRUE(write());
  EXPECT_EQ(keys(0, "root"), (Strings{"POSX=0", "POSY=0", "ROTZ=0", "HIDE=0", "UVSY=1", "CELL=0", "VERT=0"}));
  EXPECT_EQ(keys(0, "a"), (Strings{"CELL=a", "POSX=0", "POSY=0", "PRIO=1", "ROTZ=0", "HIDE=0", "UVSY=1",
                                   "CELL=0", "VERT=0"}));
  EXPECT_EQ(keys(1, "root"), (Strings{"HIDE=0"}));

  // An option file without the list adds nothing.
  useOption("<VantrelOption/>");
  ASSERT_TRUE(write());
  EXPECT_EQ(keys(0, "root"), (Strings{"POSX=0", "POSY=0", "ROTZ=0", "HIDE=0"}));
}

TEST_F(AnimePackTest, OptionSettingsWithoutCanvasSizeGetOne) {
  useOption("<VantrelOption><animeSettings><fps>24</fps></animeSettings></VantrelOption>");
  settings.canvasSize = 1;
  ASSERT_TRUE(write());
  EXPECT_EQ(texts(animePackPath(), {"animeList", "anime", "settings", "canvasSize"}),
            (Strings{"100 60", "100 60"}));
}

}  // namespace
}  // namespace korvex::test
