#include "documents/document_file.h"

#include <cstdio>

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

Status saveDocument(const tinyxml2::XMLDocument& document, const std::string& path,
                    platform::OutputSet& outputs) {
  const std::string bytes = printDocument(document);
  return outputs.add(path, "error: cannot write " + path + "\n", [&](std::FILE* file) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  });
}

}  // namespace korvex
