// Adjustment layers against Photoshop's own merged images, on the files of
// ../shared/psd-samples/photoshop-truth/ whose adjustments sit over plain
// layers: the layers below are composited, each visible adjustment is
// applied in file order through its mask (and its clipping base's shape),
// and the opaque pixels are compared with the merged image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

const std::string kTruth = test::samplesFolder() + "/photoshop-truth/";

// How much of record `r` shows at canvas pixel (x, y): its mask times its
// opacity.
int maskAt(const LayerRecord& r, int x, int y) {
  const LayerMask& m = r.mask;
  int v = m.defaultColor;
  const int mx = x - m.left, my = y - m.top;
  if (!m.data.empty() && mx >= 0 && my >= 0 && mx < m.width && my < m.height)
    v = m.data[static_cast<size_t>(my) * static_cast<size_t>(m.width) + static_cast<size_t>(mx)];
  if (m.disabled) v = 255;
  if (m.inverted) v = 255 - v;
  return v * r.opacity / 255;
}

int alphaAt(const LayerRecord& r, int x, int y) {
  const int lx = x - r.left, ly = y - r.top;
  if (lx < 0 || ly < 0 || lx >= r.width || ly >= r.height) return 0;
  return static_cast<int>(r.imageData[static_cast<size_t>(ly) * static_cast<size_t>(r.width) + static_cast<size_t>(lx)] >> 24);
}

// The share of opaque pixels within 3 levels of the merged image.
double shareWithinThreeLevels(const std::string& name) {
  const std::string bytes = test::readFile(kTruth + name);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  Document doc;
  std::string error;
  std::vector<uint32_t> merged;
  EXPECT_TRUE(parseDocument(data, bytes.size(), doc, error)) << name << ": " << error;
  EXPECT_TRUE(readMergedImage(data, bytes.size(), merged, error)) << name << ": " << error;
  // Fill layers here carry their pixels; draw those like pixel layers.
  std::vector<const LayerRecord*> below;
  std::vector<size_t> adjustments;
  for (size_t i = 0; i < doc.layerRecords.size(); ++i) {
    LayerRecord& r = doc.layerRecords[i];
    if (r.layerType == kLayerGradientFill) r.layerType = kLayerNormal;
    if (r.adjustment)
      adjustments.push_back(i);
    else
      below.push_back(&r);
  }
  Compositor compositor(doc);
  Box touched;
  EXPECT_TRUE(compositor.composite(below, touched));
  const int w = doc.width, h = doc.height;
  std::vector<uint32_t> canvas(compositor.canvas(), compositor.canvas() + static_cast<size_t>(w) * static_cast<size_t>(h));
  for (size_t i : adjustments) {
    const LayerRecord& r = doc.layerRecords[i];
    if (!r.visible) continue;
    size_t base = i;
    while (r.clipping && base > 0 && doc.layerRecords[base].clipping) --base;
    std::vector<uint32_t> adjusted = canvas;
    applyAdjustment(*r.adjustment, adjusted.data(), adjusted.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int m = maskAt(r, x, y);
        if (r.clipping) {
          const LayerRecord& b = doc.layerRecords[base];
          m = m * (b.adjustment ? maskAt(b, x, y) : alphaAt(b, x, y)) / 255;
        }
        const size_t j = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
        uint32_t out = canvas[j] & 0xFF000000u;
        for (int s = 0; s < 24; s += 8) {
          const int a = static_cast<int>(canvas[j] >> s & 0xFF), b = static_cast<int>(adjusted[j] >> s & 0xFF);
          out |= static_cast<uint32_t>(std::lround(a + (b - a) * m / 255.0)) << s;
        }
        canvas[j] = out;
      }
  }
  size_t opaque = 0, close = 0;
  for (size_t j = 0; j < canvas.size(); ++j) {
    if (canvas[j] >> 24 != 255) continue;
    ++opaque;
    int d = 0;
    for (int s = 0; s < 24; s += 8)
      d = std::max(d, std::abs(static_cast<int>(canvas[j] >> s & 0xFF) - static_cast<int>(merged[j] >> s & 0xFF)));
    close += d <= 3;
  }
  EXPECT_GT(opaque, 0u) << name;
  return opaque ? static_cast<double>(close) / static_cast<double>(opaque) : 0;
}

TEST(AdjustmentsTruth, MatchPhotoshopsMergedImages) {
  KORVEX_SKIP_WITHOUT_SAMPLES();
  struct Case {
    const char* file;
    double share;
  } const kCases[] = {
      {"psd-tools/tests/psd_files/adjustments/levels_rgb.psd", 0.999},
      {"psd-tools/tests/psd_files/adjustments/adjustment_clipping.psd", 0.999},  // curves
      {"psd-tools/tests/psd_files/clip-adjustment.psd", 0.999},                  // hue/saturation
      {"psd-tools/tests/psd_files/adjustments/threshold_16bits_rgb.psd", 0.999},
      // A 16-bit document: pixels whose 16-bit value lies on the other side
      // of a bin edge than its 8-bit rounding differ by a whole level.
      {"psd-tools/tests/psd_files/adjustments/posterize_16bits_grayscale.psd", 0.985},
  };
  for (const Case& c : kCases) {
    EXPECT_GE(shareWithinThreeLevels(c.file), c.share) << c.file;
  }
}

}  // namespace
}  // namespace korvex::psd
