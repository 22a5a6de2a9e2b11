// The three documents compared byte for byte with golden files, made from the
// built-in defaults and from an option file with every copied section.
#include "document_fixture.h"
#include "documents/templates.h"

namespace korvex::test {
namespace {

class GoldenDocumentsTest : public DocumentTest {
 protected:
  // A 200 x 100 canvas: a "+head" marker above "head", "arm", "body" and a
  // "root" layer, in the packer's order (largest first).
  GoldenDocumentsTest() {
    table.cellNames = {"+head", "head", "arm", "body", "root"};
    table.canvasHalfWidth = 100;
    table.canvasHalfHeight = 50;
    pack.SetTextureSize(256, 128);
    pack.cells = {packedCell("body", 0, 50, 30, 2, 3, 60, 40, 4, 4, 1),
                  packedCell("arm", 0, 120, 40, 1, 1, 15, 31, 102, 4, 2),
                  packedCell("head", 0, 70, 5, 0, 0, 30, 24, 68, 4, 3),
                  packedCell("+head", 2, 85, 10, 3, 4, 4, 4, 0, 0, 3),
                  packedCell("root", 3, 90, 80, 0, 0, 20, 10, 0, 0, 0)};
    settings.is_layerPivotUse = true;
  }
};

TEST_F(GoldenDocumentsTest, DefaultTextsOfTheTemplates) {
  Vtpj_template project;
  project.makeDefault();
  expectGolden("template_default.vtpj", project.text());
  Vtce_template cellMap;
  cellMap.makeDefault();
  expectGolden("template_default.vtce", cellMap.text());
  Vtae_template animePack;
  animePack.makeDefault();
  expectGolden("template_default.vtae", animePack.text());
}

TEST_F(GoldenDocumentsTest, DocumentsFromTheDefaults) {
  writeAll();
  expectGolden("default.vtce", readFile(cellMapPath()));
  expectGolden("default.vtae", readFile(animePackPath()));
  expectGolden("default.vtpj", readFile(projectPath()));
}

TEST_F(GoldenDocumentsTest, DocumentsFromAnOptionFile) {
  useOption(readFile(goldenPath("option.vtop")));
  settings.is_addnull = true;
  settings.is_rootLayerUse = true;
  settings.canvasSize = 1;
  writeAll();
  expectGolden("option.vtce", readFile(cellMapPath()));
  expectGolden("option.vtae", readFile(animePackPath()));
  expectGolden("option.vtpj", readFile(projectPath()));
}

}  // namespace
}  // namespace korvex::test
