// Bottom-left fill: the engine behind BLF (its placement rule is in
// fill_algorithm.h).
//
// Coordinates are integral, so the engine works in exact 64-bit integers,
// and it gives the positions of the plain search over every candidate ever
// made without paying for it:
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

#include "pack/fill_algorithm.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

#include "text/numbers.h"

namespace korvex {
namespace {

// True when some pair (a, b) of `pairs` has a <= x and b <= y.
bool anyAtOrBelow(const std::vector<std::pair<int64_t, int64_t>>& pairs, int64_t x, int64_t y) {
  for (const auto& p : pairs)
    if (p.first <= x && p.second <= y) return true;
  return false;
}

// Adds (x, y) to a set of pairs where no pair lies at or below another.
void insertMinimal(std::vector<std::pair<int64_t, int64_t>>& pairs, int64_t x, int64_t y) {
  if (anyAtOrBelow(pairs, x, y)) return;
  pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                             [&](const auto& p) { return x <= p.first && y <= p.second; }),
              pairs.end());
  pairs.emplace_back(x, y);
}

constexpr int64_t kMaxGridRows = int64_t{1} << 16;
constexpr int64_t kMaxGridCellsPerRect = 4096;

}  // namespace

// The working state of one BLF run (the engine behind BLF).
class BLF::Engine {
 public:
  void Init(int32_t containerWidth, int32_t containerHeight, int32_t capacity);
  void AddRect(int32_t index, int32_t width, int32_t height);
  void GetPos(int32_t index, int32_t& x, int32_t& y);

  int32_t border = 0;
  int32_t spacing = 0;
  int32_t capacity = 0;
  int64_t candidatesMade_ = 0;
  int64_t overlapSearches_ = 0;
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
};

BLF::BLF() : engine_(std::make_unique<Engine>()) {}
BLF::~BLF() = default;

void BLF::Init(int32_t containerWidth, int32_t containerHeight, int32_t newCapacity) {
  engine_->border = border;
  engine_->spacing = spacing;
  engine_->Init(containerWidth, containerHeight, newCapacity);
  capacity = engine_->capacity;
}
void BLF::AddRect(int32_t index, int32_t width, int32_t height) { engine_->AddRect(index, width, height); }
void BLF::GetPos(int32_t index, int32_t& x, int32_t& y) { engine_->GetPos(index, x, y); }
int64_t BLF::candidatesMade() const { return engine_->candidatesMade_; }
int64_t BLF::overlapSearches() const { return engine_->overlapSearches_; }
int64_t BLF::livePoints() const { return engine_->livePoints(); }

void BLF::Engine::Init(int32_t containerWidth, int32_t containerHeight, int32_t newCapacity) {
  (void)containerHeight;  // placement never looks at the height; the packer checks the bottom
  capacity = std::max(newCapacity, 0);
  areaWidth_ = int64_t{containerWidth} - 2 * int64_t{border};
  lastIndex_ = -1;
  rectX_.assign(static_cast<size_t>(capacity), 0);
  rectY_.assign(static_cast<size_t>(capacity), 0);
  rects_.clear();
  points_.clear();
  pointAt_.clear();
  runs_.clear();
  cellSize_ = std::max<int64_t>(64, areaWidth_ / 1024 + 1);
  gridColumns_ = std::max<int64_t>(1, (areaWidth_ + cellSize_ - 1) / cellSize_);
  grid_.clear();
  pointGrid_.clear();
  loose_.clear();
  candidatesMade_ = 0;
  overlapSearches_ = 0;
  addCandidate(0, 0, 0, 0);
}

void BLF::Engine::AddRect(int32_t index, int32_t width, int32_t height) {
  if (index < 0 || index >= capacity || index <= lastIndex_) return;
  lastIndex_ = index;
  const int64_t w = int64_t{width} + spacing;
  const int64_t h = int64_t{height} + spacing;
  int64_t x = 0, y = 0;
  const bool placed = place(w, h, x, y);
  if (!placed) x = y = -int64_t{border} - 1;
  rectX_[static_cast<size_t>(index)] = x;
  rectY_[static_cast<size_t>(index)] = y;
  rects_.push_back({x, y, w, h});
  if (w > 0 && h > 0) {
    insertRect(static_cast<int32_t>(rects_.size() - 1));
    dropCovered(rects_.back());
  }
  if (!placed) return;

  addCandidate(x + w, 0, 0, y);
  addCandidate(0, y + h, x, 0);
  const int64_t right = x + w, bottom = y + h;
  for (size_t j = 0; j + 1 < rects_.size(); ++j) {
    const Rect& r = rects_[j];
    const int64_t rRight = r.x + r.w, rBottom = r.y + r.h;
    if (r.x >= right && bottom > rBottom)
      addCandidate(right, rBottom, r.x - right, std::max<int64_t>(0, y - rBottom));
    else if (x >= rRight && rBottom > bottom)
      addCandidate(rRight, bottom, x - rRight, std::max<int64_t>(0, r.y - bottom));
    if (r.y >= bottom && right > rRight)
      addCandidate(rRight, bottom, std::max<int64_t>(0, x - rRight), r.y - bottom);
    else if (y >= rBottom && rRight > right)
      addCandidate(right, rBottom, std::max<int64_t>(0, r.x - right), y - rBottom);
  }
}

void BLF::Engine::GetPos(int32_t index, int32_t& x, int32_t& y) {
  if (index < 0 || index >= capacity) {
    x = y = -1;
    return;
  }
  x = clampToInt32(border + rectX_[static_cast<size_t>(index)]);
  y = clampToInt32(border + rectY_[static_cast<size_t>(index)]);
}

// Points are visited by y, then x; the first that admits the rectangle wins.
// A run is passed over when its bounds refuse the size; a run searched to
// its end gets exact bounds. Dropped points leave the runs on the way.
bool BLF::Engine::place(int64_t width, int64_t height, int64_t& x, int64_t& y) {
  if (width < 1 || height < 1) return false;  // gaps are never negative
  bool found = false, emptied = false;
  for (Run& run : runs_) {
    if (width <= run.minGapX || height <= run.minGapY || width > run.maxWidth || height > run.maxHeight)
      continue;
    Run exact = emptyRun();
    size_t kept = 0, i = 0;
    for (; i < run.entries.size(); ++i) {
      Entry& e = run.entries[i];
      if (e.alive && admits(e, width, height)) {
        x = e.x;
        y = e.y;
        found = true;
        break;
      }
      if (!e.alive) continue;
      widen(exact, e);
      run.entries[kept++] = e;
    }
    if (found) {
      run.entries.erase(run.entries.begin() + static_cast<ptrdiff_t>(kept),
                        run.entries.begin() + static_cast<ptrdiff_t>(i));
      break;
    }
    run.entries.resize(kept);
    run.minGapX = exact.minGapX;
    run.minGapY = exact.minGapY;
    run.maxWidth = exact.maxWidth;
    run.maxHeight = exact.maxHeight;
    emptied = emptied || kept == 0;
  }
  // Empty runs would break the search for a point's run.
  if (emptied)
    runs_.erase(std::remove_if(runs_.begin(), runs_.end(), [](const Run& run) { return run.entries.empty(); }),
                runs_.end());
  return found;
}

// The full test of one point. An overlap found is remembered at the point as
// a blocker; gap pairs under which every size is blocked are dropped, and the
// point with them once none is left.
bool BLF::Engine::admits(Entry& e, int64_t width, int64_t height) {
  if (width <= e.minGapX || height <= e.minGapY || width > e.maxWidth || height > e.maxHeight)
    return false;
  Point& p = points_[static_cast<size_t>(e.id)];
  if (!anyAtOrBelow(p.gaps, width - 1, height - 1) || anyAtOrBelow(p.blockers, width - 1, height - 1))
    return false;
  ++overlapSearches_;
  bool blocked = false;
  forRectsIn(p.x, p.y, width, height, [&](const Rect& r) {
    if (p.x < r.x + r.w && p.x + width > r.x && p.y + height > r.y && p.y < r.y + r.h) {
      blocked = true;
      insertMinimal(p.blockers, std::max<int64_t>(0, r.x - p.x), std::max<int64_t>(0, r.y - p.y));
    }
  });
  if (!blocked) return true;
  p.gaps.erase(std::remove_if(p.gaps.begin(), p.gaps.end(),
                              [&](const SizePair& g) { return anyAtOrBelow(p.blockers, g.first, g.second); }),
               p.gaps.end());
  if (p.gaps.empty()) drop(e);
  else summarize(p, e);
  return false;
}

void BLF::Engine::addCandidate(int64_t x, int64_t y, int64_t gapX, int64_t gapY) {
  ++candidatesMade_;
  // A rectangle here is at least gapX + 1 wide and must end by the right
  // edge. Most new points lie inside a placed rectangle; held points never do.
  if (x < 0 || y < 0 || x + gapX + 1 > areaWidth_ || covered(x, y)) return;
  auto it = pointAt_.find({x, y});
  if (it != pointAt_.end()) {
    Point& p = points_[static_cast<size_t>(it->second)];
    if (anyAtOrBelow(p.blockers, gapX, gapY) || anyAtOrBelow(p.gaps, gapX, gapY)) return;
    insertMinimal(p.gaps, gapX, gapY);
    const size_t r = runOf(x, y);
    Entry* e = entryOf(x, y);
    summarize(p, *e);
    widen(runs_[r], *e);
    return;
  }
  // The nearest rectangles straight right of and straight below the point
  // bound every size from the start.
  int64_t freeRight = std::numeric_limits<int64_t>::max(), freeDown = std::numeric_limits<int64_t>::max();
  nearestBlockers(x, y, freeRight, freeDown);
  std::vector<SizePair> blockers;
  if (freeRight != std::numeric_limits<int64_t>::max()) blockers.emplace_back(freeRight, 0);
  if (freeDown != std::numeric_limits<int64_t>::max()) blockers.emplace_back(0, freeDown);
  if (anyAtOrBelow(blockers, gapX, gapY)) return;
  const auto id = static_cast<int32_t>(points_.size());
  Point& p = points_.emplace_back();
  p.x = x;
  p.y = y;
  p.gaps.emplace_back(gapX, gapY);
  p.blockers = std::move(blockers);
  pointAt_.emplace(std::make_pair(x, y), id);
  Entry entry{y, x, 0, 0, 0, 0, id, true};
  summarize(p, entry);

  // Into its run, in order; a run grown too long is split in two.
  constexpr size_t kRunLength = 16;
  if (runs_.empty()) runs_.push_back(emptyRun());
  const size_t r = runOf(x, y);
  Run& run = runs_[r];
  run.entries.insert(std::upper_bound(run.entries.begin(), run.entries.end(), entry,
                                      [](const Entry& a, const Entry& b) {
                                        return a.y != b.y ? a.y < b.y : a.x < b.x;
                                      }),
                     entry);
  widen(run, entry);
  if (run.entries.size() > 2 * kRunLength) {
    Run upper = run;  // the bounds stay valid for both halves
    upper.entries.erase(upper.entries.begin(), upper.entries.begin() + kRunLength);
    run.entries.resize(kRunLength);
    runs_.insert(runs_.begin() + static_cast<ptrdiff_t>(r + 1), std::move(upper));
  }

  int64_t c0, c1, r0, r1;
  if (gridCells(x, y, 1, 1, c0, c1, r0, r1)) {
    const size_t cell = static_cast<size_t>(r0 * gridColumns_ + c0);
    if (pointGrid_.size() <= cell) pointGrid_.resize(static_cast<size_t>((r0 + 1) * gridColumns_));
    pointGrid_[cell].push_back(id);
  }
}

void BLF::Engine::summarize(const Point& p, Entry& e) const {
  e.minGapX = e.minGapY = std::numeric_limits<int64_t>::max();
  for (const SizePair& g : p.gaps) {
    e.minGapX = std::min(e.minGapX, g.first);
    e.minGapY = std::min(e.minGapY, g.second);
  }
  // A blocker level with the point's top edge bounds the width of any size;
  // one level with its left edge bounds the height.
  e.maxWidth = areaWidth_ - p.x;
  e.maxHeight = std::numeric_limits<int64_t>::max();
  for (const SizePair& b : p.blockers) {
    if (b.second == 0) e.maxWidth = std::min(e.maxWidth, b.first);
    if (b.first == 0) e.maxHeight = std::min(e.maxHeight, b.second);
  }
}

BLF::Engine::Run BLF::Engine::emptyRun() {
  Run run;
  run.minGapX = run.minGapY = std::numeric_limits<int64_t>::max();
  run.maxWidth = run.maxHeight = std::numeric_limits<int64_t>::min();
  return run;
}

void BLF::Engine::widen(Run& run, const Entry& e) {
  run.minGapX = std::min(run.minGapX, e.minGapX);
  run.minGapY = std::min(run.minGapY, e.minGapY);
  run.maxWidth = std::max(run.maxWidth, e.maxWidth);
  run.maxHeight = std::max(run.maxHeight, e.maxHeight);
}

// The run a point at (x, y) belongs in: the last whose first entry is not
// after it. Only the first run of all is ever empty, before its first point.
size_t BLF::Engine::runOf(int64_t x, int64_t y) const {
  auto it = std::upper_bound(runs_.begin(), runs_.end(), std::make_pair(y, x),
                             [](const std::pair<int64_t, int64_t>& key, const Run& run) {
                               if (run.entries.empty()) return false;
                               const Entry& e = run.entries.front();
                               return key.first != e.y ? key.first < e.y : key.second < e.x;
                             });
  return it == runs_.begin() ? 0 : static_cast<size_t>(it - runs_.begin()) - 1;
}

// The entry of the held point at (x, y).
BLF::Engine::Entry* BLF::Engine::entryOf(int64_t x, int64_t y) {
  auto& entries = runs_[runOf(x, y)].entries;
  auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(y, x),
                             [](const Entry& e, const std::pair<int64_t, int64_t>& key) {
                               return e.y != key.first ? e.y < key.first : e.x < key.second;
                             });
  return &*it;
}

void BLF::Engine::drop(Entry& e) {
  e.alive = false;
  Point& p = points_[static_cast<size_t>(e.id)];
  p.alive = false;
  pointAt_.erase({p.x, p.y});
  std::vector<SizePair>().swap(p.gaps);
  std::vector<SizePair>().swap(p.blockers);
}

// Every size of at least 1 x 1 overlaps a rectangle at a point it covers.
void BLF::Engine::dropCovered(const Rect& r) {
  int64_t c0, c1, r0, r1;
  if (r.x < 0 || r.y < 0 || !gridCells(r.x, r.y, r.w, r.h, c0, c1, r0, r1)) return;
  r1 = std::min(r1, static_cast<int64_t>(pointGrid_.size()) / gridColumns_ - 1);
  for (int64_t row = r0; row <= r1; ++row)
    for (int64_t col = c0; col <= c1; ++col) {
      auto& cell = pointGrid_[static_cast<size_t>(row * gridColumns_ + col)];
      cell.erase(std::remove_if(cell.begin(), cell.end(),
                                [&](int32_t id) {
                                  const Point& p = points_[static_cast<size_t>(id)];
                                  if (!p.alive) return true;
                                  if (p.x < r.x || p.x >= r.x + r.w || p.y < r.y || p.y >= r.y + r.h)
                                    return false;
                                  drop(*entryOf(p.x, p.y));
                                  return true;
                                }),
                 cell.end());
    }
}

bool BLF::Engine::covered(int64_t x, int64_t y) const {
  bool hit = false;
  forRectsIn(x, y, 1, 1, [&](const Rect& r) {
    if (r.x <= x && x < r.x + r.w && r.y <= y && y < r.y + r.h) hit = true;
  });
  return hit;
}

// Distances from the point (x, y), not covered, to the nearest placed
// rectangle that crosses its row to the right of it, and to the nearest that
// crosses its column below it; unchanged where there is none in the grid.
void BLF::Engine::nearestBlockers(int64_t x, int64_t y, int64_t& right, int64_t& down) const {
  int64_t c0, c1, r0, r1;
  if (!gridCells(x, y, 1, 1, c0, c1, r0, r1)) return;
  const int64_t rows = static_cast<int64_t>(grid_.size()) / gridColumns_;
  if (r0 >= rows) return;
  for (int64_t col = c0; col < gridColumns_ && right == std::numeric_limits<int64_t>::max(); ++col)
    for (const Rect& r : grid_[static_cast<size_t>(r0 * gridColumns_ + col)])
      if (r.y <= y && y < r.y + r.h && r.x >= x) right = std::min(right, r.x - x);
  for (int64_t row = r0; row < rows && down == std::numeric_limits<int64_t>::max(); ++row)
    for (const Rect& r : grid_[static_cast<size_t>(row * gridColumns_ + c0)])
      if (r.x <= x && x < r.x + r.w && r.y >= y) down = std::min(down, r.y - y);
}

// The grid cells the region [x, x + width) x [y, y + height) meets, x and y
// not negative; false when the region lies beyond the grid's reach.
bool BLF::Engine::gridCells(int64_t x, int64_t y, int64_t width, int64_t height, int64_t& c0, int64_t& c1,
                    int64_t& r0, int64_t& r1) const {
  c0 = x / cellSize_;
  r0 = y / cellSize_;
  c1 = std::min(gridColumns_ - 1, (x + width - 1) / cellSize_);
  r1 = (y + height - 1) / cellSize_;
  return c0 <= c1 && r0 < kMaxGridRows;
}

void BLF::Engine::insertRect(int32_t id) {
  const Rect& r = rects_[static_cast<size_t>(id)];
  int64_t c0, c1, r0, r1;
  if (r.x < 0 || r.y < 0 || !gridCells(r.x, r.y, r.w, r.h, c0, c1, r0, r1) || r1 >= kMaxGridRows ||
      (r1 - r0 + 1) * (c1 - c0 + 1) > kMaxGridCellsPerRect) {
    loose_.push_back(id);
    return;
  }
  const size_t needed = static_cast<size_t>((r1 + 1) * gridColumns_);
  if (grid_.size() < needed) grid_.resize(needed);
  for (int64_t row = r0; row <= r1; ++row)
    for (int64_t col = c0; col <= c1; ++col)
      grid_[static_cast<size_t>(row * gridColumns_ + col)].push_back(r);
}

// Calls visit for every stored rectangle that may meet the region
// [x, x + width) x [y, y + height), x and y not negative; some more than once.
template <typename Visit>
void BLF::Engine::forRectsIn(int64_t x, int64_t y, int64_t width, int64_t height, Visit visit) const {
  int64_t c0, c1, r0, r1;
  if (gridCells(x, y, width, height, c0, c1, r0, r1)) {
    r1 = std::min(r1, static_cast<int64_t>(grid_.size()) / gridColumns_ - 1);
    for (int64_t row = r0; row <= r1; ++row)
      for (int64_t col = c0; col <= c1; ++col)
        for (const Rect& r : grid_[static_cast<size_t>(row * gridColumns_ + col)]) visit(r);
  }
  for (int32_t id : loose_) visit(rects_[static_cast<size_t>(id)]);
}

}  // namespace korvex
