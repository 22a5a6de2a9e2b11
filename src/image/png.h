// PNG reading and writing (8-bit RGBA or RGB in, 8-bit RGBA out).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex {

// A bitmap that owns its bytes: width x height pixels, bytes B, G, R, A.
struct ImageBuffer {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;

  // Stores the size; pixels becomes exactly width*height*4 bytes, existing
  // bytes kept, new ones zero.
  void resize(int32_t newWidth, int32_t newHeight);
};

// Loads the PNG at `path` into `image`. Prints its message and returns false
// on any failure.
bool read_png(ImageBuffer& image, const std::string& path);

// Writes width x height B,G,R,A pixels to `path` as an 8-bit RGBA PNG (one
// IHDR, a gAMA of 1/2.2, zlib level 9, no other ancillary chunk). The file is
// replaced atomically. False on failure.
bool write_png(const uint8_t* bgra, int32_t width, int32_t height, const std::string& path);
inline bool write_png(const ImageBuffer& image, const std::string& path) {
  return write_png(image.pixels.data(), image.width, image.height, path);
}

}  // namespace korvex
