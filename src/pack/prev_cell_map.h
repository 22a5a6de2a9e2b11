// The previous cell map: pivots, meshes and names of an earlier conversion,
// carried into the next one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/texture_pack.h"

namespace korvex {

struct PrevCellEntry {
  std::string name;
  float pivotX = 0.0f;
  float pivotY = 0.0f;
  bool used = false;
};

struct MeshPoint {
  double x = 0.0;
  double y = 0.0;
};

struct PrevCellRecord {
  std::string name;
  std::string ismesh, divtype, divw, divh;
  std::vector<MeshPoint> innerPoints, outerPoints, meshPoints;
  std::vector<std::array<int32_t, 3>> meshTriangles;
  bool resized = false;
};

struct PrevCellMap {
  bool hasPrevCellMap = false;
  int32_t prevCellCount = 0;
  std::vector<PrevCellEntry> prevCells;        // prevCellCount entries
  std::vector<PrevCellRecord> prevCellRecords; // same index as prevCells
  std::vector<PackedCell> prevPackedCells;
};

// Reads the cell map at `cellMapPath` into `prev`, matching its cells against
// `newCells`. A missing or malformed XML file imports nothing and is no
// error. False, with a message printed, when the map cannot be trusted.
bool ImportPrevCellMap(const std::string& cellMapPath, const std::vector<PackedCell>& newCells,
                       PrevCellMap& prev);

}  // namespace korvex
