// Shared set-up of the document tests: hand-filled packing records, the
// option file in its two states, the files written and golden comparison.
#pragma once

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "config/user_folder.h"
#include "image/cell_image.h"
#include "documents/prev_cell_map.h"
#include "pack/texture_pack.h"
#include "platform/platform.h"
#include "platform/status.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace korvex::test {

// A packed record as the packer leaves it: trimmed box, atlas rectangle
// (inner padding on both sides), priority.
PackedCell packedCell(const std::string& name, int32_t kind, int32_t canvasX, int32_t canvasY,
                      int32_t trimLeft, int32_t trimTop, int32_t width, int32_t height,
                      int32_t packX, int32_t packY, int32_t priority = 0,
                      int32_t innerPadding = 0);

// The path of a file under tests/documents/golden.
std::string goldenPath(const std::string& name);

// Compares `actual` with the golden file; with KORVEX_UPDATE_GOLDEN=1 in the
// environment the golden file is rewritten instead.
void expectGolden(const std::string& name, const std::string& actual);

class DocumentTest : public ::testing::Test {
 protected:
  DocumentTest();

  // The option document as when no option file loaded.
  void useDefaults();
  // The option document loaded from `text`.
  void useOption(const std::string& text);

  // Writes all three documents to dir/out.*; EXPECTs each writer to succeed.
  void writeAll();
  // A writer's result, with the file it added to `outputs` put in place
  // when it succeeded.
  Status inPlace(const Status& written);

  std::string cellMapPath() const { return dir.file("out.vtce"); }
  std::string animePackPath() const { return dir.file("out.vtae"); }
  std::string projectPath() const { return dir.file("out.vtpj"); }

  // Loads `path` for queries; FAILs when it does not load.
  tinyxml2::XMLDocument& load(const std::string& path);
  // Texts of the elements found by walking `names` from the root, with every
  // match of the last name ("cells/cell/name" gives all cell names).
  std::vector<std::string> texts(const std::string& path, const std::vector<const char*>& names);

  TempDir dir;
  ConversionSettings settings;
  CellTable table;
  VTTexturePack pack;
  PrevCellMap prev;
  VTOptionReader options;
  platform::OutputSet outputs;
  // The writers' progress and success lines, printed as the driver prints them.
  LineSink lines = printLine;

 private:
  tinyxml2::XMLDocument loaded_;
};

}  // namespace korvex::test
