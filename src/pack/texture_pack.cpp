#include "pack/texture_pack.h"

namespace korvex {
// Stub: replaced by the packing module's implementation.
bool PackCells(const ConversionSettings&, const CellTable&, PrevCellMap&, const std::string&,
               const std::string&, VTTexturePack&) { return false; }
}  // namespace korvex
