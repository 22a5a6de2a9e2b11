// The image information file: a text file listing PNG files, one cell each.
#pragma once

#include <string>

#include "image/cell_image.h"
#include "platform/status.h"

namespace korvex {

// Reads the information file at `infoPath` and appends one cell per listed
// PNG (path = inputDir + token) to `table`. A failure carries its message
// and reason: ERROR_0001 when the file cannot be opened (only a regular file
// is), ERROR_0002 when a line has no "#" (the reason names the line),
// read_png's message then "ERROR" when a PNG cannot be read, a message of
// its own when the file lists more than kMaxCells images. `progress` takes
// "read image : PATH", read_png's warnings, then "OK!", for each PNG.
Status readImageInfoFile(const std::string& infoPath, const std::string& inputDir, CellTable& table,
                         const LineSink& progress);

}  // namespace korvex
