// Helpers the document writers share: formatted numbers, new elements, and
// the single-precision truncation used for positions and pivots.
#pragma once

#include <cstdint>
#include <string>

#include <tinyxml2.h>

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

// The child `name` of `parent`; null, with "error: <path>: no <name> element"
// printed, when either is missing.
tinyxml2::XMLElement* requireChild(tinyxml2::XMLNode* parent, const char* name,
                                   const std::string& path);

}  // namespace korvex
