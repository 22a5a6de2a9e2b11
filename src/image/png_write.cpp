#include "image/png.h"
#include "image/png_write_stream.h"
#include "platform/platform.h"

namespace korvex {

bool write_png(const uint8_t* bgra, int32_t width, int32_t height, const std::string& path) {
  if (width <= 0 || height <= 0 || !bgra) return false;
  // The file is written beside its target and renamed over it, so a failed
  // write leaves any earlier file as it was.
  platform::AtomicFileWriter writer;
  if (!writer.open(path) || !png_stream::writeParallel(writer.file(), bgra, width, height) ||
      !writer.commit()) {
    platform::writeConsole("error: write_png " + path + "\n");
    return false;
  }
  return true;
}

}  // namespace korvex
