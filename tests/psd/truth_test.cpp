// The whole-document render against Photoshop's own merged image, on the
// Photoshop-written files of the shared sample corpus (photoshop-truth/).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

const std::string kTruth = test::samplesFolder() + "/photoshop-truth";

// How far a render is from the merged image: the share of pixels whose
// components all lie within 3 levels, and the largest difference.
struct Match {
  double within3 = 0;  // percent
  int maxDiff = 0;
};

// The render flattened onto white, as Photoshop mattes the colour channels
// of its merged image, against that image.
Match compare(const Document& d, const uint32_t* render, const std::vector<uint32_t>& merged) {
  const size_t n = static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
  size_t good = 0;
  Match m;
  for (size_t k = 0; k < n && k < merged.size(); ++k) {
    const uint32_t p = render[k], a = p >> 24;
    int worst = 0;
    for (int s = 0; s < 24; s += 8) {
      const int flat = static_cast<int>((((p >> s) & 255) * a + 255 * (255 - a) + 127) / 255);
      worst = std::max(worst, std::abs(flat - static_cast<int>((merged[k] >> s) & 255)));
    }
    m.maxDiff = std::max(m.maxDiff, worst);
    good += worst <= 3;
  }
  m.within3 = n ? 100.0 * static_cast<double>(good) / static_cast<double>(n) : 100;
  return m;
}

// Files that cannot match yet: measured numbers and why. The render must
// not fall below the measured share.
struct Known {
  const char* file;
  double within3;
  int maxDiff;
  const char* reason;
};

const Known kKnown[] = {
    {"ag-psd/test/read-write/effects/src.psd", 91.25, 183,
     "layer effects: a noise gradient overlay (random per file); inner "
     "shadow about a pixel short of Photoshop's; glows and satin within 10-30 levels"},
    {"psd-tools/tests/psd_files/passthrough_fill_blendmode.psd", 63.37, 19,
     "a pass-through group's fill opacity over a lighter colour layer: Photoshop's rule not found yet"},
    {"psd-tools/tests/psd_files/layer_comps.psb", 84.16, 152,
     "a smooth bevel of 100 px on a 163 px circle shades differently from Photoshop's; effect strokes' "
     "edges"},
};

const char* const kFiles[] = {
    "ag-psd/test/read-write/effects/src.psd",
    "ag-psd/test/read-write/adjustments/src.psd",
    "ag-psd/test/read-write/group-blend/src.psd",
    "ag-psd/test/read-write/strokes/src.psd",
    "ag-psd/test/read/text-carriage-return/src.psd",
    "psd-tools/tests/psd_files/transparency/knockout-isolated-groups.psd",
    "psd-tools/tests/psd_files/transparency/clip-opacity.psd",
    "psd-tools/tests/psd_files/advanced-blending.psd",
    "psd-tools/tests/psd_files/effects/stroke-composite.psd",
    "psd-tools/tests/psd_files/clipping-mask4.psd",
    "psd-tools/tests/psd_files/clip-adjustment.psd",
    "psd-tools/tests/psd_files/passthrough_fill_blendmode.psd",
    "psd-tools/tests/psd_files/passthrough_blendmodes2.psd",
    "psd-tools/tests/psd_files/adjustments/adjustment_clipping.psd",
    "psd-tools/tests/psd_files/adjustments/levels_rgb.psd",
    "psd-tools/tests/psd_files/adjustments/threshold_16bits_rgb.psd",
    "psd-tools/tests/psd_files/adjustments/posterize_16bits_grayscale.psd",
    "psd-tools/tests/psd_files/blend-modes/cmyk-blend-modes.psd",
    "psd-tools/tests/psd_files/mask-density-layermask.psd",
    "psd-tools/tests/psd_files/gradient-fill.psd",
    "psd-tools/tests/psd_files/descriptors/stroke-color-descriptors-lab.psd",
    "psd-tools/tests/psd_files/layers/pattern-fill.psd",
    "psd-tools/tests/psd_files/layer_comps.psb",
    "psd.rb/examples/images/example16.psd",
    "oov-psd/testdata/mod2.psd",
    "PhotoshopAPI/PhotoshopTest/documents/BlendFill/blend_fill.psd",
};

TEST(PhotoshopTruth, RenderMatchesTheMergedImage) {
  KORVEX_SKIP_WITHOUT_SAMPLES();
  for (const char* file : kFiles) {
    const std::string bytes = test::readFile(kTruth + "/" + file);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    Document d;
    std::string error;
    std::vector<uint32_t> merged;
    const Known* known = nullptr;
    for (const Known& k : kKnown)
      if (std::string(k.file) == file) known = &k;
    Match m;
    if (parseDocument(data, bytes.size(), d, error) && readMergedImage(data, bytes.size(), merged, error)) {
      Compositor compositor(d);
      Box touched;
      ASSERT_TRUE(compositor.compositeDocument(touched)) << file;
      m = compare(d, compositor.canvas(), merged);
    } else {
      m.maxDiff = 255;
    }
    std::printf("%-70s %7.3f%% %4d %s\n", file, m.within3, m.maxDiff, error.c_str());
    if (known) {
      EXPECT_GE(m.within3, known->within3 - 0.01) << file << " got worse";
    } else {
      EXPECT_GE(m.within3, 99.0) << file;
    }
  }
}

}  // namespace
}  // namespace korvex::psd
