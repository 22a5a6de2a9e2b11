// The cell map (.vtce): the named rectangles of the atlas with their pivots
// and the mesh data the editor stored for them.
//
//   <VantrelCellMap version="2.00.00">
//       <name>art</name>                      output name
//       <imagePath>art.png</imagePath>        the atlas, no folder
//       <pixelSize>512 256</pixelSize>        atlas width, height
//       ... editor settings from the template ...
//       <cells>
//           <cell>
//               <name>body</name>
//               <pos>4 4</pos>                atlas x, y ("%d %d")
//               <size>40 32</size>            width, height, padding included
//               <pivot>0.000000 0.250000</pivot>
//               <rotated>0</rotated>
//               <orgImageName></orgImageName>
//               <posStable>0</posStable>
//               ismesh, divtype, [divw, divh], innerPoint, outerPoint,
//               meshPointList, meshTriList  (only for a cell of the previous map)
//           </cell>
//       </cells>
//   </VantrelCellMap>
//
// A pivot is the offset of the cell's anchor from its centre in units of the
// padded cell size, x to the right, y upwards.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "documents/document_build.h"
#include "documents/document_file.h"
#include "documents/documents.h"
#include "documents/templates.h"
#include "text/encoding.h"
#include "text/messages.h"
#include "text/numbers.h"

namespace korvex {
namespace {

using tinyxml2::XMLElement;

struct Pivot {
  float x = 0.0f;
  float y = 0.0f;
};

// Writes the cells of one conversion into the <cells> element.
class CellMapWriter {
 public:
  CellMapWriter(const ConversionSettings& settings, VTTexturePack& pack, PrevCellMap& prev,
                XMLElement* cells)
      : settings_(settings), pack_(pack), prev_(prev), cells_(cells) {}

  // An ordinary cell: its pivot moves its canvas position.
  void writeCell(PackedCell& cell) {
    Pivot pivot = pivotOf(cell);
    const float paddedWidth = static_cast<float>(cell.width + 2 * cell.innerPadding);
    const float paddedHeight = static_cast<float>(cell.height + 2 * cell.innerPadding);
    const float movedX = paddedWidth * pivot.x + static_cast<float>(cell.canvasX);
    const float movedY = static_cast<float>(cell.canvasY) - paddedHeight * pivot.y;
    cell.canvasX = truncateToInt32(movedX);
    cell.canvasY = truncateToInt32(movedY);
    writeWithAliases(cell, formatText("%f %f", static_cast<double>(pivot.x),
                                      static_cast<double>(pivot.y)));
  }

  // A cell only the previous cell map knows: pivot "0 0", position unchanged.
  void writePlaceholder(const PackedCell& cell) { writeWithAliases(cell, formatText("%d %d", 0, 0)); }

 private:
  size_t prevCount() const {
    size_t count = static_cast<size_t>(std::max(prev_.prevCellCount, 0));
    return std::min({count, prev_.prevCells.size(), prev_.prevCellRecords.size()});
  }

  // The pivot from the previous cell map, overridden by a "+name" marker layer.
  Pivot pivotOf(const PackedCell& cell) {
    Pivot pivot;
    if (prev_.hasPrevCellMap) {
      for (size_t i = 0; i < prevCount(); ++i) {
        PrevCellEntry& entry = prev_.prevCells[i];
        if (entry.name != cell.name) continue;
        entry.used = true;
        pivot = {entry.pivotX, entry.pivotY};
        break;
      }
    }
    if (!settings_.is_layerPivotUse) return pivot;
    for (const PackedCell& marker : pack_.cells) {
      if (marker.kind != kMarkerCell || marker.name.empty() ||
          marker.name.compare(1, std::string::npos, cell.name) != 0)
        continue;
      if (marker.empty) return Pivot{};
      // The marker's visible centre minus the cell's, doubled, in integers.
      const int64_t dx = (2 * (int64_t{marker.canvasX} + marker.trimLeft) + marker.width) -
                         (2 * (int64_t{cell.canvasX} + cell.trimLeft) + cell.width);
      const int64_t dy = (2 * (int64_t{cell.canvasY} + cell.trimTop) + cell.height) -
                         (2 * (int64_t{marker.canvasY} + marker.trimTop) + marker.height);
      pivot.x = static_cast<float>(dx) / static_cast<float>(cell.width + 2 * cell.innerPadding) * 0.5f;
      pivot.y = static_cast<float>(dy) / static_cast<float>(cell.height + 2 * cell.innerPadding) * 0.5f;
      return pivot;
    }
    return pivot;
  }

  // The cell, then every previous cell that shared its atlas position and
  // that the new document no longer has, with the same rectangle and pivot.
  void writeWithAliases(const PackedCell& cell, const std::string& pivot) {
    const std::string pos = formatText("%d %d", cell.packX, cell.packY);
    const int32_t width = cell.packRight - cell.packX;
    const int32_t height = cell.packBottom - cell.packY;
    const std::string size = formatText("%d %d", width, height);
    writeCellElement(cell.name, pos, size, pivot, width, height);
    for (const PackedCell& previous : prev_.prevPackedCells) {
      if (previous.name != cell.name) continue;
      for (const std::string& alias : previous.aliasNames)
        writeCellElement(alias, pos, size, pivot, width, height);
      break;
    }
  }

  void writeCellElement(const std::string& name, const std::string& pos, const std::string& size,
                        const std::string& pivot, int32_t width, int32_t height) {
    XMLElement* cell = appendElement(cells_, "cell");
    appendText(cell, "name", name);
    appendText(cell, "pos", pos);
    appendText(cell, "size", size);
    appendText(cell, "pivot", pivot);
    appendText(cell, "rotated", formatText("%d", 0));
    appendText(cell, "orgImageName", "");
    appendText(cell, "posStable", formatText("%d", 0));
    if (prev_.hasPrevCellMap) appendMesh(cell, name, width, height);
  }

  // The mesh the previous cell map held for `name`, its points brought to
  // the new cell size (once per record: the first cell that uses it).
  void appendMesh(XMLElement* cell, const std::string& name, int32_t width, int32_t height) {
    for (size_t i = 0; i < prevCount(); ++i) {
      PrevCellRecord& record = prev_.prevCellRecords[i];
      if (record.name != name) continue;
      if (!record.resized) {
        for (auto* points : {&record.innerPoints, &record.outerPoints, &record.meshPoints})
          for (MeshPoint& point : *points) {
            point.x = (point.x + width) * 0.5;
            point.y = (point.y + height) * 0.5;
          }
        record.resized = true;
      }
      appendText(cell, "ismesh", record.ismesh);
      appendText(cell, "divtype", record.divtype);
      if (record.divtype == "boxdiv") {
        appendText(cell, "divw", record.divw);
        appendText(cell, "divh", record.divh);
      }
      appendPoints(cell, "innerPoint", record.innerPoints);
      appendPoints(cell, "outerPoint", record.outerPoints);
      appendPoints(cell, "meshPointList", record.meshPoints);
      XMLElement* triangles = appendElement(cell, "meshTriList");
      for (const auto& triangle : record.meshTriangles)
        appendText(triangles, "value",
                   formatText("%d %d %d", triangle[0], triangle[1], triangle[2]));
      return;
    }
  }

  static void appendPoints(XMLElement* cell, const char* name, const std::vector<MeshPoint>& points) {
    XMLElement* list = appendElement(cell, name);
    for (const MeshPoint& point : points)
      appendText(list, "value", coordinateText(point.x) + " " + coordinateText(point.y));
  }

  // A whole number as an integer, anything else with fifteen decimals.
  static std::string coordinateText(double value) {
    if (value != std::floor(value)) return formatText("%.15f", value);
    if (value >= -2147483648.0 && value <= 2147483647.0)
      return formatText("%d", static_cast<int32_t>(value));
    return formatText("%.0f", value);  // whole but beyond int32: the exact value
  }

  const ConversionSettings& settings_;
  VTTexturePack& pack_;
  PrevCellMap& prev_;
  XMLElement* cells_;
};

}  // namespace

Status writeCellMap(const std::string& cellMapPath, const ConversionSettings& settings,
                    const CellTable& table, VTTexturePack& pack, PrevCellMap& prev,
                    const VTOptionReader& options, platform::OutputSet& outputs, const LineSink& lines) {
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  Status loaded = Vtce_template().makeDocument(cellMapPath, options.document, lines, document);
  if (!loaded) return loaded;

  ElementFinder find(cellMapPath);

  XMLElement* root = find(&document, "VantrelCellMap");
  XMLElement* name = find(root, "name");
  XMLElement* imagePath = find(root, "imagePath");
  XMLElement* pixelSize = find(root, "pixelSize");
  XMLElement* cells = find(root, "cells");
  if (!name || !imagePath || !pixelSize || !cells) return find.status();

  const std::string outputName = consoleToUtf8(settings.outputname);
  name->SetText(outputName.c_str());
  imagePath->SetText((outputName + ".png").c_str());
  pixelSize->SetText(formatText("%d %d", pack.textureWidth(), pack.textureHeight()).c_str());

  CellMapWriter writer(settings, pack, prev, cells);
  // Ordinary cells in extraction order, topmost layer first.
  for (const std::string& cellName : table.cellNames)
    for (PackedCell& cell : pack.cells)
      if (cell.name == cellName && cell.packed && cell.kind != kPlaceholderCell) writer.writeCell(cell);
  if (prev.hasPrevCellMap)
    for (const PackedCell& cell : pack.cells)
      if (cell.kind == kPlaceholderCell) writer.writePlaceholder(cell);

  Status saved = saveDocument(document, cellMapPath, outputs);
  if (saved) lines(formatMessage("INFO_0003"));
  return saved;
}

}  // namespace korvex
