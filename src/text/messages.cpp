#include "text/messages.h"

#include "platform/platform.h"

namespace korvex {
// Stub: replaced by the text module's implementation.
void loadMessageCatalogue() {}
void printMessage(const char* label, ...) { platform::writeConsole(std::string(label) + "\n"); }
void printLine(const std::string& text) { platform::writeConsole(text + "\n"); }
}  // namespace korvex
