// PSD benchmark: writes a large layered document with the test writer
// (4096 x 4096 canvas, 400 soft-edged RLE layers of 32 to 400 pixels in 30
// top-level groups that each hold a nested group), then times Korvex's
// load and the 30 group composites the layer walk makes, reports the peak
// memory, and runs psd-tools on the same file when python3 has it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/psd_writer.h"
#include "support/temp_dir.h"

namespace {

using korvex::test::PsdRecord;

constexpr int kCanvas = 4096;
constexpr int kLayers = 400;
constexpr int kGroups = 30;

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// A disc-shaped layer whose alpha falls off smoothly towards its edge.
PsdRecord softLayer(int index, uint32_t& seed) {
  // Normal blending: psd-tools' other modes would take it many minutes here.
  const int width = 32 + static_cast<int>(nextRandom(seed) % 369);
  const int height = 32 + static_cast<int>(nextRandom(seed) % 369);
  const int left = static_cast<int>(nextRandom(seed) % (kCanvas - width));
  const int top = static_cast<int>(nextRandom(seed) % (kCanvas - height));
  const uint32_t color = nextRandom(seed) & 0xFFFFFFu;
  PsdRecord r = korvex::test::solidLayer("layer " + std::to_string(index), left, top, width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x + 0.5) / width * 2 - 1, dy = (y + 0.5) / height * 2 - 1;
      const double edge = std::max(0.0, std::min(1.0, (1 - std::sqrt(dx * dx + dy * dy)) * 3));
      r.pixels[static_cast<size_t>(y * width + x)] = static_cast<uint32_t>(edge * 255 + 0.5) << 24 | color;
    }
  }
  return r;
}

std::vector<PsdRecord> makeRecords() {
  uint32_t seed = 12345;
  std::vector<PsdRecord> records;
  int made = 0;
  for (int g = 0; g < kGroups; ++g) {
    const int count = kLayers / kGroups + (g < kLayers % kGroups ? 1 : 0);
    std::vector<PsdRecord> outer, inner;
    for (int i = 0; i < count; ++i) (i % 2 ? inner : outer).push_back(softLayer(made++, seed));
    korvex::test::append(outer, korvex::test::group("nested " + std::to_string(g), inner));
    korvex::test::append(records, korvex::test::group("group " + std::to_string(g), outer));
  }
  return records;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The pending lists of the top-level groups, as the layer walk builds them.
std::vector<std::vector<const korvex::psd::LayerRecord*>> groupLists(const korvex::psd::Document& d) {
  std::vector<std::vector<const korvex::psd::LayerRecord*>> lists;
  std::vector<const korvex::psd::LayerRecord*> pending;
  int depth = 0;
  for (const auto& r : d.layerRecords) {
    if (r.layerType == korvex::psd::kLayerSectionDivider) {
      ++depth;
    } else if (r.layerType == korvex::psd::kLayerGroupHeader) {
      if (--depth == 0) {
        lists.push_back(pending);
        pending.clear();
      }
    } else if (depth > 0) {
      pending.push_back(&r);
    }
  }
  return lists;
}

}  // namespace

// With --no-psd-tools only Korvex is measured (psd-tools needs minutes).
int main(int argc, char** argv) {
  const bool withPsdTools = !(argc > 1 && std::string(argv[1]) == "--no-psd-tools");
  korvex::test::TempDir dir;
  const std::string path = dir.file("bench.psd");
  // The file is written by a child process, so that the writer's memory
  // does not count in the peak reported for Korvex.
  const pid_t child = fork();
  if (child == 0) {
    korvex::test::PsdOptions options;
    options.width = options.height = kCanvas;
    options.compression = korvex::test::PsdCompression::kRle;
    options.withMergedImage = false;
    _exit(korvex::test::writePsd(path, options, makeRecords()) ? 0 : 1);
  }
  int status = 1;
  if (child < 0 || waitpid(child, &status, 0) != child || status != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("file: %d x %d, %d layers in %d groups with nested groups, RLE\n", kCanvas, kCanvas, kLayers, kGroups);

  auto start = std::chrono::steady_clock::now();
  korvex::psd::Document document;
  std::string error;
  if (!korvex::psd::loadDocument(path, document, error)) {
    std::fprintf(stderr, "load failed: %s\n", error.c_str());
    return 1;
  }
  const double load = seconds(start);

  start = std::chrono::steady_clock::now();
  korvex::psd::Compositor compositor(document);
  const auto lists = groupLists(document);
  for (const auto& list : lists) {
    korvex::psd::Box touched;
    if (!compositor.composite(list, touched)) {
      std::fprintf(stderr, "composite failed\n");
      return 1;
    }
    compositor.clear(touched);
  }
  const double composite = seconds(start);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("korvex:    load %.3f s, %zu group composites %.3f s, total %.3f s, peak RSS %ld MiB\n", load,
              lists.size(), composite, load + composite, usage.ru_maxrss / 1024);

  // psd-tools on the same file: open, then the whole document composited by
  // its own compositor (force: not the stored merged image), which blends
  // every group. (Compositing each group on its own canvas instead takes
  // psd-tools over ten minutes on this file.)
  if (!withPsdTools) return 0;
  const std::string script = dir.file("psd_tools_bench.py");
  std::FILE* f = std::fopen(script.c_str(), "w");
  if (!f) return 0;
  std::fputs(
      "import sys, time, resource\n"
      "try:\n"
      "    from psd_tools import PSDImage\n"
      "except ImportError:\n"
      "    print('psd-tools: not installed'); sys.exit(0)\n"
      "t = time.time()\n"
      "psd = PSDImage.open(sys.argv[1])\n"
      "psd.composite(force=True)\n"
      "total = time.time() - t\n"
      "rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024\n"
      "print('psd-tools: open + composite(force=True) %.3f s, peak RSS %d MiB' % (total, rss))\n",
      f);
  std::fclose(f);
  // Debian's python3 holds python3-psd-tools; another python3 may come first on PATH.
  const std::string python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  const std::string command = python + " '" + script + "' '" + path + "' 2>/dev/null";
  std::fflush(stdout);
  std::FILE* output = popen(command.c_str(), "r");
  if (!output) return 0;
  char line[512];
  while (std::fgets(line, sizeof line, output)) {
    std::fputs(line, stdout);
    double total = 0;
    if (std::sscanf(line, "psd-tools: open + composite(force=True) %lf", &total) == 1)
      std::printf("speed-up: psd-tools / korvex = %.1f\n", total / (load + composite));
  }
  pclose(output);
  return 0;
}
