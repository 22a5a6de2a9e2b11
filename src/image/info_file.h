// The image information file: a text file listing PNG files, one cell each.
#pragma once

#include <string>

#include "image/cell_image.h"

namespace korvex {

// Reads the information file at `infoPath` and appends one cell per listed
// PNG (path = inputDir + token) to `table`. Returns 0 on success, 1 when the
// file cannot be opened, 2 when a line has no "#", 3 when a PNG cannot be
// read, 4 when the file lists more than kMaxCells images. Prints its own messages.
int readImageInfoFile(const std::string& infoPath, const std::string& inputDir, CellTable& table);

}  // namespace korvex
