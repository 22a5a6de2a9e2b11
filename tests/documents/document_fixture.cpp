#include "document_fixture.h"

#include <cstdlib>

#include "documents/documents.h"
#include "text/messages.h"

namespace korvex::test {

PackedCell packedCell(const std::string& name, int32_t kind, int32_t canvasX, int32_t canvasY,
                      int32_t trimLeft, int32_t trimTop, int32_t width, int32_t height,
                      int32_t packX, int32_t packY, int32_t priority, int32_t innerPadding) {
  PackedCell cell;
  cell.name = name;
  cell.kind = static_cast<CellKind>(kind);
  cell.packed = kind < 2;
  cell.canvasX = canvasX;
  cell.canvasY = canvasY;
  cell.trimLeft = trimLeft;
  cell.trimTop = trimTop;
  cell.width = width;
  cell.height = height;
  cell.trimRight = trimLeft + width;
  cell.trimBottom = trimTop + height;
  cell.packX = packX;
  cell.packY = packY;
  cell.packRight = packX + 2 * innerPadding + width;
  cell.packBottom = packY + 2 * innerPadding + height;
  cell.priority = priority;
  cell.innerPadding = innerPadding;
  return cell;
}

std::string goldenPath(const std::string& name) {
  return std::string(KORVEX_SOURCE_DIR) + "/tests/documents/golden/" + name;
}

void expectGolden(const std::string& name, const std::string& actual) {
  const char* update = std::getenv("KORVEX_UPDATE_GOLDEN");
  if (update && std::string(update) == "1") {
    writeFile(goldenPath(name), actual);
    return;
  }
  ASSERT_TRUE(fileExists(goldenPath(name))) << name;
  EXPECT_EQ(readFile(goldenPath(name)), actual) << "differs from golden file " << name;
}

DocumentTest::DocumentTest() : loaded_(true, tinyxml2::PRESERVE_WHITESPACE) {
  loadMessageCatalogue();
  settings.outputname = "out";
  settings.is_vtaeoutput = true;
  settings.is_vtpjoutput = true;
  useDefaults();
}

void DocumentTest::useDefaults() { options.document.LoadFile(dir.file("missing.vtop").c_str()); }

void DocumentTest::useOption(const std::string& text) {
  ASSERT_EQ(options.document.Parse(text.c_str()), tinyxml2::XML_SUCCESS);
}

void DocumentTest::writeAll() {
  EXPECT_TRUE(writeCellMap(cellMapPath(), settings, table, pack, prev, options, outputs, lines));
  EXPECT_TRUE(writeAnimePack(animePackPath(), settings, table, pack, false, options, outputs, lines));
  EXPECT_TRUE(writeProject(projectPath(), settings.outputname, options.document, outputs, lines));
  EXPECT_TRUE(outputs.commit());
}

Status DocumentTest::inPlace(const Status& written) { return written ? outputs.commit() : written; }

tinyxml2::XMLDocument& DocumentTest::load(const std::string& path) {
  loaded_.Clear();
  EXPECT_EQ(loaded_.LoadFile(path.c_str()), tinyxml2::XML_SUCCESS) << path;
  return loaded_;
}

namespace {
void collect(const tinyxml2::XMLElement* element, const std::vector<const char*>& names, size_t depth,
             std::vector<std::string>& out) {
  for (; element; element = element->NextSiblingElement(names[depth])) {
    if (depth + 1 == names.size()) {
      out.push_back(element->GetText() ? element->GetText() : "");
    } else {
      collect(element->FirstChildElement(names[depth + 1]), names, depth + 1, out);
    }
  }
}
}  // namespace

std::vector<std::string> DocumentTest::texts(const std::string& path,
                                             const std::vector<const char*>& names) {
  std::vector<std::string> out;
  const tinyxml2::XMLElement* root = load(path).RootElement();
  if (root && !names.empty()) collect(root->FirstChildElement(names[0]), names, 0, out);
  return out;
}

}  // namespace korvex::test
