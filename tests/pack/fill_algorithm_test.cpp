#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "pack/blf_reference.h"
#include "pack/fill_algorithm.h"

namespace korvex {
namespace {

using Pos = std::pair<int32_t, int32_t>;

struct Rect {
  int32_t index, width, height;
};

template <typename Engine>
std::vector<Pos> run(Engine& engine, int32_t containerWidth, int32_t containerHeight,
                     int32_t capacity, const std::vector<Rect>& rects) {
  engine.Init(containerWidth, containerHeight, capacity);
  for (const Rect& r : rects) engine.AddRect(r.index, r.width, r.height);
  std::vector<Pos> out;
  for (const Rect& r : rects) {
    Pos p;
    engine.GetPos(r.index, p.first, p.second);
    out.push_back(p);
  }
  return out;
}

std::vector<Pos> blf(int32_t width, int32_t height, int32_t border, int32_t spacing,
                     const std::vector<Rect>& rects) {
  BLF engine;
  engine.border = border;
  engine.spacing = spacing;
  engine.Init(width, height, 64);
  for (const Rect& r : rects) engine.AddRect(r.index, r.width, r.height);
  std::vector<Pos> out;
  for (const Rect& r : rects) {
    Pos p;
    engine.GetPos(r.index, p.first, p.second);
    out.push_back(p);
  }
  return out;
}

TEST(BLF, FillsTopRowsFirstSmallestXOnTies) {
  EXPECT_EQ(blf(20, 100, 0, 0, {{0, 10, 10}, {1, 5, 5}, {2, 5, 5}, {3, 5, 5}}),
            (std::vector<Pos>{{0, 0}, {10, 0}, {15, 0}, {10, 5}}));
}

TEST(BLF, BorderOffsetsAndFailures) {
  // First rectangle at (border, border); one wider than the area fails at (-1, -1).
  EXPECT_EQ(blf(30, 30, 5, 0, {{0, 20, 3}, {1, 21, 3}}), (std::vector<Pos>{{5, 5}, {-1, -1}}));
  // Exactly reaching the right edge is accepted; spacing counts in the width.
  EXPECT_EQ(blf(20, 20, 0, 2, {{0, 8, 8}, {1, 8, 8}, {2, 8, 8}}),
            (std::vector<Pos>{{0, 0}, {10, 0}, {0, 10}}));
  // Nothing is checked against the height: the third lands below the container.
  EXPECT_EQ(blf(10, 10, 0, 0, {{0, 10, 8}, {1, 10, 8}}), (std::vector<Pos>{{0, 0}, {0, 8}}));
}

TEST(BLF, GapsRefuseRectanglesNoLargerThanThem) {
  // After A (0, 0, 10x10) and B (10, 0, 10x4), a 4x6 rectangle finds the
  // top-right corner first.
  std::vector<Rect> rects{{0, 10, 10}, {1, 10, 4}, {2, 4, 6}};
  auto fast = blf(24, 100, 0, 0, rects);
  test::ReferenceBLF ref;
  EXPECT_EQ(fast, run(ref, 24, 100, 64, rects));
  EXPECT_EQ(fast[2], Pos(20, 0));
}

TEST(BLF, ZeroSizeAndSkippedIndicesAndFailuresAsReference) {
  std::vector<Rect> rects{{0, 0, 0}, {2, 6, 6}, {3, 0, 5}, {5, 30, 30}, {6, 4, 4}, {9, 6, 2}};
  test::ReferenceBLF ref;
  BLF fast;
  EXPECT_EQ(run(fast, 16, 16, 32, rects), run(ref, 16, 16, 32, rects));
  // A failed rectangle still blocks the area it reaches from (-border - 1,
  // -border - 1): here the whole area, so nothing fits after it.
  std::vector<Rect> blocking{{0, 40, 40}, {1, 12, 12}, {2, 1, 1}};
  EXPECT_EQ(run(fast, 30, 30, 8, blocking), run(ref, 30, 30, 8, blocking));
  EXPECT_EQ(run(fast, 30, 30, 8, blocking)[2], Pos(-1, -1));
}

TEST(BLF, HugeSizesStayExactAndPositionsSaturate) {
  const int32_t big = std::numeric_limits<int32_t>::max();
  // Two full-width rectangles of the largest height stack below the container;
  // the second's y no longer fits 32 bits and is reported as the largest value.
  EXPECT_EQ(blf(100, 100, 4, 1, {{0, 91, big - 1}, {1, 91, big - 1}, {2, big, 1}}),
            (std::vector<Pos>{{4, 4}, {4, big}, {-1, -1}}));
}

// Random layouts of many shapes; the engine must reproduce the plain search
// position for position.
TEST(BLF, MatchesPlainSearchOnRandomLayouts) {
  std::mt19937 rng(20261209);
  int layouts = 0;
  for (int round = 0; round < 3000; ++round, ++layouts) {
    const int32_t count = 1 + static_cast<int32_t>(rng() % 40);
    const int32_t capacity = 2 * (count + static_cast<int32_t>(rng() % 8));
    const int32_t border = static_cast<int32_t>(rng() % 4);
    const int32_t spacing = static_cast<int32_t>(rng() % 3);
    const int32_t maxSide = 2 + static_cast<int32_t>(rng() % 30);
    const int32_t width = static_cast<int32_t>(rng() % 100) + 2 * border;
    const int32_t height = static_cast<int32_t>(rng() % 100);
    const bool uniform = rng() % 5 == 0;  // many equal sizes: ties everywhere
    std::vector<Rect> rects;
    int32_t index = 0;
    for (int32_t n = 0; n < count && index < capacity / 2; ++n) {
      index += (rng() % 6 == 0) ? 1 + static_cast<int32_t>(rng() % 2) : 0;  // skipped indices
      if (index >= capacity / 2) break;
      int32_t w = uniform ? maxSide / 2 : static_cast<int32_t>(rng() % maxSide);
      int32_t h = uniform ? maxSide / 3 : static_cast<int32_t>(rng() % maxSide);
      if (rng() % 25 == 0) w = 0;
      if (rng() % 10 == 0) w = width;  // often too wide, sometimes exactly fitting
      rects.push_back({index++, w, h});
    }
    BLF fast;
    fast.border = border;
    fast.spacing = spacing;
    test::ReferenceBLF ref;
    ref.border = border;
    ref.spacing = spacing;
    ASSERT_EQ(run(fast, width, height, capacity, rects), run(ref, width, height, capacity, rects))
        << "layout " << round;
  }
  RecordProperty("layouts", layouts);
}

// Fewer, larger layouts: many points per row, long runs of held points.
TEST(BLF, MatchesPlainSearchOnLargerLayouts) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 12; ++round) {
    const int32_t count = 120 + static_cast<int32_t>(rng() % 120);
    std::vector<Rect> rects;
    for (int32_t i = 0; i < count; ++i)
      rects.push_back({i, 1 + static_cast<int32_t>(rng() % 40), 1 + static_cast<int32_t>(rng() % 40)});
    if (round % 2 == 0)
      std::sort(rects.begin(), rects.end(), [](const Rect& a, const Rect& b) {
        return a.width * a.height > b.width * b.height;
      });
    for (int32_t i = 0; i < count; ++i) rects[static_cast<size_t>(i)].index = i;
    BLF fast;
    fast.border = 2;
    fast.spacing = 1;
    test::ReferenceBLF ref;
    ref.border = 2;
    ref.spacing = 1;
    const int32_t width = 150 + static_cast<int32_t>(rng() % 200);
    ASSERT_EQ(run(fast, width, 100, 2 * count, rects), run(ref, width, 100, 2 * count, rects))
        << "layout " << round;
  }
}

TEST(MinMaxFill, RowsLeftToRightNewRowPastTheEdge) {
  MinMaxFill fill;
  fill.border = 2;
  fill.spacing = 1;
  // Area 20 wide: 9+1 and 9+1 end exactly at 20; the third starts a row below
  // the tallest (6); the fourth, wider than the area, gets a row of its own.
  fill.Init(24, 10, 16);
  for (const Rect& r : std::vector<Rect>{{0, 9, 5}, {1, 9, 3}, {2, 10, 2}, {3, 30, 1}, {4, 1, 1}})
    fill.AddRect(r.index, r.width, r.height);
  fill.Execute();
  std::vector<Pos> pos;
  for (int32_t i = 0; i < 5; ++i) {
    Pos p;
    fill.GetPos(i, p.first, p.second);
    pos.push_back(p);
  }
  EXPECT_EQ(pos, (std::vector<Pos>{{2, 2}, {12, 2}, {2, 8}, {2, 11}, {2, 13}}));
  Pos missing;
  fill.GetPos(5, missing.first, missing.second);
  EXPECT_EQ(missing, Pos(-1, -1));
}

}  // namespace
}  // namespace korvex
