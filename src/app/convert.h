// The conversion driver: one ConvertToVT runs one conversion, from the
// settings to the last document.
#pragma once

#include <string>

#include <tinyxml2.h>

#include "config/settings.h"
#include "image/cell_image.h"
#include "pack/prev_cell_map.h"
#include "pack/texture_pack.h"

namespace korvex {

class ConvertToVT {
 public:
  ConvertToVT() = default;
  virtual ~ConvertToVT() = default;

  // Runs one conversion; argv[0] is the program path. Settings come from the
  // options, or, with a bare input path, from the user's settings files; then
  // extraction, name checks, priorities, packing and the documents, in that
  // order. False (its message printed) as soon as a step fails.
  bool runConversion(int argc, const char* const argv[]);
  // Takes the input path: PSD or information-file input (".psd" anywhere in
  // the path, case-sensitive), the input folder (up to and including the last
  // "/" or "\"), the output name (the file name without its last extension,
  // unless a name is already set) and an empty output folder (the input folder).
  void setInputPath(const std::string& path);
  // Drawing priorities from the last cell upwards: each cell adds
  // add_priority to a running sum except "root" and names beginning with
  // "+", which share the value of the cell after them. Nothing when the
  // step is 0.
  void assignPriorities();
  // outputpath + outputname + ".png", ".vtpj", ".vtce", ".vtae".
  void deriveOutputPaths();
  // Keeps an existing animation pack that loads as XML, and an existing
  // project file, unless overwriting is on.
  void detectExistingOutputs();

  ConversionSettings settings;
  bool isPsdInput = false;
  std::string inputPath;
  std::string inputDir;
  std::string settingsBasePath;
  std::string texturePath;
  std::string projectPath;
  std::string cellMapPath;
  std::string animePackPath;
  PrevCellMap prev;
  CellTable cellTable;
  bool keepExistingAnimePack = false;
  bool keepExistingProject = false;
  VTTexturePack texturePack;
  tinyxml2::XMLDocument animePackDocument{true, tinyxml2::PRESERVE_WHITESPACE};

 private:
  // Fills the settings from the user's settings files (JSON, else text).
  bool readSettingsFiles();
  bool extractCells();
  bool writeDocuments();
};

// `korvex --render IN.psd OUT.png`: writes the whole document as Korvex
// composites it (every visible top-level item) as an RGBA PNG of the
// canvas size, transparent where nothing is drawn. False (its message
// printed) when the document cannot be read, rendered or written.
bool renderPsdToPng(const std::string& psdPath, const std::string& pngPath);

// The program entry: returns the process exit code (0 success, 1 failure,
// 255 when started without arguments).
int runKorvex(int argc, const char* const argv[]);

}  // namespace korvex
