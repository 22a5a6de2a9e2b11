// The message catalogue: every labelled status, warning and error line, in
// Japanese, printed on standard error in the console encoding.
#pragma once

#include <string>

namespace korvex {

// Loads the embedded catalogue once, at start-up.
void loadMessageCatalogue();

// The Japanese text of `label` formatted with printf-style arguments: the
// line printMessage prints, without its line end (cut to 1,022 characters).
std::string formatMessage(const char* label, ...);

// Prints the Japanese text of `label` formatted with printf-style arguments,
// then a line end, on standard error (flushed). String arguments must
// already be in the console encoding. An unknown label prints an empty line.
void printMessage(const char* label, ...);

// Writes an unlabelled progress line (text + "\n") on standard error, flushed.
void printLine(const std::string& text);

}  // namespace korvex
