// The whole of a test-writer document as Korvex composites it.
#pragma once

#include <cstdint>
#include <vector>

#include "support/psd_writer.h"

namespace korvex::test {

// makePsd(options, records) read and composited: width*height pixels,
// rows top first. A failing read or composite fails the calling test.
std::vector<uint32_t> renderPsd(const PsdOptions& options, const std::vector<PsdRecord>& records);

}  // namespace korvex::test
