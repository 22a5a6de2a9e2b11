// The conversion driver: one ConvertToVT runs one conversion.
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

  // Runs one conversion; argv[0] is the program path. False on failure.
  bool runConversion(int argc, const char* const argv[]);
  // Takes the input path: input mode, input folder, default output name and folder.
  void setInputPath(const std::string& path);

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
};

// The program entry: returns the process exit code.
int runKorvex(int argc, const char* const argv[]);

}  // namespace korvex
