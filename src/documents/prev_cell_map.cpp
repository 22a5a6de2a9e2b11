// Reading back the cell map of an earlier conversion.
//
// The cell map (.vtce) is XML. The parts read here:
//
//   <VantrelCellMap version="2.00.00">
//     <cells>
//       <cell>                              (one per cell, document order)
//         <name>body</name>                 UTF-8, taken as is
//         <pos>12 40</pos>                  atlas position "x y", integers
//         <size>40 30</size>                cell size "w h", integers
//         <pivot>0.250000 -0.100000</pivot> "x y", reals
//         ... editor data, optional:
//         <ismesh>1</ismesh> <divtype>boxdiv</divtype> <divw>2</divw> <divh>2</divh>
//         <innerPoint><value>10 20</value>...</innerPoint>      "x y" per point,
//         <outerPoint>...</outerPoint>                           in pixels from
//         <meshPointList>...</meshPointList>                     the cell's top left
//         <meshTriList><value>0 1 2</value>...</meshTriList>    three vertex indices
//       </cell>
//
// A text of two numbers is split at its first space; a text without a space
// gives both numbers from the whole text. A number that cannot be read (or is
// not finite) reads as 0. The size is the exception: the mesh points are
// stored relative to the cell's centre, so without a readable size they
// cannot be carried over, and such a map is refused as a whole.

#include "documents/prev_cell_map.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include <tinyxml2.h>

#include "config/user_folder.h"
#include "image/cell_image.h"
#include "platform/platform.h"
#include "text/encoding.h"
#include "text/numbers.h"

namespace korvex {
namespace {

std::string childText(const tinyxml2::XMLElement& parent, const char* name) {
  const tinyxml2::XMLElement* child = parent.FirstChildElement(name);
  const char* text = child ? child->GetText() : nullptr;
  return text ? std::string(text) : std::string();
}

// The parts before and after the first space; without a space both are the
// whole text.
std::pair<std::string, std::string> splitAtFirstSpace(const std::string& text) {
  const size_t space = text.find(' ');
  if (space == std::string::npos) return {text, text};
  return {text.substr(0, space), text.substr(space + 1)};
}

// A decimal integer: leading white space, an optional sign, then digits up to
// the first other character. False without digits or outside the int32 range.
bool readInt(const std::string& text, int32_t& value) {
  const DecimalNumber number = parseDecimal(text);
  if (!number.hasDigits || !number.inRange) return false;
  value = number.value;
  return true;
}

// An integer read as "%d" would read it; 0 when it cannot be read.
int32_t scanInt(const std::string& text) {
  int32_t value = 0;
  return readInt(text, value) ? value : 0;
}

// A real read as "%lf" (double) or "%f" (float) would read it, C numeric
// locale; 0 when it cannot be read or is not finite.
template <typename Real>
Real scanReal(const std::string& text, Real (*convert)(const char*, char**)) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const Real value = convert(begin, &end);
  if (end == begin || !std::isfinite(value)) return 0;
  return value;
}

double scanDouble(const std::string& text) { return scanReal<double>(text, std::strtod); }
float scanFloat(const std::string& text) { return scanReal<float>(text, std::strtof); }

// The points of `list` ("value" children, "x y" each), centred for a cell of
// w x h: x <- 2x - w, y <- 2y - h. A coordinate whose centred value would not
// be finite reads as 0.
void readPoints(const tinyxml2::XMLElement* list, int32_t w, int32_t h,
                std::vector<MeshPoint>& points) {
  if (!list) return;
  auto centre = [](double v, int32_t size) {
    const double c = 2.0 * v - size;
    return std::isfinite(c) ? c : -static_cast<double>(size);
  };
  for (const tinyxml2::XMLElement* value = list->FirstChildElement("value"); value;
       value = value->NextSiblingElement("value")) {
    const char* text = value->GetText();
    const auto parts = splitAtFirstSpace(text ? text : "");
    points.push_back({centre(scanDouble(parts.first), w), centre(scanDouble(parts.second), h)});
  }
}

// The triangles of "meshTriList": "a b c" per "value", split like the
// pairs: "a" before the first space, then the rest split again, so a part
// that is missing repeats the last one ("3 4" reads as 3 4 4).
void readTriangles(const tinyxml2::XMLElement* list,
                   std::vector<std::array<int32_t, 3>>& triangles) {
  if (!list) return;
  for (const tinyxml2::XMLElement* value = list->FirstChildElement("value"); value;
       value = value->NextSiblingElement("value")) {
    const char* raw = value->GetText();
    const auto first = splitAtFirstSpace(raw ? raw : "");
    const auto rest = splitAtFirstSpace(first.second);
    triangles.push_back({scanInt(first.first), scanInt(rest.first), scanInt(rest.second)});
  }
}

// Reads one "cell" into `map`. False when its size cannot be read.
bool readCell(const tinyxml2::XMLElement& cell, PrevCellMap& map) {
  const std::string name = childText(cell, "name");

  const auto size = splitAtFirstSpace(childText(cell, "size"));
  int32_t w = 0, h = 0;
  if (!readInt(size.first, w) || !readInt(size.second, h)) return false;

  PrevCellEntry entry;
  entry.name = name;
  const auto pivot = splitAtFirstSpace(childText(cell, "pivot"));
  entry.pivotX = scanFloat(pivot.first);
  entry.pivotY = scanFloat(pivot.second);

  PrevCellRecord record;
  record.name = name;
  record.ismesh = childText(cell, "ismesh");
  record.divtype = childText(cell, "divtype");
  record.divw = childText(cell, "divw");
  record.divh = childText(cell, "divh");
  readPoints(cell.FirstChildElement("innerPoint"), w, h, record.innerPoints);
  readPoints(cell.FirstChildElement("outerPoint"), w, h, record.outerPoints);
  readPoints(cell.FirstChildElement("meshPointList"), w, h, record.meshPoints);
  readTriangles(cell.FirstChildElement("meshTriList"), record.meshTriangles);

  PackedCell packed;
  packed.kind = kPlaceholderCell;
  packed.name = name;
  const auto pos = splitAtFirstSpace(childText(cell, "pos"));
  packed.packX = scanInt(pos.first);
  packed.packY = scanInt(pos.second);

  map.prevCells.push_back(std::move(entry));
  map.prevCellRecords.push_back(std::move(record));
  map.prevPackedCells.push_back(std::move(packed));
  ++map.prevCellCount;
  return true;
}

bool samePos(const PackedCell& a, const PackedCell& b) {
  return a.packX == b.packX && a.packY == b.packY;
}

}  // namespace

Status ImportPrevCellMap(const std::string& cellMapPath, const std::vector<std::string>& newNames,
                         PrevCellMap& prev, const LineSink& lines) {
  prev = PrevCellMap();
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (!loadXmlFile(document, cellMapPath)) {
    // No earlier map is the usual first run; one that cannot be read is
    // worth a word, as its pivots and meshes are lost.
    if (platform::isRegularFile(cellMapPath))
      lines("warning: the previous cell map " + cellMapPath + " could not be read (" + document.ErrorName() +
            (document.ErrorLineNum() > 0 ? " at line " + std::to_string(document.ErrorLineNum()) : "") +
            "); no pivot or mesh is carried over");
    return Status::ok();
  }

  PrevCellMap map;
  map.hasPrevCellMap = true;
  const tinyxml2::XMLElement* root = document.FirstChildElement("VantrelCellMap");
  const tinyxml2::XMLElement* cells = root ? root->FirstChildElement("cells") : nullptr;
  for (const tinyxml2::XMLElement* cell = cells ? cells->FirstChildElement("cell") : nullptr;
       cell && map.prevCellCount < kMaxCells; cell = cell->NextSiblingElement("cell")) {
    if (!readCell(*cell, map)) {
      const tinyxml2::XMLElement* size = cell->FirstChildElement("size");
      const std::string found = size ? "the size \"" + utf8ToConsole(childText(*cell, "size")) +
                                           "\" is not two whole numbers"
                                     : "there is no size";
      return Status::failure(Status::Code::kInvalid,
                             "error: the previous cell map " + cellMapPath + " has a cell without a valid size (" +
                                 utf8ToConsole(childText(*cell, "name")) + "); its meshes cannot be carried over\n",
                             cellMapPath + ": in the cell at line " + std::to_string(cell->GetLineNum()) + ", " +
                                 found);
    }
  }

  std::vector<PackedCell>& old = map.prevPackedCells;
  // A later cell at the position of an earlier one shares its rectangle.
  for (size_t later = 0; later < old.size(); ++later) {
    for (size_t earlier = 0; earlier < later; ++earlier) {
      if (samePos(old[earlier], old[later])) {
        old[later].kind = kAliasCell;
        break;
      }
    }
  }
  // A cell the new document still has is no placeholder and no alias.
  for (const std::string& name : newNames) {
    for (PackedCell& candidate : old) {
      if (candidate.name == name) {
        candidate.kind = kOrdinaryCell;
        break;
      }
    }
  }
  // Every remaining sharer becomes an alias of the first cell at its
  // position, which is always written; listing it under a second owner
  // would write its name twice.
  for (size_t r = 0; r < old.size(); ++r) {
    if (old[r].kind != kAliasCell) continue;
    for (PackedCell& owner : old) {
      if (samePos(owner, old[r])) {
        owner.aliasNames.push_back(old[r].name);
        break;
      }
    }
  }

  prev = std::move(map);
  return Status::ok();
}

std::vector<std::string> placeholderNames(const PrevCellMap& prev) {
  std::vector<std::string> names;
  for (const PackedCell& old : prev.prevPackedCells)
    if (old.kind == kPlaceholderCell) names.push_back(old.name);
  return names;
}

}  // namespace korvex
