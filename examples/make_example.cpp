// Writes the bundled example document examples/example.psd (or the path
// given as the only argument): a small character on a 256 x 256 canvas with
// two layer groups, a hidden layer, a "+head" pivot marker and a "root"
// layer, in the layout the layer walk expects from an artist's file.
//
//   layers, topmost first      becomes
//   arm_front                  cell
//   +head                      pivot of "head" (at the neck)
//   head (group: face, eyes)   one cell
//   body (group: torso, belt)  one cell
//   arm_back                   cell
//   shadow (hidden)            skipped
//   root                       origin for --use_layer_root (at the feet)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/psd_writer.h"

namespace {

using korvex::test::PsdRecord;

// A layer holding an ellipse inscribed in its box, edges smoothed over one
// pixel.
PsdRecord ellipseLayer(const std::string& name, int32_t left, int32_t top, int32_t width,
                       int32_t height, uint32_t rgb) {
  PsdRecord layer = korvex::test::solidLayer(name, left, top, width, height, 0);
  const double rx = width / 2.0, ry = height / 2.0;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const double dx = (x + 0.5 - rx) / rx, dy = (y + 0.5 - ry) / ry;
      const double edge = (1.0 - std::sqrt(dx * dx + dy * dy)) * std::min(rx, ry);
      const double coverage = std::max(0.0, std::min(1.0, edge + 0.5));
      const auto alpha = static_cast<uint32_t>(std::lround(coverage * 255.0));
      layer.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          alpha << 24 | (rgb & 0xFFFFFF);
    }
  }
  return layer;
}

// A rectangle whose colour darkens from top to bottom.
PsdRecord shadedLayer(const std::string& name, int32_t left, int32_t top, int32_t width,
                      int32_t height, uint32_t rgb) {
  PsdRecord layer = korvex::test::solidLayer(name, left, top, width, height, 0);
  for (int32_t y = 0; y < height; ++y) {
    const double shade = 1.0 - 0.35 * y / height;
    uint32_t colour = 0xFF000000;
    for (int shift : {16, 8, 0})
      colour |= static_cast<uint32_t>(((rgb >> shift) & 0xFF) * shade) << shift;
    for (int32_t x = 0; x < width; ++x)
      layer.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = colour;
  }
  return layer;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace korvex::test;
  const std::string path =
      argc > 1 ? argv[1] : std::string(KORVEX_SOURCE_DIR) + "/examples/example.psd";

  std::vector<PsdRecord> records;  // file order: the lowest layer first
  records.push_back(solidLayer("root", 126, 236, 4, 4, 0xFF202020));
  PsdRecord shadow = ellipseLayer("shadow", 78, 226, 100, 20, 0x000000);
  shadow.hidden = true;
  records.push_back(shadow);
  records.push_back(shadedLayer("arm_back", 84, 120, 18, 70, 0xC07040));
  append(records, group("body", {shadedLayer("torso", 96, 110, 64, 100, 0x3070C0),
                                 solidLayer("belt", 96, 170, 64, 10, 0xFF403020),
                                 shadedLayer("legs", 100, 210, 56, 30, 0x304050)}));
  append(records, group("head", {ellipseLayer("face", 88, 24, 80, 84, 0xF0C8A0),
                                 ellipseLayer("eye_l", 108, 56, 12, 16, 0x202020),
                                 ellipseLayer("eye_r", 136, 56, 12, 16, 0x202020)}));
  records.push_back(solidLayer("+head", 126, 104, 4, 4, 0xFFFF0000));
  records.push_back(shadedLayer("arm_front", 154, 120, 18, 70, 0xE08850));

  PsdOptions options;
  options.width = 256;
  options.height = 256;
  if (!writePsd(path, options, records)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  std::fprintf(stderr, "wrote %s\n", path.c_str());
  return 0;
}
