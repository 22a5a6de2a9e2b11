// PSD benchmark: writes a large layered document with the test writer
// (4096 x 4096 canvas, 400 soft-edged RLE layers of 32 to 400 pixels in 30
// top-level groups that each hold a nested group), then, over several runs,
// times Korvex's load (the file's bytes), decode (records and channels) and
// the 30 group composites the layer walk makes, with the process's CPU time
// and peak memory; then the korvex binary end to end on the same file (start
// to its last " read (" line, and to its exit); then psd-tools when python3
// has it.
//
//   psd_bench [--runs N] [--korvex BINARY] [--no-psd-tools]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/psd_writer.h"
#include "support/temp_dir.h"

namespace {

using korvex::test::PsdRecord;

constexpr int kCanvas = 4096;
constexpr int kLayers = 400;
constexpr int kGroups = 30;
constexpr int kSpread = 400;  // a group's layers lie within this distance of its centre

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// A disc-shaped layer near (`cx`, `cy`) whose alpha falls off smoothly
// towards its edge, its colour grained like painted artwork (so RLE saves
// little on the colour channels, as in real documents).
PsdRecord softLayer(int index, int cx, int cy, uint32_t& seed) {
  // Normal blending: psd-tools' other modes would take it many minutes here.
  const int width = 32 + static_cast<int>(nextRandom(seed) % 369);
  const int height = 32 + static_cast<int>(nextRandom(seed) % 369);
  const int left = std::max(0, std::min(kCanvas - width, cx - kSpread + static_cast<int>(nextRandom(seed) % (2 * kSpread))));
  const int top = std::max(0, std::min(kCanvas - height, cy - kSpread + static_cast<int>(nextRandom(seed) % (2 * kSpread))));
  const uint32_t color = nextRandom(seed) & 0xC0C0C0u;
  PsdRecord r = korvex::test::solidLayer("layer " + std::to_string(index), left, top, width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = (x + 0.5) / width * 2 - 1, dy = (y + 0.5) / height * 2 - 1;
      const double edge = std::max(0.0, std::min(1.0, (1 - std::sqrt(dx * dx + dy * dy)) * 3));
      r.pixels[static_cast<size_t>(y * width + x)] =
          static_cast<uint32_t>(edge * 255 + 0.5) << 24 | (color + (nextRandom(seed) & 0x3F3F3Fu));
    }
  }
  return r;
}

// Each group gathers its layers around its own centre, as the parts of a
// character do.
std::vector<PsdRecord> makeRecords() {
  uint32_t seed = 12345;
  std::vector<PsdRecord> records;
  int made = 0;
  for (int g = 0; g < kGroups; ++g) {
    const int cx = static_cast<int>(nextRandom(seed) % kCanvas), cy = static_cast<int>(nextRandom(seed) % kCanvas);
    const int count = kLayers / kGroups + (g < kLayers % kGroups ? 1 : 0);
    std::vector<PsdRecord> outer, inner;
    for (int i = 0; i < count; ++i) (i % 2 ? inner : outer).push_back(softLayer(made++, cx, cy, seed));
    korvex::test::append(outer, korvex::test::group("nested " + std::to_string(g), inner));
    korvex::test::append(records, korvex::test::group("group " + std::to_string(g), outer));
  }
  return records;
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double cpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double processCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return cpuSeconds(usage);
}

// "min X s, median Y s" of the samples.
std::string minMedian(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  char text[64];
  std::snprintf(text, sizeof text, "min %.3f s, median %.3f s", v.front(), v[v.size() / 2]);
  return text;
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

struct Phases {
  std::vector<double> load, decode, composite, total, cpu;
};

// One in-process run: load, decode, composite. False when a step fails.
bool runInProcess(const std::string& path, Phases& p) {
  const double cpu = processCpu();
  auto start = std::chrono::steady_clock::now();
  korvex::platform::FileBytes bytes;
  std::string error;
  if (!bytes.open(path, error)) {
    std::fprintf(stderr, "load failed: %s\n", error.c_str());
    return false;
  }
  const double load = seconds(start);
  start = std::chrono::steady_clock::now();
  korvex::psd::Document document;
  if (!korvex::psd::parseDocument(bytes.data(), bytes.size(), document, error)) {
    std::fprintf(stderr, "decode failed: %s\n", error.c_str());
    return false;
  }
  const double decode = seconds(start);
  start = std::chrono::steady_clock::now();
  korvex::psd::Compositor compositor(document);
  for (const auto& list : groupLists(document)) {
    korvex::psd::Box touched;
    if (!compositor.composite(list, touched)) {
      std::fprintf(stderr, "composite failed\n");
      return false;
    }
    compositor.clear(touched);
  }
  const double composite = seconds(start);
  p.load.push_back(load);
  p.decode.push_back(decode);
  p.composite.push_back(composite);
  p.total.push_back(load + decode + composite);
  p.cpu.push_back(processCpu() - cpu);
  return true;
}

struct EndToEnd {
  std::vector<double> lastRead, exit, cpu;
  long peakKib = 0;
};

// Runs `binary -I path -O outDir/` and times its last " read (" line and its
// exit. False when it cannot run, crashes or reads nothing.
bool runBinary(const std::string& binary, const std::string& path, const std::string& outDir, EndToEnd& e) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    dup2(fds[1], STDERR_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    const std::string out = outDir + "/";
    execl(binary.c_str(), binary.c_str(), "-I", path.c_str(), "-O", out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  double lastRead = 0;
  std::string pending, all;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    all.append(buffer, static_cast<size_t>(n));
    for (size_t eol; (eol = pending.find('\n')) != std::string::npos; pending.erase(0, eol + 1))
      if (pending.compare(0, 7, " read (") == 0) lastRead = seconds(start);
  }
  close(fds[0]);
  int status = 1;
  rusage usage{};
  // Exit 1 counts too: a build whose atlas cannot hold the 30 group cells
  // stops there after reading every group.
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1 || lastRead == 0) {
    std::fprintf(stderr, "%s failed on %s:\n%s", binary.c_str(), path.c_str(), all.c_str());
    return false;
  }
  e.exit.push_back(seconds(start));
  e.lastRead.push_back(lastRead);
  e.cpu.push_back(cpuSeconds(usage));
  e.peakKib = std::max(e.peakKib, usage.ru_maxrss);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool withPsdTools = true;
  int runs = 5;
  std::string binary = KORVEX_BINARY;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-psd-tools") {
      withPsdTools = false;
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--korvex" && i + 1 < argc) {
      binary = argv[++i];
    } else {
      std::fprintf(stderr, "usage: psd_bench [--runs N] [--korvex BINARY] [--no-psd-tools]\n");
      return 2;
    }
  }
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
  struct stat info {};
  stat(path.c_str(), &info);
  std::printf("file: %d x %d, %d layers in %d groups with nested groups, RLE, %.1f MB; %d runs\n", kCanvas,
              kCanvas, kLayers, kGroups, static_cast<double>(info.st_size) / 1e6, runs);

  Phases p;
  for (int i = 0; i < runs; ++i)
    if (!runInProcess(path, p)) return 1;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("korvex load:      %s\n", minMedian(p.load).c_str());
  std::printf("korvex decode:    %s\n", minMedian(p.decode).c_str());
  std::printf("korvex composite: %s (30 groups)\n", minMedian(p.composite).c_str());
  std::printf("korvex total:     %s, CPU %s, peak RSS %ld MiB\n", minMedian(p.total).c_str(),
              minMedian(p.cpu).c_str(), usage.ru_maxrss / 1024);

  EndToEnd e;
  for (int i = 0; i < runs; ++i)
    if (!runBinary(binary, path, dir.path(), e)) return 1;
  std::printf("binary to last read line: %s\n", minMedian(e.lastRead).c_str());
  std::printf("binary to exit:           %s, CPU %s, peak RSS %ld MiB\n", minMedian(e.exit).c_str(),
              minMedian(e.cpu).c_str(), e.peakKib / 1024);
  const double best = *std::min_element(p.total.begin(), p.total.end());

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
      std::printf("speed-up: psd-tools / korvex = %.1f\n", total / best);
  }
  pclose(output);
  return 0;
}
