#include "config/user_folder.h"

#include "platform/platform.h"

namespace korvex {

bool loadXmlFile(tinyxml2::XMLDocument& document, const std::string& path) {
  if (!platform::isRegularFile(path)) {
    document.Parse("", 0);  // leaves the document empty and in error, as a missing file would
    return false;
  }
  return document.LoadFile(path.c_str()) == tinyxml2::XML_SUCCESS;
}

std::string documentsFolder() { return platform::documentsFolderPath(); }

bool buildSettingsBasePath(std::string& settingsBasePath) {
  std::string documents = documentsFolder();
  if (documents.empty()) return false;
  settingsBasePath = documents + "/Korvex/" + "convert_info";
  return true;
}

VTOptionReader::VTOptionReader() : document(true, tinyxml2::PRESERVE_WHITESPACE) {}

bool VTOptionReader::loadEditorOptions(const LineSink& lines) {
  std::string documents = documentsFolder();
  if (documents.empty()) return false;
  optionPath = documents + "/Vantrel/VtOption_v6.vtop";
  betaOptionPath = documents + "/Vantrel/VtOption_v6_beta.vtop";

  lines("Load vtop : " + optionPath);
  if (loadXmlFile(document, optionPath)) {
    lines("Project setting Load vtop : " + optionPath);
    return true;
  }
  lines("Load vtop_beta : " + betaOptionPath);
  if (loadXmlFile(document, betaOptionPath)) {
    lines("Project setting Load vtop_beta : " + betaOptionPath);
    return true;
  }
  // Neither file loaded: the document keeps its error and the templates use
  // their built-in defaults.
  lines("Project setting Load Tool Default ");
  return true;
}

}  // namespace korvex
