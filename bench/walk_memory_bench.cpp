// Peak memory of the layer walk on a large document: an 8192 x 8192 canvas
// with 40 top-level groups of soft-edged layers.
//
//   walk_memory_bench                     generate the PSD, then measure both ways
//   walk_memory_bench generate PATH       write the PSD only
//   walk_memory_bench walk PATH [--full-canvas]
//       extract the cells and print the peak resident size; --full-canvas
//       also keeps a whole canvas-size copy of every group cell, as a walk
//       that stored whole composites would.
//
// Each measurement runs in its own process, so the generator's memory does
// not count.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "psd/layer_walk.h"
#include "support/cell_pixels.h"
#include "support/psd_writer.h"

namespace {

constexpr int32_t kCanvas = 8192;
constexpr int kGroups = 40;
constexpr int32_t kLayerSide = 1024;

// A layer whose alpha falls off from the centre to 0 at its edge.
korvex::test::PsdRecord softLayer(const std::string& name, int32_t left, int32_t top, uint32_t rgb) {
  korvex::test::PsdRecord layer = korvex::test::solidLayer(name, left, top, kLayerSide, kLayerSide, rgb);
  const double radius = kLayerSide / 2.0;
  for (int32_t y = 0; y < kLayerSide; ++y)
    for (int32_t x = 0; x < kLayerSide; ++x) {
      const double distance = std::hypot(x + 0.5 - radius, y + 0.5 - radius) / radius;
      const double alpha = distance >= 1.0 ? 0.0 : 255.0 * (1.0 - distance);
      layer.pixels[static_cast<size_t>(y) * kLayerSide + x] = (static_cast<uint32_t>(alpha) << 24) | rgb;
    }
  return layer;
}

bool generate(const std::string& path) {
  std::vector<korvex::test::PsdRecord> records;
  for (int g = 0; g < kGroups; ++g) {
    const int32_t left = (g % 7) * 1150;
    const int32_t top = (g / 7) * 1300;
    const uint32_t rgb = 0x102030u * static_cast<uint32_t>(g + 1) & 0xFFFFFFu;
    korvex::test::append(records, korvex::test::group("group" + std::to_string(g),
                                                      {softLayer("a", left, top, rgb),
                                                       softLayer("b", left + 100, top + 200, rgb ^ 0x808080u)}));
  }
  korvex::test::PsdOptions options;
  options.width = kCanvas;
  options.height = kCanvas;
  options.withMergedImage = false;
  return korvex::test::writePsd(path, options, records);
}

long peakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int walk(const std::string& path, bool fullCanvas) {
  const auto start = std::chrono::steady_clock::now();
  korvex::CellTable table;
  const korvex::Status status = korvex::extractPsdCells(path, table, [](const std::string&) {});
  if (!status) {
    std::fprintf(stderr, "extraction failed: %s\n", status.reason().c_str());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::vector<std::vector<uint32_t>> canvases;
  if (fullCanvas) {
    for (const auto& cell : table.cells) {
      std::vector<uint32_t> canvas(static_cast<size_t>(cell->width) * static_cast<size_t>(cell->height));
      for (int32_t y = 0; y < cell->height; ++y)
        for (int32_t x = 0; x < cell->width; ++x)
          canvas[static_cast<size_t>(y) * cell->width + x] = korvex::test::pixelAt(*cell, x, y);
      canvases.push_back(std::move(canvas));
    }
  }
  std::printf("%s: %d cells, walk %.2f s, peak resident %.1f MiB\n",
              fullCanvas ? "whole canvas per group" : "visible box per group", table.cellCount(), seconds,
              peakResidentKiB() / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc == 3) return generate(argv[2]) ? 0 : 1;
  if (mode == "walk" && (argc == 3 || argc == 4))
    return walk(argv[2], argc == 4 && std::string(argv[3]) == "--full-canvas");
  if (argc != 1) {
    std::fprintf(stderr, "usage: %s [generate PATH | walk PATH [--full-canvas]]\n", argv[0]);
    return 2;
  }
  const std::string path = "/tmp/walk_memory_bench_" + std::to_string(getpid()) + ".psd";
  if (!generate(path)) return 1;
  const std::string self = argv[0];
  const int after = std::system((self + " walk " + path).c_str());
  const int before = std::system((self + " walk " + path + " --full-canvas").c_str());
  std::remove(path.c_str());
  return after == 0 && before == 0 ? 0 : 1;
}
