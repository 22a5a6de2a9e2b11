#include "documents/document_build.h"

#include <cstdarg>
#include <cstdio>
#include <vector>


namespace korvex {

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (size > 0) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    text.assign(buffer.data(), static_cast<size_t>(size));
  }
  va_end(again);
  return text;
}

tinyxml2::XMLElement* appendText(tinyxml2::XMLElement* parent, const char* name,
                                 const std::string& text) {
  tinyxml2::XMLElement* element = appendElement(parent, name);
  element->InsertEndChild(parent->GetDocument()->NewText(text.c_str()));
  return element;
}

tinyxml2::XMLElement* appendElement(tinyxml2::XMLElement* parent, const char* name) {
  return parent->InsertNewChildElement(name);
}

tinyxml2::XMLElement* ElementFinder::operator()(tinyxml2::XMLNode* parent, const char* name) {
  tinyxml2::XMLElement* child = parent ? parent->FirstChildElement(name) : nullptr;
  if (!child) note(std::string("no <") + name + "> element");
  return child;
}

void ElementFinder::note(const std::string& what) { lines_ += "error: " + path_ + ": " + what + "\n"; }

Status ElementFinder::status() const {
  return lines_.empty() ? Status::ok() : Status::failure(Status::Code::kInvalid, lines_, "");
}

}  // namespace korvex
