#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "image/png.h"
#include "image/png_write_stream.h"
#include "support/reference_png.h"
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

TEST(PngWrite, UnwritableFolderFailsWithMessageAndReason) {
  test::TempDir dir;
  uint8_t pixel[4] = {1, 2, 3, 4};
  const std::string path = dir.path() + "/missing/a.png";
  const Status written = write_png(pixel, 1, 1, path);
  EXPECT_FALSE(written);
  EXPECT_EQ(written.message(), "error: write_png " + path + "\n");
  EXPECT_EQ(written.reason(), "cannot create a file beside " + path + ": No such file or directory");
}

// Writes with one of the encoders into a temporary file; returns its bytes.
template <typename Encode>
std::vector<uint8_t> encode(const std::string& path, Encode encodeTo) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  EXPECT_TRUE(encodeTo(f));
  std::fclose(f);
  return readFile(path);
}

// The concatenated IDAT payload of a PNG file image.
std::vector<uint8_t> imageData(const std::vector<uint8_t>& png) {
  std::vector<uint8_t> out;
  for (size_t at = 8; at + 12 <= png.size();) {
    const size_t length = (size_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
    if (std::string(png.begin() + at + 4, png.begin() + at + 8) == "IDAT")
      out.insert(out.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
    at += 12 + length;
  }
  return out;
}

// An atlas-like image: soft-edged discs on transparency, some noise.
std::vector<uint8_t> atlasImage(int32_t width, int32_t height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4, 0);
  for (int disc = 0; disc < 12; ++disc) {
    const int cx = static_cast<int>(rng() % width), cy = static_cast<int>(rng() % height);
    const int r = 5 + static_cast<int>(rng() % (width / 4 + 1));
    for (int y = std::max(0, cy - r); y < std::min(height, cy + r); ++y)
      for (int x = std::max(0, cx - r); x < std::min(width, cx + r); ++x) {
        const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d2 >= r * r) continue;
        uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
        p[0] = static_cast<uint8_t>(disc * 20 + x);
        p[1] = static_cast<uint8_t>(y + (rng() & 3));
        p[2] = static_cast<uint8_t>(200 - disc * 10);
        p[3] = static_cast<uint8_t>(255 - 255 * d2 / (r * r));
      }
  }
  return bgra;
}

// One block: the stream must be libpng's own, byte for byte (same filters,
// same deflate settings).
TEST(PngWriteParallel, SingleBlockImageDataEqualsLibpngs) {
  test::TempDir dir;
  auto bgra = atlasImage(100, 60, 3);
  auto mine = encode(dir.file("p.png"), [&](std::FILE* f) {
    return png_stream::writeParallel(f, bgra.data(), 100, 60, 2);
  });
  auto theirs = encode(dir.file("s.png"), [&](std::FILE* f) {
    return test::writeSingleStream(f, bgra.data(), 100, 60);
  });
  EXPECT_EQ(imageData(mine), imageData(theirs));
}

// Many blocks: the same pixels, the same bytes whatever the thread count,
// and within half a percent of one libpng stream.
TEST(PngWriteParallel, SameBytesOnAnyThreadCountAndCloseToOneStream) {
  test::TempDir dir;
  const int32_t w = 400, h = 700;  // three blocks
  auto bgra = atlasImage(w, h, 9);
  std::vector<uint8_t> first;
  for (unsigned threads : {1u, 2u, 4u}) {
    auto bytes = encode(dir.file("p.png"), [&](std::FILE* f) {
      return png_stream::writeParallel(f, bgra.data(), w, h, threads);
    });
    if (first.empty()) first = bytes;
    EXPECT_EQ(bytes, first) << threads << " threads";
  }
  uint32_t dw = 0, dh = 0;
  EXPECT_EQ(decodeBgra(dir.file("p.png"), dw, dh), bgra);
  auto single = encode(dir.file("s.png"), [&](std::FILE* f) {
    return test::writeSingleStream(f, bgra.data(), w, h);
  });
  EXPECT_LE(first.size(), single.size() + single.size() / 200);
}

TEST(PngWriteParallel, TinyAndOneRowImagesDecode) {
  test::TempDir dir;
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 1}, std::pair{1, 5000}, std::pair{140000, 1}}) {
    auto bgra = softImage(w, h, 5);
    ASSERT_TRUE(write_png(bgra.data(), w, h, dir.file("t.png")));
    uint32_t dw = 0, dh = 0;
    EXPECT_EQ(decodeBgra(dir.file("t.png"), dw, dh), bgra) << w << "x" << h;
  }
}

}  // namespace
}  // namespace korvex
