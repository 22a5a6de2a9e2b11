// The project (.vtpj): the editor settings of the project template and the
// names of the cell map and animation pack beside it.
//
//   <VantrelProject version="2.00.00">
//       <name>art</name>
//       ... settings, animeSettings, texPackSettings from the template ...
//       <cellmapNames><value>art.vtce</value></cellmapNames>
//       <animepackNames><value>art.vtae</value></animepackNames>
//       <lastAnimeFile>art.vtae</lastAnimeFile>
//       <lastAnimeName>anime_1</lastAnimeName>
//       <lastCellMapFile>art.vtce</lastCellMapFile>
//   </VantrelProject>
#include <string>

#include "documents/document_build.h"
#include "documents/document_file.h"
#include "documents/documents.h"
#include "documents/templates.h"
#include "text/encoding.h"

namespace korvex {

Status writeProject(const std::string& projectPath, const std::string& outputName,
                    const tinyxml2::XMLDocument& option, platform::OutputSet& outputs,
                    const LineSink& lines) {
  const std::string name = consoleToUtf8(outputName);
  const std::string cellMapName = name + ".vtce";
  const std::string animePackName = name + ".vtae";
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  Status loaded = Vtpj_template().makeDocument(projectPath, option, lines, document);
  if (!loaded) return loaded;

  using tinyxml2::XMLElement;
  ElementFinder find(projectPath);
  XMLElement* root = find(&document, "VantrelProject");
  XMLElement* nameElement = find(root, "name");
  XMLElement* cellMaps = find(find(root, "cellmapNames"), "value");
  XMLElement* animePacks =
      find(find(root, "animepackNames"), "value");
  XMLElement* lastAnimeFile = find(root, "lastAnimeFile");
  XMLElement* lastCellMapFile = find(root, "lastCellMapFile");
  if (!nameElement || !cellMaps || !animePacks || !lastAnimeFile || !lastCellMapFile) return find.status();

  nameElement->SetText(name.c_str());
  cellMaps->SetText(cellMapName.c_str());
  animePacks->SetText(animePackName.c_str());
  lastAnimeFile->SetText(animePackName.c_str());
  lastCellMapFile->SetText(cellMapName.c_str());
  return saveDocument(document, projectPath, outputs);
}

}  // namespace korvex
