#include "app/convert.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <vector>

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

  std::vector<std::string> optionWarnings;
  if (parseOptions(settings, argc, argv, &optionWarnings)) {
    printLine("exec from  args \n arg num = " + std::to_string(argc));
    for (const std::string& warning : optionWarnings) printLine(warning);
    setInputPath(settings.inputfile);
  } else {
    printLine("exec load json \n");
    if (argc == 2 && argv[1][0] == '-')
      printLine(std::string("warning: \"") + argv[1] +
                "\" is read as the input path: a single argument always names the input");
    for (int i = 2; i < argc; ++i)
      printLine(std::string("warning: argument \"") + argv[i] +
                "\" was ignored: with no option name on the command line, the settings come from the "
                "settings files and only the first argument is read, as the input");
    setInputPath(argc > 1 ? argv[1] : "");
    if (!readSettingsFiles()) return false;
  }

  // Margins of one pixel or less let neighbouring colours bleed into a cell.
  if (int64_t{settings.texture_padding_shape} + settings.inner_padding <= 1) printMessage("WARNING_0001");

  if (!extractCells()) return false;
  if (cellTable.cellCount() == 0)
    printLine("warning: " + inputPath +
              (isPsdInput ? " has no visible top-level layer or group" : " lists no PNG") +
              ", so the conversion yields no cell; the atlas and the documents will be empty");
  if (!report(validateCellNames(cellTable.cellNames))) return false;
  assignPriorities();
  deriveOutputPaths();
  detectExistingOutputs();
  // The documents need the Documents folder (for the editor option file);
  // without it the conversion stops silently, and it stops here, before the
  // atlas is written, so a failed run leaves no output behind.
  if (documentsFolder().empty()) return false;
  // The cells of an earlier cell map that the document no longer has keep
  // their place in the atlas as empty placeholders.
  if (settings.is_oldPivotUse && !report(ImportPrevCellMap(cellMapPath, cellTable.cellNames, prev, printLine)))
    return false;
  if (!report(texturePack.PackCells(packSettingsOf(settings), cellTable, placeholderNames(prev), printLine)))
    return false;
  // The atlas and the documents are put in place together, once all of
  // them are written; a failure leaves every earlier output as it was.
  platform::OutputSet outputs;
  if (!report(writeAtlas(outputs))) return false;
  if (!writeDocuments(outputs)) return false;
  return report(outputs.commit());
}

Status ConvertToVT::writeAtlas(platform::OutputSet& outputs) const {
  const size_t slash = texturePath.rfind('/');
  if (slash != std::string::npos) {
    Status folder = platform::createFolders(texturePath.substr(0, slash + 1));
    if (!folder) return folder.withMessage("error: write_png " + texturePath + "\n");
  }
  return write_png(reinterpret_cast<const uint8_t*>(texturePack.atlas()), texturePack.textureWidth(),
                   texturePack.textureHeight(), texturePath, outputs);
}

PackSettings packSettingsOf(const ConversionSettings& settings) {
  PackSettings pack;
  pack.textureWidth = settings.texture_width;
  pack.textureHeight = settings.texture_height;
  pack.spacing = settings.texture_padding_shape;
  pack.packUnit = settings.pack_padding;
  pack.border = settings.padding_border;
  pack.innerPadding = settings.inner_padding;
  pack.sortMode = settings.sortmode;
  return pack;
}

bool ConvertToVT::readSettingsFiles() {
  // No Documents folder: nowhere to look, and nothing to say.
  if (!buildSettingsBasePath(settingsBasePath)) return false;
  // A non-empty "outputname" in the JSON file replaces the name derived from
  // the input path; the derived name is already in the console encoding.
  const std::string derivedName = std::move(settings.outputname);
  settings.outputname.clear();
  const Status json = settings.readJsonSettings(settingsBasePath + ".json");
  if (json) {
    // The file's texts are UTF-8; paths and names live in the console encoding.
    settings.outputpath = utf8ToConsole(settings.outputpath);
    settings.outputname = settings.outputname.empty() ? derivedName : utf8ToConsole(settings.outputname);
    return true;
  }
  settings.outputname = derivedName;
  report(json);
  printMessage("ERROT_0010");
  // The text reader fails only when the file cannot be opened.
  const Status text = settings.readTextSettings(settingsBasePath);
  return text || report(text.withMessage(formatMessage("ERROT_0011") + "\n"));
}

void ConvertToVT::setInputPath(const std::string& path) {
  inputPath = path;
  // A file that begins with the PSD signature is a document whatever its name.
  std::string start;
  isPsdInput = (path.size() > 3 && (path.find(".psd") != std::string::npos || path.find(".psb") != std::string::npos)) ||
               (platform::readFileStart(path, 4, start) && start == "8BPS");

  size_t slash = lastPathSeparator(path);
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  size_t nameEnd = (dot == std::string::npos || dot < nameStart) ? path.size() : dot;
  if (settings.outputname.empty()) settings.outputname = path.substr(nameStart, nameEnd - nameStart);

  inputDir = path.substr(0, nameStart);
  if (settings.outputpath.empty()) settings.outputpath = inputDir;
}

bool ConvertToVT::extractCells() {
  if (!isPsdInput) return report(readImageInfoFile(inputPath, inputDir, cellTable, printLine));
  return report(extractPsdCells(inputPath, cellTable, printLine));
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

bool ConvertToVT::writeDocuments(platform::OutputSet& outputs) {
  VTOptionReader reader;
  if (!reader.loadEditorOptions(printLine)) return false;  // no Documents folder: stop silently
  // When a document cannot be made or written the conversion fails and no
  // later success is reported.
  if (!report(writeCellMap(cellMapPath, settings, cellTable, texturePack, prev, reader, outputs, printLine)))
    return false;
  if (!report(writeAnimePack(animePackPath, settings, cellTable, texturePack, keepExistingAnimePack, reader,
                             outputs, printLine)))
    return false;
  if (!keepExistingProject && settings.is_vtpjoutput) {
    if (!report(writeProject(projectPath, settings.outputname, reader.document, outputs, printLine)))
      return false;
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
  reportUndrawn(all, printLine);
  psd::Compositor compositor(document);
  psd::Box touched;
  if (!compositor.compositeDocument(touched)) {
    printLine("error: not enough memory to render " + psdPath + ".");
    return false;
  }
  return report(write_png(reinterpret_cast<const uint8_t*>(compositor.canvas()), document.width, document.height, pngPath));
}

bool report(const Status& status) {
  if (status) return true;
  platform::writeConsole(status.message());
  if (!status.reason().empty()) printLine("reason: " + status.reason());
  return false;
}

namespace {

constexpr const char kVersion[] = "2.4.4";

const char kUsage[] = R"(Usage:
  korvex -I INPUT [-O FOLDER] [option value]...   command-line mode
  korvex INPUT                                     settings-file mode

Converts a layered PSD (or an image information file listing PNGs) into a
texture atlas NAME.png and the Vantrel documents NAME.vtce (cell map),
NAME.vtae (animation pack) and NAME.vtpj (project).

Command-line mode: options come in name/value pairs, every setting from the
command line. Settings-file mode: with only an input path, the settings come
from <Documents>/Korvex/convert_info.json (or convert_info).

INPUT is read as a PSD when its path contains ".psd" or ".psb" or the file
begins with the PSD signature; otherwise as an image information file: a
text file that names PNG files (relative to its folder), each name ended by
"#", e.g.
  hero_head.png#
  hero_body.png#hero_arm.png#

Options (short, long, default):
  -I   --inputfile        (none)     the input PSD or image information file
  -O   --outputpath       (input's)  output folder, created when missing;
                                     by default the input file's folder
  -ON  --outputname       (input's)  base name of the output files; by
                                     default the input file's name
  -TW  --texture_width    0          atlas width (0: automatic)
  -TH  --texture_height   0          atlas height (0: automatic)
  -PS  --pading_shape     2          margin between cells (one "d")
  -PP  --pack_padding     1          packing margin
  -PB  --padding_border   4          margin along the atlas border
  -PI  --padding_innner   0          margin inside each cell (three "n")
  -AP  --add_priority     1          drawing priority step (0: keep)
  -SO  --sortmode         RECTMAX    RECTMAX, WMAX, HMAX, or by name
  -OA  --out_vtae         false      write the animation pack (true/false)
  -OP  --out_vtpj         false      write the project
  -OW  --overwrite        false      replace an existing .vtae and .vtpj
  -AN  --add_null         false      a null part above each cell part
  -UP  --use_layer_pivot  false      "+NAME" layers set the pivot of NAME
  -UR  --use_layer_root   false      place parts relative to layer "root"
  -UO  --use_oldpivot     false      keep pivots and meshes of NAME.vtce
  -CS  --canvas_size      0          1: animations take the canvas size
  -J   --json             false      accepted, changes nothing

  -h   --help             this text
  -V   --version          the version

  korvex --render IN.psd OUT.png   writes the whole document as Korvex draws
                                   it, to check what it makes of a file

Example:
  korvex -I art/hero.psd -O out -OA true -OP true

Messages go to standard error; a failure's message may be followed by a
line "reason: ...". Exit code 0 on success, 1 on failure.
)";

int runChecked(int argc, const char* const argv[]) {
  if (argc <= 1) return 255;
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (first == "--version" || first == "-V") {
    std::printf("Korvex %s\n", kVersion);
    return 0;
  }
  platform::setupProcessLocale();
  loadMessageCatalogue();
  if (argc == 4 && std::string(argv[1]) == "--render") return renderPsdToPng(argv[2], argv[3]) ? 0 : 1;
  auto converter = std::make_unique<ConvertToVT>();
  printLine(std::string("Korvex CUI Ver") + kVersion);
  for (int i = 0; i < argc; ++i) printLine(argv[i]);
  bool ok = converter->runConversion(argc, argv);
  converter.reset();
  return ok ? 0 : 1;
}

}  // namespace

int runKorvex(int argc, const char* const argv[]) {
  // Korvex's own code throws nothing; what the standard library throws (out
  // of memory, above all) ends the run with its reason, never an abort.
  try {
    return runChecked(argc, argv);
  } catch (const std::bad_alloc&) {
    // Written without allocating: there may be no memory left.
    std::fputs("reason: out of memory\n", stderr);
    std::fflush(stderr);
  } catch (const std::exception& error) {
    printLine(std::string("reason: unexpected failure: ") + error.what());
  } catch (...) {
    printLine("reason: unexpected failure");
  }
  return 1;
}

}  // namespace korvex
