// The animation pack (.vtae): a model with one part per packed cell, each
// optionally under a null part of its own, and two animations: "Setup", whose
// keys at time 0 place every part where its layer stood on the canvas, and
// the empty "anime_1".
//
//   <VantrelAnimePack version="2.00.01">
//       <settings>...</settings>
//       <name>art</name>
//       <Model><partList>
//           <value>                         one per part: root, then the cells
//               <name>body</name> <arrayIndex>1</arrayIndex>
//               <parentIndex>0</parentIndex> <type>normal</type> ...
//           </value>
//       </partList></Model>
//       <cellmapNames><value>art.vtce</value></cellmapNames>
//       <animeList>
//           <anime> <name>Setup</name> ... <partAnimes>
//               <partAnime> <partName>body</partName> <attributes>
//                   <attribute tag="POSX"><key time="0"><value>-29</value></key></attribute>
//               </attributes> </partAnime>
//           </partAnimes> </anime>
//           <anime> <name>anime_1</name> ... </anime>
//       </animeList>
//   </VantrelAnimePack>
//
// Positions are the offset of a cell's visible centre from the canvas centre
// (or from the visible centre of the "root" layer), y upwards.
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

// One key of a part animation: a property code and its value at time 0.
struct Key {
  std::string tag;
  std::string value;
};

// The attributes the option file's defaultSetAttributes adds to every part
// animation, with the editor's default value of each.
std::vector<Key> defaultSetExtras(const tinyxml2::XMLDocument& option) {
  static const char* const kZero[] = {"CELL", "POSZ", "ROTX", "ROTY", "IFLH", "IFLV", "FLPH", "FLPV",
                                      "PCOL", "VCOL", "VERT", "PVTX", "PVTY", "ANCX", "ANCY", "UVTX",
                                      "UVTY", "UVRZ", "BNDR", "MASK", "USER", "IPRM", "EFCT"};
  static const char* const kOne[] = {"SCLX", "SCLY", "LSCX", "LSCY", "ALPH",
                                     "LALP", "SIZX", "SIZY", "UVSX", "UVSY"};
  std::vector<Key> extras;
  if (option.ErrorID() != tinyxml2::XML_SUCCESS) return extras;
  const XMLElement* list = option.FirstChildElement("VantrelOption");
  if (list) list = list->FirstChildElement("projectSettings");
  if (list) list = list->FirstChildElement("defaultSetAttributes");
  if (!list) return extras;
  for (const XMLElement* item = list->FirstChildElement("item"); item;
       item = item->NextSiblingElement("item")) {
    const char* tag = item->GetText();
    if (!tag) continue;
    for (const char* code : kZero)
      if (std::strcmp(tag, code) == 0) extras.push_back({tag, "0"});
    for (const char* code : kOne)
      if (std::strcmp(tag, code) == 0) extras.push_back({tag, "1"});
  }
  return extras;
}

void appendPart(XMLElement* partList, const std::string& name, int32_t index, int32_t parent,
                bool isNull) {
  XMLElement* part = appendElement(partList, "value");
  appendText(part, "name", name);
  appendText(part, "arrayIndex", formatText("%d", index));
  appendText(part, "parentIndex", formatText("%d", parent));
  appendText(part, "type", isNull ? "null" : "normal");
  appendText(part, "boundsType", "none");
  appendText(part, "inheritType", index == 0 ? "self" : "parent");
  XMLElement* rates = appendElement(part, "ineheritRates");
  for (const auto& [tag, value] : {std::make_pair("ALPH", "1"), std::make_pair("FLPH", "0"),
                                   std::make_pair("FLPV", "0"), std::make_pair("HIDE", "0"),
                                   std::make_pair("IFLH", "0"), std::make_pair("IFLV", "0")})
    appendText(rates, tag, value);
  appendText(part, "alphaBlendType", "mix");
  appendText(part, "show", "1");
  appendText(part, "locked", "0");
  appendText(part, "expandAttribute", "0");
  appendText(part, "expandChildren", "1");
}

// <attribute tag="..."><key time="0"><value>...</value></key></attribute>;
// returns the <value>.
XMLElement* appendKey(XMLElement* attributes, const std::string& tag) {
  XMLElement* attribute = appendElement(attributes, "attribute");
  attribute->SetAttribute("tag", tag.c_str());
  XMLElement* key = appendElement(attribute, "key");
  key->SetAttribute("time", "0");
  return appendElement(key, "value");
}

// A part animation: the cell key (when `cellName` is given), then `keys`,
// then the extras.
void appendPartAnime(XMLElement* partAnimes, const std::string& partName, const std::string* cellName,
                     const std::vector<Key>& keys, const std::vector<Key>& extras) {
  XMLElement* partAnime = appendElement(partAnimes, "partAnime");
  appendText(partAnime, "partName", partName);
  XMLElement* attributes = appendElement(partAnime, "attributes");
  if (cellName) {
    XMLElement* value = appendKey(attributes, "CELL");
    appendText(value, "mapId", "0");
    appendText(value, "name", *cellName);
  }
  for (const std::vector<Key>* list : {&keys, &extras})
    for (const Key& key : *list) appendKey(attributes, key.tag)->SetText(key.value.c_str());
}

struct Offset {
  int32_t x = 0;
  int32_t y = 0;
};

// The canvas-centre offset that puts the visible centre of the first "root"
// layer at the origin.
Offset rootOffset(const CellTable& table, const VTTexturePack& pack) {
  for (const PackedCell& root : pack.cells) {
    if (root.kind != kRootCell) continue;
    const float left = static_cast<float>(int64_t{root.canvasX} + root.trimLeft);
    const float centreX = left + static_cast<float>(root.width) * 0.5f;
    const float top = static_cast<float>(int64_t{table.canvasHalfHeight} - root.canvasY - root.trimTop);
    return {truncateToInt32(-(centreX - static_cast<float>(table.canvasHalfWidth))),
            truncateToInt32(top - static_cast<float>(root.height) * 0.5f)};
  }
  return {};
}

// The position of a cell's visible centre relative to the canvas centre,
// y upwards, after moving the cell by `offset`.
Offset cellPosition(const CellTable& table, const PackedCell& cell, Offset offset) {
  const int64_t canvasX = int64_t{cell.canvasX} + offset.x;
  const int64_t canvasY = int64_t{cell.canvasY} + offset.y;
  const float left = static_cast<float>(canvasX + cell.trimLeft - table.canvasHalfWidth);
  const float top = static_cast<float>(table.canvasHalfHeight - cell.trimTop - canvasY);
  return {truncateToInt32(left + static_cast<float>(cell.width) * 0.5f),
          truncateToInt32(top - static_cast<float>(cell.height) * 0.5f)};
}

// Sets settings/canvasSize of an animation, adding the element when the
// option file's settings lack it.
bool setCanvasSize(XMLElement* anime, const std::string& text, ElementFinder& find) {
  XMLElement* settings = find(anime, "settings");
  if (!settings) return false;
  XMLElement* canvasSize = settings->FirstChildElement("canvasSize");
  if (!canvasSize) canvasSize = appendElement(settings, "canvasSize");
  canvasSize->SetText(text.c_str());
  return true;
}

bool isPart(const PackedCell& cell) { return cell.packed && cell.kind != kPlaceholderCell; }

}  // namespace

Status writeAnimePack(const std::string& animePackPath, const ConversionSettings& settings,
                      const CellTable& table, const VTTexturePack& pack, bool keepExisting,
                      const VTOptionReader& options, platform::OutputSet& outputs, const LineSink& lines) {
  if (keepExisting || !settings.is_vtaeoutput) return Status::ok();
  tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  Status loaded = Vtae_template().makeDocument(animePackPath, options.document, lines, document);
  if (!loaded) return loaded;

  ElementFinder find(animePackPath);
  XMLElement* root = find(&document, "VantrelAnimePack");
  XMLElement* name = find(root, "name");
  XMLElement* partList = find(find(root, "Model"), "partList");
  XMLElement* cellMapName = find(find(root, "cellmapNames"), "value");
  XMLElement* setup = find(find(root, "animeList"), "anime");
  XMLElement* setupAnimes = find(setup, "partAnimes");
  XMLElement* anime = setup ? setup->NextSiblingElement("anime") : nullptr;
  if (setup && !anime) find.note("no second <anime> element");
  XMLElement* animeAnimes = find(anime, "partAnimes");
  if (!name || !partList || !cellMapName || !setupAnimes || !animeAnimes) return find.status();

  const std::string outputName = consoleToUtf8(settings.outputname);
  name->SetText(outputName.c_str());

  // Parts: the root, then the cells from the bottom-most layer up.
  appendPart(partList, "root", 0, -1, true);
  int32_t index = 1;
  for (int32_t e = table.cellCount() - 1; e >= 0; --e) {
    for (const PackedCell& cell : pack.cells) {
      if (cell.name != table.cellNames[static_cast<size_t>(e)] || !isPart(cell)) continue;
      if (settings.is_addnull) {
        appendPart(partList, "null_" + cell.name, index, 0, true);
        appendPart(partList, cell.name, index + 1, index, false);
        index += 2;
      } else {
        appendPart(partList, cell.name, index, 0, false);
        index += 1;
      }
    }
  }
  cellMapName->SetText((outputName + ".vtce").c_str());

  if (settings.canvasSize == 1) {
    const std::string canvas =
        formatText("%d %d", 2 * table.canvasHalfWidth, 2 * table.canvasHalfHeight);
    if (!setCanvasSize(setup, canvas, find) || !setCanvasSize(anime, canvas, find)) return find.status();
  }

  // Setup: a key per property at time 0, in the order of the packed cells.
  const std::vector<Key> extras = defaultSetExtras(options.document);
  const Offset offset = settings.is_rootLayerUse ? rootOffset(table, pack) : Offset{};
  appendPartAnime(setupAnimes, "root", nullptr, {{"POSX", "0"}, {"POSY", "0"}, {"ROTZ", "0"}, {"HIDE", "0"}},
                  extras);
  for (const PackedCell& cell : pack.cells) {
    if (!isPart(cell)) continue;
    const Offset position = cellPosition(table, cell, offset);
    const std::string x = formatText("%d", position.x);
    const std::string y = formatText("%d", position.y);
    std::vector<Key> keys;
    if (settings.is_addnull) {
      appendPartAnime(setupAnimes, "null_" + cell.name, nullptr,
                      {{"POSX", x}, {"POSY", y}, {"ROTZ", "0"}, {"HIDE", "0"}}, extras);
      keys = {{"POSX", "0"}, {"POSY", "0"}};
    } else {
      keys = {{"POSX", x}, {"POSY", y}};
    }
    if (cell.priority != 0) keys.push_back({"PRIO", formatText("%d", cell.priority)});
    keys.push_back({"ROTZ", "0"});
    keys.push_back({"HIDE", "0"});
    appendPartAnime(setupAnimes, cell.name, &cell.name, keys, extras);
  }
  appendPartAnime(animeAnimes, "root", nullptr, {{"HIDE", "0"}}, {});

  Status saved = saveDocument(document, animePackPath, outputs);
  if (saved) lines(formatMessage("INFO_0004"));
  return saved;
}

}  // namespace korvex
