#include "psd/layer_walk.h"

namespace korvex {
// Stub: replaced by the layer walk.
ExtractStatus extractPsdCells(const std::string&, CellTable&, std::string*) { return ExtractStatus::kLoadFailed; }
}  // namespace korvex
