// The reader and compositor on real files from other programs (the shared
// sample corpus, see its MANIFEST.md).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <png.h>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

const std::string kSamples = test::samplesFolder();

// Every test here reads the corpus; without it they skip, saying why.
class Samples : public testing::Test {
 protected:
  void SetUp() override {
    KORVEX_SKIP_WITHOUT_SAMPLES();
  }
};

TEST(SampleCorpus, TestsSkipOnlyWhenTheFolderIsMissing) {
  test::TempDir dir;
  EXPECT_EQ(test::missingSamplesMessage(dir.path()), "");
  EXPECT_EQ(test::missingSamplesMessage(dir.file("psd-samples")),
            "the sample corpus " + dir.file("psd-samples") + " is missing; the tests that read it are skipped");
  test::writeFile(dir.file("file"), "not a folder");
  EXPECT_NE(test::missingSamplesMessage(dir.file("file")), "");
}

struct Loaded {
  std::string bytes;
  Document document;
  std::string error;
  bool ok = false;
};

Loaded load(const std::string& name) {
  Loaded l;
  l.bytes = test::readFile(kSamples + "/" + name);
  l.ok = parseDocument(reinterpret_cast<const uint8_t*>(l.bytes.data()), l.bytes.size(), l.document, l.error);
  return l;
}

// Every file psd-tools opens, except the PSB (version 2) ones.
TEST_F(Samples, EveryFilePsdToolsOpensLoads) {
  const char* const kFiles[] = {
      "PhotoshopAPI/Compression/Compression_RAW_8bit.psd",
      "PhotoshopAPI/Compression/Compression_ZipPrediction_MaximizeCompatibilityOff_16bit.psd",
      "PhotoshopAPI/Grayscale/Grayscale_8.psd",
      "PhotoshopAPI/UnicodeNames/UnicodeLayerNames.psd",
      "Pillow/rgba.psd",
      "ag-psd/read/2026-blend-modes/src.psd",
      "ag-psd/read/bitmap-rle/src.psd",
      "ag-psd/read/fill-opacity/src.psd",
      "ag-psd/read/groups/src.psd",
      "ag-psd/read/layer-larger-than-drawing/src.psd",
      "ag-psd/read/layer-mask/src.psd",
      "ag-psd/read/rle-fail/src.psd",
      "ag-psd/read/sai/src.psd",
      "ag-psd/read/vector-layer/src.psd",
      "ag-psd/write/simple-compress/expected.psd",
      "chinedufn-psd/green-chinese-layer-name-1x1.psd",
      "chinedufn-psd/groups/rle-compressed-empty-channel.psd",
      "chinedufn-psd/negative-top-left-layer.psd",
      "chinedufn-psd/out-of-bounds-layer.psd",
      "oov-psd/bitmap.psd",
      "oov-psd/clipping.psd",
      "oov-psd/cmyk8bit_transparent.psd",
      "oov-psd/composite/psd/filled.psd",
      "oov-psd/grayscale16bit_transparent.psd",
      "oov-psd/indexed_transparent.psd",
      "oov-psd/mask.psd",
      "oov-psd/mod.psd",
      "oov-psd/rgb16bit.psd",
      "oov-psd/rgb32bit.psd",
      "oov-psd/rgb8bit+2ch+spot_transparent.psd",
      "oov-psd/rgb8bit.psd",
      "oov-psd/rgb8bit_nobg_transparent_medibang.psd",
      "psd-tools/adjustments/adjustment_nested_composition_1.psd",
      "psd-tools/blend-modes/group-divider-blend-mode.psd",
      "psd-tools/blend-modes/rgb-blend-modes.psd",
      "psd-tools/broken-groups.psd",
      "psd-tools/colormodes/4x4_16bit_multichannel.psd",
      "psd-tools/colormodes/4x4_8bit_duotone.psd",
      "psd-tools/colormodes/4x4_8bit_lab.psd",
      "psd-tools/empty-group.psd",
      "psd-tools/empty-layer.psd",
      "psd-tools/fill_adjustments.psd",
      "psd-tools/group-clipping/group-clipping.psd",
      "psd-tools/layer-name-emoji.psd",
      "psd-tools/layers/shape-layer.psd",
      "psd-tools/masks/2.psd",
      "psd-tools/opacity-fill.psd",
      "psd-tools/transparentbg-gimp.psd",
      "webtoon-psd/CJK.psd",
      "webtoon-psd/errors/original.psd",
      // Not opened by psd-tools but read by ag-psd: a channel without even
      // its compression field, which Korvex reads as no data.
      "oov-psd/ibispaint.psd",
  };
  for (const char* name : kFiles) {
    Loaded l = load(name);
    EXPECT_TRUE(l.ok) << name << ": " << l.error;
  }
}

TEST_F(Samples, DamagedAndUnsupportedFilesAreRefused) {
  const struct {
    const char* name;
    const char* reason;  // part of the error
  } kFiles[] = {
      {"Pillow/combined_larger_than_size.psd", "layer and mask section"},
      {"Pillow/psd-oob-write.psd", "layer record 0"},
      {"webtoon-psd/errors/file-empty.psd", "file header"},
      {"webtoon-psd/errors/file-image-depth-17.psd", "depth 17"},
      {"webtoon-psd/errors/layer-channel-compression-invalid.psd", "compression 4"},
      {"webtoon-psd/errors/layer-section-divider-invalid.psd", "section divider"},
      {"chinedufn-psd/luni.psd", "ZIP"},
  };
  for (const auto& f : kFiles) {
    Loaded l = load(f.name);
    EXPECT_FALSE(l.ok) << f.name;
    EXPECT_NE(l.error.find(f.reason), std::string::npos) << f.name << ": " << l.error;
  }
}

// The composite of every record, flattened onto white as Photoshop flattens
// its merged image.
std::vector<uint32_t> flattenedComposite(const Document& d) {
  Compositor compositor(d);
  std::vector<const LayerRecord*> all;
  for (const LayerRecord& r : d.layerRecords) all.push_back(&r);
  Box touched;
  EXPECT_TRUE(compositor.composite(all, touched));
  const size_t n = static_cast<size_t>(d.width) * static_cast<size_t>(d.height);
  std::vector<uint32_t> out(n);
  for (size_t k = 0; k < n; ++k) {
    const uint32_t p = compositor.canvas()[k], a = p >> 24;
    uint32_t flat = 0xFF000000u;
    for (int s = 0; s < 24; s += 8) flat |= ((((p >> s) & 255) * a + 255 * (255 - a) + 127) / 255) << s;
    out[k] = flat;
  }
  return out;
}

// A reference PNG as 0xAARRGGBB pixels, any PNG format: palettes and grey
// expanded, 16-bit samples cut to their high byte, no gamma conversion.
bool readReference(const std::string& path, int& width, int& height, std::vector<uint32_t>& pixels) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (info && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
    png_read_update_info(png, info);
    width = static_cast<int>(png_get_image_width(png, info));
    height = static_cast<int>(png_get_image_height(png, info));
    pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
      rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width));
    png_read_image(png, rows.data());
    ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return ok;
}

int maxDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int worst = 0;
  for (size_t k = 0; k < a.size() && k < b.size(); ++k)
    for (int s = 0; s < 32; s += 8)
      worst = std::max(worst, std::abs(static_cast<int>((a[k] >> s) & 255) - static_cast<int>((b[k] >> s) & 255)));
  return worst;
}

// Files whose merged image Photoshop (or, where noted, another program)
// wrote with maximize compatibility on, and which have no layer effects or
// adjustment layers: the composite of every record matches the merged
// image within 3 levels per component (rounding of the writer's own
// arithmetic and of 16-bit blending). Left out: the files whose merged
// image is not real (Compression_RAW_8bit, Compression_ZipPrediction 16bit,
// layer-name-emoji, masks/2, CJK), files with layer effects, adjustment or
// gradient/pattern fills (2026-blend-modes, gradient-overlay,
// adjustment_nested_composition_1, fill_adjustments, rgb-blend-modes,
// 4x4 duotone and lab), "blend clipped layers as group" and group
// clipping (oov clipping, group-clipping), transparency-shape blending of
// fill opacity (fill-opacity), CMYK blending done in CMYK (cmyk8bit),
// files whose writer leaves the merged image blank or partial (Pillow
// rgba, mod, medibang, group-divider-blend-mode) and documents without
// layers.
TEST_F(Samples, CompositeMatchesTheMergedImage) {
  const char* const kFiles[] = {
      "PhotoshopAPI/Grayscale/Grayscale_8.psd",
      "PhotoshopAPI/UnicodeNames/UnicodeLayerNames.psd",
      "ag-psd/read/groups/src.psd",
      "ag-psd/read/layer-larger-than-drawing/src.psd",
      "ag-psd/read/layer-mask/src.psd",
      "ag-psd/read/rle-fail/src.psd",
      "ag-psd/read/sai/src.psd",
      "ag-psd/read/vector-layer/src.psd",
      "ag-psd/write/simple-compress/expected.psd",
      "chinedufn-psd/green-chinese-layer-name-1x1.psd",
      "chinedufn-psd/groups/rle-compressed-empty-channel.psd",
      "chinedufn-psd/negative-top-left-layer.psd",
      "chinedufn-psd/out-of-bounds-layer.psd",
      "oov-psd/grayscale16bit_transparent.psd",
      "oov-psd/ibispaint.psd",
      "oov-psd/mask.psd",
      "oov-psd/rgb16bit.psd",
      "oov-psd/rgb8bit+2ch+spot_transparent.psd",
      "oov-psd/rgb8bit.psd",
      "psd-tools/broken-groups.psd",
      "psd-tools/empty-group.psd",
      "psd-tools/empty-layer.psd",
      "psd-tools/layers/shape-layer.psd",
      "psd-tools/opacity-fill.psd",
      "psd-tools/transparentbg-gimp.psd",
      "ag-psd/read/psb/src.psb",
      "PhotoshopAPI/Compression/Compression_ZipPrediction_32bit.psb",
  };
  for (const char* name : kFiles) {
    Loaded l = load(name);
    ASSERT_TRUE(l.ok) << name << ": " << l.error;
    std::vector<uint32_t> merged;
    std::string error;
    ASSERT_TRUE(readMergedImage(reinterpret_cast<const uint8_t*>(l.bytes.data()), l.bytes.size(), merged, error))
        << name << ": " << error;
    EXPECT_LE(maxDifference(flattenedComposite(l.document), merged), 3) << name;
  }
}

// The merged image reader itself, on documents without layers, against the
// PNGs the sample's source decoded (bitmap, indexed, 32-bit with gamma).
TEST_F(Samples, MergedImagesOfLayerlessDocumentsMatchReferenceDecodes) {
  const struct {
    const char* psd;
    const char* png;
    int tolerance;
  } kFiles[] = {
      {"oov-psd/bitmap.psd", "oov-psd/bitmap_!merged.png", 0},
      {"oov-psd/rgb32bit.psd", "oov-psd/rgb32bit_!merged.png", 1},
      {"ag-psd/read/bitmap-rle/src.psd", "ag-psd/read/bitmap-rle/canvas.png", 0},
  };
  for (const auto& f : kFiles) {
    const std::string bytes = test::readFile(kSamples + "/" + f.psd);
    std::vector<uint32_t> merged;
    std::string error;
    ASSERT_TRUE(readMergedImage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), merged, error))
        << f.psd << ": " << error;
    int width = 0, height = 0;
    std::vector<uint32_t> expected;
    ASSERT_TRUE(readReference(kSamples + "/" + f.png, width, height, expected)) << f.png;
    ASSERT_EQ(merged.size(), expected.size()) << f.psd;
    for (uint32_t& p : expected) p |= 0xFF000000u;
    EXPECT_LE(maxDifference(merged, expected), f.tolerance) << f.psd;
  }
}

// Layer pixels against the per-layer PNGs the samples ship (the N-th layer
// that is not a group record). The references went through premultiplied
// alpha, so colour is compared within 1 + 255/alpha levels.
TEST_F(Samples, LayerPixelsMatchShippedLayerImages) {
  const struct {
    const char* psd;
    const char* pngPattern;  // %d = layer number
    int layers;
  } kFiles[] = {
      {"ag-psd/read/2026-blend-modes/src.psd", "ag-psd/read/2026-blend-modes/layer-%d.png", 29},
      {"ag-psd/read/groups/src.psd", "ag-psd/read/groups/layer-%d.png", 3},
      {"ag-psd/read/layer-larger-than-drawing/src.psd", "ag-psd/read/layer-larger-than-drawing/layer-%d.png", 1},
      {"ag-psd/read/rle-fail/src.psd", "ag-psd/read/rle-fail/layer-%d.png", 8},
      {"ag-psd/read/sai/src.psd", "ag-psd/read/sai/layer-%d.png", 1},
      {"ag-psd/write/simple-compress/expected.psd", "ag-psd/write/simple-compress/layer-%d.png", 1},
      {"oov-psd/rgb8bit.psd", "oov-psd/rgb8bit_%d.png", 2},
      {"oov-psd/rgb16bit.psd", "oov-psd/rgb16bit_%d.png", 2},
      {"oov-psd/grayscale16bit_transparent.psd", "oov-psd/grayscale16bit_transparent_%d.png", 2},
      {"oov-psd/cmyk8bit_transparent.psd", "oov-psd/cmyk8bit_transparent_%d.png", 2},
      {"oov-psd/rgb8bit+2ch+spot_transparent.psd", "oov-psd/rgb8bit+2ch+spot_transparent_%d.png", 2},
      {"oov-psd/mask.psd", "oov-psd/mask_%d.png", 8},
      {"oov-psd/clipping.psd", "oov-psd/clipping_%d.png", 5},
  };
  for (const auto& f : kFiles) {
    Loaded l = load(f.psd);
    ASSERT_TRUE(l.ok) << f.psd << ": " << l.error;
    std::vector<const LayerRecord*> layers;
    for (const LayerRecord& r : l.document.layerRecords)
      if (r.layerType != kLayerGroupHeader && r.layerType != kLayerSectionDivider) layers.push_back(&r);
    ASSERT_GE(layers.size(), static_cast<size_t>(f.layers)) << f.psd;
    for (int i = 0; i < f.layers; ++i) {
      char png[512];
      std::snprintf(png, sizeof png, f.pngPattern, i);
      int width = 0, height = 0;
      std::vector<uint32_t> expected;
      ASSERT_TRUE(readReference(kSamples + "/" + png, width, height, expected)) << png;
      const LayerRecord& r = *layers[static_cast<size_t>(i)];
      ASSERT_EQ(width, r.width) << png;
      ASSERT_EQ(height, r.height) << png;
      int alphaError = 0, colorExcess = 0;
      for (size_t k = 0; k < r.imageData.size(); ++k) {
        const uint32_t v = r.imageData[k], e = expected[k];
        const int alpha = static_cast<int>(e >> 24);
        alphaError = std::max(alphaError, std::abs(static_cast<int>(v >> 24) - alpha));
        if (alpha == 0) continue;
        for (int s = 0; s < 24; s += 8) {
          const int d = std::abs(static_cast<int>((v >> s) & 255) - static_cast<int>((e >> s) & 255));
          colorExcess = std::max(colorExcess, d - (1 + 255 / alpha));
        }
      }
      EXPECT_LE(alphaError, 1) << png;
      EXPECT_LE(colorExcess, 0) << png;
    }
  }
}

}  // namespace
}  // namespace korvex::psd
