// Gradient and pattern fills against Photoshop's own renderings: the
// pixels Photoshop stored for a fill layer, and its merged image where the
// fill is the visible top layer. Skipped when ../shared/psd-samples is
// missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "psd/fills.h"
#include "psd/reader.h"
#include "psd/vector_mask.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

const std::string kTruth = test::samplesFolder() + "/photoshop-truth/psd-tools/tests/psd_files/";

struct Truth {
  std::string bytes;
  Document document;
  std::vector<uint32_t> merged;
};

// Loads `name`.
void loadTruth(const std::string& name, Truth& t) {
  t.bytes = test::readFile(kTruth + name);
  std::string error;
  const auto* data = reinterpret_cast<const uint8_t*>(t.bytes.data());
  EXPECT_TRUE(parseDocument(data, t.bytes.size(), t.document, error)) << name << ": " << error;
  EXPECT_TRUE(readMergedImage(data, t.bytes.size(), t.merged, error)) << name << ": " << error;
}

// The fill of record `index` drawn over the canvas. An aligned gradient
// spans its vector mask's bounds, else the layer's, or its raster mask's
// when the layer stores no pixels.
std::vector<uint32_t> drawFill(const Document& d, size_t index) {
  const LayerRecord& r = d.layerRecords.at(index);
  const Box canvas{0, 0, d.width, d.height};
  std::vector<uint32_t> out(static_cast<size_t>(d.width) * d.height);
  if (r.layerType == kLayerPatternFill) {
    for (const Pattern& p : d.patterns) {
      if (p.id == r.patternFill.patternId) renderPatternFill(r.patternFill, p, canvas, out.data());
    }
    return out;
  }
  Box reference = canvas;
  if (r.gradientFill.alignWithLayer && r.vectorMask) {
    reference = bounds(*r.vectorMask, d.width, d.height);
  } else if (r.gradientFill.alignWithLayer) {
    reference = r.width > 0 ? Box{r.left, r.top, r.left + r.width, r.top + r.height}
                            : Box{r.mask.left, r.mask.top, r.mask.left + r.mask.width, r.mask.top + r.mask.height};
  }
  renderGradientFill(r.gradientFill, reference, canvas, out.data());
  return out;
}

int channelDifference(uint32_t a, uint32_t b) {
  int most = 0;
  for (int shift = 0; shift < 24; shift += 8) most = std::max(most, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
  return most;
}

// The largest colour difference between the fill and the pixels Photoshop
// stored for the layer, over the layer's opaque pixels on the canvas.
int storedDifference(const Document& d, size_t index) {
  const LayerRecord& r = d.layerRecords.at(index);
  const std::vector<uint32_t> fill = drawFill(d, index);
  int most = -1;
  for (int y = 0; y < r.height; ++y) {
    for (int x = 0; x < r.width; ++x) {
      const int cx = r.left + x, cy = r.top + y;
      const uint32_t stored = r.imageData[static_cast<size_t>(y) * r.width + x];
      if (cx < 0 || cy < 0 || cx >= d.width || cy >= d.height || stored >> 24 != 255) continue;
      most = std::max(most, channelDifference(stored, fill[static_cast<size_t>(cy) * d.width + cx]));
    }
  }
  return most;
}

TEST(FillsTruth, GradientFillsMatchPhotoshopsPixels) {
  Truth t;
  // Linear-light mixing, midpoint 13 %, smoothness 40 %, not aligned; the
  // second at scale 48 % with an offset of -0.625 pixels.
  KORVEX_SKIP_WITHOUT_SAMPLES();
  loadTruth("adjustments/adjustment_clipping.psd", t);
  ASSERT_EQ(t.document.layerRecords.at(0).layerType, kLayerGradientFill);
  EXPECT_EQ(storedDifference(t.document, 0), 1);
  EXPECT_EQ(storedDifference(t.document, 1), 1);
}

TEST(FillsTruth, ShapeLayerGradientsSpanTheirPaths) {
  Truth t;
  // Four dithered rainbow gradients at 180 degrees, each cut by a square
  // path one pixel inside the layer's bounds.
  KORVEX_SKIP_WITHOUT_SAMPLES();
  loadTruth("transparency/knockout-isolated-groups.psd", t);
  int fills = 0;
  for (size_t i = 0; i < t.document.layerRecords.size(); ++i) {
    if (t.document.layerRecords[i].layerType != kLayerGradientFill) continue;
    EXPECT_LE(storedDifference(t.document, i), 1) << i;
    ++fills;
  }
  EXPECT_EQ(fills, 4);
}

TEST(FillsTruth, GradientFillOfA32BitDocumentMatchesTheMergedImage) {
  Truth t;
  // Classic mixing with smoothness 100 % in linear light, aligned with its
  // layer, which has only a mask: the merged image inside the mask.
  KORVEX_SKIP_WITHOUT_SAMPLES();
  loadTruth("gradient-fill.psd", t);
  const Document& d = t.document;
  const LayerRecord& r = d.layerRecords.at(2);
  ASSERT_EQ(r.layerType, kLayerGradientFill);
  const std::vector<uint32_t> fill = drawFill(d, 2);
  int most = 0, compared = 0;
  for (int y = 0; y < r.mask.height; ++y) {
    for (int x = 0; x < r.mask.width; ++x) {
      if (r.mask.data[static_cast<size_t>(y) * r.mask.width + x] != 255) continue;
      const size_t at = static_cast<size_t>(r.mask.top + y) * d.width + r.mask.left + x;
      most = std::max(most, channelDifference(t.merged[at], fill[at]));
      ++compared;
    }
  }
  EXPECT_GT(compared, 1000);
  EXPECT_LE(most, 1);
}

TEST(FillsTruth, PatternFillMatchesExactly) {
  Truth t;
  KORVEX_SKIP_WITHOUT_SAMPLES();
  loadTruth("layers/pattern-fill.psd", t);
  ASSERT_EQ(t.document.patterns.size(), 1u);
  EXPECT_EQ(storedDifference(t.document, 0), 0);
  const std::vector<uint32_t> fill = drawFill(t.document, 0);
  for (size_t i = 0; i < fill.size(); ++i) ASSERT_EQ(fill[i] & 0xFFFFFFu, t.merged[i] & 0xFFFFFFu) << i;
}

}  // namespace
}  // namespace korvex::psd
