// Placement speed: random cells packed in automatic size mode, the packer's
// engine against the plain search over every candidate.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pack/blf_reference.h"
#include "pack/fill_algorithm.h"
#include "pack/texture_pack.h"

namespace {

using korvex::kTextureSizes;

struct Cell {
  int32_t width, height;
};

struct Result {
  double seconds = 0;
  int32_t width = 0, height = 0;
  int64_t candidates = 0;  // candidate points made, over every attempt
  int64_t searches = 0;    // overlap searches of the engine (fast only)
  int64_t live = 0;        // distinct points the engine held at the end (fast only)
  std::vector<std::pair<int32_t, int32_t>> positions;  // of the last attempt
};

int32_t fitIndex(int64_t v) {
  for (int32_t i = 4; i >= 1; --i)
    if (kTextureSizes[i] >= v) return i;
  return 0;
}

// The packer's automatic sizing: start from the largest cell and the area,
// grow the smaller side until every cell is placed inside the texture.
template <typename Engine, typename Count>
Result pack(const std::vector<Cell>& cells, Count count) {
  const int32_t border = 4, spacing = 2;
  int32_t maxW = 0, maxH = 0;
  int64_t area = 0;
  for (const Cell& c : cells) {
    maxW = std::max(maxW, c.width);
    maxH = std::max(maxH, c.height);
    area += int64_t{c.width} * c.height;
  }
  int32_t iW = fitIndex(maxW), iH = fitIndex(maxH);
  while (int64_t{kTextureSizes[iW]} * kTextureSizes[iH] < area) --(iW < iH ? iH : iW);
  Result r;
  // Processor time of this thread: steadier than wall time on a shared machine.
  const std::clock_t start = std::clock();
  for (;;) {
    Engine engine;
    engine.border = border;
    engine.spacing = spacing;
    const int32_t w = kTextureSizes[iW], h = kTextureSizes[iH];
    engine.Init(w, h, static_cast<int32_t>(2 * cells.size()));
    for (size_t i = 0; i < cells.size(); ++i)
      engine.AddRect(static_cast<int32_t>(i), cells[i].width, cells[i].height);
    bool fits = true;
    r.positions.clear();
    for (size_t i = 0; i < cells.size(); ++i) {
      int32_t x = 0, y = 0;
      engine.GetPos(static_cast<int32_t>(i), x, y);
      r.positions.emplace_back(x, y);
      fits = fits && x >= 0 && x + cells[i].width <= w && y + cells[i].height <= h;
    }
    count(engine, r);
    if (fits || (iW == 0 && iH == 0)) {
      r.width = w;
      r.height = h;
      break;
    }
    --(iW < iH ? iH : iW);
  }
  r.seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  // "--quick" leaves the plain search out for 1024 cells.
  const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
  std::printf("%-8s %6s %10s %10s %12s %10s %12s %8s %9s %9s %5s\n", "order", "cells", "atlas", "plain cpu",
              "plain cands", "engine cpu", "engine cands", "points", "searches", "speed-up", "same");
  for (const bool byArea : {true, false}) {
    for (int n : {64, 256, 1024}) {
      std::mt19937 rng(static_cast<uint32_t>(n));
      std::vector<Cell> cells;
      for (int i = 0; i < n; ++i)
        cells.push_back({8 + static_cast<int32_t>(rng() % 249), 8 + static_cast<int32_t>(rng() % 249)});
      // The packer's default sort: by area, largest first; or the table order.
      if (byArea)
        std::stable_sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
          return int64_t{a.width} * a.height > int64_t{b.width} * b.height;
        });
      const Result fast = pack<korvex::BLF>(cells, [](const korvex::BLF& e, Result& r) {
        r.candidates += e.candidatesMade();
        r.searches += e.overlapSearches();
        r.live = std::max(r.live, e.livePoints());
      });
      Result plain;
      if (!(quick && n > 256))
        plain = pack<korvex::test::ReferenceBLF>(cells, [](const korvex::test::ReferenceBLF& e, Result& r) {
          r.candidates += e.candidateCount();
        });
      char atlas[32];
      std::snprintf(atlas, sizeof atlas, "%dx%d", fast.width, fast.height);
      const char* same = plain.positions.empty() ? "-" : plain.positions == fast.positions ? "yes" : "NO";
      std::printf("%-8s %6d %10s %10.4f %12lld %10.4f %12lld %8lld %9lld %9.0f %5s\n", byArea ? "by area" : "as given",
                  n, atlas, plain.seconds, static_cast<long long>(plain.candidates), fast.seconds,
                  static_cast<long long>(fast.candidates), static_cast<long long>(fast.live),
                  static_cast<long long>(fast.searches), plain.seconds > 0 ? plain.seconds / fast.seconds : 0.0,
                  same);
      std::fflush(stdout);
    }
  }
  return 0;
}
