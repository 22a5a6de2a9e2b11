// Atlas writing: 30 large soft-edged cells packed into an 8192-wide atlas,
// written by libpng in one zlib stream and by the parallel encoder.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/convert.h"
#include "config/settings.h"
#include "image/png_write_stream.h"
#include "pack/texture_pack.h"
#include "support/reference_png.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace {

// A painted-looking cell: colour gradients with a blotchy grain, alpha
// falling off softly towards an elliptic edge.
std::vector<uint32_t> softCell(int32_t w, int32_t h, std::mt19937& rng) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  const double cx = w / 2.0, cy = h / 2.0;
  const uint32_t tint = rng();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double dx = (x - cx) / cx, dy = (y - cy) / cy;
      const double d = std::sqrt(dx * dx + dy * dy);
      const double a = d >= 1.0 ? 0.0 : d < 0.85 ? 1.0 : (1.0 - d) / 0.15;
      const uint32_t alpha = static_cast<uint32_t>(a * 255.0);
      const uint32_t cellHash = static_cast<uint32_t>((x >> 2) * 73856093u ^ (y >> 2) * 19349663u ^ tint);
      const uint32_t grain = (cellHash >> 13) & 3;
      const uint32_t r = ((tint & 0xff) + x / 5 + grain) & 0xff;
      const uint32_t g = (((tint >> 8) & 0xff) + y / 7 + grain) & 0xff;
      const uint32_t b = (((tint >> 16) & 0xff) + (x + y) / 11) & 0xff;
      px[static_cast<size_t>(y) * w + x] = alpha ? (alpha << 24) | (r << 16) | (g << 8) | b : 0;
    }
  return px;
}

template <typename Write>
void measure(const char* name, const std::string& path, Write write) {
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();  // every thread of the process
  std::FILE* f = std::fopen(path.c_str(), "wb");
  const bool ok = f && write(f);
  if (f) std::fclose(f);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  long size = 0;
  if (in) {
    std::fseek(in, 0, SEEK_END);
    size = std::ftell(in);
    std::fclose(in);
  }
  std::printf("%-24s %8.2f s wall %8.2f s processor %12ld bytes%s\n", name, seconds, cpu, size,
              ok ? "" : "  FAILED");
  std::fflush(stdout);
}

}  // namespace

int main() {
  korvex::loadMessageCatalogue();
  std::mt19937 rng(30);
  std::vector<std::vector<uint32_t>> pixels;
  korvex::CellTable table;
  for (int i = 0; i < 30; ++i) {
    const int32_t w = 700 + static_cast<int32_t>(rng() % 900), h = 700 + static_cast<int32_t>(rng() % 900);
    pixels.push_back(softCell(w, h, rng));
    auto cell = std::make_unique<korvex::CellImage>();
    cell->pixels = pixels.back().data();
    cell->stride = w * 4;
    cell->width = cell->boxWidth = w;
    cell->height = cell->boxHeight = h;
    table.cellNames.push_back("cell" + std::to_string(i));
    table.cells.push_back(std::move(cell));
  }
  korvex::ConversionSettings settings;
  settings.texture_width = 8192;
  korvex::VTTexturePack pack;
  korvex::test::TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  if (!pack.PackCells(korvex::packSettingsOf(settings), table, {}, [](const std::string&) {})) return 1;
  std::printf("PackCells (trim, place, copy, bleed): %.2f s, atlas %d x %d\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              pack.textureWidth(), pack.textureHeight());
  const auto* bgra = reinterpret_cast<const uint8_t*>(pack.atlas());
  const int32_t w = pack.textureWidth(), h = pack.textureHeight();
  measure("libpng, one stream", dir.file("single.png"), [&](std::FILE* f) {
    return korvex::test::writeSingleStream(f, bgra, w, h);
  });
  measure("parallel, 1 thread", dir.file("p1.png"), [&](std::FILE* f) {
    return korvex::png_stream::writeParallel(f, bgra, w, h, 1);
  });
  measure("parallel, every core", dir.file("pn.png"), [&](std::FILE* f) {
    return korvex::png_stream::writeParallel(f, bgra, w, h, 0);
  });
  return 0;
}
