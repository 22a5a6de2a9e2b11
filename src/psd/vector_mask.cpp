// Vector mask paths: reading the path records and rasterising them.
//
// "vmsk" / "vsms" block data (integers big-endian):
//   version (4) = 3
//   flags (4): bit 0 inverted, bit 1 not linked to the layer (moves apart
//     from it; drawing does not change), bit 2 disabled
//   path records of 26 bytes each to the end of the block (up to 3 bytes of
//   padding after them), each a selector (2) and 24 bytes:
//     0 closed / 3 open subpath length record: knot count (2), operation
//       (2, signed: 0 exclude, 1 union, 2 subtract, 3 intersect, -1 one more
//       subpath of the shape before), fill rule (2: 2 nonzero, otherwise
//       even-odd), 18 bytes not needed here. Its knot records follow it.
//     1, 2 closed / 4, 5 open subpath knot (linked or unlinked handles, the
//       same for drawing): the control point before the anchor, the anchor,
//       the control point after it, each as vertical then horizontal signed
//       8.24 fixed-point fractions of the canvas height and width
//     6 path fill rule record: no data (the rule is in each length record)
//     7 clipboard record: the path's bounds and resolution, not needed
//     8 initial fill rule record: (2) 1 when the fill starts with all pixels
//   Photoshop before CS6 left the length record's fields after the count at
//   zero: every subpath then excludes (for subpaths apart: a union) and
//   fills even-odd, which is how those versions drew them.
//
// Rasterising: each shape's subpaths are flattened to line segments, and
// each segment adds its signed area to the pixels it crosses, row by row
// (the accumulation of font rasterisers); a running sum along the row gives
// the winding number integrated over each pixel, which the fill rule turns
// into coverage. Shapes combine on coverage values in [0, 1].
#include "psd/vector_mask.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "psd/byte_reader.h"

namespace korvex::psd {
namespace {

constexpr size_t kRecordSize = 26;
// Writers pad the block to a multiple of 2 or 4 bytes.
constexpr size_t kMaxPadding = 3;

// A knot's point: vertical then horizontal 8.24 fractions of the canvas.
PathPoint readPoint(ByteReader& r, int32_t canvasWidth, int32_t canvasHeight) {
  constexpr double kOne = 1 << 24;
  int32_t y = 0, x = 0;
  r.i32(y);
  r.i32(x);
  return PathPoint{x / kOne * canvasWidth, y / kOne * canvasHeight};
}

std::string recordAt(size_t offset) { return " (path record at byte " + std::to_string(offset) + " of the block)"; }

}  // namespace

bool parseVectorMask(const uint8_t* data, size_t size, int32_t canvasWidth, int32_t canvasHeight,
                     VectorMask& mask, std::string& error) {
  mask = VectorMask{};
  ByteReader block(data, size);
  uint32_t version = 0, flags = 0;
  if (!block.u32(version) || !block.u32(flags)) {
    error = "vector mask block of " + std::to_string(size) + " bytes is shorter than its 8-byte header";
    return false;
  }
  if (version != 3) {
    error = "vector mask version " + std::to_string(version) + " is not 3";
    return false;
  }
  mask.inverted = (flags & 1) != 0;
  mask.disabled = (flags & 4) != 0;

  uint32_t knotsLeft = 0;  // knots the current subpath still expects
  for (ByteReader r; block.remaining() >= kRecordSize;) {
    const size_t at = block.offset();
    block.sub(kRecordSize, r);
    uint16_t selector = 0;
    r.u16(selector);
    const bool knot = selector == 1 || selector == 2 || selector == 4 || selector == 5;
    if (knotsLeft > 0 && !knot) {
      error = "subpath ends " + std::to_string(knotsLeft) + " knots short" + recordAt(at);
      return false;
    }
    if (knot) {
      if (knotsLeft == 0) {
        error = "knot record outside a subpath" + recordAt(at);
        return false;
      }
      PathKnot k;
      k.before = readPoint(r, canvasWidth, canvasHeight);
      k.anchor = readPoint(r, canvasWidth, canvasHeight);
      k.after = readPoint(r, canvasWidth, canvasHeight);
      mask.shapes.back().subpaths.back().knots.push_back(k);
      --knotsLeft;
    } else if (selector == 0 || selector == 3) {
      uint16_t count = 0, fillRule = 0;
      int16_t operation = 0;
      r.u16(count);
      r.i16(operation);
      r.u16(fillRule);
      if (count > block.remaining() / kRecordSize) {
        error = "subpath of " + std::to_string(count) + " knots runs past the block" + recordAt(at);
        return false;
      }
      if (operation < -1 || operation > 3) {
        error = "subpath operation " + std::to_string(operation) + " is not -1 to 3" + recordAt(at);
        return false;
      }
      if (operation >= 0 || mask.shapes.empty()) {
        PathShape shape;
        if (operation >= 0) shape.operation = static_cast<PathOperation>(operation);
        shape.nonZero = fillRule == 2;
        mask.shapes.push_back(std::move(shape));
      }
      Subpath subpath;
      subpath.closed = selector == 0;
      subpath.knots.reserve(count);
      mask.shapes.back().subpaths.push_back(std::move(subpath));
      knotsLeft = count;
    } else if (selector == 8) {
      uint16_t allPixels = 0;
      r.u16(allPixels);
      mask.startsFull = allPixels == 1;
    } else if (selector != 6 && selector != 7) {
      error = "unknown path record selector " + std::to_string(selector) + recordAt(at);
      return false;
    }
  }
  if (knotsLeft > 0) {
    error = "subpath ends " + std::to_string(knotsLeft) + " knots short" + recordAt(block.offset());
    return false;
  }
  if (block.remaining() > kMaxPadding) {
    error = "path record cut short" + recordAt(block.offset());
    return false;
  }
  return true;
}

namespace {

// A straight piece of a flattened path, top to bottom; `winding` is +1 when
// the path runs down along it and -1 when it runs up.
struct Edge {
  double x0, y0, x1, y1;
  double winding;
};

// The cubic Béziers of one subpath, in drawing order, each as its four
// control points, then the closing line of an open subpath.
template <typename Curve, typename Line>
void forEachSegment(const Subpath& s, Curve&& curve, Line&& line) {
  const size_t n = s.knots.size();
  if (n == 0) return;
  const size_t segments = s.closed ? n : n - 1;
  for (size_t i = 0; i < segments; ++i) {
    const PathKnot& a = s.knots[i];
    const PathKnot& b = s.knots[(i + 1) % n];
    curve(a.anchor, a.after, b.before, b.anchor);
  }
  if (!s.closed && n > 1) line(s.knots[n - 1].anchor, s.knots[0].anchor);
}

// The box holding every control point of a shape (a Bézier stays within its
// control points), or an empty box (left > right) for a shape of no knots.
struct Extent {
  double left = std::numeric_limits<double>::infinity(), top = left;
  double right = -left, bottom = -left;
  void add(const PathPoint& p) {
    left = std::min(left, p.x);
    right = std::max(right, p.x);
    top = std::min(top, p.y);
    bottom = std::max(bottom, p.y);
  }
  bool empty() const { return left > right; }
};

Extent extentOf(const PathShape& shape) {
  Extent e;
  for (const Subpath& s : shape.subpaths)
    for (const PathKnot& k : s.knots) {
      e.add(k.before);
      e.add(k.anchor);
      e.add(k.after);
    }
  return e;
}

// Flattening: the largest distance, in pixels, between a curve and its
// segments. A 1/500 pixel changes no coverage by more than half a level.
constexpr double kTolerance = 0.002;
// The segments of one curve at the most, and of a whole mask: an absurd
// curve (a damaged file's, thousands of canvases across) or a path of
// millions of knots is drawn coarser instead of without end. Paths drawn by
// hand stay far below either.
constexpr size_t kMaxCurveSegments = 1024;
constexpr size_t kMaxMaskSegments = size_t{1} << 20;

class Flattener {
 public:
  // Keeps the edges that can reach `area`: anything above or below it adds
  // nothing there, and anything wholly left or right of it adds only its
  // net vertical run.
  Flattener(const Box& area, size_t maxSegments, std::vector<Edge>& edges)
      : area_(area), maxSegments_(static_cast<double>(maxSegments)), edges_(edges) {}

  void line(const PathPoint& a, const PathPoint& b) {
    if (a.y == b.y) return;
    if (std::max(a.y, b.y) <= area_.top || std::min(a.y, b.y) >= area_.bottom) return;
    if (a.y < b.y)
      edges_.push_back(Edge{a.x, a.y, b.x, b.y, 1});
    else
      edges_.push_back(Edge{b.x, b.y, a.x, a.y, -1});
  }

  void curve(const PathPoint& p0, const PathPoint& p1, const PathPoint& p2, const PathPoint& p3) {
    const double top = std::min({p0.y, p1.y, p2.y, p3.y}), bottom = std::max({p0.y, p1.y, p2.y, p3.y});
    const double left = std::min({p0.x, p1.x, p2.x, p3.x}), right = std::max({p0.x, p1.x, p2.x, p3.x});
    if (bottom <= area_.top || top >= area_.bottom) return;
    if (right <= area_.left || left >= area_.right || straight(p0, p1, p2, p3)) {
      line(p0, p3);
      return;
    }
    // Wang's formula: n segments keep a cubic within 3/4 * d / n^2 of its
    // polyline, d the largest second difference of its control points.
    const double d = std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                              std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
    const double wanted = std::ceil(std::sqrt(0.75 * d / kTolerance));
    const int n = static_cast<int>(std::clamp(wanted, 1.0, maxSegments_));
    PathPoint previous = p0;
    for (int i = 1; i <= n; ++i) {
      const double t = static_cast<double>(i) / n, u = 1 - t;
      const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, e = t * t * t;
      const PathPoint next = i == n ? p3
                                    : PathPoint{a * p0.x + b * p1.x + c * p2.x + e * p3.x,
                                                a * p0.y + b * p1.y + c * p2.y + e * p3.y};
      line(previous, next);
      previous = next;
    }
  }

 private:
  // True when the curve stays within the tolerance of its chord: both
  // control points lie on the chord (a corner's handles rest on its anchor).
  static bool straight(const PathPoint& p0, const PathPoint& p1, const PathPoint& p2, const PathPoint& p3) {
    const double dx = p3.x - p0.x, dy = p3.y - p0.y, length2 = dx * dx + dy * dy;
    const auto onChord = [&](const PathPoint& p) {
      const double ux = p.x - p0.x, uy = p.y - p0.y;
      if (length2 == 0) return ux == 0 && uy == 0;
      const double along = (ux * dx + uy * dy) / length2, across = ux * dy - uy * dx;
      return along >= 0 && along <= 1 && across * across <= kTolerance * kTolerance * length2;
    };
    return onChord(p1) && onChord(p2);
  }

  Box area_;
  double maxSegments_;
  std::vector<Edge>& edges_;
};

// ∫ clamp(u, 0, 1) du from 0: the area helper of one pixel's coverage.
double rampIntegral(double u) {
  if (u <= 0) return 0;
  if (u >= 1) return u - 0.5;
  return 0.5 * u * u;
}

// One shape rasterised row by row over an area, in cells shared by all
// shapes (area width + 2: a run at the right edge reaches two past it),
// which it leaves at 0 after each row.
class ShapeRows {
 public:
  ShapeRows(const PathShape& shape, const Box& area, size_t maxCurveSegments, std::vector<double>& cells)
      : area_(area), nonZero_(shape.nonZero), cells_(cells) {
    Flattener flattener(area, maxCurveSegments, edges_);
    for (const Subpath& s : shape.subpaths)
      forEachSegment(
          s, [&](const PathPoint& a, const PathPoint& b, const PathPoint& c, const PathPoint& d) { flattener.curve(a, b, c, d); },
          [&](const PathPoint& a, const PathPoint& b) { flattener.line(a, b); });
    std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
  }

  // The coverage of row `y` (a canvas row of the area) in `coverage`, for
  // the columns [first, last) relative to the area's left; every column
  // outside them is 0. False when the row holds nothing of the shape.
  bool row(int32_t y, std::vector<double>& coverage, size_t& first, size_t& last) {
    const double top = y, bottom = y + 1.0;
    while (next_ < edges_.size() && edges_[next_].y0 < bottom) active_.push_back(&edges_[next_++]);
    active_.erase(std::remove_if(active_.begin(), active_.end(), [&](const Edge* e) { return e->y1 <= top; }),
                  active_.end());
    size_t touched = 0;
    first = cells_.size();
    for (const Edge* e : active_) addRun(*e, top, bottom, first, touched);
    if (first >= touched) return false;
    // Every subpath is closed, so past the last touched cell the sum is 0;
    // the two cells past the area's width only take runs along its right
    // edge.
    last = std::min(touched, cells_.size() - 2);
    double winding = 0;
    for (size_t i = first; i < last; ++i) {
      winding += cells_[i];
      coverage[i] = fill(winding);
    }
    std::fill(cells_.begin() + static_cast<std::ptrdiff_t>(first), cells_.begin() + static_cast<std::ptrdiff_t>(touched),
              0.0);
    return first < last;
  }

 private:
  double fill(double winding) const {
    const double w = std::fabs(winding);
    if (nonZero_ || w <= 1) return std::min(w, 1.0);
    const double t = std::fmod(w, 2.0);
    return t > 1 ? 2 - t : t;
  }

  // Adds the part of `e` within the row [top, bottom) to the cells, and
  // widens [first, touched) to the cells it changed.
  void addRun(const Edge& e, double top, double bottom, size_t& first, size_t& touched) {
    const double ya = std::max(e.y0, top), yb = std::min(e.y1, bottom);
    if (yb <= ya) return;
    const double slope = (e.x1 - e.x0) / (e.y1 - e.y0);
    const double xa = e.x0 + (ya - e.y0) * slope - area_.left;
    const double xb = e.x0 + (yb - e.y0) * slope - area_.left;
    // Beyond the area's sides the run is pressed onto them (left of the area
    // it covers the whole row), so it is cut where it crosses them.
    const double width = static_cast<double>(cells_.size() - 2);
    double cuts[4] = {0, 1, 1, 1};  // run fractions, rising; the last is the run's end
    int count = 1;
    for (double side : {0.0, width})
      if ((xa < side) != (xb < side)) cuts[count++] = (side - xa) / (xb - xa);
    if (count == 3 && cuts[1] > cuts[2]) std::swap(cuts[1], cuts[2]);
    for (int k = 0; k < count; ++k) {
      const double t0 = cuts[k], t1 = cuts[k + 1];
      if (t1 <= t0) continue;
      addPiece(std::clamp(xa + (xb - xa) * t0, 0.0, width), std::clamp(xa + (xb - xa) * t1, 0.0, width),
               (yb - ya) * (t1 - t0) * e.winding, first, touched);
    }
  }

  // A straight run within the area's row from x `xa` to `xb` (relative to
  // the area's left) over a signed `height`.
  void addPiece(double xa, double xb, double height, size_t& first, size_t& touched) {
    const double x0 = std::min(xa, xb), x1 = std::max(xa, xb);
    const size_t i0 = static_cast<size_t>(x0);
    first = std::min(first, i0);
    if (x1 - x0 < 1e-9) {  // vertical: the cell's share right of the edge
      const double right = (i0 + 1) - 0.5 * (x0 + x1);
      cells_[i0] += height * right;
      cells_[i0 + 1] += height * (1 - right);
      touched = std::max(touched, i0 + 2);
      return;
    }
    // Cell i's share right of the run is its ramp integral over the run,
    // reaching 1 one cell after the run's last.
    const size_t i1 = static_cast<size_t>(x1) + 1;
    double previous = 0;
    for (size_t i = i0; i <= i1; ++i) {
      const double share = (rampIntegral(i + 1 - x0) - rampIntegral(i + 1 - x1)) / (x1 - x0);
      const double covered = height * share;
      cells_[i] += covered - previous;
      previous = covered;
    }
    touched = std::max(touched, i1 + 1);
  }

  Box area_;
  bool nonZero_;
  std::vector<Edge> edges_;
  std::vector<const Edge*> active_;
  size_t next_ = 0;
  std::vector<double>& cells_;
};

// The starting fill: all pixels when the file says so, or when the first
// shape subtracts or intersects (cutting from nothing would leave nothing;
// Photoshop cuts such a first shape from the whole canvas).
bool startsFull(const VectorMask& mask) {
  if (mask.startsFull) return true;
  if (mask.shapes.empty()) return false;
  const PathOperation first = mask.shapes.front().operation;
  return first == PathOperation::kSubtract || first == PathOperation::kIntersect;
}

}  // namespace

Box bounds(const VectorMask& mask, int32_t canvasWidth, int32_t canvasHeight) {
  const Box canvas{0, 0, canvasWidth, canvasHeight};
  if (mask.disabled || mask.inverted) return canvas;
  // Follows the operations on boxes: `full` while coverage may reach the
  // canvas edges, else `box` (empty when nothing is covered).
  bool full = startsFull(mask);
  Extent box;
  for (const PathShape& shape : mask.shapes) {
    const Extent e = extentOf(shape);
    switch (shape.operation) {
      case PathOperation::kUnion:
      case PathOperation::kExclude:
        if (!full && !e.empty()) {
          box.add(PathPoint{e.left, e.top});
          box.add(PathPoint{e.right, e.bottom});
        }
        break;
      case PathOperation::kSubtract:
        break;
      case PathOperation::kIntersect:
        if (full) {
          full = false;
          box = e;
        } else if (!box.empty()) {
          box.left = std::max(box.left, e.left);
          box.top = std::max(box.top, e.top);
          box.right = std::min(box.right, e.right);
          box.bottom = std::min(box.bottom, e.bottom);
          if (box.left > box.right || box.top > box.bottom) box = Extent{};
        }
        break;
    }
  }
  if (full) return canvas;
  if (box.empty()) return Box{};
  const auto clampTo = [](double v, int32_t lo, int32_t hi) {
    return static_cast<int32_t>(std::clamp(v, static_cast<double>(lo), static_cast<double>(hi)));
  };
  Box b{clampTo(std::floor(box.left), 0, canvasWidth), clampTo(std::floor(box.top), 0, canvasHeight),
        clampTo(std::ceil(box.right), 0, canvasWidth), clampTo(std::ceil(box.bottom), 0, canvasHeight)};
  return b.empty() ? Box{} : b;
}

void rasterise(const VectorMask& mask, const Box& area, uint8_t* coverage) {
  if (area.empty()) return;
  const size_t width = static_cast<size_t>(area.right - area.left);
  const size_t height = static_cast<size_t>(area.bottom - area.top);
  if (mask.disabled) {
    std::memset(coverage, 255, width * height);
    return;
  }
  size_t curves = 1;
  for (const PathShape& shape : mask.shapes)
    for (const Subpath& s : shape.subpaths) curves += s.knots.size();
  const size_t maxCurveSegments = std::clamp(kMaxMaskSegments / curves, size_t{16}, kMaxCurveSegments);
  std::vector<double> cells(width + 2, 0.0);
  std::vector<ShapeRows> shapes;
  shapes.reserve(mask.shapes.size());
  for (const PathShape& shape : mask.shapes) shapes.emplace_back(shape, area, maxCurveSegments, cells);

  const double start = startsFull(mask) ? 1.0 : 0.0;
  std::vector<double> result(width), shapeRow(width);
  for (size_t y = 0; y < height; ++y) {
    std::fill(result.begin(), result.end(), start);
    for (size_t s = 0; s < shapes.size(); ++s) {
      size_t first = 0, last = 0;
      const bool drawn = shapes[s].row(area.top + static_cast<int32_t>(y), shapeRow, first, last);
      const PathOperation op = mask.shapes[s].operation;
      if (!drawn) {
        if (op == PathOperation::kIntersect) std::fill(result.begin(), result.end(), 0.0);
        continue;
      }
      if (op == PathOperation::kIntersect) {
        std::fill(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(first), 0.0);
        std::fill(result.begin() + static_cast<std::ptrdiff_t>(last), result.end(), 0.0);
      }
      for (size_t i = first; i < last; ++i) {
        const double a = result[i], b = shapeRow[i];
        switch (op) {
          case PathOperation::kUnion: result[i] = a + b - a * b; break;
          case PathOperation::kSubtract: result[i] = a * (1 - b); break;
          case PathOperation::kIntersect: result[i] = a * b; break;
          case PathOperation::kExclude: result[i] = a + b - 2 * a * b; break;
        }
      }
    }
    uint8_t* out = coverage + y * width;
    for (size_t i = 0; i < width; ++i) {
      const auto level = static_cast<uint8_t>(std::lround(std::clamp(result[i], 0.0, 1.0) * 255));
      out[i] = mask.inverted ? static_cast<uint8_t>(255 - level) : level;
    }
  }
}

}  // namespace korvex::psd
