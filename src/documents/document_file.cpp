#include "documents/document_file.h"

#include "platform/platform.h"
#include "text/messages.h"

namespace korvex {

std::string withCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string printDocument(const tinyxml2::XMLDocument& document) {
  tinyxml2::XMLPrinter printer(nullptr, false, 0);
  document.Print(&printer);
  // CStrSize counts the terminating zero.
  return withCrLf(std::string(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1)));
}

bool saveDocument(const tinyxml2::XMLDocument& document, const std::string& path) {
  if (platform::writeFileAtomically(path, printDocument(document))) return true;
  printLine("error: cannot write " + path);
  return false;
}

}  // namespace korvex
