// Packing through the binary: the atlas a conversion writes, with empty
// cells, cells that are never placed, and a layout that has to grow.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/png.h"
#include "support/psd_writer.h"
#include "support/run_korvex.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

using test::PsdRecord;

class PackEndToEnd : public testing::Test {
 protected:
  test::TempDir dir;
  test::TempDir home;

  void SetUp() override { std::filesystem::create_directory(dir.file("out")); }

  test::RunResult convert(const std::vector<PsdRecord>& records, int32_t width, int32_t height,
                          const std::vector<std::string>& options = {}) {
    test::PsdOptions psd;
    psd.width = width;
    psd.height = height;
    EXPECT_TRUE(test::writePsd(dir.file("art.psd"), psd, records));
    std::vector<std::string> args{"--inputfile", dir.file("art.psd"), "--outputpath", dir.file("out")};
    args.insert(args.end(), options.begin(), options.end());
    return test::runKorvex(args, {{"HOME", home.path()}});
  }

  // The written atlas as 0xAARRGGBB pixels; empty when it cannot be read.
  std::vector<uint32_t> atlas(int32_t& width, int32_t& height) {
    ImageBuffer image;
    testing::internal::CaptureStderr();
    const bool ok = static_cast<bool>(read_png(image, dir.file("out") + "/art.png", [](const std::string&) {}));
    testing::internal::GetCapturedStderr();
    if (!ok) return {};
    width = image.width;
    height = image.height;
    std::vector<uint32_t> pixels(image.pixels.size() / 4);
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = image.pixels[4 * i] | (image.pixels[4 * i + 1] << 8) |
                  (image.pixels[4 * i + 2] << 16) | (uint32_t{image.pixels[4 * i + 3]} << 24);
    return pixels;
  }
};

// A fully transparent layer is packed as a 16 x 16 empty box: the visible
// cell lands beside it, and the box's pixels stay 0.
TEST_F(PackEndToEnd, TransparentLayerTakesAnEmptyBox) {
  const auto run = convert({test::solidLayer("ghost", 0, 0, 20, 20, 0x00000000u),
                            test::solidLayer("body", 30, 10, 10, 10, 0xFF336699u)},
                           64, 48);
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  int32_t w = 0, h = 0;
  const auto pixels = atlas(w, h);
  ASSERT_EQ(w, 512);
  ASSERT_EQ(h, 512);
  auto at = [&](int32_t x, int32_t y) { return pixels[static_cast<size_t>(y) * w + x]; };
  // Sorted by area: the 16 x 16 box (18 x 18 with spacing) first at the border.
  EXPECT_EQ(at(22, 4), 0xFF336699u);
  EXPECT_EQ(at(31, 13), 0xFF336699u);
  EXPECT_EQ(at(21, 4), 0x00336699u);  // bled
  EXPECT_EQ(at(32, 13), 0x00336699u);
  for (int32_t y = 4; y < 20; ++y)
    for (int32_t x = 4; x < 20; ++x) ASSERT_EQ(at(x, y), 0u) << x << "," << y;
}

TEST_F(PackEndToEnd, MarkerAndRootCellsAreNotInTheAtlas) {
  const auto run = convert({test::solidLayer("+marker", 0, 0, 8, 8, 0xFFFF0000u),
                            test::solidLayer("root", 10, 10, 8, 8, 0xFF00FF00u),
                            test::solidLayer("body", 20, 20, 6, 6, 0xFF0000FFu)},
                           64, 48);
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  int32_t w = 0, h = 0;
  const auto pixels = atlas(w, h);
  ASSERT_FALSE(pixels.empty());
  int visible = 0;
  for (uint32_t p : pixels) {
    if (p >> 24 == 0) continue;
    ++visible;
    EXPECT_EQ(p, 0xFF0000FFu);
  }
  EXPECT_EQ(visible, 36);
}

// Four 300 x 300 cells start at 1024 x 512 by area, do not fit there and
// grow to 1024 x 1024.
TEST_F(PackEndToEnd, LayoutThatDoesNotFitGrows) {
  std::vector<PsdRecord> records;
  for (int i = 0; i < 4; ++i)
    records.push_back(test::solidLayer("c" + std::to_string(i), 0, 0, 300, 300, 0xFF102030u + i));
  const auto run = convert(records, 320, 320);
  ASSERT_EQ(run.exitCode, 0) << run.stdErr;
  const size_t first = run.stdErr.find("1024 × 512");
  const size_t grown = run.stdErr.find("1024 × 1024");
  EXPECT_NE(first, std::string::npos) << run.stdErr;
  EXPECT_NE(grown, std::string::npos) << run.stdErr;
  EXPECT_LT(first, grown);
  int32_t w = 0, h = 0;
  const auto pixels = atlas(w, h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 1024);
  // The fourth cell opens the second row.
  ASSERT_FALSE(pixels.empty());
  EXPECT_EQ(pixels[static_cast<size_t>(306) * w + 4] >> 24, 0xFFu);
}

TEST_F(PackEndToEnd, FixedTextureTooSmallFailsWithoutAtlas) {
  const auto run = convert({test::solidLayer("big", 0, 0, 300, 40, 0xFF102030u)}, 320, 64,
                           {"--texture_width", "256", "--texture_height", "256"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(test::fileExists(dir.file("out") + "/art.png"));
}

}  // namespace
}  // namespace korvex
