// The layer walk.
//
// The records are visited once, lowest first. A depth counter follows the
// groups: a section divider named "</Layer group>" or "</Layer set>" opens a
// group (depth + 1), a group header closes it (depth - 1). At depth 0:
// - a pixel layer becomes a cell with its own pixels at its own canvas
//   position, unless it is hidden or its name holds "@" (a " skip (" line)
//   or it has exactly three channels (the background layer: no line);
// - a group header that takes the depth back to 0 becomes one cell holding
//   the composite of every record pending since the last top-level group, as
//   a whole-canvas bitmap at (0, 0), unless the header is hidden or its name
//   holds "@".
// Records inside groups, dividers with other names and fill or adjustment
// layers at any depth wait in the pending list; fill layers below a group are
// therefore composited into it, and those above the last group are dropped.
// A header met at depth 0 (a damaged file) takes the depth to -1 and makes
// nothing. Cells are listed topmost first; their names are the legacy names
// decoded from Shift_JIS with every "." turned into "_".
//
// A group cell stores only the visible bounding box of its composite (see
// CellImage), so a document with many groups on a large canvas keeps one
// small buffer per group beside one reused working canvas; the buffers lie
// one after another in page memory.
#include "psd/layer_walk.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "psd/compositor.h"
#include "psd/reader.h"
#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {

namespace {

struct StagedCell {
  std::string name;  // UTF-8, before the "." replacement
  std::unique_ptr<CellImage> cell;
};

// The legacy name as the C string it is stored as: up to its first zero byte.
std::string rawName(const psd::LayerRecord& record) {
  return std::string(record.layerName.c_str());
}

bool isGroupDivider(const std::string& raw) {
  return raw == "</Layer group>" || raw == "</Layer set>";
}

std::string cellName(std::string name) {
  for (char& c : name)
    if (c == '.') c = '_';
  return name;
}

std::unique_ptr<CellImage> layerCell(const psd::LayerRecord& record) {
  auto cell = std::make_unique<CellImage>();
  cell->pixels = record.pixels();
  cell->width = record.width;
  cell->height = record.height;
  cell->stride = record.width * 4;
  cell->canvasX = record.left;
  cell->canvasY = record.top;
  if (cell->pixels) {
    cell->boxWidth = record.width;
    cell->boxHeight = record.height;
  }
  return cell;
}

// A whole-canvas cell at (0, 0) holding the visible bounding box of the
// compositor's canvas inside `dirty`. False when the box cannot be stored.
bool groupCell(const psd::Document& document, const psd::Compositor& compositor, const psd::Box& dirty,
               platform::PageArena& boxes, std::unique_ptr<CellImage>& cell) {
  const psd::Box touched{std::max(dirty.left, 0), std::max(dirty.top, 0), std::min(dirty.right, document.width),
                         std::min(dirty.bottom, document.height)};
  cell = std::make_unique<CellImage>();
  cell->width = document.width;
  cell->height = document.height;
  cell->stride = document.width * 4;

  const uint32_t* canvas = compositor.canvas();
  const size_t canvasWidth = static_cast<size_t>(document.width);
  // Each row is searched from both ends only as far as its outermost
  // visible pixels.
  const auto shows = [](uint32_t pixel) { return pixel >= 0x01000000u; };
  psd::Box visible{touched.right, touched.bottom, touched.left, touched.top};
  for (int32_t y = touched.top; y < touched.bottom; ++y) {
    const uint32_t* row = canvas + static_cast<size_t>(y) * canvasWidth;
    const uint32_t* first = std::find_if(row + touched.left, row + touched.right, shows);
    if (first == row + touched.right) continue;
    const int32_t left = static_cast<int32_t>(first - row);
    int32_t right = touched.right;
    while (!shows(row[right - 1])) --right;
    visible.left = std::min(visible.left, left);
    visible.right = std::max(visible.right, right);
    visible.top = std::min(visible.top, y);
    visible.bottom = y + 1;
  }
  if (visible.empty()) return true;

  const size_t boxWidth = static_cast<size_t>(visible.right - visible.left);
  const size_t boxHeight = static_cast<size_t>(visible.bottom - visible.top);
  uint32_t* box = reinterpret_cast<uint32_t*>(boxes.allocate(boxWidth * boxHeight * sizeof(uint32_t)));
  if (!box) return false;
  for (size_t y = 0; y < boxHeight; ++y) {
    const uint32_t* source = canvas + (static_cast<size_t>(visible.top) + y) * canvasWidth + visible.left;
    std::copy(source, source + boxWidth, box + y * boxWidth);
  }
  cell->pixels = box;
  cell->stride = static_cast<int32_t>(boxWidth * 4);
  cell->boxLeft = visible.left;
  cell->boxTop = visible.top;
  cell->boxWidth = static_cast<int32_t>(boxWidth);
  cell->boxHeight = static_cast<int32_t>(boxHeight);
  return true;
}

Status tooManyCells() {
  return Status::failure(Status::Code::kLimit,
                         "error: the document has more than " + std::to_string(kMaxCells) +
                             " visible top-level layers and groups; Korvex takes at most " +
                             std::to_string(kMaxCells) + " cells.\n",
                         "");
}

}  // namespace

void reportUndrawn(const std::vector<const psd::LayerRecord*>& records, const LineSink& lines) {
  for (const psd::LayerRecord* r : records) {
    if (!r->visible) continue;
    const std::string name = sjisToConsole(rawName(*r));
    const bool undrawn = !r->warning.empty() && !r->storedRendering();
    if (r->layerType == psd::kLayerAdjustment && r->warning.empty() && r->adjustment &&
        r->adjustment->kind == psd::AdjustmentKind::kUnknown)
      lines(psd::unknownAdjustmentWarning(name, *r->adjustment));
    else if (undrawn)
      lines("warning: layer \"" + name + "\" is not drawn: " + r->warning);
    else if (!r->warning.empty())
      lines("warning: layer \"" + name + "\" is drawn from its stored pixels alone: " + r->warning);
    if (undrawn) continue;
    for (const std::string& feature : r->leftOut)
      lines("warning: layer \"" + name + "\" is drawn without its " + feature);
    if (!r->effects.warning.empty())
      lines("warning: layer \"" + name + "\" is drawn without some of its effects: " + r->effects.warning);
  }
}

Status extractCells(std::shared_ptr<const psd::Document> document, CellTable& table, const LineSink& lines) {
  const psd::Document& doc = *document;
  psd::Compositor compositor(doc);
  // The group cells' boxes, one after another in page memory (fresh
  // memory in small pieces would be faulted in page by page); the arena
  // reaches the table only on success.
  auto groupBoxes = std::make_shared<platform::PageArena>();
  std::vector<StagedCell> staged;
  std::vector<const psd::LayerRecord*> pending;
  int32_t depth = 0;

  for (const psd::LayerRecord& record : doc.layerRecords) {
    const std::string raw = rawName(record);
    switch (record.layerType) {
      case psd::kLayerNormal: {
        if (depth > 0) {
          pending.push_back(&record);
          break;
        }
        if (record.numberOfChannels == 3) break;
        const std::string name = sjisToUtf8(raw);
        if (!record.visible || name.find('@') != std::string::npos) {
          lines(" skip (" + sjisToConsole(raw) + ")");
          break;
        }
        if (staged.size() >= static_cast<size_t>(kMaxCells)) return tooManyCells();
        lines(" read (" + sjisToConsole(raw) + ")");
        staged.push_back({name, layerCell(record)});
        break;
      }
      case psd::kLayerSectionDivider:
        if (isGroupDivider(raw)) ++depth;
        else pending.push_back(&record);
        break;
      case psd::kLayerGroupHeader: {
        if (--depth != 0) break;
        const std::string name = sjisToUtf8(raw);
        // A group that makes no cell needs no composite.
        if (!record.visible || name.find('@') != std::string::npos) {
          lines(" skip (" + sjisToConsole(raw) + ")");
          pending.clear();
          break;
        }
        if (staged.size() >= static_cast<size_t>(kMaxCells)) return tooManyCells();
        reportUndrawn(pending, lines);
        psd::Box touched;
        std::unique_ptr<CellImage> cell;
        const bool composited = compositor.composite(pending, touched);
        const bool stored = composited && groupCell(doc, compositor, touched, *groupBoxes, cell);
        compositor.clear(touched);
        if (!stored)
          return Status::failure(Status::Code::kLimit,
                                 "error: not enough memory to composite the group " + sjisToConsole(raw) + ".\n",
                                 "");
        lines(" read (" + sjisToConsole(raw) + ")");
        staged.push_back({name, std::move(cell)});
        pending.clear();
        break;
      }
      default:  // fill and adjustment layers
        pending.push_back(&record);
        break;
    }
  }

  for (auto it = staged.rbegin(); it != staged.rend(); ++it) {
    table.cellNames.push_back(cellName(std::move(it->name)));
    table.cellFileNames.emplace_back();
    table.cells.push_back(std::move(it->cell));
  }
  table.canvasHalfWidth = doc.width / 2;
  table.canvasHalfHeight = doc.height / 2;
  groupBoxes->trim();
  table.pixelOwners.push_back(std::move(groupBoxes));
  table.pixelOwners.push_back(std::move(document));
  return Status::ok();
}

Status extractPsdCells(const std::string& path, CellTable& table, const LineSink& lines) {
  const std::string loadFailed = formatMessage("ERROR_0003", path.c_str()) + "\n";
  // Only a regular file is read: a folder is no document, and a pipe would
  // never end.
  Status regular = platform::checkRegularFile(path);
  if (!regular) return regular.withMessage(loadFailed);
  auto document = std::make_shared<psd::Document>();
  std::string error;
  if (!psd::loadDocument(path, *document, error))
    return Status::failure(Status::Code::kInvalid, loadFailed, path + ": " + error);
  return extractCells(std::move(document), table, lines);
}

}  // namespace korvex
