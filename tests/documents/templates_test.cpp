// The templates: which source is announced, the copy rules of the option
// file, and the project's texts.
#include "document_fixture.h"
#include "documents/documents.h"
#include "documents/templates.h"

namespace korvex::test {
namespace {

using Strings = std::vector<std::string>;

class TemplatesTest : public DocumentTest {};

// A template whose text does not read back as XML.
class BrokenTemplate : public Vtxx_template {
 public:
  void makeFromOption(const tinyxml2::XMLDocument&) override { makeDefault(); }
  void makeDefault() override { text_ = "<VantrelCellMap version=\"2.00.00\">\r\n"; }
};

TEST_F(TemplatesTest, EveryTemplateAnnouncesItsSource) {
  Vtce_template cellMap;
  testing::internal::CaptureStderr();
  cellMap.build(options.document, lines);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "make vtpj from default.\n");
  useOption("<VantrelOption/>");
  Vtae_template animePack;
  testing::internal::CaptureStderr();
  animePack.build(options.document, lines);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "make vtpj from vtop.\n");
}

TEST_F(TemplatesTest, TextThatCannotBeReadBackIsAnError) {
  BrokenTemplate broken;
  broken.setPath("x.vtce");
  broken.build(options.document, [](const std::string&) {});
  tinyxml2::XMLDocument document;
  const Status loaded = broken.load(document);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(loaded.message().rfind("error: cannot read back the document made for x.vtce: ", 0), 0u)
      << loaded.message();
}

TEST_F(TemplatesTest, SetupAnimationIsOneFrameLongWhateverTheOptionSays) {
  useOption("<VantrelOption><animeSettings><fps>24</fps><frameCount>25</frameCount>"
            "</animeSettings></VantrelOption>");
  ASSERT_TRUE(inPlace(writeAnimePack(animePackPath(), settings, table, pack, false, options, outputs, lines)));
  EXPECT_EQ(texts(animePackPath(), {"settings", "frameCount"}), Strings{"25"});
  EXPECT_EQ(texts(animePackPath(), {"animeList", "anime", "settings", "frameCount"}),
            (Strings{"1", "25"}));
  EXPECT_EQ(texts(animePackPath(), {"animeList", "anime", "settings", "fps"}), (Strings{"24", "24"}));
}

TEST_F(TemplatesTest, MissingOptionSectionsLeaveEmptyTargets) {
  useOption("<SomethingElse><animeSettings><fps>24</fps></animeSettings></SomethingElse>");
  writeAll();
  const std::string project = readFile(projectPath());
  EXPECT_NE(project.find("    <exportPath/>\r\n    <settings/>\r\n    <animeSettings/>\r\n"
                         "    <texPackSettings/>\r\n"),
            std::string::npos)
      << project;
  EXPECT_NE(readFile(cellMapPath()).find("    <texPackSettings/>\r\n"), std::string::npos);
  EXPECT_NE(readFile(animePackPath()).find("            <settings/>\r\n            <labels/>\r\n"),
            std::string::npos);
}

TEST_F(TemplatesTest, ExportPathIsCopiedIntoTheProjectOnly) {
  useOption("<VantrelOption><exportPath>D:/out</exportPath></VantrelOption>");
  writeAll();
  EXPECT_EQ(texts(projectPath(), {"exportPath"}), Strings{"D:/out"});
  EXPECT_EQ(texts(cellMapPath(), {"exportPath"}), Strings{""});
  EXPECT_EQ(texts(animePackPath(), {"exportPath"}), Strings{""});
}

TEST_F(TemplatesTest, ProjectNamesItsCompanions) {
  settings.outputname = "art";
  ASSERT_TRUE(inPlace(writeProject(projectPath(), "art", options.document, outputs, lines)));
  EXPECT_EQ(texts(projectPath(), {"name"}), Strings{"art"});
  EXPECT_EQ(texts(projectPath(), {"cellmapNames", "value"}), Strings{"art.vtce"});
  EXPECT_EQ(texts(projectPath(), {"animepackNames", "value"}), Strings{"art.vtae"});
  EXPECT_EQ(texts(projectPath(), {"lastAnimeFile"}), Strings{"art.vtae"});
  EXPECT_EQ(texts(projectPath(), {"lastCellMapFile"}), Strings{"art.vtce"});
  EXPECT_EQ(texts(projectPath(), {"lastAnimeName"}), Strings{"anime_1"});
  EXPECT_EQ(texts(projectPath(), {"settings", "availableAttributes", "item"}).size(), 38u);
}

TEST_F(TemplatesTest, MarkupInNamesIsEscaped) {
  settings.outputname = "a&b<c>";
  table.cellNames = {"x&y"};
  pack.cells = {packedCell("x&y", 0, 0, 0, 0, 0, 4, 4, 4, 4)};
  writeAll();
  const std::string cellMap = readFile(cellMapPath());
  EXPECT_NE(cellMap.find("<name>a&amp;b&lt;c&gt;</name>"), std::string::npos) << cellMap;
  EXPECT_NE(cellMap.find("<name>x&amp;y</name>"), std::string::npos) << cellMap;
  EXPECT_EQ(texts(projectPath(), {"lastCellMapFile"}), Strings{"a&b<c>.vtce"});
}

TEST_F(TemplatesTest, AFailedProjectSaveIsAnError) {
  testing::internal::CaptureStderr();
  const Status project = writeProject(dir.file("missing/out.vtpj"), "out", options.document, outputs, lines);
  const Status animePack = writeAnimePack(dir.file("missing/out.vtae"), settings, table, pack, false, options, outputs, lines);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(project.message(), "error: cannot write " + dir.file("missing/out.vtpj") + "\n");
  EXPECT_EQ(project.reason(),
            "cannot create a file beside " + dir.file("missing/out.vtpj") + ": No such file or directory");
  EXPECT_EQ(animePack.message(), "error: cannot write " + dir.file("missing/out.vtae") + "\n");
  EXPECT_EQ(err.find("成功"), std::string::npos) << err;
}

}  // namespace
}  // namespace korvex::test
