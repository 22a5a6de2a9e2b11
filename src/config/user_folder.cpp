#include "config/user_folder.h"

#include "platform/platform.h"

namespace korvex {
// Stub: replaced by the config module's implementation.
std::string documentsFolder() { return platform::documentsFolderPath(); }
bool buildSettingsBasePath(std::string&) { return false; }
VTOptionReader::VTOptionReader() : document(true, tinyxml2::PRESERVE_WHITESPACE) {}
bool VTOptionReader::loadEditorOptions() { return false; }
}  // namespace korvex
