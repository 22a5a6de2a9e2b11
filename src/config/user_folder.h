// The per-user data folder (the Documents folder) and the editor's option file.
#pragma once

#include <string>

#include <tinyxml2.h>

#include "platform/status.h"

namespace korvex {

// Loads the XML file at `path` into `document`; false (the document empty
// and in error) when it is not a regular file or not well-formed. Linux
// opens folders, so the regular-file test keeps a folder from passing as a file.
bool loadXmlFile(tinyxml2::XMLDocument& document, const std::string& path);

// The user's Documents folder in the console encoding, no trailing
// separator; "" when unavailable.
std::string documentsFolder();

// Documents folder + "/Korvex/convert_info"; false when the folder is unavailable.
bool buildSettingsBasePath(std::string& settingsBasePath);

// The editor option file: "VtOption_v6.vtop", else "VtOption_v6_beta.vtop",
// in the "/Vantrel/" folder of the Documents folder.
class VTOptionReader {
 public:
  VTOptionReader();
  virtual ~VTOptionReader() = default;

  // Loads the option file, sending the "Load vtop : " progress lines to
  // `lines`; false only when the Documents folder is unavailable. A missing
  // or malformed option file leaves `document` in its error state (built-in
  // defaults).
  bool loadEditorOptions(const LineSink& lines);

  std::string optionPath;
  std::string betaOptionPath;
  tinyxml2::XMLDocument document;
};

}  // namespace korvex
