// PNG reading and writing (8-bit RGBA or RGB in, 8-bit RGBA out).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/status.h"

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

// Loads the PNG at `path` into `image`. A failure carries its message
// ("error: PATH is not a PNG.\n", "error:Not a 32bit image\n", libpng's
// own error line and "error from libpng\n" twice, ...) and the reason.
// Only a regular file is opened. An 8-bit RGB image is accepted with the
// warning "warning:24bit image"; libpng's own warnings ("libpng warning:
// ...") go to `warnings` as well.
Status read_png(ImageBuffer& image, const std::string& path, const LineSink& warnings);

// Writes width x height B,G,R,A pixels as an 8-bit RGBA PNG (one IHDR, a
// gAMA of 1/2.2, zlib level 9, no other ancillary chunk) to the temporary
// file of `path` in `outputs`; it is put in place with the rest of the set.
// A failure carries "error: write_png PATH\n" and the reason.
Status write_png(const uint8_t* bgra, int32_t width, int32_t height, const std::string& path,
                 platform::OutputSet& outputs);
// The same as a set of one file: `path` is replaced in one step or untouched.
Status write_png(const uint8_t* bgra, int32_t width, int32_t height, const std::string& path);
inline Status write_png(const ImageBuffer& image, const std::string& path) {
  return write_png(image.pixels.data(), image.width, image.height, path);
}

}  // namespace korvex
