// `korvex --render IN.psd OUT.png` as a user runs it.
#include <gtest/gtest.h>

#include <string>

#include "image/png.h"
#include "support/psd_writer.h"
#include "support/run_korvex.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

uint32_t pixelAt(const ImageBuffer& image, int x, int y) {
  const uint8_t* p = image.pixels.data() + (static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)) * 4;
  return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

// The canvas as the compositor draws it: a multiply group over a layer,
// and nothing where no layer reaches.
TEST(RenderCli, WritesTheWholeDocumentAsAnRgbaPng) {
  test::TempDir dir;
  test::PsdRecord below = test::solidLayer("below", 0, 0, 2, 1, 0xFF808080u);
  test::PsdRecord inside = test::solidLayer("inside", 1, 0, 2, 1, 0xFF8080FFu);
  std::vector<test::PsdRecord> records = {below};
  test::append(records, test::group("g", {inside}));
  records.back().blendMode = "mul ";
  test::PsdOptions o;
  o.width = 4;
  o.height = 2;
  ASSERT_TRUE(test::writePsd(dir.file("in.psd"), o, records));

  const test::RunResult r = test::runKorvex({"--render", dir.file("in.psd"), dir.file("out.png")});
  EXPECT_EQ(r.exitCode, 0) << r.stdErr;
  ImageBuffer image;
  ASSERT_TRUE(read_png(image, dir.file("out.png")));
  ASSERT_EQ(image.width, 4);
  ASSERT_EQ(image.height, 2);
  EXPECT_EQ(pixelAt(image, 0, 0), 0xFF808080u);
  EXPECT_EQ(pixelAt(image, 1, 0), 0xFF404080u);  // 0x80 * 0x80 / 255 = 0x40, 0x80 * 0xFF / 255 = 0x80
  EXPECT_EQ(pixelAt(image, 2, 0), 0xFF8080FFu);  // over nothing: the group's own colour
  EXPECT_EQ(pixelAt(image, 3, 0) >> 24, 0u);
  EXPECT_EQ(pixelAt(image, 0, 1) >> 24, 0u);
}

TEST(RenderCli, AnAdjustmentKorvexCannotApplyIsNamedInAWarning) {
  test::TempDir dir;
  test::PsdRecord lookup;
  lookup.kind = test::PsdRecordKind::kAdjustment;
  lookup.name = "Lookup";
  lookup.adjustmentKey = "clrL";
  lookup.adjustmentBlock = std::string(4, '\0');
  test::PsdOptions o;
  o.width = 2;
  o.height = 2;
  ASSERT_TRUE(test::writePsd(dir.file("in.psd"), o, {test::solidLayer("l", 0, 0, 2, 2, 0xFF102030u), lookup}));
  const test::RunResult r = test::runKorvex({"--render", dir.file("in.psd"), dir.file("out.png")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.stdErr, "warning: adjustment layer \"Lookup\" (clrL) is not drawn\n");
  ImageBuffer image;
  ASSERT_TRUE(read_png(image, dir.file("out.png")));
  EXPECT_EQ(pixelAt(image, 1, 1), 0xFF102030u);
}

TEST(RenderCli, AnUnreadableDocumentFailsWithItsReason) {
  test::TempDir dir;
  test::writeFile(dir.file("bad.psd"), "8BPS");
  const test::RunResult r = test::runKorvex({"--render", dir.file("bad.psd"), dir.file("out.png")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.stdErr.find("エラー：PSDファイルのオープンに失敗しました。：" + dir.file("bad.psd") + "\nreason: "),
            std::string::npos)
      << r.stdErr;
  EXPECT_FALSE(test::fileExists(dir.file("out.png")));
}

}  // namespace
}  // namespace korvex
