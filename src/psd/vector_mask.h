// Vector masks: the path a layer is cut by ("vmsk" / "vsms" tagged blocks),
// read into canvas pixel coordinates and rasterised with anti-aliased
// coverage.
//
// The path is a list of shapes. Each shape is one or more subpaths of cubic
// Bézier segments, filled together by its fill rule, and combined in order
// with everything before it by its operation. Before the first shape the
// mask is empty, or full when the file says the fill starts with all pixels.
// Coverage is the exact share of each pixel's area inside the result (for
// edges that cross within a pixel: the usual per-shape area approximation of
// font rasterisers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "psd/box.h"

namespace korvex::psd {

// A point on the canvas in pixels: x right, y down, pixel (0, 0) covering
// [0, 1) x [0, 1).
struct PathPoint {
  double x = 0, y = 0;
};

// A path knot: the control point before the anchor, the anchor, and the
// control point after it.
struct PathKnot {
  PathPoint before, anchor, after;
};

// A chain of knots. Each knot joins the next by a cubic Bézier (from
// anchor through after, the next knot's before, to its anchor); a closed
// subpath also joins its last knot to its first. An open subpath is filled
// as if a straight line closed it.
struct Subpath {
  bool closed = true;
  std::vector<PathKnot> knots;
};

// How a shape combines with what the shapes before it made.
enum class PathOperation : uint8_t {
  kExclude,    // either, not both
  kUnion,      // either
  kSubtract,   // what was there, less this shape
  kIntersect,  // both
};

struct PathShape {
  PathOperation operation = PathOperation::kUnion;
  bool nonZero = false;  // fill rule: nonzero winding, otherwise even-odd
  std::vector<Subpath> subpaths;
};

struct VectorMask {
  bool inverted = false;      // shows what the path leaves out
  bool disabled = false;      // the mask is off: it hides nothing
  bool startsFull = false;    // the fill starts with all pixels
  std::vector<PathShape> shapes;
};

// Reads a "vmsk" or "vsms" block's data (`size` bytes) for a canvas of
// `canvasWidth` x `canvasHeight`. False with `error` saying what is wrong
// and where when the block is damaged.
bool parseVectorMask(const uint8_t* data, size_t size, int32_t canvasWidth, int32_t canvasHeight,
                     VectorMask& mask, std::string& error);

// The canvas box outside which the mask's coverage is 0 (it may be loose),
// within the canvas; the whole canvas when the mask covers pixels all the
// way to the canvas edges, e.g. inverted or disabled.
Box bounds(const VectorMask& mask, int32_t canvasWidth, int32_t canvasHeight);

// Writes the coverage of each pixel of `area` (0 hidden .. 255 shown), rows
// top first, into `coverage` (area width * height bytes). The area may lie
// anywhere, on the canvas or off it. Time grows with the area and the path
// length only.
void rasterise(const VectorMask& mask, const Box& area, uint8_t* coverage);

}  // namespace korvex::psd
