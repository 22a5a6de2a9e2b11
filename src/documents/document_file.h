// How the editor documents are stored: tinyxml2's indented printer (four
// spaces per depth, the declaration as loaded, "<a/>" for an element without
// children, "<a></a>" for one whose only child is an empty text), UTF-8
// without a byte-order mark, CR LF line ends on every platform.
#pragma once

#include <string>

#include <tinyxml2.h>

namespace korvex {

// The bytes of `document` as stored.
std::string printDocument(const tinyxml2::XMLDocument& document);

// Replaces the file at `path` with printDocument(document) in one atomic
// step. False, with "error: cannot write <path>" printed, when it fails; the
// previous file is then untouched.
bool saveDocument(const tinyxml2::XMLDocument& document, const std::string& path);

// `text` with every "\n" turned into "\r\n".
std::string withCrLf(const std::string& text);

}  // namespace korvex
