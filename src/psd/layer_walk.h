// The layer walk: visible top-level layers and groups of a PSD become cells.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/cell_image.h"
#include "psd/document.h"

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

// The walk itself, on a loaded document: appends its cells to `table` and
// keeps `document` alive through table.pixelOwners. On any status but kOk
// the table is unchanged.
ExtractStatus extractCells(std::shared_ptr<const psd::Document> document, CellTable& table);

// Prints a "warning: ..." line naming each visible record of `records` that
// is left undrawn: an adjustment kind Korvex cannot apply, a fill whose
// settings it cannot draw.
void printUndrawnWarnings(const std::vector<const psd::LayerRecord*>& records);

}  // namespace korvex
