// How the editor documents are stored: tinyxml2's indented printer (four
// spaces per depth, the declaration as loaded, "<a/>" for an element without
// children, "<a></a>" for one whose only child is an empty text), UTF-8
// without a byte-order mark, CR LF line ends on every platform.
#pragma once

#include <string>

#include <tinyxml2.h>

#include "platform/platform.h"
#include "platform/status.h"

namespace korvex {

// The bytes of `document` as stored.
std::string printDocument(const tinyxml2::XMLDocument& document);

// Adds printDocument(document) to `outputs` as the new file at `path`. A
// failure carries "error: cannot write <path>" and the reason; the previous
// file is then untouched.
Status saveDocument(const tinyxml2::XMLDocument& document, const std::string& path,
                    platform::OutputSet& outputs);


// `text` with every "\n" turned into "\r\n".
std::string withCrLf(const std::string& text);

}  // namespace korvex
