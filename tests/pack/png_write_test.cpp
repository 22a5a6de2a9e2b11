#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "image/png.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Decodes a PNG with libpng into B, G, R, A bytes; empty on failure.
std::vector<uint8_t> decodeBgra(const std::string& path, uint32_t& width, uint32_t& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
  width = image.width;
  height = image.height;
  return out;
}

std::vector<uint8_t> softImage(int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<uint8_t>(x * 3);
      p[1] = static_cast<uint8_t>(y * 5);
      p[2] = static_cast<uint8_t>(rng() & 0x0f);
      p[3] = static_cast<uint8_t>((x + y) % 7 == 0 ? 0 : 255 - (rng() & 0x3f));
    }
  return bgra;
}

TEST(PngWrite, WritesDecodableRgbaWithGammaAndLevel9Stream) {
  test::TempDir dir;
  const std::string path = dir.path() + "/a.png";
  auto bgra = softImage(37, 23, 1);
  ASSERT_TRUE(write_png(bgra.data(), 37, 23, path));

  uint32_t w = 0, h = 0;
  EXPECT_EQ(decodeBgra(path, w, h), bgra);
  EXPECT_EQ(w, 37u);
  EXPECT_EQ(h, 23u);

  auto bytes = readFile(path);
  ASSERT_GT(bytes.size(), 8u + 25 + 16);
  // IHDR: 8-bit RGBA, no interlace; then gAMA 45455.
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
  EXPECT_EQ(bytes[24], 8);
  EXPECT_EQ(bytes[25], 6);
  EXPECT_EQ(bytes[28], 0);
  EXPECT_EQ(std::string(bytes.begin() + 37, bytes.begin() + 41), "gAMA");
  EXPECT_EQ((bytes[41] << 24) | (bytes[42] << 16) | (bytes[43] << 8) | bytes[44], 45455);
  EXPECT_EQ(std::string(bytes.begin() + 53, bytes.begin() + 57), "IDAT");
  EXPECT_EQ(bytes[57] & 0x0f, 8);           // deflate
  EXPECT_EQ(bytes[58] >> 6, 3);             // maximum compression level
  EXPECT_EQ(std::string(bytes.end() - 8, bytes.end() - 4), "IEND");
}

TEST(PngWrite, UnwritableFolderFailsWithMessageAndKeepsNothing) {
  test::TempDir dir;
  uint8_t pixel[4] = {1, 2, 3, 4};
  testing::internal::CaptureStderr();
  const std::string path = dir.path() + "/missing/a.png";
  EXPECT_FALSE(write_png(pixel, 1, 1, path));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "error: write_png " + path + "\n");
}

}  // namespace
}  // namespace korvex
