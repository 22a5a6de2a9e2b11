#include "support/psd_writer.h"

// Stub: replaced by the PSD module's test writer.
namespace korvex::test {
PsdRecord solidLayer(const std::string& name, int32_t left, int32_t top, int32_t width,
                     int32_t height, uint32_t argb) {
  PsdRecord r;
  r.name = name;
  r.left = left;
  r.top = top;
  r.width = width;
  r.height = height;
  r.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), argb);
  return r;
}
std::vector<PsdRecord> group(const std::string&, const std::vector<PsdRecord>&, bool) { return {}; }
void append(std::vector<PsdRecord>& records, const std::vector<PsdRecord>& more) {
  records.insert(records.end(), more.begin(), more.end());
}
std::string makePsd(const PsdOptions&, const std::vector<PsdRecord>&) { return {}; }
bool writePsd(const std::string&, const PsdOptions&, const std::vector<PsdRecord>&) { return false; }
}  // namespace korvex::test
