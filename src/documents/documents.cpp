#include "documents/documents.h"

namespace korvex {
// Stub: replaced by the documents module's implementation.
bool writeCellMap(const std::string&, const ConversionSettings&, const CellTable&, VTTexturePack&,
                  PrevCellMap&, const VTOptionReader&) { return false; }
bool writeAnimePack(const std::string&, const ConversionSettings&, const CellTable&,
                    const VTTexturePack&, bool, const VTOptionReader&) { return false; }
bool writeProject(const std::string&, const std::string&, const tinyxml2::XMLDocument&) { return false; }
}  // namespace korvex
