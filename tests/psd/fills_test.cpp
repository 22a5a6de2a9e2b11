// Gradient ramps and the gradient and pattern fills drawn from them. The
// expected values are worked out by hand from Photoshop's mixing rules
// (gradient.h) and the fill geometry (fills.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "psd/fills.h"
#include "psd/gradient.h"

namespace korvex::psd {
namespace {

uint32_t red(uint32_t c) { return c >> 16 & 255; }
uint32_t alpha(uint32_t c) { return c >> 24; }

GradientColorStop colorStop(int32_t location, double grey, int32_t midpoint = 50) {
  GradientColorStop s;
  s.location = location;
  s.midpoint = midpoint;
  s.red = s.green = s.blue = grey;
  return s;
}

// Black to white over the whole length, straight mixing, no easing.
Gradient blackToWhite() {
  Gradient g;
  g.colors = {colorStop(0, 0), colorStop(4096, 255)};
  g.smoothness = 0;
  return g;
}

// The ramp's value at t = i / (n - 1) for n = 4097 (one entry per location unit).
uint32_t rampAt(const Gradient& g, double t) {
  std::vector<uint32_t> ramp(4097);
  buildRamp(g, ramp.data(), 4097);
  return ramp[static_cast<size_t>(t * 4096 + 0.5)];
}

TEST(GradientRamp, TwoStopsMixStraightAndOpaque) {
  std::vector<uint32_t> ramp(5);
  buildRamp(blackToWhite(), ramp.data(), 5);
  EXPECT_EQ(ramp[0], 0xFF000000u);
  EXPECT_EQ(ramp[1], 0xFF404040u);  // 63.75
  EXPECT_EQ(ramp[2], 0xFF808080u);  // 127.5
  EXPECT_EQ(ramp[3], 0xFFBFBFBFu);  // 191.25
  EXPECT_EQ(ramp[4], 0xFFFFFFFFu);
}

TEST(GradientRamp, MidpointBendsEachHalfLinearly) {
  Gradient g = blackToWhite();
  g.colors[1].midpoint = 25;  // the later stop carries the segment's midpoint
  EXPECT_EQ(red(rampAt(g, 0.125)), 64u);  // a quarter of the way to the half mix
  EXPECT_EQ(red(rampAt(g, 0.25)), 128u);
  EXPECT_EQ(red(rampAt(g, 0.625)), 191u);  // half of the upper half: 0.75
  g.colors[0].midpoint = 90;               // the first stop's midpoint belongs to no segment
  EXPECT_EQ(red(rampAt(g, 0.25)), 128u);
}

TEST(GradientRamp, SmoothnessEasesHalfWayToSmoothstep) {
  Gradient g = blackToWhite();
  g.smoothness = 1;
  // w = 0.25 + (0.15625 - 0.25) / 2 = 0.203125
  EXPECT_EQ(red(rampAt(g, 0.25)), 52u);
  EXPECT_EQ(red(rampAt(g, 0.5)), 128u);
  g.smoothness = 0.4;  // w = 0.25 - 0.2 * 0.09375 = 0.23125
  EXPECT_EQ(red(rampAt(g, 0.25)), 59u);
}

TEST(GradientRamp, MethodsMixInTheirOwnSpace) {
  Gradient g = blackToWhite();
  g.method = GradientMethod::kLinear;  // linear light 0.5, sRGB-encoded: 0.7354
  EXPECT_EQ(red(rampAt(g, 0.5)), 188u);
  g.method = GradientMethod::kPerceptual;  // Oklab L 0.5 is linear 0.125: sRGB 0.3886
  EXPECT_EQ(rampAt(g, 0.5), 0xFF636363u);
  g.method = GradientMethod::kClassic;
  g.linearDocument = true;  // linear 0.5 shown with 1/2.2: 0.7297
  EXPECT_EQ(red(rampAt(g, 0.5)), 186u);
  EXPECT_EQ(red(rampAt(g, 0)), 0u);
  EXPECT_EQ(red(rampAt(g, 1)), 255u);
}

TEST(GradientRamp, EndStopsHoldAndSharedLocationsCut) {
  Gradient g;
  g.smoothness = 0;
  // Listed out of order: the ramp sorts by location.
  g.colors = {colorStop(3072, 200), colorStop(1024, 100)};
  EXPECT_EQ(red(rampAt(g, 0)), 100u);
  EXPECT_EQ(red(rampAt(g, 0.5)), 150u);
  EXPECT_EQ(red(rampAt(g, 1)), 200u);

  g.colors = {colorStop(0, 0), colorStop(2048, 10), colorStop(2048, 240), colorStop(4096, 250)};
  EXPECT_EQ(red(rampAt(g, 0.49)), 10u);  // 9.8
  EXPECT_EQ(red(rampAt(g, 0.5)), 240u);
  EXPECT_EQ(red(rampAt(g, 0.75)), 245u);

  g.colors.clear();
  EXPECT_EQ(rampAt(g, 0.5), 0xFF000000u);
}

TEST(GradientRamp, OpacityHasItsOwnStops) {
  Gradient g = blackToWhite();
  GradientOpacityStop a, b;
  a.location = 0;
  a.opacity = 1;
  b.location = 2048;
  b.opacity = 0;
  g.opacities = {a, b};
  EXPECT_EQ(rampAt(g, 0.25), 0x80404040u);  // alpha 127.5, colour still a quarter
  EXPECT_EQ(alpha(rampAt(g, 0.75)), 0u);
  EXPECT_EQ(red(rampAt(g, 0.75)), 191u);
}

// --- gradient fill geometry ---

std::vector<uint32_t> draw(const GradientFill& f, const Box& reference, const Box& area) {
  std::vector<uint32_t> out(static_cast<size_t>(area.right - area.left) * (area.bottom - area.top));
  renderGradientFill(f, reference, area, out.data());
  return out;
}

// The grey value the fill draws at canvas pixel (x, y).
uint32_t greyAt(const GradientFill& f, const Box& reference, int x, int y) {
  return red(draw(f, reference, Box{x, y, x + 1, y + 1})[0]);
}

GradientFill fill(GradientStyle style, double angle) {
  GradientFill f;
  f.gradient = blackToWhite();
  f.style = style;
  f.angle = angle;
  return f;
}

TEST(GradientFillGeometry, LinearSpansTheBoxAlongTheAngle) {
  const Box wide{0, 0, 100, 10};
  GradientFill f = fill(GradientStyle::kLinear, 0);
  EXPECT_EQ(greyAt(f, wide, 0, 5), 0u);
  EXPECT_EQ(greyAt(f, wide, 25, 5), 64u);
  EXPECT_EQ(greyAt(f, wide, 50, 0), 128u);
  EXPECT_EQ(greyAt(f, wide, 75, 9), 191u);
  EXPECT_EQ(greyAt(f, wide, 200, 5), 255u);  // beyond the end the last colour holds
  f.reverse = true;
  EXPECT_EQ(greyAt(f, wide, 25, 5), 191u);

  // 90 degrees points up: the first colour is at the bottom.
  const Box tall{0, 0, 10, 100};
  f = fill(GradientStyle::kLinear, 90);
  EXPECT_EQ(greyAt(f, tall, 3, 75), 64u);
  EXPECT_EQ(greyAt(f, tall, 3, 25), 191u);
  f.angle = -90;
  EXPECT_EQ(greyAt(f, tall, 3, 75), 191u);

  // Off the axes the gradient ends where the line through the centre
  // leaves the box: at 150 degrees in a 64 x 64 box, 32 / cos 30 = 36.95
  // each way, the start at (64, 50.48), the end at (0, 13.52), not rounded.
  const Box square{0, 0, 64, 64};
  f.angle = 150;
  EXPECT_EQ(greyAt(f, square, 32, 32), 128u);
  EXPECT_EQ(greyAt(f, square, 64, 51), 0u);
  EXPECT_EQ(greyAt(f, square, 64, 50), 1u);
  EXPECT_EQ(greyAt(f, square, 0, 13), 255u);
}

// On a box that is not square the gradient keeps the box's aspect ratio:
// at 45 degrees on 100 x 10 it runs from the bottom-left corner to the
// top-right one, and the other two corners lie on the middle colour.
TEST(GradientFillGeometry, LinearStretchesWithTheBox) {
  const Box wide{0, 0, 100, 10};
  const GradientFill f = fill(GradientStyle::kLinear, 45);
  EXPECT_EQ(greyAt(f, wide, 0, 10), 0u);
  EXPECT_EQ(greyAt(f, wide, 100, 0), 255u);
  EXPECT_EQ(greyAt(f, wide, 0, 0), 128u);
  EXPECT_EQ(greyAt(f, wide, 100, 10), 128u);
  EXPECT_EQ(greyAt(f, wide, 50, 10), 64u);  // half-way down from the centre: a quarter of the way
}

TEST(GradientFillGeometry, ScaleOffsetAndAreaPlacement) {
  GradientFill f = fill(GradientStyle::kLinear, 0);
  f.scale = 0.5;
  const Box box{0, 0, 200, 10};
  EXPECT_EQ(greyAt(f, box, 75, 0), 64u);  // length 100 around the centre 100
  EXPECT_EQ(greyAt(f, box, 40, 0), 0u);
  f.scale = 1;
  f.offsetX = 10;  // 20 pixels to the right
  EXPECT_EQ(greyAt(f, box, 70, 0), 64u);

  // The end points land on whole pixels: centre 100 - 0.625 and half
  // length 48 put them at 147.375 and 51.375, drawn at 147 and 51.
  f = fill(GradientStyle::kLinear, 90);
  f.scale = 0.48;
  f.offsetY = -0.3125;
  const Box tall{0, 0, 10, 200};
  EXPECT_EQ(greyAt(f, tall, 0, 99), 128u);
  EXPECT_EQ(greyAt(f, tall, 0, 75), 191u);

  // A box away from the origin, drawn into an area that starts elsewhere.
  f = fill(GradientStyle::kLinear, 0);
  const Box moved{100, 50, 200, 60};
  const std::vector<uint32_t> out = draw(f, moved, Box{120, 52, 180, 54});
  ASSERT_EQ(out.size(), 120u);
  EXPECT_EQ(red(out[5]), 64u);        // x = 125
  EXPECT_EQ(red(out[60 + 55]), 191u);  // second row, x = 175
}

TEST(GradientFillGeometry, RadialReflectedDiamondAndAngle) {
  const Box square{0, 0, 100, 100};
  GradientFill f = fill(GradientStyle::kRadial, 0);
  EXPECT_EQ(greyAt(f, square, 50, 50), 0u);
  EXPECT_EQ(greyAt(f, square, 75, 50), 128u);
  EXPECT_EQ(greyAt(f, square, 50, 25), 128u);  // round: every direction alike
  EXPECT_EQ(greyAt(f, square, 0, 0), 255u);

  f = fill(GradientStyle::kReflected, 0);
  EXPECT_EQ(greyAt(f, square, 25, 10), 128u);
  EXPECT_EQ(greyAt(f, square, 75, 90), 128u);
  EXPECT_EQ(greyAt(f, square, 50, 3), 0u);

  f = fill(GradientStyle::kDiamond, 0);
  EXPECT_EQ(greyAt(f, square, 60, 65), 128u);  // |10| + |15| = half the radius
  EXPECT_EQ(greyAt(f, square, 40, 35), 128u);
  EXPECT_EQ(greyAt(f, square, 100, 50), 255u);  // a corner
  f.angle = 45;  // corners on the diagonals, the length now the square's diagonal
  EXPECT_EQ(greyAt(f, square, 50, 25), 128u);

  f = fill(GradientStyle::kAngle, 0);
  EXPECT_EQ(greyAt(f, square, 60, 50), 0u);   // along the angle
  EXPECT_EQ(greyAt(f, square, 50, 40), 64u);  // a quarter turn counter-clockwise
  EXPECT_EQ(greyAt(f, square, 40, 50), 128u);
  EXPECT_EQ(greyAt(f, square, 50, 60), 191u);
  f.angle = 90;
  EXPECT_EQ(greyAt(f, square, 50, 40), 0u);
}

// --- pattern fill ---

Pattern checker() {
  Pattern p;
  p.width = 2;
  p.height = 2;
  p.pixels = {0xFF000001u, 0xFF000002u, 0xFF000003u, 0xFF000004u};
  return p;
}

TEST(PatternFill, TilesFromThePhasePoint) {
  PatternFill f;
  f.phaseX = 1;
  f.phaseY = -4;
  std::vector<uint32_t> out(12);
  renderPatternFill(f, checker(), Box{-1, 0, 3, 3}, out.data());
  // Canvas x -1..2 against phase 1: tile columns 0, 1, 0, 1; rows from y + 4.
  EXPECT_EQ(out, (std::vector<uint32_t>{0xFF000001u, 0xFF000002u, 0xFF000001u, 0xFF000002u,  //
                                        0xFF000003u, 0xFF000004u, 0xFF000003u, 0xFF000004u,  //
                                        0xFF000001u, 0xFF000002u, 0xFF000001u, 0xFF000002u}));
  f.phaseX = 0;
  renderPatternFill(f, checker(), Box{-1, 0, 3, 1}, out.data());
  EXPECT_EQ(out[0], 0xFF000002u);
}

TEST(PatternFill, ScaledTilesBlendPremultiplied) {
  Pattern p;
  p.width = 2;
  p.height = 1;
  p.pixels = {0xFF000000u, 0xFFFFFFFFu};
  PatternFill f;
  f.scale = 2;
  std::vector<uint32_t> out(4);
  renderPatternFill(f, p, Box{0, 0, 4, 1}, out.data());
  // Pixel centres at tile x -0.25, 0.25, 0.75, 1.25 (wrapping).
  EXPECT_EQ(out, (std::vector<uint32_t>{0xFF404040u, 0xFF404040u, 0xFFBFBFBFu, 0xFFBFBFBFu}));

  p.pixels = {0xFFFF0000u, 0x00000000u};  // a transparent texel does not darken red
  f.scale = 1;
  f.phaseX = 0.5;
  renderPatternFill(f, p, Box{0, 0, 1, 1}, out.data());
  EXPECT_EQ(out[0], 0x80FF0000u);
}

TEST(PatternFill, EmptyPatternDrawsNothing) {
  std::vector<uint32_t> out(4, 0xFFFFFFFFu);
  renderPatternFill(PatternFill{}, Pattern{}, Box{0, 0, 2, 2}, out.data());
  EXPECT_EQ(out, std::vector<uint32_t>(4, 0u));
}

}  // namespace
}  // namespace korvex::psd
