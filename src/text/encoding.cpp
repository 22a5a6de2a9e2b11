#include "text/encoding.h"

namespace korvex {
// Stub: replaced by the text module's implementation.
std::string sjisToUtf8(const std::string& s) { return s; }
std::string utf8ToSjis(const std::string& s) { return s; }
bool wideToUtf8(const std::u16string&, std::string&) { return false; }
std::string utf8ToConsole(const std::string& s) { return s; }
std::string sjisToConsole(const std::string& s) { return s; }
std::string consoleToUtf8(const std::string& s) { return s; }
}  // namespace korvex
