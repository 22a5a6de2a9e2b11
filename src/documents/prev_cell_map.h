// The previous cell map: pivots, meshes and names of an earlier conversion,
// carried into the next one.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/texture_pack.h"
#include "platform/status.h"

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

// Replaces `prev` with the cell map at `cellMapPath`, its cells matched
// against the names of the new cells, `newNames`. A file that is missing or not well-formed XML imports
// nothing (hasPrevCellMap false) and is no error; a file that is there but
// cannot be loaded is named in a warning line on `lines`, with tinyxml2's
// error and line. A failure, `prev` left empty, when a cell's size cannot be
// read: its mesh points could not be carried over.
//
// After the import, prevPackedCells[i].kind is kOrdinaryCell when a new cell
// has the name of old cell i, kAliasCell when an earlier old cell had the same
// position (listed in that cell's aliasNames), else kPlaceholderCell. Mesh points are held centred and doubled: x' = 2x - w, y' = 2y - h
// for the old cell size w x h. At most kMaxCells cells are imported.
Status ImportPrevCellMap(const std::string& cellMapPath, const std::vector<std::string>& newNames,
                         PrevCellMap& prev, const LineSink& lines);

// The names of the old cells of kind kPlaceholderCell: each is packed as an empty placeholder under its name.
std::vector<std::string> placeholderNames(const PrevCellMap& prev);

}  // namespace korvex
