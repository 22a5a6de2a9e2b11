#include "image/png.h"

namespace korvex {
// Stub: replaced by the atlas writer.
bool write_png(const uint8_t*, int32_t, int32_t, const std::string&) { return false; }
}  // namespace korvex
