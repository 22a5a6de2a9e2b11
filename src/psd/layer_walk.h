// The layer walk: visible top-level layers and groups of a PSD become cells.
#pragma once

#include <string>

#include "image/cell_image.h"

namespace korvex {

enum class ExtractStatus {
  kOk,
  kLoadFailed,       // the document could not be loaded (the driver prints ERROR_0003)
  kTooManyCells,     // more than kMaxCells cells; the walk printed its message
  kCompositeFailed,  // a group composite failed; the walk printed its message
};

// Loads the PSD at `path` and fills `table` with its cells, topmost first,
// printing " read (" / " skip (" lines. `reason` receives the loader's
// error on kLoadFailed.
ExtractStatus extractPsdCells(const std::string& path, CellTable& table, std::string* reason = nullptr);

}  // namespace korvex
