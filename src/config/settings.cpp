#include "config/settings.h"

namespace korvex {
// Stub: replaced by the config module's implementation.
bool ConversionSettings::readJsonSettings(const std::string&) { return false; }
bool ConversionSettings::readTextSettings(const std::string&) { return false; }
bool parseOptions(ConversionSettings&, int, const char* const[]) { return false; }
}  // namespace korvex
