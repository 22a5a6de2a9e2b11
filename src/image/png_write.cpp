#include "image/png.h"
#include "image/png_write_stream.h"
#include "platform/platform.h"

namespace korvex {

Status write_png(const uint8_t* bgra, int32_t width, int32_t height, const std::string& path,
                 platform::OutputSet& outputs) {
  const std::string message = "error: write_png " + path + "\n";
  if (width <= 0 || height <= 0 || !bgra)
    return Status::failure(Status::Code::kInvalid, message, "the atlas for " + path + " has no pixels");
  return outputs.add(path, message, [&](std::FILE* file) {
    return png_stream::writeParallel(file, bgra, width, height);
  });
}

Status write_png(const uint8_t* bgra, int32_t width, int32_t height, const std::string& path) {
  platform::OutputSet outputs;
  Status written = write_png(bgra, width, height, path, outputs);
  return written ? outputs.commit() : written;
}

}  // namespace korvex
