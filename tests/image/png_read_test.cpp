// read_png: colour types, row padding, refusals and their messages.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "image/png.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

using test::TempDir;

// Writes a PNG of any colour type and depth through libpng; `rows` holds
// the packed samples of each row. Palette and tRNS are optional.
void writeTestPng(const std::string& path, uint32_t width, uint32_t height, int depth, int colorType,
                  const std::vector<std::vector<uint8_t>>& rows, const std::vector<png_color>& palette = {},
                  const std::vector<uint8_t>& paletteAlpha = {}, int interlace = PNG_INTERLACE_NONE) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  ASSERT_EQ(setjmp(png_jmpbuf(png)), 0);
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, depth, colorType, interlace, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!paletteAlpha.empty())
    png_set_tRNS(png, info, paletteAlpha.data(), static_cast<int>(paletteAlpha.size()), nullptr);
  png_write_info(png, info);
  std::vector<png_bytep> rowPointers;
  for (const auto& row : rows) rowPointers.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, rowPointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

struct ReadOutcome {
  bool ok = false;
  std::string printed;  // what the user sees: the warnings, then the failure's message
  std::string reason;
};

ReadOutcome readCapturing(ImageBuffer& image, const std::string& path) {
  testing::internal::CaptureStderr();
  ReadOutcome outcome;
  const Status read = read_png(image, path, [&](const std::string& line) { outcome.printed += line + "\n"; });
  outcome.ok = static_cast<bool>(read);
  outcome.printed += read.message();
  outcome.reason = read.reason();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the reader prints nothing itself";
  return outcome;
}

TEST(ReadPng, RgbRowsPaddedToFourBytesReadBackInPlaceWithOpaqueAlpha) {
  TempDir dir;
  // 3 x 2 RGB: 9 bytes a row, stored rounded to 12 while decoding.
  writeTestPng(dir.file("rgb.png"), 3, 2, 8, PNG_COLOR_TYPE_RGB,
               {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}});
  ImageBuffer image;
  const ReadOutcome outcome = readCapturing(image, dir.file("rgb.png"));
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.printed, "warning:24bit image\n");
  ASSERT_EQ(image.width, 3);
  ASSERT_EQ(image.height, 2);
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255,  //
                                                12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255}));

  // The same image interlaced reads the same; libpng's whole-image read
  // warns that it had to turn on interlace handling itself.
  writeTestPng(dir.file("adam7.png"), 3, 2, 8, PNG_COLOR_TYPE_RGB,
               {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}, {}, {}, PNG_INTERLACE_ADAM7);
  ImageBuffer interlaced;
  const ReadOutcome adam7 = readCapturing(interlaced, dir.file("adam7.png"));
  ASSERT_TRUE(adam7.ok);
  EXPECT_EQ(adam7.printed.rfind("warning:24bit image\nlibpng warning: Interlace handling should be turned on", 0),
            0u)
      << adam7.printed;
  EXPECT_EQ(interlaced.pixels, image.pixels);

  // A larger RGBA image reaches every pass of the interlace.
  std::vector<std::vector<uint8_t>> rows(11);
  for (uint8_t y = 0; y < 11; ++y)
    for (uint8_t x = 0; x < 13; ++x) rows[y].insert(rows[y].end(), {x, y, uint8_t(x + y), uint8_t(200 + x)});
  writeTestPng(dir.file("rgba7.png"), 13, 11, 8, PNG_COLOR_TYPE_RGB_ALPHA, rows, {}, {}, PNG_INTERLACE_ADAM7);
  ImageBuffer rgba;
  ASSERT_TRUE(readCapturing(rgba, dir.file("rgba7.png")).ok);
  ASSERT_EQ(rgba.pixels.size(), 13u * 11u * 4u);
  for (uint8_t y = 0; y < 11; ++y)
    for (uint8_t x = 0; x < 13; ++x) {
      const uint8_t* p = &rgba.pixels[(y * 13u + x) * 4u];
      ASSERT_EQ(std::vector<uint8_t>(p, p + 4), (std::vector<uint8_t>{uint8_t(x + y), y, x, uint8_t(200 + x)}))
          << int(x) << "," << int(y);
    }
}

TEST(ReadPng, WrittenAtlasReadsBackByteIdentical) {
  TempDir dir;
  ImageBuffer original;
  original.resize(37, 19);
  uint32_t seed = 12345;
  for (uint8_t& byte : original.pixels) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  original.pixels[3] = 0;  // a transparent pixel keeps its colour bytes too
  ASSERT_TRUE(write_png(original, dir.file("atlas.png")));
  ImageBuffer image;
  const ReadOutcome outcome = readCapturing(image, dir.file("atlas.png"));
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.printed, "");
  EXPECT_EQ(image.width, original.width);
  EXPECT_EQ(image.height, original.height);
  EXPECT_EQ(image.pixels, original.pixels);
}

TEST(ReadPng, GreyPaletteAndGreyAlphaAreExpandedToRgba) {
  TempDir dir;
  writeTestPng(dir.file("grey.png"), 2, 1, 8, PNG_COLOR_TYPE_GRAY, {{0x10, 0xF0}});
  writeTestPng(dir.file("greyalpha.png"), 2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {{0x10, 0x80, 0xF0, 0x00}});
  writeTestPng(dir.file("palette.png"), 3, 1, 8, PNG_COLOR_TYPE_PALETTE, {{0, 1, 2}},
               {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}, {0, 128});
  writeTestPng(dir.file("opaque.png"), 1, 1, 8, PNG_COLOR_TYPE_PALETTE, {{0}}, {{1, 2, 3}});

  ImageBuffer grey, greyAlpha, palette, opaque;
  ASSERT_TRUE(readCapturing(grey, dir.file("grey.png")).ok);
  ASSERT_TRUE(readCapturing(greyAlpha, dir.file("greyalpha.png")).ok);
  ASSERT_TRUE(readCapturing(palette, dir.file("palette.png")).ok);
  ASSERT_TRUE(readCapturing(opaque, dir.file("opaque.png")).ok);
  EXPECT_EQ(grey.pixels, (std::vector<uint8_t>{0x10, 0x10, 0x10, 255, 0xF0, 0xF0, 0xF0, 255}));
  EXPECT_EQ(greyAlpha.pixels, (std::vector<uint8_t>{0x10, 0x10, 0x10, 0x80, 0xF0, 0xF0, 0xF0, 0}));
  // Entries beyond the tRNS list are opaque.
  EXPECT_EQ(palette.pixels, (std::vector<uint8_t>{30, 20, 10, 0, 60, 50, 40, 128, 90, 80, 70, 255}));
  EXPECT_EQ(opaque.pixels, (std::vector<uint8_t>{3, 2, 1, 255}));
}

TEST(ReadPng, OtherBitDepthsAreRefused) {
  TempDir dir;
  writeTestPng(dir.file("deep.png"), 1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, {{1, 2, 3, 4, 5, 6, 7, 8}});
  writeTestPng(dir.file("nibble.png"), 2, 1, 4, PNG_COLOR_TYPE_PALETTE, {{0x01}}, {{1, 2, 3}, {4, 5, 6}});
  for (const char* name : {"deep.png", "nibble.png"}) {
    ImageBuffer image;
    const ReadOutcome outcome = readCapturing(image, dir.file(name));
    EXPECT_FALSE(outcome.ok) << name;
    EXPECT_EQ(outcome.printed, "error:Not a 32bit image\n") << name;
    EXPECT_NE(outcome.reason.find("bits per sample; Korvex reads 8-bit PNGs only"), std::string::npos) << name;
  }
}

TEST(ReadPng, MissingFileAndWrongSignatureAreNotPngs) {
  TempDir dir;
  test::writeFile(dir.file("text.png"), "this is not an image at all");
  test::writeFile(dir.file("short.png"), "\x89PN");
  const std::pair<std::string, std::string> cases[] = {
      {dir.file("missing.png"), "cannot open " + dir.file("missing.png") + ": No such file or directory"},
      {dir.file("text.png"), dir.file("text.png") + " does not begin with the PNG signature"},
      {dir.file("short.png"), dir.file("short.png") + " does not begin with the PNG signature"},
      {dir.path(), dir.path() + " is a folder, not a file"},
  };
  for (const auto& [path, reason] : cases) {
    ImageBuffer image;
    const ReadOutcome outcome = readCapturing(image, path);
    EXPECT_FALSE(outcome.ok) << path;
    EXPECT_EQ(outcome.printed, "error: " + path + " is not a PNG.\n");
    EXPECT_EQ(outcome.reason, reason);
  }
}

// The bytes of one PNG chunk with its CRC.
std::string chunk(const std::string& type, const std::string& data) {
  std::string out;
  const uint32_t length = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(length >> shift));
  const std::string body = type + data;
  out += body;
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(crc >> shift));
  return out;
}

std::string bigEndian(uint32_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
  return out;
}

TEST(ReadPng, DamagedDataAndHugeHeadersFailThroughTheLibpngMessage) {
  TempDir dir;
  const std::string signature("\x89PNG\r\n\x1a\n", 8);
  // An RGBA header claiming 100000 x 100000 pixels: refused before any allocation.
  const std::string huge = signature +
                           chunk("IHDR", bigEndian(100000) + bigEndian(100000) + std::string("\x08\x06\0\0\0", 5)) +
                           chunk("IEND", "");
  test::writeFile(dir.file("huge.png"), huge);
  // A valid image cut short in its data.
  ImageBuffer source;
  source.resize(64, 64);
  for (size_t i = 0; i < source.pixels.size(); ++i) source.pixels[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(write_png(source, dir.file("full.png")));
  const std::string full = test::readFile(dir.file("full.png"));
  test::writeFile(dir.file("cut.png"), full.substr(0, full.size() / 2));

  for (const char* name : {"huge.png", "cut.png"}) {
    ImageBuffer image;
    const ReadOutcome outcome = readCapturing(image, dir.file(name));
    EXPECT_FALSE(outcome.ok) << name;
    // libpng names the problem itself; ours follows, written twice.
    const std::string ours = "error from libpng\n";
    ASSERT_GE(outcome.printed.size(), 2 * ours.size()) << name;
    EXPECT_EQ(outcome.printed.rfind("libpng error: ", 0), 0u) << outcome.printed;
    EXPECT_EQ(outcome.printed.substr(outcome.printed.size() - 2 * ours.size()), ours + ours) << name;
    EXPECT_EQ(outcome.reason.rfind(dir.file(name) + ": ", 0), 0u) << outcome.reason;
  }
  ImageBuffer image;
  const ReadOutcome tooLarge = readCapturing(image, dir.file("huge.png"));
  EXPECT_EQ(tooLarge.printed, "libpng error: IEND: out of place\nerror from libpng\nerror from libpng\n");
  EXPECT_EQ(tooLarge.reason, dir.file("huge.png") + ": IEND: out of place");
}

TEST(ImageBuffer, ResizeKeepsBytesAndZeroFillsNewOnes) {
  ImageBuffer image;
  EXPECT_EQ(image.width, 0);
  EXPECT_TRUE(image.pixels.empty());
  image.resize(1, 1);
  image.pixels = {1, 2, 3, 4};
  image.resize(2, 1);
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{1, 2, 3, 4, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace korvex
