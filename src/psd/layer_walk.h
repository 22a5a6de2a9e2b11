// The layer walk: visible top-level layers and groups of a PSD become cells.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/cell_image.h"
#include "platform/status.h"
#include "psd/document.h"

namespace korvex {

// Loads the PSD at `path` and fills `table` with its cells, topmost first,
// sending a " read (" or " skip (" line per top-level layer and group to
// `lines`. A path that is no regular file or a document that cannot be
// loaded fails with the open error and the loader's reason.
Status extractPsdCells(const std::string& path, CellTable& table, const LineSink& lines);

// The walk itself, on a loaded document: appends its cells to `table` and
// keeps `document` alive through table.pixelOwners. Fails (with its message)
// on more than kMaxCells cells or a group that cannot be composited; the
// table is then unchanged.
Status extractCells(std::shared_ptr<const psd::Document> document, CellTable& table, const LineSink& lines);

// Hands `lines` a "warning: ..." line naming each visible record of
// `records` that is left undrawn (an adjustment kind Korvex cannot apply, a
// fill whose settings or pattern it cannot draw, a damaged fill, adjustment
// or vector mask block), and one per feature a drawn record is drawn without (damaged
// mask parameters, effects, Unicode name).
void reportUndrawn(const std::vector<const psd::LayerRecord*>& records, const LineSink& lines);

}  // namespace korvex
