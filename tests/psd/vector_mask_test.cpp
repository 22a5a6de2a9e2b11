// Vector masks: path records read from hand-built blocks, damaged blocks
// refused, and coverage checked against areas computed by hand.
#include "psd/vector_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "psd/reader.h"
#include "support/psd_writer.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace korvex::psd {
namespace {

// ---- building blocks -------------------------------------------------------

constexpr int32_t kCanvasW = 200, kCanvasH = 100;
constexpr double kPi = 3.14159265358979323846;

void put16(std::string& b, int v) {
  b += static_cast<char>((v >> 8) & 0xFF);
  b += static_cast<char>(v & 0xFF);
}

void put32(std::string& b, uint32_t v) {
  put16(b, static_cast<int>(v >> 16));
  put16(b, static_cast<int>(v & 0xFFFF));
}

// A point in pixels of the 200 x 100 canvas, as vertical then horizontal 8.24.
void putPoint(std::string& b, double x, double y) {
  put32(b, static_cast<uint32_t>(static_cast<int32_t>(std::lround(y / kCanvasH * (1 << 24)))));
  put32(b, static_cast<uint32_t>(static_cast<int32_t>(std::lround(x / kCanvasW * (1 << 24)))));
}

std::string header(uint32_t flags) {
  std::string b;
  put32(b, 3);
  put32(b, flags);
  return b;
}

void record(std::string& b, int selector, int first = 0) {
  put16(b, selector);
  put16(b, first);
  b.append(22, '\0');
}

void lengthRecord(std::string& b, int selector, int count, int operation, int fillRule) {
  put16(b, selector);
  put16(b, count);
  put16(b, operation);
  put16(b, fillRule);
  b.append(18, '\0');
}

// A knot whose handles sit on its anchor (a corner).
void corner(std::string& b, double x, double y, int selector = 2) {
  put16(b, selector);
  for (int i = 0; i < 3; ++i) putPoint(b, x, y);
}

void knot(std::string& b, PathPoint before, PathPoint anchor, PathPoint after) {
  put16(b, 1);
  putPoint(b, before.x, before.y);
  putPoint(b, anchor.x, anchor.y);
  putPoint(b, after.x, after.y);
}

VectorMask parse(const std::string& b) {
  VectorMask m;
  std::string error;
  EXPECT_TRUE(parseVectorMask(reinterpret_cast<const uint8_t*>(b.data()), b.size(), kCanvasW, kCanvasH, m, error))
      << error;
  return m;
}

// ---- shapes made directly ---------------------------------------------------

Subpath corners(std::vector<PathPoint> points, bool closed = true) {
  Subpath s;
  s.closed = closed;
  for (const PathPoint& p : points) s.knots.push_back(PathKnot{p, p, p});
  return s;
}

PathShape rect(double l, double t, double r, double b, PathOperation op = PathOperation::kUnion) {
  PathShape shape;
  shape.operation = op;
  shape.subpaths.push_back(corners({{l, t}, {r, t}, {r, b}, {l, b}}));
  return shape;
}

// A circle of four Béziers, the usual 0.5523 handle length.
Subpath circle(double cx, double cy, double r) {
  const double k = 0.5522847498 * r;
  Subpath s;
  s.knots = {PathKnot{{cx - k, cy - r}, {cx, cy - r}, {cx + k, cy - r}},
             PathKnot{{cx + r, cy - k}, {cx + r, cy}, {cx + r, cy + k}},
             PathKnot{{cx + k, cy + r}, {cx, cy + r}, {cx - k, cy + r}},
             PathKnot{{cx - r, cy + k}, {cx - r, cy}, {cx - r, cy - k}}};
  return s;
}

std::vector<uint8_t> draw(const VectorMask& m, const Box& area) {
  std::vector<uint8_t> out(static_cast<size_t>(area.right - area.left) * static_cast<size_t>(area.bottom - area.top), 77);
  rasterise(m, area, out.data());
  return out;
}

// The share of pixel (x, y) inside the rectangle, as a level.
int rectLevel(int x, int y, double l, double t, double r, double b) {
  const double w = std::max(0.0, std::min(r, x + 1.0) - std::max(l, static_cast<double>(x)));
  const double h = std::max(0.0, std::min(b, y + 1.0) - std::max(t, static_cast<double>(y)));
  return static_cast<int>(std::lround(w * h * 255));
}

// ---- reading ----------------------------------------------------------------

TEST(VectorMaskParse, ReadsFlagsShapesAndKnotsInCanvasPixels) {
  std::string b = header(1 | 2);
  record(b, 6);
  record(b, 8, 1);
  lengthRecord(b, 0, 2, 2, 2);  // a subtracted shape, nonzero
  knot(b, {10, 20}, {30, 40}, {50, 60});
  corner(b, 100, 50);
  lengthRecord(b, 3, 1, -1, 1);  // one more subpath of the same shape, open
  corner(b, 5, 5, 5);
  record(b, 7);  // the clipboard record may come anywhere
  lengthRecord(b, 0, 1, 3, 1);  // an intersected shape, even-odd
  corner(b, 1, 2);
  b.append(2, '\0');  // padding

  const VectorMask m = parse(b);
  EXPECT_TRUE(m.inverted);
  EXPECT_FALSE(m.disabled);
  EXPECT_TRUE(m.startsFull);
  ASSERT_EQ(m.shapes.size(), 2u);
  const PathShape& first = m.shapes[0];
  EXPECT_EQ(first.operation, PathOperation::kSubtract);
  EXPECT_TRUE(first.nonZero);
  ASSERT_EQ(first.subpaths.size(), 2u);
  EXPECT_TRUE(first.subpaths[0].closed);
  ASSERT_EQ(first.subpaths[0].knots.size(), 2u);
  const PathKnot& k = first.subpaths[0].knots[0];
  EXPECT_NEAR(k.before.x, 10, 1e-5);
  EXPECT_NEAR(k.before.y, 20, 1e-5);
  EXPECT_NEAR(k.anchor.x, 30, 1e-5);
  EXPECT_NEAR(k.anchor.y, 40, 1e-5);
  EXPECT_NEAR(k.after.x, 50, 1e-5);
  EXPECT_NEAR(k.after.y, 60, 1e-5);
  EXPECT_FALSE(first.subpaths[1].closed);
  EXPECT_EQ(first.subpaths[1].knots.size(), 1u);
  EXPECT_EQ(m.shapes[1].operation, PathOperation::kIntersect);
  EXPECT_FALSE(m.shapes[1].nonZero);
}

TEST(VectorMaskParse, ReadsFlagsAndNegativeCoordinates) {
  std::string b = header(4);
  lengthRecord(b, 0, 1, -1, 0);  // a first subpath without an operation: a union
  corner(b, -50, -25);
  const VectorMask m = parse(b);
  EXPECT_TRUE(m.disabled);
  EXPECT_FALSE(m.inverted);
  EXPECT_FALSE(m.startsFull);
  ASSERT_EQ(m.shapes.size(), 1u);
  EXPECT_EQ(m.shapes[0].operation, PathOperation::kUnion);
  EXPECT_NEAR(m.shapes[0].subpaths[0].knots[0].anchor.x, -50, 1e-5);
  EXPECT_NEAR(m.shapes[0].subpaths[0].knots[0].anchor.y, -25, 1e-5);
}

std::string refusedBecause(const std::string& b) {
  VectorMask m;
  std::string error;
  EXPECT_FALSE(parseVectorMask(reinterpret_cast<const uint8_t*>(b.data()), b.size(), kCanvasW, kCanvasH, m, error));
  return error;
}

TEST(VectorMaskParse, DamagedBlocksAreRefusedWithAReason) {
  std::string wrongVersion;
  put32(wrongVersion, 2);
  put32(wrongVersion, 0);
  EXPECT_NE(refusedBecause(wrongVersion).find("version 2"), std::string::npos);

  std::string stray = header(0);
  corner(stray, 1, 1);
  EXPECT_NE(refusedBecause(stray).find("outside a subpath"), std::string::npos);

  std::string tooMany = header(0);
  lengthRecord(tooMany, 0, 3, 1, 1);
  corner(tooMany, 1, 1);
  corner(tooMany, 2, 2);
  EXPECT_NE(refusedBecause(tooMany).find("runs past the block"), std::string::npos);

  std::string interrupted = header(0);
  lengthRecord(interrupted, 0, 2, 1, 1);
  corner(interrupted, 1, 1);
  record(interrupted, 6);
  EXPECT_NE(refusedBecause(interrupted).find("1 knots short"), std::string::npos);

  std::string badOperation = header(0);
  lengthRecord(badOperation, 0, 0, 4, 1);
  EXPECT_NE(refusedBecause(badOperation).find("operation 4"), std::string::npos);

  std::string badSelector = header(0);
  record(badSelector, 9);
  EXPECT_NE(refusedBecause(badSelector).find("selector 9"), std::string::npos);
}

TEST(VectorMaskParse, EveryTruncationIsRefusedOrEndsAtACompleteSubpath) {
  std::string b = header(0);
  record(b, 6);
  lengthRecord(b, 0, 2, 1, 1);
  corner(b, 1, 1);
  corner(b, 2, 2);
  lengthRecord(b, 3, 1, 2, 1);
  corner(b, 3, 3, 4);
  // Cut after 8 + 26 * k bytes (or up to 3 past): whole when k is 0, 1 or 4.
  for (size_t size = 0; size < b.size(); ++size) {
    VectorMask m;
    std::string error;
    const bool read = parseVectorMask(reinterpret_cast<const uint8_t*>(b.data()), size, kCanvasW, kCanvasH, m, error);
    const bool whole = size >= 8 && (size - 8) % 26 <= 3 &&
                       ((size - 8) / 26 == 0 || (size - 8) / 26 == 1 || (size - 8) / 26 == 4);
    EXPECT_EQ(read, whole) << "cut at " << size << ": " << error;
    if (!read) {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(VectorMaskParse, TheLayerRecordReaderKeepsTheMaskOrTheReasonADamagedOneIsLeftOut) {
  std::string block = header(1);
  record(block, 6);
  lengthRecord(block, 0, 1, 1, 1);
  corner(block, 50, 25);
  for (int depth : {8, 16}) {
    test::PsdRecord shape;
    shape.kind = test::PsdRecordKind::kSolidFill;
    shape.fillColor = 0x336699;
    shape.blocks = {{"vsms", block}};
    test::PsdOptions o;
    o.width = kCanvasW;
    o.height = kCanvasH;
    o.depth = depth;
    const std::vector<test::PsdRecord> records = {test::solidLayer("bottom", 0, 0, 2, 2, 0xFF000000), shape};
    std::string bytes = test::makePsd(o, records);
    Document d;
    std::string error;
    ASSERT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
    ASSERT_EQ(d.layerRecords.size(), 2u);
    EXPECT_FALSE(d.layerRecords[0].vectorMask.has_value());
    ASSERT_TRUE(d.layerRecords[1].vectorMask.has_value());
    const VectorMask& m = *d.layerRecords[1].vectorMask;
    EXPECT_TRUE(m.inverted);
    ASSERT_EQ(m.shapes.size(), 1u);
    EXPECT_NEAR(m.shapes[0].subpaths[0].knots[0].anchor.x, 50, 1e-5);
    EXPECT_NEAR(m.shapes[0].subpaths[0].knots[0].anchor.y, 25, 1e-5);

    // The same block one knot short: the layer keeps no path and the
    // reason it cannot be drawn.
    test::PsdRecord damaged = shape;
    damaged.blocks = {{"vmsk", block.substr(0, block.size() - 26)}};
    bytes = test::makePsd(o, {damaged});
    ASSERT_TRUE(parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), d, error)) << error;
    EXPECT_FALSE(d.layerRecords.at(0).vectorMask.has_value());
    EXPECT_EQ(d.layerRecords.at(0).warning.rfind("vector mask: subpath of 1 knots runs past the block", 0), 0u)
        << d.layerRecords.at(0).warning;
  }
}

// ---- coverage ---------------------------------------------------------------

TEST(VectorMaskCoverage, FractionalRectangleEdgesGiveTheirExactAreaShare) {
  for (bool clockwise : {true, false}) {
    VectorMask m;
    PathShape shape = rect(2.25, 1.5, 5.5, 3.75);
    if (!clockwise) std::reverse(shape.subpaths[0].knots.begin(), shape.subpaths[0].knots.end());
    m.shapes.push_back(shape);
    const Box area{0, 0, 8, 6};
    const std::vector<uint8_t> c = draw(m, area);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x)
        EXPECT_EQ(c[static_cast<size_t>(y * 8 + x)], rectLevel(x, y, 2.25, 1.5, 5.5, 3.75)) << x << "," << y;
    // Spot checks by hand: a corner pixel holds 3/4 x 1/2 of its area.
    EXPECT_EQ(c[1 * 8 + 2], 96);   // 0.375 * 255 = 95.6
    EXPECT_EQ(c[2 * 8 + 3], 255);
    EXPECT_EQ(c[3 * 8 + 5], 96);   // 0.5 * 0.75
  }
}

TEST(VectorMaskCoverage, CircleAreaSumsToPiRSquared) {
  VectorMask m;
  PathShape shape;
  shape.subpaths.push_back(circle(20.3, 18.7, 12.5));
  m.shapes.push_back(shape);
  const Box area{0, 0, 40, 40};
  const std::vector<uint8_t> c = draw(m, area);
  double sum = 0;
  for (uint8_t v : c) sum += v / 255.0;
  // The four-Bézier circle is 0.03% wider than the true one at most.
  EXPECT_NEAR(sum, kPi * 12.5 * 12.5, 0.002 * kPi * 12.5 * 12.5);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      // Distance from the pixel's nearest and farthest corner to the centre.
      const double dx0 = std::max({x - 20.3, 20.3 - (x + 1), 0.0}), dy0 = std::max({y - 18.7, 18.7 - (y + 1), 0.0});
      const double dx1 = std::max(std::fabs(x - 20.3), std::fabs(x + 1 - 20.3));
      const double dy1 = std::max(std::fabs(y - 18.7), std::fabs(y + 1 - 18.7));
      const uint8_t v = c[static_cast<size_t>(y * 40 + x)];
      if (std::hypot(dx0, dy0) > 12.51) {
        EXPECT_EQ(v, 0) << x << "," << y;
      }
      if (std::hypot(dx1, dy1) < 12.49) {
        EXPECT_EQ(v, 255) << x << "," << y;
      }
    }
}

// Two squares [0, 4) and [2, 6), the second combined with `op`, on an 8 x 8 area.
std::vector<uint8_t> combined(PathOperation op) {
  VectorMask m;
  m.shapes.push_back(rect(0, 0, 4, 4));
  m.shapes.push_back(rect(2, 2, 6, 6, op));
  return draw(m, Box{0, 0, 8, 8});
}

TEST(VectorMaskCoverage, ShapesCombineInOrder) {
  const auto inA = [](int x, int y) { return x < 4 && y < 4; };
  const auto inB = [](int x, int y) { return x >= 2 && x < 6 && y >= 2 && y < 6; };
  const struct {
    PathOperation op;
    bool (*shown)(bool, bool);
  } cases[] = {
      {PathOperation::kUnion, [](bool a, bool b) { return a || b; }},
      {PathOperation::kSubtract, [](bool a, bool b) { return a && !b; }},
      {PathOperation::kIntersect, [](bool a, bool b) { return a && b; }},
      {PathOperation::kExclude, [](bool a, bool b) { return a != b; }},
  };
  for (const auto& k : cases) {
    const std::vector<uint8_t> c = combined(k.op);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        EXPECT_EQ(c[static_cast<size_t>(y * 8 + x)], k.shown(inA(x, y), inB(x, y)) ? 255 : 0)
            << static_cast<int>(k.op) << " at " << x << "," << y;
  }
}

TEST(VectorMaskCoverage, SubtractingAFractionalEdgeLeavesItsShare) {
  VectorMask m;
  m.shapes.push_back(rect(0, 0, 4, 1));
  m.shapes.push_back(rect(1.25, -1, 9, 2, PathOperation::kSubtract));
  const std::vector<uint8_t> c = draw(m, Box{0, 0, 4, 1});
  EXPECT_EQ(c, (std::vector<uint8_t>{255, 64, 0, 0}));  // 0.25 * 255 = 63.75
}

TEST(VectorMaskCoverage, FillRuleDecidesAnInnerSubpathOfTheSameDirection) {
  for (bool nonZero : {false, true}) {
    for (bool reversedInner : {false, true}) {
      PathShape shape = rect(0, 0, 6, 6);
      shape.nonZero = nonZero;
      Subpath inner = rect(2, 2, 4, 4).subpaths[0];
      if (reversedInner) std::reverse(inner.knots.begin(), inner.knots.end());
      shape.subpaths.push_back(inner);
      VectorMask m;
      m.shapes.push_back(shape);
      const std::vector<uint8_t> c = draw(m, Box{0, 0, 6, 6});
      const bool hole = !nonZero || reversedInner;
      EXPECT_EQ(c[3 * 6 + 3], hole ? 0 : 255) << nonZero << reversedInner;
      EXPECT_EQ(c[1 * 6 + 1], 255);
    }
  }
}

TEST(VectorMaskCoverage, OpenSubpathsFillAsIfClosedByALine) {
  VectorMask open, closed;
  PathShape a, b;
  a.subpaths.push_back(corners({{1, 1}, {9.5, 2}, {4, 8.25}}, false));
  b.subpaths.push_back(corners({{1, 1}, {9.5, 2}, {4, 8.25}}, true));
  open.shapes.push_back(a);
  closed.shapes.push_back(b);
  EXPECT_EQ(draw(open, Box{0, 0, 10, 10}), draw(closed, Box{0, 0, 10, 10}));
}

TEST(VectorMaskCoverage, InvertedDisabledEmptyAndFullMasks) {
  VectorMask m;
  m.shapes.push_back(rect(0.5, 0, 2, 1));
  EXPECT_EQ(draw(m, Box{0, 0, 3, 1}), (std::vector<uint8_t>{128, 255, 0}));
  m.inverted = true;
  EXPECT_EQ(draw(m, Box{0, 0, 3, 1}), (std::vector<uint8_t>{127, 0, 255}));
  m.disabled = true;
  EXPECT_EQ(draw(m, Box{0, 0, 3, 1}), (std::vector<uint8_t>{255, 255, 255}));

  VectorMask empty;
  EXPECT_EQ(draw(empty, Box{0, 0, 3, 1}), (std::vector<uint8_t>{0, 0, 0}));
  VectorMask all;
  all.startsFull = true;
  EXPECT_EQ(draw(all, Box{-5, 0, -2, 1}), (std::vector<uint8_t>{255, 255, 255}));
  all.shapes.push_back(rect(-4, 0, -3, 1, PathOperation::kSubtract));
  EXPECT_EQ(draw(all, Box{-5, 0, -2, 1}), (std::vector<uint8_t>{255, 0, 255}));

  // A first shape that subtracts cuts it from the whole canvas.
  VectorMask cut;
  cut.shapes.push_back(rect(1, 0, 2, 1, PathOperation::kSubtract));
  EXPECT_EQ(draw(cut, Box{0, 0, 3, 1}), (std::vector<uint8_t>{255, 0, 255}));
}

TEST(VectorMaskCoverage, AnyWindowMatchesTheSameWindowOfAWholeDrawing) {
  VectorMask m;
  PathShape shape;
  shape.subpaths.push_back(circle(15.2, 14.9, 11.3));
  shape.subpaths.push_back(corners({{-7, 3.3}, {31.7, 9}, {12, 40.2}}));
  m.shapes.push_back(shape);
  m.shapes.push_back(rect(10.5, 10.5, 50, 20.25, PathOperation::kExclude));
  const Box whole{-10, -5, 45, 45};
  const std::vector<uint8_t> all = draw(m, whole);
  for (const Box& w : {Box{0, 0, 10, 10}, Box{12, 7, 13, 30}, Box{20, 15, 44, 16}, Box{-10, -5, 1, 1}}) {
    const std::vector<uint8_t> part = draw(m, w);
    for (int y = w.top; y < w.bottom; ++y)
      for (int x = w.left; x < w.right; ++x)
        ASSERT_EQ(part[static_cast<size_t>((y - w.top) * (w.right - w.left) + (x - w.left))],
                  all[static_cast<size_t>((y - whole.top) * (whole.right - whole.left) + (x - whole.left))])
            << x << "," << y;
  }
}

TEST(VectorMaskCoverage, CurvesFarBeyondTheCanvasAreDrawnWithBoundedWork) {
  // Handles a thousand canvases away: the curves are cut into at most their
  // share of segments, and the window agrees with a larger drawing.
  VectorMask m;
  PathShape shape;
  Subpath s;
  s.knots = {PathKnot{{-2e4, 3e4}, {-50, -50}, {2e4, -3e4}}, PathKnot{{3e4, 2e4}, {60, -50}, {-3e4, -2e4}},
             PathKnot{{1e4, 1e4}, {60, 60}, {1e4, 1e4}}, PathKnot{{-1e4, 1e4}, {-50, 60}, {-1e4, -1e4}}};
  shape.subpaths.push_back(s);
  m.shapes.push_back(shape);
  const std::vector<uint8_t> c = draw(m, Box{0, 0, 16, 16});
  const std::vector<uint8_t> wide = draw(m, Box{-8, 0, 24, 16});
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(c[static_cast<size_t>(y * 16 + x)], wide[static_cast<size_t>(y * 32 + x + 8)]);
  const Box b = bounds(m, 16, 16);
  EXPECT_TRUE(b.left == 0 && b.top == 0 && b.right == 16 && b.bottom == 16);
}

TEST(VectorMaskBounds, FollowTheOperationsAndStayOnTheCanvas) {
  const auto same = [](const Box& a, const Box& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  };
  VectorMask m;
  EXPECT_TRUE(bounds(m, 50, 40).empty());
  m.shapes.push_back(rect(2.5, 3.25, 10.75, 12));
  EXPECT_TRUE(same(bounds(m, 50, 40), Box{2, 3, 11, 12}));
  m.shapes.push_back(rect(0, 0, 6, 6, PathOperation::kSubtract));
  EXPECT_TRUE(same(bounds(m, 50, 40), Box{2, 3, 11, 12}));
  m.shapes.push_back(rect(5, 5, 80, 80, PathOperation::kIntersect));
  EXPECT_TRUE(same(bounds(m, 50, 40), Box{5, 5, 11, 12}));
  m.shapes.push_back(rect(-9, 30, 3, 60, PathOperation::kUnion));
  EXPECT_TRUE(same(bounds(m, 50, 40), Box{0, 5, 11, 40}));

  // The box holds every covered pixel.
  const std::vector<uint8_t> c = draw(m, Box{0, 0, 50, 40});
  const Box b = bounds(m, 50, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x)
      if (c[static_cast<size_t>(y * 50 + x)] != 0) {
        EXPECT_TRUE(x >= b.left && x < b.right && y >= b.top && y < b.bottom) << x << "," << y;
      }

  m.inverted = true;
  EXPECT_TRUE(same(bounds(m, 50, 40), Box{0, 0, 50, 40}));
  VectorMask off;
  off.shapes.push_back(rect(60, 0, 70, 10));
  EXPECT_TRUE(bounds(off, 50, 40).empty());
  VectorMask cut;
  cut.shapes.push_back(rect(1, 1, 2, 2, PathOperation::kSubtract));
  EXPECT_TRUE(same(bounds(cut, 50, 40), Box{0, 0, 50, 40}));
}

// Photoshop's own drawing: psd.rb's example16.psd shows a shape layer (a
// solid fill cut by six shapes, added and subtracted, curved and straight)
// over a flat matte. Its fill times our coverage over the matte matches the
// merged image within 3 levels on all but a handful of pixels where edges
// of different shapes cross.
TEST(VectorMaskPhotoshop, ShapeLayerEdgesMatchTheMergedImage) {
  KORVEX_SKIP_WITHOUT_SAMPLES();
  const std::string path = test::samplesFolder() + "/photoshop-truth/psd.rb/examples/images/example16.psd";
  const std::string bytes = test::readFile(path);
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  Document d;
  std::string error;
  std::vector<uint32_t> merged;
  ASSERT_TRUE(parseDocument(data, bytes.size(), d, error)) << error;
  ASSERT_TRUE(readMergedImage(data, bytes.size(), merged, error)) << error;
  // The visible group: the matte (record 1) under the shape layer (record 2).
  const LayerRecord& matte = d.layerRecords[1];
  const LayerRecord& shape = d.layerRecords[2];
  ASSERT_TRUE(shape.vectorMask.has_value());
  ASSERT_EQ(matte.width, d.width);
  const Box area = bounds(*shape.vectorMask, d.width, d.height);
  EXPECT_TRUE(area.left == 380 && area.top == 212 && area.right == 520 && area.bottom == 389);
  const int w = area.right - area.left;
  std::vector<uint8_t> coverage(static_cast<size_t>(w) * static_cast<size_t>(area.bottom - area.top));
  rasterise(*shape.vectorMask, area, coverage.data());
  int pixels = 0, edges = 0, off = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x) {
      const int c = coverage[static_cast<size_t>((y - area.top) * w + (x - area.left))];
      const uint32_t below = matte.imageData[static_cast<size_t>(y) * static_cast<size_t>(d.width) + static_cast<size_t>(x)];
      const uint32_t truth = merged[static_cast<size_t>(y) * static_cast<size_t>(d.width) + static_cast<size_t>(x)];
      int worst = 0;
      for (int shift = 0; shift < 24; shift += 8) {
        const int b = static_cast<int>(below >> shift & 255), f = static_cast<int>(shape.fillColor >> shift & 255);
        const int drawn = static_cast<int>(std::lround(b + (f - b) * c / 255.0));
        worst = std::max(worst, std::abs(drawn - static_cast<int>(truth >> shift & 255)));
      }
      ++pixels;
      edges += c > 0 && c < 255;
      off += worst > 3;
    }
  EXPECT_GT(edges, 800);
  EXPECT_LE(off, 5) << "of " << pixels << " pixels, " << edges << " on edges";
}

}  // namespace
}  // namespace korvex::psd
