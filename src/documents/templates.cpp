#include "documents/templates.h"

#include <functional>
#include <initializer_list>
#include <tuple>
#include <utility>
#include <vector>

#include "documents/document_file.h"

namespace korvex {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

// Writes template lines: one tab of indentation per depth below the root,
// CR LF after every line.
class TemplateText {
 public:
  TemplateText(const char* root, const char* version) : root_(root) {
    line("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>");
    line(std::string("<") + root + " version=\"" + version + "\">");
    ++depth_;
  }

  // A leaf on one line; "<tag></tag>" without a value.
  void leaf(const char* tag, const char* value = "") {
    line(std::string("<") + tag + ">" + value + "</" + tag + ">");
  }
  // A container's start tag; its children follow until close().
  void open(const char* tag) {
    line(std::string("<") + tag + ">");
    tags_.push_back(tag);
    ++depth_;
  }
  void close() {
    --depth_;
    line(std::string("</") + tags_.back() + ">");
    tags_.pop_back();
  }
  // A container with nothing inside.
  void empty(const char* tag) {
    open(tag);
    close();
  }
  // A container of leaves with the same tag.
  void list(const char* tag, const char* item, std::initializer_list<const char*> values) {
    open(tag);
    for (const char* value : values) leaf(item, value);
    close();
  }
  // A line written exactly so, indented.
  void line(const std::string& text) {
    text_.append(static_cast<size_t>(depth_), '\t');
    text_ += text;
    text_ += "\r\n";
  }
  std::string finish() {
    depth_ = 0;
    line(std::string("</") + root_ + ">");
    return std::move(text_);
  }

 private:
  const char* root_;
  int depth_ = 0;
  std::vector<const char*> tags_;
  std::string text_;
};

// The animation settings group, with the given frame count.
void animeSettingsGroup(TemplateText& t, const char* frameCount) {
  t.leaf("fps", "30");
  t.leaf("frameCount", frameCount);
  t.leaf("sortMode", "prio");
  t.leaf("canvasSize", "320 320");
  t.leaf("pivot", "0 0");
  t.leaf("bgColor", "FF323232");
  t.leaf("gridSize", "32");
  t.leaf("gridColor", "FF808080");
  t.leaf("ik_depth", "3");
  t.leaf("startFrame", "0");
  t.leaf("endFrame", "10");
  t.leaf("outStartNum", "0");
}

void texPackGroup(TemplateText& t) {
  t.leaf("maxSize", "4096 4096");
  t.leaf("forcePo2", "1");
  t.leaf("forceSquare", "0");
  t.leaf("margin", "0");
  t.leaf("padding", "1");
}

void projectSettings(TemplateText& t) {
  t.leaf("animeBaseDirectory");
  t.leaf("cellMapBaseDirectory");
  t.leaf("imageBaseDirectory");
  t.leaf("effectBaseDirectory");
  t.leaf("exportBaseDirectory", "Export");
  t.leaf("queryExportBaseDirectory", "1");
  t.open("vtaxImport");
  t.leaf("convertImageOffsetToCellAnime", "1");
  t.leaf("ignorePivotAsCellRegister", "1");
  t.leaf("keepAngleAsIsIfNegativeScale", "1");
  t.close();
  t.leaf("copyWhenImportImageIsOutside", "1");
  t.leaf("exportAnimeFileFormat", "VTAX");
  t.leaf("exportCellMapFileFormat", "invalid");
  t.leaf("exportCellMap", "0");
  t.leaf("copyImageWhenExportCellmap", "1");
  t.leaf("vtConverterOptions");
  t.open("vtaxExport");
  t.leaf("addAnimeNameEvenIfSingle", "1");
  t.leaf("listAllCellMaps", "1");
  t.leaf("connectAnimations", "0");
  t.leaf("zRotCurveParamAsRadian", "1");
  t.leaf("reverseZRotSignForNegativeScale", "1");
  t.leaf("numberOfPivotDecimals", "0");
  t.close();
  t.leaf("player", "any");
  t.leaf("strictVer4", "0");
  t.leaf("dontUseMatrixForTransform", "0");
  t.leaf("rootPartFunctionAsVer4", "0");
  t.leaf("interpolateColorBlendAsVer4", "1");
  t.leaf("interpolateVertexOffsetAsVer4", "1");
  t.leaf("restrictXYAsInteger", "0");
  t.leaf("inheritRatesNoKeySave", "1");
  t.list("availableInterpolationTypes", "item",
         {"none", "linear", "hermite", "bezier", "acceleration", "deceleration"});
  t.list("availableAttributes", "item",
         {"CELL", "POSX", "POSY", "POSZ", "ROTX", "ROTY", "ROTZ", "SCLX", "SCLY", "LSCX",
          "LSCY", "ALPH", "LALP", "PRIO", "IFLH", "IFLV", "FLPH", "FLPV", "HIDE", "PCOL",
          "VCOL", "VERT", "PVTX", "PVTY", "ANCX", "ANCY", "SIZX", "SIZY", "UVTX", "UVTY",
          "UVRZ", "UVSX", "UVSY", "BNDR", "MASK", "USER", "IPRM", "EFCT"});
  t.list("availableFeatures", "value", {"bone", "effect", "mask", "mesh"});
  t.list("defaultSetAttributes", "item", {"POSX", "POSY", "ROTZ", "PRIO", "HIDE"});
  t.leaf("wrapMode", "clamp");
  t.leaf("filterMode", "linear");
  t.leaf("interpolationType", "linear");
  t.open("renderingSettings");
  t.leaf("outputFolder");
  t.leaf("outputType", "AVI");
  t.leaf("bgColor", "FF606060");
  t.leaf("addAnimeName", "0");
  t.leaf("addTimeStamp", "0");
  t.leaf("addAlphaChanel", "1");
  t.leaf("imageSizeRatioW", "100");
  t.leaf("imageSizeRatioH", "100");
  t.leaf("imageSizeRatioFix", "1");
  t.leaf("imageSizeIsPixcel", "1");
  t.close();
  t.open("effectSettings");
  t.leaf("gridSize", "50");
  t.close();
  t.line("<cellTags />");
  t.leaf("useDecimalDigit", "2");
  t.leaf("canvasFrameColor", "1");
  t.leaf("convertImageToPMA", "0");
  t.leaf("blendImageAsPMA", "0");
  t.leaf("unpremultiplyAlpha", "0");
}

// The project; the option sections as empty containers when `skeleton`.
std::string projectText(bool skeleton) {
  TemplateText t("VantrelProject", "2.00.00");
  t.leaf("name");
  t.leaf("exportPath");
  t.open("settings");
  if (!skeleton) projectSettings(t);
  t.close();
  t.open("animeSettings");
  if (!skeleton) animeSettingsGroup(t, "11");
  t.close();
  t.open("texPackSettings");
  if (!skeleton) texPackGroup(t);
  t.close();
  t.list("cellmapNames", "value", {""});
  t.list("animepackNames", "value", {""});
  t.leaf("lastAnimeFile");
  t.leaf("lastAnimeName", "anime_1");
  t.leaf("lastCellMapFile");
  return t.finish();
}

std::string cellMapText(bool skeleton) {
  TemplateText t("VantrelCellMap", "2.00.00");
  t.leaf("name");
  t.leaf("exportPath");
  t.leaf("imagePath");
  t.leaf("pixelSize");
  t.leaf("overrideTexSettings", "0");
  t.leaf("wrapMode", "clamp");
  t.leaf("filterMode", "linear");
  t.leaf("imagePathAtImport");
  t.leaf("packInfoFilePath");
  t.open("texPackSettings");
  if (!skeleton) texPackGroup(t);
  t.close();
  t.empty("cells");
  return t.finish();
}

std::string animePackText(bool skeleton) {
  TemplateText t("VantrelAnimePack", "2.00.01");
  t.open("settings");
  if (!skeleton) animeSettingsGroup(t, "11");
  t.close();
  t.leaf("name");
  t.leaf("exportPath");
  t.open("Model");
  t.empty("partList");
  t.close();
  t.list("cellmapNames", "value", {""});
  t.open("animeList");
  for (const auto& [name, frameCount, isSetup] :
       {std::make_tuple("Setup", "1", "1"), std::make_tuple("anime_1", "11", "0")}) {
    t.open("anime");
    t.leaf("name", name);
    t.leaf("overrideSettings", "1");
    t.open("settings");
    if (!skeleton) animeSettingsGroup(t, frameCount);
    t.close();
    t.line("<labels/>");
    t.leaf("isSetup", isSetup);
    t.empty("partAnimes");
    t.close();
  }
  t.close();
  return t.finish();
}

// Appends a deep copy of every child node of `from` to the end of `to`'s
// children; nothing when either is missing.
void copyChildren(const XMLElement* from, XMLElement* to) {
  if (!from || !to) return;
  for (const XMLNode* node = from->FirstChild(); node; node = node->NextSibling())
    to->InsertEndChild(node->DeepClone(to->GetDocument()));
}

// A section of the option file: VantrelOption/<name>; null when missing.
const XMLElement* optionSection(const XMLDocument& option, const char* name) {
  const XMLElement* root = option.FirstChildElement("VantrelOption");
  return root ? root->FirstChildElement(name) : nullptr;
}

XMLElement* childOf(XMLElement* parent, const char* name) {
  return parent ? parent->FirstChildElement(name) : nullptr;
}

// Loads `skeleton`, lets `fill` copy the option sections into the loaded
// root and returns the printed document; the skeleton itself when it cannot
// be loaded.
std::string fillSkeleton(const std::string& skeleton,
                         const std::function<void(XMLElement* root)>& fill) {
  XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
  if (document.Parse(skeleton.data(), skeleton.size()) != tinyxml2::XML_SUCCESS) return skeleton;
  fill(document.RootElement());
  return printDocument(document);
}

}  // namespace

void Vtxx_template::build(const XMLDocument& option, const LineSink& lines) {
  if (option.ErrorID() != tinyxml2::XML_SUCCESS) {
    lines("make vtpj from default.");
    makeDefault();
  } else {
    lines("make vtpj from vtop.");
    makeFromOption(option);
  }
}

Status Vtxx_template::makeDocument(const std::string& path, const tinyxml2::XMLDocument& option,
                                  const LineSink& lines, tinyxml2::XMLDocument& document) {
  setPath(path);
  build(option, lines);
  return load(document);
}

Status Vtxx_template::load(XMLDocument& document) const {
  if (document.Parse(text_.data(), text_.size()) == tinyxml2::XML_SUCCESS) return Status::ok();
  return Status::failure(Status::Code::kInvalid,
                         "error: cannot read back the document made for " + path_ + ": " + document.ErrorStr() + "\n",
                         "");
}

void Vtpj_template::makeDefault() { text_ = projectText(false); }

void Vtpj_template::makeFromOption(const XMLDocument& option) {
  text_ = fillSkeleton(projectText(true), [&option](XMLElement* root) {
    copyChildren(optionSection(option, "exportPath"), childOf(root, "exportPath"));
    copyChildren(optionSection(option, "projectSettings"), childOf(root, "settings"));
    copyChildren(optionSection(option, "animeSettings"), childOf(root, "animeSettings"));
    copyChildren(optionSection(option, "texPackSettings"), childOf(root, "texPackSettings"));
  });
}

void Vtce_template::makeDefault() { text_ = cellMapText(false); }

void Vtce_template::makeFromOption(const XMLDocument& option) {
  text_ = fillSkeleton(cellMapText(true), [&option](XMLElement* root) {
    copyChildren(optionSection(option, "texPackSettings"), childOf(root, "texPackSettings"));
  });
}

void Vtae_template::makeDefault() { text_ = animePackText(false); }

void Vtae_template::makeFromOption(const XMLDocument& option) {
  text_ = fillSkeleton(animePackText(true), [&option](XMLElement* root) {
    const XMLElement* animeSettings = optionSection(option, "animeSettings");
    copyChildren(animeSettings, childOf(root, "settings"));
    XMLElement* setup = childOf(childOf(root, "animeList"), "anime");
    XMLElement* setupSettings = childOf(setup, "settings");
    copyChildren(animeSettings, setupSettings);
    // The Setup animation is one frame long whatever the option file says.
    if (XMLElement* frameCount = childOf(setupSettings, "frameCount")) frameCount->SetText("1");
    if (setup) copyChildren(animeSettings, childOf(setup->NextSiblingElement("anime"), "settings"));
  });
}

}  // namespace korvex
