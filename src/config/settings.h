// The settings of one conversion, filled from the command line or from the
// user's settings files (convert_info.json, then convert_info).
#pragma once

#include <cstdint>
#include <string>

namespace korvex {

enum SortMode : int32_t {
  kSortByName = 0,
  kSortRectMax = 1,  // "RECTMAX": by area, descending
  kSortWMax = 2,     // "WMAX": by width, descending
  kSortHMax = 3,     // "HMAX": by height, descending
};

struct ConversionSettings {
  int32_t texture_width = 0;
  int32_t texture_height = 0;
  int32_t texture_padding_shape = 2;
  int32_t pack_padding = 1;
  int32_t add_priority = 1;
  bool is_vtaeoutput = false;
  bool is_vtpjoutput = false;
  bool is_addnull = false;
  bool is_overwrite = false;
  bool is_layerPivotUse = false;
  bool is_rootLayerUse = false;
  bool is_oldPivotUse = false;
  int32_t sortmode = kSortRectMax;
  int32_t padding_border = 4;
  int32_t canvasSize = 0;
  int32_t inner_padding = 0;
  std::string outputpath;
  std::string outputname;
  std::string inputfile;
  bool json = false;
  std::string errorText;

  // Reads the JSON settings file at `path`; false (errorText set, the reason
  // and path printed) when it cannot be read, parsed, or has the wrong shape.
  bool readJsonSettings(const std::string& path);
  // Reads the text settings file at `path`; false only when it cannot be opened.
  bool readTextSettings(const std::string& path);
};

// Reads option/value pairs (argv[0] is the program path). True = command-line
// mode with `settings` filled; false = settings-file mode, `settings` untouched.
bool parseOptions(ConversionSettings& settings, int argc, const char* const argv[]);

}  // namespace korvex
