// libFuzzer entry point for the PSD reader and the compositor: parses the
// input, composites every record when it loads, and reads the merged image.
// Gradient and pattern fills of the records are drawn over a small area.
// The same bytes go through the descriptor parser, alone and after a
// version field, and through the pattern and gradient map block readers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/descriptor.h"
#include "psd/fills.h"
#include "psd/gradient.h"
#include "psd/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  korvex::psd::Document document;
  std::string error;
  // Composites stay on canvases of at most 4 megapixels to keep runs fast.
  if (korvex::psd::parseDocument(data, size, document, error) &&
      static_cast<int64_t>(document.width) * document.height <= (int64_t{1} << 22)) {
    korvex::psd::Compositor compositor(document);
    std::vector<const korvex::psd::LayerRecord*> records;
    for (const auto& record : document.layerRecords) records.push_back(&record);
    korvex::psd::Box touched;
    if (compositor.composite(records, touched)) compositor.clear(touched);
  }
  const korvex::psd::Box area{-8, -8, 8, 8};
  std::vector<uint32_t> pixels(256);
  for (const auto& record : document.layerRecords) {
    if (record.layerType == korvex::psd::kLayerGradientFill) {
      korvex::psd::renderGradientFill(record.gradientFill, area, area, pixels.data());
    }
    for (const auto& pattern : document.patterns) {
      if (record.layerType == korvex::psd::kLayerPatternFill && pattern.id == record.patternFill.patternId) {
        korvex::psd::renderPatternFill(record.patternFill, pattern, area, pixels.data());
      }
    }
    if (record.hasGradientMap) korvex::psd::applyGradientMap(record.gradientMap, pixels.data(), pixels.size());
  }
  std::vector<korvex::psd::Pattern> patterns;
  korvex::psd::parsePatterns(data, size, patterns, error);
  korvex::psd::GradientMap map;
  korvex::psd::parseGradientMap(data, size, map, error);
  std::vector<uint32_t> merged;
  korvex::psd::readMergedImage(data, size, merged, error);
  korvex::psd::DescriptorValue descriptor;
  korvex::psd::ByteReader plain(data, size);
  korvex::psd::readDescriptor(plain, descriptor, error);
  korvex::psd::ByteReader versioned(data, size);
  korvex::psd::readVersionedDescriptor(versioned, descriptor, error);
  return 0;
}
