// Test documents built by the test writer, read and composited whole, and
// the path blocks they are cut by.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "psd/compositor.h"
#include "psd/reader.h"
#include "support/descriptor_bytes.h"
#include "support/psd_writer.h"

namespace korvex::test {

struct Rendered {
  psd::Document document;
  std::unique_ptr<psd::Compositor> compositor;
  uint32_t at(int x, int y) const { return compositor->canvas()[y * document.width + x]; }
  int alpha(int x, int y) const { return static_cast<int>(at(x, y) >> 24); }
};

// `records` on a width x height canvas, read and composited into `out`.
inline void render(Rendered& out, int width, int height, const std::vector<PsdRecord>& records) {
  PsdOptions o;
  o.width = width;
  o.height = height;
  const std::string bytes = makePsd(o, records);
  std::string error;
  ASSERT_TRUE(psd::parseDocument(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out.document, error))
      << error;
  out.compositor = std::make_unique<psd::Compositor>(out.document);
  psd::Box touched;
  ASSERT_TRUE(out.compositor->compositeDocument(touched));
}

// A "vmsk" block holding one rectangle, given in canvas fractions.
inline std::string rectanglePath(double left, double top, double right, double bottom) {
  Bytes b;
  b.u32(3).u32(0);                    // version, flags
  b.u16(6).raw(std::string(24, '\0'));  // fill rule record
  b.u16(0).u16(4).raw(std::string(22, '\0'));  // closed subpath of 4 knots
  auto fixed = [](double v) { return static_cast<uint32_t>(static_cast<int32_t>(std::lround(v * (1 << 24)))); };
  const double corners[4][2] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
  for (const auto& c : corners) {
    b.u16(2);
    for (int i = 0; i < 3; ++i) b.u32(fixed(c[1])).u32(fixed(c[0]));
  }
  return b.s;
}

}  // namespace korvex::test
