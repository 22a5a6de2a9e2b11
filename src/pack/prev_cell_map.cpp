#include "pack/prev_cell_map.h"

namespace korvex {
// Stub: replaced by the previous-cell-map import.
bool ImportPrevCellMap(const std::string&, const std::vector<PackedCell>&, PrevCellMap& prev) {
  prev.hasPrevCellMap = false;
  return true;
}
}  // namespace korvex
