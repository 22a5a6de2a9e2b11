// The PSD reader: bytes or a file to a Document (see document.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psd/document.h"

namespace korvex::psd {

// Loads the PSD at `path`. False with `error` saying what is wrong and where
// when the file cannot be read, is not a version-1 PSD of a supported mode
// and depth, or is damaged.
bool loadDocument(const std::string& path, Document& document, std::string& error);
// The same from bytes in memory. `threads` decode the layers (0: as many as
// the machine has cores, up to a small cap); the document is the same on any
// number of threads.
bool parseDocument(const uint8_t* data, size_t size, Document& document, std::string& error,
                   unsigned threads = 0);
// The document's own merged image (width*height pixels, colour channels
// only, alpha 255), as the writing program flattened it. Not needed by the
// conversion; tests compare composites with it.
bool readMergedImage(const uint8_t* data, size_t size, std::vector<uint32_t>& pixels, std::string& error);

}  // namespace korvex::psd
