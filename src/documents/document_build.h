// Helpers the document writers share: formatted numbers, new elements, and
// the single-precision truncation used for positions and pivots.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <tinyxml2.h>

#include "platform/status.h"

namespace korvex {

// printf-style formatting into a string (LC_NUMERIC stays "C", so "%f"
// prints a decimal point).
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends <name>text</name> to `parent` and returns it. An empty text still
// makes a text node, printed as "<name></name>".
tinyxml2::XMLElement* appendText(tinyxml2::XMLElement* parent, const char* name,
                                 const std::string& text);
// Appends an element without children, printed as "<name/>" while empty.
tinyxml2::XMLElement* appendElement(tinyxml2::XMLElement* parent, const char* name);

// Finds the elements a writer fills in the document for `path`. Each one
// missing (a missing parent's children too) is noted as the line
// "error: <path>: no <name> element".
class ElementFinder {
 public:
  explicit ElementFinder(std::string path) : path_(std::move(path)) {}
  // The child `name` of `parent`; null when either is missing.
  tinyxml2::XMLElement* operator()(tinyxml2::XMLNode* parent, const char* name);
  // Notes "error: <path>: <what>" for an element missing in another way.
  void note(const std::string& what);
  // Ok when nothing was missing; otherwise the noted lines as the message.
  Status status() const;

 private:
  std::string path_;
  std::string lines_;
};

}  // namespace korvex
