#include "app/convert.h"

#include <memory>

#include "config/user_folder.h"
#include "documents/documents.h"
#include "image/info_file.h"
#include "image/png.h"
#include "platform/platform.h"
#include "psd/compositor.h"
#include "psd/layer_walk.h"
#include "psd/reader.h"
#include "text/cell_names.h"
#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {

bool ConvertToVT::runConversion(int argc, const char* const argv[]) {
  prev = PrevCellMap{};
  cellTable = CellTable{};

  if (parseOptions(settings, argc, argv)) {
    printLine("exec from  args \n arg num = " + std::to_string(argc));
    setInputPath(settings.inputfile);
  } else {
    printLine("exec load json \n");
    setInputPath(argc > 1 ? argv[1] : "");
    if (!readSettingsFiles()) return false;
  }

  // Margins of one pixel or less let neighbouring colours bleed into a cell.
  if (int64_t{settings.texture_padding_shape} + settings.inner_padding <= 1) printMessage("WARNING_0001");

  if (!extractCells()) return false;
  if (!validateCellNames(cellTable.cellNames)) return false;
  assignPriorities();
  deriveOutputPaths();
  detectExistingOutputs();
  // The documents need the Documents folder (for the editor option file);
  // without it the conversion stops silently, and it stops here, before the
  // atlas is written, so a failed run leaves no output behind.
  if (documentsFolder().empty()) return false;
  if (!PackCells(settings, cellTable, prev, cellMapPath, texturePath, texturePack)) return false;
  return writeDocuments();
}

bool ConvertToVT::readSettingsFiles() {
  // No Documents folder: nowhere to look, and nothing to say.
  if (!buildSettingsBasePath(settingsBasePath)) return false;
  // A non-empty "outputname" in the JSON file replaces the name derived from
  // the input path; the derived name is already in the console encoding.
  const std::string derivedName = std::move(settings.outputname);
  settings.outputname.clear();
  if (settings.readJsonSettings(settingsBasePath + ".json")) {
    // The file's texts are UTF-8; paths and names live in the console encoding.
    settings.outputpath = utf8ToConsole(settings.outputpath);
    settings.outputname = settings.outputname.empty() ? derivedName : utf8ToConsole(settings.outputname);
    return true;
  }
  settings.outputname = derivedName;
  printMessage("ERROT_0010");
  if (settings.readTextSettings(settingsBasePath)) return true;
  printMessage("ERROT_0011");
  return false;
}

void ConvertToVT::setInputPath(const std::string& path) {
  inputPath = path;
  isPsdInput = path.size() > 3 && path.find(".psd") != std::string::npos;

  size_t slash = lastPathSeparator(path);
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  size_t nameEnd = (dot == std::string::npos || dot < nameStart) ? path.size() : dot;
  if (settings.outputname.empty()) settings.outputname = path.substr(nameStart, nameEnd - nameStart);

  inputDir = path.substr(0, nameStart);
  if (settings.outputpath.empty()) settings.outputpath = inputDir;
}

bool ConvertToVT::extractCells() {
  if (isPsdInput) {
    switch (extractPsdCells(inputPath, cellTable)) {
      case ExtractStatus::kOk: return true;
      case ExtractStatus::kLoadFailed: printMessage("ERROR_0003", inputPath.c_str()); return false;
      case ExtractStatus::kTooManyCells:
      case ExtractStatus::kCompositeFailed: return false;  // the walk printed its message
    }
    return false;
  }
  return readImageInfoFile(inputPath, inputDir, cellTable) == 0;
}

void ConvertToVT::assignPriorities() {
  const int32_t step = settings.add_priority;
  if (step == 0) return;
  int32_t sum = 0;
  for (size_t i = cellTable.cellNames.size(); i-- > 0;) {
    const std::string& name = cellTable.cellNames[i];
    bool sharesNext = name == "root" || (!name.empty() && name[0] == '+');
    // Wraps like a 32-bit sum rather than overflowing.
    if (!sharesNext) sum = static_cast<int32_t>(static_cast<uint32_t>(sum) + static_cast<uint32_t>(step));
    if (i < cellTable.cells.size() && cellTable.cells[i]) cellTable.cells[i]->priority = sum;
  }
}

void ConvertToVT::deriveOutputPaths() {
  const std::string base = settings.outputpath + settings.outputname;
  texturePath = base + ".png";
  projectPath = base + ".vtpj";
  cellMapPath = base + ".vtce";
  animePackPath = base + ".vtae";
}

void ConvertToVT::detectExistingOutputs() {
  keepExistingAnimePack = false;
  keepExistingProject = false;
  if (loadXmlFile(animePackDocument, animePackPath) && !settings.is_overwrite) keepExistingAnimePack = true;
  // A project file that merely exists is enough; its contents are not read.
  // A folder of that name is no project file.
  if (platform::isRegularFile(projectPath) && !settings.is_overwrite) keepExistingProject = true;
}

bool ConvertToVT::writeDocuments() {
  VTOptionReader reader;
  if (!reader.loadEditorOptions()) return false;  // no Documents folder: stop silently
  // Each writer prints its own message when its document cannot be made or
  // saved; the conversion then fails and no later success is reported.
  if (!writeCellMap(cellMapPath, settings, cellTable, texturePack, prev, reader)) return false;
  if (!writeAnimePack(animePackPath, settings, cellTable, texturePack, keepExistingAnimePack, reader))
    return false;
  if (!keepExistingProject && settings.is_vtpjoutput) {
    if (!writeProject(projectPath, settings.outputname, reader.document)) return false;
    printMessage("INFO_0005");
  }
  return true;
}

bool renderPsdToPng(const std::string& psdPath, const std::string& pngPath) {
  psd::Document document;
  std::string reason;
  if (!psd::loadDocument(psdPath, document, reason)) {
    printMessage("ERROR_0003", psdPath.c_str());
    printLine("reason: " + reason);
    return false;
  }
  std::vector<const psd::LayerRecord*> all;
  for (const psd::LayerRecord& r : document.layerRecords) all.push_back(&r);
  printUndrawnWarnings(all);
  psd::Compositor compositor(document);
  psd::Box touched;
  if (!compositor.compositeDocument(touched)) {
    printLine("error: not enough memory to render " + psdPath + ".");
    return false;
  }
  return write_png(reinterpret_cast<const uint8_t*>(compositor.canvas()), document.width, document.height, pngPath);
}

int runKorvex(int argc, const char* const argv[]) {
  if (argc <= 1) return 255;
  platform::setupProcessLocale();
  loadMessageCatalogue();
  if (argc == 4 && std::string(argv[1]) == "--render") return renderPsdToPng(argv[2], argv[3]) ? 0 : 1;
  auto converter = std::make_unique<ConvertToVT>();
  printLine("Korvex CUI Ver2.4.4");
  for (int i = 0; i < argc; ++i) printLine(argv[i]);
  bool ok = converter->runConversion(argc, argv);
  converter.reset();
  return ok ? 0 : 1;
}

}  // namespace korvex
