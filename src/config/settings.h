// The settings of one conversion, filled from the command line or from the
// user's settings files (convert_info.json, then convert_info).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

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

  // Reads the JSON settings file at `path` ("\\" read as "/"). A failure,
  // with errorText set and the message errorText + path (and a line end),
  // when the file cannot be read, is not valid JSON, is not an object, or
  // lacks a key or holds one of the wrong type; the record is then untouched.
  // The values of "outputpath" and "outputname" are stored as found (UTF-8).
  Status readJsonSettings(const std::string& path);
  // Reads the text settings file at `path`: the output folder on the first
  // line, then seventeen words. A failure (no message; the system's reason)
  // only when it cannot be opened.
  Status readTextSettings(const std::string& path);
};

// The text-to-value rules of the options and the text settings file.
// Number: leading white space, an optional sign, decimal digits up to the
// first other character; no digits gives 0; values beyond int32 saturate.
int32_t parseNumber(const std::string& text);
// Boolean: exactly "TRUE" or "true" is true, anything else false.
bool parseBoolean(const std::string& text);
// Sort mode: "RECTMAX"/"rectmax" 1, "WMAX"/"wmax" 2, "HMAX"/"hmax" 3, else 0.
int32_t parseSortMode(const std::string& text);

// Reads option/value pairs (argv[0] is the program path). True = command-line
// mode with `settings` filled; false = settings-file mode, `settings` untouched.
// Names are read at odd positions, each followed by its value; a final name
// without a value is ignored. A non-empty outputpath gets a "/" appended, and
// "\\" becomes "/" in outputpath and inputfile. In command-line mode each
// unknown name, and a final name without a value, adds a "warning: " line to
// `warnings` saying what was done with it.
bool parseOptions(ConversionSettings& settings, int argc, const char* const argv[],
                  std::vector<std::string>* warnings = nullptr);

}  // namespace korvex
