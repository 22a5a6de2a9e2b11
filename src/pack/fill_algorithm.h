// Rectangle placement engines: given a container and numbered rectangles,
// each returns a top-left position per rectangle (border included).
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvex {

// One packing run: set border and spacing, Init, AddRect for each rectangle,
// Execute, GetPos for each added index. Widths, heights, border and spacing
// are never negative.
class FillAlgorithm {
 public:
  virtual ~FillAlgorithm() = default;
  virtual void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity);
  virtual void AddRect(int32_t index, int32_t width, int32_t height);
  virtual void Execute();
  // Position of rectangle `index`, border included; x < 0 when it found no place.
  virtual void GetPos(int32_t index, int32_t& x, int32_t& y);

  int32_t border = 0;
  int32_t spacing = 0;
  int32_t capacity = 0;
};

// Bottom-left fill. Every rectangle (its size plus `spacing`) is placed during
// its own AddRect at the admissible candidate point with the smallest y, then
// the smallest x. Candidate points are the corners that earlier rectangles
// leave: each carries two gaps, and accepts only a rectangle wider than its
// x gap and taller than its y gap. A point is admissible when the rectangle
// lies right of x 0 and below y 0, ends at or before the area's right edge and
// overlaps no earlier rectangle (touching edges do not overlap). Nothing is
// tested against the area's height. A rectangle that fits nowhere fails at
// (-border - 1, -border - 1) and still blocks later ones there.
//
// Indices must be added in increasing order (the packer does); an index at
// or below an earlier one, or outside the capacity, is ignored. Coordinates
// are integral, so the engine works in exact 64-bit integers, and it gives
// the positions of the plain search over every candidate ever made without
// paying for it:
// - one record per distinct point, holding only the gap pairs that no other
//   pair at the point makes redundant (which candidate at a point wins a tie
//   does not change the position);
// - a point inside a placed rectangle admits nothing: such points are never
//   taken in, and are dropped when a rectangle lands on them;
// - each point remembers blockers, rectangles that refuse every size reaching
//   them: the nearest ones straight right and straight below from the start,
//   and every one an overlap search meets; a point whose gap pairs are all
//   refused is dropped;
// - the points are kept in short runs in placement order, each run with
//   bounds on the sizes its points may admit, so most are passed over
//   without a look;
// - overlaps are searched in a grid of the placed rectangles.
class BLF : public FillAlgorithm {
 public:
  void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity) override;
  void AddRect(int32_t index, int32_t width, int32_t height) override;
  void GetPos(int32_t index, int32_t& x, int32_t& y) override;

  // Candidate points made so far (every append, duplicates included), how
  // many point tests reached the overlap search, and how many distinct
  // points are held; for measurements.
  int64_t candidatesMade() const { return candidatesMade_; }
  int64_t overlapSearches() const { return overlapSearches_; }
  int64_t livePoints() const { return static_cast<int64_t>(pointAt_.size()); }

 private:
  struct Rect {
    int64_t x, y, w, h;
  };
  // A pair (a, b) meaning "width > a and height > b".
  using SizePair = std::pair<int64_t, int64_t>;
  // One distinct candidate point. A size is admitted when it exceeds one of
  // the gap pairs, exceeds none of the blocker pairs, ends by the right edge
  // and overlaps no placed rectangle.
  struct Point {
    int64_t x = 0, y = 0;
    std::vector<SizePair> gaps;
    std::vector<SizePair> blockers;
    bool alive = true;
  };
  struct KeyHash {
    size_t operator()(const std::pair<int64_t, int64_t>& k) const {
      uint64_t h = static_cast<uint64_t>(k.first) * 0x9e3779b97f4a7c15ull ^ static_cast<uint64_t>(k.second);
      h ^= h >> 31;
      h *= 0xbf58476d1ce4e5b9ull;
      return static_cast<size_t>(h ^ (h >> 29));
    }
  };
  // A held point in its run, with bounds summarising its pairs: every size
  // it admits is wider than minGapX, taller than minGapY, at most maxWidth
  // wide and at most maxHeight tall.
  struct Entry {
    int64_t y, x;
    int64_t minGapX, minGapY, maxWidth, maxHeight;
    int32_t id;
    bool alive;
  };
  // Held points in runs sorted by y, then x, each run with bounds that hold
  // for every point in it (possibly looser than needed), so a run whose
  // bounds refuse the size is passed over whole.
  struct Run {
    std::vector<Entry> entries;
    int64_t minGapX = 0, minGapY = 0, maxWidth = 0, maxHeight = 0;
  };

  bool place(int64_t width, int64_t height, int64_t& x, int64_t& y);
  bool admits(Entry& entry, int64_t width, int64_t height);
  void addCandidate(int64_t x, int64_t y, int64_t gapX, int64_t gapY);
  void summarize(const Point& point, Entry& entry) const;
  static Run emptyRun();
  static void widen(Run& run, const Entry& entry);
  size_t runOf(int64_t x, int64_t y) const;
  Entry* entryOf(int64_t x, int64_t y);
  void drop(Entry& entry);
  void dropCovered(const Rect& r);
  bool covered(int64_t x, int64_t y) const;
  void nearestBlockers(int64_t x, int64_t y, int64_t& right, int64_t& down) const;
  void insertRect(int32_t id);
  bool gridCells(int64_t x, int64_t y, int64_t width, int64_t height, int64_t& c0, int64_t& c1,
                 int64_t& r0, int64_t& r1) const;
  template <typename Visit>
  void forRectsIn(int64_t x, int64_t y, int64_t width, int64_t height, Visit visit) const;

  int64_t areaWidth_ = 0;
  int32_t lastIndex_ = -1;
  std::vector<int64_t> rectX_, rectY_;  // per index, area coordinates
  std::vector<Rect> rects_;             // every added rectangle, in index order
  std::vector<Point> points_;           // every point ever held, dropped ones included
  std::unordered_map<std::pair<int64_t, int64_t>, int32_t, KeyHash> pointAt_;  // (x, y) of held points
  std::vector<Run> runs_;
  // Grids of placed rectangles and of held points: cells of cellSize_ x
  // cellSize_, rows grown on demand. Rectangles outside it (failed ones, very
  // tall ones) are in `loose_`; points outside it are simply not in pointGrid_.
  int64_t cellSize_ = 64;
  int64_t gridColumns_ = 1;
  std::vector<std::vector<Rect>> grid_;
  std::vector<std::vector<int32_t>> pointGrid_;
  std::vector<int32_t> loose_;
  int64_t candidatesMade_ = 0;
  int64_t overlapSearches_ = 0;
};

// Row (shelf) filler: left to right in AddRect order, a new row below the
// tallest of the current one when the next rectangle would pass the right edge.
class MinMaxFill : public FillAlgorithm {
 public:
  void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity) override;
  void AddRect(int32_t index, int32_t width, int32_t height) override;
  void Execute() override;
  // Counts rectangles in AddRect order (the n-th added), not by index.
  void GetPos(int32_t index, int32_t& x, int32_t& y) override;

 private:
  struct Entry {
    int64_t width = 0, height = 0, x = 0, y = 0;
  };
  int64_t areaWidth_ = 0;
  std::vector<Entry> entries_;
  std::vector<int32_t> order_;
};

}  // namespace korvex
